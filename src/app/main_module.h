#pragma once

#include <optional>
#include <string>

#include "app/viewer_window.h"

namespace trenn {

// What start-up needs from its surroundings. The desktop program, the command-line inspector
// and the tests each provide their own.
class StartupPlatform {
public:
    virtual ~StartupPlatform() = default;
    // An environment variable, nullopt when it is not set.
    virtual std::optional<std::string> Environment(const char* name) const = 0;
    virtual double SecondsSinceMidnight() const = 0;
    // The decimal separator of the user's locale.
    virtual char DecimalSeparator() const = 0;
    // Creates the viewer window, hidden. Called at most once.
    virtual ViewerWindow& LoadViewerWindow() = 0;
    // A modal message box with a warning icon and one OK button.
    virtual void ShowMessage(const std::string& text, const std::string& title) = 0;
    // Loading may take a while on large files; the desktop shows a busy cursor meanwhile.
    virtual void SetBusy(bool /*busy*/) {}
};

enum class StartupOutcome { Cancelled, LoadFailed, NotUnderstood, Corrupt, WindowShown };

// mdlMain's folder for the scratch file, with a separator at its end.
extern std::string g_tempDir;
// A plain diagnosis of the last failed start-up, for tools; never shown in the message box.
extern std::string g_lastFailureDetail;

inline constexpr const char* kNotUnderstoodReason = "This is not an understood .O file";
inline constexpr const char* kCorruptReason =
    "The .O file is corrupt or does not contain valid mesh data";
inline constexpr const char* kErrorTitle = "Error";

// Asks for an object file, loads it and shows the viewer window. On any failure it shows the
// one message box and returns; the caller then ends the program.
StartupOutcome Main(StartupPlatform& platform);

// TEMP, or where it is unset or empty the system's temporary folder (TMPDIR, else /tmp);
// always ending in one separator.
std::string TempDirFromEnvironment(const StartupPlatform& platform);

// A single-precision number as text: at most seven significant digits, no trailing zeros.
std::string SingleToText(float value, char decimalSeparator);

// tempDir + "Trenn_" + text of R x 1000 (single precision) + ".tmp".
std::string BuildScratchPath(const std::string& tempDir, float random, char decimalSeparator);

// "An error occured while loading " + path + CR LF CR LF + reason.
std::string FailureMessage(const std::string& objectPath, const std::string& reason);

}  // namespace trenn
