#include "app/main_module.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>
#include <random>
#include <vector>

#include "model/mesh.h"
#include "app/model_assembly.h"
#include "dialog/common_dialog.h"
#include "elf/elf_data.h"
#include "runtime/load_failure.h"

namespace trenn {

std::string g_tempDir;
std::string g_lastFailureDetail;

double LocalSecondsSinceMidnight() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    std::tm local{};
    ::localtime_r(&now.tv_sec, &local);
    return local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec + static_cast<double>(now.tv_nsec) * 1e-9;
}

std::string TempDirFromEnvironment(const StartupPlatform& platform) {
    std::string dir = platform.Environment("TEMP").value_or("");
    if (dir.empty()) {
        // A missing TEMP would otherwise put the scratch file in the root folder.
        dir = platform.Environment("TMPDIR").value_or("");
        if (dir.empty()) dir = "/tmp";
    }
    if (dir.back() != '/') dir += '/';
    return dir;
}

std::string SingleToText(float value, char decimalSeparator) {
    char text[48];
    std::snprintf(text, sizeof text, "%.7G", static_cast<double>(value));
    std::string out = text;
    for (char& c : out) {
        if (c == '.') c = decimalSeparator;
    }
    return out;
}

std::string BuildScratchPath(const std::string& tempDir, float random, char decimalSeparator) {
    const float number = random * 1000.0f;
    return tempDir + "Trenn_" + SingleToText(number, decimalSeparator) + ".tmp";
}

std::string FailureMessage(const std::string& objectPath, const std::string& reason) {
    return "An error occured while loading " + objectPath + "\r\n\r\n" + reason;
}

namespace {

// Uniform in [0, 1) with 24 random bits, so every value is exact in single precision.
float NextRandom(std::mt19937& generator) {
    return static_cast<float>(generator() >> 8) * (1.0f / 16777216.0f);
}

// The time of day to the clock's resolution and the process: two programs started together
// differ in one of them at least.
void Seed(std::mt19937& generator, double seconds, std::uint64_t process) {
    std::uint64_t bits;
    std::memcpy(&bits, &seconds, sizeof bits);
    std::seed_seq seed{static_cast<std::uint32_t>(bits), static_cast<std::uint32_t>(bits >> 32),
                       static_cast<std::uint32_t>(process), static_cast<std::uint32_t>(process >> 32)};
    generator.seed(seed);
}

std::string MagicDetail(const std::string& path) {
    return "the first four bytes of " + path + " are not 7F 45 4C 46";
}

// The module state of the model shown, set aside while a later load works in fresh state,
// and put back when that load fails.
struct ShownModel {
    std::vector<MeshPart> parts;
    std::optional<std::vector<SymbolEntry>> symbols;
    std::string errorText;

    static ShownModel SetAside() {
        ShownModel shown{std::move(g_parts), std::move(g_symbols), std::move(g_errorText)};
        g_parts.clear();
        g_symbols.reset();
        g_errorText.clear();
        return shown;
    }
    void PutBack() {
        g_parts = std::move(parts);
        g_symbols = std::move(symbols);
        g_errorText = std::move(errorText);
    }
};

}  // namespace

std::optional<std::string> ObjectLoader::AskForObjectFile() {
    DialogString fileName = std::string();
    DialogString fileTitle;
    Bool16 fileMustExist = kTrue;
    Bool16 multiSelect = kFalse;
    Bool16 readOnly = kFalse;
    Bool16 hideReadOnly = kTrue;
    DialogString filter = std::string(".o files (*.o)|*.o");
    std::int32_t filterIndex = 1;
    DialogString initialDir;
    DialogString dialogTitle = std::string("Open file");
    DialogString defaultExt = std::string("o");
    std::int32_t ownerWindow = -1;
    std::int32_t flags = 0;
    const Bool16 chosen = ShowOpen(fileName, fileTitle, fileMustExist, multiSelect, readOnly,
                                   hideReadOnly, filter, filterIndex, initialDir, dialogTitle,
                                   defaultExt, ownerWindow, flags);
    if (chosen != kTrue) return std::nullopt;
    return fileName.value_or("");
}

std::uint64_t StartupPlatform::ProcessId() const { return static_cast<std::uint64_t>(::getpid()); }

ScratchFile ObjectLoader::NewScratchFile() {
    return ScratchFile(NextScratchPath(), [this] { return NextScratchPath(); }, &made_);
}

std::string ObjectLoader::NextScratchPath() {
    // A new name for every load; the file of the model shown must survive a failed one.
    std::string path;
    do {
        path = BuildScratchPath(g_tempDir, NextRandom(generator_), platform_.DecimalSeparator());
    } while (path == scratch_.Path());
    return path;
}

