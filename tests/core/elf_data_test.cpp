#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "elf/elf_data.h"
#include "elf/elf_format.h"
#include "elfgen/elf_builder.h"
#include "runtime/binary_file.h"
#include "support/temp_dir.h"

using namespace trenn;
using elfgen::Bytes;
using elfgen::ElfBuilder;
using elfgen::PutU32;

namespace {

enum class Outcome { kLoaded, kLoadFailure, kMagicFailure };

using Symbols = std::vector<std::pair<std::string, std::int32_t>>;

Bytes Fill(std::size_t count, char byte) { return Bytes(count, static_cast<std::uint8_t>(byte)); }

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Section 1 ".data" of 8 bytes 'A', 2 string table, 3 ".bss", 4 symbol table: a null symbol,
// one symbol in .data (value 4) and one in .bss.
struct Model {
    ElfBuilder elf;
    std::uint16_t data = 0, strtab = 0, bss = 0, symtab = 0;
    std::vector<std::uint32_t> names;

    Model() {
        data = elf.AddProgbits(Fill(8, 'A'));
        strtab = elf.AddStrtab({"__geoprimdatabufferCube", "counter"}, &names);
        bss = elf.AddNobits(16);
        symtab = elf.AddSymtab({{}, {names[0], 4, 8, 0x11, 0, data}, {names[1], 0, 4, 0x11, 0, bss}},
                               strtab);
    }
    elfgen::Section& Symtab() { return elf.sections[symtab]; }
    // Patches field `field` (byte offset) of symbol record `record`.
    void PatchSymbol(std::size_t record, std::size_t field, std::uint32_t value) {
        PutU32(Symtab().data, record * 16 + field, value);
    }
    void PatchShndx(std::size_t record, std::uint16_t value) {
        elfgen::PutU16(Symtab().data, record * 16 + 14, value);
    }
};

const std::string kModelScratch(8, 'A');
const Symbols kModelSymbols{{"__geoprimdatabufferCube", 4}};
const Symbols kReset{{"", 0}};

class ElfLoad : public ::testing::Test {
protected:
    void SetUp() override {
        g_errorText.clear();
        g_symbols.reset();
        g_loadFailureDetail.clear();
    }

    Outcome Load(const Bytes& bytes) {
        elfgen::WriteFile(object_, bytes);
        return LoadFrom(object_);
    }

    Outcome LoadFrom(const std::string& path) {
        const Bool16 result = LoadElfObject(path, scratch_);
        if (result == kTrue) {
            EXPECT_EQ(g_errorText, "");
            EXPECT_EQ(g_loadFailureDetail, "");
            return Outcome::kLoaded;
        }
        EXPECT_EQ(result, kFalse);
        EXPECT_NE(g_loadFailureDetail, "");
        if (g_errorText.empty()) return Outcome::kLoadFailure;
        EXPECT_EQ(g_errorText, kMagicFailureText);
        return Outcome::kMagicFailure;
    }

    std::optional<std::string> Scratch() const {
        if (!EntryExists(scratch_)) return std::nullopt;
        return ReadAll(scratch_);
    }

    static std::optional<Symbols> SymbolsNow() {
        if (!g_symbols) return std::nullopt;
        Symbols out;
        for (const SymbolEntry& s : *g_symbols) out.emplace_back(s.name, s.value);
        return out;
    }

    void PlantOldScratch() const { std::ofstream(scratch_) << "old"; }

    TempDir dir_;
    std::string object_ = dir_.File("model.o");
    std::string scratch_ = dir_.File("Trenn_1234.tmp");
};

// One input, what the load must do with it, and what it must leave behind. An old scratch
// file is planted first: it must be gone unless the load writes a new one.
struct Case {
    const char* name;
    std::function<Bytes()> make;
    Outcome outcome;
    std::optional<std::string> scratch;
    std::optional<Symbols> symbols;
};

class ElfCases : public ElfLoad {
protected:
    void Check(const std::vector<Case>& cases) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            SetUp();
            PlantOldScratch();
            EXPECT_EQ(Load(c.make()), c.outcome) << g_loadFailureDetail;
            EXPECT_EQ(Scratch(), c.scratch);
            EXPECT_EQ(SymbolsNow(), c.symbols);
        }
    }
};

