// The transform multiplication against products made another way: a
// schoolbook product of the limbs, on random operands of many sizes, at the
// transform lengths' boundaries, unbalanced, and of all one bits (the
// largest coefficients).
#include "exactness.hpp"
#include "fork_join_pool.hpp"
#include "ntt/coefficients.hpp"
#include "ntt/ntt_multiply.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {

using Limbs = std::vector<uint64_t>;

Limbs schoolbook(const Limbs& a, const Limbs& b)
{
    Limbs product(a.size() + b.size(), 0);
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned __int128 carry = 0;
        for (size_t j = 0; j < b.size(); ++j) {
            carry += static_cast<unsigned __int128>(a[i]) * b[j] + product[i + j];
            product[i + j] = static_cast<uint64_t>(carry);
            carry >>= 64;
        }
        for (size_t k = i + b.size(); carry != 0; ++k) {
            carry += product[k];
            product[k] = static_cast<uint64_t>(carry);
            carry >>= 64;
        }
    }
    return product;
}

Limbs random_limbs(std::mt19937_64& random, size_t count)
{
    Limbs limbs(count);
    for (uint64_t& limb : limbs)
        limb = random();
    return limbs;
}

Limbs plain_product(const Limbs& a, const Limbs& b)
{
    Limbs product(a.size() + b.size(), 1);  // overwritten whole
    ntt_multiply_plain(a, b, product);
    return product;
}

}  // namespace

TEST(NttMultiply, PlainProductsEqualSchoolbookProducts)
{
    std::mt19937_64 random(1);
    // Sizes whose coefficient counts sit at transform lengths 2^k and
    // 3 * 2^k and one past them, and random ones.
    std::vector<std::pair<size_t, size_t>> sizes = {{1, 1}, {1, 2}, {2, 1}, {3, 3}, {6, 6}, {12, 12}, {13, 11},
                                                   {24, 24}, {25, 24}, {47, 1}, {1, 96}, {100, 3}, {191, 192}};
    for (int i = 0; i < 20; ++i)
        sizes.push_back({1 + random() % 300, 1 + random() % 300});
    for (const auto& [a_limbs, b_limbs] : sizes) {
        const Limbs a = random_limbs(random, a_limbs), b = random_limbs(random, b_limbs);
        EXPECT_EQ(plain_product(a, b), schoolbook(a, b)) << a_limbs << " by " << b_limbs << " limbs";
    }
}

TEST(NttMultiply, PlainProductsOfAllOnesAndOfZeros)
{
    for (size_t limbs : {1u, 2u, 3u, 64u, 257u}) {
        const Limbs ones(limbs, ~uint64_t{0});
        EXPECT_EQ(plain_product(ones, ones), schoolbook(ones, ones)) << limbs << " limbs of ones";
        const Limbs zeros(limbs, 0);
        EXPECT_EQ(plain_product(ones, zeros), Limbs(2 * limbs, 0)) << limbs << " limbs";
    }
    EXPECT_EQ(plain_product({}, {5}), Limbs(1, 0));
}

TEST(NttMultiply, FastProductsOnEveryPathEqualPlainProducts)
{
    std::mt19937_64 random(2);
    std::vector<std::pair<size_t, size_t>> sizes = {{1, 1}, {2, 3}, {24, 24}, {48, 48}, {100, 100}, {1, 1000},
                                                   {1000, 7}, {3000, 3000}, {4096, 4096}, {5000, 4999}};
    for (int i = 0; i < 10; ++i)
        sizes.push_back({1 + random() % 6000, 1 + random() % 6000});
    for (const auto& [a_limbs, b_limbs] : sizes) {
        const Limbs a = random_limbs(random, a_limbs), b = random_limbs(random, b_limbs);
        const Limbs expected = plain_product(a, b);
        for (const NttKernel& kernel : ntt_kernels_here()) {
            Limbs product(a.size() + b.size(), 7);
            ntt_multiply(a, b, product, kernel.options);
            EXPECT_EQ(product, expected) << a_limbs << " by " << b_limbs << " limbs on " << kernel.name;
        }
    }
}

