// Sizes are given in bytes and, rounded up, in mebibytes. snprintf into the
// caller's buffer keeps the exit path free of allocation: it runs when
// memory has just been refused.
#include "out_of_memory_report.hpp"

#include "interruption.hpp"

#include <cinttypes>
#include <cstdio>

namespace {

int64_t mebibytes(int64_t bytes)
{
    return (bytes + (int64_t{1} << 20) - 1) >> 20;
}

const char* use_words(MemoryUse use)
{
    return use == MemoryUse::big_integers ? "the big integers" : "the digit arrays";
}

}  // namespace

void format_out_of_memory(const OutOfMemory& refused, char* buffer, size_t buffer_size)
{
    const int written = std::snprintf(buffer, buffer_size, "cannot allocate %" PRId64 " bytes (%" PRId64 " MiB) for %s",
                                      refused.bytes_needed, mebibytes(refused.bytes_needed), use_words(refused.use));
    if (refused.bytes_available < 0 || written < 0 || static_cast<size_t>(written) >= buffer_size)
        return;
    std::snprintf(buffer + written, buffer_size - static_cast<size_t>(written),
                  ": %" PRId64 " bytes (%" PRId64 " MiB) available", refused.bytes_available,
                  mebibytes(refused.bytes_available));
}

void exit_for_refused_memory_now(MemoryUse use, int64_t bytes_requested)
{
    char message[200];
    format_out_of_memory(OutOfMemory(use, bytes_requested), message, sizeof message);
    exit_at_once(message);
}
