#include "elf_builder.h"

#include <cmath>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace elfgen {

ElfBuilder::ElfBuilder() { sections.emplace_back(); }

std::uint16_t ElfBuilder::AddSection(Section section) {
    sections.push_back(std::move(section));
    return static_cast<std::uint16_t>(sections.size() - 1);
}

std::uint16_t ElfBuilder::AddProgbits(Bytes data) {
    Section s;
    s.type = SHT_PROGBITS;
    s.flags = 3;  // write, alloc
    s.addralign = 4;
    s.data = std::move(data);
    return AddSection(std::move(s));
}

std::uint16_t ElfBuilder::AddNobits(std::uint32_t size) {
    Section s;
    s.type = SHT_NOBITS;
    s.flags = 3;
    s.size = size;
    return AddSection(std::move(s));
}

std::uint16_t ElfBuilder::AddStrtab(const std::vector<std::string>& names,
                                    std::vector<std::uint32_t>* offsets) {
    Section s;
    s.type = SHT_STRTAB;
    s.data.push_back(0);
    for (const auto& name : names) {
        if (offsets) offsets->push_back(static_cast<std::uint32_t>(s.data.size()));
        s.data.insert(s.data.end(), name.begin(), name.end());
        s.data.push_back(0);
    }
    return AddSection(std::move(s));
}

std::uint16_t ElfBuilder::AddSymtab(const std::vector<Symbol>& symbols, std::uint16_t strtabIndex) {
    Section s;
    s.type = SHT_SYMTAB;
    s.link = strtabIndex;
    s.entsize = 16;
    s.addralign = 4;
    s.data.resize(symbols.size() * 16);
    for (std::size_t i = 0; i < symbols.size(); ++i) {
        const Symbol& sym = symbols[i];
        PutU32(s.data, i * 16 + 0, sym.name);
        PutU32(s.data, i * 16 + 4, sym.value);
        PutU32(s.data, i * 16 + 8, sym.size);
        s.data[i * 16 + 12] = sym.info;
        s.data[i * 16 + 13] = sym.other;
        PutU16(s.data, i * 16 + 14, sym.shndx);
    }
    return AddSection(std::move(s));
}

Bytes ElfBuilder::Build() const {
    Bytes out(52, 0);
    std::vector<std::uint32_t> offsets(sections.size(), 0);
    for (std::size_t i = 1; i < sections.size(); ++i) {
        const Section& s = sections[i];
        while (out.size() % 4 != 0) out.push_back(0);
        offsets[i] = static_cast<std::uint32_t>(out.size());
        if (s.type != SHT_NOBITS) out.insert(out.end(), s.data.begin(), s.data.end());
    }
    while (out.size() % 4 != 0) out.push_back(0);
    const auto tableOffset = static_cast<std::uint32_t>(out.size());
    out.resize(out.size() + sections.size() * 40, 0);
    for (std::size_t i = 0; i < sections.size(); ++i) {
        const Section& s = sections[i];
        const std::size_t at = tableOffset + i * 40;
        const bool isNull = i == 0;
        PutU32(out, at + 0, s.name);
        PutU32(out, at + 4, s.type);
        PutU32(out, at + 8, s.flags);
        PutU32(out, at + 12, s.addr);
        PutU32(out, at + 16, s.offset.value_or(isNull ? 0 : offsets[i]));
        PutU32(out, at + 20, s.size.value_or(static_cast<std::uint32_t>(s.data.size())));
        PutU32(out, at + 24, s.link);
        PutU32(out, at + 28, s.info);
        PutU32(out, at + 32, isNull ? s.addralign * 0 : s.addralign);
        PutU32(out, at + 36, s.entsize);
    }
    std::memcpy(out.data(), ident.data(), ident.size());
    PutU16(out, 16, type);
    PutU16(out, 18, machine);
    PutU32(out, 20, version);
    PutU32(out, 24, entry);
    PutU32(out, 28, phoff);
    PutU32(out, 32, shoff.value_or(tableOffset));
    PutU32(out, 36, flags);
    PutU16(out, 40, ehsize);
    PutU16(out, 42, phentsize);
    PutU16(out, 44, phnum);
    PutU16(out, 46, shentsize);
    PutU16(out, 48, shnum.value_or(static_cast<std::uint16_t>(sections.size())));
    PutU16(out, 50, shstrndx);
    return out;
}

