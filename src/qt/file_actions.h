#pragma once

#include <QObject>
#include <QTimer>

#include <memory>
#include <string>

class QAction;
class QFileSystemWatcher;

namespace trenn {

class FrmTrenn;
class ObjectLoader;

// What the viewer window does with files: Ctrl+O opens another through the open-file dialog,
// a file dropped on the window opens as well, F5 loads the file shown again, and when watching
// it is loaded again by itself once it has changed and then stayed unchanged for a moment (a
// file the compiler is still writing is not read half-written). Loading again keeps the view
// and the ticks; opening starts as a first load does. Every load goes through the
// ObjectLoader, and the window changes only when one succeeds.
class FileActions : public QObject {
    Q_OBJECT

public:
    // How long a changed file must stay unchanged before it is loaded again.
    static constexpr int kSettleMilliseconds = 200;

    FileActions(FrmTrenn& window, ObjectLoader& loader, bool watch);
    ~FileActions() override;

    QAction* OpenAction() const { return open_; }
    QAction* ReloadAction() const { return reload_; }

    // Ctrl+O: the open-file dialog, then the file chosen.
    void Open();
    // F5: the file shown, from disk again.
    void Reload();
    // A dropped file: opened as one chosen with Ctrl+O.
    void OpenFile(const std::string& path);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // What tells one version of a file from the next.
    struct FileState {
        bool exists = false;
        unsigned long long device = 0, inode = 0, size = 0;
        long long modifiedSeconds = 0, modifiedNanoseconds = 0;
        long long changedSeconds = 0, changedNanoseconds = 0;
        bool operator==(const FileState&) const = default;
    };
    static FileState StateOf(const std::string& path);

    void Load(std::string path, bool keepView);
    void WatchShownFile();
    void FileTouched();
    void CheckSettled();

    FrmTrenn& window_;
    ObjectLoader& loader_;
    QAction* open_ = nullptr;
    QAction* reload_ = nullptr;
    bool loading_ = false;

    // Watching only: the watch on the file and on its folder (an editor or a compiler that
    // writes a new file and renames it over the old one ends the watch on the file itself),
    // the wait for the file to settle, and the file as it was when last loaded.
    std::unique_ptr<QFileSystemWatcher> watcher_;
    QTimer settle_;
    FileState settling_;
    FileState tried_;
};

}  // namespace trenn
