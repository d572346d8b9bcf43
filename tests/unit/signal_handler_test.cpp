#include <gtest/gtest.h>

#include <string>

#include "fake_console.h"
#include "interactive/shutdown.h"

namespace {

using quillmere::platform::ControlEvent;
using namespace quillmere::interactive;

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

/// A control event by its number, as the console delivers it.
ControlEvent event_number(unsigned long number) {
    return static_cast<ControlEvent>(number);
}

TEST_F(SignalHandlerTest, SetupCreatesAnUnsignalledEventAndRegistersTheHandler) {
    install();
    ASSERT_NE(shutdown_event(), nullptr);
    EXPECT_FALSE(fake_console_event_is_signalled(shutdown_event()));
    EXPECT_FALSE(shutdown_requested());
    EXPECT_EQ(fake_console_open_events(), 1);
}

TEST_F(SignalHandlerTest, EveryStopEventSetsTheFlagAndSignalsTheEvent) {
    for (const ControlEvent type :
         {ControlEvent::ctrl_c, ControlEvent::ctrl_break, ControlEvent::close, ControlEvent::logoff,
          ControlEvent::shutdown}) {
        const auto number = static_cast<unsigned long>(type);
        fake_console_reset();
        const ControlHandler handler = install();
        ShutdownEvent* const event = shutdown_event();
        EXPECT_TRUE(handler(type)) << number;
        EXPECT_TRUE(shutdown_requested()) << number;
        EXPECT_TRUE(fake_console_event_is_signalled(event)) << number;
    }
}

TEST_F(SignalHandlerTest, TheStopEventsAreTheConsolesNumbers) {
    // CTRL_C_EVENT, CTRL_BREAK_EVENT, CTRL_CLOSE_EVENT, CTRL_LOGOFF_EVENT, CTRL_SHUTDOWN_EVENT.
    EXPECT_EQ(static_cast<unsigned long>(ControlEvent::ctrl_c), 0ul);
    EXPECT_EQ(static_cast<unsigned long>(ControlEvent::ctrl_break), 1ul);
    EXPECT_EQ(static_cast<unsigned long>(ControlEvent::close), 2ul);
    EXPECT_EQ(static_cast<unsigned long>(ControlEvent::logoff), 5ul);
    EXPECT_EQ(static_cast<unsigned long>(ControlEvent::shutdown), 6ul);
}

TEST_F(SignalHandlerTest, OtherEventTypesArePassedOnAndChangeNothing) {
    const ControlHandler handler = install();
    ShutdownEvent* const event = shutdown_event();
    for (const unsigned long type : {3ul, 4ul, 7ul, 0xFFFFFFFFul}) {
        EXPECT_FALSE(handler(event_number(type))) << type;
    }
    EXPECT_FALSE(shutdown_requested());
    EXPECT_FALSE(fake_console_event_is_signalled(event));
    EXPECT_EQ(shutdown_event(), event);
}

TEST_F(SignalHandlerTest, ASecondCtrlCChangesNothingMore) {
    const ControlHandler handler = install();
    ShutdownEvent* const event = shutdown_event();
    EXPECT_TRUE(handler(ControlEvent::ctrl_c));
    EXPECT_TRUE(handler(ControlEvent::ctrl_c));
    EXPECT_TRUE(shutdown_requested());
    EXPECT_TRUE(fake_console_event_is_signalled(event));
    EXPECT_EQ(shutdown_event(), event);
    EXPECT_EQ(fake_console_open_events(), 1);
}

TEST_F(SignalHandlerTest, AnEventAfterTheEndOnlySetsTheFlag) {
    const ControlHandler handler = install();
    close_shutdown_event();
    EXPECT_EQ(shutdown_event(), nullptr);
    EXPECT_EQ(fake_console_open_events(), 0);
    EXPECT_TRUE(handler(ControlEvent::close));
    EXPECT_TRUE(shutdown_requested());
    EXPECT_EQ(shutdown_event(), nullptr);
    EXPECT_EQ(fake_console_open_events(), 0);
}

TEST_F(SignalHandlerTest, EventFailureIsReportedWithItsErrorNumber) {
    fake_console_fail(FakeConsoleOp::create_event, 12);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(setup_signal_handlers());
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "\nFatal Error: Could not create shutdown event object (Error 12).\n");
    EXPECT_EQ(shutdown_event(), nullptr);
    EXPECT_EQ(fake_console_control_handler(), nullptr);
}

TEST_F(SignalHandlerTest, HandlerFailureReleasesTheEvent) {
    fake_console_fail(FakeConsoleOp::install_handler, 22);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(setup_signal_handlers());
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "\nFatal Error: Could not set Windows console control handler (Error 22).\n");
    EXPECT_EQ(shutdown_event(), nullptr);
    EXPECT_EQ(fake_console_open_events(), 0);
}

}  // namespace
