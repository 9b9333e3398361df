// Entry point: runs the program and turns any failure into one line on
// standard error and a non-zero exit status.
#include "run_program.hpp"

#include <cstdio>
#include <exception>

int main()
{
    try {
        return run_program();
    } catch (const std::exception& error) {
        std::fflush(stdout);
        std::fprintf(stderr, "pi: %s\n", error.what());
        return 1;
    }
}
