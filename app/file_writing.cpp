// The shared half of FileReplacement: the chunked write loop, the texts of
// its errors and the one-piece replace_file.
#include "file_writing.hpp"

#include "file_replace.hpp"

#include <algorithm>

void write_in_chunks(std::string_view contents, const std::function<size_t(std::string_view)>& write_some)
{
    while (!contents.empty())
        contents.remove_prefix(write_some(contents.substr(0, WRITE_CHUNK)));
}

void throw_file_error(std::string_view what, const std::string& path, const std::string& reason)
{
    throw FileError("cannot " + std::string(what) + " " + path + ": " + reason);
}

void throw_reserve_error(int64_t bytes, const std::string& path, const std::string& reason)
{
    throw_file_error("reserve " + std::to_string(bytes) + " bytes for", path, reason);
}

void require_announced_size(const std::string& path, int64_t written, int64_t announced)
{
    if (written != announced)
        throw_file_error("replace", path,
                         "the text came to " + std::to_string(written) + " bytes where " + std::to_string(announced) +
                             " were announced");
}

void replace_file(const std::string& path, std::string_view contents)
{
    const auto line_ends = std::count(contents.begin(), contents.end(), '\n');
    FileReplacement file(path, static_cast<int64_t>(contents.size()), static_cast<int64_t>(line_ends));
    file.write(contents);
    file.commit();
}
