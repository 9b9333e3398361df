// Small-factor arithmetic, shifts by counts of any size, and products of
// many small numbers.
#include "big_integer.hpp"

#include "cpu_features.hpp"
#include "exactness.hpp"
#include "ntt/ntt_multiply.hpp"

#include <algorithm>
#include <bit>
#include <limits>
#include <new>
#include <span>
#include <type_traits>
#include <vector>

namespace {

// Where unsigned long holds 64 bits, GMP's _ui functions take a 64-bit
// factor directly. Where it does not (64-bit Windows), the factor is one
// limb, seen as a read-only integer, and the functions that take an mpz_t
// treat a one-limb operand as the _ui functions do (one pass of mpn_mul_1 or
// mpn_addmul_1), with a little more dispatch and no allocation.
constexpr bool LONG_HOLDS_64_BITS = sizeof(unsigned long) >= sizeof(uint64_t);
static_assert(GMP_LIMB_BITS == 64, "GMP's limbs hold 64 bits");

// Below this many factors a running product, two factors to a word, beats
// splitting further.
constexpr size_t PRODUCT_LEAF_FACTORS = 32;

// The largest count of bits GMP takes in one call.
constexpr int64_t BIT_COUNT_STEP = static_cast<int64_t>(
    std::min<uint64_t>(std::numeric_limits<mp_bitcnt_t>::max(), std::numeric_limits<int64_t>::max()));

mp_bitcnt_t bit_count(int64_t bits)
{
    require_bound(bits >= 0 && bits <= BIT_COUNT_STEP, "bit count within GMP's mp_bitcnt_t");
    return static_cast<mp_bitcnt_t>(bits);
}

// target <- shift(source, bits), as shifts of at most step bits each.
void shift_in_steps(void (*shift)(mpz_ptr, mpz_srcptr, mp_bitcnt_t), BigInteger& target, const BigInteger& source,
                    int64_t bits, int64_t step)
{
    require_bound(bits >= 0 && step >= 1, "shift of at least 0 bits in steps of at least 1");
    const mpz_srcptr from = source;
    int64_t rest = bits;
    do {
        const int64_t now = std::min(rest, step);
        shift(target, rest == bits ? from : target.get(), bit_count(now));
        rest -= now;
    } while (rest > 0);
}

struct OneLimb {
    explicit OneLimb(uint64_t value) : limb(value) { mpz_roinit_n(view, &limb, value != 0 ? 1 : 0); }
    OneLimb(const OneLimb&) = delete;
    OneLimb& operator=(const OneLimb&) = delete;
    mp_limb_t limb;
    mpz_t view;
};

}  // namespace

// GMP's limbs are 64-bit words of the same type as the transform's, so its
// limb arrays are passed as they are.
static_assert(std::is_same_v<mp_limb_t, uint64_t>, "GMP's limbs are uint64_t");

size_t transform_product_limbs()
{
    static const size_t crossover = ntt_crossover_limbs(best_vector_isa());
    return crossover;
}

namespace {

NttOptions transform_options(ForkJoinPool* pool)
{
    static const VectorIsa isa = best_vector_isa();
    NttOptions options;
    options.isa = isa;
    options.pool = pool;
    return options;
}

std::span<const uint64_t> limbs_of(const BigInteger& value)
{
    return {mpz_limbs_read(value), mpz_size(value)};
}

// product <- a * b by transform(a, b, the product's limbs), GMP where the
// transforms' scratch cannot be had (it needs less, and ends the run
// through its memory functions if it cannot either). product may be a or b.
template <class Transform>
void transform_product(BigInteger& product, const BigInteger& a, const BigInteger& b, Transform&& transform)
{
    if (&product == &a || &product == &b) {
        BigInteger result;
        transform_product(result, a, b, transform);
        product = std::move(result);
        return;
    }
    const size_t product_limbs = mpz_size(a) + mpz_size(b);
    uint64_t* const out = mpz_limbs_write(product, static_cast<mp_size_t>(product_limbs));
    try {
        transform(limbs_of(a), limbs_of(b), std::span<uint64_t>(out, product_limbs));
    } catch (const std::bad_alloc&) {
        mpz_mul(product, a, b);
        return;
    }
    // The top limb may be 0; finishing drops it.
    const auto size = static_cast<mp_size_t>(product_limbs);
    mpz_limbs_finish(product, a.sign() * b.sign() < 0 ? -size : size);
}

}  // namespace

