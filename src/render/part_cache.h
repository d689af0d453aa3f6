#pragma once

// What the renderer works out once per part and keeps between redraws: the part's coordinates
// as three plain arrays, and the edges its strip draws, each once. Both are kept per distinct
// array, so parts that share their arrays share them, and within a budget that grows with the
// model's size.

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "model/extent.h"
#include "model/mesh.h"
#include "model/part_identity.h"
#include "model/strip.h"

namespace trenn {

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
    std::size_t Bytes() const { return last_.capacity() * sizeof(std::uint32_t); }
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

// The directed edges a strip walk draws, each once, in the order the walk first meets them:
// a-b, b-c and c-a of every triangle that names three different vertices of the part. Drawing
// one segment twice gives the same pixels, and every edge of a part is black, so drawing this
// list draws the walk's picture as long as no vertex faults.
struct PartEdges {
    std::vector<std::uint32_t> pairs;  // from | to << 16: half the memory a redraw streams
    std::size_t size() const { return pairs.size(); }
};

// The positions and edge lists of parts drawn before, or worked out ahead. Work is looked up by
// what it was worked out from: the same bytes, seen the same way. Entries hold on to those
// bytes, so their address cannot name other bytes while the entry lives. Work stays within a
// budget that grows with the model's size; work the parts being drawn do not use makes room
// when the budget is reached.
//
// A redraw first keeps what it still needs, then finds or reserves the work of each part, then
// has the reserved work done, shared out between its threads, and settles the accounts.
class PartCache {
public:
    struct Work {
        const PartPositions* positions;  // none: turned straight from the records
        const PartEdges* edges;          // none: the strip is walked
    };

    // What the work may take for a model: twice the bytes its arrays lie in, and `allowance`.
    static std::size_t BudgetFor(const std::vector<MeshPart>& model, std::size_t allowance);
    // Marks the work the parts about to be drawn use, which is never dropped to make room, and
    // sets the budget.
    void Keep(const std::vector<const MeshPart*>& shown, std::size_t budget);
    // The part's kept work, or room reserved for it when the budget allows; what is reserved
    // is there once Fill and Settle have run. Without edges, only the positions are looked up
    // and reserved (the edges of the work are none).
    Work Find(const MeshPart& part, bool withEdges = true);
    // Works out reserved work; each of `members` threads calls it with its own table and
    // takes a share. Catches running out of memory, which Settle then reports.
    void Fill(RepeatedEdges& repeated);
    // Parts whose work Fill has yet to do.
    std::size_t Pending() const { return tasks_.size(); }
    // After every Fill: counts what the new work takes. Throws std::bad_alloc when a Fill ran
    // out of memory; everything kept is then dropped.
    void Settle();
    void Clear();

    std::size_t Bytes() const { return bytes_; }
    std::size_t Budget() const { return budget_; }

private:
    // Positions are worked out from a vertex array; an edge list from an index list, which
    // triples of it are drawn depending on how many vertices the part has.
    using VertexKey = ArrayView;
    struct EdgeKey {
        ArrayView indices;
        std::size_t vertices;
        auto operator<=>(const EdgeKey&) const = default;
    };
    static VertexKey KeyOf(const VertexList& v) { return ArrayView::Of(v); }
    static EdgeKey KeyOf(const MeshPart& part) { return {ArrayView::Of(part.indices), part.vertices.size()}; }
    template <typename Work>
    struct Entry {
        std::shared_ptr<const SharedBytes> pin;
        Work work;
        std::size_t bytes = 0;  // what the budget counts for it
        bool wanted = false;    // used by the parts being drawn
    };
    // Work reserved and not yet done: one part's positions or edges.
    struct Task {
        Entry<PartPositions>* positions = nullptr;
        Entry<PartEdges>* edges = nullptr;
        const MeshPart* part = nullptr;
    };

    bool Fits(std::size_t bytes) const { return bytes_ + bytes <= budget_; }
    // Drops work no part being drawn uses until `bytes` more fit; whether they do.
    bool MakeRoom(std::size_t bytes);

    std::map<VertexKey, Entry<PartPositions>> positions_;
    std::map<EdgeKey, Entry<PartEdges>> edges_;
    std::size_t bytes_ = 0;
    std::size_t budget_ = 0;
    std::vector<Task> tasks_;
    std::atomic<std::size_t> nextTask_{0};
    std::atomic<bool> outOfMemory_{false};
};

}  // namespace trenn