namespace {

Limbs fast_product(const Limbs& a, const Limbs& b, const NttKernel& kernel, ForkJoinPool* pool = nullptr)
{
    Limbs product(a.size() + b.size(), 3);
    NttOptions options = kernel.options;
    options.pool = pool;
    ntt_multiply(a, b, product, options);
    return product;
}

}  // namespace

TEST(NttMultiply, AtEveryTransformLengthsBoundaryEveryPathAgrees)
{
    // Balanced sizes where the planned length steps up (from 2^k to 3 2^k
    // or on) or the top made apart starts, stops or grows, one limb either
    // side, every path against the portable one, which the plain transform
    // vouches for below 1,000 limbs.
    std::mt19937_64 random(3);
    std::vector<size_t> sizes;
    for (size_t limbs = 2; limbs <= 20000; ++limbs) {
        const NttPlan plan = plan_ntt_product(limbs, limbs), before = plan_ntt_product(limbs - 1, limbs - 1);
        if (plan.length != before.length || plan.top_length != before.top_length)
            for (size_t near : {limbs - 1, limbs, limbs + 1})
                sizes.push_back(near);
    }
    ASSERT_GT(sizes.size(), 20u);
    for (const size_t limbs : sizes) {
        const Limbs a = random_limbs(random, limbs), b = random_limbs(random, limbs);
        const Limbs expected = limbs < 1000 ? plain_product(a, b) : fast_product(a, b, ntt_kernels_here().front());
        for (const NttKernel& kernel : ntt_kernels_here())
            EXPECT_EQ(fast_product(a, b, kernel), expected) << limbs << " limbs on " << kernel.name;
    }
}

TEST(NttMultiply, ProductsWithTheirTopMadeApartEqualSchoolbookProducts)
{
    // Products planned one length short, their top coefficients made by a
    // second, shorter product: the shortest top, tops of several sizes,
    // unbalanced operands, a square, all one bits, and two threads.
    std::mt19937_64 random(7);
    std::vector<std::pair<size_t, size_t>> sizes;
    for (size_t limbs = 100; limbs <= 12000 && sizes.size() < 12; limbs += 37)
        if (plan_ntt_product(limbs, limbs + 5).top_length != 0)
            sizes.push_back({limbs, limbs + 5});
    for (size_t a_limbs : {3200u, 6500u})
        for (size_t b_limbs = 100; b_limbs <= a_limbs; b_limbs += 211)
            if (plan_ntt_product(a_limbs, b_limbs).top_length != 0) {
                sizes.push_back({a_limbs, b_limbs});
                break;
            }
    ASSERT_GT(sizes.size(), 8u);
    ForkJoinPool pool(2);
    for (const auto& [a_limbs, b_limbs] : sizes) {
        const Limbs a = random_limbs(random, a_limbs), b = random_limbs(random, b_limbs);
        const Limbs expected = schoolbook(a, b);
        for (const NttKernel& kernel : ntt_kernels_here())
            EXPECT_EQ(fast_product(a, b, kernel, &pool), expected) << a_limbs << " by " << b_limbs << " on " << kernel.name;
    }
    const size_t limbs = sizes.back().first;
    const Limbs ones(limbs, ~uint64_t{0});
    const Limbs expected = schoolbook(ones, ones);
    for (const NttKernel& kernel : ntt_kernels_here()) {
        Limbs square(2 * limbs);
        NttOptions options = kernel.options;
        ntt_multiply(ones, ones, square, options);
        EXPECT_EQ(square, expected) << limbs << " limbs of ones squared on " << kernel.name;
    }
}

