// What the viewer window does with files, driven as a user would: a file dropped on the
// window, Ctrl+O and F5 pressed wherever the focus is; through the real loader, with a
// scripted open-file dialog and message boxes that are only recorded.

#include <QApplication>
#include <QCheckBox>
#include <QDropEvent>
#include <QMimeData>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/main_module.h"
#include "app/model_assembly.h"
#include "model/mesh.h"
#include "dialog/common_dialog.h"
#include "elf/elf_data.h"
#include "elfgen/elf_builder.h"
#include "qt/file_actions.h"
#include "qt/save_actions.h"
#include "qt/frm_trenn.h"
#include "qt/part_list.h"
#include "qt/picture_box.h"
#include "model/rotation.h"
#include "support/temp_dir.h"
#include "support/blank_picture.h"

namespace trenn {
namespace {

constexpr float kStep = 0.0872777775f;

class RecordingPlatform : public StartupPlatform {
public:
    explicit RecordingPlatform(FrmTrenn& window, std::string temp) : window_(window), temp_(std::move(temp)) {}
    std::vector<std::string> messages;
    std::vector<std::string> details;

    std::optional<std::string> Environment(const char* name) const override {
        if (std::string(name) == "TEMP") return temp_;
        return std::nullopt;
    }
    double SecondsSinceMidnight() const override { return 3600.0; }
    char DecimalSeparator() const override { return '.'; }
    ViewerWindow& LoadViewerWindow() override { return window_; }
    void ShowMessage(const std::string& text, const std::string&, const std::string& detail) override {
        messages.push_back(text);
        details.push_back(detail);
    }

private:
    FrmTrenn& window_;
    std::string temp_;
};

class ScriptedDialog : public OpenFileDialogPlatform {
public:
    std::string answer;
    std::vector<OpenFileName> requests;
    std::int32_t GetOpenFileNameA(OpenFileName& request) override {
        requests.push_back(request);
        request.lpstrFile = answer + std::string(260 - answer.size(), '\0');
        request.lpstrFileTitle = std::string(260, '\0');
        return 1;
    }
    std::int32_t CommDlgExtendedError() override { return 0; }
};

// Two parts; `squeezed` narrows the first one, so that the picture changes and the names stay.
elfgen::Bytes TwoParts(bool squeezed) {
    elfgen::Mesh first = elfgen::MakeCube(1.0f);
    if (squeezed) {
        for (auto& v : first.vertices) v[0] *= 0.3f;
    }
    return elfgen::BuildModelObject({{"_first", first}, {"_second", elfgen::MakeCube(2.0f)}});
}

std::vector<std::string> ListTexts(const FrmTrenn& window) {
    std::vector<std::string> texts;
    for (int i = 0; i < window.lstParts()->ListCount(); ++i) {
        texts.push_back(window.lstParts()->item(i)->text().toStdString());
    }
    return texts;
}

std::vector<bool> Ticks(const FrmTrenn& window) {
    std::vector<bool> ticks;
    for (int i = 0; i < window.lstParts()->ListCount(); ++i) ticks.push_back(window.lstParts()->Selected(i));
    return ticks;
}

// A window started on model.o (two parts) with the first part ticked and the view turned one
// step left, the file handling in place.
struct Viewer {
    Viewer(const std::string& objectFile, const std::string& tempDir, bool watch = false)
        : model(objectFile), platform(window, tempDir) {
        g_symbols.reset();
        g_parts.clear();
        g_errorText.clear();
        SetOpenFileDialogPlatform(&dialog);
        started = loader.Start(objectFile) == StartupOutcome::WindowShown;
        window.ShowModel(loader.Model());
        files = std::make_unique<FileActions>(window, loader, watch);
        saves = std::make_unique<SaveActions>(
            window, [this] { return loader.ObjectPath(); },
            [this](const QString& title, const std::string& proposed, const QStringList& filters, QString& filter) {
                saveRequests.push_back({title, proposed, filters, filter});
                if (!saveFilter.isEmpty()) filter = saveFilter;
                return saveAnswer;
            },
            [this](const std::string& text, const std::string& title, const std::string& detail) {
                told.push_back({text, title, detail});
            });
        window.activateWindow();
        started = started && QTest::qWaitForWindowActive(&window);
        window.lstParts()->SetSelected(0, true);
        QTest::mouseClick(window.picShow(), Qt::LeftButton, {}, QPoint(200, 175));
        QTest::keyClick(window.picShow(), Qt::Key_Left);
        shown = window.picShow()->Image().copy();
    }
    ~Viewer() {
        saves.reset();
        files.reset();
        SetOpenFileDialogPlatform(nullptr);
        g_parts.clear();
        g_symbols.reset();
    }

