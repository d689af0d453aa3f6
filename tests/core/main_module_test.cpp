#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <string>

#include "app/command_line.h"
#include "app/main_module.h"
#include "app/model_assembly.h"
#include "model/mesh.h"
#include "app/part_ticks.h"
#include "dialog/common_dialog.h"
#include "elf/elf_data.h"
#include "elfgen/elf_builder.h"
#include "app/headless_window.h"
#include "support/temp_dir.h"

using namespace trenn;

namespace {

class FakePlatform : public StartupPlatform {
public:
    std::map<std::string, std::string> environment;
    double seconds = 43210.5;
    char separator = '.';
    HeadlessWindow window;
    int windowsLoaded = 0;
    std::vector<std::pair<std::string, std::string>> messages;
    std::vector<std::string> details;  // one per message

    std::optional<std::string> Environment(const char* name) const override {
        const auto it = environment.find(name);
        return it == environment.end() ? std::nullopt : std::optional<std::string>(it->second);
    }
    double SecondsSinceMidnight() const override { return seconds; }
    char DecimalSeparator() const override { return separator; }
    ViewerWindow& LoadViewerWindow() override {
        ++windowsLoaded;
        return window;
    }
    void ShowMessage(const std::string& text, const std::string& title,
                     const std::string& detail) override {
        messages.emplace_back(text, title);
        details.push_back(detail);
    }
};

// Chooses a fixed path (or cancels) and remembers the request.
class ScriptedDialog : public OpenFileDialogPlatform {
public:
    std::optional<std::string> answer;
    OpenFileName seen;
    int shown = 0;
    std::int32_t GetOpenFileNameA(OpenFileName& request) override {
        seen = request;
        ++shown;
        if (!answer) return 0;
        request.lpstrFile = *answer + std::string(260 - answer->size(), '\0');
        request.lpstrFileTitle = std::string(260, '\0');
        return 1;
    }
    std::int32_t CommDlgExtendedError() override { return 0; }
};

class Startup : public ::testing::Test {
protected:
    void SetUp() override {
        platform_.environment["TEMP"] = temp_.Path();
        SetOpenFileDialogPlatform(&dialog_);
        g_errorText.clear();
        g_symbols.reset();
        g_parts.clear();
    }
    void TearDown() override { SetOpenFileDialogPlatform(nullptr); }

    std::string Write(const std::string& name, const elfgen::Bytes& bytes) {
        const std::string path = files_.File(name);
        elfgen::WriteFile(path, bytes);
        return path;
    }

    StartupOutcome Run(const std::string& path) {
        dialog_.answer = path;
        return Main(platform_);
    }

    TempDir temp_;
    TempDir files_;
    FakePlatform platform_;
    ScriptedDialog dialog_;
};

}  // namespace

TEST(StartupText, ScratchPathAndNumberText) {
    EXPECT_EQ(SingleToText(705.5475f, '.'), "705.5475");
    EXPECT_EQ(SingleToText(12.5f, '.'), "12.5");
    EXPECT_EQ(SingleToText(0.0f, '.'), "0");
    EXPECT_EQ(SingleToText(12.5f, ','), "12,5");
    EXPECT_EQ(SingleToText(999.99994f, '.'), "999.9999");
    EXPECT_EQ(BuildScratchPath("/tmp/", 0.7055475f, '.'), "/tmp/Trenn_705.5475.tmp");
    EXPECT_EQ(FailureMessage("/a.o", "why"), "An error occured while loading /a.o\r\n\r\nwhy");
}

