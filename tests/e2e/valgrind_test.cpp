// Whole terminal sessions of the release program under valgrind's memcheck: every session
// is played twice, once plainly and once under memcheck, and must end with the same exit
// code, the same standard output and the same standard error, byte for byte. memcheck
// writes its report to a file of its own; it must count no error (no invalid access, no
// use of uninitialised memory) and find every heap block freed at exit.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "prompts.h"
#include "pty_session.h"

namespace {

constexpr std::string_view CTRL_C = "\x03";

/// Exit code memcheck gives the program when it reports an error.
constexpr int MEMCHECK_FAILED = 99;

/// A prompt to wait for (on the stream it is written to) and the keys that answer it.
struct Step {
    SessionStream stream;
    std::string_view prompt;
    std::string keys;
};

/// How a session ended.
struct Outcome {
    int exit_code = -1;
    std::string out;
    std::string err;
    std::string memcheck_report;  ///< empty for a plain session
};

std::filesystem::path report_path() {
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    // The process id keeps builds that test at the same time apart.
    return std::filesystem::path(testing::TempDir()) /
           ("memcheck_" + std::to_string(getpid()) + "_" + test->name() + ".log");
}

std::vector<std::string> memcheck_argv(const std::filesystem::path& report) {
    return {QUILLMERE_VALGRIND,
            "--log-file=" + report.string(),
            "--error-exitcode=" + std::to_string(MEMCHECK_FAILED),
            "--leak-check=full",
            "--show-leak-kinds=all",
            "--errors-for-leak-kinds=all",
            "--track-origins=yes",
            program_path()};
}

std::string read_file(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

/// memcheck counted no error and every heap block was freed before the end.
testing::AssertionResult memcheck_clean(const std::string& report) {
    if (report.find("ERROR SUMMARY: 0 errors from 0 contexts") != std::string::npos &&
        report.find("in use at exit: 0 bytes in 0 blocks") != std::string::npos) {
        return testing::AssertionSuccess();
    }
    return testing::AssertionFailure() << "memcheck report:\n" << report;
}

/// Plays the steps, then waits for the end. `before_end` may act once the steps are done.
template <typename BeforeEnd>
Outcome play(const std::vector<Step>& steps, bool under_memcheck, BeforeEnd before_end) {
    Outcome outcome;
    Session session;
    SessionOptions options;
    const std::filesystem::path report = report_path();
    if (under_memcheck) {
        std::filesystem::remove(report);
        options.argv = memcheck_argv(report);
    }
    EXPECT_TRUE(start_session(session, options));
    for (const Step& step : steps) {
        const testing::AssertionResult answered =
            answer(session, step.stream, step.prompt, step.keys);
        EXPECT_TRUE(answered) << "at " << show_bytes(step.prompt);
        if (!answered) return outcome;
    }
    before_end(session);
    EXPECT_TRUE(wait_for_exit(session, 3 * SESSION_TIMEOUT_MS));
    EXPECT_TRUE(terminal_unchanged(session));
    outcome.exit_code = exit_code(session);
    outcome.out = session.out_text;
    outcome.err = session.err_text;
    if (under_memcheck) {
        outcome.memcheck_report = read_file(report);
        std::filesystem::remove(report);
    }
    return outcome;
}

/// Plays the session plainly and under memcheck; both must end alike, with `exit_code`.
void expect_clean(const std::vector<Step>& steps, int exit_code) {
    const auto nothing = [](Session&) {};
    const Outcome plain = play(steps, false, nothing);
    const Outcome checked = play(steps, true, nothing);
    EXPECT_EQ(plain.exit_code, exit_code);
    EXPECT_TRUE(memcheck_clean(checked.memcheck_report));
    EXPECT_EQ(checked.exit_code, plain.exit_code);
    EXPECT_EQ(checked.err, plain.err);
    EXPECT_EQ(checked.out, plain.out);
}

std::vector<Step> one_stage(std::string input, std::string output) {
    return {{SessionStream::tty, INPUT_PROMPT, input + "\r"},
            {SessionStream::tty, OUTPUT_PROMPT, output + "\r"},
            {SessionStream::tty, STAGES_PROMPT, "1\r"}};
}

std::vector<Step> operator+(std::vector<Step> first, const std::vector<Step>& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

const std::vector<Step> NO_MORE = {{SessionStream::tty, ANOTHER, "n\r"}};
const std::vector<Step> ONE_MORE = {{SessionStream::tty, ANOTHER, "y\r"}};

TEST(Memcheck, SingleStageSession) {
    expect_clean(one_stage("48000", "44100") + NO_MORE, 0);
}

TEST(Memcheck, TwoStageMinimalSumSession) {
    expect_clean({{SessionStream::tty, INPUT_PROMPT, "44100\r"},
                  {SessionStream::tty, OUTPUT_PROMPT, "48000\r"},
                  {SessionStream::tty, STAGES_PROMPT, "2\r"},
                  {SessionStream::out, MODE_PROMPT, "\r"},
                  {SessionStream::tty, M1_PROMPT, "\r"},
                  {SessionStream::out, TARGET_PROMPT, "\r"},
                  {SessionStream::tty, ANOTHER, "\r"}},
                 0);
}

/// A small custom limit with a target above both rates under the balanced priority: the
/// common-factor pass finds the cascade that meets both. Then one stage more.
TEST(Memcheck, TwoStageCustomLimitSessionThenOneStage) {
    expect_clean(std::vector<Step>{{SessionStream::tty, INPUT_PROMPT, "44100\r"},
                                   {SessionStream::tty, OUTPUT_PROMPT, "48000\r"},
                                   {SessionStream::tty, STAGES_PROMPT, "2\r"},
                                   {SessionStream::out, MODE_PROMPT, "2\r"},
                                   {SessionStream::tty, LIMIT_PROMPT, "60\r"},
                                   {SessionStream::tty, M1_PROMPT, "y\r"},
                                   {SessionStream::out, TARGET_PROMPT, "96000\r"},
                                   {SessionStream::tty, PROCEED_PROMPT, "y\r"},
                                   {SessionStream::tty, PRIORITY_PROMPT, "3\r"}} +
                     ONE_MORE + one_stage("1", "3.141592653589793") + NO_MORE,
                 0);
}

/// Refused entries at every kind of question, an over-long line, and a request given up
/// at the target warning.
TEST(Memcheck, RefusalsAndAGivenUpRequest) {
    expect_clean({{SessionStream::tty, INPUT_PROMPT, "abc\r"},
                  {SessionStream::tty, INPUT_PROMPT, "4.9e-324\r"},
                  {SessionStream::tty, INPUT_PROMPT, std::string(300, '7') + "\r"},
                  {SessionStream::tty, INPUT_PROMPT, "1e400\r"},
                  {SessionStream::tty, INPUT_PROMPT, "48000\r"},
                  {SessionStream::tty, OUTPUT_PROMPT, "44100 Hz\r"},
                  {SessionStream::tty, OUTPUT_PROMPT, "44100\r"},
                  {SessionStream::tty, STAGES_PROMPT, "3\r"},
                  {SessionStream::tty, STAGES_PROMPT, "2\r"},
                  {SessionStream::out, MODE_PROMPT, "2x\r"},
                  {SessionStream::out, MODE_PROMPT, "2\r"},
                  {SessionStream::tty, LIMIT_PROMPT, "99999999999999999999\r"},
                  {SessionStream::tty, LIMIT_PROMPT, "65536\r"},
                  {SessionStream::tty, LIMIT_PROMPT, "40\r"},
                  {SessionStream::tty, M1_PROMPT, "maybe\r"},
                  {SessionStream::tty, M1_PROMPT, "n\r"},
                  {SessionStream::out, TARGET_PROMPT, "inf\r"},
                  {SessionStream::out, TARGET_PROMPT, "96000\r"},
                  {SessionStream::tty, PROCEED_PROMPT, "n\r"}},
                 1);
}

/// The extremes of the rates: 1 Hz to 10 THz in one stage, 10 THz to 1 Hz in two (nothing
/// found under a strict target), then in one stage, whose solver failure ends the program.
TEST(Memcheck, ExtremeRatesSession) {
    expect_clean(one_stage("1", "1e13") + ONE_MORE +
                     std::vector<Step>{{SessionStream::tty, INPUT_PROMPT, "10000000000000\r"},
                                       {SessionStream::tty, OUTPUT_PROMPT, "1\r"},
                                       {SessionStream::tty, STAGES_PROMPT, "2\r"},
                                       {SessionStream::out, MODE_PROMPT, "\r"},
                                       {SessionStream::tty, M1_PROMPT, "y\r"},
                                       {SessionStream::out, TARGET_PROMPT, "1\r"},
                                       {SessionStream::tty, PRIORITY_PROMPT, "1\r"}} +
                     ONE_MORE + one_stage("1e13", "1"),
                 1);
}

TEST(Memcheck, CtrlCAtAPrompt) {
    expect_clean({{SessionStream::tty, INPUT_PROMPT, "48000\r"},
                  {SessionStream::tty, OUTPUT_PROMPT, "441\x03"}},
                 1);
}

TEST(Memcheck, CtrlCAtTheClosingQuestion) {
    expect_clean(
        one_stage("48000", "44100") + std::vector<Step>{{SessionStream::tty, ANOTHER, "y\x03"}}, 1);
}

/// Ratio 1 with the largest custom limit: the common-factor pass writes millions of
/// progress dots. Standard output is held once the line is moving, so the search waits on
/// a full pipe however fast it is, and Ctrl+C ends it. The number of dots depends on
/// timing, so only the ends of the streams are compared here.
TEST(Memcheck, CtrlCDuringALongSearch) {
    const std::vector<Step> steps = {
        {SessionStream::tty, INPUT_PROMPT, "1\r"},
        {SessionStream::tty, OUTPUT_PROMPT, "1\r"},
        {SessionStream::tty, STAGES_PROMPT, "2\r"},
        {SessionStream::out, MODE_PROMPT, "2\r"},
        {SessionStream::tty, LIMIT_PROMPT, "65535\r"},
        {SessionStream::tty, "Continue with this value? (y/n) [Enter=n]: ", "y\r"},
        {SessionStream::tty, M1_PROMPT, "\r"},
        {SessionStream::out, TARGET_PROMPT, "\r"}};
    const auto interrupt = [](Session& session) {
        ASSERT_TRUE(expect_text(session, SessionStream::out, "Progress (checking g/h factors): .",
                                3 * SESSION_TIMEOUT_MS));
        session.hold_output = true;
        ASSERT_TRUE(write_keys(session, CTRL_C));
    };
    const Outcome checked = play(steps, true, interrupt);
    EXPECT_TRUE(memcheck_clean(checked.memcheck_report));
    EXPECT_EQ(checked.exit_code, 1);
    EXPECT_EQ(checked.err, "\n\nShutdown requested by user.\n");
    const std::string end = "Search interrupted by user.\n\n";
    ASSERT_GE(checked.out.size(), end.size());
    EXPECT_EQ(checked.out.substr(checked.out.size() - end.size()), end);
}

}  // namespace
