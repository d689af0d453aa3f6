#include "app/main_module.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <random>

#include "app/model_assembly.h"
#include "dialog/common_dialog.h"
#include "elf/elf_data.h"
#include "runtime/load_failure.h"

namespace trenn {

std::string g_tempDir;
std::string g_lastFailureDetail;

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

std::uint32_t SeedFromSeconds(float seconds) {
    std::uint32_t bits;
    std::memcpy(&bits, &seconds, sizeof bits);
    return bits;
}

std::string MagicDetail(const std::string& path) {
    return "the first four bytes of " + path + " are not 7F 45 4C 46";
}

}  // namespace

StartupOutcome Main(StartupPlatform& platform) {
    std::string objectPath;
    auto fail = [&](StartupOutcome outcome, const std::string& reason) {
        platform.SetBusy(false);
        platform.ShowMessage(FailureMessage(objectPath, reason), kErrorTitle);
        return outcome;
    };
    try {
        g_lastFailureDetail.clear();
        g_tempDir = TempDirFromEnvironment(platform);
        std::mt19937 generator(SeedFromSeconds(static_cast<float>(platform.SecondsSinceMidnight())));
        const std::string scratchPath =
            BuildScratchPath(g_tempDir, NextRandom(generator), platform.DecimalSeparator());

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
        if (chosen != kTrue) {
            g_lastFailureDetail = "no file was chosen (dialog code " +
                                  std::to_string(g_lastDialogError) + ")";
            return StartupOutcome::Cancelled;
        }
        objectPath = fileName.value_or("");

        platform.SetBusy(true);
        if (LoadElfObject(objectPath, scratchPath) != kTrue) {
            g_lastFailureDetail =
                g_errorText.empty() ? g_loadFailureDetail : MagicDetail(objectPath);
            return fail(StartupOutcome::LoadFailed, g_errorText);
        }
        const AssemblyOutcome assembled =
            AssembleModel([&]() -> ViewerWindow& { return platform.LoadViewerWindow(); }, scratchPath);
        if (assembled == AssemblyOutcome::NotUnderstood) {
            g_lastFailureDetail = "no symbol name starts with \"" + std::string(kPartPrefix) +
                                  "\", and the first symbol kept has an empty name";
            return fail(StartupOutcome::NotUnderstood, kNotUnderstoodReason);
        }
        platform.SetBusy(false);
        return StartupOutcome::WindowShown;
    } catch (const LoadFailure& failure) {
        g_lastFailureDetail = failure.what();
    } catch (const std::bad_alloc&) {
        g_lastFailureDetail = "out of memory";
    }
    return fail(StartupOutcome::Corrupt, kCorruptReason);
}

}  // namespace trenn
