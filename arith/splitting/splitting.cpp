// The three series and the divisor side of their quotients side by side,
// the quotients weighed into one binary fraction, and that fraction written
// out as limbs.
#include "splitting.hpp"

#include "arctan_splitting.hpp"
#include "big_integer_memory.hpp"
#include "decimal_limbs.hpp"
#include "engine_choice.hpp"
#include "exactness.hpp"
#include "fraction_limbs.hpp"
#include "gauss_formula.hpp"
#include "limb.hpp"
#include "truncated_quotient.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <iterator>
#include <optional>
#include <vector>

namespace {

constexpr size_t SERIES_COUNT = std::size(TERM_TABLE);

// Below this many limbs the heap keeps all it frees. There the heap holds
// most of the numbers, and a top given back is faulted straight in again:
// at a million digits keeping it took 6,700 page faults down to 3,000 and
// 8% off the time, for 2 MB more at the peak, most of which is fixed costs
// at that size. Larger runs give back all but 2 MiB: kept whole, the heap
// added 6 MB to the peak at three and five million digits and at ten
// million (81 against 75 MB), where the peak is held to 8 bytes a digit
// (/usr/bin/time -v, alternating runs).
constexpr int32_t WHOLE_HEAP_LIMB_COUNT = 500'000;

// Measured on two cores with splitting_bench: 5,001 limbs 0.0046 s alone and
// 0.0041 s on two threads; 2,501 limbs 0.0019 s alone, 0.0020 s on two.
constexpr int32_t THREADED_LIMB_COUNT = 5000;

// With N limbs, E = 4 (N - 1) and B = fraction_bits_for(N), each series' sum
// S_i is within 10^-E / x_i^3 of arctan(1/x_i) (the tail it leaves off), and
// its quotient Q_i within 1 + 2^-61 < 2 of 2^B S_i. So W = sum 4 c_i Q_i is
// within 200 + 2^B 10^-E tau of 2^B pi, tau = 4 sum |c_i| / x_i^3 being the
// tails' weight, and F = floor(W / 10000) within 1 + 200 / 10000 +
// 2^B 10^-(E+4) tau of 2^B pi / 10000. The limbs are floor(F 10000^N / 2^B),
// exactly, and 10000^N = 10^(E+4) < 2^(B-64): F 10000^N / 2^B is within
// 1.02 * 2^-64 + tau < 1/100 of pi 10^E, and the limbs less than 1 + 1/100
// units from it.
constexpr int64_t ERROR_BOUND_UNITS = 2;
constexpr double TAIL_WEIGHT_LIMIT = 0.0099;

double tail_weight()
{
    double weight = 0;
    for (const FormulaTerm& term : TERM_TABLE)
        weight += 4.0 * std::abs(term.coefficient) / std::pow(double(term.x), 3);
    return weight;
}

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
    require_bound(tail_weight() < TAIL_WEIGHT_LIMIT, "splitting tails below 1/100 of a limb");
    return ERROR_BOUND_UNITS;
}

