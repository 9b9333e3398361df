// What a FileReplacement does the same way on every platform: the loop that
// writes text in bounded chunks, the texts of its errors, and replace_file.
// The platform sources (posix/ and windows/file_replace.cpp) supply the system
// calls and the system's reason for a failure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// Written in chunks, so that a large piece never needs one huge system call
// or buffer.
inline constexpr size_t WRITE_CHUNK = size_t{1} << 16;

// Hands contents to write_some, at most WRITE_CHUNK bytes at a time, until all
// of it is taken. write_some writes the start of what it is given and returns
// how many bytes that was; when it takes none (a write cut short by a signal)
// the same bytes come again. It throws FileError when the system refuses.
void write_in_chunks(std::string_view contents, const std::function<size_t(std::string_view)>& write_some);

// Throws FileError with the text "cannot <what> <path>: <reason>".
[[noreturn]] void throw_file_error(std::string_view what, const std::string& path, const std::string& reason);

// Throws FileError "cannot reserve <bytes> bytes for <path>: <reason>".
[[noreturn]] void throw_reserve_error(int64_t bytes, const std::string& path, const std::string& reason);

// Throws FileError unless the text written came to the bytes announced: a
// file that holds fewer or more bytes than were reserved is never put in
// place.
void require_announced_size(const std::string& path, int64_t written, int64_t announced);