void multiply(BigInteger& product, const BigInteger& a, const BigInteger& b, ForkJoinPool* pool)
{
    if (std::min(mpz_size(a), mpz_size(b)) < transform_product_limbs()) {
        mpz_mul(product, a, b);
        return;
    }
    // A square (the same number twice, so the same span) takes one
    // transform the fewer.
    transform_product(product, a, b, [&](std::span<const uint64_t> a_limbs, std::span<const uint64_t> b_limbs,
                                          std::span<uint64_t> out) {
        ntt_multiply(a_limbs, b_limbs, out, transform_options(pool));
    });
}

void TransformedFactor::multiply(BigInteger& product, const BigInteger& a, const BigInteger& factor, ForkJoinPool* pool)
{
    const size_t a_limbs = mpz_size(a), factor_limbs = mpz_size(factor);
    if (std::min(a_limbs, factor_limbs) < transform_product_limbs()) {
        mpz_mul(product, a, factor);
        return;
    }
    const NttPlan plan = plan_ntt_product(a_limbs, factor_limbs);
    if (plan.top_length != 0) {
        ::multiply(product, a, factor, pool);
        return;
    }
    const NttOptions options = transform_options(pool);
    std::shared_ptr<const NttTransform> kept;
    {
        const std::lock_guard<std::mutex> guard(lock_);
        kept = kept_;
    }
    transform_product(product, a, factor, [&](std::span<const uint64_t> a_span, std::span<const uint64_t> factor_span,
                                               std::span<uint64_t> out) {
        if (kept == nullptr || kept->plan().length != plan.length || !kept->holds(a_limbs)) {
            kept = std::make_shared<const NttTransform>(factor_span, plan, options);
            const std::lock_guard<std::mutex> guard(lock_);
            kept_ = kept;
        }
        kept->multiply(a_span, factor_span, out, options);
    });
}

void TransformedFactor::release()
{
    const std::lock_guard<std::mutex> guard(lock_);
    kept_.reset();
}

void multiply_add(BigInteger& sum, const BigInteger& a, const BigInteger& b, const BigInteger& c, const BigInteger& d,
                  ForkJoinPool* pool)
{
    require_bound(&sum != &a && &sum != &b && &sum != &c && &sum != &d, "sum of products apart from its operands");
    const size_t a_limbs = mpz_size(a), b_limbs = mpz_size(b), c_limbs = mpz_size(c), d_limbs = mpz_size(d);
    const int sign = a.sign() * b.sign(), other_sign = c.sign() * d.sign();
    if (std::min(std::min(a_limbs, b_limbs), std::min(c_limbs, d_limbs)) < transform_product_limbs() ||
        sign != other_sign || !ntt_sum_pays(a_limbs, b_limbs, c_limbs, d_limbs)) {
        BigInteger second;
        multiply(sum, a, b, pool);
        multiply(second, c, d, pool);
        mpz_add(sum, sum, second);
        return;
    }
    const size_t limbs = std::max(a_limbs + b_limbs, c_limbs + d_limbs) + 1;
    uint64_t* const out = mpz_limbs_write(sum, static_cast<mp_size_t>(limbs));
    try {
        ntt_multiply_add(limbs_of(a), limbs_of(b), limbs_of(c), limbs_of(d), std::span<uint64_t>(out, limbs),
                         transform_options(pool));
    } catch (const std::bad_alloc&) {
        // As in multiply: GMP's products, which need less scratch.
        BigInteger second;
        mpz_mul(sum, a, b);
        mpz_mul(second, c, d);
        mpz_add(sum, sum, second);
        return;
    }
    // The products' magnitudes, added; the sign the two share.
    mpz_limbs_finish(sum, sign < 0 ? -static_cast<mp_size_t>(limbs) : static_cast<mp_size_t>(limbs));
}

void power_of(BigInteger& power, uint64_t base, uint64_t exponent, ForkJoinPool* pool)
{
    // Left to right: each step squares what the exponent's higher bits
    // give and multiplies in the base where the next bit is set.
    power.assign(1);
    for (int bit = 63 - std::countl_zero(exponent | 1); bit >= 0 && exponent != 0; --bit) {
        if (mpz_cmp_ui(power.get(), 1) != 0)
            multiply(power, power, power, pool);
        if ((exponent >> bit) & 1)
            multiply_small(power, base);
    }
}

