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

namespace detail {
inline std::uint64_t NextContentId() {
    static std::atomic<std::uint64_t> next{1};
    return next.fetch_add(1, std::memory_order_relaxed);
}
}  // namespace detail

// A part's vertex records with an id that names their contents, so that the drawing may keep
// what it works out from them between redraws. Reading goes through the const members; every
// non-const member gives the list a new id first, so records changed through it (or through a
// reference it handed out, before the next redraw) are never mistaken for the old ones.
class VertexList {
public:
    using value_type = MeshVertex;
    using size_type = std::size_t;
    using iterator = VertexArray::iterator;
    using const_iterator = VertexArray::const_iterator;

    VertexList() = default;
    VertexList(const VertexList& other) = default;  // same records, same id
    VertexList(VertexList&& other) noexcept = default;
    VertexList& operator=(const VertexList& other) = default;
    VertexList& operator=(VertexList&& other) noexcept = default;

    std::size_t size() const { return records_.size(); }
    bool empty() const { return records_.empty(); }
    const MeshVertex* data() const { return records_.data(); }
    const MeshVertex& operator[](std::size_t i) const { return records_[i]; }
    const MeshVertex& at(std::size_t i) const { return records_.at(i); }
    const_iterator begin() const { return records_.begin(); }
    const_iterator end() const { return records_.end(); }
    std::uint64_t Id() const { return id_; }

    MeshVertex* data() { return Edit().data(); }
    MeshVertex& operator[](std::size_t i) { return Edit()[i]; }
    MeshVertex& at(std::size_t i) { return Edit().at(i); }
    iterator begin() { return Edit().begin(); }
    iterator end() { return Edit().end(); }
    void push_back(const MeshVertex& v) { Edit().push_back(v); }
    void resize(std::size_t count) { Edit().resize(count); }
    void reserve(std::size_t count) { Edit().reserve(count); }
    void assign(std::size_t count, const MeshVertex& v) { Edit().assign(count, v); }
    void clear() { Edit().clear(); }

private:
    VertexArray& Edit() {
        id_ = detail::NextContentId();
        return records_;
    }

    VertexArray records_;
    std::uint64_t id_ = 0;  // the empty list
};

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
    static std::uint64_t NextId() { return detail::NextContentId(); }

    std::int32_t count_ = 0;
    std::vector<std::int16_t> stored_;
    std::uint64_t id_ = 0;  // the empty list
};

// One part: its vertex array, its triangle-strip index list and its symbol's index.
struct MeshPart {
    VertexList vertices;
    IndexList indices;
    std::int16_t symbol = 0;
};

// mdlMain's model: entry k belongs to list position k. Never empty once loading has begun.
extern std::vector<MeshPart> g_parts;

}  // namespace trenn