Bytes ModelWith(const std::function<void(Model&)>& change) {
    Model m;
    change(m);
    return m.elf.Build();
}

std::uint32_t SectionOffset(const Bytes& object, std::size_t index) {
    const std::uint32_t table = elf::U32At(object.data() + 32);
    return elf::U32At(object.data() + table + index * 40 + 16);
}

Bytes Cut(Bytes bytes, std::size_t length) {
    bytes.resize(length);
    return bytes;
}

constexpr auto kLoaded = Outcome::kLoaded;
constexpr auto kLoad = Outcome::kLoadFailure;
constexpr auto kMagic = Outcome::kMagicFailure;
const std::nullopt_t kNone = std::nullopt;

TEST_F(ElfCases, FileAndHeader) {
    const auto header = [](const std::function<void(ElfBuilder&)>& change) {
        return ModelWith([&](Model& m) { change(m.elf); });
    };
    const std::size_t tableAt = Model().elf.Build().size() - 5 * 40;
    Check({
        {"empty file", [] { return Bytes{}; }, kMagic, kNone, kNone},
        {"three bytes", [] { return Bytes{0x7F, 'E', 'L'}; }, kMagic, kNone, kNone},
        {"last magic byte", [&] { return header([](ElfBuilder& e) { e.ident[3] = 'G'; }); }, kMagic, kNone, kNone},
        {"first magic byte", [&] { return header([](ElfBuilder& e) { e.ident[0] = 0; }); }, kMagic, kNone, kNone},
        {"magic only", [] { return Bytes{0x7F, 'E', 'L', 'F'}; }, kLoaded, kNone, kNone},
        {"header cut at 20 bytes", [] { return Cut(Model().elf.Build(), 20); }, kLoaded, kNone, kNone},
        // e_shnum's low byte is there, the section table past the end reads as zeros
        {"header cut inside e_shnum", [] { return Cut(Model().elf.Build(), 49); }, kLoaded, kNone, kNone},
        {"64-bit big-endian ident, odd type and machine",
         [&] { return header([](ElfBuilder& e) { e.ident[4] = 2; e.ident[5] = 2; e.type = 0xFFFF; e.machine = 0x1234; }); },
         kLoaded, kModelScratch, kModelSymbols},
        {"e_shentsize 0", [&] { return header([](ElfBuilder& e) { e.shentsize = 0; }); }, kLoaded, kModelScratch, kModelSymbols},
        {"e_shentsize 1", [&] { return header([](ElfBuilder& e) { e.shentsize = 1; }); }, kLoaded, kModelScratch, kModelSymbols},
        {"e_shentsize 64", [&] { return header([](ElfBuilder& e) { e.shentsize = 64; }); }, kLoaded, kModelScratch, kModelSymbols},
        {"e_shentsize 0xFFFF", [&] { return header([](ElfBuilder& e) { e.shentsize = 0xFFFF; }); }, kLoaded, kModelScratch, kModelSymbols},
        {"e_shnum 0 with extended numbering in section 0",
         [&] { return header([](ElfBuilder& e) { e.shnum = 0; e.sections[0].size = 5; e.sections[0].link = 4; e.shstrndx = 0xFFFF; }); },
         kLoaded, kNone, kNone},
        {"e_shnum 0x8000", [&] { return header([](ElfBuilder& e) { e.shnum = 0x8000; }); }, kLoad, kNone, kNone},
        {"e_shnum 0xFFFF", [&] { return header([](ElfBuilder& e) { e.shnum = 0xFFFF; }); }, kLoad, kNone, kNone},
        {"e_shoff 0x7FFFFFFF", [&] { return header([](ElfBuilder& e) { e.shoff = 0x7FFFFFFF; }); }, kLoad, kNone, kNone},
        {"e_shoff 0xFFFFFFF0", [&] { return header([](ElfBuilder& e) { e.shoff = 0xFFFFFFF0; }); }, kLoad, kNone, kNone},
        {"e_shoff 0xFFFFFFF0 without sections", [&] { return header([](ElfBuilder& e) { e.shoff = 0xFFFFFFF0; e.shnum = 0; }); },
         kLoaded, kNone, kNone},
        {"e_shoff 0x7FFFFFFE: all headers past the end", [&] { return header([](ElfBuilder& e) { e.shoff = 0x7FFFFFFE; }); },
         kLoaded, kNone, kNone},
        {"e_shnum beyond the end of the file", [&] { return header([](ElfBuilder& e) { e.shnum = 300; }); },
         kLoaded, kModelScratch, kModelSymbols},
        {"file ends before the symbol table header", [&] { return Cut(Model().elf.Build(), tableAt + 4 * 40); },
         kLoaded, kModelScratch, kNone},
        // The header doubles as section 0: type 1 from e_ident[4..7], offset 0 from
        // e_type/e_machine, size 4 from e_version: the magic bytes are copied.
        {"section table over the header",
         [] {
             ElfBuilder e;
             e.ident = {0x7F, 'E', 'L', 'F', 1, 0, 0, 0};
             e.type = 0;
             e.machine = 0;
             e.version = 4;
             e.shoff = 0;
             e.shnum = 1;
             return e.Build();
         },
         kLoaded, std::string("\x7F" "ELF"), kNone},
    });
}