namespace {

// x <- divisor^-1 mod 2^(64 words), for an odd divisor: a word's inverse by
// Newton's iteration on words (b b = 1 mod 8 gives 3 bits, each step doubles
// them), then x <- x (2 - b x) = x - x e 2^(64 p) mod 2^(128 p), with
// b x = 1 + e 2^(64 p), each step doubling the words that are right.
BigInteger inverse_mod_words(const BigInteger& divisor, size_t words, ForkJoinPool* pool)
{
    const uint64_t low = mpz_getlimbn(divisor, 0);
    uint64_t word = low;
    for (int step = 0; step < 5; ++step)
        word *= 2 - low * word;
    require_bound(low * word == 1, "a word's inverse mod 2^64");
    BigInteger x(word), product, divisor_low;
    for (size_t precise = 1; precise < words;) {
        const size_t next = std::min(2 * precise, words);
        const int64_t next_bits = 64 * static_cast<int64_t>(next), precise_bits = 64 * static_cast<int64_t>(precise);
        low_bits(divisor_low, divisor, next_bits);
        multiply(product, divisor_low, x, pool);
        low_bits(product, product, next_bits);
        shift_right(product, product, precise_bits);  // e
        multiply(product, product, x, pool);
        low_bits(product, product, next_bits - precise_bits);
        shift_left(product, product, precise_bits);
        // x - product lies in (-2^next_bits, 2^next_bits): taken mod
        // 2^next_bits by one addition of it where negative.
        mpz_sub(x, x, product);
        if (x.sign() < 0) {
            shift_left(product, BigInteger(1), next_bits);
            mpz_add(x, x, product);
        }
        precise = next;
    }
    return x;
}

}  // namespace

void divide_exact(BigInteger& quotient, const BigInteger& dividend, const BigInteger& divisor, ForkJoinPool* pool)
{
    require_bound(dividend.sign() >= 0 && divisor.sign() > 0 && mpz_odd_p(divisor.get()) && &quotient != &divisor,
                  "exact division of a non-negative number by an odd one");
    const size_t n = mpz_size(dividend), m = mpz_size(divisor);
    // Hensel's division, the quotient's words from the low end a block at a
    // time: with the low words r of what is left, q = r b^-1 mod 2^(64 k)
    // makes what is left less q b end in k zero words. Two products a block,
    // at least long enough for the transforms (GMP's exact division, which
    // does the same with its own products, below).
    const size_t crossover = transform_product_limbs();
    if (m < crossover || n < m + 2 * crossover) {
        mpz_divexact(quotient, dividend, divisor);
        return;
    }
    const size_t quotient_words = n - m + 1;
    const size_t block = std::min(quotient_words, std::max(m, 2 * crossover));
    const BigInteger inverse = inverse_mod_words(divisor, block, pool);
    std::vector<mp_limb_t> rest(mpz_limbs_read(dividend), mpz_limbs_read(dividend) + n);
    std::vector<mp_limb_t> words(quotient_words, 0);
    BigInteger low, part, product;
    for (size_t at = 0; at < quotient_words; at += block) {
        const size_t now = std::min(block, quotient_words - at);
        mpz_t view;
        mpz_set(low, mpz_roinit_n(view, rest.data() + at, static_cast<mp_size_t>(now)));
        multiply(part, low, inverse, pool);
        low_bits(part, part, 64 * static_cast<int64_t>(now));
        std::copy(mpz_limbs_read(part), mpz_limbs_read(part) + mpz_size(part), words.begin() + static_cast<ptrdiff_t>(at));
        multiply(product, part, divisor, pool);
        const size_t left = n - at;
        require_bound(mpz_size(product) <= left &&
                          mpn_sub(rest.data() + at, rest.data() + at, static_cast<mp_size_t>(left),
                                  mpz_limbs_read(product), static_cast<mp_size_t>(mpz_size(product))) == 0,
                      "exact division's divisor divides its dividend");
    }
    // Nothing may be left: the check that the division was exact.
    require_bound(std::all_of(rest.begin(), rest.end(), [](mp_limb_t word) { return word == 0; }),
                  "exact division's divisor divides its dividend");
    mpz_t view;
    mpz_set(quotient, mpz_roinit_n(view, words.data(), static_cast<mp_size_t>(quotient_words)));
}

