#include "render/shaded_raster.h"

#include "render/shaded.h"
#include "render/vector_code.h"

#if TRENN_HAS_TARGET_COPIES
#include <immintrin.h>
// GCC 12 takes the deliberately undefined vectors inside the AVX-512 intrinsics for a mistake.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace trenn {
namespace {

// Corners are first brought within +-2^80 grid units, a corner at a time, so that no difference
// or product below overflows; a corner shared by two triangles moves the same way in both.
constexpr double kCornerLimit = 1208925819614629174706176.0;  // 2^80

struct Point {
    double x, y;
};

double Limit(double v) { return std::clamp(v, -kCornerLimit, kCornerLimit); }

// Where segment p-q meets the line where coordinate `axis` equals `at`: computed from the end
// that comes first in (x, y) order, so that it does not depend on which way the segment runs.
Point Crossing(Point p, Point q, int axis, double at) {
    if (q.x < p.x || (q.x == p.x && q.y < p.y)) std::swap(p, q);
    if (axis == 0) {
        const double t = (at - p.x) / (q.x - p.x);
        return {at, p.y + t * (q.y - p.y)};
    }
    const double t = (at - p.y) / (q.y - p.y);
    return {p.x + t * (q.x - p.x), at};
}

// One Sutherland-Hodgman step: keeps the side of the line coordinate[axis] = at where
// sign * coordinate <= sign * at.
int ClipAgainst(const Point* in, int count, int axis, double at, double sign, Point* out) {
    const auto inside = [&](const Point& p) { return sign * (axis == 0 ? p.x : p.y) <= sign * at; };
    int n = 0;
    for (int k = 0; k < count; ++k) {
        const Point& p = in[k];
        const Point& q = in[(k + 1) % count];
        const bool pIn = inside(p), qIn = inside(q);
        if (pIn) out[n++] = p;
        if (pIn != qIn) out[n++] = Crossing(p, q, axis, at);
    }
    return n;
}

}  // namespace

ClippedPolygon ClipToGuard(const double (&gx)[3], const double (&gy)[3]) {
    Point a[kMaxClippedPoints + 1], b[kMaxClippedPoints + 1];
    for (int k = 0; k < 3; ++k) a[k] = {Limit(gx[k]), Limit(gy[k])};
    int n = 3;
    n = ClipAgainst(a, n, 0, kGuardBand, 1.0, b);
    n = ClipAgainst(b, n, 0, -kGuardBand, -1.0, a);
    n = ClipAgainst(a, n, 1, kGuardBand, 1.0, b);
    n = ClipAgainst(b, n, 1, -kGuardBand, -1.0, a);
    ClippedPolygon polygon;
    polygon.count = std::min(n, kMaxClippedPoints);
    for (int k = 0; k < polygon.count; ++k) {
        // A crossing may round to just past the band; clamping keeps its snap within range.
        polygon.points[k] = Snap(std::clamp(a[k].x, -kGuardBand, kGuardBand),
                                 std::clamp(a[k].y, -kGuardBand, kGuardBand));
    }
    return polygon;
}

