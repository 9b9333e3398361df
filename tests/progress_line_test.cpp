// The status line's text: the percent done and the time left, from the
// smallest share of work on, in seconds, minutes or hours.
#include "progress_line.hpp"

#include <gtest/gtest.h>

TEST(ProgressText, NothingDoneYetShowsNoEstimate)
{
    EXPECT_EQ(progress_text(0.0, 1.0), "Computing: 0% done");
    EXPECT_EQ(progress_text(0.0, 30.0), "Computing: 0% done");
}

TEST(ProgressText, TheSmallestShareDoneAlreadyGivesTheTimeLeft)
{
    // Shares that are powers of two keep the arithmetic exact.
    EXPECT_EQ(progress_text(1.0 / 1024, 1.0), "Computing: 0% done, about 17 min 3 s left");  // 1023 s
    EXPECT_EQ(progress_text(1.0 / 256, 0.125), "Computing: 0% done, about 32 s left");        // 31.875 s
    EXPECT_EQ(progress_text(1e-9, 1.0).rfind("Computing: 0% done, about ", 0), 0u);
}

TEST(ProgressText, SecondsAndMinutesAreRoundedUp)
{
    EXPECT_EQ(progress_text(0.5, 2.5), "Computing: 50% done, about 3 s left");
    EXPECT_EQ(progress_text(0.25, 1.0), "Computing: 25% done, about 3 s left");
    EXPECT_EQ(progress_text(0.5, 59.0), "Computing: 50% done, about 59 s left");
    EXPECT_EQ(progress_text(0.5, 60.0), "Computing: 50% done, about 1 min 0 s left");
    EXPECT_EQ(progress_text(0.75, 100.0), "Computing: 75% done, about 34 s left");  // 33.3 s
    EXPECT_EQ(progress_text(0.5, 3599.0), "Computing: 50% done, about 59 min 59 s left");
}

TEST(ProgressText, LongRunsAreCountedInHoursAndMinutes)
{
    EXPECT_EQ(progress_text(0.5, 3600.0), "Computing: 50% done, about 1 h 0 min left");
    EXPECT_EQ(progress_text(0.5, 8400.0), "Computing: 50% done, about 2 h 20 min left");
    EXPECT_EQ(progress_text(0.5, 8401.0), "Computing: 50% done, about 2 h 21 min left");  // minutes rounded up
    EXPECT_EQ(progress_text(0.125, 3600.0), "Computing: 12% done, about 7 h 0 min left");
    EXPECT_EQ(progress_text(1.0 / 1024, 36.0), "Computing: 0% done, about 10 h 14 min left");  // 36828 s
}

TEST(ProgressText, TheWorkDoneShowsNoEstimate)
{
    EXPECT_EQ(progress_text(1.0, 10.0), "Computing: 100% done");
    EXPECT_EQ(progress_text(0.999, 10.0), "Computing: 99% done, about 1 s left");
}
