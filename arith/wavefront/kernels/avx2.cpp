// The AVX2 floating kernel: the band's wavefront (see floating_band.hpp) in
// 256-bit registers, with each division done by one fused multiply-add
// rounded toward minus infinity, as in the AVX-512 kernel. The file is built
// with the project's baseline flags; only the functions marked AVX2_TARGET
// use AVX2 and FMA, and engine_path.cpp calls the kernel only on CPUs that
// report both.
//
// Lane layout. Term t sits in register t % 10, lane t / 10. Term t takes the
// power digit and partial sum of term t - 1 from the previous step: for
// registers 1..9 that is the previous register, same lane, with no shuffle;
// register 0 takes register 9 moved up one lane, with the band's input digit
// (and the digit's sum so far) in lane 0. Term 39, register 9 lane 3, leaves
// the band: its power digit and finished sum go back to memory. The four
// terms of a register are ten apart, so they share a sign, and the partial
// sum takes a plain addition or subtraction.
//
// Rounding. AVX2 has no rounding mode in the instruction, so the kernel sets
// the MXCSR rounding mode to round-down for the length of a call and puts the
// caller's MXCSR back on the way out (the mode is per thread; nothing else
// runs on the thread meanwhile). Only the two quotient multiply-adds of a
// term are inexact and need the mode: every other operation below (forming
// r * R + d, subtracting 2^52, the remainders, the partial sums) has an exact
// result, which every rounding mode returns unchanged.
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
//
// Zeros. Rounding toward minus infinity gives an exact zero difference the
// sign minus: 2^52 - 2^52 and c - a * D are -0 where they vanish. A -0 takes
// part in every later operation as 0 would (products and sums of integers,
// all exact) and converts to the integer 0, so the digits read out of the
// arrays, and the limbs, are the same as on the other paths.
//
// Registers. Ten registers of four values each (power digit, partial sum, two
// remainders) are more than the 16 ymm registers hold, so the compiler keeps
// part of the state in memory; the shared constants stay in registers and the
// per-register divisors and inverses are read as memory operands. Loading the
// shared constants from memory instead measured slower; five registers (20
// terms) took half the time per step of ten, so running a band as two passes
// of twenty terms, which would fit the registers better, would gain nothing.
#include "wavefront/kernels/kernels.hpp"

#if defined(__x86_64__)

#include <cassert>
#include <immintrin.h>

#define AVX2_TARGET __attribute__((target("avx2,fma")))

