// The engine's entry points: plan each series, set up its first term, run the
// bands, and carry the digit sums back into limbs, one series at a time.
#include "wavefront/wavefront.hpp"

#include "wavefront/band_pipeline.hpp"
#include "wavefront/kernels/kernels.hpp"
#include "wavefront/series_digits.hpp"

#include <algorithm>
#include <vector>

namespace {

DigitArithmetic arithmetic_of(KernelPath path)
{
    return path == KernelPath::integer ? DigitArithmetic::integer : DigitArithmetic::floating;
}

}  // namespace

void arctan_series(std::span<const int32_t> xs, int32_t limb_count, int32_t* limbs,
                   const std::function<void(size_t series, int32_t* limbs)>& use, const WavefrontOptions& options)
{
    if (limb_count <= 0 || xs.empty())
        return;
    std::vector<SeriesWork> series(xs.size());
    for (size_t s = 0; s < xs.size(); ++s)
        prepare_series(series[s], plan_series(xs[s], limb_count, arithmetic_of(options.path)));

    PipelineOptions pipeline;
    pipeline.threads = std::max<int32_t>(1, options.threads);
    pipeline.chunk_digits = std::max<int64_t>(1, options.chunk_digits);
    pipeline.progress = options.progress;
    pipeline.kernel = floating_kernel(options.path);
    run_all_bands(series, pipeline);

    for (size_t s = 0; s < xs.size(); ++s) {
        SeriesWork& work = series[s];
        if (work.plan.arithmetic == DigitArithmetic::floating)
            digit_sums_to_limbs(work.plan, work.sum, limbs);
        else
            digit_sums_to_limbs(work.plan, work.integer_sum, limbs);
        release_series(work);
        use(s, limbs);
    }
}

void arctan_series(std::span<const int32_t> xs, int32_t limb_count, std::span<int32_t* const> results,
                   const WavefrontOptions& options)
{
    if (limb_count <= 0 || xs.empty())
        return;
    std::vector<int32_t> limbs(static_cast<size_t>(limb_count));
    arctan_series(
        xs, limb_count, limbs.data(),
        [&](size_t s, int32_t* arc) { std::copy(arc, arc + limb_count, results[s]); }, options);
}

int64_t arctan_series_progress_total(std::span<const int32_t> xs, int32_t limb_count)
{
    if (limb_count <= 0)
        return 0;
    int64_t total = 0;
    for (const int32_t x : xs) {
        const SeriesPlan plan = plan_series(x, limb_count, DigitArithmetic::integer);
        for (int64_t b = 0; b < plan.band_count; ++b)
            total += band_progress_steps(x, plan.fraction_digits, b);
    }
    return total;
}

int64_t arctan_series_scratch_bytes(std::span<const int32_t> xs, int32_t limb_count, KernelPath path)
{
    if (limb_count <= 0)
        return 0;
    int64_t bytes = 0;
    for (const int32_t x : xs) {
        const SeriesPlan plan = plan_series(x, limb_count, arithmetic_of(path));
        bytes += 2 * padded_digit_count(plan) * 8 + plan.band_count * int64_t{sizeof(std::atomic<int64_t>)};
    }
    return bytes + int64_t(xs.size() * sizeof(SeriesWork));
}

int32_t arctan_series_parallelism(std::span<const int32_t> xs, int32_t limb_count)
{
    if (limb_count <= 0)
        return 1;
    int64_t threads = 0;
    for (const int32_t x : xs) {
        const SeriesPlan plan = plan_series(x, limb_count, DigitArithmetic::floating);
        const int64_t chunks = (plan.length + DEFAULT_CHUNK_DIGITS - 1) / DEFAULT_CHUNK_DIGITS;
        threads += std::min(plan.band_count, chunks);
    }
    return static_cast<int32_t>(std::clamp<int64_t>(threads, 1, INT32_MAX));
}