// Objects with PROGBITS sections only, `sizes[i]` bytes of 'A' + i each unless overridden.
Bytes Sections(const std::vector<std::pair<std::size_t, std::optional<std::uint32_t>>>& sections,
               const std::function<void(ElfBuilder&)>& change = {}) {
    ElfBuilder e;
    for (std::size_t i = 0; i < sections.size(); ++i) {
        const auto index = e.AddProgbits(Fill(sections[i].first, static_cast<char>('A' + i)));
        if (sections[i].second) e.sections[index].offset = sections[i].second;
    }
    if (change) change(e);
    return e.Build();
}

TEST_F(ElfCases, ProgbitsCopy) {
    const std::string zeros(32, '\0');
    Check({
        {"8 then 4", [] { return Sections({{8, {}}, {4, {}}}); }, kLoaded, "BBBBAAAA", kNone},
        {"4 then 8", [] { return Sections({{4, {}}, {8, {}}}); }, kLoaded, "BBBBBBBB", kNone},
        {"12, 8, 4", [] { return Sections({{12, {}}, {8, {}}, {4, {}}}); }, kLoaded, "CCCCBBBBAAAA", kNone},
        {"8, 12, 4: the first is hidden", [] { return Sections({{8, {}}, {12, {}}, {4, {}}}); }, kLoaded, "CCCCBBBBBBBB", kNone},
        {"a later section past the end writes zeros",
         [] { return Sections({{8, {}}, {0, 0x100000}}, [](ElfBuilder& e) { e.sections[2].size = 6; }); },
         kLoaded, std::string(6, '\0') + "AA", kNone},
        {"empty sections write nothing",
         [] { return Sections({{0, {}}, {8, {}}, {0, 0xFFFFFFFF}}); }, kLoaded, "BBBBBBBB", kNone},
        {"only empty sections", [] { return Sections({{0, {}}, {0, {}}}); }, kLoaded, kNone, kNone},
        {"sh_size 0x80000000", [] { return Sections({{8, {}}}, [](ElfBuilder& e) { e.sections[1].size = 0x80000000; }); },
         kLoad, kNone, kNone},
        {"sh_size 0xFFFFFFFF", [] { return Sections({{8, {}}}, [](ElfBuilder& e) { e.sections[1].size = 0xFFFFFFFF; }); },
         kLoad, kNone, kNone},
        // The scratch file is created where the literal copy would open it, before the offset
        // is looked at.
        {"sh_offset 0x7FFFFFFF", [] { return Sections({{8, 0x7FFFFFFF}}); }, kLoad, "", kNone},
        {"sh_offset 0xFFFFFFFF", [] { return Sections({{8, 0xFFFFFFFF}}); }, kLoad, "", kNone},
        {"offset + size past 32 bits", [] { return Sections({{32, 0x7FFFFFF0}}); }, kLoaded, zeros, kNone},
        {"other section types",
         [] {
             return Sections({{8, {}}, {8, {}}, {8, {}}, {8, {}}, {8, {}}, {8, {}}}, [](ElfBuilder& e) {
                 const std::uint32_t types[] = {8, 3, 9, 11, 0x6FFFFFFF, 0xFFFFFFFF};
                 for (std::size_t i = 0; i < 6; ++i) e.sections[i + 1].type = types[i];
             });
         },
         kLoaded, kNone, kNone},
    });
}

