// Containers and schedulers limit CPUs two ways: an affinity mask names the
// CPUs a thread may run on, and a cgroup quota lets a group use a share of
// the machine (quota microseconds in every period) on any of them. Threads
// beyond either limit only take turns and slow each other down.
#include "cpu_count.hpp"

#include "cgroup.hpp"

#include <algorithm>
#include <thread>

#if defined(__linux__)
#include <cerrno>
#include <sched.h>
#endif

namespace {

std::optional<int32_t> whole_cpus(std::optional<int64_t> quota, std::optional<int64_t> period)
{
    if (!quota || !period || *quota <= 0 || *period <= 0)
        return std::nullopt;
    const int64_t cpus = *quota / *period + (*quota % *period != 0 ? 1 : 0);
    return static_cast<int32_t>(std::min<int64_t>(cpus, INT32_MAX));
}

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

std::optional<int32_t> parse_cpu_max(std::string_view text)
{
    const size_t split = text.find_first_of(" \t");
    const std::string_view quota = text.substr(0, split);
    const std::string_view period = split == std::string_view::npos ? "100000" : text.substr(split + 1);
    return whole_cpus(parse_integer(quota), parse_integer(period));
}

std::optional<int32_t> parse_cfs_quota(std::string_view quota, std::string_view period)
{
    return whole_cpus(parse_integer(quota), parse_integer(period));
}

std::optional<int32_t> cgroup_cpu_limit(const FileReader& read)
{
    const std::optional<CgroupDirectories> groups = cgroup_directories(read, "cpu");
    if (!groups)
        return std::nullopt;
    std::optional<int32_t> limit;
    for (const std::string& directory : groups->unified)
        if (const std::optional<std::string> text = read(directory + "/cpu.max"))
            limit = tighter_limit(limit, parse_cpu_max(*text));
    for (const std::string& directory : groups->v1) {
        const std::optional<std::string> quota = read(directory + "/cpu.cfs_quota_us");
        const std::optional<std::string> period = read(directory + "/cpu.cfs_period_us");
        if (quota && period)
            limit = tighter_limit(limit, parse_cfs_quota(*quota, *period));
    }
    return limit;
}

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
