// The memory this process can still have, known before a large run starts:
// a run that cannot fit is refused at once, not failed or killed after
// minutes of work.
#pragma once

#include "system_files.hpp"

#include <cstdint>
#include <optional>
#include <string_view>

// Bytes of the "VmSize:" line of /proc/self/status: the address space in use.
std::optional<int64_t> parse_vm_size(std::string_view status);

// Bytes of the "MemAvailable:" line of /proc/meminfo.
std::optional<int64_t> parse_mem_available(std::string_view meminfo);

// A cgroup memory figure (memory.max, memory.current, memory.limit_in_bytes,
// memory.usage_in_bytes). "max", and the huge number v1 shows for no limit,
// are nothing.
std::optional<int64_t> parse_memory_value(std::string_view text);

// The value of one "name value" line of memory.stat.
std::optional<int64_t> parse_memory_stat(std::string_view stat, std::string_view name);

// What an address space limit leaves when in_use bytes are mapped already
// (all of it when that is not known), never below 0.
int64_t address_space_left(int64_t limit, std::optional<int64_t> in_use);

// The smallest room left under the memory limits of the process's groups and
// their ancestors, in both hierarchies, read through read: the limit less the
// group's usage, not counting the file cache the kernel can drop (inactive
// files). Nothing when no group sets a limit.
std::optional<int64_t> cgroup_memory_available(const FileReader& read);

// The address space a thread maps that the run's count of its memory leaves
// out: its stack and, with glibc, its own malloc arena's reservation. Under
// an address space limit only the reservation counts, resident or not.
int64_t thread_address_space_bytes();

// The smallest of the address space left under RLIMIT_AS, less what
// threads_started further threads will map, and, on Linux, the memory the
// kernel reports available and the room under the cgroup limits; on
// Windows, the smaller of what is left of the commit limit and of the
// address space. INT64_MAX when nothing limits.
int64_t available_memory_bytes(int32_t threads_started);
