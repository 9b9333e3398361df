// The temporary file lives beside the file it replaces so that MoveFileExW
// swaps them in one step: a reader, a crash or a full disk sees either the
// old file or the new one. The text goes out with CR LF line ends, as a
// text-mode stream writes them on Windows.
#include "file_replace.hpp"

#include "file_writing.hpp"
#include "interruption.hpp"
#include "windows/system_error.hpp"

#include <windows.h>

namespace {

[[noreturn]] void fail(std::string_view what, const std::string& path, DWORD error_code)
{
    throw_file_error(what, path, system_error_text(error_code));
}

// Tries before giving up on a free temporary name; the names come from the
// clock and the process id, so a clash means another run picked the same
// name at the same moment.
constexpr int NAME_ATTEMPTS = 100;
constexpr char NAME_CHARACTERS[] = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
constexpr int NAME_SUFFIX_LENGTH = 6;  // as mkstemp's XXXXXX elsewhere

std::string temporary_name(const std::string& path, int attempt)
{
    uint64_t seed = GetTickCount64() * 0x9E3779B97F4A7C15u ^ (uint64_t{GetCurrentProcessId()} << 20) ^
                    static_cast<uint64_t>(attempt) * 0xBF58476D1CE4E5B9u;
    std::string name = path + ".";
    for (int i = 0; i < NAME_SUFFIX_LENGTH; ++i) {
        name += NAME_CHARACTERS[seed % (sizeof NAME_CHARACTERS - 1)];
        seed /= sizeof NAME_CHARACTERS - 1;
    }
    return name;
}

// Creates a temporary file that did not exist before, and notes it for the
// interruption handler in the same step. Returns its handle and its name.
HANDLE create_temporary(const std::string& path, std::string& temporary)
{
    for (int attempt = 0; attempt < NAME_ATTEMPTS; ++attempt) {
        temporary = temporary_name(path, attempt);
        InterruptionBlock block;
        const HANDLE file = CreateFileW(wide_path(temporary).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        const DWORD error = GetLastError();
        if (file != INVALID_HANDLE_VALUE) {
            interruption_guard_temporary_file(temporary.c_str());
            return file;
        }
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
            fail("create a temporary file for", path, error);
    }
    fail("create a temporary file for", path, ERROR_FILE_EXISTS);
}

// A write may take only part of the bytes (a disk that fills up takes what
// fits); the rest goes in the next one, which then says why it failed.
size_t write_some(HANDLE file, std::string_view bytes, const std::string& temporary)
{
    DWORD written = 0;
    if (!WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr))
        fail("write", temporary, GetLastError());
    if (written == 0)
        fail("write", temporary, ERROR_DISK_FULL);
    return written;
}

// Each chunk of the text is written with CR LF line ends from a buffer of its
// own, at most twice the chunk's size, rather than from a converted copy of
// the whole text.
void write_text(HANDLE file, std::string_view contents, const std::string& temporary)
{
    std::string converted;
    write_in_chunks(contents, [&](std::string_view chunk) {
        converted.clear();
        for (const char c : chunk) {
            if (c == '\n')
                converted += '\r';
            converted += c;
        }
        write_in_chunks(converted, [&](std::string_view bytes) { return write_some(file, bytes, temporary); });
        return chunk.size();
    });
}

}  // namespace

void replace_file(const std::string& path, std::string_view contents)
{
    // MoveFileExW refuses to replace a directory or a read-only file with
    // ERROR_ACCESS_DENIED. Asked first, nothing is written in vain, and the
    // answer is the same where the rename would let a read-only file go
    // (Wine does).
    const DWORD attributes = GetFileAttributesW(wide_path(path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0)
        fail("replace", path, ERROR_ACCESS_DENIED);

    std::string temporary;
    HANDLE file = create_temporary(path, temporary);
    try {
        write_text(file, contents, temporary);
        if (!FlushFileBuffers(file))
            fail("flush", temporary, GetLastError());
        const BOOL closed = CloseHandle(file);
        file = INVALID_HANDLE_VALUE;
        if (!closed)
            fail("close", temporary, GetLastError());
        InterruptionBlock block;
        if (!MoveFileExW(wide_path(temporary).c_str(), wide_path(path).c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            fail("replace", path, GetLastError());
        interruption_guard_temporary_file(nullptr);
    } catch (...) {
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        InterruptionBlock block;
        DeleteFileW(wide_path(temporary).c_str());
        interruption_guard_temporary_file(nullptr);
        throw;
    }
}
