// The arctangent series from the limb operations alone: one division of the
// power, one division into the term, one addition or subtraction per term,
// each over every limb. Slow (quadratic with a large constant) but plainly
// right, which is what a reference is for.
#include "arctan.hpp"
#include "limb.hpp"

void arctan_recip_reference(int32_t x, int32_t limb_count, int32_t* result, int32_t* power,
                            int32_t* quotient)
{
    if (limb_count <= 0)
        return;
    for (int32_t i = 1; i < limb_count; ++i) {
        result[i] = 0;
        power[i] = 0;
    }
    result[0] = 0;
    power[0] = 1;

    limb_div_small(limb_count, power, x, power);
    limb_add(limb_count, result, power);

    const bool square_fits = x < SQUARE_LIMIT;
    const int32_t x_squared = square_fits ? x * x : 0;
    bool subtract = true;
    // The series divisor grows by 2 a term and stays within 32 bits for
    // every limb count the program uses (below 3.2 * limb_count + 3).
    for (int32_t divisor = 3; !limb_is_zero(limb_count, power); divisor += 2) {
        if (square_fits) {
            limb_div_small(limb_count, power, x_squared, power);
        } else {
            limb_div_small(limb_count, power, x, power);
            limb_div_small(limb_count, power, x, power);
        }
        limb_div_small(limb_count, power, divisor, quotient);
        if (subtract)
            limb_sub(limb_count, result, quotient);
        else
            limb_add(limb_count, result, quotient);
        subtract = !subtract;
    }
}
