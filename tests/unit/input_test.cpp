// The raw line reader, the line checks and the value prompts, over the fake console.
#include <cmath>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "input_test_support.h"
#include "interactive/dialog.h"
#include "interactive/line_checks.h"
#include "interactive/line_reader.h"
#include "interactive/prompts.h"

namespace {

using namespace quillmere::interactive;
using quillmere::SearchMode;
using quillmere::Status;

std::string repeat(char c, std::size_t n) {
    return std::string(n, c);
}

// ---------------------------------------------------------------------------
// Raw line reader
// ---------------------------------------------------------------------------

using LineReader = ConsoleTest;

TEST_F(LineReader, EchoesThePromptAndTheKeysAndEndsOnEnter) {
    fake_console_queue_text("12\r");
    char line[INPUT_LINE_SIZE];
    Status status = Status::calculation_error;
    CapturedStreams streams = capture_streams([&] { status = read_console_line("Rate: ", line); });
    EXPECT_EQ(status, Status::ok);
    EXPECT_STREQ(line, "12");
    EXPECT_EQ(fake_console_output(), "Rate: 12\r\n");
    EXPECT_EQ(streams.out, "");
    EXPECT_EQ(streams.err, "");
    expect_mode_restored();
    EXPECT_EQ(fake_console_script_overruns(), 0);
}

TEST_F(LineReader, NullPromptWritesNothingAndEnterAloneGivesAnEmptyLine) {
    fake_console_queue_text("\n");
    char line[INPUT_LINE_SIZE] = "stale";
    EXPECT_EQ(read_console_line(nullptr, line), Status::ok);
    EXPECT_STREQ(line, "");
    EXPECT_EQ(fake_console_output(), "\r\n");
}

TEST_F(LineReader, BackspaceErasesOnlyWhatWasTyped) {
    fake_console_queue_text("\b\b");
    fake_console_queue_text("12\b");
    fake_console_queue_text("\r");
    char line[INPUT_LINE_SIZE];
    EXPECT_EQ(read_console_line(nullptr, line), Status::ok);
    EXPECT_STREQ(line, "1");
    EXPECT_EQ(fake_console_output(), "12\b \b\r\n");
    EXPECT_EQ(fake_console_beeps(), 0);
}

TEST_F(LineReader, EnterDropsTheRestOfItsBatch) {
    fake_console_queue_text("ab\rcd");
    fake_console_queue_text("\r");
    char line[INPUT_LINE_SIZE];
    EXPECT_EQ(read_console_line(nullptr, line), Status::ok);
    EXPECT_STREQ(line, "ab");
    EXPECT_EQ(read_console_line(nullptr, line), Status::ok);
    EXPECT_STREQ(line, "");
    EXPECT_EQ(fake_console_output(), "ab\r\n\r\n");
}

TEST_F(LineReader, KeysWithoutAPrintableCharacterAreIgnoredSilently) {
    fake_console_queue_keys({
        {KeyKind::other, '\x1b'},
        {KeyKind::other, '\t'},
        {KeyKind::other, '\x7f'},
        {KeyKind::other, static_cast<char>(0xE9)},
        {KeyKind::other, static_cast<char>(0x80)},
        {KeyKind::other, '\0'},
        {KeyKind::other, '\r'},  // a carriage return that is not the Enter key
        {KeyKind::other, '\b'},  // likewise for Backspace
        {KeyKind::other, ' '},
        {KeyKind::other, '~'},
        {KeyKind::enter, '\0'},  // Enter is known by its key, whatever its character
    });
    char line[INPUT_LINE_SIZE];
    EXPECT_EQ(read_console_line(nullptr, line), Status::ok);
    EXPECT_STREQ(line, " ~");
    EXPECT_EQ(fake_console_output(), " ~\r\n");
    EXPECT_EQ(fake_console_beeps(), 0);
}

TEST_F(LineReader, TypedKeyByKeyTheLineHolds254Characters) {
    fake_console_queue_typed(repeat('7', 254) + "\r");
    char line[INPUT_LINE_SIZE];
    Status status = Status::calculation_error;
    CapturedStreams streams = capture_streams([&] { status = read_console_line(nullptr, line); });
    EXPECT_EQ(status, Status::ok);
    EXPECT_EQ(std::string(line), repeat('7', 254));
    EXPECT_EQ(streams.err, "");
    EXPECT_EQ(fake_console_beeps(), 0);
}

TEST_F(LineReader, The255thTypedKeyDiscardsTheLineAtOnce) {
    fake_console_queue_typed(repeat('7', 255));
    char line[INPUT_LINE_SIZE];
    Status status = Status::ok;
    CapturedStreams streams = capture_streams([&] { status = read_console_line("P> ", line); });
    EXPECT_EQ(status, Status::invalid_request);
    EXPECT_EQ(streams.err, "\nInput line too long (max 254 characters). Input discarded.\n\n");
    EXPECT_EQ(streams.out, "");
    EXPECT_EQ(fake_console_output(), "P> " + repeat('7', 255) + "\r\n");
    EXPECT_EQ(fake_console_pending_steps(), 0u);
    EXPECT_EQ(fake_console_script_overruns(), 0);  // no further wait
    expect_mode_restored();
}

TEST_F(LineReader, ABatchCanFillThe255thByteAndItsOwnEnterFinishesTheLine) {
    fake_console_queue_typed(repeat('a', 200));
    fake_console_queue_text(repeat('b', 57) + "\r");  // 55 fit, 2 beep
    char line[INPUT_LINE_SIZE];
    Status status = Status::calculation_error;
    CapturedStreams streams = capture_streams([&] { status = read_console_line(nullptr, line); });
    EXPECT_EQ(status, Status::ok);
    EXPECT_EQ(std::string(line), repeat('a', 200) + repeat('b', 55));
    EXPECT_EQ(fake_console_beeps(), 2);
    EXPECT_EQ(fake_console_output(), repeat('a', 200) + repeat('b', 55) + "\a\a\r\n");
    EXPECT_EQ(streams.err, "");
}

TEST_F(LineReader, AFullBatchWithoutEnterDiscardsTheLineWhenTheBatchEnds) {
    fake_console_queue_typed(repeat('a', 200));
    fake_console_queue_text(repeat('b', 56) + "\b");  // the Backspace frees one byte again
    fake_console_queue_text("c");
    char line[INPUT_LINE_SIZE];
    Status status = Status::ok;
    CapturedStreams streams = capture_streams([&] { status = read_console_line(nullptr, line); });
    EXPECT_EQ(status, Status::invalid_request);
    EXPECT_EQ(fake_console_beeps(), 1);
    EXPECT_EQ(fake_console_output(), repeat('a', 200) + repeat('b', 55) + "\a\b \bc\r\n");
    EXPECT_EQ(streams.err, "\nInput line too long (max 254 characters). Input discarded.\n\n");
    EXPECT_EQ(fake_console_script_overruns(), 0);
}

TEST_F(LineReader, ASmallBufferReportsItsOwnLimit) {
    fake_console_queue_text("abcdef");
    char line[5];
    Status status = Status::ok;
    CapturedStreams streams = capture_streams([&] { status = read_console_line(nullptr, line); });
    EXPECT_EQ(status, Status::invalid_request);
    EXPECT_STREQ(line, "abcd");
    EXPECT_EQ(fake_console_output(), "abcd\a\a\r\n");
    EXPECT_EQ(streams.err, "\nInput line too long (max 3 characters). Input discarded.\n\n");
}

TEST_F(LineReader, AfterAStopAndContinueTheLineIsShownAgainOnAFreshLine) {
    // With its own prompt, and without (the dialog printed the question on standard
    // output): the reader shows again what it wrote itself, with the line as it is now.
    for (const char* prompt : {"Rate: ", static_cast<const char*>(nullptr)}) {
        SCOPED_TRACE(prompt != nullptr ? prompt : "no prompt");
        fake_console_reset();
        fake_console_install_shutdown_event();
        fake_console_queue_text("441");
        fake_console_queue_resume();
        fake_console_queue_text("\b1");
        fake_console_queue_resume();
        fake_console_queue_resume();
        fake_console_queue_text("00\r");
        char line[INPUT_LINE_SIZE];
        Status status = Status::calculation_error;
        const CapturedStreams streams =
            capture_streams([&] { status = read_console_line(prompt, line); });
        EXPECT_EQ(status, Status::ok);
        EXPECT_STREQ(line, "44100");
        const std::string shown = prompt != nullptr ? prompt : "";
        EXPECT_EQ(fake_console_output(), shown + "441" + "\r\n" + shown + "441" + "\b \b1" +
                                             "\r\n" + shown + "441" + "\r\n" + shown + "441" +
                                             "00\r\n");
        EXPECT_EQ(streams.out, "");
        EXPECT_EQ(streams.err, "");
        expect_mode_restored();
        EXPECT_EQ(fake_console_script_overruns(), 0);
    }
}

TEST_F(LineReader, AStopRequestDuringTheWaitEndsTheRead) {
    fake_console_queue_text("12");
    fake_console_queue_shutdown();
    char line[INPUT_LINE_SIZE];
    Status status = Status::ok;
    CapturedStreams streams = capture_streams([&] { status = read_console_line(nullptr, line); });
    EXPECT_EQ(status, Status::stopped);
    EXPECT_EQ(streams.err, "");
    EXPECT_EQ(fake_console_output(), "12");
    EXPECT_TRUE(fake_console_event_is_signalled(shutdown_event()));
    expect_mode_restored();
}

TEST_F(LineReader, AStopRequestDuringTheReadDropsTheBatch) {
    fake_console_queue_text_then_shutdown("12\r");
    char line[INPUT_LINE_SIZE];
    EXPECT_EQ(read_console_line(nullptr, line), Status::stopped);
    EXPECT_EQ(fake_console_output(), "");
    expect_mode_restored();
}

TEST_F(LineReader, AfterAStopRequestOnlyThePromptIsWritten) {
    set_shutdown_flag(true);
    fake_console_queue_text("1\r");
    char line[INPUT_LINE_SIZE];
    EXPECT_EQ(read_console_line("P> ", line), Status::stopped);
    EXPECT_EQ(fake_console_output(), "P> ");
    EXPECT_EQ(fake_console_calls(FakeConsoleOp::wait), 0);
    expect_mode_restored();
}

TEST_F(LineReader, FailuresBeforeTheModeChangeTouchNeitherModeNorBuffer) {
    struct Case {
        FakeConsoleOp op;
        const char* message;
    };
    const Case cases[] = {
        {FakeConsoleOp::open_handles, "\nFailed to get standard handles.\n"},
        {FakeConsoleOp::get_mode, "\nFailed to get console mode (Error 25).\n"},
        {FakeConsoleOp::set_raw, "\nFailed to set raw console mode (Error 25).\n"},
    };
    for (const Case& c : cases) {
        fake_console_reset();
        fake_console_install_shutdown_event();
        fake_console_fail(c.op, 25);
        char line[8] = "keep";
        Status status = Status::ok;
        CapturedStreams streams = capture_streams([&] { status = read_console_line("P> ", line); });
        EXPECT_EQ(status, Status::calculation_error) << c.message;
        EXPECT_EQ(streams.err, c.message);
        EXPECT_STREQ(line, "keep");
        EXPECT_EQ(fake_console_output(), "");
        EXPECT_EQ(fake_console_raw_sets(), 0);
        EXPECT_EQ(fake_console_calls(FakeConsoleOp::restore), 0);
    }
}

TEST_F(LineReader, UnusableBuffersAndAMissingEventAreReportedBeforeAnyModeChange) {
    char line[8] = "keep";
    Status status[4] = {};
    const std::string errors[4] = {
        capture_streams([&] { status[0] = read_console_line("P", std::span<char>(line, 0)); }).err,
        capture_streams([&] { status[1] = read_console_line("P", std::span<char>(line, 1)); }).err,
        capture_streams([&] { status[2] = read_console_line("P", std::span<char>()); }).err,
        capture_streams([&] {
            close_shutdown_event();
            status[3] = read_console_line("P", line);
        }).err,
    };
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(status[i], Status::calculation_error) << i;
        EXPECT_EQ(errors[i], "\nFailed to get standard handles.\n") << i;
    }
    EXPECT_EQ(status[3], Status::calculation_error);
    EXPECT_EQ(errors[3], "\nInternal Error: Shutdown event handle is NULL.\n");
    EXPECT_STREQ(line, "keep");
    EXPECT_EQ(fake_console_output(), "");
    EXPECT_EQ(fake_console_calls(FakeConsoleOp::get_mode), 0);
}

