// Why the result is within 9/8 + 2^-61 of Y. Let prec = quotient_bits + 64 and
// e = 2^(1-prec). An operand A longer than prec bits is replaced by
// A' = floor(A / 2^s) with A' >= 2^(prec-1), so A' 2^s lies in (A (1 - e), A].
// N and D are cut so. The factor F = floor(2^c / D') has at least prec bits
// by the choice of c, so F 2^-c lies in ((1 / D') (1 - e), 1 / D']. Together
// the approximation Y' = N' F 2^(sN - sD - c + E) of Y lies in
// (Y (1 - e)^2, Y / (1 - e)), so |Y' - Y| < 4 e Y < 4 * 2^(1 - prec + quotient_bits)
// = 2^-61. The last step is a floor of Y' less at most 1/8 (high_product's;
// floor(floor(A / 2^s) / 2^t) = floor(A / 2^(s+t)) where it shifts left), so
// the result lies in (Y' - 9/8, Y'] and so in (Y - 9/8 - 2^-61, Y + 2^-61).
// The same holds for divide_quotient, with F 2^-c replaced by 1 / D' itself:
// N' / D' 2^(sN - sD + E) lies in (Y (1 - e), Y / (1 - e)), within
// 2 e Y / (1 - e) < 2^-61 of Y, and its floor is taken exactly.
#include "truncated_quotient.hpp"

#include "exactness.hpp"
#include "newton_division.hpp"

namespace {

constexpr int64_t GUARD_BITS = 64;

// value <- floor(value / 2^s), kept to about precision_bits; returns s.
int64_t cut_in_place(BigInteger& value, int64_t precision_bits)
{
    const int64_t shift = value.bits() > precision_bits ? value.bits() - precision_bits : 0;
    shift_right(value, value, shift);
    value.shrink_to_fit();  // GMP keeps an integer's limbs when it gets shorter
    return shift;
}

}  // namespace

// With A = A_hi 2^k + A_lo and A_hi = q1 D + r1, 0 <= r1 < D,
//     A / D = q1 2^k + (r1 2^k + A_lo) / D,
// and q1 2^k is an integer, so floor(A / D) = q1 2^k + floor((r1 2^k + A_lo) / D).
// GMP's division of 2n by n bits holds scratch of several times n bits at
// once; each half divides 3n/2 by n bits for n/2 quotient bits, and holds
// well under half of it. Here A = N 2^s, and its low bits, zeros where
// s >= k, are not formed: A_lo = (N mod 2^(k-s)) 2^s, A_hi = floor(N 2^(s-k)).
void floor_quotient(BigInteger& quotient, BigInteger numerator, int64_t shift, const BigInteger& divisor,
                    ForkJoinPool* pool)
{
    require_bound(shift >= 0, "dividend shifted left");
    const int64_t dividend_bits = numerator.sign() == 0 ? 0 : numerator.bits() + shift;
    const int64_t quotient_bits = dividend_bits - divisor.bits() + 1;
    if (newton_division_pays(mpz_size(divisor), quotient_bits)) {
        newton_quotient(quotient, std::move(numerator), shift, divisor, pool);
        return;
    }
    const int64_t low_bit_count = quotient_bits > 0 ? quotient_bits / 2 : 0;
    BigInteger low;
    if (low_bit_count > shift) {
        low_bits(low, numerator, low_bit_count - shift);
        shift_left(low, low, shift);
    }
    BigInteger& high = numerator;
    shift_by(high, high, shift - low_bit_count);
    high.shrink_to_fit();
    BigInteger high_quotient;
    mpz_tdiv_q(high_quotient, high, divisor);
    mpz_submul(high, high_quotient, divisor);
    shift_left(high, high, low_bit_count);
    mpz_add(high, high, low);
    low.release();
    mpz_tdiv_q(quotient, high, divisor);
    high.release();
    shift_left(high_quotient, high_quotient, low_bit_count);
    mpz_add(quotient, quotient, high_quotient);
}

PreparedQuotient prepare_quotient(BigInteger divisor, int64_t two_exponent, int64_t quotient_bits, ForkJoinPool* pool)
{
    require_bound(divisor.sign() > 0, "quotient of positive operands");
    const int64_t precision = quotient_bits + GUARD_BITS;
    PreparedQuotient prepared;
    prepared.divisor_shift = cut_in_place(divisor, precision);
    // 2^c / D' > 2^(c - bits(D')), so F >= 2^(prec - 1).
    prepared.factor_shift = precision + divisor.bits() - 1;
    floor_quotient(prepared.factor, BigInteger(1), prepared.factor_shift, divisor, pool);
    prepared.two_exponent = two_exponent;
    prepared.quotient_bits = quotient_bits;
    return prepared;
}

BigInteger finish_quotient(BigInteger numerator, const PreparedQuotient& prepared, ForkJoinPool* pool)
{
    require_bound(numerator.sign() > 0, "quotient of positive operands");
    const int64_t numerator_shift = cut_in_place(numerator, prepared.quotient_bits + GUARD_BITS);
    const int64_t shift = numerator_shift - prepared.divisor_shift - prepared.factor_shift + prepared.two_exponent;
    if (shift <= -3) {
        BigInteger quotient;
        high_product(quotient, prepared.factor, std::move(numerator), -shift, pool);
        numerator = std::move(quotient);
    } else {
        multiply(numerator, numerator, prepared.factor, pool);
        shift_by(numerator, numerator, shift);
    }
    // The error argument assumed Y < 2^quotient_bits; floor(Y') >= 2^quotient_bits
    // would show that it was not so.
    require_bound(numerator.bits() <= prepared.quotient_bits, "quotient within its stated bits");
    return numerator;
}

BigInteger divide_quotient(BigInteger numerator, BigInteger divisor, int64_t two_exponent, int64_t quotient_bits,
                           ForkJoinPool* pool)
{
    require_bound(numerator.sign() > 0 && divisor.sign() > 0, "quotient of positive operands");
    const int64_t precision = quotient_bits + GUARD_BITS;
    const int64_t shift = cut_in_place(numerator, precision) - cut_in_place(divisor, precision) + two_exponent;
    // floor(N' 2^shift / D'); for a negative shift, floor(floor(N' / D') / 2^-shift).
    BigInteger quotient;
    floor_quotient(quotient, std::move(numerator), shift > 0 ? shift : 0, divisor, pool);
    divisor.release();
    if (shift < 0)
        shift_right(quotient, quotient, -shift);
    require_bound(quotient.bits() <= quotient_bits, "quotient within its stated bits");
    return quotient;
}
