// A FileReader over a fixed set of texts, standing in for /proc and the
// cgroup file systems in tests.
#pragma once

#include "system_files.hpp"

#include <map>
#include <string>

inline FileReader file_map(std::map<std::string, std::string> files)
{
    return [files = std::move(files)](const std::string& path) -> std::optional<std::string> {
        const auto found = files.find(path);
        if (found == files.end())
            return std::nullopt;
        return found->second;
    };
}
