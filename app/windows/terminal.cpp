// A Windows console draws the erase-line sequence only with virtual-terminal
// processing on; it is turned on for the status line where the console
// allows it and put back as it was when the line is erased. Where it cannot
// be turned on, a carriage return and spaces over the old text do the same.
#include "terminal.hpp"

#include <atomic>
#include <string>
#include <windows.h>

namespace {

// What the first drawing found and changed; the interruption handler's
// thread reads it too.
std::atomic<bool> prepared{false};
std::atomic<bool> virtual_terminal{false};
std::atomic<bool> mode_changed{false};
std::atomic<DWORD> saved_mode{0};
std::atomic<size_t> drawn_length{0};

HANDLE error_handle()
{
    return GetStdHandle(STD_ERROR_HANDLE);
}

void write_to_console(const std::string& text)
{
    DWORD written;
    WriteFile(error_handle(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

void prepare_console()
{
    DWORD mode;
    if (prepared.exchange(true) || !GetConsoleMode(error_handle(), &mode))
        return;
    saved_mode = mode;
    if (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) {
        virtual_terminal = true;
    } else if (SetConsoleMode(error_handle(), mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING)) {
        virtual_terminal = true;
        mode_changed = true;
    }
}

}  // namespace

bool status_line_possible()
{
    DWORD mode;
    return GetConsoleMode(error_handle(), &mode) != 0;
}

void draw_status_line(std::string_view text)
{
    prepare_console();
    std::string line;
    line.append(virtual_terminal ? std::string_view(ERASE_LINE) : std::string_view("\r"));
    line.append(text);
    const size_t drawn = drawn_length.exchange(text.size());
    if (!virtual_terminal && drawn > text.size())
        line.append(drawn - text.size(), ' ');
    write_to_console(line);
}

void erase_status_line()
{
    if (!prepared.exchange(false))
        return;
    std::string line;
    if (virtual_terminal) {
        line.append(ERASE_LINE);
    } else {
        line.append(1, '\r');
        line.append(drawn_length.load(), ' ');
        line.append(1, '\r');
    }
    write_to_console(line);
    drawn_length = 0;
    if (mode_changed.exchange(false))
        SetConsoleMode(error_handle(), saved_mode);
    virtual_terminal = false;
}
