// A big integer written out as base-10000 limbs.
#pragma once

#include "big_integer.hpp"
#include "task_slots.hpp"

#include <cstdint>

#include <vector>

// The powers 10000^(2^j) the conversion of limb_count limbs divides by; they
// depend on the size alone and can be made before the value is known.
std::vector<BigInteger> decimal_split_powers(int32_t limb_count);

// limbs[0 .. limb_count) <- value in base 10000, most significant first;
// value must lie in [0, 10000^limb_count). powers as decimal_split_powers
// gives them for limb_count.
void decimal_limbs(const BigInteger& value, int32_t limb_count, int32_t* limbs, const std::vector<BigInteger>& powers,
                   TaskSlots& slots);

// The same, making the powers first.
void decimal_limbs(const BigInteger& value, int32_t limb_count, int32_t* limbs, TaskSlots& slots);
