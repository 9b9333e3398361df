// The AVX-512 floating kernel: the band's wavefront (see floating_band.hpp)
// with each division done by one fused multiply-add rounded toward minus
// infinity, which lands the quotient in the integer grid of [2^52, 2^53).
//
// Lane layout. Term t sits in register t % 5, lane t / 5. Term t takes the
// power digit and partial sum of term t - 1 from the previous step: for
// registers 1..4 that is the previous register, same lane, with no shuffle;
// register 0 takes register 4 moved up one lane, with the band's input digit
// (and the digit's sum so far) in lane 0. Term 39, register 4 lane 7, leaves
// the band: its power digit and finished sum go back to memory.
//
// Why each division is exact. Let c = r * R + d with remainder r < D and
// digit d < R, so c <= D * R - 1 < 2^52 (the plan keeps D * R <= 2^52): an
// exact double, formed exactly by the fused r * R + d. Let inv be the
// smallest double >= 1 / D; it exceeds 1 / D by less than one unit in its
// last place, at most 2^-52 / D. With c / D = a + b / D, b <= D - 1:
//   a <= c / D <= c * inv < c / D + c * 2^-52 / D < a + (D - 1 + 1) / D = a + 1,
// using c * 2^-52 < 1. So floor(c * inv) = a. The fused c * inv + 2^52 is
// formed exactly and rounded once toward minus infinity; it lies in
// [2^52, 2^53), where the doubles are the integers, so it is 2^52 + a.
// Subtracting 2^52 is exact, and so is r = c - a * D (an integer below D,
// rounded once). The partial sums are integers below 2^52 in size (the plan
// bounds them by (terms + 1) * R), so every addition is exact too.
#include "wavefront/kernels/kernels.hpp"

#if defined(__x86_64__)

#include <immintrin.h>

#define AVX512_TARGET __attribute__((target("avx512f,avx512dq,avx512vl,avx512bw")))

namespace {

constexpr int32_t LANES = 8;
constexpr int32_t REGISTERS = BAND_WIDTH / LANES;
static_assert(BAND_WIDTH % LANES == 0, "the band fills whole registers");

constexpr double QUOTIENT_GRID = 0x1p52;  // doubles in [2^52, 2^53) are the integers
constexpr int ROUND_DOWN = _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC;
constexpr __mmask8 LAST_LANE = 0x80;

// Register m holds the band's terms m, m + 5, ..., m + 35. Moving them in and
// out happens once per call, so plain loops do.
AVX512_TARGET inline __m512d gather_terms(const double* by_term, int32_t m)
{
    alignas(64) double lanes[LANES];
    for (int32_t l = 0; l < LANES; ++l)
        lanes[l] = by_term[m + REGISTERS * l];
    return _mm512_load_pd(lanes);
}

AVX512_TARGET inline void scatter_terms(double* by_term, int32_t m, __m512d value)
{
    alignas(64) double lanes[LANES];
    _mm512_store_pd(lanes, value);
    for (int32_t l = 0; l < LANES; ++l)
        by_term[m + REGISTERS * l] = lanes[l];
}

// floor(c / divisor) for 0 <= c < 2^52, given inverse_up >= 1 / divisor as above.
AVX512_TARGET inline __m512d floor_quotient(__m512d c, __m512d inverse_up, __m512d grid)
{
    return _mm512_sub_pd(_mm512_fmadd_round_pd(c, inverse_up, grid, ROUND_DOWN), grid);
}

// [first, previous[0..6]]: register 4 moved up one lane with a new lane 0.
AVX512_TARGET inline __m512d shift_in(__m512d previous, double first)
{
    // The masked form with every lane selected is the same instruction; it
    // spares GCC 12's warning about the plain form's undefined fill value.
    const __m512i fill = _mm512_castpd_si512(_mm512_set1_pd(first));
    return _mm512_castsi512_pd(_mm512_mask_alignr_epi64(fill, 0xFF, _mm512_castpd_si512(previous), fill, 7));
}

struct SharedConstants {
    __m512d radix, grid, power_divisor, power_inverse;
};

// What one register of eight terms carries from step to step.
struct TermRegister {
    __m512d power_digit, partial_sum, power_remainder, term_remainder;
};

// The constants of one register's terms, kept in memory: the step reads them
// as operands, which leaves the 32 registers to the values in flight.
struct TermConstants {
    __m512d divisor, inverse, sign;
};

// One step of the eight terms in one register, fed the power digits and
// partial sums of the terms before them.
AVX512_TARGET __attribute__((always_inline)) inline void advance_terms(__m512d in_power, __m512d in_sum,
                                                                      TermRegister& terms,
                                                                      const TermConstants& own,
                                                                      const SharedConstants& k)
{
    const __m512d c = _mm512_fmadd_pd(terms.power_remainder, k.radix, in_power);
    const __m512d digit = floor_quotient(c, k.power_inverse, k.grid);
    terms.power_remainder = _mm512_fnmadd_pd(digit, k.power_divisor, c);
    const __m512d e = _mm512_fmadd_pd(terms.term_remainder, k.radix, digit);
    const __m512d quotient = floor_quotient(e, own.inverse, k.grid);
    terms.term_remainder = _mm512_fnmadd_pd(quotient, own.divisor, e);
    terms.power_digit = digit;
    terms.partial_sum = _mm512_fmadd_pd(own.sign, quotient, in_sum);
}

AVX512_TARGET __attribute__((always_inline)) inline TermRegister load_register(const FloatingLanes& lanes, int32_t m)
{
    return {gather_terms(lanes.power, m), gather_terms(lanes.sum, m), gather_terms(lanes.power_remainder, m),
            gather_terms(lanes.term_remainder, m)};
}

AVX512_TARGET __attribute__((always_inline)) inline void store_register(FloatingLanes& lanes, int32_t m, const TermRegister& terms)
{
    scatter_terms(lanes.power, m, terms.power_digit);
    scatter_terms(lanes.sum, m, terms.partial_sum);
    scatter_terms(lanes.power_remainder, m, terms.power_remainder);
    scatter_terms(lanes.term_remainder, m, terms.term_remainder);
}

}  // namespace

