// Reciprocals by Newton's iteration, each step doubling the precision with
// two products, and exact quotients from them.
#include "newton_division.hpp"

#include "cpu_features.hpp"
#include "exactness.hpp"
#include "ntt/ntt_multiply.hpp"

#include <algorithm>
#include <limits>

namespace {

// A quotient's dividend is cut to a shorter copy before it multiplies the
// reciprocal where that drops more than this fraction of its bits: the copy
// costs memory, a longer product only a little time.
constexpr int64_t DROPPED_BITS_FOR_A_COPY = 16;

// Bits kept of the divisor beyond the precision at each step: its cut then
// moves the reciprocal by less than 4 * 2^-8 of its last place.
constexpr int64_t CUT_GUARD_BITS = 8;

}  // namespace

// Measured with bench/division_bench (2n by n limbs on one thread): on
// AVX-512, GMP / Newton 0.75 at 8,000 limbs, 1.22 at 16,000, 1.32 at
// 100,000 and 1.88 at 1,000,000; on AVX2 the transforms are a little less
// than half as fast, and Newton pays from twice the size. Below, and at the
// bottom of the iteration, GMP divides.
size_t newton_from_limbs()
{
    if (transform_product_limbs() == std::numeric_limits<size_t>::max())
        return std::numeric_limits<size_t>::max();
    return best_vector_isa() == VectorIsa::avx512 ? 16000 : 32000;
}

namespace {

BigInteger power_of_two(int64_t exponent)
{
    BigInteger power(1);
    shift_left(power, power, exponent);
    return power;
}

// The limbs of the least wrapped product that holds bits bits.
size_t wrapped_limbs_for_bits(int64_t bits)
{
    return ntt_wrapped_limbs(static_cast<size_t>((bits + 63) / 64));
}

// value <- the representative of value mod M = 2^N - 1, N = 64 limbs, in
// (-2^(N-1), 2^(N-1)), for value in (-M, M). Only |value| >= 2^(N-1) moves,
// by M toward 0, and M - |value| is |value|'s complement in N bits: the
// limbs are complemented in place and the sign turned, no M formed.
void nearest_representative(BigInteger& value, size_t limbs)
{
    if (value.bits() < 64 * static_cast<int64_t>(limbs))
        return;
    const int sign = value.sign();
    mp_limb_t* const words = mpz_limbs_modify(value, static_cast<mp_size_t>(limbs));
    mpn_com(words, words, static_cast<mp_size_t>(limbs));
    mpz_limbs_finish(value, sign > 0 ? -static_cast<mp_size_t>(limbs) : static_cast<mp_size_t>(limbs));
}

// The low 64 bits of value in two's complement.
uint64_t low_limb(const BigInteger& value)
{
    const uint64_t magnitude = mpz_getlimbn(value, 0);
    return value.sign() < 0 ? uint64_t{0} - magnitude : magnitude;
}

bool is_power_of_two(const BigInteger& value)
{
    const size_t size = mpz_size(value);
    const mp_limb_t* const limbs = mpz_limbs_read(value);
    if (size == 0 || (limbs[size - 1] & (limbs[size - 1] - 1)) != 0)
        return false;
    return std::all_of(limbs, limbs + size - 1, [](mp_limb_t limb) { return limb == 0; });
}

}  // namespace

bool newton_division_pays(size_t divisor_limbs, int64_t quotient_bits)
{
    const size_t from = newton_from_limbs();
    return from != std::numeric_limits<size_t>::max() && divisor_limbs >= from && quotient_bits >= 0 &&
           static_cast<size_t>(quotient_bits / GMP_NUMB_BITS) >= from;
}

