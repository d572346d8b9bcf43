#include <gtest/gtest.h>

#include <string>

#include "fake_console.h"
#include "interactive/shutdown.h"

namespace {

class SignalHandlerTest : public testing::Test {
protected:
    void SetUp() override { fake_console_reset(); }
    void TearDown() override { fake_console_reset(); }

    /// Runs the set-up and returns the handler it registered.
    static ControlHandler install() {
        EXPECT_TRUE(setup_signal_handlers());
        const ControlHandler handler = fake_console_control_handler();
        EXPECT_NE(handler, nullptr);
        return handler;
    }
};

TEST_F(SignalHandlerTest, SetupCreatesAnUnsignalledEventAndRegistersTheHandler) {
    install();
    ASSERT_NE(g_hShutdownEvent.load(), nullptr);
    EXPECT_FALSE(fake_console_event_is_signalled(g_hShutdownEvent.load()));
    EXPECT_FALSE(g_shutdown_requested.load());
    EXPECT_EQ(fake_console_open_events(), 1);
}

TEST_F(SignalHandlerTest, EveryStopEventSetsTheFlagAndSignalsTheEvent) {
    for (const unsigned long type : {0ul, 1ul, 2ul, 5ul, 6ul}) {
        fake_console_reset();
        const ControlHandler handler = install();
        ShutdownEvent* const event = g_hShutdownEvent.load();
        EXPECT_TRUE(handler(type)) << type;
        EXPECT_TRUE(g_shutdown_requested.load()) << type;
        EXPECT_TRUE(fake_console_event_is_signalled(event)) << type;
    }
}

TEST_F(SignalHandlerTest, OtherEventTypesArePassedOnAndChangeNothing) {
    const ControlHandler handler = install();
    ShutdownEvent* const event = g_hShutdownEvent.load();
    for (const unsigned long type : {3ul, 4ul, 7ul, 0xFFFFFFFFul}) {
        EXPECT_FALSE(handler(type)) << type;
    }
    EXPECT_FALSE(g_shutdown_requested.load());
    EXPECT_FALSE(fake_console_event_is_signalled(event));
    EXPECT_EQ(g_hShutdownEvent.load(), event);
}

TEST_F(SignalHandlerTest, ASecondCtrlCChangesNothingMore) {
    const ControlHandler handler = install();
    ShutdownEvent* const event = g_hShutdownEvent.load();
    EXPECT_TRUE(handler(0));
    EXPECT_TRUE(handler(0));
    EXPECT_TRUE(g_shutdown_requested.load());
    EXPECT_TRUE(fake_console_event_is_signalled(event));
    EXPECT_EQ(g_hShutdownEvent.load(), event);
    EXPECT_EQ(fake_console_open_events(), 1);
}

TEST_F(SignalHandlerTest, AnEventAfterTheEndOnlySetsTheFlag) {
    const ControlHandler handler = install();
    ShutdownEvent* const event = g_hShutdownEvent.exchange(nullptr);
    shutdown_event_close(event);
    EXPECT_TRUE(handler(2));
    EXPECT_TRUE(g_shutdown_requested.load());
    EXPECT_EQ(g_hShutdownEvent.load(), nullptr);
    EXPECT_EQ(fake_console_open_events(), 0);
}

TEST_F(SignalHandlerTest, EventFailureIsReportedWithItsErrorNumber) {
    fake_console_fail(FAKE_OP_CREATE_EVENT, 12);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(setup_signal_handlers());
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "\nFatal Error: Could not create shutdown event object (Error 12).\n");
    EXPECT_EQ(g_hShutdownEvent.load(), nullptr);
    EXPECT_EQ(fake_console_control_handler(), nullptr);
}

TEST_F(SignalHandlerTest, HandlerFailureReleasesTheEvent) {
    fake_console_fail(FAKE_OP_INSTALL_HANDLER, 22);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(setup_signal_handlers());
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "\nFatal Error: Could not set Windows console control handler (Error 22).\n");
    EXPECT_EQ(g_hShutdownEvent.load(), nullptr);
    EXPECT_EQ(fake_console_open_events(), 0);
}

}  // namespace
