// A fresh, empty working directory for one test, removed afterwards.
#pragma once

#include <string>
#include <vector>

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

    void write(const std::string& name, const std::string& contents) const;
    std::string read(const std::string& name) const;
    bool exists(const std::string& name) const;
    std::vector<std::string> entries() const;  // every name in the directory, sorted

private:
    std::string path_;
};

// The whole file at path, or "" if it cannot be read.
std::string read_file(const std::string& path);

// Every name in the directory at path, sorted.
std::vector<std::string> directory_entries(const std::string& path);

// A tmpfs of the size given (tmpfs's size option: "8k", "4m") in a fresh
// directory, holding Out.txt with the contents given, for runs that fill the
// disk; unmounted at the end. Mounting needs CAP_SYS_ADMIN: where it is
// refused, mounted() is false.
class SmallDisk {
public:
    SmallDisk(const std::string& old_result, const std::string& size);
    ~SmallDisk();
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool mounted() const { return mounted_; }
    const std::string& path() const { return path_; }

private:
    TempDir outer_;
    std::string path_;
    bool mounted_ = false;
};
