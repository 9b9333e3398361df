// Where a result file's name leads, and writing into what cannot be replaced:
// links followed from their own directory, dangling links, loops,
// directories, FIFOs and devices.
#include "file_replace.hpp"
#include "posix/file_target.hpp"
#include "temp_dir.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

// The message of the FileError that step throws, or "" when it throws none.
std::string error_of(const std::function<void()>& step)
{
    try {
        step();
    } catch (const FileError& error) {
        return error.what();
    }
    return "";
}

}  // namespace

TEST(FileTarget, APlainFileOrNoFileIsReplaced)
{
    TempDir dir;
    const FileTarget none = resolve_file_target(dir.file("Out.txt"));
    EXPECT_EQ(none.kind, FileTarget::Kind::file);
    EXPECT_EQ(none.path, dir.file("Out.txt"));
    dir.write("Out.txt", "old");
    EXPECT_EQ(resolve_file_target(dir.file("Out.txt")).path, dir.file("Out.txt"));
    EXPECT_EQ(resolve_file_target("Out.txt").path, "Out.txt");
}

TEST(FileTarget, LinksAreFollowedEachFromItsOwnDirectory)
{
    TempDir dir;
    ASSERT_EQ(mkdir(dir.file("sub").c_str(), 0755), 0);
    ASSERT_EQ(symlink("sub/next", dir.file("Out.txt").c_str()), 0);
    ASSERT_EQ(symlink("pi.txt", dir.file("sub/next").c_str()), 0);  // sub/pi.txt, not ./pi.txt
    const FileTarget target = resolve_file_target(dir.file("Out.txt"));
    EXPECT_EQ(target.kind, FileTarget::Kind::file);
    EXPECT_EQ(target.path, dir.file("sub/pi.txt")) << "a dangling link leads to the file it names";

    TempDir other;
    ASSERT_EQ(symlink(other.file("pi.txt").c_str(), dir.file("absolute").c_str()), 0);
    EXPECT_EQ(resolve_file_target(dir.file("absolute")).path, other.file("pi.txt"));
}

TEST(FileTarget, ALoopOfLinksAndADirectoryAreErrors)
{
    TempDir dir;
    ASSERT_EQ(symlink("Out.txt", dir.file("Out.txt").c_str()), 0);
    EXPECT_EQ(error_of([&] { resolve_file_target(dir.file("Out.txt")); }),
              "cannot replace " + dir.file("Out.txt") + ": Too many levels of symbolic links");

    ASSERT_EQ(mkdir(dir.file("folder").c_str(), 0755), 0);
    ASSERT_EQ(symlink("folder", dir.file("to-folder").c_str()), 0);
    EXPECT_EQ(error_of([&] { resolve_file_target(dir.file("folder")); }),
              "cannot replace " + dir.file("folder") + ": Is a directory");
    EXPECT_EQ(error_of([&] { resolve_file_target(dir.file("to-folder")); }),
              "cannot replace " + dir.file("to-folder") + ": Is a directory");
}

TEST(FileTarget, FifosAndDevicesAreWrittenDirectly)
{
    TempDir dir;
    ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0644), 0);
    EXPECT_EQ(resolve_file_target(dir.file("fifo")).kind, FileTarget::Kind::stream);
    ASSERT_EQ(symlink("/dev/null", dir.file("null").c_str()), 0);
    const FileTarget null = resolve_file_target(dir.file("null"));
    EXPECT_EQ(null.kind, FileTarget::Kind::stream);
    EXPECT_EQ(null.path, "/dev/null");
    EXPECT_EQ(error_of([&] { replace_file(dir.file("null"), "3.14\n"); }), "");
}

TEST(FileTarget, AWriteErrorOnADeviceIsReported)
{
    TempDir dir;
    ASSERT_EQ(symlink("/dev/full", dir.file("Out.txt").c_str()), 0);
    EXPECT_EQ(error_of([&] { replace_file(dir.file("Out.txt"), "3.14\n"); }),
              "cannot write /dev/full: No space left on device");
}

TEST(FileTarget, AFifoWhoseReaderLeavesIsAnErrorNotADeath)
{
    TempDir dir;
    ASSERT_EQ(mkfifo(dir.file("Out.txt").c_str(), 0644), 0);
    // The reader takes a few bytes and goes; a megabyte cannot fit the pipe,
    // so a later write meets no reader: EPIPE, and SIGPIPE must not kill.
    std::thread reader([&] {
        const int fd = open(dir.file("Out.txt").c_str(), O_RDONLY);
        char few[10];
        (void)!read(fd, few, sizeof few);
        close(fd);
    });
    const std::string message = error_of([&] { replace_file(dir.file("Out.txt"), std::string(1 << 20, '3')); });
    reader.join();
    EXPECT_EQ(message, "cannot write " + dir.file("Out.txt") + ": Broken pipe");
}
