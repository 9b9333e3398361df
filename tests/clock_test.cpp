// The report's clock: counts from the start of the process, and the seconds
// it prints for a count of milliseconds.
#include "clock.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

std::string report_field(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%9.2f", seconds);
    return text;
}

}  // namespace

TEST(Clock, CountsFromTheStartOfTheProcessAndNeverGoesBack)
{
    const int64_t first = milliseconds_since_start();
    const int64_t second = milliseconds_since_start();
    EXPECT_GE(first, 0);
    EXPECT_GE(second, first);
    // A count of the machine's uptime or of the epoch would be far beyond a
    // day here; a test process is minutes old at most.
    EXPECT_LT(first, int64_t{24} * 3600 * 1000);
}

TEST(Clock, ElapsedMillisecondsArePrintedInSeconds)
{
    EXPECT_EQ(report_field(elapsed_seconds(0, 1234)), "     1.23");
    EXPECT_EQ(report_field(elapsed_seconds(500, 500)), "     0.00");
    // The single-precision scale is a little above 0.001, which shows only in
    // far digits: 0.0010000000474974513 per millisecond.
    EXPECT_EQ(elapsed_seconds(0, 1000), 1000 * 0.0010000000474974513);
}

TEST(Clock, CountsBeyondThirtyTwoBitsDoNotWrap)
{
    // Past 2^31 milliseconds (24.8 days) a 32-bit count would turn negative.
    const int64_t start = (int64_t{1} << 31) - 100;
    EXPECT_EQ(report_field(elapsed_seconds(start, start + 1234)), "     1.23");
    EXPECT_EQ(report_field(elapsed_seconds(0, int64_t{1} << 32)), "4294967.50");
}
