// The binary splitting engine against things it does not share code with:
// exact rational sums and lcms made with GMP's own mpq and mpz_lcm, exact
// quotients, GMP's decimal conversion, the series engine and the reference
// digits.
#include "engine_choice.hpp"
#include "exactness.hpp"
#include "gauss_formula.hpp"
#include "limb.hpp"
#include "out_of_memory_report.hpp"
#include "pi_digits.hpp"
#include "reference_digits.hpp"
#include "block_memory.hpp"
#include "splitting/arctan_splitting.hpp"
#include "splitting/big_integer.hpp"
#include "splitting/decimal_limbs.hpp"
#include "splitting/fraction_limbs.hpp"
#include "splitting/splitting.hpp"
#include "splitting/truncated_quotient.hpp"
#include "stormer_formula.hpp"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <random>
#include <utility>
#include <string>
#include <vector>

namespace {

// sum over k in [begin, end) of (-1)^k / ((2k+1) x^(2k+1)), term by term.
void plain_rational_sum(int32_t x, int64_t begin, int64_t end, mpq_t sum)
{
    mpq_set_ui(sum, 0, 1);
    mpq_t term;
    mpq_init(term);
    for (int64_t k = begin; k < end; ++k) {
        mpz_ui_pow_ui(mpq_denref(term), static_cast<unsigned long>(x), static_cast<unsigned long>(2 * k + 1));
        mpz_mul_ui(mpq_denref(term), mpq_denref(term), static_cast<unsigned long>(2 * k + 1));
        mpz_set_si(mpq_numref(term), k % 2 == 0 ? 1 : -1);
        mpq_canonicalize(term);
        mpq_add(sum, sum, term);
    }
    mpq_clear(term);
}

// The limbs' digits, four to a limb.
std::string limb_digits(const std::vector<int32_t>& limbs)
{
    std::string digits;
    for (int32_t limb : limbs) {
        const std::string group = std::to_string(limb);
        digits.append(LIMB_DIGITS - group.size(), '0');
        digits += group;
    }
    return digits;
}

#ifndef _WIN32
// The bytes of address space the process holds (/proc/self/statm's first
// figure, in pages).
rlim_t address_space_in_use()
{
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    unsigned long pages = 0;
    if (statm != nullptr) {
        if (std::fscanf(statm, "%lu", &pages) != 1)
            pages = 0;
        std::fclose(statm);
    }
    return rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE));
}
#endif

std::vector<int32_t> pi_limbs(int32_t limb_count, Engine engine, int32_t cpus)
{
    PiOptions options;
    options.engine = engine;
    options.cpus = cpus;
    PiLimbs pi = compute_pi(limb_count, options);
    return std::vector<int32_t>(pi.limbs.begin(), pi.limbs.begin() + limb_count);
}

// value in decimal, with leading zeros to fill limb_count limbs.
std::string padded_digits(const BigInteger& value, int32_t limb_count)
{
    std::string digits(size_t(limb_count) * LIMB_DIGITS + 2, '\0');
    mpz_get_str(digits.data(), 10, value);
    digits.resize(digits.find('\0'));
    digits.insert(0, size_t(limb_count) * LIMB_DIGITS - digits.size(), '0');
    return digits;
}

// The limbs less pi truncated to as many limbs (the reference digits), as
// an integer in units of the last limb.
void subtract_reference(const std::vector<int32_t>& total, BigInteger& difference)
{
    BigInteger found, expected;
    std::string digits = reference_decimals().substr(0, (total.size() - 1) * LIMB_DIGITS);
    digits.insert(digits.begin(), '3');
    mpz_set_str(expected, digits.c_str(), 10);
    mpz_set_str(found, limb_digits(total).c_str(), 10);
    mpz_sub(difference, found, expected);
}

}  // namespace

