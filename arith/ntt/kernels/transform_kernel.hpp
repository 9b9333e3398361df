// The body shared by the fast transform kernels: the cyclic convolutions of
// two coefficient arrays modulo the three primes, by transforms of length
// 2^k or 3 * 2^k, over the values and the arithmetic a kernel file describes
// in a traits type. The kernels differ only in those few lines: portable.cpp
// in 64-bit words, avx2.cpp and avx512.cpp in vectors of doubles.
//
// The transform is the remainder tree of x^M - 1. A block of 2 len values
// that holds a polynomial mod x^(2 len) - s^2 splits into two blocks, the
// polynomial mod x^len - s and mod x^len + s: (a, b) -> (a + s b, a - s b)
// for each pair len apart. At the level of m blocks, block i has
// s = w_2m^brev_m(i) (w_2m a root of order 2m, brev_m reversing log2 m
// bits), and the table of these for the finest level holds every coarser
// level's as its first entries. The leaves hold the transform in
// bit-reversed order, which the pointwise product does not mind. The inverse
// undoes each level, (u, v) -> (u + v, (u - v) s^-1), which doubles what the
// forward level made, so the result is M times the convolution; the
// pointwise product divides by the length once.
//
// Where the twiddles come from. Blocks larger than CACHED_BLOCK (the top
// levels) read s from a table of the top levels, made for each transform.
// A block of C = CACHED_BLOCK values that is block i0 of its level (of m0
// blocks) runs all its levels in the cache; at its level of c blocks, its
// block k has s = t_k r_c, where t_k = w_C^brev(k) is fixed (the small
// table, made once per prime) and r_c = u^(C / 2c) with
// u = w_M^brev_m0(i0), one power per cached block:
//   w_2m0c^brev(i0 c + k) = w_2m0c^(brev(k) m0 + brev(i0)) = w_2c^brev(k) w_M^(brev(i0) C / 2c).
// The last log2 LANES levels, whose blocks are narrower than a register,
// run on LANES blocks at once, transposed so that a lane holds a block; their
// t_k are kept ordered for that (the leaf tables).
//
// A length 3M first splits x^(3M) - 1 into the three blocks x^M - c,
// c = 1, w_3, w_3^2, and twists block b by w_3M^(b j) so that each becomes a
// cyclic transform of length M: with d = w_3,
//   y_0 = x_0 + x_1 + x_2,
//   y_1 = ((x_0 - x_2) + d (x_1 - x_2)) w^j,   (x_0 + d x_1 + d^2 x_2, as 1 + d + d^2 = 0)
//   y_2 = ((x_0 - x_1) + d (x_2 - x_1)) w^(2j).
//
// Ranges. Every value is a lazy residue: an integer congruent to the
// residue within a bound X p (|v| <= X p for the signed residues of
// modular.hpp, v in [0, X p) for the unsigned ones of the IFMA kernel),
// reduced only where a pass would let a bound pass what the arithmetic
// takes. The forward levels multiply first, (a, b) -> (a + s b, a - s b), so
// a pass's outputs exceed its unmultiplied input by the products' bounds
// alone; reducing that one input (a0 of the four of a two-level pass) keeps
// every value within FORWARD_BOUND. The inverse levels add first,
// (u, v) -> (u + v, (u - v) s), and the sums would double at each level;
// reducing the first level's sums keeps every value within INVERSE_BOUND.
// An arithmetic whose products take a narrower range than its sums reach
// (IFMA's 52-bit operands) also settles the values a pass goes on with;
// for the others settling is nothing. The bounds are checked below, at
// compile time, by the traits' range rules, for every pass.
//
// Threads. The cached blocks of a transform are independent; the halves of
// a large block go to two threads where the pool has one free.
//
// Target. The including file defines KERNEL_TARGET as its target attribute
// (empty for the portable kernel) before including this header; everything
// here has internal linkage, so each kernel file compiles a copy for its own
// target and nothing here can be picked by the linker for code that runs
// before the CPU check.
//
// A traits type T has, all static and KERNEL_TARGET:
//   Value, Quotient            what a lazy residue, and a factor's quotient,
//                              are held as in the arrays
//   Vector, LANES              LANES values in one register (LANES may be 1)
//   Arithmetic                 built from a Modulus: the prime's constants
//   load(const Value*), store(Value*, Vector)
//   split_words(const uint64_t*, high, low)
//                              LANES words' high and low 32 bits as values
//   add(a, b), subtract(a, b, A)
//                              a + b, and a value congruent to a - b
//   reduce(a, A), settle(a, A) a lazy residue within after_reduce, and
//                              after_settle, of a's bound
//   canonical(a, A)            for a within CANONICAL_FROM: the residue in [0, p)
//   Factor {s, quotient}, factor(r, A)
//                              a fixed factor, from its residue r in [0, p)
//   store_factors(s, quotients, v, A)
//                              the factors of the lanes of v (within
//                              FACTOR_FROM) as values and quotients
//   VectorFactor, vector_factor(v, A), vector_factor_value(r, Modulus)
//                              a factor in each lane, from v within
//                              FACTOR_FROM in the form vector_factor_value
//                              gives a residue r: multiplying keeps the form
//   multiply(a, f, A)          a s, within after_factor or
//                              after_vector_factor of a's bound
//   multiply_any(a, b, A)      a b times the inverse of
//                              any_product_scale(p), within after_any of
//                              the two bounds
//   transpose(Vector (&rows)[LANES])
//                              the LANES x LANES matrix of the rows, transposed
//   from_residue(uint64_t), to_residue(Value), to_integer(Value)
//                              between an integer and a Value (to_residue of
//                              a canonical value)
// and the range rules (SignedLazyRanges in modular.hpp for the signed
// residues): FORWARD_BOUND, INVERSE_BOUND, VALUE_LIMIT, CANONICAL_FROM,
// FACTOR_FROM, held, after_reduce, after_settle, after_difference,
// after_factor, after_vector_factor, after_any.
#pragma once

#ifndef KERNEL_TARGET
#error "define KERNEL_TARGET, the including kernel's target attribute, before including transform_kernel.hpp"
#endif

#include "block_memory.hpp"
#include "exactness.hpp"
#include "fork_join_pool.hpp"
#include "ntt/coefficients.hpp"
#include "ntt/kernels/ntt_kernels.hpp"
#include "ntt/modular.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <vector>

#define KERNEL_INLINE KERNEL_TARGET __attribute__((always_inline)) inline

namespace {

// Blocks of at most this many values run all their levels while they sit in
// the cache (2^13 doubles: 64 KiB).
constexpr size_t CACHED_BLOCK = size_t{1} << 13;
constexpr int CACHED_BLOCK_BITS = 13;
// Blocks of at least this many values hand their halves to two threads.
constexpr size_t FORK_BLOCK = size_t{1} << 15;

inline size_t bit_reverse(size_t value, int bits)
{
    size_t reversed = 0;
    for (int bit = 0; bit < bits; ++bit, value >>= 1)
        reversed = (reversed << 1) | (value & 1);
    return reversed;
}

inline int log2_of(size_t power_of_two)
{
    int bits = 0;
    while ((size_t{1} << bits) < power_of_two)
        ++bits;
    return bits;
}

// x_e = w^e for e < count, w in [0, p).
inline std::vector<uint64_t> powers_of(const Modulus& m, uint64_t w, size_t count)
{
    std::vector<uint64_t> powers(count);
    uint64_t power = 1;
    for (size_t e = 0; e < count; ++e) {
        powers[e] = power;
        power = m.multiply(power, w);
    }
    return powers;
}

template <class T>
struct TransformKernel {
    using Value = typename T::Value;
    using Vector = typename T::Vector;
    using Quotient = typename T::Quotient;
    using Arithmetic = typename T::Arithmetic;
    using Factor = typename T::Factor;
    using VectorFactor = typename T::VectorFactor;
    static constexpr size_t LANES = T::LANES;
    static constexpr int LEAF_LEVELS = LANES == 8 ? 3 : LANES == 4 ? 2 : LANES == 2 ? 1 : 0;
    static constexpr size_t LEAF_GROUP = LANES * LANES;  // values in LANES blocks of LANES
    static_assert(CACHED_BLOCK >= LEAF_GROUP && MIN_KERNEL_LENGTH >= LEAF_GROUP,
                  "a cached block, and the smallest transform, hold whole leaf groups");

    // ---- the ranges, in units of p, by the traits' rules

    static constexpr double max_of(double a, double b) { return a > b ? a : b; }
    static constexpr double sum(double x, double y) { return T::held(x + y); }
    // The larger of a + b and a - b.
    static constexpr double sum_or_difference(double a, double b) { return max_of(sum(a, b), T::after_difference(a, b)); }

