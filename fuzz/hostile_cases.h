#pragma once

// Malformed objects, one known class of reader bug each, every one made from the same valid
// model with a single field changed, and the exit the program must take for it. The tests
// check the exits; make_seeds writes the same files as the fuzzers' starting corpus.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "elfgen/elf_builder.h"
#include "fuzz_driver.h"

namespace trenn::hostile {

using fuzz::Exit;

struct HostileCase {
    std::string group;  // header, sections, symbols, mesh
    std::string name;   // usable as a file name
    Exit exit;
    elfgen::Bytes bytes;
    int parts = -1;  // list entries after a load that opens the window; -1: not checked
};

// A file as a compiler lays out one mesh: 1 an empty .text, 2 .data (a 64-byte pad, then the
// mesh block of a four-vertex strip), 3 .bss, 4 .strtab, 5 .symtab with the null symbol, a
// file symbol (SHN_ABS), .data's section symbol and the part symbol.
struct Fixture {
    static constexpr std::uint16_t kText = 1, kData = 2, kBss = 3, kStrtab = 4, kSymtab = 5;
    static constexpr std::size_t kPartRecord = 3;
    // Fields of the mesh block, from its first marker word.
    static constexpr std::size_t kVertexOffset = 8, kVertexCount = 12, kIndexOffset = 48,
                                 kIndexCount = 52;

    elfgen::ElfBuilder elf;
    std::uint32_t block = 0;
    std::vector<std::uint32_t> names;  // st_name of the file symbol and of the part

    explicit Fixture(const std::string& partName = "__geoprimdatabufferWing",
                     const elfgen::Mesh& mesh = Wing()) {
        elf.AddProgbits({});
        elfgen::Bytes data(64, 0);
        block = elfgen::AppendMesh(data, mesh);
        elf.AddProgbits(std::move(data));
        elf.AddNobits(16);
        elf.AddStrtab({"model.c", partName}, &names);
        elf.AddSymtab({{},
                       {names[0], 0, 0, 0x04, 0, elfgen::SHN_ABS},
                       {0, 0, 0, 0x03, 0, kData},
                       {names[1], block, 56, 0x11, 0, kData}},
                      kStrtab);
    }

    static elfgen::Mesh Wing() {
        return {{{-2.0f, -1.0f, 0.0f}, {2.0f, -1.0f, 0.0f}, {0.0f, 1.5f, 0.5f}, {1.0f, 1.0f, -1.0f}},
                {0, 1, 2, 3}};
    }

