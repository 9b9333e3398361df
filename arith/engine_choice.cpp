// The crossovers between the engines, measured on a 2-core AMD EPYC with
// `build/splitting_bench --digits 1000,2000,3000,5000,10000,20000,30000,40000,50000,60000,70000
//  --series-paths avx512,avx2,portable,integer --straightforward-up-to 0`,
// both engines on two threads (series time / splitting time):
//   avx512:   12,501 limbs 0.93, 15,001 limbs 1.07
//   avx2:      5,001 limbs 0.94,  7,501 limbs 1.31
//   portable:    251 limbs 0.80,    501 limbs 2.18
//   integer:     251 limbs 0.90,    501 limbs 3.19
#include "engine_choice.hpp"

int32_t splitting_crossover_limbs(EnginePath path)
{
    switch (path) {
    case EnginePath::avx512:
        return 14000;
    case EnginePath::avx2:
        return 5500;
    case EnginePath::portable:
    case EnginePath::integer:
        return 300;
    }
    return 300;
}

Engine choose_engine(int32_t limb_count, EnginePath path)
{
    if (splitting_engine_built() && limb_count >= splitting_crossover_limbs(path))
        return Engine::splitting;
    return Engine::series;
}
