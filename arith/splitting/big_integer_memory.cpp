// GMP's allocation, reallocation and release: small blocks from malloc, large
// ones mapped for themselves (large_blocks.hpp). GMP passes every block's size
// to its reallocation and release, so the size alone says where a block came
// from. GMP cannot be told of a failure, and by default it aborts; a refusal
// here ends the run through the program's exit instead, with its size.
#include "splitting/splitting.hpp"

#include "large_blocks.hpp"
#include "out_of_memory.hpp"

#include <gmp.h>

#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

[[noreturn]] void refuse(size_t bytes_requested)
{
    exit_for_refused_memory(MemoryUse::big_integers, static_cast<int64_t>(bytes_requested));
}

bool is_large(size_t size) { return size >= LARGE_BLOCK_BYTES; }

void* allocate(size_t size)
{
    void* block = is_large(size) ? map_large_block(size) : std::malloc(size);
    if (block == nullptr)
        refuse(size);
    return block;
}

void release(void* block, size_t size)
{
    if (is_large(size))
        unmap_large_block(block, size);
    else
        std::free(block);
}

void* reallocate(void* block, size_t old_size, size_t new_size)
{
    if (is_large(old_size) == is_large(new_size)) {
        void* moved = is_large(new_size) ? remap_large_block(block, old_size, new_size) : std::realloc(block, new_size);
        if (moved == nullptr)
            refuse(new_size);
        return moved;
    }
    void* moved = allocate(new_size);
    std::memcpy(moved, block, old_size < new_size ? old_size : new_size);
    release(block, old_size);
    return moved;
}

}  // namespace

void install_big_integer_memory()
{
    static std::once_flag installed;
    std::call_once(installed, [] { mp_set_memory_functions(allocate, reallocate, release); });
}
