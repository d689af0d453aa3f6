#include "render/wireframe.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <system_error>
#include <thread>
#include <unordered_set>

#include "render/rotation.h"

namespace trenn {
namespace {

constexpr double kFaulted = std::numeric_limits<double>::quiet_NaN();

// Vertices are turned, converted and dotted a block at a time, so that the block's arrays stay
// in the first-level cache between the steps.
constexpr std::size_t kVertexBlock = 256;
// Strip triangles handled per round of the edge walk, for the same reason.
constexpr std::int64_t kTriangleBlock = 1024;

// Wider vectors where the processor has them. No floating-point operation here traps or reads
// the exception flags, so the compiler may run them unconditionally, which it needs in order to
// vectorise loops with selections; the results are the same IEEE results.
#if defined(__GNUC__) && defined(__x86_64__) && !defined(__clang__)
#define TRENN_VECTOR_CLONES \
    __attribute__((target_clones("arch=x86-64-v4", "avx2", "default"), optimize("no-trapping-math")))
#elif defined(__GNUC__) && !defined(__clang__)
#define TRENN_VECTOR_CLONES __attribute__((optimize("no-trapping-math")))
#else
#define TRENN_VECTOR_CLONES
#endif

// TurnVertex and the view mapping for a block, branch-free so that it vectorises: the same
// double products and sums, rounded to single at the same steps. Pixel x is NaN where the
// rotation faults. Every operation runs on every lane (values that would overflow a single are
// replaced before the conversions) and only the results are selected: the compiler does not
// vectorise arithmetic that runs under a condition. Returns how many faulted.
TRENN_VECTOR_CLONES
std::size_t TurnBlock(const float* xs, const float* ys, const float* zs, std::size_t count,
               const RotationCoefficients& turn, const ViewMapping& mapping, double* px,
               double* py) {
    constexpr double kSingleOverflow = 0x1.ffffffp127;
    const double cosYaw = turn.cosYaw, sinYaw = turn.sinYaw;
    const double cosPitch = turn.cosPitch, sinPitch = turn.sinPitch;
    const double scaleX = mapping.scaleX, offsetX = mapping.offsetX;
    const double scaleY = mapping.scaleY, offsetY = mapping.offsetY;
    for (std::size_t i = 0; i < count; ++i) {
        const double x = xs[i], y = ys[i], z = zs[i];
        const double x1d = x * cosYaw - z * sinYaw;
        const double z1d = x * sinYaw + z * cosYaw;
        const bool yawFits = (std::fabs(x1d) < kSingleOverflow) & (std::fabs(z1d) < kSingleOverflow);
        const float x1 = static_cast<float>(yawFits ? x1d : 0.0);
        const float z1 = static_cast<float>(yawFits ? z1d : 0.0);
        const double y2d = y * cosPitch - z1 * sinPitch;
        const double z2d = z1 * cosPitch + y * sinPitch;
        const bool fits =
            yawFits & (std::fabs(y2d) < kSingleOverflow) & (std::fabs(z2d) < kSingleOverflow);
        const float y2 = static_cast<float>(fits ? y2d : 0.0);
        const double mappedX = static_cast<double>(x1) * scaleX + offsetX;
        px[i] = fits ? mappedX : kFaulted;
        py[i] = static_cast<double>(y2) * scaleY + offsetY;
    }
    // Counted in a loop of its own: folded into the one above, it stopped that vectorising.
    std::int64_t faulted = 0;
    for (std::size_t i = 0; i < count; ++i) faulted += static_cast<std::int64_t>(px[i] != px[i]);
    return static_cast<std::size_t>(faulted);
}

// Per vertex of the part being drawn: pixel position (x NaN when its rotation faulted) and the
// rasterizer's packed point. Shared by the drawing threads; kept between redraws.
struct VertexArrays {
    std::vector<double> x, y;
    std::vector<RasterPackedPoint> packed;

