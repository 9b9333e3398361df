// The convolution kernels, one per CPU path, and the choice among them. Each
// gives the cyclic convolution of two coefficient arrays modulo one of the
// transform's primes; all give the same residues. The shared body and its
// contract are in transform_kernel.hpp, the exactness of each path's
// arithmetic beside its traits.
#pragma once

#include "cpu_features.hpp"
#include "fork_join_pool.hpp"
#include "ntt/modular.hpp"

#include <cstddef>
#include <cstdint>
#include <span>

// residues[i][0 .. count) <- the first count values of the cyclic
// convolution of length `length` (2^k or 3 * 2^k, at least
// MIN_KERNEL_LENGTH) of a and b mod TRANSFORM_PRIMES[i].p, for each of the
// three primes; b empty for a squared. Coefficients may be any 64-bit values.
using ConvolutionKernel = void (*)(size_t length, std::span<const uint64_t> a, std::span<const uint64_t> b,
                                   std::span<uint64_t* const> residues, size_t count, ForkJoinPool* pool);

// The shortest length a kernel takes: every path's vectors fill it.
inline constexpr size_t MIN_KERNEL_LENGTH = 64;

void convolve_portable(size_t length, std::span<const uint64_t> a, std::span<const uint64_t> b,
                       std::span<uint64_t* const> residues, size_t count, ForkJoinPool* pool);
#if defined(__x86_64__)
// Run only where the CPU has AVX2 and FMA.
void convolve_avx2(size_t length, std::span<const uint64_t> a, std::span<const uint64_t> b,
                   std::span<uint64_t* const> residues, size_t count, ForkJoinPool* pool);
// Run only where the CPU has AVX-512 F, DQ, VL and BW.
void convolve_avx512(size_t length, std::span<const uint64_t> a, std::span<const uint64_t> b,
                     std::span<uint64_t* const> residues, size_t count, ForkJoinPool* pool);
#endif

// The kernel of isa (the portable one where this CPU cannot run isa).
ConvolutionKernel convolution_kernel(VectorIsa isa);
