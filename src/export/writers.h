#pragma once

// One writer per file format. Each writes a whole file to `out` and returns how many vertices
// the file holds; a writer that cannot write its format throws ExportFailure.

#include <bit>
#include <cstring>
#include <cstdint>
#include <span>
#include <string>

#include "export/export.h"
#include "export/output_file.h"

namespace trenn {

// The binary formats are little-endian, as the records in memory are.
static_assert(std::endian::native == std::endian::little, "the writers copy values as they lie in memory");

// A part to write, with the number of triangles its strip gives (WalkStripTriangles).
struct PlannedPart {
    const ExportPart* source = nullptr;
    std::uint64_t triangles = 0;
};

std::uint64_t WriteObj(std::span<const PlannedPart> parts, OutputFile& out);
std::uint64_t WritePly(std::span<const PlannedPart> parts, OutputFile& out);
std::uint64_t WriteStl(std::span<const PlannedPart> parts, OutputFile& out);
std::uint64_t WriteGlb(std::span<const PlannedPart> parts, OutputFile& out);

// Stores `value` at `at` as it lies in memory and moves past it. One store per value: a record
// gathered in a local array first and copied as a whole would be read back before its parts
// were written, which stalls the processor on every record.
template <typename Value>
inline void Put(unsigned char*& at, Value value) {
    std::memcpy(at, &value, sizeof value);
    at += sizeof value;
}

// A name for a line-based header: control characters, line breaks among them, become '_'.
inline std::string OneLine(const std::string& utf8) {
    std::string line = utf8;
    for (char& c : line) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) c = '_';
    }
    return line;
}

}  // namespace trenn
