// Inputs built to make a reader allocate, copy or loop without end. Each load runs in a
// child process, so that its time and peak memory are its own.

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "elf/elf_data.h"
#include "elfgen/elf_builder.h"
#include "support/temp_dir.h"

using namespace trenn;
using elfgen::Bytes;
using elfgen::ElfBuilder;

namespace {

constexpr double kTimeBudgetSeconds = 2.0;
constexpr long kMemoryBudgetKiB = 128 * 1024;

struct Measured {
    Bool16 result = 0;
    std::size_t symbols = 0;
    double seconds = 0;
    long growthKiB = 0;
};

// Loads in a forked child. The child's peak resident size (from wait4) starts at what it
// inherited, which the child reports before loading.
Measured LoadInChild(const std::string& object, const std::string& scratch) {
    struct Report {
        Bool16 result;
        std::size_t symbols;
        double seconds;
        long baselineKiB;
    };
    int channel[2];
    if (::pipe(channel) != 0) ADD_FAILURE() << "pipe";
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(channel[0]);
        rusage before {};
        ::getrusage(RUSAGE_SELF, &before);
        const auto start = std::chrono::steady_clock::now();
        Report report{};
        report.result = LoadElfObject(object, scratch);
        report.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        report.symbols = g_symbols ? g_symbols->size() : 0;
        report.baselineKiB = before.ru_maxrss;
        if (std::getenv("ELF_LIMITS_DEBUG")) std::fprintf(stderr, "baseline %ld\n", before.ru_maxrss);
        const bool sent = ::write(channel[1], &report, sizeof report) == sizeof report;
        ::_exit(sent ? 0 : 1);
    }
    ::close(channel[1]);
    Report report{};
    const bool received = ::read(channel[0], &report, sizeof report) == sizeof report;
    ::close(channel[0]);
    int status = 0;
    rusage usage {};
    ::wait4(child, &status, 0, &usage);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the load crashed";
    EXPECT_TRUE(received);
    return {report.result, report.symbols, report.seconds, usage.ru_maxrss - report.baselineKiB};
}

// A section of `size` bytes at `offset` that carries no data of its own.
elfgen::Section Alias(std::uint32_t type, std::uint32_t offset, std::uint32_t size) {
    elfgen::Section s;
    s.type = type;
    s.offset = offset;
    s.size = size;
    return s;
}

std::uint32_t SectionOffset(const Bytes& object, std::size_t index) {
    const auto u32 = [&](std::size_t at) {
        return static_cast<std::uint32_t>(object[at] | object[at + 1] << 8 | object[at + 2] << 16 |
                                          object[at + 3] << 24);
    };
    return u32(u32(32) + index * 40 + 16);
}

enum class Aliases { kSame, kAlternating, kSliding };

// .data, a string table holding one name of 32766 'n' (its NUL at 32767), and 32767 + n
// symbol records in .data that all use it, the first 32767 in a symbol table; then n more
// symbol tables over them: all the same, every other one a record shorter, or each one
// starting a record further.
Bytes ManyLongNames(std::uint32_t n, Aliases kind) {
    ElfBuilder e;
    const auto data = e.AddProgbits(Bytes(64, 0x41));
    const auto strtab = e.AddStrtab({std::string(32766, 'n')});
    const std::vector<elfgen::Symbol> records(32767 + n, {1, 8, 0, 0x11, 0, data});
    const auto symtab = e.AddSymtab(records, strtab);
    e.sections[symtab].size = 32767 * 16;
    const std::uint32_t at = SectionOffset(e.Build(), symtab);
    for (std::uint32_t i = 0; i < n; ++i) {
        const std::uint32_t count = kind == Aliases::kAlternating && i % 2 == 1 ? 32766 : 32767;
        const std::uint32_t start = kind == Aliases::kSliding ? at + 16 * (i + 1) : at;
        elfgen::Section s = Alias(elfgen::SHT_SYMTAB, start, count * 16);
        s.link = strtab;
        s.entsize = 16;
        e.AddSection(s);
    }
    return e.Build();
}

struct WorstCase {
    const char* name;
    std::function<Bytes()> make;
    std::size_t symbols;  // entries of g_symbols after the load; 0: none
    std::uint64_t scratchSize;
};

class ElfLimits : public ::testing::Test {
protected:
    void Run(const WorstCase& c) {
        SCOPED_TRACE(c.name);
        const std::string object = dir_.File("worst.o");
        const std::string scratch = dir_.File("worst.tmp");
        elfgen::WriteFile(object, c.make());
        const Measured m = LoadInChild(object, scratch);
        std::printf("[ measured ] %-44s %7.3f s  %7ld KiB\n", c.name, m.seconds, m.growthKiB);
        EXPECT_EQ(m.result, kTrue);
        EXPECT_EQ(m.symbols, c.symbols);
        EXPECT_LT(m.seconds, kTimeBudgetSeconds);
        EXPECT_LT(m.growthKiB, kMemoryBudgetKiB);
        std::error_code error;
        EXPECT_EQ(std::filesystem::file_size(scratch, error), c.scratchSize);
        std::filesystem::remove(scratch, error);
    }
    TempDir dir_;
};

