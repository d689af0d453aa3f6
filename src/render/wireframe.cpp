#include "render/wireframe.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <new>
#include <set>
#include <system_error>
#include <thread>
#include <tuple>

#include "render/draw_threads.h"
#include "render/part_cache.h"
#include "render/part_drawing.h"
#include "model/rotation.h"
#include "render/turn.h"

namespace trenn {
namespace {

// Below this many triangles a second thread costs more in hand-overs than it saves.
constexpr std::int64_t kTrianglesForTwoThreads = 50000;

// Items of a layer handed out at a time.
constexpr std::size_t kVertexChunk = 1024;
constexpr std::size_t kEdgeChunk = 2048;

}  // namespace

struct WireframeRenderer::State {
    State(int threadCount, std::size_t allowanceBytes) : allowance(allowanceBytes), threads(threadCount) {
        for (auto& arrays : thread) arrays = std::make_unique<ThreadArrays>();
    }

    // ---- Kept between redraws ----
    PartCache cache;
    // Works the cache out ahead; everything else waits for it.
    std::thread ahead;
    // The budget of the model drawn, worked out at its first redraw rather than on every one.
    std::optional<std::size_t> budget;

    const std::size_t allowance;
    std::size_t BudgetFor(const std::vector<MeshPart>& model) {
        if (!budget) budget = PartCache::BudgetFor(model, allowance);
        return *budget;
    }

    VertexArrays vertices;
    VertexArrays shifted;  // for thick pens
    std::unique_ptr<ThreadArrays> thread[2];
    DrawHelper helper;
    const TurnBlockFunction turnBlock = BestTurnBlock();
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

    ~State() { WaitForAhead(); }

    void WaitForAhead() {
        if (ahead.joinable()) ahead.join();
    }

