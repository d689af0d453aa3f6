#include "runtime/bulk_memory.h"

#include "runtime/region_space.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <optional>
#include <mutex>
#include <vector>

namespace trenn {
namespace {

// Under AddressSanitizer every block comes from the ordinary heap, where overruns are caught.
#if defined(__SANITIZE_ADDRESS__)
#define TRENN_BULK_FROM_HEAP 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TRENN_BULK_FROM_HEAP 1
#endif
#endif
#ifdef TRENN_BULK_FROM_HEAP
constexpr std::size_t kBulkThreshold = static_cast<std::size_t>(-1);
#else
constexpr std::size_t kBulkThreshold = std::size_t{64} << 10;
#endif
constexpr std::size_t kHugePage = std::size_t{2} << 20;
constexpr std::size_t kRegionSize = std::size_t{64} << 20;
constexpr std::size_t kAlignment = 64;
constexpr std::size_t kPage = 4096;

// A region hands out blocks first from the ranges freed in it, then from its untouched end,
// and is returned to the system when its last block is freed. Pages are only backed once
// written; the pages of a freed range are given back at once, so an array that grows by
// copying holds no more memory than its last two copies.
struct Region {
    char* base = nullptr;
    std::size_t size = 0;
    std::size_t live = 0;  // blocks not yet freed
    RegionSpace space{0};

    void Release(std::size_t offset, std::size_t bytes) {
        // Whole pages inside the range go back to the system; the block's neighbours keep theirs.
        const std::size_t first = (offset + kPage - 1) / kPage * kPage;
        const std::size_t last = (offset + bytes) / kPage * kPage;
        if (last > first) madvise(base + first, last - first, MADV_DONTNEED);
        space.Give(offset, bytes);
    }
};

// The bookkeeping is never destroyed: arrays of static storage (the model's parts) free their
// blocks while the program ends, and nothing orders their destructors after ours.
struct Regions {
    std::mutex mutex;
    std::vector<Region> list;  // the last one is the one being filled
};
Regions& TheRegions() {
    static Regions* const regions = new Regions;
    return *regions;
}

Region* NewRegion(Regions& regions, std::size_t atLeast) {
    const std::size_t needed = (atLeast + kHugePage - 1) / kHugePage * kHugePage;
    std::size_t size = std::max(kRegionSize, needed);
    // Over-allocate by one huge page so that the region can start on a huge-page boundary.
    void* mapped = mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (mapped == MAP_FAILED && size > needed) {
        // Under a limit on the address space a whole region may not fit where the block does.
        size = needed;
        mapped = mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    }
    if (mapped == MAP_FAILED) return nullptr;
    char* const raw = static_cast<char*>(mapped);
    const auto address = reinterpret_cast<std::uintptr_t>(raw);
    char* const base = raw + ((kHugePage - address % kHugePage) % kHugePage);
    if (base > raw) munmap(raw, static_cast<std::size_t>(base - raw));
    char* const end = base + size;
    if (end < raw + size + kHugePage) munmap(end, static_cast<std::size_t>(raw + size + kHugePage - end));
#ifdef MADV_HUGEPAGE
    madvise(base, size, MADV_HUGEPAGE);  // a hint; without it the region is just ordinary pages
#endif
    regions.list.emplace_back();
    Region& region = regions.list.back();
    region.base = base;
    region.size = size;
    region.space = RegionSpace(size);
    return &region;
}

std::size_t Rounded(std::size_t bytes) { return (bytes + kAlignment - 1) / kAlignment * kAlignment; }

}  // namespace

void* AllocateBulk(std::size_t bytes) {
    if (bytes < kBulkThreshold) return ::operator new(bytes);
    const std::size_t rounded = Rounded(bytes);
    Regions& regions = TheRegions();
    std::lock_guard lock(regions.mutex);
    char* block = nullptr;
    // Newest regions first: they are the ones most likely to have room.
    for (auto it = regions.list.rbegin(); it != regions.list.rend() && !block; ++it) {
        if (const std::optional<std::size_t> offset = it->space.Take(rounded)) {
            block = it->base + *offset;
            ++it->live;
        }
    }
    if (!block) {
        Region* const region = NewRegion(regions, rounded);
        if (!region) throw std::bad_alloc();
        block = region->base + *region->space.Take(rounded);
        region->live = 1;
    }
    return block;
}

void FreeBulk(void* block, std::size_t bytes) noexcept {
    if (!block) return;
    if (bytes < kBulkThreshold) {
        ::operator delete(block);
        return;
    }
    const std::size_t rounded = Rounded(bytes);
    Regions& regions = TheRegions();
    std::lock_guard lock(regions.mutex);
    char* const address = static_cast<char*>(block);
    for (auto it = regions.list.begin(); it != regions.list.end(); ++it) {
        if (address < it->base || address >= it->base + it->size) continue;
        if (--it->live == 0) {
            munmap(it->base, it->size);
            regions.list.erase(it);
        } else {
            it->Release(static_cast<std::size_t>(address - it->base), rounded);
        }
        return;
    }
}

}  // namespace trenn