    void Resize(std::size_t count) {
        x.resize(count);
        y.resize(count);
        packed.resize(std::max<std::size_t>(count, 1));
    }
};

// A faulted vertex: a point far beyond every side, which no other point can be.
constexpr RasterPackedPoint kFaultedPoint{kRasterFar, -1};

inline bool IsFaulted(RasterPackedPoint p) {
    return p.x == kFaultedPoint.x && p.y == kFaultedPoint.y;
}


// Coordinates of records [first, first + n) of a list, into three arrays; records past what
// the list stores are zeros.
void GatherCoordinates(const VertexList& vertices, std::size_t first, std::size_t n, float* xs,
                       float* ys, float* zs) {
    const unsigned char* const data = vertices.StoredData();
    const std::size_t stored = vertices.StoredBytes();
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t at = (first + i) * sizeof(MeshVertex);
        float xyz[3] = {0.0f, 0.0f, 0.0f};
        if (at + sizeof xyz <= stored) [[likely]] {
            std::memcpy(xyz, data + at, sizeof xyz);
        } else if (at < stored) {
            std::memcpy(xyz, data + at, stored - at);
        }
        xs[i] = xyz[0];
        ys[i] = xyz[1];
        zs[i] = xyz[2];
    }
}

// A part's coordinates, x of every vertex, then y, then z: what turning reads, without the
// rest of the 40-byte records, which would stream through the caches on every redraw.
struct PartPositions {
    std::vector<float> coordinates;
    std::size_t count = 0;

