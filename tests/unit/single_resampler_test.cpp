// The single-stage run of the dialog and its report.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <initializer_list>
#include <limits>
#include <string>

#include "capture.h"
#include "interactive/conversion_runs.h"
#include "requests.h"
#include "solver_calls.h"

namespace {

/// Runs a whole single-stage conversion and captures both streams.
CapturedStreams run_one(double input_rate, double output_rate, StatusCode expected_status) {
    const UserInputs in = one_stage_request(input_rate, output_rate);
    StatusCode status = STATUS_SUCCESS;
    CapturedStreams c = capture_streams([&] {
        status =
            to_status_code(quillmere::interactive::run_single_stage(to_single_stage_request(in)));
    });
    EXPECT_EQ(status, expected_status);
    return c;
}

/// The settings lines printed before the solver runs.
std::string settings(const std::string& rates, const std::string& ratio) {
    return "\n--- Single Rational Resampler Calculation ---\n"
           "Target: " +
           rates +
           "\n"
           "Target Ratio (output/input) = " +
           ratio +
           "\n"
           "Match Tolerance (relative error): 1.0e-09\n"
           "Arbitrary Suggestion Threshold (relative error): 1.0e-06\n"
           "CFE searching with max denominator M <= 65535\n";
}

/// The large-factor note after its factors.
constexpr const char* kLargeNoteRest =
    ") are large.\n"
    "      Implementing this rational ratio with standard polyphase filters may be\n"
    "      computationally expensive or require long filters.\n"
    "      Consider if an arbitrary resampling method might be a suitable\n"
    "      alternative if filter complexity is a primary concern.\n"
    "      Consider using the two-stage mode (option 2) to potentially find\n"
    "      factor pairs (L1/M1, L2/M2) with lower complexity.";

std::string large_note(const std::string& l, const std::string& m) {
    // Appended piece by piece: g++ 12 warns falsely (-Wrestrict) of a replace here.
    std::string note = "Note: One or more calculated factors (L=";
    note += l;
    note += ", M=";
    note += m;
    note += kLargeNoteRest;
    return note;
}

std::string caution(const std::string& relative) {
    return "Caution!: The best approximation found differs significantly\n"
           "          from the target ratio (Final Relative Error: " +
           relative +
           ").\n"
           "          An arbitrary (non-rational) resampling method might be required\n"
           "          for higher accuracy if this error is unacceptable.";
}

}  // namespace

// ---------------------------------------------------------------------------
// Run and report
// ---------------------------------------------------------------------------