TEST_F(LineReader, ConsoleFailuresWhileRawAreReportedAndTheModeIsPutBack) {
    struct Case {
        FakeConsoleOp op;
        unsigned long wait_result;
        const char* message;
    };
    const Case cases[] = {
        {FakeConsoleOp::read, 0, "\nReadConsoleInput failed (Error 5).\n"},
        {FakeConsoleOp::wait, FAKE_WAIT_FAILED,
         "\nWaitForMultipleObjects failed or returned unexpected value (4294967295, Error 5).\n"},
        {FakeConsoleOp::wait, 0x80,
         "\nWaitForMultipleObjects failed or returned unexpected value (128, Error 5).\n"},
    };
    for (const Case& c : cases) {
        fake_console_reset();
        fake_console_install_shutdown_event();
        fake_console_fail(c.op, 5, 1);  // the first batch arrives, the second call fails
        fake_console_set_wait_failure_result(c.wait_result);
        fake_console_queue_text("9");
        fake_console_queue_text("\r");
        char line[INPUT_LINE_SIZE];
        Status status = Status::ok;
        CapturedStreams streams =
            capture_streams([&] { status = read_console_line(nullptr, line); });
        EXPECT_EQ(status, Status::calculation_error);
        EXPECT_EQ(streams.err, c.message);
        EXPECT_EQ(fake_console_output(), "9");
        expect_mode_restored();
    }
}

