// The AVX-512 IFMA kernel: lazy residues as unsigned 64-bit integers, eight
// to a register, multiplied by IFMA's 52-bit products (the low and the high
// 52 bits of a 104-bit product added to a 64-bit lane). A value v stands for
// its residue mod p and lies in [0, X p) for its bound X; every operand of a
// product is below 2^52, which 4p is (p < 2^50).
//
// A fixed factor w in [0, p) with w' = floor(w 2^52 / p) (Shoup): for
// a < 2^52, q = hi(a w') and r = a w - q p. Since
// w 2^52 / p - 1 < w' <= w 2^52 / p, a w / p - 2 < q <= a w / p, so r lies
// in [0, 2p): below 2^52, it is (lo(a w) + lo(q (2^52 - p))) mod 2^52.
//
// A factor in each lane, and the pointwise products, by Montgomery's
// product with R = 2^52: for a, b < 2^52 with a b < 2^52 p,
// L = lo(a b), m = lo(L p^-1), so that lo(m p) = L; then
// (a b - m p) / 2^52 = hi(a b) - hi(m p) exactly, in (-p, a b / 2^52), and
// r = hi(a b) + p - hi(m p) lies in (0, p + a b / 2^52) and is a b / R mod p.
// Lanes' factors are held as s R mod p (vector_factor_value), in [0, p):
// then r = a s, in (0, 2p) for a < 4p, and the product of two such forms
// is the form of the product. The pointwise products a b / R are made whole
// by R in the factor 1 / length (any_product_scale).
//
// A step v -> min(v, v - 2p) (unsigned: v - 2p wraps above 2^63 where
// v < 2p) brings [0, X p) into [0, max(2, X - 2) p); it is both reduce and
// settle. A difference a - b is a + 2p - b, for b < 2p.
#define KERNEL_TARGET __attribute__((target("avx512f,avx512dq,avx512vl,avx512bw,avx512ifma")))
#include "ntt/kernels/transform_kernel.hpp"

// GCC 12 warns that the unspecified upper lanes it passes to its own
// shuffle builtins may be uninitialized; they are never read.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#if defined(__x86_64__)
#include "ntt/kernels/avx512_transpose.hpp"

#include <immintrin.h>

namespace {

// The range rules of the arithmetic above, bounds X on v in [0, X p).
struct UnsignedLazyRanges {
    static constexpr double FORWARD_BOUND = 4, INVERSE_BOUND = 2;
    static constexpr double OPERAND_LIMIT = 4;  // 4p < 2^52
    // 8p < 2^53: a step's v - 2p wraps far above every value.
    static constexpr double VALUE_LIMIT = 8;
    static constexpr double CANONICAL_FROM = 2;  // canonical: min(v, v - p)
    static constexpr double FACTOR_FROM = 2;     // factors are made canonical first
    static constexpr double held(double x)
    {
        if (x > VALUE_LIMIT)
            throw "a lazy residue of 8p or more";
        return x;
    }
    static constexpr double operand(double x)
    {
        if (x > OPERAND_LIMIT)
            throw "a product's operand of 2^52 or more";
        return x;
    }
    static constexpr double step(double x) { return held(x) <= 2 ? x : (x - 2 > 2 ? x - 2 : 2); }
    static constexpr double after_reduce(double x) { return step(x); }
    static constexpr double after_settle(double x) { return step(x); }
    static constexpr double after_difference(double x, double y)
    {
        if (y > 2)
            throw "a difference from 2p or more";
        return held(x + 2);
    }
    static constexpr double after_factor(double x) { return operand(x) >= 0 ? 2 : 2; }
    static constexpr double after_vector_factor(double x) { return operand(x) >= 0 ? 2 : 2; }
    // r < p + a b / 2^52 < (1 + X Y / 4) p, as p / 2^52 < 1/4; a b < 2^52 p
    // where X Y <= 4.
    static constexpr double after_any(double x, double y)
    {
        if (operand(x) * operand(y) > 4)
            throw "a Montgomery product of 2^52 p or more";
        return 1 + x * y / 4;
    }
    static uint64_t any_product_scale(uint64_t p) { return (uint64_t{1} << 52) % p; }
};

struct IfmaTraits : UnsignedLazyRanges {
    using Value = uint64_t;
    using Quotient = uint64_t;
    using Vector = __m512i;
    static constexpr size_t LANES = 8;

