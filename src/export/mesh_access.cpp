#include "export/mesh_access.h"

#include <cstring>

namespace trenn {

// Both gathers fill the caller's vector in place: it keeps its size from part to part, so
// that only records past what the file holds need zeros written.

void GatherPositions(const MeshPart& part, std::vector<Position>& positions) {
    const VertexList& vertices = part.vertices;
    positions.resize(vertices.size());
    const unsigned char* const stored = vertices.StoredData();
    const std::size_t storedBytes = std::min(vertices.StoredBytes(), positions.size() * sizeof(MeshVertex));
    const std::size_t whole = storedBytes / sizeof(MeshVertex);
    for (std::size_t i = 0; i < whole; ++i) {
        std::memcpy(positions[i].data(), stored + i * sizeof(MeshVertex), sizeof(Position));
    }
    std::fill(positions.begin() + static_cast<std::ptrdiff_t>(whole), positions.end(), Position{});
    // A record the file cuts short keeps what it holds of its coordinates.
    const std::size_t rest = storedBytes - whole * sizeof(MeshVertex);
    if (rest > 0) std::memcpy(positions[whole].data(), stored + whole * sizeof(MeshVertex), std::min(rest, sizeof(Position)));
}

void GatherRecords(const MeshPart& part, std::vector<MeshVertex>& records) {
    const VertexList& vertices = part.vertices;
    records.resize(vertices.size());
    // The stored bytes are the records as they lie in the file; the rest is zeros.
    const std::size_t stored = std::min(vertices.StoredBytes(), records.size() * sizeof(MeshVertex));
    if (stored > 0) std::memcpy(records.data(), vertices.StoredData(), stored);
    std::memset(reinterpret_cast<unsigned char*>(records.data()) + stored, 0, records.size() * sizeof(MeshVertex) - stored);
}

}  // namespace trenn
