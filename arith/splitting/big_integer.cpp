// Small-factor arithmetic and products of many small numbers.
#include "big_integer.hpp"

#include <climits>

namespace {

constexpr bool LONG_HOLDS_64_BITS = ULONG_MAX >= UINT64_MAX;

// Below this many words a running product beats splitting further.
constexpr size_t PRODUCT_LEAF_WORDS = 16;

// The product of words[begin, end), each below 2^64.
BigInteger product_of_words(const std::vector<uint64_t>& words, size_t begin, size_t end)
{
    BigInteger product(1);
    if (end - begin <= PRODUCT_LEAF_WORDS) {
        for (size_t i = begin; i < end; ++i)
            multiply_small(product, words[i]);
        return product;
    }
    const size_t middle = begin + (end - begin) / 2;
    BigInteger right = product_of_words(words, middle, end);
    product = product_of_words(words, begin, middle);
    mpz_mul(product, product, right);
    return product;
}

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

BigInteger product_of(const std::vector<uint32_t>& factors)
{
    // Pack pairs of factors into words first: half the leaves for the tree.
    std::vector<uint64_t> words;
    words.reserve(factors.size() / 2 + 1);
    for (size_t i = 0; i < factors.size(); i += 2)
        words.push_back(i + 1 < factors.size() ? uint64_t{factors[i]} * factors[i + 1] : factors[i]);
    return product_of_words(words, 0, words.size());
}