TEST(Splitting, RangesSumToThePlainRationalSumOverTheirLcm)
{
    // Ranges shorter than a leaf, one merge up, many merges, and ranges far
    // from the start where the lcm keeps most prime factors.
    const std::pair<int64_t, int64_t> ranges[] = {{0, 1},   {0, 2},     {3, 4},     {0, 32},      {0, 33},
                                                  {7, 100}, {100, 357}, {0, 1000},  {4000, 4129}, {9000, 9700}};
    const OddPrimePowers list = odd_prime_powers_up_to(2 * 9700);
    ForkJoinPool pool(1);
    mpq_t expected, found;
    mpq_inits(expected, found, nullptr);
    for (int32_t x : {2, 18, 57, 239}) {
        for (const auto& [begin, end] : ranges) {
            ArctanSplitting series(x, end, list, pool);
            const SplitSum range = series.sum(begin, end);
            BigInteger lcm(1);
            for (int64_t k = begin; k < end; ++k)
                mpz_lcm_ui(lcm, lcm, static_cast<unsigned long>(2 * k + 1));
            BigInteger lcm_found = std::move(odd_lcms_up_to(list, {end - begin})[0]);
            mpz_mul(lcm_found, lcm_found, range.large_primes);
            EXPECT_EQ(mpz_cmp(lcm_found, lcm), 0) << "x=" << x << " [" << begin << ", " << end << ")";

            // T / (L x^(2 end - 1))
            mpz_set(mpq_numref(found), range.numerator);
            mpz_ui_pow_ui(mpq_denref(found), static_cast<unsigned long>(x), static_cast<unsigned long>(2 * end - 1));
            mpz_mul(mpq_denref(found), mpq_denref(found), lcm);
            mpq_canonicalize(found);
            plain_rational_sum(x, begin, end, expected);
            EXPECT_TRUE(mpq_equal(found, expected)) << "x=" << x << " [" << begin << ", " << end << ")";
        }
    }
    mpq_clears(expected, found, nullptr);
}

TEST(Splitting, OddPrimePowersMatchTheirSmallestPrimeFactors)
{
    // Limits where the sieve's windows of 2^21 odd numbers end (2^22 - 1 is
    // the last number of the first), where the bits fill whole words (127),
    // and the smallest ones.
    constexpr int64_t window_end = int64_t{1} << 22;
    const int64_t top = 2 * window_end + 5;
    std::vector<uint32_t> smallest_factor(static_cast<size_t>(top + 1), 0);
    for (int64_t n = 3; n <= top; n += 2)
        if (smallest_factor[n] == 0)
            for (int64_t multiple = n; multiple <= top; multiple += 2 * n)
                if (smallest_factor[multiple] == 0)
                    smallest_factor[multiple] = static_cast<uint32_t>(n);
    for (int64_t limit : {int64_t{0}, int64_t{2}, int64_t{3}, int64_t{9}, int64_t{26}, int64_t{27}, int64_t{127},
                          int64_t{128}, window_end - 3, window_end - 2, window_end - 1, window_end, window_end + 1,
                          2 * window_end - 1, 2 * window_end + 1, top}) {
        std::vector<uint32_t> powers, primes;
        for (int64_t n = 3; n <= limit; n += 2) {
            const uint32_t p = smallest_factor[n];
            int64_t rest = n;
            while (rest % p == 0)
                rest /= p;
            if (rest == 1) {
                powers.push_back(static_cast<uint32_t>(n));
                primes.push_back(p);
            }
        }
        const OddPrimePowers list = odd_prime_powers_up_to(limit);
        EXPECT_EQ(list.powers, powers) << "up to " << limit;
        EXPECT_EQ(list.primes, primes) << "up to " << limit;
    }
}

TEST(Splitting, LcmsMadeTogetherEqualLcmsMadeAlone)
{
    // Unsorted, repeated, and bounds that are prime powers themselves.
    const std::vector<int64_t> bounds = {1000, 7, 81, 1, 7, 9999, 2048};
    const OddPrimePowers list = odd_prime_powers_up_to(9999);
    const std::vector<BigInteger> together = odd_lcms_up_to(list, bounds);
    ASSERT_EQ(together.size(), bounds.size());
    for (size_t index = 0; index < bounds.size(); ++index) {
        BigInteger alone(1);
        for (int64_t odd = 3; odd <= bounds[index]; odd += 2)
            mpz_lcm_ui(alone, alone, static_cast<unsigned long>(odd));
        EXPECT_EQ(mpz_cmp(together[index], alone), 0) << "Lambda(" << bounds[index] << ")";
    }
}

TEST(Splitting, WorkBesideTheTopMergeRunsOnceWhateverTheSize)
{
    // 1 and 20 terms are one leaf, with no merge to run the work in.
    for (int64_t terms : {1, 20, 70000}) {
        const OddPrimePowers list = odd_prime_powers_up_to(2 * terms - 1);
        for (int32_t threads : {1, 2}) {
            ForkJoinPool pool(threads);
            const BigInteger expected = ArctanSplitting(18, terms, list, pool).sum_all();
            std::atomic<int> runs{0};
            ArctanSplitting series(18, terms, list, pool);
            const BigInteger found = series.sum_all({[&] { ++runs; }});
            EXPECT_EQ(mpz_cmp(found, expected), 0) << terms << " terms, " << threads << " threads";
            EXPECT_EQ(runs.load(), 1) << terms << " terms, " << threads << " threads";
        }
    }
}

