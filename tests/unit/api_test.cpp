// The library's public API: request checks, results, names, observer events, stop
// requests and searches on several threads at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <limits>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "capture.h"
#include "interactive/conversion_runs.h"
#include "records.h"
#include "requests.h"
#include "solver_calls.h"

namespace {

using quillmere::IntermediateTarget;
using quillmere::Outcome;
using quillmere::Priority;
using quillmere::SearchMode;
using quillmere::SearchPass;
using quillmere::SingleStageRequest;
using quillmere::SolverError;
using quillmere::SolverErrorKind;
using quillmere::TwoStageRequest;

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double INF = std::numeric_limits<double>::infinity();

TwoStageRequest two_stage(double input, double output, SearchMode mode = SearchMode::minimal_sum,
                          std::int64_t limit = quillmere::max_factor_limit) {
    TwoStageRequest request;
    request.input_rate_hz = input;
    request.output_rate_hz = output;
    request.mode = mode;
    request.max_factor = limit;
    return request;
}

/// Records every event of a solve.
struct Recorder final : quillmere::SearchObserver {
    std::vector<int> convergents;
    int convergent_count = -1;
    std::vector<std::uint64_t> totals;
    std::vector<SearchPass> passes;
    std::vector<SolverError> errors;

    void on_convergent(int index, int count) override {
        convergents.push_back(index);
        convergent_count = count;
    }
    void on_common_factor_iterations(std::uint64_t total) override { totals.push_back(total); }
    void on_pass_done(SearchPass pass) override { passes.push_back(pass); }
    void on_error(const SolverError& error) override { errors.push_back(error); }
};

// ---------------------------------------------------------------------------
// Refused requests
// ---------------------------------------------------------------------------

struct Refusal {
    const char* what;
    TwoStageRequest request;
    const char* field;
};

std::vector<Refusal> refused_two_stage_requests() {
    std::vector<Refusal> cases;
    for (const double rate : {0.0, -48000.0, NaN, INF, -INF, 0.999, 1.0000001e13}) {
        cases.push_back({"input rate", two_stage(rate, 48000), "input_rate_hz"});
        cases.push_back({"output rate", two_stage(44100, rate), "output_rate_hz"});
    }
    for (const std::int64_t limit : {std::int64_t{0}, std::int64_t{-1}, std::int64_t{65536},
                                     std::numeric_limits<std::int64_t>::max()}) {
        cases.push_back(
            {"limit", two_stage(44100, 48000, SearchMode::custom_limit, limit), "max_factor"});
    }
    for (const double target : {-96000.0, 0.0, NaN, INF, 2e13}) {
        TwoStageRequest request = two_stage(44100, 48000);
        request.intermediate_target = IntermediateTarget{target, Priority::balanced};
        cases.push_back({"target", request, "intermediate_target.rate_hz"});
    }
    for (const int priority : {0, 5, -1, 99}) {
        TwoStageRequest request = two_stage(44100, 48000);
        request.intermediate_target = IntermediateTarget{96000, static_cast<Priority>(priority)};
        cases.push_back({"priority", request, "intermediate_target.priority"});
    }
    for (const int mode : {3, -1, 42}) {
        cases.push_back({"mode", two_stage(44100, 48000, static_cast<SearchMode>(mode)), "mode"});
    }
    return cases;
}

TEST(RequestCheck, EveryRefusedFieldIsNamedAndTheSolverRefusesIt) {
    for (const Refusal& c : refused_two_stage_requests()) {
        SCOPED_TRACE(c.what);
        const quillmere::RequestCheck check = quillmere::check_request(c.request);
        EXPECT_EQ(check.status, Status::invalid_request);
        EXPECT_EQ(check.field, c.field);
        EXPECT_NE(check.message.find(c.field), std::string::npos) << check.message;

        Recorder recorder;
        quillmere::SolveOptions options;
        options.observer = &recorder;
        const quillmere::TwoStageResult result = quillmere::solve_two_stage(c.request, options);
        EXPECT_EQ(result.status, Status::invalid_request);
        EXPECT_EQ(result.message, check.message);
        EXPECT_EQ(result.outcome, Outcome::not_found);
        EXPECT_EQ(result.convergent_count, -1);
        ASSERT_EQ(recorder.errors.size(), 1u);
        EXPECT_EQ(recorder.errors[0].kind, SolverErrorKind::invalid_request);
        EXPECT_TRUE(recorder.convergents.empty());
        EXPECT_TRUE(recorder.totals.empty());
    }
}

TEST(RequestCheck, MinCostModeChecksItsFilterRequirements) {
    const quillmere::TwoStageResult result =
        quillmere::solve_two_stage(two_stage(44100, 48000, SearchMode::min_cost));
    EXPECT_EQ(result.status, Status::ok) << result.message;
    EXPECT_EQ(result.first.l, 1);
    EXPECT_EQ(result.second.l, 160);
    quillmere::TwoStageRequest refused = two_stage(44100, 48000, SearchMode::min_cost);
    refused.filter.passband_hz = 30000.0;
    EXPECT_EQ(quillmere::check_request(refused).field, "filter.passband_hz");
    EXPECT_EQ(quillmere::solve_two_stage(refused).status, Status::invalid_request);
}

TEST(RequestCheck, SingleStageRatesAreCheckedLikeTheDialogDoes) {
    for (const double rate : {0.0, -1.0, NaN, INF, 0.5, 1.5e13}) {
        const SingleStageRequest bad_input{rate, 48000};
        const SingleStageRequest bad_output{48000, rate};
        EXPECT_EQ(quillmere::check_request(bad_input).field, "input_rate_hz") << rate;
        EXPECT_EQ(quillmere::check_request(bad_output).field, "output_rate_hz") << rate;
        const quillmere::SingleStageResult result = quillmere::solve_single_stage(bad_output);
        EXPECT_EQ(result.status, Status::invalid_request) << rate;
        EXPECT_FALSE(result.message.empty());
    }
}

TEST(RequestCheck, TheDialogsBoundsAreAccepted) {
    for (const double rate : {1.0, 1e13}) {
        EXPECT_EQ(quillmere::check_request(SingleStageRequest{rate, rate}).status, Status::ok);
    }
    for (const std::int64_t limit : {std::int64_t{1}, std::int64_t{65535}}) {
        TwoStageRequest request = two_stage(1.0, 1e13, SearchMode::custom_limit, limit);
        request.intermediate_target = IntermediateTarget{1e13, Priority::strict};
        const quillmere::RequestCheck check = quillmere::check_request(request);
        EXPECT_EQ(check.status, Status::ok) << check.message;
        EXPECT_TRUE(check.field.empty());
    }
}

// ---------------------------------------------------------------------------
// Results and names
// ---------------------------------------------------------------------------

TEST(SolveTwoStage, FillsTheResultAsTheReportNeedsIt) {
    TwoStageRequest request = two_stage(44100, 48000, SearchMode::custom_limit, 2000);
    request.intermediate_target = IntermediateTarget{96000, Priority::final};
    const quillmere::TwoStageResult r = quillmere::solve_two_stage(request);
    ASSERT_EQ(r.status, Status::ok);
    EXPECT_EQ(r.outcome, Outcome::match);
    EXPECT_TRUE(r.output_match);
    EXPECT_EQ(r.first.complexity, std::max(r.first.l, r.first.m));
    EXPECT_EQ(r.second.complexity, std::max(r.second.l, r.second.m));
    EXPECT_EQ(r.overall_sum, r.first.l + r.first.m + r.second.l + r.second.m);
    EXPECT_EQ(r.overall_complexity, r.first.complexity + r.second.complexity);
    EXPECT_DOUBLE_EQ(r.intermediate_rate_hz, 44100.0 * r.first.l / r.first.m);
    ASSERT_TRUE(r.intermediate_error.has_value());
    EXPECT_DOUBLE_EQ(r.intermediate_error->difference_hz, r.intermediate_rate_hz - 96000.0);
    EXPECT_EQ(r.advice.intermediate_miss, !r.intermediate_match);
    EXPECT_TRUE(r.advice.large_limit);
    EXPECT_TRUE(r.advice.high_intermediate_target);  // above both 44.1 kHz and 48 kHz

    // Only custom-limit mode warns of its limit.
    request.max_factor = quillmere::max_factor_limit;
    for (const SearchMode mode : {SearchMode::minimal_sum, SearchMode::min_cost}) {
        request.mode = mode;
        EXPECT_FALSE(quillmere::solve_two_stage(request).advice.large_limit);
    }
}

TEST(SolveTwoStage, NothingFoundIsNotFoundWithoutAMessage) {
    // 1 Hz -> 10 THz cannot be split under a limit of 2.
    const quillmere::TwoStageResult r =
        quillmere::solve_two_stage(two_stage(1.0, 1e13, SearchMode::custom_limit, 2));
    EXPECT_EQ(r.status, Status::not_found);
    EXPECT_EQ(r.outcome, Outcome::not_found);
    EXPECT_TRUE(r.message.empty());
    EXPECT_GE(r.convergent_count, 1);
}

TEST(SolveSingleStage, ResultAndTheZeroConvergentError) {
    const quillmere::SingleStageResult r =
        quillmere::solve_single_stage(SingleStageRequest{48000, 44100});
    ASSERT_EQ(r.status, Status::ok);
    EXPECT_EQ(r.stage.l, 147);
    EXPECT_EQ(r.stage.m, 160);
    EXPECT_EQ(r.stage.complexity, 160);
    EXPECT_EQ(r.outcome, Outcome::match);
    EXPECT_EQ(r.output_rate_hz, 44100.0);
    EXPECT_GE(r.convergent_count, 1);

    // Below 1/65535 only 0/1 is left: an error event with the convergent.
    Recorder recorder;
    quillmere::SolveOptions options;
    options.observer = &recorder;
    const quillmere::SingleStageResult none =
        quillmere::solve_single_stage(SingleStageRequest{1e13, 1.0}, options);
    EXPECT_EQ(none.status, Status::calculation_error);
    EXPECT_EQ(none.outcome, Outcome::not_found);
    // The message says why, also when nobody watches the events.
    EXPECT_NE(none.message.find("below 1/65535"), std::string::npos) << none.message;
    EXPECT_EQ(quillmere::solve_single_stage(SingleStageRequest{1e13, 1.0}).message, none.message);
    ASSERT_EQ(recorder.errors.size(), 1u);
    EXPECT_EQ(recorder.errors[0].kind, SolverErrorKind::non_positive_factors);
    EXPECT_EQ(recorder.errors[0].status, Status::calculation_error);
    EXPECT_EQ(recorder.errors[0].l, 0);
    EXPECT_EQ(recorder.errors[0].m, 1);
}

TEST(Names, EveryValueHasItsNameAndOthersAreUnknown) {
    EXPECT_STREQ(quillmere::status_name(Status::ok), "ok");
    EXPECT_STREQ(quillmere::status_name(Status::not_found), "not_found");
    EXPECT_STREQ(quillmere::status_name(Status::stopped), "stopped");
    EXPECT_STREQ(quillmere::status_name(Status::invalid_request), "invalid_request");
    EXPECT_STREQ(quillmere::status_name(Status::memory_error), "memory_error");
    EXPECT_STREQ(quillmere::status_name(Status::calculation_error), "calculation_error");
    EXPECT_STREQ(quillmere::status_name(Status::overflow_error), "overflow_error");
    EXPECT_STREQ(quillmere::status_name(static_cast<Status>(77)), "unknown");
    EXPECT_STREQ(quillmere::search_mode_name(SearchMode::minimal_sum), "minimal-sum");
    EXPECT_STREQ(quillmere::search_mode_name(SearchMode::custom_limit), "custom-limit");
    EXPECT_STREQ(quillmere::search_mode_name(SearchMode::min_cost), "min-cost");
    EXPECT_STREQ(quillmere::priority_name(Priority::strict), "strict");
    EXPECT_STREQ(quillmere::priority_name(Priority::final), "final");
    EXPECT_STREQ(quillmere::priority_name(Priority::balanced), "balanced");
    EXPECT_STREQ(quillmere::priority_name(Priority::ignore), "ignore");
    EXPECT_STREQ(quillmere::priority_name(static_cast<Priority>(0)), "unknown");
    EXPECT_STREQ(quillmere::outcome_name(Outcome::match), "match");
    EXPECT_STREQ(quillmere::outcome_name(Outcome::approximation), "approximation");
    EXPECT_STREQ(quillmere::outcome_name(Outcome::not_found), "not_found");
    EXPECT_STREQ(quillmere::version(), QUILLMERE_EXPECTED_VERSION);
}

// ---------------------------------------------------------------------------
// Observer events against the program's progress line
// ---------------------------------------------------------------------------

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
        const std::uint64_t dots = r.totals.back() / 1000;
        text += "Progress (checking g/h factors): " +
                std::string(dots == 0 ? 1 : static_cast<std::size_t>(dots), '.') + "\n";
    }
    return text;
}

