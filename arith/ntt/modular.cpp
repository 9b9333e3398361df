// Roots of unity from each prime's root of order 3 * 2^32.
#include "ntt/modular.hpp"

#include "exactness.hpp"

uint64_t root_of_unity(const TransformPrime& prime, uint64_t length)
{
    constexpr uint64_t full_order = uint64_t{3} << MAX_TWO_POWER;
    require_bound(length >= 1 && full_order % length == 0, "transform length divides 3 * 2^32");
    return Modulus(prime.p).power(prime.root, full_order / length);
}
