// The CPUs the program uses: the quota texts of both cgroup versions, the
// smallest limit of a group and its ancestors, a Windows job's CPU rate, and
// the affinity mask.
#include "cpu_count.hpp"
#include "file_map.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <thread>

#if defined(__linux__)
#include <sched.h>
#elif defined(_WIN32)
#include <windows.h>
#endif

namespace {

const char* const UNIFIED_MOUNTS = "35 24 0:30 / /sys/fs/cgroup rw shared:9 - cgroup2 cgroup2 rw\n";

}  // namespace

TEST(CpuCount, UnifiedQuotaIsRoundedUpToWholeCpus)
{
    EXPECT_EQ(parse_cpu_max("max 100000\n"), std::nullopt);
    EXPECT_EQ(parse_cpu_max("150000 100000\n"), 2);
    EXPECT_EQ(parse_cpu_max("100000 100000\n"), 1);
    EXPECT_EQ(parse_cpu_max("50000 100000\n"), 1);
    EXPECT_EQ(parse_cpu_max("200000 100000\n"), 2);
    EXPECT_EQ(parse_cpu_max("200001 100000\n"), 3);
    EXPECT_EQ(parse_cpu_max("400000 50000"), 8);
    EXPECT_EQ(parse_cpu_max(""), std::nullopt);
    EXPECT_EQ(parse_cpu_max("junk"), std::nullopt);
}

TEST(CpuCount, VersionOneQuotaIsRoundedUpAndMinusOneIsNoLimit)
{
    EXPECT_EQ(parse_cfs_quota("-1\n", "100000\n"), std::nullopt);
    EXPECT_EQ(parse_cfs_quota("150000\n", "100000\n"), 2);
    EXPECT_EQ(parse_cfs_quota("300000\n", "100000\n"), 3);
    EXPECT_EQ(parse_cfs_quota("1000\n", "100000\n"), 1);
    EXPECT_EQ(parse_cfs_quota("100000\n", "0\n"), std::nullopt);
}

TEST(CpuCount, TheSmallestQuotaOfTheGroupAndItsAncestorsWins)
{
    const FileReader read = file_map({
        {"/proc/self/cgroup", "0::/jobs/pi\n"},
        {"/proc/self/mountinfo", UNIFIED_MOUNTS},
        {"/sys/fs/cgroup/jobs/pi/cpu.max", "300000 100000\n"},
        {"/sys/fs/cgroup/jobs/cpu.max", "150000 100000\n"},
    });
    EXPECT_EQ(cgroup_cpu_limit(read), 2);

    const FileReader unlimited = file_map({
        {"/proc/self/cgroup", "0::/jobs/pi\n"},
        {"/proc/self/mountinfo", UNIFIED_MOUNTS},
        {"/sys/fs/cgroup/jobs/pi/cpu.max", "max 100000\n"},
        {"/sys/fs/cgroup/jobs/cpu.max", "max 100000\n"},
    });
    EXPECT_EQ(cgroup_cpu_limit(unlimited), std::nullopt);
    EXPECT_EQ(cgroup_cpu_limit(file_map({})), std::nullopt);
}

TEST(CpuCount, VersionOneQuotaCountsBesideTheUnifiedHierarchy)
{
    const FileReader read = file_map({
        {"/proc/self/cgroup", "3:cpu,cpuacct:/batch\n0::/batch\n"},
        {"/proc/self/mountinfo",
         "31 30 0:28 / /sys/fs/cgroup/cpu,cpuacct rw - cgroup cgroup rw,cpu,cpuacct\n"
         "40 30 0:37 / /sys/fs/cgroup/unified rw - cgroup2 cgroup2 rw\n"},
        {"/sys/fs/cgroup/cpu,cpuacct/batch/cpu.cfs_quota_us", "100000\n"},
        {"/sys/fs/cgroup/cpu,cpuacct/batch/cpu.cfs_period_us", "100000\n"},
        {"/sys/fs/cgroup/cpu,cpuacct/cpu.cfs_quota_us", "-1\n"},
        {"/sys/fs/cgroup/cpu,cpuacct/cpu.cfs_period_us", "100000\n"},
    });
    EXPECT_EQ(cgroup_cpu_limit(read), 1);
}

TEST(CpuCount, AJobsCpuRateIsRoundedUpToWholeCpusOfTheMachine)
{
    // The rate counts cycles in every 10,000 of all the machine's CPUs.
    EXPECT_EQ(job_rate_cpus(10000, 8), 8);
    EXPECT_EQ(job_rate_cpus(5000, 8), 4);
    EXPECT_EQ(job_rate_cpus(5001, 8), 5);
    EXPECT_EQ(job_rate_cpus(1, 64), 1);
    EXPECT_EQ(job_rate_cpus(2500, 2), 1);
    EXPECT_EQ(job_rate_cpus(0, 8), std::nullopt);
}

TEST(CpuCount, AtLeastOneAndNoMoreThanTheMachineHas)
{
    const int32_t cpus = usable_cpu_count();
    EXPECT_GE(cpus, 1);
    if (std::thread::hardware_concurrency() > 0) {
        EXPECT_LE(cpus, static_cast<int32_t>(std::thread::hardware_concurrency()));
    }
}

#if defined(__linux__)
TEST(CpuCount, AThreadPinnedToOneCpuCountsOne)
{
    cpu_set_t saved;
    ASSERT_EQ(sched_getaffinity(0, sizeof saved, &saved), 0);
    int first = 0;
    while (first < CPU_SETSIZE && !CPU_ISSET(first, &saved))
        ++first;
    ASSERT_LT(first, CPU_SETSIZE);
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(first, &one);
    if (sched_setaffinity(0, sizeof one, &one) != 0)
        GTEST_SKIP() << "cannot set this thread's CPU affinity here: the one-CPU case was not run";
    const int32_t pinned = usable_cpu_count();
    ASSERT_EQ(sched_setaffinity(0, sizeof saved, &saved), 0);
    EXPECT_EQ(pinned, 1);
    EXPECT_EQ(usable_cpu_count(),
              std::min<int32_t>(CPU_COUNT(&saved), cgroup_cpu_limit(read_whole_file).value_or(CPU_SETSIZE)))
        << "the whole mask again once it is restored";
}
#elif defined(_WIN32)
TEST(CpuCount, AProcessPinnedToOneCpuCountsOne)
{
    DWORD_PTR saved = 0, system = 0;
    ASSERT_TRUE(GetProcessAffinityMask(GetCurrentProcess(), &saved, &system));
    const DWORD_PTR first = saved & (~saved + 1);
    if (!SetProcessAffinityMask(GetCurrentProcess(), first))
        GTEST_SKIP() << "cannot set this process's CPU affinity here: the one-CPU case was not run";
    const int32_t pinned = usable_cpu_count();
    ASSERT_TRUE(SetProcessAffinityMask(GetCurrentProcess(), saved));
    EXPECT_EQ(pinned, 1);
    EXPECT_EQ(usable_cpu_count(), std::popcount(static_cast<uint64_t>(saved))) << "the whole mask again once it is restored";
}
#endif
