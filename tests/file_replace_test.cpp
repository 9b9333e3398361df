// Where a result file's name leads, and writing into what cannot be replaced:
// links followed from their own directory, dangling links, loops,
// directories, FIFOs and devices; and a replacement's reserved temporary file
// from its creation to its commit or its abandonment.
#include "file_replace.hpp"
#include "posix/file_target.hpp"
#include "temp_dir.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <functional>
#include <iostream>
#include <sys/resource.h>
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

TEST(FileReplacement, TheTemporaryFileHoldsItsBytesFromTheStartAndGoesWithAnAbandonedReplacement)
{
    TempDir dir;
    dir.write("Out.txt", "old");
    {
        FileReplacement file(dir.file("Out.txt"), 1 << 20, 0);
        const std::vector<std::string> entries = dir.entries();
        ASSERT_EQ(entries.size(), 2u);
        const std::string temporary = entries[0] == "Out.txt" ? entries[1] : entries[0];
        EXPECT_EQ(temporary.rfind("Out.txt.", 0), 0u) << temporary;
        struct stat status;
        ASSERT_EQ(stat(dir.file(temporary).c_str(), &status), 0);
        EXPECT_EQ(status.st_size, 0) << "the length grows only as the text is written";
        if (status.st_blocks == 0)
            std::cout << "this file system reserves no blocks (no fallocate): free space was compared instead\n";
        else
            EXPECT_GE(int64_t{status.st_blocks} * 512, int64_t{1} << 20);
        file.write("3.14");
    }
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"Out.txt"});
    EXPECT_EQ(dir.read("Out.txt"), "old");
}

TEST(FileReplacement, TextOfAnotherSizeThanAnnouncedIsNotPutInPlace)
{
    TempDir dir;
    dir.write("Out.txt", "old");
    for (const std::string text : {"3.1\n", "3.141\n"}) {
        FileReplacement file(dir.file("Out.txt"), 5, 1);
        file.write(text);
        EXPECT_EQ(error_of([&] { file.commit(); }), "cannot replace " + dir.file("Out.txt") + ": the text came to " +
                                                         std::to_string(text.size()) + " bytes where 5 were announced");
    }
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"Out.txt"});
    EXPECT_EQ(dir.read("Out.txt"), "old");
    FileReplacement file(dir.file("Out.txt"), 5, 1);
    file.write("3.1");
    file.write("4\n");
    file.commit();
    EXPECT_EQ(dir.read("Out.txt"), "3.14\n");
}

TEST(FileReplacement, AFileSizeLimitBelowTheTextIsToldAtTheReservation)
{
    TempDir dir;
    rlimit before;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
    if (before.rlim_max != RLIM_INFINITY && before.rlim_max < 4096)
        GTEST_SKIP() << "the file size limit is already below 4 KiB";
    rlimit lower = before;
    lower.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &lower), 0);
    const std::string message = error_of([&] { FileReplacement file(dir.file("Out.txt"), 4097, 0); });
    const std::string fits = error_of([&] { FileReplacement file(dir.file("Out.txt"), 4096, 0); });
    setrlimit(RLIMIT_FSIZE, &before);
    EXPECT_EQ(message, "cannot reserve 4097 bytes for " + dir.file("Out.txt") + ": File too large");
    EXPECT_EQ(fits, "");
    EXPECT_EQ(dir.entries(), std::vector<std::string>{});
}
