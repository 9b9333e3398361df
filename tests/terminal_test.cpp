// The program in a real terminal, driven through tmux: the prompt shows before
// anything is typed, one key (not Enter) ends the program, the status line
// comes and goes, and Ctrl-C leaves the terminal as it found it and stops the
// shell loop that ran the program, as an interrupted command does.
#include "process.hpp"
#include "reference_digits.hpp"
#include "temp_dir.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <iostream>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

// One run; the shell then prints the program's exit status and the
// terminal's settings.
const char* const SINGLE_RUN =
    "\"$1\"\n"
    "echo \"exit status $?\"\n"
    "stty -a\n"
    "sleep 600\n";

// Two runs in a loop within a subshell. Ctrl-C signals the subshell and the
// outer shell too: a program that dies of SIGINT stops the loop, so "after
// run 1" never shows, and the outer shell, which traps the signal, goes on to
// print the loop's status (130) and the terminal's settings.
const char* const INTERRUPTIBLE_LOOP =
    "trap 'echo interrupted' INT\n"
    "(for n in 1 2; do \"$1\"; echo \"after run $n\"; done)\n"
    "echo \"loop status $?\"\n"
    "stty -a\n"
    "sleep 600\n";

class Terminal : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!std::filesystem::exists("/usr/bin/tmux"))
            GTEST_SKIP() << "tmux is not installed: the terminal cases were not run";
        if (!std::filesystem::exists("/bin/bash"))
            GTEST_SKIP() << "bash is not installed: the terminal cases were not run";
        socket_ = "pi-test-" + std::to_string(getpid());
        scripts_.write("single-run", SINGLE_RUN);
        scripts_.write("interruptible-loop", INTERRUPTIBLE_LOOP);
    }

    void TearDown() override
    {
        if (!socket_.empty())
            tmux("kill-server");
    }

    // Starts a fresh terminal (ending any earlier one) in which bash runs
    // the script with pi as its argument.
    void start(const std::string& script)
    {
        tmux("kill-session -t pi");
        const std::string started = tmux("new-session -d -s pi -x 200 -y 50 -c " + dir_.path() + " '/bin/bash " +
                                         scripts_.file(script) + " " + pi_binary() + "'");
        ASSERT_EQ(started, "") << "tmux could not start a session";
    }

    // Starts the script, waits for pi's prompt and types accuracy and Enter.
    void start_and_type(const std::string& script, const std::string& accuracy)
    {
        ASSERT_NO_FATAL_FAILURE(start(script));
        ASSERT_TRUE(wait_for("Enter accuracy:", 10s)) << screen();
        tmux("send-keys -t pi " + accuracy + " Enter");
    }

    std::string tmux(const std::string& arguments)
    {
        const std::string command = "tmux -L " + socket_ + " " + arguments + " 2>&1";
        std::string output;
        if (FILE* pipe = popen(command.c_str(), "r")) {
            char buffer[4096];
            for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
                output.append(buffer, got);
            pclose(pipe);
        }
        return output;
    }

    std::string screen() { return tmux("capture-pane -p -t pi"); }

    bool screen_shows(const std::string& text) { return screen().find(text) != std::string::npos; }

    // Polls the screen until it shows one of texts and returns that one, or
    // "" at the timeout; each_look sees every look.
    std::string wait_for_any(const std::vector<std::string>& texts, std::chrono::seconds timeout,
                             const std::function<void(const std::string&)>& each_look = {})
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            const std::string now = screen();
            if (each_look)
                each_look(now);
            for (const std::string& text : texts)
                if (now.find(text) != std::string::npos)
                    return text;
            std::this_thread::sleep_for(20ms);
        }
        return "";
    }

    bool wait_for(const std::string& text, std::chrono::seconds timeout,
                  const std::function<void(const std::string&)>& each_look = {})
    {
        return !wait_for_any({text}, timeout, each_look).empty();
    }

    void expect_terminal_restored()
    {
        ASSERT_TRUE(wait_for("icanon", 10s)) << "stty printed nothing";
        const std::string settings = screen();
        EXPECT_NE(settings.find(" icanon"), std::string::npos) << settings;
        EXPECT_EQ(settings.find("-icanon"), std::string::npos) << settings;
        EXPECT_EQ(settings.find("-echo "), std::string::npos) << settings;
    }

    // After Ctrl-C: pi died of SIGINT, so the loop stopped with status 130.
    void expect_loop_interrupted()
    {
        ASSERT_TRUE(wait_for("loop status", 10s)) << screen();
        EXPECT_TRUE(screen_shows("loop status 130")) << screen();
        EXPECT_FALSE(screen_shows("after run 1")) << "the loop went on after the interrupted run:\n" << screen();
    }

    TempDir dir_;
    TempDir scripts_;
    std::string socket_;
};

}  // namespace

