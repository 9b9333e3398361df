// The ways the engine can compute its digits, which of them this CPU runs, and
// the choice made once per process of the fastest.
#pragma once

#include "floating_band.hpp"

#include <vector>

enum class EnginePath {
    integer,   // 64-bit integers and hardware division: plain, exact, slowest
    portable,  // the floating kernel in plain C++, for any target
    avx2,      // the floating kernel in AVX2 and FMA intrinsics (x86-64 CPUs that have them)
    avx512,    // the floating kernel in AVX-512 intrinsics (x86-64 CPUs that have it)
};

const char* engine_path_name(EnginePath path);

// Every path this CPU can run, slowest first.
std::vector<EnginePath> available_engine_paths();

// The fastest of them, decided by one CPUID check.
EnginePath best_engine_path();

// The floating kernel of a floating path (portable for integer, which has
// none).
FloatingBandKernel floating_kernel(EnginePath path);
