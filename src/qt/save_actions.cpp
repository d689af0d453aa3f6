#include "qt/save_actions.h"

#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QFile>
#include <QFileDialog>
#include <QImageWriter>
#include <QKeySequence>

#include <array>
#include <utility>

#include "app/main_module.h"
#include "export/output_file.h"
#include "qt/frm_trenn.h"
#include "qt/part_list.h"
#include "qt/picture_box.h"

namespace trenn {
namespace {

constexpr std::array<ExportFormat, 4> kFormats = {ExportFormat::Obj, ExportFormat::Ply, ExportFormat::Stl,
                                                  ExportFormat::Glb};
const char* const kPictureFilter = "PNG picture (*.png)";

bool EndsWithCaseless(const std::string& text, const std::string& end) {
    if (text.size() < end.size()) return false;
    return QString::fromStdString(text.substr(text.size() - end.size())).compare(QString::fromStdString(end),
                                                                                  Qt::CaseInsensitive) == 0;
}

// ".obj" for "Wavefront OBJ (*.obj)".
std::string FilterExtension(const QString& filter) {
    const qsizetype star = filter.lastIndexOf(QStringLiteral("(*"));
    if (star < 0) return "";
    return filter.mid(star + 2).chopped(1).toStdString();
}

// The file shown, with `extension` in place of its own: "/models/ship.o" to "/models/ship.obj".
std::string Proposed(const std::string& shown, const std::string& extension) {
    if (shown.empty()) return "model" + extension;
    const std::size_t slash = shown.find_last_of('/');
    const std::size_t dot = shown.find_last_of('.');
    const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
    return (hasExtension ? shown.substr(0, dot) : shown) + extension;
}

// The wait cursor while a file is written.
class BusyCursor {
public:
    BusyCursor() { QApplication::setOverrideCursor(QCursor(Qt::WaitCursor)); }
    ~BusyCursor() { QApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

}  // namespace

QStringList ExportFilters() {
    QStringList filters;
    for (const ExportFormat format : kFormats) {
        switch (format) {
        case ExportFormat::Obj: filters << QStringLiteral("Wavefront OBJ (*.obj)"); break;
        case ExportFormat::Ply: filters << QStringLiteral("PLY, binary (*.ply)"); break;
        case ExportFormat::Stl: filters << QStringLiteral("STL, binary (*.stl)"); break;
        case ExportFormat::Glb: filters << QStringLiteral("glTF 2.0, binary (*.glb)"); break;
        }
    }
    return filters;
}

std::pair<std::string, ExportFormat> ExportTarget(const std::string& chosen, const QString& filter) {
    if (const std::optional<ExportFormat> named = ExportFormatFromPath(chosen)) return {chosen, *named};
    const qsizetype index = std::max<qsizetype>(0, ExportFilters().indexOf(filter));
    const ExportFormat format = kFormats[static_cast<std::size_t>(index)];
    return {chosen + "." + ExportFormatName(format), format};
}

SaveActions::SaveActions(FrmTrenn& window, std::function<std::string()> shownFile, AskForPath ask, Tell tell,
                         MadeFiles* temporaries)
    : window_(window),
      shownFile_(std::move(shownFile)),
      ask_(std::move(ask)),
      tell_(std::move(tell)),
      temporaries_(temporaries),
      exportFilter_(ExportFilters().front()) {
    export_ = new QAction(QStringLiteral("Export parts..."), &window_);
    export_->setObjectName(QStringLiteral("exportAction"));
    export_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    savePicture_ = new QAction(QStringLiteral("Save picture..."), &window_);
    savePicture_->setObjectName(QStringLiteral("savePictureAction"));
    savePicture_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    for (QAction* action : {export_, savePicture_}) {
        action->setShortcutContext(Qt::WindowShortcut);
        window_.addAction(action);
    }
    connect(export_, &QAction::triggered, this, &SaveActions::ExportParts);
    connect(savePicture_, &QAction::triggered, this, &SaveActions::SavePicture);
}

void SaveActions::ExportParts() {
    const LoadedModel& model = window_.Model();
    const std::vector<ExportPart> parts = TickedParts(model.parts, model.listTexts, window_.lstParts()->Ticks());
    if (parts.empty()) {
        tell_("No part is ticked. Tick the parts to export, then press Ctrl+E again.", "Export parts", "");
        return;
    }
    QString filter = exportFilter_;
    const std::optional<std::string> chosen = ask_(QStringLiteral("Export parts"),
                                                   Proposed(shownFile_(), FilterExtension(filter)),
                                                   ExportFilters(), filter);
    if (!chosen) return;
    if (ExportFilters().contains(filter)) exportFilter_ = filter;
    const auto [path, format] = ExportTarget(*chosen, filter);
    ExportSummary summary;
    {
        const BusyCursor busy;
        summary = trenn::ExportParts(parts, format, path, temporaries_);
    }
    if (!summary.written) tell_("The parts could not be exported to " + path + ".", kErrorTitle, summary.detail);
}

void SaveActions::SavePicture() {
    QString filter = QString::fromLatin1(kPictureFilter);
    const std::optional<std::string> chosen =
        ask_(QStringLiteral("Save picture"), Proposed(shownFile_(), ".png"), {filter}, filter);
    if (!chosen) return;
    const std::string path = EndsWithCaseless(*chosen, ".png") ? *chosen : *chosen + ".png";
    std::string detail;
    {
        const BusyCursor busy;
        // Encoded in memory first, so that the file is written in one go and every failed write
        // is seen.
        QByteArray encoded;
        QBuffer buffer(&encoded);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "png");
        if (!writer.write(window_.picShow()->Image())) {
            detail = "cannot write " + path + ": " + writer.errorString().toStdString();
        } else {
            try {
                OutputFile out(path, temporaries_);
                out.Write(encoded.constData(), static_cast<std::size_t>(encoded.size()));
                out.Commit();
            } catch (const ExportFailure& failure) {
                detail = "cannot write " + path + ": " + failure.what();
            } catch (const std::bad_alloc&) {
                detail = "cannot write " + path + ": not enough memory";
            }
        }
    }
    if (!detail.empty()) tell_("The picture could not be saved to " + path + ".", kErrorTitle, detail);
}

std::optional<std::string> SaveActions::AskWithDialog(QWidget* parent, const QString& title, const std::string& proposed,
                                                      const QStringList& filters, QString& filter) {
    QFileDialog dialog(parent, title);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters(filters);
    dialog.selectNameFilter(filter);
    dialog.selectFile(QFile::decodeName(QByteArray::fromStdString(proposed)));
    // A name typed without an extension gets the one of the format chosen.
    const auto suffixOf = [](const QString& f) { return QString::fromStdString(FilterExtension(f)).mid(1); };
    dialog.setDefaultSuffix(suffixOf(filter));
    QObject::connect(&dialog, &QFileDialog::filterSelected,
                     [&dialog, suffixOf](const QString& f) { dialog.setDefaultSuffix(suffixOf(f)); });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    filter = dialog.selectedNameFilter();
    return QFile::encodeName(dialog.selectedFiles().front()).toStdString();
}

}  // namespace trenn
