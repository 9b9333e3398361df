// Exact products of non-negative integers by number-theoretic transforms:
// the operands, arrays of 64-bit limbs least significant first (GMP's
// layout), are cut into 48-bit coefficients, their cyclic convolution is
// computed modulo three primes near 2^50 by transforms of length 2^k or
// 3 * 2^k, and each coefficient of the product is rebuilt from its three
// residues by the Chinese remainder theorem. Exact because every
// coefficient of the convolution is below min(n_a, n_b) 2^96, far below the
// primes' product (above 2^149.99), for any length this program meets.
//
// This header is all the rest of the library sees of the subsystem; it
// needs no GMP.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// product <- a * b; product has a.size() + b.size() limbs and may not
// overlap a or b. By transforms written for clarity, one prime after
// another: the reference the fast transforms are tested against.
void ntt_multiply_plain(std::span<const uint64_t> a, std::span<const uint64_t> b, std::span<uint64_t> product);
