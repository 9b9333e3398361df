// The Windows error texts and wide paths: UTF-8 to and from the UTF-16 that
// the Windows API speaks.
#include "windows/system_error.hpp"

namespace {

std::string utf8(const wchar_t* text, int length)
{
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string converted(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
    if (bytes > 0)
        WideCharToMultiByte(CP_UTF8, 0, text, length, converted.data(), bytes, nullptr, nullptr);
    return converted;
}

}  // namespace

std::string system_error_text(DWORD error_code)
{
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        error_code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    if (length == 0)
        return "error " + std::to_string(error_code);
    std::string message = utf8(text, static_cast<int>(length));
    LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' '))
        message.pop_back();
    return message;
}

std::wstring wide_path(const std::string& path)
{
    const int length = MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0)
        MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), wide.data(), length);
    return wide;
}
