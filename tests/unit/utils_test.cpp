#include <gtest/gtest.h>

#include <string>

#include "interactive/messages.h"
#include "solver_calls.h"

TEST(PrintStderr, FramesTheMessageWithNewlines) {
    testing::internal::CaptureStderr();
    quillmere::interactive::print_stderr("Failed to gather required inputs (%s).",
                                         "Invalid Input Error");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "\nFailed to gather required inputs (Invalid Input Error).\n");
}

TEST(MaxLongLong, NegativeValuesCountAsAbsent) {
    EXPECT_EQ(max_long_long(-1, -5), -1);
    EXPECT_EQ(max_long_long(-3, 7), 7);
    EXPECT_EQ(max_long_long(7, -3), 7);
    EXPECT_EQ(max_long_long(4, 9), 9);
    EXPECT_EQ(max_long_long(0, 0), 0);
}

TEST(SharedConstants, SuggestionThresholdIsOneStepAboveOneMillionth) {
    EXPECT_EQ(quillmere::significant_error_threshold, 1.0000000000000002e-06);
    EXPECT_GT(quillmere::significant_error_threshold, 1e-6);
}