    void Collect(const VertexList& vertices) {
        count = vertices.size();
        coordinates.resize(3 * count);
        GatherCoordinates(vertices, 0, count, coordinates.data(), coordinates.data() + count,
                          coordinates.data() + 2 * count);
    }
    const float* X() const { return coordinates.data(); }
    const float* Y() const { return coordinates.data() + count; }
    const float* Z() const { return coordinates.data() + 2 * count; }
};

constexpr std::int32_t kDrawBc = 1;
constexpr std::int32_t kDrawCa = 2;
constexpr std::size_t kEdgeBlock = 1024;

constexpr std::array<std::int32_t, kEdgeBlock> kAllDrawn = [] {
    std::array<std::int32_t, kEdgeBlock> all{};
    all.fill(kDrawBc);
    return all;
}();

// Row strips draw every row edge twice, once from each strip beside it, as the same directed
// segment c-a. A table of the last c-a edge drawn from each vertex catches those repeats.
// Entries carry a stamp, so that a new part needs no clearing.
class RepeatedEdges {
public:
    void StartPart() {
        if (++stamp_ == 0x10000) {
            std::fill(last_.begin(), last_.end(), 0u);
            stamp_ = 1;
        }
    }
    void Reserve(std::size_t vertices) {
        if (last_.size() < vertices) last_.resize(vertices, 0u);
    }
    // Whether c-a was drawn before in this part; records it as drawn.
    bool Repeated(std::int32_t c, std::int32_t a) {
        const std::uint32_t entry = stamp_ << 16 | static_cast<std::uint32_t>(a);
        std::uint32_t& slot = last_[static_cast<std::size_t>(c)];
        const bool repeated = slot == entry;
        slot = entry;
        return repeated;
    }

private:
    std::vector<std::uint32_t> last_;
    std::uint32_t stamp_ = 0;
};

// What one drawing thread works in; made once, so that drawing allocates nothing.
struct ThreadArrays {
    // Per strip position of one block of the walk: the usable vertex there (-1 if none) and
    // its packed point; per triangle, which of its edges to draw.
    std::int32_t vertex[kTriangleBlock + 2];
    RasterPackedPoint packed[kTriangleBlock + 2];
    std::int32_t draw[kTriangleBlock];
    // One block of an edge list's ends.
    RasterPackedPoint from[kEdgeBlock];
    RasterPackedPoint to[kEdgeBlock];
    // One block of coordinates of a part whose coordinates are not kept.
    float x[kVertexBlock];
    float y[kVertexBlock];
    float z[kVertexBlock];
    RepeatedEdges repeated;
};

// Where a part's coordinates come from: its kept positions, or straight from its records.
struct CoordinateSource {
    const PartPositions* positions;
    const VertexList* vertices;
};

// Turns vertices [first, last) of the part, prepares them and draws their dots.
// Returns how many faulted.
std::size_t TurnAndDot(const CoordinateSource& source, std::size_t first, std::size_t last,
                       const RotationCoefficients& turn, const ViewMapping& mapping,
                       const RasterTarget& target, int dotWidth, VertexArrays& v,
                       ThreadArrays& scratch) {
    std::size_t faulted = 0;
    for (std::size_t start = first; start < last; start += kVertexBlock) {
        const std::size_t n = std::min(kVertexBlock, last - start);
        const float *xs = scratch.x, *ys = scratch.y, *zs = scratch.z;
        if (source.positions) {
            xs = source.positions->X() + start;
            ys = source.positions->Y() + start;
            zs = source.positions->Z() + start;
        } else {
            GatherCoordinates(*source.vertices, start, n, scratch.x, scratch.y, scratch.z);
        }
        double* const x = v.x.data() + start;
        double* const y = v.y.data() + start;
        RasterPackedPoint* const packed = v.packed.data() + start;
        const std::size_t faultedHere = TurnBlock(xs, ys, zs, n, turn, mapping, x, y);
        PrepareRasterPoints(target, x, y, n, packed);
        if (faultedHere > 0) [[unlikely]] {
            for (std::size_t i = 0; i < n; ++i) {
                if (std::isnan(x[i])) packed[i] = kFaultedPoint;
            }
            faulted += faultedHere;
        }
        RasterDotArray(target, x, y, n, dotWidth, kDotColour);
    }
    return faulted;
}

// The first `count` points of `from` moved by (dx, dy) pixels, prepared again; faulted points
// stay faulted.
void ShiftPoints(const VertexArrays& from, std::size_t count, double dx, double dy,
                 const RasterTarget& target, VertexArrays& to) {
    for (std::size_t i = 0; i < count; ++i) {
        to.x[i] = from.x[i] + dx;
        to.y[i] = from.y[i] + dy;
    }
    PrepareRasterPoints(target, to.x.data(), to.y.data(), count, to.packed.data());
    for (std::size_t i = 0; i < count; ++i) {
        if (IsFaulted(from.packed[i])) to.packed[i] = kFaultedPoint;
    }
}

inline bool TriangleDrawn(std::int32_t a, std::int32_t b, std::int32_t c) {
    return (a | b | c) >= 0 && a != b && b != c && a != c;
}

// Triangles [first, last) of the strip walk: triangle k is entries k, k + 1, k + 2, drawn when
// they name three different vertices of the part that all turned without a fault. Its edge a-b
// is the same directed segment as edge b-c of triangle k - 1, so it is drawn only when that
// triangle was not; all edges of a part are black, so skipping a repeat or changing the order
// of its edges changes no pixel.
void DrawStrip(const MeshPart& part, std::int64_t first, std::int64_t last,
               const RasterTarget& target, const VertexArrays& v, ThreadArrays& s) {
    const IndexList& indices = part.indices;
    const auto vertexCount = static_cast<std::uint32_t>(part.vertices.size());
    const RasterPackedPoint* const packed = v.packed.data();
    const auto usable = [&](std::int64_t p) {
        const std::int32_t index = indices.At(p);
        const bool inPart = static_cast<std::uint32_t>(index) < vertexCount;
        return inPart && !IsFaulted(packed[inPart ? index : 0]) ? index : -1;
    };
    s.repeated.StartPart();
    bool previousDrawn = first > 0 && TriangleDrawn(usable(first - 1), usable(first), usable(first + 1));
    for (std::int64_t start = first; start < last; start += kTriangleBlock) {
        const std::int64_t triangles = std::min(kTriangleBlock, last - start);
        std::int32_t a = usable(start), b = usable(start + 1);
        s.vertex[0] = a;
        s.vertex[1] = b;
        s.packed[0] = packed[a >= 0 ? a : 0];
        s.packed[1] = packed[b >= 0 ? b : 0];
        for (std::size_t j = 0; j < static_cast<std::size_t>(triangles); ++j) {
            const std::int32_t c = usable(start + static_cast<std::int64_t>(j) + 2);
            s.vertex[j + 2] = c;
            s.packed[j + 2] = packed[c >= 0 ? c : 0];
            std::int32_t draw = 0;
            if (TriangleDrawn(a, b, c)) [[likely]] {
                draw = kDrawBc | (s.repeated.Repeated(c, a) ? 0 : kDrawCa);
                if (!previousDrawn) {
                    RasterLine(target, v.x[static_cast<std::size_t>(a)], v.y[static_cast<std::size_t>(a)],
                               v.x[static_cast<std::size_t>(b)], v.y[static_cast<std::size_t>(b)],
                               kEdgeColour);
                }
            }
            s.draw[j] = draw;
            previousDrawn = draw != 0;
            a = b;
            b = c;
        }
        const std::int32_t* const sv = s.vertex;
        const RasterPackedPoint* const sp = s.packed;
        const auto n = static_cast<std::size_t>(triangles);
        RasterLines(target, v.x.data(), v.y.data(), {sp + 1, sp + 2, sv + 1, sv + 2, s.draw, kDrawBc, n},
                    kEdgeColour);
        RasterLines(target, v.x.data(), v.y.data(), {sp + 2, sp, sv + 2, sv, s.draw, kDrawCa, n},
                    kEdgeColour);
    }
}

// Triangles of the walk that can be drawn: past the stored entries every entry is 0, so every
// later triple is degenerate.
std::int64_t WalkedTriangles(const IndexList& indices) {
    return std::max<std::int64_t>(
        0, std::min<std::int64_t>(indices.Count() - 2, static_cast<std::int64_t>(indices.StoredCount())));
}

// ---- The edges of a part, worked out once per index list ----------------------------------

// The directed edges a strip walk draws, each once, in the order the walk first meets them:
// a-b, b-c and c-a of every triangle that names three different vertices of the part. Drawing
// one segment twice gives the same pixels, and every edge of a part is black, so drawing this
// list draws the walk's picture as long as no vertex faults.
struct PartEdges {
    std::vector<std::uint32_t> pairs;  // from | to << 16: half the memory a redraw streams
    std::size_t size() const { return pairs.size(); }
};

// Remembers which directed edges were met: open addressing on the pair, or, where that would
// take more memory, one bit per possible pair of the part's vertices.
class EdgeSet {
public:
    static std::size_t HashSlots(std::int64_t triangles) {
        std::size_t capacity = 64;
        while (capacity < static_cast<std::size_t>(triangles) * 6) capacity *= 2;
        return capacity;
    }
    static std::size_t BitmapWords(std::size_t vertices) { return (vertices * vertices + 63) / 64; }
    // Memory the set will take for a part.
    static std::size_t Bytes(std::int64_t triangles, std::size_t vertices) {
        return std::min(HashSlots(triangles) * 4, BitmapWords(vertices) * 8);
    }