TEST(Splitting, ThreadsGiveTheSameNumbers)
{
    const int64_t terms = 70000;  // forks at several levels
    const OddPrimePowers list = odd_prime_powers_up_to(2 * terms - 1);
    ForkJoinPool one(1);
    ArctanSplitting alone(57, terms, list, one);
    const BigInteger expected = alone.sum_all();
    for (int32_t threads : {2, 3, 8}) {
        ForkJoinPool pool(threads);
        ArctanSplitting series(57, terms, list, pool);
        EXPECT_EQ(mpz_cmp(series.sum_all(), expected), 0) << threads << " threads";
    }
}

TEST(Splitting, QuotientsAreWithinOneOfTheExactQuotient)
{
    std::mt19937_64 random(20261208);
    gmp_randstate_t state;
    gmp_randinit_default(state);
    gmp_randseed_ui(state, 7);
    for (int trial = 0; trial < 200; ++trial) {
        const int64_t numerator_bits = 1 + int64_t(random() % 3500);
        const int64_t divisor_bits = 1 + int64_t(random() % 3000);
        const int64_t two_exponent = int64_t(random() % 2000) - 1000;
        BigInteger numerator, divisor;
        mpz_urandomb(numerator, state, numerator_bits);
        mpz_urandomb(divisor, state, divisor_bits);
        mpz_setbit(numerator, numerator_bits);
        mpz_setbit(divisor, divisor_bits);

        // floor(N 2^E / D), exactly.
        BigInteger exact, scaled_divisor;
        mpz_set(exact, numerator);
        mpz_set(scaled_divisor, divisor);
        if (two_exponent >= 0)
            mpz_mul_2exp(exact, exact, two_exponent);
        else
            mpz_mul_2exp(scaled_divisor, scaled_divisor, -two_exponent);
        mpz_tdiv_q(exact, exact, scaled_divisor);
        if (exact.sign() == 0)
            continue;
        const int64_t quotient_bits = exact.bits() + int64_t(random() % 3);

        BigInteger divisor_copy, numerator_copy;
        mpz_set(divisor_copy, divisor);
        mpz_set(numerator_copy, numerator);
        const PreparedQuotient prepared = prepare_quotient(std::move(divisor_copy), two_exponent, quotient_bits);
        BigInteger found = finish_quotient(std::move(numerator_copy), prepared);
        mpz_sub(found, found, exact);
        EXPECT_LE(mpz_cmpabs_ui(found, 1), 0) << "prepared, trial " << trial;

        BigInteger divided = divide_quotient(std::move(numerator), std::move(divisor), two_exponent, quotient_bits);
        mpz_sub(divided, divided, exact);
        EXPECT_LE(mpz_cmpabs_ui(divided, 1), 0) << "divided, trial " << trial;
    }
    gmp_randclear(state);
}

TEST(Splitting, DivisionInHalvesIsTheExactFloor)
{
    gmp_randstate_t state;
    gmp_randinit_default(state);
    gmp_randseed_ui(state, 13);
    // Quotients of no bits, of one, odd and even counts, and long enough
    // for GMP's divide-and-conquer and Newton divisions; remainders of 0,
    // D - 1 and anything.
    for (const auto& [dividend_bits, divisor_bits] : {std::pair{0, 5}, {3, 7}, {7, 7}, {8, 7}, {64, 63}, {65, 1},
                                                     {1000, 999}, {3001, 1500}, {200000, 100000}, {400001, 200000}}) {
        for (int shape = 0; shape < 3; ++shape) {
            BigInteger divisor, dividend;
            mpz_urandomb(divisor, state, divisor_bits);
            mpz_setbit(divisor, divisor_bits - 1);
            mpz_urandomb(dividend, state, dividend_bits);
            if (shape > 0) {
                // A multiple of the divisor, or one short of the next.
                mpz_fdiv_q(dividend, dividend, divisor);
                mpz_mul(dividend, dividend, divisor);
                if (shape == 2) {
                    mpz_add(dividend, dividend, divisor);
                    mpz_sub_ui(dividend, dividend, 1);
                }
            }
            // Shifts below, at and beyond half the quotient's bits.
            for (int64_t shift : {int64_t{0}, int64_t{1}, int64_t{dividend_bits / 2}, int64_t{divisor_bits + 3}}) {
                BigInteger expected, found, dividend_copy;
                mpz_mul_2exp(expected, dividend, static_cast<mp_bitcnt_t>(shift));
                mpz_fdiv_q(expected, expected, divisor);
                mpz_set(dividend_copy, dividend);
                floor_quotient(found, std::move(dividend_copy), shift, divisor);
                EXPECT_EQ(mpz_cmp(found, expected), 0)
                    << dividend_bits << " by " << divisor_bits << " bits, shape " << shape << ", shift " << shift;
            }
        }
    }
    gmp_randclear(state);
}