TEST(NttMultiply, NarrowCoefficientsWithAndWithoutTheTopMadeApart)
{
    // The plans of the largest products, coefficients narrower than a limb
    // (cut across limbs and carried through a window), at sizes where
    // schoolbook products check them: every width's cut through a limb,
    // with the whole length and with the length below and the top apart.
    std::mt19937_64 random(11);
    for (const int bits : {61, 50, 37, 23}) {
        for (const auto& [a_limbs, b_limbs] : std::vector<std::pair<size_t, size_t>>{{700, 690}, {1500, 200}}) {
            const Limbs a = random_limbs(random, a_limbs), b = random_limbs(random, b_limbs);
            const Limbs expected = schoolbook(a, b);
            const size_t count = coefficient_count(a_limbs, bits) + coefficient_count(b_limbs, bits) - 1;
            const size_t longest = std::max(coefficient_count(a_limbs, bits), coefficient_count(b_limbs, bits));
            std::vector<NttPlan> plans;
            size_t whole = 64;
            while (whole < count)
                whole *= 2;
            plans.push_back({bits, whole, 0});
            for (size_t below = 64; below < count; below *= 2)
                if (below >= longest) {
                    size_t top = 64;
                    while (top < 2 * (count - below) - 1)
                        top *= 2;
                    plans.push_back({bits, below, top});
                }
            for (const NttPlan& plan : plans)
                for (const NttKernel& kernel : ntt_kernels_here()) {
                    Limbs product(a_limbs + b_limbs, 9);
                    NttOptions options = kernel.options;
                    ntt_multiply_planned(a, b, product, plan, options);
                    EXPECT_EQ(product, expected) << a_limbs << " by " << b_limbs << " limbs, " << bits << " bits, length "
                                                 << plan.length << ", top " << plan.top_length << " on "
                                                 << kernel.name;
                }
        }
    }
    // A plan that cannot hold the convolution is refused.
    const Limbs a = random_limbs(random, 100);
    Limbs product(200);
    EXPECT_THROW(ntt_multiply_planned(a, a, product, NttPlan{64, 128, 0}), ExactnessViolation);
}

TEST(NttMultiply, FirstPassesThatLeaveOutZeroValuesEqualSchoolbookProducts)
{
    // An operand with at most half a length's coefficients (two thirds of
    // a 3 2^k) is not read past them: the tree's first pass makes the upper
    // half from the lower (one level, 2^14, or two, 2^15), and the radix-3
    // split leaves out the third block. At those counts and one past them,
    // one operand dense beside one that is not, every path.
    std::mt19937_64 random(9);
    struct Case {
        size_t a_limbs, b_limbs, length;
    };
    for (const auto& [a_limbs, b_limbs, length] : std::vector<Case>{{16384, 14000, 32768},
                                                                   {16385, 14000, 32768},
                                                                   {8192, 7000, 16384},
                                                                   {8193, 7000, 16384},
                                                                   {8192, 14000, 24576},
                                                                   {16385, 7000, 24576}}) {
        const NttPlan plan = plan_ntt_product(a_limbs, b_limbs);
        ASSERT_EQ(plan.length, length) << a_limbs << " by " << b_limbs;
        ASSERT_EQ(plan.top_length, 0u) << a_limbs << " by " << b_limbs;
        const Limbs a = random_limbs(random, a_limbs), b = random_limbs(random, b_limbs);
        const Limbs expected = schoolbook(a, b);
        for (const NttKernel& kernel : ntt_kernels_here())
            EXPECT_EQ(fast_product(a, b, kernel), expected) << a_limbs << " by " << b_limbs << " on " << kernel.name;
    }
}

TEST(NttMultiply, UnbalancedOperandsAndTheLargestCoefficients)
{
    std::mt19937_64 random(4);
    for (const auto& [a_limbs, b_limbs] : std::vector<std::pair<size_t, size_t>>{
             {5000, 1}, {1, 5000}, {4000, 31}, {12345, 678}, {900, 9000}}) {
        const Limbs a = random_limbs(random, a_limbs), b = random_limbs(random, b_limbs);
        const Limbs expected = fast_product(a, b, ntt_kernels_here().front());
        EXPECT_EQ(expected, schoolbook(a, b)) << a_limbs << " by " << b_limbs;
        for (const NttKernel& kernel : ntt_kernels_here())
            EXPECT_EQ(fast_product(a, b, kernel), expected) << a_limbs << " by " << b_limbs << " on " << kernel.name;
    }
    // All one bits: every coefficient at its largest, every convolution sum
    // at the bound the primes must clear.
    for (size_t limbs : {700u, 4096u, 6000u}) {
        const Limbs ones(limbs, ~uint64_t{0});
        const Limbs expected = schoolbook(ones, ones);
        for (const NttKernel& kernel : ntt_kernels_here())
            EXPECT_EQ(fast_product(ones, ones, kernel), expected) << limbs << " limbs of ones on " << kernel.name;
    }
}

