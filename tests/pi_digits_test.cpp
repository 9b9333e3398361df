// Pi's limbs against the independent reference digits, with the guard limbs
// the program chooses and with guards too narrow to decide, which must widen
// instead of printing a wrong digit.
#include "gauss_formula.hpp"
#include "limb.hpp"
#include "pi_digits.hpp"
#include "reference_digits.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The decimals the limbs stand for: limb 0 must be 3, the rest four digits each.
std::string decimals_of(const PiLimbs& pi, int32_t limb_count)
{
    EXPECT_EQ(pi.limbs.at(0), 3);
    std::string decimals;
    for (int32_t i = 1; i < limb_count; ++i) {
        const std::string group = std::to_string(pi.limbs.at(i));
        decimals += std::string(LIMB_DIGITS - group.size(), '0') + group;
    }
    return decimals;
}

PiLimbs pi_with_guard(int32_t limb_count, int32_t initial_guard)
{
    PiOptions options;
    options.initial_guard_limbs = initial_guard;
    return compute_pi(limb_count, options);
}

void expect_true_digits(int32_t limb_count, int32_t initial_guard)
{
    const PiLimbs pi = pi_with_guard(limb_count, initial_guard);
    const size_t decimal_count = size_t(limb_count - 1) * LIMB_DIGITS;
    EXPECT_EQ(decimals_of(pi, limb_count), reference_decimals().substr(0, decimal_count))
        << limb_count << " limbs, initial guard " << initial_guard;
}

}  // namespace

TEST(PiDigits, EveryLimbCountUpToAThousandDigitsIsTrue)
{
    for (int32_t limb_count = 1; limb_count <= 260; ++limb_count)
        expect_true_digits(limb_count, INITIAL_GUARD_LIMBS);
}

TEST(PiDigits, LargerLimbCountsAroundLineBoundariesAreTrue)
{
    for (int32_t limb_count : {1250, 1251, 1252, 2501, 5001})
        expect_true_digits(limb_count, INITIAL_GUARD_LIMBS);
}

TEST(PiDigits, NarrowGuardsWidenUntilTheDigitsAreCertain)
{
    // From about 33 limbs on, the error bound passes one whole limb, so one
    // guard limb can never decide and every such run has to widen, and still
    // print only true digits.
    for (int32_t limb_count : {1, 2, 3, 26, 40, 191, 192, 193, 700}) {
        const PiLimbs pi = pi_with_guard(limb_count, 1);
        if (gauss_formula_error_bound(limb_count + 1) >= LIMB_BASE) {
            EXPECT_GT(pi.guard_limbs, 1) << limb_count << " limbs";
        }
        expect_true_digits(limb_count, 1);
        expect_true_digits(limb_count, 2);
    }
}

TEST(PiDigits, CutsJustBeforeRunsOfNinesOrZerosAreNeverGuessed)
{
    // Find cuts at a limb boundary followed by 0000 or 9999 in the reference:
    // there a two-limb guard sits within the error bound of a carry or borrow.
    const std::string& decimals = reference_decimals();
    int found = 0;
    for (size_t cut = 4; cut + 8 < 40000 && found < 6; cut += 4) {
        const std::string next = decimals.substr(cut, 4);
        if (next != "0000" && next != "9999")
            continue;
        ++found;
        const int32_t limb_count = static_cast<int32_t>(cut / 4 + 1);
        const PiLimbs pi = pi_with_guard(limb_count, 2);
        EXPECT_GT(pi.guard_limbs, 2) << "cut after decimal " << cut;
        expect_true_digits(limb_count, 2);
    }
    EXPECT_GT(found, 0);
}

TEST(PiDigits, DecisionLooksForBorrowsAndCarriesAcrossTheCut)
{
    // total = [3, 1415 | guard limbs]; the bound is 50 units of the last limb.
    const std::vector<int32_t> clear{3, 1415, 5000, 0};
    EXPECT_TRUE(truncation_is_decided(2, 2, clear.data(), 50));
    const std::vector<int32_t> just_above_cut{3, 1415, 0, 50};
    EXPECT_TRUE(truncation_is_decided(2, 2, just_above_cut.data(), 50));
    const std::vector<int32_t> too_close_above{3, 1415, 0, 49};
    EXPECT_FALSE(truncation_is_decided(2, 2, too_close_above.data(), 50));
    const std::vector<int32_t> too_close_below{3, 1415, 9999, 9951};
    EXPECT_FALSE(truncation_is_decided(2, 2, too_close_below.data(), 50));
    const std::vector<int32_t> just_below{3, 1415, 9999, 9949};
    EXPECT_TRUE(truncation_is_decided(2, 2, just_below.data(), 50));
    EXPECT_FALSE(truncation_is_decided(2, 2, clear.data(), 100000000)) << "bound wider than the guard";
}

TEST(PiDigits, ErrorBoundCoversTheTruncationErrorActuallyMade)
{
    // The formula at n limbs, against the reference read to n limbs: the
    // difference must sit inside the bound (and in practice far inside it).
    for (int32_t limb_count : {2, 10, 100, 1000}) {
        std::vector<int32_t> total(limb_count), arc(limb_count);
        gauss_formula(limb_count, total.data(), arc.data());
        std::vector<int32_t> truth(limb_count);
        truth[0] = 3;
        for (int32_t i = 1; i < limb_count; ++i)
            truth[i] = std::stoi(reference_decimals().substr(size_t(i - 1) * 4, 4));
        // The truth is truncated, so it lies in [truth, truth + 1) units.
        limb_sub(limb_count, total.data(), truth.data());
        int64_t difference = 0;
        bool below = total[0] < 0;
        if (below) {
            std::vector<int32_t> zero(limb_count, 0);
            limb_sub(limb_count, zero.data(), total.data());
            total = zero;
        }
        for (int32_t i = 0; i < limb_count; ++i)
            difference = difference * LIMB_BASE + total[i];
        EXPECT_LE(difference + 1, gauss_formula_error_bound(limb_count)) << limb_count << " limbs";
    }
}
