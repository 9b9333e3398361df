// The CPUs a Windows process may keep busy: those of its affinity mask (which
// a job object's affinity limit narrows too), and no more than the hard CPU
// rate of its job object pays for.
#include "cpu_count.hpp"

#include <algorithm>
#include <bit>
#include <windows.h>

namespace {

int32_t machine_cpu_count()
{
    return static_cast<int32_t>(std::max<DWORD>(1, GetActiveProcessorCount(ALL_PROCESSOR_GROUPS)));
}

// The mask covers the process's processor group; a process whose threads
// span several groups has none, and then every CPU counts.
int32_t affinity_cpu_count()
{
    DWORD_PTR process = 0, system = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) && process != 0)
        return std::popcount(static_cast<uint64_t>(process));
    return machine_cpu_count();
}

// A rate between a minimum and a maximum (Windows 8 on); MinGW's headers name
// neither the flag nor the two 16-bit rates, which share CpuRate's word, the
// minimum in its low half.
constexpr DWORD CPU_RATE_CONTROL_MIN_MAX_RATE = 0x10;

// A weight-based rate is a share among jobs, not a cap, and counts for
// nothing here.
std::optional<int32_t> job_cpu_limit()
{
    JOBOBJECT_CPU_RATE_CONTROL_INFORMATION rate{};
    if (!QueryInformationJobObject(nullptr, JobObjectCpuRateControlInformation, &rate, sizeof rate, nullptr) ||
        (rate.ControlFlags & JOB_OBJECT_CPU_RATE_CONTROL_ENABLE) == 0)
        return std::nullopt;
    if (rate.ControlFlags & JOB_OBJECT_CPU_RATE_CONTROL_HARD_CAP)
        return job_rate_cpus(rate.CpuRate, machine_cpu_count());
    if (rate.ControlFlags & CPU_RATE_CONTROL_MIN_MAX_RATE)
        return job_rate_cpus(rate.CpuRate >> 16, machine_cpu_count());
    return std::nullopt;
}

}  // namespace

int32_t usable_cpu_count()
{
    int32_t count = affinity_cpu_count();
    if (const std::optional<int32_t> limit = job_cpu_limit())
        count = std::min(count, *limit);
    return std::max(count, 1);
}
