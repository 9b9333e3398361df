// The fast product: the coefficient size and the transform length chosen
// together, the three primes' convolutions by the kernel of the CPU path,
// and the residues combined and carried into the product's limbs.
#include "ntt/ntt_multiply.hpp"

#include "exactness.hpp"
#include "ntt/coefficients.hpp"
#include "ntt/kernels/ntt_kernels.hpp"
#include "ntt/modular.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

namespace {

// Every coefficient of the convolution is at most n (2^b - 1)^2 < 2^(2b) n
// for operands of at most n coefficients each of b bits, and must stay below
// the primes' product, above 2^149.99: 2b + bit_width(n) <= 149 suffices.
constexpr int PRIMES_PRODUCT_BITS = 149;

// A product's top is made apart only where that saves a tenth at least of
// the transforms' cost (the fold and the second set of transforms cost a
// little beyond it).
constexpr double TOP_APART_GAIN = 0.9;

bool coefficients_fit(int bits, size_t shorter_count)
{
    return 2 * bits + std::bit_width(shorter_count) <= PRIMES_PRODUCT_BITS;
}

// The least length 2^k or 3 * 2^k that holds count values, with 2^k at
// least MIN_KERNEL_LENGTH.
size_t transform_length(size_t count)
{
    size_t two_power = MIN_KERNEL_LENGTH;
    while (two_power < count)
        two_power *= 2;
    const size_t three_times = 3 * (two_power / 4);
    return two_power / 4 >= MIN_KERNEL_LENGTH && three_times >= count ? three_times : two_power;
}

// A value mod 2^64 - 1: the limbs' sum with each carry out of the top added
// back at the bottom, since 2^64 = 1 mod 2^64 - 1 (the result is below 2^64,
// and 2^64 - 1 itself stands for 0).
uint64_t residue_mod_word(std::span<const uint64_t> limbs)
{
    unsigned __int128 sum = 0;
    for (const uint64_t limb : limbs)
        sum += limb;
    // sum < 2^64 n: fold the high word in twice.
    sum = (sum & ~uint64_t{0}) + (sum >> 64);
    sum = (sum & ~uint64_t{0}) + (sum >> 64);
    return static_cast<uint64_t>(sum);
}

uint64_t multiply_mod_word(uint64_t a, uint64_t b)
{
    const unsigned __int128 product = static_cast<unsigned __int128>(a) * b;
    unsigned __int128 folded = (product & ~uint64_t{0}) + (product >> 64);
    folded = (folded & ~uint64_t{0}) + (folded >> 64);
    return static_cast<uint64_t>(folded);
}

bool same_mod_word(uint64_t a, uint64_t b)
{
    constexpr uint64_t word = ~uint64_t{0};
    return (a == word ? 0 : a) == (b == word ? 0 : b);
}

}  // namespace

// Measured with bench/ntt_bench (balanced products, the memory kept as the
// program keeps it), on a 2-core AMD EPYC: AVX-512 beats GMP 6.2's mpn_mul
// from about 250 limbs (1.44 at 250, 1.17 at 300, 0.80 at 200; the lengths'
// steps make it uneven below), AVX2 from about 500 (1.41 at 500, 1.16 at
// 700, 0.95 at 400); the portable kernel stays below a half of it up to a
// million limbs. Unbalanced products gain more from the same smaller size.
// In whole runs of ten million digits, 250 on AVX-512 gives the least time
// (2.89 s against 2.95 at 350 and 2.92 at 200, medians of five).
size_t ntt_crossover_limbs(VectorIsa isa)
{
    switch (isa) {
    case VectorIsa::avx512:
        return 250;
    case VectorIsa::avx2:
        return 500;
    case VectorIsa::portable:
        break;
    }
    return SIZE_MAX;
}

std::vector<NttKernel> ntt_kernels_here()
{
    std::vector<NttKernel> kernels;
    for (VectorIsa isa : {VectorIsa::portable, VectorIsa::avx2, VectorIsa::avx512})
        if (cpu_runs(isa)) {
            NttOptions options;
            options.isa = isa;
            options.ifma = false;
            kernels.push_back({options, vector_isa_name(isa)});
        }
    if (cpu_runs_avx512_ifma()) {
        NttOptions options;
        options.isa = VectorIsa::avx512;
        kernels.push_back({options, "avx512-ifma"});
    }
    return kernels;
}