TEST(StartupText, TempDirectoryFallbacks) {
    FakePlatform platform;
    platform.environment = {{"TEMP", "/var/t"}};
    EXPECT_EQ(TempDirFromEnvironment(platform), "/var/t/");
    platform.environment = {{"TEMP", "/var/t/"}};
    EXPECT_EQ(TempDirFromEnvironment(platform), "/var/t/");
    platform.environment = {{"TEMP", ""}, {"TMPDIR", "/scratch"}};
    EXPECT_EQ(TempDirFromEnvironment(platform), "/scratch/");
    platform.environment = {{"TEMP", "/var/t"}, {"TMPDIR", "/scratch"}};
    EXPECT_EQ(TempDirFromEnvironment(platform), "/var/t/");
    platform.environment = {};
    EXPECT_EQ(TempDirFromEnvironment(platform), "/tmp/");
}

TEST_F(Startup, AsksForAnObjectFileWithTheFixedRequest) {
    dialog_.answer.reset();
    EXPECT_EQ(Main(platform_), StartupOutcome::Cancelled);
    EXPECT_EQ(dialog_.seen.Flags, 0x1004);
    EXPECT_EQ(*dialog_.seen.lpstrFilter, std::string(".o files (*.o)\0*.o\0\0", 20));
    EXPECT_EQ(*dialog_.seen.lpstrTitle, "Open file");
    EXPECT_EQ(*dialog_.seen.lpstrDefExt, "o");
    EXPECT_FALSE(dialog_.seen.lpstrInitialDir.has_value());
    EXPECT_EQ(dialog_.seen.hwndOwner, 0);
    // A cancel shows nothing, loads no window and writes no scratch file.
    EXPECT_TRUE(platform_.messages.empty());
    EXPECT_EQ(platform_.windowsLoaded, 0);
    EXPECT_EQ(g_tempDir, temp_.Path() + "/");
    EXPECT_TRUE(std::filesystem::is_empty(temp_.Path()));
}

TEST_F(Startup, ExitsWithTheirMessages) {
    const std::string text = Write("notes.txt", {'h', 'e', 'l', 'l', 'o'});
    EXPECT_EQ(Run(text), StartupOutcome::LoadFailed);
    ASSERT_EQ(platform_.messages.size(), 1u);
    EXPECT_EQ(platform_.messages[0].first, "An error occured while loading " + text +
                                               "\r\n\r\nMagic does not match! This is not an ELF file!");
    EXPECT_EQ(platform_.messages[0].second, "Error");

    // An ELF failure other than the magic leaves the reason empty.
    platform_.messages.clear();
    g_errorText.clear();
    elfgen::ElfBuilder bad;
    bad.shnum = 0x8000;
    const std::string badPath = Write("bad.o", bad.Build());
    EXPECT_EQ(Run(badPath), StartupOutcome::LoadFailed);
    EXPECT_EQ(platform_.messages.at(0).first, "An error occured while loading " + badPath + "\r\n\r\n");

    // No symbol table: the catalogue cannot run.
    platform_.messages.clear();
    elfgen::ElfBuilder noSymbols;
    noSymbols.AddProgbits(elfgen::Bytes(64, 1));
    const std::string plain = Write("plain.o", noSymbols.Build());
    EXPECT_EQ(Run(plain), StartupOutcome::Corrupt);
    EXPECT_EQ(platform_.messages.at(0).first,
              "An error occured while loading " + plain +
                  "\r\n\r\nThe .O file is corrupt or does not contain valid mesh data");
    EXPECT_FALSE(platform_.window.shown);
}

TEST_F(Startup, NotUnderstoodWithoutParts) {
    elfgen::ElfBuilder elf;
    const auto data = elf.AddProgbits(elfgen::Bytes(64, 0));
    std::vector<std::uint32_t> names;
    const auto strtab = elf.AddStrtab({"helper"}, &names);
    elf.AddSymtab({{}, {0, 8, 0, 3, 0, data}, {names[0], 16, 0, 0x11, 0, data}}, strtab);
    const std::string path = Write("noparts.o", elf.Build());
    EXPECT_EQ(Run(path), StartupOutcome::NotUnderstood);
    EXPECT_EQ(platform_.messages.at(0).first,
              "An error occured while loading " + path + "\r\n\r\nThis is not an understood .O file");
    EXPECT_FALSE(platform_.window.shown);
}