TEST_F(LineReader, AFailedRestoreTurnsOnlySuccessAndStopIntoAConsoleFailure) {
    const std::string restore_error = "\nFailed to restore initial console mode (Error 31).\n";
    const std::string too_long = "\nInput line too long (max 3 characters). Input discarded.\n\n";
    const std::string read_error = "\nReadConsoleInput failed (Error 5).\n";
    struct Case {
        int script;  // 0 Enter, 1 stop, 2 over-long line, 3 read failure
        Status expected;
        std::string err;
    };
    const Case cases[] = {
        {0, Status::calculation_error, restore_error},
        {1, Status::calculation_error, restore_error},
        {2, Status::invalid_request, too_long + restore_error},
        {3, Status::calculation_error, read_error + restore_error},
    };
    for (const Case& c : cases) {
        fake_console_reset();
        fake_console_install_shutdown_event();
        fake_console_fail(FakeConsoleOp::restore, 31);
        if (c.script == 0) fake_console_queue_text("ok\r");
        if (c.script == 1) fake_console_queue_shutdown();
        if (c.script == 2) fake_console_queue_text("toolong");
        if (c.script == 3) fake_console_fail(FakeConsoleOp::read, 5);
        if (c.script == 3) fake_console_queue_text("x");
        char line[5];
        Status status = Status::ok;
        CapturedStreams streams =
            capture_streams([&] { status = read_console_line(nullptr, line); });
        EXPECT_EQ(status, c.expected) << c.script;
        EXPECT_EQ(streams.err, c.err) << c.script;
        EXPECT_EQ(fake_console_calls(FakeConsoleOp::restore), 1) << c.script;
    }
}

