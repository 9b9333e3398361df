// Interrupting the program: during the computation it must end at once, and
// during the writing of the result it must remove its temporary file; either
// way an existing result file survives byte for byte, and the program dies of
// the signal, as a shell expects of an interrupted command. SIGKILL cannot be
// handled, so it may leave the temporary file, but never a damaged result.
#include "process.hpp"
#include "reference_digits.hpp"
#include "temp_dir.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

const std::string old_result = "3.14 an earlier result that must survive\n";

// The temporary files beside a result file.
std::vector<std::string> temporary_files(const TempDir& dir, const std::string& result_name = "Out.txt")
{
    std::vector<std::string> found;
    for (const std::string& name : dir.entries())
        if (name.rfind(result_name + ".", 0) == 0)
            found.push_back(name);
    return found;
}

// The program strace started. strace also forks short-lived children of its
// own at start-up to probe the kernel, so the child must be running pi.
pid_t traced_pi(pid_t tracer)
{
    const std::string children_file =
        "/proc/" + std::to_string(tracer) + "/task/" + std::to_string(tracer) + "/children";
    for (int attempt = 0; attempt < 1000; ++attempt) {
        std::ifstream children(children_file);
        for (pid_t child = 0; children >> child;) {
            std::error_code ignored;
            if (std::filesystem::read_symlink("/proc/" + std::to_string(child) + "/exe", ignored) ==
                std::filesystem::canonical(pi_binary()))
                return child;
        }
        std::this_thread::sleep_for(10ms);
    }
    return 0;
}

// Why strace cannot delay the program's writes here, or "" when it can: it
// may be missing, too old for fault injection, or denied ptrace (as in many
// containers).
std::string strace_unusable()
{
    static const std::string reason = [] {
        if (!std::filesystem::exists("/usr/bin/strace"))
            return std::string("strace is not installed");
        ProcessOptions options;
        const ProcessResult probe = run_process(
            {"/usr/bin/strace", "-f", "-o", "/dev/null", "-e", "trace=write", "-e",
             "inject=write:delay_enter=1:when=2+", "/bin/true"},
            options);
        if (probe.exit_status != 0)
            return "strace cannot trace a program here (no ptrace, or no fault injection): " + probe.errors;
        return std::string();
    }();
    return reason;
}

}  // namespace

TEST(Interruption, SignalsDuringTheComputationEndItByTheSignalAndKeepTheOldResult)
{
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        bool signalled_while_running = false;
        for (int32_t accuracy : growing_accuracies()) {
            TempDir dir;
            dir.write("Out.txt", old_result);
            ProcessOptions options;
            options.input = std::to_string(accuracy) + "\n";
            options.working_directory = dir.path();
            RunningProcess pi({pi_binary()}, options);
            // The handlers are in place before the prompt is printed.
            ASSERT_TRUE(pi.wait_for_output("Enter accuracy: ", 60s)) << "no prompt";

            const auto sent = std::chrono::steady_clock::now();
            ASSERT_EQ(kill(pi.pid(), signal_number), 0);
            const std::optional<ProcessResult> run = pi.wait(60s);
            ASSERT_TRUE(run.has_value()) << "still running a minute after the signal";
            // A complete new result means the run got past the renaming
            // before the signal came: too short for this test.
            if (run->exit_status == 0 || dir.read("Out.txt").size() == result_file_size(size_t(accuracy / 4 * 4))) {
                std::cout << accuracy << " digits were done before the signal came; more digits\n";
                continue;
            }
            std::cout << strsignal(signal_number) << " ended the run of " << accuracy << " digits in "
                      << std::chrono::duration<double>(std::chrono::steady_clock::now() - sent).count() << " s\n";

            EXPECT_EQ(run->signal, signal_number) << "exit status " << run->exit_status << ", " << run->errors;
            EXPECT_EQ(run->exit_status, -1);
            EXPECT_EQ(run->output, "Enter accuracy: ");
            EXPECT_EQ(run->errors, "");
            EXPECT_EQ(dir.entries(), std::vector<std::string>{"Out.txt"});
            EXPECT_EQ(dir.read("Out.txt"), old_result);
            signalled_while_running = true;
            break;
        }
        EXPECT_TRUE(signalled_while_running) << "every run ended before signal " << signal_number;
    }
}

