#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>

#include "dialog/common_dialog.h"
#include "runtime/load_failure.h"

using namespace trenn;
using namespace std::string_literals;

namespace {

// Records the request and answers as scripted.
class FakeDialog : public OpenFileDialogPlatform {
public:
    std::int32_t GetOpenFileNameA(OpenFileName& request) override {
        ++calls;
        seen = request;
        if (answer) answer(request);
        return result;
    }
    std::int32_t CommDlgExtendedError() override { return error; }

    int calls = 0;
    OpenFileName seen;
    std::function<void(OpenFileName&)> answer;
    std::int32_t result = 0;
    std::int32_t error = 0;
};

std::string Buffer(const std::string& text) { return text + std::string(260 - text.size(), '\0'); }

// The thirteen arguments, starting as Main passes them.
struct Args {
    DialogString fileName = ""s;
    DialogString fileTitle;
    Bool16 fileMustExist = kTrue;
    Bool16 multiSelect = kFalse;
    Bool16 readOnly = kFalse;
    Bool16 hideReadOnly = kTrue;
    DialogString filter = ".o files (*.o)|*.o"s;
    std::int32_t filterIndex = 1;
    DialogString initialDir;
    DialogString dialogTitle = "Open file"s;
    DialogString defaultExt = "o"s;
    std::int32_t ownerWindow = -1;
    std::int32_t flags = 0;

    Bool16 Show() {
        return ShowOpen(fileName, fileTitle, fileMustExist, multiSelect, readOnly, hideReadOnly,
                        filter, filterIndex, initialDir, dialogTitle, defaultExt, ownerWindow,
                        flags);
    }
};

class ShowOpenDialog : public ::testing::Test {
protected:
    void SetUp() override {
        SetOpenFileDialogPlatform(&fake);
        g_lastDialogResult = 77;
        g_lastDialogError = 77;
    }
    void TearDown() override { SetOpenFileDialogPlatform(nullptr); }

    // The user picks `path` (named `title`) with pair `index` in effect.
    void ScriptChoice(const std::string& path, const std::string& title, std::int32_t index,
                      std::int32_t flags) {
        fake.result = 1;
        fake.answer = [=](OpenFileName& r) {
            r.lpstrFile = Buffer(path);
            r.lpstrFileTitle = Buffer(title);
            r.nFilterIndex = index;
            r.Flags = flags;
        };
    }

    FakeDialog fake;
    Args args;
};

}  // namespace

TEST_F(ShowOpenDialog, MainsArgumentsBuildTheRequest) {
    args.Show();
    ASSERT_EQ(fake.calls, 1);
    const OpenFileName& r = fake.seen;
    EXPECT_EQ(r.lStructSize, 76);
    EXPECT_EQ(r.hwndOwner, 0);
    EXPECT_EQ(r.Flags, 0x1004);
    EXPECT_EQ(r.lpstrFilter, ".o files (*.o)\0*.o\0\0"s);
    EXPECT_EQ(r.nFilterIndex, 1);
    EXPECT_EQ(r.lpstrFile, std::string(260, '\0'));
    EXPECT_EQ(r.lpstrFileTitle, std::string(260, '\0'));
    EXPECT_EQ(r.nMaxFile, 260);
    EXPECT_EQ(r.nMaxFileTitle, 260);
    EXPECT_EQ(r.lpstrInitialDir, std::nullopt);
    EXPECT_EQ(r.lpstrTitle, "Open file"s);
    EXPECT_EQ(r.lpstrDefExt, "o"s);
    EXPECT_EQ(r.hInstance | r.nMaxCustFilter | r.lCustData | r.lpfnHook, 0);
    EXPECT_EQ(r.nFileOffset | r.nFileExtension, 0);
    EXPECT_FALSE(r.lpstrCustomFilter || r.lpTemplateName);
}

