#include "render/raster.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <utility>

// Bit-exactness depends on doing the floating-point steps in the toolkit's order with no fused
// multiply-add; GCC keeps FP contraction off in ISO C++ mode, which this project uses.

namespace trenn {
namespace {

using std::int32_t;
using std::int64_t;

constexpr int kFracBits = 6;  // the stroker's 26.6 fixed point
constexpr double kFixedScale = 64.0;
constexpr int32_t kHalfPixel = 32;

// The toolkit's qRound as built for x86-64 (SSE2): add a signed half, truncate. Differs from
// std::round for 0.49999999999999994, which this reproduces.
inline int RoundHalfAway(double v) { return static_cast<int>(v + std::copysign(0.5, v)); }

// QPointF's equality: relative to 1e-12, or absolute 1e-12 when either side is zero.
inline bool SameCoordinate(double a, double b) {
    if (a == 0.0 || b == 0.0) return std::fabs(a - b) <= 1e-12;
    return std::fabs(a - b) * 1e12 <= std::min(std::fabs(a), std::fabs(b));
}

// Every pixel is written through here. Two drawing threads may write the same colour to the
// same pixel at the same time; a relaxed atomic store makes that well-defined and costs nothing
// over a plain store.
inline void Put(std::uint32_t* pixel, std::uint32_t argb) {
    std::atomic_ref<std::uint32_t>(*pixel).store(argb, std::memory_order_relaxed);
}

inline void PutChecked(const RasterTarget& t, int64_t x, int64_t y, std::uint32_t argb) {
    if (x < 0 || y < 0 || x >= t.width || y >= t.height) return;
    Put(t.pixels + y * t.stride + x, argb);
}

// A line whose ends compare equal is drawn as the single pixel nearest to its first end.
void PlotNearest(const RasterTarget& t, double x, double y, std::uint32_t argb) {
    // Range test first: the rounding below must only see values that fit an int.
    if (!(x > -2.0 && x < t.width + 1.0 && y > -2.0 && y < t.height + 1.0)) return;
    PutChecked(t, RoundHalfAway(x), RoundHalfAway(y), argb);
}

// Clips axis `u` of the line to [lo, hi]; `v` is moved along the line. False when nothing is
// left. The arithmetic order is the toolkit's, so clipped ends land on the same 1/64 pixel.
inline bool ClipAxis(double& u1, double& v1, double& u2, double& v2, double lo, double hi) {
    if (u1 < lo) {
        if (u2 <= lo) return false;
        v1 += (v2 - v1) / (u2 - u1) * (lo - u1);
        u1 = lo;
    } else if (u1 > hi) {
        if (u2 >= hi) return false;
        v1 += (v2 - v1) / (u2 - u1) * (hi - u1);
        u1 = hi;
    }
    if (u2 < lo) {
        v2 += (v2 - v1) / (u2 - u1) * (lo - u2);
        u2 = lo;
    } else if (u2 > hi) {
        v2 += (v2 - v1) / (u2 - u1) * (hi - u2);
        u2 = hi;
    }
    return true;
}

// Minor-axis step per major pixel in 16.16, truncated toward zero.
inline int64_t SlopeFixed16(int64_t num, int64_t den) {
    if (num >= -0x7fff && num <= 0x7fff) {
        // Short spans: 32-bit division is several times cheaper than 64-bit.
        return static_cast<int32_t>(num * 65536) / static_cast<int32_t>(den);
    }
    return num * 65536 / den;
}

// Walks the major axis from m1 to m2 (m1 <= m2) in 26.6, one pixel per major step, with the
// square cap of a 1-px pen: the run reaches half a pixel past both ends, and a pixel is drawn
// for every pixel centre column (or row) the extended run covers, counted from floor(m1).
template <bool kChecked, bool kSteep>
inline void Walk(const RasterTarget& t, int32_t m1, int32_t m2, int32_t n1, int32_t n2,
                 std::uint32_t argb) {
    const int64_t inc = SlopeFixed16(int64_t{n2} - n1, int64_t{m2} - m1);
    const int64_t capStart = int64_t{m1} - kHalfPixel;
    int64_t major = int64_t{m1} >> kFracBits;
    const int64_t majorEnd = (int64_t{m2} + 2 * kHalfPixel) >> kFracBits;
    // Positive slopes sample half a 1/64 step later, so the minor value rounds consistently.
    const int64_t bias = inc > 0 ? kHalfPixel : 0;
    int64_t minor = int64_t{n1} * 1024 - (inc >> 1) +
                    (((major * 64 + bias - capStart) * inc) >> kFracBits);

    if constexpr (kChecked) {
        for (; major < majorEnd; ++major, minor += inc) {
            if constexpr (kSteep) {
                PutChecked(t, minor >> 16, major, argb);
            } else {
                PutChecked(t, major, minor >> 16, argb);
            }
        }
    } else if constexpr (kSteep) {
        std::uint32_t* row = t.pixels + major * t.stride;
        for (; major < majorEnd; ++major, minor += inc, row += t.stride) Put(row + (minor >> 16), argb);
    } else {
        std::uint32_t* column = t.pixels + major;
        for (; major < majorEnd; ++major, minor += inc, ++column)
            Put(column + (minor >> 16) * t.stride, argb);
    }
}

// Strokes a 1-px line between two 26.6 points. The axis with the longer span is the major
// one (ties go horizontal); ends are ordered so the walk runs towards increasing major.
template <bool kChecked>
inline void StrokeFixed(const RasterTarget& t, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                        std::uint32_t argb) {
    if (std::abs(x2 - x1) < std::abs(y2 - y1)) {
        if (y1 > y2) {
            std::swap(x1, x2);
            std::swap(y1, y2);
        }
        Walk<kChecked, true>(t, y1, y2, x1, x2, argb);
    } else {
        if (x1 == x2) return;  // both spans below 1/64 pixel: nothing is drawn
        if (x1 > x2) {
            std::swap(x1, x2);
            std::swap(y1, y2);
        }
        Walk<kChecked, false>(t, x1, x2, y1, y2, argb);
    }
}

// Picks a when mask is all ones, b when it is zero; written with bit operations because the
// compiler turns plain selects back into branches, and here they would mispredict.
template <typename T>
inline T Pick(T mask, T a, T b) {
    return b ^ ((a ^ b) & mask);
}

// Same walk as StrokeFixed<false> for lines known to stay inside the image, without
// data-dependent branches: short wireframe edges come in random directions and lengths, and
// mispredicted branches would cost more than the drawing itself.
inline void StrokeInner(const RasterTarget& t, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                        std::uint32_t argb) {
    const int32_t steep = -static_cast<int32_t>(std::abs(x2 - x1) < std::abs(y2 - y1));
    const int32_t a1 = Pick(steep, y1, x1), a2 = Pick(steep, y2, x2);
    const int32_t b1 = Pick(steep, x1, y1), b2 = Pick(steep, x2, y2);
    const int32_t reversed = -static_cast<int32_t>(a1 > a2);
    const int32_t m1 = Pick(reversed, a2, a1), m2 = Pick(reversed, a1, a2);
    const int32_t n1 = Pick(reversed, b2, b1), n2 = Pick(reversed, b1, b2);
    if (m1 == m2) return;  // both spans below 1/64 pixel

    // Quotient below 2^17 from operands below 2^47: the double is exact enough that truncating
    // it equals truncating integer division, and the divider is pipelined.
    const int64_t inc = static_cast<int64_t>(static_cast<double>((int64_t{n2} - n1) * 65536) /
                                             static_cast<double>(m2 - m1));
    const int64_t bias = (-static_cast<int64_t>(inc > 0)) & kHalfPixel;
    const int64_t major = m1 >> kFracBits;
    const int64_t count = ((int64_t{m2} + 2 * kHalfPixel) >> kFracBits) - major;
    const int64_t minor = int64_t{n1} * 1024 - (inc >> 1) +
                          (((major * 64 + bias - (int64_t{m1} - kHalfPixel)) * inc) >> kFracBits);
    const int64_t steepWide = steep;
    const std::ptrdiff_t majorStep = Pick<int64_t>(steepWide, t.stride, 1);
    const std::ptrdiff_t minorStep = Pick<int64_t>(steepWide, 1, t.stride);
    // Four pixels per round with masked steps: once the last pixel is reached the walk stops
    // moving and writes it again, which is harmless. One multiply per pixel.
    std::uint32_t* at = t.pixels + major * majorStep;
    int64_t run = minor;
    const int64_t last = count - 1;
    int64_t k = 0;
    for (;;) {
        const int64_t go0 = (k - last) >> 63;  // all ones while pixel k is not the last
        const int64_t go1 = (k + 1 - last) >> 63;
        const int64_t go2 = (k + 2 - last) >> 63;
        Put(at + (run >> 16) * minorStep, argb);
        run += inc & go0, at += majorStep & go0;
        Put(at + (run >> 16) * minorStep, argb);
        run += inc & go1, at += majorStep & go1;
        Put(at + (run >> 16) * minorStep, argb);
        run += inc & go2, at += majorStep & go2;
        Put(at + (run >> 16) * minorStep, argb);
        k += 4;
        if (k >= count) break;
        run += inc, at += majorStep;
    }
}

inline int32_t ToFixed(double v) { return static_cast<int32_t>(v * kFixedScale); }

// Inside [1, side - 2] no pixel of a line can fall outside the image: the cap reaches at most
// half a pixel along the major axis and the minor axis moves at most one pixel per pixel.
inline bool IsInner(double v, int side) { return v >= 1.0 && v <= side - 2.0; }

}  // namespace

void RasterDot(const RasterTarget& target, double cx, double cy, int width, std::uint32_t argb) {
    const double half = width / 2.0;
    // The caller's cull: dots wholly outside never reach the painter.
    if (!(cx + half >= -1.0 && cx - half <= target.width + 1.0 && cy + half >= -1.0 &&
          cy - half <= target.height + 1.0)) {
        return;
    }
    const double left = cx - half;
    const double top = cy - half;
    // An unantialiased fillRect rounds each edge to the nearest integer, halves away from zero.
    // Clamping to just outside the image first keeps the rounding in int range and changes
    // nothing after the rectangle is clipped to the image.
    const auto edge = [](double v, int side) {
        return RoundHalfAway(std::clamp(v, -1.0, side + 1.0));
    };
    int x1 = edge(left, target.width);
    int x2 = edge(left + width, target.width);
    int y1 = edge(top, target.height);
    int y2 = edge(top + width, target.height);
    if (x2 < x1) std::swap(x1, x2);
    if (y2 < y1) std::swap(y1, y2);
    x1 = std::max(x1, 0);
    y1 = std::max(y1, 0);
    x2 = std::min(x2, target.width);
    y2 = std::min(y2, target.height);
    for (int y = y1; y < y2; ++y) {
        std::uint32_t* row = target.pixels + y * target.stride;
        for (int x = x1; x < x2; ++x) Put(row + x, argb);
    }
}

void RasterLine(const RasterTarget& target, double x1, double y1, double x2, double y2,
                std::uint32_t argb) {
    if (SameCoordinate(x1, x2) && SameCoordinate(y1, y2)) {
        PlotNearest(target, x1, y1, argb);
        return;
    }
    if (IsInner(x1, target.width) && IsInner(x2, target.width) && IsInner(y1, target.height) &&
        IsInner(y2, target.height)) {
        StrokeInner(target, ToFixed(x1), ToFixed(y1), ToFixed(x2), ToFixed(y2), argb);
        return;
    }
    // The stroker clips to one pixel beyond the image in floating point, then converts the
    // clipped ends to fixed point; pixels outside the image are dropped one by one.
    if (!ClipAxis(x1, y1, x2, y2, -1.0, target.width + 1.0)) return;
    if (!ClipAxis(y1, x1, y2, x2, -1.0, target.height + 1.0)) return;
    // Infinite or NaN input can survive clipping; never convert such values.
    const auto near = [](double v, int side) { return v >= -2.0 && v <= side + 2.0; };
    if (!(near(x1, target.width) && near(x2, target.width) && near(y1, target.height) &&
          near(y2, target.height))) {
        return;
    }
    StrokeFixed<true>(target, ToFixed(x1), ToFixed(y1), ToFixed(x2), ToFixed(y2), argb);
}

RasterVertex PrepareRasterVertex(const RasterTarget& target, double x, double y) {
    RasterVertex v{x, y, kRasterVertexOuter, kRasterVertexOuter};
    if (IsInner(x, target.width) && IsInner(y, target.height)) {
        v.fx = ToFixed(x);
        v.fy = ToFixed(y);
    }
    return v;
}

namespace {

inline void LineBetween(const RasterTarget& target, const RasterVertex& a, const RasterVertex& b,
                        std::uint32_t argb) {
    if (a.fx == kRasterVertexOuter || b.fx == kRasterVertexOuter) [[unlikely]] {
        RasterLine(target, a.x, a.y, b.x, b.y, argb);
        return;
    }
    const int32_t dx = b.fx - a.fx;
    const int32_t dy = b.fy - a.fy;
    // Ends within 1/64 pixel of each other may still compare equal as points (a pixel is
    // drawn) or not (nothing or a short run is drawn); only the doubles can tell.
    if (static_cast<std::uint32_t>(dx + 1) <= 2u && static_cast<std::uint32_t>(dy + 1) <= 2u)
        [[unlikely]] {
        if (SameCoordinate(a.x, b.x) && SameCoordinate(a.y, b.y)) {
            PlotNearest(target, a.x, a.y, argb);
            return;
        }
    }
    StrokeInner(target, a.fx, a.fy, b.fx, b.fy, argb);
}

}  // namespace

void RasterLine(const RasterTarget& target, const RasterVertex& a, const RasterVertex& b,
                std::uint32_t argb) {
    LineBetween(target, a, b, argb);
}

namespace {

// Lines are set up a chunk at a time in a branch-free loop over plain arrays, which the
// compiler can vectorise and the processor can overlap; a second loop then writes the pixels.
// The setup is in 32-bit arithmetic, hence the size limits in ChunkedLinesFit.
constexpr int kChunk = 64;

struct LineChunk {
    alignas(64) int32_t ax[kChunk];
    alignas(64) int32_t ay[kChunk];
    alignas(64) int32_t bx[kChunk];
    alignas(64) int32_t by[kChunk];
    alignas(64) int32_t outer[kChunk];  // nonzero: an end outside the fast band
    alignas(64) int32_t special[kChunk];  // nonzero: drawn by the general per-line path
    alignas(64) int32_t count[kChunk];    // pixels in the run
    alignas(64) int32_t offset[4][kChunk];  // first four pixels; repeats the last if fewer
    // Where the walk of a longer run continues after its fourth pixel.
    alignas(64) int32_t nextMajor[kChunk];  // pixel offset of the fifth major step
    alignas(64) int32_t nextRun[kChunk];    // minor position there, 16.16
    alignas(64) int32_t inc[kChunk];
    alignas(64) int32_t steep[kChunk];
};

inline bool ChunkedLinesFit(const RasterTarget& t) {
    return t.width <= 16383 && t.height <= 16383 && t.stride > 0 &&
           t.stride * static_cast<std::ptrdiff_t>(t.height) < (std::ptrdiff_t{1} << 30);
}

// The same arithmetic as StrokeInner, one lane per line. Selections are written as masks and
// min/max: at -O2 the compiler vectorises only loops without branches.
#if defined(__GNUC__) && defined(__x86_64__) && !defined(__clang__)
__attribute__((target_clones("avx2", "default")))
#endif
void SetUpChunk(LineChunk& c, int32_t stride) {
    for (int i = 0; i < kChunk; ++i) {
        const int32_t ax = c.ax[i], ay = c.ay[i], bx = c.bx[i], by = c.by[i];
        const int32_t dx = bx - ax;
        const int32_t dy = by - ay;
        const int32_t steep = -static_cast<int32_t>(std::abs(dx) < std::abs(dy));
        const int32_t a1 = Pick(steep, ay, ax), a2 = Pick(steep, by, bx);
        const int32_t b1 = Pick(steep, ax, ay), b2 = Pick(steep, bx, by);
        const int32_t reversed = -static_cast<int32_t>(a1 > a2);
        const int32_t m1 = std::min(a1, a2), m2 = std::max(a1, a2);
        const int32_t n1 = Pick(reversed, b2, b1), n2 = Pick(reversed, b1, b2);
        const int32_t span = m2 - m1;
        const int32_t nearZero = static_cast<int32_t>(static_cast<std::uint32_t>(dx + 1) <= 2u) &
                                 static_cast<int32_t>(static_cast<std::uint32_t>(dy + 1) <= 2u);
        c.special[i] = c.outer[i] | nearZero;
        const int32_t inc = static_cast<int32_t>(static_cast<double>(n2 - n1) * 65536.0 /
                                                 static_cast<double>(span + (span == 0)));
        const int32_t bias = -static_cast<int32_t>(inc > 0) & kHalfPixel;
        const int32_t major = m1 >> kFracBits;
        const int32_t count = ((m2 + 2 * kHalfPixel) >> kFracBits) - major;
        const int32_t run =
            n1 * 1024 - (inc >> 1) + (((major * 64 + bias - (m1 - kHalfPixel)) * inc) >> kFracBits);
        const int32_t majorStep = Pick(steep, stride, 1);
        const int32_t minorStep = Pick(steep, 1, stride);
        const int32_t last = count - 1;
        c.count[i] = count;
        // Written out: an inner loop would keep the compiler from vectorising this one.
        const int32_t j1 = std::min(last, 1);
        const int32_t j2 = std::min(last, 2);
        const int32_t j3 = std::min(last, 3);
        const int32_t base = major * majorStep;
        c.offset[0][i] = base + (run >> 16) * minorStep;
        c.offset[1][i] = base + j1 * majorStep + ((run + j1 * inc) >> 16) * minorStep;
        c.offset[2][i] = base + j2 * majorStep + ((run + j2 * inc) >> 16) * minorStep;
        c.offset[3][i] = base + j3 * majorStep + ((run + j3 * inc) >> 16) * minorStep;
        c.nextMajor[i] = base + 4 * majorStep;
        c.nextRun[i] = run + 4 * inc;
        c.inc[i] = inc;
        c.steep[i] = steep;
    }
}

// The pixels of a run past its fourth.
void ContinueRun(const LineChunk& c, int i, std::uint32_t* pixels, std::ptrdiff_t stride,
                 std::uint32_t argb) {
    const std::ptrdiff_t majorStep = Pick<std::ptrdiff_t>(c.steep[i], stride, 1);
    const std::ptrdiff_t minorStep = Pick<std::ptrdiff_t>(c.steep[i], 1, stride);
    std::uint32_t* at = pixels + c.nextMajor[i];
    int32_t run = c.nextRun[i];
    for (int32_t k = 4; k < c.count[i]; ++k, run += c.inc[i], at += majorStep)
        Put(at + (run >> 16) * minorStep, argb);
}

}  // namespace

void RasterLines(const RasterTarget& target, const RasterVertex* vertices,
                 const RasterEdge* edges, std::size_t count, std::uint32_t argb) {
    if (!ChunkedLinesFit(target)) {
        for (std::size_t i = 0; i < count; ++i)
            LineBetween(target, vertices[edges[i].a], vertices[edges[i].b], argb);
        return;
    }
    LineChunk c;
    std::uint32_t* const pixels = target.pixels;
    for (std::size_t first = 0; first < count; first += kChunk) {
        const int n = static_cast<int>(std::min<std::size_t>(kChunk, count - first));
        const RasterEdge* e = edges + first;
        for (int i = 0; i < kChunk; ++i) {
            // Lanes past the end and ends outside the band get harmless coordinates.
            const RasterVertex& a = vertices[e[i < n ? i : 0].a];
            const RasterVertex& b = vertices[e[i < n ? i : 0].b];
            const bool out = a.fx == kRasterVertexOuter || b.fx == kRasterVertexOuter;
            c.outer[i] = out;
            c.ax[i] = out ? 0 : a.fx;
            c.ay[i] = out ? 0 : a.fy;
            c.bx[i] = out ? 0 : b.fx;
            c.by[i] = out ? 0 : b.fy;
        }
        SetUpChunk(c, static_cast<int32_t>(target.stride));
        for (int i = 0; i < n; ++i) {
            if (c.special[i]) [[unlikely]] {
                LineBetween(target, vertices[e[i].a], vertices[e[i].b], argb);
                continue;
            }
            Put(pixels + c.offset[0][i], argb);
            Put(pixels + c.offset[1][i], argb);
            Put(pixels + c.offset[2][i], argb);
            Put(pixels + c.offset[3][i], argb);
            if (c.count[i] > 4) ContinueRun(c, i, pixels, target.stride, argb);
        }
    }
}

}  // namespace trenn