    struct Arithmetic {
        KERNEL_TARGET explicit Arithmetic(const Modulus& m)
            : p(_mm512_set1_epi64(static_cast<long long>(m.p()))),
              two_p(_mm512_set1_epi64(static_cast<long long>(2 * m.p()))),
              minus_p(_mm512_set1_epi64(static_cast<long long>((uint64_t{1} << 52) - m.p()))),
              p_inverse(_mm512_set1_epi64(static_cast<long long>(inverse_mod_2_52(m.p())))),
              low_52(_mm512_set1_epi64(static_cast<long long>((uint64_t{1} << 52) - 1))),
              quotient_scale(_mm512_set1_pd(0x1p52 / double(m.p()))),
              p_one(m.p())
        {
        }
        __m512i p, two_p, minus_p, p_inverse, low_52;
        __m512d quotient_scale;  // fl(2^52 / p)
        uint64_t p_one;
    };
    // p^-1 mod 2^52 by Newton's iteration: x p = 1 mod 2^k gives
    // x (2 - x p) p = 1 mod 2^2k, from x = p, right mod 2^3 for odd p.
    static uint64_t inverse_mod_2_52(uint64_t p)
    {
        uint64_t x = p;
        for (int i = 0; i < 5; ++i)
            x *= 2 - x * p;
        return x & ((uint64_t{1} << 52) - 1);
    }
    // Held as scalars and broadcast where used, as in the AVX-512 kernel.
    struct Factor {
        uint64_t s, quotient;  // w in [0, p), and w' = floor(w 2^52 / p)
    };
    struct VectorFactor {
        __m512i s;  // w R mod p in each lane
    };

