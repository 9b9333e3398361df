// Limbs cut into the transform's coefficients of b bits each (b <= 64), and
// the product's coefficients, rebuilt from their residues by the Chinese
// remainder theorem in Garner's form, carried back into limbs.
#pragma once

#include "ntt/modular.hpp"

#include <cstddef>
#include <cstdint>
#include <span>

// The coefficient size of the plain transform.
inline constexpr int PLAIN_COEFFICIENT_BITS = 48;

// The coefficients that limb_count limbs make: ceil(64 limb_count / bits).
size_t coefficient_count(size_t limb_count, int bits);

// Bits [b index, b index + b) of the limbs (0 past their end).
inline uint64_t coefficient_of(std::span<const uint64_t> limbs, size_t index, int bits)
{
    if (bits == 64)
        return index < limbs.size() ? limbs[index] : 0;
    const size_t bit = index * static_cast<size_t>(bits);
    const size_t limb = bit / 64;
    const unsigned shift = bit % 64;
    uint64_t value = limb < limbs.size() ? limbs[limb] >> shift : 0;
    if (shift > 64u - static_cast<unsigned>(bits) && limb + 1 < limbs.size())
        value |= limbs[limb + 1] << (64 - shift);
    return value & ((uint64_t{1} << bits) - 1);
}

// Garner's form of a coefficient x < p0 p1 p2 from its residues r_i:
// x = r0 + p0 (y1 + p1 y2) with y1 = (r1 - r0) / p0 mod p1 and
// y2 = ((r2 - r0) / p0 - y1) / p1 mod p2. It is r0 mod p0,
// r0 + (r1 - r0) = r1 mod p1 and r0 + p0 y1 + (r2 - r0 - p0 y1) = r2 mod p2,
// and at most (p0 - 1) + p0 ((p1 - 1) + p1 (p2 - 1)) = p0 p1 p2 - 1: the
// one representative below the product. The constants:
struct GarnerConstants {
    uint64_t p0_inverse_mod_p1;
    uint64_t p0_inverse_mod_p2;
    uint64_t p1_inverse_mod_p2;
};
const GarnerConstants& garner_constants();

// The primes decrease, all within a factor of 2: a residue of a larger prime
// is below twice a smaller one, and one subtraction reduces it.
static_assert(TRANSFORM_PRIMES[2].p < TRANSFORM_PRIMES[1].p && TRANSFORM_PRIMES[1].p < TRANSFORM_PRIMES[0].p &&
                  TRANSFORM_PRIMES[0].p < 2 * TRANSFORM_PRIMES[2].p,
              "the primes decrease, all within a factor of 2");

// y1 and y2 from the residues, one coefficient at a time (the kernels do the
// same on vectors).
uint64_t garner_y1(uint64_t r0, uint64_t r1);
uint64_t garner_y2(uint64_t r0, uint64_t y1, uint64_t r2);

// product <- sum over k of x_k 2^(b k), x_k = r0 + p0 (y1 + p1 y2) given
// digit by digit, for a sum that fits product (Mode::write), or
// product <- product + that sum, for a total that fits (Mode::accumulate).
// Each limb is written once, in order; written, the limbs past the sum are
// set to 0.
class CoefficientCarrier {
public:
    enum class Mode { write, accumulate };
    CoefficientCarrier(std::span<uint64_t> product, int bits, Mode mode = Mode::write);
    // Adds the next coefficient, b bits above the last.
    void add(uint64_t r0, uint64_t y1, uint64_t y2)
    {
        // t = y1 + p1 y2 < 2^100; x = r0 + p0 t < 2^150.
        constexpr uint64_t p0 = TRANSFORM_PRIMES[0].p, p1 = TRANSFORM_PRIMES[1].p;
        const unsigned __int128 t = static_cast<unsigned __int128>(p1) * y2 + y1;
        const unsigned __int128 low = static_cast<unsigned __int128>(p0) * static_cast<uint64_t>(t) + r0;
        const unsigned __int128 high =
            static_cast<unsigned __int128>(p0) * static_cast<uint64_t>(t >> 64) + static_cast<uint64_t>(low >> 64);
        if (bits_ == 64 && written_limbs_ < product_.size()) {
            // Each coefficient starts a limb above the last: add it to the
            // carried 192 bits and write their low limb.
            const uint64_t existing = mode_ == Mode::accumulate ? product_[written_limbs_] : 0;
            const unsigned __int128 word0 =
                static_cast<unsigned __int128>(carry_[0]) + static_cast<uint64_t>(low) + existing;
            const unsigned __int128 word1 =
                static_cast<unsigned __int128>(carry_[1]) + static_cast<uint64_t>(high) + static_cast<uint64_t>(word0 >> 64);
            product_[written_limbs_++] = static_cast<uint64_t>(word0);
            carry_[0] = static_cast<uint64_t>(word1);
            carry_[1] = carry_[2] + static_cast<uint64_t>(high >> 64) + static_cast<uint64_t>(word1 >> 64);
            carry_[2] = 0;
            next_coefficient_bit_ += 64;
            return;
        }
        const uint64_t x[3] = {static_cast<uint64_t>(low), static_cast<uint64_t>(high), static_cast<uint64_t>(high >> 64)};
        add_wide(x);
    }
    // Writes what is still carried and zeros the rest of the product.
    void finish();
    // Writes the product's limbs and gives what is carried past them, the
    // sum's part from limb product.size() on, for a sum whose part below
    // that is all this product holds.
    void finish_into(uint64_t (&rest)[4]);

private:
    void add_wide(const uint64_t (&x)[3]);
    void emit();  // writes the carried value's low limb and drops it

    std::span<uint64_t> product_;
    int bits_;
    Mode mode_;
    size_t next_coefficient_bit_ = 0;  // where the next coefficient starts
    size_t written_limbs_ = 0;
    uint64_t carry_[4] = {0, 0, 0, 0};  // what is added but not yet written, from limb written_limbs_
};

// The words of r0 + p0 y1 (below 2^100), and of p0 p1 y2 (below 2^150), for
// residues r0 < p0, y1 < p1 and y2 < p2: Garner's form split into the two
// sums a product is carried from.
struct CoefficientWords {
    uint64_t low, middle, high;
};
inline CoefficientWords low_garner_words(uint64_t r0, uint64_t y1)
{
    const unsigned __int128 v = static_cast<unsigned __int128>(TRANSFORM_PRIMES[0].p) * y1 + r0;
    return {static_cast<uint64_t>(v), static_cast<uint64_t>(v >> 64), 0};
}
inline CoefficientWords high_garner_words(uint64_t y2)
{
    constexpr unsigned __int128 p0_p1 = static_cast<unsigned __int128>(TRANSFORM_PRIMES[0].p) * TRANSFORM_PRIMES[1].p;
    constexpr uint64_t p0_p1_low = static_cast<uint64_t>(p0_p1), p0_p1_high = static_cast<uint64_t>(p0_p1 >> 64);
    const unsigned __int128 low = static_cast<unsigned __int128>(y2) * p0_p1_low;
    const unsigned __int128 high = static_cast<unsigned __int128>(y2) * p0_p1_high + static_cast<uint64_t>(low >> 64);
    return {static_cast<uint64_t>(low), static_cast<uint64_t>(high), static_cast<uint64_t>(high >> 64)};
}

// limbs <- limbs + words 2^(64 at), the four words with their carry, for a
// sum that fits limbs.
void add_words_at(std::span<uint64_t> limbs, size_t at, const uint64_t (&words)[4]);
