// pi_bench: times the whole Gauss formula with the reference series and with
// the engine (each path this CPU runs, one thread and every core) at several
// digit counts in one run, and prints the times and the ratios
// reference / engine measured side by side. The lines starting with "DATA"
// at the end repeat the figures for bench/plot.sh:
//   DATA <digits> <reference|path> <threads> <seconds>
//
//   pi_bench [--reference-up-to DIGITS] [--every-path-up-to DIGITS]
//            [--digits N,N,...] [--paths NAME,NAME,...]
//
// The reference is timed up to 100,000 digits unless told otherwise (at
// 300,000 it takes minutes); every path is timed up to 300,000 digits, and
// 1,000,000 digits runs the fastest path only. --digits replaces the digit
// counts, --paths names the engine paths to time (at every size).
#include "arctan.hpp"
#include "gauss_formula.hpp"
#include "bench_support.hpp"
#include "limb.hpp"
#include "wavefront/wavefront.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int64_t DIGIT_COUNTS[] = {10000, 100000, 300000, 1000000};
constexpr int64_t DEFAULT_REFERENCE_UP_TO = 100000;
constexpr int64_t DEFAULT_EVERY_PATH_UP_TO = 300000;
struct Settings {
    int64_t reference_up_to = DEFAULT_REFERENCE_UP_TO;
    int64_t every_path_up_to = DEFAULT_EVERY_PATH_UP_TO;
    std::vector<int64_t> digit_counts{std::begin(DIGIT_COUNTS), std::end(DIGIT_COUNTS)};
    std::vector<std::string> path_names;  // empty: as the sizes say
};

// The formula by the straightforward series, one after another, weighed and
// summed with the limb operations.
void reference_formula(int32_t limb_count, std::vector<int32_t>& total)
{
    std::vector<int32_t> arc(limb_count), power(limb_count), quotient(limb_count);
    gauss_formula_reference(limb_count, total.data(), arc.data(), power.data(), quotient.data());
}

void engine_formula(int32_t limb_count, KernelPath path, int32_t threads, std::vector<int32_t>& total)
{
    WavefrontOptions options;
    options.path = path;
    options.threads = threads;
    gauss_formula_wavefront(limb_count, total.data(), options);
}

Settings read_settings(int argc, char** argv)
{
    Settings settings;
    for (int i = 1; i < argc; ++i) {
        const bool has_value = i + 1 < argc;
        if (std::strcmp(argv[i], "--reference-up-to") == 0 && has_value)
            settings.reference_up_to = std::atoll(argv[++i]);
        else if (std::strcmp(argv[i], "--every-path-up-to") == 0 && has_value)
            settings.every_path_up_to = std::atoll(argv[++i]);
        else if (std::strcmp(argv[i], "--digits") == 0 && has_value) {
            settings.digit_counts.clear();
            for (const std::string& count : split_at_commas(argv[++i]))
                settings.digit_counts.push_back(std::atoll(count.c_str()));
        } else if (std::strcmp(argv[i], "--paths") == 0 && has_value)
            settings.path_names = split_at_commas(argv[++i]);
        else
            exit_with_usage(argv[0], "[--reference-up-to DIGITS] [--every-path-up-to DIGITS] [--digits N,N,...] "
                                     "[--paths NAME,NAME,...]");
    }
    return settings;
}

}  // namespace

int main(int argc, char** argv)
{
    const Settings settings = read_settings(argc, argv);
    const unsigned hardware = std::thread::hardware_concurrency();
    const int32_t all_threads = hardware == 0 ? 1 : static_cast<int32_t>(hardware);
    std::printf("CPU: %s\nhardware threads: %d\npaths this CPU runs:", cpu_model().c_str(), all_threads);
    for (const KernelPath path : available_kernel_paths())
        std::printf(" %s", kernel_path_name(path));
    std::printf("\nbest path: %s\n", kernel_path_name(best_kernel_path()));
    std::printf("whole formula (three series, weighed and summed); times in seconds, "
                "median of %d when below %.0f s\n\n", REPEATS, REPEAT_BELOW_SECONDS);

    std::vector<Timing> timings;
    for (const int64_t digits : settings.digit_counts) {
        const int32_t limb_count = limbs_for(digits);
        std::vector<int32_t> expected(limb_count), total(limb_count);
        std::printf("%lld digits (%d limbs)\n", static_cast<long long>(digits), limb_count);

        double reference_seconds = 0;
        const bool with_reference = digits <= settings.reference_up_to;
        if (with_reference) {
            reference_seconds = median_seconds([&] { reference_formula(limb_count, expected); });
            std::printf("  %-22s %10.4f\n", "reference", reference_seconds);
            timings.push_back({digits, "reference", 1, reference_seconds});
        }

        std::vector<KernelPath> paths = available_kernel_paths();
        if (!settings.path_names.empty())
            std::erase_if(paths, [&](KernelPath path) {
                return std::find(settings.path_names.begin(), settings.path_names.end(), kernel_path_name(path)) ==
                       settings.path_names.end();
            });
        else if (digits > settings.every_path_up_to)
            paths = {best_kernel_path()};
        std::vector<int32_t> thread_counts{1};
        if (all_threads > 1)
            thread_counts.push_back(all_threads);
        for (const KernelPath path : paths)
            for (const int32_t threads : thread_counts) {
                const double seconds = median_seconds([&] { engine_formula(limb_count, path, threads, total); });
                const std::string label =
                    std::string("engine ") + kernel_path_name(path) + " x" + std::to_string(threads);
                std::printf("  %-22s %10.4f", label.c_str(), seconds);
                if (with_reference) {
                    std::printf("   reference/engine %8.1f%s", reference_seconds / seconds,
                                total == expected ? "" : "   LIMBS DIFFER");
                }
                std::printf("\n");
                timings.push_back({digits, kernel_path_name(path), threads, seconds});
                if (with_reference && total != expected)
                    return 1;
            }
        std::printf("\n");
        std::fflush(stdout);
    }
    print_data_lines(timings);
    return 0;
}
