#include <gtest/gtest.h>

#include <string>

#include "interactive/messages.h"
#include "interactive/request_record.h"

TEST(StatusNames, AssignedCodesHaveTheirNames) {
    EXPECT_STREQ(status_code_to_string(STATUS_SUCCESS), "SUCCESS");
    EXPECT_STREQ(status_code_to_string(STATUS_FAILURE), "FAILURE");
    EXPECT_STREQ(status_code_to_string(STATUS_MEMORY_ALLOCATION_ERROR), "Memory Allocation Error");
    EXPECT_STREQ(status_code_to_string(STATUS_INVALID_INPUT_ERROR), "Invalid Input Error");
    EXPECT_STREQ(status_code_to_string(STATUS_CALCULATION_ERROR), "Calculation Error");
    EXPECT_STREQ(status_code_to_string(STATUS_FILE_IO_ERROR), "File I/O Error");
    EXPECT_STREQ(status_code_to_string(STATUS_ARITHMETIC_OVERFLOW_ERROR),
                 "Arithmetic Overflow Error");
}

TEST(StatusNames, UnassignedCodesAreUnknown) {
    for (int code : {-4, -5, -7, -10, -13, 1, 100}) {
        EXPECT_STREQ(status_code_to_string(code), "Unknown Error Code") << code;
    }
}

TEST(PrintStderr, FramesTheMessageWithNewlines) {
    testing::internal::CaptureStderr();
    print_stderr("Failed to gather required inputs (%s).", "Invalid Input Error");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "\nFailed to gather required inputs (Invalid Input Error).\n");
}

TEST(SharedConstants, SuggestionThresholdIsOneStepAboveOneMillionth) {
    EXPECT_EQ(ARBITRARY_SUGGESTION_THRESHOLD, 1.0000000000000002e-06);
    EXPECT_GT(ARBITRARY_SUGGESTION_THRESHOLD, 1e-6);
}
