// Replacing a file so that it is never seen half-written: the new contents
// go to a temporary file beside it, are flushed to disk and moved over it.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

// A file could not be written; what() names the file, the step and the
// system's reason.
class FileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Puts the text contents where path leads, each '\n' written as the
// platform's line end (as a text-mode stream writes it: CR LF on Windows). A
// file there (or none yet) is replaced: contents go to a temporary file in
// the same directory, are flushed to disk and moved over it, so any other
// hard link keeps the old contents. On any failure the temporary file is
// removed, the file keeps its old contents, and FileError is thrown. On
// POSIX, symbolic links are followed to the file they name, and a FIFO or a
// device is opened and gets contents directly (posix/file_target.hpp).
void replace_file(const std::string& path, std::string_view contents);
