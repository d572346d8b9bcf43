// The report layer on its own: the pieces a caller without the dialog prints, the
// progress line from events however they are batched, and the texts of error events.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "capture.h"
#include "interactive/conversion_runs.h"
#include "report/advice.h"
#include "report/dialog_status.h"
#include "report/progress_dots.h"
#include "report/reports.h"
#include "report/solver_errors.h"

namespace {

using namespace quillmere::report;
using quillmere::FactoredNumber;
using quillmere::IntermediateTarget;
using quillmere::Priority;
using quillmere::SearchMode;
using quillmere::SearchPass;
using quillmere::SolverError;
using quillmere::SolverErrorKind;
using quillmere::Status;
using quillmere::TwoStageRequest;

/// A two-stage request as the dialog would make it.
TwoStageRequest two_stage(double input_rate, double output_rate, SearchMode mode,
                          std::int64_t max_factor, bool allow = false, double target = 0.0,
                          Priority priority = Priority::balanced) {
    TwoStageRequest request;
    request.input_rate_hz = input_rate;
    request.output_rate_hz = output_rate;
    request.mode = mode;
    request.max_factor = max_factor;
    request.allow_first_stage_decimation = allow;
    if (target != 0.0)
        request.intermediate_target = quillmere::IntermediateTarget{target, priority};
    return request;
}

/// The run's standard output without its progress lines.
std::string without_progress(std::string text) {
    for (const char* header :
         {"Progress (checking CFE convergents): ", "Progress (checking g/h factors): "}) {
        const std::size_t at = text.find(header);
        if (at != std::string::npos) text.erase(at, text.find('\n', at) + 1 - at);
    }
    return text;
}

TEST(ReportPieces, HeaderSummaryAndReportAreTheRunWithoutItsProgress) {
    for (const TwoStageRequest& request :
         {two_stage(44100, 48000, SearchMode::minimal_sum, 65535),
          two_stage(44100, 48000, SearchMode::custom_limit, 2000, true, 96000, Priority::strict),
          two_stage(1, 1e13, SearchMode::custom_limit, 2),
          two_stage(1, 3.141592653589793, SearchMode::minimal_sum, 65535, false, 5)}) {
        const quillmere::TwoStageResult result = quillmere::solve_two_stage(request);
        StringSink pieces;
        write_two_stage_header(pieces, request);
        write_two_stage_summary(pieces, result);
        write_two_stage_report(pieces, request, result);

        const CapturedStreams run =
            capture_streams([&] { (void)quillmere::interactive::run_two_stage(request); });
        EXPECT_EQ(pieces.text(), without_progress(run.out));
        EXPECT_EQ(run.err, "");
    }
}

TEST(ReportPieces, SingleStageSettingsAndReportAreTheRun) {
    for (const auto& rates :
         {std::pair{48000.0, 44100.0}, std::pair{1.0, 3.141592653589793}, std::pair{1e13, 1.0}}) {
        const quillmere::SingleStageRequest request{rates.first, rates.second};
        StringSink pieces;
        write_single_stage_settings(pieces, request);
        write_single_stage_report(pieces, request, quillmere::solve_single_stage(request));
        const CapturedStreams run =
            capture_streams([&] { (void)quillmere::interactive::run_single_stage(request); });
        EXPECT_EQ(pieces.text(), run.out);
    }
}

TEST(ReportPieces, StoppedAndFailedSearchesGetTheirSummaryLineAndNoReport) {
    const TwoStageRequest request = two_stage(44100, 48000, SearchMode::minimal_sum, 65535);
    quillmere::TwoStageResult result;
    result.status = Status::stopped;
    StringSink stopped;
    write_two_stage_summary(stopped, result);
    write_two_stage_report(stopped, request, result);
    EXPECT_EQ(stopped.text(), "Search interrupted by user.\n");

    result.status = Status::overflow_error;
    StringSink failed;
    write_two_stage_summary(failed, result);
    write_two_stage_report(failed, request, result);
    EXPECT_EQ(failed.text(), "Search failed critically: Arithmetic Overflow Error\n");
}

TEST(ProgressDotsEvents, BatchedTotalsGiveTheSameDotsAsOneEventPerStep) {
    StringSink one_by_one;
    ProgressDots a(one_by_one, SearchMode::custom_limit);
    a.on_common_factor_iterations(1);
    for (std::uint64_t total = 1000; total <= 25000; total += 1000) {
        a.on_common_factor_iterations(total);
    }
    a.on_common_factor_iterations(25999);
    a.on_pass_done(SearchPass::common_factors);

    StringSink batched;
    ProgressDots b(batched, SearchMode::custom_limit);
    for (const std::uint64_t total : {3u, 999u, 7500u, 7501u, 25999u}) {
        b.on_common_factor_iterations(total);
    }
    b.on_pass_done(SearchPass::common_factors);
    EXPECT_EQ(one_by_one.text(), batched.text());
    EXPECT_EQ(batched.text(), "Progress (checking g/h factors): " + std::string(25, '.') + "\n");
}

TEST(ProgressDotsEvents, ShortPassesAndTheConvergentLine) {
    StringSink text;
    ProgressDots line(text, SearchMode::minimal_sum);
    for (int i = 0; i < 12; ++i) line.on_convergent(i, 12);
    line.on_pass_done(SearchPass::convergents);
    line.on_common_factor_iterations(1);
    line.on_pass_done(SearchPass::common_factors);
    EXPECT_EQ(text.text(),
              "Progress (checking CFE convergents): .\nProgress (checking g/h factors): .\n");

    // Custom limit: no convergent line; a stopped pass leaves its line open.
    StringSink custom;
    ProgressDots other(custom, SearchMode::custom_limit);
    for (int i = 0; i < 30; ++i) other.on_convergent(i, 30);
    other.on_pass_done(SearchPass::convergents);
    other.on_common_factor_iterations(2500);
    EXPECT_EQ(custom.text(), "Progress (checking g/h factors): ..");
}

TEST(ProgressDotsEvents, AStopFlagEndsALongRunOfDots) {
    std::atomic<bool> stop{true};
    StringSink text;
    ProgressDots line(text, SearchMode::custom_limit, &stop);
    line.on_common_factor_iterations(100000000);
    EXPECT_EQ(text.text(), "Progress (checking g/h factors): ");
}

TEST(SolverErrorTexts, EveryEventKindWithItsData) {
    const TwoStageRequest two = two_stage(44100, 48000, SearchMode::minimal_sum, 65535);
    SolverError error{SolverErrorKind::factoring_failed, Status::memory_error};
    error.value = 123456789;
    const struct {
        FactoredNumber which;
        const char* name;
    } numbers[] = {{FactoredNumber::convergent_l, "L"},
                   {FactoredNumber::convergent_m, "M"},
                   {FactoredNumber::simplest_l, "L_simplest"},
                   {FactoredNumber::simplest_m, "M_simplest"}};
    for (const auto& n : numbers) {
        error.factored = n.which;
        EXPECT_EQ(two_stage_error_text(error, two),
                  std::string("\nCritical error factoring ") + n.name +
                      "=123456789: Memory Allocation Error. Aborting.\n");
    }
    EXPECT_EQ(two_stage_error_text(
                  SolverError{SolverErrorKind::convergents_failed, Status::overflow_error}, two),
              "\nCritical Error during CFE: Arithmetic Overflow Error.\n");

    const quillmere::SingleStageRequest single{48000, 44100};
    EXPECT_EQ(
        single_stage_error_text(
            SolverError{SolverErrorKind::convergents_failed, Status::calculation_error}, single),
        "\nCritical error during CFE calculation: Calculation Error.\n");
    SolverError rate{SolverErrorKind::non_finite_rate, Status::calculation_error};
    rate.l = 26;
    rate.m = 25;
    EXPECT_EQ(single_stage_error_text(rate, single),
              "\nAchieved rate calculation resulted in non-finite value (L=26, M=25).\n");

    // The refused rates and ratios, the expansion's overflow and the 0/1 convergent.
    EXPECT_EQ(single_stage_error_text(
                  SolverError{SolverErrorKind::invalid_request, Status::invalid_request},
                  quillmere::SingleStageRequest{0, 44100}),
              "\nInvalid rates for single resampler (must be positive finite).\n");
    EXPECT_EQ(single_stage_error_text(
                  SolverError{SolverErrorKind::invalid_request, Status::calculation_error},
                  quillmere::SingleStageRequest{1e-300, 1e300}),
              "\nTarget ratio is invalid (non-positive or non-finite).\n");
    EXPECT_EQ(single_stage_error_text(
                  SolverError{SolverErrorKind::convergents_failed, Status::overflow_error}, single),
              "\nCritical error during CFE calculation: Arithmetic Overflow Error.\n");
    SolverError zero{SolverErrorKind::non_positive_factors, Status::calculation_error};
    zero.l = 0;
    zero.m = 1;
    EXPECT_EQ(single_stage_error_text(zero, single),
              "Internal Error: CFE resulted in non-positive L or M (0 / 1).\n");

    quillmere::TwoStageRequest zero_input = two;
    zero_input.input_rate_hz = 0.0;
    EXPECT_EQ(
        two_stage_error_text(SolverError{SolverErrorKind::invalid_request, Status::invalid_request},
                             zero_input),
        "\nInput rate must be positive.\n");
    EXPECT_EQ(two_stage_error_text(
                  SolverError{SolverErrorKind::invalid_request, Status::calculation_error}, two),
              "\nCannot calculate valid positive target ratio.\n");

    // A refusal the library gives for a field the dialog never lets through names it.
    quillmere::TwoStageRequest limit = two;
    limit.max_factor = 0;
    EXPECT_NE(two_stage_error_text(
                  SolverError{SolverErrorKind::invalid_request, Status::invalid_request}, limit)
                  .find("max_factor"),
              std::string::npos);
}

// ---------------------------------------------------------------------------
// The advice of the dialog's questions
// ---------------------------------------------------------------------------

TEST(ReportAdvice, ALargeLimitOnlyInCustomLimitModeAndAHighTargetOnlyAboveBothRates) {
    quillmere::TwoStageRequest request =
        two_stage(44100, 48000, SearchMode::custom_limit, 2000);
    request.intermediate_target = IntermediateTarget{96000, Priority::final};
    quillmere::TwoStageResult result = quillmere::solve_two_stage(request);
    ASSERT_EQ(result.status, Status::ok);
    quillmere::report::ReportAdvice advice = quillmere::report::report_advice(request, result);
    EXPECT_TRUE(advice.large_limit);
    EXPECT_TRUE(advice.high_intermediate_target);  // above both 44.1 kHz and 48 kHz
    EXPECT_EQ(advice.intermediate_miss, result.advice.intermediate_miss);

    // The limit the dialog accepts without asking is not large.
    request.max_factor = quillmere::report::unconfirmed_limit;
    EXPECT_FALSE(
        quillmere::report::report_advice(request, quillmere::solve_two_stage(request)).large_limit);
    // Only custom-limit mode warns of its limit.
    request.max_factor = quillmere::max_factor_limit;
    for (const SearchMode mode : {SearchMode::minimal_sum, SearchMode::min_cost}) {
        request.mode = mode;
        EXPECT_FALSE(quillmere::report::report_advice(request, quillmere::solve_two_stage(request))
                         .large_limit);
    }
    // A target between the rates, or without a result, is no warning.
    request.mode = SearchMode::custom_limit;
    request.intermediate_target = IntermediateTarget{46000, Priority::final};
    EXPECT_FALSE(quillmere::report::report_advice(request, quillmere::solve_two_stage(request))
                     .high_intermediate_target);
    request.intermediate_target = IntermediateTarget{96000, Priority::final};
    result.status = Status::not_found;
    advice = quillmere::report::report_advice(request, result);
    EXPECT_FALSE(advice.large_limit);
    EXPECT_FALSE(advice.high_intermediate_target);
}

// ---------------------------------------------------------------------------
// Observer events against the program's progress line
// ---------------------------------------------------------------------------

/// Records every event of a solve.
struct Recorder final : quillmere::SearchObserver {
    std::vector<int> convergents;
    std::vector<std::uint64_t> totals;
    std::vector<SearchPass> passes;

