// The wavefront engine against the reference series: identical limbs for every
// x class (small, x*x near the single-division limit, x*x * 10^9 on either
// side of 2^52, x*x beyond 32 bits, the largest int32), for many limb counts,
// on every path this CPU runs and with 1 to 16 threads; the plan's radix at
// the accuracies where it changes; a plan that breaks a bound stopping the
// run; plus the progress counter, the arctan_recip contract and the formula.
#include "arctan.hpp"
#include "gauss_formula.hpp"
#include "limb.hpp"
#include "exactness.hpp"
#include "wavefront/band_pipeline.hpp"
#include "wavefront/floating_band.hpp"
#include "wavefront/integer_band.hpp"
#include "wavefront/kernels/kernels.hpp"
#include "wavefront/series_plan.hpp"
#include "wavefront/wavefront.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <atomic>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using Limbs = std::vector<int32_t>;

// Around the reference's x*x limit (450), the formula's three, the smallest,
// the last x with x^2 * 10^9 <= 2^52 and the first past it, and x whose
// square passes 2^31 or is near 2^62.
constexpr int32_t XS[] = {2, 3, 18, 57, 239, 449, 450, 463, 500, 2122, 2123, 46341, 2147483647};

Limbs reference_arctan(int32_t x, int32_t limb_count)
{
    Limbs result(limb_count), power(limb_count), quotient(limb_count);
    arctan_recip_reference(x, limb_count, result.data(), power.data(), quotient.data());
    return result;
}

Limbs engine_arctan(int32_t x, int32_t limb_count, KernelPath path, int32_t threads = 1,
                    int64_t chunk_digits = DEFAULT_CHUNK_DIGITS)
{
    Limbs result(limb_count, -7);
    const int32_t xs[] = {x};
    int32_t* const results[] = {result.data()};
    WavefrontOptions options;
    options.path = path;
    options.threads = threads;
    options.chunk_digits = chunk_digits;
    arctan_series(xs, limb_count, results, options);
    return result;
}

// The formula by the reference series, one after another, weighed and summed
// with the limb operations.
Limbs reference_formula(int32_t limb_count)
{
    Limbs total(limb_count), arc(limb_count), power(limb_count), quotient(limb_count);
    gauss_formula_reference(limb_count, total.data(), arc.data(), power.data(), quotient.data());
    return total;
}

Limbs engine_formula(int32_t limb_count, const WavefrontOptions& options)
{
    Limbs total(limb_count);
    gauss_formula_wavefront(limb_count, total.data(), options);
    return total;
}

std::string describe(int32_t x, int32_t limb_count, KernelPath path)
{
    return "x=" + std::to_string(x) + " limbs=" + std::to_string(limb_count) + " path=" + kernel_path_name(path);
}

// Limb counts drawn once from a fixed seed, so every run checks the same ones.
std::vector<int32_t> seeded_limb_counts(int32_t how_many, int32_t low, int32_t high)
{
    std::mt19937 generator(20240611);
    std::uniform_int_distribution<int32_t> pick(low, high);
    std::vector<int32_t> counts;
    for (int32_t i = 0; i < how_many; ++i)
        counts.push_back(pick(generator));
    return counts;
}

void expect_engine_matches_reference(int32_t x, int32_t limb_count)
{
    const Limbs expected = reference_arctan(x, limb_count);
    for (const KernelPath path : available_kernel_paths())
        ASSERT_EQ(engine_arctan(x, limb_count, path), expected) << describe(x, limb_count, path);
}

}  // namespace

TEST(KernelPaths, TheBestPathIsTheLastOneThisCpuRuns)
{
    const std::vector<KernelPath> paths = available_kernel_paths();
    ASSERT_GE(paths.size(), 2u);
    EXPECT_EQ(paths[0], KernelPath::integer);
    EXPECT_EQ(paths[1], KernelPath::portable);
    EXPECT_EQ(paths.back(), best_kernel_path());
#if defined(__x86_64__)
    EXPECT_EQ(best_kernel_path() == KernelPath::avx512, __builtin_cpu_supports("avx512f") &&
                                                            __builtin_cpu_supports("avx512dq") &&
                                                            __builtin_cpu_supports("avx512vl") &&
                                                            __builtin_cpu_supports("avx512bw"));
#endif
}

