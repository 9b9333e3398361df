// Cutting limbs into 48-bit coefficients, the Chinese remainder theorem in
// Garner's form, and the carries that put the coefficients back into limbs.
#include "ntt/coefficients.hpp"

#include "exactness.hpp"
#include "ntt/modular.hpp"

#include <algorithm>

namespace {

constexpr uint64_t COEFFICIENT_MASK = (uint64_t{1} << COEFFICIENT_BITS) - 1;

// Garner's constants: p0^-1 mod p1, p0^-1 mod p2, p1^-1 mod p2.
struct GarnerConstants {
    uint64_t p0_inverse_mod_p1;
    uint64_t p0_inverse_mod_p2;
    uint64_t p1_inverse_mod_p2;
};

const GarnerConstants& garner_constants()
{
    static const GarnerConstants constants = [] {
        const uint64_t p0 = TRANSFORM_PRIMES[0].p, p1 = TRANSFORM_PRIMES[1].p, p2 = TRANSFORM_PRIMES[2].p;
        const Modulus m1(p1), m2(p2);
        return GarnerConstants{m1.invert(m1.reduce(p0)), m2.invert(m2.reduce(p0)), m2.invert(m2.reduce(p1))};
    }();
    return constants;
}

}  // namespace

size_t coefficient_count(size_t limb_count)
{
    return (64 * limb_count + COEFFICIENT_BITS - 1) / COEFFICIENT_BITS;
}

void cut_into_coefficients(std::span<const uint64_t> limbs, std::span<uint64_t> coefficients)
{
    for (size_t index = 0; index < coefficients.size(); ++index) {
        const size_t bit = index * COEFFICIENT_BITS;
        const size_t limb = bit / 64;
        const unsigned shift = bit % 64;
        uint64_t value = limb < limbs.size() ? limbs[limb] >> shift : 0;
        if (shift > 64 - COEFFICIENT_BITS && limb + 1 < limbs.size())
            value |= limbs[limb + 1] << (64 - shift);
        coefficients[index] = value & COEFFICIENT_MASK;
    }
}

// With y0 = r0, y1 = (r1 - y0) / p0 mod p1 and y2 = ((r2 - y0) / p0 - y1) / p1
// mod p2, the coefficient is y0 + p0 (y1 + p1 y2), the one representative in
// [0, p0 p1 p2): it is r0 mod p0, y0 + (r1 - y0) = r1 mod p1, and
// y0 + p0 y1 + (r2 - y0 - p0 y1) = r2 mod p2; and it is at most
// (p0 - 1) + p0 ((p1 - 1) + p1 (p2 - 1)) = p0 p1 p2 - 1.
WideCoefficient combine_residues(uint64_t r0, uint64_t r1, uint64_t r2)
{
    const GarnerConstants& constants = garner_constants();
    const uint64_t p0 = TRANSFORM_PRIMES[0].p, p1 = TRANSFORM_PRIMES[1].p;
    const Modulus m1(p1), m2(TRANSFORM_PRIMES[2].p);
    const uint64_t y1 = m1.multiply(m1.subtract(r1, m1.reduce(r0)), constants.p0_inverse_mod_p1);
    const uint64_t y2 = m2.multiply(
        m2.subtract(m2.multiply(m2.subtract(r2, m2.reduce(r0)), constants.p0_inverse_mod_p2), m2.reduce(y1)),
        constants.p1_inverse_mod_p2);
    // t = y1 + p1 y2 < 2^100; x = r0 + p0 t < 2^150.
    const unsigned __int128 t = static_cast<unsigned __int128>(p1) * y2 + y1;
    const unsigned __int128 low = static_cast<unsigned __int128>(p0) * static_cast<uint64_t>(t) + r0;
    const unsigned __int128 high = static_cast<unsigned __int128>(p0) * static_cast<uint64_t>(t >> 64) + (low >> 64);
    return {{static_cast<uint64_t>(low), static_cast<uint64_t>(high), static_cast<uint64_t>(high >> 64)}};
}

CoefficientCarrier::CoefficientCarrier(std::span<uint64_t> product) : product_(product)
{
    std::fill(product_.begin(), product_.end(), 0);
}

void CoefficientCarrier::add(const WideCoefficient& coefficient)
{
    unsigned __int128 sum = 0;
    for (int word = 0; word < 4; ++word) {
        sum += carry_[word];
        if (word < 3)
            sum += coefficient.word[word];
        carry_[word] = static_cast<uint64_t>(sum);
        sum >>= 64;
    }
    emit(carry_[0] & COEFFICIENT_MASK);
    // carry >>= 48
    for (int word = 0; word < 4; ++word)
        carry_[word] = (carry_[word] >> COEFFICIENT_BITS) | (word + 1 < 4 ? carry_[word + 1] << (64 - COEFFICIENT_BITS) : 0);
}

void CoefficientCarrier::finish()
{
    while (carry_[0] != 0 || carry_[1] != 0 || carry_[2] != 0 || carry_[3] != 0)
        add({{0, 0, 0}});
}

void CoefficientCarrier::emit(uint64_t piece)
{
    const size_t limb = next_bit_ / 64;
    const unsigned shift = next_bit_ % 64;
    next_bit_ += COEFFICIENT_BITS;
    if (piece == 0)
        return;
    // A product of n_a + n_b limbs holds a * b whole: a bit past it would
    // show a wrong coefficient.
    require_bound(limb < product_.size() && (shift <= 64 - COEFFICIENT_BITS || limb + 1 < product_.size() ||
                                             (piece >> (64 - shift)) == 0),
                  "product within its limbs");
    product_[limb] |= piece << shift;
    if (shift > 64 - COEFFICIENT_BITS && limb + 1 < product_.size())
        product_[limb + 1] |= piece >> (64 - shift);
}