TEST_F(ElfLoad, SectionPartlyPastTheEndOverwritesWithZeros) {
    ElfBuilder e;
    e.AddProgbits(Fill(8, 'A'));
    const auto tail = e.AddProgbits({});
    e.sections[tail].size = 6;
    const std::size_t end = e.Build().size();
    e.sections[tail].offset = static_cast<std::uint32_t>(end);
    Bytes bytes = e.Build();
    bytes.insert(bytes.end(), {'X', 'Y', 'Z'});
    ASSERT_EQ(Load(bytes), Outcome::kLoaded) << g_loadFailureDetail;
    EXPECT_EQ(Scratch(), std::string("XYZ\0\0\0AA", 8));
}

TEST_F(ElfLoad, LargestSectionPastTheEndGivesAZeroTail) {
    const Bytes bytes = Sections({{16, {}}}, [](ElfBuilder& e) { e.sections[1].size = 0x7FFFFFFF; });
    ASSERT_EQ(Load(bytes), Outcome::kLoaded) << g_loadFailureDetail;
    struct stat info {};
    ASSERT_EQ(::stat(scratch_.c_str(), &info), 0);
    EXPECT_EQ(info.st_size, 0x7FFFFFFF);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_LT(info.st_blocks * 512, 1 << 20);  // a hole, not 2 GiB of written zeros
    // The bytes present in the file, then whatever followed the section in it, then zeros.
    BinaryFile scratch = BinaryFile::OpenForReading(scratch_);
    unsigned char head[24];
    scratch.ReadAt(0, head, sizeof head);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(head), 16), std::string(16, 'A'));
    unsigned char tail[4] = {1, 1, 1, 1};
    scratch.ReadAt(0x7FFFFFFF - 4, tail, 4);
    EXPECT_EQ(std::vector<unsigned char>(tail, tail + 4), std::vector<unsigned char>(4, 0));
}

