// The pool's queue: one mutex, one condition variable, and a deque of the
// tasks on offer, oldest first. A thread with nothing to do spins a little
// before it sleeps: the next piece of work or the end of the one it waits for
// usually comes within microseconds, and waking a sleeping thread takes the
// system longer than that (under Wine, a million digits take 4% longer
// without the spin).
#include "fork_join_pool.hpp"

#include <algorithm>
#include <chrono>
#include <iterator>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace {

// How long a waiting thread looks for a change before it sleeps.
constexpr auto SPIN_BEFORE_SLEEP = std::chrono::microseconds(50);

// Tells the CPU that this is a wait loop, so the other hardware thread of
// the core gets its resources.
void relax()
{
#if defined(__x86_64__) || defined(__i386__)
    _mm_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

}  // namespace

ForkJoinPool::ForkJoinPool(int32_t threads)
{
    for (int32_t index = 1; index < threads; ++index)
        workers_.emplace_back([this] { work(); });
}

ForkJoinPool::~ForkJoinPool()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        changes_.fetch_add(1);
    }
    changed_.notify_all();
    for (std::thread& worker : workers_)
        worker.join();
}

void ForkJoinPool::execute(Task& task)
{
    try {
        task.run(task.callable);
    } catch (...) {
        task.failure = std::current_exception();
    }
}

void ForkJoinPool::offer(Task& task)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        offered_.push_back(&task);
        changes_.fetch_add(1);
    }
    changed_.notify_one();
}

void ForkJoinPool::run_oldest(std::unique_lock<std::mutex>& lock)
{
    Task* task = offered_.front();
    offered_.pop_front();
    lock.unlock();
    execute(*task);
    lock.lock();
    task->done = true;
    changes_.fetch_add(1);
    changed_.notify_all();
}

void ForkJoinPool::join(Task& task)
{
    std::unique_lock<std::mutex> lock(mutex_);
    // A task not taken is the newest this thread offered that is still
    // on offer: everything it offered later has been joined already.
    const auto untaken = std::find(offered_.rbegin(), offered_.rend(), &task);
    if (untaken != offered_.rend()) {
        offered_.erase(std::next(untaken).base());
        lock.unlock();
        execute(task);
        return;
    }
    while (!task.done) {
        if (!offered_.empty())
            run_oldest(lock);
        else
            await_change(lock);
    }
}

void ForkJoinPool::await_change(std::unique_lock<std::mutex>& lock)
{
    // Every change is made under the lock, so one that comes after the
    // last look below finds this thread asleep and wakes it.
    const uint64_t seen = changes_.load();
    lock.unlock();
    const auto until = std::chrono::steady_clock::now() + SPIN_BEFORE_SLEEP;
    for (int spin = 1; changes_.load() == seen; ++spin) {
        if (spin % 64 == 0 && std::chrono::steady_clock::now() > until)
            break;
        relax();
    }
    lock.lock();
    if (changes_.load() == seen)
        changed_.wait(lock);
}

void ForkJoinPool::work()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        while (!stopping_ && offered_.empty())
            await_change(lock);
        if (offered_.empty())
            return;
        run_oldest(lock);
    }
}
