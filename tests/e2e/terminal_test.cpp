// The program against the terminal's harder moments: input that is no terminal, output
// that cannot be written, a terminal that hangs up, and a stop request in mid-search.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "dialog_steps.h"
#include "prompts.h"
#include "pty_session.h"

namespace {

constexpr std::string_view BANNER =
    "\n=== Quillmere ===\n"
    "Calculates Interpolation (L) and Decimation (M) values.\n"
    "Uses Continued Fraction Expansion (CFE) and Factorization.\n"
    "=====================================================\n\n";
constexpr std::string_view SHUTDOWN_NOTICE = "\n\nShutdown requested by user.\n";
constexpr std::string_view ERROR_END = "\nExiting program due to error or user request.\n";
constexpr std::string_view NOT_A_TERMINAL =
    "Error: This program requires interactive input from a terminal.\n"
    "       Input redirection or piping is not supported.\n";
constexpr std::string_view READ_FAILED = "\nReadConsoleInput failed (Error 5).\n";
constexpr std::string_view CANNOT_WRITE_FULL =
    "Error: cannot write the results to standard output (No space left on device).\n";
constexpr std::string_view CANNOT_WRITE_PIPE =
    "Error: cannot write the results to standard output (Broken pipe).\n";

/// A processor-time budget far above what the program needs to start, answer and end, and
/// far below what a loop spinning on a dead terminal would use before the wait gives up.
constexpr double CPU_BUDGET_SECONDS = 0.5;

bool ends_with(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

/// Answers the dialog of one single-stage conversion, 48000 Hz to 44100 Hz.
testing::AssertionResult run_single_stage(Session& session) {
    for (const auto& [prompt, keys] : {
             std::pair{"Enter the input sample rate (Hz): ", "48000\r"},
             std::pair{"Enter the output sample rate (Hz): ", "44100\r"},
             std::pair{"Use one or two rational resamplers? (1 or 2): ", "1\r"},
         }) {
        testing::AssertionResult done = answer(session, SessionStream::tty, prompt, keys);
        if (!done) return done;
    }
    return testing::AssertionSuccess();
}

/// Reports how long the program took to end after `since` and the processor time it used.
void record_end(const Session& session, std::chrono::steady_clock::time_point since) {
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
    testing::Test::RecordProperty("seconds_to_end", std::to_string(wall));
    testing::Test::RecordProperty("cpu_seconds", std::to_string(cpu_seconds(session)));
    std::printf("ended %.3f s after the hang-up, %.3f s of processor time in all\n", wall,
                cpu_seconds(session));
}

/// A hang-up raises SIGHUP and fails the read at about the same moment; whichever the
/// program meets first, it ends the way one of them ends it, never normally. `before` is
/// what standard output shows up to the interrupted question.
testing::AssertionResult ended_after_hang_up(const Session& session, const std::string& before) {
    const std::string& out = session.out_text;
    const std::string& err = session.err_text;
    const bool stopped = ends_with(out, before + "\n") && ends_with(err, SHUTDOWN_NOTICE);
    const bool failed =
        ends_with(out, before + std::string(ERROR_END)) && err.rfind(READ_FAILED, 0) == 0;
    if (stopped || failed) return testing::AssertionSuccess();
    return testing::AssertionFailure() << "standard output:\n"
                                       << show_bytes(out) << "\nstandard error:\n"
                                       << show_bytes(err);
}

TEST(StartUp, InputFromAPipeOrDevNullIsRefused) {
    for (const StdinKind kind : {StdinKind::pipe, StdinKind::dev_null}) {
        SCOPED_TRACE(kind == StdinKind::pipe ? "pipe" : "/dev/null");
        Session session;
        SessionOptions options;
        options.stdin_kind = kind;
        options.stdin_text = "48000\n44100\n1\nn\n";
        ASSERT_TRUE(start_session(session, options));
        ASSERT_TRUE(wait_for_exit(session));
        EXPECT_EQ(exit_code(session), 1);
        EXPECT_EQ(session.out_text, "");
        EXPECT_EQ(session.err_text, NOT_A_TERMINAL);
    }
}

TEST(StartUp, ClosedStandardStreamsAreNotTakenOverByTheShutdownPipe) {
    // Standard output and error closed: a refusal written to standard error must not land
    // in the shutdown pipe and end the program as a Ctrl+C would.
    Session session;
    SessionOptions options;
    options.closed_descriptors = {STDOUT_FILENO, STDERR_FILENO};
    ASSERT_TRUE(start_session(session, options));
    ASSERT_TRUE(answer(session, SessionStream::tty, INPUT_PROMPT, "4800o\r"));
    ASSERT_TRUE(answer(session, SessionStream::tty, INPUT_PROMPT, "48000\r"));
    ASSERT_TRUE(answer(session, SessionStream::tty, OUTPUT_PROMPT, "x\r"));
    ASSERT_TRUE(answer(session, SessionStream::tty, OUTPUT_PROMPT, "44100\r"));
    ASSERT_TRUE(answer(session, SessionStream::tty, STAGES_PROMPT, "1\r"));
    ASSERT_TRUE(answer(session, SessionStream::tty, ANOTHER, "n\r"));
    ASSERT_TRUE(wait_for_exit(session));
    EXPECT_EQ(exit_code(session), 0);
    EXPECT_TRUE(terminal_unchanged(session));

    // A closed standard input is no terminal.
    Session closed_input;
    options.closed_descriptors = {STDIN_FILENO};
    ASSERT_TRUE(start_session(closed_input, options));
    ASSERT_TRUE(wait_for_exit(closed_input));
    EXPECT_EQ(exit_code(closed_input), 1);
    EXPECT_EQ(closed_input.out_text, "");
    EXPECT_EQ(closed_input.err_text, NOT_A_TERMINAL);
}

TEST(Output, UnwritableStandardOutputEndsTheProgramBeforeAnyQuestion) {
    // A full device, or a pipe whose reader has gone: the banner cannot be written, and
    // the user is told so at once instead of answering every question for nothing.
    for (const bool full : {true, false}) {
        SCOPED_TRACE(full ? "/dev/full" : "a pipe without a reader");
        Session session;
        SessionOptions options;
        options.stdout_to_dev_full = full;
        options.stdout_reader_gone = !full;
        ASSERT_TRUE(start_session(session, options));
        ASSERT_TRUE(wait_for_exit(session));
        EXPECT_EQ(exit_code(session), 1);
        EXPECT_EQ(session.err_text, full ? CANNOT_WRITE_FULL : CANNOT_WRITE_PIPE);
        EXPECT_EQ(session.tty, "");
        EXPECT_TRUE(terminal_unchanged(session));
    }
}

TEST(Output, AStandardOutputReaderThatLeavesEndsTheProgramAtTheNextFlush) {
    Session session;
    ASSERT_TRUE(start_session(session, SessionOptions{}));
    ASSERT_TRUE(run_single_stage(session));
    ASSERT_TRUE(expect_text(session, SessionStream::out, "PPM Error: +0.000 PPM\n\n"));
    ASSERT_TRUE(expect_text(session, SessionStream::tty, ANOTHER));
    // The reader of standard output goes away. Another conversion: the blank line before
    // its first question cannot be written, and the program ends there, in the middle of
    // a read, with the terminal put back.
    close(session.out);
    session.out = -1;
    ASSERT_TRUE(type_keys(session, "y\r"));
    ASSERT_TRUE(wait_for_exit(session));
    EXPECT_EQ(exit_code(session), 1);
    EXPECT_EQ(session.err_text, CANNOT_WRITE_PIPE);
    EXPECT_EQ(session.tty.find(INPUT_PROMPT, session.tty.find(ANOTHER)), std::string::npos)
        << show_bytes(session.tty);
    EXPECT_TRUE(terminal_unchanged(session));
}

TEST(Search, CtrlCAndCtrlBackslashStopALongSearch) {
    for (const char* key : {"\x03", "\x1c"}) {
        SCOPED_TRACE(show_bytes(key));
        Session session;
        ASSERT_TRUE(start_session(session, SessionOptions{}));
        ASSERT_TRUE(start_long_search(session));
        ASSERT_TRUE(write_keys(session, key));
        ASSERT_TRUE(wait_for_exit(session));
        EXPECT_EQ(exit_code(session), 1);
        EXPECT_TRUE(ends_with(session.out_text, "Search interrupted by user.\n\n"))
            << show_bytes(session.out_text.substr(session.out_text.size() - 80));
        EXPECT_EQ(session.err_text, SHUTDOWN_NOTICE);
        EXPECT_TRUE(terminal_unchanged(session));
    }
}

TEST(ConsoleFailure, LeavesTheTerminalAsItWas) {
    // In the background the terminal refuses raw mode: the console cannot be used.
    Session session;
    SessionOptions options;
    options.group = ProcessGroup::background;
    ASSERT_TRUE(start_session(session, options));
    ASSERT_TRUE(wait_for_exit(session));
    EXPECT_EQ(exit_code(session), 1);
    EXPECT_EQ(session.out_text, std::string(BANNER) + std::string(ERROR_END));
    EXPECT_EQ(session.err_text,
              "\nFailed to set raw console mode (Error 5).\n"
              "\nFailed to gather required inputs (Calculation Error).\n");
    EXPECT_TRUE(terminal_unchanged(session));
}

TEST(HangUp, WhileWaitingEndsTheProgram) {
    for (const bool ignore_sighup : {false, true}) {
        SCOPED_TRACE(ignore_sighup ? "SIGHUP ignored by the parent" : "SIGHUP as inherited");
        Session session;
        SessionOptions options;
        options.ignore_sighup = ignore_sighup;
        ASSERT_TRUE(start_session(session, options));
        ASSERT_TRUE(
            answer(session, SessionStream::tty, "Enter the input sample rate (Hz): ", "480"));
        ASSERT_TRUE(wait_for_raw_mode(session));
        const auto hung_up = std::chrono::steady_clock::now();
        hang_up(session);
        ASSERT_TRUE(wait_for_exit(session));
        record_end(session, hung_up);
        EXPECT_EQ(exit_code(session), 1);
        EXPECT_LT(cpu_seconds(session), CPU_BUDGET_SECONDS);
        EXPECT_TRUE(ended_after_hang_up(session, std::string(BANNER)));
    }
}

TEST(HangUp, ATerminalThatFailsEveryReadEndsTheProgram) {
    // Without a controlling terminal no SIGHUP comes: the read itself fails.
    Session session;
    SessionOptions options;
    options.controlling_terminal = false;
    ASSERT_TRUE(start_session(session, options));
    ASSERT_TRUE(answer(session, SessionStream::tty, "Enter the input sample rate (Hz): ", "480"));
    const auto hung_up = std::chrono::steady_clock::now();
    hang_up(session);
    ASSERT_TRUE(wait_for_exit(session));
    record_end(session, hung_up);
    EXPECT_EQ(exit_code(session), 1);
    EXPECT_LT(cpu_seconds(session), CPU_BUDGET_SECONDS);
    EXPECT_EQ(session.out_text, std::string(BANNER) + std::string(ERROR_END));
    EXPECT_EQ(session.err_text.rfind(READ_FAILED, 0), 0u) << show_bytes(session.err_text);
    EXPECT_TRUE(
        ends_with(session.err_text, "\nFailed to gather required inputs (Calculation Error).\n"))
        << show_bytes(session.err_text);
}

TEST(HangUp, AtTheClosingQuestionIsNoNormalEnd) {
    for (const bool controlling : {true, false}) {
        SCOPED_TRACE(controlling ? "controlling terminal: SIGHUP" : "no SIGHUP: failed read");
        Session session;
        SessionOptions options;
        options.controlling_terminal = controlling;
        ASSERT_TRUE(start_session(session, options));
        ASSERT_TRUE(run_single_stage(session));
        ASSERT_TRUE(expect_text(session, SessionStream::tty, ANOTHER));
        ASSERT_TRUE(wait_for_raw_mode(session));
        hang_up(session);
        ASSERT_TRUE(wait_for_exit(session));
        EXPECT_EQ(exit_code(session), 1);
        EXPECT_LT(cpu_seconds(session), CPU_BUDGET_SECONDS);
        const std::string report_end = "PPM Error: +0.000 PPM\n\n";
        EXPECT_TRUE(ended_after_hang_up(session, report_end));
        if (!controlling) {
            EXPECT_EQ(session.out_text.substr(session.out_text.size() - report_end.size() -
                                              ERROR_END.size()),
                      report_end + std::string(ERROR_END));
            EXPECT_EQ(session.err_text.rfind(READ_FAILED, 0), 0u) << show_bytes(session.err_text);
        }
    }
}

}  // namespace