    void Drop(const std::string& path) { DropUrl(QUrl::fromLocalFile(QString::fromStdString(path)), true); }
    // A file manager's drop: the address as it sends it; whether the window takes it.
    void DropUrl(const QUrl& url, bool taken) {
        QMimeData data;
        data.setUrls({url});
        const QPoint at(300, 150);
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        enter.ignore();
        QApplication::sendEvent(&window, &enter);
        EXPECT_EQ(enter.isAccepted(), taken);
        QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        drop.ignore();
        QApplication::sendEvent(&window, &drop);
        EXPECT_EQ(drop.isAccepted(), taken);
        QCoreApplication::sendPostedEvents();  // the load waits until the drop is over
    }
    void CtrlO(const std::string& path) {
        dialog.answer = path;
        QTest::keyClick(window.lstParts(), Qt::Key_O, Qt::ControlModifier);
    }

    std::string model;
    FrmTrenn window;
    RecordingPlatform platform;
    ScriptedDialog dialog;
    ObjectLoader loader{platform};
    std::unique_ptr<FileActions> files;
    // The save dialog's answer (none: cancelled) and the format chosen in it (empty: the one
    // offered); what it was asked; the message boxes of saving.
    std::optional<std::string> saveAnswer;
    QString saveFilter;
    struct SaveRequest {
        QString title;
        std::string proposed;
        QStringList filters;
        QString filter;
    };
    std::vector<SaveRequest> saveRequests;
    std::vector<std::array<std::string, 3>> told;
    std::unique_ptr<SaveActions> saves;
    bool started = false;
    QImage shown;
};

class FileHandling : public ::testing::Test {
protected:
    std::string Write(const std::string& name, const elfgen::Bytes& bytes) {
        const std::string path = dir.File(name);
        elfgen::WriteFile(path, bytes);
        return path;
    }
    // A fresh viewer on model.o as SetUp describes it.
    std::unique_ptr<Viewer> Start(bool watch = false) {
        auto viewer = std::make_unique<Viewer>(Write("model.o", TwoParts(false)), temp.Path(), watch);
        EXPECT_TRUE(viewer->started);
        EXPECT_EQ(viewer->window.Yaw(), kStep);
        return viewer;
    }

