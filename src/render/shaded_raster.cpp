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
        const std::int32_t j0 = more((minY + 255) >> 8, 0), j1 = less(maxY >> 8, window.height - 1);
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

void RefreshTiles(const ShadedPixels& pixels) {
    const int tilesDown = (pixels.height + kTileSide - 1) >> kTileShift;
    for (int ty = 0; ty < tilesDown; ++ty) {
        for (int tx = 0; tx < pixels.tilesAcross; ++tx) {
            const std::ptrdiff_t tile = static_cast<std::ptrdiff_t>(ty) * pixels.tilesAcross + tx;
            if (!pixels.tileWritten[tile]) continue;
            const int firstRow = ty << kTileShift, lastRow = std::min(firstRow + kTileSide, pixels.height);
            const int firstColumn = tx << kTileShift, lastColumn = std::min(firstColumn + kTileSide, pixels.width);
            std::uint64_t least = ~std::uint64_t{0};
            for (int j = firstRow; j < lastRow; ++j) {
                const std::uint64_t* const row = pixels.front + j * pixels.frontStride;
                for (int i = firstColumn; i < lastColumn; ++i) least = row[i] < least ? row[i] : least;
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
    FillTriangle(a, b, c, PixelWindow{out.pixels.width, out.pixels.height},
                 [&](int j, int first, int last) { AddShadedSpan(triangle, out, j, first, last); });
}

#if TRENN_HAS_TARGET_COPIES
// Triangles less than this many grid units across, the most by far in a dense model, are filled
// eight pixels of a row at a time: their edge functions stay below 2^31 over the box.
constexpr std::int32_t kSmallExtent = 1 << 14;

// FrontWord of eight pixels of a row, as DepthAt and FrontWord give them: the depth
// rowStart + dzdx i, held within [zMin, zMax] (MAXPD and MINPD give the second operand for NaN,
// as DepthAt's selects do), rounded to single; its key, above the number.
TRENN_TARGET_X86_64_V4 inline __m512i WordsV4(const ShadedTriangle& t, __m512d rowStart, __m256i columns) {
    __m512d zd = _mm512_add_pd(rowStart, _mm512_mul_pd(_mm512_set1_pd(t.dzdx), _mm512_cvtepi32_pd(columns)));
    zd = _mm512_min_pd(_mm512_max_pd(zd, _mm512_set1_pd(t.zMin)), _mm512_set1_pd(t.zMax));
    const __m256 z = _mm512_cvtpd_ps(zd);
    const __m256i bits = _mm256_castps_si256(_mm256_add_ps(z, _mm256_setzero_ps()));
    const __m256i flip =
        _mm256_or_si256(_mm256_srai_epi32(bits, 31), _mm256_set1_epi32(static_cast<int>(0x80000000u)));
    const __m256i key = _mm256_xor_si256(bits, flip);
    return _mm512_or_si512(_mm512_slli_epi64(_mm512_cvtepu32_epi64(key), 32), _mm512_set1_epi64(t.number));
}

// The same pixels as FillShadedScalar: the same integer edge tests, and per pixel the same double
// operations in the same order for its depth. It writes the picture itself rather than the
// list; the rows of the words must be padded to whole aligned runs of eight (kFrontAlignment).
TRENN_TARGET_X86_64_V4 void FillShadedX86_64_V4(const ShadedTriangle& t, GridPoint a, GridPoint b, GridPoint c,
                                                FragmentList& out) {
    const std::int32_t minX = std::min(a.x, std::min(b.x, c.x)), maxX = std::max(a.x, std::max(b.x, c.x));
    const std::int32_t minY = std::min(a.y, std::min(b.y, c.y)), maxY = std::max(a.y, std::max(b.y, c.y));
    if (maxX - minX >= kSmallExtent || maxY - minY >= kSmallExtent) {
        FillShadedScalar(t, a, b, c, out);
        return;
    }
    const CentreBox box = CentresIn(a, b, c, PixelWindow{out.pixels.width, out.pixels.height});
    if (box.Empty()) return;
    const std::int32_t area = (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
    if (area == 0) return;
    if (area < 0) std::swap(b, c);

    // As in FillTriangle: edge p -> q, less one where a centre on it does not count, at the
    // centre of pixel (i0, j0), and its change a pixel right and a row down.
    const std::int32_t startX = box.i0 * 256, startY = box.j0 * 256;
    std::int32_t atStart[3], stepX[3], stepY[3];
    const GridPoint corners[3] = {a, b, c};
    for (int e = 0; e < 3; ++e) {
        const GridPoint p = corners[e], q = corners[(e + 1) % 3];
        const std::int32_t dx = q.x - p.x, dy = q.y - p.y;
        const bool topOrLeft = dy < 0 || (dy == 0 && dx > 0);
        atStart[e] = dx * (startY - p.y) - dy * (startX - p.x) - (topOrLeft ? 0 : 1);
        stepX[e] = -dy * 256;
        stepY[e] = dx * 256;
    }
    const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    const __m256i laneStep0 = _mm256_mullo_epi32(lanes, _mm256_set1_epi32(stepX[0]));
    const __m256i laneStep1 = _mm256_mullo_epi32(lanes, _mm256_set1_epi32(stepX[1]));
    const __m256i laneStep2 = _mm256_mullo_epi32(lanes, _mm256_set1_epi32(stepX[2]));
    const __m256i colour = _mm256_set1_epi32(static_cast<int>(t.colour));
    const __m256i firstColumn = _mm256_set1_epi32(box.i0), lastColumn = _mm256_set1_epi32(box.i1);

    // Whole aligned runs of eight pixels are read and written back (the rows of the words are
    // padded and aligned for it): neighbouring triangles then store and load the same runs,
    // which the processor hands on from store to load at once.
    for (int j = box.j0; j <= box.j1; ++j) {
        const std::int32_t down = j - box.j0;
        const __m512d rowStart = _mm512_set1_pd(t.RowStart(j));
        std::uint64_t* const front = out.pixels.front + j * out.pixels.frontStride;
        std::uint32_t* const colours = out.pixels.colours + j * out.pixels.colourStride;
        for (int run = box.i0 & ~7; run <= box.i1; run += 8) {
            const std::int32_t across = run - box.i0;
            const __m256i columns = _mm256_add_epi32(_mm256_set1_epi32(run), lanes);
            const __mmask8 inBox = _mm256_cmpge_epi32_mask(columns, firstColumn) & _mm256_cmple_epi32_mask(columns, lastColumn);
            const __m256i w0 = _mm256_add_epi32(_mm256_set1_epi32(atStart[0] + down * stepY[0] + across * stepX[0]), laneStep0);
            const __m256i w1 = _mm256_add_epi32(_mm256_set1_epi32(atStart[1] + down * stepY[1] + across * stepX[1]), laneStep1);
            const __m256i w2 = _mm256_add_epi32(_mm256_set1_epi32(atStart[2] + down * stepY[2] + across * stepX[2]), laneStep2);
            const __m256i all = _mm256_or_si256(_mm256_or_si256(w0, w1), w2);
            const __mmask8 covered = _mm256_mask_cmpge_epi32_mask(inBox, all, _mm256_setzero_si256());
            if (covered == 0) continue;
            const __m512i words = WordsV4(t, rowStart, columns);
            const __m512i shown = _mm512_load_si512(front + run);
            const __mmask8 shows = _mm512_mask_cmpgt_epu64_mask(covered, words, shown);
            // Written back whether or not anything shows: a branch here is mostly mispredicted.
            _mm512_store_si512(front + run, _mm512_mask_blend_epi64(shows, shown, words));
            _mm256_mask_storeu_epi32(colours + run, shows, colour);
            out.pixels.MarkWritten(run, j);
        }
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

ShadedFillFunction BestShadedFill() {
    for (const ShadedFillCopy& copy : ShadedFillCopies()) {
        if (copy.runs) return copy.function;
    }
    return &FillShadedScalar;
}

}  // namespace trenn