    EdgeSet(std::int64_t triangles, std::size_t vertices) : vertices_(vertices) {
        if (HashSlots(triangles) * 4 <= BitmapWords(vertices) * 8) {
            slots_.assign(HashSlots(triangles), 0u);
        } else {
            bits_.assign(BitmapWords(vertices), 0u);
        }
    }

    // Whether a-b is new; records it.
    bool Insert(std::int32_t a, std::int32_t b) {
        if (!bits_.empty()) {
            const std::size_t bit = static_cast<std::size_t>(a) * vertices_ + static_cast<std::size_t>(b);
            std::uint64_t& word = bits_[bit / 64];
            const std::uint64_t mask = std::uint64_t{1} << (bit % 64);
            const bool fresh = (word & mask) == 0;
            word |= mask;
            return fresh;
        }
        // Keys are (from | to << 16) + 1; vertex positions are below 2^15.
        const std::uint32_t key = (static_cast<std::uint32_t>(b) << 16 | static_cast<std::uint32_t>(a)) + 1;
        const std::size_t mask = slots_.size() - 1;
        std::size_t slot = (key * 0x9E3779B1u) & mask;
        while (slots_[slot] != 0) {
            if (slots_[slot] == key) return false;
            slot = (slot + 1) & mask;
        }
        slots_[slot] = key;
        return true;
    }

private:
    std::size_t vertices_;
    std::vector<std::uint32_t> slots_;
    std::vector<std::uint64_t> bits_;
};

// At most three new edges per triangle.
std::size_t EdgeListBound(std::int64_t triangles) { return static_cast<std::size_t>(triangles) * 3 * 4; }

void CollectEdges(const IndexList& indices, std::size_t vertexCount, PartEdges& edges) {
    const std::int64_t triangles = WalkedTriangles(indices);
    EdgeSet seen(triangles, vertexCount);
    const auto add = [&](std::int32_t a, std::int32_t b) {
        if (seen.Insert(a, b)) {
            edges.pairs.push_back(static_cast<std::uint32_t>(b) << 16 | static_cast<std::uint32_t>(a));
        }
    };
    const auto inPart = [&](std::int32_t index) { return static_cast<std::uint32_t>(index) < vertexCount; };
    std::int32_t a = indices.At(0), b = indices.At(1);
    for (std::int64_t k = 0; k < triangles; ++k) {
        const std::int32_t c = indices.At(k + 2);
        if (inPart(a) && inPart(b) && inPart(c) && a != b && b != c && a != c) {
            add(a, b);
            add(b, c);
            add(c, a);
        }
        a = b;
        b = c;
    }
    edges.pairs.shrink_to_fit();
}

// Edges [first, last) of a part's list, from the prepared points.
void DrawEdges(const PartEdges& edges, std::size_t first, std::size_t last,
               const RasterTarget& target, const VertexArrays& v, ThreadArrays& s) {
    const RasterPackedPoint* const packed = v.packed.data();
    for (std::size_t start = first; start < last; start += kEdgeBlock) {
        const std::size_t n = std::min(kEdgeBlock, last - start);
        const std::uint32_t* const pairs = edges.pairs.data() + start;
        for (std::size_t j = 0; j < n; ++j) {
            s.from[j] = packed[pairs[j] & 0xFFFFu];
            s.to[j] = packed[pairs[j] >> 16];
        }
        RasterLines(target, v.x.data(), v.y.data(),
                    {s.from, s.to, nullptr, nullptr, kAllDrawn.data(), kDrawBc, n, pairs}, kEdgeColour);
    }
}

// ---- Two threads on one picture --------------------------------------------------------------

// The picture is a sequence of layers: the dots of the first checked part, its edges, the dots
// of the next part, and so on. Within a layer every pixel drawn gets the same colour, so the
// threads may split a layer any way they like and write in any order; a barrier between layers
// keeps every pixel of a later layer over the earlier ones. The result is the one-thread
// picture exactly.
class SpinBarrier {
public:
    explicit SpinBarrier(int members) : members_(members) {}
    void Wait() {
        if (members_ == 1) return;
        const std::uint32_t round = round_.load(std::memory_order_relaxed);
        if (arrived_.fetch_add(1, std::memory_order_acq_rel) + 1 == members_) {
            arrived_.store(0, std::memory_order_relaxed);
            round_.store(round + 1, std::memory_order_release);
            return;
        }
        for (int spins = 0; round_.load(std::memory_order_acquire) == round; ++spins) {
            // The other thread is normally a few microseconds away; if it lost its core, give
            // ours up instead of burning it.
            if (spins < 20000) {
#if defined(__x86_64__) || defined(__i386__)
                __builtin_ia32_pause();
#endif
            } else {
                std::this_thread::yield();
            }
        }
    }

private:
    const int members_;
    std::atomic<int> arrived_{0};
    std::atomic<std::uint32_t> round_{0};
};

// A second drawing thread, started on first use and kept for later redraws.
class DrawHelper {
public:
    using Job = void (*)(void* context, int member);

