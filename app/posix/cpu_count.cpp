// The CPUs a POSIX process may keep busy. On Linux the affinity mask names
// them and the cgroup quota may allow fewer; elsewhere the count is every CPU
// of the machine, as std::thread reports it.
#include "cpu_count.hpp"

#include <algorithm>
#include <thread>

#if defined(__linux__)
#include <cerrno>
#include <sched.h>
#endif

namespace {

#if defined(__linux__)
// The mask grows past CPU_SETSIZE on machines with more CPUs than that; the
// kernel says so with EINVAL.
int32_t affinity_cpu_count()
{
    for (int cpus = CPU_SETSIZE; cpus <= (1 << 22); cpus *= 2) {
        cpu_set_t* const set = CPU_ALLOC(cpus);
        if (set == nullptr)
            return 0;
        const size_t size = CPU_ALLOC_SIZE(cpus);
        CPU_ZERO_S(size, set);
        const bool known = sched_getaffinity(0, size, set) == 0;
        const int error = errno;
        const int count = known ? CPU_COUNT_S(size, set) : 0;
        CPU_FREE(set);
        if (known || error != EINVAL)
            return count;
    }
    return 0;
}
#endif

}  // namespace

int32_t usable_cpu_count()
{
    int64_t count = 0;
#if defined(__linux__)
    count = affinity_cpu_count();
#endif
    if (count <= 0)
        count = std::thread::hardware_concurrency();
#if defined(__linux__)
    if (const std::optional<int32_t> quota = cgroup_cpu_limit(read_whole_file))
        count = std::min<int64_t>(count, *quota);
#endif
    return static_cast<int32_t>(std::clamp<int64_t>(count, 1, INT32_MAX));
}
