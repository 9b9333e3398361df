// The yardstick for the splitting engine: binary splitting of the same
// series as it is first written down, with the product of the odd numbers
// for denominator, the powers of x^2 multiplied out at every node, one full
// division per series and GMP's own decimal conversion; the largest series
// on one thread and the other two on a second.
#pragma once

#include <cstdint>

// total <- pi over limb_count limbs (limb 0 the integer part), each series
// truncated once; the last limb may be off by a few hundred units.
void straightforward_splitting(int32_t limb_count, int32_t* total);