TEST_F(ElfCases, SymbolTable) {
    const auto model = [](const std::function<void(Model&)>& change) {
        return [change] { return ModelWith(change); };
    };
    const Symbols partial{{"__geoprimdatabufferCube", 4}};
    Check({
        {"sh_link e_shnum", model([](Model& m) { m.Symtab().link = 5; }), kLoad, kModelScratch, kNone},
        {"sh_link 0x80000000", model([](Model& m) { m.Symtab().link = 0x80000000; }), kLoad, kModelScratch, kNone},
        // Names then come from the symbol records: record 1's st_name 1 hits a zero byte.
        {"sh_link to the symbol table itself", model([](Model& m) { m.Symtab().link = m.symtab; }),
         kLoaded, kModelScratch, Symbols{{"", 4}}},
        {"string table sh_size 0", model([](Model& m) { m.elf.sections[m.strtab].size = 0; }), kLoad, kModelScratch, kNone},
        {"string table sh_size 0x80000000", model([](Model& m) { m.elf.sections[m.strtab].size = 0x80000000; }),
         kLoad, kModelScratch, kNone},
        {"string table sh_offset 0x7FFFFFFF", model([](Model& m) { m.elf.sections[m.strtab].offset = 0x7FFFFFFF; }),
         kLoad, kModelScratch, kNone},
        {"string table sh_size 0x7FFFFFFF", model([](Model& m) { m.elf.sections[m.strtab].size = 0x7FFFFFFF; }),
         kLoaded, kModelScratch, kModelSymbols},
        {"sh_entsize 0", model([](Model& m) { m.Symtab().entsize = 0; }), kLoad, kModelScratch, kReset},
        {"symbol table sh_offset 0x7FFFFFFF", model([](Model& m) { m.Symtab().offset = 0x7FFFFFFF; }),
         kLoad, kModelScratch, kReset},
        {"records past the end read as null symbols", model([](Model& m) { m.Symtab().offset = 0x7FFFFF00; }),
         kLoaded, kModelScratch, kReset},
        {"st_shndx e_shnum", model([](Model& m) { m.PatchShndx(1, 5); }), kLoad, kModelScratch, kReset},
        {"st_shndx 0x8000", model([](Model& m) { m.PatchShndx(1, 0x8000); }), kLoad, kModelScratch, kReset},
        {"st_shndx 0xFEFF", model([](Model& m) { m.PatchShndx(1, 0xFEFF); }), kLoad, kModelScratch, kReset},
        {"st_shndx 0xFF00", model([](Model& m) { m.PatchShndx(1, 0xFF00); }), kLoaded, kModelScratch, kReset},
        {"st_shndx SHN_ABS", model([](Model& m) { m.PatchShndx(1, 0xFFF1); }), kLoaded, kModelScratch, kReset},
        {"st_shndx SHN_COMMON", model([](Model& m) { m.PatchShndx(1, 0xFFF2); }), kLoaded, kModelScratch, kReset},
        {"st_shndx 0xFFFF", model([](Model& m) { m.PatchShndx(1, 0xFFFF); }), kLoaded, kModelScratch, kReset},
        {"bad st_shndx on a record that is never kept", model([](Model& m) { m.PatchShndx(0, 0x100); }),
         kLoad, kModelScratch, kReset},
        {"st_name at the table's end", model([](Model& m) { m.PatchSymbol(1, 0, 33); }), kLoad, kModelScratch, kReset},
        {"st_name at the table's end, a good table after it",
         model([](Model& m) {
             elfgen::Section good = m.Symtab();
             m.PatchSymbol(1, 0, 33);
             m.elf.AddSection(good);
         }),
         kLoad, kModelScratch, kReset},
        {"st_name 32768", model([](Model& m) { m.PatchSymbol(1, 0, 32768); }), kLoad, kModelScratch, kReset},
        {"st_name 0xFFFFFFFF", model([](Model& m) { m.PatchSymbol(1, 0, 0xFFFFFFFF); }), kLoad, kModelScratch, kReset},
        // Every record is checked; the first one was kept by then.
        {"last name without its NUL", model([](Model& m) { m.elf.sections[m.strtab].size = 32; }),
         kLoad, kModelScratch, partial},
        {"bad name of an absolute symbol",
         model([](Model& m) { m.PatchShndx(2, 0xFFF1); m.PatchSymbol(2, 0, 0x10000); }), kLoad, kModelScratch, partial},
    });
}

// A symbol table of five records in .data with values 1 to 5 and empty names: the number of
// records read is the number kept.
TEST_F(ElfLoad, RecordCountRoundsHalfToEven) {
    struct Row {
        std::int32_t size, entsize, records;  // records 0: the load fails
    };
    const Row rows[] = {{80, 16, 5}, {48, 16, 3}, {40, 16, 3}, {56, 16, 3}, {36, 16, 2},
                        {24, 16, 1}, {8, 16, 1},  {7, 16, 0},  {0, 16, 0},  {48, 24, 2},
                        {3, 1, 3},   {-48, -16, 3}, {48, -16, 0}, {-16, 16, 0},
                        {0x7FFFFFF0, 16, 0}};
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.size) + " / " + std::to_string(row.entsize));
        SetUp();
        ElfBuilder e;
        const auto data = e.AddProgbits(Fill(8, 'A'));
        const auto strtab = e.AddStrtab({});
        std::vector<elfgen::Symbol> symbols;
        for (std::uint32_t v = 1; v <= 5; ++v) symbols.push_back({0, v, 0, 0, 0, data});
        const auto symtab = e.AddSymtab(symbols, strtab);
        e.sections[symtab].size = static_cast<std::uint32_t>(row.size);
        e.sections[symtab].entsize = static_cast<std::uint32_t>(row.entsize);
        const Outcome outcome = Load(e.Build());
        if (row.records == 0) {
            EXPECT_EQ(outcome, Outcome::kLoadFailure);
            EXPECT_EQ(SymbolsNow(), kReset);
            continue;
        }
        ASSERT_EQ(outcome, Outcome::kLoaded) << g_loadFailureDetail;
        Symbols expected;
        for (std::int32_t v = 1; v <= row.records; ++v) expected.emplace_back("", v);
        EXPECT_EQ(SymbolsNow(), expected);
    }
}

