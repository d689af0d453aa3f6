#pragma once

// The layers of one part: its dots (turning its vertices on the way) and its edges, either from
// its kept edge list or by walking its strip.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "model/mesh.h"
#include "render/part_cache.h"
#include "render/raster.h"
#include "model/rotation.h"
#include "render/turn.h"
#include "render/view_mapping.h"
#include "render/colours.h"

namespace trenn {

// Vertices are turned, converted and dotted a block at a time, so that the block's arrays stay
// in the first-level cache between the steps.
inline constexpr std::size_t kVertexBlock = 256;
// Strip triangles handled per round of the edge walk, for the same reason.
inline constexpr std::int64_t kTriangleBlock = 1024;

// Per vertex of the part being drawn: pixel position (x NaN when its rotation faulted) and the
// rasterizer's packed point. Shared by the drawing threads; kept between redraws.
struct VertexArrays {
    std::vector<double> x, y;
    std::vector<RasterPackedPoint> packed;

    void Resize(std::size_t count) {
        x.resize(count);
        y.resize(count);
        packed.resize(std::max<std::size_t>(count, 1));
    }
    std::size_t Bytes() const {
        return (x.capacity() + y.capacity()) * sizeof(double) + packed.capacity() * sizeof(RasterPackedPoint);
    }
};

// A faulted vertex: a point far beyond every side, which no other point can be.
inline constexpr RasterPackedPoint kFaultedPoint{kRasterFar, -1};

inline bool IsFaulted(RasterPackedPoint p) {
    return p.x == kFaultedPoint.x && p.y == kFaultedPoint.y;
}
// Edges of a kept list drawn per round.
inline constexpr std::size_t kEdgeBlock = 1024;

// What one drawing thread works in; made once, so that drawing allocates nothing.
struct ThreadArrays {
    // Per strip position of one block of the walk: the usable vertex there (-1 if none) and
    // its packed point; per triangle, which of its edges to draw.
    std::int32_t vertex[kTriangleBlock + 2];
    RasterPackedPoint packed[kTriangleBlock + 2];
    std::int32_t draw[kTriangleBlock];
    // One block of an edge list's ends.
    RasterPackedPoint from[kEdgeBlock];
    RasterPackedPoint to[kEdgeBlock];
    // One block of coordinates of a part whose coordinates are not kept.
    float x[kVertexBlock];
    float y[kVertexBlock];
    float z[kVertexBlock];
    RepeatedEdges repeated;
};

// Where a part's coordinates come from: its kept positions, or straight from its records.
struct CoordinateSource {
    const PartPositions* positions;
    const VertexList* vertices;
};

// Turns vertices [first, last) of the part, prepares them and draws their dots.
// Returns how many faulted.
std::size_t TurnAndDot(const CoordinateSource& source, std::size_t first, std::size_t last,
                       TurnBlockFunction turnBlock, const RotationCoefficients& turn,
                       const ViewMapping& mapping, const RasterTarget& target, int dotWidth,
                       VertexArrays& v, ThreadArrays& scratch);

// The first `count` points of `from` moved by (dx, dy) pixels, prepared again; faulted points
// stay faulted.
void ShiftPoints(const VertexArrays& from, std::size_t count, double dx, double dy,
                 const RasterTarget& target, VertexArrays& to);

// Triangles [first, last) of the part's strip, walked: what its edge list draws, and also
// right when vertices faulted.
void DrawStrip(const MeshPart& part, std::int64_t first, std::int64_t last,
               const RasterTarget& target, const VertexArrays& v, ThreadArrays& s);

// Edges [first, last) of a part's list, from the prepared points.
void DrawEdges(const PartEdges& edges, std::size_t first, std::size_t last,
               const RasterTarget& target, const VertexArrays& v, ThreadArrays& s);

}  // namespace trenn
