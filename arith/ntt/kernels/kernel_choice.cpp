// The choice of product kernel by the CPU's vector instruction set.
#include "ntt/kernels/ntt_kernels.hpp"

ProductKernel product_kernel(VectorIsa isa)
{
#if defined(__x86_64__)
    if (isa == VectorIsa::avx512 && cpu_runs(VectorIsa::avx512))
        return multiply_avx512;
    if (isa == VectorIsa::avx2 && cpu_runs(VectorIsa::avx2))
        return multiply_avx2;
#endif
    (void)isa;
    return multiply_portable;
}
