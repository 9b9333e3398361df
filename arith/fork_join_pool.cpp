// The pool's queue: one mutex, one condition variable, and a deque of the
// tasks on offer, oldest first.
#include "fork_join_pool.hpp"

#include <algorithm>
#include <iterator>

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
            changed_.wait(lock);
    }
}

void ForkJoinPool::work()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return stopping_ || !offered_.empty(); });
        if (offered_.empty())
            return;
        run_oldest(lock);
    }
}
