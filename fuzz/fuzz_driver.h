#pragma once

// The whole loading sequence and the drawing, run headless on one object file, with checks
// that hold for every input whatever its bytes. Shared by the fuzz targets and by the test
// that replays their findings, so both judge an input the same way.

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "app/headless_window.h"
#include "app/main_module.h"
#include "model/mesh.h"
#include "app/model_assembly.h"
#include "elf/elf_data.h"
#include "render/raster.h"
#include "model/rotation.h"
#include "render/view_keys.h"
#include "render/view_mapping.h"
#include "render/colours.h"
#include "render/shaded.h"
#include "render/wireframe.h"

namespace trenn::fuzz {

inline constexpr int kPictureWidth = picture::kInnerWidth;
inline constexpr int kPictureHeight = picture::kInnerHeight;
inline constexpr std::uint32_t kBackground = kBackgroundColour;

using trenn::HeadlessWindow;

// TEMP names the folder the scratch file goes to; the clock is fixed, so every run of one
// process draws the same scratch names.
class HeadlessPlatform : public StartupPlatform {
public:
    explicit HeadlessPlatform(const std::string& temp) { environment["TEMP"] = temp; }
    std::map<std::string, std::string> environment;  // a name not listed is not set
    HeadlessWindow window;
    int windowsLoaded = 0;
    std::vector<std::pair<std::string, std::string>> messages;
    std::vector<std::string> details;  // one per message

