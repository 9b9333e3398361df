// The AVX-512 floating kernel: the shared vector kernel (vector_kernel.hpp,
// where the lane layout and the exactness argument are) in five registers of
// eight lanes. The file is built with the project's baseline flags; only the
// functions marked KERNEL_TARGET use AVX-512, and engine_path.cpp calls the
// kernel only on CPUs that report AVX-512 F, DQ, VL and BW.
//
// Rounding is part of each quotient's multiply-add (embedded rounding, with
// exceptions suppressed), so the kernel leaves the MXCSR alone. Each register
// holds terms five apart, whose signs differ, so the signs are a vector per
// register and the partial sum takes one multiply-add.
#include "wavefront/kernels/kernels.hpp"

#if defined(__x86_64__)

#include <immintrin.h>

#define KERNEL_TARGET __attribute__((target("avx512f,avx512dq,avx512vl,avx512bw")))
#include "wavefront/kernels/vector_kernel.hpp"

namespace {

struct Avx512 {
    using Vector = __m512d;
    static constexpr int32_t LANES = 8;
    static constexpr int ROUND_DOWN = _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC;
    static constexpr __mmask8 LAST_LANE = 0x80;

    KERNEL_INLINE static Vector load(const double* from) { return _mm512_load_pd(from); }
    KERNEL_INLINE static void store(double* to, Vector value) { _mm512_store_pd(to, value); }
    KERNEL_INLINE static Vector set1(double value) { return _mm512_set1_pd(value); }
    KERNEL_INLINE static Vector fmadd(Vector a, Vector b, Vector c) { return _mm512_fmadd_pd(a, b, c); }
    KERNEL_INLINE static Vector fnmadd(Vector a, Vector b, Vector c) { return _mm512_fnmadd_pd(a, b, c); }

    KERNEL_INLINE static Vector floor_quotient(Vector c, Vector inverse_up, Vector grid)
    {
        return _mm512_sub_pd(_mm512_fmadd_round_pd(c, inverse_up, grid, ROUND_DOWN), grid);
    }

    KERNEL_INLINE static Vector shift_in(Vector last, const double* first)
    {
        // The masked form with every lane selected is the same instruction; it
        // spares GCC 12's warning about the plain form's undefined fill value.
        const __m512i fill = _mm512_castpd_si512(_mm512_set1_pd(*first));
        return _mm512_castsi512_pd(_mm512_mask_alignr_epi64(fill, 0xFF, _mm512_castpd_si512(last), fill, 7));
    }

    // The masked store starts seven elements below the digit, which stays
    // inside the arrays' front padding (DIGIT_FRONT_PADDING).
    KERNEL_INLINE static void store_leaving(double* digit, Vector last)
    {
        _mm512_mask_storeu_pd(digit - (LANES - 1), LAST_LANE, last);
    }

    using Sign = __m512d;
    KERNEL_INLINE static Sign sign(const double* lanes) { return _mm512_load_pd(lanes); }

    // sign * quotient is +-quotient exactly, and the sum is exact (see the
    // argument in vector_kernel.hpp).
    template <int32_t M>
    KERNEL_INLINE static Vector add_signed(Vector sum, Vector quotient, Sign sign)
    {
        return _mm512_fmadd_pd(sign, quotient, sum);
    }
};

static_assert(VectorKernel<Avx512>::REGISTERS == 5);

}  // namespace

void floating_kernel_avx512(const FloatingBand& band, FloatingLanes& lanes, double* power, double* sum,
                            int64_t step_end)
{
    VectorKernel<Avx512>::advance(band, lanes, power, sum, step_end);
}

#endif