TEST(ObserverEvents, AddUpToTheDotsOfTheInteractiveRun) {
    const std::vector<UserInputs> requests = {
        two_stage_request(44100, 48000, SEARCH_MODE_MINIMAL_SUM, 65535),
        two_stage_request(44100, 48000, SEARCH_MODE_CUSTOM_LIMIT, 65535),
        two_stage_request(48000, 48000, SEARCH_MODE_CUSTOM_LIMIT, 65535),
        two_stage_request(1, 3.141592653589793, SEARCH_MODE_MINIMAL_SUM, 65535),
        two_stage_request(44100, 48000, SEARCH_MODE_CUSTOM_LIMIT, 65535, false, 96000,
                          PRIORITIZE_FINAL_RATE),
        two_stage_request(44100, 48000, SEARCH_MODE_CUSTOM_LIMIT, 100, true, 96000,
                          PRIORITIZE_STRICT_INTERMEDIATE),
    };
    for (const UserInputs& in : requests) {
        const TwoStageRequest request = to_two_stage_request(in);
        SCOPED_TRACE(std::to_string(in.input_rate) + " -> " + std::to_string(in.output_rate) +
                     " mode " + std::to_string(in.search_mode));
        Recorder recorder;
        quillmere::SolveOptions options;
        options.observer = &recorder;
        const quillmere::TwoStageResult result = quillmere::solve_two_stage(request, options);
        ASSERT_TRUE(result.status == Status::ok || result.status == Status::not_found);

        // Every convergent once, in order; totals never fall and end at the count.
        ASSERT_EQ(static_cast<int>(recorder.convergents.size()), result.convergent_count);
        for (int i = 0; i < result.convergent_count; ++i) EXPECT_EQ(recorder.convergents[i], i);
        EXPECT_EQ(recorder.convergent_count, result.convergent_count);
        for (std::size_t i = 1; i < recorder.totals.size(); ++i) {
            EXPECT_LT(recorder.totals[i - 1], recorder.totals[i]);
        }
        if (!recorder.totals.empty()) {
            EXPECT_GE(recorder.totals.front(), 1u);
            EXPECT_EQ(recorder.totals.back(), result.common_factor_iterations);
        }
        ASSERT_FALSE(recorder.passes.empty());
        EXPECT_EQ(recorder.passes.front(), SearchPass::convergents);

        StatusCode status = STATUS_FAILURE;
        const CapturedStreams run = capture_streams(
            [&] { status = to_status_code(quillmere::interactive::run_two_stage(request)); });
        EXPECT_EQ(status, result.status == Status::ok ? STATUS_SUCCESS : STATUS_FAILURE);
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

// ---------------------------------------------------------------------------
// Stop requests
// ---------------------------------------------------------------------------

/// The plain search of 48000 Hz -> 48000 Hz at the full limit takes minutes.
const SearchRequest LONG_PLAIN_SEARCH =
    to_search_request(two_stage(48000, 48000, SearchMode::custom_limit));

Status run_plain(const quillmere::SolveOptions& options, std::uint64_t* iterations) {
    const SearchContext context(options);
    CascadeRecord best = make_empty_record();
    int count = 0;
    return perform_two_stage_search_reference(context, &LONG_PLAIN_SEARCH, &best, &count,
                                              iterations);
}

TEST(StopRequest, AStopTokenEndsThePlainSearch) {
    std::stop_source source;
    quillmere::SolveOptions options;
    options.stop_token = source.get_token();
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        source.request_stop();
    });
    std::uint64_t iterations = 0;
    const Status status = run_plain(options, &iterations);
    stopper.join();
    EXPECT_EQ(status, Status::stopped);
    EXPECT_GT(iterations, 0u);
    EXPECT_LT(iterations, 4294836225u);
}

