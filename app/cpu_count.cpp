// Containers and schedulers limit CPUs two ways: an affinity mask names the
// CPUs a thread may run on, and a cgroup quota lets a group use a share of
// the machine (quota microseconds in every period) on any of them. Threads
// beyond either limit only take turns and slow each other down; on Windows a
// job object's CPU rate is such a quota. The quotas are worked out here from
// the figures the system gives; the affinity mask and the count itself are
// the platform's (posix/ and windows/cpu_count.cpp).
#include "cpu_count.hpp"

#include "cgroup.hpp"

#include <algorithm>

namespace {

std::optional<int32_t> whole_cpus(std::optional<int64_t> quota, std::optional<int64_t> period)
{
    if (!quota || !period || *quota <= 0 || *period <= 0)
        return std::nullopt;
    const int64_t cpus = *quota / *period + (*quota % *period != 0 ? 1 : 0);
    return static_cast<int32_t>(std::min<int64_t>(cpus, INT32_MAX));
}

}  // namespace

std::optional<int32_t> parse_cpu_max(std::string_view text)
{
    const size_t gap = text.find_first_of(" \t");
    const std::string_view quota = text.substr(0, gap);
    const std::string_view period = gap == std::string_view::npos ? "100000" : text.substr(gap + 1);
    return whole_cpus(parse_integer(quota), parse_integer(period));
}

std::optional<int32_t> parse_cfs_quota(std::string_view quota, std::string_view period)
{
    return whole_cpus(parse_integer(quota), parse_integer(period));
}

std::optional<int32_t> job_rate_cpus(int64_t rate, int32_t machine_cpus)
{
    return whole_cpus(rate * machine_cpus, 10000);
}

std::optional<int32_t> cgroup_cpu_limit(const FileReader& read)
{
    const auto cpu_max = [&](const std::string& directory) -> std::optional<int32_t> {
        const std::optional<std::string> text = read(directory + "/cpu.max");
        return text ? parse_cpu_max(*text) : std::nullopt;
    };
    const auto cfs_quota = [&](const std::string& directory) -> std::optional<int32_t> {
        const std::optional<std::string> quota = read(directory + "/cpu.cfs_quota_us");
        const std::optional<std::string> period = read(directory + "/cpu.cfs_period_us");
        return quota && period ? parse_cfs_quota(*quota, *period) : std::nullopt;
    };
    return tightest_group_limit<int32_t>(read, "cpu", cpu_max, cfs_quota);
}
