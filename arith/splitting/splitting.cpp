// Machin-type formulas by binary splitting, Gauss's for the program: the
// series and the divisor side of their quotients side by side on two
// threads, the quotients weighed into one binary fraction, and that fraction
// written out as limbs; with the run's error bound, the memory it needs and
// its progress model.
#include "splitting.hpp"

#include "arctan_splitting.hpp"
#include "decimal_limbs.hpp"
#include "exactness.hpp"
#include "fraction_limbs.hpp"
#include "gauss_formula.hpp"
#include "limb.hpp"
#include "truncated_quotient.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <vector>

namespace {

// Below this many limbs a second thread costs more than it saves (two
// cores, splitting_bench: 5,001 limbs 0.0046 s alone and 0.0041 s on two
// threads; 2,501 limbs 0.0019 s alone, 0.0020 s on two).
constexpr int32_t SPLITTING_THREADS_FROM_LIMBS = 5000;

// The error of a run of pi = 4 sum c_i arctan(1/x_i), with C = sum |c_i|.
// With N limbs, E = 4 (N - 1) and B = fraction_bits_for(N), each series' sum
// S_i is within 10^-E / x_i^3 of arctan(1/x_i) (the tail it leaves off, see
// arctan_splitting_terms), and its quotient Q_i within 9/8 + 2^-61 < 2 of
// 2^B S_i (truncated_quotient.hpp). So W = sum 4 c_i Q_i is within
// 2 * 4 C + 2^B 10^-E tau of 2^B pi, tau = 4 sum |c_i| / x_i^3 being the
// tails' weight (and W > 0, its error far below 2^B pi), and
// F = floor(W / 10000) within 1 + 8 C / 10000 + 2^B 10^-(E+4) tau of
// 2^B pi / 10000. The limbs are floor(F 10000^N / 2^B), exactly, and
// 10000^N = 10^(E+4) < 2^(B-64): F 10000^N / 2^B is within
// delta = (1 + 8 C / 10000) 2^-64 + tau of pi 10^E, and the limbs less than
// 1 + delta units from it. A formula whose delta stays below 1/100 has the
// bound of 2 units with room to spare, far beyond the rounding of the
// doubles that check it. Gauss's formula has C = 25 (8 C = 200) and
// tau = 0.0084, Størmer's C = 87 and tau = 0.00095.
constexpr int64_t ERROR_BOUND_UNITS = 2;
constexpr double FRACTION_ERROR_LIMIT = 0.01;

// delta for the formula: the quotients' part, which 2^-64 scales, and the
// tails'.
double fraction_error(std::span<const FormulaTerm> formula)
{
    double coefficient_sum = 0, tail_weight = 0;
    for (const FormulaTerm& term : formula) {
        coefficient_sum += std::abs(double(term.coefficient));
        tail_weight += 4.0 * std::abs(double(term.coefficient)) / std::pow(double(term.x), 3);
    }
    return (1 + 8 * coefficient_sum / LIMB_BASE) * std::ldexp(1.0, -64) + tail_weight;
}

int64_t series_terms(const FormulaTerm& term, int32_t limb_count)
{
    return arctan_splitting_terms(term.x, fraction_digits(limb_count));
}

// Preparing a quotient is a division, finishing it a multiplication, of
// numbers as long as those of a series' top merge; the conversion to limbs
// costs about one and a half times the series' top merges together. With
// splitting_merge_cost, the model gives the steps of a run of 10^8 digits
// (the three sums with the divisions beside them, the last quotient's
// finish and the conversion) 35.5, 30.8, 27.7, 1.0 and 5.0% of its total;
// they take 38.5, 32.2, 23.6, 0.9 and 4.5% of the time, and the status
// line's time elapsed plus left stays within 0.91 to 1.15 times a run's
// total from its first minute on (10^9 and 2^31 - 1 digits).
int64_t top_merge_cost(const FormulaTerm& term, int32_t limb_count)
{
    const int64_t terms = series_terms(term, limb_count);
    return splitting_merge_cost(term.x, terms, terms);
}
int64_t prepare_cost(const FormulaTerm& term, int32_t limb_count)
{
    return 2 * top_merge_cost(term, limb_count);
}
int64_t finish_cost(const FormulaTerm& term, int32_t limb_count)
{
    return top_merge_cost(term, limb_count);
}
int64_t conversion_cost(std::span<const FormulaTerm> formula, int32_t limb_count)
{
    int64_t cost = 0;
    for (const FormulaTerm& term : formula)
        cost += top_merge_cost(term, limb_count);
    return cost + cost / 2;
}

void advance(std::atomic<int64_t>* progress, int64_t work)
{
    if (progress != nullptr)
        progress->fetch_add(work, std::memory_order_relaxed);
}

// The bounds a run of the formula over limb_count limbs rests on, checked
// before any work: two series at least (one is divided beside the next one's
// sum), each within ArctanSplitting's sizes (x < 2^16 keeps x^2 below 2^32,
// fewer than 2^30 terms every 2k + 1 below 2^31), and the error within the
// bound.
void require_formula_bounds(std::span<const FormulaTerm> formula, int32_t limb_count)
{
    require_bound(formula.size() >= 2, "splitting formula of two series at least");
    for (const FormulaTerm& term : formula) {
        require_bound(term.x >= 2 && term.x < (1 << 16), "splitting formula's x within 2 .. 2^16 - 1");
        const int64_t terms = series_terms(term, limb_count);
        require_bound(terms >= 1 && terms < (int64_t{1} << 30), "splitting series size");
    }
    require_bound(fraction_error(formula) < FRACTION_ERROR_LIMIT, "splitting error below 1/100 of a limb");
}

}  // namespace

