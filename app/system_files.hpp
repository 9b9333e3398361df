// Reading the small text files the system keeps (under /proc and the cgroup
// file systems) and the integers in them. The parsers take the texts, and the
// readers are passed in as a FileReader, so that tests can stand in for the
// files.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Reads a whole file; nothing when it cannot be read.
using FileReader = std::function<std::optional<std::string>(const std::string& path)>;

// The FileReader of the real file system.
std::optional<std::string> read_whole_file(const std::string& path);

// The pieces of text between separators, in order: its lines for '\n' (a line
// end at the very end leaves an empty last piece), the items of a list for
// ','.
std::vector<std::string_view> split(std::string_view text, char separator);

// The rest of the first line of text that starts with name followed by
// separator: "   1234 kB" for "VmSize" and ':' in "VmSize:   1234 kB".
// Nothing when no line does.
std::optional<std::string_view> line_value(std::string_view text, std::string_view name, char separator);

// A decimal integer, white space around it allowed; nothing for any other text.
std::optional<int64_t> parse_integer(std::string_view text);

// The tighter of two limits, either of which may be absent (no limit).
template <typename Number>
std::optional<Number> tighter_limit(std::optional<Number> a, std::optional<Number> b)
{
    if (!a)
        return b;
    if (!b)
        return a;
    return a < b ? a : b;
}