    // Loaded coefficients are residues in [0, p) with, for a limb made of
    // its halves, less than 2^32 added; the radix-3 split of a 3M-length
    // takes them so.
    static constexpr double LOADED = 1 + 0x1p-17;
    // A forward two-level pass: a0 reduced, a1 settled, t2, t3 = x2 s,
    // x3 s; b0, b2 = a0 +- t2, settled; the outputs b0 +- u1 and b2 +- u3,
    // u = (a1 +- t3) s'.
    static constexpr double forward_pair(double b)
    {
        const double t = T::after_factor(b);
        const double half = T::after_settle(sum_or_difference(T::after_reduce(b), t));
        const double u = T::after_factor(sum_or_difference(T::after_settle(b), t));
        return sum_or_difference(half, u);
    }
    static constexpr double forward_single(double b)
    {
        return sum_or_difference(T::after_reduce(b), T::after_factor(b));
    }
    static constexpr double forward_leaf_level(double b)
    {
        return sum_or_difference(T::after_reduce(b), T::after_vector_factor(b));
    }
    // y0 reduced; y1 = (x0 - x2 + (x1 - x2) d), settled twice, times w^j,
    // and y2 the same.
    static constexpr double forward_thirds_bound()
    {
        const double difference = T::after_difference(LOADED, LOADED);
        const double y = T::after_settle(T::after_settle(sum(difference, T::after_factor(difference))));
        return max_of(T::after_reduce(3 * LOADED), T::after_vector_factor(y));
    }
    static constexpr double FORWARD_BOUND = T::FORWARD_BOUND;
    static_assert(forward_pair(FORWARD_BOUND) <= FORWARD_BOUND && forward_single(FORWARD_BOUND) <= FORWARD_BOUND &&
                      forward_leaf_level(FORWARD_BOUND) <= FORWARD_BOUND && forward_thirds_bound() <= FORWARD_BOUND &&
                      LOADED <= FORWARD_BOUND,
                  "every forward pass keeps its values within FORWARD_BOUND");

    // The pointwise product of two transforms, their values settled, then
    // times 1 / length; the sum of two such products the same.
    static constexpr double POINTWISE_PRODUCT =
        T::after_any(T::after_settle(FORWARD_BOUND), T::after_settle(FORWARD_BOUND));
    static constexpr double POINTWISE = T::after_factor(POINTWISE_PRODUCT);
    static constexpr double POINTWISE_SUM = T::after_factor(sum(POINTWISE_PRODUCT, POINTWISE_PRODUCT));

    // An inverse two-level pass with the first level's sums reduced: b1 =
    // (u0 - v0) s1, b3 the same, the outputs b0 + b2 and b1 + b3,
    // settled, and (b0 - b2) s and (b1 - b3) s.
    static constexpr double inverse_pair(double b)
    {
        const double even = T::after_reduce(sum(b, b));
        const double odd = T::after_factor(T::after_difference(b, b));
        return max_of(max_of(T::after_settle(sum(even, even)), T::after_factor(T::after_difference(even, even))),
                      max_of(T::after_settle(sum(odd, odd)), T::after_factor(T::after_difference(odd, odd))));
    }
    static constexpr double inverse_single(double b)
    {
        return max_of(T::after_reduce(sum(b, b)), T::after_factor(T::after_difference(b, b)));
    }
    static constexpr double inverse_leaf_level(double b)
    {
        return max_of(T::after_reduce(sum(b, b)), T::after_vector_factor(T::after_difference(b, b)));
    }
    static constexpr double INVERSE_BOUND = T::INVERSE_BOUND;
    static_assert(inverse_pair(INVERSE_BOUND) <= INVERSE_BOUND && inverse_single(INVERSE_BOUND) <= INVERSE_BOUND &&
                      inverse_leaf_level(INVERSE_BOUND) <= INVERSE_BOUND && POINTWISE <= INVERSE_BOUND &&
                      POINTWISE_SUM <= INVERSE_BOUND,
                  "every inverse pass keeps its values within INVERSE_BOUND");
    // The inverse radix-3 join: z0 reduced, z1, z2 = x1 w^-j, x2 w^-2j, the
    // outputs z0 + z1 + z2 and z0 - z2 + (z1 - z2) d^-1, z0 - z1 + ...,
    // each settled twice.
    static constexpr double INVERSE_THIRD = T::after_vector_factor(INVERSE_BOUND);
    static constexpr double inverse_thirds_bound()
    {
        const double z0 = T::after_reduce(INVERSE_BOUND);
        const double first = sum(sum(z0, INVERSE_THIRD), INVERSE_THIRD);
        const double others = sum(T::after_difference(z0, INVERSE_THIRD),
                                  T::after_factor(T::after_difference(INVERSE_THIRD, INVERSE_THIRD)));
        return T::after_settle(T::after_settle(max_of(first, others)));
    }
    static constexpr double INVERSE_OUT = max_of(INVERSE_BOUND, inverse_thirds_bound());
    static_assert(INVERSE_OUT <= 2.3, "the inverse's results within 2.3 p");

    // What one prime's transforms share, whatever their length: the small
    // tables t_k = w_C^brev(k), k < C/2, and their inverses, as factors
    // (their values and quotients), for the levels of blocks of LANES or
    // more, and the same in the vector factors' form ordered for the leaf
    // levels: leaf[level][q K0 + b] = t_(b c' + q) with c' = 2^level
    // sub-blocks in each block of LANES, b < K0 = C / LANES.
    struct PrimeTables {
        std::vector<Value> small, small_inverse;
        std::vector<Quotient> small_quotients, small_inverse_quotients;
        std::array<std::vector<Value>, 3> leaf, leaf_inverse;
    };

    KERNEL_TARGET static void build_prime_tables(size_t prime_index, PrimeTables& tables)
    {
        const TransformPrime& prime = TRANSFORM_PRIMES[prime_index];
        const Modulus m(prime.p);
        const uint64_t w = root_of_unity(prime, CACHED_BLOCK);
        const std::vector<uint64_t> powers = powers_of(m, w, CACHED_BLOCK);
        const size_t half = CACHED_BLOCK / 2;
        tables.small.resize(half);
        tables.small_inverse.resize(half);
        tables.small_quotients.resize(half);
        tables.small_inverse_quotients.resize(half);
        const Arithmetic arithmetic(m);
        std::vector<uint64_t> residues(half), inverse_residues(half);
        for (size_t k = 0; k < half; ++k) {
            // t_k = w_C^e, e = brev(k); t_k^-1 = w_C^(C - e) = -w_C^(C/2 - e).
            const size_t e = bit_reverse(k, CACHED_BLOCK_BITS - 1);
            residues[k] = powers[e];
            inverse_residues[k] = e == 0 ? 1 : m.p() - powers[half - e];
            const Factor t = T::factor(residues[k], arithmetic), t_inverse = T::factor(inverse_residues[k], arithmetic);
            tables.small[k] = t.s;
            tables.small_inverse[k] = t_inverse.s;
            tables.small_quotients[k] = t.quotient;
            tables.small_inverse_quotients[k] = t_inverse.quotient;
        }
        const size_t blocks = CACHED_BLOCK / LANES;
        for (int level = 0; level < LEAF_LEVELS; ++level) {
            const size_t subs = size_t{1} << level;
            tables.leaf[level].resize(subs * blocks);
            tables.leaf_inverse[level].resize(subs * blocks);
            for (size_t b = 0; b < blocks; ++b)
                for (size_t q = 0; q < subs; ++q) {
                    tables.leaf[level][q * blocks + b] = T::vector_factor_value(residues[b * subs + q], m);
                    tables.leaf_inverse[level][q * blocks + b] =
                        T::vector_factor_value(inverse_residues[b * subs + q], m);
                }
        }
    }

    static const PrimeTables& prime_tables(size_t prime_index)
    {
        static PrimeTables tables[TRANSFORM_PRIMES.size()];
        static std::once_flag made[TRANSFORM_PRIMES.size()];
        std::call_once(made[prime_index], [prime_index] { build_prime_tables(prime_index, tables[prime_index]); });
        return tables[prime_index];
    }

    // One transform of length M = 2^k (one of the three of a 3M).
    struct Plan {
        size_t length;
        const PrimeTables* prime;
        std::vector<uint64_t> top, top_inverse;  // s and s^-1 of the levels above the cached blocks
        uint64_t root;                          // w_M
        uint64_t root_inverse;
    };

    static Plan make_plan(size_t prime_index, const Modulus& m, size_t length)
    {
        const LengthRoots& roots = length_roots(prime_index, length);
        Plan plan{length, &prime_tables(prime_index), {}, {}, roots.root, roots.root_inverse};
        const uint64_t root = roots.root;
        if (length > CACHED_BLOCK) {
            // The top levels' s for i < m0 = M / C: w_2m0^brev(i).
            const size_t blocks = length / CACHED_BLOCK;
            const int bits = log2_of(blocks);
            const uint64_t w = m.power(root, CACHED_BLOCK / 2);  // of order 2 m0
            const std::vector<uint64_t> powers = powers_of(m, w, 2 * blocks);
            plan.top.resize(blocks);
            plan.top_inverse.resize(blocks);
            for (size_t i = 0; i < blocks; ++i) {
                const size_t e = bit_reverse(i, bits);
                plan.top[i] = powers[e];
                plan.top_inverse[i] = e == 0 ? 1 : m.p() - powers[blocks - e];
            }
        }
        return plan;
    }

    // ---- the levels of blocks of LANES or more, with one s a block

