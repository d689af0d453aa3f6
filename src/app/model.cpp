#include "app/model.h"

#include <stdexcept>
#include <type_traits>
#include <utility>

#include "runtime/bulk_memory.h"

namespace trenn {

static_assert(std::is_trivially_copyable_v<MeshVertex>, "records are copied as bytes");

std::shared_ptr<SharedBytes> SharedBytes::Allocate(std::size_t size) {
    auto* const data = static_cast<unsigned char*>(AllocateBulk(size > 0 ? size : 1));
    try {
        return std::shared_ptr<SharedBytes>(new SharedBytes(data, size));
    } catch (...) {
        FreeBulk(data, size > 0 ? size : 1);
        throw;
    }
}

SharedBytes::~SharedBytes() { FreeBulk(data_, size_ > 0 ? size_ : 1); }

VertexList::VertexList(std::span<const MeshVertex> records) : count_(records.size()) {
    if (records.empty()) return;
    std::shared_ptr<SharedBytes> bytes = SharedBytes::Allocate(records.size_bytes());
    std::memcpy(bytes->data(), records.data(), records.size_bytes());
    first_ = bytes->data();
    storedBytes_ = records.size_bytes();
    storage_ = std::move(bytes);
}

VertexList::VertexList(std::shared_ptr<const SharedBytes> bytes, const unsigned char* first,
                       std::size_t storedBytes, std::size_t count)
    : storage_(std::move(bytes)),
      first_(storedBytes > 0 ? first : nullptr),
      storedBytes_(std::min(storedBytes, count * sizeof(MeshVertex))),
      count_(count) {}

MeshVertex VertexList::at(std::size_t i) const {
    if (i >= count_) throw std::out_of_range("vertex position past the end of the list");
    return (*this)[i];
}

IndexList::IndexList(std::int32_t count, std::span<const std::int16_t> stored) : count_(count) {
    const std::size_t kept = std::min<std::size_t>(stored.size(), count > 0 ? static_cast<std::size_t>(count) : 0);
    if (kept == 0) return;
    std::shared_ptr<SharedBytes> bytes = SharedBytes::Allocate(kept * 2);
    std::memcpy(bytes->data(), stored.data(), kept * 2);
    first_ = bytes->data();
    storedBytes_ = kept * 2;
    storage_ = std::move(bytes);
}

IndexList::IndexList(std::shared_ptr<const SharedBytes> bytes, const unsigned char* first,
                     std::size_t storedBytes, std::int32_t count)
    : storage_(std::move(bytes)),
      first_(storedBytes > 0 ? first : nullptr),
      storedBytes_(std::min<std::size_t>(storedBytes, count > 0 ? static_cast<std::size_t>(count) * 2 : 0)),
      count_(count) {}

}  // namespace trenn
