#pragma once

// The strip walk: which triangles a part's index list makes. Triangle k is the entries k, k + 1
// and k + 2, for k from 0 to n - 3 of n entries. It is drawn when its three entries name three
// different vertices of the part; any other triple (a degenerate one, or one naming a vertex the
// part does not have) is skipped. Entries past those the file holds read as 0, so every triple
// from there on is degenerate: the walk ends where the stored entries do.

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "model/mesh.h"

namespace trenn {

// The triples the walk reads.
inline std::int64_t WalkedTriangles(const IndexList& indices) {
    return std::max<std::int64_t>(0, std::min(static_cast<std::int64_t>(indices.size()) - 2,
                                              static_cast<std::int64_t>(indices.StoredCount())));
}

// Whether a triple of entries is a triangle of a part with `vertexCount` vertices.
inline bool TriangleDrawn(std::int32_t a, std::int32_t b, std::int32_t c, std::size_t vertexCount) {
    const auto inPart = [vertexCount](std::int32_t i) { return static_cast<std::uint32_t>(i) < vertexCount; };
    return inPart(a) && inPart(b) && inPart(c) && a != b && b != c && a != c;
}

// Calls visit(k, a, b, c) for every triangle of the part's strip, in order.
template <typename Visit>
void ForEachTriangle(const MeshPart& part, Visit&& visit) {
    const IndexList& indices = part.indices;
    const std::size_t vertexCount = part.vertices.size();
    const std::int64_t triangles = WalkedTriangles(indices);
    if (triangles == 0) return;
    std::int32_t a = indices[0], b = indices[1];
    for (std::int64_t k = 0; k < triangles; ++k) {
        const std::int32_t c = indices[static_cast<std::size_t>(k) + 2];
        if (TriangleDrawn(a, b, c, vertexCount)) visit(k, a, b, c);
        a = b;
        b = c;
    }
}

}  // namespace trenn
