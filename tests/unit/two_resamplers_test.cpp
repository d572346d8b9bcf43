// The two-stage report and run of the dialog.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "capture.h"
#include "interactive/conversion_runs.h"
#include "requests.h"
#include "solver_calls.h"

namespace {

using quillmere::core::CascadeRecord;
using quillmere::core::make_empty_record;

bool holds(const CascadeRecord& r, long long l1, long long m1, long long l2, long long m2) {
    return r.found && r.l1 == l1 && r.m1 == m1 && r.l2 == l2 && r.m2 == m2;
}

// ---------------------------------------------------------------------------
// Report
// ---------------------------------------------------------------------------

std::string report(const char* title, const UserInputs& in, const CascadeRecord& r) {
    testing::internal::CaptureStdout();
    print_two_resamplers_result(title, &in, &r);
    return testing::internal::GetCapturedStdout();
}

CascadeRecord stored(const UserInputs& in, long long l1, long long m1, long long l2, long long m2) {
    return stored_record(in, l1, m1, l2, m2);
}

constexpr const char* REPORT_10_7_16_21 =
    "\nFirst Resampler: Complexity: 10\n"
    "  L1 = 10 (Interpolation)\n"
    "  M1 = 7 (Decimation)\n"
    "\nSecond Resampler: Complexity: 21\n"
    "  L2 = 16 (Interpolation)\n"
    "  M2 = 21 (Decimation)\n"
    "\nOverall Sum (L1+M1+L2+M2) = 54\n"
    "Overall Complexity (Sum of Max) = 31\n"
    "Achieved Combined Ratio = (10 / 7) * (16 / 21) = 1.0884353741\n"
    "Achieved Intermediate Rate = 63000.0000000000 Hz\n"
    "Achieved Output Rate = 48000.0000000000 Hz\n"
    "Overall Rate Difference: -0.0000000000 Hz, Relative: 1.52e-16\n"
    "Overall PPM Error: -0.000 PPM\n";

TEST(PriorityNames, EveryValue) {
    EXPECT_STREQ(priority_to_string(1), "Strict Intermediate");
    EXPECT_STREQ(priority_to_string(2), "Final Rate");
    EXPECT_STREQ(priority_to_string(3), "Balanced Dual");
    EXPECT_STREQ(priority_to_string(4), "Best Overall (Ignoring Intermediate)");
    EXPECT_STREQ(priority_to_string(0), "Unknown");
    EXPECT_STREQ(priority_to_string(5), "Unknown");
    EXPECT_STREQ(priority_to_string(-1), "Unknown");
}

TEST(TwoStageReport, ExactMatchFromTheSearch) {
    const UserInputs in = two_stage_request(48000, 44100, SEARCH_MODE_MINIMAL_SUM, 65535);
    const CascadeRecord best = searched_record(in);
    ASSERT_TRUE(holds(best, 21, 10, 7, 16));
    EXPECT_EQ(report("Minimal Sum Search Results:", in, best),
              "Minimal Sum Search Results: Match Found!\n"
              "\nFirst Resampler: Complexity: 21\n"
              "  L1 = 21 (Interpolation)\n"
              "  M1 = 10 (Decimation)\n"
              "\nSecond Resampler: Complexity: 16\n"
              "  L2 = 7 (Interpolation)\n"
              "  M2 = 16 (Decimation)\n"
              "\nOverall Sum (L1+M1+L2+M2) = 54\n"
              "Overall Complexity (Sum of Max) = 37\n"
              "Achieved Combined Ratio = (21 / 10) * (7 / 16) = 0.9187500000\n"
              "Achieved Intermediate Rate = 100800.0000000000 Hz\n"
              "Achieved Output Rate = 44100.0000000000 Hz\n"
              "Overall Rate Difference: +0.0000000000 Hz, Relative: 0.00e+00\n"
              "Overall PPM Error: +0.000 PPM\n");
}

TEST(TwoStageReport, SignificantErrorLeavesTheLastLineOpen) {
    const UserInputs in = two_stage_request(44100, 48000, SEARCH_MODE_CUSTOM_LIMIT, 1);
    EXPECT_EQ(report("Custom Limit Search Results:", in, stored(in, 1, 1, 1, 1)),
              "Custom Limit Search Results: Caution! Significant Error\n"
              "\nFirst Resampler: Complexity: 1\n"
              "  L1 = 1 (Interpolation)\n"
              "  M1 = 1 (Decimation)\n"
              "\nSecond Resampler: Complexity: 1\n"
              "  L2 = 1 (Interpolation)\n"
              "  M2 = 1 (Decimation)\n"
              "\nOverall Sum (L1+M1+L2+M2) = 4\n"
              "Overall Complexity (Sum of Max) = 2\n"
              "Achieved Combined Ratio = (1 / 1) * (1 / 1) = 1.0000000000\n"
              "Achieved Intermediate Rate = 44100.0000000000 Hz\n"
              "Achieved Output Rate = 44100.0000000000 Hz\n"
              "Overall Rate Difference: -3900.0000000000 Hz, Relative: 8.13e-02\n"
              "Overall PPM Error: -81250.000 PPM\n"
              "\n"
              "Caution!: The best approximation found differs significantly\n"
              "          from the target output rate (Final Relative Error: 8.13e-02).\n"
              "          An arbitrary (non-rational) resampling method might be required\n"
              "          for higher accuracy if this error is unacceptable.");
}

TEST(TwoStageReport, StrictIntermediateMiss) {
    const UserInputs in = two_stage_request(44100, 48000, SEARCH_MODE_CUSTOM_LIMIT, 1000, false,
                                            96000, PRIORITIZE_STRICT_INTERMEDIATE);
    const std::string text = report("Custom Limit Search Results:", in, stored(in, 10, 7, 16, 21));
    EXPECT_EQ(text, std::string("Custom Limit Search Results: Match Found!\n") + REPORT_10_7_16_21 +
                        "Intermediate Rate Difference: -33000.0000000000 Hz, Relative: 3.44e-01\n"
                        "Intermediate PPM Error: -343750.000 PPM\n"
                        "\n"
                        "Note: Achieved intermediate rate differs from target rate (Rel Diff: "
                        "3.44e-01).\n"
                        "      (Strict intermediate target was requested but could not be met.)\n");

    UserInputs final_rate = in;
    final_rate.priority = PRIORITIZE_FINAL_RATE;
    const std::string without_strict_line =
        report("Custom Limit Search Results:", final_rate, stored(in, 10, 7, 16, 21));
    EXPECT_EQ(without_strict_line, text.substr(0, text.rfind("      (Strict")));
}

TEST(TwoStageReport, LargeFactorsAndSlightDifference) {
    const UserInputs in = two_stage_request(44100, 48000, SEARCH_MODE_CUSTOM_LIMIT, 65535);
    CascadeRecord r = stored(in, 1001, 1001, 160, 147);
    std::string text = report("T:", in, r);
    EXPECT_EQ(text.rfind("T: Match Found with Large L/M\n", 0), 0u);
    EXPECT_NE(text.find(" PPM\n"
                        "\nNote: One or more calculated factors (L1=1001, M1=1001, L2=160, "
                        "M2=147) are large.\n"
                        "      Implementing this rational ratio with standard polyphase filters "
                        "may be\n"
                        "      computationally expensive or require long filters.\n"
                        "      Consider if an arbitrary resampling method might be a suitable\n"
                        "      alternative if filter complexity is a primary concern.\n"),
              std::string::npos)
        << text;

    r = stored(in, 12, 11, 1, 1);
    r.final_error = 5e-7 * 48000;
    text = report("T:", in, r);
    EXPECT_EQ(text.rfind("T: Approximation Found\n", 0), 0u);
    EXPECT_NE(text.find("\n\nNote: Achieved final rate differs slightly from target rate (Rel "
                        "Diff: 2.27e-03).\n"),
              std::string::npos)
        << text;

    r.final_error = 1e-6 * 48000;  // just below the threshold: still slight
    EXPECT_EQ(report("T:", in, r).rfind("T: Approximation Found\n", 0), 0u);
}

TEST(TwoStageReport, NotFoundListsTheReasons) {
    UserInputs in = two_stage_request(44100, 48000, SEARCH_MODE_MINIMAL_SUM, 65535, false, 96000,
                                      PRIORITIZE_BALANCED_DUAL);
    EXPECT_EQ(report("Minimal Sum Search Results:", in, make_empty_record()),
              "Minimal Sum Search Results: Not found\n"
              "\nPossible reasons:\n"
              "  - Internal L/M limit (65535) might be too small.\n"
              "  - Required ratio is difficult to approximate.\n"
              "  - Could not meet intermediate rate target with priority 'Balanced Dual'.\n"
              "  - Required L1>=M1 constraint is too restrictive for this ratio.\n"
              "Check constraints, priority, and consider if a larger maximum L/M is needed.\n");
    in = two_stage_request(44100, 48000, SEARCH_MODE_CUSTOM_LIMIT, 50, true);
    EXPECT_EQ(report("X", in, make_empty_record()),
              "X Not found\n"
              "\nPossible reasons:\n"
              "  - Maximum L/M value (50) is too small.\n"
              "  - Required ratio is difficult to approximate.\n"
              "Check constraints, priority, and consider if a larger maximum L/M is needed.\n");
}

TEST(TwoStageReport, ShutdownSilencesTheReport) {
    const UserInputs in = two_stage_request(44100, 48000, SEARCH_MODE_CUSTOM_LIMIT, 50);
    const CascadeRecord r = make_empty_record();
    const ShutdownFlagScope shutdown;
    EXPECT_EQ(report("T", in, r), "");
}

// ---------------------------------------------------------------------------
// Run
// ---------------------------------------------------------------------------

struct RunOutput {
    StatusCode status;
    std::string out;
    std::string err;
};

RunOutput run_two(const UserInputs* in) {
    RunOutput r{};
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    r.status = to_status_code(quillmere::interactive::run_two_stage(to_two_stage_request(*in)));
    r.err = testing::internal::GetCapturedStderr();
    r.out = testing::internal::GetCapturedStdout();
    return r;
}

std::string run_header(const char* mode, const char* max_lm, const char* target_line,
                       const char* constraint, const char* rates, const char* ratio,
                       const char* q) {
    return std::string("\n--- Two Rational Resampler Calculation (") + mode + " Mode) ---\n" +
           "Max L/M per stage: " + max_lm + "\n" + target_line + "Constraint: M1 > L1 is " +
           constraint + "\n" + "Target: " + rates + "\n" +
           "Target Ratio (output/input) = " + ratio + "\n" +
           "Match Tolerance (relative error): Overall=1.0e-09, Intermediate=1.0e-09\n"
           "Arbitrary Suggestion Threshold (relative error): 1.0e-06\n"
           "CFE searching with max overall denominator Q <= " +
           q + "\n\nStarting search calculation. Please wait...\n\n";
}

TEST(TwoStageRun, MinimalSumExampleLineByLine) {
    const UserInputs in = two_stage_request(44100, 48000, SEARCH_MODE_MINIMAL_SUM, 65535);
    const RunOutput r = run_two(&in);
    EXPECT_EQ(r.status, STATUS_SUCCESS);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out,
              "\n"
              "--- Two Rational Resampler Calculation (Minimal Sum Mode) ---\n"
              "Max L/M per stage: 65535\n"
              "Constraint: M1 > L1 is NOT Allowed\n"
              "Target: Input Rate = 44100.00 Hz, Output Rate = 48000.00 Hz\n"
              "Target Ratio (output/input) = 1.0884353741\n"
              "Match Tolerance (relative error): Overall=1.0e-09, Intermediate=1.0e-09\n"
              "Arbitrary Suggestion Threshold (relative error): 1.0e-06\n"
              "CFE searching with max overall denominator Q <= 4294836225\n"
              "\n"
              "Starting search calculation. Please wait...\n"
              "\n"
              "Progress (checking CFE convergents): .\n"
              "Progress (checking g/h factors): .\n"
              "5 CFE convergents processed...\n"
              "Checked factor pairs and possibly common factors (g/h)...\n"
              "Done searching!\n"
              "\n" +
                  std::string("Minimal Sum Search Results: Match Found!\n") + REPORT_10_7_16_21);
}

