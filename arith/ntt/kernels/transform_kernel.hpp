// The body shared by the fast transform kernels: the cyclic convolution of
// two coefficient arrays modulo one prime, by transforms of length 2^k or
// 3 * 2^k, over the values and the arithmetic a kernel file describes in a
// traits type. The kernels differ only in those few lines: portable.cpp in
// 64-bit words, avx2.cpp and avx512.cpp in vectors of doubles.
//
// The transform is the remainder tree of x^M - 1. A block of 2 len values
// that holds a polynomial mod x^(2 len) - s^2 splits into two blocks, the
// polynomial mod x^len - s and mod x^len + s: (a, b) -> (a + s b, a - s b)
// for each pair len apart. At the level of m blocks, block i has
// s = w_2m^brev_m(i) (w_2m a root of order 2m, brev_m reversing log2 m
// bits), so one table T[i] = w_M^brev(i), i < M/2, in bit-reversed order
// serves every level: level m reads its first m entries. The leaves hold the
// transform in bit-reversed order, which the pointwise product does not mind.
// The inverse undoes each level, (u, v) -> (u + v, (u - v) s^-1), which
// doubles what the forward level made, so the result is M times the
// convolution; the pointwise product divides by the length once.
//
// A length 3M first splits x^(3M) - 1 into the three blocks x^M - c,
// c = 1, w_3, w_3^2, and twists block b by w_3M^(b j) so that each becomes a
// cyclic transform of length M: with d = w_3,
//   y_0 = x_0 + x_1 + x_2,
//   y_1 = ((x_0 - x_2) + d (x_1 - x_2)) w^j,   (x_0 + d x_1 + d^2 x_2, as 1 + d + d^2 = 0)
//   y_2 = ((x_0 - x_1) + d (x_2 - x_1)) w^(2j).
//
// Blocks are transformed depth first, so that once a block fits the cache
// all its levels run there; the two halves of a large block go to two
// threads when the pool has one free.
//
// Target. The including file defines KERNEL_TARGET as its target attribute
// (empty for the portable kernel) before including this header; everything
// here has internal linkage, so each kernel file compiles a copy for its own
// target and nothing here can be picked by the linker for code that runs
// before the CPU check.
//
// A traits type T has, all static and KERNEL_TARGET:
//   Value                      what one residue is held as in the arrays
//   Vector, LANES              LANES values in one register (LANES may be 1)
//   Arithmetic                 built from a Modulus: the prime's constants
//   load(const Value*), store(Value*, Vector), broadcast(Value)
//   add(a, b, A), subtract(a, b, A)
//                              for a, b in [0, p): the sum, difference in [0, p)
//   Factor, factor(s, A)       a fixed factor s in [0, p), prepared
//   multiply(a, f, A)          a s mod p, in [0, p), for a in [0, p)
//   multiply_any(a, b, A)      a b mod p, in [0, p), for a, b in [0, p)
//   add_one, subtract_one, multiply_one, multiply_any_one
//                              the same on single Values
//   from_residue(uint64_t), to_residue(Value)
//                              between a residue in [0, p) and a Value
#pragma once

#ifndef KERNEL_TARGET
#error "define KERNEL_TARGET, the including kernel's target attribute, before including transform_kernel.hpp"
#endif

#include "fork_join_pool.hpp"
#include "ntt/kernels/ntt_kernels.hpp"
#include "ntt/modular.hpp"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#define KERNEL_INLINE KERNEL_TARGET __attribute__((always_inline)) inline

namespace {

// Blocks of at most this many values are transformed level by level, all
// levels while the block sits in the cache (2^14 doubles: 128 KiB).
constexpr size_t CACHED_BLOCK = size_t{1} << 14;
// Blocks of at least this many values hand their halves to two threads.
constexpr size_t FORK_BLOCK = size_t{1} << 15;

template <class T>
struct TransformKernel {
    using Value = typename T::Value;
    using Vector = typename T::Vector;
    using Arithmetic = typename T::Arithmetic;
    using Factor = typename T::Factor;
    static constexpr size_t LANES = T::LANES;