// ---------------------------------------------------------------------------
// Line checks
// ---------------------------------------------------------------------------

struct DoubleCase {
    const char* line;
    const char* refusal;  // null: accepted
    double value;
};

TEST(PositiveDoubleCheck, AcceptsRatesFromOneHertzToTenTerahertz) {
    const DoubleCase cases[] = {
        {"48000", nullptr, 48000.0}, {"  48000  ", nullptr, 48000.0},
        {"1", nullptr, 1.0},         {"1e13", nullptr, 1e13},
        {"0x1p4", nullptr, 16.0},    {"\t44100.5\v", nullptr, 44100.5},
    };
    for (const DoubleCase& c : cases) {
        double value = 0.0;
        std::string refusal = "x";
        EXPECT_EQ(check_positive_double(c.line, value, refusal), Status::ok) << c.line;
        EXPECT_EQ(value, c.value) << c.line;
        EXPECT_EQ(refusal, "") << c.line;
    }
}

TEST(PositiveDoubleCheck, RefusesWithTheMessageOfTheFirstFailedTest) {
    const DoubleCase cases[] = {
        {"", "\nNo input provided.\n\n", 0},
        {" \t ", "\nNo input provided.\n\n", 0},
        {"48000 Hz", "\nTrailing characters found after number: 'Hz'\n\n", 0},
        {"1.5.2", "\nTrailing characters found after number: '.2'\n\n", 0},
        {"0.999", "\nInput rate is unreasonably small (less than 1.0 Hz).\n\n", 0},
        {"1.0000001e13", "\nInput rate is unreasonably large (exceeds 10.0 THz).\n\n", 0},
        {"0", "\nValue must be positive.\n\n", 0},
        {"-0", "\nValue must be positive.\n\n", 0},
        {"-5", "\nValue must be positive.\n\n", 0},
        {"-inf", "\nValue must be positive.\n\n", 0},
        {"inf", "\nValue must be finite (not NaN or infinity).\n\n", 0},
        {"nan", "\nValue must be finite (not NaN or infinity).\n\n", 0},
        {"1e999", "\nInput value is out of range for a double.\n\n", 0},
        {"1e999 junk", "\nInput value is out of range for a double.\n\n", 0},
        {"+", "\nNo valid number found in input.\n\n", 0},
        {".", "\nNo valid number found in input.\n\n", 0},
        {"Hz", "\nNo valid number found in input.\n\n", 0},
    };
    for (const DoubleCase& c : cases) {
        double value = 0.0;
        std::string refusal;
        EXPECT_EQ(check_positive_double(c.line, value, refusal), Status::invalid_request) << c.line;
        EXPECT_EQ(refusal, c.refusal) << c.line;
    }
}

