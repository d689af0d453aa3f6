#include "render/shaded.h"

#include <algorithm>
#include <array>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>
#include <limits>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <vector>

#include "render/draw_threads.h"
#include "render/colours.h"
#include "render/part_cache.h"
#include "model/rotation.h"
#include "model/strip.h"
#include "render/shaded_raster.h"
#include "render/turn.h"
#include "render/vector_code.h"
#include "render/wireframe.h"

namespace trenn {
namespace {

// Hues in an order that keeps neighbours in the list far apart.
constexpr std::array<std::uint32_t, 10> kPalette = {
    0xFF3B7DD8u,  // blue
    0xFFE0632Au,  // orange
    0xFF3FA34Du,  // green
    0xFFD33F49u,  // red
    0xFF8E5CC4u,  // violet
    0xFF2BB5B0u,  // teal
    0xFFE2B21Fu,  // yellow
    0xFFC75B9Bu,  // pink
    0xFF8A6A3Eu,  // brown
    0xFF7FB13Au,  // olive green
};

// Strip entries are 16-bit: no triple can name a vertex past these.
constexpr std::size_t kAddressableVertices = 32768;
constexpr std::size_t kEntryValues = std::size_t{1} << 16;
// Vertices turned a block at a time, so that the block's coordinates stay in the first-level cache.
constexpr std::size_t kTurnBlock = 256;
// Strip triangles looked at a round at a time.
constexpr std::int64_t kStripBlock = kShadingBatch;
// Below this much work a second thread costs more in hand-overs than it saves.
constexpr std::int64_t kTrianglesForTwoThreads = 50000;
constexpr std::int64_t kPixelsForTwoThreads = 1 << 19;
// Triangles whose box lies in at most this many tiles are checked against what the box shows
// before any work on them.
constexpr int kHiddenTestTiles = 16;
// After this many triangles found in front in a row, only every eighth is tested.
constexpr int kInFrontBeforeSparseTests = 16;
// A redraw fills triangles larger than the small fill takes in at most this many times each
// share's pixels (counted by their boxes), and this many more: a model never comes near it,
// but a file of the same large triangles over and over would take minutes to draw. What is
// left out then is only what such a file repeats.
constexpr std::int64_t kLargeFillsPerPixel = 64;
constexpr std::int64_t kLargeFillAllowance = std::int64_t{1} << 22;

// A vertex code: its number, marked when it lies beyond the guard band; -1 when it cannot be
// drawn (its turn faulted, or its position is not finite), and for a strip entry that names no
// vertex of the part.
constexpr std::int32_t kBeyondGuard = 1 << 30;

// Triangle numbers run through the strips in list order, from 1; past 2^32 - 1 they start again.
std::uint32_t TriangleNumber(std::uint64_t running) {
    return static_cast<std::uint32_t>(running % 0xFFFFFFFFu) + 1;
}

// Snaps turned vertices [0, count) to the grid and codes them, vertex `first` + i at i. Returns
// the largest z of those whose position is finite. Branch-free, so that it vectorises.
TRENN_VECTOR_CLONES float SnapVertices(const double* px, const double* py, const float* pz, std::size_t count,
                                       std::int32_t first, std::int32_t* gx, std::int32_t* gy, std::int32_t* code) {
    for (std::size_t i = 0; i < count; ++i) {
        const double x = ToGrid(px[i]), y = ToGrid(py[i]);
        const bool finite = (std::fabs(px[i]) <= std::numeric_limits<double>::max()) &
                            (std::fabs(py[i]) <= std::numeric_limits<double>::max());
        const bool inside = (std::fabs(x) < kGuardBand) & (std::fabs(y) < kGuardBand);
        // Only values inside the band reach the conversion to integers.
        gx[i] = static_cast<std::int32_t>(RoundToGrid(inside ? x : 0.0));
        gy[i] = static_cast<std::int32_t>(RoundToGrid(inside ? y : 0.0));
        const std::int32_t number = first + static_cast<std::int32_t>(i);
        code[i] = finite ? (inside ? number : number | kBeyondGuard) : -1;
    }
    // The largest as an integer that orders like the float (those of finite positions are
    // numbers): a largest integer vectorises where a largest float would not.
    constexpr std::int32_t kNone = std::numeric_limits<std::int32_t>::min();
    std::int32_t nearest = kNone;
    for (std::size_t i = 0; i < count; ++i) {
        std::int32_t bits;
        std::memcpy(&bits, pz + i, sizeof bits);
        const std::int32_t none = code[i] >> 31;  // all ones for a vertex that did not turn
        const std::int32_t key = ((bits ^ ((bits >> 31) & 0x7FFFFFFF)) & ~none) | (kNone & none);
        nearest = key > nearest ? key : nearest;
    }
    if (nearest == kNone) return -std::numeric_limits<float>::infinity();
    return std::bit_cast<float>(nearest ^ ((nearest >> 31) & 0x7FFFFFFF));
}

// The nearest z of a part as every 256th run of eight of its vertices tells: for the order in
// which the first redraw that shows it fills the parts.
float SampledNearest(const MeshPart& part, const PartPositions* positions, const RotationCoefficients& turn) {
    constexpr std::size_t kEvery = 256, kTaken = 8;
    const std::size_t count = std::min(part.vertices.size(), kAddressableVertices);
    float x[kTaken], y[kTaken], z[kTaken];
    double nearest = -std::numeric_limits<double>::infinity();
    for (std::size_t start = 0; start < count; start += kEvery) {
        const std::size_t n = std::min(kTaken, count - start);
        const float *xs = x, *ys = y, *zs = z;
        if (positions) {
            xs = positions->X() + start;
            ys = positions->Y() + start;
            zs = positions->Z() + start;
        } else {
            GatherCoordinates(part.vertices, start, n, x, y, z);
        }
        for (std::size_t i = 0; i < n; ++i) {
            const double turned = (xs[i] * turn.sinYaw + zs[i] * turn.cosYaw) * turn.cosPitch + ys[i] * turn.sinPitch;
            if (std::isfinite(turned) && turned > nearest) nearest = turned;
        }
    }
    return static_cast<float>(std::max(nearest, static_cast<double>(std::numeric_limits<float>::lowest())));
}

// One block of a strip: per entry its value and what its vertex tells; per triangle whether it
// is worth a closer look, whether a corner lies beyond the guard band, its box in the rows
// being filled, and its nearest z.
struct StripBlock {
    std::int32_t entry[kStripBlock + 2];
    std::int32_t code[kStripBlock + 2];
    std::int32_t gx[kStripBlock + 2], gy[kStripBlock + 2];
    float z[kStripBlock + 2];

