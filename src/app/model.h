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

namespace detail {
inline std::uint64_t NextContentId() {
    static std::atomic<std::uint64_t> next{1};
    return next.fetch_add(1, std::memory_order_relaxed);
}
}  // namespace detail

// A part's vertex records, with an id that names their contents so that the drawing may keep
// what it works out from them between redraws. Reading goes through the const members; every
// non-const member gives the list a new id first, so records changed through it (or through a
// reference it handed out, before the next redraw) are never mistaken for the old ones.
// Large models hold hundreds of megabytes of records, so they live in bulk memory.
class VertexList {
public:
    using value_type = MeshVertex;
    using size_type = std::size_t;
    using iterator = MeshVertex*;
    using const_iterator = const MeshVertex*;

    VertexList() = default;
    VertexList(const VertexList& other);  // same records, same id
    VertexList(VertexList&& other) noexcept;
    VertexList& operator=(VertexList other) noexcept;
    ~VertexList();

    // `count` records for the caller to overwrite entirely before any is read. Loading reads
    // its records straight into these; clearing them first cost as long as the read.
    static VertexList ForFilling(std::size_t count);

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    const MeshVertex* data() const { return records_; }
    const MeshVertex& operator[](std::size_t i) const { return records_[i]; }
    const MeshVertex& at(std::size_t i) const;
    const_iterator begin() const { return records_; }
    const_iterator end() const { return records_ + size_; }
    std::uint64_t Id() const { return id_; }

    MeshVertex* data() { return Edit(); }
    MeshVertex& operator[](std::size_t i) { return Edit()[i]; }
    MeshVertex& at(std::size_t i);
    iterator begin() { return Edit(); }
    iterator end() { return Edit() + size_; }
    void push_back(const MeshVertex& v);
    void resize(std::size_t count);  // new records are zeros
    void reserve(std::size_t count);
    void assign(std::size_t count, const MeshVertex& v);
    void clear() {
        Edit();
        size_ = 0;
    }

private:
    MeshVertex* Edit() {
        id_ = detail::NextContentId();
        return records_;
    }
    void Reallocate(std::size_t capacity);
    void Grow(std::size_t needed);

    MeshVertex* records_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
    std::uint64_t id_ = 0;  // the empty list
};

// A part's index list. Entries that lay past the end of the scratch file are zeros; they are
// counted but not stored, so a huge count in a small file costs nothing.
class IndexList {
public:
    // Large lists live in bulk memory, like vertex records.
    using Entries = std::vector<std::int16_t, BulkAllocator<std::int16_t>>;

    IndexList() = default;
    IndexList(std::int32_t count, Entries stored)
        : count_(count), stored_(std::move(stored)), id_(NextId()) {}
    IndexList(std::int32_t count, std::span<const std::int16_t> stored)
        : IndexList(count, Entries(stored.begin(), stored.end())) {}

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
    Entries stored_;
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
