// The built program driven as a user drives it: input piped in, a fresh
// working directory, and the bytes it prints and writes compared in full.
#include "cpu_count.hpp"
#include "limb.hpp"
#include "memory_limit.hpp"
#include "pi_digits.hpp"
#include "process.hpp"
#include "reference_digits.hpp"
#include "run_program.hpp"
#include "temp_dir.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <iostream>
#include <regex>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

const std::regex successful_dialogue(
    "Enter accuracy: Computation time is : [ 0-9]{5}[0-9]\\.[0-9]{2} seconds\n"
    "Result in Out.txt file\\.\n\n\nPress any key to continue\\.\\.\\.");

const std::string old_result = "3.14 an earlier result that must survive\n";

// Runs pi on input and checks the whole exchange of a successful run.
void expect_result(const std::string& input, size_t decimal_count)
{
    TempDir dir;
    const ProcessResult run = run_pi(dir.path(), input);
    EXPECT_EQ(run.exit_status, 0) << run.errors;
    EXPECT_TRUE(std::regex_match(run.output, successful_dialogue)) << run.output;
    EXPECT_EQ(run.errors, "");
    EXPECT_EQ(dir.read("Out.txt"), expected_result_file(decimal_count)) << "input " << input;
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"Out.txt"});
}

// Checks a failed run: non-zero status, one line on standard error that
// contains the expected words, no report, and the directory as it was.
void expect_failure(const ProcessResult& run, const TempDir& dir, const std::string& words,
                    const std::vector<std::string>& entries_before)
{
    EXPECT_NE(run.exit_status, 0);
    EXPECT_EQ(run.output, "Enter accuracy: ");
    EXPECT_NE(run.errors.find(words), std::string::npos) << run.errors;
    EXPECT_EQ(std::count(run.errors.begin(), run.errors.end(), '\n'), 1) << run.errors;
    EXPECT_EQ(run.errors.back(), '\n');
    EXPECT_EQ(dir.entries(), entries_before) << "a file was left behind or removed";
}

