// One CPUID check per feature, made on first use and kept. The compiler's
// check asks the operating system too (XGETBV): a CPU with AVX-512 under a
// system that does not save its registers counts as without it.
#include "cpu_features.hpp"

namespace {

bool cpu_runs_avx2()
{
#if defined(__x86_64__)
    static const bool supported = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    return supported;
#else
    return false;
#endif
}

bool cpu_runs_avx512()
{
#if defined(__x86_64__)
    static const bool supported = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
                                  __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512bw");
    return supported;
#else
    return false;
#endif
}

}  // namespace

bool cpu_runs_avx512_ifma()
{
#if defined(__x86_64__)
    static const bool supported = cpu_runs_avx512() && __builtin_cpu_supports("avx512ifma");
    return supported;
#else
    return false;
#endif
}

bool cpu_runs(VectorIsa isa)
{
    switch (isa) {
    case VectorIsa::portable:
        return true;
    case VectorIsa::avx2:
        return cpu_runs_avx2();
    case VectorIsa::avx512:
        return cpu_runs_avx512();
    }
    return false;
}

VectorIsa best_vector_isa()
{
    if (cpu_runs_avx512())
        return VectorIsa::avx512;
    return cpu_runs_avx2() ? VectorIsa::avx2 : VectorIsa::portable;
}

const char* vector_isa_name(VectorIsa isa)
{
    switch (isa) {
    case VectorIsa::portable:
        return "portable";
    case VectorIsa::avx2:
        return "avx2";
    case VectorIsa::avx512:
        return "avx512";
    }
    return "unknown";
}
