// Running the bands of several series on several threads. Each band follows
// the one before it in its series through the digits, a chunk at a time, so
// two threads can share a series as a pipeline; every digit still goes
// through the bands in band order, so the result never depends on the thread
// count or on timing.
#pragma once

#include "wavefront/floating_band.hpp"
#include "wavefront/series_plan.hpp"
#include "wavefront/wavefront.hpp"

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

// Gives the series' digit arrays back once its sums have been read out.
void release_series(SeriesWork& work);

struct PipelineOptions {
    int32_t threads = 1;
    int64_t chunk_digits = DEFAULT_CHUNK_DIGITS;
    std::atomic<int64_t>* progress = nullptr;   // advanced once per band, if given
    FloatingKernel kernel = nullptr;        // for the floating plans
};

// Runs every band of every series. Threads that cannot be started leave their
// share to the others. A band whose exactness bounds fail stops the run, and
// its ExactnessViolation is rethrown here once every thread has stopped.
void run_all_bands(std::span<SeriesWork> series, const PipelineOptions& options);