// Whether a child can give up root for the user nobody; a container's user
// namespace may not map that user.
bool can_become_nobody()
{
    const pid_t child = fork();
    if (child == 0)
        _exit(setgid(65534) == 0 && setuid(65534) == 0 ? 0 : 1);
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

TEST(EndToEnd, DefaultRunWritesFiveThousandTrueDigitsAndEndsWithAnEmptyLine)
{
    TempDir dir;
    const ProcessResult run = run_pi(dir.path(), "");
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_TRUE(std::regex_match(run.output, successful_dialogue)) << run.output;
    const std::string file = dir.read("Out.txt");
    EXPECT_EQ(file.size(), 5053u);
    EXPECT_EQ(file.substr(file.size() - 2), "\n\n");
    EXPECT_EQ(file, expected_result_file(5000));
}

TEST(EndToEnd, DigitsPastAQuarterMillionAreTrue)
{
    // Binary splitting's size on every CPU path; past 269,000 digits the
    // straightforward series' divisor times the base no longer fits 32 bits,
    // which limb_test covers for the limb division itself.
    expect_result("272001\n", 272000);
}

TEST(EndToEnd, FourMillionDigitsAreTheReferencesDigits)
{
    // Binary splitting's size, against digits made by the Chudnovsky series.
    expect_result("4000000\n", 4000000);
}

TEST(EndToEnd, LinesHoldAHundredDigitsAtAndAroundFullLines)
{
    // Accuracies round down to whole four-digit groups; 100 and 200 digits
    // fill their last line exactly and so end with an empty line.
    for (int accuracy : {0, 3, 4, 7, 8, 10, 96, 99, 100, 103, 104, 196, 200, 204, 399, 400, 404})
        expect_result(std::to_string(accuracy) + "\n\n", size_t(accuracy / 4 * 4));
    EXPECT_EQ(expected_result_file(0), "3.\n");
    EXPECT_EQ(expected_result_file(4), "3.1415\n");
}

TEST(EndToEnd, TheResultIsWrittenInPiecesWithoutASeam)
{
    // The text goes out 15,000 groups (60,000 digits) at a time.
    for (int accuracy : {59996, 60000, 60004, 119996, 120000, 120004})
        expect_result(std::to_string(accuracy) + "\n\n", size_t(accuracy));
}

TEST(EndToEnd, InputIsReadLikeADecimalConversionWithTheDefaultWhenThereIsNoNumber)
{
    expect_result("abc\n", 5000);
    expect_result("\n\n   \t12\n\n", 12);  // blank lines before the number are skipped
    expect_result("+8\n", 8);
    expect_result("-0\n", 0);
    expect_result("100xyz", 100);
    expect_result("0000000000000000000000000000020", 20);
    expect_result("-\n", 5000);  // a sign without digits is no number
}

TEST(EndToEnd, AccuracyOutsideTheAcceptedRangeIsRefusedAndTouchesNoFile)
{
    for (const std::string input : {"-1\n", "-4\n", "-2147483648\n", "2147483648\n", "99999999999\n",
                                    "123456789012345678901234567890123456789\n"}) {
        TempDir fresh;
        expect_failure(run_pi(fresh.path(), input), fresh, "from 0 to 2147483647", {});

        TempDir with_old;
        with_old.write("Out.txt", old_result);
        expect_failure(run_pi(with_old.path(), input), with_old, "from 0 to 2147483647", {"Out.txt"});
        EXPECT_EQ(with_old.read("Out.txt"), old_result);
    }
}

namespace {

// Runs the largest accuracy under an address space limit: it must be refused
// before anything is allocated, naming the bytes needed and those left.
void expect_refused_for_memory(rlim_t address_space)
{
    TempDir dir;
    dir.write("Out.txt", old_result);
    const ProcessResult run = run_pi(dir.path(), "2147483647\n", [address_space] {
        const rlimit limit{address_space, address_space};
        setrlimit(RLIMIT_AS, &limit);
    });
    expect_failure(run, dir, "cannot allocate", {"Out.txt"});
    EXPECT_EQ(run.exit_status, 1);
    const std::string needed = std::to_string(run_bytes_needed(2147483647 / 4 + 1));
    std::smatch figures;
    ASSERT_TRUE(std::regex_match(run.errors, figures,
                                 std::regex("pi: cannot allocate " + needed +
                                            " bytes \\([0-9]+ MiB\\) for the digit arrays: ([0-9]+) bytes "
                                            "\\([0-9]+ MiB\\) available\n")))
        << run.errors;
    EXPECT_LT(std::stoll(figures[1]), static_cast<long long>(address_space)) << "the address space in use counts";
    EXPECT_EQ(dir.read("Out.txt"), old_result);
}

}  // namespace

TEST(EndToEnd, UnderAnAddressSpaceLimitARunThatPassesTheCheckReachesItsEnd)
{
#ifdef PI_SANITIZE
    GTEST_SKIP() << "AddressSanitizer maps terabytes of shadow memory, more than the limits these cases set";
#endif
    // Each thread the run starts maps a stack and a malloc arena the count
    // of the run's memory leaves out. A first limit with room for them and a
    // little more is refused, and the room it names tells what the process
    // maps besides; then limits just above that and the bytes needed pass
    // the check and must carry the run to its end.
    constexpr int32_t decimals = 1000000;
    const int64_t needed = run_bytes_needed(limb_count_for(decimals));
    const int64_t probe = int64_t{usable_cpu_count()} * thread_address_space_bytes() + (int64_t{16} << 20);
    TempDir probe_dir;
    const ProcessResult refused = run_pi(probe_dir.path(), std::to_string(decimals) + "\n", [probe] {
        const rlimit limit{rlim_t(probe), rlim_t(probe)};
        setrlimit(RLIMIT_AS, &limit);
    });
    std::smatch room;
    ASSERT_TRUE(std::regex_search(refused.errors, room, std::regex("for the digit arrays: ([0-9]+) bytes")))
        << refused.errors;
    const int64_t mapped_besides = probe - std::stoll(room[1]);
    ASSERT_LT(mapped_besides, probe) << "the probe left no room, so what is mapped is not known";

    for (const int64_t margin : {int64_t{1} << 20, int64_t{16} << 20}) {
        const int64_t limit_bytes = mapped_besides + needed + margin;
        TempDir dir;
        const ProcessResult run = run_pi(dir.path(), std::to_string(decimals) + "\n\n", [limit_bytes] {
            const rlimit limit{rlim_t(limit_bytes), rlim_t(limit_bytes)};
            setrlimit(RLIMIT_AS, &limit);
        });
        EXPECT_EQ(run.exit_status, 0) << "address space limit " << limit_bytes << ": " << run.errors;
        EXPECT_EQ(dir.read("Out.txt"), expected_result_file(decimals)) << "address space limit " << limit_bytes;
    }
}

TEST(EndToEnd, ArraysThatCannotFitAreRefusedUpFrontWithTheMemoryNeededAndLeft)
{
#ifdef PI_SANITIZE
    GTEST_SKIP() << "AddressSanitizer maps terabytes of shadow memory, more than the limits these cases set";
#endif
    // Refused at once, not after a failed or a killed run.
    expect_refused_for_memory(rlim_t{1} << 30);
    expect_refused_for_memory(rlim_t{3} << 30);
}

TEST(EndToEnd, ADirectoryNamedOutTxtIsReportedAndLeftAlone)
{
    TempDir dir;
    ASSERT_EQ(mkdir(dir.file("Out.txt").c_str(), 0755), 0);
    dir.write("Out.txt/inside", "kept");
    expect_failure(run_pi(dir.path(), "100\n"), dir, "Out.txt: Is a directory", {"Out.txt"});
    EXPECT_EQ(dir.read("Out.txt/inside"), "kept");
}

TEST(EndToEnd, AReadOnlyDirectoryIsToldBeforeTheWorkAndTheOldResultSurvives)
{
    // Root may write anywhere, so the program then runs as the unprivileged
    // user 'nobody' for the permissions to bite. The temporary file is made
    // before the computation, so twenty million digits are refused at once.
    if (geteuid() == 0 && !can_become_nobody())
        GTEST_SKIP() << "running as root and cannot switch to the user nobody (65534): read-only case not run";
    TempDir dir;
    dir.write("Out.txt", old_result);
    ASSERT_EQ(chmod(dir.path().c_str(), 0555), 0);
    const ProcessResult run = run_pi(dir.path(), "20000000\n", [] {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(125);
    });
    expect_failure(run, dir, "pi: cannot create a temporary file for Out.txt: Permission denied\n", {"Out.txt"});
    EXPECT_EQ(dir.read("Out.txt"), old_result);
}

TEST(EndToEnd, AFileSizeLimitBelowTheDigitsIsToldBeforeTheWork)
{
    TempDir dir;
    dir.write("Out.txt", old_result);
    const ProcessResult run = run_pi(dir.path(), "5000\n", [] {
        std::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails with EFBIG instead of killing
        const rlimit two_kibibytes{2048, 2048};
        setrlimit(RLIMIT_FSIZE, &two_kibibytes);
    });
    expect_failure(run, dir, "pi: cannot reserve 5053 bytes for Out.txt: File too large\n", {"Out.txt"});
    EXPECT_EQ(dir.read("Out.txt"), old_result);
}

TEST(EndToEnd, ADiskTooSmallForTheDigitsIsToldBeforeTheWork)
{
    // 20,000,000 digits take 20,200,003 bytes; 4 MiB cannot hold them.
    const SmallDisk disk(old_result, "4m");
    if (!disk.mounted())
        GTEST_SKIP() << "cannot mount a small tmpfs here (needs CAP_SYS_ADMIN): full-disk case not run";
    const ProcessResult run = run_pi(disk.path(), "20000000\n");
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.errors, "pi: cannot reserve 20200003 bytes for Out.txt: No space left on device\n");
    EXPECT_EQ(run.output, "Enter accuracy: ");
    EXPECT_EQ(directory_entries(disk.path()), std::vector<std::string>{"Out.txt"}) << "a temporary file was left behind";
    EXPECT_EQ(read_file(disk.path() + "/Out.txt"), old_result);
}

