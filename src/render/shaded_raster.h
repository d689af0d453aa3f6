#pragma once

// The exact triangle fill of the shaded picture.
//
// Pixel (i, j) covers [i, i + 1) x [j, j + 1) of the view mapping's pixel coordinates (y grows
// downwards). A triangle covers the pixel when the pixel's centre (i + 0.5, j + 0.5) lies inside
// it. A centre exactly on an edge counts only for a top edge (horizontal, with the triangle
// below it) or a left edge (with the triangle to its right): of two triangles that share an
// edge, exactly one covers each centre on it, so a closed mesh shows no holes and covers no
// pixel twice.
//
// For that rule to hold exactly, vertices are snapped to a grid of 1/256 pixel and edges are
// tested with integers. Grid positions are counted from pixel centres: the centre of pixel
// (i, j) is the grid point (256 i, 256 j). A vertex more than 2^21 pixels from the picture's
// corner lies beyond the guard band and cannot be snapped; a triangle with such a vertex is first
// clipped to the band in double (ClipToGuard). The band is so wide that the clipped edges lie
// far outside any picture.

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

namespace trenn {

inline constexpr double kGridPerPixel = 256.0;
// Grid coordinates of snapped points stay within +-2^29: differences stay below 2^31, so an
// edge function, two such products, stays below 2^62.
inline constexpr double kGuardBand = 536870912.0;  // 2^29
// Picture sides the fill supports: far inside the guard band.
inline constexpr int kMaxShadedSide = 1 << 20;

struct GridPoint {
    std::int32_t x;
    std::int32_t y;
};

// A pixel coordinate in grid units.
[[gnu::always_inline]] inline double ToGrid(double pixel) { return (pixel - 0.5) * kGridPerPixel; }

// Whether a grid position lies inside the guard band (false for NaN).
inline bool InsideGuard(double gx, double gy) {
    return std::fabs(gx) < kGuardBand && std::fabs(gy) < kGuardBand;
}

// The nearest integer, halfway cases to even (as std::nearbyint in the default rounding mode),
// for |v| <= 2^51: adding and taking away 1.5 * 2^52 leaves no fraction bits. Two additions instead
// of a library call on processors without a rounding instruction.
[[gnu::always_inline]] inline double RoundToGrid(double v) {
    constexpr double kShift = 6755399441055744.0;  // 1.5 * 2^52
    return (v + kShift) - kShift;
}

// The grid point nearest to (gx, gy), which must lie inside the guard band.
inline GridPoint Snap(double gx, double gy) {
    return {static_cast<std::int32_t>(RoundToGrid(gx)), static_cast<std::int32_t>(RoundToGrid(gy))};
}

// Where a fill may draw: columns [0, width) of rows [firstRow, height).
struct PixelWindow {
    int width;
    int height;
    int firstRow = 0;
};

// The pixels of the window whose centres lie in the bounding box of a snapped triangle,
// columns i0..i1 and rows j0..j1: many triangles of a dense model have none.
struct CentreBox {
    int i0, i1, j0, j1;
    bool Empty() const { return (i0 > i1) | (j0 > j1); }
    int Pixels() const { return (i1 - i0 + 1) * (j1 - j0 + 1); }
};

inline CentreBox CentresIn(GridPoint a, GridPoint b, GridPoint c, const PixelWindow& window) {
    const std::int32_t minX = std::min(a.x, std::min(b.x, c.x));
    const std::int32_t maxX = std::max(a.x, std::max(b.x, c.x));
    const std::int32_t minY = std::min(a.y, std::min(b.y, c.y));
    const std::int32_t maxY = std::max(a.y, std::max(b.y, c.y));
    return {std::max((minX + 255) >> 8, 0), std::min(maxX >> 8, window.width - 1),
            std::max((minY + 255) >> 8, window.firstRow), std::min(maxY >> 8, window.height - 1)};
}

// Rows of boxes narrower than this are found by testing each pixel, wider ones by division.
inline constexpr int kTestedColumns = 8;

// Calls visit(j, first, last) for every row j of the window that the snapped triangle covers,
// from the top: it covers pixels first to last of the row. A triangle of no area covers nothing.
template <typename Visit>
inline void FillTriangle(GridPoint a, GridPoint b, GridPoint c, const PixelWindow& window, Visit&& visit) {
    const CentreBox box = CentresIn(a, b, c, window);
    if (box.Empty()) return;
    const auto cross = [](GridPoint p, GridPoint q, GridPoint r) {
        return std::int64_t{q.x - p.x} * (r.y - p.y) - std::int64_t{q.y - p.y} * (r.x - p.x);
    };
    const std::int64_t area = cross(a, b, c);
    if (area == 0) return;
    if (area < 0) std::swap(b, c);  // every edge function is then positive inside

    // Edge p -> q: E = (q.x - p.x) (y - p.y) - (q.y - p.y) (x - p.x), taken less one where a
    // centre on the edge does not count, so that a covered centre is one where all three are
    // >= 0. Kept at the centre of pixel (i0, j0), with its change a pixel right and a row down.
    struct Edge {
        std::int64_t atStart, stepX, stepY;
    };
    const auto edge = [&](GridPoint p, GridPoint q) {
        const std::int64_t dx = q.x - p.x, dy = q.y - p.y;
        const bool topOrLeft = dy < 0 || (dy == 0 && dx > 0);
        const std::int64_t x = std::int64_t{box.i0} * 256, y = std::int64_t{box.j0} * 256;
        return Edge{dx * (y - p.y) - dy * (x - p.x) - (topOrLeft ? 0 : 1), -dy * 256, dx * 256};
    };
    const Edge e0 = edge(a, b), e1 = edge(b, c), e2 = edge(c, a);
    const int columns = box.i1 - box.i0;
    std::int64_t row0 = e0.atStart, row1 = e1.atStart, row2 = e2.atStart;
    for (int j = box.j0; j <= box.j1; ++j, row0 += e0.stepY, row1 += e1.stepY, row2 += e2.stepY) {
        if (columns < kTestedColumns) {
            // A few pixels: test each, without a branch; the covered ones are one run.
            std::uint32_t covered = 0;
            std::int64_t w0 = row0, w1 = row1, w2 = row2;
            for (int k = 0; k <= columns; ++k) {
                covered |= static_cast<std::uint32_t>((w0 | w1 | w2) >= 0) << k;
                w0 += e0.stepX;
                w1 += e1.stepX;
                w2 += e2.stepX;
            }
            if (covered != 0) {
                visit(j, box.i0 + std::countr_zero(covered), box.i0 + 31 - std::countl_zero(covered));
            }
            continue;
        }
        // Columns i0 + k where every edge's value w + k stepX is >= 0, found exactly by integer
        // division.
        std::int64_t first = 0, last = columns;
        for (const auto& [w, e] : {std::pair{row0, e0}, std::pair{row1, e1}, std::pair{row2, e2}}) {
            if (e.stepX > 0) {
                if (w < 0) first = std::max(first, (e.stepX - 1 - w) / e.stepX);
            } else if (w < 0) {
                first = columns + 1;
            } else if (e.stepX < 0) {
                last = std::min(last, w / -e.stepX);
            }
        }
        if (first <= last) visit(j, box.i0 + static_cast<int>(first), box.i0 + static_cast<int>(last));
    }
}

// A clipped triangle: a convex polygon of snapped points.
inline constexpr int kMaxClippedPoints = 7;  // three corners, one more per side of the band
struct ClippedPolygon {
    GridPoint points[kMaxClippedPoints];
    int count = 0;
};

// The part of the triangle with corners (gx[k], gy[k]) (grid units, not NaN) inside the guard
// band, snapped. A point where an edge leaves the band is computed from the edge's two ends in a
// fixed order, so that two triangles sharing the edge get the same point and still meet exactly.
ClippedPolygon ClipToGuard(const double (&gx)[3], const double (&gy)[3]);

// FillTriangle for a triangle given in grid units: snapped, or clipped first when a corner lies
// beyond the guard band. A corner that is not a number covers nothing.
template <typename Visit>
inline void FillGridTriangle(const double (&gx)[3], const double (&gy)[3], const PixelWindow& window,
                             Visit&& visit) {
    if (InsideGuard(gx[0], gy[0]) && InsideGuard(gx[1], gy[1]) && InsideGuard(gx[2], gy[2])) {
        FillTriangle(Snap(gx[0], gy[0]), Snap(gx[1], gy[1]), Snap(gx[2], gy[2]), window, visit);
        return;
    }
    for (int k = 0; k < 3; ++k) {
        if (std::isnan(gx[k]) || std::isnan(gy[k])) return;
    }
    // Only triangles that reach the window's centres are worth clipping.
    const double minX = std::min(gx[0], std::min(gx[1], gx[2]));
    const double maxX = std::max(gx[0], std::max(gx[1], gx[2]));
    const double minY = std::min(gy[0], std::min(gy[1], gy[2]));
    const double maxY = std::max(gy[0], std::max(gy[1], gy[2]));
    if (maxX < 0.0 || minX > 256.0 * (window.width - 1) || maxY < 0.0 || minY > 256.0 * (window.height - 1)) {
        return;
    }
    const ClippedPolygon polygon = ClipToGuard(gx, gy);
    for (int k = 1; k + 1 < polygon.count; ++k) {
        FillTriangle(polygon.points[0], polygon.points[k], polygon.points[k + 1], window, visit);
    }
}

// ---- Filling a picture: depth and flat light ----

// What a pixel shows, as one number that is larger for what is in front: z, as a key that
// orders like the float, above the number of the triangle. Nearer wins; of two as near, the
// later triangle, which has the larger number: so the picture does not depend on the order in
// which triangles are filled. 0: nothing.
inline std::uint64_t FrontWord(float z, std::uint32_t triangle) {
    const std::uint32_t bits = std::bit_cast<std::uint32_t>(z + 0.0f);  // -0 as +0
    const std::uint32_t key = bits ^ ((bits >> 31) * 0x7FFFFFFFu | 0x80000000u);
    return std::uint64_t{key} << 32 | triangle;
}

// Where fills write: per pixel the front word of what it shows and its colour, each a row
// `stride` apart, over columns [0, width) of rows [firstRow, height). The words start on a 64-byte
// boundary and their stride is a multiple of kFrontAlignment, with a run of that many more
// words after the last row: fills may read and write back whole aligned runs.
inline constexpr int kFrontAlignment = 8;
inline constexpr int kTileShift = 3;
inline constexpr int kTileSide = 1 << kTileShift;
struct ShadedPixels {
    std::uint64_t* front;
    std::ptrdiff_t frontStride;
    std::uint32_t* colours;
    std::ptrdiff_t colourStride;
    int width;
    int height;
    // Per tile of kTileSide x kTileSide pixels, tilesAcross to a row of tiles: a word no larger
    // than any word of the tile, and whether words were written there since it was worked out
    // (RefreshTiles). Words only grow, so a bound not worked out again stays a bound.
    std::uint64_t* tileLeast;
    std::uint8_t* tileWritten;
    int tilesAcross;
    int firstRow = 0;  // a multiple of kTileSide

