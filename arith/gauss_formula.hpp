// Gauss's formula pi = 4 * (12 arctan(1/18) + 8 arctan(1/57) - 5 arctan(1/239))
// summed in fixed point, and the bound on how far the truncated sum can stray.
#pragma once

#include "wavefront/wavefront.hpp"

#include <cstdint>

struct FormulaTerm {
    int32_t x;            // arctan(1/x)
    int32_t coefficient;  // its weight in the formula
};

inline constexpr FormulaTerm TERM_TABLE[] = {{18, 12}, {57, 8}, {239, -5}};

// total <- pi over limb_count limbs by the wavefront engine; arc is a working
// array of the same length that holds one arctangent at a time while it is
// weighed into total.
void gauss_formula(int32_t limb_count, int32_t* total, int32_t* arc, const EngineOptions& options = {});

// The same formula over the straightforward series (arctan_recip_reference),
// one after another with the four arrays it has always used: the yardstick
// for the engine, slow.
void gauss_formula_reference(int32_t limb_count, int32_t* total, int32_t* arc, int32_t* power, int32_t* quotient);

// total <- total + coefficient * arc; arc is scaled in place.
void add_weighted(int32_t limb_count, int32_t* total, int32_t* arc, int32_t coefficient);

// The threads worth starting for the formula over limb_count limbs on cpus
// CPUs: one for small inputs, otherwise no more than the series can keep busy.
int32_t formula_threads(int32_t limb_count, int32_t cpus);

// What one gauss_formula run adds to the progress counter.
int64_t gauss_formula_progress_total(int32_t limb_count);

// The bytes gauss_formula allocates beyond the two arrays it is given.
int64_t gauss_formula_scratch_bytes(int32_t limb_count);

// An upper bound on |total - pi| in units of the last limb, for the result of
// gauss_formula (or gauss_formula_reference) over limb_count limbs.
int64_t gauss_formula_error_bound(int32_t limb_count);
