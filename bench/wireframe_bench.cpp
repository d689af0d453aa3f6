// Redraw and load timings of trenn, printed as two tables.
//
// Redraw: the viewer window's own DrawParts, driven by arrow keys on a model of stacked height
// fields, against the QPainter reference renderer on the same picture; medians of many redraws.
// The shaded picture of the same views, with and without edges, beside it.
// Load: the whole start-up load of a large object (scratch copy, symbols, meshes, extent) in a
// child process, against `cp` of the same file into the same folder.
//
// Export: each file format from a 4M-triangle model, against `cp` (bench/export_bench.cpp).
//
// Usage: trenn_bench [--sizes N,N,...] [--reps-scale F] [--load-mib M] [--no-load] [--no-draw]
//                    [--no-export] [--no-reference] [--save PREFIX]
//        (PREFIX + triangles + ".png": the last redraw)

#include <QApplication>
#include <QImage>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "model/mesh.h"
#include "app/model_assembly.h"
#include "app/picture_geometry.h"
#include "bench_models.h"
#include "export_bench.h"
#include "reference_renderer.h"
#include "qt/frm_trenn.h"
#include "qt/part_list.h"
#include "qt/picture_box.h"
#include "app/loaded_model.h"
#include "model/rotation.h"
#include "render/view_keys.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using trenn::bench::CountTriangles;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    const std::size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2.0;
}

std::string LoadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

// The window with its key handler within reach: a key press is what redraws in the viewer.
class BenchWindow : public trenn::FrmTrenn {
public:
    void Press(int keyCode) { picShow_KeyDown(keyCode); }
};

struct DrawRow {
    std::int64_t triangles = 0;
    std::size_t parts = 0;
    double referenceMs = 0;
    int referenceRuns = 0;
    double oneThreadMs = 0;
    double twoThreadMs = 0;
    long differing1 = 0;
    long differing2 = 0;
    // Zoomed x8 about the middle: many lines leave the picture or cross it.
    double zoomedOneMs = 0;
    double zoomedTwoMs = 0;
    long zoomedDiffering1 = 0;
    long zoomedDiffering2 = 0;
    // Ticking every part at once in a window just shown, to the first picture: at once, and
    // half a second later.
    double tickAllMs = 0;
    double tickAllLaterMs = 0;
    // A picture of 1600 x 1000, as in a maximised window.
    double largeOneMs = 0;
    double largeTwoMs = 0;
    long largeDiffering1 = 0;
    long largeDiffering2 = 0;
    // The shaded picture of the same views, small and large.
    struct Shaded {
        double ms[2][2] = {};    // [edges shown][threads - 1]
        long threadsDiffer[2] = {};  // pixels differing between 1 and 2 threads, per edges shown
    } shadedSmall, shadedLarge;
    // Pressing S with every part ticked, to the first shaded picture.
    double firstShadedMs = 0;
};

// The picture size of the large rows, and the window that gives it.
constexpr int kLargeWidth = 1600;
constexpr int kLargeHeight = 1000;

long DifferenceFromReference(BenchWindow& window, const std::vector<trenn::MeshPart>& parts) {
    const QImage reference = trenn::RenderReference(parts, window.lstParts()->Ticks(), window.Yaw(),
                                                    window.Pitch(), window.picShow()->Mapping(),
                                                    window.picShow()->Image().size());
    return trenn::CountDifferingPixels(window.picShow()->Image(), reference);
}

// Redraws by alternating Left and Right, so every redraw turns the model.
double MedianRedrawMs(BenchWindow& window, int threads, int runs) {
    window.SetDrawThreads(threads);
    for (int i = 0; i < 3; ++i) window.Press(i % 2 ? trenn::kKeyRight : trenn::kKeyLeft);
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const int key = i % 2 ? trenn::kKeyRight : trenn::kKeyLeft;
        const auto start = Clock::now();
        window.Press(key);
        times.push_back(MsSince(start));
    }
    return Median(times);
}

// The shaded picture of the window's view, without and with edges, on 1 and 2 threads; the
// window is left showing the wireframe as before.
DrawRow::Shaded MeasureShaded(BenchWindow& window, int runs) {
    DrawRow::Shaded shaded;
    window.Press('S');
    for (const int edges : {0, 1}) {
        if (edges) window.Press('E');
        shaded.ms[edges][0] = MedianRedrawMs(window, 1, runs);
        shaded.ms[edges][1] = MedianRedrawMs(window, 2, runs);
        // The same view again on one thread: a key that does not turn still redraws.
        const QImage twoThreads = window.picShow()->Image().copy();
        window.SetDrawThreads(1);
        window.Press('Q');
        shaded.threadsDiffer[edges] = trenn::CountDifferingPixels(window.picShow()->Image(), twoThreads);
    }
    window.Press('E');
    window.Press('S');
    return shaded;
}