TEST_F(Startup, LoadsAModelAndShowsTheWindow) {
    const std::string path =
        Write("torus.o", elfgen::BuildModelObject(elfgen::MakeTorusParts(3, 12, 6, 2.0f, 0.5f)));
    EXPECT_EQ(Run(path), StartupOutcome::WindowShown);
    EXPECT_TRUE(platform_.messages.empty());
    EXPECT_TRUE(platform_.window.shown);
    ASSERT_EQ(platform_.window.items.size(), 3u);
    EXPECT_EQ(platform_.window.items[0].text, "_torus_1");
    EXPECT_FLOAT_EQ(platform_.window.scale[2], 2.5f);
    // The scratch file stays behind, named after the random number.
    int scratchFiles = 0;
    for (const auto& entry : std::filesystem::directory_iterator(temp_.Path())) {
        const std::string name = entry.path().filename().string();
        EXPECT_EQ(name.rfind("Trenn_", 0), 0u) << name;
        EXPECT_EQ(name.substr(name.size() - 4), ".tmp");
        ++scratchFiles;
    }
    EXPECT_EQ(scratchFiles, 1);
}

namespace {

std::vector<std::string> ScratchFilesIn(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

// A file named on the command line: no dialog, and the same messages as a file chosen in it,
// with the path as it was given.
TEST_F(Startup, AGivenFileLoadsWithoutTheDialog) {
    Write("torus.o", elfgen::BuildModelObject(elfgen::MakeTorusParts(3, 12, 6, 2.0f, 0.5f)));
    Write("notes.txt", {'h', 'i'});
    const struct {
        std::string given;
        StartupOutcome outcome;
        std::string reason;
    } cases[] = {
        {files_.Path() + "/./torus.o", StartupOutcome::WindowShown, ""},
        {files_.Path() + "//notes.txt", StartupOutcome::LoadFailed,
         "Magic does not match! This is not an ELF file!"},
        {files_.Path() + "/absent.o", StartupOutcome::LoadFailed, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.given);
        platform_.messages.clear();
        g_errorText.clear();
        ObjectLoader loader(platform_);
        EXPECT_EQ(loader.Start(c.given), c.outcome);
        EXPECT_EQ(dialog_.shown, 0);
        if (c.outcome == StartupOutcome::WindowShown) {
            EXPECT_TRUE(platform_.messages.empty());
            EXPECT_EQ(loader.ObjectPath(), c.given);
        } else {
            ASSERT_EQ(platform_.messages.size(), 1u);
            EXPECT_EQ(platform_.messages[0].first, FailureMessage(c.given, c.reason));
        }
    }
}

// Loads after start-up: a good one takes the place of the model shown, with a scratch file of
// its own; a failing one shows the start-up message and leaves model and scratch file alone.
TEST_F(Startup, LaterLoadsReplaceTheModelOnlyWhenTheyLoad) {
    const std::string torus =
        Write("torus.o", elfgen::BuildModelObject(elfgen::MakeTorusParts(3, 12, 6, 2.0f, 0.5f)));
    const std::string cube = Write("cube.o", elfgen::BuildModelObject({{"_cube", elfgen::MakeCube(4.0f)}}));
    elfgen::Mesh nan = elfgen::MakeCube(1.0f);
    nan.vertices[2][1] = std::numeric_limits<float>::quiet_NaN();
    const std::string corrupt = Write("nan.o", elfgen::BuildModelObject({{"_nan", nan}}));
    const std::string text = Write("notes.o", {'h', 'i'});
    elfgen::ElfBuilder unreadable;
    unreadable.shnum = 0x8000;
    const std::string bad = Write("bad.o", unreadable.Build());

    ObjectLoader loader(platform_);
    ASSERT_EQ(loader.Start(torus), StartupOutcome::WindowShown);
    const std::string firstScratch = loader.ScratchPath();

    const std::optional<LoadedModel> loaded = loader.Replace(cube);
    ASSERT_TRUE(loaded.has_value());
    EXPECT_EQ(loaded->listTexts, std::vector<std::string>{"_cube"});
    EXPECT_EQ(loaded->itemData, std::vector<std::int32_t>{g_parts.at(0).symbol});
    EXPECT_FLOAT_EQ(loaded->startScale[2], 4.0f);
    EXPECT_EQ(g_parts.size(), 1u);
    ASSERT_EQ(loaded->parts.size(), 1u);
    EXPECT_EQ(loaded->parts[0].vertices.StoredData(), g_parts[0].vertices.StoredData());
    EXPECT_EQ(loader.Model().listTexts, loaded->listTexts);
    EXPECT_EQ(loader.ObjectPath(), cube);
    EXPECT_NE(loader.ScratchPath(), firstScratch);
    EXPECT_EQ(ScratchFilesIn(temp_.Path()),
              std::vector<std::string>{std::filesystem::path(loader.ScratchPath()).filename().string()});
    // The torus's messages are not carried into the cube's load.
    EXPECT_TRUE(platform_.messages.empty());

    const struct {
        std::string path;
        std::string reason;
        std::string detail;
    } failures[] = {
        {text, "Magic does not match! This is not an ELF file!",
         "the first four bytes of " + text + " are not 7F 45 4C 46"},
        {bad, "", "e_shnum 0x8000 is negative as a 16-bit count"},
        {corrupt, kCorruptReason, "part 1, vertex 2: coordinate is not a number"},
        // After a magic failure, a load failure of another kind has no reason again.
        {bad, "", "e_shnum 0x8000 is negative as a 16-bit count"},
    };
    const MeshPart* shownPart = &g_parts.at(0);
    const unsigned char* shownBytes = g_parts[0].vertices.StoredData();
    const std::vector<SymbolEntry> shownSymbols = *g_symbols;
    const std::string shownScratch = loader.ScratchPath();
    const std::string shownScratchBytes = ReadAll(shownScratch);
    for (const auto& f : failures) {
        SCOPED_TRACE(f.path);
        platform_.messages.clear();
        platform_.details.clear();
        EXPECT_FALSE(loader.Replace(f.path).has_value());
        ASSERT_EQ(platform_.messages.size(), 1u);
        EXPECT_EQ(platform_.messages[0].first, FailureMessage(f.path, f.reason));
        EXPECT_EQ(platform_.messages[0].second, "Error");
        EXPECT_EQ(platform_.details.at(0), f.detail);
        ASSERT_EQ(g_parts.size(), 1u);
        EXPECT_EQ(&g_parts[0], shownPart);
        EXPECT_EQ(g_parts[0].vertices.StoredData(), shownBytes);
        ASSERT_TRUE(g_symbols.has_value());
        EXPECT_EQ(g_symbols->size(), shownSymbols.size());
        EXPECT_EQ(g_symbols->at(0).name, shownSymbols.at(0).name);
        EXPECT_EQ(loader.ObjectPath(), cube);
        EXPECT_EQ(loader.Model().listTexts, std::vector<std::string>{"_cube"});
        EXPECT_EQ(loader.ScratchPath(), shownScratch);
        EXPECT_EQ(ReadAll(shownScratch), shownScratchBytes);
        EXPECT_EQ(ScratchFilesIn(temp_.Path()).size(), 1u);
    }
}

// The loader removes the scratch file it made when it goes, but never a file that took its
// place, and a start that fails leaves none behind.
TEST_F(Startup, OnlyTheScratchFileItMadeIsRemoved) {
    const std::string cube = Write("cube.o", elfgen::BuildModelObject({{"_cube", elfgen::MakeCube(1.0f)}}));
    elfgen::Mesh infinite = elfgen::MakeCube(1.0f);
    infinite.vertices[0][0] = std::numeric_limits<float>::infinity();
    const std::string corrupt = Write("inf.o", elfgen::BuildModelObject({{"_inf", infinite}}));
    const struct {
        const char* what;
        std::string object;
        bool replaceScratch;
        std::size_t left;
    } cases[] = {
        {"its own file", cube, false, 0},
        {"a file renamed over it", cube, true, 1},
        {"a start that failed after writing it", corrupt, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        {
            ObjectLoader loader(platform_);
            loader.Start(c.object);
            if (c.replaceScratch) {
                const std::string other = temp_.File("other");
                std::ofstream(other) << "someone else's";
                ASSERT_EQ(std::rename(other.c_str(), loader.ScratchPath().c_str()), 0);
            }
        }
        EXPECT_EQ(ScratchFilesIn(temp_.Path()).size(), c.left);
        std::filesystem::remove_all(temp_.Path());
        std::filesystem::create_directory(temp_.Path());
    }
}

// A list loaded again is ticked where an entry of the same text was ticked, entries of one
// text matched in their order.
TEST(PartTicks, CarriedOverByTextAndOccurrence) {
    using Texts = std::vector<std::string>;
    using Ticks = std::vector<bool>;
    const struct {
        const char* what;
        Texts before;
        Ticks ticks;
        Texts after;
        Ticks expected;
    } cases[] = {
        {"same list", {"a", "b", "c"}, {true, false, true}, {"a", "b", "c"}, {true, false, true}},
        {"reordered, one gone, one new", {"a", "b", "c"}, {true, true, false}, {"c", "new", "b"}, {false, false, true}},
        {"second of two alike", {"x", "x"}, {false, true}, {"x", "x", "x"}, {false, true, false}},
        {"empty text", {"", "a"}, {true, false}, {"a", ""}, {false, true}},
        {"nothing before", {}, {}, {"a"}, {false}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(TicksCarriedOver(c.before, c.ticks, c.after), c.expected);
    }
}

TEST(CommandLineArguments, ParsedIntoWhatToDo) {
    using A = CommandLine::Action;
    const struct {
        std::vector<std::string> args;
        A action;
        std::optional<std::string> file;
        bool watch;
        std::string error;
    } cases[] = {
        {{}, A::kRun, std::nullopt, false, ""},
        {{"model.o"}, A::kRun, "model.o", false, ""},
        {{"--watch", "model.o"}, A::kRun, "model.o", true, ""},
        {{"model.o", "--watch"}, A::kRun, "model.o", true, ""},
        {{"--watch"}, A::kRun, std::nullopt, true, ""},
        {{"-"}, A::kRun, "-", false, ""},
        {{"--", "-odd.o"}, A::kRun, "-odd.o", false, ""},
        {{"--", "--help"}, A::kRun, "--help", false, ""},
        {{"--bogus", "--help"}, A::kHelp, std::nullopt, false, ""},
        {{"a.o", "-h"}, A::kHelp, std::nullopt, false, ""},
        {{"--version", "--help"}, A::kHelp, std::nullopt, false, ""},
        {{"a.o", "b.o", "--version"}, A::kVersion, std::nullopt, false, ""},
        {{"-w", "a.o"}, A::kUsageError, std::nullopt, false, "unknown option -w"},
        {{"--watch=yes"}, A::kUsageError, std::nullopt, false, "unknown option --watch=yes"},
        {{"a.o", "b.o"}, A::kUsageError, std::nullopt, false, "more than one file: a.o and b.o"},
        {{"a.o", "--", "b.o"}, A::kUsageError, std::nullopt, false, "more than one file: a.o and b.o"},
        {{"--", "a.o", "--"}, A::kUsageError, std::nullopt, false, "more than one file: a.o and --"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        const CommandLine line = ParseCommandLine(c.args);
        EXPECT_EQ(line.action, c.action);
        EXPECT_EQ(line.objectFile, c.file);
        EXPECT_EQ(line.watch, c.watch);
        EXPECT_EQ(line.error, c.error);
    }
}
