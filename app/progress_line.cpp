// The watcher sleeps on a condition variable between redraws, so it costs the
// computation one relaxed atomic read ten times a second and nothing else.
#include "progress_line.hpp"

#include "interruption.hpp"
#include "terminal.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace {

constexpr auto REDRAW_INTERVAL = std::chrono::milliseconds(100);
constexpr auto QUIET_START = std::chrono::seconds(1);
constexpr double MAX_ESTIMATE_SECONDS = 1e12;

}  // namespace

std::string progress_text(double share_done, double elapsed_seconds)
{
    const int percent = static_cast<int>(std::floor(share_done * 100));
    std::string text = "Computing: " + std::to_string(percent) + "% done";
    if (share_done <= 0 || share_done >= 1)
        return text;
    // The rest is assumed to go at the pace so far. Even the first sliver of
    // the work gives a usable figure, and a rough one at the first drawing
    // tells more than none; the cap keeps the figure for a tiny share within
    // 64 bits.
    const double estimate = std::min(elapsed_seconds * (1 - share_done) / share_done, MAX_ESTIMATE_SECONDS);
    const auto seconds_left = static_cast<int64_t>(std::ceil(estimate));
    text += ", about ";
    if (seconds_left >= 3600) {
        const int64_t minutes_left = (seconds_left + 59) / 60;
        text += std::to_string(minutes_left / 60) + " h " + std::to_string(minutes_left % 60) + " min left";
    } else if (seconds_left >= 60) {
        text += std::to_string(seconds_left / 60) + " min " + std::to_string(seconds_left % 60) + " s left";
    } else {
        text += std::to_string(seconds_left) + " s left";
    }
    return text;
}

ProgressLine::ProgressLine(const std::atomic<int64_t>& done, int64_t total) : done_(done), total_(total)
{
    if (status_line_possible() && total_ > 0)
        watcher_ = std::thread(&ProgressLine::watch, this);
}

ProgressLine::~ProgressLine()
{
    if (!watcher_.joinable())
        return;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    watcher_.join();
    if (shown_) {
        erase_status_line();
        interruption_guard_status_line(false);
    }
}

void ProgressLine::watch()
{
    const auto start = std::chrono::steady_clock::now();
    std::string drawn;
    std::unique_lock lock(mutex_);
    while (!wake_.wait_for(lock, REDRAW_INTERVAL, [this] { return stopping_; })) {
        const auto elapsed = std::chrono::steady_clock::now() - start;
        if (elapsed < QUIET_START)
            continue;
        const double share = std::min(1.0, double(done_.load(std::memory_order_relaxed)) / double(total_));
        const std::string text = progress_text(share, std::chrono::duration<double>(elapsed).count());
        if (text == drawn)
            continue;
        interruption_guard_status_line(true);
        shown_ = true;
        draw_status_line(text);
        drawn = text;
    }
}
