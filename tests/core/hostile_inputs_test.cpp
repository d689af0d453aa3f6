// Malformed objects through the whole start-up, judged by what the user sees (the reason in
// the message box, or the window), and the worst inputs for time and memory, each measured in
// a child process of its own.

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "../../fuzz/fuzz_driver.h"
#include "../../fuzz/hostile_cases.h"
#include "elfgen/elf_builder.h"
#include "runtime/binary_file.h"
#include "runtime/load_failure.h"
#include "app/headless_window.h"
#include "support/sanitizers.h"
#include "support/temp_dir.h"

using namespace trenn;
using elfgen::Bytes;
using fuzz::Exit;
using fuzz::LoadRun;
using hostile::Fixture;

namespace {

using Problems = std::vector<std::string>;

class HostileInputs : public ::testing::Test {
protected:
    // Runs Main on `bytes` with a fresh module state; TEMP is this test's own folder.
    std::unique_ptr<LoadRun> Run(const Bytes& bytes) {
        const std::string path = files_.File("object.o");
        elfgen::WriteFile(path, bytes);
        auto run = std::make_unique<LoadRun>(path, temp_.Path());
        fuzz::RunMain(*run);
        return run;
    }

    TempDir files_;
    TempDir temp_;
};

TEST_F(HostileInputs, EveryClassEndsInItsExit) {
    const auto cases = hostile::HostileCases();
    ASSERT_GT(cases.size(), 90u);
    for (const hostile::HostileCase& c : cases) {
        SCOPED_TRACE(c.group + "/" + c.name);
        const auto run = Run(c.bytes);
        EXPECT_STREQ(fuzz::ExitTag(fuzz::ExitOf(*run)), fuzz::ExitTag(c.exit)) << g_lastFailureDetail;
        EXPECT_EQ(fuzz::CheckLoad(*run, c.bytes), Problems{});
        if (c.parts >= 0) {
            EXPECT_EQ(run->platform.window.items.size(), static_cast<std::size_t>(c.parts));
        }
        if (c.exit != Exit::kOk) continue;
        EXPECT_EQ(fuzz::DrawEveryWay(run->loader->Model()), Problems{});
    }
}

// The valid model really is drawn: the checks above would pass on an empty picture too.
TEST_F(HostileInputs, TheFixtureDrawsItsStrip) {
    const auto run = Run(Fixture().elf.Build());
    ASSERT_EQ(fuzz::ExitOf(*run), Exit::kOk) << g_lastFailureDetail;
    const fuzz::DrawResult start = fuzz::DrawChecked(run->loader->Model(), 0.0f, 0.0f);
    EXPECT_EQ(start.problems, Problems{});
    // Dots for vertices 0 to 2 (not the last), 2 x 2 pixels each, partly under the edges of
    // the two triangles.
    EXPECT_GT(start.dotPixels, 0u);
    EXPECT_LE(start.dotPixels, 12u);
    EXPECT_GT(start.edgePixels, 300u);
    // Shaded, the two triangles are filled and outlined; no dots.
    const fuzz::DrawResult shaded =
        fuzz::DrawChecked(run->loader->Model(), 0.0f, 0.0f, fuzz::PictureKind::kShadedWithEdges);
    EXPECT_EQ(shaded.problems, Problems{});
    EXPECT_EQ(shaded.dotPixels, 0u);
    EXPECT_GT(shaded.surfacePixels, 1000u);
    EXPECT_GT(shaded.edgePixels, 300u);
}

// An empty read may come with no buffer at all (an empty index list past the end of the file).
TEST(HostileFiles, EmptyReadWithoutABuffer) {
    TempDir dir;
    const std::string path = dir.File("four.bin");
    elfgen::WriteFile(path, {1, 2, 3, 4});
    const BinaryFile file = BinaryFile::OpenForReading(path);
    EXPECT_EQ(file.ReadAt(0, nullptr, 0), 0u);
    EXPECT_EQ(file.ReadAt(1u << 20, nullptr, 0), 0u);
}

// ---- Worst cases for time and memory ----------------------------------------------------------

// The budgets hold for the normal build, for loading and then drawing every part: 2 s, and
// memory growth of at most 64 MiB + 4 x the object file's size, never more than 128 MiB. Under
// AddressSanitizer every allocation carries redzones and freed memory is held back, and
// everything runs slower: the budgets widen.
constexpr double kSeconds = kSanitized ? 10.0 : 1.0;
constexpr long kKiB = kSanitized ? 512 * 1024 : 128 * 1024;
long BudgetKiB(std::uint64_t objectSize) {
    if (kSanitized) return kKiB;
    return static_cast<long>(std::min<std::uint64_t>(kKiB, 64 * 1024 + 4 * objectSize / 1024));
}

struct WorstCase {
    const char* name;
    std::function<Bytes()> make;
    Exit exit;
    std::size_t parts;
    // Grows the object file afterwards (a sparse tail); 0 leaves it.
    std::uint64_t objectSize = 0;
};

class HostileWorstCases : public ::testing::Test {
protected:
    // `temp` is where the scratch file goes (TEMP); empty: a folder of the test's own.
    void Run(const WorstCase& c, std::string temp = {}) {
        SCOPED_TRACE(c.name);
        if (temp.empty()) temp = temp_.Path();
        const std::string object = files_.File("worst.o");
        elfgen::WriteFile(object, c.make());
        if (c.objectSize) std::filesystem::resize_file(object, c.objectSize);
        const long budget = BudgetKiB(std::filesystem::file_size(object));
        LoadRun run(object, temp);
        const fuzz::ChildRun m = fuzz::RunMainInChild(run, 120, {}, true);
        std::printf("[ measured ] %-58s %7.3f s %8ld KiB\n", c.name, m.seconds, m.growthKiB);
        ASSERT_TRUE(m.exited) << "the start-up crashed or hung (signal " << m.signal << ")";
        EXPECT_STREQ(fuzz::ExitTag(m.exit), fuzz::ExitTag(c.exit));
        if (c.exit == Exit::kOk) {
            EXPECT_EQ(m.listEntries, c.parts);
        }
        EXPECT_LT(m.seconds, kSeconds);
        EXPECT_LT(m.growthKiB, budget);
        std::error_code ignored;
        for (const auto& entry : std::filesystem::directory_iterator(temp)) {
            std::filesystem::remove(entry.path(), ignored);
        }
    }
    TempDir files_;
    TempDir temp_;
};

using hostile::Alias;
using hostile::ManyParts;

TEST_F(HostileWorstCases, LargeAndAliasingSections) {
    const WorstCase cases[] = {
        {"PROGBITS sh_size 0x7FFFFFFF in a small file",
         [] { return hostile::Model([](Fixture& f) { f.Data().size = 0x7FFFFFFF; }); }, Exit::kOk, 1},
        {"4000 PROGBITS of about 2 GiB aliasing 1 MiB",
         [] {
             return hostile::Model([](Fixture& f) {
                 f.Data().data.resize(1 << 20, 0x5A);
                 const std::uint32_t at = f.SectionOffset(Fixture::kData);
                 for (std::uint32_t i = 0; i < 4000; ++i) {
                     f.elf.AddSection(Alias(elfgen::SHT_PROGBITS, at, 0x7FFFFFFF - i * 4096));
                 }
             });
         },
         Exit::kOk, 1},
        {"4 GiB sparse object with a small section table",
         [] { return hostile::Model([](Fixture&) {}); }, Exit::kOk, 1, std::uint64_t{4} << 30},
    };
    for (const WorstCase& c : cases) Run(c);
}

TEST_F(HostileWorstCases, ManySymbolsAndParts) {
    const WorstCase cases[] = {
        {"32767 parts naming one 32 KiB name", [] { return ManyParts(32767, 32766, 0); }, Exit::kOk, 32767},
        {"32000 symbol tables aliasing 32767 part records",
         [] { return ManyParts(32767, 32766, 32000); }, Exit::kOk, 32767},
        // Every part's search passes the same megabyte before its marker.
        {"32767 parts, 1 MiB from their value to the marker",
         [] {
             return ManyParts(32767, 40, 0, [](Fixture& f) {
                 elfgen::Bytes& data = f.Data().data;
                 std::fill(data.begin() + 4, data.begin() + f.block, 0x01);
                 data.insert(data.begin() + f.block, 1 << 20, 0x01);
                 const std::uint32_t shift = 1 << 20;
                 f.MeshField(Fixture::kVertexOffset + shift, f.block + shift + 56);
                 f.MeshField(Fixture::kIndexOffset + shift, f.block + shift + 56 + 160);
                 for (std::size_t at = 0; at < f.Symtab().data.size(); at += 16) {
                     elfgen::PutU32(f.Symtab().data, at + 4, 4);
                 }
             });
         },
         Exit::kOk, 32767},
        {"32767 parts, index count 0x7FFFFFFF each",
         [] { return ManyParts(32767, 40, 0, [](Fixture& f) { f.MeshField(Fixture::kIndexCount, 0x7FFFFFFF); }); },
         Exit::kOk, 32767},
    };
    for (const WorstCase& c : cases) Run(c);
}

TEST_F(HostileWorstCases, SparseScratchFile) {
    const auto sparse = [](const std::function<void(Fixture&)>& change) {
        return [change] {
            return hostile::Model([&](Fixture& f) {
                f.Data().size = 0x7FFFFFFF;
                change(f);
            });
        };
    };
    const WorstCase cases[] = {
        {"marker scan through a 2 GiB scratch without a marker",
         sparse([](Fixture& f) { f.MeshField(0, 0); }), Exit::kCorrupt, 0},
        {"marker scan from the last word of a 2 GiB scratch",
         sparse([](Fixture& f) { f.SymbolField(Fixture::kPartRecord, 4, 0x7FFFFFF8); }), Exit::kCorrupt, 0},
        {"8 parts, index count 0x7FFFFFFF, 2 GiB scratch",
         [] {
             return ManyParts(8, 40, 0, [](Fixture& f) {
                 f.Data().size = 0x7FFFFFFF;
                 f.MeshField(Fixture::kIndexCount, 0x7FFFFFFF);
             });
         },
         Exit::kOk, 8},
        {"index count 0x7FFFFFFF over a 2 GiB tail",
         [] {
             return hostile::Model([](Fixture& f) {
                 f.Data().size = 0x7FFFFFF0;
                 f.MeshField(Fixture::kIndexCount, 0x7FFFFFFF);
             });
         },
         Exit::kOk, 1},
    };
    for (const WorstCase& c : cases) Run(c);
    // A file system that cannot keep holes reports the whole zero tail as data: nothing past
    // what the load wrote may be read. Mounting one takes root; elsewhere this part is skipped.
    const std::string ramfs = files_.File("ramfs");
    std::filesystem::create_directory(ramfs);
    if (::mount("none", ramfs.c_str(), "ramfs", 0, nullptr) != 0) {
        std::printf("[ skipped  ] no ramfs to put the scratch file on: %s\n", std::strerror(errno));
        return;
    }
    for (const WorstCase& c : cases) Run(c, ramfs);
    EXPECT_EQ(::umount(ramfs.c_str()), 0);
}

// Parts whose mesh blocks name the same arrays, or overlapping ones, share the bytes: however
// many parts a file names, the model holds no more than the file's data.
TEST_F(HostileWorstCases, PartsSharingTheirArrays) {
    const WorstCase cases[] = {
        {"200 parts, one vertex array running 32768 records past the end",
         [] { return hostile::SharedVertexTail(200); }, Exit::kOk, 200},
        {"32766 parts, one vertex array running past the end",
         [] { return hostile::SharedVertexTail(32766); }, Exit::kOk, 32766},
        {"200 parts, one index list of 0x7FFFFFFF over 1 MiB",
         [] { return hostile::SharedIndexTail(200, 1 << 20); }, Exit::kOk, 200},
        {"30 vertex arrays of 32768 records, one record apart",
         [] { return hostile::OverlappingVertexViews(30, 32768); }, Exit::kOk, 30},
        // Views that name more work than the file's size allows.
        {"2000 vertex arrays of 32768 records, one record apart",
         [] { return hostile::OverlappingVertexViews(2000, 32768); }, Exit::kCorrupt, 0},
        {"2000 four-vertex views sharing one strip of 32768 entries",
         [] { return hostile::OverlappingVertexViews(2000, 4, 32768); }, Exit::kCorrupt, 0},
    };
    for (const WorstCase& c : cases) Run(c);
}

// ---- Memory that cannot be had ---------------------------------------------------------------

// Caps this process's address space at what it uses now plus `room` (the soft limit only, so
// that it can be lifted again).
void CapAddressSpace(std::size_t room) {
    std::ifstream status("/proc/self/status");
    std::string line;
    long sizeKiB = 0;
    while (std::getline(status, line)) {
        if (line.rfind("VmSize:", 0) == 0) sizeKiB = std::stol(line.substr(7));
    }
    rlimit limit{};
    ::getrlimit(RLIMIT_AS, &limit);
    limit.rlim_cur = static_cast<rlim_t>(sizeKiB) * 1024 + room;
    ::setrlimit(RLIMIT_AS, &limit);
}

void LiftAddressSpaceCap() {
    rlimit limit{};
    ::getrlimit(RLIMIT_AS, &limit);
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_AS, &limit);
}

