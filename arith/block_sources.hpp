// What the platform sources of block memory (posix/ and windows/
// block_memory.cpp) give block_memory.cpp, which sends each request to one of
// them by its size and moves a block between them when a reallocation
// crosses LARGE_BLOCK_BYTES. Each returns nullptr when the system refuses.
#pragma once

#include <cstddef>

// Blocks below LARGE_BLOCK_BYTES.
void* allocate_small_block(size_t bytes);
void* reallocate_small_block(void* block, size_t old_bytes, size_t new_bytes);
void release_small_block(void* block, size_t bytes);

// Moves a block's bytes to a new block of new_bytes (from whichever source
// serves that size) and releases the old one: a reallocation that cannot be
// made in place.
void* move_block(void* block, size_t old_bytes, size_t new_bytes);

// Blocks of LARGE_BLOCK_BYTES or more, each mapped for itself.
void* map_large_block(size_t bytes);
void* remap_large_block(void* block, size_t old_bytes, size_t new_bytes);
void unmap_large_block(void* block, size_t bytes);