    PixelWindow Window() const { return {width, height, firstRow}; }
    void MarkWritten(int i, int j) const { tileWritten[(j >> kTileShift) * tilesAcross + (i >> kTileShift)] = 1; }
};

// What filling a triangle needs besides its snapped corners: its depth plane, z at (x, y) being
// z0 + dzdx (x - x0) + dzdy (y - y0) with (x0, y0, z0) its first corner, the range of its
// corners' z, its shaded colour and its number (for its front words: later triangles have
// larger ones).
struct ShadedTriangle {
    double x0, y0, dzdx, dzdy;
    float z0, zMin, zMax;
    std::uint32_t colour;
    std::uint32_t number;

    // The plane at the centre of pixel (i, j): rowStart + dzdx i, rowStart being RowStart(j),
    // the plane at the centre of column 0 of the row. From the triangle and the pixel alone, so
    // that every way of filling gives the same; held within the corners' range, which a centre
    // inside the triangle cannot leave but rounding could.
    double RowStart(int j) const { return z0 + dzdy * ((j + 0.5) - y0) + dzdx * (0.5 - x0); }
    float DepthAt(double rowStart, int i) const {
        double zd = rowStart + dzdx * i;
        zd = zd > zMin ? zd : zMin;  // also for NaN
        zd = zd < zMax ? zd : zMax;
        return static_cast<float>(zd);
    }
};

// Planes and colours of up to kShadingBatch triangles at once, from their corners' pixel
// positions and turned z (corner k of triangle t at [k][t]).
inline constexpr int kShadingBatch = 1024;
struct TriangleCorners {
    double x[3][kShadingBatch];
    double y[3][kShadingBatch];
    float z[3][kShadingBatch];
};
struct TriangleShading {
    double dzdx[kShadingBatch];
    double dzdy[kShadingBatch];
    float zMin[kShadingBatch];
    float zMax[kShadingBatch];
    std::uint32_t colour[kShadingBatch];
};
// Flat light from the viewer: each channel of the part's colour times
// kShadedAmbient + (1 - kShadedAmbient) |n_z| / |n|, n the normal of the turned triangle (found
// from pixel offsets and the mapping's scales), rounded. A triangle of no area in double gets a
// level plane and the ambient light.
void ShadeTriangles(const TriangleCorners& corners, int count, std::uint32_t partColour, double scaleX,
                    double scaleY, TriangleShading& shading);

// Works out again the least word of every tile written since it was last worked out.
void RefreshTiles(const ShadedPixels& pixels);

// Whether every pixel of the box shows something in front of the word, as far as the tiles
// tell: then a triangle whose words are all at most this one is hidden there.
inline bool HiddenIn(const ShadedPixels& pixels, const CentreBox& box, std::uint64_t word) {
    for (int ty = box.j0 >> kTileShift; ty <= box.j1 >> kTileShift; ++ty) {
        const std::uint64_t* const least = pixels.tileLeast + static_cast<std::ptrdiff_t>(ty) * pixels.tilesAcross;
        for (int tx = box.i0 >> kTileShift; tx <= box.i1 >> kTileShift; ++tx) {
            if (least[tx] <= word) return false;
        }
    }
    return true;
}

// Coverage of many small triangles at once: a triangle less than 2^14 grid units across whose
// box holds at most kSmallColumns x kSmallRows pixel centres gets a mask of the centres it covers,
// bit v * kSmallColumns + u for pixel (i0 + u, j0 + v); the same pixels as FillTriangle.
inline constexpr int kSmallColumns = 8;
inline constexpr int kSmallRows = 2;
inline constexpr int kCoverageBatch = 1024;
struct SmallCoverage {
    std::int32_t ax[kCoverageBatch], ay[kCoverageBatch], bx[kCoverageBatch], by[kCoverageBatch];
    std::int32_t cx[kCoverageBatch], cy[kCoverageBatch];  // corners, in
    std::int32_t i0[kCoverageBatch], j0[kCoverageBatch];  // the box's first column and row, out
    std::uint16_t covered[kCoverageBatch];                // out
    std::uint8_t small[kCoverageBatch];                   // out: 0 for a triangle to fill otherwise
};
void CoverSmallTriangles(SmallCoverage& batch, int count, const PixelWindow& window);

// Fragments waiting for the picture: pixel (column, row), its front word and colour. A fill only
// appends to the list and reads nothing of the picture; Resolve then keeps, per pixel, the
// largest word and its colour. Neighbouring triangles store to the same pixels one after the
// other, and reading back at once what was just stored would hold every fill up.
struct FragmentList {
    static constexpr int kCapacity = 2048;
    static constexpr int kSlack = 16;  // a fill may store a whole vector past the end

