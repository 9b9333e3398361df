// Division of big integers by Newton's iteration on the transform
// multiplication: a reciprocal to the precision the quotient needs, an
// approximate quotient from it, and the remainder that makes it the exact
// floor. Where the transforms do not beat GMP, GMP's own division is the
// faster, and newton_division_pays says so.
#pragma once

#include "big_integer.hpp"

#include <cstdint>

// x with |x - 2^(precision + bits(d)) / d| < 2, for d > 0 and precision >= 1:
// 1/d' in fixed point with precision bits after the point, d' = d / 2^bits(d)
// in [1/2, 1).
void approximate_reciprocal(BigInteger& x, const BigInteger& d, int64_t precision, ForkJoinPool* pool = nullptr);

// The limbs of divisor and quotient from which Newton's iteration beats
// GMP's division on this CPU, and from which the iteration starts its steps
// (SIZE_MAX where the transforms never beat GMP).
size_t newton_from_limbs();

// Whether the quotient of quotient_bits bits by a divisor of divisor_limbs
// limbs is faster by Newton's iteration than by GMP's division on this CPU.
bool newton_division_pays(size_t divisor_limbs, int64_t quotient_bits);

// quotient <- floor(numerator 2^shift / divisor), for numerator >= 0,
// divisor > 0 and shift >= 0, by Newton's iteration whatever the sizes; the
// low zeros of the dividend are never formed. The approximate quotient is
// within one of the floor by the bounds derived beside the code, and the
// remainder, checked to lie in [0, divisor), makes it the floor exactly.
// numerator is taken over and freed as soon as the remainder has its part.
void newton_quotient(BigInteger& quotient, BigInteger numerator, int64_t shift, const BigInteger& divisor,
                     ForkJoinPool* pool = nullptr);