TEST_F(ShowOpenDialog, ChoiceComesBackTrimmed) {
    ScriptChoice("/home/u/model.o", "model.o", 1, 0x1004);
    EXPECT_EQ(args.Show(), kTrue);
    EXPECT_EQ(args.fileName, "/home/u/model.o"s);
    EXPECT_EQ(args.fileTitle, "model.o"s);
    EXPECT_EQ(args.filterIndex, 1);
    EXPECT_EQ(args.filter, ".o files (*.o)\0*.o"s);
    EXPECT_EQ(args.flags, 0x1004);
    EXPECT_EQ(args.readOnly, kFalse);
    EXPECT_EQ(g_lastDialogResult, 1);
    EXPECT_EQ(g_lastDialogError, 0);

    // The pair the dialog reports is the one handed back, not the one asked for.
    args.filter = "A|a|B|b"s;
    ScriptChoice("/x", "x", 2, 0);
    args.Show();
    EXPECT_EQ(args.filterIndex, 2);
    EXPECT_EQ(args.filter, "B\0b"s);

    // Several names: only the text before the first NUL (the folder) is kept.
    fake.answer = [](OpenFileName& r) { r.lpstrFile = Buffer("/dir\0a.o\0b.o\0"s); };
    args.Show();
    EXPECT_EQ(args.fileName, "/dir"s);
}

TEST_F(ShowOpenDialog, CancelAndFailureResetTheOutParameters) {
    for (std::int32_t code : {0, 0x3003}) {
        SCOPED_TRACE(code);
        args.fileName = "seed"s;
        args.fileTitle = "seed"s;
        args.readOnly = kTrue;
        args.flags = 0x80000;
        fake.result = 0;
        fake.error = code;
        EXPECT_EQ(args.Show(), kFalse);
        EXPECT_EQ(args.fileName, ""s);
        EXPECT_EQ(args.fileTitle, ""s);
        EXPECT_EQ(args.filter, ""s);
        EXPECT_EQ(args.filterIndex, -1);
        EXPECT_EQ(args.flags, 0);
        EXPECT_EQ(args.readOnly, kTrue);
        EXPECT_EQ(g_lastDialogResult, 0);
        EXPECT_EQ(g_lastDialogError, code);
    }
}

TEST_F(ShowOpenDialog, DefaultPlatformFailsWithACode) {
    SetOpenFileDialogPlatform(nullptr);
    EXPECT_EQ(args.Show(), kFalse);
    EXPECT_EQ(g_lastDialogError, kDialogErrorInitialization);
    EXPECT_EQ(fake.calls, 0);
}

TEST_F(ShowOpenDialog, FilterConversion) {
    const struct { DialogString in; std::string out; } cases[] = {
        {"A: x|*.a"s, "A\0 x\0*.a\0\0"s},  // a colon cuts like a bar
        {""s, "\0\0"s},
        {std::nullopt, "\0\0"s},
        {"||"s, "\0\0\0\0"s},
        {"a|b|"s, "a\0b\0\0\0"s},
    };
    for (const auto& c : cases) {
        args.filter = c.in;
        args.Show();
        EXPECT_EQ(fake.seen.lpstrFilter, c.out) << c.in.value_or("(null)");
    }
}

TEST_F(ShowOpenDialog, FlagWord) {
    const struct { Bool16 mustExist, multi, readOnly, hide; std::int32_t flags, expected; } cases[] = {
        {0, 0, 0, 0, 0, 0},
        {0, 0, 0, 0, 0x60, 0},
        {0, 0, 0, 0, 0x80000, 0x80000},
        {0, -1, 0, 0, 0, 0x200},
        {0, 0, -1, 0, 0, 0x1},
        {-1, -1, -1, -1, 0x7F, 0x121F},
        {0, 0, 0, 0, -1, ~0x60},
    };
    for (const auto& c : cases) {
        args.fileMustExist = c.mustExist;
        args.multiSelect = c.multi;
        args.readOnly = c.readOnly;
        args.hideReadOnly = c.hide;
        args.flags = c.flags;
        args.Show();
        EXPECT_EQ(fake.seen.Flags, c.expected) << std::hex << c.flags;
    }
}

