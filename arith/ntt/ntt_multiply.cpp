// The fast product: the coefficient size and the transform length chosen
// together, the three primes' convolutions by the kernel of the CPU path,
// and the residues combined and carried into the product's limbs.
#include "ntt/ntt_multiply.hpp"

#include "block_memory.hpp"
#include "exactness.hpp"
#include "ntt/coefficients.hpp"
#include "ntt/kernels/ntt_kernels.hpp"
#include "ntt/modular.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <vector>

namespace {

// Every coefficient of the convolution is at most n (2^b - 1)^2 < 2^(2b) n
// for operands of at most n coefficients each of b bits, and must stay below
// the primes' product, above 2^149.99: 2b + bit_width(n) <= 149 suffices.
constexpr int PRIMES_PRODUCT_BITS = 149;

bool coefficients_fit(int bits, size_t shorter_count)
{
    return 2 * bits + std::bit_width(shorter_count) <= PRIMES_PRODUCT_BITS;
}

// The least length 2^k or 3 * 2^k that holds count values, with 2^k at
// least MIN_KERNEL_LENGTH.
size_t transform_length(size_t count)
{
    size_t two_power = MIN_KERNEL_LENGTH;
    while (two_power < count)
        two_power *= 2;
    const size_t three_times = 3 * (two_power / 4);
    return two_power / 4 >= MIN_KERNEL_LENGTH && three_times >= count ? three_times : two_power;
}

}  // namespace

NttPlan plan_ntt_product(size_t a_limbs, size_t b_limbs)
{
    NttPlan best{0, 0};
    for (int bits = 64; bits >= 16; --bits) {
        const size_t a_count = coefficient_count(a_limbs, bits), b_count = coefficient_count(b_limbs, bits);
        if (!coefficients_fit(bits, std::min(a_count, b_count)))
            continue;
        const size_t length = transform_length(a_count + b_count - 1);
        if (best.length == 0 || length < best.length)
            best = {bits, length};
    }
    require_bound(best.length != 0 && best.length <= (size_t{3} << MAX_TWO_POWER), "transform length within the primes' roots");
    return best;
}

void ntt_multiply(std::span<const uint64_t> a, std::span<const uint64_t> b, std::span<uint64_t> product,
                  const NttOptions& options)
{
    require_bound(product.size() == a.size() + b.size(), "product of n_a + n_b limbs");
    const bool squaring = a.data() == b.data() && a.size() == b.size();
    if (a.empty() || b.empty()) {
        std::fill(product.begin(), product.end(), 0);
        return;
    }
    const NttPlan plan = plan_ntt_product(a.size(), b.size());
    product_kernel(options.isa)(a, squaring ? std::span<const uint64_t>() : b, product, plan.bits, plan.length,
                                options.pool);
}