TEST(TwoStageRun, TargetLineAndCustomLimit) {
    UserInputs in = two_stage_request(44100, 48000, SEARCH_MODE_MINIMAL_SUM, 65535, false, 96000,
                                      PRIORITIZE_BALANCED_DUAL);
    RunOutput r = run_two(&in);
    EXPECT_EQ(
        r.out.rfind(run_header("Minimal Sum", "65535",
                               "Target Intermediate Rate: 96000.00 Hz (Priority: Balanced "
                               "Dual)\n",
                               "NOT Allowed", "Input Rate = 44100.00 Hz, Output Rate = 48000.00 Hz",
                               "1.0884353741", "4294836225"),
                    0),
        0u)
        << r.out;

    in = two_stage_request(44100, 48000, SEARCH_MODE_CUSTOM_LIMIT, 100, true);
    r = run_two(&in);
    EXPECT_EQ(r.status, STATUS_SUCCESS);
    EXPECT_EQ(r.out.rfind(run_header("Custom Limit", "100", "", "Allowed",
                                     "Input Rate = 44100.00 Hz, Output Rate = 48000.00 Hz",
                                     "1.0884353741", "10000") +
                              "Progress (checking g/h factors): .\n"
                              "5 CFE convergents processed...\n"
                              "Checked factor pairs and possibly common factors (g/h)...\n"
                              "Done searching!\n\n"
                              "Custom Limit Search Results: Match Found!\n",
                          0),
              0u)
        << r.out;
}