namespace {

constexpr int32_t LANES = 4;
constexpr int32_t REGISTERS = BAND_WIDTH / LANES;
static_assert(BAND_WIDTH % LANES == 0, "the band fills whole registers");
static_assert(REGISTERS % 2 == 0, "a register's terms are an even distance apart, so they share a sign");

constexpr double QUOTIENT_GRID = 0x1p52;  // doubles in [2^52, 2^53) are the integers

// Register m holds the band's terms m, m + 10, m + 20, m + 30. Moving them in
// and out happens once per call, so plain loops do.
AVX2_TARGET inline __m256d gather_terms(const double* by_term, int32_t m)
{
    alignas(32) double lanes[LANES];
    for (int32_t l = 0; l < LANES; ++l)
        lanes[l] = by_term[m + REGISTERS * l];
    return _mm256_load_pd(lanes);
}

AVX2_TARGET inline void scatter_terms(double* by_term, int32_t m, __m256d value)
{
    alignas(32) double lanes[LANES];
    _mm256_store_pd(lanes, value);
    for (int32_t l = 0; l < LANES; ++l)
        by_term[m + REGISTERS * l] = lanes[l];
}

// floor(c / divisor) for 0 <= c < 2^52, given inverse_up >= 1 / divisor as
// above; correct only while the rounding mode is round-down.
AVX2_TARGET __attribute__((always_inline)) inline __m256d floor_quotient(__m256d c, __m256d inverse_up,
                                                                        __m256d grid)
{
    return _mm256_sub_pd(_mm256_fmadd_pd(c, inverse_up, grid), grid);
}

// [*first, previous[0..2]]: register 9 moved up one lane with a new lane 0.
AVX2_TARGET __attribute__((always_inline)) inline __m256d shift_in(__m256d previous, const double* first)
{
    const __m256d rotated = _mm256_permute4x64_pd(previous, _MM_SHUFFLE(2, 1, 0, 3));
    return _mm256_blend_pd(rotated, _mm256_broadcast_sd(first), 0x1);
}

struct SharedConstants {
    __m256d radix, grid, power_divisor, power_inverse;
};

// What one register of four terms carries from step to step.
struct TermRegister {
    __m256d power_digit, partial_sum, power_remainder, term_remainder;
};

struct TermConstants {
    __m256d divisor, inverse;
};

// One step of the four terms in one register, fed the power digits and
// partial sums of the terms before them. ADDS: the terms' sign is +1.
template <bool ADDS>
AVX2_TARGET __attribute__((always_inline)) inline void advance_terms(__m256d in_power, __m256d in_sum,
                                                                    TermRegister& terms,
                                                                    const TermConstants& own,
                                                                    const SharedConstants& k)
{
    const __m256d c = _mm256_fmadd_pd(terms.power_remainder, k.radix, in_power);
    const __m256d digit = floor_quotient(c, k.power_inverse, k.grid);
    terms.power_remainder = _mm256_fnmadd_pd(digit, k.power_divisor, c);
    const __m256d e = _mm256_fmadd_pd(terms.term_remainder, k.radix, digit);
    const __m256d quotient = floor_quotient(e, own.inverse, k.grid);
    terms.term_remainder = _mm256_fnmadd_pd(quotient, own.divisor, e);
    terms.power_digit = digit;
    terms.partial_sum = ADDS ? _mm256_add_pd(in_sum, quotient) : _mm256_sub_pd(in_sum, quotient);
}

AVX2_TARGET __attribute__((always_inline)) inline TermRegister load_register(const FloatingLanes& lanes, int32_t m)
{
    return {gather_terms(lanes.power, m), gather_terms(lanes.sum, m), gather_terms(lanes.power_remainder, m),
            gather_terms(lanes.term_remainder, m)};
}

AVX2_TARGET __attribute__((always_inline)) inline void store_register(FloatingLanes& lanes, int32_t m,
                                                                     const TermRegister& terms)
{
    scatter_terms(lanes.power, m, terms.power_digit);
    scatter_terms(lanes.sum, m, terms.partial_sum);
    scatter_terms(lanes.power_remainder, m, terms.power_remainder);
    scatter_terms(lanes.term_remainder, m, terms.term_remainder);
}

// The kernel proper, run with the rounding mode set to round-down. It stays
// out of line, so that none of its arithmetic can be moved across the mode
// switches in its caller. EVEN_ADD: the terms in even registers add (and so
// those in odd registers subtract).
template <bool EVEN_ADD>
AVX2_TARGET __attribute__((noinline)) void advance_rounding_down(const FloatingBand& band, FloatingLanes& lanes,
                                                                 double* power, double* sum, int64_t step_end)
{
    static_assert(REGISTERS == 10, "the step below names the ten registers");
    constexpr bool ODD_ADD = !EVEN_ADD;
    const SharedConstants k{_mm256_set1_pd(band.radix), _mm256_set1_pd(QUOTIENT_GRID),
                            _mm256_set1_pd(band.power_divisor), _mm256_set1_pd(band.power_inverse_up)};
    TermConstants own[REGISTERS];
    for (int32_t m = 0; m < REGISTERS; ++m)
        own[m] = {gather_terms(band.term_divisor, m), gather_terms(band.term_inverse_up, m)};
    TermRegister r0 = load_register(lanes, 0), r1 = load_register(lanes, 1), r2 = load_register(lanes, 2),
                 r3 = load_register(lanes, 3), r4 = load_register(lanes, 4), r5 = load_register(lanes, 5),
                 r6 = load_register(lanes, 6), r7 = load_register(lanes, 7), r8 = load_register(lanes, 8),
                 r9 = load_register(lanes, 9);

    constexpr int64_t LEAVING = BAND_WIDTH - 1;  // steps from a digit's entry to its exit
    for (int64_t step = lanes.next_step; step < step_end; ++step) {
        const __m256d feed_power = shift_in(r9.power_digit, power + step);
        const __m256d feed_sum = shift_in(r9.partial_sum, sum + step);
        // From the last register down, so each reads its predecessor's
        // output of the previous step before that is overwritten.
        advance_terms<ODD_ADD>(r8.power_digit, r8.partial_sum, r9, own[9], k);
        advance_terms<EVEN_ADD>(r7.power_digit, r7.partial_sum, r8, own[8], k);
        advance_terms<ODD_ADD>(r6.power_digit, r6.partial_sum, r7, own[7], k);
        advance_terms<EVEN_ADD>(r5.power_digit, r5.partial_sum, r6, own[6], k);
        advance_terms<ODD_ADD>(r4.power_digit, r4.partial_sum, r5, own[5], k);
        advance_terms<EVEN_ADD>(r3.power_digit, r3.partial_sum, r4, own[4], k);
        advance_terms<ODD_ADD>(r2.power_digit, r2.partial_sum, r3, own[3], k);
        advance_terms<EVEN_ADD>(r1.power_digit, r1.partial_sum, r2, own[2], k);
        advance_terms<ODD_ADD>(r0.power_digit, r0.partial_sum, r1, own[1], k);
        advance_terms<EVEN_ADD>(feed_power, feed_sum, r0, own[0], k);
        // Lane 3 of the last register lands on digit step - 39.
        _mm_storeh_pd(power + (step - LEAVING), _mm256_extractf128_pd(r9.power_digit, 1));
        _mm_storeh_pd(sum + (step - LEAVING), _mm256_extractf128_pd(r9.partial_sum, 1));
    }

    store_register(lanes, 0, r0);
    store_register(lanes, 1, r1);
    store_register(lanes, 2, r2);
    store_register(lanes, 3, r3);
    store_register(lanes, 4, r4);
    store_register(lanes, 5, r5);
    store_register(lanes, 6, r6);
    store_register(lanes, 7, r7);
    store_register(lanes, 8, r8);
    store_register(lanes, 9, r9);
    if (step_end > lanes.next_step)
        lanes.next_step = step_end;
}

// Round-down for the life of the object. The caller's whole MXCSR (rounding
// mode, exception masks, sticky flags) comes back on the way out, so the
// kernel leaves no trace in it, as the AVX-512 kernel, which suppresses its
// exceptions, leaves none.
class RoundingDown {
public:
    RoundingDown() : saved_(_mm_getcsr()) { _mm_setcsr((saved_ & ~_MM_ROUND_MASK) | _MM_ROUND_DOWN); }
    ~RoundingDown() { _mm_setcsr(saved_); }
    RoundingDown(const RoundingDown&) = delete;
    RoundingDown& operator=(const RoundingDown&) = delete;

private:
    unsigned saved_;
};

}  // namespace

void floating_kernel_avx2(const FloatingBand& band, FloatingLanes& lanes, double* power, double* sum,
                       int64_t step_end)
{
    // The bounds the exactness argument rests on: D * R <= 2^52 for x^2 and
    // for the band's largest term divisor (the last), and one sign per
    // register, alternating from register to register.
    assert(static_cast<int64_t>(band.power_divisor) <= FLOATING_EXACT_LIMIT / static_cast<int64_t>(band.radix));
    assert(static_cast<int64_t>(band.term_divisor[BAND_WIDTH - 1]) <=
           FLOATING_EXACT_LIMIT / static_cast<int64_t>(band.radix));
    for (int32_t t = 0; t < BAND_WIDTH; ++t)
        assert(band.term_sign[t] == band.term_sign[t % REGISTERS] && band.term_sign[t] == -band.term_sign[t ^ 1]);

    const RoundingDown rounding;
    if (band.term_sign[0] > 0)
        advance_rounding_down<true>(band, lanes, power, sum, step_end);
    else
        advance_rounding_down<false>(band, lanes, power, sum, step_end);
}

#endif
