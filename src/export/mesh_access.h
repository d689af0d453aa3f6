#pragma once

// The exporters' only ways into a part's arrays: its strip triangles and its vertex records.

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "model/mesh.h"
#include "model/strip.h"

namespace trenn {

// How many vertex records the part has, those past the end of the file included.
inline std::size_t RecordCount(const MeshPart& part) { return part.vertices.size(); }

// Hands `onTriangle(a, b, c)` every triangle of the part's strip (model/strip.h: three
// different vertex numbers inside its vertex array), in strip order. Odd triples come with
// their last two corners swapped, so that every triangle faces the way the first one does.
//
// Returns the triples skipped among those walked (WalkedTriangles: the triples that begin at
// an entry the file holds; every later one is three zeros, a degenerate triangle, and is
// neither walked nor counted, so a huge index count in a small file costs nothing).
template <typename OnTriangle>
std::uint64_t WalkStripTriangles(const MeshPart& part, OnTriangle&& onTriangle) {
    std::uint64_t kept = 0;
    ForEachTriangle(part, [&](std::int64_t k, std::int32_t a, std::int32_t b, std::int32_t c) {
        const auto first = static_cast<std::uint32_t>(a);
        const auto second = static_cast<std::uint32_t>(b);
        const auto third = static_cast<std::uint32_t>(c);
        if (k % 2 == 0) {
            onTriangle(first, second, third);
        } else {
            onTriangle(first, third, second);
        }
        ++kept;
    });
    return static_cast<std::uint64_t>(WalkedTriangles(part.indices)) - kept;
}

using Position = std::array<float, 3>;

// The x, y and z of all of the part's vertex records, RecordCount() of them, into `positions`:
// those past the end of the file read as zeros.
void GatherPositions(const MeshPart& part, std::vector<Position>& positions);

// All of the part's vertex records, whole, the same way.
void GatherRecords(const MeshPart& part, std::vector<MeshVertex>& records);

}  // namespace trenn