    elfgen::Section& Data() { return elf.sections[kData]; }
    elfgen::Section& Strtab() { return elf.sections[kStrtab]; }
    elfgen::Section& Symtab() { return elf.sections[kSymtab]; }
    void MeshField(std::size_t field, std::uint32_t value) {
        elfgen::PutU32(Data().data, block + field, value);
    }
    // Byte offset `field` of symbol record `record`.
    void SymbolField(std::size_t record, std::size_t field, std::uint32_t value) {
        elfgen::PutU32(Symtab().data, record * 16 + field, value);
    }
    void SymbolShndx(std::size_t record, std::uint16_t value) {
        elfgen::PutU16(Symtab().data, record * 16 + 14, value);
    }
    // Offset of the section header table in the built file.
    std::uint32_t TableOffset() const {
        const elfgen::Bytes bytes = elf.Build();
        return static_cast<std::uint32_t>(bytes.size() - elf.sections.size() * 40);
    }
    // Where section `index` lies in the built file.
    std::uint32_t SectionOffset(std::size_t index) const {
        const elfgen::Bytes bytes = elf.Build();
        const std::size_t at = TableOffset() + index * 40 + 16;
        return static_cast<std::uint32_t>(bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
                                          bytes[at + 3] << 24);
    }
};

template <typename Change>
elfgen::Bytes Model(Change change) {
    Fixture f;
    change(f);
    return f.elf.Build();
}

inline elfgen::Bytes Cut(elfgen::Bytes bytes, std::size_t length) {
    bytes.resize(length);
    return bytes;
}

inline std::vector<HostileCase> HeaderCases() {
    using E = Exit;
    const elfgen::Bytes good = Model([](Fixture&) {});
    const std::uint32_t table = Fixture().TableOffset();
    return {
        {"header", "valid-model", E::kOk, good, 1},
        {"header", "empty-file", E::kMagic, {}},
        {"header", "two-bytes", E::kMagic, {0x7F, 'E'}},
        {"header", "text-file", E::kMagic, {'#', 'i', 'n', 'c', 'l', 'u', 'd', 'e', '\n'}},
        {"header", "magic-last-byte-wrong", E::kMagic, Model([](Fixture& f) { f.elf.ident[3] = 'G'; })},
        // The loader accepts it, but there is no symbol table to take parts from.
        {"header", "magic-only", E::kCorrupt, {0x7F, 'E', 'L', 'F'}},
        {"header", "header-cut-at-30", E::kCorrupt, Cut(good, 30)},
        {"header", "header-cut-inside-shnum", E::kCorrupt, Cut(good, 49)},
        {"header", "elf64-bigendian-ident", E::kOk,
         Model([](Fixture& f) {
             f.elf.ident[4] = 2;
             f.elf.ident[5] = 2;
             f.elf.type = 0xFEFF;
             f.elf.machine = 0xB7;
         }),
         1},
        {"header", "shentsize-0", E::kOk, Model([](Fixture& f) { f.elf.shentsize = 0; }), 1},
        {"header", "shentsize-1", E::kOk, Model([](Fixture& f) { f.elf.shentsize = 1; }), 1},
        {"header", "shentsize-64", E::kOk, Model([](Fixture& f) { f.elf.shentsize = 64; }), 1},
        {"header", "shentsize-ffff", E::kOk, Model([](Fixture& f) { f.elf.shentsize = 0xFFFF; }), 1},
        // Extended numbering: the count in section 0 is never used.
        {"header", "shnum-0-count-in-section-0", E::kCorrupt,
         Model([](Fixture& f) {
             f.elf.shnum = 0;
             f.elf.sections[0].size = 6;
             f.elf.sections[0].link = 5;
             f.elf.shstrndx = 0xFFFF;
         })},
        {"header", "shnum-8000", E::kLoad, Model([](Fixture& f) { f.elf.shnum = 0x8000; })},
        {"header", "shnum-ffff", E::kLoad, Model([](Fixture& f) { f.elf.shnum = 0xFFFF; })},
        {"header", "shoff-7fffffff", E::kLoad, Model([](Fixture& f) { f.elf.shoff = 0x7FFFFFFF; })},
        {"header", "shoff-fffffff0", E::kLoad, Model([](Fixture& f) { f.elf.shoff = 0xFFFFFFF0; })},
        {"header", "table-wholly-past-the-end", E::kCorrupt,
         Model([&](Fixture& f) { f.elf.shoff = table + 4096; })},
        {"header", "table-cut-before-the-symbol-table", E::kCorrupt, Cut(good, table + 4 * 40 + 8)},
        // A trailing header cut short reads as type 0 and is skipped.
        {"header", "last-header-cut-short", E::kOk,
         [] {
             Fixture f;
             f.elf.AddNobits(64);
             const elfgen::Bytes bytes = f.elf.Build();
             return Cut(bytes, bytes.size() - 38);
         }(),
         1},
        // Section 0 is the ELF header itself (type 0x00010101: skipped).
        {"header", "shoff-0", E::kCorrupt,
         Model([](Fixture& f) {
             f.elf.shoff = 0;
             f.elf.shnum = 1;
         })},
        // Three headers made of .data's pad and mesh block: none is of a type that is read.
        {"header", "shoff-inside-data", E::kCorrupt,
         Model([](Fixture& f) {
             f.elf.shoff = f.SectionOffset(Fixture::kData);
             f.elf.shnum = 3;
         })},
    };
}

inline std::vector<HostileCase> SectionCases() {
    using E = Exit;
    const auto alias = [](std::uint32_t type, std::uint32_t offset, std::uint32_t size) {
        elfgen::Section s;
        s.type = type;
        s.offset = offset;
        s.size = size;
        return s;
    };
    std::vector<HostileCase> cases = {
        // .text is already empty in every case; this one also lies at an offset nothing can read.
        {"sections", "empty-progbits-at-offset-ffffffff", E::kOk,
         Model([&](Fixture& f) { f.elf.AddSection(alias(elfgen::SHT_PROGBITS, 0xFFFFFFFF, 0)); }), 1},
        {"sections", "data-size-80000000", E::kLoad, Model([](Fixture& f) { f.Data().size = 0x80000000; })},
        {"sections", "data-size-ffffffff", E::kLoad, Model([](Fixture& f) { f.Data().size = 0xFFFFFFFF; })},
        // The scratch file is 2 GiB, mostly a hole; the mesh lies in the bytes present.
        {"sections", "data-size-7fffffff", E::kOk, Model([](Fixture& f) { f.Data().size = 0x7FFFFFFF; }), 1},
        {"sections", "data-offset-ffffffff", E::kLoad, Model([](Fixture& f) { f.Data().offset = 0xFFFFFFFF; })},
        {"sections", "data-offset-7fffffff", E::kLoad, Model([](Fixture& f) { f.Data().offset = 0x7FFFFFFF; })},
        // Offset + size passes 2^31: the bytes read as zeros, so there is no marker.
        {"sections", "data-offset-plus-size-past-2g", E::kCorrupt,
         Model([](Fixture& f) {
             f.Data().offset = 0x7FFFFF00;
             f.Data().size = 0x1000;
         })},
        {"sections", "data-past-the-end", E::kCorrupt, Model([](Fixture& f) { f.Data().offset = 0x100000; })},
        // A later section overwrites the start of the scratch copy: only the pad here...
        {"sections", "later-section-over-the-pad", E::kOk,
         Model([](Fixture& f) { f.elf.AddProgbits(elfgen::Bytes(32, 0x55)); }), 1},
        // ...and all of it there, with zeros from past the end of the file.
        {"sections", "later-zero-section-over-the-mesh", E::kCorrupt,
         Model([&](Fixture& f) {
             f.elf.AddSection(alias(elfgen::SHT_PROGBITS, 0x100000,
                                    static_cast<std::uint32_t>(f.Data().data.size())));
         })},
        {"sections", "300-sections-aliasing-data", E::kOk,
         Model([&](Fixture& f) {
             const std::uint32_t at = f.SectionOffset(Fixture::kData);
             const auto size = static_cast<std::uint32_t>(f.Data().data.size());
             for (std::uint32_t i = 0; i < 300; ++i) f.elf.AddSection(alias(elfgen::SHT_PROGBITS, at, size + i));
         }),
         1},
    };
    // .data of another type is not copied and its symbols are not kept: no part is left.
    for (const std::uint32_t type : {8u, 3u, 9u, 11u, 0x6FFFFFFFu, 0xFFFFFFFFu}) {
        char name[40];
        std::snprintf(name, sizeof name, "data-of-type-%x", type);
        cases.push_back({"sections", name, E::kNotUnderstood, Model([&](Fixture& f) { f.Data().type = type; })});
    }
    return cases;
}

inline std::vector<HostileCase> SymbolCases() {
    using E = Exit;
    return {
        {"symbols", "symtab-link-shnum", E::kLoad, Model([](Fixture& f) { f.Symtab().link = 6; })},
        {"symbols", "symtab-link-80000000", E::kLoad, Model([](Fixture& f) { f.Symtab().link = 0x80000000; })},
        // Names from the symbol table's own bytes: every st_name lands in the null record.
        {"symbols", "symtab-link-to-itself", E::kNotUnderstood, Model([](Fixture& f) { f.Symtab().link = Fixture::kSymtab; })},
        // Names from .data's zero pad: all empty.
        {"symbols", "symtab-link-to-data", E::kNotUnderstood, Model([](Fixture& f) { f.Symtab().link = Fixture::kData; })},
        // .bss shares its offset with the string table but is 16 bytes: the part's name has
        // no NUL within them.
        {"symbols", "symtab-link-to-bss", E::kLoad, Model([](Fixture& f) { f.Symtab().link = Fixture::kBss; })},
        {"symbols", "strtab-size-0", E::kLoad, Model([](Fixture& f) { f.Strtab().size = 0; })},
        {"symbols", "strtab-size-80000000", E::kLoad, Model([](Fixture& f) { f.Strtab().size = 0x80000000; })},
        {"symbols", "strtab-offset-7fffffff", E::kLoad, Model([](Fixture& f) { f.Strtab().offset = 0x7FFFFFFF; })},
        {"symbols", "strtab-size-7fffffff", E::kOk, Model([](Fixture& f) { f.Strtab().size = 0x7FFFFFFF; }), 1},
        {"symbols", "entsize-0", E::kLoad, Model([](Fixture& f) { f.Symtab().entsize = 0; })},
        // 64 / 24 = 2.67: three records, the part symbol (the fourth) is not read.
        {"symbols", "entsize-24", E::kNotUnderstood, Model([](Fixture& f) { f.Symtab().entsize = 24; })},
        {"symbols", "entsize-negative", E::kLoad, Model([](Fixture& f) { f.Symtab().entsize = 0xFFFFFFF0; })},
        {"symbols", "size-and-entsize-negative", E::kOk,
         Model([](Fixture& f) {
             f.Symtab().size = static_cast<std::uint32_t>(-64);
             f.Symtab().entsize = static_cast<std::uint32_t>(-16);
         }),
         1},
        {"symbols", "record-count-over-32767", E::kLoad, Model([](Fixture& f) { f.Symtab().size = 0x7FFFFFF0; })},
        {"symbols", "records-past-the-end", E::kNotUnderstood, Model([](Fixture& f) { f.Symtab().offset = 0x7FFFFF00; })},
        {"symbols", "st-name-at-strtab-end", E::kLoad,
         Model([](Fixture& f) {
             f.SymbolField(Fixture::kPartRecord, 0, static_cast<std::uint32_t>(f.Strtab().data.size()));
         })},
        {"symbols", "st-name-32768", E::kLoad, Model([](Fixture& f) { f.SymbolField(Fixture::kPartRecord, 0, 32768); })},
        {"symbols", "st-name-ffffffff", E::kLoad, Model([](Fixture& f) { f.SymbolField(Fixture::kPartRecord, 0, 0xFFFFFFFF); })},
        // The file symbol is never kept, but its name is checked all the same.
        {"symbols", "bad-name-of-a-symbol-not-kept", E::kLoad, Model([](Fixture& f) { f.SymbolField(1, 0, 40000); })},
        {"symbols", "last-name-without-nul", E::kLoad,
         Model([](Fixture& f) { f.Strtab().size = static_cast<std::uint32_t>(f.Strtab().data.size() - 1); })},
        {"symbols", "name-nul-past-32767", E::kLoad,
         Model([](Fixture& f) {
             elfgen::Bytes& table = f.Strtab().data;
             table.pop_back();  // the part name's NUL
             table.resize(33000, 'x');
             table.push_back(0);
         })},
        {"symbols", "st-shndx-shnum", E::kLoad, Model([](Fixture& f) { f.SymbolShndx(Fixture::kPartRecord, 6); })},
        {"symbols", "st-shndx-feff", E::kLoad, Model([](Fixture& f) { f.SymbolShndx(Fixture::kPartRecord, 0xFEFF); })},
        {"symbols", "st-shndx-8000-not-kept", E::kLoad, Model([](Fixture& f) { f.SymbolShndx(0, 0x8000); })},
        // Reserved indices are passed over: the part symbol is simply not kept.
        {"symbols", "st-shndx-ff00", E::kNotUnderstood, Model([](Fixture& f) { f.SymbolShndx(Fixture::kPartRecord, 0xFF00); })},
        {"symbols", "st-shndx-common", E::kNotUnderstood, Model([](Fixture& f) { f.SymbolShndx(Fixture::kPartRecord, 0xFFF2); })},
        {"symbols", "high-and-control-bytes-in-name", E::kOk,
         [] {
             Fixture f(std::string("__geoprimdatabuffer\x80\xE9\xFF\x01\x1B\x7F", 25));
             return f.elf.Build();
         }(),
         1},
        {"symbols", "two-symbol-tables-last-has-no-part", E::kNotUnderstood,
         Model([](Fixture& f) {
             elfgen::Section second = f.Symtab();
             second.data.resize(48);  // null, file and section symbol only
             f.elf.AddSection(second);
         })},
    };
}

inline std::vector<HostileCase> MeshCases() {
    using E = Exit;
    using F = Fixture;
    const auto mesh = [](std::size_t field, std::uint32_t value) {
        return Model([=](Fixture& f) { f.MeshField(field, value); });
    };
    const auto vertices = [](std::vector<std::array<float, 3>> v) {
        elfgen::Mesh m = Fixture::Wing();
        m.vertices = std::move(v);
        Fixture f("__geoprimdatabufferWing", m);
        return f.elf.Build();
    };
    const auto indices = [](std::vector<std::int16_t> list) {
        elfgen::Mesh m = Fixture::Wing();
        m.indices = std::move(list);
        Fixture f("__geoprimdatabufferWing", m);
        return f.elf.Build();
    };
    const auto value = [](std::uint32_t v) {
        return Model([=](Fixture& f) { f.SymbolField(Fixture::kPartRecord, 4, v); });
    };
    // Words from the part's value on; the mesh block (with its own two marker words) follows.
    const auto lead = [](std::vector<std::uint32_t> words) {
        return Model([&](Fixture& f) {
            const std::uint32_t start = f.block - static_cast<std::uint32_t>(words.size()) * 4;
            for (std::size_t i = 0; i < words.size(); ++i) {
                elfgen::PutU32(f.Data().data, start + i * 4, words[i]);
            }
            f.SymbolField(Fixture::kPartRecord, 4, start);
        });
    };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    return {
        {"mesh", "value-0", E::kCorrupt, value(0)},
        {"mesh", "value-negative", E::kCorrupt, value(0x80000000)},
        {"mesh", "value-past-the-end", E::kCorrupt, value(0x10000)},
        {"mesh", "value-after-the-marker", E::kCorrupt, Model([](Fixture& f) { f.SymbolField(F::kPartRecord, 4, f.block + 8); })},
        // .data has no bytes: no scratch file is written, the one opened for reading is empty.
        {"mesh", "no-scratch-bytes", E::kCorrupt, Model([](Fixture& f) { f.Data().size = 0; })},
        {"mesh", "lone-marker-word-skipped", E::kOk, lead({0xFFFFFFFF, 0x12345678}), 1},
        {"mesh", "marker-after-junk", E::kOk, lead({5, 7, 0xFFFFFFFF, 9}), 1},
        // The first two of three marker words are the marker: vertex offset -1.
        {"mesh", "three-marker-words", E::kCorrupt, lead({0xFFFFFFFF})},
        // Off the 4-byte grid of the marker, no aligned pair of marker words exists.
        {"mesh", "unaligned-value", E::kCorrupt, Model([](Fixture& f) { f.SymbolField(F::kPartRecord, 4, f.block - 2); })},
        {"mesh", "marker-is-the-last-word", E::kCorrupt,
         Model([](Fixture& f) {
             elfgen::AppendU32(f.Data().data, 0xFFFFFFFF);
             f.SymbolField(F::kPartRecord, 4, static_cast<std::uint32_t>(f.Data().data.size() - 4));
         })},
        {"mesh", "block-cut-after-vertex-count", E::kCorrupt, Model([](Fixture& f) { f.Data().size = f.block + 16; })},
        {"mesh", "vertex-count-0", E::kCorrupt, mesh(F::kVertexCount, 0)},
        {"mesh", "vertex-count-negative", E::kCorrupt, mesh(F::kVertexCount, 0xFFFFFFFF)},
        {"mesh", "vertex-count-32769", E::kCorrupt, mesh(F::kVertexCount, 32769)},
        {"mesh", "vertex-count-7fffffff", E::kCorrupt, mesh(F::kVertexCount, 0x7FFFFFFF)},
        // Vertices past the end of the scratch file are zeros.
        {"mesh", "vertex-count-32768", E::kOk, mesh(F::kVertexCount, 32768), 1},
        {"mesh", "index-count-0", E::kCorrupt, mesh(F::kIndexCount, 0)},
        {"mesh", "index-count-negative", E::kCorrupt, mesh(F::kIndexCount, 0x80000000)},
        {"mesh", "index-count-7fffffff", E::kOk, mesh(F::kIndexCount, 0x7FFFFFFF), 1},
        {"mesh", "index-count-2", E::kOk, mesh(F::kIndexCount, 2), 1},
        {"mesh", "vertex-offset-negative", E::kCorrupt, mesh(F::kVertexOffset, 0xFFFFFFFF)},
        {"mesh", "vertex-offset-7fffffff", E::kCorrupt, mesh(F::kVertexOffset, 0x7FFFFFFF)},
        {"mesh", "vertex-offset-7ffffffe", E::kOk, mesh(F::kVertexOffset, 0x7FFFFFFE), 1},
        {"mesh", "index-offset-negative", E::kCorrupt, mesh(F::kIndexOffset, 0xFFFFFFFF)},
        {"mesh", "index-offset-7fffffff", E::kCorrupt, mesh(F::kIndexOffset, 0x7FFFFFFF)},
        {"mesh", "index-offset-past-the-end", E::kOk, mesh(F::kIndexOffset, 0x10000), 1},
        {"mesh", "nan-coordinate", E::kCorrupt, vertices({{0, 0, 0}, {1, nan, 0}, {0, 1, 0}})},
        {"mesh", "infinite-coordinate", E::kCorrupt, vertices({{0, 0, 0}, {1, 0, -inf}, {0, 1, 0}})},
        {"mesh", "coordinates-3e38", E::kOk, vertices({{3e38f, -3e38f, 3e38f}, {-3e38f, 3e38f, 1}, {0, 1, 0}}), 1},
        {"mesh", "denormal-coordinates", E::kOk, vertices({{1e-40f, 0, 0}, {0, 1e-45f, 0}, {0, 0, 1e-39f}}), 1},
        {"mesh", "all-coordinates-0", E::kOk, vertices({{0, 0, 0}, {0, 0, 0}, {0, 0, 0}}), 1},
        {"mesh", "index-values-out-of-range", E::kOk, indices({-1, 0, 1, 4, 2, 3, 32767, -32768}), 1},
        {"mesh", "index-list-of-one", E::kOk, indices({2}), 1},
        {"mesh", "index-list-of-33000", E::kOk,
         indices([] {
             std::vector<std::int16_t> list(33000);
             for (std::size_t i = 0; i < list.size(); ++i) list[i] = static_cast<std::int16_t>(i % 4);
             return list;
         }()),
         1},
        {"mesh", "several-parts-index-count-7fffffff", E::kOk,
         [] {
             elfgen::Mesh m = Fixture::Wing();
             std::vector<std::pair<std::string, elfgen::Mesh>> parts;
             for (int i = 0; i < 4; ++i) parts.emplace_back("_" + std::to_string(i), m);
             elfgen::Bytes bytes = elfgen::BuildModelObject(parts);
             // Each block's index count: the blocks follow the 64-byte pad of .data, which
             // BuildModelObject places after .text and .comment.
             const std::uint32_t table = static_cast<std::uint32_t>(
                 bytes[32] | bytes[33] << 8 | bytes[34] << 16 | bytes[35] << 24);
             const std::size_t dataHeader = table + 3 * 40;
             const std::uint32_t dataAt = static_cast<std::uint32_t>(
                 bytes[dataHeader + 16] | bytes[dataHeader + 17] << 8 | bytes[dataHeader + 18] << 16 |
                 bytes[dataHeader + 19] << 24);
             const std::size_t blockSize = 56 + 4 * 40 + 8;
             for (std::size_t i = 0; i < 4; ++i) {
                 elfgen::PutU32(bytes, dataAt + 64 + i * blockSize + Fixture::kIndexCount, 0x7FFFFFFF);
             }
             return bytes;
         }(),
         4},
    };
}

// ---- Parts that together name far more array bytes than the file holds ----

// A section of `size` bytes at `offset` that carries no data of its own.
inline elfgen::Section Alias(std::uint32_t type, std::uint32_t offset, std::uint32_t size) {
    elfgen::Section s;
    s.type = type;
    s.offset = offset;
    s.size = size;
    return s;
}

// `parts` part symbols, all with one name of `nameLength` characters and the fixture's mesh
// block as value, in one symbol table; then `aliases` more symbol tables over the same records.
inline elfgen::Bytes ManyParts(std::uint32_t parts, std::size_t nameLength, std::uint32_t aliases,
                               const std::function<void(Fixture&)>& change = {}) {
    Fixture f;
    f.Strtab().data = {0};
    const std::string name = "__geoprimdatabuffer" + std::string(nameLength - 19, 'p');
    f.Strtab().data.insert(f.Strtab().data.end(), name.begin(), name.end());
    f.Strtab().data.push_back(0);
    f.Symtab().data.clear();
    for (std::uint32_t i = 0; i < parts; ++i) {
        elfgen::Bytes& records = f.Symtab().data;
        const std::size_t at = records.size();
        elfgen::PutU32(records, at, 1);
        elfgen::PutU32(records, at + 4, f.block);
        elfgen::PutU16(records, at + 14, Fixture::kData);
    }
    if (change) change(f);
    const std::uint32_t at = f.SectionOffset(Fixture::kSymtab);
    for (std::uint32_t i = 0; i < aliases; ++i) {
        elfgen::Section s = Alias(elfgen::SHT_SYMTAB, at, parts * 16);
        s.link = Fixture::kStrtab;
        s.entsize = 16;
        f.elf.AddSection(s);
    }
    return f.elf.Build();
}

// Every part names one mesh block whose vertex array runs 32768 records past the end.
inline elfgen::Bytes SharedVertexTail(std::uint32_t parts) {
    return ManyParts(parts, 40, 0, [](Fixture& f) { f.MeshField(Fixture::kVertexCount, 32768); });
}

// Every part names one mesh block whose index list claims 0x7FFFFFFF entries and runs over
// `dataBytes` of section data, all of them usable entries of a strip.
inline elfgen::Bytes SharedIndexTail(std::uint32_t parts, std::size_t dataBytes) {
    return ManyParts(parts, 40, 0, [dataBytes](Fixture& f) {
        elfgen::Bytes& data = f.Data().data;
        const std::size_t field = f.block + Fixture::kIndexOffset;
        const std::size_t indexAt = data[field] | data[field + 1] << 8 | data[field + 2] << 16 |
                                    static_cast<std::size_t>(data[field + 3]) << 24;
        data.resize(std::max<std::size_t>(data.size(), dataBytes), 0);
        for (std::size_t at = indexAt, i = 0; at + 2 <= data.size(); at += 2, ++i) {
            elfgen::PutU16(data, at, static_cast<std::uint16_t>(i % 4));
        }
        f.MeshField(Fixture::kIndexCount, 0x7FFFFFFF);
    });
}

// `blocks` mesh blocks, one part each, whose vertex arrays of `vertices` records start one
// record apart over one run of real records; all share one strip of `strip` entries that walks
// the vertices round and round.
inline elfgen::Bytes OverlappingVertexViews(std::uint32_t blocks, std::uint32_t vertices,
                                            std::uint32_t strip = 64) {
    constexpr std::uint32_t kFirstBlock = 64, kBlockSize = 56;
    const std::uint32_t kStrip = strip;
    const std::uint32_t run = kFirstBlock + blocks * kBlockSize;
    const std::uint32_t records = blocks - 1 + vertices;
    const std::uint32_t stripAt = run + records * 40;
    elfgen::Bytes data(stripAt + kStrip * 2, 0);
    for (std::uint32_t b = 0; b < blocks; ++b) {
        const std::uint32_t at = kFirstBlock + b * kBlockSize;
        elfgen::PutU32(data, at, 0xFFFFFFFF);
        elfgen::PutU32(data, at + 4, 0xFFFFFFFF);
        elfgen::PutU32(data, at + Fixture::kVertexOffset, run + b * 40);
        elfgen::PutU32(data, at + Fixture::kVertexCount, vertices);
        elfgen::PutU32(data, at + Fixture::kIndexOffset, stripAt);
        elfgen::PutU32(data, at + Fixture::kIndexCount, kStrip);
    }
    // A helix: neighbouring records are neighbouring points.
    for (std::uint32_t r = 0; r < records; ++r) {
        const double t = r * 0.01;
        elfgen::PutF32(data, run + r * 40, static_cast<float>(std::cos(t)));
        elfgen::PutF32(data, run + r * 40 + 4, static_cast<float>(-0.8 + 1.6 * r / records));
        elfgen::PutF32(data, run + r * 40 + 8, static_cast<float>(std::sin(t)));
    }
    for (std::uint32_t i = 0; i < kStrip; ++i) {
        elfgen::PutU16(data, stripAt + i * 2, static_cast<std::uint16_t>(i % vertices));
    }
    elfgen::ElfBuilder elf;
    elf.AddProgbits({});
    const std::uint16_t dataSection = elf.AddProgbits(std::move(data));
    std::vector<std::uint32_t> names;
    const std::uint16_t strtab = elf.AddStrtab({"__geoprimdatabufferHelix"}, &names);
    std::vector<elfgen::Symbol> symbols;
    for (std::uint32_t b = 0; b < blocks; ++b) {
        symbols.push_back({names[0], kFirstBlock + b * kBlockSize, kBlockSize, 0x11, 0, dataSection});
    }
    elf.AddSymtab(symbols, strtab);
    return elf.Build();
}

// `blocks` mesh blocks, one part each, whose vertex arrays of 32768 records start a byte
// apart in the last record of the data: distinct views, each almost all zero tail, in a file
// a few kilobytes long.
inline elfgen::Bytes VertexViewsIntoTheTail(std::uint32_t blocks) {
    constexpr std::uint32_t kFirstBlock = 64, kBlockSize = 56;
    const std::uint32_t strip = kFirstBlock + blocks * kBlockSize;
    const std::uint32_t tail = strip + 8;
    elfgen::Bytes data(tail + 40 + blocks, 0);
    for (std::uint32_t b = 0; b < blocks; ++b) {
        const std::uint32_t at = kFirstBlock + b * kBlockSize;
        elfgen::PutU32(data, at, 0xFFFFFFFF);
        elfgen::PutU32(data, at + 4, 0xFFFFFFFF);
        elfgen::PutU32(data, at + Fixture::kVertexOffset, tail + b);
        elfgen::PutU32(data, at + Fixture::kVertexCount, 32768);
        elfgen::PutU32(data, at + Fixture::kIndexOffset, strip);
        elfgen::PutU32(data, at + Fixture::kIndexCount, 4);
    }
    for (std::uint32_t i = 0; i < 4; ++i) elfgen::PutU16(data, strip + i * 2, static_cast<std::uint16_t>(i));
    for (std::uint32_t i = 0; i < 40 + blocks; ++i) data[tail + i] = static_cast<std::uint8_t>(0x3C);
    elfgen::ElfBuilder elf;
    elf.AddProgbits({});
    const std::uint16_t dataSection = elf.AddProgbits(std::move(data));
    std::vector<std::uint32_t> names;
    const std::uint16_t strtab = elf.AddStrtab({"__geoprimdatabufferTail"}, &names);
    std::vector<elfgen::Symbol> symbols;
    for (std::uint32_t b = 0; b < blocks; ++b) {
        symbols.push_back({names[0], kFirstBlock + b * kBlockSize, kBlockSize, 0x11, 0, dataSection});
    }
    elf.AddSymtab(symbols, strtab);
    return elf.Build();
}

// The same shapes at sizes a fuzzer can work with; the tests measure them at full size.
inline std::vector<HostileCase> SharedArrayCases() {
    using E = Exit;
    return {
        {"shared", "500-parts-one-vertex-tail", E::kOk, SharedVertexTail(500), 500},
        {"shared", "300-parts-one-index-tail", E::kOk, SharedIndexTail(300, 8192), 300},
        {"shared", "64-overlapping-vertex-views", E::kOk, OverlappingVertexViews(64, 200), 64},
        // Distinct views ask for work of their own: within what the file's size allows, and
        // past it.
        {"shared", "30-views-into-the-tail", E::kOk, VertexViewsIntoTheTail(30), 30},
        {"shared", "200-views-into-the-tail", E::kCorrupt, VertexViewsIntoTheTail(200)},
    };
}

inline std::vector<HostileCase> HostileCases() {
    std::vector<HostileCase> all;
    for (auto* group : {&HeaderCases, &SectionCases, &SymbolCases, &MeshCases, &SharedArrayCases}) {
        for (HostileCase& c : group()) all.push_back(std::move(c));
    }
    return all;
}

}  // namespace trenn::hostile
