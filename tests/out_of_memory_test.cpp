// The words for memory refused, as the program prints them, and the way out
// where nothing can unwind: the line on standard error and status 1, on
// every platform.
#include "out_of_memory_report.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string line_for(const OutOfMemory& refused)
{
    char buffer[200];
    format_out_of_memory(refused, buffer, sizeof buffer);
    return buffer;
}

}  // namespace

TEST(OutOfMemory, TheLineSaysTheBytesTheirMebibytesRoundedUpAndWhatTheyWereFor)
{
    EXPECT_EQ(line_for(OutOfMemory(MemoryUse::digit_arrays, 1048576)),
              "cannot allocate 1048576 bytes (1 MiB) for the digit arrays");
    EXPECT_EQ(line_for(OutOfMemory(MemoryUse::digit_arrays, 1048577, 1000)),
              "cannot allocate 1048577 bytes (2 MiB) for the digit arrays: 1000 bytes (1 MiB) available");
    EXPECT_EQ(line_for(OutOfMemory(MemoryUse::big_integers, 17179869184)),
              "cannot allocate 17179869184 bytes (16384 MiB) for the big integers");
    EXPECT_EQ(line_for(OutOfMemory(MemoryUse::digit_arrays, 0, 0)),
              "cannot allocate 0 bytes (0 MiB) for the digit arrays: 0 bytes (0 MiB) available");
}

TEST(OutOfMemory, ALineCutToItsBufferStaysAString)
{
    char small[16];
    format_out_of_memory(OutOfMemory(MemoryUse::digit_arrays, 123456789, 42), small, sizeof small);
    EXPECT_EQ(std::string(small), "cannot allocate");
}

TEST(OutOfMemory, MemoryRefusedWhereNothingCanUnwindEndsTheProcessWithTheLineAndStatusOne)
{
    EXPECT_EXIT(
        {
            set_refused_memory_exit(exit_for_refused_memory_now);
            exit_for_refused_memory(MemoryUse::big_integers, 123456789);
        },
        ::testing::ExitedWithCode(1), "pi: cannot allocate 123456789 bytes \\(118 MiB\\) for the big integers");
}