    ~DrawHelper() {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        wake_.notify_one();
        if (thread_.joinable()) thread_.join();
    }

    // Starts the thread unless it runs; false when the system will not start one.
    bool Start() {
        if (thread_.joinable()) return true;
        try {
            thread_ = std::thread([this] { Serve(); });
        } catch (const std::system_error&) {
            return false;
        }
        return true;
    }

    // Runs job(context, 1) on the helper and job(context, 0) here; returns when both are done.
    void RunBoth(Job job, void* context) {
        {
            std::lock_guard lock(mutex_);
            job_ = job;
            context_ = context;
            done_ = false;
        }
        wake_.notify_one();
        job(context, 0);
        std::unique_lock lock(mutex_);
        finished_.wait(lock, [this] { return done_; });
    }

private:
    void Serve() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return quit_ || job_ != nullptr; });
            if (quit_) return;
            const Job job = job_;
            void* const context = context_;
            job_ = nullptr;
            lock.unlock();
            job(context, 1);
            lock.lock();
            done_ = true;
            finished_.notify_one();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_, finished_;
    Job job_ = nullptr;
    void* context_ = nullptr;
    bool done_ = true;
    bool quit_ = false;
    std::thread thread_;
};

// Below this many triangles a second thread costs more in hand-overs than it saves.
constexpr std::int64_t kTrianglesForTwoThreads = 50000;

