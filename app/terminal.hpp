// Standard error as a terminal that shows a status line: one line of text
// redrawn in place while the computation runs. A status line never goes into
// a pipe or a file.
#pragma once

#include <string_view>

// The sequence that erases the line the cursor is on: a carriage return, then
// ESC [ K, which clears whatever the line held, however long it was. A POSIX
// terminal understands it, and so does a Windows console with virtual-terminal
// processing on.
inline constexpr char ERASE_LINE[] = "\r\033[K";

// Whether standard error is a terminal (on Windows, a console).
bool status_line_possible();

// Replaces the status line with text (one line, no line end). The first
// drawing prepares the terminal where that is needed.
void draw_status_line(std::string_view text);

// Erases the status line and puts the terminal's output mode back as it was.
// Safe to call from the interruption handler.
void erase_status_line();