    // The constants are copied into locals: reached through a reference,
    // the compiler would load them again after every store, which might
    // have changed them for all it knows.
    // The first pairs (len unless given) of the block's pairs (x_j, x_(j+len)).
    KERNEL_TARGET static void forward_block(Value* x, size_t len, const Factor s, const Arithmetic& constants,
                                            size_t pairs = SIZE_MAX)
    {
        const Arithmetic arithmetic = constants;
        const size_t end = std::min(len, pairs);
        for (size_t j = 0; j < end; j += LANES) {
            const Vector a = T::reduce(T::load(x + j), arithmetic);
            const Vector t = T::multiply(T::load(x + j + len), s, arithmetic);
            T::store(x + j, T::add(a, t));
            T::store(x + j + len, T::subtract(a, t, arithmetic));
        }
    }

    KERNEL_TARGET static void inverse_block(Value* x, size_t len, const Factor s_inverse, const Arithmetic& constants,
                                            size_t pairs = SIZE_MAX)
    {
        const Arithmetic arithmetic = constants;
        const size_t end = std::min(len, pairs);
        for (size_t j = 0; j < end; j += LANES) {
            const Vector u = T::load(x + j);
            const Vector v = T::load(x + j + len);
            T::store(x + j, T::reduce(T::add(u, v), arithmetic));
            T::store(x + j + len, T::multiply(T::subtract(u, v, arithmetic), s_inverse, arithmetic));
        }
    }

    // Two levels at once on a block of 4 len values (one pass over memory
    // instead of two): its own s, then s_first and s_second of its halves;
    // the first pairs (len unless given) of each quarter.
    KERNEL_TARGET static void forward_block_pair(Value* x, size_t len, const Factor s, const Factor s_first,
                                                 const Factor s_second, const Arithmetic& constants,
                                                 size_t pairs = SIZE_MAX)
    {
        const Arithmetic arithmetic = constants;
        const size_t end = std::min(len, pairs);
        for (size_t j = 0; j < end; j += LANES) {
            const Vector a0 = T::reduce(T::load(x + j), arithmetic);
            const Vector a1 = T::settle(T::load(x + j + len), arithmetic);
            const Vector t2 = T::multiply(T::load(x + j + 2 * len), s, arithmetic);
            const Vector t3 = T::multiply(T::load(x + j + 3 * len), s, arithmetic);
            const Vector b0 = T::settle(T::add(a0, t2), arithmetic), b2 = T::settle(T::subtract(a0, t2, arithmetic), arithmetic);
            const Vector u1 = T::multiply(T::add(a1, t3), s_first, arithmetic);
            const Vector u3 = T::multiply(T::subtract(a1, t3, arithmetic), s_second, arithmetic);
            T::store(x + j, T::add(b0, u1));
            T::store(x + j + len, T::subtract(b0, u1, arithmetic));
            T::store(x + j + 2 * len, T::add(b2, u3));
            T::store(x + j + 3 * len, T::subtract(b2, u3, arithmetic));
        }
    }

    // The same on a block whose upper half is zero, x2 = x3 = 0: t2 = t3 =
    // 0, so b0 = b2 = a0 and u1, u3 = a1 s_first, a1 s_second, within the
    // bounds of the pass it is a case of.
    KERNEL_TARGET static void forward_block_pair_upper_zero(Value* x, size_t len, const Factor s_first,
                                                            const Factor s_second, const Arithmetic& constants,
                                                            size_t pairs)
    {
        const Arithmetic arithmetic = constants;
        const size_t end = std::min(len, pairs);
        for (size_t j = 0; j < end; j += LANES) {
            const Vector a0 = T::reduce(T::load(x + j), arithmetic);
            const Vector a1 = T::settle(T::load(x + j + len), arithmetic);
            const Vector u1 = T::multiply(a1, s_first, arithmetic);
            const Vector u3 = T::multiply(a1, s_second, arithmetic);
            T::store(x + j, T::add(a0, u1));
            T::store(x + j + len, T::subtract(a0, u1, arithmetic));
            T::store(x + j + 2 * len, T::add(a0, u3));
            T::store(x + j + 3 * len, T::subtract(a0, u3, arithmetic));
        }
    }

    KERNEL_TARGET static void inverse_block_pair(Value* x, size_t len, const Factor s_inverse,
                                                 const Factor s_first_inverse, const Factor s_second_inverse,
                                                 const Arithmetic& constants, size_t pairs = SIZE_MAX)
    {
        const Arithmetic arithmetic = constants;
        const size_t end = std::min(len, pairs);
        for (size_t j = 0; j < end; j += LANES) {
            const Vector u0 = T::load(x + j), v0 = T::load(x + j + len);
            const Vector u1 = T::load(x + j + 2 * len), v1 = T::load(x + j + 3 * len);
            const Vector b0 = T::reduce(T::add(u0, v0), arithmetic);
            const Vector b1 = T::multiply(T::subtract(u0, v0, arithmetic), s_first_inverse, arithmetic);
            const Vector b2 = T::reduce(T::add(u1, v1), arithmetic);
            const Vector b3 = T::multiply(T::subtract(u1, v1, arithmetic), s_second_inverse, arithmetic);
            T::store(x + j, T::settle(T::add(b0, b2), arithmetic));
            T::store(x + j + 2 * len, T::multiply(T::subtract(b0, b2, arithmetic), s_inverse, arithmetic));
            T::store(x + j + len, T::settle(T::add(b1, b3), arithmetic));
            T::store(x + j + 3 * len, T::multiply(T::subtract(b1, b3, arithmetic), s_inverse, arithmetic));
        }
    }

    // ---- the leaf levels: LANES blocks of LANES values, a lane a block

    // For the leaf level with subs sub-blocks a block (sub-blocks of
    // LANES / subs values), the twiddles of blocks first .. first + LANES -
    // 1, times r (none where r is null: the block whose u is 1).
    static_assert(T::after_reduce(T::after_factor(T::FACTOR_FROM)) <= T::FACTOR_FROM,
                  "a vector factor times a factor, reduced, is a vector factor");
    KERNEL_INLINE static VectorFactor leaf_twiddles(const std::vector<Value>& table, size_t q, size_t first,
                                                    const Factor* r, const Arithmetic& arithmetic)
    {
        const Vector t = T::load(table.data() + q * (CACHED_BLOCK / LANES) + first);
        return T::vector_factor(r == nullptr ? t : T::reduce(T::multiply(t, *r, arithmetic), arithmetic), arithmetic);
    }

    // rows[j] holds value j of each of the LANES blocks. The leaf levels, in
    // lanes: level l splits each block's sub-blocks of LANES / 2^l values,
    // the forward or inverse butterfly on each pair len apart with the
    // sub-block's twiddle. Each level is its own instance, so that its loops
    // have constant bounds, unroll, and keep the rows in registers.
    template <int Level, bool Inverse>
    KERNEL_INLINE static void leaf_level(Vector (&rows)[LANES], const std::vector<Value>& table, size_t first,
                                         const Factor* r, const Arithmetic& arithmetic)
    {
        constexpr size_t subs = size_t{1} << Level;
        constexpr size_t len = LANES / (2 * subs);
        for (size_t q = 0; q < subs; ++q) {
            const VectorFactor s = leaf_twiddles(table, q, first, r, arithmetic);
            for (size_t j = q * 2 * len; j < q * 2 * len + len; ++j) {
                if constexpr (Inverse) {
                    const Vector u = rows[j], v = rows[j + len];
                    rows[j] = T::reduce(T::add(u, v), arithmetic);
                    rows[j + len] = T::multiply(T::subtract(u, v, arithmetic), s, arithmetic);
                } else {
                    const Vector a = T::reduce(rows[j], arithmetic);
                    const Vector t = T::multiply(rows[j + len], s, arithmetic);
                    rows[j + len] = T::subtract(a, t, arithmetic);
                    rows[j] = T::add(a, t);
                }
            }
        }
    }

    KERNEL_INLINE static void forward_leaf(Vector (&rows)[LANES], const PrimeTables& tables, size_t first,
                                           const Factor* const* r, const Arithmetic& arithmetic)
    {
        if constexpr (LEAF_LEVELS > 0)
            leaf_level<0, false>(rows, tables.leaf[0], first, r[0], arithmetic);
        if constexpr (LEAF_LEVELS > 1)
            leaf_level<1, false>(rows, tables.leaf[1], first, r[1], arithmetic);
        if constexpr (LEAF_LEVELS > 2)
            leaf_level<2, false>(rows, tables.leaf[2], first, r[2], arithmetic);
        static_assert(LEAF_LEVELS <= 3, "at most three leaf levels");
    }

    KERNEL_INLINE static void inverse_leaf(Vector (&rows)[LANES], const PrimeTables& tables, size_t first,
                                           const Factor* const* r_inverse, const Arithmetic& arithmetic)
    {
        if constexpr (LEAF_LEVELS > 2)
            leaf_level<2, true>(rows, tables.leaf_inverse[2], first, r_inverse[2], arithmetic);
        if constexpr (LEAF_LEVELS > 1)
            leaf_level<1, true>(rows, tables.leaf_inverse[1], first, r_inverse[1], arithmetic);
        if constexpr (LEAF_LEVELS > 0)
            leaf_level<0, true>(rows, tables.leaf_inverse[0], first, r_inverse[0], arithmetic);
    }

    // ---- a cached block: all its levels, given u = w_M^brev(i0)