namespace {

// The longest length below length (a length transform_length gives).
size_t length_below(size_t length)
{
    return transform_length(length / 2 + 1) < length ? transform_length(length / 2 + 1) : length / 2;
}

// What a transform of length n costs, for comparing plans: n log2 n.
double transform_cost(size_t length)
{
    return double(length) * std::log2(double(length));
}

}  // namespace

NttPlan plan_ntt_product(size_t a_limbs, size_t b_limbs)
{
    NttPlan plan = plan_ntt_sum(a_limbs, b_limbs, 0, 0);
    // A convolution a little longer than a length may go to the length
    // below, its top coefficients made apart by a product of the operands'
    // top ones (kernels/transform_kernel.hpp: fold_top), where the two
    // together cost less. Each operand must fit the shorter length; the top
    // product's coefficients stay within the bound of the whole one's.
    if (a_limbs == 0 || b_limbs == 0)
        return plan;
    const size_t a_count = coefficient_count(a_limbs, plan.bits), b_count = coefficient_count(b_limbs, plan.bits);
    const size_t count = a_count + b_count - 1;
    for (size_t length = length_below(plan.length); length >= MIN_KERNEL_LENGTH && length >= std::max(a_count, b_count);
         length = length_below(length)) {
        const size_t top = count - length;
        const size_t top_length = transform_length(2 * top - 1);
        if (transform_cost(length) + transform_cost(top_length) < TOP_APART_GAIN * transform_cost(plan.length)) {
            plan.length = length;
            plan.top_length = top_length;
            break;
        }
        if (2 * top > length)
            break;
    }
    return plan;
}

NttPlan plan_ntt_sum(size_t a_limbs, size_t b_limbs, size_t c_limbs, size_t d_limbs)
{
    // A coefficient of a * b + c * d is below (min(n_a, n_b) + min(n_c,
    // n_d)) 2^(2b) for n coefficients of each operand: the bound of one
    // product whose shorter operand has that many.
    NttPlan best{0, 0};
    for (int bits = 64; bits >= 16; --bits) {
        const size_t a_count = coefficient_count(a_limbs, bits), b_count = coefficient_count(b_limbs, bits);
        const size_t c_count = coefficient_count(c_limbs, bits), d_count = coefficient_count(d_limbs, bits);
        if (!coefficients_fit(bits, std::min(a_count, b_count) + std::min(c_count, d_count)))
            continue;
        const size_t count = std::max(a_count + b_count, c_count + d_count) - 1;
        const size_t length = transform_length(count);
        if (best.length == 0 || length < best.length)
            best = {bits, length};
    }
    require_bound(best.length != 0 && best.length <= (size_t{3} << MAX_TWO_POWER), "transform length within the primes' roots");
    return best;
}

namespace {

// The term of a product, b empty for a square.
ProductTerm product_term(std::span<const uint64_t> a, std::span<const uint64_t> b)
{
    const bool squaring = a.data() == b.data() && a.size() == b.size();
    return {a, squaring ? std::span<const uint64_t>() : b};
}

uint64_t add_mod_word(uint64_t a, uint64_t b)
{
    const unsigned __int128 sum = static_cast<unsigned __int128>(a) + b;
    return static_cast<uint64_t>((sum & ~uint64_t{0}) + (sum >> 64));
}

}  // namespace

void ntt_multiply(std::span<const uint64_t> a, std::span<const uint64_t> b, std::span<uint64_t> product,
                  const NttOptions& options)
{
    if (a.empty() || b.empty()) {
        require_bound(product.size() == a.size() + b.size(), "product of n_a + n_b limbs");
        std::fill(product.begin(), product.end(), 0);
        return;
    }
    ntt_multiply_planned(a, b, product, plan_ntt_product(a.size(), b.size()), options);
}