std::string g_savePrefix;  // --save: where the redrawn pictures go
bool g_reference = true;    // --no-reference: redraw timings only

// A window on the model, nothing ticked yet, looking down on the layers at an angle: 30 degrees
// of pitch, 15 of yaw.
void SetUpWindow(BenchWindow& window, const std::vector<trenn::MeshPart>& parts) {
    trenn::g_parts = parts;
    trenn::LoadedModel model;
    model.parts = parts;
    for (std::size_t k = 0; k < parts.size(); ++k) window.AddPartItem("layer " + std::to_string(k + 1));
    trenn::SetViewScale(trenn::ComputeViewExtent(), window);
    window.ShowModel(model);
    trenn::g_parts.clear();
    for (int i = 0; i < 6; ++i) window.Press(trenn::kKeyUp);
    for (int i = 0; i < 3; ++i) window.Press(trenn::kKeyLeft);
}

DrawRow MeasureDraw(std::int64_t triangles, double repsScale) {
    DrawRow row;
    const std::vector<trenn::MeshPart> parts = trenn::bench::ToMeshParts(trenn::bench::LayeredTerrain(triangles, 7));
    row.triangles = CountTriangles(parts);
    row.parts = parts.size();

    // As loading leaves it: shown, with the redraw working out every part's needs in the
    // background. Ticked at once, and as a user would, half a second later.
    // Then S, for the first shaded picture.
    std::vector<double> ticks, laterTicks, firstShaded;
    for (int i = 0; i < 5; ++i) {
        for (const bool later : {false, true}) {
            BenchWindow fresh;
            SetUpWindow(fresh, parts);
            fresh.ShowWindow();
            if (later) std::this_thread::sleep_for(std::chrono::milliseconds(500));
            auto start = Clock::now();
            fresh.lstParts()->SetAllSelected(true);
            (later ? laterTicks : ticks).push_back(MsSince(start));
            if (later) {
                start = Clock::now();
                fresh.Press('S');
                firstShaded.push_back(MsSince(start));
            }
        }
    }
    row.tickAllMs = Median(ticks);
    row.tickAllLaterMs = Median(laterTicks);
    row.firstShadedMs = Median(firstShaded);

    BenchWindow window;
    SetUpWindow(window, parts);
    window.lstParts()->SetAllSelected(true);

    const double perMillion = 1e6 / static_cast<double>(std::max<std::int64_t>(row.triangles, 1));
    const int drawRuns = std::max(5, static_cast<int>(60 * repsScale * std::min(perMillion, 10.0)));
    row.oneThreadMs = MedianRedrawMs(window, 1, drawRuns);
    row.differing1 = g_reference ? DifferenceFromReference(window, parts) : -1;
    row.twoThreadMs = MedianRedrawMs(window, 2, drawRuns);
    row.differing2 = g_reference ? DifferenceFromReference(window, parts) : -1;
    if (!g_savePrefix.empty()) {
        window.picShow()->Image().save(QString::fromStdString(g_savePrefix + std::to_string(triangles) + ".png"));
    }
    row.shadedSmall = MeasureShaded(window, drawRuns);

    const trenn::ViewMapping startView = window.picShow()->Mapping();
    const double halfWidth = startView.UserX(trenn::picture::kInnerWidth) / 8.0;
    const double halfHeight = startView.UserY(0.0) / 8.0;
    window.picShow()->SetMapping(trenn::ViewMapping::FromScale(-halfWidth, halfHeight, halfWidth, -halfHeight,
                                                               trenn::picture::kInnerWidth,
                                                               trenn::picture::kInnerHeight));
    row.zoomedOneMs = MedianRedrawMs(window, 1, drawRuns);
    row.zoomedDiffering1 = g_reference ? DifferenceFromReference(window, parts) : -1;
    row.zoomedTwoMs = MedianRedrawMs(window, 2, drawRuns);
    row.zoomedDiffering2 = g_reference ? DifferenceFromReference(window, parts) : -1;
    if (!g_savePrefix.empty()) {
        window.picShow()->Image().save(
            QString::fromStdString(g_savePrefix + std::to_string(triangles) + "-x8.png"));
    }
    const float e = static_cast<float>(halfWidth * 8.0), f = static_cast<float>(halfHeight * 8.0);
    window.picShow()->Scale(-e, f, e, -f);

    std::vector<bool> checked(parts.size(), true);
    row.referenceRuns = g_reference ? std::max(1, static_cast<int>(5 * repsScale * std::min(perMillion, 1.0))) : 0;
    std::vector<double> times;
    for (int i = 0; i < row.referenceRuns; ++i) {
        const auto start = Clock::now();
        const QImage image = trenn::RenderReference(parts, checked, window.Yaw(), window.Pitch(),
                                                    window.picShow()->Mapping());
        times.push_back(MsSince(start));
    }
    row.referenceMs = Median(times);

    // The same view in a window grown until its picture is 1600 x 1000 pixels.
    window.show();
    window.resize(kLargeWidth + 141, kLargeHeight + 12);
    QApplication::processEvents();
    if (window.picShow()->Image().size() != QSize(kLargeWidth, kLargeHeight)) {
        std::fprintf(stderr, "the grown picture is %d x %d\n", window.picShow()->Image().width(),
                     window.picShow()->Image().height());
        std::exit(1);
    }
    row.largeOneMs = MedianRedrawMs(window, 1, drawRuns);
    row.largeDiffering1 = g_reference ? DifferenceFromReference(window, parts) : -1;
    row.largeTwoMs = MedianRedrawMs(window, 2, drawRuns);
    row.largeDiffering2 = g_reference ? DifferenceFromReference(window, parts) : -1;
    row.shadedLarge = MeasureShaded(window, drawRuns);
    if (!g_savePrefix.empty()) {
        window.picShow()->Image().save(
            QString::fromStdString(g_savePrefix + std::to_string(triangles) + "-large.png"));
    }
    return row;
}