    // The parts a redraw of the scene shows (ShownListPositions).
    static std::vector<const MeshPart*> ShownParts(const Scene& scene);
    // Finds or reserves the work of the parts, then has it done on both threads where there are two.
    std::vector<PartCache::Work> FindWork(const std::vector<const MeshPart*>& shown, std::size_t allowed);
    void Prepare(const Scene& scene);
    void FillCache(int member) { cache.Fill(thread[member]->repeated); }
    // The redraw's own arrays for `parts` parts of at most `largest` vertices: sized before the
    // kept work, which gets what the budget leaves of them.
    void SizeBuffers(std::size_t parts, std::size_t largest) {
        vertices.Resize(largest);
        if (scale > 1) shifted.Resize(largest);
        for (auto& arrays : thread) arrays->repeated.Reserve(largest);
        layerCount = 2 * parts;
        layers = std::make_unique<LayerChunks[]>(std::max<std::size_t>(layerCount, 1));
        drawn.reserve(parts);
    }
    std::size_t CacheBudgetFor(const std::vector<MeshPart>& model) {
        const std::size_t total = BudgetFor(model);
        return total - std::min(total, BufferBytes());
    }
    // Everything held besides the kept work: the redraw's own arrays, per thread and per part.
    std::size_t BufferBytes() const {
        std::size_t bytes = vertices.Bytes() + shifted.Bytes() + layerCount * sizeof(LayerChunks) +
                            drawn.capacity() * sizeof(Drawn);
        for (const auto& arrays : thread) bytes += sizeof(ThreadArrays) + arrays->repeated.Bytes();
        return bytes;
    }
    void Job(int member);
};

std::vector<const MeshPart*> WireframeRenderer::State::ShownParts(const Scene& scene) {
    std::vector<const MeshPart*> shown;
    for (const std::size_t i : ShownListPositions(scene)) shown.push_back(&(*scene.parts)[i]);
    return shown;
}

std::vector<PartCache::Work> WireframeRenderer::State::FindWork(const std::vector<const MeshPart*>& shown,
                                                                std::size_t allowed) {
    cache.Keep(shown, allowed);
    std::vector<PartCache::Work> work;
    work.reserve(shown.size());
    for (const MeshPart* part : shown) work.push_back(cache.Find(*part));
    // Ticking many large parts at once should not hold up the first picture.
    if (cache.Pending() > 1 && threads > 1 && helper.Start()) {
        helper.RunBoth([](void* context, int member) { static_cast<State*>(context)->FillCache(member); }, this);
    } else if (cache.Pending() > 0) {
        FillCache(0);
    }
    cache.Settle();
    return work;
}

void WireframeRenderer::State::Prepare(const Scene& scene) {
    prepared = false;
    drawn.clear();
    const std::vector<const MeshPart*> shown = ShownParts(scene);
    std::int64_t triangles = 0;
    std::size_t largest = 0;
    for (const MeshPart* part : shown) {
        triangles += std::max<std::int64_t>(0, static_cast<std::int64_t>(part->indices.size()) - 2);
        largest = std::max(largest, part->vertices.size());
    }

    scale = std::max(1, scene.pixelScale);
    SizeBuffers(shown.size(), largest);
    const std::vector<PartCache::Work> work = FindWork(shown, CacheBudgetFor(*scene.parts));
    for (std::size_t k = 0; k < shown.size(); ++k) {
        const MeshPart* part = shown[k];
        drawn.push_back({part, {work[k].positions, &part->vertices}, work[k].edges});
    }
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
                               faultedHere += TurnAndDot(d.coordinates, first, last, turnBlock,
                                                         turn, mapping,
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

WireframeRenderer::WireframeRenderer(int threads, std::size_t allowance)
    : state_(std::make_unique<State>(threads, allowance)) {}

WireframeRenderer::~WireframeRenderer() = default;

bool WireframeRenderer::Prepare(const Scene& scene) {
    State& s = *state_;
    s.WaitForAhead();
    s.prepared = false;
    if (!scene.parts) return false;
    try {
        s.Prepare(scene);
    } catch (const std::bad_alloc&) {
        // What was kept may be half made: start again from nothing next time.
        s.cache.Clear();
        s.drawn.clear();
        return false;
    }
    return true;
}

void WireframeRenderer::Draw(const RasterTarget& target) {
    State& s = *state_;
    s.WaitForAhead();  // it shares the helper thread and the scratch arrays
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

void WireframeRenderer::PrepareAhead(const Scene& scene) {
    State& s = *state_;
    s.WaitForAhead();
    if (!scene.parts) return;
    try {
        // The thread works on copies of the parts, which hold on to their arrays: the model
        // may be replaced while it runs.
        std::vector<MeshPart> parts;
        std::size_t largest = 0;
        for (const MeshPart* part : State::ShownParts(scene)) {
            parts.push_back(*part);
            largest = std::max(largest, part->vertices.size());
        }
        s.prepared = false;
        s.drawn.clear();
        s.SizeBuffers(parts.size(), largest);
        const std::size_t budget = s.CacheBudgetFor(*scene.parts);
        s.ahead = std::thread([&s, parts = std::move(parts), budget] {
            std::vector<const MeshPart*> shown;
            for (const MeshPart& part : parts) shown.push_back(&part);
            try {
                s.FindWork(shown, budget);
            } catch (const std::bad_alloc&) {
                // Settle has dropped what was kept; the redraws work it out as they go.
            }
        });
    } catch (const std::system_error&) {
        // No thread to spare: the first redraw works it out.
    } catch (const std::bad_alloc&) {
    }
}

void WireframeRenderer::ModelChanged() {
    state_->WaitForAhead();
    state_->cache.Clear();
    state_->budget.reset();
    state_->drawn.clear();
    state_->prepared = false;
}

void WireframeRenderer::SetThreads(int threads) {
    state_->WaitForAhead();
    state_->threads = threads;
}

std::size_t WireframeRenderer::HeldBytes() const {
    state_->WaitForAhead();
    return state_->cache.Bytes() + state_->BufferBytes();
}

std::size_t WireframeRenderer::Budget() const {
    state_->WaitForAhead();
    return state_->budget.value_or(0);
}

bool DrawWireframe(const Scene& scene, const RasterTarget& target, int threads) {
    WireframeRenderer renderer(threads);
    return renderer.Render(scene, target);
}

}  // namespace trenn
