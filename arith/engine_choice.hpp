// The engines that compute the formula, which one runs at a given size, and
// the one door through which the rest of the library runs them: the
// wavefront series below a measured crossover, binary splitting above it,
// where the build has it. Both give pi's limbs within a bound of their own,
// and the guard digits (pi_digits.hpp) make the printed digits the same.
#pragma once

#include "cpu_features.hpp"

#include <atomic>
#include <cstdint>

enum class Engine { series, splitting };

// Whether this build has the engine (binary splitting needs GMP).
bool engine_built(Engine engine);

// The engine for limb_count limbs on a CPU whose widest vector instructions
// are isa: the series engine's speed depends on them, binary splitting's
// hardly.
Engine choose_engine(int32_t limb_count, VectorIsa isa = best_vector_isa());

// The least limb count given to binary splitting on isa.
int32_t splitting_crossover_limbs(VectorIsa isa);

struct EngineRun {
    // The CPUs the run may keep busy; the engine starts no more threads
    // than these, and fewer where the input offers less parallel work.
    int32_t cpus = 1;
    // If given, grows by engine_progress_total over the run.
    std::atomic<int64_t>* progress = nullptr;
};

// total <- pi over limb_count limbs by engine; returns the engine's bound on
// |total - pi| in units of the last limb. Throws std::bad_alloc when its
// working memory cannot be had.
int64_t run_engine(Engine engine, int32_t limb_count, int32_t* total, const EngineRun& run);

// The most bytes a run_engine call holds at once, beyond total.
int64_t engine_bytes_needed(Engine engine, int32_t limb_count);

// What a run_engine call adds to its progress counter.
int64_t engine_progress_total(Engine engine, int32_t limb_count);