void ntt_multiply_planned(std::span<const uint64_t> a, std::span<const uint64_t> b, std::span<uint64_t> product,
                          const NttPlan& plan, const NttOptions& options)
{
    require_bound(product.size() == a.size() + b.size() && !a.empty() && !b.empty(), "product of n_a + n_b limbs");
    const size_t a_count = coefficient_count(a.size(), plan.bits), b_count = coefficient_count(b.size(), plan.bits);
    const size_t count = a_count + b_count - 1;
    require_bound(plan.bits >= 16 && plan.bits <= 64 && coefficients_fit(plan.bits, std::min(a_count, b_count)) &&
                      plan.length == transform_length(plan.length) && plan.length >= std::max(a_count, b_count) &&
                      (plan.top_length == 0 ? plan.length >= count
                                            : plan.length < count && plan.top_length == transform_length(plan.top_length) &&
                                                  plan.top_length >= 2 * (count - plan.length) - 1),
                  "a product's plan holds its convolution exactly");
    const ProductTerm term = product_term(a, b);
    product_kernel(options.isa, options.ifma)(std::span(&term, 1), product, plan.bits, plan.length, plan.top_length, options.pool);
    check_ntt_product(a, b, product);
}

bool ntt_sum_pays(size_t a_limbs, size_t b_limbs, size_t c_limbs, size_t d_limbs)
{
    // In transforms of the product's length (ntt_bench: a product of 10^5
    // limbs spends about a third of its time outside the transforms).
    constexpr double CARRYING = 1.5;
    const NttPlan first_plan = plan_ntt_product(a_limbs, b_limbs), second_plan = plan_ntt_product(c_limbs, d_limbs);
    const double first = double(first_plan.length + first_plan.top_length);
    const double second = double(second_plan.length + second_plan.top_length);
    const double sum = double(plan_ntt_sum(a_limbs, b_limbs, c_limbs, d_limbs).length);
    return (5 + CARRYING) * sum <= (3 + CARRYING) * (first + second);
}

void ntt_multiply_add(std::span<const uint64_t> a, std::span<const uint64_t> b, std::span<const uint64_t> c,
                      std::span<const uint64_t> d, std::span<uint64_t> sum, const NttOptions& options)
{
    require_bound(sum.size() == std::max(a.size() + b.size(), c.size() + d.size()) + 1 && !a.empty() && !b.empty() &&
                      !c.empty() && !d.empty(),
                  "sum of products of max(n_a + n_b, n_c + n_d) + 1 limbs");
    const NttPlan plan = plan_ntt_sum(a.size(), b.size(), c.size(), d.size());
    const ProductTerm terms[2] = {product_term(a, b), product_term(c, d)};
    product_kernel(options.isa, options.ifma)(std::span<const ProductTerm>(terms), sum, plan.bits, plan.length, 0, options.pool);
    const uint64_t expected = add_mod_word(multiply_mod_word(residue_mod_word(a), residue_mod_word(b)),
                                           multiply_mod_word(residue_mod_word(c), residue_mod_word(d)));
    require_bound(same_mod_word(residue_mod_word(sum), expected), "transform sum of products matches its operands mod 2^64 - 1");
}

NttTransform::NttTransform(std::span<const uint64_t> factor, const NttPlan& plan, const NttOptions& options)
    : plan_(plan), limbs_(factor.size()), residue_(residue_mod_word(factor)), made_by_(options),
      values_(3 * plan.length)
{
    require_bound(!factor.empty() && plan.top_length == 0 && plan.bits >= 16 && plan.bits <= 64 &&
                      plan.length == transform_length(plan.length) &&
                      coefficient_count(factor.size(), plan.bits) <= plan.length,
                  "a kept transform's plan holds its factor");
    made_by_.pool = nullptr;
    operand_transform(options.isa, options.ifma)(factor, plan.bits, plan.length, values_.data(), options.pool);
}

bool NttTransform::holds(size_t limbs) const
{
    const size_t a_count = coefficient_count(limbs, plan_.bits), b_count = coefficient_count(limbs_, plan_.bits);
    return limbs != 0 && coefficients_fit(plan_.bits, std::min(a_count, b_count)) && a_count + b_count - 1 <= plan_.length;
}

void NttTransform::multiply(std::span<const uint64_t> a, std::span<const uint64_t> factor, std::span<uint64_t> product,
                            const NttOptions& options) const
{
    const ProductKernel kernel = product_kernel(options.isa, options.ifma);
    require_bound(product.size() == a.size() + limbs_ && factor.size() == limbs_ && holds(a.size()) &&
                      kernel == product_kernel(made_by_.isa, made_by_.ifma),
                  "a product by a kept transform within its plan and kernel");
    require_bound(residue_mod_word(factor) == residue_, "a kept transform's factor is the one it was made of");
    const ProductTerm term{a, factor, values_.data()};
    kernel(std::span(&term, 1), product, plan_.bits, plan_.length, 0, options.pool);
    check_ntt_product(a, factor, product);
}