// ---- Loading -------------------------------------------------------------------------------

struct ChildResult {
    double wallMs = 0;
    int status = -1;
    std::string output;
};

ChildResult RunChild(const std::vector<std::string>& args) {
    ChildResult result;
    char outputName[] = "/tmp/trenn-bench-out-XXXXXX";
    const int outputFd = mkstemp(outputName);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outputFd, STDOUT_FILENO);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const auto start = Clock::now();
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        std::fprintf(stderr, "cannot start %s\n", argv[0]);
        std::exit(1);
    }
    rusage usage{};
    int status = 0;
    wait4(pid, &status, 0, &usage);
    result.wallMs = MsSince(start);
    result.status = status;
    posix_spawn_file_actions_destroy(&actions);
    std::ifstream in(outputName);
    std::stringstream text;
    text << in.rdbuf();
    result.output = text.str();
    close(outputFd);
    unlink(outputName);
    return result;
}

void SyncAndRemove(const std::string& path) {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
    sync();
}

struct LoadRow {
    double fileMiB = 0;
    double dataMiB = 0;
    std::size_t parts = 0;
    double cpMs = 0;
    double loadMs = 0;
    double peakMiB = 0;
};

std::string TempFolder() {
    for (const char* name : {"TEMP", "TMPDIR"}) {
        const char* value = std::getenv(name);
        if (value && *value) return value;
    }
    return "/tmp";
}

