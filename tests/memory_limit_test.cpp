// The memory the program can still have: the texts of /proc and of both
// cgroup versions, the smallest room of a group and its ancestors, and the
// address space limit.
#include "file_map.hpp"
#include "memory_limit.hpp"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int64_t MiB = int64_t{1} << 20;
constexpr int64_t GiB = int64_t{1} << 30;

const char* const UNIFIED_MOUNTS = "35 24 0:30 / /sys/fs/cgroup rw shared:9 - cgroup2 cgroup2 rw\n";

}  // namespace

TEST(MemoryLimit, AddressSpaceInUseFromProcessStatus)
{
    const char* const status =
        "Name:\tpi\nUmask:\t0022\nState:\tR (running)\nVmPeak:\t   20000 kB\nVmSize:\t   12345 kB\n"
        "VmLck:\t       0 kB\n";
    EXPECT_EQ(parse_vm_size(status), 12345 * int64_t{1024});
    EXPECT_EQ(parse_vm_size("Name:\tkthreadd\nState:\tS (sleeping)\n"), std::nullopt);
}

TEST(MemoryLimit, AvailableMemoryFromMeminfo)
{
    const char* const meminfo =
        "MemTotal:       24683716 kB\nMemFree:        24325372 kB\nMemAvailable:   24384772 kB\n"
        "Buffers:            2576 kB\n";
    EXPECT_EQ(parse_mem_available(meminfo), 24384772 * int64_t{1024});
    EXPECT_EQ(parse_mem_available("MemTotal:       24683716 kB\n"), std::nullopt);
}

TEST(MemoryLimit, CgroupFiguresWithMaxAndTheVersionOneNoLimitAsNothing)
{
    EXPECT_EQ(parse_memory_value("max\n"), std::nullopt);
    EXPECT_EQ(parse_memory_value("9223372036854771712\n"), std::nullopt);  // v1, 4 KiB pages
    EXPECT_EQ(parse_memory_value("9223372036854710272\n"), std::nullopt);  // v1, 64 KiB pages
    EXPECT_EQ(parse_memory_value("1073741824\n"), GiB);
    EXPECT_EQ(parse_memory_value("0\n"), 0);
    const char* const stat = "anon 4096\nfile 81920\ninactive_file 40960\nactive_file 40960\n";
    EXPECT_EQ(parse_memory_stat(stat, "inactive_file"), 40960);
    EXPECT_EQ(parse_memory_stat(stat, "file"), 81920);
    EXPECT_EQ(parse_memory_stat(stat, "shmem"), std::nullopt);
    EXPECT_EQ(parse_memory_stat("total_inactive_file 7\n", "inactive_file"), std::nullopt);
}

TEST(MemoryLimit, AddressSpaceLeftUnderALimit)
{
    EXPECT_EQ(address_space_left(3 * GiB, 100 * MiB), 3 * GiB - 100 * MiB);
    EXPECT_EQ(address_space_left(3 * GiB, std::nullopt), 3 * GiB);
    EXPECT_EQ(address_space_left(GiB, 2 * GiB), 0);
}

TEST(MemoryLimit, TheSmallestRoomOfTheGroupAndItsAncestorsWins)
{
    const FileReader read = file_map({
        {"/proc/self/cgroup", "0::/jobs/pi\n"},
        {"/proc/self/mountinfo", UNIFIED_MOUNTS},
        {"/sys/fs/cgroup/jobs/pi/memory.max", "1073741824\n"},
        {"/sys/fs/cgroup/jobs/pi/memory.current", "314572800\n"},  // 300 MiB, 100 of them inactive files
        {"/sys/fs/cgroup/jobs/pi/memory.stat", "anon 209715200\ninactive_file 104857600\n"},
        {"/sys/fs/cgroup/jobs/memory.max", "max\n"},
        {"/sys/fs/cgroup/jobs/memory.current", "4294967296\n"},
    });
    EXPECT_EQ(cgroup_memory_available(read), GiB - 200 * MiB);

    const FileReader tighter_parent = file_map({
        {"/proc/self/cgroup", "0::/jobs/pi\n"},
        {"/proc/self/mountinfo", UNIFIED_MOUNTS},
        {"/sys/fs/cgroup/jobs/pi/memory.max", "1073741824\n"},
        {"/sys/fs/cgroup/jobs/pi/memory.current", "0\n"},
        {"/sys/fs/cgroup/jobs/memory.max", "536870912\n"},
        {"/sys/fs/cgroup/jobs/memory.current", "419430400\n"},
    });
    EXPECT_EQ(cgroup_memory_available(tighter_parent), 112 * MiB);

    const FileReader over_the_limit = file_map({
        {"/proc/self/cgroup", "0::/\n"},
        {"/proc/self/mountinfo", UNIFIED_MOUNTS},
        {"/sys/fs/cgroup/memory.max", "1048576\n"},
        {"/sys/fs/cgroup/memory.current", "2097152\n"},
    });
    EXPECT_EQ(cgroup_memory_available(over_the_limit), 0);
}

