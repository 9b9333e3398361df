// The body shared by the vector floating kernels (AVX2, AVX-512): the band's
// wavefront (see floating_band.hpp) in SIMD registers of LANES doubles, with
// each division done by one fused multiply-add rounded toward minus infinity,
// which lands the quotient in the integer grid of [2^52, 2^53). A kernel file
// describes its instructions in a traits type (below) and runs the band with
// VectorKernel<Traits>::advance.
//
// Target. The including file defines KERNEL_TARGET as its target attribute,
// e.g. __attribute__((target("avx2,fma"))), before including this header.
// Every function here carries it, so the intrinsics inline into them, and
// everything here has internal linkage: each kernel file compiles a copy of
// its own for its own target, and none is an inline or COMDAT function the
// linker could pick for code that runs before the CPU check.
//
// Lane layout. With REGISTERS = BAND_WIDTH / LANES, term t sits in register
// t % REGISTERS, lane t / REGISTERS. Term t takes the power digit and partial
// sum of term t - 1 from the previous step: for registers 1 .. REGISTERS - 1
// that is the previous register, same lane, with no shuffle; register 0 takes
// the last register moved up one lane, with the band's input digit (and the
// digit's sum so far) in lane 0. Term BAND_WIDTH - 1, the top lane of the last
// register, leaves the band: its power digit and finished sum go back to
// memory.
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
// Only the quotient's multiply-add is inexact and needs the rounding
// direction: every other operation has an exact result, which each rounding
// mode returns unchanged, so a traits type may either round that one
// instruction down or set round-down for the whole call.
//
// Registers. The terms' state lives in an array of register structs that is
// indexed by constants only (the per-register work is a pack expansion, not
// a loop), so the compiler treats each element as a variable of its own and
// keeps it in a register where the register file has room. The per-register
// divisors, inverses and signs are an array too, which the step reads as
// memory operands where the registers are taken.
//
// A traits type T has, all static and all KERNEL_TARGET:
//   Vector, LANES                      the register type and its doubles
//   load(p), store(p, v), set1(x)      aligned moves; x in every lane
//   fmadd(a, b, c), fnmadd(a, b, c)    c + a * b and c - a * b, rounded once
//   floor_quotient(c, inverse_up, grid)
//                                      floor(c / D) for 0 <= c < 2^52, given
//                                      inverse_up >= 1 / D as above and
//                                      grid = 2^52
//   shift_in(last, first)              [*first, last[0 .. LANES - 2]]
//   store_leaving(digit, last)         last[LANES - 1] to *digit
//   Sign, sign(lanes)                  a register's signs as T applies them,
//                                      from the term_sign of its lanes
//   add_signed<M>(sum, quotient, sign) sum + sign * quotient in register M
#pragma once

#ifndef KERNEL_TARGET
#error "define KERNEL_TARGET, the including kernel's target attribute, before including vector_kernel.hpp"
#endif

#include "wavefront/kernels/kernels.hpp"

#include <cstdint>
#include <utility>

#define KERNEL_INLINE KERNEL_TARGET __attribute__((always_inline)) inline

namespace {

inline constexpr double QUOTIENT_GRID = 0x1p52;  // doubles in [2^52, 2^53) are the integers

template <class Traits>
struct VectorKernel {
    using Vector = typename Traits::Vector;
    using Sign = typename Traits::Sign;
    static constexpr int32_t LANES = Traits::LANES;
    static constexpr int32_t REGISTERS = BAND_WIDTH / LANES;
    static_assert(BAND_WIDTH % LANES == 0, "the band fills whole registers");

    struct SharedConstants {
        Vector radix, grid, power_divisor, power_inverse;
    };

    // What one register of LANES terms carries from step to step.
    struct TermRegister {
        Vector power_digit, partial_sum, power_remainder, term_remainder;
    };

    struct TermConstants {
        Vector divisor, inverse;
        [[no_unique_address]] Sign sign;
    };

    // Register m holds the band's terms m, m + REGISTERS, m + 2 REGISTERS, ...
    // Moving them in and out happens once per call, so plain loops do.
    KERNEL_INLINE static Vector gather_terms(const double* by_term, int32_t m)
    {
        alignas(sizeof(Vector)) double lanes[LANES];
        for (int32_t l = 0; l < LANES; ++l)
            lanes[l] = by_term[m + REGISTERS * l];
        return Traits::load(lanes);
    }

    KERNEL_INLINE static void scatter_terms(double* by_term, int32_t m, Vector value)
    {
        alignas(sizeof(Vector)) double lanes[LANES];
        Traits::store(lanes, value);
        for (int32_t l = 0; l < LANES; ++l)
            by_term[m + REGISTERS * l] = lanes[l];
    }

    KERNEL_INLINE static Sign gather_signs(const double* term_sign, int32_t m)
    {
        alignas(sizeof(Vector)) double lanes[LANES];
        for (int32_t l = 0; l < LANES; ++l)
            lanes[l] = term_sign[m + REGISTERS * l];
        return Traits::sign(lanes);
    }