// Whole runs that succeed: the settings lines and the report, nothing on standard error.
TEST(SingleRun, ReportTranscripts) {
    struct Transcript {
        const char* name;
        double input_rate, output_rate;
        std::string out;
    };
    const Transcript transcripts[] = {
        {"ExactMatch", 48000, 44100,
         settings("Input Rate = 48000.00 Hz, Output Rate = 44100.00 Hz", "0.9187500000") +
             "\nResults: Match Found!\n\n"
             "  L = 147 (Interpolation)\n"
             "  M = 160 (Decimation)\n"
             "\nComplexity = 160\n"
             "Achieved Ratio (L/M) = 147 / 160 = 0.9187500000\n"
             "Achieved Output Rate = 44100.0000000000 Hz\n"
             "Rate Difference: +0.0000000000 Hz, Relative: 0.00e+00\n"
             "PPM Error: +0.000 PPM\n"},
        {"MatchWithFloatingPointResidue", 44100, 48000,
         settings("Input Rate = 44100.00 Hz, Output Rate = 48000.00 Hz", "1.0884353741") +
             "\nResults: Match Found!\n\n"
             "  L = 160 (Interpolation)\n"
             "  M = 147 (Decimation)\n"
             "\nComplexity = 160\n"
             "Achieved Ratio (L/M) = 160 / 147 = 1.0884353741\n"
             "Achieved Output Rate = 48000.0000000000 Hz\n"
             "Rate Difference: +0.0000000000 Hz, Relative: 1.52e-16\n"
             "PPM Error: +0.000 PPM\n"},
        {"Approximation", 10000, 12345.678,
         settings("Input Rate = 10000.00 Hz, Output Rate = 12345.68 Hz", "1.2345678000") +
             "\nResults: Approximation Found\n\n"
             "  L = 100 (Interpolation)\n"
             "  M = 81 (Decimation)\n"
             "\nComplexity = 100\n"
             "Achieved Ratio (L/M) = 100 / 81 = 1.2345679012\n"
             "Achieved Output Rate = 12345.6790123457 Hz\n"
             "Rate Difference: +0.0010123457 Hz, Relative: 8.20e-08\n"
             "PPM Error: +0.082 PPM\n"},
        {"SignificantErrorGetsTheCautionOnly", 48000, 47999.9,
         settings("Input Rate = 48000.00 Hz, Output Rate = 47999.90 Hz", "0.9999979167") +
             "\nResults: Caution! Significant Error\n\n"
             "  L = 1 (Interpolation)\n"
             "  M = 1 (Decimation)\n"
             "\nComplexity = 1\n"
             "Achieved Ratio (L/M) = 1 / 1 = 1.0000000000\n"
             "Achieved Output Rate = 48000.0000000000 Hz\n"
             "Rate Difference: +0.1000000000 Hz, Relative: 2.08e-06\n"
             "PPM Error: +2.083 PPM\n"
             "\n" +
             caution("2.08e-06") + "\n"},
        {"SignificantErrorWithLargeFactors", 65000.3, 1,
         settings("Input Rate = 65000.30 Hz, Output Rate = 1.00 Hz", "0.0000153845") +
             "\nResults: Caution! Significant Error\n\n"
             "  L = 1 (Interpolation)\n"
             "  M = 65000 (Decimation)\n"
             "\nComplexity = 65000\n"
             "Achieved Ratio (L/M) = 1 / 65000 = 0.0000153846\n"
             "Achieved Output Rate = 1.0000046154 Hz\n"
             "Rate Difference: +0.0000046154 Hz, Relative: 4.62e-06\n"
             "PPM Error: +4.615 PPM\n"
             "\n" +
             caution("4.62e-06") + "\n" + large_note("1", "65000") + "\n"},
        {"MatchWithLargeFactors", 1, 3.141592653589793,
         settings("Input Rate = 1.00 Hz, Output Rate = 3.14 Hz", "3.1415926536") +
             "\nResults: Match Found with Large L/M\n\n"
             "  L = 104348 (Interpolation)\n"
             "  M = 33215 (Decimation)\n"
             "\nComplexity = 104348\n"
             "Achieved Ratio (L/M) = 104348 / 33215 = 3.1415926539\n"
             "Achieved Output Rate = 3.1415926539 Hz\n"
             "Rate Difference: +0.0000000003 Hz, Relative: 1.06e-10\n"
             "PPM Error: +0.000 PPM\n"
             "\n" +
             large_note("104348", "33215") + "\n"},
    };
    for (const Transcript& t : transcripts) {
        SCOPED_TRACE(t.name);
        CapturedStreams c = run_one(t.input_rate, t.output_rate, STATUS_SUCCESS);
        EXPECT_EQ(c.out, t.out);
        EXPECT_EQ(c.err, "");
    }
}

TEST(SingleRun, SolverFailureIsAnnounced) {
    CapturedStreams c = run_one(1000000, 10, STATUS_CALCULATION_ERROR);
    EXPECT_EQ(c.out,
              settings("Input Rate = 1000000.00 Hz, Output Rate = 10.00 Hz", "0.0000100000") +
                  "\nCalculation failed. No results to display for single resampler.\n");
    EXPECT_EQ(c.err, "Internal Error: CFE resulted in non-positive L or M (0 / 1).\n");
}

TEST(SingleRun, InvalidRatesShowInTheSettings) {
    CapturedStreams c = run_one(0, 44100, STATUS_INVALID_INPUT_ERROR);
    EXPECT_EQ(c.out, settings("Input Rate = 0.00 Hz, Output Rate = 44100.00 Hz", "Invalid") +
                         "\nCalculation failed. No results to display for single resampler.\n");
    EXPECT_EQ(c.err, "\nInvalid rates for single resampler (must be positive finite).\n");
}