    std::uint8_t worth[kStripBlock];
    std::uint8_t beyondGuard[kStripBlock];
    std::int32_t i0[kStripBlock], i1[kStripBlock], j0[kStripBlock], j1[kStripBlock];
    float nearest[kStripBlock];
};

// Marks the triangles of a block worth a closer look: three different vertices that turned,
// and a pixel centre of the window in their box (a vertex beyond the guard band gives the
// whole window as its box). Branch-free over arrays, so that it vectorises.
TRENN_VECTOR_CLONES void MarkWorthFilling(StripBlock& b, int count, int width, int firstRow, int endRow) {
    const auto less = [](std::int32_t p, std::int32_t q) { return p < q ? p : q; };
    const auto more = [](std::int32_t p, std::int32_t q) { return p > q ? p : q; };
    for (int t = 0; t < count; ++t) {
        const std::int32_t ca = b.code[t], cb = b.code[t + 1], cc = b.code[t + 2];
        const bool drawable = ((ca | cb | cc) >= 0) & (ca != cb) & (cb != cc) & (ca != cc);
        const bool beyond = ((ca | cb | cc) & kBeyondGuard) != 0;
        const std::int32_t minX = less(b.gx[t], less(b.gx[t + 1], b.gx[t + 2]));
        const std::int32_t maxX = more(b.gx[t], more(b.gx[t + 1], b.gx[t + 2]));
        const std::int32_t minY = less(b.gy[t], less(b.gy[t + 1], b.gy[t + 2]));
        const std::int32_t maxY = more(b.gy[t], more(b.gy[t + 1], b.gy[t + 2]));
        const std::int32_t i0 = beyond ? 0 : more((minX + 255) >> 8, 0);
        const std::int32_t i1 = beyond ? width - 1 : less(maxX >> 8, width - 1);
        const std::int32_t j0 = beyond ? firstRow : more((minY + 255) >> 8, firstRow);
        const std::int32_t j1 = beyond ? endRow - 1 : less(maxY >> 8, endRow - 1);
        const float zab = b.z[t] > b.z[t + 1] ? b.z[t] : b.z[t + 1];
        b.worth[t] = static_cast<std::uint8_t>(drawable & (i0 <= i1) & (j0 <= j1));
        b.beyondGuard[t] = static_cast<std::uint8_t>(beyond);
        b.i0[t] = i0;
        b.i1[t] = i1;
        b.j0[t] = j0;
        b.j1[t] = j1;
        b.nearest[t] = b.z[t + 2] > zab ? b.z[t + 2] : zab;
    }
}

// The triangle numbers of a row's words.
TRENN_VECTOR_CLONES void RowNumbers(const std::uint64_t* words, int width, std::uint32_t* numbers) {
    for (int i = 0; i < width; ++i) numbers[i] = static_cast<std::uint32_t>(words[i]);
}

// Edges one step away: the numbers of a row, and of the rows a step above and below it, with
// `step` numbers before and after each row that show nothing earlier (all ones). A covered
// pixel whose neighbour a step left, right, above or below has a smaller number turns black.
TRENN_VECTOR_CLONES void PaintEdges(const std::uint32_t* row, const std::uint32_t* above, const std::uint32_t* below,
                                    int width, int step, std::uint32_t* out) {
    for (int i = 0; i < width; ++i) {
        const std::uint32_t id = row[i];
        const bool edge = (row[i - step] < id) | (row[i + step] < id) | (above[i] < id) | (below[i] < id);
        if (edge & (id != 0)) out[i] = kEdgeColour;
    }
}

}  // namespace

std::uint32_t ShadedPartColour(std::size_t listPosition) { return kPalette[listPosition % kPalette.size()]; }

struct ShadedRenderer::State {
    explicit State(int threadCount) : threads(threadCount) {}

