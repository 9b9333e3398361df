// Limbs cut into the transform's coefficients of b bits each (b <= 64), and
// the product's coefficients, rebuilt from their residues, carried back into
// limbs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// The coefficient size of the plain transform.
inline constexpr int PLAIN_COEFFICIENT_BITS = 48;

// The coefficients that limb_count limbs make: ceil(64 limb_count / bits).
size_t coefficient_count(size_t limb_count, int bits);

// coefficients[i] <- bits [b i, b i + b) of the limbs, for every i <
// coefficients.size() (coefficients past the limbs are 0).
void cut_into_coefficients(std::span<const uint64_t> limbs, std::span<uint64_t> coefficients, int bits);

// The residues of one coefficient mod the three primes, combined into the
// coefficient itself (below the primes' product), as three 64-bit words,
// least significant first.
struct WideCoefficient {
    uint64_t word[3];
};
WideCoefficient combine_residues(uint64_t r0, uint64_t r1, uint64_t r2);

// product <- sum over i of coefficient_i 2^(b i), for a sum that fits
// product, whose limbs past the sum are set to 0.
class CoefficientCarrier {
public:
    CoefficientCarrier(std::span<uint64_t> product, int bits);
    // Adds the next coefficient, b bits above the last.
    void add(const WideCoefficient& coefficient);
    // Writes what is still carried and zeros the rest of the product.
    void finish();

private:
    void emit(uint64_t piece);  // the next b bits of the product

    std::span<uint64_t> product_;
    int bits_;
    uint64_t mask_;
    size_t next_bit_ = 0;
    uint64_t carry_[4] = {0, 0, 0, 0};  // what is added but not yet written, in units of 2^(b k)
};
