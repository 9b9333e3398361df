// The Windows build's pi.exe driven under Wine as a user drives it: input
// piped in, a fresh working directory, and the bytes it prints and writes
// compared in full. The program is named by PI_WINDOWS_PROGRAM (a cross-built
// pi.exe); without it, or without Wine, every case skips and says why. Wine
// keeps its prefix where WINEPREFIX says, else in the build tree.
#include "process.hpp"
#include "reference_digits.hpp"
#include "temp_dir.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <functional>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <cstdlib>
#include <iostream>
#include <filesystem>
#include <optional>
#include <regex>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Text mode on Windows: every line end is CR LF.
std::string with_crlf(const std::string& text)
{
    std::string converted;
    for (const char c : text) {
        if (c == '\n')
            converted += '\r';
        converted += c;
    }
    return converted;
}

const std::regex successful_dialogue(
    "Enter accuracy: Computation time is : [ 0-9]{5}[0-9]\\.[0-9]{2} seconds\r\n"
    "Result in Out.txt file\\.\r\n\r\n\r\nPress any key to continue\\.\\.\\.");

const std::string old_result = "3.14 an earlier result that must survive\r\n";

std::optional<std::string> program_on_path(const std::string& name)
{
    const char* path = std::getenv("PATH");
    std::string directories = path ? path : "/usr/bin";
    for (size_t start = 0; start <= directories.size();) {
        const size_t end = std::min(directories.find(':', start), directories.size());
        const std::string candidate = directories.substr(start, end - start) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return std::nullopt;
}

// Memory as Linux tells it in /proc/meminfo, where Wine reads what Windows
// programs are told of it: half a gibibyte available, no swap.
const char* const SMALL_MEMINFO =
    "MemTotal:        1048576 kB\n"
    "MemFree:          524288 kB\n"
    "MemAvailable:     524288 kB\n"
    "Buffers:               0 kB\n"
    "Cached:                0 kB\n"
    "SwapCached:            0 kB\n"
    "SwapTotal:             0 kB\n"
    "SwapFree:              0 kB\n"
    "Committed_AS:     262144 kB\n";

// In a mount namespace of the calling process's own, lays meminfo over
// /proc/meminfo; false where that is not allowed (it needs CAP_SYS_ADMIN).
bool show_meminfo(const std::string& meminfo)
{
    return unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           mount(meminfo.c_str(), "/proc/meminfo", nullptr, MS_BIND, nullptr) == 0;
}

// Whether a child may lay a file over /proc/meminfo for itself.
bool can_show_meminfo(const std::string& meminfo)
{
    const pid_t child = fork();
    if (child == 0)
        _exit(show_meminfo(meminfo) ? 0 : 1);
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

class WindowsProgram : public testing::Test {
protected:
    void SetUp() override
    {
        const char* program = std::getenv("PI_WINDOWS_PROGRAM");
        if (program == nullptr || *program == '\0')
            GTEST_SKIP() << "PI_WINDOWS_PROGRAM does not name a cross-built pi.exe: Windows cases not run";
        program_ = std::filesystem::absolute(program).string();
        if (access(program_.c_str(), R_OK) != 0)
            GTEST_SKIP() << program_ << " does not exist: Windows cases not run";
        std::optional<std::string> wine = program_on_path("wine64");
        if (!wine)
            wine = program_on_path("wine");
        if (!wine)
            GTEST_SKIP() << "Wine is not installed: Windows cases not run";
        wine_ = *wine;
        setenv("WINEDEBUG", "-all", 0);
        setenv("WINEPREFIX", PI_WINE_PREFIX, 0);
        // Wine says on standard error when it makes or updates its prefix;
        // that happens here, once, and not in a run whose errors are checked.
        static const bool prefix_ready = [this] {
            TempDir warm_up;
            run("0\n", warm_up.path());
            return true;
        }();
        (void)prefix_ready;
    }

    ProcessResult run(const std::string& input, const std::string& directory,
                      std::function<void()> in_child = {}) const
    {
        ProcessOptions options;
        options.input = input;
        options.working_directory = directory;
        options.in_child = std::move(in_child);
        return run_process({wine_, program_}, options);
    }

    // Runs pi.exe on input and sends SIGINT once it has asked for the
    // accuracy (its handler is in place by then).
    ProcessResult run_interrupted(const std::string& input, const std::string& directory) const
    {
        ProcessOptions options;
        options.input = input;
        options.working_directory = directory;
        RunningProcess process({wine_, program_}, options);
        EXPECT_TRUE(process.wait_for_output("Enter accuracy: ", std::chrono::seconds(60))) << "no prompt";
        kill(process.pid(), SIGINT);
        const std::optional<ProcessResult> result = process.wait(std::chrono::seconds(60));
        EXPECT_TRUE(result.has_value()) << "still running a minute after Ctrl-C";
        return result.value_or(ProcessResult{});
    }

    // Runs pi.exe on input and checks the whole exchange of a successful run.
    void expect_result(const std::string& input, size_t decimal_count) const
    {
        TempDir dir;
        const ProcessResult result = run(input, dir.path());
        EXPECT_EQ(result.exit_status, 0) << result.errors;
        EXPECT_TRUE(std::regex_match(result.output, successful_dialogue)) << result.output;
        EXPECT_EQ(result.errors, "");
        EXPECT_EQ(dir.read("Out.txt"), with_crlf(expected_result_file(decimal_count))) << "input " << input;
        EXPECT_EQ(dir.entries(), std::vector<std::string>{"Out.txt"});
    }

    // A failed run: status 1, one line on standard error with the expected
    // words, no report, and the directory as it was.
    void expect_failure(const ProcessResult& result, const TempDir& dir, const std::string& words,
                        const std::vector<std::string>& entries_before) const
    {
        EXPECT_EQ(result.exit_status, 1);
        EXPECT_EQ(result.output, "Enter accuracy: ");
        EXPECT_NE(result.errors.find(words), std::string::npos) << result.errors;
        EXPECT_EQ(std::count(result.errors.begin(), result.errors.end(), '\n'), 1) << result.errors;
        EXPECT_EQ(dir.entries(), entries_before) << "a file was left behind or removed";
    }

private:
    std::string program_;
    std::string wine_;
};

}  // namespace

TEST_F(WindowsProgram, WritesCrLfResultFilesAtAndAroundFullLines)
{
    // 100 and 200 digits fill their last line exactly (a multiple of 25
    // limbs) and so end with an empty line.
    for (int accuracy : {0, 4, 99, 100, 104, 200})
        expect_result(std::to_string(accuracy) + "\n", size_t(accuracy / 4 * 4));
}

TEST_F(WindowsProgram, InputWithoutANumberGivesTheDefault)
{
    expect_result("", 5000);
    expect_result("abc\n", 5000);
    expect_result("\r\n\n  12\r\n", 12);  // blank lines, with either line end, before the number
}

TEST_F(WindowsProgram, AccuracyOutsideTheAcceptedRangeIsRefusedAndTouchesNoFile)
{
    for (const std::string input : {"-1\n", "2147483648\n"}) {
        TempDir dir;
        dir.write("Out.txt", old_result);
        expect_failure(run(input, dir.path()), dir, "pi: accuracy must be a whole number of digits from 0 to 2147483647",
                       {"Out.txt"});
        EXPECT_EQ(dir.read("Out.txt"), old_result);
    }
}

TEST_F(WindowsProgram, ADirectoryOrAReadOnlyFileNamedOutTxtIsReportedAndLeftAlone)
{
    TempDir dir;
    ASSERT_EQ(mkdir(dir.file("Out.txt").c_str(), 0755), 0);
    dir.write("Out.txt/inside", "kept");
    expect_failure(run("100\n", dir.path()), dir, "pi: cannot replace Out.txt: Access denied.", {"Out.txt"});
    EXPECT_EQ(dir.read("Out.txt/inside"), "kept");

    // Wine shows a file without write permission as read-only.
    TempDir read_only;
    read_only.write("Out.txt", old_result);
    ASSERT_EQ(chmod(read_only.file("Out.txt").c_str(), 0444), 0);
    expect_failure(run("100\n", read_only.path()), read_only, "pi: cannot replace Out.txt: Access denied.",
                   {"Out.txt"});
    EXPECT_EQ(read_only.read("Out.txt"), old_result);
}

TEST_F(WindowsProgram, ASuccessfulRunReplacesALongerOldResultCompletely)
{
    TempDir dir;
    dir.write("Out.txt", std::string(20000, 'x'));
    const ProcessResult result = run("8\n", dir.path());
    EXPECT_EQ(result.exit_status, 0) << result.errors;
    EXPECT_EQ(dir.read("Out.txt"), "3.14159265\r\n");
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"Out.txt"});
}