// Write b = bits(d), d_r = d / 2^b in [1/2, 1) and, for a precision p with
// g = CUT_GUARD_BITS, d' = floor(d 2^(p+g-b)) / 2^(p+g): d cut to p + g
// bits, 0 <= d_r - d' < 2^-(p+g), so 0 <= 1/d' - 1/d_r < 4 * 2^-(p+g).
// The claim is |x - 2^p / d_r| < 2.
//
// At the bottom, x = floor(2^p / d') exactly: the cut adds less than
// 4 * 2^-g and the floor takes less than 1, so x - 2^p / d_r lies in
// (-1, 4 * 2^-g).
//
// Above, with h = ceil(p/2) + 3 and x_h the step below (|x_h - 2^h / d_r| < 2,
// so |y - 1/d_r| < 2 * 2^-h for y = x_h / 2^h, and y < 3): Newton's step
// y + y (1 - d' y) equals 1/d' - d' e^2 for e = y - 1/d', and
// |e| < 2 * 2^-h + 4 * 2^-(p+g) <= 3 * 2^-h, so it lies within 9 * 2^-2h
// below 1/d', which is 9 * 2^(p-2h) <= 9/64 of the last place. In
// integers, E = 2^(p+g+h) (1 - d' y) = 2^(p+g+h) - d'_int x_h exactly;
// |1 - d' y| <= d_r |1/d_r - y| + (d_r - d') y < 2^(1-h) + 3 * 2^-(p+g)
// <= 2^(2-h), so |E| < 2^(p+g+2), which is checked: it vouches for the
// step below. E is cut by s = h + g - 3 bits and x_h E 2^-(2h+g) (the
// correction 2^p y (1 - d' y)) is taken as trunc(x_h trunc(E / 2^s) / 2^(h+3)):
// the cut of E moves it by less than x_h 2^s / 2^(2h+g) < 3/8, the last
// truncation by less than 1. So x = x_h 2^(p-h) + correction lies within
// 9/64 + 3/8 + 1 below and 4 * 2^-g + 3/8 + 1 above 2^p / d_r: |x - 2^p / d_r|
// < 1.6 < 2.
void approximate_reciprocal(BigInteger& x, const BigInteger& d, int64_t precision, ForkJoinPool* pool)
{
    require_bound(d.sign() > 0 && precision >= 1, "reciprocal of a positive divisor to at least one bit");
    const int64_t p = precision;
    const int64_t g = CUT_GUARD_BITS;
    BigInteger cut;
    shift_by(cut, d, p + g - d.bits());
    if (static_cast<size_t>(p / GMP_NUMB_BITS) < newton_from_limbs()) {
        mpz_tdiv_q(x, power_of_two(2 * p + g), cut);
        return;
    }
    const int64_t h = (p + 1) / 2 + 3;
    BigInteger lower;
    approximate_reciprocal(lower, d, h, pool);
    // E modulo M = 2^N - 1, N = 64 n >= p + g + 4, by the wrapped product
    // (half the transform length of the whole one): |E| < 2^(p+g+2) < M / 4,
    // so E is the representative of its residue nearest 0.
    const size_t limbs = wrapped_limbs_for_bits(p + g + 4);
    const uint64_t product_low = mpz_getlimbn(cut, 0) * mpz_getlimbn(lower, 0);
    BigInteger error;
    multiply_wrapped(error, cut, lower, limbs, pool);
    cut.release();
    mpz_sub(error, power_of_two((p + g + h) % (64 * static_cast<int64_t>(limbs))), error);
    nearest_representative(error, limbs);
    // Checked: the bound, and E = -cut lower mod 2^64 (2^(p+g+h) is 0 there),
    // so that E is 2^(p+g+h) - cut lower itself unless that is off by a
    // multiple of 2^64 M.
    require_bound(error.bits() <= p + g + 2 && low_limb(error) + product_low == 0,
                  "Newton step's residual below 2^(p+g+2)");
    shift_right(error, error, h + g - 3);
    multiply(error, lower, error, pool);
    shift_right(error, error, h + 3);
    shift_left(x, lower, p - h);
    mpz_add(x, x, error);
}