// Branch-free, so that it vectorises; the same operations in the same order on every lane, so
// that every copy gives the same bits.
TRENN_VECTOR_CLONES void ShadeTriangles(
    const TriangleCorners& corners, int count, std::uint32_t partColour, double scaleX, double scaleY,
    TriangleShading& shading) {
    const double red = (partColour >> 16) & 0xFFu, green = (partColour >> 8) & 0xFFu, blue = partColour & 0xFFu;
    for (int t = 0; t < count; ++t) {
        const double ox = corners.x[0][t], oy = corners.y[0][t], oz = corners.z[0][t];
        const double d1x = corners.x[1][t] - ox, d1y = corners.y[1][t] - oy, d1z = corners.z[1][t] - oz;
        const double d2x = corners.x[2][t] - ox, d2y = corners.y[2][t] - oy, d2z = corners.z[2][t] - oz;
        const double area = d1x * d2y - d1y * d2x;
        const bool flat = !(area != 0.0);
        const double perArea = 1.0 / (flat ? 1.0 : area);
        shading.dzdx[t] = flat ? 0.0 : (d1z * d2y - d1y * d2z) * perArea;
        shading.dzdy[t] = flat ? 0.0 : (d1x * d2z - d1z * d2x) * perArea;
        // Selects rather than std::min and std::max, which would not be inlined here.
        const float za = corners.z[0][t], zb = corners.z[1][t], zc = corners.z[2][t];
        const float lowAb = zb < za ? zb : za, highAb = zb > za ? zb : za;
        shading.zMin[t] = zc < lowAb ? zc : lowAb;
        shading.zMax[t] = zc > highAb ? zc : highAb;
        // With model offsets (dx / sx, dy / sy, dz), the normal times sx sy is n.
        const double nx = (d1y * d2z - d1z * d2y) * scaleX;
        const double ny = (d1z * d2x - d1x * d2z) * scaleY;
        const double length = std::sqrt(nx * nx + ny * ny + area * area);
        double facing = std::fabs(area) / (length > 0.0 ? length : 1.0);
        facing = facing >= 0.0 ? (facing < 1.0 ? facing : 1.0) : 0.0;  // 0 for NaN, from overflow
        const double intensity = kShadedAmbient + (1.0 - kShadedAmbient) * facing;
        // At most 255.5: through int32, which converts without a branch.
        const auto r = static_cast<std::int32_t>(red * intensity + 0.5);
        const auto g = static_cast<std::int32_t>(green * intensity + 0.5);
        const auto b = static_cast<std::int32_t>(blue * intensity + 0.5);
        shading.colour[t] = 0xFF000000u | static_cast<std::uint32_t>(r << 16 | g << 8 | b);
    }
}

// Branch-free over the batch, in unsigned arithmetic (a triangle too large for the masks may
// wrap, and is then marked not small), so that it vectorises.
TRENN_VECTOR_CLONES void CoverSmallTriangles(SmallCoverage& batch, int count, const PixelWindow& window) {
    const auto less = [](std::int32_t p, std::int32_t q) { return p < q ? p : q; };
    const auto more = [](std::int32_t p, std::int32_t q) { return p > q ? p : q; };
    for (int t = 0; t < count; ++t) {
        const std::int32_t ax = batch.ax[t], ay = batch.ay[t];
        std::int32_t bx = batch.bx[t], by = batch.by[t], cx = batch.cx[t], cy = batch.cy[t];
        const std::int32_t minX = less(ax, less(bx, cx)), maxX = more(ax, more(bx, cx));
        const std::int32_t minY = less(ay, less(by, cy)), maxY = more(ay, more(by, cy));
        const std::int32_t i0 = more((minX + 255) >> 8, 0), i1 = less(maxX >> 8, window.width - 1);
        const std::int32_t j0 = more((minY + 255) >> 8, window.firstRow), j1 = less(maxY >> 8, window.height - 1);
        const bool small = (maxX - minX < (1 << 14)) & (maxY - minY < (1 << 14)) & (i0 <= i1) & (j0 <= j1) &
                           (i1 - i0 < kSmallColumns) & (j1 - j0 < kSmallRows);
        const auto u32 = [](std::int32_t v) { return static_cast<std::uint32_t>(v); };
        const std::uint32_t area = u32(bx - ax) * u32(cy - ay) - u32(by - ay) * u32(cx - ax);
        const bool flip = static_cast<std::int32_t>(area) < 0;
        const std::int32_t sx = flip ? cx : bx, sy = flip ? cy : by;
        cx = flip ? bx : cx;
        cy = flip ? by : cy;
        bx = sx;
        by = sy;
        // As in FillTriangle: edge p -> q at the centre of pixel (i0, j0), less one where a centre
        // on it does not count, and its change a pixel right and a row down.
        const std::uint32_t startX = u32(i0) * 256u, startY = u32(j0) * 256u;
        std::uint32_t at[3], stepX[3], stepY[3];
        const std::int32_t px[3] = {ax, bx, cx}, py[3] = {ay, by, cy};
#pragma GCC unroll 3
        for (int e = 0; e < 3; ++e) {
            const std::int32_t dx = px[(e + 1) % 3] - px[e], dy = py[(e + 1) % 3] - py[e];
            const bool topOrLeft = (dy < 0) | ((dy == 0) & (dx > 0));
            at[e] = u32(dx) * (startY - u32(py[e])) - u32(dy) * (startX - u32(px[e])) - (topOrLeft ? 0u : 1u);
            stepX[e] = 0u - u32(dy) * 256u;
            stepY[e] = u32(dx) * 256u;
        }
        std::uint32_t covered = 0;
#pragma GCC unroll 2
        for (int v = 0; v < kSmallRows; ++v) {
#pragma GCC unroll 8
            for (int u = 0; u < kSmallColumns; ++u) {
                const std::uint32_t w0 = at[0] + u32(u) * stepX[0] + u32(v) * stepY[0];
                const std::uint32_t w1 = at[1] + u32(u) * stepX[1] + u32(v) * stepY[1];
                const std::uint32_t w2 = at[2] + u32(u) * stepX[2] + u32(v) * stepY[2];
                const bool inside = static_cast<std::int32_t>(w0 | w1 | w2) >= 0;
                const bool inBox = (i0 + u <= i1) & (j0 + v <= j1);
                covered |= static_cast<std::uint32_t>(inside & inBox) << (v * kSmallColumns + u);
            }
        }
        batch.i0[t] = i0;
        batch.j0[t] = j0;
        batch.covered[t] = static_cast<std::uint16_t>(small & (area != 0u) ? covered : 0u);
        batch.small[t] = small;
    }
}

