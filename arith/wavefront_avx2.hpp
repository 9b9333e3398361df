// The floating band kernel in AVX2 and FMA intrinsics: the band's 40 terms in
// ten registers of four lanes, with the rounding mode set to round-down for
// the call. x86-64 only; run only where the CPU reports both extensions (see
// engine_path.cpp).
#pragma once

#include "floating_band.hpp"

#if defined(__x86_64__)
void advance_band_avx2(const FloatingBand& band, FloatingLanes& lanes, double* power, double* sum,
                       int64_t step_end);
#endif
