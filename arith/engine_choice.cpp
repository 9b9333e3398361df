// The crossovers between the engines, measured on a 2-core AMD EPYC with
// `build/splitting_bench --digits 1000,2000,3000,5000,10000,20000,30000,40000,50000,60000,70000
//  --series-paths avx512,avx2,portable,integer --straightforward-up-to 0`,
// both engines on two threads (series time / splitting time):
//   avx512:   12,501 limbs 0.93, 15,001 limbs 1.07
//   avx2:      5,001 limbs 0.94,  7,501 limbs 1.31
//   portable:    251 limbs 0.80,    501 limbs 2.18
//   integer:     251 limbs 0.90,    501 limbs 3.19
// The integer path is never the series engine's choice; the portable one
// runs wherever the CPU has neither AVX2 nor AVX-512.
#include "engine_choice.hpp"

#include "gauss_formula.hpp"
#include "splitting/splitting.hpp"
#include "wavefront/wavefront.hpp"

bool engine_built(Engine engine)
{
    return engine == Engine::series || splitting_engine_built();
}

int32_t splitting_crossover_limbs(VectorIsa isa)
{
    switch (isa) {
    case VectorIsa::avx512:
        return 14000;
    case VectorIsa::avx2:
        return 5500;
    case VectorIsa::portable:
        break;
    }
    return 300;
}

Engine choose_engine(int32_t limb_count, VectorIsa isa)
{
    if (engine_built(Engine::splitting) && limb_count >= splitting_crossover_limbs(isa))
        return Engine::splitting;
    return Engine::series;
}

int64_t run_engine(Engine engine, int32_t limb_count, int32_t* total, const EngineRun& run)
{
    if (engine == Engine::splitting) {
        SplittingOptions options;
        options.threads = splitting_threads(limb_count, run.cpus);
        options.progress = run.progress;
        gauss_formula_splitting(limb_count, total, options);
        return splitting_error_bound();
    }
    WavefrontOptions options;
    options.threads = wavefront_threads(limb_count, run.cpus);
    options.progress = run.progress;
    gauss_formula_wavefront(limb_count, total, options);
    return gauss_formula_error_bound(limb_count);
}

int64_t engine_bytes_needed(Engine engine, int32_t limb_count)
{
    return engine == Engine::splitting ? splitting_bytes_needed(limb_count) : wavefront_bytes_needed(limb_count);
}

int64_t engine_progress_total(Engine engine, int32_t limb_count)
{
    return engine == Engine::splitting ? splitting_progress_total(limb_count) : wavefront_progress_total(limb_count);
}
