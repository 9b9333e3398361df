// The console program: the dialogue, the computation, its timing, the result
// file and the report.
#pragma once

#include <cstdint>
#include <stdexcept>

// The user's input cannot be used; what() says which values are accepted.
class InputError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The report could not be printed (standard output closed or full); the
// result file is written by then.
class ReportError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Runs the whole dialogue on standard input and output and returns the exit
// status. Failures are thrown (InputError, OutOfMemory, FileError,
// ReportError) for main to report.
int run_program();

// The most bytes a run over limb_count limbs holds at once, the computation
// and the writing of its result counted: what the up-front check asks for.
int64_t run_bytes_needed(int32_t limb_count);
