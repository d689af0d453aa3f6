#pragma once

// Memory for large arrays that are filled once and then only read, such as vertex arrays and
// index lists. Blocks of 64 KiB or more come out of big regions backed by huge pages where the
// system offers them: filling a quarter gigabyte of 4 KiB pages costs a page fault every 4 KiB,
// which made loading large models several times slower than reading them. Smaller blocks come
// from the ordinary heap. Freed blocks are reused, and their pages given back to the system.

#include <cstddef>

namespace trenn {

void* AllocateBulk(std::size_t bytes);
void FreeBulk(void* block, std::size_t bytes) noexcept;

}  // namespace trenn
