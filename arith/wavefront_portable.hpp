// The floating band kernel in plain C++, for any target: the lanes are arrays
// the compiler may vectorise with whatever the baseline instruction set has.
#pragma once

#include "floating_band.hpp"

void advance_band_portable(const FloatingBand& band, FloatingLanes& lanes, double* power, double* sum,
                           int64_t step_end);
