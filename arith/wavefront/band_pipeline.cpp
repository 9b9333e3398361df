// The band pipeline. A thread claims the next band of a series (in the order
// of its own preference list) and runs it chunk by chunk. Before each chunk it
// waits until the previous band of that series has finished every digit the
// chunk will read; after it, it publishes how far it got. The release store
// of that mark and the acquire load of the waiter order the digit writes of
// one band before the reads of the next.
//
// A band starts only after the earlier bands of its series have been claimed,
// and a thread runs its band to the end before it claims another, so the
// earliest unfinished band never waits: the pipeline cannot stall. A band
// whose bounds fail stops the run: every thread finishes the band it holds
// (or gives it up) and claims no other, and the failure reaches the caller.
#include "wavefront/band_pipeline.hpp"

#include "wavefront/integer_band.hpp"
#include "wavefront/series_digits.hpp"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <numeric>
#include <system_error>
#include <thread>

namespace {

// What the threads of one run share besides the series: whether a band has
// failed (a bound the digits rest on did not hold), the first failure, and
// where threads that have waited long for a band sleep.
//
// The sleeping is a condition variable rather than std::atomic::wait: where
// the library has no futex beneath that wait (MinGW's GCC 12 on Windows), a
// notify can be lost and a waiting thread sleep for ever. A sleeper counts
// itself in before it looks at the mark under the lock; a publisher stores
// the mark before it looks at the count, and the two fences keep each from
// missing the other.
struct RunState {
    std::atomic<bool> failed{false};
    std::mutex error_mutex;
    std::exception_ptr error;

    std::mutex sleep_mutex;
    std::condition_variable woken;
    std::atomic<int32_t> sleepers{0};

    void record(std::exception_ptr failure)
    {
        std::lock_guard lock(error_mutex);
        if (!error)
            error = std::move(failure);
        failed.store(true, std::memory_order_relaxed);
    }

    // Sleeps until done reaches needed or the run fails.
    void sleep_until(const std::atomic<int64_t>& done, int64_t needed)
    {
        sleepers.fetch_add(1, std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_seq_cst);
        {
            std::unique_lock lock(sleep_mutex);
            woken.wait(lock, [&] {
                return done.load(std::memory_order_acquire) >= needed || failed.load(std::memory_order_relaxed);
            });
        }
        sleepers.fetch_sub(1, std::memory_order_relaxed);
    }

    // Wakes the sleepers after a mark has moved (or the run has failed).
    void wake_sleepers()
    {
        std::atomic_thread_fence(std::memory_order_seq_cst);
        if (sleepers.load(std::memory_order_relaxed) == 0)
            return;
        { const std::lock_guard lock(sleep_mutex); }
        woken.notify_all();
    }
};

void cpu_relax()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

// Spins on the mark for a few microseconds, the usual lag of a pipeline, and
// then sleeps until the band before publishes again, so that a waiting
// thread never holds a core that another thread needs. False when the run
// has failed and the wait was cut short.
constexpr int32_t SPINS_BEFORE_SLEEPING = 1024;

bool wait_until_done(const std::atomic<int64_t>& done, int64_t needed, RunState& run)
{
    if (run.failed.load(std::memory_order_relaxed))
        return false;
    for (int32_t spins = 0; spins < SPINS_BEFORE_SLEEPING; ++spins) {
        if (done.load(std::memory_order_acquire) >= needed)
            return true;
        cpu_relax();
    }
    run.sleep_until(done, needed);
    return done.load(std::memory_order_acquire) >= needed;
}

void publish(std::atomic<int64_t>& done, int64_t position, RunState& run)
{
    done.store(position, std::memory_order_release);
    run.wake_sleepers();
}

void run_floating_band(SeriesWork& work, int64_t band_index, const PipelineOptions& options, RunState& run)
{
    const FloatingBand band = make_floating_band(work.plan, band_index);
    const int64_t length = work.plan.length;
    const std::atomic<int64_t>* before = band_index > 0 ? &work.band_done[band_index - 1] : nullptr;
    std::atomic<int64_t>& done = work.band_done[band_index];

    // The lanes start with the sums just above the band's start: final once
    // the previous band has passed the start (a mark of at least 1 also
    // covers the padding above digit 0, written by its first chunk).
    if (before && !wait_until_done(*before, std::min(length, band.start + 1), run))
        return;
    FloatingLanes lanes;
    begin_floating_lanes(band, work.sum, lanes);
    for (int64_t position = band.start; position < length;) {
        const int64_t target = std::min(length, position + options.chunk_digits);
        // Finishing the digits before target reads input digits up to
        // target + W - 2 (those past the end are padding nobody writes).
        if (before && !wait_until_done(*before, std::min(length, target + BAND_WIDTH - 1), run))
            return;
        options.kernel(band, lanes, work.power, work.sum, steps_to_finish(target));
        publish(done, target, run);
        position = target;
    }
}

void run_integer_band(SeriesWork& work, int64_t band_index, const PipelineOptions& options, RunState& run)
{
    const IntegerBand band = make_integer_band(work.plan, band_index);
    const int64_t length = work.plan.length;
    const std::atomic<int64_t>* before = band_index > 0 ? &work.band_done[band_index - 1] : nullptr;
    std::atomic<int64_t>& done = work.band_done[band_index];

    IntegerLanes lanes;
    begin_integer_lanes(band, lanes);
    for (int64_t position = band.start; position < length;) {
        const int64_t target = std::min(length, position + options.chunk_digits);
        if (before && !wait_until_done(*before, target, run))
            return;
        integer_kernel(band, lanes, work.integer_power, work.integer_sum, target);
        publish(done, target, run);
        position = target;
    }
}

// A band that fails, or stops because another has, still marks every digit
// done, so that no later band of its series waits for it forever.
void run_band(SeriesWork& work, int64_t band_index, const PipelineOptions& options, RunState& run)
{
    try {
        if (work.plan.arithmetic == DigitArithmetic::floating)
            run_floating_band(work, band_index, options, run);
        else
            run_integer_band(work, band_index, options, run);
    } catch (...) {
        run.record(std::current_exception());
    }
    publish(work.band_done[band_index], work.plan.length, run);
    if (options.progress)
        options.progress->fetch_add(band_progress_steps(work.plan.x, work.plan.fraction_digits, band_index),
                                    std::memory_order_relaxed);
}

// Thread w works through the series from the w-th largest on, so with two
// threads and three series one takes the largest, the other the next two,
// and both end sharing the smallest.
void work_through(std::span<SeriesWork> series, const std::vector<size_t>& by_size, size_t first,
                  const PipelineOptions& options, RunState& run)
{
    for (size_t offset = 0; offset < by_size.size(); ++offset) {
        SeriesWork& work = series[by_size[(first + offset) % by_size.size()]];
        while (!run.failed.load(std::memory_order_relaxed)) {
            if (work.next_band.load(std::memory_order_relaxed) >= work.plan.band_count)
                break;
            const int64_t band_index = work.next_band.fetch_add(1, std::memory_order_relaxed);
            if (band_index >= work.plan.band_count)
                break;
            run_band(work, band_index, options, run);
        }
    }
}

}  // namespace

