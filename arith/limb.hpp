// Fixed-point numbers as arrays of base-10000 limbs, most significant first.
//
// Limb 0 is the integer part; limb i (i >= 1) holds the i-th group of four
// decimal digits after the point. Every operation is one pass over arrays the
// caller owns and sizes; none allocates or keeps state between calls.
#pragma once

#include <cstdint>

inline constexpr int32_t LIMB_BASE = 10000;
inline constexpr int32_t LIMB_DIGITS = 4;

// The limbs that hold an accuracy of at least 0 digits: the integer limb and
// one limb for every whole group of four digits (the rest are left off).
inline constexpr int32_t limb_count_for(int32_t accuracy)
{
    return accuracy / LIMB_DIGITS + 1;
}

// The decimal digits after the point that limb_count >= 1 limbs hold.
inline constexpr int64_t fraction_digits(int32_t limb_count)
{
    return int64_t{LIMB_DIGITS} * (limb_count - 1);
}

// dst <- dst + src. The carry out of limb 0 is dropped.
void limb_add(int32_t limb_count, int32_t* dst, const int32_t* src);

// dst <- dst - src. A negative difference leaves limb 0 negative and the
// fraction limbs normalised: 0 - 0.00000001 gives [-1, 9999, 9999].
void limb_sub(int32_t limb_count, int32_t* dst, const int32_t* src);

// a <- a * multiplier for a small positive multiplier; returns the carry out
// of limb 0.
int32_t limb_mul_small(int32_t limb_count, int32_t* a, int32_t multiplier);

// dst <- src / divisor, truncated. dst may be src.
void limb_div_small(int32_t limb_count, const int32_t* src, int32_t divisor, int32_t* dst);

// True when every limb is zero (and for an empty array).
bool limb_is_zero(int32_t limb_count, const int32_t* a);