// A layer's items handed out a chunk at a time: the first thread takes chunks from the front,
// the second from the back, until they meet. A thread slowed by its core (or by a heavier
// share) then holds the other up by one chunk at most, and each thread still draws one run of
// neighbouring items: interleaved chunks would have both threads storing into the same cache
// lines of the picture.
class LayerChunks {
public:
    // Calls draw(first, last) for chunks of [0, count) until none is left.
    template <typename Draw>
    void Take(std::size_t count, std::size_t chunk, int member, int members, Draw&& draw) {
        if (members == 1) {
            if (count > 0) draw(std::size_t{0}, count);
            return;
        }
        const std::uint64_t chunks = (count + chunk - 1) / chunk;
        for (;;) {
            // Chunks taken: from the front in the low half, from the back in the high half.
            std::uint64_t taken = taken_.load(std::memory_order_relaxed);
            std::uint64_t index;
            do {
                const std::uint64_t front = taken & 0xFFFFFFFFu, back = taken >> 32;
                if (front + back >= chunks) return;
                index = member == 0 ? front : chunks - 1 - back;
            } while (!taken_.compare_exchange_weak(
                taken, taken + (member == 0 ? 1 : std::uint64_t{1} << 32), std::memory_order_relaxed));
            draw(index * chunk, std::min<std::size_t>(count, (index + 1) * chunk));
        }
    }

    void Reset() { taken_.store(0, std::memory_order_relaxed); }

private:
    std::atomic<std::uint64_t> taken_{0};
};

constexpr std::size_t kVertexChunk = 1024;
constexpr std::size_t kEdgeChunk = 2048;

// Work kept between redraws is looked up by what it was worked out from: the same bytes, seen
// the same way. Entries hold on to those bytes, so their address cannot name other bytes while
// the entry lives.
struct VertexKey {
    const unsigned char* first;
    std::size_t stored;
    std::size_t count;
    auto operator<=>(const VertexKey&) const = default;

    static VertexKey Of(const VertexList& v) { return {v.StoredData(), v.StoredBytes(), v.size()}; }
};

struct EdgeKey {
    const unsigned char* first;
    std::size_t stored;
    std::int32_t count;
    std::size_t vertices;  // a triple is drawn only when it names vertices of the part
    auto operator<=>(const EdgeKey&) const = default;

    static EdgeKey Of(const MeshPart& part) {
        return {part.indices.StoredData(), part.indices.StoredBytes(), part.indices.Count(),
                part.vertices.size()};
    }
};

// Beyond what the model itself takes, the kept work may grow by this much.
constexpr std::size_t kCacheAllowance = std::size_t{32} << 20;

}  // namespace

struct WireframeRenderer::State {
    explicit State(int threadCount) : threads(threadCount) {
        for (auto& arrays : thread) arrays = std::make_unique<ThreadArrays>();
    }

    // ---- Kept between redraws ----
    struct Positions {
        std::shared_ptr<const SharedBytes> pin;
        PartPositions positions;
        std::size_t bytes = 0;
    };
    struct Edges {
        std::shared_ptr<const SharedBytes> pin;
        PartEdges edges;
        std::size_t bytes = 0;
    };
    std::map<VertexKey, Positions> positions;
    std::map<EdgeKey, Edges> edges;
    std::size_t cachedBytes = 0;
    std::size_t budget = 0;

    VertexArrays vertices;
    VertexArrays shifted;  // for thick pens
    std::unique_ptr<ThreadArrays> thread[2];
    DrawHelper helper;
    int threads = 1;
    // When the other core is busy, the helper reaches the barriers late and the redraw waits
    // for it; after a redraw that spent half its time so, the next ten are drawn alone.
    int aloneFor = 0;

    // ---- The scene last prepared ----
    struct Drawn {
        const MeshPart* part;
        CoordinateSource coordinates;
        const PartEdges* edges;  // none: the strip is walked
    };
    bool prepared = false;
    std::vector<Drawn> drawn;
    std::unique_ptr<LayerChunks[]> layers;
    std::size_t layerCount = 0;
    RotationCoefficients turn;
    ViewMapping mapping;
    int scale = 1;
    int members = 1;

    // ---- One Draw ----
    const RasterTarget* target = nullptr;
    SpinBarrier* barrier = nullptr;
    std::chrono::steady_clock::duration waited{};
    std::atomic<std::size_t> faulted[2] = {0, 0};

    void ClearCache() {
        positions.clear();
        edges.clear();
        cachedBytes = 0;
    }

    bool Fits(std::size_t bytes) const { return cachedBytes + bytes <= budget; }

    void Prepare(const WireframeScene& scene);
    void Job(int member);
};

