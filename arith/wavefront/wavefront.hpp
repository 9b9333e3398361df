// The wavefront series engine: arctan(1/x) for one or several x at once, limb
// for limb the same as the straightforward series (arctan_recip_reference).
//
// Each series is held in radix 10^m (m up to 9) and swept by bands of
// consecutive terms, one pass over the digits per band, skipping the leading
// zeros of the power; the digits are computed exactly in doubles (AVX-512,
// AVX2 or portable kernels) or, where the divisors are too large for that, in
// 64-bit integers. Several threads share the series as a pipeline; the limbs
// depend neither on the path nor on the thread count.
//
// This header is all the rest of the library sees of the engine.
#pragma once

#include "cpu_features.hpp"

#include <atomic>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

// How the engine computes its digits.
enum class KernelPath {
    integer,   // 64-bit integers and hardware division: plain, exact, slowest
    portable,  // the floating kernel in plain C++, for any target
    avx2,      // the floating kernel in AVX2 and FMA intrinsics (x86-64 CPUs that have them)
    avx512,    // the floating kernel in AVX-512 intrinsics (x86-64 CPUs that have it)
};

const char* kernel_path_name(KernelPath path);

// Every path this CPU can run, slowest first.
std::vector<KernelPath> available_kernel_paths();

// The floating path written for isa.
KernelPath kernel_path_for(VectorIsa isa);

// The fastest path this CPU runs: kernel_path_for(best_vector_isa()).
KernelPath best_kernel_path();

// Digits a band finishes before handing them to the next band of its series.
// The time barely depends on it (100,000 and 400,000 digits on two threads:
// within 3% from 256 to 8192, best near 1024).
inline constexpr int64_t DEFAULT_CHUNK_DIGITS = 1024;

struct WavefrontOptions {
    KernelPath path = best_kernel_path();
    int32_t threads = 1;
    // If given, advanced (relaxed) once per band; after a run it has grown by
    // arctan_series_progress_total of the same series and limb count.
    std::atomic<int64_t>* progress = nullptr;
    // Small values only make the threads meet more often.
    int64_t chunk_digits = DEFAULT_CHUNK_DIGITS;
};

// Computes arctan(1/xs[s]) over limb_count limbs for every s (x >= 2,
// limb_count >= 1), then reads each out in turn into `limbs` (limb_count
// limbs of the caller's) and calls use(s, limbs) before reading the next.
// Throws std::bad_alloc when the engine's digit arrays cannot be had, and
// ExactnessViolation if a bound the digits rely on fails.
void arctan_series(std::span<const int32_t> xs, int32_t limb_count, int32_t* limbs,
                   const std::function<void(size_t series, int32_t* limbs)>& use, const WavefrontOptions& options);

// The same, every arctangent into an array of its own: results[s].
void arctan_series(std::span<const int32_t> xs, int32_t limb_count, std::span<int32_t* const> results,
                   const WavefrontOptions& options = {});

// What a run of arctan_series adds to its progress counter.
int64_t arctan_series_progress_total(std::span<const int32_t> xs, int32_t limb_count);

// The bytes arctan_series allocates on a given path.
int64_t arctan_series_scratch_bytes(std::span<const int32_t> xs, int32_t limb_count, KernelPath path);

// The threads that can be kept busy by the series over limb_count limbs with
// the default chunk: a series is a pipeline of bands, each a chunk of digits
// behind the one before, so it offers about as many working threads as its
// digits hold chunks, and no more than it has bands.
int32_t arctan_series_parallelism(std::span<const int32_t> xs, int32_t limb_count);

// Gauss's formula on this engine: total <- pi over limb_count limbs, the three
// series summed at once and each arctangent weighed into total as it is read
// out, in TERM_TABLE's order. The limbs are those of gauss_formula_reference,
// within gauss_formula_error_bound of pi. Throws std::bad_alloc when the
// digit arrays cannot be had.
void gauss_formula_wavefront(int32_t limb_count, int32_t* total, const WavefrontOptions& options = {});

// The threads worth starting for the formula over limb_count limbs on cpus
// CPUs: one for small inputs, otherwise no more than the series can keep busy.
int32_t wavefront_threads(int32_t limb_count, int32_t cpus);

// What one gauss_formula_wavefront run adds to its progress counter.
int64_t wavefront_progress_total(int32_t limb_count);

// The bytes gauss_formula_wavefront allocates on the best path, beyond total.
int64_t wavefront_bytes_needed(int32_t limb_count);