    std::optional<std::string> Environment(const char* name) const override {
        const auto found = environment.find(name);
        if (found == environment.end()) return std::nullopt;
        return found->second;
    }
    double SecondsSinceMidnight() const override { return 45296.0; }
    // Unset: the real process. Two runs given the same one draw the same scratch names.
    std::optional<std::uint64_t> processId;
    std::uint64_t ProcessId() const override { return processId ? *processId : StartupPlatform::ProcessId(); }
    char DecimalSeparator() const override { return '.'; }
    ViewerWindow& LoadViewerWindow() override {
        ++windowsLoaded;
        return window;
    }
    void ShowMessage(const std::string& text, const std::string& title,
                     const std::string& detail) override {
        messages.emplace_back(text, title);
        details.push_back(detail);
    }
};

// One program start. The loader keeps the scratch file of the model shown until the run goes,
// as the program keeps it while its window is open.
struct LoadRun {
    LoadRun(std::string object, std::string temp)
        : objectPath(std::move(object)), tempDir(std::move(temp)), platform(tempDir) {}
    LoadRun(const LoadRun&) = delete;
    LoadRun& operator=(const LoadRun&) = delete;
    std::string objectPath;
    std::string tempDir;  // where the scratch file is expected (TEMP unless changed)
    StartupOutcome outcome = StartupOutcome::Cancelled;
    HeadlessPlatform platform;
    std::unique_ptr<ObjectLoader> loader;
};

// One program start: fresh module state, `objectPath` loaded as if chosen, scratch in `tempDir`.
inline void RunMain(LoadRun& run) {
    g_errorText.clear();
    g_symbols.reset();
    g_loadFailureDetail.clear();
    g_parts.clear();
    run.loader.reset();
    run.loader = std::make_unique<ObjectLoader>(run.platform);
    run.outcome = run.loader->Start(run.objectPath);
}

inline const char* OutcomeName(StartupOutcome outcome) {
    switch (outcome) {
    case StartupOutcome::Cancelled: return "cancelled";
    case StartupOutcome::LoadFailed: return "load failure";
    case StartupOutcome::NotUnderstood: return "not understood";
    case StartupOutcome::Corrupt: return "corrupt";
    case StartupOutcome::WindowShown: return "window shown";
    }
    return "?";
}

// How a start ended, as the user sees it: the reason on the last line of the one message box,
// or the window.
enum class Exit { kMagic, kLoad, kCorrupt, kNotUnderstood, kOk, kOther };

inline Exit ExitOf(const LoadRun& run) {
    const auto& messages = run.platform.messages;
    if (messages.empty()) return run.platform.window.shown ? Exit::kOk : Exit::kOther;
    if (messages.size() > 1 || run.platform.window.shown) return Exit::kOther;
    const std::string& text = messages[0].first;
    const std::string head = FailureMessage(run.objectPath, "");
    if (text.compare(0, head.size(), head) != 0) return Exit::kOther;
    const std::string reason = text.substr(head.size());
    if (reason == kMagicFailureText) return Exit::kMagic;
    if (reason.empty()) return Exit::kLoad;
    if (reason == kCorruptReason) return Exit::kCorrupt;
    if (reason == kNotUnderstoodReason) return Exit::kNotUnderstood;
    return Exit::kOther;
}

// Short names; also the prefix of seed file names, which the replay test reads back.
inline const char* ExitTag(Exit exit) {
    switch (exit) {
    case Exit::kMagic: return "magic";
    case Exit::kLoad: return "load";
    case Exit::kCorrupt: return "corrupt";
    case Exit::kNotUnderstood: return "nu";
    case Exit::kOk: return "ok";
    case Exit::kOther: return "other";
    }
    return "?";
}

inline std::optional<Exit> ExitFromTag(const std::string& tag) {
    for (const Exit exit : {Exit::kMagic, Exit::kLoad, Exit::kCorrupt, Exit::kNotUnderstood, Exit::kOk}) {
        if (tag == ExitTag(exit)) return exit;
    }
    return std::nullopt;
}

// What the input's first four bytes decide on their own: missing bytes read as zeros.
inline bool HasElfMagic(std::span<const std::uint8_t> bytes) {
    static constexpr std::uint8_t kMagic[4] = {0x7F, 'E', 'L', 'F'};
    for (std::size_t i = 0; i < 4; ++i) {
        if ((i < bytes.size() ? bytes[i] : 0) != kMagic[i]) return false;
    }
    return true;
}

// Everything Main must have left behind, for any input. Empty when all holds.
inline std::vector<std::string> CheckLoad(const LoadRun& run, std::span<const std::uint8_t> bytes) {
    std::vector<std::string> problems;
    const auto expect = [&](bool holds, const std::string& what) {
        if (!holds) problems.push_back(what);
    };
    const HeadlessPlatform& p = run.platform;
    const HeadlessWindow& w = p.window;
    const StartupOutcome outcome = run.outcome;
    const std::string name = OutcomeName(outcome);

    expect(outcome != StartupOutcome::Cancelled, "Main returned as if cancelled");
    expect(HasElfMagic(bytes) || (outcome == StartupOutcome::LoadFailed && g_errorText == kMagicFailureText),
           "no ELF magic, but the outcome is " + name);
    expect(!HasElfMagic(bytes) || g_errorText.empty(), "the magic failure text after a good magic");
    expect(p.windowsLoaded <= 1, "the window was loaded more than once");
    expect(w.shown == (outcome == StartupOutcome::WindowShown), "window shown, yet the outcome is " + name);

    if (outcome == StartupOutcome::WindowShown) {
        expect(p.messages.empty(), "a message box although the window opened");
        expect(w.scaled == 1, "the picture was scaled " + std::to_string(w.scaled) + " times");
        expect(!g_parts.empty(), "no g_parts entry");
        expect(w.items.size() == g_parts.size() || (w.items.empty() && g_parts.size() == 1),
               "list and parts disagree: " + std::to_string(w.items.size()) + " entries, " +
                   std::to_string(g_parts.size()) + " parts");
        float extent = 0.0f;
        std::set<std::tuple<const unsigned char*, std::size_t, std::size_t>> looked;
        for (std::size_t k = 0; k < g_parts.size(); ++k) {
            const MeshPart& part = g_parts[k];
            const std::string which = "part " + std::to_string(k);
            expect(!part.vertices.empty() && part.vertices.size() <= 32768, which + ": vertex count");
            expect(!part.indices.empty(), which + ": index count below 1");
            expect(part.indices.StoredCount() <= part.indices.size(),
                   which + ": more indices stored than counted");
            if (k < w.items.size()) {
                expect(w.items[k].data == part.symbol, which + ": list item data is not its symbol");
                const bool named = g_symbols && part.symbol >= 0 &&
                                   static_cast<std::size_t>(part.symbol) < g_symbols->size() &&
                                   (*g_symbols)[static_cast<std::size_t>(part.symbol)].name.rfind(kPartPrefix, 0) == 0;
                expect(named, which + ": its symbol is not a part symbol");
            }
            // Parts that name the same records need looking at once.
            const auto records = std::make_tuple(part.vertices.StoredData(), part.vertices.StoredBytes(),
                                                 part.vertices.size());
            if (!looked.insert(records).second) continue;
            bool finite = true;
            for (const MeshVertex v : part.vertices) {
                for (const float c : {v.x, v.y, v.z}) {
                    finite = finite && std::isfinite(c);
                    if (std::fabs(c) > extent) extent = std::fabs(c);
                }
            }
            expect(finite, which + ": a coordinate that is not finite was accepted");
        }
        expect(w.scale[2] == extent && w.scale[0] == -extent,
               "the x range is not the largest coordinate " + std::to_string(extent));
        expect(w.scale[1] == -w.scale[3] && w.scale[1] >= 0 && w.scale[1] <= extent,
               "the y range is not symmetric and below the x range");
    } else if (outcome != StartupOutcome::Cancelled) {
        expect(p.messages.size() == 1, std::to_string(p.messages.size()) + " message boxes");
        if (!p.messages.empty()) {
            std::string reason = g_errorText;
            if (outcome == StartupOutcome::NotUnderstood) reason = kNotUnderstoodReason;
            if (outcome == StartupOutcome::Corrupt) reason = kCorruptReason;
            expect(p.messages[0].first == FailureMessage(run.objectPath, reason),
                   "message text: " + p.messages[0].first);
            expect(p.messages[0].second == kErrorTitle, "message title: " + p.messages[0].second);
        }
    }

    // The temporary folder holds the scratch file at most: a plain file only its owner can use.
    if (DIR* dir = ::opendir(run.tempDir.c_str())) {
        int entries = 0;
        while (const dirent* entry = ::readdir(dir)) {
            const std::string file = entry->d_name;
            if (file == "." || file == "..") continue;
            ++entries;
            struct stat info {};
            const std::string path = run.tempDir + "/" + file;
            expect(file.rfind("Trenn_", 0) == 0 && file.size() > 10 &&
                       file.compare(file.size() - 4, 4, ".tmp") == 0,
                   "unexpected entry in TEMP: " + file);
            expect(::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
                       (info.st_mode & 0777) == 0600,
                   "the scratch file is not a plain 0600 file: " + file);
        }
        ::closedir(dir);
        expect(entries <= 1, std::to_string(entries) + " entries in TEMP");
    } else {
        problems.push_back("cannot list TEMP " + run.tempDir);
    }
    return problems;
}

struct DrawResult {
    std::vector<std::string> problems;
    std::size_t dotPixels = 0;
    std::size_t edgePixels = 0;
    std::size_t surfacePixels = 0;
};

enum class PictureKind { kWireframe, kShaded, kShadedWithEdges };

// Whether `pixel` is a part's colour under the light: each channel the palette colour's times one
// intensity between the ambient floor and 1, rounded to nearest.
inline bool IsShadedColour(std::uint32_t pixel) {
    if ((pixel >> 24) != 0xFFu) return false;
    for (std::size_t k = 0; k < 10; ++k) {
        const std::uint32_t colour = ShadedPartColour(k);
        double low = kShadedAmbient - 1e-9, high = 1.0 + 1e-9;
        for (const int shift : {16, 8, 0}) {
            const double full = (colour >> shift) & 0xFFu, shown = (pixel >> shift) & 0xFFu;
            if (full == 0.0) {
                if (shown != 0.0) high = -1.0;
                continue;
            }
            low = std::max(low, (shown - 0.5) / full);
            high = std::min(high, (shown + 0.5) / full);
        }
        if (low <= high) return true;
    }
    return false;
}

// Draws the loaded model with every list entry checked into a picture of the window's size
// (an exact-size buffer, so that any stray write is caught) and checks the pixels. `zoom` narrows
// the start view about its middle.
inline DrawResult DrawChecked(const LoadedModel& model, float yaw, float pitch,
                              PictureKind kind = PictureKind::kWireframe, double zoom = 1.0) {
    DrawResult result;
    Scene scene;
    scene.parts = &model.parts;
    scene.checked.assign(model.listTexts.size(), true);
    scene.yaw = yaw;
    scene.pitch = pitch;
    scene.width = kPictureWidth;
    scene.height = kPictureHeight;
    const std::array<float, 4>& s = model.startScale;
    const double middleX = (static_cast<double>(s[0]) + s[2]) / 2, middleY = (static_cast<double>(s[1]) + s[3]) / 2;
    const double halfX = (static_cast<double>(s[2]) - s[0]) / 2 / zoom;
    const double halfY = (static_cast<double>(s[1]) - s[3]) / 2 / zoom;
    scene.mapping = zoom == 1.0 ? ViewMapping::FromScale(s[0], s[1], s[2], s[3], kPictureWidth, kPictureHeight)
                                : ViewMapping::FromScale(middleX - halfX, middleY + halfY, middleX + halfX,
                                                         middleY - halfY, kPictureWidth, kPictureHeight);
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(kPictureWidth) * kPictureHeight,
                                      kBackground);
    const RasterTarget target{pixels.data(), kPictureWidth, kPictureHeight, kPictureWidth};
    const bool shaded = kind != PictureKind::kWireframe;
    if (shaded) {
        DrawShaded(scene, target, kind == PictureKind::kShadedWithEdges);
    } else {
        DrawWireframe(scene, target);
    }
    std::set<std::uint32_t> shadedColours;  // those already found to be one
    for (const std::uint32_t pixel : pixels) {
        if (pixel == kBackground) continue;
        if (!shaded && pixel == kDotColour) {
            ++result.dotPixels;
        } else if (pixel == kEdgeColour && kind != PictureKind::kShaded) {
            ++result.edgePixels;
        } else if (shaded && (shadedColours.count(pixel) || IsShadedColour(pixel))) {
            shadedColours.insert(pixel);
            ++result.surfacePixels;
        } else {
            char text[64];
            std::snprintf(text, sizeof text, "a pixel of colour 0x%08x", static_cast<unsigned>(pixel));
            result.problems.emplace_back(text);
            break;
        }
    }
    if (model.listTexts.empty() && (result.dotPixels != 0 || result.edgePixels != 0 || result.surfacePixels != 0)) {
        result.problems.emplace_back("pixels drawn with no list entry to check");
    }
    return result;
}

