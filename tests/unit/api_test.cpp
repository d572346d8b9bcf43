// The library's public API, and nothing but it: request checks, results, cost estimates of
// results, names and version, stop requests and searches on several threads at once.
#include <gtest/gtest.h>
#include <quillmere/quillmere.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

namespace {

using quillmere::IntermediateTarget;
using quillmere::Outcome;
using quillmere::Priority;
using quillmere::SearchMode;
using quillmere::SearchPass;
using quillmere::SingleStageRequest;
using quillmere::SolverError;
using quillmere::SolverErrorKind;
using quillmere::Status;
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
    for (const int priority : {4, 5, -1, 99}) {
        TwoStageRequest request = two_stage(44100, 48000);
        request.intermediate_target = IntermediateTarget{96000, static_cast<Priority>(priority)};
        cases.push_back({"priority", request, "intermediate_target.priority"});
    }
    for (const int mode : {4, -1, 42}) {
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
    EXPECT_EQ(r.first.complexity(), std::max(r.first.l, r.first.m));
    EXPECT_EQ(r.second.complexity(), std::max(r.second.l, r.second.m));
    EXPECT_EQ(r.overall_sum, r.first.l + r.first.m + r.second.l + r.second.m);
    EXPECT_EQ(r.overall_complexity, r.first.complexity() + r.second.complexity());
    EXPECT_DOUBLE_EQ(r.intermediate_rate_hz,
                     44100.0 * static_cast<double>(r.first.l) / static_cast<double>(r.first.m));
    ASSERT_TRUE(r.intermediate_error.has_value());
    EXPECT_DOUBLE_EQ(r.intermediate_error->difference_hz, r.intermediate_rate_hz - 96000.0);
    EXPECT_EQ(r.advice.intermediate_miss, !r.intermediate_match);
}

TEST(SolveTwoStage, NothingFoundIsNotFoundWithTheReason) {
    // 1 Hz -> 10 THz cannot be split under a limit of 2.
    const quillmere::TwoStageResult r =
        quillmere::solve_two_stage(two_stage(1.0, 1e13, SearchMode::custom_limit, 2));
    EXPECT_EQ(r.status, Status::not_found);
    EXPECT_EQ(r.outcome, Outcome::not_found);
    EXPECT_EQ(r.message,
              "No two stages with L and M up to 2 and L1 >= M1 reach the ratio 1e+13: it is "
              "above 4, the largest ratio such stages make.");
    EXPECT_GE(r.convergent_count, 1);
}

TEST(SolveSingleStage, ResultAndTheZeroConvergentError) {
    const quillmere::SingleStageResult r =
        quillmere::solve_single_stage(SingleStageRequest{48000, 44100});
    ASSERT_EQ(r.status, Status::ok);
    EXPECT_EQ(r.stage.l, 147);
    EXPECT_EQ(r.stage.m, 160);
    EXPECT_EQ(r.stage.complexity(), 160);
    EXPECT_EQ(r.outcome, Outcome::match);
    EXPECT_EQ(r.output_rate_hz, 44100.0);
    EXPECT_GE(r.convergent_count, 1);

    // Below 1/65535 only 0/1 is left: an error event with the convergent.
    Recorder recorder;
    quillmere::SolveOptions options;
    options.observer = &recorder;
    const quillmere::SingleStageResult none =
        quillmere::solve_single_stage(SingleStageRequest{1e13, 1.0}, options);
    EXPECT_EQ(none.status, Status::not_found);
    EXPECT_EQ(none.outcome, Outcome::not_found);
    // The message says why, also when nobody watches the events.
    EXPECT_NE(none.message.find("below 1/65535"), std::string::npos) << none.message;
    EXPECT_EQ(quillmere::solve_single_stage(SingleStageRequest{1e13, 1.0}).message, none.message);
    ASSERT_EQ(recorder.errors.size(), 1u);
    EXPECT_EQ(recorder.errors[0].kind, SolverErrorKind::non_positive_factors);
    EXPECT_EQ(recorder.errors[0].status, Status::not_found);
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
    EXPECT_STREQ(quillmere::priority_name(static_cast<Priority>(4)), "unknown");
    EXPECT_STREQ(quillmere::outcome_name(Outcome::match), "match");
    EXPECT_STREQ(quillmere::outcome_name(Outcome::approximation), "approximation");
    EXPECT_STREQ(quillmere::outcome_name(Outcome::not_found), "not_found");
    EXPECT_STREQ(quillmere::version(), QUILLMERE_EXPECTED_VERSION);
    EXPECT_STREQ(quillmere::version(), QUILLMERE_VERSION_STRING);
    EXPECT_EQ(std::to_string(QUILLMERE_VERSION_MAJOR) + "." +
                  std::to_string(QUILLMERE_VERSION_MINOR) + "." +
                  std::to_string(QUILLMERE_VERSION_PATCH),
              QUILLMERE_EXPECTED_VERSION);
    EXPECT_EQ(QUILLMERE_VERSION, QUILLMERE_VERSION_MAJOR * 10000 + QUILLMERE_VERSION_MINOR * 100 +
                                     QUILLMERE_VERSION_PATCH);
}

// ---------------------------------------------------------------------------
// What a C++ user of the header may count on
// ---------------------------------------------------------------------------

// Every public function says it does not throw.
static_assert(noexcept(quillmere::solve_two_stage(std::declval<const TwoStageRequest&>())));
static_assert(noexcept(quillmere::solve_single_stage(std::declval<const SingleStageRequest&>())));
static_assert(noexcept(quillmere::check_request(std::declval<const TwoStageRequest&>())));
static_assert(noexcept(quillmere::check_request(std::declval<const SingleStageRequest&>())));
static_assert(noexcept(quillmere::estimate_cost(0.0, std::span<const quillmere::Stage>{})));
static_assert(noexcept(quillmere::estimate_cost(std::declval<const TwoStageRequest&>(),
                                                std::declval<const quillmere::TwoStageResult&>())));
// The names are the ABI's own namespace, and reachable without it.
static_assert(std::is_same_v<quillmere::TwoStageRequest, quillmere::v2::TwoStageRequest>);
// A stage's complexity is computed, also at compile time.
static_assert(quillmere::Stage{10, 7}.complexity() == 10);
static_assert(quillmere::Stage{16, 21}.complexity() == 21);

TEST(ValueInitialised, APriorityIsBalancedAndEveryRequestIsUsable) {
    EXPECT_EQ(Priority{}, Priority::balanced);
    EXPECT_EQ(IntermediateTarget{}.priority, Priority::balanced);
    EXPECT_STREQ(quillmere::priority_name(Priority{}), "balanced");
    // Designated initialisers may leave out every field they do not need.
    const TwoStageRequest request{.input_rate_hz = 44100.0,
                                  .output_rate_hz = 48000.0,
                                  .intermediate_target = IntermediateTarget{.rate_hz = 96000.0}};
    EXPECT_EQ(quillmere::check_request(request).status, Status::ok);
    const quillmere::TwoStageResult result = quillmere::solve_two_stage(request);
    ASSERT_EQ(result.status, Status::ok);
    EXPECT_EQ(result.first.l, 16);
    EXPECT_EQ(result.first.m, 7);
}

// ---------------------------------------------------------------------------
// Cost estimates of results
// ---------------------------------------------------------------------------

bool same_estimate(const quillmere::CostEstimate& a, const quillmere::CostEstimate& b) {
    if (a.status != b.status || a.field != b.field || a.message != b.message ||
        a.stages.size() != b.stages.size() || a.total_macs_per_second != b.total_macs_per_second ||
        a.total_coefficients != b.total_coefficients) {
        return false;
    }
    for (std::size_t i = 0; i < a.stages.size(); ++i) {
        if (a.stages[i].taps != b.stages[i].taps ||
            a.stages[i].macs_per_second != b.stages[i].macs_per_second) {
            return false;
        }
    }
    return true;
}

TEST(EstimateOfAResult, IsTheEstimateOfItsStagesUnderTheRequestsFilter) {
    TwoStageRequest request = two_stage(44100, 48000, SearchMode::min_cost, 1000);
    request.filter.attenuation_db = 90.0;
    request.filter.passband_hz = 20000.0;
    const quillmere::TwoStageResult two = quillmere::solve_two_stage(request);
    ASSERT_EQ(two.status, Status::ok);
    const quillmere::Stage stages[] = {two.first, two.second};
    const quillmere::CostEstimate expected =
        quillmere::estimate_cost(request.input_rate_hz, stages, request.filter);
    ASSERT_EQ(expected.status, Status::ok);
    EXPECT_TRUE(same_estimate(quillmere::estimate_cost(request, two), expected));

    const SingleStageRequest single{44100, 48000};
    const quillmere::SingleStageResult one = quillmere::solve_single_stage(single);
    ASSERT_EQ(one.status, Status::ok);
    const quillmere::Stage stage[] = {one.stage};
    EXPECT_TRUE(same_estimate(quillmere::estimate_cost(single, one, request.filter),
                              quillmere::estimate_cost(44100, stage, request.filter)));
}

TEST(EstimateOfAResult, WithoutFactorsItGivesTheResultsStatus) {
    const TwoStageRequest request = two_stage(1.0, 1e13, SearchMode::custom_limit, 2);
    const quillmere::TwoStageResult none = quillmere::solve_two_stage(request);
    ASSERT_EQ(none.status, Status::not_found);
    const quillmere::CostEstimate estimate = quillmere::estimate_cost(request, none);
    EXPECT_EQ(estimate.status, Status::not_found);
    EXPECT_EQ(estimate.field, "result");
    EXPECT_NE(estimate.message.find("not_found"), std::string::npos) << estimate.message;
    EXPECT_TRUE(estimate.stages.empty());

    const SingleStageRequest single{1e13, 1.0};
    const quillmere::CostEstimate refused =
        quillmere::estimate_cost(single, quillmere::solve_single_stage(single));
    EXPECT_EQ(refused.status, Status::not_found);
    EXPECT_EQ(refused.field, "result");
}

// ---------------------------------------------------------------------------
// Observer events and stop requests
// ---------------------------------------------------------------------------

TEST(ObserverEvents, EveryConvergentOnceAndTotalsThatEndAtTheCount) {
    for (const TwoStageRequest& request :
         {two_stage(44100, 48000), two_stage(44100, 48000, SearchMode::custom_limit),
          two_stage(48000, 48000, SearchMode::custom_limit), two_stage(1, 3.141592653589793)}) {
        SCOPED_TRACE(std::to_string(request.input_rate_hz) + " -> " +
                     std::to_string(request.output_rate_hz));
        Recorder recorder;
        quillmere::SolveOptions options;
        options.observer = &recorder;
        const quillmere::TwoStageResult result = quillmere::solve_two_stage(request, options);
        ASSERT_EQ(result.status, Status::ok);
        ASSERT_EQ(static_cast<int>(recorder.convergents.size()), result.convergent_count);
        for (int i = 0; i < result.convergent_count; ++i) {
            EXPECT_EQ(recorder.convergents[static_cast<std::size_t>(i)], i);
        }
        EXPECT_EQ(recorder.convergent_count, result.convergent_count);
        for (std::size_t i = 1; i < recorder.totals.size(); ++i) {
            EXPECT_LT(recorder.totals[i - 1], recorder.totals[i]);
        }
        ASSERT_FALSE(recorder.totals.empty());
        EXPECT_GE(recorder.totals.front(), 1u);
        EXPECT_EQ(recorder.totals.back(), result.common_factor_iterations);
        EXPECT_EQ(recorder.passes,
                  (std::vector<SearchPass>{SearchPass::convergents, SearchPass::common_factors}));
        EXPECT_TRUE(recorder.errors.empty());
    }
}

TEST(StopRequest, AStopBeforeTheCallEndsEverySolverAtOnce) {
    const std::atomic<bool> stop{true};
    quillmere::SolveOptions options;
    options.stop_flag = &stop;
    const quillmere::TwoStageResult two =
        quillmere::solve_two_stage(two_stage(44100, 48000), options);
    EXPECT_EQ(two.status, Status::stopped);
    EXPECT_FALSE(two.message.empty());
    const quillmere::SingleStageResult one =
        quillmere::solve_single_stage(SingleStageRequest{44100, 48000}, options);
    EXPECT_EQ(one.status, Status::stopped);
}

#if QUILLMERE_HAS_STOP_TOKEN
TEST(StopRequest, AStopTokenBeforeTheCallEndsTheSearchAtOnce) {
    std::stop_source source;
    source.request_stop();
    quillmere::SolveOptions options;
    options.stop_token = source.get_token();
    EXPECT_EQ(quillmere::solve_two_stage(two_stage(44100, 48000), options).status, Status::stopped);
}
#endif

// ---------------------------------------------------------------------------
// Threads
// ---------------------------------------------------------------------------

/// True when two doubles have the same bits: NaNs compare equal, 0.0 and -0.0 do not.
bool same_double(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

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
