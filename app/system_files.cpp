// Files under /proc and /sys report no size, so they are read to the end in
// pieces rather than by their size.
#include "system_files.hpp"

#include <charconv>
#include <cstdio>

std::optional<std::string> read_whole_file(const std::string& path)
{
    std::FILE* const file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return std::nullopt;
    std::string text;
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        text.append(buffer, got);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed)
        return std::nullopt;
    return text;
}

std::vector<std::string_view> split(std::string_view text, char separator)
{
    std::vector<std::string_view> pieces;
    for (;;) {
        const size_t end = text.find(separator);
        pieces.push_back(text.substr(0, end));
        if (end == std::string_view::npos)
            return pieces;
        text.remove_prefix(end + 1);
    }
}

std::optional<std::string_view> line_value(std::string_view text, std::string_view name, char separator)
{
    for (const std::string_view line : split(text, '\n'))
        if (line.size() > name.size() && line.substr(0, name.size()) == name && line[name.size()] == separator)
            return line.substr(name.size() + 1);
    return std::nullopt;
}

std::optional<int64_t> parse_integer(std::string_view text)
{
    const size_t start = text.find_first_not_of(" \t\n");
    const size_t end = text.find_last_not_of(" \t\n");
    if (start == std::string_view::npos)
        return std::nullopt;
    text = text.substr(start, end - start + 1);
    int64_t value = 0;
    const auto [rest, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || rest != text.data() + text.size())
        return std::nullopt;
    return value;
}
