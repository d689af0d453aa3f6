#include "viewer/wireframe.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <thread>

#include "viewer/rotation.h"

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

// A part's coordinates, x of every vertex, then y, then z: what turning reads, without the
// rest of the 40-byte records, which would stream through the caches on every redraw.
struct PartPositions {
    std::vector<float> coordinates;
    std::size_t count = 0;

    void Collect(const VertexList& vertices) {
        count = vertices.size();
        coordinates.resize(3 * count);
        for (std::size_t i = 0; i < count; ++i) {
            coordinates[i] = vertices[i].x;
            coordinates[count + i] = vertices[i].y;
            coordinates[2 * count + i] = vertices[i].z;
        }
    }
    const float* X() const { return coordinates.data(); }
    const float* Y() const { return coordinates.data() + count; }
    const float* Z() const { return coordinates.data() + 2 * count; }
};

// Turns vertices [first, last) of the part, prepares them and draws their dots.
// Returns how many faulted.
std::size_t TurnAndDot(const PartPositions& positions, std::size_t first, std::size_t last,
                       const RotationCoefficients& turn, const ViewMapping& mapping,
                       const RasterTarget& target, int dotWidth, VertexArrays& v) {
    std::size_t faulted = 0;
    for (std::size_t start = first; start < last; start += kVertexBlock) {
        const std::size_t n = std::min(kVertexBlock, last - start);
        const float* const xs = positions.X() + start;
        const float* const ys = positions.Y() + start;
        const float* const zs = positions.Z() + start;
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

constexpr std::int32_t kDrawBc = 1;
constexpr std::int32_t kDrawCa = 2;

// Per strip position of one block of the walk: the usable vertex there (-1 if none) and its
// packed point; per triangle, which of its edges to draw. One set per drawing thread.
struct StripArrays {
    std::vector<std::int32_t> vertex;
    std::vector<RasterPackedPoint> packed;
    std::vector<std::int32_t> draw;
    RepeatedEdges repeated;
};

// Entry p of the index list; past the stored entries every entry is 0.
inline std::int32_t EntryAt(const std::int16_t* stored, std::int64_t storedCount, std::int64_t p) {
    return p < storedCount ? stored[p] : 0;
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
               const RasterTarget& target, const VertexArrays& v, StripArrays& s) {
    const std::int16_t* const stored = part.indices.Stored().data();
    const auto storedCount = static_cast<std::int64_t>(part.indices.Stored().size());
    const auto vertexCount = static_cast<std::uint32_t>(part.vertices.size());
    const RasterPackedPoint* const packed = v.packed.data();
    const auto usable = [&](std::int64_t p) {
        const std::int32_t index = EntryAt(stored, storedCount, p);
        const bool inPart = static_cast<std::uint32_t>(index) < vertexCount;
        return inPart && !IsFaulted(packed[inPart ? index : 0]) ? index : -1;
    };
    s.repeated.StartPart();
    s.repeated.Reserve(vertexCount);
    bool previousDrawn = first > 0 && TriangleDrawn(usable(first - 1), usable(first), usable(first + 1));
    for (std::int64_t start = first; start < last; start += kTriangleBlock) {
        const std::int64_t triangles = std::min(kTriangleBlock, last - start);
        const auto positions = static_cast<std::size_t>(triangles + 2);
        s.vertex.resize(positions);
        s.packed.resize(positions);
        s.draw.resize(static_cast<std::size_t>(triangles));
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
        const std::int32_t* const sv = s.vertex.data();
        const RasterPackedPoint* const sp = s.packed.data();
        const auto n = static_cast<std::size_t>(triangles);
        RasterLines(target, v.x.data(), v.y.data(),
                    {sp + 1, sp + 2, sv + 1, sv + 2, s.draw.data(), kDrawBc, n}, kEdgeColour);
        RasterLines(target, v.x.data(), v.y.data(),
                    {sp + 2, sp, sv + 2, sv, s.draw.data(), kDrawCa, n}, kEdgeColour);
    }
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

void CollectEdges(const MeshPart& part, PartEdges& edges) {
    const std::int16_t* const stored = part.indices.Stored().data();
    const auto storedCount = static_cast<std::int64_t>(part.indices.Stored().size());
    const auto vertexCount = static_cast<std::uint32_t>(part.vertices.size());
    // Past the stored entries every entry is 0, so every later triple is degenerate.
    const std::int64_t triangles =
        std::max<std::int64_t>(0, std::min<std::int64_t>(part.indices.Count() - 2, storedCount));
    // Open addressing on (from | to << 16) + 1; vertex positions are below 2^15.
    std::size_t capacity = 64;
    while (capacity < static_cast<std::size_t>(triangles) * 6) capacity *= 2;
    std::vector<std::uint32_t> seen(capacity, 0u);
    const std::size_t mask = capacity - 1;
    const auto add = [&](std::int32_t a, std::int32_t b) {
        const std::uint32_t key = (static_cast<std::uint32_t>(b) << 16 | static_cast<std::uint32_t>(a)) + 1;
        std::size_t slot = (key * 0x9E3779B1u) & mask;
        while (seen[slot] != 0) {
            if (seen[slot] == key) return;
            slot = (slot + 1) & mask;
        }
        seen[slot] = key;
        edges.pairs.push_back(key - 1);
    };
    const auto inPart = [&](std::int32_t index) { return static_cast<std::uint32_t>(index) < vertexCount; };
    for (std::int64_t k = 0; k < triangles; ++k) {
        const std::int32_t a = EntryAt(stored, storedCount, k);
        const std::int32_t b = EntryAt(stored, storedCount, k + 1);
        const std::int32_t c = EntryAt(stored, storedCount, k + 2);
        if (!inPart(a) || !inPart(b) || !inPart(c) || a == b || b == c || a == c) continue;
        add(a, b);
        add(b, c);
        add(c, a);
    }
}

// What a redraw works out once per part: its edge list and its coordinates.
struct PartWork {
    PartEdges edges;
    PartPositions positions;
};

// The work of the parts drawn lately, by index list and vertex list. A part that was not drawn
// in the last redraw is dropped, so the cache holds at most what one picture needs.
class PartCache {
public:
    const PartWork& For(const MeshPart& part) {
        const Key key{part.indices.Id(), part.indices.Count(), part.indices.Stored().size(),
                      part.vertices.Id(), part.vertices.size()};
        for (Entry& entry : entries_) {
            if (entry.key == key) {
                entry.used = redraw_;
                return entry.work;
            }
        }
        Entry& entry = entries_.emplace_back();
        entry.key = key;
        entry.used = redraw_;
        CollectEdges(part, entry.work.edges);
        entry.work.positions.Collect(part.vertices);
        return entry.work;
    }

    // Called once per redraw, before the parts are looked up.
    void StartRedraw() {
        std::erase_if(entries_, [&](const Entry& entry) { return entry.used != redraw_; });
        ++redraw_;
    }

private:
    struct Key {
        std::uint64_t id;
        std::int32_t count;
        std::size_t stored;
        std::uint64_t vertexId;
        std::size_t vertices;
        bool operator==(const Key&) const = default;
    };
    struct Entry {
        Key key;
        std::uint64_t used = 0;
        PartWork work;
    };
    std::deque<Entry> entries_;  // references handed out stay valid while entries are added
    std::uint64_t redraw_ = 0;
};

constexpr std::size_t kEdgeBlock = 1024;

// Edges [first, last) of a part's list, from the prepared points.
void DrawEdges(const PartEdges& edges, std::size_t first, std::size_t last,
               const RasterTarget& target, const VertexArrays& v, StripArrays& s) {
    static const std::vector<std::int32_t> kAllDrawn(kEdgeBlock, kDrawBc);
    s.packed.resize(2 * kEdgeBlock);
    RasterPackedPoint* const from = s.packed.data();
    RasterPackedPoint* const to = from + kEdgeBlock;
    const RasterPackedPoint* const packed = v.packed.data();
    for (std::size_t start = first; start < last; start += kEdgeBlock) {
        const std::size_t n = std::min(kEdgeBlock, last - start);
        const std::uint32_t* const pairs = edges.pairs.data() + start;
        for (std::size_t j = 0; j < n; ++j) {
            from[j] = packed[pairs[j] & 0xFFFFu];
            to[j] = packed[pairs[j] >> 16];
        }
        RasterLines(target, v.x.data(), v.y.data(),
                    {from, to, nullptr, nullptr, kAllDrawn.data(), kDrawBc, n, pairs}, kEdgeColour);
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
    ~DrawHelper() {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        wake_.notify_one();
        if (thread_.joinable()) thread_.join();
    }

    // Runs job(1) on the helper and job(0) here; returns when both are done.
    void RunBoth(const std::function<void(int)>& job) {
        if (!thread_.joinable()) thread_ = std::thread([this] { Serve(); });
        {
            std::lock_guard lock(mutex_);
            job_ = &job;
            done_ = false;
        }
        wake_.notify_one();
        job(0);
        std::unique_lock lock(mutex_);
        finished_.wait(lock, [this] { return done_; });
    }

private:
    void Serve() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return quit_ || job_ != nullptr; });
            if (quit_) return;
            const std::function<void(int)>* job = job_;
            job_ = nullptr;
            lock.unlock();
            (*job)(1);
            lock.lock();
            done_ = true;
            finished_.notify_one();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_, finished_;
    const std::function<void(int)>* job_ = nullptr;
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

private:
    std::atomic<std::uint64_t> taken_{0};
};

constexpr std::size_t kVertexChunk = 1024;
constexpr std::size_t kEdgeChunk = 2048;

}  // namespace

void DrawWireframe(const WireframeScene& scene, const RasterTarget& target, int threads) {
    if (!scene.parts) return;
    // One redraw at a time: the caches and the helper thread are shared.
    static std::mutex drawing;
    static PartCache cache;
    static VertexArrays vertices;
    static VertexArrays shifted;  // for thick pens
    static StripArrays strips[2];
    static DrawHelper helper;
    std::lock_guard lock(drawing);

    const RotationCoefficients turn = RotationCoefficients::For(scene.yaw, scene.pitch);
    const std::size_t listed = std::min(scene.checked.size(), scene.parts->size());
    struct Drawn {
        const MeshPart* part;
        const PartWork* work;
    };
    std::vector<Drawn> drawn;
    std::int64_t triangles = 0;
    std::size_t largest = 0;
    cache.StartRedraw();
    for (std::size_t i = 0; i < listed; ++i) {
        if (!scene.checked[i]) continue;
        const MeshPart& part = (*scene.parts)[i];
        drawn.push_back({&part, &cache.For(part)});
        triangles += std::max<std::int64_t>(0, part.indices.Count() - 2);
        largest = std::max(largest, part.vertices.size());
    }
    vertices.Resize(largest);

    const int scale = std::max(1, scene.pixelScale);
    if (scale > 1) shifted.Resize(largest);
    // When the other core is busy, the helper reaches the barriers late and the redraw waits
    // for it; after a redraw that spent half its time so, the next ten are drawn alone.
    static int aloneFor = 0;
    const bool share = threads > 1 && scale == 1 && triangles >= kTrianglesForTwoThreads;
    const int members = share && aloneFor == 0 ? 2 : 1;
    if (share && aloneFor > 0) --aloneFor;
    SpinBarrier barrier(members);
    std::chrono::steady_clock::duration waited{};
    const auto waitAtBarrier = [&](int member) {
        if (member != 0 || members == 1) return barrier.Wait();
        const auto start = std::chrono::steady_clock::now();
        barrier.Wait();
        waited += std::chrono::steady_clock::now() - start;
    };
    std::atomic<std::size_t> faulted[2] = {0, 0};
    // Two layers per part: its dots, then its edges.
    const std::unique_ptr<LayerChunks[]> layers(new LayerChunks[2 * drawn.size()]);
    const auto job = [&](int member) {
        StripArrays& strip = strips[member];
        for (std::size_t k = 0; k < drawn.size(); ++k) {
            const Drawn& d = drawn[k];
            const MeshPart& part = *d.part;
            std::size_t faultedHere = 0;
            layers[2 * k].Take(part.vertices.size(), kVertexChunk, member, members,
                               [&](std::size_t first, std::size_t last) {
                                   faultedHere += TurnAndDot(d.work->positions, first, last, turn,
                                                             scene.mapping, target,
                                                             kDotWidth * scale, vertices);
                               });
            faulted[member].store(faultedHere, std::memory_order_relaxed);
            waitAtBarrier(member);
            const bool anyFaulted =
                faulted[0].load(std::memory_order_relaxed) + faulted[1].load(std::memory_order_relaxed) != 0;
            // A thick pen is the thin line drawn scale x scale times, a pixel apart each way.
            for (int shift = 0; shift < scale * scale; ++shift) {
                const VertexArrays* points = &vertices;
                if (scale > 1) {
                    ShiftPoints(vertices, part.vertices.size(), (shift % scale) - (scale - 1) / 2.0,
                                (shift / scale) - (scale - 1) / 2.0, target, shifted);
                    points = &shifted;
                }
                if (!anyFaulted) {
                    // Thick pens draw on one thread, so each layer's chunks are taken once.
                    layers[2 * k + 1].Take(d.work->edges.size(), kEdgeChunk, member, members,
                                           [&](std::size_t first, std::size_t last) {
                                               DrawEdges(d.work->edges, first, last, target,
                                                         *points, strip);
                                           });
                } else if (member == 0) {
                    // Faulted vertices drop whole triangles, so the shared-edge list no longer
                    // tells what to draw: walk the strip itself.
                    const std::int64_t count = part.indices.Count();
                    const auto stored = static_cast<std::int64_t>(part.indices.Stored().size());
                    const std::int64_t walked = std::min(count - 2, stored);
                    if (walked > 0) DrawStrip(part, 0, walked, target, *points, strip);
                }
            }
            waitAtBarrier(member);
        }
    };
    if (members == 2) {
        const auto start = std::chrono::steady_clock::now();
        helper.RunBoth(job);
        const auto took = std::chrono::steady_clock::now() - start;
        if (waited * 2 > took) aloneFor = 10;
    } else {
        job(0);
    }
}

}  // namespace trenn