int64_t padded_digit_count(const SeriesPlan& plan)
{
    return DIGIT_FRONT_PADDING + plan.length + DIGIT_BACK_PADDING;
}

void prepare_series(SeriesWork& work, const SeriesPlan& plan)
{
    work.plan = plan;
    const int64_t count = padded_digit_count(plan);
    if (plan.arithmetic == DigitArithmetic::floating) {
        work.floating_digits.assign(2 * count, 0.0);
        work.power = work.floating_digits.data() + DIGIT_FRONT_PADDING;
        work.sum = work.power + count;
        write_first_term(plan, work.power, work.sum);
    } else {
        work.integer_digits.assign(2 * count, 0);
        work.integer_power = work.integer_digits.data() + DIGIT_FRONT_PADDING;
        work.integer_sum = work.integer_power + count;
        write_first_term(plan, work.integer_power, work.integer_sum);
    }
    work.band_done = std::make_unique<std::atomic<int64_t>[]>(static_cast<size_t>(plan.band_count));
    for (int64_t b = 0; b < plan.band_count; ++b)
        work.band_done[b].store(0, std::memory_order_relaxed);
    work.next_band.store(0, std::memory_order_relaxed);
}

void release_series(SeriesWork& work)
{
    work.floating_digits = {};
    work.integer_digits = {};
    work.power = work.sum = nullptr;
    work.integer_power = work.integer_sum = nullptr;
}

void run_all_bands(std::span<SeriesWork> series, const PipelineOptions& options)
{
    if (series.empty())
        return;
    std::vector<size_t> by_size(series.size());
    std::iota(by_size.begin(), by_size.end(), size_t{0});
    auto size_of = [&](size_t s) { return series[s].plan.band_count * series[s].plan.length; };
    std::stable_sort(by_size.begin(), by_size.end(), [&](size_t a, size_t b) { return size_of(a) > size_of(b); });

    RunState run;
    std::vector<std::thread> helpers;
    for (int32_t w = 1; w < options.threads; ++w) {
        try {
            helpers.emplace_back(work_through, series, std::cref(by_size), static_cast<size_t>(w),
                                 std::cref(options), std::ref(run));
        } catch (const std::system_error&) {
            break;  // the threads already running (and this one) do the rest
        }
    }
    work_through(series, by_size, 0, options, run);
    for (std::thread& helper : helpers)
        helper.join();
    if (run.error)
        std::rethrow_exception(run.error);
}
