#include "render/shaded.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstring>
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
// Larger triangles whose rows are fetched ahead of filling them.
constexpr int kFetchAhead = 6;
// After this many triangles found in front in a row, only every eighth is tested.
constexpr int kInFrontBeforeSparseTests = 16;

// A vertex code: its number, marked when it lies beyond the guard band; -1 when it cannot be
// drawn (its turn faulted, or its position is not finite), and for a strip entry that names no
// vertex of the part.
constexpr std::int32_t kBeyondGuard = 1 << 30;
// A code's vertex number; -1 gives the last vertex, a harmless place to read from.
constexpr std::int32_t kVertexBits = 0x7FFF;

// Triangle numbers run through the strips in list order, from 1; past 2^32 - 1 they start again.
std::uint32_t TriangleNumber(std::uint64_t running) {
    return static_cast<std::uint32_t>(running % 0xFFFFFFFFu) + 1;
}

// One block of a strip: per entry its code and what its vertex tells of a box and of z; per
// triangle whether it is worth a closer look, its box and its nearest z.
struct StripBlock {
    std::int32_t code[kStripBlock + 2];
    std::int32_t firstColumn[kStripBlock + 2], lastColumn[kStripBlock + 2];
    std::int32_t firstRow[kStripBlock + 2], lastRow[kStripBlock + 2];
    float z[kStripBlock + 2];

    std::uint8_t worth[kStripBlock];
    std::int32_t i0[kStripBlock], i1[kStripBlock], j0[kStripBlock], j1[kStripBlock];
    float nearest[kStripBlock];
};

