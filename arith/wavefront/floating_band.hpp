// One band of the floating engine: the constants of its BAND_WIDTH terms, the
// state its terms carry from one call of a kernel to the next, and the kernel
// signature that every floating path (portable, AVX2, AVX-512) implements.
//
// The wavefront: at step i the band's term t works on digit i - t. Term t
// takes the power digit term t-1 produced one step earlier (term 0 reads the
// band's input power from memory), divides it by x^2 into its own power digit
// and that by its odd divisor into its quotient digit, and adds the quotient
// with its sign to the partial digit sum handed on from term t-1. The last
// term writes its power digit and the finished sum back: one read and one
// write of each array per digit for the whole band.
#pragma once

#include "wavefront/series_plan.hpp"

#include <cstdint>

// Digit arrays carry this many readable elements before digit 0 (the first
// steps of a band write back untouched values up to BAND_WIDTH digits above
// its start, and a masked vector store may start seven elements lower) ...
inline constexpr int64_t DIGIT_FRONT_PADDING = 64;
// ... and this many after the last digit, read by the steps that drain the
// band; they stay zero, since nothing is stored beyond the last digit.
inline constexpr int64_t DIGIT_BACK_PADDING = BAND_WIDTH;

struct FloatingBand {
    int64_t start = 0;   // first engine digit that can be non-zero
    int64_t length = 0;  // engine digits in the arrays
    double radix = 0;
    double power_divisor = 0;       // x^2
    double power_inverse_up = 0;    // the smallest double >= 1 / x^2
    double power_inverse_down = 0;  // the largest double <= 1 / x^2
    double term_divisor[BAND_WIDTH] = {};  // 2k + 1 for each term k of the band
    double term_inverse_up[BAND_WIDTH] = {};
    double term_inverse_down[BAND_WIDTH] = {};
    double term_sign[BAND_WIDTH] = {};     // +1 or -1: (-1)^k
};

// What term t (lane t) of a band carries between steps.
struct FloatingLanes {
    double power[BAND_WIDTH];            // the power digit it produced last step
    double sum[BAND_WIDTH];              // the partial digit sum it handed on last step
    double power_remainder[BAND_WIDTH];  // remainder of its division by x^2
    double term_remainder[BAND_WIDTH];   // remainder of its division by 2k + 1
    int64_t next_step;
};

// Advances the band to step_end (exclusive). power and sum point at engine
// digit 0 of padded arrays.
using FloatingKernel = void (*)(const FloatingBand& band, FloatingLanes& lanes, double* power,
                                    double* sum, int64_t step_end);

// The smallest double >= 1 / divisor and the largest double <= 1 / divisor,
// for a divisor >= 1: the inverses the vector and the portable kernels use.
double inverse_rounded_up(double divisor);
double inverse_rounded_down(double divisor);

// The band's constants. Throws ExactnessViolation if the plan breaks a bound
// the floating kernels rest on.
FloatingBand make_floating_band(const SeriesPlan& plan, int64_t band);

// The lanes before the band's first step: nothing in flight, and term t holding
// the untouched sum of the digit it would have worked on one step earlier.
void begin_floating_lanes(const FloatingBand& band, const double* sum, FloatingLanes& lanes);

// The step after which every digit before `position` is final.
inline int64_t steps_to_finish(int64_t position)
{
    return position + BAND_WIDTH - 1;
}
