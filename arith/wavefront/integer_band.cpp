// The integer band. The running value remainder * radix + digit is below
// divisor * radix, which the plan keeps under 2^62 for every divisor it lets
// through (x, or x^2 when divide_by_square, and each 2k + 1); the digit sums
// are bounded by (terms + 1) * radix, below that as well.
#include "wavefront/integer_band.hpp"

#include "exactness.hpp"

IntegerBand make_integer_band(const SeriesPlan& plan, int64_t band_index)
{
    // Checked for every band, since the integer kernel's exactness rests on it.
    const int64_t last_term = band_first_term(band_index) + BAND_WIDTH - 1;
    if (const char* broken = broken_integer_bound(plan.radix, plan.x, plan.divide_by_square, last_term))
        throw_exactness_violation(broken);

    IntegerBand band;
    band.start = band_start(plan, band_index);
    band.radix = plan.radix;
    band.x = plan.x;
    band.divide_by_square = plan.divide_by_square;
    const int64_t first_term = band_first_term(band_index);
    for (int32_t t = 0; t < BAND_WIDTH; ++t) {
        band.term_divisor[t] = 2 * (first_term + t) + 1;
        band.term_negative[t] = (first_term + t) % 2 != 0;
    }
    return band;
}

void begin_integer_lanes(const IntegerBand& band, IntegerLanes& lanes)
{
    for (int32_t t = 0; t < BAND_WIDTH; ++t) {
        lanes.power_remainder[t] = 0;
        lanes.second_remainder[t] = 0;
        lanes.term_remainder[t] = 0;
    }
    lanes.next_digit = band.start;
}

void integer_kernel(const IntegerBand& band, IntegerLanes& lanes, int64_t* power, int64_t* sum,
                          int64_t digit_end)
{
    const int64_t radix = band.radix;
    const int64_t square = band.x * band.x;
    for (int32_t t = 0; t < BAND_WIDTH; ++t) {
        int64_t first = lanes.power_remainder[t];
        int64_t second = lanes.second_remainder[t];
        int64_t term = lanes.term_remainder[t];
        const int64_t divisor = band.term_divisor[t];
        for (int64_t i = lanes.next_digit; i < digit_end; ++i) {
            int64_t digit;
            if (band.divide_by_square) {
                const int64_t current = first * radix + power[i];
                digit = current / square;
                first = current - digit * square;
            } else {
                const int64_t current = first * radix + power[i];
                const int64_t once = current / band.x;
                first = current - once * band.x;
                const int64_t next = second * radix + once;
                digit = next / band.x;
                second = next - digit * band.x;
            }
            power[i] = digit;
            const int64_t current = term * radix + digit;
            const int64_t quotient = current / divisor;
            term = current - quotient * divisor;
            sum[i] += band.term_negative[t] ? -quotient : quotient;
        }
        lanes.power_remainder[t] = first;
        lanes.second_remainder[t] = second;
        lanes.term_remainder[t] = term;
    }
    if (digit_end > lanes.next_digit)
        lanes.next_digit = digit_end;
}
