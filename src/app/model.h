#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <span>
#include <vector>

#include "runtime/bulk_memory.h"

namespace trenn {

// One vertex record as stored: 40 bytes, of which only the coordinates mean anything.
struct MeshVertex {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
    std::array<std::uint8_t, 28> extra{};
};
static_assert(sizeof(MeshVertex) == 40, "vertex records are read straight from the file");

// A part's vertex records. Large models hold hundreds of megabytes of them, read in one go.
using VertexArray = std::vector<MeshVertex, BulkAllocator<MeshVertex>>;

// A part's index list. Entries that lay past the end of the scratch file are zeros; they are
// counted but not stored, so a huge count in a small file costs nothing.
class IndexList {
public:
    IndexList() = default;
    IndexList(std::int32_t count, std::vector<std::int16_t> stored)
        : count_(count), stored_(std::move(stored)), id_(NextId()) {}

    std::int32_t Count() const { return count_; }
    // The leading entries that came from the file; every later entry is 0.
    std::span<const std::int16_t> Stored() const { return stored_; }
    std::int16_t At(std::int64_t position) const {
        return position >= 0 && position < static_cast<std::int64_t>(stored_.size())
                   ? stored_[static_cast<std::size_t>(position)]
                   : std::int16_t{0};
    }

    // Names this list's contents: lists made apart never share it, copies do. A list never
    // changes once made, so the drawing may keep what it works out from one under this key.
    std::uint64_t Id() const { return id_; }

private:
    static std::uint64_t NextId() {
        static std::atomic<std::uint64_t> next{1};
        return next.fetch_add(1, std::memory_order_relaxed);
    }

    std::int32_t count_ = 0;
    std::vector<std::int16_t> stored_;
    std::uint64_t id_ = 0;  // the empty list
};

// One part: its vertex array, its triangle-strip index list and its symbol's index.
struct MeshPart {
    VertexArray vertices;
    IndexList indices;
    std::int16_t symbol = 0;
};

// mdlMain's model: entry k belongs to list position k. Never empty once loading has begun.
extern std::vector<MeshPart> g_parts;

}  // namespace trenn
