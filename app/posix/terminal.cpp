// A POSIX terminal understands the erase-line sequence, so each drawing starts
// with it and erasing is the sequence alone. Only write() is used, so erasing
// is async-signal-safe.
#include "terminal.hpp"

#include <string>
#include <unistd.h>

namespace {

void write_to_terminal(std::string_view text)
{
    (void)!write(STDERR_FILENO, text.data(), text.size());
}

}  // namespace

bool status_line_possible()
{
    return isatty(STDERR_FILENO) != 0;
}

void draw_status_line(std::string_view text)
{
    std::string line(ERASE_LINE);
    line += text;
    write_to_terminal(line);
}

void erase_status_line()
{
    write_to_terminal(ERASE_LINE);
}