    // The tables of one length M = 2^k: roots[i] = w_M^brev(i) and their
    // inverses, i < M / 2, prepared as factors.
    struct Tables {
        std::vector<Factor> roots, inverse_roots;
    };

    KERNEL_TARGET static size_t bit_reverse(size_t value, int bits)
    {
        size_t reversed = 0;
        for (int bit = 0; bit < bits; ++bit, value >>= 1)
            reversed = (reversed << 1) | (value & 1);
        return reversed;
    }

    KERNEL_TARGET static Tables make_tables(const Modulus& m, const Arithmetic& arithmetic, uint64_t root, size_t length)
    {
        Tables tables;
        const size_t half = length / 2;
        int bits = 0;
        while ((size_t{1} << bits) < half)
            ++bits;
        std::vector<uint64_t> powers(half == 0 ? 1 : half);
        powers[0] = 1;
        for (size_t e = 1; e < half; ++e)
            powers[e] = m.multiply(powers[e - 1], root);
        const uint64_t inverse_root = m.invert(root);
        std::vector<uint64_t> inverse_powers(powers.size());
        inverse_powers[0] = 1;
        for (size_t e = 1; e < half; ++e)
            inverse_powers[e] = m.multiply(inverse_powers[e - 1], inverse_root);
        tables.roots.reserve(half);
        tables.inverse_roots.reserve(half);
        for (size_t i = 0; i < half; ++i) {
            const size_t e = bit_reverse(i, bits);
            tables.roots.push_back(T::factor(powers[e], arithmetic));
            tables.inverse_roots.push_back(T::factor(inverse_powers[e], arithmetic));
        }
        return tables;
    }

    // One forward level on a block of 2 len values with factor s.
    KERNEL_TARGET static void forward_block(Value* x, size_t len, const Factor& s, const Arithmetic& arithmetic)
    {
        size_t j = 0;
        for (; j + LANES <= len; j += LANES) {
            const Vector a = T::load(x + j);
            const Vector t = T::multiply(T::load(x + j + len), s, arithmetic);
            T::store(x + j, T::add(a, t, arithmetic));
            T::store(x + j + len, T::subtract(a, t, arithmetic));
        }
        for (; j < len; ++j) {
            const Value a = x[j];
            const Value t = T::multiply_one(x[j + len], s, arithmetic);
            x[j] = T::add_one(a, t, arithmetic);
            x[j + len] = T::subtract_one(a, t, arithmetic);
        }
    }

    KERNEL_TARGET static void inverse_block(Value* x, size_t len, const Factor& s_inverse, const Arithmetic& arithmetic)
    {
        size_t j = 0;
        for (; j + LANES <= len; j += LANES) {
            const Vector u = T::load(x + j);
            const Vector v = T::load(x + j + len);
            T::store(x + j, T::add(u, v, arithmetic));
            T::store(x + j + len, T::multiply(T::subtract(u, v, arithmetic), s_inverse, arithmetic));
        }
        for (; j < len; ++j) {
            const Value u = x[j], v = x[j + len];
            x[j] = T::add_one(u, v, arithmetic);
            x[j + len] = T::multiply_one(T::subtract_one(u, v, arithmetic), s_inverse, arithmetic);
        }
    }

