// The Qt stand-in for the platform's open-file dialog.

#include "qt/open_file_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace trenn {

namespace {

struct FilterPair {
    QString description;
    QString pattern;
};

QString FromBytes(const DialogString& text) {
    return text ? QString::fromLocal8Bit(text->data(), static_cast<qsizetype>(text->size()))
                : QString();
}

// Fields separated by NULs, description and pattern alternating. An empty description
// ends the list, as the two closing NULs do.
std::vector<FilterPair> ParseFilter(const DialogString& filter) {
    std::vector<FilterPair> pairs;
    if (!filter) return pairs;
    const std::string& text = *filter;
    std::size_t pos = 0;
    auto nextField = [&]() {
        const std::size_t end = std::min(text.find('\0', pos), text.size());
        std::string field = text.substr(pos, end - pos);
        pos = end + 1;
        return field;
    };
    while (pos < text.size()) {
        const std::string description = nextField();
        if (description.empty()) break;
        const std::string pattern = pos < text.size() ? nextField() : std::string();
        pairs.push_back({FromBytes(description), FromBytes(pattern)});
    }
    return pairs;
}

// Qt reads the patterns from the parentheses at the end, separated by spaces; the
// record separates them with ';'.
QString ToQtFilter(const FilterPair& pair) {
    QStringList patterns;
    for (const QString& part : pair.pattern.split(u';', Qt::SkipEmptyParts)) {
        const QString trimmed = part.trimmed();
        if (!trimmed.isEmpty()) patterns << trimmed;
    }
    const QString qtPatterns = u'(' + patterns.join(u' ') + u')';
    const QString shown = u'(' + pair.pattern + u')';
    if (pair.description.endsWith(shown)) {
        return pair.description.left(pair.description.size() - shown.size()) + qtPatterns;
    }
    return pair.description + u' ' + qtPatterns;
}

// The text and NULs up to `capacity` characters, or nothing when it does not fit with
// at least one NUL after it.
std::optional<std::string> FillBuffer(const QByteArray& bytes, std::int32_t capacity) {
    if (capacity <= 0 || bytes.size() >= capacity) return std::nullopt;
    std::string buffer(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    buffer.resize(static_cast<std::size_t>(capacity), '\0');
    return buffer;
}

}  // namespace

std::int32_t QtOpenFileDialog::GetOpenFileNameA(OpenFileName& request) {
    lastError_ = 0;
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
        lastError_ = kDialogErrorInitialization;
        return 0;
    }

    QWidget* owner = nullptr;
    if (request.hwndOwner != 0) {
        owner = QWidget::find(static_cast<WId>(static_cast<std::uint32_t>(request.hwndOwner)));
    }

    QFileDialog dialog(owner);
    dialog.setObjectName(kDialogObjectName);
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);

    const std::int32_t flags = request.Flags;
    if ((flags & OFN_ALLOWMULTISELECT) != 0) {
        // Qt has no several-files mode for names that do not exist yet.
        dialog.setFileMode(QFileDialog::ExistingFiles);
    } else if ((flags & OFN_FILEMUSTEXIST) != 0) {
        dialog.setFileMode(QFileDialog::ExistingFile);
    } else {
        dialog.setFileMode(QFileDialog::AnyFile);
    }

    if (request.lpstrTitle) dialog.setWindowTitle(FromBytes(request.lpstrTitle));

    const std::string initialDir = TrimAtNull(request.lpstrInitialDir);
    dialog.setDirectory(initialDir.empty() ? QDir::currentPath()
                                           : QFile::decodeName(initialDir.c_str()));

    const std::vector<FilterPair> pairs = ParseFilter(request.lpstrFilter);
    QStringList qtFilters;
    for (const FilterPair& pair : pairs) qtFilters << ToQtFilter(pair);
    if (!qtFilters.isEmpty()) {
        dialog.setNameFilters(qtFilters);
        // An index the list does not offer falls back to the first pair.
        const std::int32_t index = request.nFilterIndex;
        const bool offered = index >= 1 && static_cast<std::size_t>(index) <= pairs.size();
        dialog.selectNameFilter(qtFilters.at(offered ? index - 1 : 0));
    }

    const std::string defaultExt = TrimAtNull(request.lpstrDefExt);
    if (!defaultExt.empty()) dialog.setDefaultSuffix(FromBytes(defaultExt));

    auto* readOnlyBox = new QCheckBox(QStringLiteral("Open as read-only"), &dialog);
    readOnlyBox->setObjectName(kReadOnlyBoxObjectName);
    readOnlyBox->setChecked((flags & OFN_READONLY) != 0);
    if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout())) {
        grid->addWidget(readOnlyBox, grid->rowCount(), 0, 1, -1);
    } else if (dialog.layout() != nullptr) {
        dialog.layout()->addWidget(readOnlyBox);
    }
    // Hidden, it still carries the state it started with back into the flags.
    readOnlyBox->setHidden((flags & OFN_HIDEREADONLY) != 0);

    const std::string initialName = TrimAtNull(request.lpstrFile);
    if (!initialName.empty()) dialog.selectFile(QFile::decodeName(initialName.c_str()));

    if (showHook_) showHook_(dialog);

    if (dialog.exec() != QDialog::Accepted) return 0;  // cancelled: error code stays 0
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty()) return 0;

    QByteArray fileBytes;
    QByteArray titleBytes;
    if (files.size() == 1) {
        fileBytes = QFile::encodeName(QDir::toNativeSeparators(files.front()));
        titleBytes = QFile::encodeName(QFileInfo(files.front()).fileName());
    } else {
        // Folder, then each name, each ended by a NUL, and one more NUL closing the list.
        fileBytes = QFile::encodeName(QFileInfo(files.front()).absolutePath());
        for (const QString& file : files) {
            fileBytes.append('\0');
            fileBytes.append(QFile::encodeName(QFileInfo(file).fileName()));
        }
        fileBytes.append('\0');
    }

    const std::optional<std::string> fileBuffer = FillBuffer(fileBytes, request.nMaxFile);
    std::optional<std::string> titleBuffer;
    if (request.lpstrFileTitle) {
        titleBuffer = FillBuffer(titleBytes, request.nMaxFileTitle);
        if (!titleBuffer) {
            lastError_ = kDialogErrorBufferTooSmall;
            return 0;
        }
    }
    if (!fileBuffer) {
        lastError_ = kDialogErrorBufferTooSmall;
        return 0;
    }

    request.lpstrFile = *fileBuffer;
    if (titleBuffer) request.lpstrFileTitle = *titleBuffer;
    const qsizetype chosen = qtFilters.indexOf(dialog.selectedNameFilter());
    request.nFilterIndex = chosen < 0 ? 0 : static_cast<std::int32_t>(chosen + 1);
    request.Flags = (flags & ~OFN_READONLY) | (readOnlyBox->isChecked() ? OFN_READONLY : 0);
    return 1;
}

}  // namespace trenn
