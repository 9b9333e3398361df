// Path dispatch. The AVX-512 kernel is built into every x86-64 binary with a
// function-level target attribute; it runs only when the CPU (and the
// operating system, which the compiler's CPU check also asks) supports the
// four extensions it uses.
#include "engine_path.hpp"

#include "wavefront_avx512.hpp"
#include "wavefront_portable.hpp"

namespace {

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
    case EnginePath::avx512:
        return "avx512";
    }
    return "unknown";
}

std::vector<EnginePath> available_engine_paths()
{
    std::vector<EnginePath> paths{EnginePath::integer, EnginePath::portable};
    if (cpu_runs_avx512())
        paths.push_back(EnginePath::avx512);
    return paths;
}

EnginePath best_engine_path()
{
    return cpu_runs_avx512() ? EnginePath::avx512 : EnginePath::portable;
}

FloatingBandKernel floating_kernel(EnginePath path)
{
#if defined(__x86_64__)
    if (path == EnginePath::avx512 && cpu_runs_avx512())
        return advance_band_avx512;
#endif
    (void)path;
    return advance_band_portable;
}
