// The vectorised batches: many points, dots and lines at once, the same pixels as the exact
// dot and line one at a time.

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "render/line_walk.h"
#include "render/raster.h"
#include "render/vector_code.h"

namespace trenn {
namespace {

using std::int32_t;
using std::int64_t;
using namespace raster;

// Dots are set up a chunk at a time in a branch-free loop over plain arrays, which the compiler
// can vectorise; a second loop then writes the pixels. The set-up is in 32-bit arithmetic,
// hence the size limits in BatchesFit.
constexpr int kChunk = 64;

inline bool BatchesFit(const RasterTarget& t) {
    return t.width <= 16383 && t.height <= 16383 && t.stride > 0 &&
           t.stride * static_cast<std::ptrdiff_t>(t.height) < (std::ptrdiff_t{1} << 30);
}

// Widths beyond this take the single-dot path, whose clamping keeps any width in int range.
constexpr int kBatchDotWidthLimit = 1 << 20;
// Culled dots are moved here: every rounded edge stays negative, so nothing is drawn.
constexpr double kCulledDot = -4.0 * kBatchDotWidthLimit;

// Both spans below 1/64 pixel: the ends may still compare equal as points (a pixel is drawn)
// or not (nothing or a short run is drawn); only the exact line can tell.
[[gnu::always_inline]] inline int32_t NearZero(int32_t ax, int32_t ay, int32_t bx, int32_t by) {
    return Mask<int32_t>((static_cast<std::uint32_t>(bx - ax + 1) <= 2u) &
                         (static_cast<std::uint32_t>(by - ay + 1) <= 2u));
}

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
    if (width > kBatchDotWidthLimit || width < -kBatchDotWidthLimit || !BatchesFit(target)) {
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
    kLineInnerLong = 3,  // longer, wholly inside: the exact walk straight from its 26.6 ends
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

// The stroker's walk for the short lines of a chunk, vectorised. Both ends near the image
// means the stroker clips nothing, so the walk is the same as for a line wholly inside; its
// pixels outside the image are dropped.
TRENN_VECTOR_CLONES
void SetUpLines(LineSetUp& __restrict c, int base, const RasterPackedPoint* __restrict from,
                const RasterPackedPoint* __restrict to, const int32_t* __restrict flags,
                int32_t drawMask, int n, int32_t width, int32_t height, int32_t stride) {
    const int32_t rightFixed = width * 64 + kBeyondFixed;
    const int32_t bottomFixed = height * 64 + kBeyondFixed;
    for (int i = 0; i < n; ++i) {
        const int32_t rawAx = from[i].x, rawAy = from[i].y;
        const int32_t rawBx = to[i].x, rawBy = to[i].y;
        const int32_t farA = Mask<int32_t>(rawAx == kRasterFar);
        const int32_t farB = Mask<int32_t>(rawBx == kRasterFar);
        const int32_t far = farA | farB;
        const int32_t ax = rawAx & ~far, ay = rawAy & ~far;
        const int32_t bx = rawBx & ~far, by = rawBy & ~far;
        const int32_t beyondA = Select<int32_t>(farA, rawAy, BeyondOfFixed(ax, ay, rightFixed, bottomFixed));
        const int32_t beyondB = Select<int32_t>(farB, rawBy, BeyondOfFixed(bx, by, rightFixed, bottomFixed));
        const int32_t culled = Mask<int32_t>((beyondA & beyondB) != 0);

        const LineWalk<int32_t> walk = SetUpWalk<int32_t>(ax, ay, bx, by, ShortSlope);
        const int32_t steep = walk.steep, nearZero = NearZero(ax, ay, bx, by), inc = walk.inc;
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
            const int32_t px = Select<int32_t>(steep, across, along);
            const int32_t py = Select<int32_t>(steep, along, across);
            inside[j] = Mask<int32_t>((static_cast<std::uint32_t>(px) < static_cast<std::uint32_t>(width)) &
                             (static_cast<std::uint32_t>(py) < static_cast<std::uint32_t>(height)));
            offsets[j] = py * stride + px;
            const int32_t more = Mask<int32_t>(j + 1 < count);
            along -= more;
            minor += incIfSteep & more;
        }
        int32_t anchor = offsets[kRunPixels - 1];
        int32_t anyInside = inside[kRunPixels - 1];
#pragma GCC unroll 8
        for (int j = kRunPixels - 2; j >= 0; --j) {
            anchor = Select<int32_t>(inside[j], offsets[j], anchor);
            anyInside |= inside[j];
        }
#pragma GCC unroll 8
        for (int j = 0; j < kRunPixels; ++j) c.offset[j][base + i] = Select<int32_t>(inside[j], offsets[j], anchor);

        const int32_t other = far | nearZero | Mask<int32_t>(count > kRunPixels);
        const int32_t skipped = Mask<int32_t>((flags[i] & drawMask) == 0) | culled | (~other & ~anyInside);
        c.kind[base + i] = Select<int32_t>(skipped, kLineSkipped, other & kLineOther);
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
    for (int i = 0; i < n; ++i) {
        const int32_t ax = from[i].x, ay = from[i].y;
        const int32_t bx = to[i].x, by = to[i].y;
        const LineWalk<int32_t> walk = SetUpWalk<int32_t>(ax, ay, bx, by, ShortSlope);
        const int32_t steep = walk.steep, nearZero = NearZero(ax, ay, bx, by), inc = walk.inc;
        const int32_t major = walk.major, count = walk.count, run = walk.run;
        // Pixel offsets: a step along the major axis and the minor position's whole part.
        const int32_t majorStep = Select<int32_t>(steep, stride, 1);
        const int32_t minorStep = Select<int32_t>(steep, 1, stride);
        int32_t along = major * majorStep;
        int32_t minor = run;
#pragma GCC unroll 8
        for (int j = 0; j < kRunPixels; ++j) {
            c.offset[j][base + i] = along + (minor >> 16) * minorStep;
            const int32_t more = Mask<int32_t>(j + 1 < count);
            along += majorStep & more;
            minor += inc & more;
        }
        const int32_t longer = Mask<int32_t>(count > kRunPixels);
        const int32_t skipped = Mask<int32_t>((flags[i] & drawMask) == 0);
        const int32_t kind = Select<int32_t>(nearZero, kLineOther, longer & kLineInnerLong);
        c.kind[base + i] = Select<int32_t>(skipped, kLineSkipped, kind);
    }
}

// The slope for any line inside an image of sides below 2^24 pixels, in double precision:
// the same quotient ExactSlope gives, in a form that vectorises.
inline int32_t WideSlope(int32_t dn, int32_t dm) {
    return static_cast<int32_t>(static_cast<double>(dn) * 65536.0 / static_cast<double>(dm));
}

// The walks of the longer lines wholly inside the image, set up together: a pixel offset to
// start from, the steps along and across, the minor position and the pixel count.
struct LongWalks {
    alignas(64) int32_t start[kLineChunk];
    alignas(64) int32_t majorStep[kLineChunk];
    alignas(64) int32_t minorStep[kLineChunk];
    alignas(64) int32_t run[kLineChunk];
    alignas(64) int32_t inc[kLineChunk];
    alignas(64) int32_t count[kLineChunk];
};

TRENN_VECTOR_CLONES
void SetUpLongWalks(LongWalks& __restrict w, const int32_t* __restrict ax, const int32_t* __restrict ay,
                    const int32_t* __restrict bx, const int32_t* __restrict by, int n, int32_t stride) {
    for (int i = 0; i < n; ++i) {
        const LineWalk<int32_t> walk = SetUpWalk<int32_t>(ax[i], ay[i], bx[i], by[i], WideSlope);
        w.majorStep[i] = Select<int32_t>(walk.steep, stride, 1);
        w.minorStep[i] = Select<int32_t>(walk.steep, 1, stride);
        w.start[i] = walk.major * w.majorStep[i];
        w.run[i] = walk.run;
        w.inc[i] = walk.inc;
        w.count[i] = walk.count;
    }
}

// Draws the set-up walks: four pixels a round with masked steps, as the exact inner line does.
void DrawLongWalks(const LongWalks& w, int n, std::uint32_t* pixels, std::uint32_t argb) {
    for (int i = 0; i < n; ++i) {
        std::uint32_t* at = pixels + w.start[i];
        const std::ptrdiff_t majorStep = w.majorStep[i], minorStep = w.minorStep[i];
        int32_t minor = w.run[i];
        const int32_t inc = w.inc[i];
        const int32_t last = w.count[i] - 1;
        for (int32_t k = 0;;) {
            const int32_t go0 = (k - last) >> 31;
            const int32_t go1 = (k + 1 - last) >> 31;
            const int32_t go2 = (k + 2 - last) >> 31;
            Put(at + (minor >> 16) * minorStep, argb);
            minor += inc & go0, at += majorStep & go0;
            Put(at + (minor >> 16) * minorStep, argb);
            minor += inc & go1, at += majorStep & go1;
            Put(at + (minor >> 16) * minorStep, argb);
            minor += inc & go2, at += majorStep & go2;
            Put(at + (minor >> 16) * minorStep, argb);
            k += 4;
            if (k > last) break;
            minor += inc, at += majorStep;
        }
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
    if (!BatchesFit(target)) {
        for (std::size_t i = 0; i < run.count; ++i) {
            if (run.flags[i] & run.drawMask) general(i);
        }
        return;
    }
    LineSetUp c;
    LongWalks walks;
    alignas(64) int32_t longAx[kLineChunk], longAy[kLineChunk], longBx[kLineChunk], longBy[kLineChunk];
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
        int longer = 0;
        for (int i = 0; i < n; ++i) {
            const int32_t kind = c.kind[i];
            if (kind == kLineShort) [[likely]] {
                static_assert(kRunPixels == 5, "one store per pixel below");
                Put(pixels + c.offset[0][i], argb);
                Put(pixels + c.offset[1][i], argb);
                Put(pixels + c.offset[2][i], argb);
                Put(pixels + c.offset[3][i], argb);
                Put(pixels + c.offset[4][i], argb);
            } else if (kind == kLineInnerLong) {
                // Set up together below: the slope's division, one line at a time, would stall.
                const std::size_t at = first + static_cast<std::size_t>(i);
                longAx[longer] = run.from[at].x;
                longAy[longer] = run.from[at].y;
                longBx[longer] = run.to[at].x;
                longBy[longer] = run.to[at].y;
                ++longer;
            } else if (kind == kLineOther) {
                general(first + static_cast<std::size_t>(i));
            }
        }
        if (longer > 0) {
            SetUpLongWalks(walks, longAx, longAy, longBx, longBy, longer, static_cast<int32_t>(target.stride));
            DrawLongWalks(walks, longer, pixels, argb);
        }
    }
}

}  // namespace trenn