TEST(PositiveDoubleCheck, StoresTheNumberBeforeTestingIt) {
    double value = 0.0;
    std::string refusal;
    check_positive_double("-5", value, refusal);
    EXPECT_EQ(value, -5.0);
    EXPECT_EQ(check_positive_double(nullptr, value, refusal), Status::invalid_request);
    EXPECT_EQ(refusal, "");
}

struct IntegerCase {
    const char* line;
    const char* refusal;
};

TEST(SpecificIntegerCheck, AcceptsOnlyTheAllowedValues) {
    const int allowed[] = {1, 2};
    int value = 0;
    std::string refusal;
    EXPECT_EQ(check_specific_integer("2", allowed, value, refusal), Status::ok);
    EXPECT_EQ(value, 2);
    EXPECT_EQ(check_specific_integer(" +1 ", allowed, value, refusal), Status::ok);
    EXPECT_EQ(value, 1);

    const IntegerCase cases[] = {
        {"", "\nNo input provided.\n\n"},
        {"3", "\nError: Input must be one of the allowed values: 1, 2.\n\n"},
        {"2.0", "\nTrailing characters found after integer: '.0'\n\n"},
        {"4294967297",
         "\nInput value is outside the valid range for the required integer type.\n\n"},
        {"-2147483649",
         "\nInput value is outside the valid range for the required integer type.\n\n"},
        {"99999999999999999999", "\nInput value is out of range for an integer.\n\n"},
        {"-99999999999999999999", "\nInput value is out of range for an integer.\n\n"},
        {"two", "\nNo valid integer found in input.\n\n"},
        {"-", "\nNo valid integer found in input.\n\n"},
    };
    for (const IntegerCase& c : cases) {
        EXPECT_EQ(check_specific_integer(c.line, allowed, value, refusal), Status::invalid_request)
            << c.line;
        EXPECT_EQ(refusal, c.refusal) << c.line;
    }
}

TEST(SpecificIntegerCheck, ListsEveryAllowedValueAndStoresAnIntBeforeTheListTest) {
    const int allowed[] = {1, 2, 3, 4};
    int value = 0;
    std::string refusal;
    EXPECT_EQ(check_specific_integer("5", allowed, value, refusal), Status::invalid_request);
    EXPECT_EQ(refusal, "\nError: Input must be one of the allowed values: 1, 2, 3, 4.\n\n");
    EXPECT_EQ(value, 5);
    const int single[] = {-7};
    EXPECT_EQ(check_specific_integer("7", single, value, refusal), Status::invalid_request);
    EXPECT_EQ(refusal, "\nError: Input must be one of the allowed values: -7.\n\n");
    EXPECT_EQ(check_specific_integer("1", std::span<const int>(), value, refusal),
              Status::invalid_request);
}

