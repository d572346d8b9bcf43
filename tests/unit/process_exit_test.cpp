#include "process_exit.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "fake_console.h"

namespace {

// Each case runs in a child process of its own, since the program ends there.

#ifndef _WIN32
/// Points standard output at a device that refuses every write.
void send_standard_output_to_dev_full() {
    if (std::freopen("/dev/full", "w", stdout) == nullptr) std::exit(3);
}

TEST(ProcessExitDeathTest, AFailedFlushIsReportedWithItsReason) {
    EXPECT_EXIT(
        {
            send_standard_output_to_dev_full();
            std::fputs("Target: Input Rate = 48000.00 Hz\n", stdout);
            flush_standard_output();
            std::exit(0);
        },
        testing::ExitedWithCode(1),
        "^Error: cannot write the results to standard output \\(No space left on device\\)\\.\n$");
}

TEST(ProcessExitDeathTest, AWriteThatFailedBeforeTheFlushIsReportedToo) {
    // More than one buffer of text: the stream writes it out by itself, the write fails
    // and only the error indicator is left for the next flush.
    EXPECT_EXIT(
        {
            send_standard_output_to_dev_full();
            const std::string dots(1 << 16, '.');
            std::fputs(dots.c_str(), stdout);
            flush_standard_output();
            std::exit(0);
        },
        testing::ExitedWithCode(1), "^Error: cannot write the results to standard output\\.\n$");
}

TEST(ProcessExitDeathTest, AWritableStandardOutputGoesOn) {
    EXPECT_EXIT(
        {
            std::fputs("", stdout);
            flush_standard_output();
            std::exit(7);
        },
        testing::ExitedWithCode(7), "^$");
}

#endif  // _WIN32

TEST(ProcessExitTest, EndingInTheMiddleOfAReadPutsTheConsoleModeBack) {
    fake_console_reset();
    ConsoleMode initial;
    unsigned long error = 0;
    ASSERT_TRUE(console_get_input_mode(&initial, &error));
    ASSERT_TRUE(console_set_raw_input_mode(&initial, &error));
    ASSERT_TRUE(fake_console_is_raw());
    console_leave_raw_mode();
    EXPECT_FALSE(fake_console_is_raw());
}

}  // namespace
