// The exact dot and line: one at a time, any coordinates, the toolkit's pixels.

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "render/line_walk.h"
#include "render/raster.h"

// Bit-exactness depends on doing the floating-point steps in the toolkit's order with no fused
// multiply-add: the whole build has -ffp-contract=off (see vector_code.h).

namespace trenn {
namespace {

using std::int32_t;
using std::int64_t;
using namespace raster;

// The toolkit's qRound as built for x86-64 (SSE2): add a signed half, truncate. Differs from
// std::round for 0.49999999999999994, which this reproduces.
inline int RoundHalfAway(double v) { return static_cast<int>(v + std::copysign(0.5, v)); }

// QPointF's equality: relative to 1e-12, or absolute 1e-12 when either side is zero.
inline bool SameCoordinate(double a, double b) {
    if (a == 0.0 || b == 0.0) return std::fabs(a - b) <= 1e-12;
    return std::fabs(a - b) * 1e12 <= std::min(std::fabs(a), std::fabs(b));
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

// A line that may reach past the image: pixels outside are dropped one by one.
void StrokeChecked(const RasterTarget& t, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                   std::uint32_t argb) {
    const LineWalk<int64_t> walk = SetUpWalk<int64_t>(x1, y1, x2, y2, ExactSlope);
    if (walk.empty) return;
    int64_t minor = walk.run;
    for (int64_t major = walk.major; major < walk.major + walk.count; ++major, minor += walk.inc) {
        if (walk.steep) {
            PutChecked(t, minor >> 16, major, argb);
        } else {
            PutChecked(t, major, minor >> 16, argb);
        }
    }
}

// A line known to stay inside the image, without data-dependent branches: short wireframe
// edges come in random directions and lengths, and mispredicted branches would cost more than
// the drawing itself.
}  // namespace

void raster::RasterInnerLine(const RasterTarget& t, int32_t x1, int32_t y1, int32_t x2, int32_t y2,
                     std::uint32_t argb) {
    const LineWalk<int64_t> walk = SetUpWalk<int64_t>(x1, y1, x2, y2, ExactSlope);
    if (walk.empty) return;
    const std::ptrdiff_t majorStep = Select<int64_t>(walk.steep, t.stride, 1);
    const std::ptrdiff_t minorStep = Select<int64_t>(walk.steep, 1, t.stride);
    // Four pixels per round with masked steps: once the last pixel is reached the walk stops
    // moving and writes it again, which is harmless. One multiply per pixel.
    std::uint32_t* at = t.pixels + walk.major * majorStep;
    int64_t run = walk.run;
    const int64_t inc = walk.inc;
    const int64_t last = walk.count - 1;
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
        if (k >= walk.count) break;
        run += inc, at += majorStep;
    }
}

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
        RasterInnerLine(target, ToFixed(x1), ToFixed(y1), ToFixed(x2), ToFixed(y2), argb);
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
    StrokeChecked(target, ToFixed(x1), ToFixed(y1), ToFixed(x2), ToFixed(y2), argb);
}

}  // namespace trenn
