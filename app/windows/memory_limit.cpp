// On Windows an allocation fails when it would pass the commit limit (the
// memory and the page files together) or finds no room left in the address
// space; GlobalMemoryStatusEx tells what is left of both.
#include "memory_limit.hpp"

#include <algorithm>
#include <windows.h>

int64_t available_memory_bytes()
{
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    if (!GlobalMemoryStatusEx(&status))
        return INT64_MAX;
    const DWORDLONG room = std::min(status.ullAvailPageFile, status.ullAvailVirtual);
    return static_cast<int64_t>(std::min<DWORDLONG>(room, INT64_MAX));
}
