// One band of the integer engine: 64-bit digits and hardware division, for
// the divisors too large for the floating kernels (x beyond about 670,000,
// where x^2 * 10^4 passes 2^52) and for checking the floating paths against
// a plainly exact one. Each term sweeps the band's digits in turn, chunk by
// chunk, carrying its remainders from one chunk to the next.
#pragma once

#include "wavefront/series_plan.hpp"

#include <cstdint>

struct IntegerBand {
    int64_t start = 0;   // first engine digit that can be non-zero
    int64_t radix = 0;
    int64_t x = 0;
    bool divide_by_square = true;       // divide the power by x^2 at once
    int64_t term_divisor[BAND_WIDTH] = {};  // 2k + 1 for each term k
    bool term_negative[BAND_WIDTH] = {};    // k odd
};

struct IntegerLanes {
    int64_t power_remainder[BAND_WIDTH];  // of the division by x^2, or by the first x
    int64_t second_remainder[BAND_WIDTH]; // of the division by the second x
    int64_t term_remainder[BAND_WIDTH];
    int64_t next_digit;
};

IntegerBand make_integer_band(const SeriesPlan& plan, int64_t band);
void begin_integer_lanes(const IntegerBand& band, IntegerLanes& lanes);

// Finishes the band's digits before digit_end.
void integer_kernel(const IntegerBand& band, IntegerLanes& lanes, int64_t* power, int64_t* sum,
                          int64_t digit_end);
