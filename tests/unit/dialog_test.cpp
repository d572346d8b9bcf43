// The conversion request dialog over the fake console: every path, its texts and the
// record it leaves.
#include "interactive/dialog.h"

#include <initializer_list>
#include <iterator>
#include <string>

#include "input_test_support.h"
#include "interactive/line_checks.h"
#include "interactive/line_reader.h"
#include "interactive/prompts.h"

namespace {

using namespace quillmere::interactive;
using quillmere::Priority;
using quillmere::SearchMode;
using quillmere::Status;

constexpr const char* INPUT_PROMPT = "Enter the input sample rate (Hz): ";
constexpr const char* OUTPUT_PROMPT = "Enter the output sample rate (Hz): ";
constexpr const char* STAGES_PROMPT = "Use one or two rational resamplers? (1 or 2): ";
constexpr const char* LIMIT_PROMPT = "Enter maximum L and M for EACH stage (e.g., 200): ";
constexpr const char* CONTINUE_PROMPT = "Continue with this value? (y/n) [Enter=n]: ";
constexpr const char* M1_PROMPT = "Allow M1 > L1? (y/n) [Enter=n]: ";
constexpr const char* PROCEED_PROMPT = "Proceed with this intermediate target? (y/n) [Enter=n]: ";
constexpr const char* PRIORITY_PROMPT = "Select prioritization mode (1-4): ";

const std::string MODE_MENU =
    "\nTwo-Resampler Search Mode:\n\n"
    " 1: Default Minimal Sum (Find match/approximation with smallest L1+M1+L2+M2 sum)\n"
    " 2: Custom Limit Search (Search using custom max L/M values you provide)\n\n";
const std::string MODE_QUESTION = "Select search mode (1 or 2) [Enter=1]: ";
const std::string MINIMAL_SUM_NOTE =
    "\nNote: Minimal Sum mode selected. Using internal max L/M limit: 65535.\n"
    "      and explores solutions for the lowest L+M sum.\n";
const std::string M1_TEXT =
    "\nConstraint: By default, the first stage ensures L1 >= M1.\n"
    "            Allow the first stage to downsample (M1 > L1)?\n"
    "            (Useful for intermediate processing at lower rates, but may seem\n"
    "            less direct for pure sample rate conversion.)\n\n";
const std::string TARGET_TEXT =
    "\nOptional: Specify a target intermediate sample rate.\n"
    "          If skipped (by pressing Enter), the search will not target\n"
    "          a specific intermediate rate.\n\n";
const std::string TARGET_QUESTION =
    "Enter target intermediate rate (Hz) (rate after L1/M1) [Press Enter to skip]: ";
const std::string PRIORITY_MENU =
    "\nIntermediate Rate Prioritization:\n\n"
    "How should the search prioritize finding this rate versus the final output rate?\n\n"
    " 1: Strictly Enforce Intermediate Rate:\n"
    "    Only solutions matching the intermediate target (within 1.0e-09 relative error)\n"
    "    will be considered. The best of these is chosen based on the search mode\n"
    "    (Minimal Sum or best overall accuracy).\n"
    " 2: Prioritize Final Output Rate:\n"
    "    Solutions matching the final target (within 1.0e-09 relative error) are preferred.\n"
    "    Among those, the one closest to the intermediate target is chosen.\n"
    "    If no final match exists, the overall best approximation (by search mode) is "
    "chosen.\n"
    " 3: Balanced - Best Dual Match (if possible):\n"
    "    Solutions matching *both* targets are preferred. Among those, the best by\n"
    "    search mode is chosen. If no dual match exists, falls back to\n"
    "    PRIORITIZE_FINAL_RATE logic.\n"
    " 4: Ignore Intermediate Rate for Selection:\n"
    "    The intermediate target is ignored during selection. The best solution\n"
    "    is chosen based *only* on the final rate accuracy and the primary search mode.\n"
    "    The achieved intermediate rate is still reported.\n\n";

/// The outcome of one dialog run.
struct DialogRun {
    Status status;
    CapturedStreams streams;
};

class Dialog : public ConsoleTest {
protected:
    /// Queues each answer as a batch of its own, ended by Enter, then runs the dialog.
    DialogRun run(std::initializer_list<const char*> answers) {
        for (const char* answer : answers) fake_console_queue_text(std::string(answer) + "\r");
        DialogRun result{Status::ok, {}};
        result.streams = capture_streams([&] { result.status = get_user_inputs(request); });
        return result;
    }

