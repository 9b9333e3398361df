// The program in a real terminal, driven through tmux: the prompt shows before
// anything is typed, one key (not Enter) ends the program, the status line
// comes and goes, and Ctrl-C leaves the terminal as it found it.
#include "process.hpp"
#include "reference_digits.hpp"
#include "temp_dir.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

class Terminal : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!std::filesystem::exists("/usr/bin/tmux"))
            GTEST_SKIP() << "tmux is not installed: the terminal cases were not run";
        socket_ = "pi-test-" + std::to_string(getpid());
    }

    void TearDown() override
    {
        if (!socket_.empty())
            tmux("kill-server");
    }

    // Starts pi in a fresh terminal; after it ends, the shell prints its exit
    // status and the terminal's settings.
    void start_pi()
    {
        const std::string started = tmux("new-session -d -s pi -x 200 -y 50 -c " + dir_.path() + " '" + pi_binary() +
             "; echo \"exit status $?\"; stty -a; sleep 600'");
        ASSERT_EQ(started, "") << "tmux could not start a session";
    }

    // Starts pi, waits for its prompt and types accuracy and Enter.
    void start_pi_and_type(const std::string& accuracy)
    {
        ASSERT_NO_FATAL_FAILURE(start_pi());
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

    // Polls the screen until it shows text, calling each_look with every look.
    bool wait_for(const std::string& text, std::chrono::seconds timeout,
                  const std::function<void(const std::string&)>& each_look = {})
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            const std::string now = screen();
            if (each_look)
                each_look(now);
            if (now.find(text) != std::string::npos)
                return true;
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }

    void expect_terminal_restored()
    {
        ASSERT_TRUE(wait_for("icanon", 10s)) << "stty printed nothing";
        const std::string settings = screen();
        EXPECT_NE(settings.find(" icanon"), std::string::npos) << settings;
        EXPECT_EQ(settings.find("-icanon"), std::string::npos) << settings;
        EXPECT_EQ(settings.find("-echo "), std::string::npos) << settings;
    }

    TempDir dir_;
    std::string socket_;
};

}  // namespace

TEST_F(Terminal, PromptFirstThenTheRunThenOneKeyEndsIt)
{
    start_pi();
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

TEST_F(Terminal, ALongRunShowsProgressAndErasesItBeforeTheReport)
{
    ASSERT_NO_FATAL_FAILURE(start_pi_and_type("1000000"));
    bool progress_seen = false;
    ASSERT_TRUE(wait_for("Press any key to continue...", 600s, [&](const std::string& look) {
        progress_seen = progress_seen || look.find("% done") != std::string::npos;
    })) << screen();
    EXPECT_TRUE(progress_seen) << "no status line during a run of several seconds";
    EXPECT_FALSE(screen_shows("% done")) << screen();
    EXPECT_TRUE(dir_.read("Out.txt") == expected_result_file(1000000)) << "a wrong digit in the million";
    tmux("send-keys -t pi q");
    ASSERT_TRUE(wait_for("exit status 0", 10s)) << screen();
}

TEST_F(Terminal, CtrlCDuringTheRunErasesTheStatusLineAndKeepsTheOldResult)
{
    dir_.write("Out.txt", "old result\n");
    ASSERT_NO_FATAL_FAILURE(start_pi_and_type("5000000"));
    ASSERT_TRUE(wait_for("% done", 60s)) << screen();
    tmux("send-keys -t pi C-c");
    ASSERT_TRUE(wait_for("exit status 130", 10s)) << screen();
    EXPECT_FALSE(screen_shows("% done")) << screen();
    EXPECT_EQ(dir_.read("Out.txt"), "old result\n");
    EXPECT_EQ(dir_.entries(), std::vector<std::string>{"Out.txt"});
    expect_terminal_restored();
}

TEST_F(Terminal, CtrlCAtTheLastKeyRestoresTheTerminal)
{
    ASSERT_NO_FATAL_FAILURE(start_pi_and_type("100"));
    ASSERT_TRUE(wait_for("Press any key to continue...", 60s)) << screen();
    tmux("send-keys -t pi C-c");
    ASSERT_TRUE(wait_for("exit status 130", 10s)) << screen();
    expect_terminal_restored();
    EXPECT_EQ(dir_.read("Out.txt"), expected_result_file(100));
}
