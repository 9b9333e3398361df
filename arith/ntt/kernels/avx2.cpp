// The AVX2 kernel: lazy residues as doubles, four to a register, with the
// same arithmetic as the AVX-512 kernel (modular.hpp's rules).
#define KERNEL_TARGET __attribute__((target("avx2,fma")))
#include "ntt/kernels/transform_kernel.hpp"

#if defined(__x86_64__)
#include <immintrin.h>

namespace {

struct Avx2Traits : SignedLazyRanges {
    using Value = double;
    using Quotient = double;
    using Vector = __m256d;
    static constexpr size_t LANES = 4;

    struct Arithmetic {
        KERNEL_TARGET explicit Arithmetic(const Modulus& m)
            : p(_mm256_set1_pd(double(m.p()))), inverse(_mm256_set1_pd(m.inverse())), p_one(double(m.p()))
        {
        }
        __m256d p, inverse;
        double p_one;
    };
    // Held as scalars and broadcast where used: a table of vector registers
    // would need an alignment that the allocator of a function built for
    // the baseline does not give.
    struct Factor {
        double s, quotient;  // s centered, and s / p
    };
    struct VectorFactor {
        __m256d s, s_over_p;
    };

    KERNEL_INLINE static Factor factor(uint64_t r, const Arithmetic& a)
    {
        const auto s = double(centered(r, static_cast<uint64_t>(a.p_one)));
        return {s, s / a.p_one};
    }
    KERNEL_INLINE static Value vector_factor_value(uint64_t r, const Modulus& m) { return double(centered(r, m.p())); }
    KERNEL_INLINE static VectorFactor vector_factor(Vector s, const Arithmetic& a)
    {
        return {s, _mm256_mul_pd(s, a.inverse)};
    }
    KERNEL_INLINE static void store_factors(Value* s, Quotient* quotients, Vector v, const Arithmetic& a)
    {
        _mm256_storeu_pd(s, v);
        _mm256_storeu_pd(quotients, _mm256_div_pd(v, a.p));
    }
    KERNEL_INLINE static Vector load(const Value* p) { return _mm256_loadu_pd(p); }
    KERNEL_INLINE static void store(Value* p, Vector v) { _mm256_storeu_pd(p, v); }
    // A value below 2^32 in a 64-bit lane, its bits under those of 2^52, is
    // the double 2^52 + value exactly.
    KERNEL_INLINE static void split_words(const uint64_t* words, Vector& high, Vector& low)
    {
        const __m256i w = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(words));
        const __m256i exponent = _mm256_set1_epi64x(0x4330000000000000);
        const __m256d offset = _mm256_set1_pd(0x1p52);
        high = _mm256_sub_pd(_mm256_castsi256_pd(_mm256_or_si256(_mm256_srli_epi64(w, 32), exponent)), offset);
        low = _mm256_sub_pd(
            _mm256_castsi256_pd(_mm256_or_si256(_mm256_and_si256(w, _mm256_set1_epi64x(0xffffffff)), exponent)), offset);
    }
    KERNEL_INLINE static Vector add(Vector x, Vector y) { return _mm256_add_pd(x, y); }
    KERNEL_INLINE static Vector subtract(Vector x, Vector y, const Arithmetic&) { return _mm256_sub_pd(x, y); }
    KERNEL_INLINE static Vector round(Vector v) { return _mm256_round_pd(v, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC); }
    KERNEL_INLINE static Vector reduce(Vector x, const Arithmetic& a)
    {
        return _mm256_fnmadd_pd(round(_mm256_mul_pd(x, a.inverse)), a.p, x);
    }
    KERNEL_INLINE static Vector settle(Vector x, const Arithmetic&) { return x; }
    KERNEL_INLINE static Vector canonical(Vector x, const Arithmetic& a)
    {
        return _mm256_add_pd(x, _mm256_and_pd(_mm256_cmp_pd(x, _mm256_setzero_pd(), _CMP_LT_OQ), a.p));
    }
    // a s - q p for the estimate e of a s / p.
    KERNEL_INLINE static Vector remainder(Vector x, Vector s, Vector e, const Arithmetic& a)
    {
        const __m256d h = _mm256_mul_pd(x, s);
        const __m256d l = _mm256_fmsub_pd(x, s, h);
        return _mm256_add_pd(_mm256_fnmadd_pd(round(e), a.p, h), l);
    }
    KERNEL_INLINE static Vector multiply(Vector x, const Factor& f, const Arithmetic& a)
    {
        return remainder(x, _mm256_set1_pd(f.s), _mm256_mul_pd(x, _mm256_set1_pd(f.quotient)), a);
    }
    KERNEL_INLINE static Vector multiply(Vector x, const VectorFactor& f, const Arithmetic& a)
    {
        return remainder(x, f.s, _mm256_mul_pd(x, f.s_over_p), a);
    }
    KERNEL_INLINE static Vector multiply_any(Vector x, Vector y, const Arithmetic& a)
    {
        return remainder(x, y, _mm256_mul_pd(_mm256_mul_pd(x, y), a.inverse), a);
    }
    KERNEL_INLINE static void transpose(Vector (&rows)[LANES])
    {
        const Vector low_a = _mm256_unpacklo_pd(rows[0], rows[1]), high_a = _mm256_unpackhi_pd(rows[0], rows[1]);
        const Vector low_b = _mm256_unpacklo_pd(rows[2], rows[3]), high_b = _mm256_unpackhi_pd(rows[2], rows[3]);
        rows[0] = _mm256_permute2f128_pd(low_a, low_b, 0x20);
        rows[2] = _mm256_permute2f128_pd(low_a, low_b, 0x31);
        rows[1] = _mm256_permute2f128_pd(high_a, high_b, 0x20);
        rows[3] = _mm256_permute2f128_pd(high_a, high_b, 0x31);
    }
    KERNEL_INLINE static Value from_residue(uint64_t r) { return double(r); }
    KERNEL_INLINE static uint64_t to_residue(Value v) { return static_cast<uint64_t>(v); }
    KERNEL_INLINE static int64_t to_integer(Value v) { return static_cast<int64_t>(v); }
};

}  // namespace

void multiply_avx2(std::span<const ProductTerm> terms, std::span<uint64_t> product, int bits, size_t length, size_t top_length,
                   ForkJoinPool* pool)
{
    TransformKernel<Avx2Traits>::multiply(terms, product, bits, length, top_length, pool);
}

void transform_avx2(std::span<const uint64_t> operand, int bits, size_t length, void* values, ForkJoinPool* pool)
{
    TransformKernel<Avx2Traits>::transform_operand(operand, bits, length, static_cast<Avx2Traits::Value*>(values), pool);
}
#endif