    // r_c = u^(size / 2c) for the block's levels c = 1, 2, 4, ..., size / 2,
    // indexed by log2 c.
    static std::array<uint64_t, 64> level_factors(const Modulus& m, uint64_t u, size_t size)
    {
        std::array<uint64_t, 64> r{};
        const int levels = log2_of(size);
        uint64_t power = u;  // u^(size / 2c) for c = size / 2
        for (int level = levels - 1; level >= 0; --level) {
            r[level] = power;
            power = m.multiply(power, power);
        }
        return r;
    }

    // The s of a cached block's level c as factors: s_k = t_k r_c for
    // k < count in the buffers (the small tables themselves where u = 1, a
    // cached block that is the whole transform). The buffers and the
    // tables hold whole registers past count.
    struct LevelTwiddles {
        const Value* s;
        const Quotient* quotients;
        KERNEL_INLINE Factor factor(size_t k) const { return {s[k], quotients[k]}; }
    };
    KERNEL_TARGET static LevelTwiddles level_twiddles(const std::vector<Value>& table,
                                                      const std::vector<Quotient>& quotients, size_t count,
                                                      uint64_t u, uint64_t r_c, Value* buffer, Quotient* quotient_buffer,
                                                      const Arithmetic& arithmetic)
    {
        if (u == 1)
            return {table.data(), quotients.data()};
        const Factor r = T::factor(r_c, arithmetic);
        for (size_t k = 0; k < count; k += LANES)
            T::store_factors(buffer + k, quotient_buffer + k,
                             T::reduce(T::multiply(T::load(table.data() + k), r, arithmetic), arithmetic), arithmetic);
        return {buffer, quotient_buffer};
    }

    // The most s a level of blocks of 2 LANES values or more has, rounded
    // up to a register.
    static constexpr size_t MOST_VECTOR_LEVEL_BLOCKS = CACHED_BLOCK / (2 * LANES) > LANES ? CACHED_BLOCK / (2 * LANES) : LANES;

    // The last LEAF_LEVELS levels of a cached block, forward or inverse:
    // LANES rows of LANES values at a time, transposed so that each level's
    // pairs lie in separate vectors. The forward transform leaves its groups
    // transposed, and the inverse takes them so: what lies between them,
    // the pointwise product, does not mind the order of the values. The
    // leaf levels' r, by their sub-block count a block of LANES.
    template <bool Inverse>
    KERNEL_TARGET static void leaf_levels(Value* x, size_t size, uint64_t u, const std::array<uint64_t, 64>& r,
                                          int levels, const PrimeTables& tables, const Arithmetic& arithmetic)
    {
        Factor leaf_factors[3];
        const Factor* leaf_r[3] = {nullptr, nullptr, nullptr};
        for (int leaf_level = 0; leaf_level < LEAF_LEVELS && u != 1; ++leaf_level) {
            leaf_factors[leaf_level] = T::factor(r[static_cast<size_t>(levels - LEAF_LEVELS + leaf_level)], arithmetic);
            leaf_r[leaf_level] = &leaf_factors[leaf_level];
        }
        Vector rows[LANES];
        for (size_t group = 0; group < size; group += LEAF_GROUP) {
            for (size_t row = 0; row < LANES; ++row)
                rows[row] = T::load(x + group + row * LANES);
            if constexpr (Inverse) {
                inverse_leaf(rows, tables, group / LANES, leaf_r, arithmetic);
                T::transpose(rows);
            } else {
                T::transpose(rows);
                forward_leaf(rows, tables, group / LANES, leaf_r, arithmetic);
            }
            for (size_t row = 0; row < LANES; ++row)
                T::store(x + group + row * LANES, rows[row]);
        }
    }

    KERNEL_TARGET static void forward_cached(Value* x, size_t size, uint64_t u, const PrimeTables& tables,
                                             const Modulus& m, const Arithmetic& arithmetic)
    {
        require_bound(size >= LEAF_GROUP, "a cached block holds whole leaf groups");
        const std::array<uint64_t, 64> r = level_factors(m, u, size);
        const int levels = log2_of(size);
        alignas(64) Value first[MOST_VECTOR_LEVEL_BLOCKS], second[MOST_VECTOR_LEVEL_BLOCKS];
        alignas(64) Quotient first_quotients[MOST_VECTOR_LEVEL_BLOCKS], second_quotients[MOST_VECTOR_LEVEL_BLOCKS];
        // Levels of blocks of 2 LANES values or more, two at a time.
        const int vector_levels = levels - LEAF_LEVELS;
        int level = 0;
        for (; level + 1 < vector_levels; level += 2) {
            const size_t count = size_t{1} << level, len = size / (4 * count);
            const LevelTwiddles s = level_twiddles(tables.small, tables.small_quotients, count, u, r[level], first,
                                                   first_quotients, arithmetic);
            const LevelTwiddles halves = level_twiddles(tables.small, tables.small_quotients, 2 * count, u,
                                                        r[level + 1], second, second_quotients, arithmetic);
            for (size_t k = 0; k < count; ++k)
                forward_block_pair(x + 4 * len * k, len, s.factor(k), halves.factor(2 * k), halves.factor(2 * k + 1),
                                   arithmetic);
        }
        if (level < vector_levels) {
            const size_t count = size_t{1} << level, len = size / (2 * count);
            const LevelTwiddles s = level_twiddles(tables.small, tables.small_quotients, count, u, r[level], first,
                                                   first_quotients, arithmetic);
            for (size_t k = 0; k < count; ++k)
                forward_block(x + 2 * len * k, len, s.factor(k), arithmetic);
        }
        if constexpr (LEAF_LEVELS > 0)
            leaf_levels<false>(x, size, u, r, levels, tables, arithmetic);
    }

    KERNEL_TARGET static void inverse_cached(Value* x, size_t size, uint64_t u_inverse, const PrimeTables& tables,
                                             const Modulus& m, const Arithmetic& arithmetic)
    {
        require_bound(size >= LEAF_GROUP, "a cached block holds whole leaf groups");
        const std::array<uint64_t, 64> r = level_factors(m, u_inverse, size);
        const int levels = log2_of(size);
        if constexpr (LEAF_LEVELS > 0)
            leaf_levels<true>(x, size, u_inverse, r, levels, tables, arithmetic);
        alignas(64) Value first[MOST_VECTOR_LEVEL_BLOCKS], second[MOST_VECTOR_LEVEL_BLOCKS];
        alignas(64) Quotient first_quotients[MOST_VECTOR_LEVEL_BLOCKS], second_quotients[MOST_VECTOR_LEVEL_BLOCKS];
        // The forward's pairs undone in reverse: a single level first where
        // the forward ended with one.
        const int vector_levels = levels - LEAF_LEVELS;
        int level = vector_levels;
        if (vector_levels % 2 == 1) {
            --level;
            const size_t count = size_t{1} << level, len = size / (2 * count);
            const LevelTwiddles s = level_twiddles(tables.small_inverse, tables.small_inverse_quotients, count,
                                                   u_inverse, r[level], first, first_quotients, arithmetic);
            for (size_t k = 0; k < count; ++k)
                inverse_block(x + 2 * len * k, len, s.factor(k), arithmetic);
        }
        for (level -= 2; level >= 0; level -= 2) {
            const size_t count = size_t{1} << level, len = size / (4 * count);
            const LevelTwiddles s = level_twiddles(tables.small_inverse, tables.small_inverse_quotients, count,
                                                   u_inverse, r[level], first, first_quotients, arithmetic);
            const LevelTwiddles halves =
                level_twiddles(tables.small_inverse, tables.small_inverse_quotients, 2 * count, u_inverse,
                               r[level + 1], second, second_quotients, arithmetic);
            for (size_t k = 0; k < count; ++k)
                inverse_block_pair(x + 4 * len * k, len, s.factor(k), halves.factor(2 * k), halves.factor(2 * k + 1),
                                   arithmetic);
        }
    }

    // ---- the tree above the cached blocks

    // work(from, to) over [0, count), in two halves side by side where the
    // pool has a thread and the pass covers at least FORK_BLOCK values;
    // count is a multiple of LANES, and so is each half.
    template <class Work>
    KERNEL_TARGET static void in_two(ForkJoinPool* pool, size_t values, size_t count, Work&& work)
    {
        if (pool == nullptr || values < FORK_BLOCK) {
            work(size_t{0}, count);
            return;
        }
        const size_t half = count / 2 / LANES * LANES;
        pool->fork_join([&]() KERNEL_TARGET { work(size_t{0}, half); }, [&]() KERNEL_TARGET { work(half, count); });
    }

    // The `parts` sub-blocks of `part` values at x, blocks first_index, ...
    // of their level, each by tree(x, part, index), two side by side where
    // the pool has a thread.
    template <class Tree>
    KERNEL_TARGET static void each_part(Value* x, size_t part, size_t parts, size_t first_index, ForkJoinPool* pool,
                                        Tree&& tree)
    {
        const auto run = [&](size_t from, size_t to) KERNEL_TARGET {
            for (size_t i = from; i < to; ++i)
                tree(x + i * part, part, first_index + i);
        };
        if (pool != nullptr && part * parts >= FORK_BLOCK)
            pool->fork_join([&]() KERNEL_TARGET { run(0, parts / 2); }, [&]() KERNEL_TARGET { run(parts / 2, parts); });
        else
            run(0, parts);
    }

