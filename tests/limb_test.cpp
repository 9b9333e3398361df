// The five limb operations on the cases where carries, borrows and remainders
// go wrong: at limb 0, through runs of zeros and nines, in place, at n = 1,
// and with divisors past the 32-bit running-value range.
#include "limb.hpp"

#include <gtest/gtest.h>

#include <random>
#include <vector>

using Limbs = std::vector<int32_t>;

namespace {

int32_t count(const Limbs& a)
{
    return static_cast<int32_t>(a.size());
}

// Long division by hand in 128 bits, for arrays short enough to fit.
Limbs divide_by_hand(const Limbs& a, int64_t divisor)
{
    __int128 value = 0;
    for (int32_t limb : a)
        value = value * LIMB_BASE + limb;
    value /= divisor;
    Limbs quotient(a.size());
    for (size_t i = a.size(); i-- > 0;) {
        quotient[i] = static_cast<int32_t>(value % LIMB_BASE);
        value /= LIMB_BASE;
    }
    return quotient;
}

}  // namespace

TEST(LimbArithmetic, AdditionCarriesThroughNinesAndDropsTheCarryOutOfLimbZero)
{
    Limbs a{0, 9999, 9999};
    limb_add(count(a), a.data(), Limbs{0, 0, 1}.data());
    EXPECT_EQ(a, (Limbs{1, 0, 0}));

    Limbs b{9999, 0};
    limb_add(count(b), b.data(), Limbs{1, 0}.data());
    EXPECT_EQ(b, (Limbs{0, 0}));
}

TEST(LimbArithmetic, SubtractionBorrowsThroughZerosAndLeavesANegativeIntegerLimb)
{
    Limbs a{0, 0, 0};
    limb_sub(count(a), a.data(), Limbs{0, 0, 1}.data());
    EXPECT_EQ(a, (Limbs{-1, 9999, 9999}));

    Limbs b{3, 0, 0, 7};
    limb_sub(count(b), b.data(), Limbs{1, 9999, 9999, 9999}.data());
    EXPECT_EQ(b, (Limbs{1, 0, 0, 8}));

    // Adding back what was taken restores the original, whatever the borrows.
    Limbs c{-1, 9999, 9999};
    limb_add(count(c), c.data(), Limbs{0, 0, 1}.data());
    EXPECT_EQ(c, (Limbs{0, 0, 0}));
}

TEST(LimbArithmetic, MultiplicationCarriesAndReturnsTheCarryOutOfLimbZero)
{
    Limbs quarter_pi{0, 7853, 9816};
    EXPECT_EQ(limb_mul_small(count(quarter_pi), quarter_pi.data(), 4), 0);
    EXPECT_EQ(quarter_pi, (Limbs{3, 1415, 9264}));

    Limbs half{0, 5000};
    EXPECT_EQ(limb_mul_small(count(half), half.data(), 3), 0);
    EXPECT_EQ(half, (Limbs{1, 5000}));

    Limbs large{5000, 0};
    EXPECT_EQ(limb_mul_small(count(large), large.data(), 3), 1);
    EXPECT_EQ(large, (Limbs{5000, 0}));
}

TEST(LimbArithmetic, AProductOfExactlyTheBaseCarriesAWholeLimb)
{
    // A product (with its carry from below) of 10000 itself: the limb
    // becomes 0 and 1 goes up, at fraction limbs and at limb 0.
    Limbs quarter{0, 2500};
    EXPECT_EQ(limb_mul_small(count(quarter), quarter.data(), 4), 0);
    EXPECT_EQ(quarter, (Limbs{1, 0}));

    Limbs with_carry_in{0, 2000, 2500};
    EXPECT_EQ(limb_mul_small(count(with_carry_in), with_carry_in.data(), 4), 0);
    EXPECT_EQ(with_carry_in, (Limbs{0, 8001, 0}));

    Limbs carry_completes_it{0, 3333, 5000};  // 3333 * 3 + the carry 1 of 15000
    EXPECT_EQ(limb_mul_small(count(carry_completes_it), carry_completes_it.data(), 3), 0);
    EXPECT_EQ(carry_completes_it, (Limbs{1, 0, 5000}));

    Limbs integer{2500, 0};
    EXPECT_EQ(limb_mul_small(count(integer), integer.data(), 4), 1);
    EXPECT_EQ(integer, (Limbs{0, 0}));
}