    void on_convergent(int index, int) override { convergents.push_back(index); }
    void on_common_factor_iterations(std::uint64_t total) override { totals.push_back(total); }
    void on_pass_done(SearchPass pass) override { passes.push_back(pass); }
};

/// The progress lines the program prints for the events of one search.
std::string progress_from_events(const Recorder& r, SearchMode mode) {
    std::string text;
    if (mode == SearchMode::minimal_sum) {
        int dots = 0;
        bool header = false;
        for (const int index : r.convergents) {
            if (index > 0 && !header) header = true;
            if (header && index > 0 && index % 10 == 0) ++dots;
        }
        if (header) {
            text +=
                "Progress (checking CFE convergents): " + std::string(dots == 0 ? 1 : dots, '.') +
                "\n";
        }
    }
    if (!r.totals.empty()) {
        const std::uint64_t dots = r.totals.back() / PROGRESS_DOT_ITERATIONS;
        text += "Progress (checking g/h factors): " +
                std::string(dots == 0 ? 1 : static_cast<std::size_t>(dots), '.') + "\n";
    }
    return text;
}

TEST(ObserverEvents, AddUpToTheDotsOfTheInteractiveRun) {
    const std::vector<TwoStageRequest> requests = {
        two_stage(44100, 48000, SearchMode::minimal_sum, 65535),
        two_stage(44100, 48000, SearchMode::custom_limit, 65535),
        two_stage(48000, 48000, SearchMode::custom_limit, 65535),
        two_stage(1, 3.141592653589793, SearchMode::minimal_sum, 65535),
        two_stage(44100, 48000, SearchMode::custom_limit, 65535, false, 96000, Priority::final),
        two_stage(44100, 48000, SearchMode::custom_limit, 100, true, 96000, Priority::strict),
    };
    for (const TwoStageRequest& request : requests) {
        SCOPED_TRACE(std::to_string(request.input_rate_hz) + " -> " +
                     std::to_string(request.output_rate_hz) + " mode " +
                     quillmere::search_mode_name(request.mode));
        Recorder recorder;
        quillmere::SolveOptions options;
        options.observer = &recorder;
        const quillmere::TwoStageResult result = quillmere::solve_two_stage(request, options);
        ASSERT_TRUE(result.status == Status::ok || result.status == Status::not_found);

        Status status = Status::calculation_error;
        const CapturedStreams run =
            capture_streams([&] { status = quillmere::interactive::run_two_stage(request); });
        EXPECT_EQ(status, result.status);
        const std::string start = "Starting search calculation. Please wait...\n\n";
        const std::size_t from = run.out.find(start);
        const std::size_t to =
            run.out.find(std::to_string(result.convergent_count) + " CFE convergents processed...");
        ASSERT_NE(from, std::string::npos);
        ASSERT_NE(to, std::string::npos);
        EXPECT_EQ(run.out.substr(from + start.size(), to - from - start.size()),
                  progress_from_events(recorder, request.mode));
    }
}

TEST(DialogStatus, EveryStatusHasTheDialogsNameItsWeightAndExitCode) {
    const struct {
        Status status;
        const char* name;
        bool critical;
        int exit_code;
    } cases[] = {
        {Status::ok, "SUCCESS", false, 0},
        {Status::not_found, "FAILURE", false, 1},
        {Status::stopped, "FAILURE", false, 1},
        {Status::memory_error, "Memory Allocation Error", true, 1},
        {Status::invalid_request, "Invalid Input Error", true, 1},
        {Status::calculation_error, "Calculation Error", true, 1},
        {Status::overflow_error, "Arithmetic Overflow Error", true, 1},
        {static_cast<Status>(99), "Unknown Error Code", true, 1},
    };
    for (const auto& c : cases) {
        const DialogStatus meaning = dialog_status(c.status);
        EXPECT_STREQ(meaning.name, c.name) << c.name;
        EXPECT_EQ(meaning.critical, c.critical) << c.name;
        EXPECT_EQ(meaning.exit_code, c.exit_code) << c.name;
    }
}

TEST(TextSinks, LongFormattedTextIsWrittenWhole) {
    StringSink sink;
    const std::string long_text(1000, 'x');
    sink.print("%s|%d", long_text.c_str(), 42);
    EXPECT_EQ(sink.text(), long_text + "|42");
}

}  // namespace
