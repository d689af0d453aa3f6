#include "export/mesh_access.h"

#include <cstring>

namespace trenn {

void GatherPositions(const MeshPart& part, std::vector<Position>& positions) {
    const VertexList& vertices = part.vertices;
    positions.assign(vertices.size(), Position{});
    const unsigned char* const stored = vertices.StoredData();
    const std::size_t storedBytes = std::min(vertices.StoredBytes(), positions.size() * sizeof(MeshVertex));
    const std::size_t whole = storedBytes / sizeof(MeshVertex);
    for (std::size_t i = 0; i < whole; ++i) {
        std::memcpy(positions[i].data(), stored + i * sizeof(MeshVertex), sizeof(Position));
    }
    // A record the file cuts short keeps what it holds of its coordinates.
    if (whole < positions.size() && storedBytes > whole * sizeof(MeshVertex)) {
        const std::size_t rest = storedBytes - whole * sizeof(MeshVertex);
        std::memcpy(positions[whole].data(), stored + whole * sizeof(MeshVertex), std::min(rest, sizeof(Position)));
    }
}

void GatherRecords(const MeshPart& part, std::vector<MeshVertex>& records) {
    const VertexList& vertices = part.vertices;
    records.assign(vertices.size(), MeshVertex{});
    // The stored bytes are the records as they lie in the file; the rest stays zero.
    const std::size_t stored = std::min(vertices.StoredBytes(), records.size() * sizeof(MeshVertex));
    if (stored > 0) std::memcpy(records.data(), vertices.StoredData(), stored);
}

}  // namespace trenn
