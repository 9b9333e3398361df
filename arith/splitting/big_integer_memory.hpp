// GMP's memory: GMP cannot report a failed allocation to its caller, and by
// default it aborts. These functions end the run instead, with the failed
// request's size, through a handler the program may set.
#pragma once

#include <cstddef>

// Called when GMP cannot get bytes_requested bytes; must not return. The
// default writes the out-of-memory line to standard error and exits with
// status 1.
using BigIntegerAllocationFailure = void (*)(size_t bytes_requested);
void set_big_integer_allocation_failure(BigIntegerAllocationFailure handler);

// Gives GMP these memory functions; once is enough, more is harmless.
void install_big_integer_memory();

// Whether the heap keeps all the memory freed at its top for reuse, or
// gives back what exceeds a couple of mebibytes (the default). Only glibc's
// heap is tuned so.
void keep_whole_heap(bool whole);

// The line the default handler writes, without its line end.
void big_integer_failure_message(size_t bytes_requested, char* buffer, size_t buffer_size);