TEST_F(WindowsProgram, ADiskTooSmallForTheDigitsIsToldBeforeTheWork)
{
    // 20,000,000 digits take 20,400,004 bytes with CR LF line ends; 4 MiB
    // cannot hold them, and the run is refused before the computation.
    const SmallDisk disk(old_result, "4m");
    if (!disk.mounted())
        GTEST_SKIP() << "cannot mount a small tmpfs here (needs CAP_SYS_ADMIN): full-disk case not run";
    const ProcessResult result = run("20000000\n", disk.path());
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.output, "Enter accuracy: ");
    EXPECT_EQ(result.errors.rfind("pi: cannot reserve 20400004 bytes for Out.txt: ", 0), 0u) << result.errors;
    EXPECT_EQ(std::count(result.errors.begin(), result.errors.end(), '\n'), 1) << result.errors;
    EXPECT_EQ(directory_entries(disk.path()), std::vector<std::string>{"Out.txt"}) << "a temporary file was left behind";
    EXPECT_EQ(read_file(disk.path() + "/Out.txt"), old_result);
}

TEST_F(WindowsProgram, HundredsOfThousandsOfDigitsAreTrueOnTheVectorPathWithThreads)
{
    // pi.exe takes the best path this CPU runs, on every CPU it may use; the
    // engine tests run the other paths under Wine.
    for (size_t digits : {100'000u, 300'000u})
        expect_result(std::to_string(digits) + "\n", digits);
}

