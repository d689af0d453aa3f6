#include "model/mesh.h"

#include "runtime/bulk_memory.h"

namespace trenn {

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

}  // namespace trenn