    // The block of size values at x is block `index` of its level. Two
    // levels a pass over the block down to the cached blocks (one where a
    // single level is left above them). Where upper_zero, the block's upper
    // half is zero and not read: its first pass makes it from the lower
    // half (for a single level, (a, 0) -> (a, a), a copy).
    KERNEL_TARGET static void forward_tree(Value* x, size_t size, size_t index, const Plan& plan, const Modulus& m,
                                           const Arithmetic& arithmetic, ForkJoinPool* pool, bool upper_zero = false)
    {
        if (size <= CACHED_BLOCK) {
            // index is i0 among m0 = M / size blocks: u = w_M^brev(i0).
            const size_t blocks = plan.length / size;
            const uint64_t u = blocks == 1 ? 1 : m.power(plan.root, bit_reverse(index, log2_of(blocks)));
            forward_cached(x, size, u, *plan.prime, m, arithmetic);
            return;
        }
        const auto tree = [&](Value* part_x, size_t part, size_t part_index) KERNEL_TARGET {
            forward_tree(part_x, part, part_index, plan, m, arithmetic, pool);
        };
        const Factor s = T::factor(plan.top[index], arithmetic);
        if (size >= 4 * CACHED_BLOCK) {
            const size_t len = size / 4;
            const Factor s_first = T::factor(plan.top[2 * index], arithmetic);
            const Factor s_second = T::factor(plan.top[2 * index + 1], arithmetic);
            in_two(pool, size, len, [&](size_t from, size_t to) KERNEL_TARGET {
                if (upper_zero)
                    forward_block_pair_upper_zero(x + from, len, s_first, s_second, arithmetic, to - from);
                else
                    forward_block_pair(x + from, len, s, s_first, s_second, arithmetic, to - from);
            });
            each_part(x, len, 4, 4 * index, pool, tree);
            return;
        }
        const size_t len = size / 2;
        in_two(pool, size, len, [&](size_t from, size_t to) KERNEL_TARGET {
            if (upper_zero)
                std::copy(x + from, x + to, x + len + from);
            else
                forward_block(x + from, len, s, arithmetic, to - from);
        });
        each_part(x, len, 2, 2 * index, pool, tree);
    }

    KERNEL_TARGET static void inverse_tree(Value* x, size_t size, size_t index, const Plan& plan, const Modulus& m,
                                           const Arithmetic& arithmetic, ForkJoinPool* pool)
    {
        if (size <= CACHED_BLOCK) {
            const size_t blocks = plan.length / size;
            const uint64_t u_inverse =
                blocks == 1 ? 1 : m.power(plan.root_inverse, bit_reverse(index, log2_of(blocks)));
            inverse_cached(x, size, u_inverse, *plan.prime, m, arithmetic);
            return;
        }
        const auto tree = [&](Value* part_x, size_t part, size_t part_index) KERNEL_TARGET {
            inverse_tree(part_x, part, part_index, plan, m, arithmetic, pool);
        };
        const Factor s_inverse = T::factor(plan.top_inverse[index], arithmetic);
        if (size >= 4 * CACHED_BLOCK) {
            const size_t len = size / 4;
            each_part(x, len, 4, 4 * index, pool, tree);
            const Factor s_first = T::factor(plan.top_inverse[2 * index], arithmetic);
            const Factor s_second = T::factor(plan.top_inverse[2 * index + 1], arithmetic);
            in_two(pool, size, len, [&](size_t from, size_t to) KERNEL_TARGET {
                inverse_block_pair(x + from, len, s_inverse, s_first, s_second, arithmetic, to - from);
            });
            return;
        }
        const size_t len = size / 2;
        each_part(x, len, 2, 2 * index, pool, tree);
        in_two(pool, size, len,
               [&](size_t from, size_t to) KERNEL_TARGET { inverse_block(x + from, len, s_inverse, arithmetic, to - from); });
    }

    // ---- the radix-3 split of a length 3M

    // The powers w^j, ..., w^(j + LANES - 1) of the twist, in the vector
    // factors' form, advanced by LANES at a time.
    struct Twist {
        Vector powers;
        Factor step;  // w^LANES
    };

    // The powers from w^from on.
    KERNEL_TARGET static Twist start_twist(const Modulus& m, const Arithmetic& arithmetic, uint64_t w, size_t from)
    {
        Value first[LANES];
        uint64_t power = m.power(w, from);
        for (size_t lane = 0; lane < LANES; ++lane) {
            first[lane] = T::vector_factor_value(power, m);
            power = m.multiply(power, w);
        }
        return {T::load(first), T::factor(m.power(w, LANES), arithmetic)};
    }

    // The twist's factors for this register, w^j and w^(2j), and the
    // twist advanced.
    static_assert(T::after_reduce(T::after_vector_factor(T::FACTOR_FROM)) <= T::FACTOR_FROM,
                  "a vector factor squared, reduced, is a vector factor");
    KERNEL_INLINE static void next_twist(Twist& twist, VectorFactor& w1, VectorFactor& w2, const Arithmetic& arithmetic)
    {
        w1 = T::vector_factor(twist.powers, arithmetic);
        w2 = T::vector_factor(T::reduce(T::multiply(twist.powers, w1, arithmetic), arithmetic), arithmetic);
        twist.powers = T::reduce(T::multiply(twist.powers, twist.step, arithmetic), arithmetic);
    }

    KERNEL_INLINE static Vector settled_twice(Vector v, const Arithmetic& arithmetic)
    {
        return T::settle(T::settle(v, arithmetic), arithmetic);
    }

    // Where third_zero, the third block is zero and not read.
    KERNEL_TARGET static void forward_thirds(Value* x, size_t part, const Modulus& m, const Arithmetic& arithmetic,
                                             uint64_t w, ForkJoinPool* pool, bool third_zero)
    {
        in_two(pool, 3 * part, part, [&](size_t from, size_t to) KERNEL_TARGET {
            if (third_zero)
                forward_thirds_from<true>(x, part, m, arithmetic, w, from, to);
            else
                forward_thirds_from<false>(x, part, m, arithmetic, w, from, to);
        });
    }

    template <bool ThirdZero>
    KERNEL_TARGET static void forward_thirds_from(Value* x, size_t part, const Modulus& m,
                                                  const Arithmetic& arithmetic, uint64_t w, size_t from, size_t to)
    {
        alignas(64) static constexpr Value zeros[LANES] = {};
        const Factor d = T::factor(m.power(w, part), arithmetic);  // w_3
        Twist twist = start_twist(m, arithmetic, w, from);
        VectorFactor w1, w2;
        for (size_t j = from; j < to; j += LANES) {
            next_twist(twist, w1, w2, arithmetic);
            const Vector x0 = T::load(x + j), x1 = T::load(x + part + j);
            const Vector x2 = T::load(ThirdZero ? zeros : x + 2 * part + j);
            const Vector y0 = T::reduce(T::add(T::add(x0, x1), x2), arithmetic);
            const Vector y1 = settled_twice(T::add(T::subtract(x0, x2, arithmetic), T::multiply(T::subtract(x1, x2, arithmetic), d, arithmetic)),
                                            arithmetic);
            const Vector y2 = settled_twice(T::add(T::subtract(x0, x1, arithmetic), T::multiply(T::subtract(x2, x1, arithmetic), d, arithmetic)),
                                            arithmetic);
            T::store(x + j, y0);
            T::store(x + part + j, T::multiply(y1, w1, arithmetic));
            T::store(x + 2 * part + j, T::multiply(y2, w2, arithmetic));
        }
    }

    KERNEL_TARGET static void inverse_thirds(Value* x, size_t part, const Modulus& m, const Arithmetic& arithmetic,
                                             uint64_t w_inverse, ForkJoinPool* pool)
    {
        in_two(pool, 3 * part, part,
               [&](size_t from, size_t to) KERNEL_TARGET { inverse_thirds_from(x, part, m, arithmetic, w_inverse, from, to); });
    }

    KERNEL_TARGET static void inverse_thirds_from(Value* x, size_t part, const Modulus& m,
                                                  const Arithmetic& arithmetic, uint64_t w_inverse, size_t from,
                                                  size_t to)
    {
        const Factor d_inverse = T::factor(m.power(w_inverse, part), arithmetic);
        Twist twist = start_twist(m, arithmetic, w_inverse, from);
        VectorFactor w1, w2;
        for (size_t j = from; j < to; j += LANES) {
            next_twist(twist, w1, w2, arithmetic);
            const Vector z0 = T::reduce(T::load(x + j), arithmetic);
            const Vector z1 = T::multiply(T::load(x + part + j), w1, arithmetic);
            const Vector z2 = T::multiply(T::load(x + 2 * part + j), w2, arithmetic);
            T::store(x + j, settled_twice(T::add(T::add(z0, z1), z2), arithmetic));
            T::store(x + part + j,
                     settled_twice(T::add(T::subtract(z0, z2, arithmetic), T::multiply(T::subtract(z1, z2, arithmetic), d_inverse, arithmetic)),
                                   arithmetic));
            T::store(x + 2 * part + j,
                     settled_twice(T::add(T::subtract(z0, z1, arithmetic), T::multiply(T::subtract(z2, z1, arithmetic), d_inverse, arithmetic)),
                                   arithmetic));
        }
    }