TEST(SeriesPlanChoice, FloatingWhereTheBoundsHoldAndIntegerBeyond)
{
    const SeriesPlan small = plan_series(18, 25001, DigitArithmetic::floating);
    EXPECT_EQ(small.arithmetic, DigitArithmetic::floating);
    EXPECT_EQ(small.radix_digits, 9);
    // x^2 = 2147488281 times 10^6 is still below 2^52, times 10^7 is not.
    const SeriesPlan wide = plan_series(46341, 1000, DigitArithmetic::floating);
    EXPECT_EQ(wide.arithmetic, DigitArithmetic::floating);
    EXPECT_EQ(wide.radix_digits, 6);
    const SeriesPlan huge = plan_series(2147483647, 1000, DigitArithmetic::floating);
    EXPECT_EQ(huge.arithmetic, DigitArithmetic::integer);
    EXPECT_FALSE(huge.divide_by_square);
}

TEST(ArctanEngine, MatchesTheReferenceForEveryLimbCountUpTo300)
{
    for (const int32_t x : XS)
        for (int32_t limb_count = 1; limb_count <= 300; ++limb_count)
            expect_engine_matches_reference(x, limb_count);
}

TEST(ArctanEngine, MatchesTheReferenceForSeededLimbCountsUpTo3000)
{
    for (const int32_t x : XS)
        for (const int32_t limb_count : seeded_limb_counts(5, 301, 3000))
            expect_engine_matches_reference(x, limb_count);
}

TEST(ArctanEngine, MatchesTheReferenceForArctan18OverManyBands)
{
    // Enough terms for hundreds of bands and digit sums of many terms each.
    expect_engine_matches_reference(18, 12345);
}

TEST(ArctanEngine, ThreadsSharingOneSeriesGiveTheSameLimbs)
{
    // Tiny chunks hand every few digits from band to band, so the two
    // threads meet constantly.
    for (const KernelPath path : available_kernel_paths())
        for (const int32_t x : {2, 239, 46341})
            for (const int32_t limb_count : {1, 40, 777, 2500}) {
                const Limbs one = engine_arctan(x, limb_count, path, 1);
                for (const int64_t chunk : {int64_t{1}, int64_t{5}, DEFAULT_CHUNK_DIGITS})
                    for (const int32_t threads : {2, 3, 8, 16}) {
                        if (chunk == 1 && threads > 3)
                            continue;  // many threads a digit apart only take turns waking each other
                        ASSERT_EQ(engine_arctan(x, limb_count, path, threads, chunk), one)
                            << describe(x, limb_count, path) << " threads=" << threads << " chunk=" << chunk;
                    }
            }
}

TEST(ArctanRecip, GivesTheReferenceLimbsAndLeavesThePowerZero)
{
    for (const int32_t x : {2, 57, 463, 2147483647})
        for (const int32_t limb_count : {1, 2, 9, 1000}) {
            Limbs result(limb_count, 5), power(limb_count, 5), quotient(limb_count, 5);
            arctan_recip(x, limb_count, result.data(), power.data(), quotient.data());
            EXPECT_EQ(result, reference_arctan(x, limb_count)) << "x=" << x << " limbs=" << limb_count;
            EXPECT_TRUE(limb_is_zero(limb_count, power.data())) << "x=" << x << " limbs=" << limb_count;
        }
}

TEST(GaussFormula, MatchesTheReferenceFormulaOnEveryPathAndThreadCount)
{
    for (const int32_t limb_count : {1, 2, 3, 5, 17, 300, 1001, 2600}) {
        const Limbs expected = reference_formula(limb_count);
        for (const KernelPath path : available_kernel_paths())
            for (const int32_t threads : {1, 2, 3, 8, 16}) {
                WavefrontOptions options;
                options.path = path;
                options.threads = threads;
                EXPECT_EQ(engine_formula(limb_count, options), expected)
                    << "limbs=" << limb_count << " path=" << kernel_path_name(path) << " threads=" << threads;
            }
    }
}

