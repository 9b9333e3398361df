// arctan_recip: the entry point for one arctangent, the wavefront engine on
// one thread; the working arrays are left as the contract says.
#include "arctan.hpp"

#include "wavefront/wavefront.hpp"

void arctan_recip(int32_t x, int32_t limb_count, int32_t* result, int32_t* power, int32_t* quotient)
{
    (void)quotient;
    if (limb_count <= 0)
        return;
    const int32_t xs[] = {x};
    arctan_series(xs, limb_count, result, [](size_t, int32_t*) {}, WavefrontOptions{});
    for (int32_t i = 0; i < limb_count; ++i)
        power[i] = 0;
}