TEST(EndToEnd, AReportThatCannotBePrintedIsNotASuccess)
{
    TempDir dir;
    const ProcessResult run = run_pi(dir.path(), "100\n", [] {
        const int full = open("/dev/full", O_WRONLY);
        if (full < 0 || dup2(full, STDOUT_FILENO) < 0)
            _exit(125);
    });
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.errors, "pi: cannot print the report: No space left on device\n");
    EXPECT_EQ(dir.read("Out.txt"), expected_result_file(100)) << "the result itself is complete";
}

TEST(EndToEnd, ASuccessfulRunReplacesALongerOldResultCompletely)
{
    TempDir dir;
    dir.write("Out.txt", std::string(20000, 'x'));
    chmod(dir.file("Out.txt").c_str(), 0640);
    const ProcessResult run = run_pi(dir.path(), "8\n");
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(dir.read("Out.txt"), "3.14159265\n");
    struct stat status;
    ASSERT_EQ(stat(dir.file("Out.txt").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0640u) << "the old file's permissions are kept";
}

TEST(EndToEnd, AnInterruptedRunStopsTheShellLoopThatStartedIt)
{
    // Ctrl-C at a terminal signals the whole foreground process group: the
    // shell and the program it waits for. The shell ends its loop only if
    // the program dies of the signal; an exit status of 130 would look like a
    // program that handled it, and the loop would go on.
    if (!std::filesystem::exists("/bin/bash"))
        GTEST_SKIP() << "bash is not installed: the shell loop case was not run";
    bool signalled_while_running = false;
    for (int32_t accuracy : growing_accuracies()) {
        TempDir dir;
        dir.write("Out.txt", old_result);
        TempDir input;
        input.write("accuracy", std::to_string(accuracy) + "\n");
        ProcessOptions options;
        options.working_directory = dir.path();
        options.in_child = [] { setpgid(0, 0); };
        RunningProcess shell({"/bin/bash", "-c", "for n in 1 2 3; do \"$0\" < \"$1\"; echo \"after run $n\"; done",
                              pi_binary(), input.file("accuracy")},
                             options);
        ASSERT_TRUE(shell.wait_for_output("Enter accuracy: ", std::chrono::seconds(60))) << "no prompt";
        ASSERT_EQ(kill(-shell.pid(), SIGINT), 0);
        const std::optional<ProcessResult> run = shell.wait(std::chrono::seconds(60));
        kill(-shell.pid(), SIGKILL);  // whatever of the group is left, if the test fails
        ASSERT_TRUE(run.has_value()) << "the loop still runs a minute after the signal";
        // The first run finished before the signal came if it printed its
        // report, or if it left a complete new result and the loop did not
        // go on (a second run could have written that too).
        const bool loop_went_on = run->output.find("after run") != std::string::npos;
        if (run->output.rfind("Enter accuracy: Computation time", 0) == 0 ||
            (!loop_went_on && dir.read("Out.txt").size() == result_file_size(size_t(accuracy / 4 * 4)))) {
            std::cout << accuracy << " digits were done before the signal came; more digits\n";
            continue;
        }
        EXPECT_EQ(run->signal, SIGINT) << "the shell went on: exit status " << run->exit_status;
        EXPECT_EQ(run->output.substr(0, 200), "Enter accuracy: ") << "the loop went on after the interrupted run";
        EXPECT_EQ(dir.entries(), std::vector<std::string>{"Out.txt"});
        EXPECT_TRUE(dir.read("Out.txt") == old_result) << "the old result was replaced";
        signalled_while_running = true;
        break;
    }
    EXPECT_TRUE(signalled_while_running) << "every run ended before the signal";
}

namespace {

std::string link_target(const std::string& path)
{
    std::error_code error;
    const std::filesystem::path target = std::filesystem::read_symlink(path, error);
    return error ? "(not a link: " + error.message() + ")" : target.string();
}

// Reads a FIFO from a thread of its own until the writer closes it. If the
// program never opens it, finish() opens it for writing itself, so that the
// reader is not left waiting.
class FifoReader {
public:
    explicit FifoReader(std::string path) : path_(std::move(path)), thread_([this] { read_all(); }) {}
    ~FifoReader() { finish(); }

    // Waits for the reader and returns what it read.
    std::string finish()
    {
        while (thread_.joinable() && !done_.load()) {
            const int unblock = open(path_.c_str(), O_WRONLY | O_NONBLOCK);
            if (unblock >= 0)
                close(unblock);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (thread_.joinable())
            thread_.join();
        return contents_;
    }

private:
    void read_all()
    {
        const int fd = open(path_.c_str(), O_RDONLY);
        if (fd >= 0) {
            char buffer[65536];
            for (ssize_t got; (got = read(fd, buffer, sizeof buffer)) > 0;)
                contents_.append(buffer, static_cast<size_t>(got));
            close(fd);
        }
        done_.store(true);
    }

    std::string path_;
    std::string contents_;
    std::atomic<bool> done_{false};
    std::thread thread_;
};

}  // namespace

TEST(EndToEnd, ALinkToAFileInAnotherDirectoryReplacesThatFileAndStaysALink)
{
    TempDir dir;
    TempDir elsewhere;
    elsewhere.write("result.txt", old_result);
    ASSERT_EQ(symlink(elsewhere.file("result.txt").c_str(), dir.file("Out.txt").c_str()), 0);
    const ProcessResult run = run_pi(dir.path(), "100\n");
    EXPECT_EQ(run.exit_status, 0) << run.errors;
    EXPECT_TRUE(std::regex_match(run.output, successful_dialogue)) << run.output;
    EXPECT_EQ(elsewhere.read("result.txt"), expected_result_file(100));
    EXPECT_EQ(link_target(dir.file("Out.txt")), elsewhere.file("result.txt"));
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"Out.txt"}) << "a temporary file was left";
    EXPECT_EQ(elsewhere.entries(), std::vector<std::string>{"result.txt"}) << "a temporary file was left";
}