void WireframeRenderer::State::Prepare(const WireframeScene& scene) {
    prepared = false;
    drawn.clear();
    const std::vector<MeshPart>& parts = *scene.parts;
    const std::size_t listed = std::min(scene.checked.size(), parts.size());

    // A part drawn again later in the list covers every pixel of its first drawing with the
    // same colours, and parts in between could only be covered by it: only the last drawing
    // of each distinct part counts.
    std::vector<const MeshPart*> shown;
    {
        std::set<std::pair<VertexKey, EdgeKey>> seen;
        for (std::size_t i = listed; i-- > 0;) {
            if (!scene.checked[i]) continue;
            const MeshPart& part = parts[i];
            if (seen.insert({VertexKey::Of(part.vertices), EdgeKey::Of(part)}).second) shown.push_back(&part);
        }
        std::reverse(shown.begin(), shown.end());
    }

    // What was kept for parts no longer shown goes first, so that its memory serves the rest.
    {
        std::set<VertexKey> wantedPositions;
        std::set<EdgeKey> wantedEdges;
        for (const MeshPart* part : shown) {
            wantedPositions.insert(VertexKey::Of(part->vertices));
            wantedEdges.insert(EdgeKey::Of(*part));
        }
        for (auto it = positions.begin(); it != positions.end();) {
            if (wantedPositions.count(it->first)) {
                ++it;
                continue;
            }
            cachedBytes -= it->second.bytes;
            it = positions.erase(it);
        }
        for (auto it = edges.begin(); it != edges.end();) {
            if (wantedEdges.count(it->first)) {
                ++it;
                continue;
            }
            cachedBytes -= it->second.bytes;
            it = edges.erase(it);
        }
    }

    // The budget follows the size of the model: twice the bytes its arrays lie in.
    {
        std::unordered_set<const SharedBytes*> storages;
        std::size_t modelBytes = 0;
        for (const MeshPart& part : parts) {
            for (const auto* storage : {part.vertices.Storage().get(), part.indices.Storage().get()}) {
                if (storage && storages.insert(storage).second) modelBytes += storage->size();
            }
        }
        budget = kCacheAllowance + 2 * modelBytes;
    }

    std::int64_t triangles = 0;
    std::size_t largest = 0;
    drawn.reserve(shown.size());
    for (const MeshPart* part : shown) {
        Drawn d{part, {nullptr, &part->vertices}, nullptr};
        const VertexKey vertexKey = VertexKey::Of(part->vertices);
        if (auto found = positions.find(vertexKey); found != positions.end()) {
            d.coordinates.positions = &found->second.positions;
        } else if (const std::size_t bytes = 3 * sizeof(float) * part->vertices.size(); Fits(bytes)) {
            Positions& entry = positions[vertexKey];
            entry.pin = part->vertices.Storage();
            entry.positions.Collect(part->vertices);
            entry.bytes = bytes;
            cachedBytes += bytes;
            d.coordinates.positions = &entry.positions;
        }
        const EdgeKey edgeKey = EdgeKey::Of(*part);
        const std::int64_t walked = WalkedTriangles(part->indices);
        if (auto found = edges.find(edgeKey); found != edges.end()) {
            d.edges = &found->second.edges;
        } else if (Fits(EdgeSet::Bytes(walked, part->vertices.size()) + EdgeListBound(walked))) {
            Edges& entry = edges[edgeKey];
            entry.pin = part->indices.Storage();
            CollectEdges(part->indices, part->vertices.size(), entry.edges);
            entry.bytes = entry.edges.pairs.capacity() * sizeof(std::uint32_t);
            cachedBytes += entry.bytes;
            d.edges = &entry.edges;
        }
        drawn.push_back(d);
        triangles += std::max<std::int64_t>(0, part->indices.Count() - 2);
        largest = std::max(largest, part->vertices.size());
    }

    vertices.Resize(largest);
    scale = std::max(1, scene.pixelScale);
    if (scale > 1) shifted.Resize(largest);
    for (auto& arrays : thread) arrays->repeated.Reserve(largest);
    layerCount = 2 * drawn.size();
    layers = std::make_unique<LayerChunks[]>(std::max<std::size_t>(layerCount, 1));
    turn = RotationCoefficients::For(scene.yaw, scene.pitch);
    mapping = scene.mapping;

    const bool share = threads > 1 && scale == 1 && triangles >= kTrianglesForTwoThreads;
    members = share && aloneFor == 0 && helper.Start() ? 2 : 1;
    if (share && aloneFor > 0) --aloneFor;
    prepared = true;
}