    ShadedPixels pixels{};
    int count = 0;
    std::uint64_t words[kCapacity + kSlack];
    std::int32_t columns[kCapacity + kSlack];
    std::int32_t rows[kCapacity + kSlack];
    std::uint32_t colours[kCapacity + kSlack];

    void Resolve();
    // Room for n more (n <= kCapacity), resolving what waits when there is not.
    void MakeRoom(int n) {
        if (count + n > kCapacity) Resolve();
    }
};

// The pixels of a small triangle, from its mask (CoverSmallTriangles), written at once: one or
// two pixels, mostly, where the list's round trip would cost more than it saves.
inline void FillSmallTriangle(const ShadedTriangle& triangle, std::uint32_t covered, int i0, int j0,
                              const ShadedPixels& pixels) {
    for (int v = 0; v < kSmallRows; ++v, covered >>= kSmallColumns) {
        const std::uint32_t row = covered & ((1u << kSmallColumns) - 1u);
        if (row == 0) continue;
        const int j = j0 + v;
        const double rowStart = triangle.RowStart(j);
        std::uint64_t* const front = pixels.front + j * pixels.frontStride;
        std::uint32_t* const out = pixels.colours + j * pixels.colourStride;
        for (std::uint32_t left = row; left != 0; left &= left - 1) {
            const int i = i0 + std::countr_zero(left);
            const std::uint64_t word = FrontWord(triangle.DepthAt(rowStart, i), triangle.number);
            const std::uint64_t before = front[i];
            const bool shows = word > before;
            front[i] = shows ? word : before;
            out[i] = shows ? triangle.colour : out[i];
            pixels.MarkWritten(i, j);
        }
    }
}

// Pixels first to last of row j, which the triangle covers: its fragments there.
void AddShadedSpan(const ShadedTriangle& triangle, FragmentList& out, int j, int first, int last);

// The fragments of a snapped triangle (FillTriangle, then AddShadedSpan for each row), within
// the list's pixels.
using ShadedFillFunction = void (*)(const ShadedTriangle& triangle, GridPoint a, GridPoint b, GridPoint c,
                                    FragmentList& out);

// The copy for the widest instruction set this processor has; every copy gives the same pixels.
ShadedFillFunction BestShadedFill();

// ---- Filling many small triangles at once ----

// Triangles less than this many grid units across, the most by far in a dense model: their edge
// functions stay below 2^31 over their box and a few pixels around it.
inline constexpr std::int32_t kSmallExtent = 1 << 14;

// What filling a small triangle needs of its corners: its box within the window (CentresIn),
// and FillTriangle's edge functions in 32 bits, at the centre of pixel (i0 & ~7, j0), with
// their change a pixel right and a row down; b and c swapped where the corners run clockwise.
// `kind` tells how the triangle is filled: kSmallFill (with these), kOneByOne (it may cover
// centres, but is too large for these, or has a corner beyond the guard band) or kNoFill (it
// covers no centre of the window).
enum FillKind : std::uint8_t { kNoFill = 0, kSmallFill = 1, kOneByOne = 2 };
struct SmallSetUp {
    std::int32_t i0, i1, j0, j1;
    std::int32_t at[3], stepX[3], stepY[3];
    std::uint8_t kind;
    double rowStart[2];  // ShadedTriangle::RowStart of rows j0 and j0 + 1
};

// Branch-free and in unsigned arithmetic, so that a loop of them vectorises: the values of a
// triangle that is not small may wrap, and mean nothing. Always inlined: the loops are compiled
// with other options, which would keep an ordinary inline function out.
[[gnu::always_inline]] inline SmallSetUp SetUpSmall(GridPoint a, GridPoint b, GridPoint c, bool beyondGuard, const PixelWindow& window) {
    const auto less = [](std::int32_t p, std::int32_t q) { return p < q ? p : q; };
    const auto more = [](std::int32_t p, std::int32_t q) { return p > q ? p : q; };
    const auto u32 = [](std::int32_t v) { return static_cast<std::uint32_t>(v); };
    const std::int32_t minX = less(a.x, less(b.x, c.x)), maxX = more(a.x, more(b.x, c.x));
    const std::int32_t minY = less(a.y, less(b.y, c.y)), maxY = more(a.y, more(b.y, c.y));
    SmallSetUp s;
    s.rowStart[0] = s.rowStart[1] = 0.0;
    s.i0 = more((minX + 255) >> 8, 0);
    s.i1 = less(maxX >> 8, window.width - 1);
    s.j0 = more((minY + 255) >> 8, window.firstRow);
    s.j1 = less(maxY >> 8, window.height - 1);
    const bool small = (maxX - minX < kSmallExtent) & (maxY - minY < kSmallExtent);
    const std::uint32_t area = u32(b.x - a.x) * u32(c.y - a.y) - u32(b.y - a.y) * u32(c.x - a.x);
    const bool flip = static_cast<std::int32_t>(area) < 0;
    const GridPoint p[3] = {a, flip ? c : b, flip ? b : c};
    const std::uint32_t startX = u32(s.i0 & ~7) * 256u, startY = u32(s.j0) * 256u;
#pragma GCC unroll 3
    for (int e = 0; e < 3; ++e) {
        const GridPoint from = p[e], to = p[(e + 1) % 3];
        const std::int32_t dx = to.x - from.x, dy = to.y - from.y;
        const bool topOrLeft = (dy < 0) | ((dy == 0) & (dx > 0));
        s.at[e] = static_cast<std::int32_t>(u32(dx) * (startY - u32(from.y)) - u32(dy) * (startX - u32(from.x)) -
                                            (topOrLeft ? 0u : 1u));
        s.stepX[e] = static_cast<std::int32_t>(0u - u32(dy) * 256u);
        s.stepY[e] = static_cast<std::int32_t>(u32(dx) * 256u);
    }
    const bool inWindow = (s.i0 <= s.i1) & (s.j0 <= s.j1);
    const FillKind inside = small ? (area != 0u ? kSmallFill : kNoFill) : kOneByOne;
    const FillKind kind = beyondGuard ? kOneByOne : inWindow ? inside : kNoFill;
    s.kind = kind;
    return s;
}

// A batch of triangles to fill: their snapped corners, whether a corner lies beyond the guard
// band (then the corners mean nothing) and their numbers, in; SetUpSmallFills works out the rest.
struct SmallFills {
    std::int32_t ax[kShadingBatch], ay[kShadingBatch], bx[kShadingBatch], by[kShadingBatch];
    std::int32_t cx[kShadingBatch], cy[kShadingBatch];
    std::uint8_t beyondGuard[kShadingBatch];
    std::uint32_t number[kShadingBatch];