TEST(TwoStageRun, NothingFound) {
    const UserInputs in = two_stage_request(44100, 48000, SEARCH_MODE_CUSTOM_LIMIT, 50, false,
                                            12345, PRIORITIZE_STRICT_INTERMEDIATE);
    const RunOutput r = run_two(&in);
    EXPECT_EQ(r.status, STATUS_FAILURE);
    EXPECT_EQ(r.out,
              run_header("Custom Limit", "50",
                         "Target Intermediate Rate: 12345.00 Hz (Priority: Strict "
                         "Intermediate)\n",
                         "NOT Allowed", "Input Rate = 44100.00 Hz, Output Rate = 48000.00 Hz",
                         "1.0884353741", "2500") +
                  "Progress (checking g/h factors): .\n"
                  "5 CFE convergents processed...\n"
                  "Done searching!\n\n"
                  "Custom Limit Search Results: Not found\n"
                  "\nPossible reasons:\n"
                  "  - Maximum L/M value (50) is too small.\n"
                  "  - Required ratio is difficult to approximate.\n"
                  "  - Could not meet intermediate rate target with priority 'Strict "
                  "Intermediate'.\n"
                  "  - Required L1>=M1 constraint is too restrictive for this ratio.\n"
                  "Check constraints, priority, and consider if a larger maximum L/M is "
                  "needed.\n");
}