    // ---- Kept between redraws ----
    PartCache cache;
    std::optional<std::size_t> budget;
    DrawHelper helper;
    const TurnBlockDepthFunction turnBlock = BestTurnBlockDepth();
    const ShadedFillFunction fill = BestShadedFill();
    const SmallFillFunction smallFill = BestSmallFill();
    int threads = 1;
    // When the other core is busy, the helper starts late or loses its core and the redraw
    // waits for it; after a redraw that spent half its time so, the next ten are drawn alone.
    int aloneFor = 0;
    std::chrono::steady_clock::duration helperLost{};
    // The largest z of each part at the last redraw: the next one fills the nearest parts
    // first, so that most triangles behind them are found hidden before any work.
    std::map<const MeshPart*, float> nearestSeen;
    // Per row of tiles, the work the last redraw found there: where two threads share the
    // picture, the first takes the rows above the row where its part of the work is done.
    // That part follows the time each thread took to fill its rows: shares of equal counted
    // work may take unequal time.
    std::vector<std::int64_t> rowWork;
    double firstPart = 0.5;
    std::chrono::nanoseconds filling[2]{};

    // What one thread works in, made once, so that drawing allocates nothing: per strip entry
    // value of the part being filled, the pixel position, turned z, snapped grid point and code
    // of its vertex (entries past the part's vertices name none); per block, what its entries
    // and triangles tell.
    struct ThreadArrays {
        std::vector<double> px, py;
        std::vector<float> z;
        std::vector<std::int32_t> gx, gy, code;
        std::size_t coded = 0;  // entries [0, coded) may name vertices
        StripBlock block;
        std::int32_t worthy[kStripBlock];  // the block's triangles worth a closer look
        std::int32_t kept[kStripBlock];    // of those, the ones not found hidden
        TriangleCorners corners;           // theirs
        TriangleShading shading;
        SmallFills fills;
        SmallCoverage coverage;
        FragmentList fragments;
        int foundInFront = 0;  // triangles the hidden test found in front since it last found one hidden
        std::int64_t largeFillLeft = 0;  // box pixels the triangles the small fill leaves may still cover
        float x[kTurnBlock], y[kTurnBlock], zs[kTurnBlock];  // coordinates not kept
        // The edge pass: the numbers of the rows within `scale` of the one being marked, each
        // with `scale` numbers that show nothing earlier before and after it, kept round a
        // ring; such a row for rows beyond the picture.
        std::vector<std::uint32_t> edgeRows;
        std::vector<std::uint32_t> noRow;

        void Make() {
            px.resize(kEntryValues);
            py.resize(kEntryValues);
            z.resize(kEntryValues);
            gx.resize(kEntryValues);
            gy.resize(kEntryValues);
            code.assign(kEntryValues, -1);
            coded = 0;
        }
    };
    std::unique_ptr<ThreadArrays> thread[2];

    // ---- The scene last prepared ----
    struct Drawn {
        const MeshPart* part;
        const PartPositions* positions;  // none: gathered from the records
        std::size_t vertexCount;         // those a strip entry can name
        std::int64_t triangles;          // walked
        std::uint64_t firstTriangle;     // running number of its first triangle
        std::uint32_t colour;
        float* nearest;                  // its entry in nearestSeen
    };
    bool prepared = false;
    std::vector<Drawn> drawn;  // in the order they are filled
    RotationCoefficients turn;
    ViewMapping mapping;
    int width = 0;
    int height = 0;
    int scale = 1;
    bool edges = false;
    bool edgesPrepared = false;  // edges, as the last Prepare found it
    int members = 1;
    // The first row of the second thread's share, a multiple of kTileSide.
    int split = 0;
    // Per pixel, FrontWord of what it shows. Two threads each fill every triangle into the rows
    // of their own share: as the word decides what shows, not the order of filling, that is the
    // one-thread picture.
    std::vector<std::uint64_t> frontStore;  // with room to align it
    std::uint64_t* front = nullptr;
    std::ptrdiff_t frontStride = 0;
    int tilesAcross = 0;
    std::vector<std::uint64_t> tileLeast;
    std::vector<std::uint8_t> tileWritten;