namespace {

// A wrapped product of transform length L takes coefficients of the most
// bits b <= 64 that keep its convolution exact: a cyclic coefficient is a
// sum of L products below 2^(2b), so coefficients_fit(b, L) suffices. Every
// length is a multiple of 64, so b L bits are whole limbs, n = b L / 64, and
// the coefficients' sum, sum c_k 2^(b k), is a * b mod 2^(64 n) - 1 up to
// multiples of it, since 2^(64 n) = 1 there. n grows with L (b falls by one
// bit where L doubles at most), so the least n that holds at_least limbs
// comes from the least L.
struct WrappedPlan {
    int bits;
    size_t length;
    size_t limbs;
};

WrappedPlan wrapped_plan(size_t at_least)
{
    for (size_t length = transform_length(1);; length = transform_length(length + 1)) {
        require_bound(length <= (size_t{3} << MAX_TWO_POWER) && length % 64 == 0,
                      "wrapped product within the primes' roots, of whole limbs");
        int bits = 64;
        while (!coefficients_fit(bits, length))
            --bits;
        const size_t limbs = static_cast<size_t>(bits) * length / 64;
        if (limbs >= at_least)
            return {bits, length, limbs};
    }
}

}  // namespace

size_t ntt_wrapped_limbs(size_t at_least)
{
    return wrapped_plan(at_least).limbs;
}

void ntt_multiply_wrapped(std::span<const uint64_t> a, std::span<const uint64_t> b, std::span<uint64_t> product,
                          const NttOptions& options)
{
    require_bound(product.size() > WRAPPED_SPARE_LIMBS, "wrapped product with its spare limbs");
    const size_t n = product.size() - WRAPPED_SPARE_LIMBS;
    const WrappedPlan plan = wrapped_plan(n);
    require_bound(plan.limbs == n && a.size() <= n && b.size() <= n,
                  "wrapped product of operands within a transform length's limbs");
    // The coefficients' sum reaches past 2^(64 n) by less than the top
    // coefficient's excess over b bits, b + bit_width(L) < 128 bits: the
    // spare limbs hold it.
    static_assert(WRAPPED_SPARE_LIMBS * 64 >= 128 + 64, "spare limbs for the top coefficient's excess");
    if (a.empty() || b.empty())
        std::fill(product.begin(), product.end(), 0);
    else {
        const ProductTerm term = product_term(a, b);
        product_kernel(options.isa, options.ifma)(std::span(&term, 1), product, plan.bits, plan.length, 0, options.pool);
    }
    // The sum mod 2^(64 n) - 1: the spare limbs added to the low ones, and a
    // carry out of the top added back at the bottom (it cannot carry out
    // again: the low limbs are then below the carry's size).
    unsigned __int128 carry = 0;
    for (size_t i = 0; i < n; ++i) {
        carry += static_cast<unsigned __int128>(product[i]) + (i < WRAPPED_SPARE_LIMBS ? product[n + i] : 0);
        product[i] = static_cast<uint64_t>(carry);
        carry >>= 64;
    }
    std::fill(product.begin() + n, product.end(), 0);
    const std::span<uint64_t> wrapped = product.first(n);
    for (size_t i = 0; carry != 0; ++i) {
        require_bound(i < n, "wrapped product's carry absorbed");
        carry += wrapped[i];
        wrapped[i] = static_cast<uint64_t>(carry);
        carry >>= 64;
    }
    // 2^(64 n) - 1, all one bits, stands for 0.
    if (std::all_of(wrapped.begin(), wrapped.end(), [](uint64_t limb) { return limb == ~uint64_t{0}; }))
        std::fill(wrapped.begin(), wrapped.end(), 0);
    check_ntt_product(a, b, wrapped);
}

void check_ntt_product(std::span<const uint64_t> a, std::span<const uint64_t> b, std::span<const uint64_t> product)
{
    require_bound(same_mod_word(residue_mod_word(product), multiply_mod_word(residue_mod_word(a), residue_mod_word(b))),
                  "transform product matches its operands mod 2^64 - 1");
}