TEST(NttMultiply, SquaresAndThreadCountsGiveTheSameProduct)
{
    std::mt19937_64 random(5);
    const Limbs a = random_limbs(random, 20000), b = random_limbs(random, 17000);
    for (const NttKernel& kernel : ntt_kernels_here()) {
        const Limbs alone = fast_product(a, b, kernel);
        Limbs square(2 * a.size());
        NttOptions options = kernel.options;
        ntt_multiply(a, a, square, options);  // the same span: one transform the fewer
        EXPECT_EQ(square, fast_product(a, Limbs(a), kernel)) << kernel.name;
        for (int32_t threads : {1, 2, 3}) {
            ForkJoinPool pool(threads);
            EXPECT_EQ(fast_product(a, b, kernel, &pool), alone) << threads << " threads on " << kernel.name;
        }
    }
    // All one bits, whose carries run across the limb where two threads'
    // halves of the carrying meet.
    const Limbs ones(20000, ~uint64_t{0});
    const Limbs expected = plain_product(ones, ones);
    ForkJoinPool pool(2);
    for (const NttKernel& kernel : ntt_kernels_here())
        EXPECT_EQ(fast_product(ones, ones, kernel, &pool), expected) << "ones on " << kernel.name;
}

namespace {

// a * b + c * d by schoolbook products, in max(n_a + n_b, n_c + n_d) + 1 limbs.
Limbs schoolbook_sum(const Limbs& a, const Limbs& b, const Limbs& c, const Limbs& d)
{
    Limbs first = schoolbook(a, b), second = schoolbook(c, d);
    Limbs sum(std::max(first.size(), second.size()) + 1, 0);
    unsigned __int128 carry = 0;
    for (size_t i = 0; i < sum.size(); ++i) {
        carry += static_cast<unsigned __int128>(i < first.size() ? first[i] : 0) + (i < second.size() ? second[i] : 0);
        sum[i] = static_cast<uint64_t>(carry);
        carry >>= 64;
    }
    return sum;
}

Limbs fast_sum(const Limbs& a, const Limbs& b, const Limbs& c, const Limbs& d, const NttKernel& kernel,
               ForkJoinPool* pool = nullptr)
{
    Limbs sum(std::max(a.size() + b.size(), c.size() + d.size()) + 1, 5);
    NttOptions options = kernel.options;
    options.pool = pool;
    ntt_multiply_add(a, b, c, d, sum, options);
    return sum;
}

}  // namespace

TEST(NttMultiply, SumsOfTwoProductsEqualSchoolbookSums)
{
    // Balanced and unbalanced terms, the longer one first or second, a term
    // much shorter than the other, squares (the same span twice), all one
    // bits (the sum's coefficients at the bound the primes must clear),
    // every path and 1 to 3 threads.
    std::mt19937_64 random(8);
    struct Sizes {
        size_t a, b, c, d;
    };
    std::vector<Sizes> sizes = {{1, 1, 1, 1}, {300, 300, 300, 300}, {700, 500, 20, 900},  {64, 2000, 1500, 1500},
                                {3000, 2999, 1, 1}, {1, 1, 2500, 2600}, {4096, 4096, 4096, 4096}};
    for (int i = 0; i < 6; ++i)
        sizes.push_back({1 + random() % 5000, 1 + random() % 5000, 1 + random() % 5000, 1 + random() % 5000});
    for (const Sizes& size : sizes) {
        const Limbs a = random_limbs(random, size.a), b = random_limbs(random, size.b);
        const Limbs c = random_limbs(random, size.c), d = random_limbs(random, size.d);
        const Limbs expected = schoolbook_sum(a, b, c, d);
        for (const NttKernel& kernel : ntt_kernels_here())
            EXPECT_EQ(fast_sum(a, b, c, d, kernel), expected)
                << size.a << " " << size.b << " " << size.c << " " << size.d << " on " << kernel.name;
    }
    const Limbs ones(5000, ~uint64_t{0});
    const Limbs expected_ones = schoolbook_sum(ones, ones, ones, ones);
    const Limbs a = random_limbs(random, 3000), c = random_limbs(random, 2000), d = random_limbs(random, 2100);
    const Limbs expected_square = schoolbook_sum(a, a, c, d);
    for (const NttKernel& kernel : ntt_kernels_here()) {
        for (int32_t threads : {1, 2, 3}) {
            ForkJoinPool pool(threads);
            EXPECT_EQ(fast_sum(ones, ones, ones, ones, kernel, &pool), expected_ones)
                << "ones on " << kernel.name << ", " << threads << " threads";
        }
        Limbs sum(a.size() * 2 + 1);
        NttOptions options = kernel.options;
        ntt_multiply_add(a, a, c, d, sum, options);  // a squared: one transform the fewer
        EXPECT_EQ(sum, expected_square) << kernel.name;
    }
}

