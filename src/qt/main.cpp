// trenn: loads an object file, asked for in a dialog or named on the command line, and shows
// its parts in the viewer window.

#include <QApplication>
#include <QCursor>
#include <QLocale>
#include <QMessageBox>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/main_module.h"
#include "qt/app_icon.h"
#include "qt/display_check.h"
#include "qt/file_actions.h"
#include "qt/frm_trenn.h"
#include "qt/open_file_dialog.h"
#include "qt/save_actions.h"
#include "qt/termination_watch.h"
#include "runtime/scratch_file.h"
#include "runtime/termination_guard.h"

namespace {

// One line on stderr, whatever the text holds.
void Say(const std::string& text) {
    std::string line = "trenn: " + text;
    for (char& c : line) {
        if (c == '\n' || c == '\r') c = ' ';
    }
    std::fprintf(stderr, "%s\n", line.c_str());
}

class DesktopPlatform : public trenn::StartupPlatform {
public:
    std::unique_ptr<trenn::FrmTrenn> window;

    std::optional<std::string> Environment(const char* name) const override {
        if (!qEnvironmentVariableIsSet(name)) return std::nullopt;
        return qgetenv(name).toStdString();
    }
    double SecondsSinceMidnight() const override { return trenn::LocalSecondsSinceMidnight(); }
    char DecimalSeparator() const override {
        const QString point = QLocale().decimalPoint();
        return point.size() == 1 && point.at(0).unicode() < 0x80 ? point.at(0).toLatin1() : '.';
    }
    trenn::ViewerWindow& LoadViewerWindow() override {
        if (!window) window = std::make_unique<trenn::FrmTrenn>();
        return *window;
    }
    // The diagnosis also goes to stderr, and behind the box's "Show Details...".
    void ShowMessage(const std::string& text, const std::string& title,
                     const std::string& detail) override {
        Say(detail);
        QMessageBox box(QMessageBox::Warning, QString::fromStdString(title),
                        QString::fromStdString(text), QMessageBox::Ok);
        if (!detail.empty()) box.setDetailedText(QString::fromStdString(detail));
        box.exec();
    }
    void SetBusy(bool busy) override {
        if (busy == busy_) return;
        busy_ = busy;
        if (busy) {
            QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
            QApplication::processEvents();
        } else {
            QApplication::restoreOverrideCursor();
        }
    }

private:
    bool busy_ = false;
};

// Everything with a window, from the QApplication to its end. Returns the exit status; the
// loader removes the scratch file on the way out, and the termination guard on a signal.
int RunViewer(const trenn::CommandLine& command, trenn::TerminationGuard& termination) {
    // Qt sees no arguments: they have been read, and a file name must not pass for its options.
    int qtArgc = 1;
    char programName[] = "trenn";
    char* qtArgv[] = {programName, nullptr};
    QApplication app(qtArgc, qtArgv);
    QApplication::setApplicationName("Trenn");
    QApplication::setWindowIcon(trenn::TrennIcon());
    trenn::TerminationWatch watch(termination);
    trenn::LoadTheFont(QWidget());
    if (!trenn::StartPaintThreads()) {
        Say("cannot start the threads that paint the window (not enough memory)");
        // Ending normally would wait for the pool thread that never started.
        std::_Exit(1);
    }

    trenn::QtOpenFileDialog dialog;
    trenn::SetOpenFileDialogPlatform(&dialog);
    DesktopPlatform platform;
    trenn::ObjectLoader loader(platform);
    // A file being exported or saved is written under a temporary name until it is whole.
    trenn::MadeFiles temporaries;
    const trenn::TerminationCleanup cleanup(termination, [&] {
        loader.RemoveScratchFiles();
        temporaries.RemoveAll();
    });
    const trenn::StartupOutcome outcome = loader.Start(command.objectFile);
    int status = 1;  // the message box has been shown; nothing more runs
    if (outcome == trenn::StartupOutcome::Cancelled) status = 0;
    if (outcome == trenn::StartupOutcome::WindowShown) {
        platform.window->ShowModel(loader.Model());
        trenn::FileActions files(*platform.window, loader, command.watch);
        trenn::FrmTrenn* window = platform.window.get();
        trenn::SaveActions saves(
            *window, [&loader] { return loader.ObjectPath(); },
            [window](const QString& title, const std::string& proposed, const QStringList& filters, QString& filter) {
                return trenn::SaveActions::AskWithDialog(window, title, proposed, filters, filter);
            },
            [&platform](const std::string& text, const std::string& title, const std::string& detail) {
                platform.ShowMessage(text, title, detail);
            },
            &temporaries);
        status = QApplication::exec();
    }
    trenn::SetOpenFileDialogPlatform(nullptr);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    const trenn::CommandLine command =
        trenn::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    switch (command.action) {
    case trenn::CommandLine::Action::kHelp:
        std::fputs(trenn::HelpText().c_str(), stdout);
        return 0;
    case trenn::CommandLine::Action::kVersion:
        std::fputs(trenn::VersionText().c_str(), stdout);
        return 0;
    case trenn::CommandLine::Action::kUsageError:
        Say(command.error + " (see trenn --help)");
        return 2;
    case trenn::CommandLine::Action::kRun:
        break;
    }
    if (const std::optional<std::string> unreachable = trenn::UnreachableDisplay()) {
        Say(*unreachable);
        return 1;
    }
    trenn::TerminationGuard termination;
    return RunViewer(command, termination);
}