// In a child process: loads the object with little room to spare and reports the exit.
void LoadWithLittleRoom(const std::string& object, const std::string& temp) {
    LoadRun run(object, temp);
    CapAddressSpace(16 << 20);
    fuzz::RunMain(run);
    std::fprintf(stderr, "exit %s: %s\n", fuzz::ExitTag(fuzz::ExitOf(run)), g_lastFailureDetail.c_str());
    std::exit(0);
}

// In a child process: redraws a large part with little room to spare, then with plenty, and
// reports what each did to the picture.
void RedrawWithLittleRoom() {
    std::vector<MeshVertex> records(32768);
    for (std::size_t i = 0; i < records.size(); ++i) {
        records[i].x = static_cast<float>(i % 181) / 181.0f - 0.5f;
        records[i].y = static_cast<float>(i % 173) / 173.0f - 0.5f;
    }
    std::vector<std::int16_t> strip(1 << 20);
    for (std::size_t i = 0; i < strip.size(); ++i) strip[i] = static_cast<std::int16_t>(i * 7919 % 32768);
    std::vector<MeshPart> parts(1);
    parts[0].vertices = VertexList(records);
    parts[0].indices = IndexList(static_cast<std::int32_t>(strip.size()), strip);
    Scene scene;
    scene.parts = &parts;
    scene.checked = {true};
    scene.mapping = ViewMapping::FromScale(-1, 0.877f, 1, -0.877f, fuzz::kPictureWidth, fuzz::kPictureHeight);
    constexpr int kPixels = fuzz::kPictureWidth * fuzz::kPictureHeight;
    std::vector<std::uint32_t> pixels(kPixels, fuzz::kBackground);
    const RasterTarget target{pixels.data(), fuzz::kPictureWidth, fuzz::kPictureHeight, fuzz::kPictureWidth};
    WireframeRenderer renderer;
    CapAddressSpace(256 << 10);
    const bool first = renderer.Render(scene, target);
    const auto untouched = std::count(pixels.begin(), pixels.end(), fuzz::kBackground);
    LiftAddressSpaceCap();
    const bool second = renderer.Render(scene, target);
    const auto edges = std::count(pixels.begin(), pixels.end(), kEdgeColour);
    std::fprintf(stderr, "capped: %s, %ld of %d pixels untouched; then %s, %s\n",
                 first ? "drawn" : "skipped", static_cast<long>(untouched), kPixels,
                 second ? "drawn" : "skipped", edges > 1000 ? "edges on the picture" : "no edges");
    std::exit(0);
}

