#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <vector>

#include "runtime/binary_file.h"
#include "runtime/bulk_memory.h"
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

// Large arrays come from shared regions: blocks must not overlap, must be aligned for any type,
// must read as zeros when value-initialised and must survive growth, copies and frees in any
// order (a region is returned only when its last block goes).
TEST(BulkMemory, LargeBlocksAreDistinctAlignedAndReusableInAnyOrder) {
    using Array = std::vector<std::uint64_t, trenn::BulkAllocator<std::uint64_t>>;
    std::vector<Array> arrays;
    for (std::size_t i = 0; i < 40; ++i) {
        arrays.emplace_back((std::size_t{1} << 17) + i * 1000);  // 1 MiB and more each
        Array& a = arrays.back();
        ASSERT_EQ(reinterpret_cast<std::uintptr_t>(a.data()) % alignof(std::max_align_t), 0u);
        for (const std::uint64_t v : a) ASSERT_EQ(v, 0u);
        for (std::size_t j = 0; j < a.size(); ++j) a[j] = i * 1000003 + j;
    }
    // Free every other one, then grow and copy the rest: the survivors keep their contents.
    for (std::size_t i = 0; i < arrays.size(); i += 2) Array().swap(arrays[i]);
    for (std::size_t i = 1; i < arrays.size(); i += 2) {
        arrays[i].resize(arrays[i].size() * 2, 7u);
        const Array copy = arrays[i];
        const std::size_t original = ((std::size_t{1} << 17) + i * 1000);
        for (std::size_t j = 0; j < original; ++j) ASSERT_EQ(copy[j], i * 1000003 + j);
        ASSERT_EQ(copy.back(), 7u);
    }
    Array small(10);  // below the threshold: from the ordinary heap
    small[9] = 1;
    EXPECT_EQ(small[9], 1u);
}

// Resident memory of this process in KiB.
long ResidentKiB() {
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

// Freed blocks are reused and their pages given back, even in a region that a live block keeps:
// an array that grows by copying, 1 MiB at a time, then holds about its own size, not the sum
// of every copy it went through, and a block freed and asked for again takes no new memory.
TEST(BulkMemory, FreedBlocksAreReusedAndGivenBack) {
    if (kSanitized) GTEST_SKIP() << "under AddressSanitizer every block comes from the heap";
    using Array = std::vector<std::uint64_t, trenn::BulkAllocator<std::uint64_t>>;
    constexpr std::size_t kMiB = std::size_t{1} << 20;
    const Array pin(kMiB / 8, 1u);  // a live block in the region the copies start in
    const long before = ResidentKiB();
    {
        Array growing;
        for (std::uint64_t i = 0; i < 64; ++i) growing.resize(growing.size() + kMiB / 8, i);
        EXPECT_LT(ResidentKiB() - before, 80 * 1024) << "64 MiB grown by copying";
    }
    EXPECT_LT(ResidentKiB() - before, 8 * 1024) << "after the array went";

    const std::size_t mapped = trenn::CurrentBulkUsage().mappedBytes;
    for (int round = 0; round < 50; ++round) {
        Array a(3 * kMiB / 8, 2u), b(5 * kMiB / 8, 3u);
    }
    EXPECT_EQ(trenn::CurrentBulkUsage().mappedBytes, mapped) << "50 rounds of 8 MiB asked for and freed";
}

// A large array of static storage that still holds its block when the program ends, as the
// model's parts do. It is defined in this file, ahead of the runtime library on the link line,
// so it is destroyed after any static of that library.
namespace {
std::vector<std::uint64_t, trenn::BulkAllocator<std::uint64_t>> g_heldUntilExit;
}

// Freeing such a block while the program ends must find the region bookkeeping still there.
// The sanitizer build shows a use after free as a failing exit status.
TEST(BulkMemoryDeathTest, BlockHeldUntilTheProgramEndsIsFreedCleanly) {
    EXPECT_EXIT(
        {
            g_heldUntilExit.assign(std::size_t{1} << 18, 5u);  // 2 MiB: from a region
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}