void high_product(BigInteger& result, const BigInteger& a, BigInteger b, int64_t shift, ForkJoinPool* pool)
{
    require_bound(a.sign() >= 0 && b.sign() >= 0 && shift >= 3 && &result != &a, "high product of non-negative operands");
    const int64_t m = (shift - 3) / 2, j = shift - 3 - m;  // m <= j <= m + 1
    // Both halves' products through the transforms, or one product.
    const int64_t least_bits = 64 * static_cast<int64_t>(std::min<size_t>(transform_product_limbs(), INT64_MAX / 128));
    if (std::min(a.bits() - j, b.bits() - m) < least_bits || m < least_bits) {
        multiply(result, a, b, pool);
        shift_right(result, result, shift);
        return;
    }
    BigInteger b_low;
    low_bits(b_low, b, m);
    shift_right(b, b, m);
    b.shrink_to_fit();
    multiply(result, a, b, pool);  // a b_hi
    b.release();
    BigInteger cross;
    shift_right(cross, a, j);
    multiply(cross, cross, b_low, pool);  // a_hi b_lo
    b_low.release();
    // (a b_hi 2^m + a_hi b_lo 2^j) / 2^shift = (a b_hi + a_hi b_lo 2^(j-m)) / 2^(shift-m)
    shift_left(cross, cross, j - m);
    mpz_add(result, result, cross);
    cross.release();
    shift_right(result, result, shift - m);
    result.shrink_to_fit();
}

void multiply_wrapped(BigInteger& product, const BigInteger& a, const BigInteger& b, size_t limbs, ForkJoinPool* pool)
{
    require_bound(a.sign() >= 0 && b.sign() >= 0 && mpz_size(a) <= limbs && mpz_size(b) <= limbs && &product != &a &&
                      &product != &b,
                  "wrapped product of non-negative operands within its limbs");
    uint64_t* const out = mpz_limbs_write(product, static_cast<mp_size_t>(limbs + WRAPPED_SPARE_LIMBS));
    try {
        ntt_multiply_wrapped(limbs_of(a), limbs_of(b), std::span<uint64_t>(out, limbs + WRAPPED_SPARE_LIMBS),
                             transform_options(pool));
    } catch (const std::bad_alloc&) {
        // As in multiply: GMP's whole product, reduced.
        mpz_mul(product, a, b);
        reduce_wrapped(product, product, limbs);
        return;
    }
    mpz_limbs_finish(product, static_cast<mp_size_t>(limbs));
}

void reduce_wrapped(BigInteger& target, const BigInteger& source, size_t limbs)
{
    require_bound(source.sign() >= 0 && limbs >= 1, "wrapped reduction of a non-negative number");
    const int64_t bits = 64 * static_cast<int64_t>(limbs);
    if (&target != &source)
        mpz_set(target, source);
    BigInteger high;
    while (mpz_size(target) > limbs) {
        shift_right(high, target, bits);
        low_bits(target, target, bits);
        mpz_add(target, target, high);
    }
    const mp_limb_t* const low = mpz_limbs_read(target);
    if (mpz_size(target) == limbs && std::all_of(low, low + limbs, [](mp_limb_t limb) { return limb == ~mp_limb_t{0}; }))
        target.assign(0);
}

void rotate_wrapped(BigInteger& value, int64_t bits, size_t limbs)
{
    require_bound(value.sign() >= 0 && mpz_size(value) <= limbs && bits >= 0,
                  "wrapped rotation of a number within its limbs");
    // value 2^(64 w + k) mod 2^(64 n) - 1 moves limb i to limb i + w mod n,
    // then bit j to bit j + k, the k bits shifted out of the top coming in
    // at the bottom, where the shift left zeros: no carry.
    const size_t whole_limbs = static_cast<size_t>(bits / 64) % limbs;
    const unsigned bit_shift = static_cast<unsigned>(bits % 64);
    uint64_t* const words = mpz_limbs_modify(value, static_cast<mp_size_t>(limbs));
    std::fill(words + mpz_size(value), words + limbs, 0);
    std::rotate(words, words + (limbs - whole_limbs), words + limbs);
    if (bit_shift != 0)
        words[0] |= mpn_lshift(words, words, static_cast<mp_size_t>(limbs), bit_shift);
    mpz_limbs_finish(value, static_cast<mp_size_t>(limbs));
}

