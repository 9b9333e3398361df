// The temporary file lives beside the file it replaces so that rename() is
// atomic and the space reserved is on the file's own file system: a reader, a
// crash or a full disk sees either the old file or the new one. Links are
// followed here rather than by rename(), which would put the new file in the
// link's place; what lies at the end of them decides how the contents get
// there.
#include "file_replace.hpp"

#include "file_writing.hpp"
#include "interruption.hpp"
#include "posix/file_target.hpp"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <utility>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
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

// Takes the file's bytes on disk before anything is written. fallocate
// reserves them, quotas included, without writing a byte (FALLOC_FL_KEEP_SIZE
// leaves the file's length to grow as the text comes). Where the file system
// or the system has no such call, the free space the caller may use has to
// hold them.
void reserve(int fd, int64_t bytes, const std::string& path)
{
    if (bytes <= 0)
        return;
    // A file size limit would stop the writes part way (SIGXFSZ, or EFBIG
    // where that is ignored); fallocate does not heed it.
    struct rlimit limit;
    if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        static_cast<unsigned long long>(bytes) > static_cast<unsigned long long>(limit.rlim_cur))
        throw_reserve_error(bytes, path, std::strerror(EFBIG));
#ifdef __linux__
    if (fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(bytes)) == 0)
        return;
    if (errno != EOPNOTSUPP && errno != ENOSYS)
        throw_reserve_error(bytes, path, std::strerror(errno));
#endif
    struct statvfs space;
    if (fstatvfs(fd, &space) != 0)
        throw_reserve_error(bytes, path, std::strerror(errno));
    const auto available = static_cast<unsigned long long>(space.f_bavail) * space.f_frsize;
    if (available < static_cast<unsigned long long>(bytes))
        throw_reserve_error(bytes, path, std::strerror(ENOSPC));
}

}  // namespace

// A regular file goes through a temporary file beside it, created, noted for
// the interruption handler and reserved at once. A FIFO or a device has no
// directory entry of its own to swap and nothing on disk to reserve: it is
// opened by the first write, so that a FIFO's reader is waited for only when
// there is something to read.
struct FileReplacement::Platform {
    FileTarget target;
    std::string temporary;  // empty for a stream
    int fd = -1;
    int64_t announced = 0;
    int64_t written = 0;
    bool committed = false;

    Platform() = default;
    Platform(const Platform&) = delete;
    Platform& operator=(const Platform&) = delete;

    // Until the commit, the temporary file is removed with its replacement,
    // a constructor that throws included.
    ~Platform()
    {
        if (committed)
            return;
        if (fd >= 0)
            close(fd);
        if (!temporary.empty()) {
            InterruptionBlock block;
            unlink(temporary.c_str());
            interruption_guard_temporary_file(nullptr);
        }
    }

    // The name the system's reasons are told against.
    const std::string& written_path() const { return temporary.empty() ? target.path : temporary; }
};

FileReplacement::FileReplacement(const std::string& path, int64_t text_bytes, int64_t /*line_ends*/)
    : platform_(std::make_unique<Platform>())
{
    Platform& file = *platform_;
    file.target = resolve_file_target(path);
    file.announced = text_bytes;
    if (file.target.kind == FileTarget::Kind::stream)
        return;
    file.temporary = file.target.path + ".XXXXXX";
    int create_error;
    {
        // Created and noted for the interruption handler as one step.
        InterruptionBlock block;
        file.fd = mkstemp(file.temporary.data());
        create_error = errno;
        if (file.fd >= 0)
            interruption_guard_temporary_file(file.temporary.c_str());
    }
    if (file.fd < 0) {
        file.temporary.clear();
        fail("create a temporary file for", file.target.path, create_error);
    }
    if (fchmod(file.fd, result_mode(file.target.path)) != 0)
        fail("set the permissions of", file.temporary, errno);
    reserve(file.fd, text_bytes, file.target.path);
}

FileReplacement::FileReplacement(FileReplacement&&) noexcept = default;
FileReplacement::~FileReplacement() = default;

void FileReplacement::write(std::string_view text)
{
    Platform& file = *platform_;
    if (file.fd < 0) {
        file.fd = open(file.target.path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
        if (file.fd < 0)
            fail("open", file.target.path, errno);
    }
    const BrokenPipeReported reported;
    write_all(file.fd, text, file.written_path());
    file.written += static_cast<int64_t>(text.size());
}

void FileReplacement::commit()
{
    Platform& file = *platform_;
    if (file.target.kind == FileTarget::Kind::stream) {
        if (file.fd < 0)
            write({});  // a stream given no text is still opened and closed
        const int fd = std::exchange(file.fd, -1);
        if (close(fd) != 0)
            fail("close", file.target.path, errno);
        file.committed = true;
        return;
    }
    require_announced_size(file.target.path, file.written, file.announced);
    if (fsync(file.fd) != 0)
        fail("flush", file.temporary, errno);
    if (close(std::exchange(file.fd, -1)) != 0)
        fail("close", file.temporary, errno);
    InterruptionBlock block;
    if (rename(file.temporary.c_str(), file.target.path.c_str()) != 0)
        fail("replace", file.target.path, errno);
    interruption_guard_temporary_file(nullptr);
    file.committed = true;
}

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
