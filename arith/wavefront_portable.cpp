// The portable floating kernel: the lane-array body built for the baseline of
// the target (SSE2 on x86-64), where the compiler vectorises the lane loops.
#include "wavefront_portable.hpp"

#include "wavefront_lanes.hpp"

void advance_band_portable(const FloatingBand& band, FloatingLanes& lanes, double* power, double* sum,
                           int64_t step_end)
{
    advance_band_lanes(band, lanes, power, sum, step_end);
}
