// The reading at start-up is a namespace-scope constant, taken while statics
// are initialised before main runs, so every later count is measured from the
// start of the process and stays small however long the machine has been up.
#include "clock.hpp"

#include <chrono>

namespace {

const std::chrono::steady_clock::time_point process_start = std::chrono::steady_clock::now();

}  // namespace

int64_t milliseconds_since_start()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now() - process_start).count();
}

double elapsed_seconds(int64_t start, int64_t end)
{
    // The scale is the single-precision value nearest to 0.001
    // (0.0010000000474974513) and the product is rounded once to double: the
    // report's seconds are defined that way, down to the last printed digit.
    return static_cast<double>(end - start) * static_cast<double>(0.001f);
}