    // ---- One Draw ----
    const RasterTarget* target = nullptr;
    SpinBarrier* barrier = nullptr;
    std::chrono::steady_clock::time_point drawStart;

    std::size_t BudgetFor(const std::vector<MeshPart>& model) {
        if (!budget) budget = PartCache::BudgetFor(model, WireframeRenderer::kAllowance);
        return *budget;
    }

    void Prepare(const Scene& scene);
    int SplitRow() const;
    void Job(int member);
    // Rows [first, end) of one of two shares.
    int ShareStart(int member) const { return member == 0 ? 0 : split; }
    int ShareEnd(int member) const { return members == 1 || member == 1 ? height : split; }
    float TurnPart(const Drawn& d, ThreadArrays& arrays) const;
    void FillBlocks(const Drawn& d, ThreadArrays& arrays, const ShadedPixels& pixels);
    void FillOne(const ThreadArrays& arrays, int k, const PixelWindow& window, FragmentList& fragments) const;
    // Whether block triangle t, which the small fill leaves, is still to be filled; takes its box.
    static bool TakeLargeFill(ThreadArrays& a, int t) {
        const StripBlock& b = a.block;
        const std::int64_t box = std::int64_t{b.i1[t] - b.i0[t] + 1} * (b.j1[t] - b.j0[t] + 1);
        if (box > a.largeFillLeft) return false;
        a.largeFillLeft -= box;
        return true;
    }
    void MarkEdges(int member, ThreadArrays& arrays) const;
};

void ShadedRenderer::State::Prepare(const Scene& scene) {
    prepared = false;
    drawn.clear();
    const std::vector<std::size_t> positions = ShownListPositions(scene);
    std::vector<const MeshPart*> shown;
    shown.reserve(positions.size());
    for (const std::size_t i : positions) shown.push_back(&(*scene.parts)[i]);

    cache.Keep(shown, BudgetFor(*scene.parts));
    std::vector<PartCache::Work> work;
    work.reserve(shown.size());
    for (const MeshPart* part : shown) work.push_back(cache.Find(*part, /*withEdges=*/false));
    // Many parts new to the cache, as when the renderer is first shown a large model, share
    // their work between both threads.
    const auto fillCache = [](void* context, int) {
        RepeatedEdges unusedRepeated;  // for edge lists, which are not asked for
        static_cast<State*>(context)->cache.Fill(unusedRepeated);
    };
    if (cache.Pending() > 1 && threads > 1 && helper.Start()) {
        helper.RunBoth(fillCache, this);
    } else if (cache.Pending() > 0) {
        fillCache(this, 0);
    }
    cache.Settle();
    turn = RotationCoefficients::For(scene.yaw, scene.pitch);

    std::int64_t triangles = 0;
    std::uint64_t running = 0;
    drawn.reserve(shown.size());
    for (std::size_t k = 0; k < shown.size(); ++k) {
        const MeshPart& part = *shown[k];
        const std::int64_t walked = WalkedTriangles(part.indices);
        const std::size_t vertexCount = std::min(part.vertices.size(), kAddressableVertices);
        const auto [seen, first] = nearestSeen.try_emplace(&part, 0.0f);
        float& nearest = seen->second;
        if (first) nearest = SampledNearest(part, work[k].positions, turn);
        drawn.push_back({&part, work[k].positions, vertexCount, walked, running,
                         ShadedPartColour(positions[k]), &nearest});
        running += static_cast<std::uint64_t>(walked);
        triangles += walked;
    }
    // Nearest first, as far as the last redraw tells, or for a part not drawn before, a few of
    // its vertices.
    std::stable_sort(drawn.begin(), drawn.end(),
                     [](const Drawn& a, const Drawn& b) { return *a.nearest > *b.nearest; });

    const int tileRows = (scene.height + kTileSide - 1) >> kTileShift;
    if (scene.width != width || scene.height != height) rowWork.assign(static_cast<std::size_t>(tileRows), 0);
    width = scene.width;
    height = scene.height;
    const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    frontStride = (width + kFrontAlignment - 1) / kFrontAlignment * kFrontAlignment;
    const std::size_t words = static_cast<std::size_t>(frontStride) * static_cast<std::size_t>(height) + 2 * kFrontAlignment;
    frontStore.resize(words);
    const auto at = reinterpret_cast<std::uintptr_t>(frontStore.data());
    front = frontStore.data() + ((64 - at % 64) % 64) / sizeof(std::uint64_t);
    tilesAcross = (width + kTileSide - 1) >> kTileShift;
    const std::size_t tiles = static_cast<std::size_t>(tilesAcross) * static_cast<std::size_t>(tileRows);
    tileLeast.resize(tiles);
    tileWritten.resize(tiles);
    scale = std::max(1, scene.pixelScale);

    mapping = scene.mapping;

    const bool share = threads > 1 && tileRows > 1 &&
                       (triangles >= kTrianglesForTwoThreads || static_cast<std::int64_t>(pixels) >= kPixelsForTwoThreads);
    members = share && aloneFor == 0 && helper.Start() ? 2 : 1;
    if (share && aloneFor > 0) --aloneFor;
    split = members == 2 ? SplitRow() : height;
    edgesPrepared = edges;
    for (int m = 0; m < members; ++m) {
        if (!thread[m]) {
            thread[m] = std::make_unique<ThreadArrays>();
            thread[m]->Make();
        }
        if (edgesPrepared) {
            const std::size_t across = static_cast<std::size_t>(width) + 2 * static_cast<std::size_t>(scale);
            thread[m]->edgeRows.resize(across * static_cast<std::size_t>(2 * scale + 1));
            thread[m]->noRow.assign(across, ~std::uint32_t{0});
        }
    }
    prepared = true;
}

// Where the first thread's part of the work of the last redraw, and of a little for every row's
// pixels, is done.
int ShadedRenderer::State::SplitRow() const {
    const int tileRows = static_cast<int>(rowWork.size());
    const std::int64_t perRow = std::max<std::int64_t>(1, width / 4);
    std::int64_t total = 0;
    for (const std::int64_t work : rowWork) total += work + perRow;
    const auto part = static_cast<std::int64_t>(static_cast<double>(total) * firstPart);
    std::int64_t done = 0;
    int row = 0;
    while (row < tileRows - 1 && done + rowWork[static_cast<std::size_t>(row)] + perRow <= part) {
        done += rowWork[static_cast<std::size_t>(row)] + perRow;
        ++row;
    }
    return std::clamp(row, 1, tileRows - 1) << kTileShift;
}

// Turns the vertices a strip entry can name, snaps them to the grid and codes them. Returns the
// largest z of those that turned.
float ShadedRenderer::State::TurnPart(const Drawn& d, ThreadArrays& a) const {
    float nearest = -std::numeric_limits<float>::infinity();
    for (std::size_t start = 0; start < d.vertexCount; start += kTurnBlock) {
        const std::size_t n = std::min(kTurnBlock, d.vertexCount - start);
        const float *xs = a.x, *ys = a.y, *zs = a.zs;
        if (d.positions) {
            xs = d.positions->X() + start;
            ys = d.positions->Y() + start;
            zs = d.positions->Z() + start;
        } else {
            GatherCoordinates(d.part->vertices, start, n, a.x, a.y, a.zs);
        }
        double* const px = a.px.data() + start;
        double* const py = a.py.data() + start;
        float* const pz = a.z.data() + start;
        turnBlock(xs, ys, zs, n, turn, mapping, px, py, pz);
        nearest = std::max(nearest, SnapVertices(px, py, pz, n, static_cast<std::int32_t>(start), a.gx.data() + start,
                                                 a.gy.data() + start, a.code.data() + start));
    }
    // Entries past the part's vertices name none.
    if (a.coded > d.vertexCount) {
        std::fill(a.code.begin() + static_cast<std::ptrdiff_t>(d.vertexCount),
                  a.code.begin() + static_cast<std::ptrdiff_t>(a.coded), -1);
    }
    a.coded = d.vertexCount;
    return nearest;
}

// Fills triangle k of the kept ones that the small fill leaves: one at a time, through the
// fragment list, clipped first where a corner lies beyond the guard band.
void ShadedRenderer::State::FillOne(const ThreadArrays& a, int k, const PixelWindow& window,
                                    FragmentList& fragments) const {
    const ShadedTriangle triangle{a.corners.x[0][k], a.corners.y[0][k], a.shading.dzdx[k], a.shading.dzdy[k],
                                  a.corners.z[0][k], a.shading.zMin[k], a.shading.zMax[k], a.shading.colour[k],
                                  a.fills.number[k]};
    if (!a.fills.beyondGuard[k]) {
        fill(triangle, {a.fills.ax[k], a.fills.ay[k]}, {a.fills.bx[k], a.fills.by[k]}, {a.fills.cx[k], a.fills.cy[k]},
             fragments);
        return;
    }
    const double gx[3] = {ToGrid(a.corners.x[0][k]), ToGrid(a.corners.x[1][k]), ToGrid(a.corners.x[2][k])};
    const double gy[3] = {ToGrid(a.corners.y[0][k]), ToGrid(a.corners.y[1][k]), ToGrid(a.corners.y[2][k])};
    FillGridTriangle(gx, gy, window, [&](int j, int first, int last) { AddShadedSpan(triangle, fragments, j, first, last); });
}

// Fills the triangles of the part's strip that cover centres of the pixels' rows.
void ShadedRenderer::State::FillBlocks(const Drawn& d, ThreadArrays& a, const ShadedPixels& pixels) {
    const IndexList& indices = d.part->indices;
    const unsigned char* const stored = indices.StoredData();
    const PixelWindow window = pixels.Window();
    const std::int32_t* const code = a.code.data();
    const std::int32_t* const gx = a.gx.data();
    const std::int32_t* const gy = a.gy.data();
    const float* const z = a.z.data();
    const double* const px = a.px.data();
    const double* const py = a.py.data();
    const std::uint64_t* const least = pixels.tileLeast;
    const int across = pixels.tilesAcross;
    const bool shared = window.firstRow > 0 || window.height < height;

    for (std::int64_t start = 0; start < d.triangles; start += kStripBlock) {
        const int count = static_cast<int>(std::min(kStripBlock, d.triangles - start));
        // The block's entries, and for each what its vertex tells.
        StripBlock& b = a.block;
        const auto take = [&](int p, std::uint16_t entry) {
            b.entry[p] = entry;
            b.code[p] = code[entry];
            b.gx[p] = gx[entry];
            b.gy[p] = gy[entry];
            b.z[p] = z[entry];
        };
        if (static_cast<std::size_t>(start + count + 2) * 2 <= indices.StoredBytes()) [[likely]] {
            if (shared) {
                // A block whose vertices all lie above or below the rows is left to the other
                // thread after a glance at their rows, unless a vertex lies beyond the guard band.
                std::int32_t low = std::numeric_limits<std::int32_t>::max(), high = std::numeric_limits<std::int32_t>::min();
                std::int32_t beyond = 0;
                for (int p = 0; p < count + 2; ++p) {
                    std::uint16_t entry;
                    std::memcpy(&entry, stored + (start + p) * 2, 2);
                    const std::int32_t y = gy[entry], c = code[entry];
                    low = std::min(low, y);
                    high = std::max(high, y);
                    beyond |= c & ~(c >> 31);
                }
                if ((beyond & kBeyondGuard) == 0 && ((high >> 8) < window.firstRow || ((low + 255) >> 8) >= window.height)) {
                    continue;
                }
            }
            for (int p = 0; p < count + 2; ++p) {
                std::uint16_t entry;
                std::memcpy(&entry, stored + (start + p) * 2, 2);
                take(p, entry);
            }
        } else {
            for (int p = 0; p < count + 2; ++p) take(p, static_cast<std::uint16_t>(indices[static_cast<std::size_t>(start + p)]));
        }
        MarkWorthFilling(b, count, width, window.firstRow, window.height);
        int worthy = 0;
        for (int t = 0; t < count; ++t) {
            a.worthy[worthy] = t;
            worthy += b.worth[t];
        }
        if (worthy == 0) continue;
        // Then those of them not hidden behind what the parts filled before show in their box,
        // as the tiles tell: filling the nearest parts first leaves most triangles of a dense
        // model here. A box in at most two by two tiles, as nearly all are, is tested without a
        // branch, and against its nearest z alone: a word of the tile's key above that is
        // larger whatever the number. Where the test keeps finding triangles in front, only
        // every eighth is tested, until one is found hidden again.
        int kept = 0;
        for (int k = 0; k < worthy; ++k) {
            const int t = a.worthy[k];
            bool visible = true;
            if (a.foundInFront < kInFrontBeforeSparseTests || (k & 7) == 0) {
                const std::uint64_t word = FrontWord(b.nearest[t], ~std::uint32_t{0});
                const int tx0 = b.i0[t] >> kTileShift, tx1 = b.i1[t] >> kTileShift;
                const int ty0 = b.j0[t] >> kTileShift, ty1 = b.j1[t] >> kTileShift;
                if ((tx1 - tx0 <= 1) & (ty1 - ty0 <= 1) & !b.beyondGuard[t]) [[likely]] {
                    const std::uint64_t* const top = least + ty0 * across;
                    const std::uint64_t* const bottom = least + ty1 * across;
                    const std::uint64_t topLeast = std::min(top[tx0], top[tx1]);
                    const std::uint64_t bottomLeast = std::min(bottom[tx0], bottom[tx1]);
                    visible = std::min(topLeast, bottomLeast) <= word;
                } else {
                    const int tiles = (tx1 - tx0 + 1) * (ty1 - ty0 + 1);
                    visible = b.beyondGuard[t] || tiles > kHiddenTestTiles ||
                              !HiddenIn(pixels, CentreBox{b.i0[t], b.i1[t], b.j0[t], b.j1[t]}, word);
                }
                a.foundInFront = visible ? a.foundInFront + 1 : 0;
            }
            a.kept[kept] = t;
            kept += visible;
        }
        if (kept == 0) continue;
        // The block's work, for the share of the next redraw: counted where its middle
        // triangle lies.
        rowWork[static_cast<std::size_t>(b.j0[a.worthy[worthy / 2]] >> kTileShift)] += worthy + 8 * kept;

        const std::uint64_t firstNumber = d.firstTriangle + static_cast<std::uint64_t>(start);
        for (int k = 0; k < kept; ++k) {
            const int t = a.kept[k];
            a.fills.number[k] = TriangleNumber(firstNumber + static_cast<std::uint64_t>(t));
            const int e[3] = {b.entry[t], b.entry[t + 1], b.entry[t + 2]};
            for (int n = 0; n < 3; ++n) {
                a.corners.x[n][k] = px[e[n]];
                a.corners.y[n][k] = py[e[n]];
                a.corners.z[n][k] = z[e[n]];
            }
            // A corner beyond the guard band has no grid point: such a triangle is not small.
            const bool beyond = b.beyondGuard[t] != 0;
            a.fills.beyondGuard[k] = static_cast<std::uint8_t>(beyond);
            a.fills.ax[k] = b.gx[t];
            a.fills.ay[k] = b.gy[t];
            a.fills.bx[k] = beyond ? 1 << 29 : b.gx[t + 1];
            a.fills.by[k] = beyond ? 1 << 29 : b.gy[t + 1];
            a.fills.cx[k] = b.gx[t + 2];
            a.fills.cy[k] = b.gy[t + 2];
        }
        ShadeTriangles(a.corners, kept, d.colour, mapping.scaleX, mapping.scaleY, a.shading);

        if (smallFill) {
            SetUpSmallFills(a.fills, kept, window, a.corners, a.shading);
            smallFill(a.corners, a.shading, a.fills, kept, pixels);
            for (int k = 0; k < kept; ++k) {
                if (a.fills.kind[k] == kOneByOne && TakeLargeFill(a, a.kept[k])) [[unlikely]] {
                    FillOne(a, k, window, a.fragments);
                }
            }
        } else {
            SmallCoverage& c = a.coverage;
            std::copy_n(a.fills.ax, kept, c.ax);
            std::copy_n(a.fills.ay, kept, c.ay);
            std::copy_n(a.fills.bx, kept, c.bx);
            std::copy_n(a.fills.by, kept, c.by);
            std::copy_n(a.fills.cx, kept, c.cx);
            std::copy_n(a.fills.cy, kept, c.cy);
            CoverSmallTriangles(c, kept, window);
            for (int k = 0; k < kept; ++k) {
                if (c.small[k]) [[likely]] {
                    const ShadedTriangle triangle{a.corners.x[0][k], a.corners.y[0][k], a.shading.dzdx[k],
                                                  a.shading.dzdy[k], a.corners.z[0][k], a.shading.zMin[k],
                                                  a.shading.zMax[k], a.shading.colour[k], a.fills.number[k]};
                    FillSmallTriangle(triangle, c.covered[k], c.i0[k], c.j0[k], pixels);
                } else if (TakeLargeFill(a, a.kept[k])) {
                    FillOne(a, k, window, a.fragments);
                }
            }
        }
        a.fragments.Resolve();
    }
}

// A covered pixel turns black where a pixel within `scale` steps left, right, above or below
// shows a triangle with a smaller number, or none; pixels beyond the picture do not count.
void ShadedRenderer::State::MarkEdges(int member, ThreadArrays& a) const {
    const RasterTarget& picture = *target;
    const std::size_t across = static_cast<std::size_t>(width) + 2 * static_cast<std::size_t>(scale);
    const int ring = 2 * scale + 1;
    // The numbers of row r, `scale` into its slot; rows are worked out as the pass reaches them.
    const auto slot = [&](int r) { return a.edgeRows.data() + static_cast<std::size_t>(r % ring) * across + scale; };
    const auto rowAt = [&](int r) -> const std::uint32_t* {
        return r < 0 || r >= height ? a.noRow.data() + scale : slot(r);
    };
    const auto work = [&](int r) {
        if (r < 0 || r >= height) return;
        std::uint32_t* const numbers = slot(r);
        RowNumbers(front + r * frontStride, width, numbers);
        std::fill(numbers - scale, numbers, ~std::uint32_t{0});
        std::fill(numbers + width, numbers + width + scale, ~std::uint32_t{0});
    };
    const int first = ShareStart(member), end = ShareEnd(member);
    for (int r = first - scale; r < first + scale; ++r) work(r);
    for (int j = first; j < end; ++j) {
        work(j + scale);
        std::uint32_t* const out = picture.pixels + static_cast<std::ptrdiff_t>(j) * picture.stride;
        for (int step = 1; step <= scale; ++step) PaintEdges(rowAt(j), rowAt(j - step), rowAt(j + step), width, step, out);
    }
}

namespace {

// The time this thread has run on a core.
std::chrono::nanoseconds ThreadTime() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

}  // namespace

void ShadedRenderer::State::Job(int member) {
    const auto ran = members == 2 ? ThreadTime() : std::chrono::nanoseconds{};
    ThreadArrays& arrays = *thread[member];
    const int firstRow = ShareStart(member), endRow = ShareEnd(member);
    const int firstTileRow = firstRow >> kTileShift, endTileRow = (endRow + kTileSide - 1) >> kTileShift;
    const ShadedPixels picture{front,      frontStride, target->pixels, target->stride, width, endRow,
                               tileLeast.data(), tileWritten.data(), tilesAcross, firstRow};
    const auto tile = [&](int row) { return static_cast<std::ptrdiff_t>(row) * tilesAcross; };
    std::fill(tileLeast.begin() + tile(firstTileRow), tileLeast.begin() + tile(endTileRow), std::uint64_t{0});
    std::fill(tileWritten.begin() + tile(firstTileRow), tileWritten.begin() + tile(endTileRow), std::uint8_t{0});
    std::fill(rowWork.begin() + firstTileRow, rowWork.begin() + endTileRow, std::int64_t{0});
    // The last share also clears the run of words after the last row.
    std::fill(front + firstRow * frontStride, front + endRow * frontStride + (endRow == height ? kFrontAlignment : 0),
              std::uint64_t{0});
    arrays.fragments.pixels = picture;
    arrays.largeFillLeft = kLargeFillsPerPixel * width * (endRow - firstRow) + kLargeFillAllowance;
    for (const Drawn& d : drawn) {
        const float nearest = TurnPart(d, arrays);
        if (member == 0) *d.nearest = nearest;
        FillBlocks(d, arrays, picture);
        // What the part drew hides triangles of the parts after it.
        if (&d != &drawn.back()) RefreshTiles(picture);
    }
    if (members == 2) filling[member] = ThreadTime() - ran;
    if (edgesPrepared) {
        barrier->Wait();  // the rows beside a share are the other thread's
        MarkEdges(member, arrays);
    }
    if (member == 1) {
        // How long the redraw waited for the helper beyond its work: until it started, and
        // while it had lost its core.
        const auto now = std::chrono::steady_clock::now();
        helperLost = (now - drawStart) - (ThreadTime() - ran);
    }
}

ShadedRenderer::ShadedRenderer(int threads) : state_(std::make_unique<State>(threads)) {}

ShadedRenderer::~ShadedRenderer() = default;

bool ShadedRenderer::Prepare(const Scene& scene) {
    State& s = *state_;
    s.prepared = false;
    if (!scene.parts || scene.width < 0 || scene.height < 0 || scene.width > kMaxShadedSide ||
        scene.height > kMaxShadedSide) {
        return false;
    }
    try {
        s.Prepare(scene);
    } catch (const std::bad_alloc&) {
        s.cache.Clear();
        s.drawn.clear();
        return false;
    }
    return true;
}

void ShadedRenderer::Draw(const RasterTarget& target) {
    State& s = *state_;
    if (!s.prepared || target.width != s.width || target.height != s.height) return;
    if (s.width == 0 || s.height == 0) return;
    SpinBarrier barrier(s.members);
    s.barrier = &barrier;
    s.target = &target;
    if (s.members == 2) {
        s.drawStart = std::chrono::steady_clock::now();
        s.helper.RunBoth([](void* context, int member) { static_cast<State*>(context)->Job(member); }, &s);
        if (s.helperLost * 2 > std::chrono::steady_clock::now() - s.drawStart) {
            s.aloneFor = 10;
        } else {
            // Half the difference moved to the other thread: the work both do for every
            // triangle, whatever its rows, makes the difference in time smaller than that of
            // the rows' work.
            const double first = static_cast<double>(s.filling[0].count()), second = static_cast<double>(s.filling[1].count());
            if (first + second > 0) s.firstPart = std::clamp(s.firstPart - 0.5 * (first - second) / (first + second), 0.05, 0.95);
        }
    } else {
        s.Job(0);
    }
    s.barrier = nullptr;
    s.target = nullptr;
}

void ShadedRenderer::ModelChanged() {
    state_->cache.Clear();
    state_->budget.reset();
    state_->nearestSeen.clear();
    state_->drawn.clear();
    state_->prepared = false;
}

void ShadedRenderer::SetThreads(int threads) { state_->threads = threads; }

void ShadedRenderer::SetEdges(bool edges) { state_->edges = edges; }

bool ShadedRenderer::Edges() const { return state_->edges; }

bool DrawShaded(const Scene& scene, const RasterTarget& target, bool edges, int threads) {
    ShadedRenderer renderer(threads);
    renderer.SetEdges(edges);
    Scene sized = scene;
    sized.width = target.width;
    sized.height = target.height;
    return renderer.Render(sized, target);
}

}  // namespace trenn
