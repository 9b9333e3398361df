// A fork-join pool of a fixed number of threads. A fork offers its first
// piece of work to the pool and runs the second itself; a thread that runs
// out of work takes the oldest piece on offer, which near the top of a tree
// of work is the largest, and the forking thread runs its own piece when
// nobody took it. So both halves of an uneven tree end together, and a
// thread waiting for a piece it gave away helps with the pieces that piece
// offers in turn. Any engine or subsystem may share one pool among its
// pieces of work; the work decides the result, never the thread it ran on.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <type_traits>
#include <vector>

class ForkJoinPool {
public:
    // threads: the most threads at work at once, the caller's included.
    explicit ForkJoinPool(int32_t threads);
    ~ForkJoinPool();
    ForkJoinPool(const ForkJoinPool&) = delete;
    ForkJoinPool& operator=(const ForkJoinPool&) = delete;

    // Runs first and second, side by side where a thread is free. An
    // exception from either is passed on once both are done.
    template <class First, class Second>
    void fork_join(First&& first, Second&& second)
    {
        if (workers_.empty()) {
            first();
            second();
            return;
        }
        Task task{[](void* callable) { (*static_cast<std::remove_reference_t<First>*>(callable))(); }, &first, false, nullptr};
        offer(task);
        std::exception_ptr second_failure;
        try {
            second();
        } catch (...) {
            second_failure = std::current_exception();
        }
        join(task);
        if (task.failure)
            std::rethrow_exception(task.failure);
        if (second_failure)
            std::rethrow_exception(second_failure);
    }

    // fork_join where the work is worth a thread, else first and second in
    // turn on this thread: below some size a fork costs more than it saves.
    template <class First, class Second>
    void fork_join_if(bool worth_a_thread, First&& first, Second&& second)
    {
        if (worth_a_thread) {
            fork_join(first, second);
        } else {
            first();
            second();
        }
    }

private:
    struct Task {
        void (*run)(void*);
        void* callable;
        bool done = false;  // under mutex_
        std::exception_ptr failure;
    };

    void offer(Task& task);
    // Runs task here if nobody took it, else waits for it, running what
    // else is on offer meanwhile.
    void join(Task& task);
    void work();
    // Takes the oldest task on offer and runs it; lock is held on entry and exit.
    void run_oldest(std::unique_lock<std::mutex>& lock);
    static void execute(Task& task);
    // Waits, lock held on entry and exit, until something changes.
    void await_change(std::unique_lock<std::mutex>& lock);

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Task*> offered_;
    bool stopping_ = false;
    std::atomic<uint64_t> changes_{0};  // counts every change, made under mutex_
    std::vector<std::thread> workers_;
};