TEST(NttMultiply, ProductsByAKeptTransformEqualSchoolbookProducts)
{
    // One factor transformed once, then multiplied by operands of many
    // sizes that its plan holds: the shortest, the longest (the convolution
    // filling the length), all ones, on every path and thread count; a 3M
    // length and a power of two, 64-bit and narrower coefficients.
    std::mt19937_64 random(11);
    struct Case {
        size_t factor_limbs, longest;
        NttPlan plan;
    };
    const Case cases[] = {{300, 1200, plan_ntt_product(1200, 300)},
                          {2000, 10000, plan_ntt_product(10000, 2000)},
                          {700, 45000, plan_ntt_product(45000, 700)},
                          // 48-bit coefficients: 4000 and 934 of them fill 4933 of 3 * 2^11.
                          {700, 3000, NttPlan{48, 6144}}};
    for (const auto& [factor_limbs, longest, plan] : cases) {
        const Limbs factor = random_limbs(random, factor_limbs);
        ASSERT_EQ(plan.top_length, 0u);
        for (const NttKernel& kernel : ntt_kernels_here())
            for (int32_t threads : {1, 2, 3}) {
                ForkJoinPool pool(threads);
                NttOptions options = kernel.options;
                options.pool = &pool;
                const NttTransform kept(factor, plan, options);
                ASSERT_TRUE(kept.holds(longest) && kept.holds(1));
                for (size_t limbs : {size_t{1}, factor_limbs / 3, factor_limbs, longest / 2 + 17, longest}) {
                    const Limbs a = limbs == longest ? Limbs(limbs, ~uint64_t{0}) : random_limbs(random, limbs);
                    Limbs product(a.size() + factor.size(), 1);
                    kept.multiply(a, factor, product, options);
                    EXPECT_EQ(product, schoolbook(a, factor))
                        << limbs << " by a kept " << factor_limbs << " on " << kernel.name << ", " << threads << " threads";
                }
            }
    }
    // An operand past what the plan holds, a factor other than the one
    // transformed, and another kernel's transforms are refused.
    const Limbs factor = random_limbs(random, 500);
    const NttPlan plan = plan_ntt_product(2000, 500);
    const std::vector<NttKernel> kernels = ntt_kernels_here();
    const NttKernel& kernel = kernels.back();
    const NttTransform kept(factor, plan, kernel.options);
    size_t too_long = 2000;
    while (kept.holds(too_long))
        ++too_long;
    Limbs product(too_long + factor.size());
    EXPECT_THROW(kept.multiply(random_limbs(random, too_long), factor, product, kernel.options), ExactnessViolation);
    Limbs other = factor;
    ++other[7];
    product.resize(2000 + factor.size());
    EXPECT_THROW(kept.multiply(random_limbs(random, 2000), other, product, kernel.options), ExactnessViolation);
    if (kernels.size() > 1) {
        EXPECT_THROW(kept.multiply(random_limbs(random, 2000), factor, product, kernels.front().options),
                     ExactnessViolation);
    }
}

TEST(NttMultiply, TheProductCheckCatchesAWrongCoefficient)
{
    std::mt19937_64 random(6);
    const Limbs a = random_limbs(random, 3000), b = random_limbs(random, 2000);
    Limbs product = fast_product(a, b, ntt_kernels_here().back());
    EXPECT_NO_THROW(check_ntt_product(a, b, product));
    // One coefficient off by one, as a slip in one residue would leave it.
    for (const size_t limb : {size_t{0}, size_t{1234}, product.size() - 2}) {
        Limbs wrong = product;
        ++wrong[limb];
        EXPECT_THROW(check_ntt_product(a, b, wrong), ExactnessViolation) << "limb " << limb;
    }
}