// `count` PROGBITS sections over one of `present` bytes, section i claiming size(i) bytes.
Bytes AliasedProgbits(std::uint32_t present, std::uint32_t count,
                      const std::function<std::uint32_t(std::uint32_t)>& size) {
    ElfBuilder e;
    const auto first = e.AddProgbits(Bytes(present, 0x42));
    const std::uint32_t at = SectionOffset(e.Build(), first);
    e.sections[first].size = size(0);
    for (std::uint32_t i = 1; i < count; ++i) e.AddSection(Alias(elfgen::SHT_PROGBITS, at, size(i)));
    return e.Build();
}

TEST_F(ElfLimits, ProgbitsSizes) {
    // A literal copy allocates 2 GiB for the first, and writes 4000 MiB and 4000 x 2 GiB for
    // the others.
    const WorstCase cases[] = {
        {"sh_size 0x7FFFFFFF in a small file",
         [] { return AliasedProgbits(100, 1, [](std::uint32_t) { return 0x7FFFFFFFu; }); }, 0, 0x7FFFFFFF},
        {"4000 sections aliasing 1 MiB",
         [] { return AliasedProgbits(1 << 20, 4000, [](std::uint32_t) { return 1u << 20; }); }, 0, 1 << 20},
        {"4000 sections of about 2 GiB over 1 MiB",
         [] { return AliasedProgbits(1 << 20, 4000, [](std::uint32_t i) { return 0x7FFFFFFF - i * 4096; }); },
         0, 0x7FFFFFFF},
    };
    for (const WorstCase& c : cases) Run(c);
}

TEST_F(ElfLimits, SymbolTables) {
    const WorstCase cases[] = {
        {"32767 records naming one 32 KiB name", [] { return ManyLongNames(0, Aliases::kSame); }, 32767, 64},
        {"32000 symbol tables over the same records", [] { return ManyLongNames(32000, Aliases::kSame); }, 32767, 64},
        {"32000 symbol tables of two kinds, alternating",
         [] { return ManyLongNames(32000, Aliases::kAlternating); }, 32766, 64},
        {"32000 symbol tables, each a record further",
         [] { return ManyLongNames(32000, Aliases::kSliding); }, 32767, 64},
        {"string table sh_size 0x7FFFFFFF",
         [] {
             ElfBuilder e;
             const auto data = e.AddProgbits(Bytes(8, 0x41));
             const auto strtab = e.AddStrtab({"x"});
             e.sections[strtab].size = 0x7FFFFFFF;
             e.AddSymtab({{}, {1, 0, 0, 0, 0, data}}, strtab);
             return e.Build();
         },
         1, 8},
    };
    for (const WorstCase& c : cases) Run(c);
}

TEST_F(ElfLimits, HugeSparseObjectIsReadOnlyWhereReferenced) {
    const std::string object = dir_.File("huge.o");
    ElfBuilder e;
    const auto data = e.AddProgbits(Bytes(16, 0x44));
    const auto strtab = e.AddStrtab({"__geoprimdatabufferFar"});
    e.AddSymtab({{}, {1, 4, 0, 0x11, 0, data}}, strtab);
    elfgen::WriteFile(object, e.Build());
    std::filesystem::resize_file(object, std::uint64_t{4} << 30);
    const Measured m = LoadInChild(object, dir_.File("huge.tmp"));
    std::printf("[ measured ] %-44s %7.3f s  %7ld KiB\n", "4 GiB sparse object", m.seconds, m.growthKiB);
    EXPECT_EQ(m.result, kTrue);
    EXPECT_EQ(m.symbols, 1u);
    EXPECT_LT(m.seconds, kTimeBudgetSeconds);
    EXPECT_LT(m.growthKiB, kMemoryBudgetKiB);
}

// The copy goes through the kernel in large pieces: about as fast as copying the file.
TEST_F(ElfLimits, LargeSectionCopiesAtFileCopySpeed) {
    const std::string object = dir_.File("large.o");
    constexpr std::uint32_t kDataAt = 4096;
    constexpr std::size_t kSize = 256u << 20;
    ElfBuilder e;
    e.AddSection(Alias(elfgen::SHT_PROGBITS, kDataAt, kSize));
    Bytes bytes = e.Build();
    bytes.resize(kDataAt, 0);
    {
        std::ofstream out(object, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        std::vector<char> chunk(1 << 20);
        for (std::size_t at = 0; at < kSize; at += chunk.size()) {
            for (std::size_t i = 0; i < chunk.size(); i += 4096) chunk[i] = static_cast<char>((at + i) >> 12);
            out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        }
        ASSERT_TRUE(out.good());
    }

    const auto start = std::chrono::steady_clock::now();
    std::filesystem::copy_file(object, dir_.File("copy.o"));
    const double copySeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::filesystem::remove(dir_.File("copy.o"));

    const Measured m = LoadInChild(object, dir_.File("large.tmp"));
    std::printf("[ measured ] %-44s %7.3f s  %7ld KiB (file copy %.3f s)\n", "256 MiB section",
                m.seconds, m.growthKiB, copySeconds);
    EXPECT_EQ(m.result, kTrue);
    EXPECT_LT(m.seconds, kTimeBudgetSeconds);
    EXPECT_LT(m.seconds, 3 * copySeconds + 0.2);
    EXPECT_LT(m.growthKiB, kMemoryBudgetKiB);
    EXPECT_EQ(std::filesystem::file_size(dir_.File("large.tmp")), kSize);
}

}  // namespace

