#include "process.hpp"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
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

ProcessResult run_process(const std::string& program, const ProcessOptions& options)
{
    const std::string input_path = scratch_file("in");
    const std::string output_path = scratch_file("out");
    const std::string errors_path = scratch_file("err");
    std::ofstream(input_path, std::ios::binary) << options.input;

    const pid_t child = fork();
    if (child < 0)
        throw std::runtime_error("fork failed");
    if (child == 0) {
        const int in = open(input_path.c_str(), O_RDONLY);
        const int out = open(output_path.c_str(), O_WRONLY | O_TRUNC);
        const int err = open(errors_path.c_str(), O_WRONLY | O_TRUNC);
        if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0)
            _exit(126);
        if (chdir(options.working_directory.c_str()) != 0)
            _exit(126);
        if (options.in_child)
            options.in_child();
        execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
    }
    ProcessResult result;
    if (WIFEXITED(status))
        result.exit_status = WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        result.signal = WTERMSIG(status);
    result.output = slurp(output_path);
    result.errors = slurp(errors_path);
    for (const std::string& path : {input_path, output_path, errors_path})
        std::remove(path.c_str());
    return result;
}

ProcessResult run_pi(const std::string& working_directory, const std::string& input)
{
    ProcessOptions options;
    options.input = input;
    options.working_directory = working_directory;
    return run_process(PI_BINARY, options);
}