    TempDir dir;
    TempDir temp;
};

// Another file, dropped or chosen with Ctrl+O, starts as a first load does: its own list,
// nothing ticked, the start view and a blank picture.
TEST_F(FileHandling, OpeningAnotherFileStartsAfresh) {
    const std::string other = Write("other.o", elfgen::BuildModelObject({{"_cube", elfgen::MakeCube(3.0f)}}));
    const std::map<std::string, std::function<void(Viewer&)>> ways = {
        {"dropped", [&](Viewer& v) { v.Drop(other); }},
        {"Ctrl+O", [&](Viewer& v) { v.CtrlO(other); }},
    };
    for (const auto& [way, open] : ways) {
        SCOPED_TRACE(way);
        const auto v = Start();
        open(*v);
        EXPECT_TRUE(v->platform.messages.empty());
        EXPECT_EQ(ListTexts(v->window), std::vector<std::string>{"_cube"});
        EXPECT_EQ(Ticks(v->window), std::vector<bool>{false});
        EXPECT_EQ(v->window.Yaw(), 0.0f);
        EXPECT_TRUE(IsBlank(*v->window.picShow()));
        EXPECT_EQ(v->loader.ObjectPath(), other);
        ASSERT_EQ(g_parts.size(), 1u);
        EXPECT_EQ(g_parts[0].vertices.size(), 24u);
        if (way == "Ctrl+O") {
            // The request of start-up.
            ASSERT_EQ(v->dialog.requests.size(), 1u);
            EXPECT_EQ(*v->dialog.requests[0].lpstrTitle, "Open file");
            EXPECT_EQ(*v->dialog.requests[0].lpstrFilter, std::string(".o files (*.o)\0*.o\0\0", 20));
            EXPECT_EQ(v->dialog.requests[0].Flags, OFN_FILEMUSTEXIST | OFN_HIDEREADONLY);
        }
    }
}

// F5 reads the file shown again wherever the focus is: the view and the ticks stay, the
// picture follows the file, and the arrows still turn in the picture.
TEST_F(FileHandling, F5LoadsTheFileAgainKeepingViewAndTicks) {
    const std::map<std::string, std::function<QWidget*(FrmTrenn&)>> focus = {
        {"picture", [](FrmTrenn& w) -> QWidget* { return w.picShow(); }},
        {"part list", [](FrmTrenn& w) -> QWidget* { return w.lstParts(); }},
        {"Up/Down box", [](FrmTrenn& w) -> QWidget* { return w.chkVertical(); }},
    };
    for (const auto& [where, widget] : focus) {
        SCOPED_TRACE(where);
        const auto v = Start();
        QTest::keyClick(v->window.picShow(), Qt::Key_Plus);  // the zoom is part of the view
        const double zoom = v->window.View().Zoom();
        Write("model.o", TwoParts(true));
        QWidget* target = widget(v->window);
        target->setFocus();
        QTest::keyClick(target, Qt::Key_F5);
        EXPECT_TRUE(v->platform.messages.empty());
        EXPECT_EQ(ListTexts(v->window), (std::vector<std::string>{"_first", "_second"}));
        EXPECT_EQ(Ticks(v->window), (std::vector<bool>{true, false}));
        EXPECT_EQ(v->window.Yaw(), kStep);
        EXPECT_EQ(v->window.View().Zoom(), zoom);
        EXPECT_NE(v->window.picShow()->Image(), v->shown);
        EXPECT_FALSE(IsBlank(*v->window.picShow()));
        QTest::keyClick(v->window.picShow(), Qt::Key_Left);
        EXPECT_EQ(v->window.Yaw(), 0.174555555f);
    }
}

// A load that fails, however it was asked for, shows the start-up message and leaves the
// window and the model as they were.
TEST_F(FileHandling, AFailedLoadKeepsTheModelShown) {
    const std::string text = Write("notes.o", {'n', 'o', 't', 'e', 's'});
    const std::map<std::string, std::function<std::string(Viewer&)>> ways = {
        {"dropped", [&](Viewer& v) { v.Drop(text); return text; }},
        {"Ctrl+O", [&](Viewer& v) { v.CtrlO(text); return text; }},
        {"F5", [&](Viewer& v) {
             Write("model.o", {'n', 'o', 't', 'e', 's'});
             QTest::keyClick(v.window.lstParts(), Qt::Key_F5);
             return v.model;
         }},
    };
    for (const auto& [way, load] : ways) {
        SCOPED_TRACE(way);
        const auto v = Start();
        const unsigned char* bytes = g_parts.at(0).vertices.StoredData();
        const std::string path = load(*v);
        ASSERT_EQ(v->platform.messages.size(), 1u);
        EXPECT_EQ(v->platform.messages[0], FailureMessage(path, "Magic does not match! This is not an ELF file!"));
        EXPECT_EQ(v->platform.details[0], "the first four bytes of " + path + " are not 7F 45 4C 46");
        EXPECT_EQ(ListTexts(v->window), (std::vector<std::string>{"_first", "_second"}));
        EXPECT_EQ(Ticks(v->window), (std::vector<bool>{true, false}));
        EXPECT_EQ(v->window.Yaw(), kStep);
        EXPECT_EQ(v->window.picShow()->Image(), v->shown);
        EXPECT_EQ(g_parts.at(0).vertices.StoredData(), bytes);
        EXPECT_EQ(v->loader.ObjectPath(), v->model);
    }
}

// A dropped address is the path's bytes, percent-encoded: a name that is not UTF-8 opens
// that very file; an address holding a NUL names no file, and the drop is refused.
TEST_F(FileHandling, DroppedNamesKeepTheirBytes) {
    const std::string raw = "cube\xff\xfe.o";
    const std::string cube = Write(raw, elfgen::BuildModelObject({{"_cube", elfgen::MakeCube(3.0f)}}));
    Write("cube", elfgen::BuildModelObject({{"_cut", elfgen::MakeCube(3.0f)}}));
    const QByteArray encoded = "file://" + QByteArray::fromStdString(dir.Path()).toPercentEncoding("/");
    const struct {
        const char* what;
        QByteArray address;
        bool taken;
        std::string opened;  // the file shown afterwards; empty: the first model
        std::vector<std::string> list;
    } cases[] = {
        {"bytes that are not UTF-8", encoded + "/cube%FF%FE.o", true, cube, {"_cube"}},
        {"a NUL in the name", encoded + "/cube%00%FF%FE.o", false, "", {"_first", "_second"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto v = Start();
        v->DropUrl(QUrl::fromEncoded(c.address), c.taken);
        EXPECT_TRUE(v->platform.messages.empty());
        EXPECT_EQ(v->loader.ObjectPath(), c.opened.empty() ? v->model : c.opened);
        EXPECT_EQ(ListTexts(v->window), c.list);
    }
}

// F5 shows the file as it now is from the view the user chose: at the start view that is the
// new file's own start view (its extent may have changed), zoomed it is the same zoom over it.
// Either way the picture is the one a window started on the new file shows after the same keys.
TEST_F(FileHandling, F5KeepsTheViewTheUserChose) {
    const elfgen::Bytes grown = elfgen::BuildModelObject(
        {{"_first", elfgen::MakeCube(1.0f)}, {"_second", elfgen::MakeCube(5.0f)}});
    for (const bool zoomed : {false, true}) {
        SCOPED_TRACE(zoomed ? "zoomed" : "start view");
        QImage reloaded;
        {
            const auto v = Start();
            if (zoomed) QTest::keyClick(v->window.picShow(), Qt::Key_Plus);
            Write("model.o", grown);
            QTest::keyClick(v->window.picShow(), Qt::Key_F5);
            ASSERT_TRUE(v->platform.messages.empty());
            reloaded = v->window.picShow()->Image().copy();
        }
        Viewer fresh(Write("grown.o", grown), temp.Path());
        ASSERT_TRUE(fresh.started);
        if (zoomed) QTest::keyClick(fresh.window.picShow(), Qt::Key_Plus);
        EXPECT_EQ(fresh.window.picShow()->Image(), reloaded);
    }
}

// Watching follows the file, not just its first version: a broken version renamed over it
// is tried once (one message) and not again while nothing changes but the folder around it;
// the next version written into the renamed file shows, though no load succeeded in between
// to watch it anew.
TEST_F(FileHandling, WatchingFollowsRenamesAndTriesAFailedVersionOnce) {
    const auto v = Start(true);
    const std::string model = v->model;
    const auto waitFor = [](const std::function<bool()>& done) { return QTest::qWaitFor(done, 5000); };
    Write("model.o.new", {'b', 'r', 'o', 'k', 'e', 'n'});
    ASSERT_EQ(std::rename(dir.File("model.o.new").c_str(), model.c_str()), 0);
    ASSERT_TRUE(waitFor([&] { return v->platform.messages.size() == 1; })) << "the broken version was not tried";
    for (int i = 0; i < 3; ++i) {
        Write("unrelated-" + std::to_string(i), {'x'});
        QTest::qWait(300);
    }
    EXPECT_EQ(v->platform.messages.size(), 1u) << "the failed version was tried again";
    elfgen::WriteFile(model, TwoParts(true));
    EXPECT_TRUE(waitFor([&] { return v->window.picShow()->Image() != v->shown; }))
        << "the version written into the renamed file did not show";
    EXPECT_EQ(v->platform.messages.size(), 1u);
    EXPECT_EQ(Ticks(v->window), (std::vector<bool>{true, false}));
}

std::string FileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::set<std::string> Entries(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.insert(entry.path().filename().string());
    return names;
}

// Ctrl+E writes the ticked parts in the format the name or, without an extension, the dialog's
// choice names; Ctrl+S the picture as shown, wireframe or shaded. Neither key changes the
// picture.
TEST_F(FileHandling, CtrlEAndCtrlSWriteTheChosenFile) {
    const struct {
        Qt::Key key;
        bool shaded;        // S pressed first
        const char* typed;  // in the dialog
        QString filter;     // chosen there; empty: the one offered
        const char* written;
        std::string start;  // of the file
    } rows[] = {
        {Qt::Key_E, false, "parts", "", "parts.obj", "# "},
        {Qt::Key_E, false, "parts", "glTF 2.0, binary (*.glb)", "parts.glb", "glTF"},
        {Qt::Key_E, false, "parts.PLY", "Wavefront OBJ (*.obj)", "parts.PLY", "ply\nformat binary_little_endian"},
        {Qt::Key_E, false, "parts.stl", "", "parts.stl", ""},
        {Qt::Key_S, false, "shot", "", "shot.png", "\x89PNG"},
        {Qt::Key_S, true, "shot.PNG", "", "shot.PNG", "\x89PNG"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.typed);
        const auto v = Start();
        if (row.shaded) QTest::keyClick(v->window.picShow(), Qt::Key_S);
        const QImage picture = v->window.picShow()->Image().copy();
        const int redraws = v->window.RedrawCount();
        v->saveAnswer = dir.File(row.typed);
        v->saveFilter = row.filter;
        QTest::keyClick(v->window.picShow(), row.key, Qt::ControlModifier);
        EXPECT_EQ(v->told, (std::vector<std::array<std::string, 3>>{}));
        ASSERT_EQ(v->saveRequests.size(), 1u);
        const Viewer::SaveRequest& asked = v->saveRequests[0];
        EXPECT_EQ(v->window.RedrawCount(), redraws + 1) << "Ctrl, a key of its own, redraws";
        EXPECT_EQ(v->window.picShow()->Image(), picture);
        EXPECT_EQ(v->window.Shaded(), row.shaded);
        EXPECT_FALSE(v->window.EdgesShown());
        EXPECT_EQ(Entries(dir.Path()), (std::set<std::string>{"model.o", row.written}));
        const std::string bytes = FileText(dir.File(row.written));
        const QImage saved(QString::fromStdString(dir.File(row.written)));
        std::filesystem::remove(dir.File(row.written));
        EXPECT_EQ(bytes.substr(0, row.start.size()), row.start);
        if (row.key == Qt::Key_S) {
            EXPECT_EQ(asked.title, "Save picture");
            EXPECT_EQ(asked.proposed, dir.File("model.png"));
            EXPECT_EQ(asked.filters, QStringList{"PNG picture (*.png)"});
            EXPECT_EQ(saved.convertToFormat(picture.format()), picture);
            continue;
        }
        EXPECT_EQ(asked.title, "Export parts");
        EXPECT_EQ(asked.proposed, dir.File("model.obj"));
        EXPECT_EQ(asked.filters, ExportFilters());
        EXPECT_EQ(asked.filter, "Wavefront OBJ (*.obj)");
        if (row.start.empty()) {  // binary STL: a header, the count, 50 bytes a triangle
            ASSERT_GE(bytes.size(), 84u);
            std::uint32_t triangles = 0;
            std::memcpy(&triangles, bytes.data() + 80, 4);
            EXPECT_GT(triangles, 0u);
            EXPECT_EQ(bytes.size(), 84u + 50u * triangles);
        }
        if (row.start == "# ") {  // only the ticked part
            EXPECT_NE(bytes.find("\no _first\n"), std::string::npos);
            EXPECT_EQ(bytes.find("_second"), std::string::npos);
        }
    }
}

// A file that cannot be written is told with its reason and leaves nothing behind; with nothing
// ticked Ctrl+E asks for nothing; a cancelled dialog writes nothing and tells nothing.
TEST_F(FileHandling, ExportAndSaveFailuresAreToldAndLeaveNoFile) {
    std::filesystem::create_directory(dir.File("taken.obj"));
    const std::string missing = dir.File("missing/parts.obj");
    const std::string missingPicture = dir.File("missing/shot.png");
    const std::string taken = dir.File("taken.obj");
    const struct {
        const char* name;
        Qt::Key key;
        bool tickNone;
        std::optional<std::string> answer;
        std::vector<std::array<std::string, 3>> told;
    } rows[] = {
        {"no folder", Qt::Key_E, false, missing,
         {{"The parts could not be exported to " + missing + ".", "Error",
           "cannot write " + missing + ": No such file or directory"}}},
        {"no folder for the picture", Qt::Key_S, false, missingPicture,
         {{"The picture could not be saved to " + missingPicture + ".", "Error",
           "cannot write " + missingPicture + ": No such file or directory"}}},
        {"a folder in the way", Qt::Key_E, false, taken,
         {{"The parts could not be exported to " + taken + ".", "Error", "cannot write " + taken + ": Is a directory"}}},
        {"nothing ticked", Qt::Key_E, true, dir.File("parts.obj"),
         {{"No part is ticked. Tick the parts to export, then press Ctrl+E again.", "Export parts", ""}}},
        {"cancelled", Qt::Key_E, false, std::nullopt, {}},
        {"picture cancelled", Qt::Key_S, false, std::nullopt, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto v = Start();
        if (row.tickNone) v->window.lstParts()->SetSelected(0, false);
        v->saveAnswer = row.answer;
        QTest::keyClick(v->window.lstParts(), row.key, Qt::ControlModifier);
        EXPECT_EQ(v->told, row.told);
        EXPECT_EQ(v->saveRequests.size(), row.tickNone ? 0u : 1u);
        EXPECT_EQ(Entries(dir.Path()), (std::set<std::string>{"model.o", "taken.obj"}));
        EXPECT_TRUE(std::filesystem::is_empty(taken));
    }
}

}  // namespace
}  // namespace trenn
