// Finding the directories of the process's control groups from the texts of
// /proc/self/cgroup and /proc/self/mountinfo, for the layouts that hosts and
// containers have.
#include "cgroup.hpp"
#include "system_files.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Directories = std::vector<std::string>;

// A host with only the unified hierarchy, as systemd sets it up.
const char* const UNIFIED_MOUNTS =
    "22 1 0:21 / /proc rw,nosuid,nodev,noexec,relatime shared:12 - proc proc rw\n"
    "35 24 0:30 / /sys/fs/cgroup rw,nosuid,nodev,noexec,relatime shared:9 - cgroup2 cgroup2 "
    "rw,nsdelegate,memory_recursiveprot\n";

// A host with the v1 hierarchies and the unified one beside them, and cpu
// sharing a hierarchy with cpuacct.
const char* const HYBRID_MOUNTS =
    "30 22 0:27 / /sys/fs/cgroup rw,relatime - tmpfs tmpfs rw,mode=755\n"
    "31 30 0:28 / /sys/fs/cgroup/cpu,cpuacct rw,relatime shared:11 - cgroup cgroup rw,cpu,cpuacct\n"
    "33 30 0:30 / /sys/fs/cgroup/cpuset rw,relatime shared:13 - cgroup cgroup rw,cpuset\n"
    "34 30 0:31 / /sys/fs/cgroup/memory rw,relatime shared:14 - cgroup cgroup rw,memory\n"
    "40 30 0:37 / /sys/fs/cgroup/unified rw,relatime shared:20 - cgroup2 cgroup2 rw\n";

const char* const HYBRID_GROUPS =
    "5:cpuset:/\n"
    "4:memory:/batch/job7\n"
    "3:cpu,cpuacct:/batch\n"
    "0::/batch/job7\n";

}  // namespace

TEST(Cgroup, UnifiedGroupAndItsAncestorsUpToTheMountPoint)
{
    EXPECT_EQ(cgroup_v2_directories("0::/user.slice/user-1000.slice/session-2.scope\n", UNIFIED_MOUNTS),
              (Directories{"/sys/fs/cgroup/user.slice/user-1000.slice/session-2.scope",
                           "/sys/fs/cgroup/user.slice/user-1000.slice", "/sys/fs/cgroup/user.slice",
                           "/sys/fs/cgroup"}));
    EXPECT_EQ(cgroup_v2_directories("0::/\n", UNIFIED_MOUNTS), Directories{"/sys/fs/cgroup"});
    EXPECT_EQ(cgroup_v2_directories("0::/a/\n", UNIFIED_MOUNTS), (Directories{"/sys/fs/cgroup/a", "/sys/fs/cgroup"}));
}

TEST(Cgroup, NoUnifiedGroupOrNoUnifiedMountGivesNoDirectories)
{
    EXPECT_EQ(cgroup_v2_directories("4:memory:/x\n", UNIFIED_MOUNTS), Directories{});
    EXPECT_EQ(cgroup_v2_directories("0::/x\n", "30 22 0:27 / /sys/fs/cgroup rw - tmpfs tmpfs rw\n"), Directories{});
    EXPECT_EQ(cgroup_v2_directories("", ""), Directories{});
    EXPECT_EQ(cgroup_v1_directories("0::/x\n", HYBRID_MOUNTS, "memory"), Directories{});
}

TEST(Cgroup, HybridHostsKeepEachControllerInItsOwnHierarchy)
{
    EXPECT_EQ(cgroup_v2_directories(HYBRID_GROUPS, HYBRID_MOUNTS),
              (Directories{"/sys/fs/cgroup/unified/batch/job7", "/sys/fs/cgroup/unified/batch",
                           "/sys/fs/cgroup/unified"}));
    EXPECT_EQ(cgroup_v1_directories(HYBRID_GROUPS, HYBRID_MOUNTS, "memory"),
              (Directories{"/sys/fs/cgroup/memory/batch/job7", "/sys/fs/cgroup/memory/batch",
                           "/sys/fs/cgroup/memory"}));
    // "cpu" is one controller of "cpu,cpuacct" and neither "cpuset" nor "cpuacct".
    EXPECT_EQ(cgroup_v1_directories(HYBRID_GROUPS, HYBRID_MOUNTS, "cpu"),
              (Directories{"/sys/fs/cgroup/cpu,cpuacct/batch", "/sys/fs/cgroup/cpu,cpuacct"}));
    EXPECT_EQ(cgroup_v1_directories(HYBRID_GROUPS, HYBRID_MOUNTS, "cpuset"), Directories{"/sys/fs/cgroup/cpuset"});
    EXPECT_EQ(cgroup_v1_directories(HYBRID_GROUPS, HYBRID_MOUNTS, "pids"), Directories{});
}

TEST(Cgroup, AContainerSeesItsOwnGroupAtTheMountPoint)
{
    // Without a cgroup namespace the container's group is named in full, and
    // the mount shows that group (field 4) at /sys/fs/cgroup.
    const char* const mounts =
        "612 598 0:26 /system.slice/docker-4f2a.scope /sys/fs/cgroup ro,nosuid,nodev,noexec,relatime - cgroup2 "
        "cgroup rw\n"
        "620 598 0:31 /docker/4f2a /sys/fs/cgroup/memory ro,nosuid,nodev,noexec,relatime master:17 - cgroup "
        "cgroup rw,memory\n";
    EXPECT_EQ(cgroup_v2_directories("0::/system.slice/docker-4f2a.scope\n", mounts), Directories{"/sys/fs/cgroup"});
    EXPECT_EQ(cgroup_v2_directories("0::/system.slice/docker-4f2a.scope/inner\n", mounts),
              (Directories{"/sys/fs/cgroup/inner", "/sys/fs/cgroup"}));
    EXPECT_EQ(cgroup_v1_directories("9:memory:/docker/4f2a\n", mounts, "memory"),
              Directories{"/sys/fs/cgroup/memory"});
    // A group outside what the mount shows cannot be read, and a name that
    // merely begins like the mount's group is another group.
    EXPECT_EQ(cgroup_v2_directories("0::/system.slice/other.scope\n", mounts), Directories{});
    EXPECT_EQ(cgroup_v2_directories("0::/system.slice/docker-4f2a.scope2\n", mounts), Directories{});
}

TEST(Cgroup, EscapedMountPointsAreRead)
{
    EXPECT_EQ(cgroup_v2_directories("0::/a\n", "35 24 0:30 / /srv/cg\\040root rw shared:9 - cgroup2 cgroup2 rw\n"),
              (Directories{"/srv/cg root/a", "/srv/cg root"}));
}

TEST(Cgroup, IntegersWithWhiteSpaceAroundThem)
{
    EXPECT_EQ(parse_integer("100000\n"), 100000);
    EXPECT_EQ(parse_integer(" -1\n"), -1);
    EXPECT_EQ(parse_integer("9223372036854771712\n"), int64_t{9223372036854771712});
    EXPECT_EQ(parse_integer("max\n"), std::nullopt);
    EXPECT_EQ(parse_integer("12 kB"), std::nullopt);
    EXPECT_EQ(parse_integer(""), std::nullopt);
    EXPECT_EQ(parse_integer("99999999999999999999"), std::nullopt);
}
