#include "temp_dir.hpp"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/stat.h>

namespace fs = std::filesystem;

TempDir::TempDir()
{
    std::string pattern = (fs::temp_directory_path() / "pi-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot create a temporary directory");
    path_ = pattern;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(path_, ignored);
}

void TempDir::write(const std::string& name, const std::string& contents) const
{
    std::ofstream(file(name), std::ios::binary) << contents;
}

std::string TempDir::read(const std::string& name) const
{
    return read_file(file(name));
}

bool TempDir::exists(const std::string& name) const
{
    return fs::exists(file(name));
}

std::vector<std::string> TempDir::entries() const
{
    return directory_entries(path_);
}

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream contents;
    contents << in.rdbuf();
    return contents.str();
}

std::vector<std::string> directory_entries(const std::string& path)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(path))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

SmallDisk::SmallDisk(const std::string& old_result, const std::string& size) : path_(outer_.file("disk"))
{
    if (mkdir(path_.c_str(), 0755) != 0 || mount("tmpfs", path_.c_str(), "tmpfs", 0, ("size=" + size).c_str()) != 0)
        return;
    mounted_ = true;
    std::ofstream(path_ + "/Out.txt", std::ios::binary) << old_result;
}

SmallDisk::~SmallDisk()
{
    if (mounted_)
        umount(path_.c_str());
}
