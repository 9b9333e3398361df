// How the fast arctangent engine lays out one series arctan(1/x) over a limb
// count: the radix its digits are held in, the bands of consecutive terms that
// each sweep the digits once, and where each band may start because the power
// it divides has only zeros above that digit.
//
// Read as integers in units of the last limb, with M = 10000^(limb_count-1),
// the series keeps P_k = floor(M / x^(2k+1)) and sums (-1)^k floor(P_k/(2k+1)).
// The engine holds those same integers in radix 10^m (m decimal digits to a
// digit, aligned from the least significant decimal digit), so the limbs it
// gives back are exactly those of the reference series.
#pragma once

#include <cstdint>

// Terms swept together in one pass over the digits (one band).
inline constexpr int32_t BAND_WIDTH = 40;

// The floating kernels are exact while every divisor D meets D * radix <= 2^52
// and the digit sums, at most (terms + 1) * (radix - 1) in size, stay within
// 2^52 as well (the derivations sit beside the kernels).
inline constexpr int64_t FLOATING_EXACT_LIMIT = int64_t{1} << 52;
// The integer kernel forms remainder * radix + digit below D * radix, which
// must fit a signed 64-bit value; 2^62 leaves room for the sums.
inline constexpr int64_t INTEGER_EXACT_LIMIT = int64_t{1} << 62;

// The first bound the floating kernels need that fails at this radix for the
// power divisor x^2 and the terms 0 to last_term (every divisor D with
// D * radix <= 2^52, digit sums of last_term + 1 quotients below the radix
// within 2^52), named; nullptr when all hold.
const char* broken_floating_bound(int64_t radix, int64_t power_divisor, int64_t last_term);

// The same for the integer kernel: x, x^2 when the power is divided by it at
// once, every term divisor and the digit sums, each times the radix, below 2^62.
const char* broken_integer_bound(int64_t radix, int64_t x, bool divide_by_square, int64_t last_term);

// Where the digits are computed: in doubles, with every value an integer below
// 2^52 (see the kernels), or in 64-bit integers with hardware division.
enum class DigitArithmetic { floating, integer };

struct SeriesPlan {
    int32_t x = 0;
    int32_t limb_count = 0;
    int64_t fraction_digits = 0;  // decimal digits after the point: 4 (limb_count - 1)
    DigitArithmetic arithmetic = DigitArithmetic::floating;
    int32_t radix_digits = 0;     // m: decimal digits per engine digit
    int64_t radix = 0;            // 10^m
    int64_t length = 0;           // engine digits holding M: floor(fraction_digits / m) + 1
    int64_t band_count = 0;       // bands after the first term, which is set up directly
    bool divide_by_square = true; // the power is divided by x*x at once, not by x twice
};

// The plan for arctan(1/x) over limb_count limbs. With wanted = floating the
// plan is floating whenever the bounds of the floating kernels hold for every
// divisor the series meets; otherwise, and when integer is wanted, it is
// integer.
SeriesPlan plan_series(int32_t x, int32_t limb_count, DigitArithmetic wanted);

// The first term of a band (terms are numbered from 0; term 0 is the power
// M/x itself and belongs to no band).
inline int64_t band_first_term(int64_t band)
{
    return 1 + band * BAND_WIDTH;
}

// An upper bound on the decimal digits of the power a band starts from,
// P_(k-1) with k its first term. Zero or less once that power is zero.
int64_t band_decimal_digits(int32_t x, int64_t fraction_digits, int64_t band);

// The first engine digit of the band's input power that can be non-zero; the
// digits above it are zero in that power and in every later one.
int64_t band_start(const SeriesPlan& plan, int64_t band);

// The amount a band adds to the progress counter: its terms times the decimal
// digits it covers. It does not depend on the radix or the path, so the total
// is known before the run.
inline int64_t band_progress_steps(int32_t x, int64_t fraction_digits, int64_t band)
{
    return int64_t{BAND_WIDTH} * band_decimal_digits(x, fraction_digits, band);
}