// A start run in a child process of its own: a crash or a hang cannot take the caller with it,
// and the child's time and peak memory are its own.
struct ChildRun {
    bool exited = false;  // normally, having reported
    int signal = 0;       // what ended it otherwise (SIGALRM: it hung)
    Exit exit = Exit::kOther;
    std::size_t listEntries = 0;
    double seconds = 0;
    long growthKiB = 0;  // peak resident size beyond what it had before the start
};

// `prepare` runs in the child before the start (dropping privileges, starting a thread...).
// With `drawAll`, a start that opens the window also draws every part, which counts towards
// the time and memory.
inline ChildRun RunMainInChild(LoadRun& run, unsigned alarmSeconds,
                               const std::function<void()>& prepare = {}, bool drawAll = false) {
    struct Report {
        Exit exit;
        std::size_t listEntries;
        double seconds;
        long baselineKiB;
    };
    ChildRun result;
    int channel[2];
    if (::pipe(channel) != 0) return result;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(channel[0]);
        ::alarm(alarmSeconds);
        if (prepare) prepare();
        rusage before {};
        ::getrusage(RUSAGE_SELF, &before);
        const auto start = std::chrono::steady_clock::now();
        RunMain(run);
        if (drawAll && run.outcome == StartupOutcome::WindowShown) DrawChecked(run.loader->Model(), 0.0f, 0.0f);
        Report report{};
        report.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        report.exit = ExitOf(run);
        report.listEntries = run.platform.window.items.size();
        report.baselineKiB = before.ru_maxrss;
        const bool sent = ::write(channel[1], &report, sizeof report) == sizeof report;
        ::_exit(sent ? 0 : 1);
    }
    ::close(channel[1]);
    Report report{};
    const bool received = child > 0 && ::read(channel[0], &report, sizeof report) == sizeof report;
    ::close(channel[0]);
    int status = 0;
    rusage usage {};
    if (child > 0) ::wait4(child, &status, 0, &usage);
    result.exited = received && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    result.exit = report.exit;
    result.listEntries = report.listEntries;
    result.seconds = report.seconds;
    result.growthKiB = usage.ru_maxrss - report.baselineKiB;
    return result;
}

