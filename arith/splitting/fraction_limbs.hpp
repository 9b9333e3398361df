// A binary fraction written out as base-10000 limbs, by multiplications
// alone: a division costs several multiplications of its size, and the
// splitting engine's quotients come out as binary fractions.
#pragma once

#include "big_integer.hpp"
#include "decimal_limbs.hpp"

#include <cstdint>
#include <vector>

// The bits B of a fraction over limb_count limbs: 10000^limb_count < 2^(B - 64).
int64_t fraction_bits_for(int32_t limb_count);

// limbs[0 .. limb_count) <- floor(fraction 10000^limb_count / 2^B) in base
// 10000, most significant first, with B = fraction_bits_for(limb_count) and
// 0 <= fraction < 2^B, the conversion's powers as decimal_split_powers gives
// them for limb_count.
void fraction_limbs(const BigInteger& fraction, int32_t limb_count, int32_t* limbs, const LimbConversion& conversion);