TEST(PositiveLongLongCheck, AcceptsEveryPositive64BitValue) {
    long long value = 0;
    std::string refusal;
    EXPECT_EQ(check_positive_long_long("9223372036854775807", value, refusal), Status::ok);
    EXPECT_EQ(value, 9223372036854775807LL);
    EXPECT_EQ(check_positive_long_long(" 1 ", value, refusal), Status::ok);
    EXPECT_EQ(value, 1);

    const IntegerCase cases[] = {
        {"9223372036854775808", "\nInput value is too large (overflow).\n\n"},
        {"-9223372036854775809", "\nInput value is too small (underflow).\n\n"},
        {"0", "\nValue must be positive.\n\n"},
        {"-3", "\nValue must be positive.\n\n"},
        {"0x10", "\nTrailing characters found after integer: 'x10'\n\n"},
        {"200 L", "\nTrailing characters found after integer: 'L'\n\n"},
        {"   ", "\nNo input provided.\n\n"},
        {"L", "\nNo valid integer found in input.\n\n"},
    };
    for (const IntegerCase& c : cases) {
        EXPECT_EQ(check_positive_long_long(c.line, value, refusal), Status::invalid_request)
            << c.line;
        EXPECT_EQ(refusal, c.refusal) << c.line;
    }
}

TEST(ConfirmationCheck, OneLetterInEitherCaseOrNothing) {
    std::string refusal;
    EXPECT_EQ(check_confirmation("Y", refusal), ConfirmationAnswer::yes);
    EXPECT_EQ(check_confirmation("  y \t", refusal), ConfirmationAnswer::yes);
    EXPECT_EQ(check_confirmation("N", refusal), ConfirmationAnswer::no);
    EXPECT_EQ(check_confirmation("n", refusal), ConfirmationAnswer::no);
    EXPECT_EQ(check_confirmation("", refusal), ConfirmationAnswer::no);
    EXPECT_EQ(check_confirmation("    ", refusal), ConfirmationAnswer::no);
    EXPECT_EQ(refusal, "");
}

TEST(ConfirmationCheck, QuotesTheRefusedLineWithItsLeadingBlanks) {
    const char* const tail = "'. Please enter 'y', 'n', or press Enter for the default ('n').\n\n";
    std::string refusal;
    EXPECT_EQ(check_confirmation("yes", refusal), ConfirmationAnswer::refused);
    EXPECT_EQ(refusal, std::string("\nInvalid input 'yes") + tail);
    EXPECT_EQ(check_confirmation("  no  ", refusal), ConfirmationAnswer::refused);
    EXPECT_EQ(refusal, std::string("\nInvalid input '  no") + tail);
    EXPECT_EQ(check_confirmation(" x", refusal), ConfirmationAnswer::refused);
    EXPECT_EQ(refusal, std::string("\nInvalid input ' x") + tail);
    EXPECT_EQ(check_confirmation("y y", refusal), ConfirmationAnswer::refused);
}

TEST(SearchModeCheck, EmptyMeansMinimalSumOtherwiseOneOrTwo) {
    SearchMode mode = SearchMode::min_cost;
    bool is_default = false;
    std::string refusal;
    EXPECT_EQ(check_search_mode_answer("  ", mode, is_default, refusal), Status::ok);
    EXPECT_EQ(mode, SearchMode::minimal_sum);
    EXPECT_TRUE(is_default);
    EXPECT_EQ(check_search_mode_answer("2", mode, is_default, refusal), Status::ok);
    EXPECT_EQ(mode, SearchMode::custom_limit);
    EXPECT_FALSE(is_default);
    EXPECT_EQ(check_search_mode_answer(" 1 ", mode, is_default, refusal), Status::ok);
    EXPECT_EQ(mode, SearchMode::minimal_sum);
    EXPECT_FALSE(is_default);

    const IntegerCase cases[] = {
        {"3", "\nInput must be 1 or 2.\n\n"},
        {"2x", "\nTrailing characters: 'x'\n\n"},
        {"99999999999999999999", "\nInput out of range.\n\n"},
        {"4294967297", "\nValue out of range for int.\n\n"},
        {"one", "\nNo integer found.\n\n"},
    };
    for (const IntegerCase& c : cases) {
        EXPECT_EQ(check_search_mode_answer(c.line, mode, is_default, refusal),
                  Status::invalid_request)
            << c.line;
        EXPECT_EQ(refusal, c.refusal) << c.line;
    }
}