// Marks the triangles of a block worth a closer look: three different vertices that turned,
// and a pixel centre of the picture in their box (a vertex beyond the guard band gives the
// whole picture as its box). Branch-free over arrays, so that it vectorises.
TRENN_VECTOR_CLONES void MarkWorthFilling(StripBlock& b, int count) {
    const auto less = [](std::int32_t p, std::int32_t q) { return p < q ? p : q; };
    const auto more = [](std::int32_t p, std::int32_t q) { return p > q ? p : q; };
    for (int t = 0; t < count; ++t) {
        const std::int32_t ca = b.code[t], cb = b.code[t + 1], cc = b.code[t + 2];
        const bool drawable = ((ca | cb | cc) >= 0) & (ca != cb) & (cb != cc) & (ca != cc);
        const std::int32_t i0 = less(b.firstColumn[t], less(b.firstColumn[t + 1], b.firstColumn[t + 2]));
        const std::int32_t i1 = more(b.lastColumn[t], more(b.lastColumn[t + 1], b.lastColumn[t + 2]));
        const std::int32_t j0 = less(b.firstRow[t], less(b.firstRow[t + 1], b.firstRow[t + 2]));
        const std::int32_t j1 = more(b.lastRow[t], more(b.lastRow[t + 1], b.lastRow[t + 2]));
        const float zab = b.z[t] > b.z[t + 1] ? b.z[t] : b.z[t + 1];
        b.worth[t] = static_cast<std::uint8_t>(drawable & (i0 <= i1) & (j0 <= j1));
        b.i0[t] = i0;
        b.i1[t] = i1;
        b.j0[t] = j0;
        b.j1[t] = j1;
        b.nearest[t] = b.z[t + 2] > zab ? b.z[t + 2] : zab;
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
    int threads = 1;
    // When the other core is busy, the helper reaches the merge late and the redraw waits for
    // it; after a redraw that spent half its time so, the next ten are drawn alone.
    int aloneFor = 0;
    std::chrono::steady_clock::duration waited{};
    // The largest z of each part at the last redraw: the next one fills the nearest parts
    // first, so that most triangles behind them are found hidden before any work.
    std::map<const MeshPart*, float> nearestSeen;

    // What one thread works in, made once, so that drawing allocates nothing: per vertex of the
    // part being filled, its pixel position, turned z, snapped grid point and what it tells of
    // a box; per strip entry of a block, its code and box values.
    struct ThreadArrays {
        std::vector<double> px, py;
        std::vector<float> z;
        std::vector<GridPoint> grid;
        std::vector<CornerBox> corner;
        // The code of every strip entry, read as unsigned: entries [0, coded) may name vertices.
        std::vector<std::int32_t> codeOfEntry;
        std::size_t coded = 0;
        StripBlock block;
        std::int32_t kept[kStripBlock];  // the block's triangles that may cover a pixel centre
        TriangleCorners corners;         // theirs
        TriangleShading shading;
        SmallCoverage coverage;
        FragmentList fragments;
        int foundInFront = 0;  // triangles the hidden test found in front since it last found one hidden
        float x[kTurnBlock], y[kTurnBlock], zs[kTurnBlock];  // coordinates not kept

        void Make() {
            px.resize(kAddressableVertices);
            py.resize(kAddressableVertices);
            z.resize(kAddressableVertices);
            grid.resize(kAddressableVertices);
            corner.resize(kAddressableVertices);
            codeOfEntry.assign(std::size_t{1} << 16, -1);
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
    int members = 1;
    // Per pixel, FrontWord of what it shows. The second thread fills half of every strip into
    // pictures of its own, merged into the first one's at the end: as the word decides what
    // shows, not the order of filling, that is the one-thread picture.
    std::vector<std::uint64_t> frontStore, secondFrontStore;  // with room to align them
    std::uint64_t* front = nullptr;
    std::uint64_t* secondFront = nullptr;
    std::ptrdiff_t frontStride = 0;
    std::vector<std::uint32_t> secondColours;
    int tilesAcross = 0;
    std::vector<std::uint64_t> tileLeast[2];
    std::vector<std::uint8_t> tileWritten[2];

    // ---- One Draw ----
    const RasterTarget* target = nullptr;
    SpinBarrier* barrier = nullptr;

    std::size_t BudgetFor(const std::vector<MeshPart>& model) {
        if (!budget) budget = PartCache::BudgetFor(model, WireframeRenderer::kAllowance);
        return *budget;
    }

    void Prepare(const Scene& scene);
    void Job(int member);
    // Rows [first, last) of one of two shares.
    int ShareStart(int member) const { return member == 0 ? 0 : height / 2; }
    int ShareEnd(int member) const { return members == 1 || member == 1 ? height : height / 2; }
    float TurnPart(const Drawn& d, ThreadArrays& arrays) const;
    void FillBlocks(const Drawn& d, std::int64_t firstBlock, std::int64_t lastBlock, ThreadArrays& arrays,
                    const ShadedPixels& pixels);
    void Merge(int member);
    void MarkEdges(int member) const;
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
    if (cache.Pending() > 0) {
        RepeatedEdges unusedRepeated;  // for edge lists, which are not asked for
        cache.Fill(unusedRepeated);
    }
    cache.Settle();

    std::int64_t triangles = 0;
    std::uint64_t running = 0;
    drawn.reserve(shown.size());
    for (std::size_t k = 0; k < shown.size(); ++k) {
        const MeshPart& part = *shown[k];
        const std::int64_t walked = WalkedTriangles(part.indices);
        const std::size_t vertexCount = std::min(part.vertices.size(), kAddressableVertices);
        float& nearest = nearestSeen.try_emplace(&part, std::numeric_limits<float>::infinity()).first->second;
        drawn.push_back({&part, work[k].positions, vertexCount, walked, running,
                         ShadedPartColour(positions[k]), &nearest});
        running += static_cast<std::uint64_t>(walked);
        triangles += walked;
    }
    // Nearest first, as far as the last redraw tells; parts not drawn before come first.
    std::stable_sort(drawn.begin(), drawn.end(),
                     [](const Drawn& a, const Drawn& b) { return *a.nearest > *b.nearest; });

    width = scene.width;
    height = scene.height;
    const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    frontStride = (width + kFrontAlignment - 1) / kFrontAlignment * kFrontAlignment;
    const std::size_t words = static_cast<std::size_t>(frontStride) * static_cast<std::size_t>(height) + 2 * kFrontAlignment;
    const auto aligned = [](std::vector<std::uint64_t>& store) {
        const auto at = reinterpret_cast<std::uintptr_t>(store.data());
        return store.data() + ((64 - at % 64) % 64) / sizeof(std::uint64_t);
    };
    frontStore.resize(words);
    front = aligned(frontStore);
    tilesAcross = (width + kTileSide - 1) >> kTileShift;
    const std::size_t tiles = static_cast<std::size_t>(tilesAcross) * static_cast<std::size_t>((height + kTileSide - 1) >> kTileShift);
    scale = std::max(1, scene.pixelScale);

    turn = RotationCoefficients::For(scene.yaw, scene.pitch);
    mapping = scene.mapping;

    const bool share = threads > 1 && (triangles >= kTrianglesForTwoThreads ||
                                       static_cast<std::int64_t>(pixels) >= kPixelsForTwoThreads);
    members = share && aloneFor == 0 && helper.Start() ? 2 : 1;
    if (share && aloneFor > 0) --aloneFor;
    for (int m = 0; m < members; ++m) {
        tileLeast[m].resize(tiles);
        tileWritten[m].resize(tiles);
    }
    if (members == 2) {
        secondFrontStore.resize(words);
        secondFront = aligned(secondFrontStore);
        secondColours.resize(pixels);
    }
    for (int m = 0; m < members; ++m) {
        if (thread[m]) continue;
        thread[m] = std::make_unique<ThreadArrays>();
        thread[m]->Make();
    }
    prepared = true;
}

// Turns the vertices a strip entry can name, snaps them to the grid and codes them. Returns the
// largest z of those that turned.
float ShadedRenderer::State::TurnPart(const Drawn& d, ThreadArrays& a) const {
    const PixelWindow window{width, height};
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
        GridPoint* const grid = a.grid.data() + start;
        CornerBox* const corner = a.corner.data() + start;
        std::int32_t* const code = a.codeOfEntry.data() + start;
        for (std::size_t i = 0; i < n; ++i) {
            const double gx = ToGrid(px[i]), gy = ToGrid(py[i]);
            const bool finite = std::isfinite(px[i]) && std::isfinite(py[i]);
            const bool inside = InsideGuard(gx, gy);
            // Only values inside the band reach the conversion to integers.
            grid[i] = Snap(inside ? gx : 0.0, inside ? gy : 0.0);
            // A corner beyond the band could lie anywhere: its box is the whole picture.
            corner[i] = inside ? CornerBoxOf(grid[i], window) : CornerBox{0, width - 1, 0, height - 1};
            const auto number = static_cast<std::int32_t>(start + i);
            code[i] = !finite ? -1 : inside ? number : number | kBeyondGuard;
            nearest = finite && pz[i] > nearest ? pz[i] : nearest;
        }
    }
    // Entries past the part's vertices name none.
    if (a.coded > d.vertexCount) {
        std::fill(a.codeOfEntry.begin() + static_cast<std::ptrdiff_t>(d.vertexCount),
                  a.codeOfEntry.begin() + static_cast<std::ptrdiff_t>(a.coded), -1);
    }
    a.coded = d.vertexCount;
    return nearest;
}

// Fills triangles of blocks [firstBlock, lastBlock) of the part's strip, in strip order.
void ShadedRenderer::State::FillBlocks(const Drawn& d, std::int64_t firstBlock, std::int64_t lastBlock,
                                       ThreadArrays& a, const ShadedPixels& pixels) {
    const IndexList& indices = d.part->indices;
    const unsigned char* const stored = indices.StoredData();
    const std::int32_t* const codeOfEntry = a.codeOfEntry.data();
    const GridPoint* const grid = a.grid.data();
    const CornerBox* const corner = a.corner.data();
    const PixelWindow window{width, height};

    for (std::int64_t block = firstBlock; block < lastBlock; ++block) {
        const std::int64_t start = block * kStripBlock;
        const int count = static_cast<int>(std::min(kStripBlock, d.triangles - start));
        // The block's entries, and for each what its vertex tells of a box.
        StripBlock& b = a.block;
        const auto take = [&](int p, std::uint16_t entry) {
            const std::int32_t code = codeOfEntry[entry];
            const CornerBox& box = corner[code & kVertexBits];
            b.code[p] = code;
            b.firstColumn[p] = box.firstColumn;
            b.lastColumn[p] = box.lastColumn;
            b.firstRow[p] = box.firstRow;
            b.lastRow[p] = box.lastRow;
            b.z[p] = a.z[code & kVertexBits];
        };
        if (static_cast<std::size_t>(start + count + 2) * 2 <= indices.StoredBytes()) [[likely]] {
            for (int p = 0; p < count + 2; ++p) {
                std::uint16_t entry;
                std::memcpy(&entry, stored + (start + p) * 2, 2);
                take(p, entry);
            }
        } else {
            for (int p = 0; p < count + 2; ++p) take(p, static_cast<std::uint16_t>(indices[static_cast<std::size_t>(start + p)]));
        }
        MarkWorthFilling(b, count);
        int worth = 0;
        for (int t = 0; t < count; ++t) {
            a.kept[worth] = t;
            worth += b.worth[t];
        }
        // Then those of them not hidden behind what the parts filled before show in their box, as
        // the tiles tell. Filling the nearest parts first leaves most triangles
        // of a dense model here. Where the test keeps finding triangles in front, only every
        // eighth is tested, until one is found hidden again.
        int kept = 0;
        for (int k = 0; k < worth; ++k) {
            const int t = a.kept[k];
            bool visible = true;
            const bool test = a.foundInFront < kInFrontBeforeSparseTests || (k & 7) == 0;
            const CentreBox box{b.i0[t], b.i1[t], b.j0[t], b.j1[t]};
            const int tiles = ((box.i1 >> kTileShift) - (box.i0 >> kTileShift) + 1) *
                              ((box.j1 >> kTileShift) - (box.j0 >> kTileShift) + 1);
            if (test && tiles <= kHiddenTestTiles && ((b.code[t] | b.code[t + 1] | b.code[t + 2]) & kBeyondGuard) == 0) {
                const std::uint32_t number = TriangleNumber(d.firstTriangle + static_cast<std::uint64_t>(start + t));
                visible = !HiddenIn(pixels, box, FrontWord(b.nearest[t], number));
                a.foundInFront = visible ? a.foundInFront + 1 : 0;
            }
            a.kept[kept] = t;
            kept += visible;
        }

        for (int k = 0; k < kept; ++k) {
            const int t = a.kept[k];
            const std::int32_t v[3] = {b.code[t] & kVertexBits, b.code[t + 1] & kVertexBits, b.code[t + 2] & kVertexBits};
            for (int n = 0; n < 3; ++n) {
                a.corners.x[n][k] = a.px[v[n]];
                a.corners.y[n][k] = a.py[v[n]];
                a.corners.z[n][k] = a.z[v[n]];
            }
            // A corner beyond the guard band has no grid point: such a triangle is not small.
            const bool far = ((b.code[t] | b.code[t + 1] | b.code[t + 2]) & kBeyondGuard) != 0;
            const GridPoint pa = grid[v[0]], pb = far ? GridPoint{1 << 29, 1 << 29} : grid[v[1]], pc = grid[v[2]];
            a.coverage.ax[k] = pa.x;
            a.coverage.ay[k] = pa.y;
            a.coverage.bx[k] = pb.x;
            a.coverage.by[k] = pb.y;
            a.coverage.cx[k] = pc.x;
            a.coverage.cy[k] = pc.y;
        }
        ShadeTriangles(a.corners, kept, d.colour, mapping.scaleX, mapping.scaleY, a.shading);
        CoverSmallTriangles(a.coverage, kept, window);

        for (int k = 0; k < kept; ++k) {
            const int t = a.kept[k];
            const std::int32_t ca = b.code[t], cb = b.code[t + 1], cc = b.code[t + 2];
            if (k + kFetchAhead < kept && !a.coverage.small[k + kFetchAhead]) {
                // The rows of a larger triangle a few on are fetched while these are filled: in a
                // large picture, filling waits mostly for lines of the words not touched before.
                const int ahead = a.kept[k + kFetchAhead];
                for (int j = b.j0[ahead]; j <= b.j1[ahead]; ++j) {
                    __builtin_prefetch(pixels.front + j * pixels.frontStride + b.i0[ahead], 1);
                    __builtin_prefetch(pixels.front + j * pixels.frontStride + b.i1[ahead], 1);
                }
            }
            const ShadedTriangle triangle{a.corners.x[0][k], a.corners.y[0][k], a.shading.dzdx[k], a.shading.dzdy[k],
                                          a.corners.z[0][k], a.shading.zMin[k], a.shading.zMax[k], a.shading.colour[k],
                                          TriangleNumber(d.firstTriangle + static_cast<std::uint64_t>(start + t))};
            const int va = ca & kVertexBits, vb = cb & kVertexBits, vc = cc & kVertexBits;
            if (a.coverage.small[k]) [[likely]] {
                FillSmallTriangle(triangle, a.coverage.covered[k], a.coverage.i0[k], a.coverage.j0[k], pixels);
            } else if (((ca | cb | cc) & kBeyondGuard) == 0) {
                fill(triangle, grid[va], grid[vb], grid[vc], a.fragments);
            } else {
                const double gx[3] = {ToGrid(a.px[va]), ToGrid(a.px[vb]), ToGrid(a.px[vc])};
                const double gy[3] = {ToGrid(a.py[va]), ToGrid(a.py[vb]), ToGrid(a.py[vc])};
                FillGridTriangle(gx, gy, window, [&](int j, int first, int last) {
                    AddShadedSpan(triangle, a.fragments, j, first, last);
                });
            }
        }
        a.fragments.Resolve();
    }
}

// The second thread's picture into the first's, over rows of one share.
void ShadedRenderer::State::Merge(int member) {
    for (int j = ShareStart(member); j < ShareEnd(member); ++j) {
        std::uint64_t* const mine = front + j * frontStride;
        const std::uint64_t* const other = secondFront + j * frontStride;
        const std::uint32_t* const otherColours = secondColours.data() + static_cast<std::size_t>(j) * width;
        std::uint32_t* const out = target->pixels + j * target->stride;
        for (int i = 0; i < width; ++i) {
            if (other[i] > mine[i]) {
                mine[i] = other[i];
                out[i] = otherColours[i];
            }
        }
    }
}

// A covered pixel turns black where a pixel within `scale` steps left, right, above or below
// shows a triangle with a smaller number, or none.
void ShadedRenderer::State::MarkEdges(int member) const {
    const RasterTarget& picture = *target;
    const auto number = [](std::uint64_t word) { return static_cast<std::uint32_t>(word); };
    for (int j = ShareStart(member); j < ShareEnd(member); ++j) {
        const std::uint64_t* const row = front + j * frontStride;
        std::uint32_t* const out = picture.pixels + static_cast<std::ptrdiff_t>(j) * picture.stride;
        for (int i = 0; i < width; ++i) {
            const std::uint32_t id = number(row[i]);
            if (id == 0) continue;
            bool edge = false;
            for (int step = 1; step <= scale && !edge; ++step) {
                const std::ptrdiff_t down = step * frontStride;
                edge = (i >= step && number(row[i - step]) < id) ||
                       (i + step < width && number(row[i + step]) < id) ||
                       (j >= step && number(row[i - down]) < id) ||
                       (j + step < height && number(row[i + down]) < id);
            }
            if (edge) out[i] = kEdgeColour;
        }
    }
}

void ShadedRenderer::State::Job(int member) {
    ThreadArrays& arrays = *thread[member];
    const ShadedPixels picture{member == 0 ? front : secondFront,
                               frontStride,
                               member == 0 ? target->pixels : secondColours.data(),
                               member == 0 ? target->stride : width,
                               width,
                               height,
                               tileLeast[member].data(),
                               tileWritten[member].data(),
                               tilesAcross};
    std::fill(tileLeast[member].begin(), tileLeast[member].end(), std::uint64_t{0});
    std::fill(tileWritten[member].begin(), tileWritten[member].end(), std::uint8_t{0});
    std::fill_n(picture.front, static_cast<std::size_t>(frontStride) * static_cast<std::size_t>(height) + kFrontAlignment,
                std::uint64_t{0});
    arrays.fragments.pixels = picture;
    for (const Drawn& d : drawn) {
        const float nearest = TurnPart(d, arrays);
        if (member == 0) *d.nearest = nearest;
        // The first thread fills the first half of the strip's blocks, the second the rest.
        const std::int64_t blocks = (d.triangles + kStripBlock - 1) / kStripBlock;
        const std::int64_t half = members == 1 ? blocks : blocks / 2;
        FillBlocks(d, member == 0 ? 0 : half, member == 0 ? half : blocks, arrays, picture);
        // What the part drew hides triangles of the parts after it.
        if (&d != &drawn.back()) RefreshTiles(picture);
    }
    if (members == 2) {
        const auto start = std::chrono::steady_clock::now();
        barrier->Wait();
        if (member == 0) waited = std::chrono::steady_clock::now() - start;
        Merge(member);
    }
    if (edges) {
        barrier->Wait();  // the rows beside a share are the other thread's
        MarkEdges(member);
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
        s.waited = {};
        const auto start = std::chrono::steady_clock::now();
        s.helper.RunBoth([](void* context, int member) { static_cast<State*>(context)->Job(member); }, &s);
        if (s.waited * 2 > std::chrono::steady_clock::now() - start) s.aloneFor = 10;
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
