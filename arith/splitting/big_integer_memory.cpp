// GMP's allocation, reallocation and release, with the failure ending the
// run: small blocks from malloc, large ones mapped for themselves. GMP passes
// every block's size to its reallocation and release, so the size alone says
// where a block came from.
#include "big_integer_memory.hpp"

#include "large_blocks.hpp"

#include <gmp.h>

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

#ifdef __GLIBC__
constexpr size_t HEAP_TOP_KEPT_BYTES = size_t{2} << 20;
#endif

void write_failure_and_exit(size_t bytes_requested)
{
    char message[160];
    big_integer_failure_message(bytes_requested, message, sizeof message);
    std::fprintf(stderr, "%s\n", message);
    std::fflush(stderr);
    std::_Exit(1);
}

std::atomic<BigIntegerAllocationFailure> failure_handler{write_failure_and_exit};

[[noreturn]] void fail(size_t bytes_requested)
{
    failure_handler.load()(bytes_requested);
    std::_Exit(1);  // a handler that returned
}

bool is_large(size_t size) { return size >= LARGE_BLOCK_BYTES; }

void* allocate(size_t size)
{
    void* block = is_large(size) ? map_large_block(size) : std::malloc(size);
    if (block == nullptr)
        fail(size);
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
            fail(new_size);
        return moved;
    }
    void* moved = allocate(new_size);
    std::memcpy(moved, block, old_size < new_size ? old_size : new_size);
    release(block, old_size);
    return moved;
}

}  // namespace

void set_big_integer_allocation_failure(BigIntegerAllocationFailure handler)
{
    failure_handler.store(handler != nullptr ? handler : write_failure_and_exit);
}

void install_big_integer_memory()
{
    static std::once_flag installed;
    std::call_once(installed, [] {
#ifdef __GLIBC__
        // Blocks below a mebibyte, the many middle nodes of the trees, come
        // from the heap. By default glibc maps such blocks until it sees
        // one freed, then adapts, keeping more of the heap's top the larger
        // the blocks it has seen; with a fixed threshold alone it trims the
        // top whenever 128 KiB of it is free, only to fault it back in soon
        // after. At ten million digits, with these two settings: 220,000
        // page faults and a 77 MB peak; adaptive: 175,000 and 87 MB; the
        // threshold alone: 340,000 and 74 MB, and 1.4 s slower.
        mallopt(M_MMAP_THRESHOLD, static_cast<int>(LARGE_BLOCK_BYTES));
        mallopt(M_TRIM_THRESHOLD, static_cast<int>(HEAP_TOP_KEPT_BYTES));
#endif
        mp_set_memory_functions(allocate, reallocate, release);
    });
}

void keep_whole_heap([[maybe_unused]] bool whole)
{
#ifdef __GLIBC__
    mallopt(M_TRIM_THRESHOLD, whole ? INT_MAX : static_cast<int>(HEAP_TOP_KEPT_BYTES));
#endif
}

void big_integer_failure_message(size_t bytes_requested, char* buffer, size_t buffer_size)
{
    std::snprintf(buffer, buffer_size, "cannot allocate %zu bytes (%zu MiB) for the big integers", bytes_requested,
                  (bytes_requested + (size_t{1} << 20) - 1) >> 20);
}
