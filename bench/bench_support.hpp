// What the benchmark programs share: timing, peak memory, the command line's
// lists, the limb count of a digit count, and the figures they print for
// plot.sh.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Runs below this many seconds are repeated and the median kept, each of
// the REPEATS samples lasting SAMPLE_SECONDS at least.
inline constexpr double REPEAT_BELOW_SECONDS = 2.0;
inline constexpr int32_t REPEATS = 5;
inline constexpr double SAMPLE_SECONDS = 0.02;

struct Timing {
    int64_t digits;
    std::string method;  // "reference", a path name, "splitting", ...
    int32_t threads;
    double seconds;
};

std::vector<std::string> split_at_commas(const std::string& list);

// The limb counts of "--limbs N,N,..." on the command line, or the defaults;
// any other argument ends the program with the usage line.
std::vector<size_t> read_limb_counts(int argc, char** argv, const std::vector<size_t>& defaults);

// The limb count the program uses for a number of digits.
int32_t limbs_for(int64_t digits);

std::string cpu_model();

double seconds_of(const std::function<void()>& run);

// One run, or the median of several when one is short; a very short run is
// timed over many calls to a sample.
double median_seconds(const std::function<void()>& run);

// The peak resident bytes of this program run once more with arguments, in a
// process of its own (so that nothing an earlier run left in the heap
// counts), which must end by calling report_peak_bytes; -1 when that process
// cannot be run or fails.
int64_t peak_bytes_of_run(const std::vector<std::string>& arguments);

// Whether peak_bytes_of_run measures anything on this system (Linux).
bool peak_bytes_measured();

// Prints this process's peak resident bytes for peak_bytes_of_run.
void report_peak_bytes();

// Prints "usage: program options" on standard error and exits with status 2.
[[noreturn]] void exit_with_usage(const char* program, const char* options);

// The lines "DATA <digits> <method> <threads> <seconds>" for plot.sh.
void print_data_lines(const std::vector<Timing>& timings);