void PutU16(Bytes& bytes, std::size_t offset, std::uint16_t value) {
    if (bytes.size() < offset + 2) bytes.resize(offset + 2, 0);
    bytes[offset] = static_cast<std::uint8_t>(value);
    bytes[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

void PutU32(Bytes& bytes, std::size_t offset, std::uint32_t value) {
    if (bytes.size() < offset + 4) bytes.resize(offset + 4, 0);
    for (int b = 0; b < 4; ++b) bytes[offset + b] = static_cast<std::uint8_t>(value >> (8 * b));
}

void PutF32(Bytes& bytes, std::size_t offset, float value) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, 4);
    PutU32(bytes, offset, bits);
}

void AppendU32(Bytes& bytes, std::uint32_t value) { PutU32(bytes, bytes.size(), value); }

void WriteFile(const std::string& path, const Bytes& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!file) throw std::runtime_error("cannot write " + path);
}

std::uint32_t AppendMesh(Bytes& data, const Mesh& mesh) {
    while (data.size() % 4 != 0) data.push_back(0);
    const auto block = static_cast<std::uint32_t>(data.size());
    const auto vertexOffset = block + 56;
    const auto indexOffset = vertexOffset + static_cast<std::uint32_t>(mesh.vertices.size() * 40);
    AppendU32(data, 0xFFFFFFFFu);
    AppendU32(data, 0xFFFFFFFFu);
    AppendU32(data, vertexOffset);
    AppendU32(data, static_cast<std::uint32_t>(mesh.vertices.size()));
    for (int i = 0; i < 8; ++i) AppendU32(data, 0);
    AppendU32(data, indexOffset);
    AppendU32(data, static_cast<std::uint32_t>(mesh.indices.size()));
    for (const auto& v : mesh.vertices) {
        const std::size_t at = data.size();
        data.resize(at + 40, 0);
        PutF32(data, at, v[0]);
        PutF32(data, at + 4, v[1]);
        PutF32(data, at + 8, v[2]);
    }
    for (const std::int16_t index : mesh.indices) {
        PutU16(data, data.size(), static_cast<std::uint16_t>(index));
    }
    while (data.size() % 4 != 0) data.push_back(0);
    return block;
}

Bytes BuildModelObject(const std::vector<std::pair<std::string, Mesh>>& parts) {
    ElfBuilder elf;
    std::vector<std::string> sectionNames = {".text", ".comment", ".data", ".bss",
                                             ".symtab", ".strtab", ".shstrtab"};
    Bytes shstrtab{0};
    std::vector<std::uint32_t> nameAt;
    for (const auto& n : sectionNames) {
        nameAt.push_back(static_cast<std::uint32_t>(shstrtab.size()));
        shstrtab.insert(shstrtab.end(), n.begin(), n.end());
        shstrtab.push_back(0);
    }

    const std::uint16_t text = elf.AddProgbits({});
    elf.sections[text].name = nameAt[0];
    elf.sections[text].flags = 6;

    const std::string comment = "trenn sample generator";
    Section commentSection;
    commentSection.name = nameAt[1];
    commentSection.type = SHT_PROGBITS;
    commentSection.flags = 0x30;
    commentSection.entsize = 1;
    commentSection.data.assign(comment.begin(), comment.end());
    commentSection.data.push_back(0);
    const std::uint16_t commentIndex = elf.AddSection(commentSection);
    (void)commentIndex;

    // Mesh data starts after a pad that covers the comment, so no part has value 0 and the
    // comment's bytes land in the pad.
    Bytes data(64, 0);
    std::vector<std::uint32_t> values;
    for (const auto& part : parts) values.push_back(AppendMesh(data, part.second));
    const std::uint16_t dataIndex = elf.AddProgbits(std::move(data));
    elf.sections[dataIndex].name = nameAt[2];
    const std::uint16_t bss = elf.AddNobits(16);
    elf.sections[bss].name = nameAt[3];

    std::vector<std::string> names = {"model.c"};
    for (const auto& part : parts) names.push_back("__geoprimdatabuffer" + part.first);
    const std::uint16_t symtabIndex = static_cast<std::uint16_t>(elf.sections.size());
    const std::uint16_t strtabIndex = static_cast<std::uint16_t>(symtabIndex + 1);

    std::vector<std::uint32_t> nameOffsets;
    ElfBuilder scratch;  // only to lay out the string table bytes
    const std::uint16_t tmp = scratch.AddStrtab(names, &nameOffsets);
    Bytes strtab = scratch.sections[tmp].data;

    std::vector<Symbol> symbols;
    symbols.push_back({});                                                   // null symbol
    symbols.push_back({nameOffsets[0], 0, 0, 0x04, 0, SHN_ABS});             // STT_FILE
    symbols.push_back({0, 0, 0, 0x03, 0, dataIndex});                        // STT_SECTION
    for (std::size_t i = 0; i < parts.size(); ++i) {
        symbols.push_back({nameOffsets[i + 1], values[i], 56, 0x11, 0, dataIndex});
    }
    elf.AddSymtab(symbols, strtabIndex);
    elf.sections[symtabIndex].name = nameAt[4];
    elf.sections[symtabIndex].info = 3;
    Section strtabSection;
    strtabSection.type = SHT_STRTAB;
    strtabSection.name = nameAt[5];
    strtabSection.data = std::move(strtab);
    elf.AddSection(std::move(strtabSection));
    Section shstr;
    shstr.type = SHT_STRTAB;
    shstr.name = nameAt[6];
    shstr.data = std::move(shstrtab);
    elf.shstrndx = elf.AddSection(std::move(shstr));
    return elf.Build();
}

