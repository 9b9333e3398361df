// The record of what an interruption must undo, the same on every platform.
// The handler may read only what it can see whole: lock-free atomics, and a
// path buffer that is written only inside an InterruptionBlock (on POSIX, with
// the signals blocked in the one thread that writes files; on Windows, holding
// the lock that the handler takes). Installing the handler, holding
// interruptions off and removing the file are the platform's.
#include "interruption.hpp"

#include "interruption_cleanup.hpp"
#include "terminal.hpp"

#include <atomic>
#include <cstring>

namespace {

// A POSIX signal handler may read atomics only where they need no lock.
static_assert(std::atomic<bool>::is_always_lock_free);
static_assert(std::atomic<void (*)()>::is_always_lock_free);

char temporary_path[GUARDED_PATH_CAPACITY];
std::atomic<bool> temporary_file_exists{false};

std::atomic<void (*)()> restore_terminal{nullptr};

std::atomic<bool> status_line_shown{false};

}  // namespace

void undo_for_exit()
{
    if (status_line_shown.load())
        erase_status_line();
    if (void (*const restore)() = restore_terminal.load())
        restore();
    if (temporary_file_exists.load())
        remove_temporary_file(temporary_path);
}

void interruption_guard_temporary_file(const char* path)
{
    InterruptionBlock block;
    temporary_file_exists.store(false);
    if (path == nullptr || std::strlen(path) >= sizeof temporary_path)
        return;
    std::strcpy(temporary_path, path);
    temporary_file_exists.store(true);
}

void interruption_guard_terminal(void (*restore)())
{
    restore_terminal.store(restore);
}

void interruption_guard_status_line(bool shown)
{
    status_line_shown.store(shown);
}
