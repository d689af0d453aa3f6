#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <string>

#include "export/export.h"

class QAction;

namespace trenn {

class FrmTrenn;

// Ctrl+E exports the ticked parts, Ctrl+S saves the picture as shown, each to a file chosen in a
// save dialog. A file appears whole or not at all; a failure is told in a message box with its
// detail.
class SaveActions : public QObject {
    Q_OBJECT

public:
    // Asks where to save: the dialog's title, the file proposed, the filters ("PNG picture
    // (*.png)"); `filter` comes in as the one selected at first and goes out as the one chosen.
    // None when the user cancels.
    using AskForPath = std::function<std::optional<std::string>(const QString& title, const std::string& proposed,
                                                                const QStringList& filters, QString& filter)>;
    // A message box: text, title and the detail behind "Show Details...".
    using Tell = std::function<void(const std::string& text, const std::string& title, const std::string& detail)>;

    // `shownFile` gives the path of the file shown, from which the names proposed are made;
    // `temporaries`, when given, records a file being written under a temporary name, for a
    // cleanup that must remove it should the program be ended meanwhile.
    SaveActions(FrmTrenn& window, std::function<std::string()> shownFile, AskForPath ask, Tell tell,
                MadeFiles* temporaries = nullptr);

    QAction* ExportAction() const { return export_; }
    QAction* SavePictureAction() const { return savePicture_; }

    // Ctrl+E and Ctrl+S.
    void ExportParts();
    void SavePicture();

    // The save dialog of the desktop.
    static std::optional<std::string> AskWithDialog(QWidget* parent, const QString& title, const std::string& proposed,
                                                    const QStringList& filters, QString& filter);

private:
    FrmTrenn& window_;
    std::function<std::string()> shownFile_;
    AskForPath ask_;
    Tell tell_;
    MadeFiles* temporaries_;
    QAction* export_ = nullptr;
    QAction* savePicture_ = nullptr;
    QString exportFilter_;  // the format chosen last, offered first next time
};

// The filters of the export dialog, one per format, in the order of ExportFormat.
QStringList ExportFilters();
// `chosen` as the file to write: with an extension that names a format, that format; otherwise
// the extension of `filter` (one of ExportFilters()) is added.
std::pair<std::string, ExportFormat> ExportTarget(const std::string& chosen, const QString& filter);

}  // namespace trenn
