// The temporary file lives beside the file it replaces so that rename() is
// atomic: a reader, a crash or a full disk sees either the old file or the
// new one. Links are followed here rather than by rename(), which would put
// the new file in the link's place; what lies at the end of them decides how
// the contents get there.
#include "file_replace.hpp"

#include "file_writing.hpp"
#include "interruption.hpp"
#include "posix/file_target.hpp"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

[[noreturn]] void fail(std::string_view what, const std::string& path, int error_number)
{
    throw_file_error(what, path, std::strerror(error_number));
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

// The longest chain of links followed, as the Linux kernel allows.
constexpr int MAX_LINKS = 40;

std::string link_text(const std::string& link, const std::string& name)
{
    std::string text(256, '\0');
    for (;;) {
        const ssize_t length = readlink(link.c_str(), text.data(), text.size());
        if (length < 0)
            fail("replace", name, errno);
        if (static_cast<size_t>(length) < text.size()) {
            text.resize(static_cast<size_t>(length));
            return text;
        }
        text.resize(text.size() * 2);  // possibly cut short: read again
    }
}

// A write to a FIFO whose reader has gone raises SIGPIPE, which would end the
// program without a word; while the result is written the write fails with
// EPIPE instead and is reported like any other.
class BrokenPipeReported {
public:
    BrokenPipeReported()
    {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        sigaction(SIGPIPE, &ignore, &previous_);
    }
    ~BrokenPipeReported() { sigaction(SIGPIPE, &previous_, nullptr); }
    BrokenPipeReported(const BrokenPipeReported&) = delete;
    BrokenPipeReported& operator=(const BrokenPipeReported&) = delete;

private:
    struct sigaction previous_ {};
};

// A write cut short by a signal before it wrote anything is tried again.
void write_all(int fd, std::string_view contents, const std::string& path)
{
    write_in_chunks(contents, [&](std::string_view chunk) -> size_t {
        const ssize_t written = write(fd, chunk.data(), chunk.size());
        if (written >= 0)
            return static_cast<size_t>(written);
        if (errno != EINTR)
            fail("write", path, errno);
        return 0;
    });
}

// A FIFO or a device has no directory entry of its own to swap: the result
// goes straight into it, and there is nothing on disk to flush.
void write_stream(const std::string& path, std::string_view contents)
{
    const int fd = open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        fail("open", path, errno);
    try {
        const BrokenPipeReported reported;
        write_all(fd, contents, path);
    } catch (...) {
        close(fd);
        throw;
    }
    if (close(fd) != 0)
        fail("close", path, errno);
}

void replace_regular_file(const std::string& path, std::string_view contents)
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

}  // namespace

FileTarget resolve_file_target(const std::string& path)
{
    std::string current = path;
    for (int links = 0; links <= MAX_LINKS; ++links) {
        struct stat status;
        if (lstat(current.c_str(), &status) != 0) {
            if (errno == ENOENT)
                return {FileTarget::Kind::file, current};
            fail("replace", path, errno);
        }
        if (S_ISREG(status.st_mode))
            return {FileTarget::Kind::file, current};
        if (S_ISDIR(status.st_mode))
            fail("replace", path, EISDIR);
        if (!S_ISLNK(status.st_mode))
            return {FileTarget::Kind::stream, current};
        const std::string target = link_text(current, path);
        if (target.empty())
            fail("replace", path, ENOENT);
        const size_t slash = current.rfind('/');
        if (target.front() == '/' || slash == std::string::npos)
            current = target;
        else
            current = current.substr(0, slash + 1) + target;
    }
    fail("replace", path, ELOOP);
}

void replace_file(const std::string& path, std::string_view contents)
{
    const FileTarget target = resolve_file_target(path);
    if (target.kind == FileTarget::Kind::stream)
        write_stream(target.path, contents);
    else
        replace_regular_file(target.path, contents);
}
