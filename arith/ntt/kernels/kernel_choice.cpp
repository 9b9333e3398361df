// The choice of product kernel by the CPU's vector instruction set.
#include "ntt/kernels/ntt_kernels.hpp"

ProductKernel product_kernel(VectorIsa isa, bool ifma)
{
#if defined(__x86_64__)
    if (isa == VectorIsa::avx512 && ifma && cpu_runs_avx512_ifma())
        return multiply_avx512_ifma;
    if (isa == VectorIsa::avx512 && cpu_runs(VectorIsa::avx512))
        return multiply_avx512;
    if (isa == VectorIsa::avx2 && cpu_runs(VectorIsa::avx2))
        return multiply_avx2;
#endif
    (void)isa;
    (void)ifma;
    return multiply_portable;
}

OperandTransform operand_transform(VectorIsa isa, bool ifma)
{
    const ProductKernel kernel = product_kernel(isa, ifma);
#if defined(__x86_64__)
    if (kernel == multiply_avx512_ifma)
        return transform_avx512_ifma;
    if (kernel == multiply_avx512)
        return transform_avx512;
    if (kernel == multiply_avx2)
        return transform_avx2;
#endif
    return kernel == multiply_portable ? transform_portable : nullptr;
}