// LoadElfObject, then the model assembly into the model and the window that loadWindow gives.
// Nothing when it loaded; otherwise why not.
std::optional<ObjectLoader::Failure> ObjectLoader::Load(
    const std::string& objectPath, ScratchFile& scratch,
    const std::function<ViewerWindow*()>& loadWindow, LoadedModel& model) {
    std::optional<Failure> failure;
    try {
        ModelRecorder recorder(model);
        const auto window = [&]() -> ViewerWindow& {
            if (ViewerWindow* real = loadWindow()) recorder.Attach(*real);
            return recorder;
        };
        if (LoadElfObject(objectPath, scratch) != kTrue) {
            failure = Failure{StartupOutcome::LoadFailed, g_errorText,
                              g_errorText.empty() ? g_loadFailureDetail : MagicDetail(objectPath)};
        } else if (AssembleModel(window, scratch) == AssemblyOutcome::NotUnderstood) {
            failure = Failure{StartupOutcome::NotUnderstood, kNotUnderstoodReason,
                              "no symbol name starts with \"" + std::string(kPartPrefix) +
                                  "\", and the first symbol kept has an empty name"};
        } else {
            model.parts = g_parts;
            model.symbols = *g_symbols;
        }
    } catch (const LoadFailure& error) {
        failure = Failure{StartupOutcome::Corrupt, kCorruptReason, error.what()};
    } catch (const std::bad_alloc&) {
        failure = Failure{StartupOutcome::Corrupt, kCorruptReason, "out of memory"};
    }
    // Read with the 32-bit layout, a 64-bit object fails somewhere along the way, and where
    // it does says nothing about why.
    if (failure && ElfClassByte(objectPath) == 2) failure->detail = kElf64Detail;
    return failure;
}

void ObjectLoader::Report(const std::string& objectPath, const Failure& failure) {
    g_lastFailureDetail = failure.detail;
    platform_.SetBusy(false);
    platform_.ShowMessage(FailureMessage(objectPath, failure.reason), kErrorTitle, failure.detail);
}

StartupOutcome ObjectLoader::Start(const std::optional<std::string>& objectFile) {
    std::string objectPath;
    ScratchFile scratch;
    std::optional<Failure> failure;
    try {
        g_lastFailureDetail.clear();
        g_tempDir = TempDirFromEnvironment(platform_);
        Seed(generator_, platform_.SecondsSinceMidnight(), platform_.ProcessId());
        scratch = NewScratchFile();

        if (objectFile) {
            objectPath = *objectFile;
        } else if (const std::optional<std::string> chosen = AskForObjectFile()) {
            objectPath = *chosen;
        } else {
            g_lastFailureDetail = "no file was chosen (dialog code " +
                                  std::to_string(g_lastDialogError) + ")";
            return StartupOutcome::Cancelled;
        }

        platform_.SetBusy(true);
        LoadedModel model;
        failure = Load(objectPath, scratch, [&] { return &platform_.LoadViewerWindow(); }, model);
        if (!failure) {
            objectPath_ = objectPath;
            model_ = std::move(model);
            scratch_ = std::move(scratch);
            platform_.SetBusy(false);
            return StartupOutcome::WindowShown;
        }
    } catch (const LoadFailure& error) {
        failure = Failure{StartupOutcome::Corrupt, kCorruptReason, error.what()};
    } catch (const std::bad_alloc&) {
        failure = Failure{StartupOutcome::Corrupt, kCorruptReason, "out of memory"};
    }
    scratch.Remove();
    Report(objectPath, *failure);
    return failure->outcome;
}

std::optional<LoadedModel> ObjectLoader::Replace(const std::string& objectPath) {
    platform_.SetBusy(true);
    ShownModel shown = ShownModel::SetAside();
    ScratchFile scratch;
    LoadedModel model;
    std::optional<Failure> failure;
    try {
        scratch = NewScratchFile();
        failure = Load(objectPath, scratch, [] { return nullptr; }, model);
    } catch (const std::bad_alloc&) {
        failure = Failure{StartupOutcome::Corrupt, kCorruptReason, "out of memory"};
    }
    if (!failure) {
        scratch_.Remove();
        scratch_ = std::move(scratch);
        objectPath_ = objectPath;
        model_ = model;
        platform_.SetBusy(false);
        return model;
    }
    scratch.Remove();
    // Back before the message box: its event loop may draw the model shown.
    shown.PutBack();
    Report(objectPath, *failure);
    return std::nullopt;
}

StartupOutcome Main(StartupPlatform& platform) {
    ObjectLoader loader(platform);
    const StartupOutcome outcome = loader.Start();
    loader.KeepScratchFile();
    return outcome;
}

}  // namespace trenn
