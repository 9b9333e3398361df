// arctan(1/x) for an integer x >= 2 as a fixed-point limb array, by the
// alternating series 1/x - 1/(3x^3) + 1/(5x^5) - ..., every term truncated
// to the array's precision.
#pragma once

#include <cstdint>

// Below this x the power is divided by x*x in one pass; from it on, by x twice
// (x*x would leave the single-division range).
inline constexpr int32_t SQUARE_LIMIT = 450;

// result <- arctan(1/x) over limb_count limbs. power and quotient are working
// arrays of the same length; none of the three needs clearing beforehand.
// power ends all zero.
void arctan_recip(int32_t x, int32_t limb_count, int32_t* result, int32_t* power, int32_t* quotient);

// The same series written directly with the five limb operations: the
// yardstick that every faster way of summing it must match limb for limb.
void arctan_recip_reference(int32_t x, int32_t limb_count, int32_t* result, int32_t* power,
                            int32_t* quotient);