    /// Poisons the request so that the test sees what the dialog wrote.
    void SetUp() override {
        ConsoleTest::SetUp();
        request.stages = -1;
        request.two_stage.input_rate_hz = -1.0;
        request.two_stage.output_rate_hz = -1.0;
        request.two_stage.mode = SearchMode::min_cost;
        request.two_stage.max_factor = -1;
        request.two_stage.allow_first_stage_decimation = true;
        request.two_stage.intermediate_target =
            quillmere::IntermediateTarget{-1.0, Priority::ignore};
    }

    /// Checks everything a two-stage request holds but the target.
    void expect_two_stage(SearchMode mode, long long max_factor, bool allow) const {
        EXPECT_EQ(request.stages, 2);
        EXPECT_EQ(request.two_stage.mode, mode);
        EXPECT_EQ(request.two_stage.max_factor, max_factor);
        EXPECT_EQ(request.two_stage.allow_first_stage_decimation, allow);
    }

    ConversionRequest request;
};

TEST_F(Dialog, OneStageEndsAfterThreeQuestionsWithTheOneStageRecord) {
    const DialogRun r = run({"48000", "44100", "1"});
    EXPECT_EQ(r.status, Status::ok);
    EXPECT_EQ(r.streams.out, "");
    EXPECT_EQ(r.streams.err, "");
    EXPECT_EQ(fake_console_output(), std::string(INPUT_PROMPT) + "48000\r\n" + OUTPUT_PROMPT +
                                         "44100\r\n" + STAGES_PROMPT + "1\r\n");
    EXPECT_EQ(request.stages, 1);
    const quillmere::SingleStageRequest single = single_stage_request(request);
    EXPECT_EQ(single.input_rate_hz, 48000.0);
    EXPECT_EQ(single.output_rate_hz, 44100.0);
    // Nothing of the poisoned request is left over.
    EXPECT_EQ(request.two_stage.mode, SearchMode::minimal_sum);
    EXPECT_EQ(request.two_stage.max_factor, 65535);
    EXPECT_FALSE(request.two_stage.allow_first_stage_decimation);
    EXPECT_FALSE(request.two_stage.intermediate_target.has_value());
    EXPECT_EQ(fake_console_pending_steps(), 0u);
    EXPECT_EQ(fake_console_script_overruns(), 0);
    expect_mode_restored();
}

TEST_F(Dialog, MinimalSumByDefaultWithoutTargetKeepsPriorityThree) {
    const DialogRun r = run({"44100", "48000", "2", "", "", ""});
    EXPECT_EQ(r.status, Status::ok);
    EXPECT_EQ(r.streams.out, MODE_MENU + MODE_QUESTION +
                                 " -> Minimal Sum mode selected (default).\n" + MINIMAL_SUM_NOTE +
                                 M1_TEXT + TARGET_TEXT + TARGET_QUESTION +
                                 " -> Skipped intermediate rate target.\n");
    EXPECT_EQ(r.streams.err, "");
    // The in-line questions are printed on standard output; the reader gets no prompt.
    EXPECT_EQ(fake_console_output(), std::string(INPUT_PROMPT) + "44100\r\n" + OUTPUT_PROMPT +
                                         "48000\r\n" + STAGES_PROMPT + "2\r\n\r\n" + M1_PROMPT +
                                         "\r\n\r\n");
    expect_two_stage(SearchMode::minimal_sum, 65535, false);
    EXPECT_EQ(request.two_stage.input_rate_hz, 44100.0);
    EXPECT_EQ(request.two_stage.output_rate_hz, 48000.0);
    EXPECT_FALSE(request.two_stage.intermediate_target.has_value());
    EXPECT_EQ(fake_console_script_overruns(), 0);
}

TEST_F(Dialog, SearchModeRefusalsThenOneWithBlanks) {
    const DialogRun r = run({"44100", "48000", "2", "3", "2x", " 1 ", "y", ""});
    EXPECT_EQ(r.status, Status::ok);
    EXPECT_EQ(r.streams.err, "\nInput must be 1 or 2.\n\n\nTrailing characters: 'x'\n\n");
    EXPECT_EQ(r.streams.out, MODE_MENU + MODE_QUESTION + MODE_QUESTION + MODE_QUESTION +
                                 " -> Minimal Sum mode selected.\n" + MINIMAL_SUM_NOTE + M1_TEXT +
                                 TARGET_TEXT + TARGET_QUESTION +
                                 " -> Skipped intermediate rate target.\n");
    expect_two_stage(SearchMode::minimal_sum, 65535, true);
}

TEST_F(Dialog, CustomLimitRefusesWarnsAndConfirms) {
    const DialogRun r =
        run({"44100", "48000", "2", "2", "0", "65536", "1001", "n", "65535", "y", "", ""});
    EXPECT_EQ(r.status, Status::ok);
    EXPECT_EQ(r.streams.err,
              "\nValue must be positive.\n\n"
              "\nMaximum L/M value (65536) exceeds the hard limit of 65535.\n"
              "Please use a value <= 65535.\n\n");
    const std::string warning_1001 =
        "\nWarning: Maximum L/M per stage = 1001 is large.\n"
        "Resamplers using large L/M values are typically more complex and computationally "
        "expensive.\n\n";
    const std::string warning_65535 =
        "\nWarning: Maximum L/M per stage = 65535 is large.\n"
        "Resamplers using large L/M values are typically more complex and computationally "
        "expensive.\n\n";
    EXPECT_EQ(r.streams.out,
              MODE_MENU + MODE_QUESTION + " -> Custom Limit Search mode selected.\n" + "\n" + "\n" +
                  warning_1001 + "Operation cancelled by user. Please enter a different value.\n" +
                  "\n" + warning_65535 + M1_TEXT + TARGET_TEXT + TARGET_QUESTION +
                  " -> Skipped intermediate rate target.\n");
    // The limit prompt is written again on each attempt; the warning asks on the console.
    EXPECT_EQ(fake_console_output(),
              std::string(INPUT_PROMPT) + "44100\r\n" + OUTPUT_PROMPT + "48000\r\n" +
                  STAGES_PROMPT + "2\r\n2\r\n" + LIMIT_PROMPT + "0\r\n" + LIMIT_PROMPT +
                  "65536\r\n" + LIMIT_PROMPT + "1001\r\n" + CONTINUE_PROMPT + "n\r\n" +
                  LIMIT_PROMPT + "65535\r\n" + CONTINUE_PROMPT + "y\r\n" + M1_PROMPT + "\r\n\r\n");
    expect_two_stage(SearchMode::custom_limit, 65535, false);
    EXPECT_EQ(fake_console_script_overruns(), 0);
}

TEST_F(Dialog, CustomLimitUpToOneThousandNeedsNoConfirmation) {
    const DialogRun r = run({"44100", "48000", "2", "2", "1000", "", ""});
    EXPECT_EQ(r.status, Status::ok);
    EXPECT_EQ(r.streams.err, "");
    EXPECT_EQ(r.streams.out,
              MODE_MENU + MODE_QUESTION + " -> Custom Limit Search mode selected.\n\n" + M1_TEXT +
                  TARGET_TEXT + TARGET_QUESTION + " -> Skipped intermediate rate target.\n");
    expect_two_stage(SearchMode::custom_limit, 1000, false);
    EXPECT_EQ(fake_console_script_overruns(), 0);
}

TEST_F(Dialog, TargetRefusalsThenAHighTargetGivenUp) {
    const DialogRun r = run({"48000", "44100", "2", "", "", "0.5", "2e13", "inf", "96000", "n"});
    EXPECT_EQ(r.status, Status::stopped);
    EXPECT_EQ(r.streams.err,
              "\nTarget rate is too small (less than 1.0 Hz).\n\n"
              "\nTarget rate is too large (exceeds 10.0 THz).\n\n"
              "\nTarget rate must be finite.\n\n");
    EXPECT_EQ(r.streams.out,
              MODE_MENU + MODE_QUESTION + " -> Minimal Sum mode selected (default).\n" +
                  MINIMAL_SUM_NOTE + M1_TEXT + TARGET_TEXT + TARGET_QUESTION + TARGET_QUESTION +
                  TARGET_QUESTION + TARGET_QUESTION +
                  " -> Targeting intermediate rate: 96000.00 Hz\n"
                  "\nWarning: Target intermediate rate (96000.00 Hz) is higher than both input "
                  "(48000.00 Hz)\n"
                  "         and output (44100.00 Hz). This implies significant oversampling then\n"
                  "         downsampling. While valid, this is less common.\n\n"
                  "Operation cancelled by user due to intermediate rate configuration.\n");
    EXPECT_TRUE(fake_console_output().ends_with(std::string(PROCEED_PROMPT) + "n\r\n"));
    EXPECT_FALSE(shutdown_requested());
    EXPECT_EQ(fake_console_script_overruns(), 0);
}

TEST_F(Dialog, HighTargetAcceptedThenPriorityFiveRefusedAndFourStored) {
    const DialogRun r = run({"48000", "44100", "2", "", "y", "96000", "y", "5", "4"});
    EXPECT_EQ(r.status, Status::ok);
    EXPECT_EQ(r.streams.err, "\nError: Input must be one of the allowed values: 1, 2, 3, 4.\n\n");
    EXPECT_TRUE(
        r.streams.out.ends_with("downsampling. While valid, this is less common.\n\n"
                                " -> Proceeding with specified intermediate rate.\n" +
                                PRIORITY_MENU));
    EXPECT_TRUE(fake_console_output().ends_with(std::string(PROCEED_PROMPT) + "y\r\n" +
                                                PRIORITY_PROMPT + "5\r\n" + PRIORITY_PROMPT +
                                                "4\r\n"));
    expect_two_stage(SearchMode::minimal_sum, 65535, true);
    ASSERT_TRUE(request.two_stage.intermediate_target.has_value());
    EXPECT_EQ(request.two_stage.intermediate_target->rate_hz, 96000.0);
    EXPECT_EQ(request.two_stage.intermediate_target->priority, Priority::ignore);
    EXPECT_EQ(fake_console_script_overruns(), 0);
}

TEST_F(Dialog, TargetsNotAboveBothRatesGiveNoWarning) {
    for (const char* target : {"48000", "24000", "1"}) {
        fake_console_reset();
        fake_console_install_shutdown_event();
        const DialogRun r = run({"48000", "44100", "2", "", "", target, "1"});
        EXPECT_EQ(r.status, Status::ok) << target;
        EXPECT_EQ(r.streams.out.find("Warning"), std::string::npos) << target;
        EXPECT_NE(r.streams.out.find(PRIORITY_MENU), std::string::npos) << target;
        ASSERT_TRUE(request.two_stage.intermediate_target.has_value()) << target;
        EXPECT_EQ(request.two_stage.intermediate_target->priority, Priority::strict) << target;
        EXPECT_EQ(fake_console_script_overruns(), 0) << target;
    }
}

TEST_F(Dialog, AOneStageRequestCarriesNothingOfAnEarlierTwoStageOne) {
    ASSERT_EQ(run({"48000", "44100", "2", "2", "300", "y", "24000", "2"}).status, Status::ok);
    ASSERT_TRUE(request.two_stage.intermediate_target.has_value());
    ASSERT_EQ(request.two_stage.intermediate_target->priority, Priority::final);
    ASSERT_EQ(run({"8000", "16000", "1"}).status, Status::ok);
    EXPECT_EQ(request.stages, 1);
    EXPECT_EQ(request.two_stage.mode, SearchMode::minimal_sum);
    EXPECT_EQ(request.two_stage.max_factor, 65535);
    EXPECT_FALSE(request.two_stage.allow_first_stage_decimation);
    EXPECT_FALSE(request.two_stage.intermediate_target.has_value());
}

TEST_F(Dialog, AnOverLongLineAtAnInlineQuestionAsksItAgain) {
    fake_console_queue_text("44100\r");
    fake_console_queue_text("48000\r");
    fake_console_queue_text("2\r");
    fake_console_queue_typed(std::string(255, '1'));
    fake_console_queue_text("2\r");
    fake_console_queue_text("50\r");
    fake_console_queue_text("\r");
    fake_console_queue_text("\r");
    Status status = Status::stopped;
    CapturedStreams streams = capture_streams([&] { status = get_user_inputs(request); });
    EXPECT_EQ(status, Status::ok);
    EXPECT_EQ(streams.err, "\nInput line too long (max 254 characters). Input discarded.\n\n");
    EXPECT_EQ(streams.out.find(MODE_MENU + MODE_QUESTION + MODE_QUESTION +
                               " -> Custom Limit Search mode selected.\n"),
              0u);
    EXPECT_EQ(request.two_stage.max_factor, 50);
}

TEST_F(Dialog, AStopRequestAtAnyQuestionEndsTheDialogQuietly) {
    // The answers of a full two-stage path; the stop arrives at question `asked`.
    const char* const path[] = {"48000", "44100", "2", "2", "1001", "y", "y", "96000", "y", "4"};
    for (std::size_t asked = 0; asked <= std::size(path) - 1; ++asked) {
        fake_console_reset();
        fake_console_install_shutdown_event();
        for (std::size_t i = 0; i < asked; ++i) {
            fake_console_queue_text(std::string(path[i]) + "\r");
        }
        fake_console_queue_shutdown();
        Status status = Status::ok;
        CapturedStreams streams = capture_streams([&] { status = get_user_inputs(request); });
        EXPECT_EQ(status, Status::stopped) << asked;
        EXPECT_EQ(streams.err, "") << asked;
        EXPECT_EQ(fake_console_pending_steps(), 0u) << asked;
        EXPECT_EQ(fake_console_script_overruns(), 0) << asked;
        expect_mode_restored();
    }
}

TEST_F(Dialog, AConsoleFailureAtAnyQuestionEndsTheDialogWithACalculationError) {
    const char* const path[] = {"48000", "44100", "2", "2", "1001", "y", "y", "96000", "y", "4"};
    for (std::size_t asked = 0; asked <= std::size(path) - 1; ++asked) {
        fake_console_reset();
        fake_console_install_shutdown_event();
        for (const char* answer : path) fake_console_queue_text(std::string(answer) + "\r");
        fake_console_fail(FakeConsoleOp::read, 5, static_cast<int>(asked));
        Status status = Status::ok;
        CapturedStreams streams = capture_streams([&] { status = get_user_inputs(request); });
        EXPECT_EQ(status, Status::calculation_error) << asked;
        EXPECT_EQ(streams.err, "\nReadConsoleInput failed (Error 5).\n") << asked;
        EXPECT_EQ(fake_console_calls(FakeConsoleOp::read), static_cast<int>(asked) + 1) << asked;
        expect_mode_restored();
    }
}

TEST_F(Dialog, AConsoleWithoutAModeFailsOnceNotForever) {
    fake_console_fail(FakeConsoleOp::get_mode, 25);
    const DialogRun r = run({});
    EXPECT_EQ(r.status, Status::calculation_error);
    EXPECT_EQ(r.streams.err, "\nFailed to get console mode (Error 25).\n");
    EXPECT_EQ(fake_console_calls(FakeConsoleOp::get_mode), 1);
}

}  // namespace