void AppendGridStrip(std::vector<std::int16_t>& indices, int first, int rows, int cols) {
    for (int r = 0; r + 1 < rows; ++r) {
        const int top = first + r * cols;
        const int bottom = top + cols;
        if (!indices.empty()) {
            indices.push_back(indices.back());
            indices.push_back(static_cast<std::int16_t>(top));
        }
        for (int c = 0; c < cols; ++c) {
            indices.push_back(static_cast<std::int16_t>(top + c));
            indices.push_back(static_cast<std::int16_t>(bottom + c));
        }
    }
}

Mesh MakeCube(float h) {
    Mesh mesh;
    // Each face as a 2 x 2 grid: origin corner, then two edge directions.
    const float faces[6][9] = {
        {-h, -h, -h, 2 * h, 0, 0, 0, 2 * h, 0},  {-h, -h, h, 0, 2 * h, 0, 2 * h, 0, 0},
        {-h, -h, -h, 0, 0, 2 * h, 2 * h, 0, 0},  {-h, h, -h, 2 * h, 0, 0, 0, 0, 2 * h},
        {-h, -h, -h, 0, 2 * h, 0, 0, 0, 2 * h},  {h, -h, -h, 0, 0, 2 * h, 0, 2 * h, 0}};
    for (const auto& f : faces) {
        const int first = static_cast<int>(mesh.vertices.size());
        for (float r = 0; r < 2; ++r) {
            for (float c = 0; c < 2; ++c) {
                mesh.vertices.push_back({f[0] + r * f[6] + c * f[3], f[1] + r * f[7] + c * f[4],
                                         f[2] + r * f[8] + c * f[5]});
            }
        }
        AppendGridStrip(mesh.indices, first, 2, 2);
    }
    return mesh;
}

std::vector<std::pair<std::string, Mesh>> MakeTorusParts(int pieces, int ringSegments,
                                                         int tubeSegments, float ringRadius,
                                                         float tubeRadius) {
    std::vector<std::pair<std::string, Mesh>> parts;
    const double twoPi = 6.283185307179586;
    for (int p = 0; p < pieces; ++p) {
        const int from = ringSegments * p / pieces;
        const int to = ringSegments * (p + 1) / pieces;
        Mesh mesh;
        for (int r = from; r <= to; ++r) {
            const double u = twoPi * r / ringSegments;
            for (int t = 0; t <= tubeSegments; ++t) {
                const double v = twoPi * t / tubeSegments;
                const double radius = ringRadius + tubeRadius * std::cos(v);
                mesh.vertices.push_back({static_cast<float>(radius * std::cos(u)),
                                         static_cast<float>(tubeRadius * std::sin(v)),
                                         static_cast<float>(radius * std::sin(u))});
            }
        }
        AppendGridStrip(mesh.indices, 0, to - from + 1, tubeSegments + 1);
        parts.emplace_back("_torus_" + std::to_string(p + 1), std::move(mesh));
    }
    return parts;
}

}  // namespace elfgen
