// A scaled remainder tree. A piece of c limbs stands for a real u in [0, 1)
// and its limbs are those of floor(u 10000^c); it holds u as G / 2^b with
// b = fraction_bits_for(c) and |G / 2^b - u| <= eta 10000^-c, eta being the
// error in units of the piece's last limb. The whole fraction is exact:
// eta = 0. A piece is split into h high and l = c - h low limbs:
//  - The high limbs are those of floor(u 10000^h), of the same u, where the
//    error is eta 10000^-l in the high piece's units; G cut to
//    fraction_bits_for(h) bits adds less than 2^-64 10000^-h, so
//    eta_high < eta + 2^-64.
//  - The low limbs are those of floor(v 10000^l) with v = frac(u 10000^h).
//    Let G 10000^h = I 2^b + R. If R / 2^b is farther than eta 10000^-l from
//    0 and from 1, then floor(u 10000^h) = I and |R / 2^b - v| <= eta 10000^-l,
//    eta in the low piece's units; R cut to fraction_bits_for(l) bits adds
//    less than 2^-64, so eta_low < eta + 2^-64.
//  - A leaf's limbs are floor(G 10000^c / 2^b) if the fractional part of
//    G 10000^c / 2^b is farther than eta from 0 and from 1.
// The tree is fewer than 64 levels deep (each split leaves at most 2/3 of
// the limbs, and there are fewer than 2^31), so eta < 64 * 2^-64 = 2^-58
// everywhere, and every check asks for a distance of more than 2^-58. Where one fails,
// at a run of some seventeen zero or nine digits across a split, the limbs
// are made from the exact integer instead.
#include "fraction_limbs.hpp"

#include "decimal_limbs.hpp"
#include "exactness.hpp"
#include "limb.hpp"

#include <cmath>

namespace {

// A fractional part is clear of the integers when it is farther than
// 2^-CLEARANCE_BITS from them, beyond any piece's error.
constexpr int64_t CLEARANCE_BITS = 58;

// Whether scaled / 2^bits is farther than 2^-58 from every integer: with
// t = floor(frac(scaled / 2^bits) 2^58), 2 <= t <= 2^58 - 2 suffices.
bool fraction_is_clear(const BigInteger& scaled, int64_t bits)
{
    BigInteger top;
    shift_right(top, scaled, bits - CLEARANCE_BITS);
    low_bits(top, top, CLEARANCE_BITS);
    if (mpz_cmp_ui(top.get(), 2) < 0)
        return false;
    mpz_add_ui(top, top, 1);
    return top.bits() <= CLEARANCE_BITS;
}

// The limbs of a piece below the leaf size: one multiplication by 5^(4c)
// and GMP's own conversion. As in convert's low side, with 5^(4c) for
// 10000^c: bits >= 13.28 c + 65 leaves the 58 bits the check reads.
bool convert_leaf(const BigInteger& value, int64_t bits, int32_t count, int32_t* limbs)
{
    BigInteger scaled;
    mpz_ui_pow_ui(scaled, LIMB_BASE_ODD_PART, static_cast<unsigned long>(count));
    mpz_mul(scaled, scaled, value);
    const int64_t scaled_bits = bits - LIMB_BASE_TWOS * count;
    if (!fraction_is_clear(scaled, scaled_bits))
        return false;
    shift_right(scaled, scaled, scaled_bits);
    small_decimal_limbs(scaled, count, limbs);
    return true;
}

// limbs <- the count limbs of value / 2^fraction_bits_for(count); false where
// a floor was too close to call.
bool convert(const LimbConversion& conversion, const BigInteger& value, int32_t count, int32_t* limbs)
{
    const int64_t bits = fraction_bits_for(count);
    if (count <= CONVERSION_LEAF_LIMBS)
        return convert_leaf(value, bits, count, limbs);
    const size_t level = split_level(count);
    const int32_t high_count = int32_t{1} << level;
    const int32_t low_count = count - high_count;
    bool high_done = false, low_done = false;
    auto convert_high = [&] {
        BigInteger high;
        shift_right(high, value, bits - fraction_bits_for(high_count));
        high_done = convert(conversion, high, high_count, limbs);
    };
    auto convert_low = [&] {
        // scaled 2^(4h) = value 10000^h, so scaled / 2^(bits - 4h) has the
        // fraction of value 10000^h / 2^bits. bits exceeds low_bits by at
        // least 13.28 h - 1 >= 4h.
        BigInteger scaled;
        multiply(scaled, value, conversion.powers[level], &conversion.pool);
        const int64_t scaled_bits = bits - LIMB_BASE_TWOS * high_count;
        if (!fraction_is_clear(scaled, scaled_bits))
            return;
        const int64_t low_bit_count = fraction_bits_for(low_count);
        require_bound(scaled_bits >= low_bit_count, "low piece within the scaled fraction");
        BigInteger low;
        shift_right(low, scaled, scaled_bits - low_bit_count);
        scaled.release();
        low_bits(low, low, low_bit_count);
        low_done = convert(conversion, low, low_count, limbs + high_count);
    };
    conversion.pool.fork_join_if(count >= CONVERSION_FORK_LIMBS, convert_high, convert_low);
    return high_done && low_done;
}

}  // namespace

int64_t fraction_bits_for(int32_t limb_count)
{
    // x = c log2(10000) is below 2^35 and the double's product x' within
    // 2^-16 of it, so floor(x') + 2 > x' + 1 > x: 10000^c < 2^(B - 64).
    return static_cast<int64_t>(double(limb_count) * std::log2(double(LIMB_BASE))) + 2 + 64;
}

void fraction_limbs(const BigInteger& fraction, int32_t limb_count, int32_t* limbs, const LimbConversion& conversion)
{
    const int64_t bits = fraction_bits_for(limb_count);
    require_bound(fraction.sign() >= 0 && fraction.bits() <= bits, "fraction within [0, 1)");
    if (convert(conversion, fraction, limb_count, limbs))
        return;
    BigInteger exact;
    mpz_ui_pow_ui(exact, LIMB_BASE, static_cast<unsigned long>(limb_count));
    multiply(exact, exact, fraction, &conversion.pool);
    shift_right(exact, exact, bits);
    decimal_limbs(exact, limb_count, limbs, conversion);
}