TEST(TargetRateCheck, EmptySkipsOtherwiseARateFromOneHertzToTenTerahertz) {
    std::optional<double> target = -1.0;
    std::string refusal;
    EXPECT_EQ(check_target_rate_answer("", target, refusal), Status::ok);
    EXPECT_FALSE(target.has_value());
    for (double accepted : {1.0, 1e13, 96000.0}) {
        const std::string line = std::to_string(accepted);
        EXPECT_EQ(check_target_rate_answer(line.c_str(), target, refusal), Status::ok);
        EXPECT_EQ(target, accepted);
    }

    const IntegerCase cases[] = {
        {"0.5", "\nTarget rate is too small (less than 1.0 Hz).\n\n"},
        {"2e13", "\nTarget rate is too large (exceeds 10.0 THz).\n\n"},
        {"inf", "\nTarget rate must be finite.\n\n"},
        {"nan", "\nTarget rate must be finite.\n\n"},
        {"-inf", "\nTarget rate must be positive.\n\n"},
        {"0", "\nTarget rate must be positive.\n\n"},
        {"1e999", "\nInput out of range for double.\n\n"},
        {"x", "\nNo number found in input.\n\n"},
        {"48000 Hz ", "\nTrailing characters found after number: 'Hz '\n\n"},
    };
    for (const IntegerCase& c : cases) {
        EXPECT_EQ(check_target_rate_answer(c.line, target, refusal), Status::invalid_request)
            << c.line;
        EXPECT_EQ(refusal, c.refusal) << c.line;
        EXPECT_FALSE(target.has_value()) << c.line;
    }
}

// ---------------------------------------------------------------------------
// Value prompts
// ---------------------------------------------------------------------------

using ValuePrompt = ConsoleTest;

TEST_F(ValuePrompt, RepeatsTheQuestionAfterEachRefusalUntilAValueFits) {
    fake_console_queue_text("\r");
    fake_console_queue_text("48000 Hz\r");
    fake_console_queue_text("0\r");
    fake_console_queue_text("  48000  \r");
    double rate = 0.0;
    Status status = Status::stopped;
    CapturedStreams streams =
        capture_streams([&] { status = get_positive_double("Rate: ", rate); });
    EXPECT_EQ(status, Status::ok);
    EXPECT_EQ(rate, 48000.0);
    EXPECT_EQ(streams.err,
              "\nNo input provided.\n\n"
              "\nTrailing characters found after number: 'Hz'\n\n"
              "\nValue must be positive.\n\n");
    EXPECT_EQ(streams.out, "");
    EXPECT_EQ(fake_console_output(), "Rate: \r\nRate: 48000 Hz\r\nRate: 0\r\nRate:   48000  \r\n");
    EXPECT_EQ(fake_console_script_overruns(), 0);
    expect_mode_restored();
}

TEST_F(ValuePrompt, AnOverLongLineIsAskedAgain) {
    fake_console_queue_typed(repeat('9', 255));
    fake_console_queue_text("7\r");
    long long value = 0;
    Status status = Status::stopped;
    CapturedStreams streams =
        capture_streams([&] { status = get_positive_long_long("N: ", value); });
    EXPECT_EQ(status, Status::ok);
    EXPECT_EQ(value, 7);
    EXPECT_EQ(streams.err, "\nInput line too long (max 254 characters). Input discarded.\n\n");
    EXPECT_EQ(fake_console_output(), "N: " + repeat('9', 255) + "\r\nN: 7\r\n");
}

TEST_F(ValuePrompt, TheAllowedValuesMessageListsTheChoices) {
    fake_console_queue_text("3\r");
    fake_console_queue_text("2\r");
    const int allowed[] = {1, 2};
    int value = 0;
    Status status = Status::stopped;
    CapturedStreams streams =
        capture_streams([&] { status = get_specific_integer("Q: ", allowed, value); });
    EXPECT_EQ(status, Status::ok);
    EXPECT_EQ(value, 2);
    EXPECT_EQ(streams.err, "\nError: Input must be one of the allowed values: 1, 2.\n\n");
}

TEST_F(ValuePrompt, NoAllowedValueIsRefusedBeforeAnythingIsRead) {
    int value = 0;
    EXPECT_EQ(get_specific_integer("P", std::span<const int>(), value), Status::invalid_request);
    EXPECT_EQ(fake_console_output(), "");
    EXPECT_EQ(fake_console_calls(FakeConsoleOp::open_handles), 0);
}

