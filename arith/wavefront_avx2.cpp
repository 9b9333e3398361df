// The AVX2 floating kernel: this file alone is compiled with -mavx2 -mfma (see
// CMakeLists.txt), and it holds nothing but this function and the
// internal-linkage body it inlines, so no AVX2 code can leak into the rest of
// the program. A fused multiply-add the compiler forms from the body's
// r * R + d or c - q * D gives the same value: both are exact integers.
#include "wavefront_avx2.hpp"

#if defined(__x86_64__)

#include "wavefront_lanes.hpp"

void advance_band_avx2(const FloatingBand& band, FloatingLanes& lanes, double* power, double* sum,
                       int64_t step_end)
{
    advance_band_lanes(band, lanes, power, sum, step_end);
}

#endif
