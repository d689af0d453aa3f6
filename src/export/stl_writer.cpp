// Binary STL: an 80-byte header, the triangle count, then per triangle its unit normal, its
// three corners and a zero attribute word.

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "export/mesh_access.h"
#include "export/writers.h"

namespace trenn {

namespace {

constexpr std::size_t kTriangleBytes = 12 * 4 + 2;

// The unit normal of the triangle a, b, c as its corners go round; zero when it has none
// (no area) or it cannot be worked out (a coordinate is not finite). Double precision keeps
// the cross product of any finite coordinates from overflowing or vanishing.
Position FacetNormal(const Position& a, const Position& b, const Position& c) {
    const double ux = double{b[0]} - a[0], uy = double{b[1]} - a[1], uz = double{b[2]} - a[2];
    const double vx = double{c[0]} - a[0], vy = double{c[1]} - a[1], vz = double{c[2]} - a[2];
    const double nx = uy * vz - uz * vy;
    const double ny = uz * vx - ux * vz;
    const double nz = ux * vy - uy * vx;
    const double length = std::sqrt(nx * nx + ny * ny + nz * nz);
    if (!(length > 0.0) || !std::isfinite(length)) return {0.0f, 0.0f, 0.0f};
    return {static_cast<float>(nx / length), static_cast<float>(ny / length), static_cast<float>(nz / length)};
}

}  // namespace

std::uint64_t WriteStl(std::span<const PlannedPart> parts, OutputFile& out) {
    std::uint64_t triangles = 0;
    for (const PlannedPart& planned : parts) triangles += planned.triangles;
    if (triangles > std::numeric_limits<std::uint32_t>::max()) {
        throw ExportFailure("more than 4294967295 triangles do not fit an STL file");
    }
    // Readers take a file whose header begins with "solid" for text STL.
    unsigned char header[80] = {};
    const char text[] = "binary STL written by Trenn " TRENN_VERSION;
    static_assert(sizeof text <= sizeof header);
    std::memcpy(header, text, sizeof text - 1);
    out.Write(header, sizeof header);
    const auto count = static_cast<std::uint32_t>(triangles);
    out.Write(&count, sizeof count);

    std::vector<Position> positions;
    RecordStream facets(out);
    for (const PlannedPart& planned : parts) {
        GatherPositions(*planned.source->part, positions);
        WalkStripTriangles(*planned.source->part, [&](std::uint32_t a, std::uint32_t b, std::uint32_t c) {
            const Position& p = positions[a];
            const Position& q = positions[b];
            const Position& r = positions[c];
            const Position normal = FacetNormal(p, q, r);
            unsigned char* at = facets.Next(kTriangleBytes);
            const auto put = [&at](const Position& point) {
                Put(at, point[0]);
                Put(at, point[1]);
                Put(at, point[2]);
            };
            put(normal);
            put(p);
            put(q);
            put(r);
            Put(at, std::uint16_t{0});
        });
    }
    return 3 * triangles;
}

}  // namespace trenn
