// The temporary file lives beside the file it replaces so that MoveFileExW
// swaps them in one step: a reader, a crash or a full disk sees either the
// old file or the new one, and the space reserved is on the file's own
// disk. The text goes out with CR LF line ends, as a text-mode stream writes
// them on Windows.
#include "file_replace.hpp"

#include "file_writing.hpp"
#include "interruption.hpp"
#include "windows/system_error.hpp"

#include <windows.h>

#include <utility>

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
        // FILE_SHARE_DELETE lets the interruption handler delete the file
        // while this handle is open: it goes when the ending process closes
        // the handle.
        const HANDLE file = CreateFileW(wide_path(temporary).c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                                        CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
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
// the whole text. Returns the bytes written.
int64_t write_text(HANDLE file, std::string_view contents, const std::string& temporary)
{
    std::string converted;
    int64_t written = 0;
    write_in_chunks(contents, [&](std::string_view chunk) {
        converted.clear();
        for (const char c : chunk) {
            if (c == '\n')
                converted += '\r';
            converted += c;
        }
        write_in_chunks(converted, [&](std::string_view bytes) { return write_some(file, bytes, temporary); });
        written += static_cast<int64_t>(converted.size());
        return chunk.size();
    });
    return written;
}

// The directory a path's file lies in, for asking after its free space.
std::string directory_of(const std::string& path)
{
    const size_t separator = path.find_last_of("\\/");
    return separator == std::string::npos ? std::string(".") : path.substr(0, separator + 1);
}

// Takes the file's bytes on disk before anything is written. An allocation
// size reserves them, quotas included, without writing a byte or moving the
// end of the file. Where the file system refuses to be asked, the free space
// the caller may use has to hold them.
void reserve(HANDLE file, int64_t bytes, const std::string& path)
{
    if (bytes <= 0)
        return;
    FILE_ALLOCATION_INFO allocation{};
    allocation.AllocationSize.QuadPart = bytes;
    if (SetFileInformationByHandle(file, FileAllocationInfo, &allocation, sizeof allocation))
        return;
    const DWORD error = GetLastError();
    if (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL || error == ERROR_NOT_ENOUGH_QUOTA)
        throw_reserve_error(bytes, path, system_error_text(error));
    ULARGE_INTEGER available{};
    if (!GetDiskFreeSpaceExW(wide_path(directory_of(path)).c_str(), &available, nullptr, nullptr))
        throw_reserve_error(bytes, path, system_error_text(GetLastError()));
    if (available.QuadPart < static_cast<uint64_t>(bytes))
        throw_reserve_error(bytes, path, system_error_text(ERROR_DISK_FULL));
}

}  // namespace

struct FileReplacement::Platform {
    std::string path;
    std::string temporary;
    HANDLE file = INVALID_HANDLE_VALUE;
    int64_t announced = 0;  // bytes on disk, CR LF line ends counted
    int64_t written = 0;
    bool committed = false;

    Platform() = default;
    Platform(const Platform&) = delete;
    Platform& operator=(const Platform&) = delete;

    // Until the commit, the temporary file is removed with its replacement,
    // a constructor that throws included.
    ~Platform()
    {
        if (committed || temporary.empty())
            return;
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        InterruptionBlock block;
        DeleteFileW(wide_path(temporary).c_str());
        interruption_guard_temporary_file(nullptr);
    }
};

FileReplacement::FileReplacement(const std::string& path, int64_t text_bytes, int64_t line_ends)
    : platform_(std::make_unique<Platform>())
{
    // MoveFileExW refuses to replace a directory or a read-only file with
    // ERROR_ACCESS_DENIED. Asked first, nothing is computed in vain, and the
    // answer is the same where the rename would let a read-only file go
    // (Wine does).
    const DWORD attributes = GetFileAttributesW(wide_path(path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0)
        fail("replace", path, ERROR_ACCESS_DENIED);

    Platform& replacement = *platform_;
    replacement.path = path;
    replacement.announced = text_bytes + line_ends;
    replacement.file = create_temporary(path, replacement.temporary);
    reserve(replacement.file, replacement.announced, path);
}

FileReplacement::FileReplacement(FileReplacement&&) noexcept = default;
FileReplacement::~FileReplacement() = default;

void FileReplacement::write(std::string_view text)
{
    Platform& replacement = *platform_;
    replacement.written += write_text(replacement.file, text, replacement.temporary);
}

void FileReplacement::commit()
{
    Platform& replacement = *platform_;
    require_announced_size(replacement.path, replacement.written, replacement.announced);
    if (!FlushFileBuffers(replacement.file))
        fail("flush", replacement.temporary, GetLastError());
    const BOOL closed = CloseHandle(std::exchange(replacement.file, INVALID_HANDLE_VALUE));
    if (!closed)
        fail("close", replacement.temporary, GetLastError());
    InterruptionBlock block;
    if (!MoveFileExW(wide_path(replacement.temporary).c_str(), wide_path(replacement.path).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        fail("replace", replacement.path, GetLastError());
    interruption_guard_temporary_file(nullptr);
    replacement.committed = true;
}
