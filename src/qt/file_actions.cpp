#include "qt/file_actions.h"

#include <QAction>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QKeySequence>
#include <QMimeData>
#include <QUrl>

#include <sys/stat.h>

#include "app/main_module.h"
#include "qt/frm_trenn.h"

namespace trenn {
namespace {

// The first local file of a drag as the bytes of its path, empty when it carries none. The
// path is taken from the address's own percent-encoded bytes, so that a name that is not
// UTF-8 keeps its bytes; a name holding a NUL byte names no file and is passed over.
std::string DroppedFile(const QMimeData* data) {
    if (data == nullptr || !data->hasUrls()) return {};
    for (const QUrl& url : data->urls()) {
        if (!url.isLocalFile()) continue;
        const QByteArray path = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
        if (path.isEmpty() || path.contains('\0')) continue;
        return path.toStdString();
    }
    return {};
}

}  // namespace

FileActions::FileActions(FrmTrenn& window, ObjectLoader& loader, bool watch)
    : window_(window), loader_(loader) {
    open_ = new QAction(QStringLiteral("Open..."), &window_);
    open_->setObjectName(QStringLiteral("openAction"));
    open_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    reload_ = new QAction(QStringLiteral("Reload"), &window_);
    reload_->setObjectName(QStringLiteral("reloadAction"));
    reload_->setShortcut(QKeySequence(Qt::Key_F5));
    // Window-wide, so that they work whichever control has the focus; the picture's own keys
    // are no shortcuts and still reach it.
    for (QAction* action : {open_, reload_}) {
        action->setShortcutContext(Qt::WindowShortcut);
        window_.addAction(action);
    }
    connect(open_, &QAction::triggered, this, &FileActions::Open);
    connect(reload_, &QAction::triggered, this, &FileActions::Reload);

    window_.setAcceptDrops(true);
    window_.installEventFilter(this);

    settle_.setSingleShot(true);
    settle_.setInterval(kSettleMilliseconds);
    connect(&settle_, &QTimer::timeout, this, &FileActions::CheckSettled);
    if (watch) {
        watcher_ = std::make_unique<QFileSystemWatcher>();
        connect(watcher_.get(), &QFileSystemWatcher::fileChanged, this, &FileActions::FileTouched);
        connect(watcher_.get(), &QFileSystemWatcher::directoryChanged, this, &FileActions::FileTouched);
        tried_ = StateOf(loader_.ObjectPath());
        WatchShownFile();
    }
}

FileActions::~FileActions() { window_.removeEventFilter(this); }

void FileActions::Open() {
    if (loading_) return;
    loading_ = true;
    const std::optional<std::string> chosen = loader_.AskForObjectFile();
    loading_ = false;
    if (chosen) Load(*chosen, false);
}

void FileActions::Reload() { Load(loader_.ObjectPath(), true); }

void FileActions::OpenFile(const std::string& path) { Load(path, false); }

void FileActions::Load(std::string path, bool keepView) {
    if (loading_) return;
    loading_ = true;
    const FileState before = StateOf(path);
    // The model shown stays until the new one has loaded, but not what its redraws kept.
    window_.ReleaseDrawingWork();
    const std::optional<LoadedModel> loaded = loader_.Replace(path);
    const bool replaced = loaded.has_value();
    if (replaced) window_.ReplaceModel(*loaded, keepView);
    // A failed load of the file shown is not tried again until the file changes once more.
    if (path == loader_.ObjectPath()) tried_ = before;
    loading_ = false;
    if (replaced) WatchShownFile();
}

bool FileActions::eventFilter(QObject* watched, QEvent* event) {
    if (watched != &window_) return false;
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        if (DroppedFile(drag->mimeData()).empty()) return false;
        drag->acceptProposedAction();
        return true;
    }
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        const std::string path = DroppedFile(drop->mimeData());
        if (path.empty()) return false;
        drop->acceptProposedAction();
        // Loaded once the drop is over: the source of the drag is not kept waiting through a
        // load or its message box.
        QMetaObject::invokeMethod(this, [this, path] { OpenFile(path); }, Qt::QueuedConnection);
        return true;
    }
    default:
        return false;
    }
}

// ---- Watching ------------------------------------------------------------------------------

FileActions::FileState FileActions::StateOf(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return {};
    return {true,
            static_cast<unsigned long long>(info.st_dev),
            static_cast<unsigned long long>(info.st_ino),
            static_cast<unsigned long long>(info.st_size),
            static_cast<long long>(info.st_mtim.tv_sec),
            static_cast<long long>(info.st_mtim.tv_nsec),
            static_cast<long long>(info.st_ctim.tv_sec),
            static_cast<long long>(info.st_ctim.tv_nsec)};
}

void FileActions::WatchShownFile() {
    if (!watcher_) return;
    const QString file = QFile::decodeName(QByteArray::fromStdString(loader_.ObjectPath()));
    const QString folder = QFileInfo(file).absolutePath();
    const QStringList kept = watcher_->files() + watcher_->directories();
    if (!kept.isEmpty()) watcher_->removePaths(kept);
    watcher_->addPath(folder);
    if (QFileInfo::exists(file)) watcher_->addPath(file);
}

void FileActions::FileTouched() {
    // A file replaced by a rename is a new file: watch that one from now on.
    const QString file = QFile::decodeName(QByteArray::fromStdString(loader_.ObjectPath()));
    if (!watcher_->files().contains(file) && QFileInfo::exists(file)) watcher_->addPath(file);
    // Settled once two looks a settle time apart find the same file; a busy folder must not
    // put that off for ever, so a running wait is not started again.
    if (settle_.isActive()) return;
    settling_ = StateOf(loader_.ObjectPath());
    settle_.start();
}

void FileActions::CheckSettled() {
    const FileState now = StateOf(loader_.ObjectPath());
    if (loading_ || !(now == settling_)) {
        settling_ = now;
        settle_.start();
        return;
    }
    if (!now.exists || now == tried_) return;
    Load(loader_.ObjectPath(), true);
}

}  // namespace trenn
