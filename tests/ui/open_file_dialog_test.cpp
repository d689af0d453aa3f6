#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QTimer>

#include <filesystem>
#include <fstream>
#include <ostream>
#include <functional>
#include <string>

#include "dialog/common_dialog.h"
#include "qt/open_file_dialog.h"
#include "support/temp_dir.h"

// Readable failure output for Qt strings.
inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }
inline void PrintTo(const QStringList& list, std::ostream* os) {
    *os << '"' << list.join("\", \"").toStdString() << '"';
}

using namespace trenn;
using namespace std::string_literals;

namespace {

std::string Touch(const std::string& path) {
    std::ofstream(path) << "x";
    return path;
}

QCheckBox* ReadOnlyBox(QFileDialog& dialog) {
    return dialog.findChild<QCheckBox*>(QtOpenFileDialog::kReadOnlyBoxObjectName);
}

// Each test first looks at the dialog as configured, then acts on it once it runs modally.
class QtDialog : public ::testing::Test {
protected:
    void Drive(std::function<void(QFileDialog&)> inspect, std::function<void(QFileDialog&)> act) {
        platform.SetShowHook([inspect, act](QFileDialog& dialog) {
            inspect(dialog);
            QTimer::singleShot(0, &dialog, [&dialog, act] {
                const bool modal = QApplication::activeModalWidget() == &dialog;
                EXPECT_TRUE(modal);
                if (modal) act(dialog);
                if (dialog.isVisible()) dialog.reject();  // never hang on a failed step
            });
            // A refused choice opens a message box over the dialog; do not wait on it.
            QTimer::singleShot(10000, &dialog, [&dialog] {
                ADD_FAILURE() << "dialog still open";
                QWidget* top = QApplication::activeModalWidget();
                if (top != nullptr && top != &dialog) top->close();
                dialog.reject();
            });
        });
    }
    static void Choose(QFileDialog& dialog, const std::string& path) {
        dialog.selectFile(QString::fromStdString(path));
        static_cast<QDialog&>(dialog).accept();  // QFileDialog's own accept() is protected
    }
    static OpenFileName Request(const std::string& filter, std::int32_t index, std::int32_t flags,
                                const std::string& initialDir) {
        OpenFileName r;
        r.lStructSize = 76;
        r.lpstrFilter = filter;
        r.nFilterIndex = index;
        r.Flags = flags;
        r.lpstrInitialDir = initialDir;
        r.lpstrFile = std::string(260, '\0');
        r.lpstrFileTitle = std::string(260, '\0');
        r.nMaxFile = r.nMaxFileTitle = 260;
        return r;
    }

    TempDir dir;
    QtOpenFileDialog platform;
};

}  // namespace

TEST_F(QtDialog, MainsRequestChoosesAFileThroughShowOpen) {
    const std::string path = Touch(dir.File("model.o"));
    Drive(
        [](QFileDialog& d) {
            EXPECT_EQ(d.objectName(), QtOpenFileDialog::kDialogObjectName);
            EXPECT_EQ(d.windowTitle(), "Open file");
            EXPECT_EQ(d.nameFilters(), QStringList{".o files (*.o)"});
            EXPECT_EQ(d.selectedNameFilter(), ".o files (*.o)");
            EXPECT_EQ(d.defaultSuffix(), "o");
            EXPECT_EQ(d.fileMode(), QFileDialog::ExistingFile);
            EXPECT_EQ(QDir(d.directory()), QDir::current());  // no start folder given
            ASSERT_NE(ReadOnlyBox(d), nullptr);
            EXPECT_TRUE(ReadOnlyBox(d)->isHidden());
        },
        [&](QFileDialog& d) { Choose(d, path); });
    SetOpenFileDialogPlatform(&platform);
    DialogString fileName = ""s, fileTitle, filter = ".o files (*.o)|*.o"s, initialDir;
    DialogString title = "Open file"s, defaultExt = "o"s;
    Bool16 mustExist = kTrue, multi = kFalse, readOnly = kFalse, hide = kTrue;
    std::int32_t index = 1, owner = -1, flags = 0;
    const Bool16 result = ShowOpen(fileName, fileTitle, mustExist, multi, readOnly, hide, filter,
                                   index, initialDir, title, defaultExt, owner, flags);
    SetOpenFileDialogPlatform(nullptr);
    EXPECT_EQ(result, kTrue);
    EXPECT_EQ(fileName, path);
    EXPECT_EQ(fileTitle, "model.o"s);
    EXPECT_EQ(index, 1);
    EXPECT_EQ(filter, ".o files (*.o)\0*.o"s);
    EXPECT_EQ(flags, 0x1004);
}