// The angles the drawing is tried at: the start view, one key press each way, and angles
// reached after holding the keys for a long time.
struct ViewAngles {
    float yaw;
    float pitch;
};
inline std::vector<ViewAngles> DrawAngles() {
    float yaw = 0.0f;
    float pitch = 0.0f;
    for (int i = 0; i < 5000; ++i) {
        ApplyViewKey(kKeyLeft, yaw, pitch);
        ApplyViewKey(kKeyDown, yaw, pitch);
    }
    return {{0.0f, 0.0f},
            {StepAngle(0.0f, -ROTATION_STEP), StepAngle(0.0f, ROTATION_STEP)},
            {yaw, pitch},
            {1.0e7f, -3.0e5f}};
}

// Every drawing the fuzzers make of a loaded model, and the problems found in any of them: each
// of the angles above as a wireframe and shaded with edges, and shaded far zoomed in.
inline std::vector<std::string> DrawEveryWay(const LoadedModel& model,
                                             const std::vector<ViewAngles>& angles = DrawAngles()) {
    std::vector<std::string> problems;
    const auto keep = [&](const DrawResult& drawn) {
        problems.insert(problems.end(), drawn.problems.begin(), drawn.problems.end());
    };
    for (const ViewAngles& a : angles) {
        keep(DrawChecked(model, a.yaw, a.pitch, PictureKind::kWireframe));
        keep(DrawChecked(model, a.yaw, a.pitch, PictureKind::kShadedWithEdges));
    }
    keep(DrawChecked(model, 0.0f, 0.0f, PictureKind::kShaded, 1e5));
    return problems;
}

