// Entry point: runs the program and turns any failure into one line on
// standard error and a non-zero exit status.
#include "out_of_memory_report.hpp"
#include "run_program.hpp"

#include <cstdio>
#include <exception>

namespace {

int report(const char* message)
{
    std::fflush(stdout);
    std::fprintf(stderr, "pi: %s\n", message);
    return 1;
}

}  // namespace

int main()
{
    try {
        return run_program();
    } catch (const OutOfMemory& refused) {
        char message[200];
        format_out_of_memory(refused, message, sizeof message);
        return report(message);
    } catch (const std::exception& error) {
        return report(error.what());
    }
}
