// Gauss's formula by binary splitting over big integers: each arctangent
// summed exactly as a rational, divided out once to the precision wanted,
// and the three weighed into pi. Its work grows like n log^3 n in the digits,
// where the series engine's grows like n^2.
#pragma once

#include <atomic>
#include <cstdint>

struct SplittingOptions {
    int32_t threads = 1;
    // If given, grows by splitting_progress_total(limb_count) over a run.
    std::atomic<int64_t>* progress = nullptr;
};

// total <- pi over limb_count limbs (limb 0 the integer part), within
// splitting_error_bound() units of the last limb.
void gauss_formula_splitting(int32_t limb_count, int32_t* total, const SplittingOptions& options = {});

// The threads worth starting over limb_count limbs on cpus CPUs: one for
// small inputs, where a second costs more to start than it saves.
int32_t splitting_threads(int32_t limb_count, int32_t cpus);

// An upper bound on |total - pi| in units of the last limb.
int64_t splitting_error_bound();

// The most bytes a run over limb_count limbs holds at once, beyond total.
int64_t splitting_bytes_needed(int32_t limb_count);

// What one run adds to the progress counter.
int64_t splitting_progress_total(int32_t limb_count);