void WireframeRenderer::State::Job(int member) {
    ThreadArrays& arrays = *thread[member];
    const RasterTarget& picture = *target;
    const auto waitAtBarrier = [&] {
        if (member != 0 || members == 1) return barrier->Wait();
        const auto start = std::chrono::steady_clock::now();
        barrier->Wait();
        waited += std::chrono::steady_clock::now() - start;
    };
    for (std::size_t k = 0; k < drawn.size(); ++k) {
        const Drawn& d = drawn[k];
        const MeshPart& part = *d.part;
        std::size_t faultedHere = 0;
        layers[2 * k].Take(part.vertices.size(), kVertexChunk, member, members,
                           [&](std::size_t first, std::size_t last) {
                               faultedHere += TurnAndDot(d.coordinates, first, last, turn, mapping,
                                                         picture, kDotWidth * scale, vertices, arrays);
                           });
        faulted[member].store(faultedHere, std::memory_order_relaxed);
        waitAtBarrier();
        const bool anyFaulted =
            faulted[0].load(std::memory_order_relaxed) + faulted[1].load(std::memory_order_relaxed) != 0;
        // A thick pen is the thin line drawn scale x scale times, a pixel apart each way.
        for (int shift = 0; shift < scale * scale; ++shift) {
            const VertexArrays* points = &vertices;
            if (scale > 1) {
                ShiftPoints(vertices, part.vertices.size(), (shift % scale) - (scale - 1) / 2.0,
                            (shift / scale) - (scale - 1) / 2.0, picture, shifted);
                points = &shifted;
            }
            if (!anyFaulted && d.edges) {
                // Thick pens draw on one thread, so each layer's chunks are taken once.
                layers[2 * k + 1].Take(d.edges->size(), kEdgeChunk, member, members,
                                       [&](std::size_t first, std::size_t last) {
                                           DrawEdges(*d.edges, first, last, picture, *points, arrays);
                                       });
            } else if (member == 0) {
                // Faulted vertices drop whole triangles, so the shared-edge list no longer
                // tells what to draw: walk the strip itself (as for a part whose list is not kept).
                const std::int64_t walked = WalkedTriangles(part.indices);
                if (walked > 0) DrawStrip(part, 0, walked, picture, *points, arrays);
            }
        }
        waitAtBarrier();
    }
}

WireframeRenderer::WireframeRenderer(int threads) : state_(std::make_unique<State>(threads)) {}

WireframeRenderer::~WireframeRenderer() = default;

bool WireframeRenderer::Prepare(const WireframeScene& scene) {
    State& s = *state_;
    s.prepared = false;
    if (!scene.parts) return false;
    try {
        s.Prepare(scene);
    } catch (const std::bad_alloc&) {
        // What was kept may be half made: start again from nothing next time.
        s.ClearCache();
        s.drawn.clear();
        return false;
    }
    return true;
}

void WireframeRenderer::Draw(const RasterTarget& target) {
    State& s = *state_;
    if (!s.prepared) return;
    for (std::size_t i = 0; i < s.layerCount; ++i) s.layers[i].Reset();
    SpinBarrier barrier(s.members);
    s.barrier = &barrier;
    s.target = &target;
    s.waited = {};
    if (s.members == 2) {
        const auto start = std::chrono::steady_clock::now();
        s.helper.RunBoth([](void* context, int member) { static_cast<State*>(context)->Job(member); }, &s);
        const auto took = std::chrono::steady_clock::now() - start;
        if (s.waited * 2 > took) s.aloneFor = 10;
    } else {
        s.Job(0);
    }
    s.barrier = nullptr;
    s.target = nullptr;
}

bool WireframeRenderer::Render(const WireframeScene& scene, const RasterTarget& target) {
    if (!Prepare(scene)) return false;
    Draw(target);
    return true;
}

void WireframeRenderer::Clear() {
    state_->ClearCache();
    state_->drawn.clear();
    state_->prepared = false;
}

void WireframeRenderer::SetThreads(int threads) { state_->threads = threads; }

std::size_t WireframeRenderer::CachedBytes() const { return state_->cachedBytes; }

std::size_t WireframeRenderer::CacheBudget() const { return state_->budget; }

bool DrawWireframe(const WireframeScene& scene, const RasterTarget& target, int threads) {
    WireframeRenderer renderer(threads);
    return renderer.Render(scene, target);
}

}  // namespace trenn
