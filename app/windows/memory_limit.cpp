// On Windows an allocation fails when it would pass the commit limit (the
// memory and the page files together) or finds no room left in the address
// space; GlobalMemoryStatusEx tells what is left of both.
#include "memory_limit.hpp"

#include <algorithm>
#include <windows.h>

int64_t thread_address_space_bytes()
{
    // A thread reserves the executable's default stack, 1 MiB, and commits
    // only what it touches; the heap serves every thread from one address
    // space it grows as it needs.
    return int64_t{1} << 20;
}

int64_t available_memory_bytes(int32_t threads_started)
{
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    if (!GlobalMemoryStatusEx(&status))
        return INT64_MAX;
    const int64_t threads_bytes = int64_t{std::max(threads_started, 0)} * thread_address_space_bytes();
    const int64_t address_space =
        std::max<int64_t>(0, static_cast<int64_t>(std::min<DWORDLONG>(status.ullAvailVirtual, INT64_MAX)) - threads_bytes);
    return std::min(static_cast<int64_t>(std::min<DWORDLONG>(status.ullAvailPageFile, INT64_MAX)), address_space);
}