    // ---- the product

    // values <- the operand's coefficients mod p, zeros after them up to
    // length. A coefficient of 64 bits, a whole limb, is h 2^32 + l with
    // h, l < 2^32: h times the factor 2^32, made canonical, lies in [0, p),
    // and l adds less than 2^32 < 2^-17 p, a lazy residue within LOADED. Where
    // the coefficients are narrower, each c below 2^64 is reduced with a
    // quotient estimated in floating point: the estimate of c / p is within
    // 2^-35 of it, so c - floor(estimate) p lies in (-p, 2p), and one
    // correction either way brings it into [0, p).
    static_assert(T::after_factor(0x1p-17) <= T::CANONICAL_FROM, "a limb's high half times 2^32 made canonical");
    KERNEL_TARGET static void load_values(const Modulus& m, std::span<const uint64_t> limbs, size_t count, int bits,
                                          Value* values, size_t length)
    {
        size_t i = 0;
        const Arithmetic arithmetic(m);
        const Factor two_32 = T::factor(uint64_t{1} << 32, arithmetic);
        if (bits == 64) {
            for (; i + LANES <= count; i += LANES) {
                Vector high, low;
                T::split_words(limbs.data() + i, high, low);
                T::store(values + i, T::add(T::canonical(T::multiply(high, two_32, arithmetic), arithmetic), low));
            }
        } else {
            // Narrower coefficients cut from the limbs a register's worth at
            // a time, while the two limbs each reads lie within the operand,
            // then reduced the same way.
            const uint64_t mask = (uint64_t{1} << bits) - 1;
            uint64_t cut[LANES];
            for (; i + LANES <= count && (i + LANES) * static_cast<size_t>(bits) / 64 + 1 < limbs.size(); i += LANES) {
                for (size_t lane = 0; lane < LANES; ++lane) {
                    const size_t bit = (i + lane) * static_cast<size_t>(bits);
                    const unsigned shift = bit % 64;
                    const uint64_t* const at = limbs.data() + bit / 64;
                    const uint64_t next = shift == 0 ? 0 : at[1] << (64 - shift);
                    cut[lane] = ((at[0] >> shift) | next) & mask;
                }
                Vector high, low;
                T::split_words(cut, high, low);
                T::store(values + i, T::add(T::canonical(T::multiply(high, two_32, arithmetic), arithmetic), low));
            }
        }
        const double inverse = m.inverse();
        const auto p = static_cast<int64_t>(m.p());
        for (; i < count; ++i) {
            const uint64_t c = coefficient_of(limbs, i, bits);
            const auto q = static_cast<uint64_t>(static_cast<double>(c) * inverse);
            auto r = static_cast<int64_t>(c - q * m.p());
            r += r < 0 ? p : 0;
            r -= r >= p ? p : 0;
            values[i] = T::from_residue(static_cast<uint64_t>(r));
        }
        std::fill(values + count, values + length, T::from_residue(0));
    }

    // The values of a transform of length with count coefficients that its
    // first pass reads: where the coefficients fill at most the first two
    // thirds of a 3M (the radix-3 split), or the lower half of a length
    // above the cached blocks (the tree's first pass), the rest is zero and
    // not read.
    static size_t read_prefix(size_t length, size_t part, size_t count)
    {
        if (length != part)
            return count <= 2 * part ? 2 * part : length;
        return length > CACHED_BLOCK && count <= length / 2 ? length / 2 : length;
    }

    // values: the coefficients, zero up to prefix (read_prefix).
    KERNEL_TARGET static void transform(Value* values, size_t length, size_t prefix, const Plan& plan,
                                        const Modulus& m, const Arithmetic& arithmetic, uint64_t w, ForkJoinPool* pool)
    {
        if (length != plan.length)
            forward_thirds(values, plan.length, m, arithmetic, w, pool, prefix < length);
        for (size_t third = 0; third < length / plan.length; ++third)
            forward_tree(values + third * plan.length, plan.length, 0, plan, m, arithmetic, pool,
                         length == plan.length && prefix < length);
    }

    // What the transforms modulo prime index of one length share.
    struct LengthSetup {
        Modulus m;
        Arithmetic arithmetic;
        size_t length, part;
        const LengthRoots& roots;
        Plan plan;

        LengthSetup(size_t index, size_t length_)
            : m(TRANSFORM_PRIMES[index].p), arithmetic(m), length(length_), part(length % 3 == 0 ? length / 3 : length),
              roots(length_roots(index, length)), plan(make_plan(index, m, part))
        {
        }
    };

    // values <- the forward transform of the operand's coefficients.
    KERNEL_TARGET static void load_and_transform(const LengthSetup& setup, std::span<const uint64_t> limbs, int bits,
                                                 Value* values, ForkJoinPool* pool)
    {
        const size_t count = coefficient_count(limbs.size(), bits);
        const size_t prefix = read_prefix(setup.length, setup.part, count);
        load_values(setup.m, limbs, count, bits, values, prefix);
        transform(values, setup.length, prefix, setup.plan, setup.m, setup.arithmetic, setup.roots.root, pool);
    }

    // values <- the forward transforms of the operand modulo the three
    // primes, one after another: a factor kept for several products
    // (ProductTerm::b_transforms).
    KERNEL_TARGET static void transform_operand(std::span<const uint64_t> operand, int bits, size_t length,
                                                Value* values, ForkJoinPool* pool)
    {
        require_bound(coefficient_count(operand.size(), bits) <= length, "a kept operand within its transform length");
        for (size_t index = 0; index < TRANSFORM_PRIMES.size(); ++index)
            load_and_transform(LengthSetup(index, length), operand, bits, values + index * length, pool);
    }

    // x <- the sum of the cyclic convolutions of the terms' coefficients mod
    // prime index, lazy residues within INVERSE_OUT; y and z hold the
    // second operands' values (and the second term's first), null where no
    // term needs them. A second operand kept transformed is read from its
    // transforms instead.
    KERNEL_TARGET static void convolve(size_t index, std::span<const ProductTerm> terms, int bits, Value* x, Value* y,
                                       Value* z, size_t length, ForkJoinPool* pool)
    {
        const LengthSetup setup(index, length);
        const Modulus& m = setup.m;
        const Arithmetic& arithmetic = setup.arithmetic;
        const size_t part = setup.part;
        const LengthRoots& roots = setup.roots;
        const Plan& plan = setup.plan;

        const auto kept = [&](const ProductTerm& term) {
            return static_cast<const Value*>(term.b_transforms) + index * length;
        };
        // A term's operands into first and second, side by side where the
        // pool has a thread; a square, or a term whose second operand is
        // kept transformed, into first alone.
        const auto transform_term = [&](const ProductTerm& term, Value* first, Value* second) KERNEL_TARGET {
            const auto load_and_transform = [&](std::span<const uint64_t> limbs, Value* values) KERNEL_TARGET {
                TransformKernel::load_and_transform(setup, limbs, bits, values, pool);
            };
            if (term.b.empty() || term.b_transforms != nullptr)
                load_and_transform(term.a, first);
            else if (pool != nullptr && length >= FORK_BLOCK)
                pool->fork_join([&]() KERNEL_TARGET { load_and_transform(term.a, first); },
                                [&]() KERNEL_TARGET { load_and_transform(term.b, second); });
            else {
                load_and_transform(term.a, first);
                load_and_transform(term.b, second);
            }
        };
        // 1 / length, with what multiply_any's products lack.
        const Factor length_inverse =
            T::factor(m.multiply(roots.length_inverse, T::any_product_scale(m.p())), arithmetic);
        const auto pointwise = [&](const Value* a, const Value* b) KERNEL_TARGET {
            return T::multiply_any(T::settle(T::load(a), arithmetic), T::settle(T::load(b), arithmetic), arithmetic);
        };
        transform_term(terms[0], x, y);
        const Value* other = terms[0].b_transforms != nullptr ? kept(terms[0]) : terms[0].b.empty() ? x : y;
        if (terms.size() == 1) {
            in_two(pool, length, length, [&](size_t from, size_t to) KERNEL_TARGET {
                for (size_t i = from; i < to; i += LANES)
                    T::store(x + i, T::multiply(pointwise(x + i, other + i), length_inverse, arithmetic));
            });
        } else {
            in_two(pool, length, length, [&](size_t from, size_t to) KERNEL_TARGET {
                for (size_t i = from; i < to; i += LANES)
                    T::store(x + i, pointwise(x + i, other + i));
            });
            transform_term(terms[1], y, z);
            const Value* second_other = terms[1].b_transforms != nullptr ? kept(terms[1]) : terms[1].b.empty() ? y : z;
            in_two(pool, length, length, [&](size_t from, size_t to) KERNEL_TARGET {
                for (size_t i = from; i < to; i += LANES)
                    T::store(x + i, T::multiply(T::add(T::load(x + i), pointwise(y + i, second_other + i)),
                                                length_inverse, arithmetic));
            });
        }
        for (size_t third = 0; third < length / part; ++third)
            inverse_tree(x + third * part, part, 0, plan, m, arithmetic, pool);
        if (part != length)
            inverse_thirds(x, part, m, arithmetic, roots.root_inverse, pool);
    }

