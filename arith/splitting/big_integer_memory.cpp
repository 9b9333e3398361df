// GMP's allocation, reallocation and release, from block memory
// (block_memory.hpp): GMP passes every block's size to its reallocation and
// release, as block memory needs. GMP cannot be told of a failure, and by
// default it aborts; a refusal here ends the run through the program's exit
// instead, with its size.
#include "splitting/splitting.hpp"

#include "block_memory.hpp"
#include "out_of_memory.hpp"

#include <gmp.h>

#include <mutex>

namespace {

[[noreturn]] void refuse(size_t bytes_requested)
{
    exit_for_refused_memory(MemoryUse::big_integers, static_cast<int64_t>(bytes_requested));
}

void* allocate(size_t bytes)
{
    void* block = allocate_block(bytes);
    if (block == nullptr)
        refuse(bytes);
    return block;
}

void* reallocate(void* block, size_t old_bytes, size_t new_bytes)
{
    void* moved = reallocate_block(block, old_bytes, new_bytes);
    if (moved == nullptr)
        refuse(new_bytes);
    return moved;
}

}  // namespace

void install_big_integer_memory()
{
    static std::once_flag installed;
    std::call_once(installed, [] { mp_set_memory_functions(allocate, reallocate, release_block); });
}
