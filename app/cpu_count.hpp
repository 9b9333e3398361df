// The CPUs this process may keep busy: those it is allowed to run on, and no
// more than its control groups' CPU quota pays for.
#pragma once

#include "system_files.hpp"

#include <cstdint>
#include <optional>
#include <string_view>

// The CPUs of a cgroup v2 "cpu.max" text: "max 100000" is no limit,
// "150000 100000" (a quota and its period, in microseconds) is 2, the quota
// rounded up to whole CPUs.
std::optional<int32_t> parse_cpu_max(std::string_view text);

// The same from the v1 files cpu.cfs_quota_us and cpu.cfs_period_us; a quota
// of -1 is no limit.
std::optional<int32_t> parse_cfs_quota(std::string_view quota, std::string_view period);

// The smallest CPU quota of the process's groups and their ancestors, in both
// hierarchies, read through read; nothing when none is set.
std::optional<int32_t> cgroup_cpu_limit(const FileReader& read);

// The CPUs a Windows job object's CPU rate pays for: rate cycles in every
// 10,000 of all machine_cpus CPUs, rounded up to whole CPUs; nothing for a
// rate of 0.
std::optional<int32_t> job_rate_cpus(int64_t rate, int32_t machine_cpus);

// The CPUs in this process's affinity mask (every CPU of the machine where
// there is no such mask), limited by the cgroup quota on Linux and by the
// job object's CPU rate on Windows. At least 1.
int32_t usable_cpu_count();
