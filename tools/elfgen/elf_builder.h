#pragma once

// Writes ELF32 little-endian relocatable objects. Every header field can be set by hand,
// so the same builder makes valid models and files broken in exactly one place.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace elfgen {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::uint32_t SHT_PROGBITS = 1;
inline constexpr std::uint32_t SHT_SYMTAB = 2;
inline constexpr std::uint32_t SHT_STRTAB = 3;
inline constexpr std::uint32_t SHT_NOBITS = 8;
inline constexpr std::uint16_t SHN_ABS = 0xFFF1;

struct Section {
    std::uint32_t name = 0;
    std::uint32_t type = 0;
    std::uint32_t flags = 0;
    std::uint32_t addr = 0;
    std::optional<std::uint32_t> offset;  // unset: placed after the data before it
    std::optional<std::uint32_t> size;    // unset: data.size()
    std::uint32_t link = 0;
    std::uint32_t info = 0;
    std::uint32_t addralign = 1;
    std::uint32_t entsize = 0;
    Bytes data;
};

struct Symbol {
    std::uint32_t name = 0;
    std::uint32_t value = 0;
    std::uint32_t size = 0;
    std::uint8_t info = 0;
    std::uint8_t other = 0;
    std::uint16_t shndx = 0;
};

class ElfBuilder {
public:
    ElfBuilder();  // holds the null section 0

    std::array<std::uint8_t, 16> ident{0x7F, 'E', 'L', 'F', 1, 1, 1};
    std::uint16_t type = 1;
    std::uint16_t machine = 3;
    std::uint32_t version = 1;
    std::uint32_t entry = 0;
    std::uint32_t phoff = 0;
    std::optional<std::uint32_t> shoff;  // unset: the table follows the section data
    std::uint32_t flags = 0;
    std::uint16_t ehsize = 52;
    std::uint16_t phentsize = 0;
    std::uint16_t phnum = 0;
    std::uint16_t shentsize = 40;
    std::optional<std::uint16_t> shnum;  // unset: sections.size()
    std::uint16_t shstrndx = 0;

    std::vector<Section> sections;

    std::uint16_t AddSection(Section section);
    std::uint16_t AddProgbits(Bytes data);
    std::uint16_t AddNobits(std::uint32_t size);
    // A string table of the given names (a leading NUL first); `offsets` gets each name's st_name.
    std::uint16_t AddStrtab(const std::vector<std::string>& names,
                            std::vector<std::uint32_t>* offsets = nullptr);
    std::uint16_t AddSymtab(const std::vector<Symbol>& symbols, std::uint16_t strtabIndex);

    Bytes Build() const;
};

void PutU16(Bytes& bytes, std::size_t offset, std::uint16_t value);
void PutU32(Bytes& bytes, std::size_t offset, std::uint32_t value);
void PutF32(Bytes& bytes, std::size_t offset, float value);
void AppendU32(Bytes& bytes, std::uint32_t value);
void WriteFile(const std::string& path, const Bytes& bytes);

// One mesh: vertex coordinates and a triangle-strip index list.
struct Mesh {
    std::vector<std::array<float, 3>> vertices;
    std::vector<std::int16_t> indices;
};

// Appends a mesh block (marker, offsets and counts) and then the vertex array and the index
// list to `data`, 4-byte aligned. Returns the offset of the mesh block.
std::uint32_t AppendMesh(Bytes& data, const Mesh& mesh);

// A complete object as a compiler would lay it out: an empty .text, the parts in .data
// (symbols "__geoprimdatabuffer" + name), .bss, .comment, a file symbol with SHN_ABS and a
// section symbol, .symtab, .strtab and .shstrtab. .comment comes before .data in the table,
// so the mesh bytes are the ones that survive at the start of the scratch copy.
Bytes BuildModelObject(const std::vector<std::pair<std::string, Mesh>>& parts);

// Appends the triangle strip of a rows x cols vertex grid (vertex numbers from `first`, row
// after row) to `indices`, joined to what they hold with degenerate triangles.
void AppendGridStrip(std::vector<std::int16_t>& indices, int first, int rows, int cols);

// Shapes for samples, benchmarks and tests.
Mesh MakeCube(float halfSize);
// A torus cut into `pieces` parts around its ring, each a set of strips joined by degenerate
// triangles; `ringSegments` x `tubeSegments` quads in all.
std::vector<std::pair<std::string, Mesh>> MakeTorusParts(int pieces, int ringSegments,
                                                         int tubeSegments, float ringRadius,
                                                         float tubeRadius);
// A big wheel with gondolas on its stand, built mostly from tubes meshed evenly along their
// length: about 153 000 triangles in eight parts of at most 32768 vertices. The largest
// coordinate is 1 (the ground, across); every height lies within 0.85 of the middle, so the
// start view shows it whole, and the whole model within 1 of the vertical axis, so turning it
// left or right never pushes it out at the sides.
std::vector<std::pair<std::string, Mesh>> MakeWheelParts();

}  // namespace elfgen
