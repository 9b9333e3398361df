// Band constants: the divisors, their reciprocals rounded each way (the two
// floating kernels need one direction each), and the alternating signs.
#include "wavefront/floating_band.hpp"

#include "exactness.hpp"

#include <cmath>
#include <limits>

namespace {

constexpr double INFINITE = std::numeric_limits<double>::infinity();

}  // namespace

// fma(inverse, d, -1) is inverse * d - 1 rounded once, so its sign is the
// exact sign of inverse - 1/d.
double inverse_rounded_up(double divisor)
{
    const double inverse = 1.0 / divisor;
    return std::fma(inverse, divisor, -1.0) < 0 ? std::nextafter(inverse, INFINITE) : inverse;
}

double inverse_rounded_down(double divisor)
{
    const double inverse = 1.0 / divisor;
    return std::fma(inverse, divisor, -1.0) > 0 ? std::nextafter(inverse, -INFINITE) : inverse;
}

FloatingBand make_floating_band(const SeriesPlan& plan, int64_t band_index)
{
    // plan_series chooses the integer arithmetic wherever these fail; they are
    // checked again for every band, since the kernels' exactness rests on them.
    require_bound(plan.arithmetic == DigitArithmetic::floating, "a floating band of a floating plan");
    const int64_t last_term = band_first_term(band_index) + BAND_WIDTH - 1;
    if (const char* broken = broken_floating_bound(plan.radix, int64_t{plan.x} * plan.x, last_term))
        throw_exactness_violation(broken);

    FloatingBand band;
    band.start = band_start(plan, band_index);
    band.length = plan.length;
    band.radix = static_cast<double>(plan.radix);
    band.power_divisor = static_cast<double>(int64_t{plan.x} * plan.x);
    band.power_inverse_up = inverse_rounded_up(band.power_divisor);
    band.power_inverse_down = inverse_rounded_down(band.power_divisor);
    const int64_t first_term = band_first_term(band_index);
    for (int32_t t = 0; t < BAND_WIDTH; ++t) {
        const int64_t term = first_term + t;
        band.term_divisor[t] = static_cast<double>(2 * term + 1);
        band.term_inverse_up[t] = inverse_rounded_up(band.term_divisor[t]);
        band.term_inverse_down[t] = inverse_rounded_down(band.term_divisor[t]);
        band.term_sign[t] = term % 2 == 0 ? 1.0 : -1.0;
    }
    return band;
}

void begin_floating_lanes(const FloatingBand& band, const double* sum, FloatingLanes& lanes)
{
    // Before step `start`, term t would have finished digit start - 1 - t.
    // Those digits lie above the band's start, where the terms only pass the
    // sum on, so their sums enter the lanes as they stand in the array.
    for (int32_t t = 0; t < BAND_WIDTH; ++t) {
        lanes.power[t] = 0;
        lanes.sum[t] = sum[band.start - 1 - t];
        lanes.power_remainder[t] = 0;
        lanes.term_remainder[t] = 0;
    }
    lanes.next_step = band.start;
}
