// Which engine computes the formula at a given size: the wavefront series
// below a measured crossover, binary splitting above it, where the build has
// it.
#pragma once

#include "wavefront/wavefront.hpp"

#include <cstdint>

enum class Engine { series, splitting };

// Whether this build has the binary splitting engine (it needs GMP).
bool splitting_engine_built();

// The engine for limb_count limbs when the series would run on path.
Engine choose_engine(int32_t limb_count, EnginePath path = best_engine_path());

// The least limb count given to binary splitting on path.
int32_t splitting_crossover_limbs(EnginePath path);
