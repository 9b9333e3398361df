// splitting_bench: times the whole formula three ways at each digit count in
// one run, and prints the ratios measured side by side: the wavefront series
// engine (its best path, every core), the binary splitting engine (one
// thread and every core) and the straightforward binary splitting kept here
// as the yardstick (two threads). From a million digits on it also gives the
// peak memory of binary splitting as the program runs it (compute_pi on
// every core, with the program's memory settings) and of the straightforward
// splitting, each size in a process of its own, in bytes a digit. The lines
// starting with "DATA" repeat the times for bench/plot.sh, those starting
// with "PEAK" the peaks:
//   PEAK <digits> <splitting|straightforward> <bytes>
//
//   splitting_bench [--digits N,N,...] [--series-up-to DIGITS]
//                   [--straightforward-up-to DIGITS] [--series-paths NAME,...]
//
// The series engine is timed up to 1,000,000 digits unless told otherwise
// (it grows with the square of the digits), on the best path unless
// --series-paths names others (to measure each path's crossover); the
// others at every size. (splitting_bench --peak-of METHOD DIGITS is the
// child process that one peak is measured in.)
#include "bench_support.hpp"
#include "limb.hpp"
#include "pi_digits.hpp"
#include "process_memory.hpp"
#include "splitting/splitting.hpp"
#include "wavefront/wavefront.hpp"
#include "straightforward_splitting.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int64_t DIGIT_COUNTS[] = {10000, 100000, 1000000, 4000000, 10000000};
// Peaks are measured from this many digits on, where the numbers outweigh
// the process's fixed costs.
constexpr int64_t PEAK_FROM_DIGITS = 1000000;
constexpr int64_t DEFAULT_SERIES_UP_TO = 1000000;
constexpr int64_t DEFAULT_STRAIGHTFORWARD_UP_TO = 100000000;
// The engines' limbs may differ in the last few, within their error bounds.
constexpr int32_t UNCERTAIN_LIMBS = 3;

struct Settings {
    std::vector<int64_t> digit_counts{std::begin(DIGIT_COUNTS), std::end(DIGIT_COUNTS)};
    int64_t series_up_to = DEFAULT_SERIES_UP_TO;
    int64_t straightforward_up_to = DEFAULT_STRAIGHTFORWARD_UP_TO;
    std::vector<KernelPath> series_paths{best_kernel_path()};
};

Settings read_settings(int argc, char** argv)
{
    Settings settings;
    for (int i = 1; i < argc; ++i) {
        const bool has_value = i + 1 < argc;
        if (std::strcmp(argv[i], "--digits") == 0 && has_value) {
            settings.digit_counts.clear();
            for (const std::string& count : split_at_commas(argv[++i]))
                settings.digit_counts.push_back(std::atoll(count.c_str()));
        } else if (std::strcmp(argv[i], "--series-up-to") == 0 && has_value)
            settings.series_up_to = std::atoll(argv[++i]);
        else if (std::strcmp(argv[i], "--straightforward-up-to") == 0 && has_value)
            settings.straightforward_up_to = std::atoll(argv[++i]);
        else if (std::strcmp(argv[i], "--series-paths") == 0 && has_value) {
            settings.series_paths.clear();
            for (const std::string& name : split_at_commas(argv[++i]))
                for (KernelPath path : available_kernel_paths())
                    if (name == kernel_path_name(path))
                        settings.series_paths.push_back(path);
        } else {
            exit_with_usage(argv[0], "[--digits N,N,...] [--series-up-to DIGITS] [--straightforward-up-to DIGITS] "
                                     "[--series-paths NAME,...]");
        }
    }
    return settings;
}

// The child process of a peak measurement: one run of a method, as the
// program would make it, and nothing else.
int run_for_peak(const std::string& method, int64_t digits)
{
    const int32_t limb_count = limbs_for(digits);
    if (method == "splitting") {
        PiOptions options;
        options.cpus = std::max(1, static_cast<int32_t>(std::thread::hardware_concurrency()));
        options.engine = Engine::splitting;
        configure_process_memory(limb_count, options);
        compute_pi(limb_count, options);
        report_peak_bytes();
        return 0;
    }
    if (method == "straightforward") {
        std::vector<int32_t> total(limb_count);
        straightforward_splitting(limb_count, total.data());
        report_peak_bytes();
        return 0;
    }
    return 2;
}

struct Peak {
    int64_t digits;
    std::string method;
    int64_t bytes;
};

