#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/model_assembly.h"
#include "elf/elf_data.h"
#include "elfgen/elf_builder.h"
#include "runtime/load_failure.h"
#include "app/headless_window.h"
#include "support/temp_dir.h"

using namespace trenn;
using elfgen::Bytes;

namespace {

class ModelAssembly : public ::testing::Test {
protected:
    void SetUp() override {
        g_parts.assign(1, MeshPart{});
        g_symbols.reset();
    }
    void TearDown() override {
        g_parts.clear();
        g_symbols.reset();
    }

    void Symbols(std::vector<SymbolEntry> entries) { g_symbols = std::move(entries); }

    std::string WriteScratch(const Bytes& bytes) {
        const std::string path = dir_.File("scratch.tmp");
        elfgen::WriteFile(path, bytes);
        return path;
    }

    AssemblyOutcome Assemble(const std::string& scratch) {
        return AssembleModel([this]() -> ViewerWindow& { return window_; }, scratch);
    }

    // A scratch image with `pad` leading bytes and one mesh per entry; returns block offsets.
    static Bytes Image(const std::vector<elfgen::Mesh>& meshes, std::vector<std::uint32_t>* values,
                       std::size_t pad = 16) {
        Bytes bytes(pad, 0);
        for (const auto& mesh : meshes) values->push_back(elfgen::AppendMesh(bytes, mesh));
        return bytes;
    }

    TempDir dir_;
    HeadlessWindow window_;
};

elfgen::Mesh Triangle(float scale = 1.0f) {
    return {{{0, 0, 0}, {scale, 0, 0}, {0, scale, 0}}, {0, 1, 2}};
}

}  // namespace

TEST_F(ModelAssembly, CatalogueTakesPrefixedSymbolsInOrder) {
    const std::string longName = "__geoprimdatabuffer" + std::string(111, 'x');
    Symbols({{"", 0},
             {"__geoprimdatabuffer", 1},
             {"__GEOPRIMDATABUFFER_upper", 2},
             {"__geoprimdatabuffe", 3},
             {"__geoprimdatabuffer_a", 4},
             {"other", 5},
             {"__geoprimdatabuffer_a", 6},
             {longName, 7}});
    BuildPartCatalogue(window_);
    ASSERT_EQ(g_parts.size(), 4u);
    EXPECT_EQ(g_parts[0].symbol, 1);
    EXPECT_EQ(g_parts[1].symbol, 4);
    EXPECT_EQ(g_parts[2].symbol, 6);
    EXPECT_EQ(g_parts[3].symbol, 7);
    ASSERT_EQ(window_.items.size(), 4u);
    EXPECT_EQ(window_.items[0].text, "");
    EXPECT_EQ(window_.items[1].text, "_a");
    EXPECT_EQ(window_.items[2].text, "_a");
    EXPECT_EQ(window_.items[3].text, std::string(100, 'x'));  // characters 20 to 119
    EXPECT_EQ(window_.items[3].data, 7);
    EXPECT_EQ(window_.items[0].data, 1);
}

TEST_F(ModelAssembly, NoPartsLeavesTheDefaultEntry) {
    Symbols({{"plain", 40}});
    BuildPartCatalogue(window_);
    ASSERT_EQ(g_parts.size(), 1u);
    EXPECT_EQ(g_parts[0].symbol, 0);
    EXPECT_TRUE(window_.items.empty());
}

TEST_F(ModelAssembly, UnderstandingCheck) {
    // No part and an empty first name (or only the one empty entry): not understood.
    for (const auto& symbols : std::vector<std::vector<SymbolEntry>>{{{"", 0}}, {{"", 4}, {"x", 8}}}) {
        SetUp();
        Symbols(symbols);
        EXPECT_EQ(Assemble(WriteScratch(Bytes(64, 0))), AssemblyOutcome::NotUnderstood);
        EXPECT_FALSE(window_.shown);
    }
    // No symbol table at all: asking for its bounds fails.
    SetUp();
    EXPECT_THROW(Assemble(WriteScratch(Bytes(64, 0))), LoadFailure);
}