TEST(StopRequest, AStopFlagEndsThePlainSearch) {
    std::atomic<bool> flag{false};
    quillmere::SolveOptions options;
    options.stop_flag = &flag;
    Recorder recorder;
    options.observer = &recorder;
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        flag.store(true);
    });
    std::uint64_t iterations = 0;
    const Status status = run_plain(options, &iterations);
    stopper.join();
    EXPECT_EQ(status, Status::stopped);
    EXPECT_LT(iterations, 4294836225u);
    // A stopped pass is not done.
    for (const SearchPass pass : recorder.passes) EXPECT_NE(pass, SearchPass::common_factors);
}

TEST(StopRequest, AStopBeforeTheCallEndsEverySolverAtOnce) {
    std::stop_source source;
    source.request_stop();
    quillmere::SolveOptions options;
    options.stop_token = source.get_token();
    const quillmere::TwoStageResult two =
        quillmere::solve_two_stage(two_stage(44100, 48000), options);
    EXPECT_EQ(two.status, Status::stopped);
    EXPECT_FALSE(two.message.empty());
    const quillmere::SingleStageResult one =
        quillmere::solve_single_stage(SingleStageRequest{44100, 48000}, options);
    EXPECT_EQ(one.status, Status::stopped);
}

// ---------------------------------------------------------------------------
// Threads
// ---------------------------------------------------------------------------

