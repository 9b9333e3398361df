// Memory refused to a run, told to the program in one of two ways: as an
// OutOfMemory exception where the failure can unwind to the caller, or,
// inside a library that cannot unwind (GMP, written in C, has no way to
// report a failed allocation), through the exit the program sets, which ends
// the process there. Either way the words are the program's: the core only
// says what the memory was for and how much.
#pragma once

#include <cstdint>
#include <exception>

// What the refused memory was for.
enum class MemoryUse {
    digit_arrays,  // the limbs of the result and the engines' working arrays
    big_integers,  // binary splitting's big integers
};

class OutOfMemory : public std::exception {
public:
    // bytes_available is -1 where it is not known.
    OutOfMemory(MemoryUse use, int64_t bytes_needed, int64_t bytes_available = -1)
        : use(use), bytes_needed(bytes_needed), bytes_available(bytes_available)
    {
    }
    const char* what() const noexcept override { return "out of memory"; }

    MemoryUse use;
    int64_t bytes_needed;
    int64_t bytes_available;
};

// Ends the process for memory refused where nothing can unwind; must not
// return. It may run on any thread, with no memory to spare.
using RefusedMemoryExit = void (*)(MemoryUse use, int64_t bytes_requested);

// Sets the exit; nullptr puts back the default, std::abort (what GMP itself
// would do).
void set_refused_memory_exit(RefusedMemoryExit exit);

// Ends the process through the exit set.
[[noreturn]] void exit_for_refused_memory(MemoryUse use, int64_t bytes_requested);
