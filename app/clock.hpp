// The clock of the timing report: elapsed real time since the process
// started, in milliseconds.
#pragma once

#include <cstdint>

// Milliseconds of steady time (never set back or forward) since the process
// started. The count is 64 bits wide, so no run, however long, wraps it.
int64_t milliseconds_since_start();

// The seconds between two readings of milliseconds_since_start, as the report
// prints them.
double elapsed_seconds(int64_t start, int64_t end);
