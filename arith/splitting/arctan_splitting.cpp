// The splitting recursion: leaves summed with machine-word factors, ranges
// merged with the lcm factors taken from the odd prime powers between the
// halves' lengths and the whole's.
#include "arctan_splitting.hpp"

#include "exactness.hpp"

#include <cmath>
#include <map>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

namespace {

// A range this short is summed term by term. Lambda(32) = 4,512,611,027,925
// fits a word with room for the leaf's factors (see leaf()).
constexpr int64_t LEAF_TERMS = 32;
// Ranges this long hand their halves to two threads when one is free, and
// the two sides of their merges too; below, a thread costs more than it saves.
constexpr int64_t FORK_TERMS = int64_t{1} << 13;
// The two top levels' powers of y are used once or twice each; they are
// made when needed rather than held for the whole run.
constexpr int32_t UNCACHED_TOP_LEVELS = 2;
// From this depth down, the merges of a level that take the same power of
// y share its transforms. A level's transforms live from its first merge to
// its last, which spans nearly the whole sum, so every such level holds
// them at once: three times the transform length of a merge's product, in
// 8-byte values, for each of the two or three powers a level takes, which
// halves from one level to the next. Depth KEPT_TRANSFORM_DEPTH's products
// are about 2^-KEPT_TRANSFORM_DEPTH of the top merge's.
constexpr int32_t KEPT_TRANSFORM_DEPTH = 4;

// A range splits where its left half has an even length, half of it or one
// less. The two halves' T then have the same sign: T of [a, b) has the sign
// of its first term, (-1)^a, since its terms fall in size (term k + 1 is
// term k times o_k / (o_(k+1) y) < 1) and alternate. So a merge adds the
// magnitudes of its two products, which the transforms can do as one sum.
int64_t left_length_of(int64_t length) { return length / 2 / 2 * 2; }
int64_t split_point(int64_t begin, int64_t end) { return begin + left_length_of(end - begin); }

// The least k >= from with q | 2k + 1: k = (q - 1) / 2 modulo q.
int64_t first_multiple_index(int64_t q, int64_t from)
{
    const int64_t step = (q - 1) / 2 - from % q;  // in (-q, q)
    return from + (step < 0 ? step + q : step);
}

// value <- its odd part, for value > 0; returns the power of two taken off.
int32_t strip_twos(uint64_t& value)
{
    int32_t twos = 0;
    for (; value % 2 == 0; value /= 2)
        ++twos;
    return twos;
}

// Calls visit(depth, length, count) for every length the ranges of the
// tree of sum(0, terms) take at every depth, leaves included, count the
// ranges of that length there; the split gives at most three lengths a
// depth.
template <class Visit>
void walk_tree(int64_t terms, Visit&& visit)
{
    std::map<int64_t, int64_t> count_by_length{{terms, 1}};
    for (int32_t depth = 0; !count_by_length.empty(); ++depth) {
        std::map<int64_t, int64_t> next;
        for (const auto& [length, count] : count_by_length) {
            visit(depth, length, count);
            if (length > LEAF_TERMS) {
                next[left_length_of(length)] += count;
                next[length - left_length_of(length)] += count;
            }
        }
        count_by_length = std::move(next);
    }
}

}  // namespace

int64_t arctan_splitting_terms(int32_t x, int64_t decimal_exponent)
{
    // With K = ceil(E ln 10 / (2 ln x)) + 2, x^(2K+1) >= 10^E x^3 however
    // the logarithms round (a term of margin beyond the ceiling).
    const double half_terms = double(decimal_exponent) * std::log(10.0) / (2.0 * std::log(double(x)));
    return static_cast<int64_t>(std::ceil(half_terms)) + 2;
}

ArctanSplitting::ArctanSplitting(int32_t x, int64_t terms, const OddPrimePowers& list, ForkJoinPool& pool,
                                 std::atomic<int64_t>* progress)
    : x_(x), terms_(terms), list_(list), pool_(pool), progress_(progress)
{
    // x < 2^16 keeps y = x^2 below 2^32, and terms < 2^30 every o_k = 2k + 1
    // below 2^31: the leaves' factors r_k y stay below 2^63 (see leaf()).
    require_bound(x >= 2 && x < (1 << 16) && terms >= 1 && terms < (int64_t{1} << 30), "splitting series size");
    y_odd_ = uint64_t(x) * uint64_t(x);
    y_twos_ = strip_twos(y_odd_);
    cache_powers();
}

