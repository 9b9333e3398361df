// Replacing a file so that it is never seen half-written, with its room on
// disk taken before the work that makes its contents: the new contents go to
// a temporary file beside it, reserved at their exact size when it is
// created, then flushed to disk and moved over it.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

// A file could not be written; what() names the file, the step and the
// system's reason.
class FileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The new contents of the file that path leads to, written in pieces and put
// in place by commit(). Text is given with '\n' line ends and written with
// the platform's (as a text-mode stream writes it: CR LF on Windows).
//
// For a regular file, or no file yet, the constructor creates a temporary
// file in the same directory and reserves the bytes the text will take on
// disk, so that a read-only directory, a full disk or a quota is told before
// any of the text is made. commit() flushes it and moves it over the file in
// one step, so any other hard link keeps the old contents. On POSIX, symbolic
// links are followed to the file they name, and a FIFO or a device is opened
// by the first write and gets the text directly (posix/file_target.hpp).
//
// Every failure throws FileError; a replacement destroyed before its commit
// removes its temporary file and leaves the old file as it was.
class FileReplacement {
public:
    // text_bytes counts the text as given, line_ends the '\n' among them.
    FileReplacement(const std::string& path, int64_t text_bytes, int64_t line_ends);
    ~FileReplacement();
    FileReplacement(FileReplacement&&) noexcept;
    FileReplacement& operator=(FileReplacement&&) = delete;
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;

    // Appends text to the new contents.
    void write(std::string_view text);

    // Puts the new contents in place. The text written must come to exactly
    // the bytes announced to the constructor.
    void commit();

private:
    struct Platform;
    std::unique_ptr<Platform> platform_;
};

// Puts the text contents where path leads, in one FileReplacement.
void replace_file(const std::string& path, std::string_view contents);
