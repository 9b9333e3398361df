// Small-factor arithmetic and products of many small numbers.
#include "big_integer.hpp"

#include <climits>

namespace {

constexpr bool LONG_HOLDS_64_BITS = ULONG_MAX >= UINT64_MAX;

// Below this many factors a running product, two factors to a word, beats
// splitting further.
constexpr size_t PRODUCT_LEAF_FACTORS = 32;

}  // namespace

void BigInteger::assign(uint64_t small)
{
    if (LONG_HOLDS_64_BITS) {
        mpz_set_ui(value_, static_cast<unsigned long>(small));
    } else {
        mpz_set_ui(value_, static_cast<unsigned long>(small >> 32));
        mpz_mul_2exp(value_, value_, 32);
        mpz_add_ui(value_, value_, static_cast<unsigned long>(small & 0xffffffffu));
    }
}

void multiply_small(BigInteger& target, uint64_t factor)
{
    if (LONG_HOLDS_64_BITS || factor <= ULONG_MAX) {
        mpz_mul_ui(target, target, static_cast<unsigned long>(factor));
        return;
    }
    const BigInteger wide(factor);
    mpz_mul(target, target, wide);
}

void add_multiple_small(BigInteger& target, const BigInteger& source, uint64_t factor, int sign)
{
    if (LONG_HOLDS_64_BITS || factor <= ULONG_MAX) {
        if (sign > 0)
            mpz_addmul_ui(target, source, static_cast<unsigned long>(factor));
        else
            mpz_submul_ui(target, source, static_cast<unsigned long>(factor));
        return;
    }
    const BigInteger wide(factor);
    if (sign > 0)
        mpz_addmul(target, source, wide);
    else
        mpz_submul(target, source, wide);
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