    // product <- the sum of the terms' products with coefficients of
    // `bits` bits and transforms of `length`. With x_i = r0 + p0 (y1 + p1 y2) in
    // Garner's form (coefficients.hpp), the product is S1 + p0 p1 S2 for
    // S1 = sum (r0 + p0 y1) 2^(bits i) and S2 = sum y2 2^(bits i), both
    // non-negative. S1 is carried into the product as soon as the second
    // prime's residues give y1, and r0 and y1 give way to
    // t = r0 + p0 y1 mod p2, all that y2 = (r2 - t) / (p0 p1) mod p2 needs;
    // p0 p1 S2 is then added into the product. So the scratch beside the
    // two transforms is one array of residues, not two.
    //
    // Ranges, in units of each step's prime: a convolution's values lie
    // within INVERSE_OUT; r0 is made canonical; r1 - r0 times 1 / p0 is
    // made canonical, y1; t = r0 + p0 y1, settled, lies within GARNER_T;
    // r2 - t times 1 / (p0 p1) is made canonical, y2.
    static constexpr double PRIME_RATIO = 1.001;  // p0 / p2 and p1 / p2 below it (coefficients.hpp)
    static constexpr double GARNER_T = T::after_settle(sum(PRIME_RATIO, T::after_factor(PRIME_RATIO)));
    static_assert(T::after_reduce(INVERSE_OUT) <= T::CANONICAL_FROM &&
                      T::after_factor(T::after_difference(INVERSE_OUT, PRIME_RATIO)) <= T::CANONICAL_FROM &&
                      T::after_factor(T::after_difference(INVERSE_OUT, GARNER_T)) <= T::CANONICAL_FROM,
                  "Garner's digits made canonical");
    KERNEL_TARGET static void multiply(std::span<const ProductTerm> terms, std::span<uint64_t> product, int bits,
                                       size_t length, size_t top_length, ForkJoinPool* pool)
    {
        require_bound(terms.size() == 1 || terms.size() == 2, "a sum of one or two products");
        require_bound(top_length == 0 || (terms.size() == 1 && terms[0].b_transforms == nullptr),
                      "a product's top made apart");
        size_t count = 0;
        for (const ProductTerm& term : terms) {
            const size_t a_count = coefficient_count(term.a.size(), bits);
            count = std::max(count, a_count + (term.b.empty() ? a_count : coefficient_count(term.b.size(), bits)) - 1);
        }
        // A convolution longer than the transform wraps around it: a
        // product modulo 2^(bits length) - 1 (ntt_multiply_wrapped), unless
        // its top is made apart (fold_top).
        if (top_length == 0)
            count = std::min(length, count);
        // Padded to whole registers for the vector loops below.
        const size_t padded = (count + LANES - 1) / LANES * LANES;
        const bool second = terms.size() == 2 || (!terms[0].b.empty() && terms[0].b_transforms == nullptr);
        const bool third = terms.size() == 2 && !terms[1].b.empty() && terms[1].b_transforms == nullptr;
        BlockArray<Value> x(std::max(length, padded)), y(second ? length : 0), z(third ? length : 0), kept(padded);
        // The top of a product longer than its transform: the product of
        // its operands' top count - length coefficients, cut out of them.
        const size_t top = top_length == 0 ? 0 : count - length;
        std::vector<uint64_t> a_top, b_top;
        ProductTerm top_term{};
        if (top != 0) {
            a_top = top_coefficients(terms[0].a, bits, top);
            if (!terms[0].b.empty())
                b_top = top_coefficients(terms[0].b, bits, top);
            top_term = {a_top, b_top};
        }
        BlockArray<Value> top_x(top_length), top_y(top != 0 && !top_term.b.empty() ? top_length : 0);
        const auto convolve_all = [&](size_t index) KERNEL_TARGET {
            convolve(index, terms, bits, x.data(), y.data(), z.data(), length, pool);
            if (top != 0) {
                convolve(index, std::span(&top_term, 1), bits, top_x.data(), top_y.data(), nullptr, top_length, pool);
                fold_top(index, x.data(), top_x.data(), length, top, pool);
            }
        };
        const GarnerConstants& constants = garner_constants();

        convolve_all(0);
        {
            // r0, canonical, into kept.
            const Arithmetic arithmetic{Modulus(TRANSFORM_PRIMES[0].p)};
            in_two(pool, padded, padded, [&](size_t from, size_t to) KERNEL_TARGET {
                for (size_t i = from; i < to; i += LANES)
                    T::store(kept.data() + i, T::canonical(T::reduce(T::load(x.data() + i), arithmetic), arithmetic));
            });
        }

        convolve_all(1);
        {
            // y1 = (r1 - r0) / p0 mod p1 into x, canonical; S1 carried into
            // the product; then t = r0 + p0 y1 mod p2 into kept, lazily: a
            // chunk at a time, while it is in the cache.
            const Modulus m1(TRANSFORM_PRIMES[1].p), m2(TRANSFORM_PRIMES[2].p);
            const Arithmetic arithmetic1(m1), arithmetic2(m2);
            const Factor c01 = T::factor(constants.p0_inverse_mod_p1, arithmetic1);
            const Factor p0_mod_p2 = T::factor(TRANSFORM_PRIMES[0].p - m2.p(), arithmetic2);
            carry_into(
                product, bits, count, CoefficientCarrier::Mode::write, pool,
                [&](size_t i) KERNEL_TARGET { return low_garner_words(T::to_residue(kept[i]), T::to_residue(x[i])); },
                [&](size_t from, size_t to) KERNEL_TARGET {
                    for (size_t i = from; i < to; i += LANES)
                        T::store(x.data() + i,
                                 T::canonical(T::multiply(T::subtract(T::load(x.data() + i), T::load(kept.data() + i), arithmetic1),
                                                          c01, arithmetic1),
                                              arithmetic1));
                },
                [&](size_t from, size_t to) KERNEL_TARGET {
                    for (size_t i = from; i < to; i += LANES)
                        T::store(kept.data() + i,
                                 T::settle(T::add(T::load(kept.data() + i),
                                                  T::multiply(T::load(x.data() + i), p0_mod_p2, arithmetic2)),
                                           arithmetic2));
                });
        }

        convolve_all(2);
        {
            // y2 = (r2 - t) / (p0 p1) mod p2 into x, canonical, and p0 p1 S2
            // added into the product, a chunk at a time.
            const Modulus m2(TRANSFORM_PRIMES[2].p);
            const Arithmetic arithmetic(m2);
            const Factor c012 =
                T::factor(m2.multiply(constants.p0_inverse_mod_p2, constants.p1_inverse_mod_p2), arithmetic);
            carry_into(
                product, bits, count, CoefficientCarrier::Mode::accumulate, pool,
                [&](size_t i) KERNEL_TARGET { return high_garner_words(T::to_residue(x[i])); },
                [&](size_t from, size_t to) KERNEL_TARGET {
                    for (size_t i = from; i < to; i += LANES)
                        T::store(x.data() + i,
                                 T::canonical(T::multiply(T::subtract(T::load(x.data() + i), T::load(kept.data() + i), arithmetic),
                                                          c012, arithmetic),
                                              arithmetic));
                },
                [](size_t, size_t) {});
        }
    }

    // The limbs of the operand's top `top` coefficients of `bits` bits, the
    // operand shifted right by the bits of the others.
    static std::vector<uint64_t> top_coefficients(std::span<const uint64_t> limbs, int bits, size_t top)
    {
        const size_t count = coefficient_count(limbs.size(), bits);
        const size_t first_bit = (count - top) * static_cast<size_t>(bits);
        const size_t first_limb = first_bit / 64;
        const unsigned shift = first_bit % 64;
        std::vector<uint64_t> shifted(limbs.size() - first_limb);
        for (size_t i = 0; i < shifted.size(); ++i) {
            const uint64_t next = shift != 0 && first_limb + i + 1 < limbs.size() ? limbs[first_limb + i + 1] << (64 - shift) : 0;
            shifted[i] = (limbs[first_limb + i] >> shift) | next;
        }
        while (!shifted.empty() && shifted.back() == 0)
            shifted.pop_back();
        if (shifted.empty())
            shifted.push_back(0);
        return shifted;
    }