TEST_F(ValuePrompt, AStopRequestEndsThePromptWithoutAMessage) {
    fake_console_queue_text("abc\r");
    fake_console_queue_shutdown();
    double rate = 0.0;
    Status status = Status::ok;
    CapturedStreams streams =
        capture_streams([&] { status = get_positive_double("Rate: ", rate); });
    EXPECT_EQ(status, Status::stopped);
    EXPECT_EQ(streams.err, "\nNo valid number found in input.\n\n");
    EXPECT_EQ(fake_console_output(), "Rate: abc\r\nRate: ");

    // Once requested, the stop holds: no prompt is even written.
    fake_console_clear_output();
    EXPECT_EQ(get_positive_double("Rate: ", rate), Status::stopped);
    EXPECT_EQ(fake_console_output(), "");
}

TEST_F(ValuePrompt, AConsoleFailureEndsThePromptAtOnce) {
    fake_console_fail(FakeConsoleOp::read, 5);
    fake_console_queue_text("1\r");
    long long value = 0;
    Status status = Status::ok;
    CapturedStreams streams =
        capture_streams([&] { status = get_positive_long_long("N: ", value); });
    EXPECT_EQ(status, Status::calculation_error);
    EXPECT_EQ(streams.err, "\nReadConsoleInput failed (Error 5).\n");
    EXPECT_EQ(fake_console_calls(FakeConsoleOp::read), 1);
}

// ---------------------------------------------------------------------------
// Yes/no question
// ---------------------------------------------------------------------------

using Confirmation = ConsoleTest;

/// Asks the question once; the answer with the status.
struct Answer {
    Status status = Status::ok;
    bool yes = false;
};

Answer ask(const char* prompt) {
    Answer answer{Status::ok, true};
    answer.status = get_confirmation(prompt, answer.yes);
    return answer;
}

TEST_F(Confirmation, AsksAgainAfterAWordAndTakesOneLetter) {
    fake_console_queue_text("yes\r");
    fake_console_queue_text("  no  \r");
    fake_console_queue_text(" Y \r");
    Answer answer;
    CapturedStreams streams = capture_streams([&] { answer = ask("OK? "); });
    EXPECT_EQ(answer.status, Status::ok);
    EXPECT_TRUE(answer.yes);
    EXPECT_EQ(streams.err,
              "\nInvalid input 'yes'. Please enter 'y', 'n', or press Enter for the default "
              "('n').\n\n"
              "\nInvalid input '  no'. Please enter 'y', 'n', or press Enter for the default "
              "('n').\n\n");
    EXPECT_EQ(fake_console_output(), "OK? yes\r\nOK?   no  \r\nOK?  Y \r\n");
}

TEST_F(Confirmation, EnterAloneAndNMeanNo) {
    fake_console_queue_text("\r");
    fake_console_queue_text("N\r");
    for (int i = 0; i < 2; ++i) {
        const Answer answer = ask("OK? ");
        EXPECT_EQ(answer.status, Status::ok);
        EXPECT_FALSE(answer.yes);
    }
    EXPECT_EQ(fake_console_script_overruns(), 0);
}

TEST_F(Confirmation, AStopRequestMeansNoButIsNotAConsoleFailure) {
    fake_console_queue_shutdown();
    const Answer answer = ask("OK? ");
    EXPECT_EQ(answer.status, Status::stopped);
    EXPECT_FALSE(answer.yes);
    // Once requested, the stop holds: nothing is asked.
    EXPECT_EQ(ask("OK? ").status, Status::stopped);
    EXPECT_EQ(fake_console_output(), "OK? ");
}

TEST_F(Confirmation, AConsoleFailureIsNotAskedAgain) {
    fake_console_fail(FakeConsoleOp::read, 5, 0, 1);
    fake_console_queue_text("y\r");
    fake_console_queue_text("y\r");
    Answer answer;
    CapturedStreams streams = capture_streams([&] { answer = ask("OK? "); });
    EXPECT_EQ(answer.status, Status::calculation_error);
    EXPECT_FALSE(answer.yes);
    EXPECT_EQ(streams.err, "\nReadConsoleInput failed (Error 5).\n");
    EXPECT_EQ(fake_console_calls(FakeConsoleOp::read), 1);
    EXPECT_EQ(fake_console_output(), "OK? ");

    // The next question starts afresh.
    answer = ask("OK? ");
    EXPECT_EQ(answer.status, Status::ok);
    EXPECT_TRUE(answer.yes);

    fake_console_fail(FakeConsoleOp::get_mode, 9);
    capture_streams([&] { answer = ask("OK? "); });
    EXPECT_EQ(answer.status, Status::calculation_error);
    EXPECT_FALSE(answer.yes);
}

}  // namespace