// A folder for one process, removed with its contents when the process ends normally.
class Workspace {
public:
    static Workspace& Get() {
        // Never destroyed: the exit handler below still needs it.
        static Workspace* const workspace = new Workspace;
        return *workspace;
    }
    const std::string& Root() const { return root_; }
    std::string TempDir() const { return root_ + "/temp"; }
    std::string InputPath() const { return root_ + "/input.o"; }

    void WriteInput(const std::uint8_t* data, std::size_t size) const {
        const std::string path = InputPath();
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0) std::abort();
        std::size_t done = 0;
        while (done < size) {
            const ssize_t put = ::write(fd, data + done, size - done);
            if (put <= 0) std::abort();
            done += static_cast<std::size_t>(put);
        }
        ::close(fd);
    }

private:
    Workspace() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/trenn-fuzz-XXXXXX";
        if (!::mkdtemp(pattern.data())) std::abort();
        root_ = pattern;
        if (::mkdir(TempDir().c_str(), 0700) != 0) std::abort();
        std::atexit([] { Get().Remove(); });
    }
    void Remove() const {
        const std::string temp = TempDir();
        if (DIR* dir = ::opendir(temp.c_str())) {
            while (const dirent* entry = ::readdir(dir)) {
                const std::string file = entry->d_name;
                if (file != "." && file != "..") ::unlink((temp + "/" + file).c_str());
            }
            ::closedir(dir);
        }
        ::rmdir(temp.c_str());
        ::unlink(InputPath().c_str());
        ::rmdir(root_.c_str());
    }
    std::string root_;
};

}  // namespace trenn::fuzz