TRENN_VECTOR_CLONES void SetUpSmallFills(SmallFills& f, int count, const PixelWindow& window,
                                         const TriangleCorners& corners, const TriangleShading& shading) {
    const PixelWindow w = window;  // not read again through a reference the stores might change
    for (int t = 0; t < count; ++t) {
        // As ShadedTriangle::RowStart, operation for operation.
        const double x0 = corners.x[0][t], y0 = corners.y[0][t], z0 = corners.z[0][t];
        const double dzdx = shading.dzdx[t], dzdy = shading.dzdy[t];
        const SmallSetUp s = SetUpSmall({f.ax[t], f.ay[t]}, {f.bx[t], f.by[t]}, {f.cx[t], f.cy[t]}, f.beyondGuard[t] != 0, w);
        f.kind[t] = s.kind;
        f.i0[t] = s.i0;
        f.i1[t] = s.i1;
        f.j0[t] = s.j0;
        f.j1[t] = s.j1;
#pragma GCC unroll 3
        for (int e = 0; e < 3; ++e) {
            f.at[e][t] = s.at[e];
            f.stepX[e][t] = s.stepX[e];
            f.stepY[e][t] = s.stepY[e];
        }
        f.rowStart[0][t] = z0 + dzdy * ((s.j0 + 0.5) - y0) + dzdx * (0.5 - x0);
        f.rowStart[1][t] = z0 + dzdy * ((s.j0 + 1 + 0.5) - y0) + dzdx * (0.5 - x0);
    }
}

