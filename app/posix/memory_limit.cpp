// The limits a POSIX process can see before it allocates: its address space
// limit and, on Linux, the memory the kernel reports available and the room
// under its control groups' limits.
#include "memory_limit.hpp"

#include <algorithm>
#include <sys/resource.h>

int64_t available_memory_bytes()
{
    std::optional<int64_t> available;
    rlimit address_space{};
    if (getrlimit(RLIMIT_AS, &address_space) == 0 && address_space.rlim_cur != RLIM_INFINITY) {
        const int64_t limit = static_cast<int64_t>(std::min<rlim_t>(address_space.rlim_cur, INT64_MAX));
        std::optional<int64_t> in_use;
#if defined(__linux__)
        if (const std::optional<std::string> status = read_whole_file("/proc/self/status"))
            in_use = parse_vm_size(*status);
#endif
        available = address_space_left(limit, in_use);
    }
#if defined(__linux__)
    if (const std::optional<std::string> meminfo = read_whole_file("/proc/meminfo"))
        available = tighter_limit(available, parse_mem_available(*meminfo));
    available = tighter_limit(available, cgroup_memory_available(read_whole_file));
#endif
    return available.value_or(INT64_MAX);
}
