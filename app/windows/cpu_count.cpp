// The CPUs a Windows process may keep busy: the logical processors that
// std::thread reports. Affinity masks and the CPU rate limits of job objects
// are not read.
#include "cpu_count.hpp"

#include <algorithm>
#include <thread>

int32_t usable_cpu_count()
{
    return static_cast<int32_t>(std::clamp<int64_t>(std::thread::hardware_concurrency(), 1, INT32_MAX));
}