TEST(TwoStageRun, CautionReportEndsWithoutNewline) {
    const UserInputs in = two_stage_request(44100, 48000, SEARCH_MODE_CUSTOM_LIMIT, 1);
    const RunOutput r = run_two(&in);
    EXPECT_EQ(r.status, STATUS_SUCCESS);
    const std::string expected_tail =
        "CFE searching with max overall denominator Q <= 1\n"
        "\nStarting search calculation. Please wait...\n\n"
        "1 CFE convergents processed...\n"
        "Checked factor pairs and possibly common factors (g/h)...\n"
        "Done searching!\n\n"
        "Custom Limit Search Results: Caution! Significant Error\n";
    EXPECT_NE(r.out.find(expected_tail), std::string::npos) << r.out;
    EXPECT_EQ(r.out.substr(r.out.size() - 13), "unacceptable.");
}

TEST(TwoStageRun, CriticalSearchFailure) {
    const UserInputs in = two_stage_request(0.0, 48000, SEARCH_MODE_MINIMAL_SUM, 65535);
    const RunOutput r = run_two(&in);
    EXPECT_EQ(r.status, STATUS_INVALID_INPUT_ERROR);
    EXPECT_EQ(r.err, "\nInput rate must be positive.\n");
    EXPECT_EQ(r.out, run_header("Minimal Sum", "65535", "", "NOT Allowed",
                                "Input Rate = 0.00 Hz, Output Rate = 48000.00 Hz", "Invalid",
                                "4294836225") +
                         "Search failed critically: Invalid Input Error\n");
}

#ifdef __GLIBC__
/// Standard output that raises the shutdown flag as soon as the search has been announced,
/// as a Ctrl+C at that moment would.
ssize_t stop_once_started(void* cookie, const char* data, size_t size) {
    auto* text = static_cast<std::string*>(cookie);
    text->append(data, size);
    if (text->find("Starting search calculation") != std::string::npos) {
        set_shutdown_flag(true);
    }
    return static_cast<ssize_t>(size);
}
#endif

TEST(TwoStageRun, ShutdownDuringTheSearchSkipsTheReport) {
#ifndef __GLIBC__
    GTEST_SKIP() << "needs a glibc cookie stream";
#else
    // Every request the library accepts is searched in milliseconds, so the stop arrives
    // through standard output the moment the search is announced.
    const UserInputs in = two_stage_request(44100, 48000, SEARCH_MODE_CUSTOM_LIMIT, 65535);
    std::string out;
    FILE* const stream =
        fopencookie(&out, "w", cookie_io_functions_t{nullptr, stop_once_started, nullptr, nullptr});
    ASSERT_NE(stream, nullptr);
    std::fflush(stdout);
    FILE* const saved = stdout;
    stdout = stream;
    const StatusCode status =
        to_status_code(quillmere::interactive::run_two_stage(to_two_stage_request(in)));
    std::fflush(stdout);
    stdout = saved;
    std::fclose(stream);
    set_shutdown_flag(false);
    EXPECT_EQ(status, STATUS_FAILURE);
    const std::string ending =
        "Starting search calculation. Please wait...\n\nSearch interrupted by user.\n";
    ASSERT_GE(out.size(), ending.size());
    EXPECT_EQ(out.substr(out.size() - ending.size()), ending);
    EXPECT_EQ(out.find("Done searching!"), std::string::npos);
#endif
}

TEST(TwoStageRun, AStopRequestedBeforehandPrintsNothing) {
    const ShutdownFlagScope shutdown;
    const UserInputs in = two_stage_request(44100, 48000, SEARCH_MODE_MINIMAL_SUM, 65535);
    const RunOutput r = run_two(&in);
    EXPECT_EQ(r.status, STATUS_FAILURE);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
}

}  // namespace