bool same_two_stage(const quillmere::TwoStageResult& a, const quillmere::TwoStageResult& b) {
    return a.status == b.status && a.first.l == b.first.l && a.first.m == b.first.m &&
           a.second.l == b.second.l && a.second.m == b.second.m && a.overall_sum == b.overall_sum &&
           same_double(a.output_rate_hz, b.output_rate_hz) &&
           same_double(a.intermediate_rate_hz, b.intermediate_rate_hz) &&
           same_double(a.output_error.relative, b.output_error.relative) &&
           a.convergent_count == b.convergent_count &&
           a.common_factor_iterations == b.common_factor_iterations;
}

TEST(Threads, TwoSearchesAtOnceGiveTheResultsOfOneAfterTheOther) {
    TwoStageRequest first = two_stage(44100, 48000, SearchMode::custom_limit);
    first.intermediate_target = IntermediateTarget{96000, Priority::final};
    const TwoStageRequest second = two_stage(48000, 48000, SearchMode::custom_limit);
    const quillmere::TwoStageResult first_alone = quillmere::solve_two_stage(first);
    const quillmere::TwoStageResult second_alone = quillmere::solve_two_stage(second);
    ASSERT_EQ(first_alone.status, Status::ok);
    ASSERT_EQ(second_alone.status, Status::ok);

    for (int round = 0; round < 20; ++round) {
        std::vector<quillmere::TwoStageResult> a(10);
        std::vector<quillmere::TwoStageResult> b(10);
        Recorder recorder_a;
        Recorder recorder_b;
        std::thread ta([&] {
            quillmere::SolveOptions options;
            options.observer = &recorder_a;
            for (auto& r : a) r = quillmere::solve_two_stage(first, options);
        });
        std::thread tb([&] {
            quillmere::SolveOptions options;
            options.observer = &recorder_b;
            for (auto& r : b) r = quillmere::solve_two_stage(second, options);
        });
        ta.join();
        tb.join();
        for (const auto& r : a) EXPECT_TRUE(same_two_stage(r, first_alone));
        for (const auto& r : b) EXPECT_TRUE(same_two_stage(r, second_alone));
        if (HasFailure()) break;
    }
}

}  // namespace
