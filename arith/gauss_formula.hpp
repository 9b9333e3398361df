// Gauss's formula pi = 4 * (12 arctan(1/18) + 8 arctan(1/57) - 5 arctan(1/239))
// summed in fixed point, and the bound on how far the truncated sum can stray.
#pragma once

#include "arctan_engine.hpp"

#include <cstdint>

struct FormulaTerm {
    int32_t x;            // arctan(1/x)
    int32_t coefficient;  // its weight in the formula
};

inline constexpr FormulaTerm TERM_TABLE[] = {{18, 12}, {57, 8}, {239, -5}};

// Asks gauss_formula to choose the thread count: every core for inputs large
// enough to gain from them, one below that.
inline constexpr int32_t ALL_CORES = 0;

// total <- pi over limb_count limbs; arc, power and quotient are working
// arrays of the same length (they end holding the weighted arctangents).
// The three series run concurrently on up to `threads` threads.
void gauss_formula(int32_t limb_count, int32_t* total, int32_t* arc, int32_t* power, int32_t* quotient,
                   int32_t threads = ALL_CORES);

// The same with the engine's path, thread count and progress counter given.
void gauss_formula(int32_t limb_count, int32_t* total, int32_t* arc, int32_t* power, int32_t* quotient,
                   const EngineOptions& options);

// The same formula over the straightforward series (arctan_recip_reference),
// one after another: the yardstick for the engine, slow.
void gauss_formula_reference(int32_t limb_count, int32_t* total, int32_t* arc, int32_t* power, int32_t* quotient);

// The threads worth starting for the formula over limb_count limbs on cpus CPUs.
int32_t formula_threads(int32_t limb_count, int32_t cpus);

// What one gauss_formula run adds to the progress counter.
int64_t gauss_formula_progress_total(int32_t limb_count);

// The bytes gauss_formula allocates beyond the four arrays it is given.
int64_t gauss_formula_scratch_bytes(int32_t limb_count);

// An upper bound on |total - pi| in units of the last limb, for the result of
// gauss_formula over limb_count limbs.
int64_t gauss_formula_error_bound(int32_t limb_count);
