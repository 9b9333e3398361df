// Ending the program on an interruption without leaving damage: on POSIX
// SIGINT, SIGTERM or SIGHUP, on Windows Ctrl-C, Ctrl-Break and the closing of
// the console. The handler erases the status line, puts the terminal back,
// removes the half-written temporary file, and then ends the process the way
// the interruption itself would have, so that its parent sees it interrupted.
//
// The rest of the program tells the handler what there is to undo; every
// setter is cheap and safe to call at any time.
#pragma once

void install_interruption_handlers();

// The temporary result file to remove if interrupted; nullptr once it is gone
// or renamed.
void interruption_guard_temporary_file(const char* path);

// What puts the terminal's input mode back if interrupted; nullptr once it is
// restored. It must be safe to call from the handler (on POSIX, only
// async-signal-safe calls).
void interruption_guard_terminal(void (*restore)());

// Whether a status line is on standard error and must be erased.
void interruption_guard_status_line(bool shown);

// Ends the process with status 1 from any thread, after the same cleanup as
// an interruption, with "pi: message" on standard error: for failures that
// cannot be unwound, such as memory refused inside GMP.
[[noreturn]] void exit_at_once(const char* message);

// Holds interruptions off in the calling thread for its lifetime (they are
// handled when the outermost block ends), so that a step and the note of what
// it left behind happen together. Blocks may nest.
class InterruptionBlock {
public:
    InterruptionBlock();
    ~InterruptionBlock();
    InterruptionBlock(const InterruptionBlock&) = delete;
    InterruptionBlock& operator=(const InterruptionBlock&) = delete;
};
