// Divide and conquer: the value is split by 10000^(2^j) into a high and a
// low part, each converted on its own (the two halves on two threads when
// one is free), down to pieces small enough for GMP's own conversion.
#include "decimal_limbs.hpp"

#include "exactness.hpp"
#include "limb.hpp"

#include <string>
#include <vector>

namespace {

void convert(const LimbConversion& conversion, const BigInteger& value, int32_t count, int32_t* limbs)
{
    if (count <= CONVERSION_LEAF_LIMBS) {
        small_decimal_limbs(value, count, limbs);
        return;
    }
    const size_t level = split_level(count);
    const int32_t low_count = int32_t{1} << level;
    // value = high 10000^l + low, with 10000^l = 5^(4l) 2^(4l): the low 4l
    // bits go to low as they are, and the rest is divided by 5^(4l).
    const int64_t low_twos = LIMB_BASE_TWOS * low_count;
    BigInteger high, low, low_twos_part;
    low_bits(low_twos_part, value, low_twos);
    shift_right(high, value, low_twos);
    mpz_tdiv_qr(high, low, high, conversion.powers[level]);
    shift_left(low, low, low_twos);
    mpz_add(low, low, low_twos_part);
    low_twos_part.release();
    conversion.pool.fork_join_if(
        count >= CONVERSION_FORK_LIMBS, [&] { convert(conversion, high, count - low_count, limbs); },
        [&] { convert(conversion, low, low_count, limbs + (count - low_count)); });
}

}  // namespace

size_t split_level(int32_t count)
{
    size_t level = 0;
    while ((int64_t{3} << level) < count)
        ++level;
    return level;
}

void small_decimal_limbs(const BigInteger& value, int32_t count, int32_t* limbs)
{
    std::string digits(size_t(count) * LIMB_DIGITS + 2, '\0');
    mpz_get_str(digits.data(), 10, value);
    const size_t length = digits.find('\0');
    require_bound(value.sign() >= 0 && length <= size_t(count) * LIMB_DIGITS, "value within its limbs");
    // Right-aligned: the missing leading digits are zeros.
    const size_t padding = size_t(count) * LIMB_DIGITS - (value.sign() == 0 ? 0 : length);
    for (int32_t limb = 0; limb < count; ++limb) {
        int32_t group = 0;
        for (int32_t digit = 0; digit < LIMB_DIGITS; ++digit) {
            const size_t position = size_t(limb) * LIMB_DIGITS + digit;
            group = group * 10 + (position < padding ? 0 : digits[position - padding] - '0');
        }
        limbs[limb] = group;
    }
}

std::vector<BigInteger> decimal_split_powers(int32_t limb_count)
{
    // The largest split takes fewer than limb_count low limbs.
    static_assert(LIMB_BASE == LIMB_BASE_ODD_PART << LIMB_BASE_TWOS, "10000 = 5^4 2^4");
    std::vector<BigInteger> powers;
    powers.emplace_back(LIMB_BASE_ODD_PART);
    while ((int64_t{2} << (powers.size() - 1)) < limb_count) {
        BigInteger square;
        multiply(square, powers.back(), powers.back());
        powers.push_back(std::move(square));
    }
    return powers;
}

void decimal_limbs(const BigInteger& value, int32_t limb_count, int32_t* limbs, const LimbConversion& conversion)
{
    convert(conversion, value, limb_count, limbs);
}

void decimal_limbs(const BigInteger& value, int32_t limb_count, int32_t* limbs, ForkJoinPool& pool)
{
    const std::vector<BigInteger> powers = decimal_split_powers(limb_count);
    decimal_limbs(value, limb_count, limbs, LimbConversion{powers, pool});
}
