// Where the limits of this process's control groups (Linux cgroups) can be
// read. The texts of /proc/self/cgroup and /proc/self/mountinfo are parsed by
// pure functions, so that tests can feed them every layout: the unified (v2)
// hierarchy alone, the v1 hierarchies alone or both, and containers that see
// a hierarchy mounted from one of its inner groups.
#pragma once

#include "system_files.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The directories of the unified hierarchy whose limits bind this process:
// its own group's first, then each ancestor's up to the root of the hierarchy
// as mounted. Empty when the process is in no v2 group or the hierarchy is not
// mounted where its group can be seen.
std::vector<std::string> cgroup_v2_directories(std::string_view self_cgroup, std::string_view mountinfo);

// The same for the v1 hierarchy that holds controller ("cpu", "memory").
std::vector<std::string> cgroup_v1_directories(std::string_view self_cgroup, std::string_view mountinfo,
                                               std::string_view controller);

// The directories whose limits bind this process for one controller, read
// through read from /proc/self/cgroup and /proc/self/mountinfo: those of the
// unified hierarchy and those of the v1 hierarchy that holds controller.
// Nothing when either file cannot be read.
struct CgroupDirectories {
    std::vector<std::string> unified;
    std::vector<std::string> v1;
};
std::optional<CgroupDirectories> cgroup_directories(const FileReader& read, std::string_view controller);

// The tightest limit for one controller among the process's groups and their
// ancestors, in both hierarchies, read through read: unified_limit(directory)
// for each directory of the unified hierarchy, v1_limit(directory) for each of
// the v1 one, each an optional Number that is empty where that group sets no
// limit. Nothing when none does or the groups cannot be found.
template <typename Number, typename UnifiedLimit, typename V1Limit>
std::optional<Number> tightest_group_limit(const FileReader& read, std::string_view controller,
                                           UnifiedLimit unified_limit, V1Limit v1_limit)
{
    const std::optional<CgroupDirectories> groups = cgroup_directories(read, controller);
    if (!groups)
        return std::nullopt;
    std::optional<Number> limit;
    for (const std::string& directory : groups->unified)
        limit = tighter_limit<Number>(limit, unified_limit(directory));
    for (const std::string& directory : groups->v1)
        limit = tighter_limit<Number>(limit, v1_limit(directory));
    return limit;
}
