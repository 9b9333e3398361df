// Pi's limbs against the independent reference digits, with the guard limbs
// the program chooses and with guards too narrow to decide, which must widen
// instead of printing a wrong digit.
#include "gauss_formula.hpp"
#include "limb.hpp"
#include "pi_digits.hpp"
#include "reference_digits.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <utility>
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

PiLimbs pi_with_guard(int32_t limb_count, int32_t initial_guard, std::optional<Engine> engine = {})
{
    PiOptions options;
    options.initial_guard_limbs = initial_guard;
    options.engine = engine;
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
    // Find cuts at a limb boundary followed by 0000 or 9999 in the reference.
    // There the guard sits within the error bound of a carry or borrow and
    // must widen: for the series engine a two-limb guard (its bound passes a
    // whole limb), for binary splitting a one-limb guard (its bound is a few
    // units of the last limb).
    std::vector<std::pair<Engine, int32_t>> engine_guards{{Engine::series, 2}};
    if (engine_built(Engine::splitting))
        engine_guards.emplace_back(Engine::splitting, 1);
    const std::string& decimals = reference_decimals();
    int found = 0;
    for (size_t cut = 4; cut + 8 < 40000 && found < 6; cut += 4) {
        const std::string next = decimals.substr(cut, 4);
        if (next != "0000" && next != "9999")
            continue;
        ++found;
        const int32_t limb_count = static_cast<int32_t>(cut / 4 + 1);
        for (const auto& [engine, guard] : engine_guards) {
            const PiLimbs pi = pi_with_guard(limb_count, guard, engine);
            EXPECT_GT(pi.guard_limbs, guard) << "cut after decimal " << cut << ", engine " << int(engine);
            const size_t decimal_count = size_t(limb_count - 1) * LIMB_DIGITS;
            EXPECT_EQ(decimals_of(pi, limb_count), decimals.substr(0, decimal_count)) << "cut after decimal " << cut;
        }
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

namespace {

// |total - pi| in units of 10^-8 of the last limb, for the formula over
// limb_count limbs: total with two zero limbs appended, against the reference
// read to two limbs more. The reference is truncated, so the true error lies
// within one such unit of the value returned.
int64_t formula_error_in_hundred_millionths(int32_t limb_count)
{
    std::vector<int32_t> total(limb_count);
    run_engine(Engine::series, limb_count, total.data(), {});
    const int32_t extended = limb_count + 2;
    total.resize(extended, 0);
    std::vector<int32_t> truth(extended);
    truth[0] = 3;
    for (int32_t i = 1; i < extended; ++i)
        truth[i] = std::stoi(reference_decimals().substr(size_t(i - 1) * 4, 4));
    limb_sub(extended, total.data(), truth.data());
    if (total[0] < 0) {
        std::vector<int32_t> negated(extended, 0);
        limb_sub(extended, negated.data(), total.data());
        total = negated;
    }
    // A difference this test can hold has at most four non-zero limbs.
    for (int32_t i = 0; i + 4 < extended; ++i)
        EXPECT_EQ(total[i], 0) << "an error far beyond any bound at " << limb_count << " limbs";
    int64_t difference = 0;
    for (int32_t i = std::max(0, extended - 4); i < extended; ++i)
        difference = difference * LIMB_BASE + total[i];
    return difference;
}

// The first limb count in the list whose true error reaches bound(limb_count),
// or 0 when every error stays below its bound.
int32_t first_run_outside(const std::vector<int32_t>& limb_counts, const std::function<double(int32_t)>& bound)
{
    for (const int32_t limb_count : limb_counts) {
        const int64_t error = formula_error_in_hundred_millionths(limb_count);
        // Below the bound for certain: error + 1 < bound; beyond it: error - 1 >= bound.
        if (double(error + 1) >= bound(limb_count) * 1e8)
            return limb_count;
    }
    return 0;
}

}  // namespace

TEST(PiDigits, ErrorBoundHoldsForEveryRunAndIsTightEnoughToCatchHalving)
{
    std::vector<int32_t> limb_counts;
    for (int32_t limb_count = 1; limb_count <= 300; ++limb_count)
        limb_counts.push_back(limb_count);
    for (const int32_t limb_count : {1000, 2501, 10001})
        limb_counts.push_back(limb_count);

    const auto bound = [](int32_t limb_count) { return double(gauss_formula_error_bound(limb_count)); };
    EXPECT_EQ(first_run_outside(limb_counts, bound), 0) << "an error beyond the bound";
    // With no limbs of fraction the formula sums to 0, pi away from the truth,
    // against a bound of 4 (3.31 rounded up): half of it must fail there.
    const auto halved = [&](int32_t limb_count) { return bound(limb_count) / 2; };
    EXPECT_NE(first_run_outside(limb_counts, halved), 0) << "halving the bound went unnoticed";
    EXPECT_EQ(gauss_formula_error_bound(1), 4);
}

namespace {

// The error bound worked out without logarithms: K_x, the number of terms
// whose power is not yet zero, counted by comparing x^(2k+1) with 10^T in
// 128-bit integers, and the tail 10^T / (x^(2K+1) (2K+1)) in long double.
// The bound is the least integer above
//     4 sum over the terms of |c| (ceil(K_x / 2) + tail_x).
int64_t error_bound_by_hand(int32_t limb_count)
{
    __int128 scale = 1;  // 10^T
    for (int32_t digit = 0; digit < 4 * (limb_count - 1); ++digit)
        scale *= 10;
    int64_t whole = 0;
    long double tails = 0;
    for (const FormulaTerm& term : TERM_TABLE) {
        int64_t terms = 0;
        __int128 power = term.x;  // x^(2K+1)
        while (power <= scale) {
            ++terms;
            power *= __int128{term.x} * term.x;
        }
        const int64_t weight = 4 * std::abs(term.coefficient);
        whole += weight * ((terms + 1) / 2);
        tails += weight * (static_cast<long double>(scale) / static_cast<long double>(power) / (2 * terms + 1));
    }
    // Far from an integer at these sizes, so the rounding of tails cannot
    // move the ceiling.
    const long double fraction = tails - std::floor(tails);
    EXPECT_GT(fraction, 1e-6L);
    EXPECT_LT(fraction, 1 - 1e-6L);
    return whole + static_cast<int64_t>(std::ceil(tails));
}

}  // namespace

TEST(PiDigits, ErrorBoundIsExactAtSmallLimbCounts)
{
    // Each term's ceil(K/2) counts the truncations that pull its sum down;
    // the bound has no slack there, so floor(K/2) would show.
    for (int32_t limb_count = 1; limb_count <= 8; ++limb_count)
        EXPECT_EQ(gauss_formula_error_bound(limb_count), error_bound_by_hand(limb_count)) << limb_count << " limbs";
    EXPECT_EQ(gauss_formula_error_bound(2), 101);
}

TEST(PiDigits, ErrorBoundGrowsLikeTheTermCount)
{
    // About 12/log10 18 + 8/log10 57 + 5/log10 239 = 16.22 units per fraction
    // digit: linear, and far inside the four guard limbs at the largest limb
    // count.
    for (const int32_t limb_count : {1001, 100001, 10000001}) {
        const double per_digit = double(gauss_formula_error_bound(limb_count)) / (4.0 * (limb_count - 1));
        EXPECT_GT(per_digit, 16.2) << limb_count;
        EXPECT_LT(per_digit, 16.3) << limb_count;
    }
    EXPECT_LT(gauss_formula_error_bound(INT32_MAX / 4 + 1), int64_t{10000} * 10000 * 10000 * 10000 / 1000);
}
