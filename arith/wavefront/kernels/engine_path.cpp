// Path dispatch. The AVX2 and AVX-512 kernels are built into every x86-64
// binary (functions with a target attribute in files built for the baseline);
// each runs only when the CPU (and the operating system, which the
// compiler's CPU check also asks) supports the extensions it uses.
#include "wavefront/kernels/kernels.hpp"

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

const char* engine_path_name(EnginePath path)
{
    switch (path) {
    case EnginePath::integer:
        return "integer";
    case EnginePath::portable:
        return "portable";
    case EnginePath::avx2:
        return "avx2";
    case EnginePath::avx512:
        return "avx512";
    }
    return "unknown";
}

std::vector<EnginePath> available_engine_paths()
{
    std::vector<EnginePath> paths{EnginePath::integer, EnginePath::portable};
    if (cpu_runs_avx2())
        paths.push_back(EnginePath::avx2);
    if (cpu_runs_avx512())
        paths.push_back(EnginePath::avx512);
    return paths;
}

EnginePath best_engine_path()
{
    if (cpu_runs_avx512())
        return EnginePath::avx512;
    return cpu_runs_avx2() ? EnginePath::avx2 : EnginePath::portable;
}

FloatingKernel floating_kernel(EnginePath path)
{
#if defined(__x86_64__)
    if (path == EnginePath::avx512 && cpu_runs_avx512())
        return floating_kernel_avx512;
    if (path == EnginePath::avx2 && cpu_runs_avx2())
        return floating_kernel_avx2;
#endif
    (void)path;
    return floating_kernel_portable;
}
