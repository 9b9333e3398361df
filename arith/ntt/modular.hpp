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
#include <cstddef>
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

// ---- Lazy residues: the transforms' arithmetic
//
// The fast transforms hold a residue mod p as any integer v congruent to
// it with |v| < 2^53 (a double, or a 64-bit integer on the portable path),
// and reduce only where a bound below would be passed. A bound X says
// |v| <= X p; every bound below 8 keeps |v| < 2^53, since p < 2^50. With
// u = 2^-53 the unit roundoff of a double (round to nearest) and q =
// rint(e) for an estimate e of a quotient, |q - exact| <= 1/2 + |e - exact|:
//
// reduce(a) = a - q p, q = rint(fl(a fl(1/p))): for |a| < 2^53, the
//   estimate is within |a / p| 2u (1 + u) < 2^-48 of a / p, so the result
//   lies within p (1/2 + 2^-48) of 0: the bound HALF.
// multiply(a, s) for a factor s with |s| <= HALF p and s' an estimate of
//   s / p, q = rint(fl(a s')), r = (a s - q p) exactly: with |a| <= X p,
//   |a s / p| <= X HALF p < X HALF 2^50, and for s' = fl(s / p), rounded
//   once, e is within that times 2u (1 + u), so |r| <= (1/2 + X/8 (1 + 2^-44)) p:
//   after_factor(X). For s' = fl(s fl(1/p)), rounded twice, the estimate
//   is within 3u (1 + u)^2 of it: after_vector_factor(X),
//   (1/2 + 3X/16 (1 + 2^-44)) p.
// multiply_any(a, b), q = rint(fl(fl(a b) fl(1/p))): with |a| <= X p and
//   |b| <= Y p, |a b / p| <= X Y p, and three roundings put e within
//   3u (1 + u)^2 of it: after_any(X, Y), (1/2 + 3XY/8 (1 + 2^-44)) p.
//
// Why a s - q p comes out exactly. With doubles, h = fl(a s) and
// l = fma(a, s, -h) = a s - h exactly (the error of a product is a double);
// fma(-q, p, h) rounds h - q p = (a s - q p) - l once, and that is an
// integer below 2^53 in magnitude, so it is exact: |a s - q p| <= 4 p <
// 2^52 for the bounds used here, and |l| <= ulp(h) / 2 <= 2^50 for
// |a s| < 2^103 (X <= 8 with |s| <= HALF p, or X Y <= 8 for multiply_any).
// Adding l is exact for the same reason. With 64-bit integers, a s - q p
// is computed modulo 2^64 and is the exact value, which lies in
// (-2^63, 2^63).
inline constexpr double HALF = 0.5 + 0x1p-48;
inline constexpr double EXACT_LIMIT = 8;  // |v| <= 8 p < 2^53
constexpr double after_factor(double x) { return 0.5 + x / 8 * (1 + 0x1p-44); }
constexpr double after_vector_factor(double x) { return 0.5 + 3 * x / 16 * (1 + 0x1p-44); }
constexpr double after_any(double x, double y) { return 0.5 + 3 * x * y / 8 * (1 + 0x1p-44); }

// The rules above as the range rules of a transform kernel's traits
// (transform_kernel.hpp): a bound X in units of p on |v|. Each rule throws,
// which stops the compilation of the bound that asks it, where the
// arithmetic would not be exact.
struct SignedLazyRanges {
    // The bounds the forward and the inverse passes keep (checked there).
    static constexpr double FORWARD_BOUND = 2.2, INVERSE_BOUND = 2.05;
    static constexpr double VALUE_LIMIT = EXACT_LIMIT;
    static constexpr double CANONICAL_FROM = 1;         // canonical takes |v| < p
    static constexpr double FACTOR_FROM = HALF;  // factors are made of |s| <= HALF p
    static constexpr double held(double x)
    {
        if (x > VALUE_LIMIT)
            throw "a lazy residue of 2^53 or more";
        return x;
    }
    static constexpr double after_reduce(double x)
    {
        held(x);
        return HALF;
    }
    // Sums and products take any value below 2^53: settling leaves it as it is.
    static constexpr double after_settle(double x) { return x; }
    static constexpr double after_difference(double x, double y) { return x + y; }
    static constexpr double after_factor(double x) { return ::after_factor(held(x)); }
    static constexpr double after_vector_factor(double x) { return ::after_vector_factor(held(x)); }
    static constexpr double after_any(double x, double y)
    {
        if (x * y > EXACT_LIMIT)
            throw "a product of 2^103 or more";
        return ::after_any(x, y);
    }
    // multiply_any's products are a b itself.
    static uint64_t any_product_scale(uint64_t) { return 1; }
};

// The representative of a residue r in [0, p) nearest 0, within p/2 of it:
// the form the fast transforms' factors take.
constexpr int64_t centered(uint64_t r, uint64_t p)
{
    return r > p / 2 ? static_cast<int64_t>(r) - static_cast<int64_t>(p) : static_cast<int64_t>(r);
}

// A root of unity of order length mod the prime (length = 2^k or 3 * 2^k,
// k <= 32).
uint64_t root_of_unity(const TransformPrime& prime, uint64_t length);

// What a transform of one length needs of its prime, made once for every
// length 2^k and 3 * 2^k (k <= 32) of each prime: w = root_of_unity, its
// inverse, and 1 / length.
struct LengthRoots {
    uint64_t root, root_inverse, length_inverse;
};
const LengthRoots& length_roots(size_t prime_index, uint64_t length);