int64_t splitting_bytes_needed(int32_t limb_count)
{
    // Measured with /usr/bin/time -v at 10 and 100 million digits: peaks of
    // at most 7.3 and 4.5 bytes a digit beyond total (8.3 and 5.5 in all),
    // the most of it GMP's scratch for the first divisions and the products
    // of the top merges.
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
    keep_whole_heap(limb_count < WHOLE_HEAP_LIMB_COUNT);
    // Each quotient is a binary fraction of fraction_bits bits: S < 1 / x <= 1/2,
    // so 2^B S + 2 < 2^B.
    const int64_t fraction_bits = fraction_bits_for(limb_count);
    int64_t most_terms = 0;
    for (size_t index = 0; index < SERIES_COUNT; ++index)
        most_terms = std::max(most_terms, series_terms(index, limb_count));
    const OddPrimePowers list = odd_prime_powers_up_to(2 * most_terms - 1);
    TaskSlots slots(options.threads);
    std::atomic<int64_t>* const progress = options.progress;

    // Each series' sum is T / (Lambda(2K-1) x^(2K-1)). While one thread sums
    // a series, the other divides out the series before it, in one division
    // of the quotient's precision, and weighs it into pi. The last series'
    // divisor is known before its sum: its reciprocal is prepared beside
    // the sum, so that only one multiplication is left once the sum is done.
    // Each division or preparation is made only when its series is next, so
    // that at most one of their scratch spaces, the largest of the run, is
    // held at once.
    static_assert(SERIES_COUNT >= 2, "a series divided beside the last one's sum");
    constexpr size_t LAST = SERIES_COUNT - 1;
    std::vector<BigInteger> lcms;  // Lambda(2K - 1) of each series
    auto make_lcms = [&] {
        std::vector<int64_t> bounds;
        for (size_t series = 0; series < SERIES_COUNT; ++series)
            bounds.push_back(2 * series_terms(series, limb_count) - 1);
        lcms = odd_lcms_up_to(list, bounds);
    };
    // x's part of each divisor, which needs no lcm.
    std::optional<SeriesDenominator> x_powers[SERIES_COUNT];
    auto make_x_power = [&](size_t index) {
        x_powers[index] = arctan_splitting_x_power(TERM_TABLE[index].x, series_terms(index, limb_count));
    };
    auto take_divisor = [&](size_t index) {
        if (lcms.empty())
            make_lcms();
        if (!x_powers[index])
            make_x_power(index);
        SeriesDenominator divisor = arctan_splitting_denominator(std::move(*x_powers[index]), lcms[index]);
        x_powers[index].reset();
        lcms[index].release();
        return divisor;
    };
    // The work each series' top merge leaves room for, made before it is
    // needed: beside the stripping, the next divisor's power of x.
    auto beside_top_merge = [&](size_t index) -> BesideTopMerge {
        if (index == LAST)
            return {};
        return {[&make_x_power, index] { make_x_power(index); }};
    };
    BigInteger numerators[SERIES_COUNT];
    auto sum = [&](size_t index) {
        ArctanSplitting series(TERM_TABLE[index].x, series_terms(index, limb_count), list, slots, progress);
        numerators[index] = series.sum_all(beside_top_merge(index));
    };
    BigInteger pi;
    auto weigh = [&](size_t index, const BigInteger& quotient) {
        const int32_t coefficient = 4 * TERM_TABLE[index].coefficient;
        add_multiple_small(pi, quotient, uint64_t(std::abs(coefficient)), coefficient > 0 ? 1 : -1);
    };
    auto divide = [&](size_t index) {
        SeriesDenominator divisor = take_divisor(index);
        weigh(index, divide_quotient(std::move(numerators[index]), std::move(divisor.odd_part),
                                     fraction_bits - divisor.two_exponent, fraction_bits));
        advance(progress, prepare_cost(index, limb_count) + finish_cost(index, limb_count));
    };
    PreparedQuotient prepared;
    auto prepare_last = [&] {
        SeriesDenominator divisor = take_divisor(LAST);
        prepared = prepare_quotient(std::move(divisor.odd_part), fraction_bits - divisor.two_exponent, fraction_bits);
        advance(progress, prepare_cost(LAST, limb_count));
    };
    auto finish_last = [&] {
        weigh(LAST, finish_quotient(std::move(numerators[LAST]), prepared));
        prepared.factor.release();
        advance(progress, finish_cost(LAST, limb_count));
    };
    // The powers the conversion to limbs multiplies by are made beside the
    // last finish.
    std::vector<BigInteger> decimal_powers;
    sum(0);
    for (size_t index = 1; index < LAST; ++index)
        slots.fork_join([&] { divide(index - 1); }, [&] { sum(index); });
    slots.fork_join([&] { divide(LAST - 1); prepare_last(); }, [&] { sum(LAST); });
    slots.fork_join([&] { finish_last(); }, [&] { decimal_powers = decimal_split_powers(limb_count); });
    mpz_tdiv_q_ui(pi, pi, LIMB_BASE);
    fraction_limbs(pi, limb_count, total, decimal_powers, slots);
    advance(progress, conversion_cost(limb_count));
}
