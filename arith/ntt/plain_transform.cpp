// The product by transforms written for clarity: a recursive transform by
// decimation in time, radix 3 where the length has the factor 3 and radix 2
// below, over one prime at a time; the pointwise product; the inverse
// transform (the same with the inverse root, divided by the length); and the
// residues combined. Its cost grows like n log n, with large constants; it
// is the reference the fast transforms are tested against.
#include "ntt/ntt_multiply.hpp"

#include "exactness.hpp"
#include "ntt/coefficients.hpp"
#include "ntt/modular.hpp"

#include <vector>

namespace {

// x <- X with X_j = sum over i of x_i w^(i j), w of order x.size().
void plain_transform(std::vector<uint64_t>& x, uint64_t w, const Modulus& m)
{
    const size_t n = x.size();
    if (n == 1)
        return;
    const size_t radix = n % 3 == 0 ? 3 : 2;
    const size_t part = n / radix;
    // x_i = the r-th subsequence x_(radix i + r); X_j = sum over r of
    // w^(r j) X_r(j mod part), X_r the transform of the subsequence with w^radix.
    std::vector<std::vector<uint64_t>> parts(radix, std::vector<uint64_t>(part));
    for (size_t i = 0; i < part; ++i)
        for (size_t r = 0; r < radix; ++r)
            parts[r][i] = x[radix * i + r];
    const uint64_t w_radix = m.power(w, radix);
    for (std::vector<uint64_t>& sub : parts)
        plain_transform(sub, w_radix, m);
    uint64_t w_j = 1;  // w^j
    for (size_t j = 0; j < n; ++j) {
        uint64_t sum = 0, w_rj = 1;  // w^(r j)
        for (size_t r = 0; r < radix; ++r) {
            sum = m.add(sum, m.multiply(w_rj, parts[r][j % part]));
            w_rj = m.multiply(w_rj, w_j);
        }
        x[j] = sum;
        w_j = m.multiply(w_j, w);
    }
}

// The least transform length of the form 2^k or 3 * 2^k that holds count.
size_t plain_length(size_t count)
{
    size_t two_power = 1;
    while (two_power < count)
        two_power *= 2;
    const size_t three_times = 3 * (two_power / 4);  // 3 * 2^(k-2), below 2^k
    return two_power >= 4 && three_times >= count ? three_times : two_power;
}

}  // namespace

void ntt_multiply_plain(std::span<const uint64_t> a, std::span<const uint64_t> b, std::span<uint64_t> product)
{
    require_bound(product.size() == a.size() + b.size(), "product of n_a + n_b limbs");
    constexpr int bits = PLAIN_COEFFICIENT_BITS;
    if (a.empty() || b.empty()) {
        CoefficientCarrier(product, bits).finish();
        return;
    }
    const size_t a_count = coefficient_count(a.size(), bits), b_count = coefficient_count(b.size(), bits);
    const size_t length = plain_length(a_count + b_count - 1);

    std::vector<uint64_t> residues[3];
    for (size_t index = 0; index < TRANSFORM_PRIMES.size(); ++index) {
        const TransformPrime& prime = TRANSFORM_PRIMES[index];
        const Modulus m(prime.p);
        const uint64_t w = root_of_unity(prime, length);
        std::vector<uint64_t> x(length, 0), y(length, 0);  // 48-bit coefficients: below p
        for (size_t i = 0; i < a_count; ++i)
            x[i] = coefficient_of(a, i, bits);
        for (size_t i = 0; i < b_count; ++i)
            y[i] = coefficient_of(b, i, bits);
        plain_transform(x, w, m);
        plain_transform(y, w, m);
        for (size_t j = 0; j < length; ++j)
            x[j] = m.multiply(x[j], y[j]);
        plain_transform(x, m.invert(w), m);
        const uint64_t length_inverse = m.invert(length % m.p());
        for (uint64_t& value : x)
            value = m.multiply(value, length_inverse);
        residues[index] = std::move(x);
    }
    CoefficientCarrier carrier(product, bits);
    for (size_t j = 0; j < a_count + b_count - 1; ++j) {
        const uint64_t y1 = garner_y1(residues[0][j], residues[1][j]);
        carrier.add(residues[0][j], y1, garner_y2(residues[0][j], y1, residues[2][j]));
    }
    carrier.finish();
}
