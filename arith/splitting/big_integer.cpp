// Small-factor arithmetic and products of many small numbers.
#include "big_integer.hpp"

namespace {

// Where unsigned long holds 64 bits, GMP's _ui functions take a 64-bit
// factor directly. Where it does not (64-bit Windows), the factor is one
// limb, seen as a read-only integer, and the functions that take an mpz_t
// treat a one-limb operand as the _ui functions do (one pass of mpn_mul_1 or
// mpn_addmul_1), with a little more dispatch and no allocation.
constexpr bool LONG_HOLDS_64_BITS = sizeof(unsigned long) >= sizeof(uint64_t);
static_assert(GMP_LIMB_BITS == 64, "GMP's limbs hold 64 bits");

// Below this many factors a running product, two factors to a word, beats
// splitting further.
constexpr size_t PRODUCT_LEAF_FACTORS = 32;

struct OneLimb {
    explicit OneLimb(uint64_t value) : limb(value) { mpz_roinit_n(view, &limb, value != 0 ? 1 : 0); }
    OneLimb(const OneLimb&) = delete;
    OneLimb& operator=(const OneLimb&) = delete;
    mp_limb_t limb;
    mpz_t view;
};

}  // namespace

void BigInteger::assign(uint64_t small)
{
    if constexpr (LONG_HOLDS_64_BITS)
        mpz_set_ui(value_, static_cast<unsigned long>(small));
    else
        mpz_set(value_, OneLimb(small).view);
}

void multiply_small(BigInteger& target, uint64_t factor)
{
    if constexpr (LONG_HOLDS_64_BITS)
        mpz_mul_ui(target, target, static_cast<unsigned long>(factor));
    else
        mpz_mul(target, target, OneLimb(factor).view);
}

void add_multiple_small(BigInteger& target, const BigInteger& source, uint64_t factor, int sign)
{
    if constexpr (LONG_HOLDS_64_BITS) {
        if (sign > 0)
            mpz_addmul_ui(target, source, static_cast<unsigned long>(factor));
        else
            mpz_submul_ui(target, source, static_cast<unsigned long>(factor));
    } else {
        const OneLimb wide(factor);
        if (sign > 0)
            mpz_addmul(target, source, wide.view);
        else
            mpz_submul(target, source, wide.view);
    }
}

BigInteger product_of(std::span<const uint32_t> factors)
{
    BigInteger product(1);
    if (factors.size() <= PRODUCT_LEAF_FACTORS) {
        for (size_t i = 0; i < factors.size(); i += 2)
            multiply_small(product, i + 1 < factors.size() ? uint64_t{factors[i]} * factors[i + 1] : factors[i]);
        return product;
    }
    const size_t middle = factors.size() / 2;
    BigInteger right = product_of(factors.subspan(middle));
    product = product_of(factors.first(middle));
    mpz_mul(product, product, right);
    return product;
}
