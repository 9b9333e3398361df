// Replacing a file so that it is never seen half-written.
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

// Writes contents to a temporary file in the same directory as path, flushes
// it to disk and renames it over path. On any failure the temporary file is
// removed, path keeps its old contents, and FileError is thrown.
void replace_file(const std::string& path, std::string_view contents);