TEST(Splitting, DecimalLimbsMatchGmpsConversion)
{
    gmp_randstate_t state;
    gmp_randinit_default(state);
    gmp_randseed_ui(state, 11);
    // Around the leaf size (2048 limbs), around powers of two of limbs, and
    // large enough for two threads to share the top split.
    for (int32_t limb_count : {1, 2, 3, 2047, 2048, 2049, 4097, 70001}) {
        for (int shape = 0; shape < 3; ++shape) {
            BigInteger value, bound;
            mpz_ui_pow_ui(bound, 10, static_cast<unsigned long>(LIMB_DIGITS) * limb_count);
            if (shape == 0)
                mpz_urandomm(value, state, bound);
            else if (shape == 1)
                mpz_sub_ui(value, bound, 1);  // every digit 9
            else
                mpz_tdiv_q_ui(value, bound, 10001);  // leading zero limbs
            const std::string digits = padded_digits(value, limb_count);
            for (int32_t threads : {1, 2}) {
                ForkJoinPool pool(threads);
                std::vector<int32_t> limbs(limb_count, -1);
                decimal_limbs(value, limb_count, limbs.data(), pool);
                EXPECT_EQ(limb_digits(limbs), digits) << limb_count << " limbs, shape " << shape << ", " << threads << " threads";
            }
        }
    }
    gmp_randclear(state);
}

TEST(Splitting, FractionLimbsAreTheExactFloor)
{
    gmp_randstate_t state;
    gmp_randinit_default(state);
    gmp_randseed_ui(state, 17);
    for (int32_t limb_count : {1, 2, 3, 2047, 2048, 2049, 4097, 70001}) {
        const int64_t bits = fraction_bits_for(limb_count);
        BigInteger limb_power;  // 10000^limb_count
        mpz_ui_pow_ui(limb_power, LIMB_BASE, static_cast<unsigned long>(limb_count));
        EXPECT_LE(limb_power.bits() + 64, bits) << limb_count << " limbs: 10000^c < 2^(B - 64)";
        std::vector<BigInteger> fractions;
        auto add = [&](auto&& make) {
            fractions.emplace_back();
            make(fractions.back());
        };
        add([&](BigInteger& f) { mpz_urandomb(f, state, static_cast<mp_bitcnt_t>(bits)); });
        add([&](BigInteger& f) { f.assign(0); });
        add([&](BigInteger& f) { mpz_setbit(f, static_cast<mp_bitcnt_t>(bits - 1)); });  // 1/2: zeros throughout
        add([&](BigInteger& f) {  // just below 1/2
            mpz_setbit(f, static_cast<mp_bitcnt_t>(bits - 1));
            mpz_sub_ui(f, f, 1);
        });
        add([&](BigInteger& f) {  // just below 1: nines throughout
            mpz_setbit(f, static_cast<mp_bitcnt_t>(bits));
            mpz_sub_ui(f, f, 1);
        });
        // Within 2^-B of a number of j limbs, for j the split points: the
        // fractional part there is too close to an integer to call.
        for (int32_t j = 1; j < limb_count; j *= 2) {
            for (int side = 0; side < 2; ++side) {
                add([&](BigInteger& f) {
                    BigInteger power;
                    mpz_ui_pow_ui(power, LIMB_BASE, static_cast<unsigned long>(j));
                    mpz_urandomm(f, state, power);
                    mpz_mul_2exp(f, f, static_cast<mp_bitcnt_t>(bits));
                    if (side == 0)
                        mpz_cdiv_q(f, f, power);
                    else {
                        mpz_fdiv_q(f, f, power);
                        if (f.sign() > 0)
                            mpz_sub_ui(f, f, 1);
                    }
                });
            }
        }
        const std::vector<BigInteger> powers = decimal_split_powers(limb_count);
        for (size_t shape = 0; shape < fractions.size(); ++shape) {
            BigInteger exact;
            mpz_mul(exact, fractions[shape], limb_power);
            mpz_fdiv_q_2exp(exact, exact, static_cast<mp_bitcnt_t>(bits));
            const std::string digits = padded_digits(exact, limb_count);
            for (int32_t threads : {1, 2}) {
                ForkJoinPool pool(threads);
                std::vector<int32_t> limbs(limb_count, -1);
                fraction_limbs(fractions[shape], limb_count, limbs.data(), LimbConversion{powers, pool});
                EXPECT_EQ(limb_digits(limbs), digits)
                    << limb_count << " limbs, shape " << shape << ", " << threads << " threads";
            }
        }
    }
    gmp_randclear(state);
}

