// malloc, realloc and free for GMP, with the failure ending the run.
#include "big_integer_memory.hpp"

#include <gmp.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

#ifdef __GLIBC__
constexpr int MMAP_THRESHOLD_BYTES = 1 << 20;
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

void* allocate(size_t size)
{
    void* block = std::malloc(size);
    if (block == nullptr)
        fail(size);
    return block;
}

void* reallocate(void* block, size_t, size_t new_size)
{
    void* moved = std::realloc(block, new_size);
    if (moved == nullptr)
        fail(new_size);
    return moved;
}

void release(void* block, size_t) { std::free(block); }

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
        // glibc raises its mmap threshold each time a mapped block is freed,
        // until the big integers' blocks of many megabytes come from the
        // heap, where a hole freed between live blocks cannot go back to the
        // system and the peak grows with the fragments. A fixed threshold
        // keeps every block of a mebibyte or more mapped, returned to the
        // system when freed.
        mallopt(M_MMAP_THRESHOLD, MMAP_THRESHOLD_BYTES);
#endif
        mp_set_memory_functions(allocate, reallocate, release);
    });
}

void big_integer_failure_message(size_t bytes_requested, char* buffer, size_t buffer_size)
{
    std::snprintf(buffer, buffer_size, "cannot allocate %zu bytes (%zu MiB) for the big integers", bytes_requested,
                  (bytes_requested + (size_t{1} << 20) - 1) >> 20);
}