// With A = numerator 2^shift, b = bits(divisor), q = A / divisor < 2^qb
// (qb = bits(A) - b + 1) and p = qb + 3: x = approximate_reciprocal(divisor,
// p) lies within 2 of 2^(p+b) / divisor, and A' within 1 of A / 2^t,
// t = b - 4: floor(A / 2^t) where that drops many of the numerator's bits,
// and otherwise A / 2^t itself, so that A' x / 2^(p+4) is
// numerator x / 2^(p+4+t-shift) and no shifted copy of the numerator is
// made (the divisions of a run drop some 70 bits of hundreds of millions).
// Then A' x / 2^(p+b-t) differs from q by less than
//     2^t x / 2^(p+b)       < 2^(t-b) (2^(p+1) + 2) / 2^p  <= 1/8 + 2^-p
//   + 2 A / 2^(p+b)         < 2^(qb-p)                      = 1/8,
// and high_product takes it less by at most 1/8 more (p + 4 = p + b - t),
// so Q0, the floor of a number within 3/8 + 2^-p < 1 of q, is floor(q) - 1,
// floor(q) or floor(q) + 1
// and the remainder R = A - Q0 divisor lies in [-divisor, 2 divisor). R is
// found modulo 2^N - 1 by a product of half the length of Q0 divisor, and
// checked modulo 2^64 and by one correction bringing it into [0, divisor):
// a quotient off by more than one stops the run instead of being mended
// wrong.
void newton_quotient(BigInteger& quotient, BigInteger numerator, int64_t shift, const BigInteger& divisor,
                     ForkJoinPool* pool)
{
    require_bound(numerator.sign() >= 0 && divisor.sign() > 0 && shift >= 0, "quotient of non-negative operands");
    const int64_t b = divisor.bits();
    const int64_t dividend_bits = numerator.sign() == 0 ? 0 : numerator.bits() + shift;
    if (dividend_bits < b) {
        quotient.assign(0);
        return;
    }
    const int64_t p = dividend_bits - b + 1 + 3;
    const int64_t t = b - 4;
    BigInteger reciprocal;
    approximate_reciprocal(reciprocal, divisor, p, pool);

    // A' x / 2^(p+4); a power of two (a reciprocal's own numerator) only
    // shifts x. (p + 4 + t - shift = bits(numerator) + 4 > 0.)
    if (is_power_of_two(numerator)) {
        shift_by(quotient, reciprocal, numerator.bits() - 1 + shift - t - (p + 4));
    } else if (t - shift <= numerator.bits() / DROPPED_BITS_FOR_A_COPY) {
        high_product(quotient, numerator, std::move(reciprocal), p + 4 + t - shift, pool);
    } else {
        BigInteger cut;
        shift_right(cut, numerator, t - shift);
        high_product(quotient, cut, std::move(reciprocal), p + 4, pool);
    }
    reciprocal.release();

    // R modulo M = 2^N - 1, N = 64 n >= b + 3, by the wrapped product: R
    // lies in [-divisor, 2 divisor), within M / 2 either side of 0.
    const size_t limbs = wrapped_limbs_for_bits(b + 3);
    BigInteger remainder;
    reduce_wrapped(remainder, numerator, limbs);
    rotate_wrapped(remainder, shift % (64 * static_cast<int64_t>(limbs)), limbs);
    const uint64_t dividend_low = shift >= 64 ? 0 : mpz_getlimbn(numerator, 0) << shift;
    numerator.release();
    BigInteger reduced, product;
    reduce_wrapped(reduced, quotient, limbs);
    multiply_wrapped(product, reduced, divisor, limbs, pool);
    reduced.release();
    mpz_sub(remainder, remainder, product);
    product.release();
    nearest_representative(remainder, limbs);
    // Checked: R = A - Q0 divisor mod 2^64 as well, so that R is the
    // remainder itself unless that is off by a multiple of 2^64 M; and below,
    // R brought into [0, divisor) by one correction at most.
    require_bound(dividend_low - mpz_getlimbn(quotient, 0) * mpz_getlimbn(divisor, 0) == low_limb(remainder),
                  "Newton quotient's remainder agrees mod 2^64");
    if (remainder.sign() < 0) {
        mpz_sub_ui(quotient, quotient, 1);
        mpz_add(remainder, remainder, divisor);
    } else if (mpz_cmp(remainder, divisor) >= 0) {
        mpz_add_ui(quotient, quotient, 1);
        mpz_sub(remainder, remainder, divisor);
    }
    require_bound(remainder.sign() >= 0 && mpz_cmp(remainder, divisor) < 0, "Newton quotient within one of the floor");
}