TEST(Splitting, StaysWithinItsErrorBoundOfPi)
{
    // The reference gives pi truncated; the engine's limbs must lie within
    // the bound (plus the truncation's unit) of it, the borrow or carry
    // reaching as far up as it must.
    for (int32_t limb_count : {1, 2, 3, 10, 26, 251, 2500, 30001, 120000}) {
        std::vector<int32_t> total(limb_count);
        gauss_formula_splitting(limb_count, total.data());
        BigInteger difference;
        subtract_reference(total, difference);
        EXPECT_LE(mpz_cmpabs_ui(difference, static_cast<unsigned long>(splitting_error_bound() + 1)), 0)
            << limb_count << " limbs";
    }
}

TEST(Splitting, GaussTermsGivenAsAFormulaGiveGaussLimbs)
{
    for (int32_t limb_count : {1, 26, 5001, 40000}) {
        for (int32_t threads : {1, 2}) {
            SplittingOptions options;
            options.threads = threads;
            std::vector<int32_t> expected(limb_count), found(limb_count);
            gauss_formula_splitting(limb_count, expected.data(), options);
            machin_formula_splitting(TERM_TABLE, limb_count, found.data(), options);
            EXPECT_EQ(found, expected) << limb_count << " limbs, " << threads << " threads";
        }
    }
    EXPECT_EQ(splitting_error_bound(TERM_TABLE), splitting_error_bound());
    EXPECT_EQ(splitting_progress_total(TERM_TABLE, 40000), splitting_progress_total(40000));
}

TEST(Splitting, StormersFormulaStaysWithinItsErrorBoundOfPi)
{
    // Four series, one of x = 682 (even) and one of x = 12943, close to the
    // engine's 2^16. At 50,001 limbs (200,000 digits) the top merges'
    // operands, some 5,000 words each, are past the transforms' crossover on
    // the vector paths, and the conversion's powers too.
    for (int32_t limb_count : {1, 2, 3, 10, 26, 251, 2500, 30001, 50001}) {
        for (int32_t threads : {1, 2}) {
            if (threads == 2 && limb_count < 2500)
                continue;
            SplittingOptions options;
            options.threads = threads;
            std::vector<int32_t> total(limb_count);
            machin_formula_splitting(STORMER_TERM_TABLE, limb_count, total.data(), options);
            BigInteger difference;
            subtract_reference(total, difference);
            EXPECT_LE(mpz_cmpabs_ui(difference,
                                    static_cast<unsigned long>(splitting_error_bound(STORMER_TERM_TABLE) + 1)),
                      0)
                << limb_count << " limbs, " << threads << " threads";
        }
    }
}

TEST(Splitting, FormulasOutsideTheEngineBoundsAreRefusedBeforeAnyWork)
{
    // One series; x = 1 and x = 2^16; and tails too heavy for the bound
    // (4 * 100 / 3^3 = 14.8 limbs).
    const std::vector<std::vector<FormulaTerm>> formulas = {
        {{18, 12}}, {{1, 1}, {57, 8}}, {{18, 12}, {65536, 1}}, {{3, 100}, {57, 8}}};
    for (const std::vector<FormulaTerm>& formula : formulas) {
        std::vector<int32_t> total(1000);
        EXPECT_THROW(machin_formula_splitting(formula, 1000, total.data()), ExactnessViolation)
            << formula.size() << " terms, x_0 = " << formula[0].x;
    }
    const FormulaTerm heavy_tails[] = {{3, 100}, {57, 8}};
    EXPECT_THROW(splitting_error_bound(heavy_tails), ExactnessViolation);
    // 2^16 - 1 is the largest x the engine takes.
    const FormulaTerm largest_x[] = {{18, 12}, {65535, 1}};
    EXPECT_EQ(splitting_error_bound(largest_x), splitting_error_bound());
}

TEST(Splitting, PrintsTheSameLimbsAsTheSeriesEngine)
{
    // Both sides of the crossover, the line ends of the result file, and
    // seeded random sizes up to 300,000 digits, at 1, 2 and 3 threads.
    const int32_t crossover = splitting_crossover_limbs(best_vector_isa());
    std::vector<int32_t> limb_counts = {1, 2, 25, 26, 1000, crossover - 1, crossover, crossover + 1};
    std::mt19937 random(8);
    for (int i = 0; i < 6; ++i)
        limb_counts.push_back(1 + int32_t(random() % 75000));
    for (size_t i = 0; i < limb_counts.size(); ++i) {
        const int32_t limb_count = limb_counts[i];
        const int32_t cpus = 1 + int32_t(i % 3);
        EXPECT_EQ(pi_limbs(limb_count, Engine::splitting, cpus), pi_limbs(limb_count, Engine::series, cpus))
            << limb_count << " limbs, " << cpus << " CPUs";
    }
}

