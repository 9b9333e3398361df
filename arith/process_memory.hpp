// The process-wide memory settings of a run: made by the program once the
// run's size is known and before it starts, and by a benchmark that measures
// what the program does. They change speed and peak memory, never a digit.
#pragma once

#include "pi_digits.hpp"

#include <cstdint>

// For a compute_pi run over limb_count limbs with these options: big integers
// get their memory from block memory (block_memory.hpp), a refusal ending
// the run through exit_for_refused_memory, and where binary splitting runs,
// block memory keeps what is released by a run small enough to reuse it all.
void configure_process_memory(int32_t limb_count, const PiOptions& options = {});