namespace {

// x mod 2^(64 n) - 1 for x of any length, in [0, 2^(64 n) - 1): its pieces
// of n limbs added with the carry wrapped around, all ones made 0.
Limbs wrapped(const Limbs& x, size_t n)
{
    Limbs result(n, 0);
    for (size_t start = 0; start < x.size(); start += n) {
        unsigned __int128 carry = 0;
        for (size_t i = 0; i < n; ++i) {
            carry += static_cast<unsigned __int128>(result[i]) + (start + i < x.size() ? x[start + i] : 0);
            result[i] = static_cast<uint64_t>(carry);
            carry >>= 64;
        }
        for (size_t i = 0; carry != 0; ++i) {
            carry += result[i];
            result[i] = static_cast<uint64_t>(carry);
            carry >>= 64;
        }
    }
    if (std::all_of(result.begin(), result.end(), [](uint64_t limb) { return limb == ~uint64_t{0}; }))
        std::fill(result.begin(), result.end(), 0);
    return result;
}

// A wrapped product as its array holds it: the spare limbs 0.
Limbs with_spare_limbs(Limbs wrapped_product)
{
    wrapped_product.resize(wrapped_product.size() + WRAPPED_SPARE_LIMBS, 0);
    return wrapped_product;
}

}  // namespace

TEST(NttMultiply, WrappedProductsAreTheProductModuloTwoToTheLengthMinusOne)
{
    std::mt19937_64 random(7);
    // The wrapped lengths at and either side of their steps, operands
    // filling them, shorter, of all one bits and squared, on every path and
    // thread count.
    EXPECT_EQ(ntt_wrapped_limbs(1), ntt_wrapped_limbs(ntt_wrapped_limbs(1)));
    for (const size_t wanted : {size_t{1}, size_t{64}, size_t{65}, size_t{192}, size_t{193}, size_t{3000}, size_t{12289}}) {
        const size_t n = ntt_wrapped_limbs(wanted);
        ASSERT_GE(n, wanted);
        ASSERT_EQ(ntt_wrapped_limbs(n), n);
        const std::vector<std::pair<Limbs, Limbs>> operands = {
            {random_limbs(random, n), random_limbs(random, n)},
            {random_limbs(random, n), random_limbs(random, 1 + random() % n)},
            {Limbs(n, ~uint64_t{0}), Limbs(n, ~uint64_t{0})},
            {Limbs(n, ~uint64_t{0}), Limbs(n - 1, ~uint64_t{0})},
        };
        for (const auto& [a, b] : operands) {
            const Limbs expected = wrapped(plain_product(a, b), n);
            for (const NttKernel& kernel : ntt_kernels_here()) {
                for (int32_t threads : {1, 2}) {
                    ForkJoinPool pool(threads);
                    NttOptions options = kernel.options;
                    options.pool = &pool;
                    Limbs product(n + WRAPPED_SPARE_LIMBS, 5);
                    ntt_multiply_wrapped(a, b, product, options);
                    EXPECT_EQ(product, with_spare_limbs(expected)) << n << " limbs, " << b.size() << " in b, on "
                                                 << kernel.name << ", " << threads << " threads";
                }
            }
            Limbs square(n + WRAPPED_SPARE_LIMBS, 5);
            ntt_multiply_wrapped(a, a, square);
            EXPECT_EQ(square, with_spare_limbs(wrapped(plain_product(a, a), n))) << n << " limbs squared";
        }
    }
}

TEST(NttMultiply, WrappedProductsPastTheLengthWhereCoefficientsNarrow)
{
    // From transform length 2^21 a cyclic coefficient of 64-bit pieces
    // would pass the primes' product: 63-bit pieces, 63 limbs for every 64
    // coefficients. Against the whole product, itself checked against the
    // plain one elsewhere.
    std::mt19937_64 random(8);
    const size_t n = ntt_wrapped_limbs(1572865);
    EXPECT_EQ(n, 63 * (size_t{1} << 21) / 64);
    const Limbs a = random_limbs(random, n), b = random_limbs(random, n - 5);
    Limbs whole(a.size() + b.size()), product(n + WRAPPED_SPARE_LIMBS, 5);
    ntt_multiply(a, b, whole);
    ntt_multiply_wrapped(a, b, product);
    EXPECT_EQ(product, with_spare_limbs(wrapped(whole, n)));
}