namespace {

// Runs pi under strace in dir, which delays every write after the program's
// first (the prompt): the program then sits before its second write to the
// temporary file beside result_name in result_dir, with the first 64 KiB of
// the new result on disk, when the signal arrives. (Counting writes would be
// fragile: the sanitizers' runtime writes too.)
std::optional<ProcessResult> signal_mid_write(int signal_number, const TempDir& dir, const TempDir& result_dir,
                                              const std::string& result_name)
{
    ProcessOptions options;
    options.input = "200000\n";
    options.working_directory = dir.path();
    RunningProcess tracer({"/usr/bin/strace", "-f", "-o", "/dev/null", "-e", "trace=write", "-e",
                           "inject=write:delay_enter=2000000:when=2+", pi_binary()},
                          options);
    const pid_t pi = traced_pi(tracer.pid());
    EXPECT_NE(pi, 0) << "strace started no pi";
    bool half_written = false;
    for (int attempt = 0; attempt < 6000 && !half_written && pi != 0; ++attempt) {
        for (const std::string& name : temporary_files(result_dir, result_name))
            half_written = std::filesystem::file_size(result_dir.file(name)) > 0;
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_TRUE(half_written) << "the temporary file never appeared";
    if (!half_written || kill(pi, signal_number) != 0)
        return std::nullopt;
    return tracer.wait(30s);
}

}  // namespace

TEST(Interruption, SignalsWhileTheResultIsWrittenKeepTheOldResult)
{
    if (const std::string reason = strace_unusable(); !reason.empty())
        GTEST_SKIP() << reason << ": the mid-write signal cases were not run";
    for (int signal_number : {SIGINT, SIGTERM, SIGKILL}) {
        TempDir dir;
        dir.write("Out.txt", old_result);
        const std::optional<ProcessResult> run = signal_mid_write(signal_number, dir, dir, "Out.txt");
        ASSERT_TRUE(run.has_value());

        EXPECT_EQ(dir.read("Out.txt"), old_result) << "signal " << signal_number;
        if (signal_number == SIGKILL) {
            for (const std::string& name : temporary_files(dir))
                EXPECT_LT(std::filesystem::file_size(dir.file(name)), 200000u) << "only a partial temporary file";
        } else {
            // strace ends the way its program ended, by the same signal.
            EXPECT_EQ(run->signal, signal_number) << "exit status " << run->exit_status << ", " << run->errors;
            EXPECT_EQ(dir.entries(), std::vector<std::string>{"Out.txt"}) << "the temporary file was left";
        }
    }
}

TEST(Interruption, ASignalWhileWritingThroughALinkRemovesTheTemporaryFileInTheLinkedDirectory)
{
    if (const std::string reason = strace_unusable(); !reason.empty())
        GTEST_SKIP() << reason << ": the mid-write signal cases were not run";
    TempDir dir;
    TempDir elsewhere;
    elsewhere.write("result.txt", old_result);
    ASSERT_EQ(symlink(elsewhere.file("result.txt").c_str(), dir.file("Out.txt").c_str()), 0);
    const std::optional<ProcessResult> run = signal_mid_write(SIGTERM, dir, elsewhere, "result.txt");
    ASSERT_TRUE(run.has_value());
    EXPECT_EQ(run->signal, SIGTERM) << "exit status " << run->exit_status << ", " << run->errors;
    EXPECT_EQ(elsewhere.read("result.txt"), old_result);
    EXPECT_EQ(elsewhere.entries(), std::vector<std::string>{"result.txt"}) << "the temporary file was left";
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"Out.txt"});
}