TEST(Splitting, ProgressReachesItsTotalExactly)
{
    // Gauss's formula by the program's entry, and Størmer's by the general one.
    for (int32_t limb_count : {1, 5000, 40000}) {
        for (const bool stormer : {false, true}) {
            std::atomic<int64_t> progress{0};
            std::vector<int32_t> total(limb_count);
            SplittingOptions options;
            options.threads = 2;
            options.progress = &progress;
            if (stormer)
                machin_formula_splitting(STORMER_TERM_TABLE, limb_count, total.data(), options);
            else
                gauss_formula_splitting(limb_count, total.data(), options);
            EXPECT_EQ(progress.load(), stormer ? splitting_progress_total(STORMER_TERM_TABLE, limb_count)
                                               : splitting_progress_total(limb_count))
                << limb_count << " limbs, " << (stormer ? "Størmer" : "Gauss");
        }
    }
}

TEST(Splitting, EngineChoiceFollowsTheCrossover)
{
    for (VectorIsa isa : {VectorIsa::portable, VectorIsa::avx2, VectorIsa::avx512}) {
        const int32_t crossover = splitting_crossover_limbs(isa);
        EXPECT_EQ(choose_engine(crossover - 1, isa), Engine::series);
        EXPECT_EQ(choose_engine(crossover, isa), Engine::splitting);
    }
    EXPECT_EQ(choose_engine(1 << 30), Engine::splitting);
}

TEST(Splitting, ProductsThroughTheTransformEqualGmpsProducts)
{
    // Around the crossover, unbalanced, negative, in place, squared, and on
    // a pool of threads: the engine's multiply against mpz_mul.
    gmp_randstate_t random;
    gmp_randinit_mt(random);
    gmp_randseed_ui(random, 9);
    ForkJoinPool pool(2);
    BigInteger a, b, expected, found;
    const std::pair<size_t, size_t> sizes[] = {{999, 999}, {1000, 1000}, {1001, 3000}, {2000, 2000},
                                               {5000, 1200}, {70000, 70000}, {150000, 2100}};
    for (const auto& [a_limbs, b_limbs] : sizes) {
        mpz_urandomb(a, random, static_cast<mp_bitcnt_t>(64 * a_limbs));
        mpz_urandomb(b, random, static_cast<mp_bitcnt_t>(64 * b_limbs));
        mpz_neg(b, b);
        mpz_mul(expected, a, b);
        multiply(found, a, b, &pool);
        EXPECT_EQ(mpz_cmp(found, expected), 0) << a_limbs << " by " << b_limbs << " limbs";
        mpz_set(found, a);
        multiply(found, found, b);
        EXPECT_EQ(mpz_cmp(found, expected), 0) << a_limbs << " by " << b_limbs << " limbs, in place";
        mpz_mul(expected, a, a);
        multiply(found, a, a);
        EXPECT_EQ(mpz_cmp(found, expected), 0) << a_limbs << " limbs squared";
    }
    gmp_randclear(random);
}

TEST(Splitting, ProductsByATransformedFactorEqualGmpsProducts)
{
    // One factor for many products, from two threads at once: operands
    // below the crossover, ones whose length the kept transforms serve,
    // longer ones that make them anew, in place, and after a release.
    gmp_randstate_t random;
    gmp_randinit_mt(random);
    gmp_randseed_ui(random, 12);
    BigInteger factor;
    mpz_urandomb(factor, random, 64 * 600);
    const size_t sizes[] = {10, 2400, 2300, 2450, 9000, 8500, 2400, 40000, 2400};
    std::vector<BigInteger> operands(std::size(sizes)), expected(std::size(sizes));
    for (size_t i = 0; i < std::size(sizes); ++i) {
        mpz_urandomb(operands[i], random, static_cast<mp_bitcnt_t>(64 * sizes[i]));
        mpz_mul(expected[i], operands[i], factor);
    }
    gmp_randclear(random);
    ForkJoinPool pool(2);
    TransformedFactor transformed;
    for (int round = 0; round < 2; ++round) {
        const auto products = [&](size_t first) {
            for (size_t i = first; i < std::size(sizes); i += 2) {
                BigInteger found;
                mpz_set(found, operands[i]);
                transformed.multiply(found, found, factor);
                EXPECT_EQ(mpz_cmp(found, expected[i]), 0) << sizes[i] << " limbs, round " << round;
            }
        };
        pool.fork_join([&] { products(0); }, [&] { products(1); });
        transformed.release();
    }
}

