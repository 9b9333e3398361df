// Arithmetic modulo the transform's primes, and why it is exact.
//
// Three primes p just below 2^50, each with p - 1 divisible by 3 * 2^32, so
// that Z/p has roots of unity of every order 2^k and 3 * 2^k up to
// 3 * 2^32. Their product P exceeds 2^149.99.
//
// A product's residues mod each p are reduced by a quotient estimated in
// floating point: for a, b in [0, p), x = a b < 2^100, and a double estimate
// e of x / p is within 0.4 of it (below); q = floor(e) then leaves
// r = x - q p in (-0.4 p, 1.4 p), and one correction, up or down, brings r
// into [0, p). r is computed modulo 2^64 from the low words of a b and q p,
// exactly, since the true r lies in (-2^63, 2^63).
//
// Bound on e. a, b < 2^50 are doubles exactly; fl(a b) = a b (1 + d1),
// fl(1/p) = (1/p)(1 + d2), e = fl(fl(a b) fl(1/p)) = (x / p)(1 + d1)(1 + d2)(1 + d3),
// |d_i| <= 2^-53, so |e - x/p| <= (x/p)(3 * 2^-53 + 2^-104) < 2^50 * 2^-51.4 < 0.4.
#pragma once

#include <array>
#include <cstdint>

struct TransformPrime {
    uint64_t p;
    uint64_t generator;   // a primitive root mod p
    uint64_t root;        // generator^((p - 1) / (3 * 2^32)): of order 3 * 2^32
};

inline constexpr std::array<TransformPrime, 3> TRANSFORM_PRIMES = {{
    {1125844072267777u, 5, 909181527941361u},
    {1125818302464001u, 7, 235975324430315u},
    {1125625028935681u, 11, 880865589704237u},
}};

// Every prime lies in (2^49, 2^50): the bounds above and in the transforms
// rest on it.
inline constexpr uint64_t PRIME_FLOOR = uint64_t{1} << 49;
inline constexpr uint64_t PRIME_CEILING = uint64_t{1} << 50;

// The largest transform length of the form 2^k: 2^32; with 3 * 2^k, 3 * 2^32.
inline constexpr int MAX_TWO_POWER = 32;

// Arithmetic modulo one prime, on residues in [0, p).
class Modulus {
public:
    explicit constexpr Modulus(uint64_t p) : p_(p), inverse_(1.0 / static_cast<double>(p)) {}

    constexpr uint64_t p() const { return p_; }
    constexpr double inverse() const { return inverse_; }

    constexpr uint64_t add(uint64_t a, uint64_t b) const
    {
        const uint64_t sum = a + b;  // below 2^51
        return sum >= p_ ? sum - p_ : sum;
    }
    constexpr uint64_t subtract(uint64_t a, uint64_t b) const { return a >= b ? a - b : a + p_ - b; }

    uint64_t multiply(uint64_t a, uint64_t b) const
    {
        const auto quotient =
            static_cast<uint64_t>(static_cast<double>(a) * static_cast<double>(b) * inverse_);
        auto rest = static_cast<int64_t>(a * b - quotient * p_);
        rest += rest < 0 ? static_cast<int64_t>(p_) : 0;
        rest -= rest >= static_cast<int64_t>(p_) ? static_cast<int64_t>(p_) : 0;
        return static_cast<uint64_t>(rest);
    }

    uint64_t power(uint64_t base, uint64_t exponent) const
    {
        uint64_t result = 1 % p_;
        for (; exponent != 0; exponent >>= 1) {
            if (exponent & 1)
                result = multiply(result, base);
            base = multiply(base, base);
        }
        return result;
    }

    // a^-1 for a not 0 mod p, by Fermat.
    uint64_t invert(uint64_t a) const { return power(a, p_ - 2); }

    // Any 64-bit value, reduced.
    uint64_t reduce(uint64_t value) const { return value % p_; }

private:
    uint64_t p_;
    double inverse_;
};

// A root of unity of order length mod the prime (length = 2^k or 3 * 2^k,
// k <= 32).
uint64_t root_of_unity(const TransformPrime& prime, uint64_t length);
