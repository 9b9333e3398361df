// Division by Newton's iteration against GMP's exact division: reciprocals
// within their bound and exact floors, on random operands across the sizes
// where the iteration starts and takes more steps, at the divisors that
// stress it most, and on one thread or two.
#include "fork_join_pool.hpp"
#include "splitting/big_integer.hpp"
#include "splitting/newton_division.hpp"
#include "splitting/truncated_quotient.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace {

// A second integer of the same value, for a quotient that takes its numerator over.
BigInteger copy_of(const BigInteger& value)
{
    BigInteger copy;
    mpz_set(copy, value);
    return copy;
}

class Random {
public:
    explicit Random(unsigned long seed)
    {
        gmp_randinit_mt(state_);
        gmp_randseed_ui(state_, seed);
    }
    ~Random() { gmp_randclear(state_); }
    Random(const Random&) = delete;
    Random& operator=(const Random&) = delete;

    // A number of exactly bits bits (bits >= 1), of one of three shapes:
    // random, all one bits, or a power of two (the reciprocal's extremes,
    // 1/d_r just above 1 and exactly 2).
    BigInteger number(int64_t bits, int shape)
    {
        BigInteger value;
        if (shape == 1) {
            value.assign(1);
            shift_left(value, value, bits);
            mpz_sub_ui(value, value, 1);
        } else if (shape == 2) {
            value.assign(1);
            shift_left(value, value, bits - 1);
        } else {
            mpz_urandomb(value, state_, static_cast<mp_bitcnt_t>(bits));
            mpz_setbit(value, static_cast<mp_bitcnt_t>(bits - 1));
        }
        return value;
    }

    uint64_t below(uint64_t bound) { return gmp_urandomm_ui(state_, bound); }

private:
    gmp_randstate_t state_;
};

// Limb counts from below the iteration's start to several of its steps
// (each step halves the precision).
std::vector<int64_t> limb_counts()
{
    const size_t from = newton_from_limbs();
    const int64_t start = from == SIZE_MAX ? 16000 : static_cast<int64_t>(from);
    return {1, 3, start / 2, start - 1, start, start + 1, 2 * start - 7, 2 * start + 9, 4 * start + 3};
}

}  // namespace

TEST(NewtonDivision, ReciprocalsAreWithinTwoOfTheirValue)
{
    Random random(21);
    for (const int64_t limbs : limb_counts()) {
        for (int shape = 0; shape < 3; ++shape) {
            // Divisors shorter and longer than the precision.
            for (const int64_t divisor_bits : {64 * limbs - 5, 64 * limbs / 3 + 1, 128 * limbs + 17}) {
                const int64_t precision = 64 * limbs + int64_t(random.below(64));
                const BigInteger divisor = random.number(divisor_bits, shape);
                BigInteger found, exact(1);
                approximate_reciprocal(found, divisor, precision);
                // found - floor(2^(p+b) / d) must be -1, 0, 1 or 2.
                shift_left(exact, exact, precision + divisor.bits());
                mpz_fdiv_q(exact, exact, divisor);
                mpz_sub(found, found, exact);
                EXPECT_TRUE(mpz_cmp_si(found.get(), -1) >= 0 && mpz_cmp_si(found.get(), 2) <= 0)
                    << limbs << " limbs of precision, divisor of " << divisor_bits << " bits, shape " << shape;
            }
        }
    }
}

TEST(NewtonDivision, QuotientsAreTheExactFloor)
{
    Random random(22);
    ForkJoinPool pool(2);
    for (const int64_t limbs : limb_counts()) {
        for (int shape = 0; shape < 3; ++shape) {
            // Remainders of anything, 0 and divisor - 1; dividends shifted
            // by nothing, by less than the divisor and by more.
            for (int remainder_shape = 0; remainder_shape < 3; ++remainder_shape) {
                const int64_t divisor_bits = 64 * limbs - int64_t(random.below(64));
                const BigInteger divisor = random.number(divisor_bits, shape);
                BigInteger numerator = random.number(divisor_bits + 64 * limbs + int64_t(random.below(64)), 0);
                if (remainder_shape > 0) {
                    mpz_fdiv_q(numerator, numerator, divisor);
                    mpz_mul(numerator, numerator, divisor);
                    if (remainder_shape == 2) {
                        mpz_add(numerator, numerator, divisor);
                        mpz_sub_ui(numerator, numerator, 1);
                    }
                }
                for (const int64_t shift : {int64_t{0}, divisor_bits / 2, divisor_bits + 5}) {
                    const std::string where = std::to_string(limbs) + " limbs, divisor shape " +
                                              std::to_string(shape) + ", remainder shape " +
                                              std::to_string(remainder_shape) + ", shift " + std::to_string(shift);
                    BigInteger expected;
                    shift_left(expected, numerator, shift);
                    mpz_fdiv_q(expected, expected, divisor);
                    BigInteger alone, shared, chosen;
                    newton_quotient(alone, copy_of(numerator), shift, divisor);
                    EXPECT_EQ(mpz_cmp(alone, expected), 0) << where;
                    if (shift != 0)
                        continue;
                    newton_quotient(shared, copy_of(numerator), shift, divisor, &pool);
                    EXPECT_EQ(mpz_cmp(shared, expected), 0) << where << ", two threads";
                    floor_quotient(chosen, copy_of(numerator), shift, divisor, &pool);
                    EXPECT_EQ(mpz_cmp(chosen, expected), 0) << where << ", as the engine chooses";
                }
            }
        }
    }
}

