#include "render/part_drawing.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace trenn {
namespace {

constexpr std::int32_t kDrawBc = 1;
constexpr std::int32_t kDrawCa = 2;

constexpr std::array<std::int32_t, kEdgeBlock> kAllDrawn = [] {
    std::array<std::int32_t, kEdgeBlock> all{};
    all.fill(kDrawBc);
    return all;
}();

inline bool TriangleDrawn(std::int32_t a, std::int32_t b, std::int32_t c) {
    return (a | b | c) >= 0 && a != b && b != c && a != c;
}

}  // namespace

std::size_t TurnAndDot(const CoordinateSource& source, std::size_t first, std::size_t last,
                       TurnBlockFunction turnBlock, const RotationCoefficients& turn,
                       const ViewMapping& mapping,
                       const RasterTarget& target, int dotWidth, VertexArrays& v,
                       ThreadArrays& scratch) {
    std::size_t faulted = 0;
    for (std::size_t start = first; start < last; start += kVertexBlock) {
        const std::size_t n = std::min(kVertexBlock, last - start);
        const float *xs = scratch.x, *ys = scratch.y, *zs = scratch.z;
        if (source.positions) {
            xs = source.positions->X() + start;
            ys = source.positions->Y() + start;
            zs = source.positions->Z() + start;
        } else {
            GatherCoordinates(*source.vertices, start, n, scratch.x, scratch.y, scratch.z);
        }
        double* const x = v.x.data() + start;
        double* const y = v.y.data() + start;
        RasterPackedPoint* const packed = v.packed.data() + start;
        const std::size_t faultedHere = turnBlock(xs, ys, zs, n, turn, mapping, x, y);
        PrepareRasterPoints(target, x, y, n, packed);
        if (faultedHere > 0) [[unlikely]] {
            for (std::size_t i = 0; i < n; ++i) {
                if (std::isnan(x[i])) packed[i] = kFaultedPoint;
            }
            faulted += faultedHere;
        }
        RasterDotArray(target, x, y, n, dotWidth, kDotColour);
    }
    return faulted;
}

void ShiftPoints(const VertexArrays& from, std::size_t count, double dx, double dy,
                 const RasterTarget& target, VertexArrays& to) {
    for (std::size_t i = 0; i < count; ++i) {
        to.x[i] = from.x[i] + dx;
        to.y[i] = from.y[i] + dy;
    }
    PrepareRasterPoints(target, to.x.data(), to.y.data(), count, to.packed.data());
    for (std::size_t i = 0; i < count; ++i) {
        if (IsFaulted(from.packed[i])) to.packed[i] = kFaultedPoint;
    }
}

// Triangles [first, last) of the strip walk: triangle k is entries k, k + 1, k + 2, drawn when
// they name three different vertices of the part that all turned without a fault. Its edge a-b
// is the same directed segment as edge b-c of triangle k - 1, so it is drawn only when that
// triangle was not; all edges of a part are black, so skipping a repeat or changing the order
// of its edges changes no pixel.
void DrawStrip(const MeshPart& part, std::int64_t first, std::int64_t last,
               const RasterTarget& target, const VertexArrays& v, ThreadArrays& s) {
    const IndexList& indices = part.indices;
    const auto vertexCount = static_cast<std::uint32_t>(part.vertices.size());
    const RasterPackedPoint* const packed = v.packed.data();
    const auto usable = [&](std::int64_t p) {
        const std::int32_t index = indices[static_cast<std::size_t>(p)];
        const bool inPart = static_cast<std::uint32_t>(index) < vertexCount;
        return inPart && !IsFaulted(packed[inPart ? index : 0]) ? index : -1;
    };
    s.repeated.StartPart();
    bool previousDrawn = first > 0 && TriangleDrawn(usable(first - 1), usable(first), usable(first + 1));
    for (std::int64_t start = first; start < last; start += kTriangleBlock) {
        const std::int64_t triangles = std::min(kTriangleBlock, last - start);
        std::int32_t a = usable(start), b = usable(start + 1);
        s.vertex[0] = a;
        s.vertex[1] = b;
        s.packed[0] = packed[a >= 0 ? a : 0];
        s.packed[1] = packed[b >= 0 ? b : 0];
        for (std::size_t j = 0; j < static_cast<std::size_t>(triangles); ++j) {
            const std::int32_t c = usable(start + static_cast<std::int64_t>(j) + 2);
            s.vertex[j + 2] = c;
            s.packed[j + 2] = packed[c >= 0 ? c : 0];
            std::int32_t draw = 0;
            if (TriangleDrawn(a, b, c)) [[likely]] {
                draw = kDrawBc | (s.repeated.Repeated(c, a) ? 0 : kDrawCa);
                if (!previousDrawn) {
                    RasterLine(target, v.x[static_cast<std::size_t>(a)], v.y[static_cast<std::size_t>(a)],
                               v.x[static_cast<std::size_t>(b)], v.y[static_cast<std::size_t>(b)],
                               kEdgeColour);
                }
            }
            s.draw[j] = draw;
            previousDrawn = draw != 0;
            a = b;
            b = c;
        }
        const std::int32_t* const sv = s.vertex;
        const RasterPackedPoint* const sp = s.packed;
        const auto n = static_cast<std::size_t>(triangles);
        RasterLines(target, v.x.data(), v.y.data(), {sp + 1, sp + 2, sv + 1, sv + 2, s.draw, kDrawBc, n},
                    kEdgeColour);
        RasterLines(target, v.x.data(), v.y.data(), {sp + 2, sp, sv + 2, sv, s.draw, kDrawCa, n},
                    kEdgeColour);
    }
}

void DrawEdges(const PartEdges& edges, std::size_t first, std::size_t last,
               const RasterTarget& target, const VertexArrays& v, ThreadArrays& s) {
    const RasterPackedPoint* const packed = v.packed.data();
    for (std::size_t start = first; start < last; start += kEdgeBlock) {
        const std::size_t n = std::min(kEdgeBlock, last - start);
        const std::uint32_t* const pairs = edges.pairs.data() + start;
        for (std::size_t j = 0; j < n; ++j) {
            s.from[j] = packed[pairs[j] & 0xFFFFu];
            s.to[j] = packed[pairs[j] >> 16];
        }
        RasterLines(target, v.x.data(), v.y.data(),
                    {s.from, s.to, nullptr, nullptr, kAllDrawn.data(), kDrawBc, n, pairs}, kEdgeColour);
    }
}

}  // namespace trenn
