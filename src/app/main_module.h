#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <string>

#include "app/loaded_model.h"
#include "app/viewer_window.h"
#include "runtime/scratch_file.h"

namespace trenn {

// What start-up needs from its surroundings. The desktop program, the command-line inspector
// and the tests each provide their own.
class StartupPlatform {
public:
    virtual ~StartupPlatform() = default;
    // An environment variable, nullopt when it is not set.
    virtual std::optional<std::string> Environment(const char* name) const = 0;
    // The time of day, as finely as the clock tells it.
    virtual double SecondsSinceMidnight() const = 0;
    // Mixed into the seed of the scratch-file names, so that programs started in the same
    // instant draw different names.
    virtual std::uint64_t ProcessId() const;
    // The decimal separator of the user's locale.
    virtual char DecimalSeparator() const = 0;
    // Creates the viewer window, hidden. Called at most once.
    virtual ViewerWindow& LoadViewerWindow() = 0;
    // A modal message box with a warning icon and one OK button. `detail` says what failed
    // and where, in plain words, for whoever wants to know more than the box's text.
    virtual void ShowMessage(const std::string& text, const std::string& title,
                             const std::string& detail) = 0;
    // Loading may take a while on large files; the desktop shows a busy cursor meanwhile.
    virtual void SetBusy(bool /*busy*/) {}
};

enum class StartupOutcome { Cancelled, LoadFailed, NotUnderstood, Corrupt, WindowShown };

// mdlMain's folder for the scratch file, with a separator at its end.
extern std::string g_tempDir;
// A plain diagnosis of the last failed load, the same as the message box's detail.
extern std::string g_lastFailureDetail;

inline constexpr const char* kNotUnderstoodReason = "This is not an understood .O file";
inline constexpr const char* kCorruptReason =
    "The .O file is corrupt or does not contain valid mesh data";
inline constexpr const char* kErrorTitle = "Error";

// The object file the viewer shows. Start-up loads the first one; later loads read the same
// file again or another one in its place. Each load starts afresh: a scratch file of its own
// (a new random name), new symbols, new parts and a new list. A later load that fails shows
// the same message box as start-up and leaves the model shown as it was.
//
// Owns the scratch file of the model shown, which stays while this lives; a scratch file
// that a later load replaces, or that belongs to a failed load, is removed at once. Scratch
// files are made exclusively under a fresh name: where a file of the name drawn exists, another
// name is drawn, so that no load ever removes or reads a file it did not make.
class ObjectLoader {
public:
    explicit ObjectLoader(StartupPlatform& platform) : platform_(platform) {}
    ~ObjectLoader() { scratch_.Remove(); }
    ObjectLoader(const ObjectLoader&) = delete;
    ObjectLoader& operator=(const ObjectLoader&) = delete;

    // Start-up: asks for an object file, loads it and shows the viewer window; on any
    // failure it shows the one message box and returns, and the caller ends the program.
    // With `objectFile` there is no dialog: that file is loaded as if chosen in it.
    StartupOutcome Start(const std::optional<std::string>& objectFile = std::nullopt);

    // The open-file dialog with start-up's request: the file chosen, nothing on a cancel.
    std::optional<std::string> AskForObjectFile();

    // After start-up: loads `objectPath` into fresh module state. The model when it loaded;
    // otherwise the message box has been shown, and g_parts, g_symbols and the scratch file
    // are those of the model shown before.
    std::optional<LoadedModel> Replace(const std::string& objectPath);

    // The model shown (empty before a load succeeded).
    const LoadedModel& Model() const { return model_; }
    // The file of the model shown, as the user named it.
    const std::string& ObjectPath() const { return objectPath_; }
    const std::string& ScratchPath() const { return scratch_.Path(); }

    // Leaves the scratch file of the model shown on disk when the loader goes.
    void KeepScratchFile() { scratch_.Release(); }
    // Removes every scratch file this loader made and still has. Safe from any thread while
    // another loads (a termination signal): it only removes entries, and never fails.
    void RemoveScratchFiles() noexcept { made_.RemoveAll(); }

private:
    struct Failure {
        StartupOutcome outcome;
        std::string reason;  // the last line of the message box
        std::string detail;
    };

    std::string NextScratchPath();
    // A scratch file under a new name, made at the first write.
    ScratchFile NewScratchFile();
    // Into the model, and into the window that loadWindow gives, if any.
    std::optional<Failure> Load(const std::string& objectPath, ScratchFile& scratch,
                                const std::function<ViewerWindow*()>& loadWindow, LoadedModel& model);
    void Report(const std::string& objectPath, const Failure& failure);

    StartupPlatform& platform_;
    std::mt19937 generator_;
    std::string objectPath_;
    LoadedModel model_;
    MadeFiles made_;
    ScratchFile scratch_;
};

// The start-up of a program that keeps no loader: ObjectLoader::Start with the dialog. The
// scratch file of the model shown stays on disk.
StartupOutcome Main(StartupPlatform& platform);

// The local time of day in seconds, to the clock's resolution.
double LocalSecondsSinceMidnight();

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
