// The floating band kernel in AVX-512: the band's 40 terms in five registers of
// eight lanes. Built for x86-64 only; run only where the CPU reports
// AVX-512 F, DQ, VL and BW (see engine_path.cpp).
#pragma once

#include "floating_band.hpp"

#if defined(__x86_64__)
void advance_band_avx512(const FloatingBand& band, FloatingLanes& lanes, double* power, double* sum,
                         int64_t step_end);
#endif
