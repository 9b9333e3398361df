// The AVX2 floating kernel: the shared vector kernel (vector_kernel.hpp,
// where the lane layout and the exactness argument are) in ten registers of
// four lanes. The file is built with the project's baseline flags; only the
// functions marked KERNEL_TARGET use AVX2 and FMA, and engine_path.cpp calls
// the kernel only on CPUs that report both.
//
// Signs. The four terms of a register are ten apart, so where the signs
// alternate from term to term a register's terms share a sign, and the
// partial sum takes a plain addition or subtraction, fixed per register at
// compile time. The kernel checks that layout once per call.
//
// Rounding. AVX2 has no rounding mode in the instruction, so the kernel sets
// the MXCSR rounding mode to round-down for the length of a call and puts the
// caller's MXCSR back on the way out (the mode is per thread; nothing else
// runs on the thread meanwhile). Only the quotient multiply-adds need the
// mode; every other operation is exact, which every mode leaves unchanged.
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
// per-register divisors and inverses are read as memory operands. Reading
// the shared constants from memory too is slower; five registers (20 terms)
// take half the time per step of ten, so running a band as two passes of
// twenty terms, which would fit the registers better, gains nothing.
#include "wavefront/kernels/kernels.hpp"

#if defined(__x86_64__)

#include "exactness.hpp"

#include <immintrin.h>

#define KERNEL_TARGET __attribute__((target("avx2,fma")))
#include "wavefront/kernels/vector_kernel.hpp"

namespace {

// EVEN_ADD: the terms in even registers add, those in odd registers subtract.
template <bool EVEN_ADD>
struct Avx2 {
    using Vector = __m256d;
    static constexpr int32_t LANES = 4;

    KERNEL_INLINE static Vector load(const double* from) { return _mm256_load_pd(from); }
    KERNEL_INLINE static void store(double* to, Vector value) { _mm256_store_pd(to, value); }
    KERNEL_INLINE static Vector set1(double value) { return _mm256_set1_pd(value); }
    KERNEL_INLINE static Vector fmadd(Vector a, Vector b, Vector c) { return _mm256_fmadd_pd(a, b, c); }
    KERNEL_INLINE static Vector fnmadd(Vector a, Vector b, Vector c) { return _mm256_fnmadd_pd(a, b, c); }

    // Correct only while the rounding mode is round-down.
    KERNEL_INLINE static Vector floor_quotient(Vector c, Vector inverse_up, Vector grid)
    {
        return _mm256_sub_pd(_mm256_fmadd_pd(c, inverse_up, grid), grid);
    }

    KERNEL_INLINE static Vector shift_in(Vector last, const double* first)
    {
        const __m256d rotated = _mm256_permute4x64_pd(last, _MM_SHUFFLE(2, 1, 0, 3));
        return _mm256_blend_pd(rotated, _mm256_broadcast_sd(first), 0x1);
    }

    KERNEL_INLINE static void store_leaving(double* digit, Vector last)
    {
        _mm_storeh_pd(digit, _mm256_extractf128_pd(last, 1));
    }

    // The sign is in the register's index; the kernel checks the band's
    // signs before it runs.
    struct Sign {};
    KERNEL_INLINE static Sign sign(const double*) { return {}; }

    template <int32_t M>
    KERNEL_INLINE static Vector add_signed(Vector sum, Vector quotient, Sign)
    {
        if constexpr ((M % 2 == 0) == EVEN_ADD)
            return _mm256_add_pd(sum, quotient);
        else
            return _mm256_sub_pd(sum, quotient);
    }
};

constexpr int32_t REGISTERS = VectorKernel<Avx2<true>>::REGISTERS;
static_assert(REGISTERS == 10);
static_assert(REGISTERS % 2 == 0, "a register's terms are an even distance apart, so they share a sign");

// Whether the band's signs are those the kernel applies: +1 or -1 in register
// 0, the other in register 1, and so on alternately.
bool signs_alternate_by_register(const FloatingBand& band)
{
    const double first = band.term_sign[0];
    if (first != 1.0 && first != -1.0)
        return false;
    for (int32_t t = 0; t < BAND_WIDTH; ++t)
        if (band.term_sign[t] != ((t % REGISTERS) % 2 == 0 ? first : -first))
            return false;
    return true;
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
    require_bound(signs_alternate_by_register(band),
                  "term signs +-1, one per register, alternating between registers (AVX2 kernel)");
    const RoundingDown rounding;
    if (band.term_sign[0] > 0)
        VectorKernel<Avx2<true>>::advance(band, lanes, power, sum, step_end);
    else
        VectorKernel<Avx2<false>>::advance(band, lanes, power, sum, step_end);
}

#endif