namespace trenn {
namespace {

struct DotChunk {
    alignas(64) double x[kChunk];
    alignas(64) double y[kChunk];
    alignas(64) int32_t x1[kChunk];
    alignas(64) int32_t x2[kChunk];
    alignas(64) int32_t y1[kChunk];
    alignas(64) int32_t y2[kChunk];
};

// Widths beyond this take the single-dot path, whose clamping keeps any width in int range.
constexpr int kBatchDotWidthLimit = 1 << 20;
// Culled dots are moved here: every rounded edge stays negative, so nothing is drawn.
constexpr double kCulledDot = -4.0 * kBatchDotWidthLimit;

inline double RoundingOffset(double v) { return std::copysign(0.5, v); }

// RasterDot's rounding for a chunk of dots that passed the cull; vectorisable.
#if defined(__GNUC__) && defined(__x86_64__) && !defined(__clang__)
__attribute__((target_clones("avx2", "default")))
#endif
void SetUpDots(DotChunk& c, int width, int32_t imageWidth, int32_t imageHeight) {
    const double half = width / 2.0;
    const double size = width;
    for (int i = 0; i < kChunk; ++i) {
        const double left = c.x[i] - half;
        const double top = c.y[i] - half;
        const double right = left + size;
        const double bottom = top + size;
        const int32_t l = static_cast<int32_t>(left + RoundingOffset(left));
        const int32_t r = static_cast<int32_t>(right + RoundingOffset(right));
        const int32_t t = static_cast<int32_t>(top + RoundingOffset(top));
        const int32_t b = static_cast<int32_t>(bottom + RoundingOffset(bottom));
        c.x1[i] = std::max(std::min(l, r), 0);
        c.x2[i] = std::min(std::max(l, r), imageWidth);
        c.y1[i] = std::max(std::min(t, b), 0);
        c.y2[i] = std::min(std::max(t, b), imageHeight);
    }
}

}  // namespace

void RasterDots(const RasterTarget& target, const RasterVertex* vertices, std::size_t count,
                int width, std::uint32_t argb) {
    if (width > kBatchDotWidthLimit || width < -kBatchDotWidthLimit ||
        target.width > kBatchDotWidthLimit || target.height > kBatchDotWidthLimit) {
        for (std::size_t i = 0; i < count; ++i)
            RasterDot(target, vertices[i].x, vertices[i].y, width, argb);
        return;
    }
    const double half = width / 2.0;
    DotChunk c;
    for (std::size_t first = 0; first < count; first += kChunk) {
        const int n = static_cast<int>(std::min<std::size_t>(kChunk, count - first));
        for (int i = 0; i < kChunk; ++i) {
            const RasterVertex& v = vertices[first + static_cast<std::size_t>(i < n ? i : 0)];
            // RasterDot's cull; it also keeps NaN and huge values away from the conversions.
            const bool keep = i < n && v.x + half >= -1.0 && v.x - half <= target.width + 1.0 &&
                              v.y + half >= -1.0 && v.y - half <= target.height + 1.0;
            c.x[i] = keep ? v.x : kCulledDot;
            c.y[i] = keep ? v.y : kCulledDot;
        }
        SetUpDots(c, width, target.width, target.height);
        for (int i = 0; i < n; ++i) {
            for (int32_t y = c.y1[i]; y < c.y2[i]; ++y) {
                std::uint32_t* const row = target.pixels + y * target.stride;
                for (int32_t x = c.x1[i]; x < c.x2[i]; ++x) Put(row + x, argb);
            }
        }
    }
}

}  // namespace trenn

