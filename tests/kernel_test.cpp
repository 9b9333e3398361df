// The floating kernels against exact 64-bit integer arithmetic: every
// floating path this CPU runs advances hand-built bands whose divisors sit at
// the edge of the exactness bound (D * R <= 2^52), from random lane states and
// input digits, and must give the digits and lane states of an integer model
// of the same wavefront. Plus the bounds themselves: broken_floating_bound
// accepts exactly the divisors and term counts the kernels' argument covers.
#include "exactness.hpp"
#include "wavefront/floating_band.hpp"
#include "wavefront/kernels/kernels.hpp"
#include "wavefront/series_plan.hpp"
#include "wavefront/wavefront.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#if defined(__x86_64__)
#include <xmmintrin.h>
#endif

namespace {

constexpr int32_t W = BAND_WIDTH;

// The limit the kernels' exactness argument proves, written out here rather
// than taken from FLOATING_EXACT_LIMIT, so that a looser constant fails.
constexpr int64_t EXACT = int64_t{1} << 52;

// Every radix the plan can choose lies between 10^4 and 10^9; the kernels do
// not need a power of ten, and 2^26 makes D * R = 2^52 exactly.
constexpr int64_t RADICES[] = {1000000000, 100000000, 1000000, 10000, int64_t{1} << 26, 129140163};

// Steps per run: enough for every lane to see many digits, well under a
// second under the sanitizers.
constexpr int64_t STEPS = 300;

struct BandCase {
    std::string name;
    int64_t radix;
    int64_t power_divisor;
    std::array<int64_t, W> term_divisor;
    int64_t first_sign;  // the sign of term 0; the others alternate, as in the series
};

FloatingBand band_of(const BandCase& c)
{
    FloatingBand band;
    band.start = 0;
    band.length = STEPS;
    band.radix = static_cast<double>(c.radix);
    band.power_divisor = static_cast<double>(c.power_divisor);
    band.power_inverse_up = inverse_rounded_up(band.power_divisor);
    band.power_inverse_down = inverse_rounded_down(band.power_divisor);
    for (int32_t t = 0; t < W; ++t) {
        band.term_divisor[t] = static_cast<double>(c.term_divisor[t]);
        band.term_inverse_up[t] = inverse_rounded_up(band.term_divisor[t]);
        band.term_inverse_down[t] = inverse_rounded_down(band.term_divisor[t]);
        band.term_sign[t] = static_cast<double>(t % 2 == 0 ? c.first_sign : -c.first_sign);
    }
    return band;
}

// What each term carries, in integers.
struct ModelLanes {
    std::array<int64_t, W> power{}, sum{}, power_remainder{}, term_remainder{};
};

// The digit arrays with their front padding: index FRONT is digit 0.
constexpr int64_t FRONT = DIGIT_FRONT_PADDING;

struct Model {
    BandCase band;
    ModelLanes lanes;
    std::vector<int64_t> power, sum;  // FRONT + STEPS entries
    int64_t next_step = 0;

