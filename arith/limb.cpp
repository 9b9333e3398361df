// The five limb operations. Each runs once over the array, from the least
// significant limb for carries and borrows, from the most significant for
// division, where the remainder flows downwards.
#include "limb.hpp"

void limb_add(int32_t limb_count, int32_t* dst, const int32_t* src)
{
    int32_t carry = 0;
    for (int32_t i = limb_count - 1; i >= 0; --i) {
        const int32_t sum = dst[i] + src[i] + carry;
        carry = sum >= LIMB_BASE ? 1 : 0;
        dst[i] = sum - carry * LIMB_BASE;
    }
}

void limb_sub(int32_t limb_count, int32_t* dst, const int32_t* src)
{
    for (int32_t i = limb_count - 1; i >= 0; --i) {
        const int32_t difference = dst[i] - src[i];
        dst[i] = difference;
        // The borrow goes into the next higher limb before that limb's own
        // subtraction: it is then at least -1, and one base restores it.
        if (difference < 0 && i != 0) {
            dst[i] = difference + LIMB_BASE;
            --dst[i - 1];
        }
    }
}

int32_t limb_mul_small(int32_t limb_count, int32_t* a, int32_t multiplier)
{
    int32_t carry = 0;
    for (int32_t i = limb_count - 1; i >= 0; --i) {
        const int32_t product = a[i] * multiplier + carry;
        carry = product >= LIMB_BASE ? product / LIMB_BASE : 0;
        a[i] = product - carry * LIMB_BASE;
    }
    return carry;
}

void limb_div_small(int32_t limb_count, const int32_t* src, int32_t divisor, int32_t* dst)
{
    // The running value is below divisor * LIMB_BASE. In 32 bits that holds for
    // divisors up to 214,748; larger ones (the series divisor passes that
    // beyond about 269,000 digits) take the 64-bit loop, which gives the same
    // quotients and stays exact for every 32-bit divisor.
    constexpr int32_t narrow_divisor_limit = (INT32_MAX - (LIMB_BASE - 1)) / LIMB_BASE + 1;
    if (divisor <= narrow_divisor_limit) {
        int32_t remainder = 0;
        for (int32_t i = 0; i < limb_count; ++i) {
            const int32_t current = remainder * LIMB_BASE + src[i];
            dst[i] = current / divisor;
            remainder = current - dst[i] * divisor;
        }
        return;
    }
    int64_t remainder = 0;
    for (int32_t i = 0; i < limb_count; ++i) {
        const int64_t current = remainder * LIMB_BASE + src[i];
        dst[i] = static_cast<int32_t>(current / divisor);
        remainder = current - int64_t{dst[i]} * divisor;
    }
}

bool limb_is_zero(int32_t limb_count, const int32_t* a)
{
    for (int32_t i = 0; i < limb_count; ++i)
        if (a[i] != 0)
            return false;
    return true;
}
