// A GMP integer that owns its limbs, and the few operations the splitting
// engine needs beyond GMP's own.
#pragma once

#include "fork_join_pool.hpp"

#include <gmp.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <utility>

class BigInteger {
public:
    BigInteger() { mpz_init(value_); }
    explicit BigInteger(uint64_t small) : BigInteger() { assign(small); }
    ~BigInteger() { mpz_clear(value_); }
    BigInteger(BigInteger&& other) noexcept : BigInteger() { mpz_swap(value_, other.value_); }
    BigInteger& operator=(BigInteger&& other) noexcept
    {
        mpz_swap(value_, other.value_);
        return *this;
    }
    BigInteger(const BigInteger&) = delete;
    BigInteger& operator=(const BigInteger&) = delete;

    mpz_ptr get() { return value_; }
    mpz_srcptr get() const { return value_; }
    operator mpz_ptr() { return value_; }
    operator mpz_srcptr() const { return value_; }

    void assign(uint64_t small);
    // Frees the limbs at once rather than when the variable ends.
    void release() { mpz_realloc2(value_, 0); }
    // Frees the limbs it holds beyond its value and a word more.
    void shrink_to_fit();
    int sign() const { return mpz_sgn(value_); }
    int64_t bits() const { return sign() == 0 ? 0 : int64_t(mpz_sizeinbase(value_, 2)); }

private:
    mpz_t value_;
};

// product <- a * b, by the transform multiplication (ntt/ntt_multiply.hpp)
// where the smaller operand reaches its crossover on this CPU, sharing its
// transforms with the pool's threads if given, and by GMP below. product may
// be a or b.
void multiply(BigInteger& product, const BigInteger& a, const BigInteger& b, ForkJoinPool* pool = nullptr);

class NttTransform;

// A factor that several products take (a power of y the merges of a level
// share), its transforms kept from one product to the next where the two
// have the same transform length: each such product makes one forward
// transform a prime instead of two. Products may come from several threads
// at once.
class TransformedFactor {
public:
    // product <- a * factor, factor the same number at every call until
    // release; as multiply, which it is below the transforms' crossover or
    // where the product would take its top apart. product may be a.
    void multiply(BigInteger& product, const BigInteger& a, const BigInteger& factor, ForkJoinPool* pool = nullptr);
    // Frees the transforms; the next product makes them anew.
    void release();

private:
    std::mutex lock_;
    std::shared_ptr<const NttTransform> kept_;
};

// sum <- a * b + c * d, sum none of the operands: where both products
// reach the transforms' crossover and have the same sign, by one sum of
// their magnitudes in the transforms (one inverse transform and one
// carrying for the two), sharing them with the pool's threads if given;
// elsewhere two products.
void multiply_add(BigInteger& sum, const BigInteger& a, const BigInteger& b, const BigInteger& c, const BigInteger& d,
                  ForkJoinPool* pool = nullptr);

// power <- base^exponent, for base < 2^32: squares by multiply, so by the
// transforms where they are long enough.
void power_of(BigInteger& power, uint64_t base, uint64_t exponent, ForkJoinPool* pool = nullptr);

// quotient <- dividend / divisor for an odd divisor > 0 that divides the
// dividend >= 0: by blocks of the quotient's words from the low end, two
// products a block, where those are long enough for the transforms, else
// by GMP. A divisor that does not divide the dividend throws
// ExactnessViolation. quotient may be the dividend.
void divide_exact(BigInteger& quotient, const BigInteger& dividend, const BigInteger& divisor,
                  ForkJoinPool* pool = nullptr);

// result <- floor((a b - e) / 2^shift) for a, b >= 0, shift >= 3 and some e
// in [0, 2^(shift - 3)): the product's part above 2^shift, less by at most
// an eighth before the floor. Where both operands reach far past half the
// shift, a = a_hi 2^j + a_lo and b = b_hi 2^m + b_lo with j + m = shift - 3
// give a b - a_lo b_lo = a b_hi 2^m + a_hi b_lo 2^j, two products whose
// transforms together are about as long as the whole product's and whose
// result and scratch are half as large again as one operand at most, not
// twice; a_lo b_lo < 2^(shift - 3) is left out. Elsewhere e = 0. b is taken
// over; result may not be a.
void high_product(BigInteger& result, const BigInteger& a, BigInteger b, int64_t shift, ForkJoinPool* pool = nullptr);

// product <- a * b mod 2^(64 limbs) - 1, in [0, 2^(64 limbs) - 1), for
// 0 <= a, b < 2^(64 limbs) and limbs a count from ntt_wrapped_limbs, by
// one cyclic convolution of the transforms (the CPU's best path, the
// portable one included), sharing them with the pool's threads if given.
// product may not be a or b.
void multiply_wrapped(BigInteger& product, const BigInteger& a, const BigInteger& b, size_t limbs,
                      ForkJoinPool* pool = nullptr);
// target <- source mod 2^(64 limbs) - 1, in [0, 2^(64 limbs) - 1), for
// source >= 0: its pieces of 64 limbs bits added, since 2^(64 limbs) = 1
// there. target may be source.
void reduce_wrapped(BigInteger& target, const BigInteger& source, size_t limbs);

// value <- value * 2^bits mod 2^(64 limbs) - 1, for 0 <= value <
// 2^(64 limbs) and bits >= 0: a rotation of its 64 limbs bits, in place.
void rotate_wrapped(BigInteger& value, int64_t bits, size_t limbs);

// The smaller operand's limbs from which multiply uses the transforms on
// this CPU; SIZE_MAX where it never does.
size_t transform_product_limbs();

// target *= factor, for any 64-bit factor (GMP's unsigned long may be 32 bits).
void multiply_small(BigInteger& target, uint64_t factor);

// target += sign * factor * source, for any 64-bit factor, sign +1 or -1.
void add_multiple_small(BigInteger& target, const BigInteger& source, uint64_t factor, int sign);

// Shifts and allocation by counts of bits as 64-bit numbers. GMP takes such
// counts as mp_bitcnt_t, an unsigned long: 32 bits on 64-bit Windows, which
// the numbers of more than about a billion digits pass. A count that does not
// fit is taken in steps that do.
//   target <- source * 2^bits
void shift_left(BigInteger& target, const BigInteger& source, int64_t bits);
//   target <- source / 2^bits, truncated toward zero
void shift_right(BigInteger& target, const BigInteger& source, int64_t bits);
//   target <- source * 2^bits, truncated toward zero where bits < 0
void shift_by(BigInteger& target, const BigInteger& source, int64_t bits);
//   target <- source - 2^bits * (source / 2^bits truncated): the low bits,
//   with the sign of source
void low_bits(BigInteger& target, const BigInteger& source, int64_t bits);
//   room for bits bits; a value that does not fit becomes 0, as with
//   mpz_realloc2
void reserve_bits(BigInteger& target, int64_t bits);

// The same with steps of at most step bits, for any step >= 1: the tests
// take small steps to reach the splitting that large counts need.
void shift_left_in_steps(BigInteger& target, const BigInteger& source, int64_t bits, int64_t step);
void shift_right_in_steps(BigInteger& target, const BigInteger& source, int64_t bits, int64_t step);
void low_bits_in_steps(BigInteger& target, const BigInteger& source, int64_t bits, int64_t step);

// The product of the numbers, each below 2^32, by a balanced product tree
// (a running product would cost time quadratic in its length). Empty gives 1.
BigInteger product_of(std::span<const uint32_t> factors);