TEST(SingleRun, ShutdownRequestedSilencesEverything) {
    {
        ShutdownFlagScope flag;
        const UserInputs in = one_stage_request(48000, 44100);
        CapturedStreams c = capture_streams([&] {
            EXPECT_EQ(quillmere::interactive::run_single_stage(to_single_stage_request(in)),
                      quillmere::Status::stopped);
            print_single_resampler_result(48000, 44100, 147, 160, 44100);
        });
        EXPECT_EQ(c.out, "");
        EXPECT_EQ(c.err, "");
    }
    EXPECT_FALSE(quillmere::interactive::shutdown_requested());
}

TEST(SingleReport, ResultsWithoutUsableFactorsOrRatesGiveTheFailureLine) {
    // The report is written from result values alone; one it cannot show as a result
    // (factors below 1, rates that are not finite) gets the failure line instead of a
    // report with meaningless numbers.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const std::string failure =
        "\nCalculation failed. No results to display for single resampler.\n";
    for (const auto& print : std::initializer_list<std::function<void()>>{
             [] { print_single_resampler_result(48000, 44100, 0, 1, 44100); },
             [] { print_single_resampler_result(48000, 44100, 1, -3, 44100); },
             [&] { print_single_resampler_result(inf, 44100, 147, 160, 44100); },
             [&] { print_single_resampler_result(48000, nan, 147, 160, 44100); },
             [&] { print_single_resampler_result(48000, 44100, 147, 160, nan); }}) {
        const CapturedStreams c = capture_streams(print);
        EXPECT_EQ(c.out, failure);
        EXPECT_EQ(c.err, "");
    }
}

TEST(SingleReport, ZeroTargetTakesTheErrorAsAbsolute) {
    CapturedStreams c = capture_streams([] { print_single_resampler_result(10, 0.0, 1, 2, 5.0); });
    EXPECT_EQ(c.out,
              "\nResults: Caution! Significant Error\n\n"
              "  L = 1 (Interpolation)\n"
              "  M = 2 (Decimation)\n"
              "\nComplexity = 2\n"
              "Achieved Ratio (L/M) = 1 / 2 = 0.5000000000\n"
              "Achieved Output Rate = 5.0000000000 Hz\n"
              "Rate Difference: +5.0000000000 Hz, Relative: 5.00e+00\n"
              "PPM Error: +Infinity\n"
              "\n" +
                  caution("5.00e+00") + "\n");
    c = capture_streams([] { print_single_resampler_result(10, 0.0, 1, 2, -5.0); });
    EXPECT_NE(c.out.find("PPM Error: -Infinity\n"), std::string::npos);
    c = capture_streams([] { print_single_resampler_result(10, 0.0, 1, 2, 0.0); });
    EXPECT_NE(c.out.find("Results: Match Found!\n"), std::string::npos);
    EXPECT_NE(c.out.find("PPM Error: +0.000 PPM\n"), std::string::npos);
}

TEST(SingleReport, ThresholdBoundaries) {
    // A relative error of exactly 1e-6 stays below the significance threshold.
    CapturedStreams c =
        capture_streams([] { print_single_resampler_result(1e6, 1e6, 1, 1, 1e6 + 1); });
    EXPECT_NE(c.out.find("Results: Approximation Found\n\n"), std::string::npos);
    EXPECT_NE(c.out.find("Relative: 1.00e-06\n"), std::string::npos);
    EXPECT_EQ(c.out.find("Caution!:"), std::string::npos);
    // 1000 is not large; 1001 is, and the note then follows even an approximation.
    c = capture_streams([] { print_single_resampler_result(1, 1, 1000, 1000, 1); });
    EXPECT_NE(c.out.find("Results: Match Found!\n\n"), std::string::npos);
    EXPECT_EQ(c.out.find("Note:"), std::string::npos);
    c = capture_streams([] { print_single_resampler_result(1, 1, 1001, 1000, 1.0000001); });
    EXPECT_NE(c.out.find("Results: Approximation Found\n\n"), std::string::npos);
    EXPECT_NE(c.out.find("PPM Error: +0.100 PPM\n\n" + large_note("1001", "1000") + "\n"),
              std::string::npos);
}
