// The fast arctangent engine: arctan(1/x) for one or several x at once, limb
// for limb the same as arctan_recip_reference.
//
// Each series is held in radix 10^m (m up to 9) and swept by bands of
// BAND_WIDTH consecutive terms, one pass over the digits per band, skipping
// the leading zeros of the power; the digits are computed exactly in doubles
// (AVX-512 or portable kernels) or, where the divisors are too large for
// that, in 64-bit integers. The series can share threads (see
// band_pipeline.hpp); the limbs do not depend on the path or the thread count.
#pragma once

#include "band_pipeline.hpp"
#include "engine_path.hpp"

#include <atomic>
#include <cstdint>
#include <span>

struct EngineOptions {
    EnginePath path = best_engine_path();
    int32_t threads = 1;
    // If given, advanced (relaxed) once per band; after a run it has grown by
    // arctan_series_progress_total of the same series and limb count.
    std::atomic<int64_t>* progress = nullptr;
    // Digits a band finishes before handing them to the next band of its
    // series; small values only make the threads meet more often.
    int64_t chunk_digits = DEFAULT_CHUNK_DIGITS;
};

// results[s] <- arctan(1/xs[s]) over limb_count limbs, for every s (x >= 2,
// limb_count >= 1). Throws std::bad_alloc when the engine's digit arrays
// cannot be had.
void arctan_series(std::span<const int32_t> xs, int32_t limb_count, std::span<int32_t* const> results,
                   const EngineOptions& options = {});

// What a run of arctan_series adds to its progress counter.
int64_t arctan_series_progress_total(std::span<const int32_t> xs, int32_t limb_count);

// The bytes arctan_series allocates on a given path.
int64_t arctan_series_scratch_bytes(std::span<const int32_t> xs, int32_t limb_count, EnginePath path);
