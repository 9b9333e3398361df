// A big integer written out as base-10000 limbs.
#pragma once

#include "big_integer.hpp"
#include "fork_join_pool.hpp"

#include <cstddef>
#include <cstdint>

#include <vector>

// 10000 = 5^4 2^4: a power of it is a power of 5 and a shift.
inline constexpr uint32_t LIMB_BASE_ODD_PART = 625;
inline constexpr int64_t LIMB_BASE_TWOS = 4;

// What the conversions to limbs (of an integer here, of a binary fraction in
// fraction_limbs.hpp) work with: the powers they split by and the pool their
// two sides share.
struct LimbConversion {
    const std::vector<BigInteger>& powers;  // powers[j] = 5^(4 2^j), the odd part of 10000^(2^j)
    ForkJoinPool& pool;
};

// Pieces of this many limbs or fewer are converted by GMP's own conversion;
// pieces this long or longer hand their two sides to two threads when one is
// free.
inline constexpr int32_t CONVERSION_LEAF_LIMBS = 1 << 11;
inline constexpr int32_t CONVERSION_FORK_LIMBS = 1 << 16;

// The odd parts 5^(4 2^j) of the powers 10000^(2^j) the conversion of
// limb_count limbs splits by, a third shorter than the powers themselves;
// they depend on the size alone and can be made before the value is known.
std::vector<BigInteger> decimal_split_powers(int32_t limb_count);

// Where a conversion of count > 1 limbs splits them: at 2^j limbs from one
// end, the power of two nearest half the count (count / 3 <= 2^j < 2 count / 3),
// so that the two sides, converted on two threads, take about the same time.
size_t split_level(int32_t count);

// limbs[0 .. limb_count) <- value in base 10000, most significant first;
// value must lie in [0, 10000^limb_count). powers as decimal_split_powers
// gives them for limb_count.
void decimal_limbs(const BigInteger& value, int32_t limb_count, int32_t* limbs, const LimbConversion& conversion);

// The same for a short value, by GMP's own conversion: its cost grows with
// the square of count.
void small_decimal_limbs(const BigInteger& value, int32_t count, int32_t* limbs);

// The same, making the powers first.
void decimal_limbs(const BigInteger& value, int32_t limb_count, int32_t* limbs, ForkJoinPool& pool);
