// Gauss's formula, or any Machin-type formula, by binary splitting over big
// integers: each arctangent summed exactly as a rational, divided out once to
// the precision wanted, and the series weighed into pi. Its work grows like
// n log^3 n in the digits, where the series engine's grows like n^2.
//
// This header is all the rest of the library sees of the engine. Without GMP
// the build has none of it: splitting_engine_built() says so, and the other
// functions are never called.
#pragma once

#include "machin_formula.hpp"

#include <atomic>
#include <cstdint>
#include <span>

// Whether this build has the engine (it needs GMP).
bool splitting_engine_built();

struct SplittingOptions {
    int32_t threads = 1;
    // If given, grows by splitting_progress_total(limb_count) over a run of
    // Gauss's formula, by splitting_progress_total(formula, limb_count) over
    // one of another formula.
    std::atomic<int64_t>* progress = nullptr;
};

// total <- pi over limb_count limbs (limb 0 the integer part), within
// splitting_error_bound() units of the last limb. Throws std::bad_alloc when
// memory is refused outside GMP; inside GMP a refusal ends the process (see
// install_big_integer_memory).
void gauss_formula_splitting(int32_t limb_count, int32_t* total, const SplittingOptions& options = {});

// The same by the formula pi = 4 * sum c_i arctan(1/x_i) given as its terms
// (two at least, 2 <= x_i < 2^16), within splitting_error_bound(formula)
// units of the last limb. Throws ExactnessViolation (exactness.hpp), before
// any work, where the formula lies outside the engine's bounds at limb_count.
void machin_formula_splitting(std::span<const FormulaTerm> formula, int32_t limb_count, int32_t* total,
                              const SplittingOptions& options = {});

// The threads worth starting over limb_count limbs on cpus CPUs: one for
// small inputs, where a second costs more to start than it saves.
int32_t splitting_threads(int32_t limb_count, int32_t cpus);

// An upper bound on |total - pi| in units of the last limb, for Gauss's
// formula and for the formula given; throws ExactnessViolation where the
// formula's series leave too large a tail for the bound.
int64_t splitting_error_bound();
int64_t splitting_error_bound(std::span<const FormulaTerm> formula);

// The most bytes a run of Gauss's formula over limb_count limbs holds at
// once, beyond total.
int64_t splitting_bytes_needed(int32_t limb_count);

// What one run adds to the progress counter, of Gauss's formula and of the
// formula given.
int64_t splitting_progress_total(int32_t limb_count);
int64_t splitting_progress_total(std::span<const FormulaTerm> formula, int32_t limb_count);

// Gives GMP memory functions that map large blocks for themselves and end
// the run through exit_for_refused_memory (out_of_memory.hpp) when memory is
// refused. Process-wide; once is enough, more is harmless.
void install_big_integer_memory();