TEST_F(ElfLoad, AtMost32767Records) {
    ElfBuilder e;
    const auto data = e.AddProgbits(Fill(8, 'A'));
    std::vector<std::uint32_t> names;
    const auto strtab = e.AddStrtab({"last"}, &names);
    std::vector<elfgen::Symbol> symbols(32767);
    symbols.back() = {names[0], 77, 0, 0, 0, data};
    const auto symtab = e.AddSymtab(symbols, strtab);
    ASSERT_EQ(Load(e.Build()), Outcome::kLoaded) << g_loadFailureDetail;
    EXPECT_EQ(SymbolsNow(), (Symbols{{"last", 77}}));

    SetUp();
    e.sections[symtab].size = 32768 * 16;
    EXPECT_EQ(Load(e.Build()), Outcome::kLoadFailure);
    EXPECT_EQ(SymbolsNow(), kReset);
}

TEST_F(ElfLoad, NamesWithinTheFirst32768Bytes) {
    // Two 40000-byte tables: one with NULs at 32767 and 32768, one whose first NUL after
    // offset 5 stands at 33000.
    Bytes atLimit(40000, 'x');
    atLimit[32767] = 0;
    atLimit[32768] = 0;
    Bytes beyond(40000, 'x');
    beyond[33000] = 0;
    for (Bytes* table : {&atLimit, &beyond}) {
        const std::string high = "\x80\xE9\xFF\x01";
        std::copy(high.begin(), high.end(), table->begin() + 1);
        (*table)[0] = 0;
        (*table)[5] = 0;
        (*table)[10 + 200] = 0;  // 200 'x' from 10
    }
    struct Row {
        const Bytes* table;
        std::uint32_t name;
        std::optional<std::string> kept;  // nullopt: the load fails
    };
    const Row rows[] = {{&atLimit, 32767, ""},
                        {&atLimit, 32768, {}},
                        {&beyond, 32000, {}},
                        {&beyond, 1, "\x80\xE9\xFF\x01"},
                        {&beyond, 10, std::string(kStoredNameLength, 'x')}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        SetUp();
        ElfBuilder e;
        const auto data = e.AddProgbits(Fill(8, 'A'));
        elfgen::Section strtab;
        strtab.type = elfgen::SHT_STRTAB;
        strtab.data = *row.table;
        const auto strtabIndex = e.AddSection(strtab);
        e.AddSymtab({{}, {row.name, 9, 0, 0, 0, data}}, strtabIndex);
        const Outcome outcome = Load(e.Build());
        if (!row.kept) {
            EXPECT_EQ(outcome, Outcome::kLoadFailure);
            continue;
        }
        ASSERT_EQ(outcome, Outcome::kLoaded) << g_loadFailureDetail;
        EXPECT_EQ(SymbolsNow(), (Symbols{{*row.kept, 9}}));
    }
}

TEST_F(ElfLoad, KeepsSymbolsOfProgbitsSectionsInRecordOrder) {
    ElfBuilder e;
    const auto text = e.AddProgbits({});
    const auto data = e.AddProgbits(Fill(16, 'A'));
    const auto bss = e.AddNobits(8);
    std::vector<std::uint32_t> n;
    const auto strtab = e.AddStrtab({"file.c", "global", "weak_func", "in_bss", "undefined", "abs", "common", "in_text"}, &n);
    e.AddSymtab({{},
                 {n[0], 0, 0, 0x04, 0, elfgen::SHN_ABS},
                 {0, 0, 0, 0x03, 0, data},       // section symbol
                 {n[1], 12, 4, 0x11, 0, data},
                 {n[2], 0x80000000, 4, 0x22, 0, data},
                 {n[3], 4, 4, 0x11, 0, bss},
                 {n[4], 0, 0, 0x10, 0, 0},
                 {n[5], 42, 0, 0x10, 0, elfgen::SHN_ABS},
                 {n[6], 4, 4, 0x11, 0, 0xFFF2},
                 {n[7], 3, 0, 0x12, 0, text},
                 {0, 5, 0, 0x03, 0, strtab}},
                strtab);
    ASSERT_EQ(Load(e.Build()), Outcome::kLoaded) << g_loadFailureDetail;
    EXPECT_EQ(SymbolsNow(), (Symbols{{"", 0}, {"global", 12}, {"weak_func", INT32_MIN}, {"in_text", 3}}));
}

