#pragma once

// ELF32 record layouts as the reader sees them: every field little-endian whatever e_ident
// says, 32-bit fields signed, 16-bit fields signed.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace trenn::elf {

inline constexpr std::size_t kHeaderSize = 52;
inline constexpr std::size_t kSectionHeaderSize = 40;
inline constexpr std::size_t kSymbolSize = 16;

inline constexpr std::int32_t kShtProgbits = 1;
inline constexpr std::int32_t kShtSymtab = 2;

// Offsets from here up (and negative ones) cannot be read at: the 1-based record position
// that the reader works with overflows.
inline constexpr std::int32_t kOffsetLimit = 0x7FFFFFFF;

inline std::uint16_t U16At(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

inline std::uint32_t U32At(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

inline std::int32_t I32At(const unsigned char* p) { return static_cast<std::int32_t>(U32At(p)); }
inline std::int16_t I16At(const unsigned char* p) { return static_cast<std::int16_t>(U16At(p)); }

inline bool IsReadableOffset(std::int32_t offset) { return offset >= 0 && offset < kOffsetLimit; }

// Reads the fields of a record one after the other, as the record lays them out.
class FieldReader {
public:
    explicit FieldReader(const unsigned char* record) : at_(record) {}
    std::uint8_t U8() { return *at_++; }
    std::uint16_t U16() { return Take(U16At(at_), 2); }
    std::int16_t I16() { return static_cast<std::int16_t>(U16()); }
    std::uint32_t U32() { return Take(U32At(at_), 4); }
    std::int32_t I32() { return static_cast<std::int32_t>(U32()); }

private:
    template <typename T>
    T Take(T value, std::size_t bytes) {
        at_ += bytes;
        return value;
    }
    const unsigned char* at_;
};

// Elf32_Ehdr, 52 bytes.
struct FileHeader {
    std::array<std::uint8_t, 16> e_ident{};
    std::int16_t e_type = 0;
    std::int16_t e_machine = 0;
    std::int32_t e_version = 0;
    std::int32_t e_entry = 0;
    std::int32_t e_phoff = 0;
    std::int32_t e_shoff = 0;
    std::int32_t e_flags = 0;
    std::int16_t e_ehsize = 0;
    std::int16_t e_phentsize = 0;
    std::int16_t e_phnum = 0;
    std::int16_t e_shentsize = 0;
    std::int16_t e_shnum = 0;
    std::int16_t e_shstrndx = 0;

    static FileHeader Parse(const unsigned char* bytes) {
        FieldReader r(bytes);
        FileHeader h;
        for (std::uint8_t& byte : h.e_ident) byte = r.U8();
        h.e_type = r.I16();
        h.e_machine = r.I16();
        h.e_version = r.I32();
        h.e_entry = r.I32();
        h.e_phoff = r.I32();
        h.e_shoff = r.I32();
        h.e_flags = r.I32();
        h.e_ehsize = r.I16();
        h.e_phentsize = r.I16();
        h.e_phnum = r.I16();
        h.e_shentsize = r.I16();
        h.e_shnum = r.I16();
        h.e_shstrndx = r.I16();
        return h;
    }
};

// Elf32_Shdr, 40 bytes.
struct SectionHeader {
    std::int32_t sh_name = 0;
    std::int32_t sh_type = 0;
    std::int32_t sh_flags = 0;
    std::int32_t sh_addr = 0;
    std::int32_t sh_offset = 0;
    std::int32_t sh_size = 0;
    std::int32_t sh_link = 0;
    std::int32_t sh_info = 0;
    std::int32_t sh_addralign = 0;
    std::int32_t sh_entsize = 0;

    static SectionHeader Parse(const unsigned char* record) {
        FieldReader r(record);
        SectionHeader s;
        s.sh_name = r.I32();
        s.sh_type = r.I32();
        s.sh_flags = r.I32();
        s.sh_addr = r.I32();
        s.sh_offset = r.I32();
        s.sh_size = r.I32();
        s.sh_link = r.I32();
        s.sh_info = r.I32();
        s.sh_addralign = r.I32();
        s.sh_entsize = r.I32();
        return s;
    }
};

// Elf32_Sym, 16 bytes.
struct SymbolRecord {
    std::uint32_t st_name = 0;
    std::int32_t st_value = 0;
    std::int32_t st_size = 0;
    std::uint8_t st_info = 0;
    std::uint8_t st_other = 0;
    std::uint16_t st_shndx = 0;

    static SymbolRecord Parse(const unsigned char* record) {
        FieldReader r(record);
        SymbolRecord s;
        s.st_name = r.U32();
        s.st_value = r.I32();
        s.st_size = r.I32();
        s.st_info = r.U8();
        s.st_other = r.U8();
        s.st_shndx = r.U16();
        return s;
    }
};

// Field values in failure texts: hexadecimal, as the bits stand in the file.
inline std::string Hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}
inline std::string Hex(std::int32_t value) { return Hex(static_cast<std::uint32_t>(value)); }

inline std::string SectionName(int index, const char* kind) {
    return "section " + std::to_string(index) + " (" + kind + ")";
}

}  // namespace trenn::elf
