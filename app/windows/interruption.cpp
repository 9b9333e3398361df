// Windows delivers Ctrl-C, Ctrl-Break and the closing of the console to a
// handler that runs in a thread of its own while the program goes on. The
// handler takes the lock that InterruptionBlock holds, so it cleans up only
// between steps, never in the middle of one; it never gives the lock back,
// because it ends the process.
//
// The process ends with STATUS_CONTROL_C_EXIT, the status the system's own
// handling of these events gives, so that cmd and scripts see an interrupted
// program. TerminateProcess ends it at once: the computing threads stop where
// they are and nothing half-done is flushed out.
#include "interruption.hpp"

#include "terminal.hpp"
#include "windows/system_error.hpp"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <windows.h>

namespace {

std::recursive_mutex step_lock;

std::wstring temporary_path;  // guarded by step_lock
std::atomic<void (*)()> restore_terminal{nullptr};
std::atomic<bool> status_line_shown{false};

// Undoes what the program has left on the console and the disk; the caller
// holds step_lock.
void undo_for_exit()
{
    if (status_line_shown.load())
        erase_status_line();
    if (void (*const restore)() = restore_terminal.load())
        restore();
    if (!temporary_path.empty())
        DeleteFileW(temporary_path.c_str());
}

BOOL WINAPI on_console_event(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        break;
    default:
        return FALSE;
    }
    step_lock.lock();
    undo_for_exit();
    TerminateProcess(GetCurrentProcess(), STATUS_CONTROL_C_EXIT);
    return TRUE;
}

}  // namespace

void exit_at_once(const char* message)
{
    step_lock.lock();
    undo_for_exit();
    std::fprintf(stderr, "pi: %s\n", message);
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 1);
    std::_Exit(1);  // TerminateProcess does not return for the process itself
}

void install_interruption_handlers()
{
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

void interruption_guard_temporary_file(const char* path)
{
    const std::lock_guard lock(step_lock);
    temporary_path = path == nullptr ? std::wstring() : wide_path(path);
}

void interruption_guard_terminal(void (*restore)())
{
    restore_terminal.store(restore);
}

void interruption_guard_status_line(bool shown)
{
    status_line_shown.store(shown);
}

InterruptionBlock::InterruptionBlock()
{
    step_lock.lock();
}

InterruptionBlock::~InterruptionBlock()
{
    step_lock.unlock();
}
