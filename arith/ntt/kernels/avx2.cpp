// The AVX2 kernel: residues as doubles, four to a register, with the same
// arithmetic as the AVX-512 kernel:
//
// Why the products are exact. For a, b in [0, p), p in (2^49, 2^50), a b
// < 2^100. h = fl(a b) and l = fma(a, b, -h) = a b - h exactly (an integer
// of at most 2^46 in size, half a unit in h's last place). The quotient
// q = rint(fl(h fl(1/p))) is within 0.375 + 0.5 of a b / p (modular.hpp's
// bound), so a b - q p lies in [-0.875 p, 0.875 p]; h - q p, within 2^46 of
// it, is an integer below 2^53 and so comes out of fma(-q, p, h) exactly, as
// does the sum with l. One addition of p where the result is negative brings
// it into [0, p). For a fixed factor s the quotient is
// rint(fl(a fl(s fl(1/p)))), within 0.375 + 0.5 of a s / p in the same way,
// one product fewer. Sums and differences of residues are exact integers
// below 2^51.
#define KERNEL_TARGET __attribute__((target("avx2,fma")))
#include "ntt/kernels/transform_kernel.hpp"

#if defined(__x86_64__)
#include <immintrin.h>

namespace {

struct Avx2Traits {
    using Value = double;
    using Vector = __m256d;
    static constexpr size_t LANES = 4;

    struct Arithmetic {
        KERNEL_TARGET explicit Arithmetic(const Modulus& m)
            : p(_mm256_set1_pd(double(m.p()))), inverse(_mm256_set1_pd(m.inverse())), p_one(double(m.p())),
              inverse_one(m.inverse())
        {
        }
        __m256d p, inverse;
        double p_one, inverse_one;
    };
    // Held as scalars and broadcast where used: a table of vector registers
    // would need an alignment that the allocator of a function built for
    // the baseline does not give.
    struct Factor {
        double s, s_over_p;
    };

    KERNEL_INLINE static Factor factor(uint64_t s, const Arithmetic& a)
    {
        return factor_of(double(s), a);
    }
    KERNEL_INLINE static Factor factor_of(Value s, const Arithmetic& a) { return {s, s * a.inverse_one}; }
    KERNEL_INLINE static Vector broadcast(Value v) { return _mm256_set1_pd(v); }
    KERNEL_INLINE static Vector load(const Value* p) { return _mm256_loadu_pd(p); }
    KERNEL_INLINE static void store(Value* p, Vector v) { _mm256_storeu_pd(p, v); }
    KERNEL_INLINE static Vector add(Vector x, Vector y, const Arithmetic& a)
    {
        const __m256d sum = _mm256_add_pd(x, y);
        return _mm256_sub_pd(sum, _mm256_and_pd(_mm256_cmp_pd(sum, a.p, _CMP_GE_OQ), a.p));
    }
    KERNEL_INLINE static Vector subtract(Vector x, Vector y, const Arithmetic& a)
    {
        const __m256d difference = _mm256_sub_pd(x, y);
        return _mm256_add_pd(difference,
                             _mm256_and_pd(_mm256_cmp_pd(difference, _mm256_setzero_pd(), _CMP_LT_OQ), a.p));
    }
    KERNEL_INLINE static Vector reduce(Vector h, Vector l, Vector quotient, const Arithmetic& a)
    {
        const __m256d q = _mm256_round_pd(quotient, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
        const __m256d r = _mm256_add_pd(_mm256_fnmadd_pd(q, a.p, h), l);
        return _mm256_add_pd(r, _mm256_and_pd(_mm256_cmp_pd(r, _mm256_setzero_pd(), _CMP_LT_OQ), a.p));
    }
    KERNEL_INLINE static Vector multiply(Vector x, const Factor& f, const Arithmetic& a)
    {
        const __m256d s = _mm256_set1_pd(f.s);
        const __m256d h = _mm256_mul_pd(x, s);
        const __m256d l = _mm256_fmsub_pd(x, s, h);
        return reduce(h, l, _mm256_mul_pd(x, _mm256_set1_pd(f.s_over_p)), a);
    }
    KERNEL_INLINE static Vector multiply_any(Vector x, Vector y, const Arithmetic& a)
    {
        const __m256d h = _mm256_mul_pd(x, y);
        const __m256d l = _mm256_fmsub_pd(x, y, h);
        return reduce(h, l, _mm256_mul_pd(h, a.inverse), a);
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
};

}  // namespace

void multiply_avx2(std::span<const uint64_t> a, std::span<const uint64_t> b, std::span<uint64_t> product,
                  int bits, size_t length, ForkJoinPool* pool)
{
    TransformKernel<Avx2Traits>::multiply(a, b, product, bits, length, pool);
}
#endif