// Symbol tables A and B (the model's table and a copy with other values), and tables that
// alias A's bytes: each table resets the list, the last one decides it, also when a later
// section fails.
TEST_F(ElfLoad, LastSymbolTableDecides) {
    const Symbols a = kModelSymbols;
    const Symbols b{{"__geoprimdatabufferCube", 40}};
    struct Row {
        const char* name;
        std::string tables;  // 'A', 'B', 'N' (only the null symbol), 'X' (bad sh_entsize)
        bool failingProgbitsAtEnd;
        Outcome outcome;
        Symbols symbols;
    };
    const Row rows[] = {
        {"A B", "AB", false, Outcome::kLoaded, b},
        {"B A", "BA", false, Outcome::kLoaded, a},
        {"A B A", "ABA", false, Outcome::kLoaded, a},
        {"A B A B A A", "ABABAA", false, Outcome::kLoaded, a},
        {"A B A, then a bad section", "ABA", true, Outcome::kLoadFailure, a},
        {"A A B, then a bad section", "AAB", true, Outcome::kLoadFailure, b},
        {"A N", "AN", false, Outcome::kLoaded, kReset},
        {"A B X", "ABX", false, Outcome::kLoadFailure, kReset},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        SetUp();
        Model m;
        elfgen::Section other = m.Symtab();
        PutU32(other.data, 16 + 4, 40);
        const auto bIndex = m.elf.AddSection(other);
        const Bytes layout = m.elf.Build();
        const std::uint32_t aOffset = SectionOffset(layout, m.symtab);
        const std::uint32_t bOffset = SectionOffset(layout, bIndex);
        for (const char table : row.tables) {
            elfgen::Section s = m.Symtab();
            s.data.clear();
            s.size = 48;
            if (table == 'A') s.offset = aOffset;
            if (table == 'B') s.offset = bOffset;
            if (table == 'N') s.size = 16;
            if (table == 'N') s.offset = aOffset;
            if (table == 'X') s.entsize = 0;
            m.elf.AddSection(s);
        }
        if (row.failingProgbitsAtEnd) {
            const auto bad = m.elf.AddProgbits({});
            m.elf.sections[bad].size = 0x80000000;
        }
        m.elf.sections[m.symtab].type = 0;  // the originals only provide the bytes
        m.elf.sections[bIndex].type = 0;
        EXPECT_EQ(Load(m.elf.Build()), row.outcome) << g_loadFailureDetail;
        EXPECT_EQ(SymbolsNow(), row.symbols);
    }
}

// Tables that overlap share the checks of their records: a bad record that a first table
// does not reach still fails a second one that does.
TEST_F(ElfLoad, OverlappingSymbolTables) {
    struct Row {
        std::uint32_t firstStart, firstCount, secondStart, secondCount;
        Outcome outcome;
        std::size_t kept;  // entries of g_symbols afterwards
    };
    // 2000 records in .data, record 1500 with a bad st_shndx; record numbers, not bytes.
    const Row rows[] = {
        {0, 1400, 100, 1300, Outcome::kLoaded, 1300},
        {0, 1400, 100, 1600, Outcome::kLoadFailure, 1400},
        {1, 1499, 0, 2000, Outcome::kLoadFailure, 1500},
        {600, 1400, 0, 1000, Outcome::kLoadFailure, 900},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.secondStart) + "+" + std::to_string(row.secondCount));
        SetUp();
        ElfBuilder e;
        const auto data = e.AddProgbits(Fill(8, 'A'));
        const auto strtab = e.AddStrtab({});
        std::vector<elfgen::Symbol> records(2000, {0, 1, 0, 0, 0, data});
        records[1500].shndx = 0x7000;
        const auto all = e.AddSymtab(records, strtab);
        e.sections[all].type = 0;
        const std::uint32_t at = SectionOffset(e.Build(), all);
        for (const auto& [start, count] : {std::pair{row.firstStart, row.firstCount},
                                           std::pair{row.secondStart, row.secondCount}}) {
            elfgen::Section s = e.sections[all];
            s.type = elfgen::SHT_SYMTAB;
            s.data.clear();
            s.offset = at + start * 16;
            s.size = count * 16;
            e.AddSection(s);
        }
        EXPECT_EQ(Load(e.Build()), row.outcome) << g_loadFailureDetail;
        ASSERT_TRUE(g_symbols.has_value());
        EXPECT_EQ(g_symbols->size(), row.kept);
    }
}

