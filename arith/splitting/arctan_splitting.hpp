// arctan(1/x) = sum over k >= 0 of (-1)^k / ((2k+1) x^(2k+1)), summed exactly
// as a rational over a range of terms by binary splitting.
//
// For the terms k in [a, b), with o_k = 2k + 1, y = x^2 and
// L = lcm(o_a, ..., o_(b-1)), a range is held as
//     T = sum over k in [a, b) of (-1)^k (L / o_k) y^(b-1-k),
// so that its sum is T / (L x^(2b-1)). The denominators are least common
// multiples rather than products of the o_k: the product of the odd numbers
// up to 2K+1 has about K ln(2K) / ln 10 digits, their lcm only about
// 2K / ln 10, and it is the size of the numbers that sets the cost.
//
// L is never formed below the top. Every odd prime power q <= len = b - a
// divides some o_k of the range (len consecutive k meet every residue mod q),
// so L = Lambda(len) * P, where Lambda(len) is the odd part of lcm(1..len)
// and P is the product of p over the prime powers q = p^j > len that divide
// an o_k of the range; such a q divides at most one of them. A range is
// carried as (T, P).
#pragma once

#include "big_integer.hpp"
#include "odd_prime_powers.hpp"
#include "fork_join_pool.hpp"

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>

struct SplitSum {
    BigInteger numerator;     // T
    BigInteger large_primes;  // P
};

// Work for the thread that would otherwise wait in the top merge, whose two
// sides are far from equal: the right half's stripping also makes the
// uncached power of y. It runs once, after the left half's stripping. (The
// left half's products, which carry that power, are longer still, but the
// products are where a sum holds the most memory, and work beside them set
// the run's peak.)
struct BesideTopMerge {
    std::function<void()> stripping;
};

class ArctanSplitting {
public:
    // The series for arctan(1/x) over its first `terms` terms; list holds
    // the odd prime powers up to 2 terms - 1 at least. progress, if given, grows by
    // arctan_splitting_progress_total(x, terms) over a call of sum_all.
    ArctanSplitting(int32_t x, int64_t terms, const OddPrimePowers& list, ForkJoinPool& pool,
                    std::atomic<int64_t>* progress = nullptr);

    // (T, P) of the terms [begin, end), 0 <= begin < end <= terms.
    SplitSum sum(int64_t begin, int64_t end);

    // T of the whole series, whose sum is T / arctan_splitting_denominator.
    // The lcm of the o_k below 2K is known in advance, Lambda(2K - 1): the
    // recursion's own P is checked against it. beside's work is done by then.
    BigInteger sum_all(BesideTopMerge beside = {});

private:
    SplitSum leaf(int64_t begin, int64_t end);
    SplitSum merge(int64_t begin, int64_t middle, int64_t end, SplitSum left, SplitSum right);
    void cache_powers();
    static void run_once(std::function<void()>& work);
    // y^exponent, or a copy made on the spot where it is not cached.
    const BigInteger& odd_power(int64_t exponent, BigInteger& scratch) const;

    // A power of y that the merges of the deeper levels share, with its
    // transforms, until the last of them is done.
    struct SharedPower {
        std::mutex lock;
        int64_t merges_left = 0;
        BigInteger made;  // the power, where odd_powers_ does not hold it
        const BigInteger* power = nullptr;
        TransformedFactor transformed;
    };
    // The shared power, made by its first merge where it is not cached.
    const BigInteger& shared_power(SharedPower& shared, int64_t exponent) const;
    // One merge done with it: the last frees the power and its transforms.
    void merged_with(SharedPower& shared);

    int32_t x_;
    uint64_t y_odd_;        // the odd part of y = x^2
    int32_t y_twos_;        // y = y_odd * 2^y_twos
    int64_t terms_;
    const OddPrimePowers& list_;
    ForkJoinPool& pool_;
    std::atomic<int64_t>* progress_;
    std::map<int64_t, BigInteger> odd_powers_;  // y_odd^e for the e the merges use
    std::map<int64_t, SharedPower> shared_powers_;  // by exponent, made before the sum, then only looked up
    BesideTopMerge beside_;
};

// The terms that leave a tail below 10^-decimal_exponent / x^3: the series
// alternates with falling terms, so the tail after K terms is below
// 1 / ((2K+1) x^(2K+1)).
int64_t arctan_splitting_terms(int32_t x, int64_t decimal_exponent);

// The denominator of the whole series' sum, Lambda(2K - 1) x^(2K - 1), as
// its odd part and its power of two, given lcm = Lambda(2K - 1): x's part
// of it, which needs no lcm, can be made first.
struct SeriesDenominator {
    BigInteger odd_part;
    int64_t two_exponent;
};
SeriesDenominator arctan_splitting_x_power(int32_t x, int64_t terms, ForkJoinPool* pool = nullptr);
SeriesDenominator arctan_splitting_denominator(SeriesDenominator x_power, const BigInteger& lcm);

// The cost model's figure for a merge over length terms of a series of
// `terms` terms for x, the unit in which the progress of a run is counted.
int64_t splitting_merge_cost(int32_t x, int64_t length, int64_t terms);

// What ArctanSplitting(x, terms, ...).sum_all adds to the progress counter: a
// model of the cost of every leaf and merge of the tree.
int64_t arctan_splitting_progress_total(int32_t x, int64_t terms);
