#include "last_key.hpp"

#include "interruption.hpp"

#include <termios.h>
#include <unistd.h>

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
    interruption_guard_terminal(fd, &saved);
    tcsetattr(fd, TCSANOW, &single_key);
    const int key = std::getc(input);
    tcsetattr(fd, TCSANOW, &saved);
    interruption_guard_terminal(fd, nullptr);
    return key;
}
