#include "runtime/bulk_memory.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
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

// A region hands out blocks front to back and is returned to the system when its last block
// is freed. Pages are only backed once written, so the unused end of a region costs nothing.
struct Region {
    char* base = nullptr;
    std::size_t size = 0;
    std::size_t used = 0;
    std::size_t live = 0;  // blocks not yet freed
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

Region* NewRegion(std::size_t atLeast) {
    const std::size_t size = std::max(kRegionSize, (atLeast + kHugePage - 1) / kHugePage * kHugePage);
    // Over-allocate by one huge page so that the region can start on a huge-page boundary.
    void* mapped = mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
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
    std::vector<Region>& list = TheRegions().list;
    list.push_back({base, size, 0, 0});
    return &list.back();
}

}  // namespace

void* AllocateBulk(std::size_t bytes) {
    if (bytes < kBulkThreshold) return ::operator new(bytes);
    const std::size_t rounded = (bytes + kAlignment - 1) / kAlignment * kAlignment;
    Regions& regions = TheRegions();
    std::lock_guard lock(regions.mutex);
    Region* region = regions.list.empty() ? nullptr : &regions.list.back();
    if (!region || region->size - region->used < rounded) region = NewRegion(rounded);
    if (!region) throw std::bad_alloc();
    void* const block = region->base + region->used;
    region->used += rounded;
    ++region->live;
    return block;
}

void FreeBulk(void* block, std::size_t bytes) noexcept {
    if (!block) return;
    if (bytes < kBulkThreshold) {
        ::operator delete(block);
        return;
    }
    Regions& regions = TheRegions();
    std::lock_guard lock(regions.mutex);
    char* const address = static_cast<char*>(block);
    for (auto it = regions.list.begin(); it != regions.list.end(); ++it) {
        if (address < it->base || address >= it->base + it->size) continue;
        if (--it->live == 0) {
            munmap(it->base, it->size);
            regions.list.erase(it);
        }
        return;
    }
}

}  // namespace trenn
