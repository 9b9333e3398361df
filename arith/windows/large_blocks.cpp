// Large blocks from the C heap, as every other block: no mapping of their
// own and no huge pages, whose use on Windows needs a privilege users lack.
#include "large_blocks.hpp"

#include <cstdlib>

void* map_large_block(size_t bytes) { return std::malloc(bytes); }

void* remap_large_block(void* block, size_t, size_t new_bytes) { return std::realloc(block, new_bytes); }

void unmap_large_block(void* block, size_t) { std::free(block); }