TEST_F(ElfLoad, FailureDetailNamesSectionFieldAndValue) {
    const std::pair<std::function<void(Model&)>, std::string> rows[] = {
        {[](Model& m) { m.elf.sections[m.data].size = 0x80000000; },
         "section 1 (SHT_PROGBITS): sh_size 0x80000000 is 2 GiB or more"},
        {[](Model& m) { m.Symtab().entsize = 0; }, "section 4 (SHT_SYMTAB): sh_entsize is 0"},
        {[](Model& m) { m.PatchShndx(2, 0x8000); },
         "section 4 (SHT_SYMTAB): symbol 2: st_shndx 0x8000 is not a section number (the file has 5 sections)"},
    };
    for (const auto& [change, detail] : rows) {
        EXPECT_EQ(Load(ModelWith(change)), Outcome::kLoadFailure);
        EXPECT_EQ(g_loadFailureDetail, detail);
    }
}

TEST_F(ElfLoad, ObjectThatIsNotARegularFile) {
    const std::string fifo = dir_.File("fifo.o");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {fifo, dir_.Path(), dir_.File("missing.o"), std::string("/dev/zero")}) {
        SCOPED_TRACE(path);
        SetUp();
        PlantOldScratch();
        EXPECT_EQ(LoadFrom(path), Outcome::kLoadFailure);
        EXPECT_FALSE(EntryExists(scratch_));
    }
}

// Whatever stands at the scratch path is removed as an entry and never written through.
TEST_F(ElfLoad, PlantedScratchEntries) {
    const std::string target = dir_.File("victim");
    const std::string nowhere = dir_.File("nowhere");
    const std::map<std::string, std::function<int()>> plant = {
        {"symlink", [&] { return ::symlink(target.c_str(), scratch_.c_str()); }},
        {"dangling", [&] { return ::symlink(nowhere.c_str(), scratch_.c_str()); }},
        {"hard link", [&] { return ::link(target.c_str(), scratch_.c_str()); }},
        {"fifo", [&] { return ::mkfifo(scratch_.c_str(), 0600); }},
        {"directory", [&] { return ::mkdir(scratch_.c_str(), 0700); }},
    };
    std::ofstream(target) << "keep";
    for (const char* kind : {"symlink", "dangling", "hard link", "fifo"}) {
        SCOPED_TRACE(kind);
        SetUp();
        ASSERT_EQ(plant.at(kind)(), 0);
        EXPECT_EQ(Load(Model().elf.Build()), Outcome::kLoaded) << g_loadFailureDetail;
        struct stat info {};
        ASSERT_EQ(::lstat(scratch_.c_str(), &info), 0);
        EXPECT_TRUE(S_ISREG(info.st_mode));
        EXPECT_EQ(info.st_nlink, 1u);
        EXPECT_EQ(Scratch(), kModelScratch);
        EXPECT_EQ(ReadAll(target), "keep");
        EXPECT_FALSE(EntryExists(nowhere));
        ::unlink(scratch_.c_str());
    }
    SetUp();
    ASSERT_EQ(plant.at("directory")(), 0);
    EXPECT_EQ(Load(Model().elf.Build()), Outcome::kLoadFailure);
    EXPECT_EQ(SymbolsNow(), std::nullopt);
    struct stat info {};
    ASSERT_EQ(::lstat(scratch_.c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    // Even a non-ELF file fails this way: the scratch path is cleared before the magic test.
    EXPECT_EQ(Load(Bytes{'n', 'o'}), Outcome::kLoadFailure);
}

}  // namespace
