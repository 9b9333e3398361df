// The floating kernels, one per CPU path, and the choice among them. Each
// advances a band (floating_band.hpp) to a given step and gives the same
// digits as the others; the exactness argument for the vector kernels sits
// beside their shared code in vector_kernel.hpp, the portable one's in
// portable.cpp.
#pragma once

#include "wavefront/floating_band.hpp"
#include "wavefront/wavefront.hpp"

// Plain C++, for any target: lane arrays the compiler vectorises with the
// baseline instruction set.
void floating_kernel_portable(const FloatingBand& band, FloatingLanes& lanes, double* power, double* sum,
                              int64_t step_end);

#if defined(__x86_64__)
// AVX2 and FMA: the band's terms in ten registers of four lanes. Run only
// where the CPU reports both.
void floating_kernel_avx2(const FloatingBand& band, FloatingLanes& lanes, double* power, double* sum,
                          int64_t step_end);

// AVX-512: the band's terms in five registers of eight lanes. Run only where
// the CPU reports AVX-512 F, DQ, VL and BW.
void floating_kernel_avx512(const FloatingBand& band, FloatingLanes& lanes, double* power, double* sum,
                            int64_t step_end);
#endif

// The kernel of a floating path (portable for the integer path, which has none,
// and for a path this CPU cannot run).
FloatingKernel floating_kernel(KernelPath path);
