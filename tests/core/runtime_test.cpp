#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <random>
#include <fstream>
#include <limits>
#include <vector>

#include "runtime/binary_file.h"
#include "runtime/bulk_memory.h"
#include "runtime/region_space.h"
#include "runtime/scratch_file.h"
#include "runtime/checked.h"
#include "runtime/text.h"
#include "support/sanitizers.h"
#include "support/temp_dir.h"

using namespace trenn;

TEST(BinaryFile, ReadsPastTheEndAsZeros) {
    TempDir dir;
    const std::string path = dir.File("data.bin");
    std::ofstream(path, std::ios::binary) << "ABCD";
    BinaryFile file = BinaryFile::OpenForReading(path);
    unsigned char buffer[8];
    std::fill(std::begin(buffer), std::end(buffer), 0xEE);
    EXPECT_EQ(file.ReadAt(2, buffer, 8), 2u);
    EXPECT_EQ(buffer[0], 'C');
    EXPECT_EQ(buffer[1], 'D');
    for (int i = 2; i < 8; ++i) EXPECT_EQ(buffer[i], 0) << i;
    EXPECT_EQ(file.ReadAt(1u << 30, buffer, 4), 0u);
    EXPECT_EQ(buffer[0], 0);
}

TEST(BinaryFile, RefusesWhatIsNotARegularFile) {
    TempDir dir;
    EXPECT_THROW(BinaryFile::OpenForReading(dir.Path()), LoadFailure);
    EXPECT_THROW(BinaryFile::OpenForReading(dir.File("missing")), LoadFailure);
    const std::string fifo = dir.File("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_THROW(BinaryFile::OpenForReading(fifo), LoadFailure);  // must not block
}

TEST(BinaryFile, ExclusiveCreationNeverWritesThroughALink) {
    TempDir dir;
    const std::string target = dir.File("target");
    std::ofstream(target) << "keep";
    const std::string link = dir.File("link");
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    EXPECT_THROW(BinaryFile::CreateExclusive(link), LoadFailure);
    EXPECT_THROW(BinaryFile::OpenOrCreateNoFollow(link), LoadFailure);
    RemoveEntry(link);
    EXPECT_FALSE(EntryExists(link));
    std::ifstream in(target);
    std::string content;
    in >> content;
    EXPECT_EQ(content, "keep");
}

TEST(BinaryFile, CopyAndExtendLeaveExactLength) {
    TempDir dir;
    const std::string source = dir.File("source");
    std::ofstream(source, std::ios::binary) << "0123456789";
    BinaryFile in = BinaryFile::OpenForReading(source);
    BinaryFile out = BinaryFile::CreateExclusive(dir.File("out"));
    EXPECT_EQ(out.CopyFrom(in, 6, 0, 100), 4u);  // stops at the end of the source
    out.ExtendTo(1u << 20);
    EXPECT_EQ(out.Size(), 1u << 20);
    out.ExtendTo(5);  // never shrinks
    EXPECT_EQ(out.Size(), 1u << 20);
    char buffer[6];
    out.ReadAt(0, buffer, 6);
    EXPECT_EQ(std::string(buffer, 4), "6789");
    EXPECT_EQ(buffer[4], 0);
}

// What a signal's cleanup removes: the files made and still there as made; not a file
// forgotten (renamed into place), nor one that another program has put at a made file's path.
TEST(MadeFiles, RemoveAllTakesOnlyTheFilesMadeAndKept) {
    TempDir dir;
    MadeFiles made;
    const std::string scratch = dir.File("scratch.tmp");
    ASSERT_TRUE(made.Create(scratch).has_value());
    EXPECT_FALSE(made.Create(scratch).has_value());  // never over what stands there
    std::string temporary = dir.File("out-XXXXXX");
    const int fd = made.CreateTemporary(temporary);
    ASSERT_GE(fd, 0);
    ::close(fd);
    std::string renamed = dir.File("kept-XXXXXX");
    const int keptFd = made.CreateTemporary(renamed);
    ASSERT_GE(keptFd, 0);
    ::close(keptFd);
    const std::string target = dir.File("target");
    ASSERT_EQ(::rename(renamed.c_str(), target.c_str()), 0);
    made.Forget(renamed);
    std::string replaced = dir.File("theirs-XXXXXX");
    const int replacedFd = made.CreateTemporary(replaced);
    ASSERT_GE(replacedFd, 0);
    ::close(replacedFd);
    const std::string theirs = dir.File("theirs");
    std::ofstream(theirs) << "theirs";
    ASSERT_EQ(::rename(theirs.c_str(), replaced.c_str()), 0);

    made.RemoveAll();
    EXPECT_FALSE(EntryExists(scratch));
    EXPECT_FALSE(EntryExists(temporary));
    EXPECT_TRUE(EntryExists(target));
    EXPECT_TRUE(EntryExists(replaced));
}

TEST(Checked, SingleResultsFailOnNanAndOverflowOnly) {
    EXPECT_EQ(CheckedSingle(0.1, "t"), 0.1f);
    EXPECT_EQ(CheckedSingle(1e-45, "t"), 1e-45f);  // underflow is fine
    EXPECT_EQ(CheckedSingle(3.4028235e38, "t"), std::numeric_limits<float>::max());
    EXPECT_THROW(CheckedSingle(std::nan(""), "t"), LoadFailure);
    EXPECT_THROW(CheckedSingle(3.5e38, "t"), LoadFailure);
    EXPECT_THROW(CheckedSingle(-INFINITY, "t"), LoadFailure);
    EXPECT_THROW(CheckedStoredSingle(INFINITY, "t"), LoadFailure);
}

TEST(Checked, SixteenBitLimits) {
    EXPECT_NO_THROW(RequireInt16UpperBound(32767, "t"));
    EXPECT_THROW(RequireInt16UpperBound(32768, "t"), LoadFailure);
    EXPECT_EQ(CheckedInt16(-32768, "t"), -32768);
    EXPECT_THROW(CheckedInt16(32768, "t"), LoadFailure);
}

TEST(Text, Windows1252HighHalf) {
    EXPECT_EQ(Cp1252ToCodePoint(0x41), U'A');
    EXPECT_EQ(Cp1252ToCodePoint(0x80), U'\u20AC');
    EXPECT_EQ(Cp1252ToCodePoint(0x81), U'\u0081');
    EXPECT_EQ(Cp1252ToCodePoint(0x9D), U'\u009D');
    EXPECT_EQ(Cp1252ToCodePoint(0xFF), U'\u00FF');
    EXPECT_EQ(BytesToUtf8(std::string("a\x80\xE9", 3)), "a\xE2\x82\xAC\xC3\xA9");
}

// Where blocks go in a region: a freed range is used first fit and what is left of it lies
// after the block taken; freed ranges merge with the freed ranges on both sides and with the
// untouched end, so that a block as large as two freed neighbours fits where they were.
TEST(RegionSpace, FreedRangesAreSplitAndMergedInPlace) {
    struct Step {
        bool take;
        std::size_t offset;  // Give: the block's offset; Take: the offset expected
        std::size_t bytes;
    };
    const struct {
        const char* what;
        std::vector<Step> steps;
        std::map<std::size_t, std::size_t> freed;
        std::size_t untouched;
    } cases[] = {
        {"the rest of a split range follows the block taken",
         {{true, 0, 100}, {true, 100, 100}, {true, 200, 100}, {false, 100, 100}, {true, 100, 30}, {true, 130, 30}},
         {{160, 40}}, 300},
        {"a range merges with the one before it",
         {{true, 0, 100}, {true, 100, 100}, {true, 200, 100}, {true, 300, 100}, {false, 0, 100}, {false, 100, 100},
          {true, 0, 200}},
         {}, 400},
        {"a range merges with the one after it",
         {{true, 0, 100}, {true, 100, 100}, {true, 200, 100}, {true, 300, 100}, {false, 100, 100}, {false, 0, 100},
          {true, 0, 200}},
         {}, 400},
        {"a range between two freed ones joins both",
         {{true, 0, 100}, {true, 100, 100}, {true, 200, 100}, {true, 300, 100}, {false, 0, 100}, {false, 200, 100},
          {false, 100, 100}},
         {{0, 300}}, 400},
        {"the last block joins the untouched end, with the freed range before it",
         {{true, 0, 100}, {true, 100, 100}, {true, 200, 100}, {false, 100, 100}, {false, 200, 100}},
         {}, 100},
        {"first fit, and the untouched end when no freed range is large enough",
         {{true, 0, 50}, {true, 50, 10}, {true, 60, 80}, {true, 140, 10}, {false, 0, 50}, {false, 60, 80},
          {true, 60, 70}, {true, 150, 60}, {true, 0, 40}},
         {{40, 10}, {130, 10}}, 210},
        {"no room", {{true, 0, 900}, {true, 900, 100}}, {}, 1000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RegionSpace space(1000);
        for (const Step& step : c.steps) {
            if (step.take) {
                EXPECT_EQ(space.Take(step.bytes), std::optional<std::size_t>(step.offset));
            } else {
                space.Give(step.offset, step.bytes);
            }
        }
        EXPECT_EQ(space.Freed(), c.freed);
        EXPECT_EQ(space.UntouchedFrom(), c.untouched);
    }
}

// Many blocks taken and given back in random order: no block ever overlaps a live one, and the
// bookkeeping never holds two freed ranges that touch.
TEST(RegionSpace, LiveBlocksNeverOverlap) {
    std::mt19937 random(7);
    RegionSpace space(1 << 20);
    std::vector<bool> used(1 << 20, false);
    std::vector<std::pair<std::size_t, std::size_t>> live;
    for (int step = 0; step < 20000; ++step) {
        if (live.empty() || random() % 3 != 0) {
            const std::size_t bytes = 1 + random() % 4000;
            const std::optional<std::size_t> offset = space.Take(bytes);
            if (!offset) continue;
            for (std::size_t i = *offset; i < *offset + bytes; ++i) {
                ASSERT_FALSE(used[i]) << "step " << step << ": byte " << i << " handed out twice";
                used[i] = true;
            }
            live.emplace_back(*offset, bytes);
        } else {
            const std::size_t pick = random() % live.size();
            const auto [offset, bytes] = live[pick];
            live.erase(live.begin() + static_cast<std::ptrdiff_t>(pick));
            for (std::size_t i = offset; i < offset + bytes; ++i) used[i] = false;
            space.Give(offset, bytes);
        }
        std::optional<std::size_t> end;
        for (const auto& [offset, bytes] : space.Freed()) {
            ASSERT_TRUE(!end || offset > *end) << "step " << step << ": freed ranges touch";
            end = offset + bytes;
        }
        if (end) {
            ASSERT_LT(*end, space.UntouchedFrom()) << "step " << step << ": a freed range touches the end";
        }
    }
}

// Large arrays come from shared regions: blocks must not overlap, must be aligned for any type,
// and must keep their contents while others are freed around them and asked for again.
TEST(BulkMemory, LargeBlocksAreDistinctAlignedAndKeepTheirContents) {
    struct Block {
        std::uint64_t* data;
        std::size_t count;
    };
    std::vector<Block> blocks;
    const auto fill = [](const Block& b, std::uint64_t seed) {
        for (std::size_t j = 0; j < b.count; ++j) b.data[j] = seed * 1000003 + j;
    };
    const auto check = [](const Block& b, std::uint64_t seed) {
        for (std::size_t j = 0; j < b.count; ++j) {
            if (b.data[j] != seed * 1000003 + j) return false;
        }
        return true;
    };
    for (std::size_t i = 0; i < 40; ++i) {
        const std::size_t count = (std::size_t{1} << 17) + i * 1000;  // 1 MiB and more each
        blocks.push_back({static_cast<std::uint64_t*>(AllocateBulk(count * 8)), count});
        ASSERT_EQ(reinterpret_cast<std::uintptr_t>(blocks.back().data) % alignof(std::max_align_t), 0u);
        fill(blocks.back(), i);
    }
    // Every other one freed and asked for again, smaller: the blocks around them keep theirs.
    for (std::size_t i = 0; i < blocks.size(); i += 2) {
        FreeBulk(blocks[i].data, blocks[i].count * 8);
        blocks[i].count /= 3;
        blocks[i].data = static_cast<std::uint64_t*>(AllocateBulk(blocks[i].count * 8));
        fill(blocks[i], i + 100);
    }
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        EXPECT_TRUE(check(blocks[i], i % 2 ? i : i + 100)) << "block " << i;
        FreeBulk(blocks[i].data, blocks[i].count * 8);
    }
}

// This process's resident size and address space in KiB.
long StatmKiB(int field) {
    std::ifstream statm("/proc/self/statm");
    long values[2] = {0, 0};
    statm >> values[0] >> values[1];
    return values[field] * (::sysconf(_SC_PAGESIZE) / 1024);
}
long ResidentKiB() { return StatmKiB(1); }
long AddressSpaceKiB() { return StatmKiB(0); }

// Freed blocks are reused and their pages given back, even in a region that a live block keeps:
// an array that grows by copying, 1 MiB at a time, then holds about its own size, not the sum
// of every copy it went through, and a block freed and asked for again takes no new memory.
TEST(BulkMemory, FreedBlocksAreReusedAndGivenBack) {
    if (kSanitized) GTEST_SKIP() << "under AddressSanitizer every block comes from the heap";
    constexpr std::size_t kMiB = std::size_t{1} << 20;
    void* const pin = AllocateBulk(kMiB);  // a live block in the region the copies start in
    std::memset(pin, 1, kMiB);
    const long before = ResidentKiB();
    {
        std::size_t size = 0;
        char* growing = nullptr;
        for (int i = 0; i < 64; ++i) {
            auto* bigger = static_cast<char*>(AllocateBulk(size + kMiB));
            if (growing) std::memcpy(bigger, growing, size);
            std::memset(bigger + size, i, kMiB);
            FreeBulk(growing, size);
            growing = bigger;
            size += kMiB;
        }
        EXPECT_LT(ResidentKiB() - before, 80 * 1024) << "64 MiB grown by copying";
        FreeBulk(growing, size);
    }
    EXPECT_LT(ResidentKiB() - before, 8 * 1024) << "after the array went";

    const long mapped = AddressSpaceKiB();
    for (int round = 0; round < 50; ++round) {
        void* a = AllocateBulk(3 * kMiB);
        void* b = AllocateBulk(5 * kMiB);
        FreeBulk(a, 3 * kMiB);
        FreeBulk(b, 5 * kMiB);
    }
    EXPECT_EQ(AddressSpaceKiB(), mapped) << "50 rounds of 8 MiB asked for and freed";
    FreeBulk(pin, kMiB);
}

// A large block of static storage that is still held when the program ends, as the model's
// parts are. It is defined in this file, ahead of the runtime library on the link line, so it
// is destroyed after any static of that library.
namespace {
struct HeldUntilExit {
    void* block = nullptr;
    std::size_t bytes = 0;
    ~HeldUntilExit() { FreeBulk(block, bytes); }
} g_heldUntilExit;
}  // namespace

// Freeing such a block while the program ends must find the region bookkeeping still there.
// The sanitizer build shows a use after free as a failing exit status.
TEST(BulkMemoryDeathTest, BlockHeldUntilTheProgramEndsIsFreedCleanly) {
    EXPECT_EXIT(
        {
            g_heldUntilExit.bytes = std::size_t{2} << 20;  // from a region
            g_heldUntilExit.block = AllocateBulk(g_heldUntilExit.bytes);
            std::memset(g_heldUntilExit.block, 5, g_heldUntilExit.bytes);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}
