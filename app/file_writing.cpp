// The shared half of replace_file: the chunked write loop and the text of its
// errors, the same on every platform.
#include "file_writing.hpp"

#include "file_replace.hpp"

void write_in_chunks(std::string_view contents, const std::function<size_t(std::string_view)>& write_some)
{
    while (!contents.empty())
        contents.remove_prefix(write_some(contents.substr(0, WRITE_CHUNK)));
}

void throw_file_error(std::string_view what, const std::string& path, const std::string& reason)
{
    throw FileError("cannot " + std::string(what) + " " + path + ": " + reason);
}
