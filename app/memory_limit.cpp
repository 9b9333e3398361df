// Each limit is read where the system keeps it and the tightest one wins.
// The address space limit counts every mapping, so what the process has
// mapped already (its VmSize) is taken off; the cgroup limits count the
// group's pages, so its usage is taken off, less the inactive file cache that
// the kernel reclaims before it would refuse memory.
#include "memory_limit.hpp"

#include "cgroup.hpp"

#include <algorithm>

namespace {

// v1 shows no limit as the largest page count in bytes, just below 2^63;
// no machine has 2^62 bytes.
constexpr int64_t NO_LIMIT_FROM = int64_t{1} << 62;

// The value of a "Name:   1234 kB" line, in bytes.
std::optional<int64_t> kibibyte_field(std::string_view text, std::string_view name)
{
    const std::optional<std::string_view> value = line_value(text, name, ':');
    if (!value)
        return std::nullopt;
    const std::optional<int64_t> kibibytes = parse_integer(value->substr(0, value->rfind("kB")));
    if (!kibibytes || *kibibytes < 0 || *kibibytes > INT64_MAX / 1024)
        return std::nullopt;
    return *kibibytes * 1024;
}

// The room under one group's limit.
std::optional<int64_t> room_in_group(const FileReader& read, const std::string& directory, const char* limit_file,
                                     const char* usage_file, const char* inactive_field)
{
    const std::optional<std::string> limit_text = read(directory + "/" + limit_file);
    const std::optional<int64_t> limit = limit_text ? parse_memory_value(*limit_text) : std::nullopt;
    if (!limit)
        return std::nullopt;
    const std::optional<std::string> usage_text = read(directory + "/" + usage_file);
    int64_t usage = usage_text ? parse_memory_value(*usage_text).value_or(0) : 0;
    if (const std::optional<std::string> stat = read(directory + "/memory.stat"))
        usage -= std::min(usage, parse_memory_stat(*stat, inactive_field).value_or(0));
    return std::max<int64_t>(0, *limit - usage);
}

}  // namespace

std::optional<int64_t> parse_vm_size(std::string_view status)
{
    return kibibyte_field(status, "VmSize");
}

std::optional<int64_t> parse_mem_available(std::string_view meminfo)
{
    return kibibyte_field(meminfo, "MemAvailable");
}

std::optional<int64_t> parse_memory_value(std::string_view text)
{
    const std::optional<int64_t> value = parse_integer(text);
    if (!value || *value < 0 || *value >= NO_LIMIT_FROM)
        return std::nullopt;
    return value;
}

std::optional<int64_t> parse_memory_stat(std::string_view stat, std::string_view name)
{
    const std::optional<std::string_view> value = line_value(stat, name, ' ');
    return value ? parse_memory_value(*value) : std::nullopt;
}

int64_t address_space_left(int64_t limit, std::optional<int64_t> in_use)
{
    return std::max<int64_t>(0, limit - std::min(limit, in_use.value_or(0)));
}

std::optional<int64_t> cgroup_memory_available(const FileReader& read)
{
    return tightest_group_limit<int64_t>(
        read, "memory",
        [&](const std::string& directory) {
            return room_in_group(read, directory, "memory.max", "memory.current", "inactive_file");
        },
        [&](const std::string& directory) {
            return room_in_group(read, directory, "memory.limit_in_bytes", "memory.usage_in_bytes",
                                 "total_inactive_file");
        });
}