TEST_F(WindowsProgram, MillionsOfDigitsByBinarySplittingAreTheReferencesDigits)
{
    for (size_t digits : {1'000'000u, 4'000'000u})
        expect_result(std::to_string(digits) + "\n", digits);
}

TEST_F(WindowsProgram, ARunThatCannotFitIsRefusedBeforeAnyWork)
{
    TempDir dir;
    dir.write("Out.txt", old_result);
    TempDir memory;
    memory.write("meminfo", SMALL_MEMINFO);
    const std::string meminfo = memory.file("meminfo");
    if (!can_show_meminfo(meminfo))
        GTEST_SKIP() << "cannot mount over /proc/meminfo here (needs CAP_SYS_ADMIN): refusal case not run";
    // A hundred million digits need some 800 MB.
    const ProcessResult result = run("100000000\n", dir.path(), [&] {
        if (!show_meminfo(meminfo))
            _exit(99);
    });
    expect_failure(result, dir, "pi: cannot allocate ", {"Out.txt"});
    EXPECT_NE(result.errors.find(" for the digit arrays: 536870912 bytes (512 MiB) available\r\n"), std::string::npos)
        << result.errors;
    EXPECT_EQ(dir.read("Out.txt"), old_result);
}

TEST_F(WindowsProgram, CtrlCDuringTheComputationEndsItAsInterruptedAndKeepsTheOldResult)
{
    // Wine turns SIGINT into the console's Ctrl-C event, and hands a Linux
    // parent the low byte of the Windows exit status: STATUS_CONTROL_C_EXIT
    // (0xC000013A) arrives as 0x3A.
    constexpr int CONTROL_C_EXIT_LOW_BYTE = 0x3A;
    for (int32_t accuracy : growing_accuracies()) {
        TempDir dir;
        dir.write("Out.txt", old_result);
        const ProcessResult result = run_interrupted(std::to_string(accuracy) + "\n", dir.path());
        if (result.exit_status == 0) {
            std::cout << accuracy << " digits were done before Ctrl-C came; more digits\n";
            continue;
        }
        EXPECT_EQ(result.exit_status, CONTROL_C_EXIT_LOW_BYTE) << result.errors;
        EXPECT_EQ(result.errors, "");
        EXPECT_EQ(dir.entries(), std::vector<std::string>{"Out.txt"}) << "a temporary file was left behind";
        EXPECT_EQ(dir.read("Out.txt"), old_result);
        return;
    }
    ADD_FAILURE() << "every run ended before Ctrl-C came";
}