    // The block of size values starting at x is block `index` of its level;
    // transforms it down to the leaves.
    KERNEL_TARGET static void forward_tree(Value* x, size_t size, size_t index, const Tables& tables,
                                           const Arithmetic& arithmetic, ForkJoinPool* pool)
    {
        if (size <= CACHED_BLOCK) {
            // Level by level: at block size 2 len the blocks are
            // index * (size / (2 len)) + k.
            for (size_t len = size / 2, count = 1; len >= 1; len /= 2, count *= 2)
                for (size_t k = 0; k < count; ++k)
                    forward_block(x + 2 * len * k, len, tables.roots[index * count + k], arithmetic);
            return;
        }
        const size_t len = size / 2;
        forward_block(x, len, tables.roots[index], arithmetic);
        if (pool != nullptr && size >= FORK_BLOCK) {
            pool->fork_join([&] { forward_tree(x, len, 2 * index, tables, arithmetic, pool); },
                            [&] { forward_tree(x + len, len, 2 * index + 1, tables, arithmetic, pool); });
        } else {
            forward_tree(x, len, 2 * index, tables, arithmetic, pool);
            forward_tree(x + len, len, 2 * index + 1, tables, arithmetic, pool);
        }
    }

    KERNEL_TARGET static void inverse_tree(Value* x, size_t size, size_t index, const Tables& tables,
                                           const Arithmetic& arithmetic, ForkJoinPool* pool)
    {
        if (size <= CACHED_BLOCK) {
            size_t count = size / 2;
            for (size_t len = 1; len < size; len *= 2, count /= 2)
                for (size_t k = 0; k < count; ++k)
                    inverse_block(x + 2 * len * k, len, tables.inverse_roots[index * count + k], arithmetic);
            return;
        }
        const size_t len = size / 2;
        if (pool != nullptr && size >= FORK_BLOCK) {
            pool->fork_join([&] { inverse_tree(x, len, 2 * index, tables, arithmetic, pool); },
                            [&] { inverse_tree(x + len, len, 2 * index + 1, tables, arithmetic, pool); });
        } else {
            inverse_tree(x, len, 2 * index, tables, arithmetic, pool);
            inverse_tree(x + len, len, 2 * index + 1, tables, arithmetic, pool);
        }
        inverse_block(x, len, tables.inverse_roots[index], arithmetic);
    }

    // The powers w^j, w^(j+1), ..., w^(j+LANES-1) of the twist, advanced by
    // LANES at a time.
    struct Twist {
        Vector powers;
        Factor step;  // w^LANES
    };

    KERNEL_TARGET static Twist start_twist(const Modulus& m, const Arithmetic& arithmetic, uint64_t w)
    {
        alignas(64) Value first[LANES];
        uint64_t power = 1;
        for (size_t lane = 0; lane < LANES; ++lane) {
            first[lane] = T::from_residue(power);
            power = m.multiply(power, w);
        }
        return {T::load(first), T::factor(power, arithmetic)};
    }

    // The radix-3 split of a length 3 part (see the top of the file).
    KERNEL_TARGET static void forward_thirds(Value* x, size_t part, const Modulus& m, const Arithmetic& arithmetic,
                                             uint64_t w)
    {
        const Factor d = T::factor(m.power(w, part), arithmetic);  // w_3
        Twist twist = start_twist(m, arithmetic, w);
        for (size_t j = 0; j < part; j += LANES) {
            const Vector x0 = T::load(x + j), x1 = T::load(x + part + j), x2 = T::load(x + 2 * part + j);
            const Vector w1 = twist.powers;
            const Vector w2 = T::multiply_any(w1, w1, arithmetic);
            const Vector y0 = T::add(T::add(x0, x1, arithmetic), x2, arithmetic);
            const Vector y1 = T::add(T::subtract(x0, x2, arithmetic),
                                     T::multiply(T::subtract(x1, x2, arithmetic), d, arithmetic), arithmetic);
            const Vector y2 = T::add(T::subtract(x0, x1, arithmetic),
                                     T::multiply(T::subtract(x2, x1, arithmetic), d, arithmetic), arithmetic);
            T::store(x + j, y0);
            T::store(x + part + j, T::multiply_any(y1, w1, arithmetic));
            T::store(x + 2 * part + j, T::multiply_any(y2, w2, arithmetic));
            twist.powers = T::multiply(twist.powers, twist.step, arithmetic);
        }
    }