// A whole tile is eight aligned runs of eight words: their least by eight running minima, which
// vectorise; a tile cut by the picture's right or bottom side one word at a time.
TRENN_VECTOR_CLONES void RefreshTiles(const ShadedPixels& pixels) {
    const int tilesDown = (pixels.height + kTileSide - 1) >> kTileShift;
    for (int ty = pixels.firstRow >> kTileShift; ty < tilesDown; ++ty) {
        const int firstRow = ty << kTileShift, lastRow = firstRow + kTileSide < pixels.height ? firstRow + kTileSide : pixels.height;
        for (int tx = 0; tx < pixels.tilesAcross; ++tx) {
            const std::ptrdiff_t tile = static_cast<std::ptrdiff_t>(ty) * pixels.tilesAcross + tx;
            if (!pixels.tileWritten[tile]) continue;
            const int firstColumn = tx << kTileShift;
            const int lastColumn = firstColumn + kTileSide < pixels.width ? firstColumn + kTileSide : pixels.width;
            std::uint64_t least = ~std::uint64_t{0};
            if ((lastRow - firstRow == kTileSide) & (lastColumn - firstColumn == kTileSide)) {
                std::uint64_t lanes[kTileSide];
                const std::uint64_t* row = pixels.front + firstRow * pixels.frontStride + firstColumn;
                for (int i = 0; i < kTileSide; ++i) lanes[i] = row[i];
                for (int j = 1; j < kTileSide; ++j) {
                    row += pixels.frontStride;
                    for (int i = 0; i < kTileSide; ++i) lanes[i] = row[i] < lanes[i] ? row[i] : lanes[i];
                }
                for (int i = 0; i < kTileSide; ++i) least = lanes[i] < least ? lanes[i] : least;
            } else {
                for (int j = firstRow; j < lastRow; ++j) {
                    const std::uint64_t* const row = pixels.front + j * pixels.frontStride;
                    for (int i = firstColumn; i < lastColumn; ++i) least = row[i] < least ? row[i] : least;
                }
            }
            pixels.tileLeast[tile] = least;
            pixels.tileWritten[tile] = 0;
        }
    }
}

void FragmentList::Resolve() {
    // Without branches, and with the pixels a few fragments on fetched early, so that the
    // processor waits for many pixels at once rather than for one after the other.
    constexpr int kAhead = 16;
    std::uint64_t* const front = pixels.front;
    std::uint32_t* const out = pixels.colours;
    const std::ptrdiff_t frontStride = pixels.frontStride, colourStride = pixels.colourStride;
    const int n = count;
    for (int f = 0; f < n; ++f) {
        if (f + kAhead < n) {
            __builtin_prefetch(front + rows[f + kAhead] * frontStride + columns[f + kAhead], 1);
            __builtin_prefetch(out + rows[f + kAhead] * colourStride + columns[f + kAhead], 1);
        }
        std::uint64_t& shown = front[rows[f] * frontStride + columns[f]];
        std::uint32_t& colour = out[rows[f] * colourStride + columns[f]];
        const std::uint64_t word = words[f], before = shown;
        const std::uint32_t colourBefore = colour;
        const std::uint64_t shows = 0 - static_cast<std::uint64_t>(word > before);  // all ones or none
        shown = (word & shows) | (before & ~shows);
        colour = (colours[f] & static_cast<std::uint32_t>(shows)) | (colourBefore & ~static_cast<std::uint32_t>(shows));
        pixels.MarkWritten(columns[f], rows[f]);
    }
    count = 0;
}

void AddShadedSpan(const ShadedTriangle& t, FragmentList& out, int j, int first, int last) {
    const double rowStart = t.RowStart(j);
    for (int i = first; i <= last;) {
        const int piece = std::min(last - i + 1, FragmentList::kCapacity);
        out.MakeRoom(piece);
        for (const int end = i + piece; i < end; ++i) {
            const int f = out.count++;
            out.words[f] = FrontWord(t.DepthAt(rowStart, i), t.number);
            out.columns[f] = i;
            out.rows[f] = j;
            out.colours[f] = t.colour;
        }
    }
}

