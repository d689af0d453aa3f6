#pragma once

// What the exact line and the vectorised batches share: the stroker's 26.6 fixed point, the
// pixel store, branch-free selection and the walk of a 1-px line along its major axis.

#include <atomic>
#include <cstdint>
#include <cstdlib>

#include "render/raster.h"

namespace trenn::raster {

inline constexpr int kFracBits = 6;  // the stroker's 26.6 fixed point
inline constexpr double kFixedScale = 64.0;
inline constexpr std::int32_t kHalfPixel = 32;

// Every pixel is written through here. Two drawing threads may write the same colour to the
// same pixel at the same time; a relaxed atomic store makes that well-defined and costs nothing
// over a plain store.
inline void Put(std::uint32_t* pixel, std::uint32_t argb) {
    std::atomic_ref<std::uint32_t>(*pixel).store(argb, std::memory_order_relaxed);
}

// All ones when the condition holds, else zero: the form the compiler vectorises.
template <typename T>
inline T Mask(bool condition) {
    return -static_cast<T>(condition);
}

// `a` where the mask is all ones, `b` where it is zero, with bit operations: the compiler
// turns plain selects back into branches, which mispredict on random lines.
template <typename T>
inline T Select(T mask, T a, T b) {
    return b ^ ((a ^ b) & mask);
}

inline std::int32_t ToFixed(double v) { return static_cast<std::int32_t>(v * kFixedScale); }

// Inside [1, side - 2] no pixel of a line can fall outside the image: the cap reaches at most
// half a pixel along the major axis and the minor axis moves at most one pixel per pixel.
inline bool IsInner(double v, int side) { return v >= 1.0 && v <= side - 2.0; }

// The walk of a 1-px line between two 26.6 points, as the stroker takes it: the axis with the
// longer span is the major one (ties go horizontal), the ends are ordered towards increasing
// major, and with the square cap of a 1-px pen the run reaches half a pixel past both ends: a
// pixel for every pixel centre column (or row) the extended run covers, counted from the
// first end's pixel. Pixel k lies at major + k along the major axis and at (run + k * inc)
// >> 16 across it.
template <typename Int>
struct LineWalk {
    Int steep;  // all ones when y is the major axis
    Int empty;  // all ones when both spans are below 1/64 pixel: nothing is drawn
    Int inc;    // minor step per pixel, 16.16
    Int major;  // first pixel along the major axis
    Int count;  // pixels along the major axis
    Int run;    // minor position of the first pixel, 16.16
};

// Branch-free and always inlined, so that the loops around it vectorise. `slope(dn, dm)` is
// the minor step per major pixel in 16.16, dn * 65536 / dm truncated toward zero, for dm > 0.
template <typename Int, typename Slope>
[[gnu::always_inline]] inline LineWalk<Int> SetUpWalk(Int x1, Int y1, Int x2, Int y2, Slope slope) {
    const Int dx = x2 - x1;
    const Int dy = y2 - y1;
    const Int steep = Mask<Int>(std::abs(dx) < std::abs(dy));
    const Int a1 = Select(steep, y1, x1), a2 = Select(steep, y2, x2);
    const Int b1 = Select(steep, x1, y1), b2 = Select(steep, x2, y2);
    const Int reversed = Mask<Int>(a1 > a2);
    const Int m1 = Select(reversed, a2, a1), m2 = Select(reversed, a1, a2);
    const Int n1 = Select(reversed, b2, b1), n2 = Select(reversed, b1, b2);
    const Int span = m2 - m1;
    const Int inc = slope(n2 - n1, span | static_cast<Int>(span == 0));
    // Positive slopes sample half a 1/64 step later, so the minor value rounds consistently.
    const Int bias = Mask<Int>(inc > 0) & kHalfPixel;
    const Int major = m1 >> kFracBits;
    const Int count = ((m2 + 2 * kHalfPixel) >> kFracBits) - major;
    const Int run = n1 * 1024 - (inc >> 1) + (((major * 64 + bias - (m1 - kHalfPixel)) * inc) >> kFracBits);
    return {steep, Mask<Int>(span == 0), inc, major, count, run};
}

// A line between two 26.6 points that both lie at least a pixel inside the image and do not
// coincide: the exact line's own walk, without its checks.
void RasterInnerLine(const RasterTarget& target, std::int32_t x1, std::int32_t y1, std::int32_t x2,
                     std::int32_t y2, std::uint32_t argb);

// The slope for any line the stroker walks (spans below 2^31 in 26.6): the quotient is below
// 2^17 and the operands below 2^47, so the double quotient truncates exactly as integer
// division would, and the divider is pipelined.
inline std::int64_t ExactSlope(std::int64_t dn, std::int64_t dm) {
    return static_cast<std::int64_t>(static_cast<double>(dn * 65536) / static_cast<double>(dm));
}

// The slope for short lines, in single precision: exact for spans below 512 in 26.6, since the
// quotient, at most 2^16, is rounded by at most 2^-9 and, unless it is a whole number, lies at
// least 1/span from one.
inline std::int32_t ShortSlope(std::int32_t dn, std::int32_t dm) {
    return static_cast<std::int32_t>(static_cast<float>(dn) * 65536.0f / static_cast<float>(dm));
}

}  // namespace trenn::raster