LoadRow MeasureLoad(double mib, int runs) {
    LoadRow row;
    const std::string folder = TempFolder() + "/trenn-bench-" + std::to_string(getpid());
    std::filesystem::create_directories(folder);
    const std::string object = folder + "/model.o";
    {
        // One full part holds 32768 vertex records and its strip (65788 entries).
        const double partMiB = (32768.0 * 40 + 65788.0 * 2 + 56) / (1024.0 * 1024.0);
        const int parts = std::max(1, static_cast<int>(mib / partMiB + 0.5));
        auto meshes = trenn::bench::LayeredTerrain(
            static_cast<std::int64_t>(parts) * trenn::bench::kTrianglesPerFullPart, 11);
        elfgen::WriteFile(object, elfgen::BuildModelObject(meshes));
    }
    row.fileMiB = static_cast<double>(std::filesystem::file_size(object)) / (1024.0 * 1024.0);
    const std::string copy = folder + "/copy.o";
    const std::string scratch = folder + "/Trenn_1.tmp";
    std::vector<double> cpTimes, loadTimes;
    long peakKiB = 0;
    for (int i = 0; i < runs; ++i) {
        SyncAndRemove(copy);
        const ChildResult cp = RunChild({"cp", object, copy});
        if (cp.status != 0) {
            std::fprintf(stderr, "cp failed\n");
            std::exit(1);
        }
        cpTimes.push_back(cp.wallMs);
        SyncAndRemove(copy);

        SyncAndRemove(scratch);
        const ChildResult load = RunChild({TRENN_LOAD_PROBE, object, scratch});
        if (load.status != 0) {
            std::fprintf(stderr, "load failed: %s\n", load.output.c_str());
            std::exit(1);
        }
        std::istringstream fields(load.output);
        std::string key;
        double loadMs = 0;
        std::size_t dataBytes = 0;
        long probePeakKiB = 0;
        while (fields >> key) {
            if (key == "load_ms") fields >> loadMs;
            else if (key == "parts") fields >> row.parts;
            else if (key == "data_bytes") fields >> dataBytes;
            else if (key == "peak_kib") fields >> probePeakKiB;
            else fields >> key;
        }
        loadTimes.push_back(loadMs);
        // The probe's own high-water mark: the child's rusage would also count the pages it
        // shared with this process before it started the probe.
        peakKiB = std::max(peakKiB, probePeakKiB);
        row.dataMiB = static_cast<double>(dataBytes) / (1024.0 * 1024.0);
        SyncAndRemove(scratch);
    }
    std::filesystem::remove_all(folder);
    row.cpMs = Median(cpTimes);
    row.loadMs = Median(loadTimes);
    row.peakMiB = static_cast<double>(peakKiB) / 1024.0;
    return row;
}

