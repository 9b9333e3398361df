// What the shared record of things to undo (interruption.cpp) and the
// platform's handler (posix/ and windows/interruption.cpp) give each other.
#pragma once

#include <cstddef>

// The longest temporary file path the handler keeps, in bytes with its
// terminating NUL; a longer one is not removed when the program is
// interrupted. The path is kept in a fixed buffer because the handler may not
// allocate: a POSIX signal handler must not, and exit_at_once runs when memory
// has been refused.
inline constexpr size_t GUARDED_PATH_CAPACITY = 4096;

// Undoes what the program has left on the terminal and the disk: erases the
// status line, puts the terminal's input mode back and removes the temporary
// file. For the handler and exit_at_once, once they hold interruptions off;
// on POSIX it is async-signal-safe.
void undo_for_exit();

// Removes the temporary file at path (UTF-8) for undo_for_exit, with the
// platform's call: unlink on POSIX, DeleteFileW on Windows. Allocates nothing
// and, on POSIX, is async-signal-safe.
void remove_temporary_file(const char* path);
