// The two ends of an engine series: its first term written into the digit
// arrays, and the finished digit sums turned back into base-10000 limbs.
#pragma once

#include "wavefront/series_plan.hpp"

#include <cstdint>

// power <- floor(M / x) and sum <- the same (term 0, added with sign +), over
// the plan's engine digits. Digit is double or int64_t.
template <typename Digit>
void write_first_term(const SeriesPlan& plan, Digit* power, Digit* sum);

// limbs <- the integer whose radix-10^m digits are the sums (of any size or
// sign), carried and regrouped into plan.limb_count base-10000 limbs.
template <typename Digit>
void digit_sums_to_limbs(const SeriesPlan& plan, const Digit* sum, int32_t* limbs);
