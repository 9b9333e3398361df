// Garner's constants and steps, and the carries that put the coefficients
// back into limbs.
#include "ntt/coefficients.hpp"

#include "exactness.hpp"

#include <algorithm>

const GarnerConstants& garner_constants()
{
    static const GarnerConstants constants = [] {
        const uint64_t p0 = TRANSFORM_PRIMES[0].p, p1 = TRANSFORM_PRIMES[1].p;
        const Modulus m1(p1), m2(TRANSFORM_PRIMES[2].p);
        return GarnerConstants{m1.invert(p0 - p1), m2.invert(p0 - m2.p()), m2.invert(p1 - m2.p())};
    }();
    return constants;
}

namespace {

uint64_t reduce_once(uint64_t value, uint64_t p) { return value >= p ? value - p : value; }

}  // namespace

uint64_t garner_y1(uint64_t r0, uint64_t r1)
{
    const Modulus m1(TRANSFORM_PRIMES[1].p);
    return m1.multiply(m1.subtract(r1, reduce_once(r0, m1.p())), garner_constants().p0_inverse_mod_p1);
}

uint64_t garner_y2(uint64_t r0, uint64_t y1, uint64_t r2)
{
    const Modulus m2(TRANSFORM_PRIMES[2].p);
    const GarnerConstants& constants = garner_constants();
    const uint64_t quotient = m2.multiply(m2.subtract(r2, reduce_once(r0, m2.p())), constants.p0_inverse_mod_p2);
    return m2.multiply(m2.subtract(quotient, reduce_once(y1, m2.p())), constants.p1_inverse_mod_p2);
}

size_t coefficient_count(size_t limb_count, int bits)
{
    return (64 * limb_count + static_cast<size_t>(bits) - 1) / static_cast<size_t>(bits);
}

CoefficientCarrier::CoefficientCarrier(std::span<uint64_t> product, int bits, Mode mode)
    : product_(product), bits_(bits), mode_(mode)
{
    require_bound(bits >= 1 && bits <= 64, "coefficients of 1 to 64 bits");
}

void CoefficientCarrier::add_wide(const uint64_t (&x)[3])
{
    // The coefficient starts shift bits above the carried value's start,
    // shift < 64: added as x 2^shift, below 2^214, into four words.
    const unsigned shift = static_cast<unsigned>(next_coefficient_bit_ - 64 * written_limbs_);
    uint64_t shifted[4] = {x[0], x[1], x[2], 0};
    if (shift != 0) {
        shifted[3] = x[2] >> (64 - shift);
        shifted[2] = (x[2] << shift) | (x[1] >> (64 - shift));
        shifted[1] = (x[1] << shift) | (x[0] >> (64 - shift));
        shifted[0] = x[0] << shift;
    }
    unsigned __int128 sum = 0;
    for (int word = 0; word < 4; ++word) {
        sum += static_cast<unsigned __int128>(carry_[word]) + shifted[word];
        carry_[word] = static_cast<uint64_t>(sum);
        sum >>= 64;
    }
    next_coefficient_bit_ += static_cast<size_t>(bits_);
    while (next_coefficient_bit_ - 64 * written_limbs_ >= 64)
        emit();
}

void CoefficientCarrier::emit()
{
    if (mode_ == Mode::accumulate && written_limbs_ < product_.size()) {
        // The limb already there joins the carried value, which stays below
        // 2^256: the total fits the product.
        unsigned __int128 sum = static_cast<unsigned __int128>(carry_[0]) + product_[written_limbs_];
        carry_[0] = static_cast<uint64_t>(sum);
        sum >>= 64;
        for (int word = 1; word < 4; ++word) {
            sum += carry_[word];
            carry_[word] = static_cast<uint64_t>(sum);
            sum >>= 64;
        }
        require_bound(sum == 0, "carried value within four words");
    }
    // A product of n_a + n_b limbs holds a * b whole: a bit past it would
    // show a wrong coefficient.
    if (written_limbs_ < product_.size())
        product_[written_limbs_] = carry_[0];
    else
        require_bound(carry_[0] == 0, "product within its limbs");
    ++written_limbs_;
    carry_[0] = carry_[1];
    carry_[1] = carry_[2];
    carry_[2] = carry_[3];
    carry_[3] = 0;
}

void CoefficientCarrier::finish()
{
    while (written_limbs_ < product_.size() || carry_[0] != 0 || carry_[1] != 0 || carry_[2] != 0 || carry_[3] != 0)
        emit();
}

void CoefficientCarrier::finish_into(uint64_t (&rest)[4])
{
    while (written_limbs_ < product_.size())
        emit();
    std::copy(std::begin(carry_), std::end(carry_), std::begin(rest));
}

void add_words_at(std::span<uint64_t> limbs, size_t at, const uint64_t (&words)[4])
{
    unsigned __int128 carry = 0;
    for (size_t word = 0; word < 4 || carry != 0; ++word) {
        const uint64_t addend = word < 4 ? words[word] : 0;
        if (at + word >= limbs.size()) {
            require_bound(carry == 0 && std::all_of(words + std::min<size_t>(word, 4), words + 4,
                                                    [](uint64_t w) { return w == 0; }),
                          "product within its limbs");
            return;
        }
        carry += static_cast<unsigned __int128>(limbs[at + word]) + addend;
        limbs[at + word] = static_cast<uint64_t>(carry);
        carry >>= 64;
    }
}
