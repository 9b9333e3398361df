// The process-wide memory settings of a run: made by the program once the
// run's size is known and before it starts, and by a benchmark that measures
// what the program does. They change speed and peak memory, never a digit.
#pragma once

#include "pi_digits.hpp"

#include <cstdint>

// For a compute_pi run over limb_count limbs with these options: big integers
// get memory functions that map large blocks for themselves and end the run
// through exit_for_refused_memory when refused, and where binary splitting
// runs, glibc's heap is tuned for its many mid-sized numbers.
void configure_process_memory(int32_t limb_count, const PiOptions& options = {});
