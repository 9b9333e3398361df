// The build without GMP: no binary splitting, and the choice of engine never
// asks for it.
#include "engine_choice.hpp"
#include "splitting/big_integer_memory.hpp"
#include "splitting/splitting.hpp"

#include <cstdio>

#include <stdexcept>

bool splitting_engine_built() { return false; }

void gauss_formula_splitting(int32_t, int32_t*, const SplittingOptions&)
{
    throw std::logic_error("binary splitting is not in this build (GMP was not found)");
}

int32_t splitting_threads(int32_t, int32_t) { return 1; }

int64_t splitting_error_bound() { return 0; }

int64_t splitting_bytes_needed(int32_t) { return 0; }

int64_t splitting_progress_total(int32_t) { return 0; }

// Without GMP nothing allocates through these; the handler is never called.
void set_big_integer_allocation_failure(BigIntegerAllocationFailure) {}

void install_big_integer_memory() {}

void big_integer_failure_message(size_t bytes_requested, char* buffer, size_t buffer_size)
{
    std::snprintf(buffer, buffer_size, "cannot allocate %zu bytes", bytes_requested);
}
