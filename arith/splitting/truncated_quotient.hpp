// A quotient Y = N * 2^E / D of positive big integers computed to the
// precision it needs and no more, either in two steps, where the divisor's
// side (2^c / D, one division) is prepared while N is still being summed
// and once N is known one multiplication and a shift finish the quotient,
// or in one division once both are known.
#pragma once

#include "big_integer.hpp"

#include <cstdint>

struct PreparedQuotient {
    BigInteger factor;           // floor(2^c / D'), D' = D cut to precision bits
    int64_t divisor_shift;       // D' = floor(D / 2^divisor_shift)
    int64_t factor_shift;        // c
    int64_t two_exponent;        // E
    int64_t quotient_bits;       // Y < 2^quotient_bits is promised
};

// The divisor's side for quotients below 2^quotient_bits. divisor is taken
// over and freed once cut. In all three, the pool, if given, shares the
// transforms of the products.
PreparedQuotient prepare_quotient(BigInteger divisor, int64_t two_exponent, int64_t quotient_bits,
                                  ForkJoinPool* pool = nullptr);

// An integer less than 9/8 + 2^-61 away from Y = numerator * 2^E / D.
// numerator is taken over and freed once cut.
BigInteger finish_quotient(BigInteger numerator, const PreparedQuotient& prepared, ForkJoinPool* pool = nullptr);

// The same quotient in one step, for a numerator already known: one
// division of twice the precision by the precision, cheaper than preparing
// and finishing. Both operands are taken over and freed once cut.
BigInteger divide_quotient(BigInteger numerator, BigInteger divisor, int64_t two_exponent, int64_t quotient_bits,
                           ForkJoinPool* pool = nullptr);

// quotient <- floor(numerator 2^shift / divisor) for divisor > 0 <= numerator
// and shift >= 0, without the dividend's low zeros: by Newton's iteration on
// the transforms where that pays, otherwise by GMP's division in two halves,
// with less scratch memory than one division. The pool, if given, shares
// the transforms.
void floor_quotient(BigInteger& quotient, BigInteger numerator, int64_t shift, const BigInteger& divisor,
                    ForkJoinPool* pool = nullptr);
