// The portable kernel: lazy residues in 64-bit integers, one at a time, with
// the rules of modular.hpp: a product's quotient q = rint(fl(a s')) is
// estimated in doubles as on the vector paths (an integer below 2^53 is a
// double exactly), and its remainder a s - q p computed modulo 2^64 from the
// low words, which is exact since it lies in (-2^63, 2^63).
#define KERNEL_TARGET
#include "ntt/kernels/transform_kernel.hpp"

#include <cmath>
#if defined(__x86_64__)
#include <emmintrin.h>
#endif

namespace {

struct PortableTraits : SignedLazyRanges {
    using Value = int64_t;
    using Quotient = double;
    using Vector = int64_t;
    static constexpr size_t LANES = 1;

    struct Arithmetic {
        explicit Arithmetic(const Modulus& m) : p(static_cast<int64_t>(m.p())), p_double(double(m.p())), inverse(m.inverse()) {}
        int64_t p;
        double p_double, inverse;
    };
    struct Factor {
        int64_t s;        // centered
        double quotient;  // s / p
    };
    using VectorFactor = Factor;

    // rint in the current rounding mode, to nearest (cvtsd2si on x86-64).
    static int64_t round(double v)
    {
#if defined(__x86_64__)
        return _mm_cvtsd_si64(_mm_set_sd(v));
#else
        return std::llrint(v);
#endif
    }
    static int64_t remainder(int64_t x, int64_t s, double estimate, const Arithmetic& a)
    {
        const uint64_t r = static_cast<uint64_t>(x) * static_cast<uint64_t>(s) -
                           static_cast<uint64_t>(round(estimate)) * static_cast<uint64_t>(a.p);
        return static_cast<int64_t>(r);
    }

    static Factor factor(uint64_t r, const Arithmetic& a)
    {
        const int64_t s = centered(r, static_cast<uint64_t>(a.p));
        return {s, double(s) / a.p_double};
    }
    static Value vector_factor_value(uint64_t r, const Modulus& m) { return centered(r, m.p()); }
    static VectorFactor vector_factor(Vector s, const Arithmetic& a) { return {s, double(s) * a.inverse}; }
    static void store_factors(Value* s, Quotient* quotients, Vector v, const Arithmetic& a)
    {
        *s = v;
        *quotients = double(v) / a.p_double;
    }
    static Vector load(const Value* p) { return *p; }
    static void store(Value* p, Vector v) { *p = v; }
    static void split_words(const uint64_t* words, Vector& high, Vector& low)
    {
        high = static_cast<int64_t>(*words >> 32);
        low = static_cast<int64_t>(*words & 0xffffffff);
    }
    static Vector add(Vector x, Vector y) { return x + y; }
    static Vector subtract(Vector x, Vector y, const Arithmetic&) { return x - y; }
    static Vector reduce(Vector x, const Arithmetic& a) { return x - round(double(x) * a.inverse) * a.p; }
    static Vector settle(Vector x, const Arithmetic&) { return x; }
    static Vector canonical(Vector x, const Arithmetic& a) { return x < 0 ? x + a.p : x; }
    static Vector multiply(Vector x, const Factor& f, const Arithmetic& a)
    {
        return remainder(x, f.s, double(x) * f.quotient, a);
    }
    static Vector multiply_any(Vector x, Vector y, const Arithmetic& a)
    {
        return remainder(x, y, double(x) * double(y) * a.inverse, a);
    }
    static void transpose(Vector (&)[LANES]) {}
    static Value from_residue(uint64_t r) { return static_cast<int64_t>(r); }
    static uint64_t to_residue(Value v) { return static_cast<uint64_t>(v); }
    static int64_t to_integer(Value v) { return v; }
};

}  // namespace

void multiply_portable(std::span<const ProductTerm> terms, std::span<uint64_t> product, int bits, size_t length, size_t top_length,
                       ForkJoinPool* pool)
{
    TransformKernel<PortableTraits>::multiply(terms, product, bits, length, top_length, pool);
}

void transform_portable(std::span<const uint64_t> operand, int bits, size_t length, void* values, ForkJoinPool* pool)
{
    TransformKernel<PortableTraits>::transform_operand(operand, bits, length, static_cast<PortableTraits::Value*>(values), pool);
}
