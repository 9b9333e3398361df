// The portable floating kernel, for any target: the band's wavefront (see
// floating_band.hpp) over plain lane arrays, which the compiler vectorises for
// the target's baseline (SSE2 on x86-64), with each division done by a
// truncated multiplication by the reciprocal rounded down, then one
// correction step. It needs no fused multiply-add and no rounding mode.
//
// Why each division is exact. Let c = r * R + d with remainder r < D and
// digit d < R, so c < D * R <= 2^52 (the plan's bound) and c, r * R and every
// product q * D <= c + D below are integers below 2^53: exact in a double.
// Write c / D = a + b / D with a = floor(c / D), b <= D - 1. With inv the
// largest double <= 1 / D, (1 / D)(1 - 2^-52) < inv <= 1 / D, and the product
// c * inv rounded to nearest, y, stays within a factor (1 +- 2^-53) of it, so
//   y <= (c / D)(1 + 2^-53) < a + (D - 1) / D + R * 2^-53 < a + 1
// (R * 2^-53 < 1 / D because D * R < 2^53), and
//   y > (c / D)(1 - 2^-51) >= a - R * 2^-51 > a - 1.
// So the truncation q of y is a or a - 1; then r = c - q * D is exact, and one
// test r >= D puts q right. A contraction of c - q * D into a fused
// multiply-add gives the same exact value.
#include "wavefront/kernels/kernels.hpp"

#include <cfloat>
#include <cstdint>

static_assert(FLT_EVAL_METHOD == 0, "the exactness argument needs plain double evaluation");

namespace {

// q = floor(c / D) and r = c - q D for 0 <= c < D * R <= 2^52. The quotient is
// below R <= 10^9 and so fits the 32-bit truncation, which baseline SIMD has.
inline void divide(double c, double divisor, double inverse_down, double& quotient, double& remainder)
{
    const double q = static_cast<double>(static_cast<int32_t>(c * inverse_down));
    const double r = c - q * divisor;
    // Arithmetic rather than a branch or a select, which the vectoriser
    // would have to prove free of floating-point traps.
    const double short_by_one = static_cast<double>(r >= divisor);
    quotient = q + short_by_one;
    remainder = r - short_by_one * divisor;
}

inline void advance_lanes(const FloatingBand& band, FloatingLanes& lanes, double* power, double* sum,
                               int64_t step_end)
{
    constexpr int32_t W = BAND_WIDTH;
    const double radix = band.radix;
    const double power_divisor = band.power_divisor;
    const double power_inverse = band.power_inverse_down;

    // Local copies: the arrays cannot alias them, so the lane loops vectorise.
    double in_power[W], in_sum[W], out_power[W], out_sum[W];
    double power_remainder[W], term_remainder[W], divisor[W], inverse[W], sign[W];
    for (int32_t t = 0; t < W; ++t) {
        out_power[t] = lanes.power[t];
        out_sum[t] = lanes.sum[t];
        power_remainder[t] = lanes.power_remainder[t];
        term_remainder[t] = lanes.term_remainder[t];
        divisor[t] = band.term_divisor[t];
        inverse[t] = band.term_inverse_down[t];
        sign[t] = band.term_sign[t];
    }

    for (int64_t step = lanes.next_step; step < step_end; ++step) {
        in_power[0] = power[step];
        in_sum[0] = sum[step];
        for (int32_t t = 1; t < W; ++t) {
            in_power[t] = out_power[t - 1];
            in_sum[t] = out_sum[t - 1];
        }
        for (int32_t t = 0; t < W; ++t) {
            double power_digit, quotient_digit;
            divide(power_remainder[t] * radix + in_power[t], power_divisor, power_inverse, power_digit,
                   power_remainder[t]);
            divide(term_remainder[t] * radix + power_digit, divisor[t], inverse[t], quotient_digit,
                   term_remainder[t]);
            out_power[t] = power_digit;
            out_sum[t] = in_sum[t] + sign[t] * quotient_digit;
        }
        power[step - (W - 1)] = out_power[W - 1];
        sum[step - (W - 1)] = out_sum[W - 1];
    }

    for (int32_t t = 0; t < W; ++t) {
        lanes.power[t] = out_power[t];
        lanes.sum[t] = out_sum[t];
        lanes.power_remainder[t] = power_remainder[t];
        lanes.term_remainder[t] = term_remainder[t];
    }
    if (step_end > lanes.next_step)
        lanes.next_step = step_end;
}

}  // namespace

void floating_kernel_portable(const FloatingBand& band, FloatingLanes& lanes, double* power, double* sum,
                           int64_t step_end)
{
    advance_lanes(band, lanes, power, sum, step_end);
}