TEST(Splitting, ExactQuotientsEqualGmpsAndAWrongDivisorIsCaught)
{
    // Divisors around the transforms' crossover, quotients around the size
    // from which the blocks start and across a block's end, all one bits,
    // in place, on a pool of threads; then a divisor that does not divide.
    gmp_randstate_t random;
    gmp_randinit_mt(random);
    gmp_randseed_ui(random, 12);
    ForkJoinPool pool(2);
    const int64_t crossover = std::min<int64_t>(static_cast<int64_t>(transform_product_limbs()), 2000);
    const std::pair<int64_t, int64_t> sizes[] = {
        {5, 3},
        {3 * crossover, crossover - 1},
        {3 * crossover + 1, crossover},
        {2 * crossover - 1, crossover},
        {2 * crossover + 1, crossover},
        {7 * crossover + 3, crossover + 1},
        {5 * crossover + 2, 3 * crossover},
        {40 * crossover, 2 * crossover + 5},
    };
    BigInteger quotient, divisor, dividend, found, expected;
    for (const auto& [quotient_limbs, divisor_limbs] : sizes) {
        for (int shape = 0; shape < 2; ++shape) {
            if (shape == 0) {
                mpz_urandomb(quotient, random, static_cast<mp_bitcnt_t>(64 * quotient_limbs));
                mpz_urandomb(divisor, random, static_cast<mp_bitcnt_t>(64 * divisor_limbs));
            } else {
                shift_left(quotient, BigInteger(1), 64 * quotient_limbs);
                mpz_sub_ui(quotient, quotient, 1);
                shift_left(divisor, BigInteger(1), 64 * divisor_limbs);
                mpz_sub_ui(divisor, divisor, 1);
            }
            mpz_setbit(divisor, 0);
            mpz_mul(dividend, quotient, divisor);
            divide_exact(found, dividend, divisor, &pool);
            EXPECT_EQ(mpz_cmp(found, quotient), 0) << quotient_limbs << " by " << divisor_limbs << " limbs";
            mpz_set(found, dividend);
            divide_exact(found, found, divisor);
            EXPECT_EQ(mpz_cmp(found, quotient), 0) << quotient_limbs << " by " << divisor_limbs << " limbs, in place";
        }
    }
    mpz_add_ui(dividend, dividend, 2);
    EXPECT_THROW(divide_exact(found, dividend, divisor, &pool), ExactnessViolation);
    gmp_randclear(random);
}

TEST(Splitting, PowersEqualGmpsPowers)
{
    ForkJoinPool pool(2);
    BigInteger found, expected;
    for (const uint64_t base : {uint64_t{1}, uint64_t{3}, uint64_t{81}, uint64_t{3249}, uint64_t{4294967291}})
        for (const uint64_t exponent : {0, 1, 2, 3, 63, 64, 1000, 77777, 400001}) {
            mpz_ui_pow_ui(expected, static_cast<unsigned long>(base), static_cast<unsigned long>(exponent));
            power_of(found, base, exponent, &pool);
            EXPECT_EQ(mpz_cmp(found, expected), 0) << base << "^" << exponent;
        }
}

TEST(Splitting, ShiftsInStepsEqualGmpsShiftsInOne)
{
    // Counts of bits that GMP would take in one call, taken in steps of a few
    // bits to hundreds, as counts past 32 bits are on 64-bit Windows: the
    // step's multiples and their neighbours, on both signs, and on values
    // shorter and longer than the count.
    gmp_randstate_t random;
    gmp_randinit_mt(random);
    gmp_randseed_ui(random, 5);
    BigInteger value, expected, found;
    for (const int64_t step : {1, 7, 64, 300}) {
        for (const int64_t bits : {int64_t{0}, step - 1, step, step + 1, 3 * step, 3 * step + 5, 1000 + step}) {
            if (bits < 0)
                continue;
            for (const int64_t value_bits : {int64_t{1}, bits / 2 + 1, bits + 1, 2 * bits + 70}) {
                for (const int sign : {1, -1}) {
                    mpz_urandomb(value, random, static_cast<mp_bitcnt_t>(value_bits));
                    if (sign < 0)
                        mpz_neg(value, value);
                    const std::string what = std::to_string(bits) + " bits in steps of " + std::to_string(step) +
                                             ", value of " + std::to_string(value_bits) + " bits, sign " +
                                             std::to_string(sign);
                    mpz_mul_2exp(expected, value, static_cast<mp_bitcnt_t>(bits));
                    shift_left_in_steps(found, value, bits, step);
                    EXPECT_EQ(mpz_cmp(found, expected), 0) << "left, " << what;
                    mpz_tdiv_q_2exp(expected, value, static_cast<mp_bitcnt_t>(bits));
                    shift_right_in_steps(found, value, bits, step);
                    EXPECT_EQ(mpz_cmp(found, expected), 0) << "right, " << what;
                    mpz_tdiv_r_2exp(expected, value, static_cast<mp_bitcnt_t>(bits));
                    low_bits_in_steps(found, value, bits, step);
                    EXPECT_EQ(mpz_cmp(found, expected), 0) << "low bits, " << what;
                    // In place, as the engine uses them.
                    mpz_set(found, value);
                    shift_left_in_steps(found, found, bits, step);
                    shift_right_in_steps(found, found, bits, step);
                    EXPECT_EQ(mpz_cmp(found, value), 0) << "there and back, " << what;
                }
            }
        }
    }
    gmp_randclear(random);
}