TEST(LimbArithmetic, DivisionTruncatesInPlace)
{
    Limbs one{1, 0, 0};
    limb_div_small(count(one), one.data(), 18, one.data());
    EXPECT_EQ(one, (Limbs{0, 555, 5555}));

    Limbs longer{1, 0, 0, 0};
    Limbs quotient(4, -7);
    limb_div_small(count(longer), longer.data(), 18, quotient.data());
    EXPECT_EQ(quotient, (Limbs{0, 555, 5555, 5555}));
    EXPECT_EQ(longer, (Limbs{1, 0, 0, 0})) << "the source is only read";

    Limbs single{7};
    limb_div_small(1, single.data(), 2, single.data());
    EXPECT_EQ(single, Limbs{3});
}

TEST(LimbArithmetic, DivisionIsExactForEveryThirtyTwoBitDivisor)
{
    // 214,748 is the last divisor whose running value fits 32 bits; the ones
    // after it are those of the series beyond about 269,000 digits.
    std::mt19937 random(20261208);
    std::uniform_int_distribution<int32_t> limb(0, LIMB_BASE - 1);
    for (int32_t divisor : {2, 3, 9999, 10000, 10001, 214747, 214748, 214749, 300001, 1000003, 1717986919,
                            INT32_MAX - 1, INT32_MAX}) {
        for (int trial = 0; trial < 50; ++trial) {
            Limbs a(7);
            for (int32_t& x : a)
                x = limb(random);
            Limbs quotient(a.size());
            limb_div_small(count(a), a.data(), divisor, quotient.data());
            EXPECT_EQ(quotient, divide_by_hand(a, divisor)) << "divisor " << divisor;
        }
    }
}

TEST(LimbArithmetic, DivisionIsExactWhereTheRunningValueReachesItsLargest)
{
    // The running value remainder * 10000 + limb is largest when the
    // remainder is divisor - 1 just before a limb of 9999: for 214,748 that
    // is 2,147,479,999, the last divisor whose worst case fits 32 bits; for
    // 214,749 it would be 2,147,489,999, past INT32_MAX. Each input is
    // q * divisor + divisor - 1 followed by the limb 9999, so the remainder
    // reaches divisor - 1 there.
    std::mt19937_64 random(20261208);
    for (int32_t divisor : {214746, 214747, 214748, 214749, 214750, 429497}) {
        for (int trial = 0; trial < 200; ++trial) {
            const __int128 leading = __int128(random() % 1000000000000) * divisor + (divisor - 1);
            Limbs a(6);
            __int128 rest = leading * LIMB_BASE + (LIMB_BASE - 1);
            for (size_t i = a.size(); i-- > 0;) {
                a[i] = static_cast<int32_t>(rest % LIMB_BASE);
                rest /= LIMB_BASE;
            }
            ASSERT_EQ(rest, 0);
            ASSERT_EQ(a.back(), LIMB_BASE - 1);
            Limbs quotient(a.size());
            limb_div_small(count(a), a.data(), divisor, quotient.data());
            ASSERT_EQ(quotient, divide_by_hand(a, divisor)) << "divisor " << divisor;
        }
    }
}

TEST(LimbArithmetic, ZeroTestLooksAtEveryLimbAndEmptyArraysChangeNothing)
{
    EXPECT_TRUE(limb_is_zero(3, Limbs{0, 0, 0}.data()));
    EXPECT_FALSE(limb_is_zero(3, Limbs{0, 0, 1}.data()));
    EXPECT_FALSE(limb_is_zero(1, Limbs{1}.data()));
    EXPECT_TRUE(limb_is_zero(0, nullptr));

    Limbs untouched{5};
    limb_add(0, untouched.data(), untouched.data());
    limb_sub(0, untouched.data(), untouched.data());
    limb_div_small(0, untouched.data(), 3, untouched.data());
    EXPECT_EQ(limb_mul_small(0, untouched.data(), 3), 0);
    EXPECT_EQ(untouched, Limbs{5});
}
