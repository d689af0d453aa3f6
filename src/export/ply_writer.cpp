// Binary little-endian PLY: every vertex record as it is stored (x, y, z and the 28 bytes
// beyond them), then the triangles, each with the list position of its part.

#include <cstring>
#include <limits>
#include <vector>

#include "export/mesh_access.h"
#include "export/writers.h"

namespace trenn {

namespace {

constexpr std::size_t kExtraBytes = sizeof(MeshVertex::extra);
constexpr std::size_t kFaceBytes = 1 + 3 * 4 + 4;

std::string Header(std::span<const PlannedPart> parts, std::uint64_t vertices, std::uint64_t triangles) {
    std::string header = "ply\nformat binary_little_endian 1.0\ncomment written by Trenn " TRENN_VERSION "\n";
    for (const PlannedPart& planned : parts) {
        header += "comment list position " + std::to_string(planned.source->listPosition) + ": " +
                  OneLine(planned.source->name) + "\n";
    }
    header += "element vertex " + std::to_string(vertices) + "\n";
    header += "property float x\nproperty float y\nproperty float z\n";
    for (std::size_t i = 0; i < kExtraBytes; ++i) header += "property uchar extra" + std::to_string(i) + "\n";
    header += "element face " + std::to_string(triangles) + "\n";
    header += "property list uchar int vertex_indices\nproperty int list_position\nend_header\n";
    return header;
}

}  // namespace

std::uint64_t WritePly(std::span<const PlannedPart> parts, OutputFile& out) {
    std::uint64_t vertices = 0;
    std::uint64_t triangles = 0;
    for (const PlannedPart& planned : parts) {
        vertices += RecordCount(*planned.source->part);
        triangles += planned.triangles;
    }
    // Faces name vertices by signed 32-bit numbers.
    if (vertices > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) {
        throw ExportFailure("more than 2147483647 vertices do not fit a PLY file's vertex numbers");
    }
    out.Write(Header(parts, vertices, triangles));

    std::vector<MeshVertex> records;
    for (const PlannedPart& planned : parts) {
        GatherRecords(*planned.source->part, records);
        out.Write(records.data(), records.size() * sizeof(MeshVertex));
    }
    RecordStream faces(out);
    std::int32_t first = 0;
    for (const PlannedPart& planned : parts) {
        const auto listPosition = static_cast<std::int32_t>(planned.source->listPosition);
        WalkStripTriangles(*planned.source->part, [&](std::uint32_t a, std::uint32_t b, std::uint32_t c) {
            unsigned char* at = faces.Next(kFaceBytes);
            Put(at, std::uint8_t{3});
            Put(at, first + static_cast<std::int32_t>(a));
            Put(at, first + static_cast<std::int32_t>(b));
            Put(at, first + static_cast<std::int32_t>(c));
            Put(at, listPosition);
        });
        first += static_cast<std::int32_t>(RecordCount(*planned.source->part));
    }
    return vertices;
}

}  // namespace trenn
