// Running the built program as a user would: standard input from a file,
// output captured, in a working directory of the test's choosing.
#pragma once

#include <functional>
#include <string>

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

// Runs program (no arguments) to its end.
ProcessResult run_process(const std::string& program, const ProcessOptions& options);

// Runs the built pi in working_directory with input on standard input.
ProcessResult run_pi(const std::string& working_directory, const std::string& input);