void ArctanSplitting::cache_powers()
{
    // The split gives the right halves at one depth three lengths at most,
    // 3 apart at most, so each level needs y to exponents from e to e + 3 at
    // most; only the smallest is kept. The merges of the deeper levels share
    // their powers' transforms: counted, so that each power's go when its
    // last merge is done.
    std::vector<std::set<int64_t>> exponents_by_depth;
    std::map<int64_t, int64_t> merges_by_exponent;
    walk_tree(terms_, [&](int32_t depth, int64_t length, int64_t count) {
        if (length <= LEAF_TERMS)
            return;
        if (int32_t(exponents_by_depth.size()) <= depth)
            exponents_by_depth.resize(depth + 1);
        const int64_t exponent = length - left_length_of(length);
        exponents_by_depth[depth].insert(exponent);
        merges_by_exponent[exponent] += count;
    });
    for (int32_t depth = KEPT_TRANSFORM_DEPTH; depth < int32_t(exponents_by_depth.size()); ++depth)
        for (const int64_t exponent : exponents_by_depth[depth])
            shared_powers_[exponent].merges_left = merges_by_exponent[exponent];
    // From the deepest level up, each power from the one below: its square
    // times y_odd to the few exponents more (the exponents at least double
    // from one level to the next).
    const BigInteger* below = nullptr;
    int64_t below_exponent = 0;
    for (int32_t depth = int32_t(exponents_by_depth.size()) - 1; depth >= UNCACHED_TOP_LEVELS; --depth) {
        const int64_t exponent = *exponents_by_depth[depth].begin();
        BigInteger power;
        if (below != nullptr && exponent >= 2 * below_exponent && exponent - 2 * below_exponent <= 3) {
            multiply(power, *below, *below, &pool_);
            for (int64_t more = 2 * below_exponent; more < exponent; ++more)
                multiply_small(power, y_odd_);
        } else {
            power_of(power, y_odd_, static_cast<uint64_t>(exponent), &pool_);
        }
        below = &odd_powers_.emplace(exponent, std::move(power)).first->second;
        below_exponent = exponent;
    }
}

const BigInteger& ArctanSplitting::odd_power(int64_t exponent, BigInteger& scratch) const
{
    if (auto found = odd_powers_.find(exponent); found != odd_powers_.end())
        return found->second;
    // From the kept exponent of its level, at most 3 below.
    for (int64_t step = 1; step <= 3; ++step)
        if (auto below = odd_powers_.find(exponent - step); below != odd_powers_.end()) {
            mpz_set(scratch, below->second);
            for (int64_t i = 0; i < step; ++i)
                multiply_small(scratch, y_odd_);
            return scratch;
        }
    power_of(scratch, y_odd_, static_cast<uint64_t>(exponent), &pool_);
    return scratch;
}

const BigInteger& ArctanSplitting::shared_power(SharedPower& shared, int64_t exponent) const
{
    const std::lock_guard<std::mutex> guard(shared.lock);
    if (shared.power == nullptr)
        shared.power = &odd_power(exponent, shared.made);
    return *shared.power;
}

void ArctanSplitting::merged_with(SharedPower& shared)
{
    const std::lock_guard<std::mutex> guard(shared.lock);
    require_bound(shared.merges_left > 0, "a shared power's merges counted");
    if (--shared.merges_left == 0) {
        shared.transformed.release();
        shared.made.release();
    }
}

