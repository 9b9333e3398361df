// The last key at a POSIX terminal: non-canonical mode for one read, with
// the saved settings where the interruption handler can put them back.
#include "last_key.hpp"

#include "interruption.hpp"

#include <termios.h>
#include <unistd.h>

namespace {

// Written before the handler is told of them, read only after.
int terminal_fd = -1;
termios saved_settings;

void restore_terminal()
{
    tcsetattr(terminal_fd, TCSANOW, &saved_settings);
}

}  // namespace

int read_last_key(std::FILE* input)
{
    const int fd = fileno(input);
    termios saved;
    if (!isatty(fd) || tcgetattr(fd, &saved) != 0)
        return std::getc(input);

    // Non-canonical mode hands over each key as it is pressed; signals (ISIG)
    // stay on, so Ctrl-C still interrupts, and the handler restores the mode.
    termios single_key = saved;
    single_key.c_lflag &= ~tcflag_t(ICANON | ECHO);
    single_key.c_cc[VMIN] = 1;
    single_key.c_cc[VTIME] = 0;
    terminal_fd = fd;
    saved_settings = saved;
    interruption_guard_terminal(restore_terminal);
    tcsetattr(fd, TCSANOW, &single_key);
    const int key = std::getc(input);
    restore_terminal();
    interruption_guard_terminal(nullptr);
    return key;
}