AVX512_TARGET void floating_kernel_avx512(const FloatingBand& band, FloatingLanes& lanes, double* power,
                                       double* sum, int64_t step_end)
{
    static_assert(REGISTERS == 5, "the step below names the five registers");
    const SharedConstants k{_mm512_set1_pd(band.radix), _mm512_set1_pd(QUOTIENT_GRID),
                            _mm512_set1_pd(band.power_divisor), _mm512_set1_pd(band.power_inverse_up)};
    TermConstants own[REGISTERS];
    for (int32_t m = 0; m < REGISTERS; ++m)
        own[m] = {gather_terms(band.term_divisor, m), gather_terms(band.term_inverse_up, m),
                  gather_terms(band.term_sign, m)};
    TermRegister r0 = load_register(lanes, 0), r1 = load_register(lanes, 1), r2 = load_register(lanes, 2),
                 r3 = load_register(lanes, 3), r4 = load_register(lanes, 4);

    constexpr int64_t LEAVING = BAND_WIDTH - 1;  // steps from a digit's entry to its exit
    for (int64_t step = lanes.next_step; step < step_end; ++step) {
        const __m512d feed_power = shift_in(r4.power_digit, power[step]);
        const __m512d feed_sum = shift_in(r4.partial_sum, sum[step]);
        // From the last register down, so each reads its predecessor's
        // output of the previous step before that is overwritten.
        advance_terms(r3.power_digit, r3.partial_sum, r4, own[4], k);
        advance_terms(r2.power_digit, r2.partial_sum, r3, own[3], k);
        advance_terms(r1.power_digit, r1.partial_sum, r2, own[2], k);
        advance_terms(r0.power_digit, r0.partial_sum, r1, own[1], k);
        advance_terms(feed_power, feed_sum, r0, own[0], k);
        // Lane 7 of the last register lands on digit step - 39; the store
        // starts seven elements lower, inside the front padding at worst.
        _mm512_mask_storeu_pd(power + (step - LEAVING - (LANES - 1)), LAST_LANE, r4.power_digit);
        _mm512_mask_storeu_pd(sum + (step - LEAVING - (LANES - 1)), LAST_LANE, r4.partial_sum);
    }

    store_register(lanes, 0, r0);
    store_register(lanes, 1, r1);
    store_register(lanes, 2, r2);
    store_register(lanes, 3, r3);
    store_register(lanes, 4, r4);
    if (step_end > lanes.next_step)
        lanes.next_step = step_end;
}

#endif