namespace trenn {
namespace {

// Wider vectors where the processor has them. No floating-point operation here traps or reads
// the exception flags, so the compiler may run them unconditionally, which it needs in order to
// vectorise loops with selections; the results are the same IEEE results.
#if defined(__GNUC__) && defined(__x86_64__) && !defined(__clang__)
#define TRENN_VECTOR_CLONES                                                        \
    __attribute__((target_clones("arch=x86-64-v4", "avx2", "default"),            \
                   optimize("no-trapping-math")))
#elif defined(__GNUC__) && !defined(__clang__)
#define TRENN_VECTOR_CLONES __attribute__((optimize("no-trapping-math")))
#else
#define TRENN_VECTOR_CLONES
#endif

// Beyond these a point's pixels, and those of any line between two points beyond the same
// side, all fall outside the image: the cap and the minor-axis rounding reach at most half a
// pixel past an end, and a clipped end moves to one pixel outside.
constexpr double kBeyondMargin = 0.75;
constexpr int32_t kBeyondFixed = 48;  // the margin in 26.6, rounded to stay conservative
constexpr double kTrustedFar = 1.0e6;

TRENN_VECTOR_CLONES
void PreparePoints(const double* x, const double* y, std::size_t count, int width, int height,
                   RasterPackedPoint* packed) {
    const double right = width + 1.0;
    const double bottom = height + 1.0;
    for (std::size_t i = 0; i < count; ++i) {
        const double px = x[i], py = y[i];
        const bool near = (px >= -1.0) & (px <= right) & (py >= -1.0) & (py <= bottom);
        const int32_t fx = static_cast<int32_t>((near ? px : 0.0) * kFixedScale);
        const int32_t fy = static_cast<int32_t>((near ? py : 0.0) * kFixedScale);
        // Past kTrustedFar the toolkit's clipping arithmetic no longer follows the geometry
        // (a line between two points far below the image can come out along its top), so
        // such a point claims no side and its lines take the general path, which copies it.
        const bool trusted = (std::fabs(px) < kTrustedFar) & (std::fabs(py) < kTrustedFar);
        const int32_t beyond = (static_cast<int32_t>(px < -kBeyondMargin) * kBeyondLeft |
                                static_cast<int32_t>(px > width + kBeyondMargin) * kBeyondRight |
                                static_cast<int32_t>(py < -kBeyondMargin) * kBeyondTop |
                                static_cast<int32_t>(py > height + kBeyondMargin) * kBeyondBottom) &
                               -static_cast<int32_t>(trusted);
        packed[i].x = near ? fx : kRasterFar;
        packed[i].y = near ? fy : beyond;
    }
}

struct DotSetUp {
    alignas(64) int32_t corner[kChunk];  // offset of the top-left pixel
    alignas(64) int32_t square[kChunk];  // zero: exactly 2 x 2 pixels inside the image
    alignas(64) int32_t x1[kChunk];
    alignas(64) int32_t x2[kChunk];
    alignas(64) int32_t y1[kChunk];
    alignas(64) int32_t y2[kChunk];
};

// RasterDot's cull and rounding for a chunk of dots; culled dots get an empty rectangle.
TRENN_VECTOR_CLONES
void SetUpDotArray(DotSetUp& __restrict c, const double* __restrict x,
                   const double* __restrict y, int n, int width,
                   int32_t imageWidth, int32_t imageHeight, int32_t stride) {
    const double half = width / 2.0;
    const double size = width;
    for (int i = 0; i < n; ++i) {
        const bool keep = (x[i] + half >= -1.0) & (x[i] - half <= imageWidth + 1.0) &
                          (y[i] + half >= -1.0) & (y[i] - half <= imageHeight + 1.0);
        const double left = (keep ? x[i] : kCulledDot) - half;
        const double top = (keep ? y[i] : kCulledDot) - half;
        const double right = left + size;
        const double bottom = top + size;
        // RoundHalfAway, written out: a helper compiled without this function's options would
        // not be inlined here.
        const int32_t l = static_cast<int32_t>(left + std::copysign(0.5, left));
        const int32_t r = static_cast<int32_t>(right + std::copysign(0.5, right));
        const int32_t t = static_cast<int32_t>(top + std::copysign(0.5, top));
        const int32_t b = static_cast<int32_t>(bottom + std::copysign(0.5, bottom));
        const int32_t x1 = std::max(std::min(l, r), 0);
        const int32_t x2 = std::min(std::max(l, r), imageWidth);
        const int32_t y1 = std::max(std::min(t, b), 0);
        const int32_t y2 = std::min(std::max(t, b), imageHeight);
        c.x1[i] = x1;
        c.x2[i] = x2;
        c.y1[i] = y1;
        c.y2[i] = y2;
        c.square[i] = (x2 - x1 - 2) | (y2 - y1 - 2);
        c.corner[i] = y1 * stride + x1;
    }
}

}  // namespace

void PrepareRasterPoints(const RasterTarget& target, const double* x, const double* y,
                         std::size_t count, RasterPackedPoint* packed) {
    PreparePoints(x, y, count, target.width, target.height, packed);
}

void RasterDotArray(const RasterTarget& target, const double* x, const double* y,
                    std::size_t count, int width, std::uint32_t argb) {
    if (width > kBatchDotWidthLimit || width < -kBatchDotWidthLimit || !ChunkedLinesFit(target)) {
        for (std::size_t i = 0; i < count; ++i) RasterDot(target, x[i], y[i], width, argb);
        return;
    }
    DotSetUp c;
    const std::ptrdiff_t stride = target.stride;
    for (std::size_t first = 0; first < count; first += kChunk) {
        const int n = static_cast<int>(std::min<std::size_t>(kChunk, count - first));
        SetUpDotArray(c, x + first, y + first, n, width, target.width, target.height,
                      static_cast<int32_t>(stride));
        for (int i = 0; i < n; ++i) {
            if (c.square[i] == 0) [[likely]] {
                std::uint32_t* const corner = target.pixels + c.corner[i];
                Put(corner, argb);
                Put(corner + 1, argb);
                Put(corner + stride, argb);
                Put(corner + stride + 1, argb);
                continue;
            }
            for (int32_t row = c.y1[i]; row < c.y2[i]; ++row) {
                std::uint32_t* const line = target.pixels + row * stride;
                for (int32_t column = c.x1[i]; column < c.x2[i]; ++column) Put(line + column, argb);
            }
        }
    }
}

namespace {

// Pixels of a short run, whose offsets the set-up works out.
constexpr int kRunPixels = 5;
// Lines set up per round: enough for the processor to overlap the rounds' long chains of
// dependent steps, few enough that the results stay in the first-level cache.
constexpr int kLineChunk = 256;
// Lines tested together for lying wholly inside the picture.
constexpr int kInnerGroup = 32;

enum LineKind : int32_t {
    kLineShort = 0,    // at most kRunPixels pixels, all given by the offsets
    kLineSkipped = 1,  // not drawn, or none of its pixels lies inside the image
    kLineOther = 2,    // longer, an end far outside, or ends too close: the general path
};

struct LineSetUp {
    alignas(64) int32_t kind[kLineChunk];
    // The run's pixels; where it has fewer, or a pixel lies outside the image, another pixel
    // of the same run stands in, which is then merely written twice.
    alignas(64) int32_t offset[kRunPixels][kLineChunk];
};

// Which sides a near point lies well beyond, from its 26.6 position.
inline int32_t BeyondOfFixed(int32_t fx, int32_t fy, int32_t rightFixed, int32_t bottomFixed) {
    return static_cast<int32_t>(fx < -kBeyondFixed) * kBeyondLeft |
           static_cast<int32_t>(fx > rightFixed) * kBeyondRight |
           static_cast<int32_t>(fy < -kBeyondFixed) * kBeyondTop |
           static_cast<int32_t>(fy > bottomFixed) * kBeyondBottom;
}

// StrokeInner's set-up of one line's walk in mask arithmetic, shared by the vectorised set-ups.
// Always inlined: a call would stop the loops around it from vectorising.
struct ShortRun {
    int32_t steep;     // all ones when y is the major axis
    int32_t nearZero;  // all ones when both spans are below 1/64 pixel
    int32_t inc;       // minor step per pixel, 16.16
    int32_t major;     // first pixel along the major axis
    int32_t count;     // pixels along the major axis
    int32_t run;       // minor position of the first pixel, 16.16
};

[[gnu::always_inline]] inline ShortRun SetUpShortRun(int32_t ax, int32_t ay, int32_t bx,
                                                     int32_t by) {
    const auto mask = [](bool condition) { return -static_cast<int32_t>(condition); };
    const auto select = [](int32_t m, int32_t a, int32_t b) { return (a & m) | (b & ~m); };
    const int32_t dx = bx - ax;
    const int32_t dy = by - ay;
    const int32_t steep = mask(std::abs(dx) < std::abs(dy));
    const int32_t a1 = select(steep, ay, ax), a2 = select(steep, by, bx);
    const int32_t b1 = select(steep, ax, ay), b2 = select(steep, bx, by);
    const int32_t reversed = mask(a1 > a2);
    const int32_t m1 = select(reversed, a2, a1), m2 = select(reversed, a1, a2);
    const int32_t n1 = select(reversed, b2, b1), n2 = select(reversed, b1, b2);
    const int32_t span = m2 - m1;
    const int32_t nearZero = mask((static_cast<std::uint32_t>(dx + 1) <= 2u) &
                                  (static_cast<std::uint32_t>(dy + 1) <= 2u));
    // Single precision gives the truncated quotient exactly for spans below 512: the
    // quotient is at most 2^16, so it is rounded by at most 2^-9, and unless it is a whole
    // number it lies at least 1/span from one. A short run spans at most 319.
    const int32_t inc = static_cast<int32_t>(static_cast<float>(n2 - n1) * 65536.0f /
                                             static_cast<float>(span | (span == 0)));
    const int32_t bias = mask(inc > 0) & kHalfPixel;
    const int32_t major = m1 >> kFracBits;
    const int32_t count = ((m2 + 2 * kHalfPixel) >> kFracBits) - major;
    const int32_t run =
        n1 * 1024 - (inc >> 1) + (((major * 64 + bias - (m1 - kHalfPixel)) * inc) >> kFracBits);
    return {steep, nearZero, inc, major, count, run};
}

// StrokeFixed's walk for the short lines of a chunk, vectorised. Both ends near the image
// means the stroker clips nothing, so the walk is the same as for a line wholly inside; its
// pixels outside the image are dropped.
TRENN_VECTOR_CLONES
void SetUpLines(LineSetUp& __restrict c, int base, const RasterPackedPoint* __restrict from,
                const RasterPackedPoint* __restrict to, const int32_t* __restrict flags,
                int32_t drawMask, int n, int32_t width, int32_t height, int32_t stride) {
    const int32_t rightFixed = width * 64 + kBeyondFixed;
    const int32_t bottomFixed = height * 64 + kBeyondFixed;
    // Conditions are all-ones or zero masks: the compiler vectorises those, not truth values.
    const auto mask = [](bool condition) { return -static_cast<int32_t>(condition); };
    const auto select = [](int32_t m, int32_t a, int32_t b) { return (a & m) | (b & ~m); };
    for (int i = 0; i < n; ++i) {
        const int32_t rawAx = from[i].x, rawAy = from[i].y;
        const int32_t rawBx = to[i].x, rawBy = to[i].y;
        const int32_t farA = mask(rawAx == kRasterFar);
        const int32_t farB = mask(rawBx == kRasterFar);
        const int32_t far = farA | farB;
        const int32_t ax = rawAx & ~far, ay = rawAy & ~far;
        const int32_t bx = rawBx & ~far, by = rawBy & ~far;
        const int32_t beyondA = select(farA, rawAy, BeyondOfFixed(ax, ay, rightFixed, bottomFixed));
        const int32_t beyondB = select(farB, rawBy, BeyondOfFixed(bx, by, rightFixed, bottomFixed));
        const int32_t culled = mask((beyondA & beyondB) != 0);

        const ShortRun walk = SetUpShortRun(ax, ay, bx, by);
        const int32_t steep = walk.steep, nearZero = walk.nearZero, inc = walk.inc;
        const int32_t major = walk.major, count = walk.count, run = walk.run;

        // The pixels, walking on; past the last one the walk stands still.
        int32_t offsets[kRunPixels];
        int32_t inside[kRunPixels];
        int32_t along = major;
        int32_t minor = run;
        const int32_t incIfSteep = inc;
#pragma GCC unroll 8
        for (int j = 0; j < kRunPixels; ++j) {
            const int32_t across = minor >> 16;
            const int32_t px = select(steep, across, along);
            const int32_t py = select(steep, along, across);
            inside[j] = mask((static_cast<std::uint32_t>(px) < static_cast<std::uint32_t>(width)) &
                             (static_cast<std::uint32_t>(py) < static_cast<std::uint32_t>(height)));
            offsets[j] = py * stride + px;
            const int32_t more = mask(j + 1 < count);
            along -= more;
            minor += incIfSteep & more;
        }
        int32_t anchor = offsets[kRunPixels - 1];
        int32_t anyInside = inside[kRunPixels - 1];
#pragma GCC unroll 8
        for (int j = kRunPixels - 2; j >= 0; --j) {
            anchor = select(inside[j], offsets[j], anchor);
            anyInside |= inside[j];
        }
#pragma GCC unroll 8
        for (int j = 0; j < kRunPixels; ++j) c.offset[j][base + i] = select(inside[j], offsets[j], anchor);

        const int32_t other = far | nearZero | mask(count > kRunPixels);
        const int32_t skipped = mask((flags[i] & drawMask) == 0) | culled | (~other & ~anyInside);
        c.kind[base + i] = select(skipped, kLineSkipped, other & kLineOther);
    }
}

// Per group of kInnerGroup lines (the last may be shorter): whether every end lies at least a
// pixel inside the image, where no pixel of a line can fall outside it (see IsInner). Far
// points hold kRasterFar and fail the test. One flat pass over the lines, then one per group:
// a loop per group was too short to vectorise well.
TRENN_VECTOR_CLONES
void FindInnerGroups(const RasterPackedPoint* __restrict from,
                     const RasterPackedPoint* __restrict to, int n, int32_t width,
                     int32_t height, bool* __restrict inner) {
    if (width < 3 || height < 3) {  // no point is a pixel inside
        for (int group = 0; group * kInnerGroup < n; ++group) inner[group] = false;
        return;
    }
    // 64 <= v <= (side - 2) * 64, as one unsigned comparison.
    const auto spanX = static_cast<uint32_t>(width - 3) * 64u;
    const auto spanY = static_cast<uint32_t>(height - 3) * 64u;
    const auto beyond = [](int32_t v, uint32_t span) {
        return static_cast<int32_t>(static_cast<uint32_t>(v) - 64u > span);
    };
    alignas(64) int32_t outside[kLineChunk];
    for (int i = 0; i < n; ++i) {
        outside[i] = beyond(from[i].x, spanX) | beyond(from[i].y, spanY) |
                     beyond(to[i].x, spanX) | beyond(to[i].y, spanY);
    }
    for (int i = n; i < (n + kInnerGroup - 1) / kInnerGroup * kInnerGroup; ++i) outside[i] = 0;
    for (int group = 0; group * kInnerGroup < n; ++group) {
        int32_t any = 0;
        for (int j = 0; j < kInnerGroup; ++j) any |= outside[group * kInnerGroup + j];
        inner[group] = any == 0;
    }
}

// SetUpLines for lines that FindInnerGroups accepted: no far ends, no culling, no pixel outside.
TRENN_VECTOR_CLONES
void SetUpInnerLines(LineSetUp& __restrict c, int base, const RasterPackedPoint* __restrict from,
                     const RasterPackedPoint* __restrict to, const int32_t* __restrict flags,
                     int32_t drawMask, int n, int32_t stride) {
    const auto mask = [](bool condition) { return -static_cast<int32_t>(condition); };
    const auto select = [](int32_t m, int32_t a, int32_t b) { return (a & m) | (b & ~m); };
    for (int i = 0; i < n; ++i) {
        const int32_t ax = from[i].x, ay = from[i].y;
        const int32_t bx = to[i].x, by = to[i].y;
        const ShortRun walk = SetUpShortRun(ax, ay, bx, by);
        const int32_t steep = walk.steep, nearZero = walk.nearZero, inc = walk.inc;
        const int32_t major = walk.major, count = walk.count, run = walk.run;
        // Pixel offsets: a step along the major axis and the minor position's whole part.
        const int32_t majorStep = select(steep, stride, 1);
        const int32_t minorStep = select(steep, 1, stride);
        int32_t along = major * majorStep;
        int32_t minor = run;
#pragma GCC unroll 8
        for (int j = 0; j < kRunPixels; ++j) {
            c.offset[j][base + i] = along + (minor >> 16) * minorStep;
            const int32_t more = mask(j + 1 < count);
            along += majorStep & more;
            minor += inc & more;
        }
        const int32_t other = nearZero | mask(count > kRunPixels);
        const int32_t skipped = mask((flags[i] & drawMask) == 0);
        c.kind[base + i] = select(skipped, kLineSkipped, other & kLineOther);
    }
}

}  // namespace

void RasterLines(const RasterTarget& target, const double* x, const double* y,
                 const RasterLineRun& run, std::uint32_t argb) {
    const auto general = [&](std::size_t i) {
        const auto a = run.pairs ? std::size_t{run.pairs[i] & 0xFFFFu} : static_cast<std::size_t>(run.fromPoint[i]);
        const auto b = run.pairs ? std::size_t{run.pairs[i] >> 16} : static_cast<std::size_t>(run.toPoint[i]);
        RasterLine(target, x[a], y[a], x[b], y[b], argb);
    };
    if (!ChunkedLinesFit(target)) {
        for (std::size_t i = 0; i < run.count; ++i) {
            if (run.flags[i] & run.drawMask) general(i);
        }
        return;
    }
    LineSetUp c;
    std::uint32_t* const pixels = target.pixels;
    for (std::size_t first = 0; first < run.count; first += kLineChunk) {
        const int n = static_cast<int>(std::min<std::size_t>(kLineChunk, run.count - first));
        // A model that fills the picture has lines on its sides in most chunks; deciding per
        // group keeps the rest of the chunk on the short path. Neighbouring groups that take
        // the same path are set up in one call, whose loop then runs long enough to pay.
        bool inner[kLineChunk / kInnerGroup];
        const int groups = (n + kInnerGroup - 1) / kInnerGroup;
        FindInnerGroups(run.from + first, run.to + first, n, target.width, target.height, inner);
        for (int g = 0; g < groups;) {
            int end = g + 1;
            while (end < groups && inner[end] == inner[g]) ++end;
            const int base = g * kInnerGroup;
            const int m = std::min(end * kInnerGroup, n) - base;
            const std::size_t at = first + static_cast<std::size_t>(base);
            if (inner[g]) {
                SetUpInnerLines(c, base, run.from + at, run.to + at, run.flags + at, run.drawMask,
                                m, static_cast<int32_t>(target.stride));
            } else {
                SetUpLines(c, base, run.from + at, run.to + at, run.flags + at, run.drawMask, m,
                           target.width, target.height, static_cast<int32_t>(target.stride));
            }
            g = end;
        }
        for (int i = 0; i < n; ++i) {
            const int32_t kind = c.kind[i];
            if (kind == kLineShort) [[likely]] {
                static_assert(kRunPixels == 5, "one store per pixel below");
                Put(pixels + c.offset[0][i], argb);
                Put(pixels + c.offset[1][i], argb);
                Put(pixels + c.offset[2][i], argb);
                Put(pixels + c.offset[3][i], argb);
                Put(pixels + c.offset[4][i], argb);
            } else if (kind == kLineOther) {
                general(first + static_cast<std::size_t>(i));
            }
        }
    }
}

}  // namespace trenn