bool splitting_engine_built() { return true; }

int32_t splitting_threads(int32_t limb_count, int32_t cpus)
{
    return limb_count < SPLITTING_THREADS_FROM_LIMBS ? 1 : std::max(1, cpus);
}

int64_t splitting_error_bound() { return splitting_error_bound(TERM_TABLE); }

int64_t splitting_error_bound(std::span<const FormulaTerm> formula)
{
    require_bound(fraction_error(formula) < FRACTION_ERROR_LIMIT, "splitting error below 1/100 of a limb");
    return ERROR_BOUND_UNITS;
}

int64_t splitting_bytes_needed(int32_t limb_count)
{
    // The run's peak beyond total and the result's write buffer, all of the
    // process counted: the most of five runs (/usr/bin/time -v), less those,
    // in MB, is 60 at ten million digits, 453 at a hundred million, and in
    // one run each 4,272 at a thousand million and 9,894 at the top of the
    // range. It is set by the largest products beside the numbers they
    // serve: a quotient's product with its reciprocal, the last quotient's
    // with its prepared factor, the sums' top merges. Their transform
    // lengths step by 4/3 and 3/2, one step just above ten million digits,
    // and where the threads' work meets at the peak varies from run to run
    // (at a hundred million digits the peaks of five runs spread over 4%, at
    // a thousand million two runs of an earlier build over 9%). Up to ten
    // million digits and their guard limbs 4.5 bytes a digit and 21 MB stay
    // above it (66 MB at ten million); from there 5 bytes a digit and 32 MB
    // (532 at a hundred million, 5,032 at a thousand, 10,770 at the top of
    // the range): the check asks 1.09, 1.14, 1.14 and 1.07 times the peaks.
    constexpr int64_t STEP_DIGITS = 10'000'000 + 64;  // and sixteen guard limbs
    const int64_t digits = fraction_digits(limb_count);
    return digits <= STEP_DIGITS ? digits * 9 / 2 + 21'000'000 : digits * 5 + 32'000'000;
}

int64_t splitting_progress_total(int32_t limb_count) { return splitting_progress_total(TERM_TABLE, limb_count); }

int64_t splitting_progress_total(std::span<const FormulaTerm> formula, int32_t limb_count)
{
    int64_t total = conversion_cost(formula, limb_count);
    for (const FormulaTerm& term : formula)
        total += arctan_splitting_progress_total(term.x, series_terms(term, limb_count)) +
                 prepare_cost(term, limb_count) + finish_cost(term, limb_count);
    return total;
}

