// Cutting limbs into 48-bit coefficients, the Chinese remainder theorem in
// Garner's form, and the carries that put the coefficients back into limbs.
#include "ntt/coefficients.hpp"

#include "exactness.hpp"
#include "ntt/modular.hpp"

#include <algorithm>

namespace {

uint64_t low_mask(int bits) { return bits >= 64 ? ~uint64_t{0} : (uint64_t{1} << bits) - 1; }

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

static_assert(TRANSFORM_PRIMES[2].p < TRANSFORM_PRIMES[1].p && TRANSFORM_PRIMES[1].p < TRANSFORM_PRIMES[0].p &&
                  TRANSFORM_PRIMES[0].p < 2 * TRANSFORM_PRIMES[2].p,
              "the primes decrease, all within a factor of 2");

}  // namespace

size_t coefficient_count(size_t limb_count, int bits)
{
    return (64 * limb_count + static_cast<size_t>(bits) - 1) / static_cast<size_t>(bits);
}

void cut_into_coefficients(std::span<const uint64_t> limbs, std::span<uint64_t> coefficients, int bits)
{
    require_bound(bits >= 1 && bits <= 64, "coefficients of 1 to 64 bits");
    if (bits == 64) {
        for (size_t index = 0; index < coefficients.size(); ++index)
            coefficients[index] = index < limbs.size() ? limbs[index] : 0;
        return;
    }
    const uint64_t mask = low_mask(bits);
    for (size_t index = 0; index < coefficients.size(); ++index) {
        const size_t bit = index * static_cast<size_t>(bits);
        const size_t limb = bit / 64;
        const unsigned shift = bit % 64;
        uint64_t value = limb < limbs.size() ? limbs[limb] >> shift : 0;
        if (shift > 64u - bits && limb + 1 < limbs.size())
            value |= limbs[limb + 1] << (64 - shift);
        coefficients[index] = value & mask;
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
    // p2 < p1 < p0 < 2 p2: a residue of a larger prime is below twice a
    // smaller one, and one subtraction reduces it.
    const auto reduce_once = [](uint64_t value, uint64_t p) { return value >= p ? value - p : value; };
    const uint64_t y1 = m1.multiply(m1.subtract(r1, reduce_once(r0, p1)), constants.p0_inverse_mod_p1);
    const uint64_t y2 = m2.multiply(m2.subtract(m2.multiply(m2.subtract(r2, reduce_once(r0, m2.p())),
                                                            constants.p0_inverse_mod_p2),
                                                reduce_once(y1, m2.p())),
                                    constants.p1_inverse_mod_p2);
    // t = y1 + p1 y2 < 2^100; x = r0 + p0 t < 2^150.
    const unsigned __int128 t = static_cast<unsigned __int128>(p1) * y2 + y1;
    const unsigned __int128 low = static_cast<unsigned __int128>(p0) * static_cast<uint64_t>(t) + r0;
    const unsigned __int128 high = static_cast<unsigned __int128>(p0) * static_cast<uint64_t>(t >> 64) + (low >> 64);
    return {{static_cast<uint64_t>(low), static_cast<uint64_t>(high), static_cast<uint64_t>(high >> 64)}};
}

CoefficientCarrier::CoefficientCarrier(std::span<uint64_t> product, int bits)
    : product_(product), bits_(bits), mask_(low_mask(bits))
{
    require_bound(bits >= 1 && bits <= 64, "coefficients of 1 to 64 bits");
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
    emit(carry_[0] & mask_);
    // carry >>= b
    if (bits_ == 64) {
        carry_[0] = carry_[1];
        carry_[1] = carry_[2];
        carry_[2] = carry_[3];
        carry_[3] = 0;
        return;
    }
    for (int word = 0; word < 4; ++word)
        carry_[word] = (carry_[word] >> bits_) | (word + 1 < 4 ? carry_[word + 1] << (64 - bits_) : 0);
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
    next_bit_ += static_cast<size_t>(bits_);
    if (piece == 0)
        return;
    // A product of n_a + n_b limbs holds a * b whole: a bit past it would
    // show a wrong coefficient.
    const bool spills = shift != 0 && shift > 64u - bits_;
    require_bound(limb < product_.size() && (!spills || limb + 1 < product_.size() || (piece >> (64 - shift)) == 0),
                  "product within its limbs");
    product_[limb] |= piece << shift;
    if (spills && limb + 1 < product_.size())
        product_[limb + 1] |= piece >> (64 - shift);
}