TEST(MemoryLimit, VersionOneLimitsAndNoLimitAnywhere)
{
    const char* const mounts = "34 30 0:31 / /sys/fs/cgroup/memory rw - cgroup cgroup rw,memory\n";
    const FileReader read = file_map({
        {"/proc/self/cgroup", "4:memory:/batch\n0::/\n"},
        {"/proc/self/mountinfo", mounts},
        {"/sys/fs/cgroup/memory/batch/memory.limit_in_bytes", "268435456\n"},
        {"/sys/fs/cgroup/memory/batch/memory.usage_in_bytes", "67108864\n"},
        {"/sys/fs/cgroup/memory/batch/memory.stat", "cache 0\ntotal_inactive_file 16777216\n"},
        {"/sys/fs/cgroup/memory/memory.limit_in_bytes", "9223372036854771712\n"},
        {"/sys/fs/cgroup/memory/memory.usage_in_bytes", "3563520\n"},
    });
    EXPECT_EQ(cgroup_memory_available(read), 208 * MiB);

    const FileReader unlimited = file_map({
        {"/proc/self/cgroup", "4:memory:/\n"},
        {"/proc/self/mountinfo", mounts},
        {"/sys/fs/cgroup/memory/memory.limit_in_bytes", "9223372036854771712\n"},
        {"/sys/fs/cgroup/memory/memory.usage_in_bytes", "3563520\n"},
    });
    EXPECT_EQ(cgroup_memory_available(unlimited), std::nullopt);
    EXPECT_EQ(cgroup_memory_available(file_map({})), std::nullopt);
}

TEST(MemoryLimit, AnAddressSpaceLimitLeavesItsRoomLessWhatIsMappedAndWhatThreadsWillMap)
{
#if !defined(__linux__)
    GTEST_SKIP() << "the address space in use is known only on Linux";
#endif
    // In a child, so that the limit binds nothing else. The room is checked
    // against a limit 256 MiB above what is mapped; every other limit of
    // this machine is measured first, as it may be tighter still.
    int channel[2];
    ASSERT_EQ(pipe(channel), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(channel[0]);
        int64_t figures[4] = {-1, -1, -1, -1};
        rlimit unlimited{RLIM_INFINITY, RLIM_INFINITY};
        setrlimit(RLIMIT_AS, &unlimited);
        figures[0] = available_memory_bytes(0);
        const std::optional<std::string> status = read_whole_file("/proc/self/status");
        const std::optional<int64_t> mapped = status ? parse_vm_size(*status) : std::nullopt;
        if (mapped) {
            const rlimit limit{rlim_t(*mapped + 256 * MiB), rlim_t(*mapped + 256 * MiB)};
            if (setrlimit(RLIMIT_AS, &limit) == 0) {
                figures[1] = available_memory_bytes(0);
                figures[3] = available_memory_bytes(2);
            }
        }
        figures[2] = mapped.value_or(-1);
        (void)!write(channel[1], figures, sizeof figures);
        _exit(0);
    }
    close(channel[1]);
    int64_t figures[4] = {-1, -1, -1, -1};
    const ssize_t got = read(channel[0], figures, sizeof figures);
    close(channel[0]);
    waitpid(child, nullptr, 0);
    ASSERT_EQ(got, ssize_t{sizeof figures});
    ASSERT_GT(figures[2], 0) << "no VmSize in /proc/self/status";
    const int64_t other_limits = figures[0];
    ASSERT_GE(figures[1], 0) << "the limit could not be set";
    EXPECT_LE(figures[1], 256 * MiB);
    EXPECT_LE(figures[1], other_limits);
    // Reading the files maps a little more; nothing else runs in the child.
    EXPECT_GE(figures[1], std::min(240 * MiB, other_limits / 2));
    // Two threads to start take their stacks and arenas from the room.
    if (figures[1] < other_limits) {
        EXPECT_NEAR(figures[1] - figures[3], std::min(figures[1], 2 * thread_address_space_bytes()), MiB);
    }
}