TEST(GaussFormula, StartsNoMoreThreadsThanTheCpusOrTheSeriesCanKeepBusy)
{
    EXPECT_EQ(wavefront_threads(10, 8), 1);
    EXPECT_EQ(wavefront_threads(1000000, 1), 1) << "one allowed CPU, one worker";
    EXPECT_EQ(wavefront_threads(1000000, 2), 2);
    // 1000 limbs: each series fits in one chunk, so its bands cannot overlap
    // and three threads are all that can work.
    EXPECT_EQ(wavefront_threads(1000, 64), 3);
    EXPECT_EQ(arctan_series_parallelism(std::vector<int32_t>{18, 57, 239}, 1000), 3);
    // Larger inputs offer a pipeline a chunk deep per series, no more.
    const int32_t offered = arctan_series_parallelism(std::vector<int32_t>{18, 57, 239}, 250001);
    EXPECT_GT(offered, 64);
    EXPECT_EQ(wavefront_threads(250001, 64), 64);
    EXPECT_EQ(wavefront_threads(250001, 100000), offered);
}

TEST(SeriesPlanChoice, RadixChangesAtTheAccuraciesWhereTheLargestDivisorPasses2To52)
{
    // Found from the plans alone, without running any series. The last term
    // of the last band sets the largest divisor 2k + 1; at radix 10^9 it and
    // the digit sums must stay within 2^52 (checked here with the literal
    // bound, so that a looser bound in the engine is caught).
    constexpr int64_t two_to_52 = int64_t{1} << 52;
    const struct {
        int32_t x;
        double expected_digits;  // where the radix drops below 10^9
    } cases[] = {{18, 5.65e6}, {57, 7.91e6}, {239, 10.7e6}};
    for (const auto& c : cases) {
        int32_t low = 1, high = 1 << 27;  // radix 10^9 at low, below it at high
        ASSERT_EQ(plan_series(c.x, low, DigitArithmetic::floating).radix_digits, 9);
        ASSERT_LT(plan_series(c.x, high, DigitArithmetic::floating).radix_digits, 9);
        while (high - low > 1) {
            const int32_t middle = low + (high - low) / 2;
            (plan_series(c.x, middle, DigitArithmetic::floating).radix_digits == 9 ? low : high) = middle;
        }
        const SeriesPlan last_at_9 = plan_series(c.x, low, DigitArithmetic::floating);
        const SeriesPlan first_below = plan_series(c.x, high, DigitArithmetic::floating);
        const double digits = 4.0 * (high - 1);
        EXPECT_NEAR(digits / c.expected_digits, 1.0, 0.01) << "x=" << c.x << " changes at " << digits;
        EXPECT_EQ(first_below.arithmetic, DigitArithmetic::floating);
        EXPECT_EQ(first_below.radix_digits, 8) << "x=" << c.x;

        const int64_t last_term_at_9 = last_at_9.band_count * BAND_WIDTH;
        const int64_t last_term_below = first_below.band_count * BAND_WIDTH;
        EXPECT_LE((2 * last_term_at_9 + 1) * int64_t{1000000000}, two_to_52) << "x=" << c.x;
        EXPECT_GT((2 * last_term_below + 1) * int64_t{1000000000}, two_to_52) << "x=" << c.x;

        // The bands cover every term whose power is not zero: the largest k
        // with (2k + 1) log10 x <= T.
        const double terms_needed = (4.0 * (high - 1) / std::log10(double(c.x)) - 1) / 2;
        EXPECT_GE(double(last_term_below), terms_needed) << "x=" << c.x;

        // The same plan forced to radix 10^9 is refused band by band.
        SeriesPlan forced = first_below;
        forced.radix_digits = 9;
        forced.radix = 1000000000;
        forced.length = forced.fraction_digits / 9 + 1;
        EXPECT_THROW(make_floating_band(forced, forced.band_count - 1), ExactnessViolation) << "x=" << c.x;
        EXPECT_NO_THROW(make_floating_band(first_below, first_below.band_count - 1)) << "x=" << c.x;
    }
}