TEST(EndToEnd, RelativeLinksCountFromTheirOwnDirectory)
{
    TempDir dir;
    ASSERT_EQ(mkdir(dir.file("sub").c_str(), 0755), 0);
    dir.write("sub/pi.txt", old_result);
    ASSERT_EQ(symlink("sub/next", dir.file("Out.txt").c_str()), 0);
    ASSERT_EQ(symlink("pi.txt", dir.file("sub/next").c_str()), 0);
    const ProcessResult run = run_pi(dir.path(), "100\n");
    EXPECT_EQ(run.exit_status, 0) << run.errors;
    EXPECT_EQ(dir.read("sub/pi.txt"), expected_result_file(100));
    EXPECT_EQ(link_target(dir.file("Out.txt")), "sub/next");
    EXPECT_EQ(link_target(dir.file("sub/next")), "pi.txt");
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"Out.txt", "sub"}));
    std::vector<std::string> in_sub;  // no temporary file left beside pi.txt
    for (const auto& entry : std::filesystem::directory_iterator(dir.file("sub")))
        in_sub.push_back(entry.path().filename().string());
    std::sort(in_sub.begin(), in_sub.end());
    EXPECT_EQ(in_sub, (std::vector<std::string>{"next", "pi.txt"}));
}

TEST(EndToEnd, ADanglingLinkCreatesTheFileItNames)
{
    TempDir dir;
    ASSERT_EQ(symlink("made-by-pi.txt", dir.file("Out.txt").c_str()), 0);
    const ProcessResult run = run_pi(dir.path(), "100\n");
    EXPECT_EQ(run.exit_status, 0) << run.errors;
    EXPECT_EQ(dir.read("made-by-pi.txt"), expected_result_file(100));
    EXPECT_EQ(link_target(dir.file("Out.txt")), "made-by-pi.txt");
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"Out.txt", "made-by-pi.txt"}));
}