// Memory that cannot be had: loading ends in the corrupt exit; a redraw is skipped and leaves
// the picture as it was, and the next one, with memory to spare, draws.
TEST(AllocationFailure, LoadingEndsCorruptAndARedrawLeavesThePicture) {
    if (kSanitized) GTEST_SKIP() << "the sanitizer's shadow memory needs more address space than a cap leaves";
    // A child forked from this process would inherit heap that earlier tests freed, room that
    // the cap then does not count; a child started afresh has none.
    const std::string style = GTEST_FLAG_GET(death_test_style);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    TempDir files;
    TempDir temp;
    const std::string object = files.File("large-index-list.o");
    elfgen::WriteFile(object, hostile::SharedIndexTail(1, 64 << 20));
    EXPECT_EXIT(LoadWithLittleRoom(object, temp.Path()), ::testing::ExitedWithCode(0),
                "exit corrupt: out of memory");
    EXPECT_EXIT(RedrawWithLittleRoom(), ::testing::ExitedWithCode(0),
                "capped: skipped, 136670 of 136670 pixels untouched; then drawn, edges on the picture");
    GTEST_FLAG_SET(death_test_style, style);
}

}  // namespace

namespace {

// Thousands of parts share the marker search over the scratch file. Each part must still find
// exactly the mesh block that a search of its own finds: values on all four grids, in an
// order that makes later searches run into stretches searched before.
TEST(HostileMarkerSearch, SharedSearchesFindWhatOwnSearchesFind) {
    TempDir dir;
    std::mt19937 random(20240611);
    elfgen::Bytes image(8, 0);
    std::vector<std::uint32_t> vertexAt;
    const std::uint32_t junk[] = {0, 5, 0xFFFFFFFF, 0xFFFF0000, 0x0000FFFF, 0x12345678};
    for (int block = 0; block < 40; ++block) {
        const int words = static_cast<int>(random() % 64);
        for (int w = 0; w < words; ++w) elfgen::AppendU32(image, junk[random() % std::size(junk)]);
        // A mesh block whose one vertex says which block it is.
        const auto at = static_cast<std::uint32_t>(image.size());
        elfgen::AppendU32(image, 0xFFFFFFFF);
        elfgen::AppendU32(image, 0xFFFFFFFF);
        elfgen::AppendU32(image, at + 56);
        elfgen::AppendU32(image, 1);
        for (int w = 0; w < 8; ++w) elfgen::AppendU32(image, 0);
        elfgen::AppendU32(image, at + 56);
        elfgen::AppendU32(image, 1);
        image.resize(image.size() + 40, 0);
        elfgen::PutF32(image, at + 56, static_cast<float>(block + 1));
    }
    const std::string scratchPath = dir.File("scratch.tmp");
    elfgen::WriteFile(scratchPath, image);
    const BinaryFile scratch = BinaryFile::OpenForReading(scratchPath);

    // Each value on its own: the part it gives, or none when its search fails.
    std::vector<std::pair<std::int32_t, float>> found;
    int failed = 0;
    for (std::int32_t value = 1; value < static_cast<std::int32_t>(image.size()) + 8; ++value) {
        g_symbols = std::vector<SymbolEntry>{{"__geoprimdatabuffer", value}};
        g_parts.assign(1, MeshPart{});
        try {
            ReadMeshBlock(scratch, 0);
            found.emplace_back(value, g_parts[0].vertices[0].x);
        } catch (const LoadFailure&) {
            ++failed;
        }
    }
    ASSERT_GT(found.size(), 1000u);
    ASSERT_GT(failed, 100);

    // All of them in one model, far values first, then shuffled.
    for (const bool shuffled : {false, true}) {
        SCOPED_TRACE(shuffled ? "shuffled" : "far values first");
        std::vector<std::pair<std::int32_t, float>> order = found;
        if (shuffled) {
            std::shuffle(order.begin(), order.end(), random);
        } else {
            std::reverse(order.begin(), order.end());
        }
        std::vector<SymbolEntry> symbols;
        for (const auto& [value, block] : order) symbols.push_back({"__geoprimdatabufferP", value});
        order.resize(std::min<std::size_t>(order.size(), 32768));
        symbols.resize(order.size());
        g_symbols = symbols;
        HeadlessWindow window;
        ASSERT_EQ(AssembleModel([&]() -> ViewerWindow& { return window; }, scratchPath),
                  AssemblyOutcome::WindowShown);
        ASSERT_EQ(g_parts.size(), order.size());
        int wrong = 0;
        for (std::size_t k = 0; k < order.size(); ++k) {
            if (g_parts[k].vertices[0].x != order[k].second && ++wrong <= 5) {
                ADD_FAILURE() << "value " << order[k].first << ": block " << g_parts[k].vertices[0].x
                              << ", on its own block " << order[k].second;
            }
        }
    }
    g_symbols.reset();
    g_parts.clear();
}

}  // namespace
