// The build without GMP: no binary splitting, and the choice of engine never
// asks for it.
#include "splitting/splitting.hpp"

#include <stdexcept>

bool splitting_engine_built() { return false; }

void gauss_formula_splitting(int32_t, int32_t*, const SplittingOptions&)
{
    throw std::logic_error("binary splitting is not in this build (GMP was not found)");
}

void machin_formula_splitting(std::span<const FormulaTerm>, int32_t, int32_t*, const SplittingOptions&)
{
    throw std::logic_error("binary splitting is not in this build (GMP was not found)");
}

int32_t splitting_threads(int32_t, int32_t) { return 1; }

int64_t splitting_error_bound() { return 0; }

int64_t splitting_error_bound(std::span<const FormulaTerm>) { return 0; }

int64_t splitting_bytes_needed(int32_t) { return 0; }

int64_t splitting_progress_total(int32_t) { return 0; }

int64_t splitting_progress_total(std::span<const FormulaTerm>, int32_t) { return 0; }

// Nothing allocates big integers without GMP.
void install_big_integer_memory() {}
