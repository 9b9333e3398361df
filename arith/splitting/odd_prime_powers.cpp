// A sieve of Eratosthenes over the odd numbers, window by window.
#include "odd_prime_powers.hpp"

#include "big_integer.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <utility>

size_t OddPrimePowers::first_above(int64_t bound) const
{
    if (bound < 0)
        return 0;
    return static_cast<size_t>(std::upper_bound(powers.begin(), powers.end(), static_cast<uint64_t>(bound),
                                                [](uint64_t value, uint32_t power) { return value < power; }) -
                               powers.begin());
}

namespace {

// The window of the composite bits marked at a time: 256 KiB, which the
// second-level cache holds, so each sieving prime marks its multiples there
// rather than across the whole table. The list up to 8 10^8 (10^9 digits)
// takes 1.6 s so, 4.5 s marking the whole table prime by prime.
constexpr int64_t WINDOW_BITS = int64_t{1} << 21;

// The odd primes up to bound, by a plain sieve (bound is at most 2^16 here).
std::vector<int64_t> small_odd_primes(int64_t bound)
{
    std::vector<bool> composite(static_cast<size_t>(bound + 1), false);
    std::vector<int64_t> primes;
    for (int64_t p = 3; p <= bound; p += 2) {
        if (composite[p])
            continue;
        primes.push_back(p);
        for (int64_t multiple = p * p; multiple <= bound; multiple += 2 * p)
            composite[multiple] = true;
    }
    return primes;
}

int64_t integer_square_root(int64_t n)
{
    auto root = static_cast<int64_t>(std::sqrt(static_cast<double>(n)));
    while (root * root > n)
        --root;
    while ((root + 1) * (root + 1) <= n)
        ++root;
    return root;
}

}  // namespace

OddPrimePowers odd_prime_powers_up_to(int64_t limit)
{
    OddPrimePowers list;
    if (limit < 3)
        return list;
    // Bit i of composite says whether 2i + 1 is composite, 1 counted as one,
    // and so are the bits past the last odd number up to the limit. Every
    // odd composite up to the limit has an odd prime factor p with p^2 <=
    // limit, and is marked from p^2 on, window by window.
    const int64_t odd_count = (limit - 1) / 2 + 1;
    const int64_t word_count = (odd_count + 63) / 64;
    std::vector<uint64_t> composite(static_cast<size_t>(word_count), 0);
    composite[0] = 1;
    if (odd_count % 64 != 0)
        composite.back() |= ~uint64_t{0} << (odd_count % 64);
    const std::vector<int64_t> sieving = small_odd_primes(integer_square_root(limit));
    std::vector<int64_t> next_index(sieving.size());
    for (size_t k = 0; k < sieving.size(); ++k)
        next_index[k] = (sieving[k] * sieving[k] - 1) / 2;
    for (int64_t window_end = 0; window_end < odd_count;) {
        window_end = std::min(odd_count, window_end + WINDOW_BITS);
        for (size_t k = 0; k < sieving.size(); ++k) {
            int64_t index = next_index[k];
            for (const int64_t step = sieving[k]; index < window_end; index += step)
                composite[static_cast<size_t>(index >> 6)] |= uint64_t{1} << (index & 63);
            next_index[k] = index;
        }
    }
    // The higher powers all have a sieving prime; merged in order with the
    // primes, into lists reserved to their exact length.
    std::vector<std::pair<uint32_t, uint32_t>> higher_powers;  // (q, p)
    for (int64_t p : sieving)
        for (int64_t q = p * p; q <= limit; q *= p)
            higher_powers.emplace_back(static_cast<uint32_t>(q), static_cast<uint32_t>(p));
    std::sort(higher_powers.begin(), higher_powers.end());
    size_t count = higher_powers.size();
    for (uint64_t word : composite)
        count += static_cast<size_t>(std::popcount(~word));
    list.powers.reserve(count);
    list.primes.reserve(count);
    size_t next_higher = 0;
    auto add_higher_powers_below = [&](uint64_t bound) {
        for (; next_higher < higher_powers.size() && higher_powers[next_higher].first < bound; ++next_higher) {
            list.powers.push_back(higher_powers[next_higher].first);
            list.primes.push_back(higher_powers[next_higher].second);
        }
    };
    for (int64_t word = 0; word < word_count; ++word) {
        for (uint64_t primes = ~composite[static_cast<size_t>(word)]; primes != 0; primes &= primes - 1) {
            const auto p = static_cast<uint32_t>(2 * (64 * word + std::countr_zero(primes)) + 1);
            add_higher_powers_below(p);
            list.powers.push_back(p);
            list.primes.push_back(p);
        }
    }
    add_higher_powers_below(uint64_t{1} << 32);
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
