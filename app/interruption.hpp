// Ending the program on SIGINT, SIGTERM or SIGHUP without leaving damage:
// the handler erases the status line, puts the terminal back, removes the
// half-written temporary file, and then lets the signal's default action end
// the process, so that its parent sees it killed by that signal.
//
// The rest of the program tells the handler what there is to undo; every
// setter is cheap and safe to call at any time.
#pragma once

#include <csignal>
#include <termios.h>

void install_interruption_handlers();

// The temporary result file to remove if interrupted; nullptr once it is gone
// or renamed.
void interruption_guard_temporary_file(const char* path);

// Terminal settings to restore on fd if interrupted; nullptr once restored.
void interruption_guard_terminal(int fd, const termios* saved);

// Whether a status line is on standard error and must be erased.
void interruption_guard_status_line(bool shown);

// Ends the process with status 1 from any thread, after the same cleanup as
// an interruption, with "pi: message" on standard error: for failures that
// cannot be unwound, such as memory refused inside GMP.
[[noreturn]] void exit_at_once(const char* message);

// Blocks the interrupting signals in the calling thread for its lifetime, so
// that a step and the note of what it left behind happen together.
class InterruptionBlock {
public:
    InterruptionBlock();
    ~InterruptionBlock();
    InterruptionBlock(const InterruptionBlock&) = delete;
    InterruptionBlock& operator=(const InterruptionBlock&) = delete;

private:
    sigset_t previous_;
};
