// arctan_recip: the entry point the formula calls.
#include "arctan.hpp"

void arctan_recip(int32_t x, int32_t limb_count, int32_t* result, int32_t* power, int32_t* quotient)
{
    arctan_recip_reference(x, limb_count, result, power, quotient);
}
