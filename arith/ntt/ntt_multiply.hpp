// Exact products of non-negative integers by number-theoretic transforms:
// the operands, arrays of 64-bit limbs least significant first (GMP's
// layout), are cut into coefficients of b <= 64 bits, their cyclic
// convolution is computed modulo three primes near 2^50 by transforms of
// length 2^k or 3 * 2^k, and each coefficient of the product is rebuilt
// from its three residues by the Chinese remainder theorem. Exact because
// every coefficient of the convolution is below min(n_a, n_b) 2^(2b), and
// the plan takes b with 2b + bit_width(n) <= 149, below the primes' product
// (above 2^149.99).
//
// This header is all the rest of the library sees of the subsystem; it
// needs no GMP.
#pragma once

#include "block_memory.hpp"
#include "cpu_features.hpp"
#include "fork_join_pool.hpp"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

struct NttOptions {
    VectorIsa isa = best_vector_isa();  // the CPU path; every path gives the same product
    // On the AVX-512 path, AVX-512 IFMA's 52-bit integer products where the
    // CPU has them; false: the double-precision arithmetic. On this EPYC the
    // IFMA kernel takes 4 to 11% less time for products of 10^3 to 10^5
    // limbs, about as much at 10^6 and 7% less at 10^7 (bench/ntt_bench).
    bool ifma = true;
    ForkJoinPool* pool = nullptr;  // threads to share each transform with, if any
};

// Every transform kernel this CPU runs, as the options that choose it (with
// no pool) and its name: "portable", "avx2", "avx512" and "avx512-ifma".
// The tests and the benchmarks take each in turn.
struct NttKernel {
    NttOptions options;
    const char* name;
};
std::vector<NttKernel> ntt_kernels_here();

// product <- a * b; product has a.size() + b.size() limbs and may not
// overlap a or b. a and b the same span: a squared, with one transform the
// fewer. Every product is checked against its operands modulo 2^64 - 1 (a
// sum of limbs, cheap against the product): a wrong product, from a fault
// in the code or in the machine, throws ExactnessViolation naming the check.
void ntt_multiply(std::span<const uint64_t> a, std::span<const uint64_t> b, std::span<uint64_t> product,
                  const NttOptions& options = {});

// sum <- a * b + c * d, for operands of a limb at least; sum has
// max(n_a + n_b, n_c + n_d) + 1 limbs and may not overlap the operands. One
// inverse transform and one carrying for the two products, their
// transforms' pointwise products added; checked against the operands
// modulo 2^64 - 1 as every product is.
void ntt_multiply_add(std::span<const uint64_t> a, std::span<const uint64_t> b, std::span<const uint64_t> c,
                      std::span<const uint64_t> d, std::span<uint64_t> sum, const NttOptions& options = {});

// Whether ntt_multiply_add makes a * b + c * d faster than two products and
// their sum: where the two products' transform lengths are alike. One
// product is three transforms and a carrying into limbs, worth about one
// and a half transforms; the sum is five at the longer length and one
// carrying.
bool ntt_sum_pays(size_t a_limbs, size_t b_limbs, size_t c_limbs, size_t d_limbs);

// The least limb count n >= at_least (at_least >= 1) that ntt_multiply_wrapped
// takes: 64 n bits are a transform length's worth of coefficients.
size_t ntt_wrapped_limbs(size_t at_least);

// The limbs a wrapped product's array holds beyond its n: the convolution's
// sum reaches that far past 2^(64 n) before it is folded.
inline constexpr size_t WRAPPED_SPARE_LIMBS = 3;

// a * b mod 2^(64 n) - 1 for n = product.size() - WRAPPED_SPARE_LIMBS, a
// count from ntt_wrapped_limbs, and operands of at most n limbs each, into
// the first n limbs of product; the spare limbs are left 0. One cyclic
// convolution of the length that holds n limbs, half the length that the
// whole product needs, carried and folded in the product's own limbs. The
// result lies in [0, 2^(64 n) - 1), and is checked against the operands
// modulo 2^64 - 1 as every product is.
void ntt_multiply_wrapped(std::span<const uint64_t> a, std::span<const uint64_t> b, std::span<uint64_t> product,
                          const NttOptions& options = {});

// Throws ExactnessViolation unless product = a * b mod 2^64 - 1: the check
// every ntt_multiply makes of its product.
void check_ntt_product(std::span<const uint64_t> a, std::span<const uint64_t> b, std::span<const uint64_t> product);

// The smaller operand's limbs from which the transforms on isa beat GMP's
// multiplication, whatever the larger operand's (SIZE_MAX where they never
// do).
size_t ntt_crossover_limbs(VectorIsa isa);

// The coefficient size and the transform length of a product of a_limbs by
// b_limbs limbs: the shortest length 2^k or 3 * 2^k that holds the
// convolution with coefficients as large as exactness allows, or, where it
// costs less, the length below it with the convolution's top made apart by
// transforms of top_length (0 where there is no such top).
struct NttPlan {
    int bits;
    size_t length;
    size_t top_length = 0;
};
NttPlan plan_ntt_product(size_t a_limbs, size_t b_limbs);
// product <- a * b by the plan given: one plan_ntt_product gives, or one
// with narrower coefficients, a longer length or its top made apart, as
// long as it holds the convolution exactly (checked). The tests take it to
// every path through the kernels at sizes where the planner would not.
void ntt_multiply_planned(std::span<const uint64_t> a, std::span<const uint64_t> b, std::span<uint64_t> product,
                          const NttPlan& plan, const NttOptions& options = {});

// A factor's forward transforms, kept for several products by it of one
// plan's bits and length: each such product is one forward transform and
// one inverse a prime instead of two and one. The transforms take three
// times the plan's length in 8-byte values, several times the factor's
// limbs; the products are checked modulo 2^64 - 1 as every product is.
class NttTransform {
public:
    // The factor's transforms by the plan (a plan without a top made
    // apart) and the kernel the options choose.
    NttTransform(std::span<const uint64_t> factor, const NttPlan& plan, const NttOptions& options = {});
    NttTransform(const NttTransform&) = delete;
    NttTransform& operator=(const NttTransform&) = delete;

    const NttPlan& plan() const { return plan_; }
    // Whether a product by an operand of `limbs` limbs fits the plan exactly.
    bool holds(size_t limbs) const;

    // product <- a * factor, a.size() + factor.size() limbs, for the factor
    // the transforms were made of (its residue mod 2^64 - 1 is compared),
    // by the kernel that made them; a must be one the plan holds.
    void multiply(std::span<const uint64_t> a, std::span<const uint64_t> factor, std::span<uint64_t> product,
                  const NttOptions& options = {}) const;

private:
    NttPlan plan_;
    size_t limbs_;
    uint64_t residue_;  // the factor mod 2^64 - 1
    NttOptions made_by_;  // the kernel that made the transforms
    BlockArray<uint64_t> values_;
};

// The same for the sum of products a * b + c * d.
NttPlan plan_ntt_sum(size_t a_limbs, size_t b_limbs, size_t c_limbs, size_t d_limbs);

// product <- a * b; product has a.size() + b.size() limbs and may not
// overlap a or b. By transforms written for clarity, one prime after
// another: the reference the fast transforms are tested against.
void ntt_multiply_plain(std::span<const uint64_t> a, std::span<const uint64_t> b, std::span<uint64_t> product);
