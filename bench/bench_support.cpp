// Timing and the small helpers of the benchmark programs.
#include "bench_support.hpp"

#include "limb.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#if defined(__linux__)
#include <unistd.h>
#endif

std::vector<std::string> split_at_commas(const std::string& list)
{
    std::vector<std::string> items;
    size_t start = 0;
    for (size_t comma; (comma = list.find(',', start)) != std::string::npos; start = comma + 1)
        items.push_back(list.substr(start, comma - start));
    items.push_back(list.substr(start));
    return items;
}

std::vector<size_t> read_limb_counts(int argc, char** argv, const std::vector<size_t>& defaults)
{
    std::vector<size_t> counts = defaults;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--limbs") == 0 && i + 1 < argc) {
            counts.clear();
            for (const std::string& count : split_at_commas(argv[++i]))
                counts.push_back(std::strtoull(count.c_str(), nullptr, 10));
        } else {
            exit_with_usage(argv[0], "[--limbs N,N,...]");
        }
    }
    return counts;
}

int32_t limbs_for(int64_t digits)
{
    return limb_count_for(static_cast<int32_t>(digits));
}

std::string cpu_model()
{
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    while (std::getline(cpuinfo, line))
        if (line.rfind("model name", 0) == 0) {
            const size_t colon = line.find(':');
            return colon == std::string::npos ? line : line.substr(colon + 2);
        }
    return "unknown";
}

double seconds_of(const std::function<void()>& run)
{
    const auto start = std::chrono::steady_clock::now();
    run();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median_seconds(const std::function<void()>& run)
{
    const double first = seconds_of(run);
    if (first >= REPEAT_BELOW_SECONDS)
        return first;
    // A run far shorter than the clock's and the scheduler's noise is timed
    // over enough calls in a row to last SAMPLE_SECONDS.
    const int64_t calls = first >= SAMPLE_SECONDS ? 1 : static_cast<int64_t>(SAMPLE_SECONDS / std::max(first, 1e-7)) + 1;
    std::vector<double> times;
    for (int32_t i = 0; i < REPEATS; ++i)
        times.push_back(seconds_of([&] {
                            for (int64_t call = 0; call < calls; ++call)
                                run();
                        }) /
                        static_cast<double>(calls));
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// The child reports its own high-water mark (VmHWM, Linux): the rusage of a
// child counts the memory of the process it was started from as well.
// Elsewhere the peaks are not measured.
#if defined(__linux__)
bool peak_bytes_measured()
{
    return true;
}

int64_t peak_bytes_of_run(const std::vector<std::string>& arguments)
{
    char program[4096];
    const ssize_t length = readlink("/proc/self/exe", program, sizeof program - 1);
    if (length <= 0)
        return -1;
    std::string command(program, static_cast<size_t>(length));
    for (const std::string& argument : arguments)
        command += " '" + argument + "'";
    std::FILE* const child = popen(command.c_str(), "r");
    if (child == nullptr)
        return -1;
    long long bytes = -1;
    if (std::fscanf(child, "%lld", &bytes) != 1)
        bytes = -1;
    return pclose(child) == 0 ? bytes : -1;
}

void report_peak_bytes()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) {
            std::printf("%lld\n", std::atoll(line.c_str() + 6) * 1024);  // in kB
            return;
        }
    std::printf("-1\n");
}
#else
bool peak_bytes_measured()
{
    return false;
}

int64_t peak_bytes_of_run(const std::vector<std::string>&)
{
    return -1;
}

void report_peak_bytes()
{
    std::printf("-1\n");
}
#endif

void print_data_lines(const std::vector<Timing>& timings)
{
    for (const Timing& timing : timings)
        std::printf("DATA %lld %s %d %.6f\n", static_cast<long long>(timing.digits), timing.method.c_str(),
                    timing.threads, timing.seconds);
}

void exit_with_usage(const char* program, const char* options)
{
    std::fprintf(stderr, "usage: %s %s\n", program, options);
    std::exit(2);
}
