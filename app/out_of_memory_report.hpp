// The program's words for memory a run cannot have, and its way out when the
// refusal comes where nothing can unwind (inside GMP).
#pragma once

#include "out_of_memory.hpp"

#include <cstddef>
#include <cstdint>

// "cannot allocate N bytes (M MiB) for the digit arrays", with ": K bytes
// (L MiB) available" where that is known; "big integers" for GMP's memory.
// Written into buffer without allocating, cut to its size.
void format_out_of_memory(const OutOfMemory& refused, char* buffer, size_t buffer_size);

// Ends the process with "pi: " and that line on standard error and status 1,
// after the cleanup of an interruption: the exit the program gives the core
// (set_refused_memory_exit).
[[noreturn]] void exit_for_refused_memory_now(MemoryUse use, int64_t bytes_requested);
