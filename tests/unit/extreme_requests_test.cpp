// The far ends of what the dialog accepts: rates of 1 Hz and 10 THz in one and two
// stages, and entries whose numbers are subnormal, beyond the range of a double or
// hundreds of digits long. Each is refused with the program's own message or solved
// without a crash, a critical status or a stray line on standard error. The solvers'
// own answers at these ends are tested in extreme_solves_test.cpp.
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "input_test_support.h"
#include "interactive/conversion_runs.h"
#include "interactive/dialog.h"
#include "interactive/line_checks.h"
#include "interactive/line_reader.h"
#include "interactive/prompts.h"
#include "requests.h"

namespace {

using namespace quillmere::interactive;
using quillmere::Status;

// ---------------------------------------------------------------------------
// Entries
// ---------------------------------------------------------------------------

const std::string DIGITS_250 = "1" + std::string(249, '0');
const std::string FRACTION_250 = "0." + std::string(247, '0') + "1";  // 1e-248
/// 1e13 written with 250 characters: long, but exactly the largest rate.
const std::string LONG_TEN_THZ = "10000000000000." + std::string(235, '0');

constexpr const char* DOUBLE_RANGE = "\nInput value is out of range for a double.\n\n";
constexpr const char* TOO_SMALL = "\nInput rate is unreasonably small (less than 1.0 Hz).\n\n";
constexpr const char* TOO_LARGE = "\nInput rate is unreasonably large (exceeds 10.0 THz).\n\n";
constexpr const char* TARGET_DOUBLE_RANGE = "\nInput out of range for double.\n\n";
constexpr const char* TARGET_TOO_SMALL = "\nTarget rate is too small (less than 1.0 Hz).\n\n";
constexpr const char* TARGET_TOO_LARGE = "\nTarget rate is too large (exceeds 10.0 THz).\n\n";

const std::vector<std::string> SUBNORMALS = {"4.9e-324", "1e-310", "2.2250738585072011e-308"};

/// A subnormal result: the C library of glibc reports ERANGE, others may not, and then
/// the lower bound refuses it. Either way it is one of the program's two messages.
void expect_subnormal_refusal(const std::string& refusal, const char* range_message,
                              const char* small_message, const std::string& line) {
#ifdef __GLIBC__
    (void)small_message;
    EXPECT_EQ(refusal, range_message) << line;
#else
    EXPECT_TRUE(refusal == range_message || refusal == small_message) << line << ": " << refusal;
#endif
}

TEST(ExtremeEntries, SubnormalRatesAreRefused) {
    for (const std::string& line : SUBNORMALS) {
        double value = -1.0;
        std::string refusal;
        EXPECT_EQ(check_positive_double(line.c_str(), value, refusal), Status::invalid_request)
            << line;
        expect_subnormal_refusal(refusal, DOUBLE_RANGE, TOO_SMALL, line);

        std::optional<double> target = 1.0;
        EXPECT_EQ(check_target_rate_answer(line.c_str(), target, refusal), Status::invalid_request)
            << line;
        expect_subnormal_refusal(refusal, TARGET_DOUBLE_RANGE, TARGET_TOO_SMALL, line);
        EXPECT_FALSE(target.has_value());
    }
}

TEST(ExtremeEntries, HugeAndOverlongNumbersAreRefusedWithTheirOwnMessages) {
    struct Case {
        std::string line;
        const char* rate_refusal;
        const char* target_refusal;
    };
    const Case cases[] = {
        {"1e400", DOUBLE_RANGE, TARGET_DOUBLE_RANGE},
        {"1.8e308", DOUBLE_RANGE, TARGET_DOUBLE_RANGE},
        {"-1e400", DOUBLE_RANGE, TARGET_DOUBLE_RANGE},
        {"1e-400", DOUBLE_RANGE, TARGET_DOUBLE_RANGE},
        {DIGITS_250, TOO_LARGE, TARGET_TOO_LARGE},
        {"1.7976931348623157e308", TOO_LARGE, TARGET_TOO_LARGE},
        {FRACTION_250, TOO_SMALL, TARGET_TOO_SMALL},
    };
    for (const Case& c : cases) {
        double value = -1.0;
        std::string refusal;
        EXPECT_EQ(check_positive_double(c.line.c_str(), value, refusal), Status::invalid_request)
            << c.line;
        EXPECT_EQ(refusal, c.rate_refusal) << c.line;
        std::optional<double> target;
        EXPECT_EQ(check_target_rate_answer(c.line.c_str(), target, refusal),
                  Status::invalid_request)
            << c.line;
        EXPECT_EQ(refusal, c.target_refusal) << c.line;
    }
}

TEST(ExtremeEntries, OverlongIntegersAreRefusedAtTheLimitAndChoiceQuestions) {
    long long limit = 0;
    std::string refusal;
    EXPECT_EQ(check_positive_long_long(DIGITS_250.c_str(), limit, refusal),
              Status::invalid_request);
    EXPECT_EQ(refusal, "\nInput value is too large (overflow).\n\n");
    EXPECT_EQ(check_positive_long_long(("-" + DIGITS_250).c_str(), limit, refusal),
              Status::invalid_request);
    EXPECT_EQ(refusal, "\nInput value is too small (underflow).\n\n");

    static constexpr int STAGES[] = {1, 2};
    int stages = 0;
    EXPECT_EQ(check_specific_integer(DIGITS_250.c_str(), STAGES, stages, refusal),
              Status::invalid_request);
    EXPECT_EQ(refusal, "\nInput value is out of range for an integer.\n\n");
    quillmere::SearchMode mode = quillmere::SearchMode::min_cost;
    bool is_default = true;
    EXPECT_EQ(check_search_mode_answer(DIGITS_250.c_str(), mode, is_default, refusal),
              Status::invalid_request);
    EXPECT_EQ(refusal, "\nInput out of range.\n\n");
}

TEST(ExtremeEntries, TheBoundsThemselvesAreAcceptedHoweverLongTheirDigits) {
    for (const std::string& line : {std::string("1"), std::string("1e13"), LONG_TEN_THZ,
                                    std::string("0.99999999999999999999")}) {
        double value = -1.0;
        std::string refusal = "x";
        EXPECT_EQ(check_positive_double(line.c_str(), value, refusal), Status::ok) << line;
        EXPECT_TRUE(value == 1.0 || value == 1e13) << line;
        EXPECT_EQ(refusal, "") << line;
    }
}

class ExtremeDialog : public ConsoleTest {};

/// The whole dialog through the fake console: extreme entries are refused one after the
/// other, and the request takes the bounds themselves.
TEST_F(ExtremeDialog, RefusesExtremeEntriesThenTakesTheBounds) {
    for (const std::string& answer :
         {std::string("4.9e-324"), std::string("1e400"), DIGITS_250, std::string("1"),
          std::string("1e-310"), LONG_TEN_THZ, std::string("2"), std::string("2"), DIGITS_250,
          std::string("1"), std::string("y"), std::string("1e400"), std::string("1"),
          std::string("1")}) {
        fake_console_queue_text(answer + "\r");
    }
    quillmere::interactive::ConversionRequest request;
    quillmere::Status status = quillmere::Status::stopped;
    const CapturedStreams streams =
        capture_streams([&] { status = quillmere::interactive::get_user_inputs(request); });
    ASSERT_EQ(status, quillmere::Status::ok) << streams.err;
    EXPECT_EQ(fake_console_script_overruns(), 0);
    expect_mode_restored();

    const quillmere::TwoStageRequest& two = request.two_stage;
    EXPECT_EQ(two.input_rate_hz, 1.0);
    EXPECT_EQ(two.output_rate_hz, 1e13);
    EXPECT_EQ(request.stages, 2);
    EXPECT_EQ(two.mode, quillmere::SearchMode::custom_limit);
    EXPECT_EQ(two.max_factor, 1);
    EXPECT_TRUE(two.allow_first_stage_decimation);
    ASSERT_TRUE(two.intermediate_target.has_value());
    EXPECT_EQ(two.intermediate_target->rate_hz, 1.0);
    EXPECT_EQ(two.intermediate_target->priority, quillmere::Priority::strict);
#ifdef __GLIBC__
    EXPECT_EQ(streams.err, std::string(DOUBLE_RANGE) + DOUBLE_RANGE + TOO_LARGE + DOUBLE_RANGE +
                               "\nInput value is too large (overflow).\n\n" + TARGET_DOUBLE_RANGE);
#endif
}

// ---------------------------------------------------------------------------
// One stage
// ---------------------------------------------------------------------------

/// What a run wrote and returned.
struct RunResult {
    StatusCode status;
    CapturedStreams streams;
};

RunResult run_one_stage(double input_rate, double output_rate) {
    const UserInputs inputs = one_stage_request(input_rate, output_rate);
    RunResult run{STATUS_SUCCESS, {}};
    run.streams = capture_streams([&] {
        run.status = to_status_code(
            quillmere::interactive::run_single_stage(to_single_stage_request(inputs)));
    });
    return run;
}

bool ends_with(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

TEST(ExtremeOneStage, OneHertzToTenTerahertzIsAnExactMatchWithAHugeL) {
    const RunResult run = run_one_stage(1.0, 1e13);
    EXPECT_EQ(run.status, STATUS_SUCCESS);
    EXPECT_EQ(run.streams.err, "");
    EXPECT_NE(run.streams.out.find("Results: Match Found with Large L/M\n\n"
                                   "  L = 10000000000000 (Interpolation)\n"
                                   "  M = 1 (Decimation)\n\n"
                                   "Complexity = 10000000000000\n"),
              std::string::npos)
        << run.streams.out;
    EXPECT_NE(run.streams.out.find("Note: One or more calculated factors (L=10000000000000, M=1)"),
              std::string::npos);
}

TEST(ExtremeOneStage, TenTerahertzToOneHertzHasNoFactorsAndSaysSo) {
    const RunResult run = run_one_stage(1e13, 1.0);
    EXPECT_EQ(run.status, STATUS_CALCULATION_ERROR);
    EXPECT_EQ(run.streams.err, "Internal Error: CFE resulted in non-positive L or M (0 / 1).\n");
    EXPECT_TRUE(ends_with(run.streams.out,
                          "Target: Input Rate = 10000000000000.00 Hz, Output Rate = 1.00 Hz\n"
                          "Target Ratio (output/input) = 0.0000000000\n"
                          "Match Tolerance (relative error): 1.0e-09\n"
                          "Arbitrary Suggestion Threshold (relative error): 1.0e-06\n"
                          "CFE searching with max denominator M <= 65535\n"
                          "\nCalculation failed. No results to display for single resampler.\n"))
        << run.streams.out;
}

TEST(ExtremeOneStage, OneDecimationBeyondTheLargestIsNotFound) {
    const RunResult run = run_one_stage(65536.0, 1.0);
    EXPECT_EQ(run.status, STATUS_CALCULATION_ERROR);
    EXPECT_EQ(run.streams.err, "Internal Error: CFE resulted in non-positive L or M (0 / 1).\n");
}

// ---------------------------------------------------------------------------
// Two stages
// ---------------------------------------------------------------------------

RunResult run_two_stages(const UserInputs& inputs) {
    RunResult run{STATUS_SUCCESS, {}};
    run.streams = capture_streams([&] {
        run.status =
            to_status_code(quillmere::interactive::run_two_stage(to_two_stage_request(inputs)));
    });
    return run;
}

/// Every combination of mode (minimal sum, or a small custom limit), first-stage
/// constraint, target (none, 1 Hz, 10 THz) and priority for the ratios 1e13 and 1e-13:
/// no cascade of factors up to 65535 reaches them, so every search ends with nothing
/// found, a clean not-found report and nothing on standard error.
TEST(ExtremeTwoStages, TenTerahertzRatiosFindNothingInEveryMode) {
    int cases = 0;
    for (const auto& [input_rate, output_rate] : {std::pair{1.0, 1e13}, std::pair{1e13, 1.0}}) {
        for (const auto& [mode, limit] : {std::pair{SEARCH_MODE_MINIMAL_SUM, MAX_LM_LIMIT},
                                          std::pair{SEARCH_MODE_CUSTOM_LIMIT, 60LL}}) {
            for (const bool allow : {false, true}) {
                for (const double target : {0.0, 1.0, 1e13}) {
                    for (int priority = 1; priority <= 4; ++priority) {
                        if (target == 0.0 && priority != PRIORITIZE_BALANCED_DUAL) continue;
                        const UserInputs inputs = two_stage_request(input_rate, output_rate, mode,
                                                                    limit, allow, target, priority);
                        SCOPED_TRACE(std::to_string(input_rate) + " -> " +
                                     std::to_string(output_rate) + ", mode " +
                                     std::to_string(mode) + ", allow " + std::to_string(allow) +
                                     ", target " + std::to_string(target) + ", priority " +
                                     std::to_string(priority));
                        const RunResult run = run_two_stages(inputs);
                        EXPECT_EQ(run.status, STATUS_FAILURE);
                        EXPECT_EQ(run.streams.err, "");
                        EXPECT_NE(run.streams.out.find(" Search Results: Not found\n"),
                                  std::string::npos);
                        EXPECT_TRUE(ends_with(run.streams.out,
                                              "Check constraints, priority, and consider if a "
                                              "larger maximum L/M is needed.\n"));
                        ++cases;
                    }
                }
            }
        }
    }
    EXPECT_EQ(cases, 2 * 2 * 2 * 9);
}

}  // namespace
