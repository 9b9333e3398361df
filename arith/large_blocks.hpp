// Blocks of a mebibyte or more (the large big integers, or any other large
// working array), in memory mapped for them alone. Each block goes back to
// the system when freed, so holes between live blocks never add to the peak,
// and where the system offers transparent huge pages the block starts on a
// huge page boundary and asks for them: a fault then brings in two mebibytes
// instead of four kibibytes, and the faults of the big products, a sixth of
// a binary splitting run's time with small pages, mostly vanish.
#pragma once

#include <cstddef>

// Requests below this size are better served by the heap.
inline constexpr size_t LARGE_BLOCK_BYTES = size_t{1} << 20;

// Each returns nullptr when the system refuses the memory.
void* map_large_block(size_t bytes);
void* remap_large_block(void* block, size_t old_bytes, size_t new_bytes);
// bytes is the size the block was mapped or last remapped with.
void unmap_large_block(void* block, size_t bytes);
