// The odd prime powers q = p^j up to a limit, in increasing order, each with
// its prime p: the building blocks of the least common multiples of runs of
// odd numbers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct OddPrimePowers {
    std::vector<uint32_t> powers;  // q, increasing
    std::vector<uint32_t> primes;  // p with q = p^j, at the same index

    // The index of the first power above bound.
    size_t first_above(int64_t bound) const;
};

// Every odd prime power q <= limit (limit below 2^32).
OddPrimePowers odd_prime_powers_up_to(int64_t limit);

// Lambda(n): the product of p over the odd prime powers q = p^j <= n, which is
// the odd part of lcm(1, ..., n), for each n of bounds, in the same order,
// taken from a list that reaches them. Each is made from the one below it and
// the powers between, for about the cost of the largest alone.
class BigInteger;
std::vector<BigInteger> odd_lcms_up_to(const OddPrimePowers& list, const std::vector<int64_t>& bounds);
