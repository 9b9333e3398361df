// The three series and the divisor side of their quotients side by side,
// the quotients weighed into one integer, and that integer written out as
// limbs.
#include "splitting.hpp"

#include "arctan_splitting.hpp"
#include "big_integer_memory.hpp"
#include "decimal_limbs.hpp"
#include "engine_choice.hpp"
#include "exactness.hpp"
#include "gauss_formula.hpp"
#include "limb.hpp"
#include "truncated_quotient.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <vector>

namespace {

constexpr size_t SERIES_COUNT = std::size(TERM_TABLE);

// Measured on two cores with splitting_bench: 5,001 limbs 0.0046 s alone and
// 0.0041 s on two threads; 2,501 limbs 0.0019 s alone, 0.0020 s on two.
constexpr int32_t THREADED_LIMB_COUNT = 5000;

// Each series' quotient is within 1 + 2^-61 of 10^E S, and S is within
// 1 / x^3 units of arctan(1/x); so each is less than 2 units from
// 10^E arctan(1/x), and pi = 4 sum c_i arctan(1/x_i) is within
// 4 * sum |c_i| * 2 units.
constexpr int64_t QUOTIENT_ERROR_UNITS = 2;

int64_t decimal_exponent(int32_t limb_count) { return int64_t{LIMB_DIGITS} * (limb_count - 1); }

int64_t series_terms(size_t index, int32_t limb_count)
{
    return arctan_splitting_terms(TERM_TABLE[index].x, decimal_exponent(limb_count));
}

// Preparing a quotient is a division, finishing it a multiplication, of
// numbers as long as those of a series' top merge; the conversion to limbs
// costs about as much as the three series' top merges.
int64_t prepare_cost(size_t index, int32_t limb_count)
{
    return 3 * splitting_merge_cost(TERM_TABLE[index].x, series_terms(index, limb_count));
}
int64_t finish_cost(size_t index, int32_t limb_count)
{
    return splitting_merge_cost(TERM_TABLE[index].x, series_terms(index, limb_count));
}
int64_t conversion_cost(int32_t limb_count)
{
    int64_t cost = 0;
    for (size_t index = 0; index < SERIES_COUNT; ++index)
        cost += 2 * finish_cost(index, limb_count);
    return cost;
}

void advance(std::atomic<int64_t>* progress, int64_t work)
{
    if (progress != nullptr)
        progress->fetch_add(work, std::memory_order_relaxed);
}

}  // namespace

bool splitting_engine_built() { return true; }

int32_t splitting_threads(int32_t limb_count, int32_t cpus)
{
    return limb_count < THREADED_LIMB_COUNT ? 1 : std::max(1, cpus);
}

int64_t splitting_error_bound()
{
    int64_t weight = 0;
    for (const FormulaTerm& term : TERM_TABLE)
        weight += std::abs(term.coefficient);
    return 4 * weight * QUOTIENT_ERROR_UNITS;
}

int64_t splitting_bytes_needed(int32_t limb_count)
{
    // Measured with /usr/bin/time -v at 10 and 100 million digits: a peak of
    // 6.1 and 5.6 bytes a digit beyond total (7.1 and 6.6 in all), the most
    // of it GMP's scratch for the products of the top merges and finishes.
    return 7 * decimal_exponent(limb_count) + (int64_t{32} << 20);
}

int64_t splitting_progress_total(int32_t limb_count)
{
    int64_t total = conversion_cost(limb_count);
    for (size_t index = 0; index < SERIES_COUNT; ++index)
        total += arctan_splitting_progress_total(TERM_TABLE[index].x, series_terms(index, limb_count)) +
                 prepare_cost(index, limb_count) + finish_cost(index, limb_count);
    return total;
}

void gauss_formula_splitting(int32_t limb_count, int32_t* total, const SplittingOptions& options)
{
    install_big_integer_memory();
    const int64_t exponent = decimal_exponent(limb_count);
    // S < 1 / x <= 1/2, so 10^E S < 2^(E log2 10 - 1); two bits spare cover
    // the rounding of the logarithm.
    const int64_t quotient_bits = static_cast<int64_t>(std::ceil(double(exponent) * std::log2(10.0))) + 2;
    int64_t most_terms = 0;
    for (size_t index = 0; index < SERIES_COUNT; ++index)
        most_terms = std::max(most_terms, series_terms(index, limb_count));
    const OddPrimePowers list = odd_prime_powers_up_to(2 * most_terms - 1);
    TaskSlots slots(options.threads);
    std::atomic<int64_t>* const progress = options.progress;

    // The divisors are known before the sums: each series' sum is
    // T / (Lambda(2K-1) x^(2K-1)), and 10^E = 5^E 2^E. So, while one thread
    // sums a series, the other finishes the series before it, weighing it
    // into pi, and prepares this one's divisor. Each divisor is prepared
    // only when its series is next, and each quotient finished as soon as
    // its series is summed, so that at most two of the big factors are held
    // at once and never two finishes, whose scratch is the largest of the run.
    BigInteger five_power;
    mpz_ui_pow_ui(five_power, 5, static_cast<unsigned long>(exponent));
    PreparedQuotient prepared[SERIES_COUNT];
    auto prepare = [&](size_t index) {
        SeriesDenominator denominator =
            arctan_splitting_denominator(TERM_TABLE[index].x, series_terms(index, limb_count), list);
        prepared[index] = prepare_quotient(std::move(denominator.odd_part), five_power,
                                           exponent - denominator.two_exponent, quotient_bits);
        if (index + 1 == SERIES_COUNT)
            five_power.release();
        advance(progress, prepare_cost(index, limb_count));
    };
    BigInteger numerators[SERIES_COUNT];
    auto sum = [&](size_t index) {
        ArctanSplitting series(TERM_TABLE[index].x, series_terms(index, limb_count), list, slots, progress);
        numerators[index] = series.sum_all();
    };
    BigInteger pi;
    auto finish = [&](size_t index) {
        const BigInteger quotient = finish_quotient(std::move(numerators[index]), prepared[index]);
        prepared[index].factor.release();
        const int32_t coefficient = 4 * TERM_TABLE[index].coefficient;
        add_multiple_small(pi, quotient, uint64_t(std::abs(coefficient)), coefficient > 0 ? 1 : -1);
        advance(progress, finish_cost(index, limb_count));
    };
    // The powers the conversion to limbs divides by are made beside the
    // last finish.
    std::vector<BigInteger> decimal_powers;
    slots.fork_join([&] { prepare(0); }, [&] { sum(0); });
    for (size_t index = 0; index + 1 < SERIES_COUNT; ++index)
        slots.fork_join([&] { finish(index); prepare(index + 1); }, [&] { sum(index + 1); });
    slots.fork_join([&] { finish(SERIES_COUNT - 1); }, [&] { decimal_powers = decimal_split_powers(limb_count); });
    // pi 10^E lies in [0, 10^(E+4)); where the error bound reaches past
    // either end (one or two limbs), the nearer end is closer to pi.
    BigInteger limit;
    mpz_ui_pow_ui(limit, 10, static_cast<unsigned long>(exponent + LIMB_DIGITS));
    if (pi.sign() < 0)
        pi.assign(0);
    if (mpz_cmp(pi, limit) >= 0)
        mpz_sub_ui(pi, limit, 1);
    limit.release();
    decimal_limbs(pi, limb_count, total, decimal_powers, slots);
    advance(progress, conversion_cost(limb_count));
}
