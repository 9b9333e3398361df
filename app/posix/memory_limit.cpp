// The limits a POSIX process can see before it allocates: its address space
// limit and, on Linux, the memory the kernel reports available and the room
// under its control groups' limits.
#include "memory_limit.hpp"

#include <algorithm>
#include <pthread.h>
#include <sys/resource.h>

int64_t thread_address_space_bytes()
{
    // A new thread's stack is mapped whole, at the size threads are given by
    // default: glibc takes RLIMIT_STACK's soft limit, and says which it is;
    // elsewhere 8 MiB stands for it.
    int64_t stack_bytes = int64_t{8} << 20;
#ifdef __GLIBC__
    pthread_attr_t defaults;
    if (pthread_getattr_default_np(&defaults) == 0) {
        size_t size = 0;
        if (pthread_attr_getstacksize(&defaults, &size) == 0 && size > 0)
            stack_bytes = static_cast<int64_t>(size);
        pthread_attr_destroy(&defaults);
    }
    // The first allocation on a thread gives it an arena of its own, which
    // reserves HEAP_MAX_SIZE of address space: twice the largest mmap
    // threshold, 2 × 4 MiB × sizeof(long). (Creating one maps twice that
    // for a moment, but where that fails glibc tries the exact size, and
    // where that fails too the thread shares an arena: no allocation fails
    // for it.)
    const int64_t arena_bytes = 2 * (int64_t{4} << 20) * int64_t{sizeof(long)};
#else
    const int64_t arena_bytes = 0;
#endif
    return stack_bytes + arena_bytes;
}

int64_t available_memory_bytes(int32_t threads_started)
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
        const int64_t threads_bytes = int64_t{std::max(threads_started, 0)} * thread_address_space_bytes();
        available = std::max<int64_t>(0, address_space_left(limit, in_use) - threads_bytes);
    }
#if defined(__linux__)
    if (const std::optional<std::string> meminfo = read_whole_file("/proc/meminfo"))
        available = tighter_limit(available, parse_mem_available(*meminfo));
    available = tighter_limit(available, cgroup_memory_available(read_whole_file));
#endif
    return available.value_or(INT64_MAX);
}
