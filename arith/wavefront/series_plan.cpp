// The series plan: radix choice from the largest divisor a run meets, and
// leading-zero bounds from a safe lower bound on log10 of the powers of x.
#include "wavefront/series_plan.hpp"

#include "limb.hpp"

#include <cmath>

namespace {

// With fewer than four decimal digits per engine digit the floating kernels
// would gain little over the integer one.
constexpr int32_t MIN_FLOATING_RADIX_DIGITS = 4;
constexpr int32_t MAX_RADIX_DIGITS = 9;
constexpr int64_t MAX_FLOATING_RADIX = 1000000000;

int64_t power_of_ten(int32_t exponent)
{
    int64_t value = 1;
    for (int32_t i = 0; i < exponent; ++i)
        value *= 10;
    return value;
}

// A lower bound on floor(exponent * log10 x). log10 and the product are each
// within a few units in the last place (relative 2^-50 together, far less
// than the 2^-40 taken off); the absolute 1e-9 covers the small values. The
// bound may fall one short of the true floor, which only costs a zero digit.
int64_t log10_power_lower_bound(int32_t x, int64_t exponent)
{
    const double estimate = static_cast<double>(exponent) * std::log10(static_cast<double>(x));
    return static_cast<int64_t>(std::floor(estimate * (1.0 - 0x1p-40) - 1e-9));
}

int64_t count_bands(int32_t x, int64_t fraction_digits)
{
    // The digit bound falls with the band; find the first band where it
    // reaches zero. Each band's input power is x^(2W) >= 2^80, over 24
    // decimal digits, smaller than the previous one, so the bound is gone
    // before band T/23 + 2.
    int64_t low = 0;
    int64_t high = fraction_digits / 23 + 2;
    while (low < high) {
        const int64_t middle = low + (high - low) / 2;
        if (band_decimal_digits(x, fraction_digits, middle) > 0)
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

}  // namespace

const char* broken_floating_bound(int64_t radix, int64_t power_divisor, int64_t last_term)
{
    // The portable kernel truncates quotients, which are below the radix,
    // to 32 bits.
    if (radix > MAX_FLOATING_RADIX)
        return "radix <= 10^9 (floating kernels)";
    // D * R <= 2^52 exactly when D <= floor(2^52 / R), for integers D and R.
    const int64_t divisor_limit = FLOATING_EXACT_LIMIT / radix;
    if (power_divisor > divisor_limit)
        return "x^2 * radix <= 2^52 (floating kernels)";
    if (2 * last_term + 1 > divisor_limit)
        return "term divisor * radix <= 2^52 (floating kernels)";
    if (last_term + 1 > divisor_limit)
        return "digit sums: terms * radix <= 2^52 (floating kernels)";
    return nullptr;
}

const char* broken_integer_bound(int64_t radix, int64_t x, bool divide_by_square, int64_t last_term)
{
    const int64_t divisor_limit = INTEGER_EXACT_LIMIT / radix;
    if (x >= divisor_limit)
        return "x * radix < 2^62 (integer kernel)";
    if (divide_by_square && x * x >= divisor_limit)
        return "x^2 * radix < 2^62 (integer kernel)";
    if (2 * last_term + 1 >= divisor_limit)
        return "term divisor * radix < 2^62 (integer kernel)";
    if (last_term + 1 >= divisor_limit)
        return "digit sums: terms * radix < 2^62 (integer kernel)";
    return nullptr;
}

int64_t band_decimal_digits(int32_t x, int64_t fraction_digits, int64_t band)
{
    // P = floor(10^T / x^j) <= 10^(T - e) for e <= log10 x^j, so it has at
    // most T - e + 1 decimal digits (one more covers P = 10^(T-e) exactly).
    const int64_t exponent = 2 * band_first_term(band) - 1;
    return fraction_digits - log10_power_lower_bound(x, exponent) + 1;
}

int64_t band_start(const SeriesPlan& plan, int64_t band)
{
    const int64_t digits = band_decimal_digits(plan.x, plan.fraction_digits, band);
    if (digits <= 0)
        return plan.length;
    const int64_t nonzero = (digits + plan.radix_digits - 1) / plan.radix_digits;
    return nonzero >= plan.length ? 0 : plan.length - nonzero;
}

SeriesPlan plan_series(int32_t x, int32_t limb_count, DigitArithmetic wanted)
{
    SeriesPlan plan;
    plan.x = x;
    plan.limb_count = limb_count;
    plan.fraction_digits = fraction_digits(limb_count);
    plan.band_count = count_bands(x, plan.fraction_digits);

    // The largest radix whose bounds hold for every term of the last band.
    const int64_t last_term = plan.band_count * BAND_WIDTH;
    const int64_t square = int64_t{x} * x;

    plan.arithmetic = DigitArithmetic::integer;
    plan.radix_digits = 1;
    if (wanted == DigitArithmetic::floating) {
        for (int32_t m = MAX_RADIX_DIGITS; m >= MIN_FLOATING_RADIX_DIGITS; --m) {
            if (broken_floating_bound(power_of_ten(m), square, last_term) == nullptr) {
                plan.arithmetic = DigitArithmetic::floating;
                plan.radix_digits = m;
                break;
            }
        }
    }
    if (plan.arithmetic == DigitArithmetic::integer) {
        for (int32_t m = MAX_RADIX_DIGITS; m >= 1; --m) {
            if (broken_integer_bound(power_of_ten(m), x, false, last_term) == nullptr) {
                plan.radix_digits = m;
                break;
            }
        }
        plan.divide_by_square =
            broken_integer_bound(power_of_ten(plan.radix_digits), x, true, last_term) == nullptr;
    }
    plan.radix = power_of_ten(plan.radix_digits);
    plan.length = plan.fraction_digits / plan.radix_digits + 1;
    return plan;
}