TEST(Splitting, BigIntegersKeepTheirValueThroughEveryKindOfReallocation)
{
    install_big_integer_memory();
    gmp_randstate_t random;
    gmp_randinit_mt(random);
    gmp_randseed_ui(random, 8);
    mpz_t value, copy;
    mpz_init(value);
    mpz_init(copy);
    // (allocation, value) in bytes: from the heap to a mapping, a mapping
    // grown and shrunk in place or moved, back to the heap, and sizes that
    // end partway into a page.
    // Each value fits the next allocation, so no step may lose a bit.
    const std::pair<size_t, size_t> steps[] = {
        {100000, 90000},
        {3 * LARGE_BLOCK_BYTES, 2900000},
        {9 * LARGE_BLOCK_BYTES + 4100, 4000000},
        {5 * LARGE_BLOCK_BYTES, 1000000},
        {LARGE_BLOCK_BYTES - 8, 1000000},
        {LARGE_BLOCK_BYTES, 150000},
        {200000, 150000},
    };
    for (const auto& [allocation_bytes, value_bytes] : steps) {
        mpz_realloc2(value, allocation_bytes * 8);
        EXPECT_EQ(mpz_cmp(value, copy), 0) << "after reallocating to " << allocation_bytes << " bytes";
        mpz_urandomb(value, random, value_bytes * 8);
        mpz_set(copy, value);
    }
    mpz_clears(value, copy, nullptr);
    gmp_randclear(random);

}

#ifndef _WIN32
namespace {

// 0 when a product of two 300,000-limb numbers, made under an address-space
// limit of 22 MB more than the process holds, is right: room for GMP's
// product (16 to 20 MB here) but not for the transforms' (24 to 28 MB).
int product_under_a_limit()
{
    install_big_integer_memory();
    gmp_randstate_t random;
    gmp_randinit_mt(random);
    BigInteger a, b, expected, found;
    mpz_urandomb(a, random, 64 * 300000);
    mpz_urandomb(b, random, 64 * 300000);
    mpz_mul(expected, a, b);
    mpz_realloc2(found, 64 * 600000 + 64);
    rlimit limit{};
    getrlimit(RLIMIT_AS, &limit);
    limit.rlim_cur = address_space_in_use() + (rlim_t{22} << 20);
    setrlimit(RLIMIT_AS, &limit);
    multiply(found, a, b);
    return mpz_cmp(found, expected) == 0 ? 0 : 2;
}

}  // namespace
#endif

TEST(Splitting, AProductWhoseTransformsCannotHaveTheirScratchIsMadeByGmp)
{
#if defined(PI_SANITIZE)
    GTEST_SKIP() << "AddressSanitizer reserves its shadow memory beyond any address-space limit";
#elif defined(_WIN32)
    GTEST_SKIP() << "an address-space limit is a POSIX resource limit";
#else
    EXPECT_EXIT(std::exit(product_under_a_limit()), ::testing::ExitedWithCode(0), "");
#endif
}

TEST(Splitting, RefusedMemoryEndsTheRunWithTheMessageAndStatusOne)
{
#if defined(PI_SANITIZE)
    GTEST_SKIP() << "AddressSanitizer reserves its shadow memory beyond any address-space limit";
#elif defined(_WIN32)
    GTEST_SKIP() << "an address-space limit is a POSIX resource limit";
#else
    // An address-space limit a little above what the process holds: the
    // run's first big integers are refused inside GMP, which must neither
    // abort nor return.
    EXPECT_EXIT(
        {
            rlimit limit{};
            getrlimit(RLIMIT_AS, &limit);
            limit.rlim_cur = address_space_in_use() + (rlim_t{48} << 20);
            setrlimit(RLIMIT_AS, &limit);
            set_refused_memory_exit(exit_for_refused_memory_now);
            install_big_integer_memory();
            const int32_t limb_count = 5000000;  // 20 million digits
            std::vector<int32_t> total(limb_count);
            gauss_formula_splitting(limb_count, total.data());
            std::exit(0);
        },
        ::testing::ExitedWithCode(1), "cannot allocate [0-9]+ bytes \\([0-9]+ MiB\\) for the big integers");
#endif
}
