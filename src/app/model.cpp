#include "app/model.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>
#include <type_traits>
#include <utility>

namespace trenn {

// Records are plain bytes (the type is trivially copyable), so they move with memcpy and a
// block holds them without per-record construction.
static_assert(std::is_trivially_copyable_v<MeshVertex>);

VertexList::VertexList(const VertexList& other) : id_(other.id_) {
    if (other.size_ == 0) return;
    Reallocate(other.size_);
    std::memcpy(records_, other.records_, other.size_ * sizeof(MeshVertex));
    size_ = other.size_;
}

VertexList::VertexList(VertexList&& other) noexcept
    : records_(std::exchange(other.records_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)),
      id_(other.id_) {}

VertexList& VertexList::operator=(VertexList other) noexcept {
    std::swap(records_, other.records_);
    std::swap(size_, other.size_);
    std::swap(capacity_, other.capacity_);
    std::swap(id_, other.id_);
    return *this;
}

VertexList::~VertexList() {
    if (records_) FreeBulk(records_, capacity_ * sizeof(MeshVertex));
}

VertexList VertexList::ForFilling(std::size_t count) {
    VertexList list;
    if (count > 0) list.Reallocate(count);
    list.size_ = count;
    list.id_ = detail::NextContentId();
    return list;
}

const MeshVertex& VertexList::at(std::size_t i) const {
    if (i >= size_) throw std::out_of_range("vertex position past the end of the list");
    return records_[i];
}

MeshVertex& VertexList::at(std::size_t i) {
    if (i >= size_) throw std::out_of_range("vertex position past the end of the list");
    return Edit()[i];
}

void VertexList::push_back(const MeshVertex& v) {
    const MeshVertex copy = v;  // v may be one of ours, which Grow moves
    Grow(size_ + 1);
    Edit()[size_++] = copy;
}

void VertexList::resize(std::size_t count) {
    Edit();
    if (count > size_) {
        Grow(count);
        std::fill(records_ + size_, records_ + count, MeshVertex{});
    }
    size_ = count;
}

void VertexList::reserve(std::size_t count) {
    Edit();
    if (count > capacity_) Reallocate(count);
}

void VertexList::assign(std::size_t count, const MeshVertex& v) {
    const MeshVertex copy = v;
    Edit();
    size_ = 0;
    if (count > capacity_) Reallocate(count);
    std::fill(records_, records_ + count, copy);
    size_ = count;
}

void VertexList::Reallocate(std::size_t capacity) {
    if (capacity > static_cast<std::size_t>(-1) / sizeof(MeshVertex)) throw std::bad_array_new_length();
    auto* const fresh = static_cast<MeshVertex*>(AllocateBulk(capacity * sizeof(MeshVertex)));
    if (size_ > 0) std::memcpy(fresh, records_, size_ * sizeof(MeshVertex));
    if (records_) FreeBulk(records_, capacity_ * sizeof(MeshVertex));
    records_ = fresh;
    capacity_ = capacity;
}

void VertexList::Grow(std::size_t needed) {
    if (needed > capacity_) Reallocate(std::max(needed, capacity_ * 2));
}

}  // namespace trenn
