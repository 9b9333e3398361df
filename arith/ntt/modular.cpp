// Roots of unity from each prime's root of order 3 * 2^32.
#include "ntt/modular.hpp"

#include "exactness.hpp"

#include <array>
#include <bit>
#include <mutex>

uint64_t root_of_unity(const TransformPrime& prime, uint64_t length)
{
    constexpr uint64_t full_order = uint64_t{3} << MAX_TWO_POWER;
    require_bound(length >= 1 && full_order % length == 0, "transform length divides 3 * 2^32");
    return Modulus(prime.p).power(prime.root, full_order / length);
}

const LengthRoots& length_roots(size_t prime_index, uint64_t length)
{
    // Indexed by prime, by the factor 3 or none, and by k.
    using Table = std::array<std::array<std::array<LengthRoots, MAX_TWO_POWER + 1>, 2>, TRANSFORM_PRIMES.size()>;
    static Table table;
    static std::once_flag made;
    std::call_once(made, [] {
        for (size_t index = 0; index < TRANSFORM_PRIMES.size(); ++index) {
            const Modulus m(TRANSFORM_PRIMES[index].p);
            for (int three = 0; three < 2; ++three)
                for (int k = 0; k <= MAX_TWO_POWER; ++k) {
                    const uint64_t n = (three != 0 ? uint64_t{3} : uint64_t{1}) << k;
                    const uint64_t w = root_of_unity(TRANSFORM_PRIMES[index], n);
                    table[index][three][k] = {w, m.invert(w), m.invert(n % m.p())};
                }
        }
    });
    require_bound(prime_index < TRANSFORM_PRIMES.size(), "a transform prime");
    const bool three = length % 3 == 0;
    const uint64_t two_power = three ? length / 3 : length;
    require_bound(std::has_single_bit(two_power) && std::countr_zero(two_power) <= MAX_TWO_POWER,
                  "transform length 2^k or 3 * 2^k, k <= 32");
    return table[prime_index][three ? 1 : 0][std::countr_zero(two_power)];
}