bool same_certain_limbs(const std::vector<int32_t>& a, const std::vector<int32_t>& b)
{
    const size_t certain = a.size() > UNCERTAIN_LIMBS ? a.size() - UNCERTAIN_LIMBS : 0;
    return std::equal(a.begin(), a.begin() + certain, b.begin());
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--peak-of") == 0)
        return run_for_peak(argv[2], std::atoll(argv[3]));
    const Settings settings = read_settings(argc, argv);
    const unsigned hardware = std::thread::hardware_concurrency();
    const int32_t all_threads = hardware == 0 ? 1 : static_cast<int32_t>(hardware);
    std::printf("CPU: %s\nhardware threads: %d\nseries path: %s\n", cpu_model().c_str(), all_threads,
                kernel_path_name(best_kernel_path()));
    std::printf("whole formula; times in seconds, median of %d when below %.0f s\n\n", REPEATS,
                REPEAT_BELOW_SECONDS);

    std::vector<Timing> timings;
    std::vector<Peak> peaks;
    for (const int64_t digits : settings.digit_counts) {
        const int32_t limb_count = limbs_for(digits);
        std::printf("%lld digits (%d limbs)\n", static_cast<long long>(digits), limb_count);
        std::vector<int32_t> splitting(limb_count), other(limb_count);

        std::vector<int32_t> thread_counts{1};
        if (all_threads > 1)
            thread_counts.push_back(all_threads);
        double splitting_seconds = 0;
        for (const int32_t threads : thread_counts) {
            SplittingOptions options;
            options.threads = threads;
            configure_process_memory(limb_count);
            splitting_seconds =
                median_seconds([&] { gauss_formula_splitting(limb_count, splitting.data(), options); });
            const std::string label = "splitting x" + std::to_string(threads);
            std::printf("  %-26s %10.4f\n", label.c_str(), splitting_seconds);
            timings.push_back({digits, "splitting", threads, splitting_seconds});
        }

        bool agree = true;
        auto compare = [&](const char* label, const char* method, int32_t threads, const std::function<void()>& run) {
            const double seconds = median_seconds(run);
            const bool same = same_certain_limbs(splitting, other);
            agree = agree && same;
            std::printf("  %-26s %10.4f   %s/splitting %7.2f%s\n", label, seconds, method, seconds / splitting_seconds,
                        same ? "" : "   LIMBS DIFFER");
            timings.push_back({digits, method, threads, seconds});
        };
        if (digits <= settings.straightforward_up_to)
            compare("straightforward x2", "straightforward", 2,
                    [&] { straightforward_splitting(limb_count, other.data()); });
        const int32_t series_threads = wavefront_threads(limb_count, all_threads);
        for (const KernelPath path : settings.series_paths) {
            if (digits > settings.series_up_to)
                break;
            const std::string label =
                std::string("series ") + kernel_path_name(path) + " x" + std::to_string(series_threads);
            const std::string method = std::string("series-") + kernel_path_name(path);
            compare(label.c_str(), method.c_str(), series_threads, [&] {
                WavefrontOptions options;
                options.path = path;
                options.threads = series_threads;
                gauss_formula_wavefront(limb_count, other.data(), options);
            });
        }
        if (digits >= PEAK_FROM_DIGITS && peak_bytes_measured()) {
            const auto per_digit = [&](int64_t bytes) { return double(bytes) / double(digits); };
            const int64_t splitting_peak = peak_bytes_of_run({"--peak-of", "splitting", std::to_string(digits)});
            peaks.push_back({digits, "splitting", splitting_peak});
            std::printf("  %-26s %10.2f   bytes a digit (%.1f MB)\n", "peak: splitting", per_digit(splitting_peak),
                        splitting_peak / 1e6);
            if (digits <= settings.straightforward_up_to) {
                const int64_t peak = peak_bytes_of_run({"--peak-of", "straightforward", std::to_string(digits)});
                peaks.push_back({digits, "straightforward", peak});
                std::printf("  %-26s %10.2f   straightforward/splitting %7.2f\n", "peak: straightforward",
                            per_digit(peak), double(peak) / double(splitting_peak));
            }
        }
        std::printf("\n");
        std::fflush(stdout);
        if (!agree)
            return 1;
    }
    print_data_lines(timings);
    for (const Peak& peak : peaks)
        std::printf("PEAK %lld %s %lld\n", static_cast<long long>(peak.digits), peak.method.c_str(),
                    static_cast<long long>(peak.bytes));
    return 0;
}
