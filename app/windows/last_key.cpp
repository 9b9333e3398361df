// The last key at a Windows console: the console's input events are read
// directly, so a key counts as soon as it goes down, without Enter and
// without echo. Keys that only change others (Shift, Ctrl, Alt, the locks)
// do not count. Ctrl-C stays with the interruption handler: processed input
// is kept on while waiting, and the handler restores the saved mode.
#include "last_key.hpp"

#include "interruption.hpp"

#include <io.h>
#include <windows.h>

namespace {

// Written before the handler is told of them, read only after.
HANDLE console_input = INVALID_HANDLE_VALUE;
DWORD saved_mode = 0;

void restore_console()
{
    SetConsoleMode(console_input, saved_mode);
}

bool is_modifier(WORD virtual_key)
{
    switch (virtual_key) {
    case VK_SHIFT:
    case VK_CONTROL:
    case VK_MENU:
    case VK_LWIN:
    case VK_RWIN:
    case VK_CAPITAL:
    case VK_NUMLOCK:
    case VK_SCROLL:
        return true;
    default:
        return false;
    }
}

}  // namespace

int read_last_key(std::FILE* input)
{
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(input)));
    DWORD mode;
    if (handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode))
        return std::getc(input);

    console_input = handle;
    saved_mode = mode;
    interruption_guard_terminal(restore_console);
    SetConsoleMode(handle, (mode | ENABLE_PROCESSED_INPUT) & ~DWORD(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT));
    int key = EOF;
    for (;;) {
        INPUT_RECORD record;
        DWORD count = 0;
        if (!ReadConsoleInputW(handle, &record, 1, &count) || count == 0)
            break;
        if (record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown ||
            is_modifier(record.Event.KeyEvent.wVirtualKeyCode))
            continue;
        key = record.Event.KeyEvent.uChar.UnicodeChar;
        break;
    }
    restore_console();
    interruption_guard_terminal(nullptr);
    return key;
}
