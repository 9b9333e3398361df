// butterfly_bench: the transforms' radix-2 butterfly pass over a cached
// block (8,192 residues, every level's block length in turn) in two kinds
// of AVX-512 arithmetic: the double-precision fused multiply-adds of the
// AVX-512 kernel (lazy signed residues, modular.hpp), and the 52-bit
// integer multiplies of AVX-512 IFMA (Shoup's product and Harvey's lazy
// butterfly on residues in [0, 4p)). It measures what the kernel's
// arithmetic could gain; both passes are checked against each other,
// residue by residue, before they are timed. Prints nanoseconds a
// butterfly, the median of five samples, and their ratio.
//
//   butterfly_bench
#include "bench_support.hpp"
#include "cpu_features.hpp"
#include "ntt/modular.hpp"

#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#if defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>

// GCC 12 warns that the unspecified upper lanes it passes to its own
// shuffle and rounding builtins may be uninitialized; they are never read.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace {

constexpr size_t BLOCK = size_t{1} << 13;
constexpr size_t PASSES = 12;  // block lengths 8 .. BLOCK / 2

#define AVX512_IFMA __attribute__((target("avx512f,avx512dq,avx512ifma")))

// The AVX-512 kernel's forward butterfly: a reduced, t = v s, (a + t, a - t).
AVX512_IFMA void double_passes(double* x, double s, double s_over_p, double p, double inverse)
{
    const __m512d vp = _mm512_set1_pd(p), vi = _mm512_set1_pd(inverse), vs = _mm512_set1_pd(s);
    const __m512d vq = _mm512_set1_pd(s_over_p);
    for (size_t len = 8; len < BLOCK; len *= 2)
        for (size_t block = 0; block < BLOCK; block += 2 * len)
            for (size_t j = block; j < block + len; j += 8) {
                const __m512d in = _mm512_loadu_pd(x + j), v = _mm512_loadu_pd(x + j + len);
                const __m512d a = _mm512_fnmadd_pd(
                    _mm512_roundscale_pd(_mm512_mul_pd(in, vi), _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC), vp, in);
                const __m512d h = _mm512_mul_pd(v, vs), l = _mm512_fmsub_pd(v, vs, h);
                const __m512d q =
                    _mm512_roundscale_pd(_mm512_mul_pd(v, vq), _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
                const __m512d t = _mm512_add_pd(_mm512_fnmadd_pd(q, vp, h), l);
                _mm512_storeu_pd(x + j, _mm512_add_pd(a, t));
                _mm512_storeu_pd(x + j + len, _mm512_sub_pd(a, t));
            }
}

// Harvey's butterfly on [0, 4p): a brought into [0, 2p), t = v w in [0, 2p)
// by Shoup's product with w' = floor(w 2^52 / p) (v < 2^52), then
// (a + t, a - t + 2p), both in [0, 4p).
AVX512_IFMA void integer_passes(uint64_t* x, uint64_t w, uint64_t w_shoup, uint64_t p)
{
    const __m512i vp = _mm512_set1_epi64(static_cast<long long>(p));
    const __m512i two_p = _mm512_set1_epi64(static_cast<long long>(2 * p));
    const __m512i vw = _mm512_set1_epi64(static_cast<long long>(w));
    const __m512i vws = _mm512_set1_epi64(static_cast<long long>(w_shoup));
    const __m512i low_52 = _mm512_set1_epi64((int64_t{1} << 52) - 1);
    const __m512i zero = _mm512_setzero_si512();
    for (size_t len = 8; len < BLOCK; len *= 2)
        for (size_t block = 0; block < BLOCK; block += 2 * len)
            for (size_t j = block; j < block + len; j += 8) {
                const __m512i in = _mm512_loadu_si512(x + j), v = _mm512_loadu_si512(x + j + len);
                const __m512i a = _mm512_min_epu64(in, _mm512_sub_epi64(in, two_p));
                const __m512i q = _mm512_madd52hi_epu64(zero, v, vws);
                const __m512i t = _mm512_and_si512(
                    _mm512_sub_epi64(_mm512_madd52lo_epu64(zero, v, vw), _mm512_madd52lo_epu64(zero, q, vp)), low_52);
                _mm512_storeu_si512(x + j, _mm512_add_epi64(a, t));
                _mm512_storeu_si512(x + j + len, _mm512_add_epi64(_mm512_sub_epi64(a, t), two_p));
            }
}

bool cpu_has_ifma()
{
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    return cpu_runs(VectorIsa::avx512) && __get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) && (ebx & (1u << 21)) != 0;
}

}  // namespace

int main()
{
    if (!cpu_has_ifma()) {
        std::printf("this CPU has no AVX-512 IFMA: nothing to compare\n");
        return 0;
    }
    const Modulus m(TRANSFORM_PRIMES[0].p);
    const uint64_t p = m.p();
    std::mt19937_64 random(1);
    const uint64_t w = random() % p;
    const int64_t s = centered(w, p);
    const auto w_shoup = static_cast<uint64_t>((static_cast<unsigned __int128>(w) << 52) / p);
    std::vector<double> doubles(BLOCK);
    std::vector<uint64_t> integers(BLOCK);
    for (size_t i = 0; i < BLOCK; ++i) {
        integers[i] = random() % p;
        doubles[i] = double(integers[i]);
    }
    // One sweep of every level each way; the same residues, or the
    // comparison means nothing. (A sweep keeps the doubles within 2.2 p and
    // the integers below 4 p: each level reduces what it adds to.)
    double_passes(doubles.data(), double(s), double(s) / double(p), double(p), m.inverse());
    integer_passes(integers.data(), w, w_shoup, p);
    for (size_t i = 0; i < BLOCK; ++i) {
        const auto value = static_cast<int64_t>(doubles[i]);
        const uint64_t residue = static_cast<uint64_t>((value % static_cast<int64_t>(p) + static_cast<int64_t>(p)) %
                                                       static_cast<int64_t>(p));
        if (residue != integers[i] % p) {
            std::printf("the two passes differ at residue %zu\n", i);
            return 1;
        }
    }
    const double butterflies = double(BLOCK / 2) * PASSES;
    const double double_seconds = median_seconds([&] {
        double_passes(doubles.data(), double(s), double(s) / double(p), double(p), m.inverse());
    });
    const double integer_seconds = median_seconds([&] { integer_passes(integers.data(), w, w_shoup, p); });
    std::printf("CPU: %s\n", cpu_model().c_str());
    std::printf("radix-2 butterflies over a block of %zu residues, nanoseconds a butterfly:\n", BLOCK);
    std::printf("  double-precision FMA (the AVX-512 kernel's)   %8.4f\n", double_seconds / butterflies * 1e9);
    std::printf("  52-bit integer IFMA (Shoup, Harvey)          %8.4f\n", integer_seconds / butterflies * 1e9);
    std::printf("  FMA / IFMA                                   %8.2f\n", double_seconds / integer_seconds);
    return 0;
}
#else
int main()
{
    std::printf("not an x86-64 CPU: nothing to compare\n");
    return 0;
}
#endif