    KERNEL_TARGET static void inverse_thirds(Value* x, size_t part, const Modulus& m, const Arithmetic& arithmetic,
                                             uint64_t w_inverse)
    {
        const Factor d_inverse = T::factor(m.power(w_inverse, part), arithmetic);
        Twist twist = start_twist(m, arithmetic, w_inverse);
        for (size_t j = 0; j < part; j += LANES) {
            const Vector w1 = twist.powers;
            const Vector w2 = T::multiply_any(w1, w1, arithmetic);
            const Vector z0 = T::load(x + j);
            const Vector z1 = T::multiply_any(T::load(x + part + j), w1, arithmetic);
            const Vector z2 = T::multiply_any(T::load(x + 2 * part + j), w2, arithmetic);
            T::store(x + j, T::add(T::add(z0, z1, arithmetic), z2, arithmetic));
            T::store(x + part + j,
                     T::add(T::subtract(z0, z2, arithmetic),
                            T::multiply(T::subtract(z1, z2, arithmetic), d_inverse, arithmetic), arithmetic));
            T::store(x + 2 * part + j,
                     T::add(T::subtract(z0, z1, arithmetic),
                            T::multiply(T::subtract(z2, z1, arithmetic), d_inverse, arithmetic), arithmetic));
            twist.powers = T::multiply(twist.powers, twist.step, arithmetic);
        }
    }

    KERNEL_TARGET static void load_values(const Modulus& m, std::span<const uint64_t> coefficients,
                                          std::vector<Value>& values, size_t length)
    {
        values.assign(length, T::from_residue(0));
        for (size_t i = 0; i < coefficients.size(); ++i)
            values[i] = T::from_residue(m.reduce(coefficients[i]));
    }

    KERNEL_TARGET static void transform_values(std::vector<Value>& values, size_t part, const Tables& tables,
                                               const Modulus& m, const Arithmetic& arithmetic, uint64_t w,
                                               ForkJoinPool* pool)
    {
        const size_t length = values.size();
        if (length != part)
            forward_thirds(values.data(), part, m, arithmetic, w);
        for (size_t third = 0; third < length / part; ++third)
            forward_tree(values.data() + third * part, part, 0, tables, arithmetic, pool);
    }

    // residues <- the first residues.size() values of the cyclic convolution
    // of a and b (b empty: of a with itself) mod the prime, for a length that
    // holds it.
    KERNEL_TARGET static void convolve(const TransformPrime& prime, size_t length, std::span<const uint64_t> a,
                                       std::span<const uint64_t> b, std::span<uint64_t> residues, ForkJoinPool* pool)
    {
        const Modulus m(prime.p);
        const Arithmetic arithmetic(m);
        const size_t part = length % 3 == 0 ? length / 3 : length;
        const uint64_t w = root_of_unity(prime, length);
        const Tables tables = make_tables(m, arithmetic, part == length ? w : m.power(w, 3), part);

        std::vector<Value> x, y;
        load_values(m, a, x, length);
        transform_values(x, part, tables, m, arithmetic, w, pool);
        if (!b.empty()) {
            load_values(m, b, y, length);
            transform_values(y, part, tables, m, arithmetic, w, pool);
        }
        const Value* other = b.empty() ? x.data() : y.data();
        const Factor length_inverse = T::factor(m.invert(length % m.p()), arithmetic);
        for (size_t i = 0; i < length; i += LANES)
            T::store(x.data() + i, T::multiply(T::multiply_any(T::load(x.data() + i), T::load(other + i), arithmetic),
                                               length_inverse, arithmetic));
        y = {};
        for (size_t third = 0; third < length / part; ++third)
            inverse_tree(x.data() + third * part, part, 0, tables, arithmetic, pool);
        if (part != length)
            inverse_thirds(x.data(), part, m, arithmetic, m.invert(w));
        for (size_t i = 0; i < residues.size(); ++i)
            residues[i] = T::to_residue(x[i]);
    }
};

}  // namespace
