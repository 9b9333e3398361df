// The 8 x 8 transpose of the leaf levels on AVX-512, shared by the kernels
// that hold eight 64-bit values to a register (doubles, or integers cast to
// them). Included by a kernel file after transform_kernel.hpp, so that it is
// built for that file's target.
#pragma once

#include <immintrin.h>

namespace {

KERNEL_INLINE void transpose_rows(__m512d (&rows)[8])
{
    // Pairs of rows interleaved within 128-bit chunks, then the chunks
    // gathered: even columns from the low halves, odd from the high.
    __m512d low[4], high[4];
    for (int pair = 0; pair < 4; ++pair) {
        low[pair] = _mm512_unpacklo_pd(rows[2 * pair], rows[2 * pair + 1]);
        high[pair] = _mm512_unpackhi_pd(rows[2 * pair], rows[2 * pair + 1]);
    }
    const __m512d low_even_a = _mm512_shuffle_f64x2(low[0], low[1], _MM_SHUFFLE(2, 0, 2, 0));
    const __m512d low_even_b = _mm512_shuffle_f64x2(low[2], low[3], _MM_SHUFFLE(2, 0, 2, 0));
    const __m512d low_odd_a = _mm512_shuffle_f64x2(low[0], low[1], _MM_SHUFFLE(3, 1, 3, 1));
    const __m512d low_odd_b = _mm512_shuffle_f64x2(low[2], low[3], _MM_SHUFFLE(3, 1, 3, 1));
    const __m512d high_even_a = _mm512_shuffle_f64x2(high[0], high[1], _MM_SHUFFLE(2, 0, 2, 0));
    const __m512d high_even_b = _mm512_shuffle_f64x2(high[2], high[3], _MM_SHUFFLE(2, 0, 2, 0));
    const __m512d high_odd_a = _mm512_shuffle_f64x2(high[0], high[1], _MM_SHUFFLE(3, 1, 3, 1));
    const __m512d high_odd_b = _mm512_shuffle_f64x2(high[2], high[3], _MM_SHUFFLE(3, 1, 3, 1));
    rows[0] = _mm512_shuffle_f64x2(low_even_a, low_even_b, _MM_SHUFFLE(2, 0, 2, 0));
    rows[4] = _mm512_shuffle_f64x2(low_even_a, low_even_b, _MM_SHUFFLE(3, 1, 3, 1));
    rows[2] = _mm512_shuffle_f64x2(low_odd_a, low_odd_b, _MM_SHUFFLE(2, 0, 2, 0));
    rows[6] = _mm512_shuffle_f64x2(low_odd_a, low_odd_b, _MM_SHUFFLE(3, 1, 3, 1));
    rows[1] = _mm512_shuffle_f64x2(high_even_a, high_even_b, _MM_SHUFFLE(2, 0, 2, 0));
    rows[5] = _mm512_shuffle_f64x2(high_even_a, high_even_b, _MM_SHUFFLE(3, 1, 3, 1));
    rows[3] = _mm512_shuffle_f64x2(high_odd_a, high_odd_b, _MM_SHUFFLE(2, 0, 2, 0));
    rows[7] = _mm512_shuffle_f64x2(high_odd_a, high_odd_b, _MM_SHUFFLE(3, 1, 3, 1));
}

}  // namespace