namespace {

void FillShadedScalar(const ShadedTriangle& triangle, GridPoint a, GridPoint b, GridPoint c, FragmentList& out) {
    FillTriangle(a, b, c, out.pixels.Window(),
                 [&](int j, int first, int last) { AddShadedSpan(triangle, out, j, first, last); });
}

#if TRENN_HAS_TARGET_COPIES
// FrontWord of eight pixels of a row, columns run to run + 7, as DepthAt and FrontWord give them:
// the depth rowStart + dzdx i, held within [zMin, zMax] (MAXPD and MINPD give the second operand
// for NaN, as DepthAt's selects do), rounded to single, -0 as +0; its key above the number. Two
// rows at once, which share the products dzdx i.
struct RowPairWords {
    __m512i first, second;
};
[[gnu::always_inline]] TRENN_TARGET_X86_64_V4 inline RowPairWords WordsOfRowPairV4(__m512d dzdx, __m512d zMin, __m512d zMax, __m512i number,
                                                            __m512d rowStart0, __m512d rowStart1, int run) {
    const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    const __m512d across = _mm512_mul_pd(dzdx, _mm512_cvtepi32_pd(_mm256_add_epi32(_mm256_set1_epi32(run), lanes)));
    const __m512d z0 = _mm512_min_pd(_mm512_max_pd(_mm512_add_pd(rowStart0, across), zMin), zMax);
    const __m512d z1 = _mm512_min_pd(_mm512_max_pd(_mm512_add_pd(rowStart1, across), zMin), zMax);
    const __m512 z = _mm512_insertf32x8(_mm512_castps256_ps512(_mm512_cvtpd_ps(z0)), _mm512_cvtpd_ps(z1), 1);
    const __m512i bits = _mm512_castps_si512(_mm512_add_ps(z, _mm512_setzero_ps()));
    const __m512i key = _mm512_xor_si512(
        bits, _mm512_or_si512(_mm512_srai_epi32(bits, 31), _mm512_set1_epi32(static_cast<int>(0x80000000u))));
    return {_mm512_or_si512(_mm512_slli_epi64(_mm512_cvtepu32_epi64(_mm512_castsi512_si256(key)), 32), number),
            _mm512_or_si512(_mm512_slli_epi64(_mm512_cvtepu32_epi64(_mm512_extracti64x4_epi64(key, 1)), 32), number)};
}

// The words of a run of a row where they show: read and written back whole (the rows of the
// words are padded to whole aligned runs of eight, kFrontAlignment), whether or not anything
// shows, as a branch here is mostly mispredicted.
[[gnu::always_inline]] TRENN_TARGET_X86_64_V4 inline void WriteRunV4(std::uint64_t* front, std::uint32_t* colours, __m512i words, __mmask8 covered,
                                              __m256i colour) {
    const __m512i shown = _mm512_load_si512(front);
    const __mmask8 shows = _mm512_mask_cmpgt_epu64_mask(covered, words, shown);
    _mm512_store_si512(front, _mm512_mask_blend_epi64(shows, shown, words));
    _mm256_mask_storeu_epi32(colours, shows, colour);
}

// A small triangle of at most two rows whose box lies in at most two runs of eight, as most of
// a dense model's are: no loops, the centres it covers found for all four runs at once.
[[gnu::always_inline]] TRENN_TARGET_X86_64_V4 inline void FillTinyV4(const ShadedTriangle& t, const SmallSetUp& s, const ShadedPixels& pixels) {
    const int run = s.i0 & ~7;
    // Lane l: column run + l of the first row, and of the second.
    const __m512i column = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    const __m512i columns = _mm512_add_epi32(_mm512_set1_epi32(run), column);
    const __mmask16 inBox = _mm512_cmpge_epi32_mask(columns, _mm512_set1_epi32(s.i0)) &
                            _mm512_cmple_epi32_mask(columns, _mm512_set1_epi32(s.i1));
    __m512i first = _mm512_setzero_si512(), second = _mm512_setzero_si512();
    for (int e = 0; e < 3; ++e) {
        const __m512i w = _mm512_add_epi32(_mm512_set1_epi32(s.at[e]), _mm512_mullo_epi32(column, _mm512_set1_epi32(s.stepX[e])));
        first = _mm512_or_si512(first, w);
        second = _mm512_or_si512(second, _mm512_add_epi32(w, _mm512_set1_epi32(s.stepY[e])));
    }
    const bool pair = s.j0 < s.j1;
    const __mmask16 covered0 = _mm512_mask_cmpge_epi32_mask(inBox, first, _mm512_setzero_si512());
    const __mmask16 covered1 = _mm512_mask_cmpge_epi32_mask(pair ? inBox : 0, second, _mm512_setzero_si512());
    // Of a row alone, the second row is a row beside it, with nothing covered: the first again
    // would wait for its own words to be stored.
    const int beside = s.j0 + 1 < pixels.height ? s.j0 + 1 : s.j0 > pixels.firstRow ? s.j0 - 1 : s.j0;
    const int j1 = pair ? s.j0 + 1 : beside;
    const __m512d dzdx = _mm512_set1_pd(t.dzdx), zMin = _mm512_set1_pd(t.zMin), zMax = _mm512_set1_pd(t.zMax);
    const __m512i number = _mm512_set1_epi64(t.number);
    const __m256i colour = _mm256_set1_epi32(static_cast<int>(t.colour));
    const __m512d rowStart0 = _mm512_set1_pd(s.rowStart[0]), rowStart1 = _mm512_set1_pd(s.rowStart[1]);
    std::uint64_t* const front0 = pixels.front + s.j0 * pixels.frontStride + run;
    std::uint64_t* const front1 = pixels.front + j1 * pixels.frontStride + run;
    std::uint32_t* const colours0 = pixels.colours + s.j0 * pixels.colourStride + run;
    std::uint32_t* const colours1 = pixels.colours + j1 * pixels.colourStride + run;
    const RowPairWords words = WordsOfRowPairV4(dzdx, zMin, zMax, number, rowStart0, rowStart1, run);
    WriteRunV4(front0, colours0, words.first, static_cast<__mmask8>(covered0), colour);
    WriteRunV4(front1, colours1, words.second, static_cast<__mmask8>(covered1), colour);
    pixels.MarkWritten(run, s.j0);
    pixels.MarkWritten(run, j1);
    if ((s.i1 >> 3) != (run >> 3)) {
        const RowPairWords next = WordsOfRowPairV4(dzdx, zMin, zMax, number, rowStart0, rowStart1, run + 8);
        WriteRunV4(front0 + 8, colours0 + 8, next.first, static_cast<__mmask8>(covered0 >> 8), colour);
        WriteRunV4(front1 + 8, colours1 + 8, next.second, static_cast<__mmask8>(covered1 >> 8), colour);
        pixels.MarkWritten(run + 8, s.j0);
        pixels.MarkWritten(run + 8, j1);
    }
}

// A small triangle (SetUpSmall), filled sixteen pixels at a time: two rows of a run of eight,
// read and written back whole (the rows of the words are padded to whole aligned runs of
// eight, kFrontAlignment) without a branch on what is covered. The same integer edge tests as
// FillTriangle; per pixel the same double operations in the same order for its depth as
// DepthAt, with FrontWord's key above the number.
[[gnu::always_inline]] TRENN_TARGET_X86_64_V4 inline void FillSmallV4(const ShadedTriangle& t, const SmallSetUp& s, const ShadedPixels& pixels) {
    if ((s.j1 - s.j0 < 2) & ((s.i1 >> 3) - (s.i0 >> 3) < 2)) {
        FillTinyV4(t, s, pixels);
        return;
    }
    const int firstRun = s.i0 & ~7;
    const __m512i column = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 0, 1, 2, 3, 4, 5, 6, 7);
    const __m512i row = _mm512_setr_epi32(0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1);
    const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    // The edge functions at the sixteen pixels of the first run of the first two rows, and
    // their change a run right and two rows down.
    __m512i rowPair[3], runStep[3], pairStep[3];
    for (int e = 0; e < 3; ++e) {
        rowPair[e] = _mm512_add_epi32(_mm512_set1_epi32(s.at[e]),
                                      _mm512_add_epi32(_mm512_mullo_epi32(column, _mm512_set1_epi32(s.stepX[e])),
                                                       _mm512_mullo_epi32(row, _mm512_set1_epi32(s.stepY[e]))));
        runStep[e] = _mm512_set1_epi32(static_cast<std::int32_t>(static_cast<std::uint32_t>(s.stepX[e]) * 8u));
        pairStep[e] = _mm512_set1_epi32(static_cast<std::int32_t>(static_cast<std::uint32_t>(s.stepY[e]) * 2u));
    }
    const __m512i firstColumn = _mm512_set1_epi32(s.i0), lastColumn = _mm512_set1_epi32(s.i1);
    const __m512d dzdx = _mm512_set1_pd(t.dzdx), zMin = _mm512_set1_pd(t.zMin), zMax = _mm512_set1_pd(t.zMax);
    const __m512i number = _mm512_set1_epi64(t.number), signBit = _mm512_set1_epi32(static_cast<int>(0x80000000u));
    const __m256i colour = _mm256_set1_epi32(static_cast<int>(t.colour));
    std::uint64_t* const front = pixels.front;
    std::uint32_t* const colours = pixels.colours;
    const std::ptrdiff_t frontStride = pixels.frontStride, colourStride = pixels.colourStride;
    for (int j = s.j0; j <= s.j1; j += 2) {
        // Of a last row alone, the second row is a row beside it, with nothing covered: the
        // first again would wait for its own words to be stored.
        const bool pair = j < s.j1;
        const int beside = j + 1 < pixels.height ? j + 1 : j > pixels.firstRow ? j - 1 : j;
        const int second = pair ? j + 1 : beside;
        const __mmask16 rows = pair ? 0xFFFF : 0x00FF;
        const __m512d rowStart0 = _mm512_set1_pd(t.RowStart(j)), rowStart1 = _mm512_set1_pd(t.RowStart(j + 1));
        std::uint64_t* const front0 = front + j * frontStride;
        std::uint64_t* const front1 = front + second * frontStride;
        std::uint32_t* const colours0 = colours + j * colourStride;
        std::uint32_t* const colours1 = colours + second * colourStride;
        std::uint8_t* const tiles0 = pixels.tileWritten + (j >> kTileShift) * pixels.tilesAcross;
        std::uint8_t* const tiles1 = pixels.tileWritten + (second >> kTileShift) * pixels.tilesAcross;
        __m512i w0 = rowPair[0], w1 = rowPair[1], w2 = rowPair[2];
        for (int run = firstRun; run <= s.i1; run += 8) {
            const __m512i all = _mm512_ternarylogic_epi32(w0, w1, w2, 0xFE);  // w0 | w1 | w2
            const __m512i columns16 = _mm512_add_epi32(_mm512_set1_epi32(run), column);
            const __mmask16 inBox = _mm512_mask_cmpge_epi32_mask(rows, columns16, firstColumn) &
                                    _mm512_cmple_epi32_mask(columns16, lastColumn);
            const __mmask16 covered = _mm512_mask_cmpge_epi32_mask(inBox, all, _mm512_setzero_si512());
            // Depth rowStart + dzdx i, held within [zMin, zMax] (MAXPD and MINPD give the second
            // operand for NaN, as DepthAt's selects do), rounded to single, -0 as +0; its key.
            const __m512d across = _mm512_mul_pd(dzdx, _mm512_cvtepi32_pd(_mm256_add_epi32(_mm256_set1_epi32(run), lanes)));
            const __m512d z0 = _mm512_min_pd(_mm512_max_pd(_mm512_add_pd(rowStart0, across), zMin), zMax);
            const __m512d z1 = _mm512_min_pd(_mm512_max_pd(_mm512_add_pd(rowStart1, across), zMin), zMax);
            const __m512 z = _mm512_insertf32x8(_mm512_castps256_ps512(_mm512_cvtpd_ps(z0)), _mm512_cvtpd_ps(z1), 1);
            const __m512i bits = _mm512_castps_si512(_mm512_add_ps(z, _mm512_setzero_ps()));
            const __m512i key = _mm512_xor_si512(bits, _mm512_or_si512(_mm512_srai_epi32(bits, 31), signBit));
            const __m512i words0 = _mm512_or_si512(_mm512_slli_epi64(_mm512_cvtepu32_epi64(_mm512_castsi512_si256(key)), 32), number);
            const __m512i words1 = _mm512_or_si512(_mm512_slli_epi64(_mm512_cvtepu32_epi64(_mm512_extracti64x4_epi64(key, 1)), 32), number);
            // Written back whether or not anything shows: a branch here is mostly mispredicted.
            // Both rows are read before either is written.
            const __m512i shown0 = _mm512_load_si512(front0 + run);
            const __m512i shown1 = _mm512_load_si512(front1 + run);
            const __mmask8 shows0 = _mm512_mask_cmpgt_epu64_mask(static_cast<__mmask8>(covered), words0, shown0);
            const __mmask8 shows1 = _mm512_mask_cmpgt_epu64_mask(static_cast<__mmask8>(covered >> 8), words1, shown1);
            _mm512_store_si512(front0 + run, _mm512_mask_blend_epi64(shows0, shown0, words0));
            _mm256_mask_storeu_epi32(colours0 + run, shows0, colour);
            tiles0[run >> kTileShift] = 1;
            _mm512_store_si512(front1 + run, _mm512_mask_blend_epi64(shows1, shown1, words1));
            _mm256_mask_storeu_epi32(colours1 + run, shows1, colour);
            tiles1[run >> kTileShift] = 1;
            w0 = _mm512_add_epi32(w0, runStep[0]);
            w1 = _mm512_add_epi32(w1, runStep[1]);
            w2 = _mm512_add_epi32(w2, runStep[2]);
        }
        for (int e = 0; e < 3; ++e) rowPair[e] = _mm512_add_epi32(rowPair[e], pairStep[e]);
    }
}

