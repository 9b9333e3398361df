// Gauss's formula pi = 4 * (12 arctan(1/18) + 8 arctan(1/57) - 5 arctan(1/239))
// summed in fixed point, and the bound on how far the truncated sum can stray.
#pragma once

#include "machin_formula.hpp"

#include <cstdint>

inline constexpr FormulaTerm TERM_TABLE[] = {{18, 12}, {57, 8}, {239, -5}};

// total <- pi over limb_count limbs by the straightforward series
// (arctan_recip_reference), one arctangent after another in arc with power
// and quotient as working arrays, all of limb_count limbs: the yardstick that
// the series engine matches limb for limb, slow.
void gauss_formula_reference(int32_t limb_count, int32_t* total, int32_t* arc, int32_t* power, int32_t* quotient);

// total <- total + coefficient * arc; arc is scaled in place.
void add_weighted(int32_t limb_count, int32_t* total, int32_t* arc, int32_t coefficient);

// An upper bound on |total - pi| in units of the last limb, for the result of
// gauss_formula_reference over limb_count limbs, and so for every engine that
// gives its limbs.
int64_t gauss_formula_error_bound(int32_t limb_count);