TEST_F(QtDialog, CancelReportsCodeZero) {
    Drive([](QFileDialog&) {}, [](QFileDialog& d) { d.reject(); });
    OpenFileName r = Request("A\0*\0\0"s, 1, 0, dir.Path());
    EXPECT_EQ(platform.GetOpenFileNameA(r), 0);
    EXPECT_EQ(platform.CommDlgExtendedError(), 0);
}

TEST_F(QtDialog, PathsThatDoNotFitTheBufferFail) {
    // Two nested folders bring the path to exactly 259 or 260 characters.
    const std::string nested = dir.Path() + "/" + std::string(100, 'd') + "/" + std::string(100, 'e');
    std::filesystem::create_directories(nested);
    for (const std::size_t length : {259u, 260u}) {
        const std::string path = Touch(nested + "/" + std::string(length - nested.size() - 1, 'f'));
        ASSERT_EQ(path.size(), length);
        Drive([](QFileDialog&) {}, [&](QFileDialog& d) { Choose(d, path); });
        OpenFileName r = Request("A\0*\0\0"s, 1, OFN_FILEMUSTEXIST, dir.Path());
        const bool fits = length < 260;
        EXPECT_EQ(platform.GetOpenFileNameA(r) != 0, fits) << length;
        EXPECT_EQ(platform.CommDlgExtendedError(), fits ? 0 : kDialogErrorBufferTooSmall);
        if (fits) {
            EXPECT_EQ(TrimAtNull(r.lpstrFile), path);
        }
    }
    // The code belongs to the last dialog only.
    Drive([](QFileDialog&) {}, [](QFileDialog& d) { d.reject(); });
    OpenFileName r = Request("A\0*\0\0"s, 1, 0, dir.Path());
    platform.GetOpenFileNameA(r);
    EXPECT_EQ(platform.CommDlgExtendedError(), 0);
}

TEST_F(QtDialog, FilterPairsAndReadOnlyBoxRoundTrip) {
    const std::string path = Touch(dir.File("a.txt"));
    const std::string filter = "Text (*.txt)\0*.txt\0Objects\0*.o; *.obj\0\0"s;
    for (const bool tick : {false, true}) {
        Drive(
            [&](QFileDialog& d) {
                EXPECT_EQ(d.nameFilters(), (QStringList{"Text (*.txt)", "Objects (*.o *.obj)"}));
                EXPECT_EQ(d.selectedNameFilter(), "Objects (*.o *.obj)");
                EXPECT_EQ(QDir(d.directory()), QDir(QString::fromStdString(dir.Path())));
                ASSERT_NE(ReadOnlyBox(d), nullptr);
                EXPECT_FALSE(ReadOnlyBox(d)->isHidden());
                EXPECT_EQ(ReadOnlyBox(d)->isChecked(), !tick);
            },
            [&](QFileDialog& d) {
                ReadOnlyBox(d)->setChecked(tick);
                d.selectNameFilter("Text (*.txt)");
                Choose(d, path);
            });
        OpenFileName r = Request(filter, 2, tick ? 0x80000 : 0x80000 | OFN_READONLY, dir.Path());
        ASSERT_NE(platform.GetOpenFileNameA(r), 0);
        EXPECT_EQ(r.nFilterIndex, 1);
        EXPECT_EQ(r.Flags, tick ? 0x80000 | OFN_READONLY : 0x80000);
        EXPECT_EQ(TrimAtNull(r.lpstrFileTitle), "a.txt");
    }
}

TEST_F(QtDialog, TypedNameGetsTheDefaultSuffix) {
    Drive([](QFileDialog& d) { EXPECT_EQ(d.fileMode(), QFileDialog::AnyFile); },
          [&](QFileDialog& d) { Choose(d, "fresh"); });
    OpenFileName r = Request("Objects\0*.o\0\0"s, 1, 0, dir.Path());
    r.lpstrDefExt = "o"s;
    ASSERT_NE(platform.GetOpenFileNameA(r), 0);
    EXPECT_EQ(TrimAtNull(r.lpstrFile), dir.File("fresh.o"));
    EXPECT_EQ(TrimAtNull(r.lpstrFileTitle), "fresh.o");
}

TEST_F(QtDialog, SeveralFilesListTheFolderThenTheNames) {
    Touch(dir.File("a.o"));
    Touch(dir.File("b.o"));
    Drive([](QFileDialog& d) { EXPECT_EQ(d.fileMode(), QFileDialog::ExistingFiles); },
          [](QFileDialog& d) {
              d.selectFile("\"a.o\" \"b.o\"");
              static_cast<QDialog&>(d).accept();
          });
    OpenFileName r = Request("Objects\0*.o\0\0"s, 1, OFN_ALLOWMULTISELECT, dir.Path());
    ASSERT_NE(platform.GetOpenFileNameA(r), 0);
    EXPECT_EQ(r.lpstrFile->substr(0, dir.Path().size() + 10), dir.Path() + "\0a.o\0b.o\0\0"s);
}