TRENN_TARGET_X86_64_V4 void FillSmallTrianglesX86_64_V4(const TriangleCorners& corners, const TriangleShading& shading,
                                                        const SmallFills& fills, int count, const ShadedPixels& pixels) {
    for (int t = 0; t < count; ++t) {
        if (fills.kind[t] != kSmallFill) continue;
        const ShadedTriangle triangle{corners.x[0][t],   corners.y[0][t],   shading.dzdx[t],
                                      shading.dzdy[t],   corners.z[0][t],   shading.zMin[t],
                                      shading.zMax[t],   shading.colour[t], fills.number[t]};
        FillSmallV4(triangle, fills.SetUp(t), pixels);
    }
}

// One triangle as the renderer fills it: a small one at once, any other through the list.
TRENN_TARGET_X86_64_V4 void FillShadedX86_64_V4(const ShadedTriangle& t, GridPoint a, GridPoint b, GridPoint c,
                                                FragmentList& out) {
    SmallSetUp s = SetUpSmall(a, b, c, false, out.pixels.Window());
    s.rowStart[0] = t.RowStart(s.j0);
    s.rowStart[1] = t.RowStart(s.j0 + 1);
    if (s.kind == kSmallFill) {
        FillSmallV4(t, s, out.pixels);
    } else if (s.kind == kOneByOne) {
        FillShadedScalar(t, a, b, c, out);
    }
}
#endif

}  // namespace

std::vector<ShadedFillCopy> ShadedFillCopies() {
    std::vector<ShadedFillCopy> copies;
#if TRENN_HAS_TARGET_COPIES
    __builtin_cpu_init();
    copies.push_back({"x86-64-v4", &FillShadedX86_64_V4, __builtin_cpu_supports("x86-64-v4") != 0});
#endif
    copies.push_back({"scalar", &FillShadedScalar, true});
    return copies;
}

SmallFillFunction BestSmallFill() {
#if TRENN_HAS_TARGET_COPIES
    __builtin_cpu_init();
    if (__builtin_cpu_supports("x86-64-v4")) return &FillSmallTrianglesX86_64_V4;
#endif
    return nullptr;
}

ShadedFillFunction BestShadedFill() {
    for (const ShadedFillCopy& copy : ShadedFillCopies()) {
        if (copy.runs) return copy.function;
    }
    return &FillShadedScalar;
}

}  // namespace trenn
