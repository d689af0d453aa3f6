#pragma once

// ELF32 record layouts as the reader sees them: every field little-endian whatever e_ident
// says, 32-bit fields signed, 16-bit fields signed.

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

// The fields of a section header that the reader uses.
struct SectionHeader {
    std::int32_t type = 0;
    std::int32_t offset = 0;
    std::int32_t size = 0;
    std::int32_t link = 0;
    std::int32_t entsize = 0;
};

inline SectionHeader ParseSectionHeader(const unsigned char* record) {
    return {I32At(record + 4), I32At(record + 16), I32At(record + 20), I32At(record + 24),
            I32At(record + 36)};
}

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