    std::uint8_t kind[kShadingBatch];
    std::int32_t i0[kShadingBatch], i1[kShadingBatch], j0[kShadingBatch], j1[kShadingBatch];
    std::int32_t at[3][kShadingBatch], stepX[3][kShadingBatch], stepY[3][kShadingBatch];
    double rowStart[2][kShadingBatch];

    SmallSetUp SetUp(int t) const {
        return {i0[t], i1[t], j0[t], j1[t], {at[0][t], at[1][t], at[2][t]}, {stepX[0][t], stepX[1][t], stepX[2][t]},
                {stepY[0][t], stepY[1][t], stepY[2][t]}, kind[t], {rowStart[0][t], rowStart[1][t]}};
    }
};
// With the triangles' corners and shading, for the planes' row starts.
void SetUpSmallFills(SmallFills& fills, int count, const PixelWindow& window, const TriangleCorners& corners,
                     const TriangleShading& shading);

// Fills every triangle of the batch that SetUpSmallFills found small, with its corners' pixel
// positions and turned z and its shading: the same pixels as FillTriangle and AddShadedSpan,
// written into the picture at once. Null where this processor has no copy that is faster than
// the one triangle at a time of FillSmallTriangle and ShadedFillFunction.
using SmallFillFunction = void (*)(const TriangleCorners& corners, const TriangleShading& shading,
                                   const SmallFills& fills, int count, const ShadedPixels& pixels);
SmallFillFunction BestSmallFill();

// Every copy built into the program, for the tests; `runs` tells whether this processor can
// run it.
struct ShadedFillCopy {
    const char* name;
    ShadedFillFunction function;
    bool runs;
};
std::vector<ShadedFillCopy> ShadedFillCopies();

}  // namespace trenn
