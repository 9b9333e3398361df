// What a name leads to on POSIX once its symbolic links are followed: the
// first step of replace_file (posix/file_replace.cpp), which decides how the
// contents get there.
#pragma once

#include <string>

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
