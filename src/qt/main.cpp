// trenn: asks for an object file, loads its parts and shows them in the viewer window.

#include <QApplication>
#include <QCursor>
#include <QLocale>
#include <QMessageBox>
#include <QTime>

#include <cstdio>
#include <memory>

#include "app/main_module.h"
#include "qt/open_file_dialog.h"
#include "qt/app_icon.h"
#include "qt/frm_trenn.h"

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
    double SecondsSinceMidnight() const override {
        return QTime::currentTime().msecsSinceStartOfDay() / 1000.0;
    }
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

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Trenn");
    QApplication::setWindowIcon(trenn::TrennIcon());

    trenn::QtOpenFileDialog dialog;
    trenn::SetOpenFileDialogPlatform(&dialog);
    DesktopPlatform platform;
    const trenn::StartupOutcome outcome = trenn::Main(platform);
    trenn::SetOpenFileDialogPlatform(nullptr);

    switch (outcome) {
        case trenn::StartupOutcome::WindowShown:
            return QApplication::exec();
        case trenn::StartupOutcome::Cancelled:
            return 0;
        default:
            return 1;  // the message box has been shown; nothing more runs
    }
}
