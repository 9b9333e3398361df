// The text Windows gives for one of its error codes, as FormatMessageW says
// it, in UTF-8 and without the line end the system appends.
#pragma once

#include <string>
#include <windows.h>

std::string system_error_text(DWORD error_code);

// A UTF-8 name as the wide string the Windows API takes.
std::wstring wide_path(const std::string& path);
