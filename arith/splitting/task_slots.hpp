// Spare threads handed out where the work forks: two independent pieces run
// side by side when a thread is free, one after the other when none is, so
// the CPUs stay busy wherever the tree of work offers a fork and no more
// threads run than were granted.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <thread>

class TaskSlots {
public:
    // threads: the most threads at work at once, the caller's included.
    explicit TaskSlots(int32_t threads) : spare_(threads > 1 ? threads - 1 : 0) {}

    // Runs first and second, at once if a spare thread is free. An exception
    // from either is passed on once both are done.
    template <class First, class Second>
    void fork_join(First&& first, Second&& second)
    {
        if (!take()) {
            first();
            second();
            return;
        }
        std::exception_ptr first_failure;
        std::thread helper([&] {
            try {
                first();
            } catch (...) {
                first_failure = std::current_exception();
            }
            spare_.fetch_add(1);
        });
        std::exception_ptr second_failure;
        try {
            second();
        } catch (...) {
            second_failure = std::current_exception();
        }
        // While this thread waits for the helper, its place is free for a
        // fork within the helper's work; it takes the place back once the
        // helper (and every thread the helper's work started) is done.
        spare_.fetch_add(1);
        helper.join();
        spare_.fetch_sub(1);
        if (first_failure)
            std::rethrow_exception(first_failure);
        if (second_failure)
            std::rethrow_exception(second_failure);
    }

private:
    bool take()
    {
        int32_t free = spare_.load();
        while (free > 0)
            if (spare_.compare_exchange_weak(free, free - 1))
                return true;
        return false;
    }

    std::atomic<int32_t> spare_;
};