TEST_F(ModelAssembly, DefaultPartIsReadFromTheFirstSymbol) {
    std::vector<std::uint32_t> values;
    const Bytes image = Image({Triangle(3.0f)}, &values);
    Symbols({{"first", static_cast<std::int32_t>(values[0])}});
    EXPECT_EQ(Assemble(WriteScratch(image)), AssemblyOutcome::WindowShown);
    EXPECT_TRUE(window_.shown);
    EXPECT_TRUE(window_.items.empty());
    EXPECT_EQ(g_parts[0].vertices.size(), 3u);
    EXPECT_FLOAT_EQ(window_.scale[2], 3.0f);
}

TEST_F(ModelAssembly, MarkerSearchOnTheGridFromTheValue) {
    struct Case {
        std::vector<std::uint32_t> before;  // words from v on, before the block's own marker
        bool found;
    };
    const std::vector<Case> cases = {
        {{}, true},                                   // marker right at v
        {{5, 0xFFFFFFFF, 7}, true},                   // lone marker word skipped with its partner
        {{0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF}, false},  // third word read as offset -1
    };
    for (const Case& c : cases) {
        SetUp();
        Bytes bytes(8, 0);
        for (std::uint32_t w : c.before) elfgen::AppendU32(bytes, w);
        elfgen::AppendMesh(bytes, Triangle());
        Symbols({{"__geoprimdatabuffer_p", 8}});
        if (c.found) {
            EXPECT_EQ(Assemble(WriteScratch(bytes)), AssemblyOutcome::WindowShown);
            EXPECT_EQ(g_parts[0].vertices.size(), 3u);
            EXPECT_EQ(g_parts[0].indices.size(), 3u);
        } else {
            EXPECT_THROW(Assemble(WriteScratch(bytes)), LoadFailure);
        }
    }
}

TEST_F(ModelAssembly, MeshBlockFailures) {
    // Each case edits one field of a valid block at offset 16 (fields at +8, +12, +48, +52).
    struct Case {
        const char* what;
        std::size_t field;
        std::uint32_t value;
    };
    const std::vector<Case> cases = {
        {"vertex count 0", 12, 0},           {"vertex count -1", 12, 0xFFFFFFFF},
        {"vertex count 32769", 12, 32769},   {"vertex offset -1", 8, 0xFFFFFFFF},
        {"vertex offset max", 8, 0x7FFFFFFF}, {"index count 0", 52, 0},
        {"index offset -2", 48, 0xFFFFFFFE}, {"index offset max", 48, 0x7FFFFFFF},
    };
    for (const Case& c : cases) {
        SetUp();
        std::vector<std::uint32_t> values;
        Bytes image = Image({Triangle()}, &values);
        elfgen::PutU32(image, values[0] + c.field, c.value);
        Symbols({{"__geoprimdatabuffer_p", static_cast<std::int32_t>(values[0])}});
        EXPECT_THROW(Assemble(WriteScratch(image)), LoadFailure) << c.what;
        EXPECT_FALSE(window_.shown) << c.what;
    }
}

TEST_F(ModelAssembly, ValueAndMarkerFailures) {
    std::vector<std::uint32_t> values;
    Bytes image = Image({Triangle()}, &values);
    for (const std::int32_t value : {0, -4, static_cast<std::int32_t>(image.size()) + 100}) {
        SetUp();
        Symbols({{"__geoprimdatabuffer_p", value}});
        EXPECT_THROW(Assemble(WriteScratch(image)), LoadFailure) << value;
    }
    // The first marker word is the file's last word: its partner reads as zero.
    SetUp();
    Bytes tail(8, 0);
    elfgen::AppendU32(tail, 0xFFFFFFFF);
    Symbols({{"__geoprimdatabuffer_p", 4}});
    EXPECT_THROW(Assemble(WriteScratch(tail)), LoadFailure);
    // A missing scratch file is created empty and holds no marker.
    SetUp();
    Symbols({{"__geoprimdatabuffer_p", 4}});
    EXPECT_THROW(Assemble(dir_.File("never-written.tmp")), LoadFailure);
}

