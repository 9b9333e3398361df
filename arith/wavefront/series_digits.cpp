// Setting up and reading out engine digits. Both ends work in 64-bit
// integers: the long division keeps remainder * radix + digit below
// x * 10^9 < 2^63, and the carries stay far below 2^62 (the sums themselves
// are below 2^62 by the plan).
#include "wavefront/series_digits.hpp"

#include "limb.hpp"

namespace {

int64_t power_of_ten(int64_t exponent)
{
    int64_t value = 1;
    for (int64_t i = 0; i < exponent; ++i)
        value *= 10;
    return value;
}

}  // namespace

template <typename Digit>
void write_first_term(const SeriesPlan& plan, Digit* power, Digit* sum)
{
    // M = 10^T: with the digits aligned from the least significant decimal
    // digit, its top engine digit holds 10^(T mod m) and the rest are zero.
    int64_t remainder = 0;
    for (int64_t i = 0; i < plan.length; ++i) {
        const int64_t digit = i == 0 ? power_of_ten(plan.fraction_digits % plan.radix_digits) : 0;
        const int64_t current = remainder * plan.radix + digit;
        const int64_t quotient = current / plan.x;
        remainder = current - quotient * plan.x;
        power[i] = static_cast<Digit>(quotient);
        sum[i] = static_cast<Digit>(quotient);
    }
}

template <typename Digit>
void digit_sums_to_limbs(const SeriesPlan& plan, const Digit* sum, int32_t* limbs)
{
    // From the least significant digit up: carry each sum into [0, radix),
    // then hand its m decimal digits to the limbs four at a time. pending
    // holds the decimal digits not yet handed on (fewer than 4 + m <= 13).
    int64_t carry = 0;
    int64_t pending = 0;
    int64_t pending_digits = 0;
    int32_t limb = plan.limb_count - 1;
    for (int64_t i = plan.length - 1; i >= 0; --i) {
        const int64_t value = static_cast<int64_t>(sum[i]) + carry;
        int64_t digit = value % plan.radix;
        carry = value / plan.radix;
        if (digit < 0) {
            digit += plan.radix;
            carry -= 1;
        }
        pending += digit * power_of_ten(pending_digits);
        pending_digits += plan.radix_digits;
        while (pending_digits >= LIMB_DIGITS && limb >= 1) {
            limbs[limb--] = static_cast<int32_t>(pending % LIMB_BASE);
            pending /= LIMB_BASE;
            pending_digits -= LIMB_DIGITS;
        }
    }
    // The engine digits cover the T fraction digits and at least one more,
    // so every fraction limb is filled; what is left is the integer part.
    limbs[0] = static_cast<int32_t>(pending + carry * power_of_ten(pending_digits));
}

template void write_first_term<double>(const SeriesPlan&, double*, double*);
template void write_first_term<int64_t>(const SeriesPlan&, int64_t*, int64_t*);
template void digit_sums_to_limbs<double>(const SeriesPlan&, const double*, int32_t*);
template void digit_sums_to_limbs<int64_t>(const SeriesPlan&, const int64_t*, int32_t*);
