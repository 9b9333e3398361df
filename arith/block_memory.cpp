// The size of a request says which source serves it; the size passed with
// every later call says which source a block came from.
#include "block_memory.hpp"

#include "block_sources.hpp"

#include <cstring>

namespace {

bool is_large(size_t bytes) { return bytes >= LARGE_BLOCK_BYTES; }

}  // namespace

void* allocate_block(size_t bytes)
{
    return is_large(bytes) ? map_large_block(bytes) : allocate_small_block(bytes);
}

void* reallocate_block(void* block, size_t old_bytes, size_t new_bytes)
{
    if (is_large(old_bytes) == is_large(new_bytes))
        return is_large(new_bytes) ? remap_large_block(block, old_bytes, new_bytes)
                                   : reallocate_small_block(block, old_bytes, new_bytes);
    return move_block(block, old_bytes, new_bytes);
}

void* move_block(void* block, size_t old_bytes, size_t new_bytes)
{
    void* moved = allocate_block(new_bytes);
    if (moved == nullptr)
        return nullptr;
    std::memcpy(moved, block, old_bytes < new_bytes ? old_bytes : new_bytes);
    release_block(block, old_bytes);
    return moved;
}

void release_block(void* block, size_t bytes)
{
    if (is_large(bytes))
        unmap_large_block(block, bytes);
    else
        release_small_block(block, bytes);
}
