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
// this leaves no segment twice; a segment that does come twice gives the same pixels. The list
// is written straight into its place, reserved at its largest, so that nothing else is held.
void CollectEdges(const MeshPart& part, RepeatedEdges& repeated, PartEdges& edges) {
    std::vector<std::uint32_t>& pairs = edges.pairs;
    pairs.clear();
    pairs.reserve(static_cast<std::size_t>(2 * WalkedTriangles(part.indices) + 1));
    repeated.Reserve(part.vertices.size());
    repeated.StartPart();
    const auto pair = [](std::int32_t from, std::int32_t to) {
        return static_cast<std::uint32_t>(to) << 16 | static_cast<std::uint32_t>(from);
    };
    std::int64_t previous = -2;
    ForEachTriangle(part, [&](std::int64_t k, std::int32_t a, std::int32_t b, std::int32_t c) {
        if (k != previous + 1) pairs.push_back(pair(a, b));
        pairs.push_back(pair(b, c));
        if (!repeated.Repeated(c, a)) pairs.push_back(pair(c, a));
        previous = k;
    });
    // Strips with many skipped triangles keep far less than the room reserved for them.
    if (pairs.size() < pairs.capacity() / 4 * 3) pairs.shrink_to_fit();
}

// At most two edges per triangle and one more: a-b is new only after a triangle that was not
// drawn. While the list is worked out it may be held twice, when it is copied into less room.
std::size_t EdgeListBound(std::int64_t triangles) {
    return static_cast<std::size_t>(2 * triangles + 1) * sizeof(std::uint32_t);
}
std::size_t EdgeListPeak(std::int64_t triangles) { return 2 * EdgeListBound(triangles); }

}  // namespace

std::size_t PartCache::BudgetFor(const std::vector<MeshPart>& model, std::size_t allowance) {
    std::unordered_set<const SharedBytes*> storages;
    std::size_t modelBytes = 0;
    for (const MeshPart& part : model) {
        for (const auto* storage : {part.vertices.Storage().get(), part.indices.Storage().get()}) {
            if (storage && storages.insert(storage).second) modelBytes += storage->size();
        }
    }
    return allowance + 2 * modelBytes;
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
    } else if (const std::size_t bytes = EdgeListPeak(WalkedTriangles(part.indices)); Fits(bytes) || MakeRoom(bytes)) {
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

void PartCache::Fill(RepeatedEdges& repeated) {
    for (;;) {
        const std::size_t next = nextTask_.fetch_add(1, std::memory_order_relaxed);
        if (next >= tasks_.size()) return;
        const Task& task = tasks_[next];
        try {
            if (task.positions) task.positions->work.Collect(task.part->vertices);
            if (task.edges) {
                CollectEdges(*task.part, repeated, task.edges->work);
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
