// Running the built program as a user would: standard input from a file,
// output captured, in a working directory of the test's choosing.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

struct ProcessResult {
    int exit_status = -1;  // the status passed to exit, or -1 when killed
    int signal = 0;        // the signal that ended it, or 0
    std::string output;    // standard output
    std::string errors;    // standard error
};

struct ProcessOptions {
    std::string input;                   // all of standard input
    std::string working_directory = ".";
    std::function<void()> in_child;      // runs in the child just before exec
};

// A child process started in the background.
class RunningProcess {
public:
    RunningProcess(const std::vector<std::string>& command, const ProcessOptions& options);
    ~RunningProcess();  // kills the child if it still runs
    RunningProcess(const RunningProcess&) = delete;
    RunningProcess& operator=(const RunningProcess&) = delete;

    pid_t pid() const { return pid_; }
    // Waits for the end, or gives up after timeout and returns nothing.
    std::optional<ProcessResult> wait(std::chrono::milliseconds timeout);
    // What the child has written to standard output so far.
    std::string output_so_far() const;
    // Waits until standard output holds text; false when the child ended, or
    // timeout passed, without writing it.
    bool wait_for_output(const std::string& text, std::chrono::milliseconds timeout) const;

private:
    pid_t pid_ = -1;
    std::string input_path_, output_path_, errors_path_;
};

// Runs command (the program and its arguments) to its end.
ProcessResult run_process(const std::vector<std::string>& command, const ProcessOptions& options);
ProcessResult run_process(const std::string& program, const ProcessOptions& options);

// Runs the built pi in working_directory with input on standard input, after
// in_child (if given) has set up the child's limits.
ProcessResult run_pi(const std::string& working_directory, const std::string& input,
                     std::function<void()> in_child = {});

// The path of the built pi.
std::string pi_binary();

// Accuracies for a test that must act while a computation runs (signal it,
// see its status line). The test acts as soon as it can and takes the next,
// eight times larger, only when a run ended before it could act, so it
// assumes no speed: 500,000 digits first, 256,000,000 at most.
std::vector<int32_t> growing_accuracies();