TEST(EndToEnd, ALoopOfLinksIsReported)
{
    TempDir dir;
    ASSERT_EQ(symlink("Out.txt", dir.file("Out.txt").c_str()), 0);
    const ProcessResult run = run_pi(dir.path(), "100\n");
    expect_failure(run, dir, "pi: cannot replace Out.txt: Too many levels of symbolic links\n", {"Out.txt"});
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(link_target(dir.file("Out.txt")), "Out.txt");
}

TEST(EndToEnd, AFifoNamedOutTxtGetsTheResultAndStaysAFifo)
{
    TempDir dir;
    ASSERT_EQ(mkfifo(dir.file("Out.txt").c_str(), 0644), 0);
    FifoReader reader(dir.file("Out.txt"));
    // More than a pipe holds, so the program must wait for the reader.
    const ProcessResult run = run_pi(dir.path(), "100000\n");
    const std::string received = reader.finish();
    EXPECT_EQ(run.exit_status, 0) << run.errors;
    EXPECT_TRUE(std::regex_match(run.output, successful_dialogue)) << run.output;
    EXPECT_TRUE(received == expected_result_file(100000)) << received.size() << " bytes read";
    struct stat status;
    ASSERT_EQ(lstat(dir.file("Out.txt").c_str(), &status), 0);
    EXPECT_TRUE(S_ISFIFO(status.st_mode));
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"Out.txt"});
}

