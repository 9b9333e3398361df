// The AVX-512 kernel: lazy residues as doubles, eight to a register, with
// the rules of modular.hpp: a product's quotient q = rint(fl(a s')) and its
// remainder fma(-q, p, fl(a s)) + fma(a, s, -fl(a s)), exact because the
// error of a product is a double and the remainder an integer below 2^53.
#define KERNEL_TARGET __attribute__((target("avx512f,avx512dq,avx512vl,avx512bw")))
#include "ntt/kernels/transform_kernel.hpp"

// GCC 12 warns that the unspecified upper lanes it passes to its own
// shuffle and rounding builtins may be uninitialized; they are never read.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#if defined(__x86_64__)
#include "ntt/kernels/avx512_transpose.hpp"

#include <immintrin.h>

namespace {

struct Avx512Traits : SignedLazyRanges {
    using Value = double;
    using Quotient = double;
    using Vector = __m512d;
    static constexpr size_t LANES = 8;

    struct Arithmetic {
        KERNEL_TARGET explicit Arithmetic(const Modulus& m)
            : p(_mm512_set1_pd(double(m.p()))), inverse(_mm512_set1_pd(m.inverse())), p_one(double(m.p()))
        {
        }
        __m512d p, inverse;
        double p_one;
    };
    // Held as scalars and broadcast where used: a table of vector registers
    // would need an alignment that the allocator of a function built for
    // the baseline does not give.
    struct Factor {
        double s, quotient;  // s centered, and s / p
    };
    struct VectorFactor {
        __m512d s, s_over_p;
    };

    KERNEL_INLINE static Factor factor(uint64_t r, const Arithmetic& a)
    {
        const auto s = double(centered(r, static_cast<uint64_t>(a.p_one)));
        return {s, s / a.p_one};
    }
    KERNEL_INLINE static Value vector_factor_value(uint64_t r, const Modulus& m) { return double(centered(r, m.p())); }
    KERNEL_INLINE static VectorFactor vector_factor(Vector s, const Arithmetic& a)
    {
        return {s, _mm512_mul_pd(s, a.inverse)};
    }
    KERNEL_INLINE static void store_factors(Value* s, Quotient* quotients, Vector v, const Arithmetic& a)
    {
        _mm512_storeu_pd(s, v);
        _mm512_storeu_pd(quotients, _mm512_div_pd(v, a.p));
    }
    KERNEL_INLINE static Vector load(const Value* p) { return _mm512_loadu_pd(p); }
    KERNEL_INLINE static void store(Value* p, Vector v) { _mm512_storeu_pd(p, v); }
    KERNEL_INLINE static void split_words(const uint64_t* words, Vector& high, Vector& low)
    {
        const __m512i w = _mm512_loadu_si512(words);
        high = _mm512_cvtepu64_pd(_mm512_srli_epi64(w, 32));
        low = _mm512_cvtepu64_pd(_mm512_and_si512(w, _mm512_set1_epi64(0xffffffff)));
    }
    KERNEL_INLINE static Vector add(Vector x, Vector y) { return _mm512_add_pd(x, y); }
    KERNEL_INLINE static Vector subtract(Vector x, Vector y, const Arithmetic&) { return _mm512_sub_pd(x, y); }
    KERNEL_INLINE static Vector round(Vector v)
    {
        return _mm512_roundscale_pd(v, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
    }
    KERNEL_INLINE static Vector reduce(Vector x, const Arithmetic& a)
    {
        return _mm512_fnmadd_pd(round(_mm512_mul_pd(x, a.inverse)), a.p, x);
    }
    KERNEL_INLINE static Vector settle(Vector x, const Arithmetic&) { return x; }
    KERNEL_INLINE static Vector canonical(Vector x, const Arithmetic& a)
    {
        return _mm512_mask_add_pd(x, _mm512_cmp_pd_mask(x, _mm512_setzero_pd(), _CMP_LT_OQ), x, a.p);
    }
    // a s - q p for the estimate e of a s / p.
    KERNEL_INLINE static Vector remainder(Vector x, Vector s, Vector e, const Arithmetic& a)
    {
        const __m512d h = _mm512_mul_pd(x, s);
        const __m512d l = _mm512_fmsub_pd(x, s, h);
        return _mm512_add_pd(_mm512_fnmadd_pd(round(e), a.p, h), l);
    }
    KERNEL_INLINE static Vector multiply(Vector x, const Factor& f, const Arithmetic& a)
    {
        const __m512d s = _mm512_set1_pd(f.s);
        return remainder(x, s, _mm512_mul_pd(x, _mm512_set1_pd(f.quotient)), a);
    }
    KERNEL_INLINE static Vector multiply(Vector x, const VectorFactor& f, const Arithmetic& a)
    {
        return remainder(x, f.s, _mm512_mul_pd(x, f.s_over_p), a);
    }
    KERNEL_INLINE static Vector multiply_any(Vector x, Vector y, const Arithmetic& a)
    {
        return remainder(x, y, _mm512_mul_pd(_mm512_mul_pd(x, y), a.inverse), a);
    }
    KERNEL_INLINE static void transpose(Vector (&rows)[LANES]) { transpose_rows(rows); }
    KERNEL_INLINE static Value from_residue(uint64_t r) { return double(r); }
    KERNEL_INLINE static uint64_t to_residue(Value v) { return static_cast<uint64_t>(v); }
    KERNEL_INLINE static int64_t to_integer(Value v) { return static_cast<int64_t>(v); }
};

}  // namespace

void multiply_avx512(std::span<const ProductTerm> terms, std::span<uint64_t> product, int bits, size_t length, size_t top_length,
                     ForkJoinPool* pool)
{
    TransformKernel<Avx512Traits>::multiply(terms, product, bits, length, top_length, pool);
}

void transform_avx512(std::span<const uint64_t> operand, int bits, size_t length, void* values, ForkJoinPool* pool)
{
    TransformKernel<Avx512Traits>::transform_operand(operand, bits, length, static_cast<Avx512Traits::Value*>(values), pool);
}
#endif