TEST_F(ShowOpenDialog, OwnerAndPassedThroughStrings) {
    for (auto [in, out] : {std::pair{-1, 0}, {0, 0}, {5, 5}, {-2, -2}}) {
        args.ownerWindow = in;
        args.Show();
        EXPECT_EQ(fake.seen.hwndOwner, out) << in;
    }
    args.initialDir = "/srv/models"s;
    args.dialogTitle = ""s;
    args.defaultExt = std::nullopt;
    args.Show();
    EXPECT_EQ(fake.seen.lpstrInitialDir, "/srv/models"s);
    EXPECT_EQ(fake.seen.lpstrTitle, ""s);
    EXPECT_EQ(fake.seen.lpstrDefExt, std::nullopt);
}

TEST_F(ShowOpenDialog, ReadOnlyIsSetButNeverCleared) {
    const struct { Bool16 in; std::int32_t returned; Bool16 out; } cases[] = {
        {kTrue, 0, kTrue}, {kFalse, OFN_READONLY, kTrue}, {kFalse, 0, kFalse}};
    for (const auto& c : cases) {
        args.readOnly = c.in;
        ScriptChoice("/f", "f", 1, c.returned);
        args.Show();
        EXPECT_EQ(args.readOnly, c.out) << c.in << " " << c.returned;
    }
}

TEST_F(ShowOpenDialog, LimitsFailBeforeTheDialog) {
    args.fileName = std::string(260, 'n');
    args.fileTitle = std::string(260, 't');
    args.filter = std::string(32766, 'f');
    args.Show();
    EXPECT_EQ(fake.seen.lpstrFile, std::string(260, 'n'));
    EXPECT_EQ(fake.seen.lpstrFileTitle, std::string(260, 't'));
    EXPECT_EQ(fake.seen.lpstrFilter->size(), 32768u);

    fake.calls = 0;
    const auto expectFailure = [&](Args a) {
        EXPECT_THROW(a.Show(), LoadFailure);
        EXPECT_EQ(fake.calls, 0);
    };
    Args a;
    a.fileName = std::string(261, 'n');
    expectFailure(a);
    a = Args();
    a.fileTitle = std::string(261, 't');
    expectFailure(a);
    a = Args();
    a.filter = std::string(32767, 'f');
    expectFailure(a);
}

TEST(TrimAtNull, CutsAtTheFirstNul) {
    const struct { DialogString in; std::string out; } cases[] = {
        {""s, ""s}, {"\0abc"s, ""s}, {"abc"s, "abc"s}, {"ab\0c\0"s, "ab"s}, {std::nullopt, ""s}};
    for (const auto& c : cases) EXPECT_EQ(TrimAtNull(c.in), c.out) << c.in.value_or("(null)");
}

TEST(GetFilterPair, WalksThePairs) {
    const std::string two = "A\0a\0B\0b\0\0"s;
    const std::string one = ".o files (*.o)\0*.o\0\0"s;
    const struct { std::string filter; std::int32_t index; std::string out; } cases[] = {
        {two, 1, "A\0a"s},
        {two, 2, "B\0b"s},
        {two, 3, ""s},
        {two, 0, ""s},
        {two, -1, ""s},
        {two, INT_MIN, ""s},
        {two, INT_MAX, ""s},
        {one, 1, ".o files (*.o)\0*.o"s},
        {one, 2, ""s},  // the closing NUL is no pair
        {""s, 1, ""s},
        {""s, 0, ""s},
        {"abc"s, 1, ""s},
        {"A\0a"s, 1, "A\0a"s},  // an unterminated last pair runs to the end
        {"A\0a"s, 2, ""s},
        {"\0\0\0\0"s, 2, "\0"s},  // empty fields still count
    };
    for (const auto& c : cases) {
        EXPECT_EQ(GetFilterPair(c.filter, c.index), c.out)
            << testing::PrintToString(c.filter) << " #" << c.index;
    }
}
