// The straightforward arctangent series on short arrays whose every limb can
// be checked by hand, and against an exact rational evaluation.
#include "arctan.hpp"
#include "limb.hpp"

#include <gtest/gtest.h>

#include <vector>

using Limbs = std::vector<int32_t>;

namespace {

struct Series {
    Limbs result, power, quotient;
};

// Runs the reference series on arrays pre-filled with junk, which the routine
// must overwrite before it reads.
Series run(int32_t x, int32_t limb_count)
{
    Series s{Limbs(limb_count, 4321), Limbs(limb_count, 1234), Limbs(limb_count, 9876)};
    arctan_recip_reference(x, limb_count, s.result.data(), s.power.data(), s.quotient.data());
    return s;
}

// sum_k (-1)^k floor(floor(M / x^(2k+1)) / (2k+1)) with M = 10000^(n-1), in
// 128-bit integers: the same truncations, without limb arrays.
Limbs by_integers(int64_t x, int32_t limb_count)
{
    __int128 scale = 1;
    for (int32_t i = 1; i < limb_count; ++i)
        scale *= LIMB_BASE;
    __int128 sum = 0;
    __int128 power = scale / x;
    for (int64_t k = 0; power != 0; ++k) {
        const __int128 term = power / (2 * k + 1);
        sum += k % 2 == 0 ? term : -term;
        power /= x * x;
    }
    Limbs limbs(limb_count);
    for (int32_t i = limb_count; i-- > 0;) {
        limbs[i] = static_cast<int32_t>(sum % LIMB_BASE);
        sum /= LIMB_BASE;
    }
    return limbs;
}

}  // namespace

TEST(ArctanReference, ShortArraysGiveTheHandWorkedLimbs)
{
    EXPECT_EQ(run(18, 1).result, Limbs{0});
    EXPECT_EQ(run(18, 2).result, (Limbs{0, 555}));

    const Series three = run(18, 3);
    EXPECT_EQ(three.result, (Limbs{0, 554, 9850}));
    EXPECT_EQ(three.power, (Limbs{0, 0, 0}));

    // x = 500 is past the square limit, so the power is divided twice.
    EXPECT_EQ(run(500, 3).result, (Limbs{0, 20, 0}));
}

TEST(ArctanReference, AgreesWithExactIntegerTruncationsAndRepeats)
{
    // Up to 8 limbs the scaled values fit 128 bits with room to spare.
    for (int32_t x : {2, 3, 18, 57, 239, 449, 450, 463, 500, 46341}) {
        for (int32_t limb_count = 1; limb_count <= 8; ++limb_count) {
            const Series first = run(x, limb_count);
            EXPECT_EQ(first.result, by_integers(x, limb_count)) << "x " << x << ", " << limb_count << " limbs";
            EXPECT_EQ(run(x, limb_count).result, first.result) << "a second call differs";
        }
    }
}