    KERNEL_INLINE static TermRegister load_register(const FloatingLanes& lanes, int32_t m)
    {
        return {gather_terms(lanes.power, m), gather_terms(lanes.sum, m), gather_terms(lanes.power_remainder, m),
                gather_terms(lanes.term_remainder, m)};
    }

    KERNEL_INLINE static void store_register(FloatingLanes& lanes, int32_t m, const TermRegister& terms)
    {
        scatter_terms(lanes.power, m, terms.power_digit);
        scatter_terms(lanes.sum, m, terms.partial_sum);
        scatter_terms(lanes.power_remainder, m, terms.power_remainder);
        scatter_terms(lanes.term_remainder, m, terms.term_remainder);
    }

    template <int32_t... M>
    KERNEL_INLINE static void load_registers(TermRegister (&terms)[REGISTERS], const FloatingLanes& lanes,
                                             std::integer_sequence<int32_t, M...>)
    {
        ((terms[M] = load_register(lanes, M)), ...);
    }

    template <int32_t... M>
    KERNEL_INLINE static void store_registers(FloatingLanes& lanes, const TermRegister (&terms)[REGISTERS],
                                              std::integer_sequence<int32_t, M...>)
    {
        (store_register(lanes, M, terms[M]), ...);
    }

    // One step of the terms in register M, fed the power digits and partial
    // sums of the terms before them.
    template <int32_t M>
    KERNEL_INLINE static void advance_terms(Vector in_power, Vector in_sum, TermRegister& terms,
                                            const TermConstants& own, const SharedConstants& k)
    {
        const Vector c = Traits::fmadd(terms.power_remainder, k.radix, in_power);
        const Vector digit = Traits::floor_quotient(c, k.power_inverse, k.grid);
        terms.power_remainder = Traits::fnmadd(digit, k.power_divisor, c);
        const Vector e = Traits::fmadd(terms.term_remainder, k.radix, digit);
        const Vector quotient = Traits::floor_quotient(e, own.inverse, k.grid);
        terms.term_remainder = Traits::fnmadd(quotient, own.divisor, e);
        terms.power_digit = digit;
        terms.partial_sum = Traits::template add_signed<M>(in_sum, quotient, own.sign);
    }

    // Registers REGISTERS - 1 down to 1, each from its predecessor, so each
    // reads its predecessor's output of the previous step before that is
    // overwritten; then register 0 from the band's input.
    template <int32_t... UP>
    KERNEL_INLINE static void advance_registers(TermRegister (&terms)[REGISTERS],
                                                const TermConstants (&own)[REGISTERS], const SharedConstants& k,
                                                Vector feed_power, Vector feed_sum,
                                                std::integer_sequence<int32_t, UP...>)
    {
        (advance_terms<REGISTERS - 1 - UP>(terms[REGISTERS - 2 - UP].power_digit,
                                           terms[REGISTERS - 2 - UP].partial_sum, terms[REGISTERS - 1 - UP],
                                           own[REGISTERS - 1 - UP], k),
         ...);
        advance_terms<0>(feed_power, feed_sum, terms[0], own[0], k);
    }

    // Advances the band to step_end. Kept out of line, so that none of its
    // arithmetic can be moved across a rounding-mode switch in the caller.
    KERNEL_TARGET __attribute__((noinline)) static void advance(const FloatingBand& band, FloatingLanes& lanes,
                                                                double* power, double* sum, int64_t step_end)
    {
        const SharedConstants k{Traits::set1(band.radix), Traits::set1(QUOTIENT_GRID),
                                Traits::set1(band.power_divisor), Traits::set1(band.power_inverse_up)};
        TermConstants own[REGISTERS];
        for (int32_t m = 0; m < REGISTERS; ++m)
            own[m] = {gather_terms(band.term_divisor, m), gather_terms(band.term_inverse_up, m),
                      gather_signs(band.term_sign, m)};
        constexpr auto every_register = std::make_integer_sequence<int32_t, REGISTERS>{};
        TermRegister terms[REGISTERS];
        load_registers(terms, lanes, every_register);

        constexpr int64_t LEAVING = BAND_WIDTH - 1;  // steps from a digit's entry to its exit
        TermRegister& last = terms[REGISTERS - 1];
        for (int64_t step = lanes.next_step; step < step_end; ++step) {
            const Vector feed_power = Traits::shift_in(last.power_digit, power + step);
            const Vector feed_sum = Traits::shift_in(last.partial_sum, sum + step);
            advance_registers(terms, own, k, feed_power, feed_sum,
                              std::make_integer_sequence<int32_t, REGISTERS - 1>{});
            Traits::store_leaving(power + (step - LEAVING), last.power_digit);
            Traits::store_leaving(sum + (step - LEAVING), last.partial_sum);
        }

        store_registers(lanes, terms, every_register);
        if (step_end > lanes.next_step)
            lanes.next_step = step_end;
    }
};

}  // namespace
