// A big integer written out as base-10000 limbs.
#pragma once

#include "big_integer.hpp"
#include "task_slots.hpp"

#include <cstdint>

// limbs[0 .. limb_count) <- value in base 10000, most significant first;
// value must lie in [0, 10000^limb_count).
void decimal_limbs(const BigInteger& value, int32_t limb_count, int32_t* limbs, TaskSlots& slots);
