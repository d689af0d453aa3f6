#pragma once

// Headless drawing of the picture area's dots and 1-px lines straight into a 32-bit pixel
// buffer, reproducing pixel for pixel what the toolkit's raster engine draws for PaintDot and
// PaintLine (qt/paint_primitives.h) on an RGB32 image without antialiasing. No toolkit includes.
// The exact dot and line (exact_raster.cpp) take one at a time; the batches (batch_raster.cpp)
// take whole meshes and give the same pixels.
//
// Colours are written as given: pass an opaque 0xffRRGGBB value, as the RGB32 image stores it.
// Translucent colours would be blended by the toolkit; they are not reproduced here.
// Image sides up to 2^24 pixels are supported.

#include <cstddef>
#include <cstdint>

namespace trenn {

struct RasterTarget {
    std::uint32_t* pixels;
    int width;
    int height;
    std::ptrdiff_t stride;  // in pixels
};

// Same pixels as PaintDot(painter, QPointF(cx, cy), width, colour).
void RasterDot(const RasterTarget& target, double cx, double cy, int width, std::uint32_t argb);

// Same pixels as PaintLine(painter, QPointF(x1, y1), QPointF(x2, y2), 1, colour).
void RasterLine(const RasterTarget& target, double x1, double y1, double x2, double y2,
                std::uint32_t argb);

// ---- Batches over arrays, for whole meshes ----
// Two threads may draw into one target at once as long as they draw the same colour: every
// pixel is stored atomically.

// A point prepared for the line batches: within one pixel of the image, where the stroker clips
// nothing, its 26.6 position. Farther out, x is kRasterFar and y holds the RasterBeyond bits of
// the sides it lies well beyond.
struct RasterPackedPoint {
    std::int32_t x;
    std::int32_t y;
};
inline constexpr std::int32_t kRasterFar = INT32_MIN;
enum RasterBeyond : std::uint32_t {
    kBeyondLeft = 1,
    kBeyondRight = 2,
    kBeyondTop = 4,
    kBeyondBottom = 8,
};

// Prepares points (x[i], y[i]), i < count.
void PrepareRasterPoints(const RasterTarget& target, const double* x, const double* y,
                         std::size_t count, RasterPackedPoint* packed);

// RasterDot(target, x[i], y[i], width, argb) for every i < count; a NaN point draws nothing.
void RasterDotArray(const RasterTarget& target, const double* x, const double* y,
                    std::size_t count, int width, std::uint32_t argb);

// Lines i < count between prepared points: from[i] to to[i], drawn when flags[i] & drawMask.
// The few lines that take the general path find their ends in x and y at fromPoint[i] and
// toPoint[i], or, when `pairs` is given, at pairs[i] & 0xFFFF and pairs[i] >> 16. The same
// pixels as RasterLine(target, x[from], y[from], x[to], y[to], argb) for each drawn line.
struct RasterLineRun {
    const RasterPackedPoint* from;
    const RasterPackedPoint* to;
    const std::int32_t* fromPoint;
    const std::int32_t* toPoint;
    const std::int32_t* flags;
    std::int32_t drawMask;
    std::size_t count;
    const std::uint32_t* pairs = nullptr;
};

void RasterLines(const RasterTarget& target, const double* x, const double* y,
                 const RasterLineRun& run, std::uint32_t argb);

}  // namespace trenn