TEST(NewtonDivision, SmallAndEmptyQuotients)
{
    Random random(23);
    const BigInteger divisor = random.number(64 * 9000, 0);
    BigInteger quotient;
    newton_quotient(quotient, BigInteger(0), 100, divisor);
    EXPECT_EQ(quotient.sign(), 0);
    // A dividend one bit short of the divisor, and the divisor itself.
    BigInteger short_one;
    shift_right(short_one, divisor, 1);
    newton_quotient(quotient, std::move(short_one), 0, divisor);
    EXPECT_EQ(quotient.sign(), 0);
    newton_quotient(quotient, copy_of(divisor), 0, divisor);
    EXPECT_EQ(mpz_cmp_ui(quotient.get(), 1), 0);
    newton_quotient(quotient, copy_of(divisor), 3, divisor);
    EXPECT_EQ(mpz_cmp_ui(quotient.get(), 8), 0);
}

TEST(NewtonDivision, PowersOfTwoDividedAreTheExactFloor)
{
    // 2^c / D, the reciprocal a prepared quotient keeps, which shifts the
    // reciprocal instead of multiplying by the dividend.
    Random random(24);
    for (const int64_t limbs : limb_counts()) {
        for (int shape = 0; shape < 3; ++shape) {
            const BigInteger divisor = random.number(64 * limbs - int64_t(random.below(64)), shape);
            for (const int64_t low_zeros : {int64_t{0}, int64_t{70}}) {
                BigInteger numerator(1), expected, found;
                shift_left(numerator, numerator, low_zeros);
                const int64_t shift = 2 * divisor.bits() + int64_t(random.below(64));
                shift_left(expected, numerator, shift);
                mpz_fdiv_q(expected, expected, divisor);
                newton_quotient(found, std::move(numerator), shift, divisor);
                EXPECT_EQ(mpz_cmp(found, expected), 0) << limbs << " limbs, shape " << shape << ", low zeros " << low_zeros;
            }
        }
    }
}

TEST(NewtonDivision, WrappedRotationsAreShiftsModuloTwoToTheLimbsMinusOne)
{
    // value 2^bits mod 2^(64 n) - 1 against the shift and GMP's remainder,
    // for rotations by whole limbs, by bits within a limb and across the
    // top, of random numbers, of numbers shorter than n limbs and of the
    // extremes 0, 1 and 2^(64 n) - 1 (which stands for 0).
    Random random(25);
    for (const size_t n : {size_t{1}, size_t{2}, size_t{7}, size_t{64}}) {
        const int64_t wrapped_bits = 64 * static_cast<int64_t>(n);
        BigInteger modulus(1);
        shift_left(modulus, modulus, wrapped_bits);
        mpz_sub_ui(modulus, modulus, 1);
        std::vector<BigInteger> values;
        values.push_back(BigInteger(0));
        values.push_back(BigInteger(1));
        values.push_back(random.number(wrapped_bits, 1));
        values.push_back(random.number(wrapped_bits, 0));
        values.push_back(random.number(wrapped_bits - 60, 0));
        for (const BigInteger& value : values) {
            for (const int64_t bits : {int64_t{0}, int64_t{1}, int64_t{63}, int64_t{64}, int64_t{65}, wrapped_bits - 1,
                                       wrapped_bits, 3 * wrapped_bits + 5}) {
                BigInteger expected, found = copy_of(value);
                shift_left(expected, value, bits);
                mpz_mod(expected, expected, modulus);
                rotate_wrapped(found, bits % wrapped_bits, n);
                mpz_mod(found, found, modulus);
                EXPECT_EQ(mpz_cmp(found, expected), 0) << n << " limbs, " << value.bits() << " bits, by " << bits;
            }
        }
    }
}

TEST(NewtonDivision, HighProductsAreShortOfTheFloorByAnEighthAtMost)
{
    // floor((a b - e) / 2^shift) with 0 <= e < 2^(shift - 3): result 2^shift
    // <= a b < result 2^shift + 2^shift + 2^(shift - 3). Around the size from
    // which both halves' products go to the transforms, with random
    // operands, all one bits (the low parts' product at its largest) and
    // unbalanced ones.
    Random random(26);
    const size_t crossover = transform_product_limbs();
    const int64_t least = crossover == SIZE_MAX ? 4000 : 64 * static_cast<int64_t>(crossover);
    for (const int64_t half : {least - 1, least, least + 70, 3 * least}) {
        const int64_t shift = 2 * half + 3;
        for (int shape = 0; shape < 2; ++shape) {
            for (const int64_t b_bits : {shift, shift / 2 + 64, 2 * shift}) {
                const BigInteger a = random.number(shift + 5, shape), b = random.number(b_bits, shape);
                BigInteger found, exact, low;
                high_product(found, a, copy_of(b), shift, nullptr);
                mpz_mul(exact, a, b);
                BigInteger floor_value;
                shift_right(floor_value, exact, shift);
                mpz_sub(low, floor_value, found);
                const std::string where = std::to_string(shift) + "-bit shift, shape " + std::to_string(shape) +
                                          ", b of " + std::to_string(b_bits) + " bits";
                ASSERT_TRUE(mpz_cmp_ui(low.get(), 0) == 0 || mpz_cmp_ui(low.get(), 1) == 0) << where;
                // a b - found 2^shift < 2^shift + 2^(shift - 3)
                BigInteger excess;
                shift_left(excess, found, shift);
                mpz_sub(excess, exact, excess);
                EXPECT_GE(excess.sign(), 0) << where;
                BigInteger limit(9);
                shift_left(limit, limit, shift - 3);
                EXPECT_LT(mpz_cmp(excess, limit), 0) << where;
            }
        }
    }
}