    // The wavefront in int64: each lane divides r * R + d by its divisors
    // with exact quotient and remainder.
    void advance(int64_t step_end)
    {
        const int64_t radix = band.radix;
        for (int64_t step = next_step; step < step_end; ++step) {
            // From the last lane down, so each reads its predecessor's
            // output of the previous step.
            for (int32_t t = W - 1; t >= 0; --t) {
                const int64_t in_power = t == 0 ? power[FRONT + step] : lanes.power[t - 1];
                const int64_t in_sum = t == 0 ? sum[FRONT + step] : lanes.sum[t - 1];
                const int64_t c = lanes.power_remainder[t] * radix + in_power;
                const int64_t digit = c / band.power_divisor;
                lanes.power_remainder[t] = c % band.power_divisor;
                const int64_t e = lanes.term_remainder[t] * radix + digit;
                const int64_t quotient = e / band.term_divisor[t];
                lanes.term_remainder[t] = e % band.term_divisor[t];
                lanes.power[t] = digit;
                const int64_t sign = t % 2 == 0 ? band.first_sign : -band.first_sign;
                lanes.sum[t] = in_sum + sign * quotient;
            }
            power[FRONT + step - (W - 1)] = lanes.power[W - 1];
            sum[FRONT + step - (W - 1)] = lanes.sum[W - 1];
        }
        if (step_end > next_step)
            next_step = step_end;
    }
};

// Sums start anywhere in +-2^50; a digit's sum then takes at most W more
// quotients below R <= 2^30, so every sum stays below 2^51 in size.
constexpr int64_t SUM_RANGE = int64_t{1} << 50;

// Lane states and digits: remainders in [0, D), power digits in [0, R) and
// sums in +-SUM_RANGE, drawn at random; or, with `extreme`, every remainder
// D - 1 and every digit R - 1, so that r * R + d = D * R - 1, the largest
// value a division meets, whose quotient R - 1 and remainder D - 1 keep every
// later step there.
Model random_model(const BandCase& c, std::mt19937_64& random, bool extreme)
{
    auto below = [&](int64_t bound) {
        return extreme ? bound - 1 : std::uniform_int_distribution<int64_t>(0, bound - 1)(random);
    };
    auto any_sum = [&] { return std::uniform_int_distribution<int64_t>(-SUM_RANGE, SUM_RANGE)(random); };
    Model model;
    model.band = c;
    for (int32_t t = 0; t < W; ++t) {
        model.lanes.power[t] = below(c.radix);
        model.lanes.sum[t] = any_sum();
        model.lanes.power_remainder[t] = below(c.power_divisor);
        model.lanes.term_remainder[t] = below(c.term_divisor[t]);
    }
    model.power.resize(FRONT + STEPS);
    model.sum.resize(FRONT + STEPS);
    for (int64_t i = 0; i < FRONT + STEPS; ++i) {
        model.power[i] = below(c.radix);
        model.sum[i] = any_sum();
    }
    return model;
}

struct KernelRun {
    FloatingLanes lanes;
    std::vector<double> power, sum;
};

KernelRun kernel_run_of(const Model& model)
{
    KernelRun run;
    for (int32_t t = 0; t < W; ++t) {
        run.lanes.power[t] = static_cast<double>(model.lanes.power[t]);
        run.lanes.sum[t] = static_cast<double>(model.lanes.sum[t]);
        run.lanes.power_remainder[t] = static_cast<double>(model.lanes.power_remainder[t]);
        run.lanes.term_remainder[t] = static_cast<double>(model.lanes.term_remainder[t]);
    }
    run.lanes.next_step = model.next_step;
    run.power.assign(model.power.begin(), model.power.end());
    run.sum.assign(model.sum.begin(), model.sum.end());
    return run;
}

// The first place the kernel's values differ from the model's, or "".
std::string first_difference(const char* what, const double* kernel, const int64_t* model, int64_t count,
                             int64_t offset = 0)
{
    for (int64_t i = 0; i < count; ++i)
        if (kernel[i] != static_cast<double>(model[i]))
            return std::string(what) + "[" + std::to_string(i - offset) + "]: kernel " + std::to_string(kernel[i]) +
                   ", exact " + std::to_string(model[i]);
    return "";
}

std::string first_difference(const KernelRun& run, const Model& model)
{
    const std::string differences[] = {
        first_difference("digit power", run.power.data(), model.power.data(), FRONT + STEPS, FRONT),
        first_difference("digit sum", run.sum.data(), model.sum.data(), FRONT + STEPS, FRONT),
        first_difference("lane power", run.lanes.power, model.lanes.power.data(), W),
        first_difference("lane sum", run.lanes.sum, model.lanes.sum.data(), W),
        first_difference("lane power remainder", run.lanes.power_remainder, model.lanes.power_remainder.data(), W),
        first_difference("lane term remainder", run.lanes.term_remainder, model.lanes.term_remainder.data(), W),
    };
    for (const std::string& difference : differences)
        if (!difference.empty())
            return difference;
    if (run.lanes.next_step != model.next_step)
        return "next_step " + std::to_string(run.lanes.next_step) + ", expected " + std::to_string(model.next_step);
    return "";
}

// Every floating path this CPU runs, with its kernel.
std::vector<KernelPath> floating_paths()
{
    std::vector<KernelPath> paths;
    for (const KernelPath path : available_kernel_paths())
        if (path != KernelPath::integer)
            paths.push_back(path);
    return paths;
}

// Divisors at the bound and just below: D = floor(2^52 / R), D - 1, D - 2,
// for x^2 and spread over the terms, with either sign first.
std::vector<BandCase> edge_cases()
{
    std::vector<BandCase> cases;
    for (const int64_t radix : RADICES) {
        const int64_t limit = EXACT / radix;
        for (int64_t below = 0; below < 3; ++below) {
            BandCase c;
            c.name = "R=" + std::to_string(radix) + " x^2=D-" + std::to_string(below);
            c.radix = radix;
            c.power_divisor = limit - below;
            for (int32_t t = 0; t < W; ++t)
                c.term_divisor[t] = limit - (t + below) % 3;
            c.first_sign = below % 2 == 0 ? 1 : -1;
            cases.push_back(c);
        }
    }
    return cases;
}

// A band as the series meets it first: x = 18, terms 1 to 40, radix 10^9.
// Its small divisors divide r * R + d exactly often, where an inverse
// rounded the wrong way would give a quotient one short.
BandCase first_band_of_18()
{
    BandCase c;
    c.name = "x=18 band 0";
    c.radix = 1000000000;
    c.power_divisor = 18 * 18;
    for (int32_t t = 0; t < W; ++t) {
        const int64_t term = band_first_term(0) + t;
        c.term_divisor[t] = 2 * term + 1;
    }
    c.first_sign = band_first_term(0) % 2 == 0 ? 1 : -1;
    return c;
}

// Runs the model and the kernel over the same steps, in several calls (one of
// them empty), so that the lanes also carry the state from call to call.
void expect_kernel_matches_model(KernelPath path, const BandCase& c, std::mt19937_64& random, bool extreme)
{
    SCOPED_TRACE(std::string(kernel_path_name(path)) + " " + c.name + (extreme ? " extreme" : " random"));
    const FloatingBand band = band_of(c);
    Model model = random_model(c, random, extreme);
    KernelRun run = kernel_run_of(model);
    const FloatingKernel kernel = floating_kernel(path);
    for (const int64_t step_end : {int64_t{1}, int64_t{137}, int64_t{137}, int64_t{100}, STEPS}) {
        kernel(band, run.lanes, run.power.data() + FRONT, run.sum.data() + FRONT, step_end);
        model.advance(step_end);
    }
    ASSERT_EQ(model.next_step, STEPS);
    EXPECT_EQ(first_difference(run, model), "");
}

TEST(FloatingKernel, EachPathIsExactAtTheBound)
{
    std::mt19937_64 random(20240917);
    for (const KernelPath path : floating_paths())
        for (const BandCase& c : edge_cases()) {
            // The bands are ones the plan accepts, with divisors up to the limit.
            ASSERT_EQ(broken_floating_bound(c.radix, c.power_divisor, (EXACT / c.radix - 1) / 2), nullptr) << c.name;
            for (int32_t round = 0; round < 2; ++round)
                expect_kernel_matches_model(path, c, random, false);
            expect_kernel_matches_model(path, c, random, true);
        }
}

TEST(FloatingKernel, EachPathIsExactOnTheFirstBand)
{
    std::mt19937_64 random(18);
    for (const KernelPath path : floating_paths())
        for (int32_t round = 0; round < 4; ++round)
            expect_kernel_matches_model(path, first_band_of_18(), random, false);
}

TEST(FloatingKernel, PathsGetTheirOwnKernel)
{
    const std::vector<KernelPath> paths = available_kernel_paths();
    auto runs = [&](KernelPath path) { return std::find(paths.begin(), paths.end(), path) != paths.end(); };
    EXPECT_EQ(floating_kernel(KernelPath::portable), &floating_kernel_portable);
#if defined(__x86_64__)
    if (runs(KernelPath::avx2)) {
        EXPECT_EQ(floating_kernel(KernelPath::avx2), &floating_kernel_avx2);
    }
    if (runs(KernelPath::avx512)) {
        EXPECT_EQ(floating_kernel(KernelPath::avx512), &floating_kernel_avx512);
    }
#endif
    (void)runs;
}

#if defined(__x86_64__)
TEST(FloatingKernel, EachPathLeavesTheMxcsrAsItFoundIt)
{
    std::mt19937_64 random(7);
    const BandCase c = edge_cases().front();
    const FloatingBand band = band_of(c);
    const unsigned saved = _mm_getcsr();
    // Round-up and a sticky flag set, so that a kernel resetting either shows.
    const unsigned caller = (saved & ~_MM_ROUND_MASK) | _MM_ROUND_UP | _MM_EXCEPT_INEXACT;
    for (const KernelPath path : floating_paths()) {
        SCOPED_TRACE(kernel_path_name(path));
        KernelRun run = kernel_run_of(random_model(c, random, false));
        _mm_setcsr(caller);
        floating_kernel(path)(band, run.lanes, run.power.data() + FRONT, run.sum.data() + FRONT, STEPS);
        const unsigned after = _mm_getcsr();
        _mm_setcsr(saved);
        EXPECT_EQ(after, caller);
    }
}

TEST(FloatingKernel, Avx2RefusesSignsItCannotApply)
{
    const std::vector<KernelPath> paths = available_kernel_paths();
    if (std::find(paths.begin(), paths.end(), KernelPath::avx2) == paths.end())
        GTEST_SKIP() << "this CPU does not run the AVX2 path";
    std::mt19937_64 random(11);
    const BandCase c = first_band_of_18();
    const Model model = random_model(c, random, false);
    // A sign off the alternation, a sign shared by neighbouring terms, and a
    // magnitude other than one each break the layout the kernel applies.
    for (const int32_t term : {0, 13, W - 1}) {
        for (const double wrong : {0.0, 2.0, 0.5}) {
            FloatingBand band = band_of(c);
            band.term_sign[term] = wrong == 0.0 ? -band.term_sign[term] : wrong * band.term_sign[term];
            KernelRun run = kernel_run_of(model);
            EXPECT_THROW(floating_kernel_avx2(band, run.lanes, run.power.data() + FRONT, run.sum.data() + FRONT, STEPS),
                         ExactnessViolation)
                << "term " << term << " sign " << band.term_sign[term];
        }
    }
}
#endif

// Largest divisor D with D * R <= 2^52, by exact integer arithmetic.
int64_t divisor_limit(int64_t radix)
{
    return EXACT / radix;
}

TEST(FloatingKernelBound, PowerDivisorUpToTheLimit)
{
    for (const int64_t radix : RADICES) {
        SCOPED_TRACE("R=" + std::to_string(radix));
        const int64_t limit = divisor_limit(radix);
        ASSERT_LE(limit * radix, EXACT);
        ASSERT_GT((limit + 1) * radix, EXACT);
        EXPECT_EQ(broken_floating_bound(radix, limit, 1), nullptr);
        const char* broken = broken_floating_bound(radix, limit + 1, 1);
        ASSERT_NE(broken, nullptr);
        EXPECT_NE(std::string(broken).find("x^2"), std::string::npos) << broken;
    }
}

TEST(FloatingKernelBound, TermDivisorUpToTheLimit)
{
    for (const int64_t radix : RADICES) {
        SCOPED_TRACE("R=" + std::to_string(radix));
        const int64_t limit = divisor_limit(radix);
        // The last term whose divisor 2k + 1 is within the limit; the next
        // term's divisor passes it (by one when the limit is even).
        const int64_t last_term = (limit - 1) / 2;
        ASSERT_LE(2 * last_term + 1, limit);
        ASSERT_GT(2 * (last_term + 1) + 1, limit);
        EXPECT_EQ(broken_floating_bound(radix, 1, last_term), nullptr);
        const char* broken = broken_floating_bound(radix, 1, last_term + 1);
        ASSERT_NE(broken, nullptr);
        EXPECT_NE(std::string(broken).find("term divisor"), std::string::npos) << broken;
    }
}

TEST(FloatingKernelBound, DigitSumsStayWithinTheLimit)
{
    for (const int64_t radix : RADICES) {
        SCOPED_TRACE("R=" + std::to_string(radix));
        // The most terms a band set may have: a digit's sum of last_term + 1
        // quotients below R stays within 2^52 in size ...
        const int64_t last_term = (divisor_limit(radix) - 1) / 2;
        ASSERT_EQ(broken_floating_bound(radix, 1, last_term), nullptr);
        EXPECT_LE((last_term + 1) * (radix - 1), EXACT);
        // ... and one more term is refused.
        EXPECT_NE(broken_floating_bound(radix, 1, last_term + 1), nullptr);
    }
}

TEST(FloatingKernelBound, PlansStayWithinTheLimit)
{
    // Each plan's divisors and sums fit its radix, for x from the formula's
    // three to values whose square reaches the bound at a small radix.
    for (const int32_t x : {18, 57, 239, 46341, 2147483647})
        for (const int32_t limb_count : {2, 1000, 250001}) {
            const SeriesPlan plan = plan_series(x, limb_count, DigitArithmetic::floating);
            if (plan.arithmetic != DigitArithmetic::floating)
                continue;
            SCOPED_TRACE("x=" + std::to_string(x) + " limbs=" + std::to_string(limb_count));
            const int64_t last_term = plan.band_count * BAND_WIDTH;
            EXPECT_LE(int64_t{x} * x, divisor_limit(plan.radix));
            EXPECT_LE(2 * last_term + 1, divisor_limit(plan.radix));
            EXPECT_LE((last_term + 1) * (plan.radix - 1), EXACT);
        }
}

}  // namespace
