#include "render/part_cache.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <unordered_set>

namespace trenn {
namespace {

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

void PartCache::Keep(const std::vector<const MeshPart*>& shown, const std::vector<MeshPart>& model) {
    std::set<VertexKey> wantedPositions;
    std::set<EdgeKey> wantedEdges;
    for (const MeshPart* part : shown) {
        wantedPositions.insert(KeyOf(part->vertices));
        wantedEdges.insert(KeyOf(*part));
    }
    const auto forget = [this](auto& entries, const auto& wanted) {
        for (auto it = entries.begin(); it != entries.end();) {
            if (wanted.count(it->first)) {
                ++it;
                continue;
            }
            bytes_ -= it->second.bytes;
            it = entries.erase(it);
        }
    };
    forget(positions_, wantedPositions);
    forget(edges_, wantedEdges);

    // Twice the bytes the model's arrays lie in.
    std::unordered_set<const SharedBytes*> storages;
    std::size_t modelBytes = 0;
    for (const MeshPart& part : model) {
        for (const auto* storage : {part.vertices.Storage().get(), part.indices.Storage().get()}) {
            if (storage && storages.insert(storage).second) modelBytes += storage->size();
        }
    }
    budget_ = kCacheAllowance + 2 * modelBytes;
}

const PartPositions* PartCache::Positions(const VertexList& vertices) {
    const VertexKey key = KeyOf(vertices);
    if (const auto found = positions_.find(key); found != positions_.end()) return &found->second.work;
    const std::size_t bytes = 3 * sizeof(float) * vertices.size();
    if (!Fits(bytes)) return nullptr;
    Entry<PartPositions>& entry = positions_[key];
    entry.pin = vertices.Storage();
    entry.work.Collect(vertices);
    entry.bytes = bytes;
    bytes_ += bytes;
    return &entry.work;
}

const PartEdges* PartCache::Edges(const MeshPart& part) {
    const EdgeKey key = KeyOf(part);
    if (const auto found = edges_.find(key); found != edges_.end()) return &found->second.work;
    const std::int64_t walked = WalkedTriangles(part.indices);
    if (!Fits(EdgeSet::Bytes(walked, part.vertices.size()) + EdgeListBound(walked))) return nullptr;
    Entry<PartEdges>& entry = edges_[key];
    entry.pin = part.indices.Storage();
    CollectEdges(part.indices, part.vertices.size(), entry.work);
    entry.bytes = entry.work.pairs.capacity() * sizeof(std::uint32_t);
    bytes_ += entry.bytes;
    return &entry.work;
}

void PartCache::Clear() {
    positions_.clear();
    edges_.clear();
    bytes_ = 0;
}

}  // namespace trenn