TEST_F(ModelAssembly, ArraysCutByTheEndOfTheFileReadAsZeros) {
    std::vector<std::uint32_t> values;
    Bytes image = Image({{{{5, -9, 2}, {1, 1, 1}}, {0, 1, 0}}}, &values);
    const std::uint32_t block = values[0];
    // Two more vertices than stored and an index list of 0x7FFFFFFF entries.
    elfgen::PutU32(image, block + 12, 4);
    elfgen::PutU32(image, block + 48, block + 56 + 40);  // indices overlap vertex 1
    elfgen::PutU32(image, block + 52, 0x7FFFFFFF);
    image.resize(block + 56 + 80);
    Symbols({{"__geoprimdatabuffer_p", static_cast<std::int32_t>(block)}});
    EXPECT_EQ(Assemble(WriteScratch(image)), AssemblyOutcome::WindowShown);
    const MeshPart& part = g_parts[0];
    ASSERT_EQ(part.vertices.size(), 4u);
    EXPECT_EQ(part.vertices[1].x, 1.0f);
    EXPECT_EQ(part.vertices[2].x, 0.0f);
    EXPECT_EQ(part.vertices[3].z, 0.0f);
    EXPECT_EQ(part.indices.size(), 0x7FFFFFFFu);
    EXPECT_EQ(part.indices.StoredCount(), 20u);  // 40 bytes of the file hold indices
    EXPECT_EQ(part.indices[1'000'000'000], 0);
    EXPECT_FLOAT_EQ(window_.scale[2], 9.0f);
}

TEST_F(ModelAssembly, ExtentAndScale) {
    std::vector<std::uint32_t> values;
    const Bytes image = Image({{{{3, -7, 2}, {-1, 5, 6.5f}}, {0, 1, 0}}, Triangle()}, &values);
    Symbols({{"__geoprimdatabuffer_a", static_cast<std::int32_t>(values[0])},
             {"__geoprimdatabuffer_b", static_cast<std::int32_t>(values[1])}});
    window_.width = 4000;
    window_.height = 3000;
    ASSERT_EQ(Assemble(WriteScratch(image)), AssemblyOutcome::WindowShown);
    EXPECT_EQ(ComputeViewExtent(), 7.0f);
    EXPECT_EQ(window_.scale[0], -7.0f);
    EXPECT_EQ(window_.scale[1], 5.25f);
    EXPECT_EQ(window_.scale[2], 7.0f);
    EXPECT_EQ(window_.scale[3], -5.25f);
    EXPECT_TRUE(window_.shown);
}

TEST_F(ModelAssembly, ScaleOfTheRealPictureArea) {
    window_.width = 5985;
    window_.height = 5250;
    SetViewScale(1.0f, window_);
    const float ratio = static_cast<float>(5250.0 / 5985.0);
    EXPECT_EQ(window_.scale[1], ratio);
    SetViewScale(0.0f, window_);  // all coordinates zero: a scale of no size
    EXPECT_EQ(window_.scale[0], 0.0f);
    EXPECT_EQ(window_.scale[1], 0.0f);
    window_.width = 0;
    EXPECT_THROW(SetViewScale(1.0f, window_), LoadFailure);
}

TEST_F(ModelAssembly, NanAndInfiniteCoordinatesAreCorrupt) {
    for (const float bad : {std::numeric_limits<float>::quiet_NaN(), INFINITY, -INFINITY}) {
        SetUp();
        std::vector<std::uint32_t> values;
        const Bytes image = Image({{{{1, 2, 3}, {0, bad, 0}}, {0, 1, 0}}}, &values);
        Symbols({{"__geoprimdatabuffer_p", static_cast<std::int32_t>(values[0])}});
        EXPECT_THROW(Assemble(WriteScratch(image)), LoadFailure);
    }
    SetUp();
    std::vector<std::uint32_t> values;
    const Bytes image = Image({{{{3e38f, 1e-40f, 0}}, {0, 0, 0}}}, &values);
    Symbols({{"__geoprimdatabuffer_p", static_cast<std::int32_t>(values[0])}});
    EXPECT_EQ(Assemble(WriteScratch(image)), AssemblyOutcome::WindowShown);
    EXPECT_EQ(window_.scale[2], 3e38f);
}

TEST_F(ModelAssembly, FailureNamesThePartAndWhy) {
    Symbols({{"__geoprimdatabuffer_p", 0x40}});
    try {
        Assemble(WriteScratch(Bytes(0x1f0, 0)));
        FAIL() << "no failure";
    } catch (const LoadFailure& failure) {
        EXPECT_EQ(std::string(failure.what()),
                  "part 1 (symbol 0, value 0x40): no mesh block marker between 0x40 and the end "
                  "of the data (0x1f0 bytes)");
    }
}