SplitSum ArctanSplitting::leaf(int64_t begin, int64_t end)
{
    // o_k = s_k r_k, with s_k the part of o_k made of the prime powers
    // q <= len (the p of each q = p^j <= len dividing o_k) and r_k the rest,
    // so that P = prod r_k and L / o_k = (Lambda(len) / s_k) prod_(i != k) r_i.
    // Horner's rule over the range builds
    //     U_(j+1) = U_j r_j y + (-1)^j (Lambda / s_j) R_j,  R_j = prod_(i<j) r_i,
    // which ends at T. Lambda / s_j <= Lambda(32) < 2^43 and r_j y < 2^31 2^32
    // = 2^63 each fit a word.
    const int64_t length = end - begin;
    uint64_t small_part[LEAF_TERMS], rest[LEAF_TERMS];
    for (int64_t i = 0; i < length; ++i) {
        small_part[i] = 1;
        rest[i] = uint64_t(2 * (begin + i) + 1);
    }
    uint64_t lambda = 1;
    const size_t small_end = list_.first_above(length);
    for (size_t index = 0; index < small_end; ++index) {
        const int64_t q = list_.powers[index];
        const uint64_t p = list_.primes[index];
        lambda *= p;
        for (int64_t k = first_multiple_index(q, begin); k < end; k += q) {
            small_part[k - begin] *= p;
            rest[k - begin] /= p;
        }
    }
    SplitSum range;
    BigInteger& numerator = range.numerator;
    BigInteger& product = range.large_primes;
    // Room for the whole leaf at once rather than a reallocation each time a
    // number outgrows its limbs (a few percent of a run): each term
    // multiplies U by r_j y < 2^63 and R by r_j < 2^31, and the addends add
    // less than 64 bits.
    reserve_bits(numerator, length * (31 + 2 * 16) + 64 + 64);
    reserve_bits(product, length * 31 + 64);
    product.assign(1);
    for (int64_t i = 0; i < length; ++i) {
        multiply_small(numerator, rest[i] * y_odd_ << y_twos_);
        add_multiple_small(numerator, product, lambda / small_part[i], (begin + i) % 2 == 0 ? 1 : -1);
        multiply_small(product, rest[i]);
    }
    if (progress_ != nullptr)
        progress_->fetch_add(splitting_merge_cost(x_, length, terms_), std::memory_order_relaxed);
    return range;
}

SplitSum ArctanSplitting::merge(int64_t begin, int64_t middle, int64_t end, SplitSum left, SplitSum right)
{
    // With L1, L2, L the lcms of the left half, the right half and the
    // whole, the whole is T = T1 (L / L1) y^len2 + T2 (L / L2). A prime power
    // q <= len1 divides an o_k of either half, and one q > len divides an o_k
    // of at most one half, so
    //     L / L1 = P2' * prod of p over q in (len1, len] dividing no o_k of the left,
    // where P2' is P2 without the q in (len2, len] (those are not above the
    // whole's length), and the same with the halves exchanged. P = P1' P2'.
    const int64_t left_length = middle - begin, right_length = end - middle, length = end - begin;
    std::vector<uint32_t> left_stripped, left_missing, right_stripped, right_missing;
    const size_t start = list_.first_above(left_length), stop = list_.first_above(length);
    for (std::vector<uint32_t>* primes : {&left_stripped, &left_missing, &right_stripped, &right_missing})
        primes->reserve(stop - start);
    for (size_t index = start; index < stop; ++index) {
        const int64_t q = list_.powers[index];
        const uint32_t p = list_.primes[index];
        // q > len1 = middle - begin, so the first multiple from middle on is
        // the first from begin on or the next one: one remainder, not two.
        const int64_t first = first_multiple_index(q, begin);
        (first < middle ? left_stripped : left_missing).push_back(p);
        if (q > right_length)
            ((first < middle ? first + q : first) < end ? right_stripped : right_missing).push_back(p);
    }
    BigInteger& left_large = left.large_primes;
    BigInteger& right_large = right.large_primes;
    BigInteger left_factor_rest, right_factor_rest;  // L / L1 = P2' * left rest, L / L2 = P1' * right rest
    BigInteger power_scratch;
    const BigInteger* power = nullptr;
    const bool top = begin == 0 && end == terms_;
    auto strip_left = [&] {
        divide_exact(left_large, left_large, product_of(left_stripped), &pool_);
        left_factor_rest = product_of(left_missing);
        if (top)
            run_once(beside_.stripping);
    };
    const auto shared_found = shared_powers_.find(right_length);
    SharedPower* const shared = shared_found == shared_powers_.end() ? nullptr : &shared_found->second;
    auto strip_right = [&] {
        divide_exact(right_large, right_large, product_of(right_stripped), &pool_);
        right_factor_rest = product_of(right_missing);
        power = shared != nullptr ? &shared_power(*shared, right_length) : &odd_power(right_length, power_scratch);
    };
    pool_.fork_join_if(length >= FORK_TERMS, strip_left, strip_right);

    // The factors of the two terms side by side, then T1 * left factor *
    // 2^(y_twos len2) + T2 * right factor as one sum of products, whose
    // transforms share the pool's threads.
    SplitSum whole;
    BigInteger left_factor, right_factor;
    auto left_part = [&] {
        // P2' * rest * y_odd^len2, the smaller factors first, times the
        // power of two of y^len2.
        multiply(left_factor, right_large, left_factor_rest, &pool_);
        if (shared != nullptr) {
            shared->transformed.multiply(left_factor, left_factor, *power, &pool_);
            merged_with(*shared);
        } else {
            multiply(left_factor, left_factor, *power, &pool_);
        }
        shift_left(left_factor, left_factor, y_twos_ * right_length);
    };
    auto right_part = [&] {
        multiply(right_factor, left_large, right_factor_rest, &pool_);
        multiply(whole.large_primes, left_large, right_large, &pool_);
    };
    pool_.fork_join_if(length >= FORK_TERMS, left_part, right_part);
    left_large.release();
    right_large.release();
    multiply_add(whole.numerator, left.numerator, left_factor, right.numerator, right_factor, &pool_);
    if (progress_ != nullptr)
        progress_->fetch_add(splitting_merge_cost(x_, length, terms_), std::memory_order_relaxed);
    return whole;
}

