// Shared by the console input tests: a fresh fake console per test and capture of the
// standard streams around the code under test.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "capture.h"
#include "fake_console.h"

/// Every test starts with an empty script, a shutdown event in place and no stop request.
class ConsoleTest : public testing::Test {
protected:
    void SetUp() override {
        fake_console_reset();
        fake_console_install_shutdown_event();
    }
    void TearDown() override { fake_console_reset(); }

    /// The mode was put back as often as it was set, with the saved value.
    static void expect_mode_restored() {
        EXPECT_FALSE(fake_console_is_raw());
        EXPECT_EQ(fake_console_restores(), fake_console_raw_sets());
        EXPECT_TRUE(fake_console_restored_saved_mode());
    }
};