    KERNEL_INLINE static Factor factor(uint64_t r, const Arithmetic& a)
    {
        return {r, static_cast<uint64_t>((static_cast<unsigned __int128>(r) << 52) / a.p_one)};
    }
    KERNEL_INLINE static Value vector_factor_value(uint64_t r, const Modulus& m)
    {
        return static_cast<uint64_t>((static_cast<unsigned __int128>(r) << 52) % m.p());
    }
    // w' for w in [0, p) in each lane. With T = w 2^52 / p < 2^52, the
    // estimate e = fl(fl(w) fl(2^52 / p)) (w < 2^50 exactly) is within
    // T 2^-52 < 1 of T, so q = trunc(e) is floor(T) or one either side, and
    // the remainder w 2^52 - q p, in [-p, 2p) and so below 2^51 in
    // magnitude, tells which: it is -q p mod 2^52, lo(q (2^52 - p)).
    KERNEL_INLINE static __m512i shoup_quotients(__m512i w, const Arithmetic& a)
    {
        const __m512i q = _mm512_cvttpd_epu64(_mm512_mul_pd(_mm512_cvtepu64_pd(w), a.quotient_scale));
        const __m512i rest = _mm512_madd52lo_epu64(_mm512_setzero_si512(), q, a.minus_p);
        const __mmask8 negative = _mm512_cmpge_epu64_mask(rest, _mm512_set1_epi64(int64_t{1} << 51));
        const __mmask8 over = _mm512_mask_cmpge_epu64_mask(static_cast<__mmask8>(~negative), rest, a.p);
        const __m512i one = _mm512_set1_epi64(1);
        return _mm512_mask_add_epi64(_mm512_mask_sub_epi64(q, negative, q, one), over, q, one);
    }
    KERNEL_INLINE static void store_factors(Value* s, Quotient* quotients, Vector v, const Arithmetic& a)
    {
        const __m512i w = canonical(v, a);
        _mm512_storeu_si512(s, w);
        _mm512_storeu_si512(quotients, shoup_quotients(w, a));
    }
    KERNEL_INLINE static VectorFactor vector_factor(Vector s, const Arithmetic& a) { return {canonical(s, a)}; }
    KERNEL_INLINE static Vector load(const Value* p) { return _mm512_loadu_si512(p); }
    KERNEL_INLINE static void store(Value* p, Vector v) { _mm512_storeu_si512(p, v); }
    KERNEL_INLINE static void split_words(const uint64_t* words, Vector& high, Vector& low)
    {
        const __m512i w = _mm512_loadu_si512(words);
        high = _mm512_srli_epi64(w, 32);
        low = _mm512_and_si512(w, _mm512_set1_epi64(0xffffffff));
    }
    KERNEL_INLINE static Vector add(Vector x, Vector y) { return _mm512_add_epi64(x, y); }
    KERNEL_INLINE static Vector subtract(Vector x, Vector y, const Arithmetic& a)
    {
        return _mm512_sub_epi64(_mm512_add_epi64(x, a.two_p), y);
    }
    KERNEL_INLINE static Vector reduce(Vector x, const Arithmetic& a)
    {
        return _mm512_min_epu64(x, _mm512_sub_epi64(x, a.two_p));
    }
    KERNEL_INLINE static Vector settle(Vector x, const Arithmetic& a) { return reduce(x, a); }
    KERNEL_INLINE static Vector canonical(Vector x, const Arithmetic& a)
    {
        return _mm512_min_epu64(x, _mm512_sub_epi64(x, a.p));
    }
    KERNEL_INLINE static Vector multiply(Vector x, const Factor& f, const Arithmetic& a)
    {
        const __m512i zero = _mm512_setzero_si512();
        const __m512i q = _mm512_madd52hi_epu64(zero, x, _mm512_set1_epi64(static_cast<long long>(f.quotient)));
        const __m512i low = _mm512_madd52lo_epu64(zero, x, _mm512_set1_epi64(static_cast<long long>(f.s)));
        return _mm512_and_si512(_mm512_madd52lo_epu64(low, q, a.minus_p), a.low_52);
    }
    KERNEL_INLINE static Vector montgomery(Vector x, Vector y, const Arithmetic& a)
    {
        const __m512i zero = _mm512_setzero_si512();
        const __m512i low = _mm512_madd52lo_epu64(zero, x, y);
        const __m512i high = _mm512_madd52hi_epu64(a.p, x, y);
        const __m512i m = _mm512_madd52lo_epu64(zero, low, a.p_inverse);
        return _mm512_sub_epi64(high, _mm512_madd52hi_epu64(zero, m, a.p));
    }
    KERNEL_INLINE static Vector multiply(Vector x, const VectorFactor& f, const Arithmetic& a)
    {
        return montgomery(x, f.s, a);
    }
    KERNEL_INLINE static Vector multiply_any(Vector x, Vector y, const Arithmetic& a) { return montgomery(x, y, a); }
    KERNEL_INLINE static void transpose(Vector (&rows)[LANES])
    {
        __m512d cast[LANES];
        for (size_t row = 0; row < LANES; ++row)
            cast[row] = _mm512_castsi512_pd(rows[row]);
        transpose_rows(cast);
        for (size_t row = 0; row < LANES; ++row)
            rows[row] = _mm512_castpd_si512(cast[row]);
    }
    KERNEL_INLINE static Value from_residue(uint64_t r) { return r; }
    KERNEL_INLINE static uint64_t to_residue(Value v) { return v; }
    KERNEL_INLINE static int64_t to_integer(Value v) { return static_cast<int64_t>(v); }
};

}  // namespace

void multiply_avx512_ifma(std::span<const ProductTerm> terms, std::span<uint64_t> product, int bits, size_t length,
                          size_t top_length, ForkJoinPool* pool)
{
    TransformKernel<IfmaTraits>::multiply(terms, product, bits, length, top_length, pool);
}

void transform_avx512_ifma(std::span<const uint64_t> operand, int bits, size_t length, void* values, ForkJoinPool* pool)
{
    TransformKernel<IfmaTraits>::transform_operand(operand, bits, length, static_cast<IfmaTraits::Value*>(values), pool);
}
#endif
