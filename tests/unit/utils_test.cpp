#include <gtest/gtest.h>

#include <string>

#include "interactive/messages.h"
#include "quillmere/quillmere.h"

TEST(PrintStderr, FramesTheMessageWithNewlines) {
    testing::internal::CaptureStderr();
    quillmere::interactive::print_stderr("Failed to gather required inputs (%s).",
                                         "Invalid Input Error");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "\nFailed to gather required inputs (Invalid Input Error).\n");
}

TEST(SharedConstants, SuggestionThresholdIsOneStepAboveOneMillionth) {
    EXPECT_EQ(quillmere::significant_error_threshold, 1.0000000000000002e-06);
    EXPECT_GT(quillmere::significant_error_threshold, 1e-6);
}