void BigInteger::assign(uint64_t small)
{
    if constexpr (LONG_HOLDS_64_BITS)
        mpz_set_ui(value_, static_cast<unsigned long>(small));
    else
        mpz_set(value_, OneLimb(small).view);
}

void multiply_small(BigInteger& target, uint64_t factor)
{
    if constexpr (LONG_HOLDS_64_BITS)
        mpz_mul_ui(target, target, static_cast<unsigned long>(factor));
    else
        mpz_mul(target, target, OneLimb(factor).view);
}

void add_multiple_small(BigInteger& target, const BigInteger& source, uint64_t factor, int sign)
{
    if constexpr (LONG_HOLDS_64_BITS) {
        if (sign > 0)
            mpz_addmul_ui(target, source, static_cast<unsigned long>(factor));
        else
            mpz_submul_ui(target, source, static_cast<unsigned long>(factor));
    } else {
        const OneLimb wide(factor);
        if (sign > 0)
            mpz_addmul(target, source, wide.view);
        else
            mpz_submul(target, source, wide.view);
    }
}

void BigInteger::shrink_to_fit()
{
    reserve_bits(*this, bits() + 64);
}

void shift_left_in_steps(BigInteger& target, const BigInteger& source, int64_t bits, int64_t step)
{
    shift_in_steps(mpz_mul_2exp, target, source, bits, step);
}

void shift_right_in_steps(BigInteger& target, const BigInteger& source, int64_t bits, int64_t step)
{
    // Truncations toward zero compose: trunc(trunc(a / 2^s) / 2^t) =
    // trunc(a / 2^(s+t)).
    shift_in_steps(mpz_tdiv_q_2exp, target, source, bits, step);
}

void low_bits_in_steps(BigInteger& target, const BigInteger& source, int64_t bits, int64_t step)
{
    require_bound(bits >= 0 && step >= 1, "low bits of at least 0 bits in steps of at least 1");
    if (bits <= step) {
        mpz_tdiv_r_2exp(target, source, bit_count(bits));
        return;
    }
    if (source.bits() <= bits) {
        mpz_set(target, source);
        return;
    }
    // source - 2^bits trunc(source / 2^bits)
    BigInteger high;
    shift_right_in_steps(high, source, bits, step);
    shift_left_in_steps(high, high, bits, step);
    mpz_sub(target, source, high);
}

void shift_left(BigInteger& target, const BigInteger& source, int64_t bits)
{
    shift_left_in_steps(target, source, bits, BIT_COUNT_STEP);
}

void shift_right(BigInteger& target, const BigInteger& source, int64_t bits)
{
    shift_right_in_steps(target, source, bits, BIT_COUNT_STEP);
}

void shift_by(BigInteger& target, const BigInteger& source, int64_t bits)
{
    if (bits >= 0)
        shift_left(target, source, bits);
    else
        shift_right(target, source, -bits);
}

void low_bits(BigInteger& target, const BigInteger& source, int64_t bits)
{
    low_bits_in_steps(target, source, bits, BIT_COUNT_STEP);
}

void reserve_bits(BigInteger& target, int64_t bits)
{
    require_bound(bits >= 0, "room for at least 0 bits");
    if (bits <= BIT_COUNT_STEP) {
        mpz_realloc2(target, static_cast<mp_bitcnt_t>(bits));
        return;
    }
    // In limbs, which GMP counts in mp_size_t; at least one limb, as
    // mpz_realloc2 keeps.
    const int64_t limbs = std::max<int64_t>(1, (bits + GMP_NUMB_BITS - 1) / GMP_NUMB_BITS);
    require_bound(limbs <= std::numeric_limits<mp_size_t>::max(), "limb count within GMP's mp_size_t");
    _mpz_realloc(target, static_cast<mp_size_t>(limbs));
}

BigInteger product_of(std::span<const uint32_t> factors)
{
    BigInteger product(1);
    if (factors.size() <= PRODUCT_LEAF_FACTORS) {
        for (size_t i = 0; i < factors.size(); i += 2)
            multiply_small(product, i + 1 < factors.size() ? uint64_t{factors[i]} * factors[i + 1] : factors[i]);
        return product;
    }
    const size_t middle = factors.size() / 2;
    BigInteger right = product_of(factors.subspan(middle));
    product = product_of(factors.first(middle));
    multiply(product, product, right);
    return product;
}
