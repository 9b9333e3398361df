// Standard error as a terminal that shows a status line: one line of text
// redrawn in place while the computation runs. A status line never goes into
// a pipe or a file.
#pragma once

#include <string_view>

// Whether standard error is a terminal (on Windows, a console).
bool status_line_possible();

// Replaces the status line with text (one line, no line end). The first
// drawing prepares the terminal where that is needed.
void draw_status_line(std::string_view text);

// Erases the status line and puts the terminal's output mode back as it was.
// Safe to call from the interruption handler.
void erase_status_line();