namespace {

// One run of a formula, step by step. With S series (Gauss's x = 18, 57,
// 239, numbered 0, 1, 2; S >= 2), T_i the numerator of series i's sum, D_i
// its divisor Lambda(2K_i - 1) x_i^(2K_i - 1) and Q_i = floor(2^B T_i / D_i)
// its quotient, the two threads of a run go as follows (on one thread, the
// same steps in turn), the last series being S - 1:
//
//   step        calling thread                  other thread
//   sum 0       T_0 by its tree, whose subtrees both threads share; beside
//               its top merge, the idle side makes x_0^(2K_0 - 1)
//   sum i       T_i (beside its top merge,      divide i - 1: the lcms of all
//   (0 < i <    x_i^(2K_i - 1)), then helps     series (the first time), D_(i-1),
//   S - 1)                                      Q_(i-1) in one division,
//                                               weighed into pi; then helps
//   sum last    T_last, then helps              divide last - 1 as above;
//                                               prepare last: 2^c / D_last
//                                               before T_last is known
//   finish      the powers 5^(4 2^j) that the   finish last: Q_last =
//               conversion splits by            T_last 2^c / D_last, one
//                                               multiplication, weighed
//   convert     pi's binary fraction to limbs, the two sides of each split on
//               both threads
//
// Memory. A step holds the tree of the sum under way, whose largest numbers
// are those of its top merge, about the size of T_i (0.5 bytes a digit),
// beside the quotient work of the series before it: T_(i-1), D_(i-1) and the
// scratch of one division of twice the quotient's precision by it. The most the big integers hold in each step of Gauss's formula, at
// ten million digits, in bytes a digit: 4.0, 4.7, 6.2, 5.1 and 4.4; the
// step of the last sum, where it meets a division and the preparation, sets
// the run's peak. Dividing each series as soon as its successor starts, and
// preparing only the last divisor ahead, keeps the scratch of one division,
// the largest of the run, at a time. The lcms and the powers of x wait for
// their divisions; nothing runs beside the top merges' products, where a sum
// holds the most.
class SplittingRun {
public:
    SplittingRun(std::span<const FormulaTerm> formula, int32_t limb_count, const SplittingOptions& options)
        : formula_(formula),
          last_(formula.size() - 1),
          limb_count_(limb_count),
          fraction_bits_(fraction_bits_for(limb_count)),
          list_(odd_prime_powers_up_to(2 * most_terms(formula, limb_count) - 1)),
          pool_(options.threads),
          progress_(options.progress),
          numerators_(formula.size()),
          x_powers_(formula.size())
    {
    }

    void run(int32_t* total)
    {
        sum(0);
        for (size_t index = 1; index < last_; ++index)
            pool_.fork_join([&] { divide(index - 1); }, [&] { sum(index); });
        pool_.fork_join([&] { divide(last_ - 1); prepare_last(); }, [&] { sum(last_); });
        pool_.fork_join([&] { finish_last(); }, [&] { make_decimal_powers(); });
        convert(total);
    }

private:
    // The series with the most terms sets the reach of the odd prime powers.
    static int64_t most_terms(std::span<const FormulaTerm> formula, int32_t limb_count)
    {
        int64_t most = 0;
        for (const FormulaTerm& term : formula)
            most = std::max(most, series_terms(term, limb_count));
        return most;
    }

    int64_t terms_of(size_t index) const { return series_terms(formula_[index], limb_count_); }

    // T_i by the splitting tree; beside its top merge, the x part of the
    // next divisor to be made (the last series' is made with its
    // preparation).
    void sum(size_t index)
    {
        BesideTopMerge beside;
        if (index != last_)
            beside.stripping = [this, index] { make_x_power(index); };
        ArctanSplitting series(formula_[index].x, terms_of(index), list_, pool_, progress_);
        numerators_[index] = series.sum_all(std::move(beside));
    }

    // Q_i in one division, weighed into pi; T_i and D_i are freed on the way.
    void divide(size_t index)
    {
        SeriesDenominator divisor = take_divisor(index);
        weigh(index, divide_quotient(std::move(numerators_[index]), std::move(divisor.odd_part),
                                     fraction_bits_ - divisor.two_exponent, fraction_bits_, &pool_));
        advance(progress_, prepare_cost(formula_[index], limb_count_) + finish_cost(formula_[index], limb_count_));
    }