TEST(EndToEnd, ALinkToADeviceWritesIntoTheDevice)
{
    TempDir dir;
    ASSERT_EQ(symlink("/dev/null", dir.file("Out.txt").c_str()), 0);
    const ProcessResult run = run_pi(dir.path(), "100\n");
    EXPECT_EQ(run.exit_status, 0) << run.errors;
    EXPECT_TRUE(std::regex_match(run.output, successful_dialogue)) << run.output;
    EXPECT_EQ(link_target(dir.file("Out.txt")), "/dev/null");
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"Out.txt"});

    // A device that refuses the write is reported like a full disk.
    TempDir full;
    ASSERT_EQ(symlink("/dev/full", full.file("Out.txt").c_str()), 0);
    const ProcessResult refused = run_pi(full.path(), "100\n");
    expect_failure(refused, full, "pi: cannot write /dev/full: No space left on device\n", {"Out.txt"});
    EXPECT_EQ(refused.exit_status, 1);
}

TEST(EndToEnd, AHardLinkedOutTxtBecomesANewFileAndTheOtherNameKeepsTheOldContents)
{
    TempDir dir;
    dir.write("Out.txt", old_result);
    ASSERT_EQ(link(dir.file("Out.txt").c_str(), dir.file("kept.txt").c_str()), 0);
    const ProcessResult run = run_pi(dir.path(), "100\n");
    EXPECT_EQ(run.exit_status, 0) << run.errors;
    EXPECT_EQ(dir.read("Out.txt"), expected_result_file(100));
    EXPECT_EQ(dir.read("kept.txt"), old_result);
    struct stat result, kept;
    ASSERT_EQ(stat(dir.file("Out.txt").c_str(), &result), 0);
    ASSERT_EQ(stat(dir.file("kept.txt").c_str(), &kept), 0);
    EXPECT_NE(result.st_ino, kept.st_ino);
    EXPECT_EQ(result.st_nlink, 1u);
    EXPECT_EQ(kept.st_nlink, 1u);
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"Out.txt", "kept.txt"}));
}
