// kernel_bench: one floating kernel call over a whole band of 100,000 engine
// digits, for each floating path this CPU runs, timed by Google Benchmark. The
// band is the first of arctan(1/18) at 900,000 decimal digits (radix 10^9),
// fed random power digits; items_per_second counts the band's steps, each of
// which moves all BAND_WIDTH terms by one digit.
//
//   kernel_bench [--benchmark_repetitions=N] [--benchmark_filter=avx2] ...
#include "wavefront/floating_band.hpp"
#include "wavefront/kernels/kernels.hpp"
#include "wavefront/series_plan.hpp"
#include "wavefront/wavefront.hpp"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

// 4 * (225,000 - 1) decimal digits, nine to an engine digit: 100,000 digits.
constexpr int32_t LIMB_COUNT = 225000;
constexpr int32_t X = 18;

struct Workload {
    SeriesPlan plan;
    FloatingBand band;
    std::vector<double> power, sum;  // padded, as the engine lays them out
    double* power_digits = nullptr;  // digit 0
    double* sum_digits = nullptr;
};

Workload make_workload()
{
    Workload work;
    work.plan = plan_series(X, LIMB_COUNT, DigitArithmetic::floating);
    work.band = make_floating_band(work.plan, 0);
    const int64_t padded = DIGIT_FRONT_PADDING + work.plan.length + DIGIT_BACK_PADDING;
    work.power.assign(padded, 0.0);
    work.sum.assign(padded, 0.0);
    // The kernels' time does not depend on the digits' values; random ones
    // keep every division busy.
    std::mt19937_64 random(2024);
    std::uniform_int_distribution<int64_t> digit(0, work.plan.radix - 1);
    for (int64_t i = DIGIT_FRONT_PADDING; i < DIGIT_FRONT_PADDING + work.plan.length; ++i)
        work.power[i] = static_cast<double>(digit(random));
    work.power_digits = work.power.data() + DIGIT_FRONT_PADDING;
    work.sum_digits = work.sum.data() + DIGIT_FRONT_PADDING;
    return work;
}

void run_band(benchmark::State& state, KernelPath path)
{
    const FloatingKernel kernel = floating_kernel(path);
    Workload work = make_workload();
    const std::vector<double> power = work.power, sum = work.sum;
    const int64_t step_end = steps_to_finish(work.plan.length);
    FloatingLanes lanes;
    for (auto _ : state) {
        // The kernel writes the digits back; each call starts from the same ones.
        state.PauseTiming();
        work.power = power;
        work.sum = sum;
        work.power_digits = work.power.data() + DIGIT_FRONT_PADDING;
        work.sum_digits = work.sum.data() + DIGIT_FRONT_PADDING;
        begin_floating_lanes(work.band, work.sum_digits, lanes);
        state.ResumeTiming();
        kernel(work.band, lanes, work.power_digits, work.sum_digits, step_end);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * (step_end - work.band.start));
    state.SetLabel("radix 10^" + std::to_string(work.plan.radix_digits) + ", " +
                   std::to_string(step_end - work.band.start) + " steps");
}

}  // namespace

int main(int argc, char** argv)
{
    for (const KernelPath path : available_kernel_paths()) {
        if (path == KernelPath::integer)
            continue;
        benchmark::RegisterBenchmark((std::string("FloatingKernel/") + kernel_path_name(path)).c_str(), run_band,
                                     path)
            ->Unit(benchmark::kMicrosecond);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
