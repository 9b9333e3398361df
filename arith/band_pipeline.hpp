// Running the bands of several series on several threads. Each band follows
// the one before it in its series through the digits, a chunk at a time, so
// two threads can share a series as a pipeline; every digit still goes
// through the bands in band order, so the result never depends on the thread
// count or on timing.
#pragma once

#include "floating_band.hpp"
#include "series_plan.hpp"

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

// One series in flight: its plan, its digit arrays, and how far each band has
// got (the digits before band_done[b] are final after band b).
struct SeriesWork {
    SeriesPlan plan;
    std::vector<double> floating_digits;    // power then sum, each padded (floating plans)
    std::vector<int64_t> integer_digits;    // power then sum (integer plans)
    double* power = nullptr;                // engine digit 0 of each array
    double* sum = nullptr;
    int64_t* integer_power = nullptr;
    int64_t* integer_sum = nullptr;
    std::unique_ptr<std::atomic<int64_t>[]> band_done;
    std::atomic<int64_t> next_band{0};
};

// The elements each digit array holds for a plan, padding included.
int64_t padded_digit_count(const SeriesPlan& plan);

// Allocates the arrays and progress marks of a series (std::bad_alloc when
// memory is short) and writes its first term.
void prepare_series(SeriesWork& work, const SeriesPlan& plan);

// Digits a band finishes between two handovers to the next band. The time
// barely depends on it (100,000 and 400,000 digits on two threads: within
// 3% from 256 to 8192, best near 1024).
inline constexpr int64_t DEFAULT_CHUNK_DIGITS = 1024;

struct PipelineOptions {
    int32_t threads = 1;
    int64_t chunk_digits = DEFAULT_CHUNK_DIGITS;
    std::atomic<int64_t>* progress = nullptr;   // advanced once per band, if given
    FloatingBandKernel kernel = nullptr;        // for the floating plans
};

// Runs every band of every series. Threads that cannot be started leave their
// share to the others.
void run_all_bands(std::span<SeriesWork> series, const PipelineOptions& options);
