// Objects made by the system's compiler and assembler while the test runs: what users load.
// They carry what hand-made fixtures tend to miss: an empty .text, .comment, a file symbol
// and other reserved section indices, relocation sections.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "elf/elf_data.h"
#include "support/temp_dir.h"

using namespace trenn;

namespace {

class ToolchainObjects : public ::testing::Test {
protected:
    void SetUp() override {
        g_errorText.clear();
        g_symbols.reset();
        g_loadFailureDetail.clear();
    }

    // Runs `tool` on `source` (written to the temporary folder) and returns the object's path,
    // or "" with the tool's messages in `messages`.
    std::string Make(const std::string& tool, const std::string& sourceName,
                     const std::string& source, std::string& messages) {
        const std::string sourcePath = dir_.File(sourceName);
        const std::string object = sourcePath + ".o";
        const std::string log = dir_.File("tool.log");
        std::ofstream(sourcePath) << source;
        const std::string command =
            tool + " -o '" + object + "' '" + sourcePath + "' > '" + log + "' 2>&1";
        const bool made = std::system(command.c_str()) == 0;
        std::ifstream in(log);
        messages.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        return made ? object : "";
    }

    // Skips the test when the tool cannot make 32-bit objects at all.
    bool ToolWorks(const std::string& tool, const std::string& name, const std::string& source) {
        std::string messages;
        if (!Make(tool, name, source, messages).empty()) return true;
        std::printf("[ skipped  ] '%s' cannot make a 32-bit object here: %s\n", tool.c_str(),
                    messages.c_str());
        return false;
    }

    std::string Scratch() const {
        std::ifstream in(scratch_, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    // Named symbols (section symbols have none) by name.
    static std::map<std::string, std::int32_t> NamedSymbols() {
        std::map<std::string, std::int32_t> named;
        for (const SymbolEntry& s : *g_symbols) {
            if (!s.name.empty()) named[s.name] = s.value;
        }
        return named;
    }

    TempDir dir_;
    std::string scratch_ = dir_.File("Trenn_7.tmp");
};

// .comment lies after .data in the table and lands on the start of the scratch copy, so the
// arrays follow a pad.
constexpr const char* kModelC = R"(
char pad[64] = {1};
int __geoprimdatabufferCube[4] = {0x11111111, 0x22222222, 0x33333333, 0x44444444};
static short __geoprimdatabufferWing[6] = {0x5555, 0x5555, 0x5555, 0x5555, 0x5555, 0x5555};
int counter;
int shared __attribute__((common));
extern int elsewhere;
int *use = &elsewhere;
short *wing = __geoprimdatabufferWing;
)";

TEST_F(ToolchainObjects, CompiledC) {
    const std::string compiler = "gcc -m32 -c -fno-toplevel-reorder";
    if (!ToolWorks(compiler, "probe.c", "int x = 1;\n")) GTEST_SKIP() << "gcc -m32 unavailable";
    std::string messages;
    const std::string object = Make(compiler, "model.c", kModelC, messages);
    ASSERT_NE(object, "") << messages;

    ASSERT_EQ(LoadElfObject(object, scratch_), kTrue) << g_loadFailureDetail;
    ASSERT_TRUE(g_symbols.has_value());
    // counter (.bss), shared (common), elsewhere (undefined) and the file symbol are passed over.
    const auto named = NamedSymbols();
    std::vector<std::string> names;
    for (const auto& [name, value] : named) names.push_back(name);
    EXPECT_EQ(names, (std::vector<std::string>{"__geoprimdatabufferCube", "__geoprimdatabufferWing",
                                               "pad", "use", "wing"}));

    const std::string scratch = Scratch();
    const auto bytesAt = [&](const char* name, std::size_t length) {
        const auto at = static_cast<std::size_t>(named.at(name));
        return at + length <= scratch.size() ? scratch.substr(at, length) : std::string();
    };
    EXPECT_EQ(bytesAt("__geoprimdatabufferCube", 16),
              std::string("\x11\x11\x11\x11\x22\x22\x22\x22\x33\x33\x33\x33\x44\x44\x44\x44"));
    EXPECT_EQ(bytesAt("__geoprimdatabufferWing", 12), std::string(12, '\x55'));
    EXPECT_GE(named.at("__geoprimdatabufferCube"), 64);
}

constexpr const char* kModelS = R"(
        .file   "tri.s"
        .text
        .data
pad:    .fill   64, 1, 0x20
        .globl  __geoprimdatabufferTri
__geoprimdatabufferTri:
        .long   0xFFFFFFFF, 0xFFFFFFFF, 120, 3
        .globl  answer
        .set    answer, 42
        .ident  "hand-written model"
        .section .note.GNU-stack,"",@progbits
)";

TEST_F(ToolchainObjects, AssembledSource) {
    if (!ToolWorks("as --32", "probe.s", ".data\n.long 1\n")) GTEST_SKIP() << "as --32 unavailable";
    std::string messages;
    const std::string object = Make("as --32", "tri.s", kModelS, messages);
    ASSERT_NE(object, "") << messages;

    ASSERT_EQ(LoadElfObject(object, scratch_), kTrue) << g_loadFailureDetail;
    ASSERT_TRUE(g_symbols.has_value());
    // answer is absolute (SHN_ABS), like the file symbol: passed over.
    EXPECT_EQ(NamedSymbols(), (std::map<std::string, std::int32_t>{{"__geoprimdatabufferTri", 64}, {"pad", 0}}));
    const std::string scratch = Scratch();
    ASSERT_EQ(scratch.size(), 80u);
    EXPECT_EQ(scratch.substr(64), std::string("\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\x78\0\0\0\x03\0\0\0", 16));
    // .comment came last and covers the first bytes of .data's pad.
    EXPECT_EQ(scratch.substr(0, 20), std::string("\0hand-written model\0", 20));
    EXPECT_EQ(scratch.substr(20, 44), std::string(44, ' '));
}

}  // namespace
