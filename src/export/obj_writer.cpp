// Wavefront OBJ: one "o" group per part, its vertex records as "v" lines and its triangles as
// "f" lines numbered from 1 across the whole file.

#include <charconv>
#include <vector>

#include "export/mesh_access.h"
#include "export/writers.h"

namespace trenn {

namespace {

// The longest shortest-round-trip text of a float is 15 characters ("-1.17549435e-38").
constexpr std::size_t kMaxVertexLine = 2 + 3 * 16 + 1;
constexpr std::size_t kMaxFaceLine = 2 + 3 * 21 + 1;

// Readers take an object's name up to the first space: spaces become '_' too.
std::string ObjectName(const std::string& utf8) {
    std::string name = OneLine(utf8);
    for (char& c : name) {
        if (c == ' ') c = '_';
    }
    return name;
}

char* PutNumber(char* at, float value) {
    *at++ = ' ';
    return std::to_chars(at, at + 16, value).ptr;
}

char* PutNumber(char* at, std::uint64_t value) {
    *at++ = ' ';
    return std::to_chars(at, at + 21, value).ptr;
}

}  // namespace

std::uint64_t WriteObj(std::span<const PlannedPart> parts, OutputFile& out) {
    out.Write("# written by Trenn " TRENN_VERSION "\n");
    std::vector<Position> positions;
    std::uint64_t first = 1;  // the file number of the part's first vertex
    for (const PlannedPart& planned : parts) {
        const ExportPart& part = *planned.source;
        out.Write("o " + ObjectName(part.name) + "\n");  // before `lines` takes over the file
        GatherPositions(*part.part, positions);
        RecordStream lines(out);
        for (const Position& position : positions) {
            char* at = reinterpret_cast<char*>(lines.Room(kMaxVertexLine));
            *at++ = 'v';
            at = PutNumber(at, position[0]);
            at = PutNumber(at, position[1]);
            at = PutNumber(at, position[2]);
            *at++ = '\n';
            lines.Used(reinterpret_cast<unsigned char*>(at));
        }
        WalkStripTriangles(*part.part, [&](std::uint32_t a, std::uint32_t b, std::uint32_t c) {
            char* at = reinterpret_cast<char*>(lines.Room(kMaxFaceLine));
            *at++ = 'f';
            at = PutNumber(at, first + a);
            at = PutNumber(at, first + b);
            at = PutNumber(at, first + c);
            *at++ = '\n';
            lines.Used(reinterpret_cast<unsigned char*>(at));
        });
        first += positions.size();
    }
    return first - 1;
}

}  // namespace trenn
