// The crossovers between the engines.
#include "engine_choice.hpp"

const char* engine_name(Engine engine) { return engine == Engine::series ? "series" : "splitting"; }

int32_t splitting_crossover_limbs(EnginePath path)
{
    switch (path) {
    case EnginePath::avx512:
        return 12500;
    case EnginePath::avx2:
        return 10000;
    case EnginePath::portable:
    case EnginePath::integer:
        return 5000;
    }
    return 5000;
}

Engine choose_engine(int32_t limb_count, EnginePath path)
{
    if (splitting_engine_built() && limb_count >= splitting_crossover_limbs(path))
        return Engine::splitting;
    return Engine::series;
}
