#pragma once

// The mesh types: vertex records, the bytes they lie in, the views of those bytes that make a
// part's arrays, and the part itself.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory>
#include <span>
#include <type_traits>

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

// An array of `size()` records as the file stores them: the first StoredBytes() bytes lie in
// shared bytes, and everything after them reads as zeros (the part of the array past the end
// of the scratch file), so a huge count in a small file costs nothing. Records are returned by
// value, so that a view may start at any byte; a record cut short by the end of the file keeps
// the bytes it has (an index entry its low byte).
template <typename Record>
class StoredArray {
    static_assert(std::is_trivially_copyable_v<Record>, "records are copied as bytes");

public:
    StoredArray() = default;
    // An array of its own: `count` records, the first ones copied from `stored`.
    StoredArray(std::size_t count, std::span<const Record> stored) : count_(count) {
        const std::size_t kept = std::min(stored.size(), count);
        if (kept == 0) return;
        std::shared_ptr<SharedBytes> bytes = SharedBytes::Allocate(kept * sizeof(Record));
        std::memcpy(bytes->data(), stored.data(), kept * sizeof(Record));
        first_ = bytes->data();
        storedBytes_ = kept * sizeof(Record);
        storage_ = std::move(bytes);
    }
    // An array of its own holding a copy of the records.
    explicit StoredArray(std::span<const Record> records) : StoredArray(records.size(), records) {}
    // `count` records from `first`, which lies in `bytes` with at least `storedBytes` after it.
    StoredArray(std::shared_ptr<const SharedBytes> bytes, const unsigned char* first, std::size_t storedBytes,
                std::size_t count)
        : storage_(std::move(bytes)),
          first_(storedBytes > 0 ? first : nullptr),
          storedBytes_(std::min(storedBytes, count * sizeof(Record))),
          count_(count) {}

    std::size_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    Record operator[](std::size_t i) const {
        Record record{};
        const std::size_t at = i * sizeof(Record);
        if (at + sizeof(Record) <= storedBytes_) [[likely]] {
            std::memcpy(&record, first_ + at, sizeof(Record));
        } else if (at < storedBytes_) {
            std::memcpy(&record, first_ + at, storedBytes_ - at);
        }
        return record;
    }

    // Records that hold bytes from the file; every later one is all zeros.
    std::size_t StoredCount() const { return (storedBytes_ + sizeof(Record) - 1) / sizeof(Record); }
    const unsigned char* StoredData() const { return first_; }
    std::size_t StoredBytes() const { return storedBytes_; }
    // The shared bytes the view lies in (none for an all-zero array).
    const std::shared_ptr<const SharedBytes>& Storage() const { return storage_; }

    class const_iterator {
    public:
        using iterator_category = std::input_iterator_tag;
        using value_type = Record;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = Record;
        const_iterator() = default;
        const_iterator(const StoredArray* array, std::size_t i) : array_(array), i_(i) {}
        Record operator*() const { return (*array_)[i_]; }
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
        const StoredArray* array_ = nullptr;
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

// A part's vertex records and its triangle-strip index list (signed 16-bit vertex numbers).
using VertexList = StoredArray<MeshVertex>;
using IndexList = StoredArray<std::int16_t>;

// One part: its vertex array, its triangle-strip index list and its symbol's index.
struct MeshPart {
    VertexList vertices;
    IndexList indices;
    std::int16_t symbol = 0;
};

}  // namespace trenn
