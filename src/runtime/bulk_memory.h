#pragma once

// Memory for large arrays that are filled once and then only read, such as vertex arrays and
// index lists. Blocks of 64 KiB or more come out of big regions backed by huge pages where the
// system offers them: filling a quarter gigabyte of 4 KiB pages costs a page fault every 4 KiB,
// which made loading large models several times slower than reading them. Smaller blocks come
// from the ordinary heap. Freed blocks are reused, and their pages given back to the system.

#include <cstddef>
#include <new>

namespace trenn {

void* AllocateBulk(std::size_t bytes);
void FreeBulk(void* block, std::size_t bytes) noexcept;

// What the regions hold: address space taken from the system, and the blocks handed out of it.
struct BulkUsage {
    std::size_t mappedBytes = 0;
    std::size_t liveBytes = 0;
};
BulkUsage CurrentBulkUsage();

template <typename T>
struct BulkAllocator {
    using value_type = T;

    BulkAllocator() = default;
    template <typename U>
    BulkAllocator(const BulkAllocator<U>&) noexcept {}

    T* allocate(std::size_t count) {
        if (count > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_array_new_length();
        return static_cast<T*>(AllocateBulk(count * sizeof(T)));
    }
    void deallocate(T* block, std::size_t count) noexcept { FreeBulk(block, count * sizeof(T)); }

    template <typename U>
    bool operator==(const BulkAllocator<U>&) const noexcept {
        return true;
    }
};

}  // namespace trenn