TEST(SeriesPlanChoice, TheSquareOfXTimesTheRadixDecidesBetween2122And2123)
{
    // 2122^2 * 10^9 = 4,502,884,000,000,000 <= 2^52 < 2123^2 * 10^9.
    EXPECT_LE(int64_t{2122} * 2122 * 1000000000, int64_t{1} << 52);
    EXPECT_GT(int64_t{2123} * 2123 * 1000000000, int64_t{1} << 52);
    EXPECT_EQ(plan_series(2122, 1000, DigitArithmetic::floating).radix_digits, 9);
    EXPECT_EQ(plan_series(2123, 1000, DigitArithmetic::floating).radix_digits, 8);
}

TEST(ExactnessChecks, ABandThatBreaksABoundStopsTheRunOnEveryThreadCount)
{
    // At radix 10^9 the term divisors may reach floor(2^52 / 10^9) = 4503599.
    // A plan for arctan(1/18) given far more bands than it needs: the bands
    // past its terms have no digits to sweep, up to band 56293 (last term
    // 2251760, divisor 4503521) the bounds hold, band 56294 (divisor 4503601)
    // breaks them. The run must end with the bound's name, whichever thread
    // meets it, and no thread may be left waiting for the band that stopped.
    SeriesPlan plan = plan_series(18, 2000, DigitArithmetic::floating);
    ASSERT_EQ(plan.radix_digits, 9);
    plan.band_count = 56300;
    EXPECT_NO_THROW(make_floating_band(plan, 56293));
    EXPECT_THROW(make_floating_band(plan, 56294), ExactnessViolation);
    // The failure is the pipeline's to handle, whatever the kernel: the best
    // path stands for all.
    for (const KernelPath path : {best_kernel_path()}) {
        for (const int32_t threads : {1, 2, 3, 8}) {
            std::vector<SeriesWork> series(1);
            prepare_series(series[0], plan);
            PipelineOptions options;
            options.threads = threads;
            options.chunk_digits = 16;
            options.kernel = floating_kernel(path);
            try {
                run_all_bands(series, options);
                ADD_FAILURE() << "the run went on past the broken bound, path " << kernel_path_name(path);
            } catch (const ExactnessViolation& violation) {
                EXPECT_NE(std::string(violation.what()).find("term divisor * radix <= 2^52"), std::string::npos)
                    << violation.what();
            }
        }
    }
}

TEST(ExactnessChecks, TheIntegerBandRefusesDivisorsPast2To62)
{
    SeriesPlan plan = plan_series(2147483647, 1000, DigitArithmetic::integer);
    EXPECT_EQ(plan.arithmetic, DigitArithmetic::integer);
    EXPECT_NO_THROW(make_integer_band(plan, 0));
    plan.divide_by_square = true;  // x^2 * radix far past 2^62
    EXPECT_THROW(make_integer_band(plan, 0), ExactnessViolation);
    EXPECT_EQ(broken_integer_bound(1000, (int64_t{1} << 62) / 1000 - 1, false, 0), nullptr);
    EXPECT_NE(broken_integer_bound(1000, (int64_t{1} << 62) / 1000, false, 0), nullptr);
}

TEST(EngineProgress, TheCounterReachesThePredictedTotal)
{
    for (const int32_t limb_count : {1, 2, 50, 2600}) {
        const int64_t predicted = wavefront_progress_total(limb_count);
        for (const KernelPath path : available_kernel_paths())
            for (const int32_t threads : {1, 2}) {
                std::atomic<int64_t> counter{0};
                WavefrontOptions options;
                options.path = path;
                options.threads = threads;
                options.progress = &counter;
                engine_formula(limb_count, options);
                EXPECT_EQ(counter.load(), predicted)
                    << "limbs=" << limb_count << " path=" << kernel_path_name(path) << " threads=" << threads;
            }
    }
    EXPECT_EQ(wavefront_progress_total(1), 0);
    EXPECT_GT(wavefront_progress_total(2600), wavefront_progress_total(50));
}

TEST(EngineScratch, GrowsInProportionToTheDigits)
{
    const int64_t small = wavefront_bytes_needed(10000);
    const int64_t large = wavefront_bytes_needed(100000);
    EXPECT_GT(small, 0);
    // Two 8-byte digits per 9 decimal digits and series, a mark per band, and
    // the arctangent being weighed in.
    EXPECT_LT(large, 12 * small);
    EXPECT_LT(large, 3 * 2 * 8 * int64_t{100000} * 4 / 9 * 2);
}
