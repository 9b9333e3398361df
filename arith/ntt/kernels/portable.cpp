// The portable kernel: residues in 64-bit words, one at a time.
//
// A fixed factor s is multiplied in Shoup's way: with s' = floor(s 2^64 / p)
// and q = floor(a s' / 2^64), a s - q p lies in [0, 2p) for any a < 2^64 and
// s < p < 2^63 (a s' / 2^64 is within a of a s / p from below, and
// a / 2^64 < 1), so one subtraction brings it into [0, p); it is computed
// modulo 2^64 from the low words, exactly, since it is below 2^64. Other
// products go through Modulus::multiply (modular.hpp).
#define KERNEL_TARGET
#include "ntt/kernels/transform_kernel.hpp"

namespace {

struct PortableTraits {
    using Value = uint64_t;
    using Vector = uint64_t;
    static constexpr size_t LANES = 1;

    struct Arithmetic {
        explicit Arithmetic(const Modulus& m) : modulus(m) {}
        Modulus modulus;
    };
    struct Factor {
        uint64_t s;
        uint64_t shoup;  // floor(s 2^64 / p)
    };

    static Factor factor(uint64_t s, const Arithmetic& a)
    {
        return {s, static_cast<uint64_t>((static_cast<unsigned __int128>(s) << 64) / a.modulus.p())};
    }
    static Factor factor_of(Value s, const Arithmetic& a) { return factor(s, a); }
    static Vector broadcast(Value v) { return v; }
    static Vector load(const Value* p) { return *p; }
    static void store(Value* p, Vector v) { *p = v; }
    static Vector add(Vector x, Vector y, const Arithmetic& a) { return a.modulus.add(x, y); }
    static Vector subtract(Vector x, Vector y, const Arithmetic& a) { return a.modulus.subtract(x, y); }
    static Vector multiply(Vector x, const Factor& f, const Arithmetic& a)
    {
        const auto q = static_cast<uint64_t>((static_cast<unsigned __int128>(x) * f.shoup) >> 64);
        const uint64_t r = x * f.s - q * a.modulus.p();
        return r >= a.modulus.p() ? r - a.modulus.p() : r;
    }
    static Vector multiply_any(Vector x, Vector y, const Arithmetic& a) { return a.modulus.multiply(x, y); }
    static Value from_residue(uint64_t r) { return r; }
    static uint64_t to_residue(Value v) { return v; }
};

}  // namespace

void multiply_portable(std::span<const uint64_t> a, std::span<const uint64_t> b, std::span<uint64_t> product,
                      int bits, size_t length, ForkJoinPool* pool)
{
    TransformKernel<PortableTraits>::multiply(a, b, product, bits, length, pool);
}
