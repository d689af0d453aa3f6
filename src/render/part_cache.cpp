#include "render/part_cache.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <unordered_set>

namespace trenn {
namespace {

// The edges of the strip walk, as DrawStrip draws them: a-b only where the triangle before was
// not drawn (it is that triangle's b-c otherwise), b-c, and c-a unless the same segment was
// the last c-a drawn from c, as it is where row strips meet. On meshes as exporters write them
// this leaves no segment twice; a segment that does come twice gives the same pixels.
void CollectEdges(const IndexList& indices, std::size_t vertexCount, RepeatedEdges& repeated,
                  std::vector<std::uint32_t>& scratch, PartEdges& edges) {
    const std::int64_t triangles = WalkedTriangles(indices);
    scratch.clear();
    scratch.reserve(static_cast<std::size_t>(2 * triangles + 1));
    repeated.Reserve(vertexCount);
    repeated.StartPart();
    const auto pair = [](std::int32_t from, std::int32_t to) {
        return static_cast<std::uint32_t>(to) << 16 | static_cast<std::uint32_t>(from);
    };
    const auto inPart = [&](std::int32_t index) { return static_cast<std::uint32_t>(index) < vertexCount; };
    bool previousDrawn = false;
    std::int32_t a = indices.At(0), b = indices.At(1);
    for (std::int64_t k = 0; k < triangles; ++k) {
        const std::int32_t c = indices.At(k + 2);
        const bool drawn = inPart(a) && inPart(b) && inPart(c) && a != b && b != c && a != c;
        if (drawn) {
            if (!previousDrawn) scratch.push_back(pair(a, b));
            scratch.push_back(pair(b, c));
            if (!repeated.Repeated(c, a)) scratch.push_back(pair(c, a));
        }
        previousDrawn = drawn;
        a = b;
        b = c;
    }
    edges.pairs.assign(scratch.begin(), scratch.end());
}

// At most two edges per triangle and one more: a-b is new only after a triangle that was not
// drawn.
std::size_t EdgeListBound(std::int64_t triangles) {
    return static_cast<std::size_t>(2 * triangles + 1) * sizeof(std::uint32_t);
}

// Beyond what the model itself takes, the kept work may grow by this much.
constexpr std::size_t kCacheAllowance = std::size_t{32} << 20;

}  // namespace

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

std::size_t PartCache::BudgetFor(const std::vector<MeshPart>& model) {
    std::unordered_set<const SharedBytes*> storages;
    std::size_t modelBytes = 0;
    for (const MeshPart& part : model) {
        for (const auto* storage : {part.vertices.Storage().get(), part.indices.Storage().get()}) {
            if (storage && storages.insert(storage).second) modelBytes += storage->size();
        }
    }
    return kCacheAllowance + 2 * modelBytes;
}

void PartCache::Keep(const std::vector<const MeshPart*>& shown, std::size_t budget) {
    for (auto& [key, entry] : positions_) entry.wanted = false;
    for (auto& [key, entry] : edges_) entry.wanted = false;
    for (const MeshPart* part : shown) {
        if (const auto found = positions_.find(KeyOf(part->vertices)); found != positions_.end()) {
            found->second.wanted = true;
        }
        if (const auto found = edges_.find(KeyOf(*part)); found != edges_.end()) found->second.wanted = true;
    }
    budget_ = budget;
}

bool PartCache::MakeRoom(std::size_t bytes) {
    const auto drop = [this, bytes](auto& entries) {
        for (auto it = entries.begin(); it != entries.end() && !Fits(bytes);) {
            if (it->second.wanted) {
                ++it;
                continue;
            }
            bytes_ -= it->second.bytes;
            it = entries.erase(it);
        }
    };
    drop(positions_);
    drop(edges_);
    return Fits(bytes);
}

PartCache::Work PartCache::Find(const MeshPart& part, bool withEdges) {
    Work work{nullptr, nullptr};
    const VertexKey vertexKey = KeyOf(part.vertices);
    if (const auto found = positions_.find(vertexKey); found != positions_.end()) {
        found->second.wanted = true;
        work.positions = &found->second.work;
    } else if (const std::size_t bytes = 3 * sizeof(float) * part.vertices.size(); Fits(bytes) || MakeRoom(bytes)) {
        Entry<PartPositions>& entry = positions_[vertexKey];
        entry.pin = part.vertices.Storage();
        entry.bytes = bytes;
        entry.wanted = true;
        bytes_ += bytes;
        tasks_.push_back({&entry, nullptr, &part});
        work.positions = &entry.work;
    }
    if (!withEdges) return work;
    const EdgeKey edgeKey = KeyOf(part);
    if (const auto found = edges_.find(edgeKey); found != edges_.end()) {
        found->second.wanted = true;
        work.edges = &found->second.work;
    } else if (const std::size_t bytes = EdgeListBound(WalkedTriangles(part.indices)); Fits(bytes) || MakeRoom(bytes)) {
        // Counted at its largest until Settle knows its size.
        Entry<PartEdges>& entry = edges_[edgeKey];
        entry.pin = part.indices.Storage();
        entry.bytes = bytes;
        entry.wanted = true;
        bytes_ += bytes;
        tasks_.push_back({nullptr, &entry, &part});
        work.edges = &entry.work;
    }
    return work;
}

void PartCache::Fill(RepeatedEdges& repeated, std::vector<std::uint32_t>& scratch) {
    for (;;) {
        const std::size_t next = nextTask_.fetch_add(1, std::memory_order_relaxed);
        if (next >= tasks_.size()) return;
        const Task& task = tasks_[next];
        try {
            if (task.positions) task.positions->work.Collect(task.part->vertices);
            if (task.edges) {
                CollectEdges(task.part->indices, task.part->vertices.size(), repeated, scratch,
                             task.edges->work);
            }
        } catch (const std::bad_alloc&) {
            outOfMemory_.store(true, std::memory_order_relaxed);
        }
    }
}

void PartCache::Settle() {
    for (const Task& task : tasks_) {
        if (!task.edges) continue;
        const std::size_t bytes = task.edges->work.pairs.capacity() * sizeof(std::uint32_t);
        bytes_ = bytes_ - task.edges->bytes + bytes;
        task.edges->bytes = bytes;
    }
    tasks_.clear();
    nextTask_.store(0, std::memory_order_relaxed);
    if (outOfMemory_.exchange(false)) {
        Clear();
        throw std::bad_alloc();
    }
}

void PartCache::Clear() {
    positions_.clear();
    edges_.clear();
    bytes_ = 0;
    tasks_.clear();
    nextTask_.store(0, std::memory_order_relaxed);
}

}  // namespace trenn
