#include "viewer/wireframe.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "viewer/rotation.h"

namespace trenn {
namespace {

constexpr double kFaulted = std::numeric_limits<double>::quiet_NaN();

// Vertices are turned, converted and dotted a block at a time, so that the block's arrays stay
// in the first-level cache between the steps.
constexpr std::size_t kVertexBlock = 256;
// Strip triangles handled per round of the edge walk, for the same reason.
constexpr std::int64_t kTriangleBlock = 1024;

// Wider vectors where the processor has them. No floating-point operation here traps or reads
// the exception flags, so the compiler may run them unconditionally, which it needs in order to
// vectorise loops with selections; the results are the same IEEE results.
#if defined(__GNUC__) && defined(__x86_64__) && !defined(__clang__)
#define TRENN_VECTOR_CLONES \
    __attribute__((target_clones("arch=x86-64-v4", "avx2", "default"), optimize("no-trapping-math")))
#elif defined(__GNUC__) && !defined(__clang__)
#define TRENN_VECTOR_CLONES __attribute__((optimize("no-trapping-math")))
#else
#define TRENN_VECTOR_CLONES
#endif

// TurnVertex and the view mapping for a block, branch-free so that it vectorises: the same
// double products and sums, rounded to single at the same steps. Pixel x is NaN where the
// rotation faults. Every operation runs on every lane (values that would overflow a single are
// replaced before the conversions) and only the results are selected: the compiler does not
// vectorise arithmetic that runs under a condition.
TRENN_VECTOR_CLONES
void TurnBlock(const float* xs, const float* ys, const float* zs, std::size_t count,
               const RotationCoefficients& turn, const ViewMapping& mapping, double* px,
               double* py) {
    constexpr double kSingleOverflow = 0x1.ffffffp127;
    const double cosYaw = turn.cosYaw, sinYaw = turn.sinYaw;
    const double cosPitch = turn.cosPitch, sinPitch = turn.sinPitch;
    const double scaleX = mapping.scaleX, offsetX = mapping.offsetX;
    const double scaleY = mapping.scaleY, offsetY = mapping.offsetY;
    for (std::size_t i = 0; i < count; ++i) {
        const double x = xs[i], y = ys[i], z = zs[i];
        const double x1d = x * cosYaw - z * sinYaw;
        const double z1d = x * sinYaw + z * cosYaw;
        const bool yawFits = (std::fabs(x1d) < kSingleOverflow) & (std::fabs(z1d) < kSingleOverflow);
        const float x1 = static_cast<float>(yawFits ? x1d : 0.0);
        const float z1 = static_cast<float>(yawFits ? z1d : 0.0);
        const double y2d = y * cosPitch - z1 * sinPitch;
        const double z2d = z1 * cosPitch + y * sinPitch;
        const bool fits =
            yawFits & (std::fabs(y2d) < kSingleOverflow) & (std::fabs(z2d) < kSingleOverflow);
        const float y2 = static_cast<float>(fits ? y2d : 0.0);
        const double mappedX = static_cast<double>(x1) * scaleX + offsetX;
        px[i] = fits ? mappedX : kFaulted;
        py[i] = static_cast<double>(y2) * scaleY + offsetY;
    }
}

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
};

// A faulted vertex: a point far beyond every side, which no other point can be.
constexpr RasterPackedPoint kFaultedPoint{kRasterFar, -1};

inline bool IsFaulted(RasterPackedPoint p) {
    return p.x == kFaultedPoint.x && p.y == kFaultedPoint.y;
}

// Turns vertices [first, last) of the part, prepares them and draws their dots.
void TurnAndDot(const MeshPart& part, std::size_t first, std::size_t last,
                const RotationCoefficients& turn, const ViewMapping& mapping,
                const RasterTarget& target, VertexArrays& v) {
    float xs[kVertexBlock], ys[kVertexBlock], zs[kVertexBlock];
    const MeshVertex* const records = part.vertices.data();
    const std::size_t end = part.vertices.size();
    for (std::size_t start = first; start < last; start += kVertexBlock) {
        const std::size_t n = std::min(kVertexBlock, last - start);
        for (std::size_t i = 0; i < n; ++i) {
            // The records stream from memory; the hardware alone fetches them too late.
            __builtin_prefetch(records + std::min(start + i + 48, end - 1));
            xs[i] = records[start + i].x;
            ys[i] = records[start + i].y;
            zs[i] = records[start + i].z;
        }
        double* const x = v.x.data() + start;
        double* const y = v.y.data() + start;
        RasterPackedPoint* const packed = v.packed.data() + start;
        TurnBlock(xs, ys, zs, n, turn, mapping, x, y);
        PrepareRasterPoints(target, x, y, n, packed);
        for (std::size_t i = 0; i < n; ++i) {
            if (std::isnan(x[i])) packed[i] = kFaultedPoint;
        }
        RasterDotArray(target, x, y, n, kDotWidth, kDotColour);
    }
}

// Row strips draw every row edge twice, once from each strip beside it, as the same directed
// segment c-a. A table of the last c-a edge drawn from each vertex catches those repeats.
// Entries carry a stamp, so that a new part needs no clearing.
class RepeatedEdges {
public:
    void StartPart() {
        if (++stamp_ == 0x10000) {
            std::fill(last_.begin(), last_.end(), 0u);
            stamp_ = 1;
        }
    }
    void Reserve(std::size_t vertices) {
        if (last_.size() < vertices) last_.resize(vertices, 0u);
    }
    // Whether c-a was drawn before in this part; records it as drawn.
    bool Repeated(std::int32_t c, std::int32_t a) {
        const std::uint32_t entry = stamp_ << 16 | static_cast<std::uint32_t>(a);
        std::uint32_t& slot = last_[static_cast<std::size_t>(c)];
        const bool repeated = slot == entry;
        slot = entry;
        return repeated;
    }

private:
    std::vector<std::uint32_t> last_;
    std::uint32_t stamp_ = 0;
};

constexpr std::int32_t kDrawBc = 1;
constexpr std::int32_t kDrawCa = 2;

// Per strip position of one block of the walk: the usable vertex there (-1 if none) and its
// packed point; per triangle, which of its edges to draw. One set per drawing thread.
struct StripArrays {
    std::vector<std::int32_t> vertex;
    std::vector<RasterPackedPoint> packed;
    std::vector<std::int32_t> draw;
    RepeatedEdges repeated;
};

// Entry p of the index list; past the stored entries every entry is 0.
inline std::int32_t EntryAt(const std::int16_t* stored, std::int64_t storedCount, std::int64_t p) {
    return p < storedCount ? stored[p] : 0;
}

inline bool TriangleDrawn(std::int32_t a, std::int32_t b, std::int32_t c) {
    return (a | b | c) >= 0 && a != b && b != c && a != c;
}

// Triangles [first, last) of the strip walk: triangle k is entries k, k + 1, k + 2, drawn when
// they name three different vertices of the part that all turned without a fault. Its edge a-b
// is the same directed segment as edge b-c of triangle k - 1, so it is drawn only when that
// triangle was not; all edges of a part are black, so skipping a repeat or changing the order
// of its edges changes no pixel.
void DrawStrip(const MeshPart& part, std::int64_t first, std::int64_t last,
               const RasterTarget& target, const VertexArrays& v, StripArrays& s) {
    const std::int16_t* const stored = part.indices.Stored().data();
    const auto storedCount = static_cast<std::int64_t>(part.indices.Stored().size());
    const auto vertexCount = static_cast<std::uint32_t>(v.x.size());
    const RasterPackedPoint* const packed = v.packed.data();
    const auto usable = [&](std::int64_t p) {
        const std::int32_t index = EntryAt(stored, storedCount, p);
        const bool inPart = static_cast<std::uint32_t>(index) < vertexCount;
        return inPart && !IsFaulted(packed[inPart ? index : 0]) ? index : -1;
    };
    s.repeated.StartPart();
    s.repeated.Reserve(vertexCount);
    bool previousDrawn = first > 0 && TriangleDrawn(usable(first - 1), usable(first), usable(first + 1));
    for (std::int64_t start = first; start < last; start += kTriangleBlock) {
        const std::int64_t triangles = std::min(kTriangleBlock, last - start);
        const auto positions = static_cast<std::size_t>(triangles + 2);
        s.vertex.resize(positions);
        s.packed.resize(positions);
        s.draw.resize(static_cast<std::size_t>(triangles));
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
        const std::int32_t* const sv = s.vertex.data();
        const RasterPackedPoint* const sp = s.packed.data();
        const auto n = static_cast<std::size_t>(triangles);
        RasterLines(target, v.x.data(), v.y.data(),
                    {sp + 1, sp + 2, sv + 1, sv + 2, s.draw.data(), kDrawBc, n}, kEdgeColour);
        RasterLines(target, v.x.data(), v.y.data(),
                    {sp + 2, sp, sv + 2, sv, s.draw.data(), kDrawCa, n}, kEdgeColour);
    }
}

}  // namespace

void DrawWireframe(const WireframeScene& scene, const RasterTarget& target, int /*threads*/) {
    if (!scene.parts) return;
    const RotationCoefficients turn = RotationCoefficients::For(scene.yaw, scene.pitch);
    thread_local VertexArrays vertices;
    thread_local StripArrays strip;
    const std::size_t listed = std::min(scene.checked.size(), scene.parts->size());
    for (std::size_t i = 0; i < listed; ++i) {
        if (!scene.checked[i]) continue;
        const MeshPart& part = (*scene.parts)[i];
        const std::size_t vertexCount = part.vertices.size();
        vertices.Resize(vertexCount);
        TurnAndDot(part, 0, vertexCount, turn, scene.mapping, target, vertices);
        // Past the stored entries every entry is 0, so every later triple is degenerate.
        const std::int64_t count = part.indices.Count();
        const auto stored = static_cast<std::int64_t>(part.indices.Stored().size());
        const std::int64_t triangles = std::min(count - 2, stored);
        if (triangles > 0) DrawStrip(part, 0, triangles, target, vertices, strip);
    }
}

}  // namespace trenn