    // A product's top made apart. The cyclic convolution of length L holds
    // w_i = c_i + c_(i+L) for i < r = count - L, and c_i above; the top
    // coefficients c_(L+i) involve only a_j and b_k with j and k at least
    // their operand's count less r, so they are the coefficients r - 1 + i
    // of the product of the operands' top r coefficients, made by the
    // transforms of top_x. So x_i <- w_i - c_(L+i) for i < r, and
    // x_(L+i) <- c_(L+i); the difference of two values within INVERSE_OUT,
    // reduced, lies within INVERSE_OUT too.
    static_assert(T::after_reduce(T::after_difference(INVERSE_OUT, INVERSE_OUT)) <= INVERSE_OUT,
                  "a corrected wrapped value within INVERSE_OUT");
    KERNEL_TARGET static void fold_top(size_t index, Value* x, const Value* top_x, size_t length, size_t top,
                                       ForkJoinPool* pool)
    {
        const Modulus m(TRANSFORM_PRIMES[index].p);
        const Arithmetic arithmetic(m);
        const Value* high = top_x + (top - 1);
        const size_t whole = top / LANES * LANES;
        in_two(pool, top, whole, [&](size_t from, size_t to) KERNEL_TARGET {
            for (size_t i = from; i < to; i += LANES) {
                const Vector c = T::load(high + i);
                T::store(x + i, T::reduce(T::subtract(T::load(x + i), c, arithmetic), arithmetic));
                T::store(x + length + i, c);
            }
        });
        for (size_t i = whole; i < top; ++i) {
            const int64_t difference = T::to_integer(x[i]) - T::to_integer(high[i]);
            const auto p = static_cast<int64_t>(m.p());
            x[i] = T::from_residue(static_cast<uint64_t>((difference % p + p) % p));
            x[length + i] = high[i];
        }
    }

    // The carrying of coefficients of 64 bits, coefficient k at limb k, in one
    // tight loop: limbs[k] <- (limbs[k] if accumulating) + the words of the
    // coefficients that reach limb k, for k < count, and the words that reach
    // past limb count - 1 left in pending (two: a coefficient of three words,
    // below 2^151 with what is carried, reaches two limbs past its own).
    // words(k) gives coefficient k, with its top word below 2^62.
    template <class Words>
    KERNEL_TARGET static void carry_whole_limbs(uint64_t* limbs, size_t count, bool accumulate, Words&& words, uint64_t (&pending)[2])
    {
        uint64_t p0 = pending[0], p1 = pending[1];
        for (size_t k = 0; k < count; ++k) {
            const CoefficientWords c = words(k);
            const unsigned __int128 s0 =
                static_cast<unsigned __int128>(p0) + c.low + (accumulate ? limbs[k] : uint64_t{0});
            limbs[k] = static_cast<uint64_t>(s0);
            const unsigned __int128 s1 = static_cast<unsigned __int128>(p1) + c.middle + static_cast<uint64_t>(s0 >> 64);
            p0 = static_cast<uint64_t>(s1);
            p1 = c.high + static_cast<uint64_t>(s1 >> 64);
        }
        pending[0] = p0;
        pending[1] = p1;
    }


    // The carrying of coefficients of bits < 64 bits, coefficients [from,
    // to) from the start of limbs (from a multiple of 64, so the first
    // starts on a whole limb): a window of four words over the limbs from
    // limb `at`, coefficient k added shifted to where it starts in it (a
    // coefficient below 2^151 shifted by less than 64 bits fits the window,
    // with what is carried), the window's low word written out and the
    // window moved on by a word each time the start passes it (once at most
    // per coefficient, bits < 64); words past the limbs must be zero. The
    // window carries on from one call to the next.
    struct NarrowWindow {
        uint64_t w0 = 0, w1 = 0, w2 = 0, w3 = 0;
        size_t at = 0;
        unsigned shift = 0;
    };
    template <class Words>
    KERNEL_TARGET static void carry_narrow(std::span<uint64_t> limbs, size_t from, size_t to, int bits,
                                           bool accumulate, Words&& words, NarrowWindow& window)
    {
        uint64_t w0 = window.w0, w1 = window.w1, w2 = window.w2, w3 = window.w3;
        size_t at = window.at;
        unsigned shift = window.shift;
        for (size_t k = from; k < to; ++k) {
            const CoefficientWords c = words(k);
            uint64_t a0 = c.low, a1 = c.middle, a2 = c.high, a3 = 0;
            if (shift != 0) {
                a3 = c.high >> (64 - shift);
                a2 = (c.high << shift) | (c.middle >> (64 - shift));
                a1 = (c.middle << shift) | (c.low >> (64 - shift));
                a0 = c.low << shift;
            }
            unsigned __int128 sum = static_cast<unsigned __int128>(w0) + a0;
            w0 = static_cast<uint64_t>(sum);
            sum = static_cast<unsigned __int128>(w1) + a1 + static_cast<uint64_t>(sum >> 64);
            w1 = static_cast<uint64_t>(sum);
            sum = static_cast<unsigned __int128>(w2) + a2 + static_cast<uint64_t>(sum >> 64);
            w2 = static_cast<uint64_t>(sum);
            w3 += a3 + static_cast<uint64_t>(sum >> 64);
            shift += static_cast<unsigned>(bits);
            if (shift >= 64) {
                shift -= 64;
                if (at < limbs.size()) {
                    sum = static_cast<unsigned __int128>(w0) + (accumulate ? limbs[at] : uint64_t{0});
                    limbs[at] = static_cast<uint64_t>(sum);
                    // The carry out of the written word joins the next.
                    sum = static_cast<unsigned __int128>(w1) + static_cast<uint64_t>(sum >> 64);
                    w1 = static_cast<uint64_t>(sum);
                    sum = static_cast<unsigned __int128>(w2) + static_cast<uint64_t>(sum >> 64);
                    w2 = static_cast<uint64_t>(sum);
                    w3 += static_cast<uint64_t>(sum >> 64);
                } else {
                    require_bound(w0 == 0, "product within its limbs");
                }
                ++at;
                w0 = w1;
                w1 = w2;
                w2 = w3;
                w3 = 0;
            }
        }
        window = {w0, w1, w2, w3, at, shift};
    }

    // A pass over coefficients [0, count), words(i) giving coefficient i,
    // into the product: written (Mode::write, the limbs past the sum set to
    // 0) or added to it. A chunk of CARRY_CHUNK coefficients at a time,
    // before(from, to) and after(from, to) run on the chunk's registers
    // before and after it is carried, while it sits in the cache. In two
    // halves side by side where the pool has a thread; the halves meet at a
    // multiple of 64 coefficients, which starts on a whole limb for any
    // bits, and what the low half carries past that limb is added in last.
    static constexpr size_t CARRY_CHUNK = 1024;
    static_assert(CARRY_CHUNK % LANES == 0, "chunks of whole registers");
    template <class Words, class Before, class After>
    KERNEL_TARGET static void carry_into(std::span<uint64_t> product, int bits, size_t count,
                                         CoefficientCarrier::Mode mode, ForkJoinPool* pool, Words&& words,
                                         Before&& before, After&& after)
    {
        const bool accumulate = mode == CoefficientCarrier::Mode::accumulate;
        const auto registers = [](size_t end) { return (end + LANES - 1) / LANES * LANES; };
        // Coefficients [from, to) into the product from their first limb,
        // what they carry past their last one left in rest.
        const auto carry_range = [&](size_t from, size_t to, std::span<uint64_t> limbs, uint64_t (&rest)[4])
            KERNEL_TARGET {
                size_t at = 0;
                if (bits == 64) {
                    uint64_t pending[2] = {0, 0};
                    const size_t whole = std::min(to, from + limbs.size());
                    for (size_t start = from; start < to; start += CARRY_CHUNK) {
                        const size_t end = std::min(to, start + CARRY_CHUNK);
                        before(start, registers(end));
                        if (start < whole)
                            carry_whole_limbs(limbs.data() + (start - from), std::min(end, whole) - start, accumulate,
                                              [&](size_t k) KERNEL_TARGET { return words(start + k); }, pending);
                        for (size_t i = std::max(start, whole); i < end; ++i) {
                            const CoefficientWords beyond = words(i);
                            require_bound(beyond.low == 0 && beyond.middle == 0 && beyond.high == 0,
                                          "product within its limbs");
                        }
                        after(start, registers(end));
                    }
                    at = whole - from;
                    rest[0] = pending[0];
                    rest[1] = pending[1];
                    rest[2] = rest[3] = 0;
                } else {
                    NarrowWindow window;
                    for (size_t start = from; start < to; start += CARRY_CHUNK) {
                        const size_t end = std::min(to, start + CARRY_CHUNK);
                        before(start, registers(end));
                        carry_narrow(limbs, start, end, bits, accumulate, words, window);
                        after(start, registers(end));
                    }
                    at = window.at;
                    rest[0] = window.w0;
                    rest[1] = window.w1;
                    rest[2] = window.w2;
                    rest[3] = window.w3;
                }
                if (!accumulate)
                    std::fill(limbs.begin() + static_cast<ptrdiff_t>(std::min(at, limbs.size())), limbs.end(), 0);
                return at;
            };
        const size_t split = count / 2 / CARRY_CHUNK * CARRY_CHUNK;
        if (pool == nullptr || count < FORK_BLOCK || split == 0) {
            uint64_t rest[4];
            const size_t at = carry_range(0, count, product, rest);
            add_words_at(product, at, rest);
            return;
        }
        const size_t split_limb = static_cast<size_t>(bits) * split / 64;
        uint64_t low_rest[4], high_rest[4];
        size_t high_at = 0;
        pool->fork_join([&]() KERNEL_TARGET { carry_range(0, split, product.first(split_limb), low_rest); },
                        [&]() KERNEL_TARGET {
                            high_at = split_limb + carry_range(split, count, product.subspan(split_limb), high_rest);
                        });
        add_words_at(product, high_at, high_rest);
        add_words_at(product, split_limb, low_rest);
    }
};

}  // namespace
