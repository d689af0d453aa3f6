#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory>
#include <span>
#include <vector>

namespace trenn {

// One vertex record as stored: 40 bytes, of which only the coordinates mean anything.
struct MeshVertex {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
    std::array<std::uint8_t, 28> extra{};
};
static_assert(sizeof(MeshVertex) == 40, "vertex records are read straight from the file");

// Bytes copied once from the scratch file (or made by a program), never changed afterwards.
// Parts whose arrays lie in the same stretch of the file are views into one such block, so a
// file that names the same bytes for thousands of parts costs those bytes once.
class SharedBytes {
public:
    // `size` bytes for the caller to fill before the block is shared.
    static std::shared_ptr<SharedBytes> Allocate(std::size_t size);
    ~SharedBytes();
    SharedBytes(const SharedBytes&) = delete;
    SharedBytes& operator=(const SharedBytes&) = delete;

    unsigned char* data() { return data_; }
    const unsigned char* data() const { return data_; }
    std::size_t size() const { return size_; }

private:
    SharedBytes(unsigned char* data, std::size_t size) : data_(data), size_(size) {}
    unsigned char* data_;
    std::size_t size_;
};

// A part's vertex records: a view of `size()` records, of which the first StoredBytes() bytes
// lie in shared bytes and the rest read as zeros (the part of the array past the end of the
// scratch file). Records are returned by value: a view may start at any byte.
class VertexList {
public:
    VertexList() = default;
    // A list of its own, holding a copy of the records.
    explicit VertexList(std::span<const MeshVertex> records);
    // `count` records from `first`, which lies in `bytes` with at least `storedBytes` after it.
    VertexList(std::shared_ptr<const SharedBytes> bytes, const unsigned char* first,
               std::size_t storedBytes, std::size_t count);

    std::size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    MeshVertex operator[](std::size_t i) const {
        MeshVertex v;
        const std::size_t at = i * sizeof(MeshVertex);
        if (at < storedBytes_) {
            std::memcpy(&v, first_ + at, std::min(sizeof(MeshVertex), storedBytes_ - at));
        }
        return v;
    }
    MeshVertex at(std::size_t i) const;

    // The bytes the file holds; every record from StoredRecords() on is all zeros, and the last
    // stored record may be cut short (its missing bytes are zeros).
    const unsigned char* StoredData() const { return first_; }
    std::size_t StoredBytes() const { return storedBytes_; }
    std::size_t StoredRecords() const {
        return (storedBytes_ + sizeof(MeshVertex) - 1) / sizeof(MeshVertex);
    }
    // The shared bytes the view lies in (none for an all-zero list).
    const std::shared_ptr<const SharedBytes>& Storage() const { return storage_; }

    // Whether both name the same records of the same bytes: what one shows, the other shows.
    bool SameRecords(const VertexList& other) const {
        return first_ == other.first_ && storedBytes_ == other.storedBytes_ && count_ == other.count_;
    }

    class const_iterator {
    public:
        using iterator_category = std::input_iterator_tag;
        using value_type = MeshVertex;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = MeshVertex;
        const_iterator() = default;
        const_iterator(const VertexList* list, std::size_t i) : list_(list), i_(i) {}
        MeshVertex operator*() const { return (*list_)[i_]; }
        const_iterator& operator++() {
            ++i_;
            return *this;
        }
        const_iterator operator++(int) {
            const_iterator before = *this;
            ++i_;
            return before;
        }
        bool operator==(const const_iterator& other) const { return i_ == other.i_; }

    private:
        const VertexList* list_ = nullptr;
        std::size_t i_ = 0;
    };
    const_iterator begin() const { return {this, 0}; }
    const_iterator end() const { return {this, count_}; }

private:
    std::shared_ptr<const SharedBytes> storage_;
    const unsigned char* first_ = nullptr;
    std::size_t storedBytes_ = 0;
    std::size_t count_ = 0;
};

// A part's index list, a view like VertexList: Count() entries, of which the first StoredBytes()
// bytes lie in shared bytes; every later entry is 0, so a huge count in a small file costs
// nothing. An entry cut short by the end of the file keeps its low byte.
class IndexList {
public:
    IndexList() = default;
    // A list of its own: `count` entries, the first ones copied from `stored`.
    IndexList(std::int32_t count, std::span<const std::int16_t> stored);
    IndexList(std::int32_t count, const std::vector<std::int16_t>& stored)
        : IndexList(count, std::span<const std::int16_t>(stored)) {}
    IndexList(std::shared_ptr<const SharedBytes> bytes, const unsigned char* first,
              std::size_t storedBytes, std::int32_t count);

    std::int32_t Count() const { return count_; }
    // Entries that hold bytes from the file; every later entry is 0.
    std::size_t StoredCount() const { return (storedBytes_ + 1) / 2; }
    std::int16_t At(std::int64_t position) const {
        if (position < 0) return 0;
        const auto at = static_cast<std::size_t>(position) * 2;
        std::int16_t value = 0;
        if (at + 2 <= storedBytes_) [[likely]] {
            std::memcpy(&value, first_ + at, 2);
        } else if (at < storedBytes_) {
            value = first_[at];  // the entry's low byte; the file ends before its high byte
        }
        return value;
    }

    const unsigned char* StoredData() const { return first_; }
    std::size_t StoredBytes() const { return storedBytes_; }
    const std::shared_ptr<const SharedBytes>& Storage() const { return storage_; }

    bool SameEntries(const IndexList& other) const {
        return first_ == other.first_ && storedBytes_ == other.storedBytes_ && count_ == other.count_;
    }

private:
    std::shared_ptr<const SharedBytes> storage_;
    const unsigned char* first_ = nullptr;
    std::size_t storedBytes_ = 0;
    std::int32_t count_ = 0;
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
