// The floating band kernel built for AVX2 with FMA: the portable lane-array
// body in 256-bit registers, four lanes at a time. x86-64 only; run only where
// the CPU reports both extensions (see engine_path.cpp).
#pragma once

#include "floating_band.hpp"

#if defined(__x86_64__)
void advance_band_avx2(const FloatingBand& band, FloatingLanes& lanes, double* power, double* sum,
                       int64_t step_end);
#endif
