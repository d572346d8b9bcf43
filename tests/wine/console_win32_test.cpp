// The Win32 console layer against a real console: input records are queued with
// WriteConsoleInputA and read back through the layer. Needs a console, so it runs in a
// terminal (smoke.py --session console_layer); without one every test is skipped.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include "platform/console.h"

namespace {

using namespace quillmere::platform;

HANDLE input() {
    return GetStdHandle(STD_INPUT_HANDLE);
}

bool have_console() {
    DWORD mode = 0;
    return GetConsoleMode(input(), &mode) != 0;
}

INPUT_RECORD key(WORD virtual_key, char character, bool down = true) {
    INPUT_RECORD record = {};
    record.EventType = KEY_EVENT;
    record.Event.KeyEvent.bKeyDown = down ? TRUE : FALSE;
    record.Event.KeyEvent.wRepeatCount = 1;
    record.Event.KeyEvent.wVirtualKeyCode = virtual_key;
    record.Event.KeyEvent.uChar.AsciiChar = character;
    return record;
}

void queue(const std::vector<INPUT_RECORD>& records) {
    DWORD written = 0;
    ASSERT_NE(
        WriteConsoleInputA(input(), records.data(), static_cast<DWORD>(records.size()), &written),
        0);
    ASSERT_EQ(written, records.size());
}

class ConsoleLayer : public ::testing::Test {
protected:
    void SetUp() override {
        if (!have_console()) GTEST_SKIP() << "standard input is not a console";
        FlushConsoleInputBuffer(input());
        ASSERT_TRUE(console_open_handles());
        unsigned long error = 0;
        event_ = shutdown_event_create(error);
        ASSERT_NE(event_, nullptr) << error;
    }
    void TearDown() override {
        shutdown_event_close(event_);
        if (have_console()) FlushConsoleInputBuffer(input());
    }
    std::vector<KeyEvent> read_keys(std::size_t capacity) {
        std::vector<KeyEvent> keys(capacity);
        std::size_t count = 99;
        EXPECT_EQ(console_wait_for_input(event_).result, WaitResult::input);
        EXPECT_TRUE(console_read_keys(keys, count).ok);
        keys.resize(count);
        return keys;
    }
    ShutdownEvent* event_ = nullptr;
};

TEST_F(ConsoleLayer, RawModeChangesOnlyItsFiveBitsAndRestoreBringsTheModeBack) {
    DWORD original = 0;
    ASSERT_NE(GetConsoleMode(input(), &original), 0);
    // Every bit the raw mode touches the wrong way round, and two it must leave alone.
    const DWORD cleared =
        ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT | ENABLE_WINDOW_INPUT | ENABLE_MOUSE_INPUT;
    const DWORD kept = ENABLE_INSERT_MODE | ENABLE_EXTENDED_FLAGS;
    ASSERT_NE(SetConsoleMode(input(), cleared | kept), 0);
    DWORD before = 0;
    ASSERT_NE(GetConsoleMode(input(), &before), 0);

    ConsoleMode initial;
    ASSERT_TRUE(console_get_input_mode(initial).ok);
    ASSERT_TRUE(console_set_raw_input_mode(initial).ok);
    DWORD raw = 0;
    GetConsoleMode(input(), &raw);
    EXPECT_EQ(raw, (before | ENABLE_PROCESSED_INPUT) & ~cleared);

    ASSERT_TRUE(console_restore_input_mode(initial).ok);
    DWORD after = 0;
    GetConsoleMode(input(), &after);
    EXPECT_EQ(after, before);
    SetConsoleMode(input(), original);
}

TEST_F(ConsoleLayer, OnlyKeyDownRecordsBecomeKeysAndEnterAndBackspaceGoByVirtualKey) {
    INPUT_RECORD focus = {};
    focus.EventType = FOCUS_EVENT;
    focus.Event.FocusEvent.bSetFocus = TRUE;
    INPUT_RECORD mouse = {};
    mouse.EventType = MOUSE_EVENT;
    mouse.Event.MouseEvent.dwButtonState = FROM_LEFT_1ST_BUTTON_PRESSED;
    queue({key('A', 'a'), key('A', 'a', false), focus, mouse, key(VK_BACK, '\b'), key(VK_LEFT, 0),
           key('M', '\r'), key(VK_RETURN, '\r')});

    const std::vector<KeyEvent> keys = read_keys(CONSOLE_KEY_BATCH);
    ASSERT_EQ(keys.size(), 5u);
    EXPECT_EQ(keys[0].kind, KeyKind::other);
    EXPECT_EQ(keys[0].character, 'a');
    EXPECT_EQ(keys[1].kind, KeyKind::backspace);
    EXPECT_EQ(keys[2].kind, KeyKind::other);  // an arrow: no character
    EXPECT_EQ(keys[2].character, 0);
    EXPECT_EQ(keys[3].kind, KeyKind::other);  // a carriage return that is not the Enter key
    EXPECT_EQ(keys[3].character, '\r');
    EXPECT_EQ(keys[4].kind, KeyKind::enter);
}

TEST_F(ConsoleLayer, OneReadTakesAtMostTheBatchAndLeavesTheRestQueued) {
    std::vector<INPUT_RECORD> records(CONSOLE_KEY_BATCH + 2, key('X', 'x'));
    queue(records);
    EXPECT_EQ(read_keys(CONSOLE_KEY_BATCH).size(), CONSOLE_KEY_BATCH);
    EXPECT_EQ(read_keys(CONSOLE_KEY_BATCH).size(), 2u);

    queue({key('1', '1'), key('2', '2'), key('3', '3')});
    EXPECT_EQ(read_keys(2).size(), 2u);
    EXPECT_EQ(read_keys(2).size(), 1u);
}

TEST_F(ConsoleLayer, AReadEndsAtTheFirstEnterAndKeepsTheNextLineQueued) {
    // Three answers pasted at once: each read takes one line, nothing is lost.
    queue({key('1', '1'), key(VK_RETURN, '\r'), key('2', '2'), key(VK_RETURN, '\r'), key('y', 'y'),
           key(VK_RETURN, '\r')});
    for (const char expected : {'1', '2', 'y'}) {
        const std::vector<KeyEvent> keys = read_keys(CONSOLE_KEY_BATCH);
        ASSERT_EQ(keys.size(), 2u);
        EXPECT_EQ(keys[0].character, expected);
        EXPECT_EQ(keys[1].kind, KeyKind::enter);
    }
}

TEST_F(ConsoleLayer, TheSignalledEventEndsEveryWaitAndInputComesFirst) {
    shutdown_event_signal(event_);
    EXPECT_EQ(console_wait_for_input(event_).result, WaitResult::shutdown);
    // Manual reset: nothing consumes the signal.
    EXPECT_EQ(console_wait_for_input(event_).result, WaitResult::shutdown);
    queue({key('A', 'a')});
    EXPECT_EQ(console_wait_for_input(event_).result, WaitResult::input);
}

TEST_F(ConsoleLayer, AWaitWithoutAnEventFailsWithTheSystemError) {
    const ConsoleWait waited = console_wait_for_input(nullptr);
    EXPECT_EQ(waited.result, WaitResult::failed);
    EXPECT_EQ(waited.code, static_cast<unsigned long>(WAIT_FAILED));
    EXPECT_EQ(waited.error, static_cast<unsigned long>(ERROR_INVALID_HANDLE));
}

TEST_F(ConsoleLayer, WritesReachTheConsoleEvenWithStandardOutputRedirected) {
    DWORD mode = 0;
    if (GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0) {
        GTEST_SKIP() << "standard output is the console here";
    }
    HANDLE screen =
        CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(screen, INVALID_HANDLE_VALUE);
    CONSOLE_SCREEN_BUFFER_INFO info;
    ASSERT_NE(GetConsoleScreenBufferInfo(screen, &info), 0);

    const std::string marker = "console-layer-marker";
    console_write(marker);

    std::string shown(marker.size(), '\0');
    DWORD read = 0;
    ASSERT_NE(ReadConsoleOutputCharacterA(screen, shown.data(), static_cast<DWORD>(shown.size()),
                                          info.dwCursorPosition, &read),
              0);
    EXPECT_EQ(shown, marker);
    CloseHandle(screen);
}

/// The last control event the handler received, by number; 99 before the first.
std::atomic<unsigned long> received_event{99};

bool record_event(ControlEvent event) {
    received_event.store(static_cast<unsigned long>(event));
    return true;
}

TEST_F(ConsoleLayer, TheControlHandlerReceivesCtrlC) {
    ASSERT_TRUE(console_install_control_handler(record_event).ok);
    ASSERT_NE(GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0), 0);
    for (int i = 0; i < 500 && received_event.load() == 99; ++i) Sleep(10);
    EXPECT_EQ(received_event.load(), static_cast<unsigned long>(ControlEvent::ctrl_c));
}

}  // namespace