    // The last divisor's side of its quotient, before its sum is known.
    void prepare_last()
    {
        SeriesDenominator divisor = take_divisor(last_);
        prepared_ = prepare_quotient(std::move(divisor.odd_part), fraction_bits_ - divisor.two_exponent, fraction_bits_,
                                     &pool_);
        advance(progress_, prepare_cost(formula_[last_], limb_count_));
    }

    // Q_last from its sum and the prepared side: one multiplication.
    void finish_last()
    {
        weigh(last_, finish_quotient(std::move(numerators_[last_]), prepared_, &pool_));
        prepared_.factor.release();
        advance(progress_, finish_cost(formula_[last_], limb_count_));
    }

    void make_decimal_powers() { decimal_powers_ = decimal_split_powers(limb_count_); }

    // pi / 10000 is the binary fraction whose limbs are pi's, the integer
    // limb 3 first.
    void convert(int32_t* total)
    {
        mpz_tdiv_q_ui(pi_, pi_, LIMB_BASE);
        fraction_limbs(pi_, limb_count_, total, LimbConversion{decimal_powers_, pool_});
        advance(progress_, conversion_cost(formula_, limb_count_));
    }

    // x_i^(2K_i - 1), the part of D_i that needs no lcm.
    void make_x_power(size_t index)
    {
        x_powers_[index] = arctan_splitting_x_power(formula_[index].x, terms_of(index), &pool_);
    }

    // D_i, made from what is ready; the lcms of all the series come at
    // once, for about the cost of the largest.
    SeriesDenominator take_divisor(size_t index)
    {
        if (lcms_.empty()) {
            std::vector<int64_t> bounds;
            for (size_t series = 0; series < formula_.size(); ++series)
                bounds.push_back(2 * terms_of(series) - 1);
            lcms_ = odd_lcms_up_to(list_, bounds);
        }
        if (!x_powers_[index])
            make_x_power(index);
        SeriesDenominator divisor = arctan_splitting_denominator(std::move(*x_powers_[index]), lcms_[index]);
        x_powers_[index].reset();
        lcms_[index].release();
        return divisor;
    }

    void weigh(size_t index, const BigInteger& quotient)
    {
        // 4 |c_i| < 2^33 fits the 64-bit factor.
        const int64_t weight = 4 * int64_t{formula_[index].coefficient};
        add_multiple_small(pi_, quotient, uint64_t(std::abs(weight)), weight > 0 ? 1 : -1);
    }

    const std::span<const FormulaTerm> formula_;
    const size_t last_;  // the last series, whose quotient is prepared ahead
    const int32_t limb_count_;
    // Each quotient is a binary fraction of fraction_bits_ bits: S < 1 / x
    // <= 1/2, so 2^B S + 2 < 2^B.
    const int64_t fraction_bits_;
    const OddPrimePowers list_;
    ForkJoinPool pool_;
    std::atomic<int64_t>* const progress_;

    std::vector<BigInteger> numerators_;                     // T_i, from its sum to its quotient
    std::vector<std::optional<SeriesDenominator>> x_powers_;  // x_i^(2K_i - 1), until D_i is made
    std::vector<BigInteger> lcms_;                           // Lambda(2K_i - 1), until D_i is made
    PreparedQuotient prepared_;                              // the last divisor's side
    BigInteger pi_;                                          // 2^B pi, the weighed quotients
    std::vector<BigInteger> decimal_powers_;
};

}  // namespace

void gauss_formula_splitting(int32_t limb_count, int32_t* total, const SplittingOptions& options)
{
    machin_formula_splitting(TERM_TABLE, limb_count, total, options);
}

void machin_formula_splitting(std::span<const FormulaTerm> formula, int32_t limb_count, int32_t* total,
                              const SplittingOptions& options)
{
    require_formula_bounds(formula, limb_count);
    SplittingRun(formula, limb_count, options).run(total);
}
