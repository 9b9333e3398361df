#include "process.hpp"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

// Standard input and both outputs go through files, never pipes, so neither
// side can block on the other however much either writes.
std::string scratch_file(const char* role)
{
    std::string path = std::string("/tmp/pi-test-") + role + "-XXXXXX";
    const int fd = mkstemp(path.data());
    if (fd < 0)
        throw std::runtime_error("cannot create a scratch file");
    close(fd);
    return path;
}

std::string slurp(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::stringstream contents;
    contents << file.rdbuf();
    return contents.str();
}

}  // namespace

RunningProcess::RunningProcess(const std::vector<std::string>& command, const ProcessOptions& options)
    : input_path_(scratch_file("in")), output_path_(scratch_file("out")), errors_path_(scratch_file("err"))
{
    std::ofstream(input_path_, std::ios::binary) << options.input;
    std::vector<char*> arguments;
    for (const std::string& word : command)
        arguments.push_back(const_cast<char*>(word.c_str()));
    arguments.push_back(nullptr);

    pid_ = fork();
    if (pid_ < 0)
        throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        const int in = open(input_path_.c_str(), O_RDONLY);
        const int out = open(output_path_.c_str(), O_WRONLY | O_TRUNC);
        const int err = open(errors_path_.c_str(), O_WRONLY | O_TRUNC);
        if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0)
            _exit(126);
        if (chdir(options.working_directory.c_str()) != 0)
            _exit(126);
        if (options.in_child)
            options.in_child();
        execv(arguments[0], arguments.data());
        _exit(127);
    }
}

RunningProcess::~RunningProcess()
{
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    for (const std::string& path : {input_path_, output_path_, errors_path_})
        std::remove(path.c_str());
}

std::optional<ProcessResult> RunningProcess::wait(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline)
            return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pid_ = -1;
    ProcessResult result;
    if (WIFEXITED(status))
        result.exit_status = WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        result.signal = WTERMSIG(status);
    result.output = slurp(output_path_);
    result.errors = slurp(errors_path_);
    return result;
}

std::string RunningProcess::output_so_far() const
{
    return slurp(output_path_);
}

bool RunningProcess::wait_for_output(const std::string& text, std::chrono::milliseconds timeout) const
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        // Whether the child has ended is read before the output, so output
        // written just before the end is still seen.
        siginfo_t ended{};
        const bool gone = pid_ <= 0 || (waitid(P_PID, id_t(pid_), &ended, WEXITED | WNOHANG | WNOWAIT) == 0 &&
                                        ended.si_pid == pid_);
        if (output_so_far().find(text) != std::string::npos)
            return true;
        if (gone || std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

ProcessResult run_process(const std::vector<std::string>& command, const ProcessOptions& options)
{
    RunningProcess process(command, options);
    return *process.wait(std::chrono::hours(1));
}

ProcessResult run_process(const std::string& program, const ProcessOptions& options)
{
    return run_process(std::vector<std::string>{program}, options);
}

ProcessResult run_pi(const std::string& working_directory, const std::string& input,
                     std::function<void()> in_child)
{
    ProcessOptions options;
    options.input = input;
    options.working_directory = working_directory;
    options.in_child = std::move(in_child);
    return run_process(pi_binary(), options);
}

std::string pi_binary()
{
    return PI_BINARY;
}

std::vector<int32_t> growing_accuracies()
{
    return {500'000, 4'000'000, 32'000'000, 256'000'000};
}
