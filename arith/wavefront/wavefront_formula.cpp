// Gauss's formula on the wavefront engine: the three series of TERM_TABLE in
// one run of bands, each arctangent weighed into the total as it is read out.
#include "wavefront/wavefront.hpp"

#include "gauss_formula.hpp"
#include "limb.hpp"

#include <algorithm>
#include <iterator>
#include <vector>

namespace {

// Below this many limbs a second thread costs more to start than it saves
// (two cores: 500 limbs 84 us alone, 93 us on two threads; 1000 limbs 237 us
// alone, 191 us on two).
constexpr int32_t WAVEFRONT_THREADS_FROM_LIMBS = 1000;

constexpr int32_t FORMULA_XS[] = {TERM_TABLE[0].x, TERM_TABLE[1].x, TERM_TABLE[2].x};
static_assert(std::size(FORMULA_XS) == std::size(TERM_TABLE), "one series a term");

}  // namespace

void gauss_formula_wavefront(int32_t limb_count, int32_t* total, const WavefrontOptions& options)
{
    std::fill(total, total + std::max(limb_count, 0), 0);
    std::vector<int32_t> arc(static_cast<size_t>(std::max(limb_count, 0)));
    arctan_series(
        FORMULA_XS, limb_count, arc.data(),
        [&](size_t term, int32_t* limbs) { add_weighted(limb_count, total, limbs, TERM_TABLE[term].coefficient); },
        options);
    limb_mul_small(limb_count, total, 4);
}

int32_t wavefront_threads(int32_t limb_count, int32_t cpus)
{
    if (limb_count < WAVEFRONT_THREADS_FROM_LIMBS)
        return 1;
    return std::clamp(arctan_series_parallelism(FORMULA_XS, limb_count), 1, std::max(1, cpus));
}

int64_t wavefront_progress_total(int32_t limb_count)
{
    return arctan_series_progress_total(FORMULA_XS, limb_count);
}

int64_t wavefront_bytes_needed(int32_t limb_count)
{
    // The arctangent being weighed in, and the digit arrays.
    const int64_t arc_bytes = int64_t{std::max(limb_count, 0)} * int64_t{sizeof(int32_t)};
    return arc_bytes + arctan_series_scratch_bytes(FORMULA_XS, limb_count, best_kernel_path());
}