std::vector<std::int64_t> ParseSizes(const char* text) {
    std::vector<std::int64_t> sizes;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) sizes.push_back(std::atoll(item.c_str()));
    return sizes;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--export-probe") == 0) return trenn::bench::ExportProbe(argc - 2, argv + 2);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    std::vector<std::int64_t> sizes = {100'000, 1'000'000, 4'000'000};
    double repsScale = 1.0;
    double loadMiB = 256.0;
    bool load = true;
    bool draw = true;
    bool exportFormats = true;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--sizes" && i + 1 < argc) sizes = ParseSizes(argv[++i]);
        else if (arg == "--reps-scale" && i + 1 < argc) repsScale = std::atof(argv[++i]);
        else if (arg == "--load-mib" && i + 1 < argc) loadMiB = std::atof(argv[++i]);
        else if (arg == "--save" && i + 1 < argc) g_savePrefix = argv[++i];
        else if (arg == "--no-reference") g_reference = false;
        else if (arg == "--no-load") load = false;
        else if (arg == "--no-draw") draw = false;
        else if (arg == "--no-export") exportFormats = false;
        else {
            std::fprintf(stderr, "usage: %s [--sizes N,N,...] [--reps-scale F] [--load-mib M] [--no-load] [--no-draw] [--no-export] [--no-reference] [--save PREFIX]\n", argv[0]);
            return 2;
        }
    }

    std::printf("load average %s, %u cores\n", LoadAverage().c_str(), std::thread::hardware_concurrency());
    if (draw) {
        std::printf("\nRedraw (395 x 346, all parts checked, medians; reference on fewer runs)\n");
        std::printf("%10s | %5s | %12s | %14s | %14s | %8s | %17s\n", "triangles", "parts", "reference ms",
                    "DrawParts 1t ms", "DrawParts 2t ms", "speed-up", "differing pixels");
        std::vector<DrawRow> rows;
        for (const std::int64_t size : sizes) {
            const DrawRow row = MeasureDraw(size, repsScale);
            std::printf("%10lld | %5zu | %12.1f | %15.3f | %15.3f | %7.0fx | %8ld / %-6ld\n",
                        static_cast<long long>(row.triangles), row.parts, row.referenceMs,
                        row.oneThreadMs, row.twoThreadMs, row.referenceMs / row.oneThreadMs,
                        row.differing1, row.differing2);
            std::fflush(stdout);
            rows.push_back(row);
        }
        std::printf("(speed-up: reference / DrawParts on 1 thread; differing pixels: 1 thread / 2 threads)\n");

        std::printf("\nZoomed x8 about the middle (medians; against the reference with the same mapping)\n");
        std::printf("%10s | %15s | %15s | %9s | %17s\n", "triangles", "DrawParts 1t ms", "DrawParts 2t ms",
                    "x unzoomed", "differing pixels");
        for (const DrawRow& row : rows) {
            std::printf("%10lld | %15.3f | %15.3f | %8.2fx | %8ld / %-6ld\n",
                        static_cast<long long>(row.triangles), row.zoomedOneMs, row.zoomedTwoMs,
                        row.zoomedTwoMs / row.twoThreadMs, row.zoomedDiffering1, row.zoomedDiffering2);
        }
        std::printf("(x unzoomed: zoomed / unzoomed on 2 threads)\n");

        std::printf("\nLarge picture, %d x %d, as in a maximised window (medians; against the reference)\n",
                    kLargeWidth, kLargeHeight);
        std::printf("%10s | %15s | %15s | %9s | %17s\n", "triangles", "DrawParts 1t ms", "DrawParts 2t ms",
                    "x small", "differing pixels");
        for (const DrawRow& row : rows) {
            std::printf("%10lld | %15.3f | %15.3f | %8.2fx | %8ld / %-6ld\n",
                        static_cast<long long>(row.triangles), row.largeOneMs, row.largeTwoMs,
                        row.largeTwoMs / row.twoThreadMs, row.largeDiffering1, row.largeDiffering2);
        }
        std::printf("(x small: large / 395 x 346 on 2 threads)\n");

        std::printf("\nShaded, the same views (medians)\n");
        std::printf("%10s | %9s | %9s | %9s | %11s | %9s | %9s | %8s | %7s | %15s\n", "triangles", "picture",
                    "shaded 1t", "shaded 2t", "x wireframe", "edges 1t", "edges 2t", "x shaded", "x small",
                    "1t/2t differing");
        for (const DrawRow& row : rows) {
            for (const bool large : {false, true}) {
                const DrawRow::Shaded& shaded = large ? row.shadedLarge : row.shadedSmall;
                const double wireframe = large ? row.largeTwoMs : row.twoThreadMs;
                char small[16] = "";
                if (large) std::snprintf(small, sizeof small, "%6.2fx", shaded.ms[0][1] / row.shadedSmall.ms[0][1]);
                std::printf("%10lld | %9s | %9.3f | %9.3f | %10.2fx | %9.3f | %9.3f | %7.2fx | %7s | %6ld / %-6ld\n",
                            static_cast<long long>(row.triangles), large ? "large" : "395x346", shaded.ms[0][0],
                            shaded.ms[0][1], shaded.ms[0][1] / wireframe, shaded.ms[1][0], shaded.ms[1][1],
                            shaded.ms[1][1] / shaded.ms[0][1], small, shaded.threadsDiffer[0],
                            shaded.threadsDiffer[1]);
            }
        }
        std::printf("(x wireframe: shaded / wireframe, x shaded: with edges / without, x small: large / 395 x 346,\n"
                    " all on 2 threads; 1t/2t differing: pixels, without / with edges)\n");

        std::printf("\nTick all parts in a window just shown, to the first picture (median of 5, 2 threads)\n");
        std::printf("%10s | %5s | %16s | %17s | %12s\n", "triangles", "parts", "at once ms", "after 0.5 s ms",
                    "then S ms");
        for (const DrawRow& row : rows) {
            std::printf("%10lld | %5zu | %16.1f | %17.1f | %12.1f\n", static_cast<long long>(row.triangles),
                        row.parts, row.tickAllMs, row.tickAllLaterMs, row.firstShadedMs);
        }
        std::printf("(at once: the parts' needs still being worked out in the background; after 0.5 s:\n"
                    " as a user ticks, the window having been on the screen for a moment; then S: to the\n"
                    " first shaded picture)\n");
    }
    if (load) {
        const LoadRow row = MeasureLoad(loadMiB, 5);
        std::printf("\nLoad (%zu parts, vertex and index data %.1f MiB; medians of 5)\n", row.parts, row.dataMiB);
        std::printf("%8s | %8s | %8s | %8s | %13s\n", "MiB", "cp ms", "load ms", "% of cp", "peak RSS MiB");
        std::printf("%8.1f | %8.1f | %8.1f | %7.0f%% | %13.1f\n", row.fileMiB, row.cpMs, row.loadMs,
                    100.0 * row.cpMs / row.loadMs, row.peakMiB);
    }
    if (exportFormats) {
        trenn::bench::PrintExportTable("/proc/self/exe", TempFolder() + "/trenn-export-bench-" + std::to_string(getpid()),
                                       4'000'000, 5);
    }
    std::printf("\nload average at the end %s\n", LoadAverage().c_str());
    return 0;
}
