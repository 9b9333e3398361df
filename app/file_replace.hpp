// Replacing a file so that it is never seen half-written, wherever its name
// leads: through symbolic links to the file they name, and straight into a
// FIFO or a device, which cannot be replaced.
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

// What a name leads to once its symbolic links are followed.
struct FileTarget {
    enum class Kind {
        file,    // a regular file, or no file yet: replaced by renaming
        stream,  // a FIFO, terminal or other device: opened and written
    };
    Kind kind;
    std::string path;  // the name with every link along the way followed
};

// Follows path through chains of symbolic links (a relative link counts from
// the link's own directory) to what it names; a dangling link leads to the
// file it would name. Throws FileError for a directory, a loop of links and
// any other failure to look a name up.
FileTarget resolve_file_target(const std::string& path);

// Puts contents where path leads. A file there (or none yet) is replaced:
// contents go to a temporary file in the same directory, are flushed to disk
// and renamed over it, so the links on the way stay links and any other hard
// link keeps the old contents. On any failure the temporary file is removed,
// the file keeps its old contents, and FileError is thrown. A stream is
// opened for writing and gets contents directly.
void replace_file(const std::string& path, std::string_view contents);
