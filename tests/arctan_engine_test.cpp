// The fast arctangent engine against the reference series: identical limbs
// for every x class (small, x*x near the single-division limit, x*x beyond
// 32 bits, the largest int32), for many limb counts, on every path this CPU
// runs and with one or more threads; plus the progress counter, the
// arctan_recip contract and the whole formula.
#include "arctan.hpp"
#include "gauss_formula.hpp"
#include "limb.hpp"
#include "wavefront/series_plan.hpp"
#include "wavefront/wavefront.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using Limbs = std::vector<int32_t>;

// Around the reference's x*x limit (450), the formula's three, the smallest,
// and x whose square passes 2^31 or is near 2^62.
constexpr int32_t XS[] = {2, 3, 18, 57, 239, 449, 450, 463, 500, 46341, 2147483647};

Limbs reference_arctan(int32_t x, int32_t limb_count)
{
    Limbs result(limb_count), power(limb_count), quotient(limb_count);
    arctan_recip_reference(x, limb_count, result.data(), power.data(), quotient.data());
    return result;
}

Limbs engine_arctan(int32_t x, int32_t limb_count, EnginePath path, int32_t threads = 1,
                    int64_t chunk_digits = DEFAULT_CHUNK_DIGITS)
{
    Limbs result(limb_count, -7);
    const int32_t xs[] = {x};
    int32_t* const results[] = {result.data()};
    EngineOptions options;
    options.path = path;
    options.threads = threads;
    options.chunk_digits = chunk_digits;
    arctan_series(xs, limb_count, results, options);
    return result;
}

// The formula as it was before the engine: the reference series one after
// another, weighed and summed with the limb operations.
Limbs reference_formula(int32_t limb_count)
{
    Limbs total(limb_count), arc(limb_count), power(limb_count), quotient(limb_count);
    gauss_formula_reference(limb_count, total.data(), arc.data(), power.data(), quotient.data());
    return total;
}

Limbs engine_formula(int32_t limb_count, const EngineOptions& options)
{
    Limbs total(limb_count), arc(limb_count);
    gauss_formula(limb_count, total.data(), arc.data(), options);
    return total;
}

std::string describe(int32_t x, int32_t limb_count, EnginePath path)
{
    return "x=" + std::to_string(x) + " limbs=" + std::to_string(limb_count) + " path=" + engine_path_name(path);
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
    for (const EnginePath path : available_engine_paths())
        ASSERT_EQ(engine_arctan(x, limb_count, path), expected) << describe(x, limb_count, path);
}

}  // namespace

TEST(EnginePaths, TheBestPathIsTheLastOneThisCpuRuns)
{
    const std::vector<EnginePath> paths = available_engine_paths();
    ASSERT_GE(paths.size(), 2u);
    EXPECT_EQ(paths[0], EnginePath::integer);
    EXPECT_EQ(paths[1], EnginePath::portable);
    EXPECT_EQ(paths.back(), best_engine_path());
#if defined(__x86_64__)
    EXPECT_EQ(best_engine_path() == EnginePath::avx512, __builtin_cpu_supports("avx512f") &&
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
    for (const EnginePath path : available_engine_paths())
        for (const int32_t x : {2, 239, 46341})
            for (const int32_t limb_count : {1, 40, 777, 2500}) {
                const Limbs one = engine_arctan(x, limb_count, path, 1);
                for (const int64_t chunk : {int64_t{1}, int64_t{5}, DEFAULT_CHUNK_DIGITS})
                    for (const int32_t threads : {2, 3})
                        ASSERT_EQ(engine_arctan(x, limb_count, path, threads, chunk), one)
                            << describe(x, limb_count, path) << " threads=" << threads << " chunk=" << chunk;
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
        for (const EnginePath path : available_engine_paths())
            for (const int32_t threads : {1, 2}) {
                EngineOptions options;
                options.path = path;
                options.threads = threads;
                EXPECT_EQ(engine_formula(limb_count, options), expected)
                    << "limbs=" << limb_count << " path=" << engine_path_name(path) << " threads=" << threads;
            }
    }
}

TEST(GaussFormula, UsesOneThreadForSmallInputsAndEveryCoreForLargeOnes)
{
    EXPECT_EQ(formula_threads(10, 8), 1);
    EXPECT_EQ(formula_threads(1000000, 1), 1);
    EXPECT_EQ(formula_threads(1000000, 2), 2);
}

TEST(EngineProgress, TheCounterReachesThePredictedTotal)
{
    for (const int32_t limb_count : {1, 2, 50, 2600}) {
        const int64_t predicted = gauss_formula_progress_total(limb_count);
        for (const EnginePath path : available_engine_paths())
            for (const int32_t threads : {1, 2}) {
                std::atomic<int64_t> counter{0};
                EngineOptions options;
                options.path = path;
                options.threads = threads;
                options.progress = &counter;
                engine_formula(limb_count, options);
                EXPECT_EQ(counter.load(), predicted)
                    << "limbs=" << limb_count << " path=" << engine_path_name(path) << " threads=" << threads;
            }
    }
    EXPECT_EQ(gauss_formula_progress_total(1), 0);
    EXPECT_GT(gauss_formula_progress_total(2600), gauss_formula_progress_total(50));
}

TEST(EngineScratch, GrowsInProportionToTheDigits)
{
    const int64_t small = gauss_formula_scratch_bytes(10000);
    const int64_t large = gauss_formula_scratch_bytes(100000);
    EXPECT_GT(small, 0);
    // Two 8-byte digits per 9 decimal digits and series, plus a mark per band.
    EXPECT_LT(large, 12 * small);
    EXPECT_LT(large, 3 * 2 * 8 * int64_t{100000} * 4 / 9 * 2);
}
