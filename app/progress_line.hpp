// A status line on standard error while the series run: the share of the work
// done and an estimate of the time left, redrawn in place.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

class ProgressLine {
public:
    // Watches done climb towards total (units of the caller's choosing) from a
    // thread of its own. Draws only when standard error is a terminal, never
    // before a second has passed, at most ten times a second and only when
    // the text changes.
    ProgressLine(const std::atomic<int64_t>& done, int64_t total);
    // Stops watching and erases the line if one was drawn.
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

private:
    void watch();

    const std::atomic<int64_t>& done_;
    const int64_t total_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    bool shown_ = false;
    std::thread watcher_;
};

// The text of the line for a share done (0..1) after elapsed seconds: the
// whole percent done and, once any work is done, the time left at the pace so
// far, rounded up ("about 42 s left", "about 3 min 5 s left", "about 2 h 20
// min left").
std::string progress_text(double share_done, double elapsed_seconds);
