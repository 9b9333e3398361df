// The product kernels, one per CPU path, and the choice among them. Each
// gives the product by the cyclic convolutions of the operands'
// coefficients modulo the three primes; all give the same product. The shared body and its
// contract are in transform_kernel.hpp, the exactness of each path's
// arithmetic beside its traits.
#pragma once

#include "cpu_features.hpp"
#include "fork_join_pool.hpp"
#include "ntt/modular.hpp"

#include <cstddef>
#include <cstdint>
#include <span>

// One product of a sum of products: a * b, or a squared where b is empty.
// Where b_transforms is given, it holds b's forward transforms for the
// product's bits and length, made by the same kernel's OperandTransform
// (the three primes' one after another), and b gives only its size.
struct ProductTerm {
    std::span<const uint64_t> a, b;
    const void* b_transforms = nullptr;
};

// product <- the sum of the terms' products (one or two terms), with
// coefficients of `bits` bits and transforms of `length` (2^k or 3 * 2^k,
// 2^k at least MIN_KERNEL_LENGTH) that hold the convolutions, for
// coefficients that keep their sum exact (ntt_multiply.cpp). Where
// top_length is not 0, one product of 64-bit coefficients whose convolution
// is longer than length: its top, past length, is made apart by transforms
// of top_length, which hold the product of the operands' top coefficients
// that reach past length.
using ProductKernel = void (*)(std::span<const ProductTerm> terms, std::span<uint64_t> product, int bits,
                               size_t length, size_t top_length, ForkJoinPool* pool);

// values <- the forward transforms of the operand's coefficients of `bits`
// bits at `length` modulo the three primes, one after another (3 length
// values of the kernel's own type, 8 bytes each): a factor that several
// products take, transformed once (ProductTerm::b_transforms).
using OperandTransform = void (*)(std::span<const uint64_t> operand, int bits, size_t length, void* values,
                                  ForkJoinPool* pool);

// The shortest power of two in a length a kernel takes: the leaf levels of
// every path fill it (LANES^2 values).
inline constexpr size_t MIN_KERNEL_LENGTH = 64;

void multiply_portable(std::span<const ProductTerm> terms, std::span<uint64_t> product, int bits, size_t length,
                       size_t top_length, ForkJoinPool* pool);
#if defined(__x86_64__)
// Run only where the CPU has AVX2 and FMA.
void multiply_avx2(std::span<const ProductTerm> terms, std::span<uint64_t> product, int bits, size_t length,
                   size_t top_length, ForkJoinPool* pool);
// Run only where the CPU has AVX-512 F, DQ, VL and BW.
void multiply_avx512(std::span<const ProductTerm> terms, std::span<uint64_t> product, int bits, size_t length,
                     size_t top_length, ForkJoinPool* pool);
// Run only where the CPU has those and AVX-512 IFMA.
void multiply_avx512_ifma(std::span<const ProductTerm> terms, std::span<uint64_t> product, int bits, size_t length,
                          size_t top_length, ForkJoinPool* pool);
#endif
void transform_portable(std::span<const uint64_t> operand, int bits, size_t length, void* values, ForkJoinPool* pool);
#if defined(__x86_64__)
void transform_avx2(std::span<const uint64_t> operand, int bits, size_t length, void* values, ForkJoinPool* pool);
void transform_avx512(std::span<const uint64_t> operand, int bits, size_t length, void* values, ForkJoinPool* pool);
void transform_avx512_ifma(std::span<const uint64_t> operand, int bits, size_t length, void* values,
                           ForkJoinPool* pool);
#endif

// The kernel of isa (the portable one where this CPU cannot run isa); on
// AVX-512, the IFMA kernel where ifma asks for it and the CPU has it.
ProductKernel product_kernel(VectorIsa isa, bool ifma);
// The operand transform of the same kernel.
OperandTransform operand_transform(VectorIsa isa, bool ifma);
