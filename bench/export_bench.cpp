// Export timings: each file format written from the benchmark's layered terrain model, against
// `cp` of a file of the same size into the same folder. The export runs in a child process (this
// program again, with --export-probe first), which loads the model the way start-up does and
// then exports every part, so that its peak memory is the export's own.

#include "export_bench.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/headless_window.h"
#include "app/model_assembly.h"
#include "bench_models.h"
#include "proc_status.h"
#include "elf/elf_data.h"
#include "export/export.h"
#include "runtime/load_failure.h"
#include "runtime/text.h"

extern char** environ;

namespace trenn::bench {

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2.0;
}

struct Child {
    double wallMs = 0;
    bool ok = false;
    std::string output;
};

// Runs `args`, its standard output into a file that is read back afterwards.
Child Run(const std::vector<std::string>& args, const std::string& outputFile) {
    Child child;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const auto start = Clock::now();
    pid_t pid = 0;
    int status = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        waitpid(pid, &status, 0);
    }
    child.wallMs = MsSince(start);
    posix_spawn_file_actions_destroy(&actions);
    child.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    std::ifstream in(outputFile);
    std::getline(in, child.output);
    return child;
}

// The file gone and everything written so far on disk, so that no run pays for the one before.
void RemoveAndSync(const std::string& path) {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
    sync();
}

double Field(const std::string& line, const std::string& key) {
    const std::size_t at = line.find(key + " ");
    return at == std::string::npos ? -1.0 : std::atof(line.c_str() + at + key.size() + 1);
}

}  // namespace

int ExportProbe(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: --export-probe OBJECT SCRATCH OUT\n");
        return 2;
    }
    HeadlessWindow window;
    if (LoadElfObject(argv[0], argv[1]) != kTrue) {
        std::fprintf(stderr, "load failed: %s\n", g_loadFailureDetail.c_str());
        return 1;
    }
    try {
        if (AssembleModel([&]() -> ViewerWindow& { return window; }, argv[1]) != AssemblyOutcome::WindowShown) {
            std::fprintf(stderr, "not understood\n");
            return 1;
        }
    } catch (const LoadFailure& failure) {
        std::fprintf(stderr, "assembly failed: %s\n", failure.what());
        return 1;
    }
    std::vector<ExportPart> parts;
    for (std::size_t k = 0; k < g_parts.size(); ++k) parts.push_back({BytesToUtf8(window.items.at(k).text), k, &g_parts[k]});
    const auto format = ExportFormatFromPath(argv[2]);
    const long loadedKiB = StatusKiB("VmRSS");
    const auto start = Clock::now();
    const ExportSummary summary = ExportParts(parts, format.value_or(ExportFormat::Obj), argv[2]);
    const double ms = MsSince(start);
    if (!summary.written) {
        std::fprintf(stderr, "%s\n", summary.detail.c_str());
        return 1;
    }
    std::printf("export_ms %.3f triangles %llu loaded_kib %ld peak_kib %ld\n", ms,
                static_cast<unsigned long long>(summary.triangles), loadedKiB, StatusKiB("VmHWM"));
    return 0;
}

void PrintExportTable(const std::string& self, const std::string& folder, std::int64_t triangles, int runs) {
    std::filesystem::create_directories(folder);
    const std::string object = folder + "/model.o";
    elfgen::WriteFile(object, elfgen::BuildModelObject(LayeredTerrain(triangles, 11)));
    const std::string scratch = folder + "/Trenn_export.tmp";
    const std::string report = folder + "/probe.txt";
    std::printf("\nExport of every part (%lld triangles, medians of %d; export ms includes the fsync)\n",
                static_cast<long long>(triangles), runs);
    std::printf("%6s | %8s | %8s | %9s | %7s | %13s | %13s\n", "format", "MiB", "cp ms", "export ms",
                "ratio", "loaded RSS MiB", "peak RSS MiB");
    for (const char* format : {"obj", "ply", "stl", "glb"}) {
        const std::string out = folder + "/out." + format;
        const std::string copy = folder + "/copy." + format;
        std::vector<double> cpTimes, exportTimes;
        double loadedKiB = 0, peakKiB = 0, mib = 0;
        for (int i = 0; i < runs; ++i) {
            RemoveAndSync(out);
            RemoveAndSync(scratch);
            const Child probe = Run({self, "--export-probe", object, scratch, out}, report);
            if (!probe.ok) {
                std::fprintf(stderr, "export to %s failed\n", out.c_str());
                std::exit(1);
            }
            exportTimes.push_back(Field(probe.output, "export_ms"));
            loadedKiB = std::max(loadedKiB, Field(probe.output, "loaded_kib"));
            peakKiB = std::max(peakKiB, Field(probe.output, "peak_kib"));
            mib = static_cast<double>(std::filesystem::file_size(out)) / (1024.0 * 1024.0);
            sync();
            const Child cp = Run({"cp", out, copy}, report);
            if (!cp.ok) {
                std::fprintf(stderr, "cp failed\n");
                std::exit(1);
            }
            cpTimes.push_back(cp.wallMs);
            RemoveAndSync(copy);
        }
        RemoveAndSync(out);
        const double cpMs = Median(cpTimes), exportMs = Median(exportTimes);
        std::printf("%6s | %8.1f | %8.1f | %9.1f | %6.2fx | %13.1f | %13.1f\n", format, mib, cpMs, exportMs,
                    exportMs / cpMs, loadedKiB / 1024.0, peakKiB / 1024.0);
        std::fflush(stdout);
    }
    std::printf("(ratio: export / cp; loaded RSS: the probe after loading the model, before the export)\n");
    std::filesystem::remove_all(folder);
}

}  // namespace trenn::bench