TEST_F(Terminal, PromptFirstThenTheRunThenOneKeyEndsIt)
{
    ASSERT_NO_FATAL_FAILURE(start("single-run"));
    ASSERT_TRUE(wait_for("Enter accuracy:", 10s)) << screen();
    EXPECT_FALSE(dir_.exists("Out.txt")) << "nothing may happen before the number is typed";

    tmux("send-keys -t pi 1000 Enter");
    ASSERT_TRUE(wait_for("Press any key to continue...", 60s)) << screen();
    EXPECT_TRUE(screen_shows("Computation time is : ")) << screen();
    EXPECT_TRUE(screen_shows("Result in Out.txt file.")) << screen();
    EXPECT_EQ(dir_.read("Out.txt"), expected_result_file(1000));

    std::this_thread::sleep_for(300ms);
    EXPECT_FALSE(screen_shows("exit status")) << "ended before a key was pressed";
    tmux("send-keys -t pi x");  // one key, no Enter
    ASSERT_TRUE(wait_for("exit status", 10s)) << screen();
    EXPECT_TRUE(screen_shows("Press any key to continue...exit status 0")) << "key echoed, or bad status:\n"
                                                                          << screen();
    expect_terminal_restored();
}

TEST_F(Terminal, AMillionDigitsThroughTheTerminalAreTrue)
{
    ASSERT_NO_FATAL_FAILURE(start_and_type("single-run", "1000000"));
    ASSERT_TRUE(wait_for("Press any key to continue...", 600s)) << screen();
    EXPECT_TRUE(dir_.read("Out.txt") == expected_result_file(1000000)) << "a wrong digit in the million";
    tmux("send-keys -t pi q");
    ASSERT_TRUE(wait_for("exit status 0", 10s)) << screen();
}

TEST_F(Terminal, TheStatusLineComesAndIsErasedBeforeTheReport)
{
    // The line is drawn from the first second on, so a run that ends sooner
    // shows none; the next accuracy is then tried.
    for (int32_t accuracy : growing_accuracies()) {
        ASSERT_NO_FATAL_FAILURE(start_and_type("single-run", std::to_string(accuracy)));
        bool progress_seen = false;
        ASSERT_TRUE(wait_for("Press any key to continue...", 3600s, [&](const std::string& look) {
            progress_seen = progress_seen || look.find("% done") != std::string::npos;
        })) << screen();
        if (!progress_seen) {
            std::cout << accuracy << " digits were done before a status line was drawn; more digits\n";
            continue;
        }
        EXPECT_FALSE(screen_shows("% done")) << screen();
        EXPECT_TRUE(screen_shows("Computation time is : ")) << screen();
        tmux("send-keys -t pi q");
        ASSERT_TRUE(wait_for("exit status 0", 10s)) << screen();
        return;
    }
    FAIL() << "no status line in any run";
}

TEST_F(Terminal, CtrlCDuringTheRunErasesTheStatusLineStopsTheLoopAndKeepsTheOldResult)
{
    for (int32_t accuracy : growing_accuracies()) {
        dir_.write("Out.txt", "old result\n");
        ASSERT_NO_FATAL_FAILURE(start_and_type("interruptible-loop", std::to_string(accuracy)));
        const std::string seen = wait_for_any({"% done", "Press any key to continue..."}, 3600s);
        ASSERT_NE(seen, "") << screen();
        if (seen == "% done") {
            tmux("send-keys -t pi C-c");
            ASSERT_NO_FATAL_FAILURE(expect_loop_interrupted());
        }
        if (screen_shows("Computation time is : ")) {
            std::cout << accuracy << " digits were done before Ctrl-C could be pressed; more digits\n";
            continue;
        }
        EXPECT_FALSE(screen_shows("% done")) << screen();
        EXPECT_TRUE(screen_shows("interrupted")) << "the outer shell saw no SIGINT:\n" << screen();
        EXPECT_EQ(dir_.read("Out.txt"), "old result\n");
        EXPECT_EQ(dir_.entries(), std::vector<std::string>{"Out.txt"});
        expect_terminal_restored();
        return;
    }
    FAIL() << "every run ended before Ctrl-C could be pressed";
}

TEST_F(Terminal, CtrlCAtTheLastKeyRestoresTheTerminalAndStopsTheLoop)
{
    ASSERT_NO_FATAL_FAILURE(start_and_type("interruptible-loop", "100"));
    ASSERT_TRUE(wait_for("Press any key to continue...", 60s)) << screen();
    tmux("send-keys -t pi C-c");
    ASSERT_NO_FATAL_FAILURE(expect_loop_interrupted());
    expect_terminal_restored();
    EXPECT_EQ(dir_.read("Out.txt"), expected_result_file(100));
}
