// A sieve of Eratosthenes over the odd numbers.
#include "odd_prime_powers.hpp"

#include "big_integer.hpp"

#include <algorithm>
#include <utility>

size_t OddPrimePowers::first_above(int64_t bound) const
{
    if (bound < 0)
        return 0;
    return static_cast<size_t>(std::upper_bound(powers.begin(), powers.end(), static_cast<uint64_t>(bound),
                                                [](uint64_t value, uint32_t power) { return value < power; }) -
                               powers.begin());
}

OddPrimePowers odd_prime_powers_up_to(int64_t limit)
{
    OddPrimePowers list;
    if (limit < 3)
        return list;
    // composite[i] says whether 2i + 1 is composite; 1 is left out. The
    // primes come out in order; the few higher powers are merged in after.
    const int64_t odd_count = (limit - 1) / 2 + 1;
    std::vector<bool> composite(static_cast<size_t>(odd_count), false);
    std::vector<std::pair<uint32_t, uint32_t>> higher_powers;  // (q, p)
    for (int64_t i = 1; i < odd_count; ++i) {
        if (composite[i])
            continue;
        const int64_t p = 2 * i + 1;
        list.powers.push_back(static_cast<uint32_t>(p));
        for (int64_t multiple = p * p; multiple <= limit; multiple += 2 * p)
            composite[(multiple - 1) / 2] = true;
        for (int64_t q = p * p; q <= limit; q *= p)
            higher_powers.emplace_back(static_cast<uint32_t>(q), static_cast<uint32_t>(p));
    }
    std::sort(higher_powers.begin(), higher_powers.end());
    std::vector<uint32_t> primes_only = std::move(list.powers);
    list.powers.clear();
    list.powers.reserve(primes_only.size() + higher_powers.size());
    list.primes.reserve(primes_only.size() + higher_powers.size());
    size_t next_higher = 0;
    for (uint32_t p : primes_only) {
        for (; next_higher < higher_powers.size() && higher_powers[next_higher].first < p; ++next_higher) {
            list.powers.push_back(higher_powers[next_higher].first);
            list.primes.push_back(higher_powers[next_higher].second);
        }
        list.powers.push_back(p);
        list.primes.push_back(p);
    }
    for (; next_higher < higher_powers.size(); ++next_higher) {
        list.powers.push_back(higher_powers[next_higher].first);
        list.primes.push_back(higher_powers[next_higher].second);
    }
    return list;
}

namespace {

BigInteger primes_product(const OddPrimePowers& list, size_t begin, size_t end)
{
    return product_of(std::span<const uint32_t>(list.primes).subspan(begin, end - begin));
}

}  // namespace

std::vector<BigInteger> odd_lcms_up_to(const OddPrimePowers& list, const std::vector<int64_t>& bounds)
{
    std::vector<size_t> order(bounds.size());
    for (size_t index = 0; index < order.size(); ++index)
        order[index] = index;
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return bounds[a] < bounds[b]; });
    std::vector<BigInteger> lcms(bounds.size());
    const BigInteger* below = nullptr;
    size_t covered = 0;  // the powers below already in *below
    for (size_t index : order) {
        const size_t end = list.first_above(bounds[index]);
        BigInteger& lcm = lcms[index];
        lcm = primes_product(list, covered, end);
        if (below != nullptr)
            multiply(lcm, lcm, *below);
        below = &lcm;
        covered = end;
    }
    return lcms;
}
