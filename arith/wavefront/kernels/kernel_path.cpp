// The series engine's paths and the kernel each runs. The vector kernels run
// only where the CPU has their instruction set (cpu_features.hpp); the
// integer path has no floating kernel of its own.
#include "wavefront/kernels/kernels.hpp"

#include "cpu_features.hpp"

namespace {

VectorIsa isa_of(KernelPath path)
{
    switch (path) {
    case KernelPath::avx2:
        return VectorIsa::avx2;
    case KernelPath::avx512:
        return VectorIsa::avx512;
    case KernelPath::integer:
    case KernelPath::portable:
        break;
    }
    return VectorIsa::portable;
}

}  // namespace

const char* kernel_path_name(KernelPath path)
{
    return path == KernelPath::integer ? "integer" : vector_isa_name(isa_of(path));
}

std::vector<KernelPath> available_kernel_paths()
{
    std::vector<KernelPath> paths{KernelPath::integer, KernelPath::portable};
    if (cpu_runs(VectorIsa::avx2))
        paths.push_back(KernelPath::avx2);
    if (cpu_runs(VectorIsa::avx512))
        paths.push_back(KernelPath::avx512);
    return paths;
}

KernelPath kernel_path_for(VectorIsa isa)
{
    switch (isa) {
    case VectorIsa::avx512:
        return KernelPath::avx512;
    case VectorIsa::avx2:
        return KernelPath::avx2;
    case VectorIsa::portable:
        break;
    }
    return KernelPath::portable;
}

KernelPath best_kernel_path()
{
    return kernel_path_for(best_vector_isa());
}

FloatingKernel floating_kernel(KernelPath path)
{
#if defined(__x86_64__)
    if (path == KernelPath::avx512 && cpu_runs(VectorIsa::avx512))
        return floating_kernel_avx512;
    if (path == KernelPath::avx2 && cpu_runs(VectorIsa::avx2))
        return floating_kernel_avx2;
#endif
    (void)path;
    return floating_kernel_portable;
}