SplitSum ArctanSplitting::sum(int64_t begin, int64_t end)
{
    require_bound(0 <= begin && begin < end && end <= terms_, "splitting range within the series");
    if (end - begin <= LEAF_TERMS)
        return leaf(begin, end);
    const int64_t middle = split_point(begin, end);
    SplitSum left, right;
    pool_.fork_join_if(
        end - begin >= FORK_TERMS, [&] { left = sum(begin, middle); }, [&] { right = sum(middle, end); });
    return merge(begin, middle, end, std::move(left), std::move(right));
}

void ArctanSplitting::run_once(std::function<void()>& work)
{
    if (work)
        std::exchange(work, {})();
}

BigInteger ArctanSplitting::sum_all(BesideTopMerge beside)
{
    beside_ = std::move(beside);
    SplitSum all = sum(0, terms_);
    // A series too short for a merge has no top merge to do it in.
    run_once(beside_.stripping);
    // Every odd prime power q in (K, 2K - 1] is an o_k itself, and none
    // above K divides another, so P must be the product of p over those q.
    // Compared modulo a prime below 2^32: a slip in the lcm bookkeeping
    // shows, at the cost of one pass over P.
    constexpr uint64_t modulus = 4294967291u;  // the largest prime below 2^32
    uint64_t expected = 1;
    for (size_t index = list_.first_above(terms_); index < list_.first_above(2 * terms_ - 1); ++index)
        expected = expected * list_.primes[index] % modulus;
    require_bound(mpz_fdiv_ui(all.large_primes, static_cast<unsigned long>(modulus)) == expected,
                  "splitting lcm matches Lambda(2K-1)");
    return std::move(all.numerator);
}

SeriesDenominator arctan_splitting_x_power(int32_t x, int64_t terms, ForkJoinPool* pool)
{
    require_bound(x >= 2 && terms >= 1 && terms < (int64_t{1} << 30), "splitting series size");
    uint64_t x_odd = uint64_t(x);
    SeriesDenominator power{BigInteger(), strip_twos(x_odd) * (2 * terms - 1)};
    power_of(power.odd_part, x_odd, static_cast<uint64_t>(2 * terms - 1), pool);
    return power;
}

SeriesDenominator arctan_splitting_denominator(SeriesDenominator x_power, const BigInteger& lcm)
{
    multiply(x_power.odd_part, x_power.odd_part, lcm);
    return x_power;
}

int64_t splitting_merge_cost(int32_t x, int64_t length, int64_t terms)
{
    // A merge's numbers have about log2 y bits a term for the powers of y
    // and, for the odd factors r_k <= 2K, about log2(2K / length) bits a
    // term more than the top merge's few: a short range far into the
    // series carries large factors. Multiplying them costs a little more
    // than their size. The factor 1.5 on the second part fits the time a run
    // spends in each series (at 10^8 digits the first series' sum takes 36%
    // of the run, and the model gives it 35.5%).
    const double per_term =
        2.0 * std::log2(double(x)) + 4.0 + 1.5 * std::log2(2.0 * double(terms) / double(length));
    const double bits = double(length) * per_term;
    return static_cast<int64_t>(bits * std::log2(bits + 2.0) / 64.0) + 1;
}

int64_t arctan_splitting_progress_total(int32_t x, int64_t terms)
{
    int64_t total = 0;
    walk_tree(terms, [&](int32_t, int64_t length, int64_t count) { total += count * splitting_merge_cost(x, length, terms); });
    return total;
}
