// The temporary file lives beside the target so that rename() is atomic: a
// reader, a crash or a full disk sees either the old file or the new one.
#include "file_replace.hpp"

#include "interruption.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

[[noreturn]] void fail(const std::string& what, const std::string& path, int error_number)
{
    throw FileError("cannot " + what + " " + path + ": " + std::strerror(error_number));
}

// The mode a plain fopen(path, "w") would leave: the existing file's, or
// 0666 less the umask for a new one.
mode_t result_mode(const std::string& path)
{
    struct stat existing;
    if (stat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode))
        return existing.st_mode & 07777;
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

// Written in pieces, so that a large result never needs one huge system call
// and an interruption finds a partial temporary file to clean up, not a
// partial target.
constexpr size_t WRITE_CHUNK = size_t{1} << 16;

void write_all(int fd, std::string_view contents, const std::string& path)
{
    while (!contents.empty()) {
        const ssize_t written = write(fd, contents.data(), std::min(contents.size(), WRITE_CHUNK));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            fail("write", path, errno);
        }
        contents.remove_prefix(static_cast<size_t>(written));
    }
}

}  // namespace

void replace_file(const std::string& path, std::string_view contents)
{
    std::string temporary = path + ".XXXXXX";
    int fd;
    int create_error;
    {
        // Created and noted for the interruption handler as one step.
        InterruptionBlock block;
        fd = mkstemp(temporary.data());
        create_error = errno;
        if (fd >= 0)
            interruption_guard_temporary_file(temporary.c_str());
    }
    if (fd < 0)
        fail("create a temporary file for", path, create_error);
    try {
        if (fchmod(fd, result_mode(path)) != 0)
            fail("set the permissions of", temporary, errno);
        write_all(fd, contents, temporary);
        if (fsync(fd) != 0)
            fail("flush", temporary, errno);
        if (close(fd) != 0) {
            fd = -1;
            fail("close", temporary, errno);
        }
        fd = -1;
        InterruptionBlock block;
        if (rename(temporary.c_str(), path.c_str()) != 0)
            fail("replace", path, errno);
        interruption_guard_temporary_file(nullptr);
    } catch (...) {
        if (fd >= 0)
            close(fd);
        InterruptionBlock block;
        unlink(temporary.c_str());
        interruption_guard_temporary_file(nullptr);
        throw;
    }
}
