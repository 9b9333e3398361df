// The exit for memory refused where nothing can unwind: an atomic, since a
// refusal may come on any thread of the run.
#include "out_of_memory.hpp"

#include <atomic>
#include <cstdlib>

namespace {

std::atomic<RefusedMemoryExit> refused_memory_exit{nullptr};

}  // namespace

void set_refused_memory_exit(RefusedMemoryExit exit)
{
    refused_memory_exit.store(exit);
}

void exit_for_refused_memory(MemoryUse use, int64_t bytes_requested)
{
    if (const RefusedMemoryExit exit = refused_memory_exit.load())
        exit(use, bytes_requested);
    std::abort();  // no exit set, or one that returned
}
