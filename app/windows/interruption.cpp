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

#include "interruption_cleanup.hpp"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <windows.h>

namespace {

std::recursive_mutex step_lock;

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

void remove_temporary_file(const char* path)
{
    // UTF-16 takes no more units than UTF-8 takes bytes (an invalid byte
    // becomes one replacement character), so the wide path fits a buffer of
    // the same length.
    wchar_t wide[GUARDED_PATH_CAPACITY];
    if (MultiByteToWideChar(CP_UTF8, 0, path, -1, wide, GUARDED_PATH_CAPACITY) > 0)
        DeleteFileW(wide);
}

void install_interruption_handlers()
{
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

InterruptionBlock::InterruptionBlock()
{
    step_lock.lock();
}

InterruptionBlock::~InterruptionBlock()
{
    step_lock.unlock();
}
