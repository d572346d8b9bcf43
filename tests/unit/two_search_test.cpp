// The two-stage search on its worked examples and edge cases, for both searches of the
// core (the program's and the plain reference), and how a stop request ends them.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "records.h"
#include "search_runs.h"

namespace {

using quillmere::IntermediateTarget;
using quillmere::Priority;
using quillmere::SearchMode;
using quillmere::SearchPass;
using quillmere::SolverErrorKind;
using quillmere::Status;
using quillmere::core::CascadeRecord;

struct NamedSearch {
    const char* name;
    SearchFunction search;
};

class TwoStageSearch : public testing::TestWithParam<NamedSearch> {
protected:
    SearchRun run(const quillmere::TwoStageRequest& request) {
        return run_search(GetParam().search, request);
    }
};

void expect_cascade(const CascadeRecord& r, long long l1, long long m1, long long l2,
                    long long m2) {
    EXPECT_TRUE(r.found);
    EXPECT_EQ(r.l1, l1);
    EXPECT_EQ(r.m1, m1);
    EXPECT_EQ(r.l2, l2);
    EXPECT_EQ(r.m2, m2);
    EXPECT_EQ(r.overall_sum, l1 + m1 + l2 + m2);
}

/// Both passes ran to their end, every convergent was announced in order, and the
/// common-factor count was heard up to its final value.
void expect_whole_search(const SearchRun& r) {
    const int count = r.outcome.convergent_count;
    ASSERT_EQ(static_cast<int>(r.events.convergents.size()), count);
    for (int i = 0; i < count; ++i) EXPECT_EQ(r.events.convergents[static_cast<std::size_t>(i)], i);
    EXPECT_TRUE(r.events.done(SearchPass::convergents));
    EXPECT_TRUE(r.events.done(SearchPass::common_factors));
    ASSERT_FALSE(r.events.totals.empty());
    EXPECT_GE(r.events.totals.front(), 1u);
    EXPECT_EQ(r.events.totals.back(), r.outcome.common_factor_iterations);
    EXPECT_TRUE(r.events.errors.empty());
}

// 44100 Hz -> 48000 Hz: convergents 1/1, 12/11, 37/34, 123/113, 160/147.

TEST_P(TwoStageSearch, MinimalSumStopsAfterOneCommonFactorCandidate) {
    const SearchRun r = run(search_request(44100, 48000, SearchMode::minimal_sum, 65535));
    EXPECT_EQ(r.outcome.status, Status::ok);
    expect_cascade(r.outcome.best, 10, 7, 16, 21);
    EXPECT_TRUE(r.outcome.best.final_match);
    EXPECT_EQ(r.outcome.best.achieved_intermediate_rate, 63000.0);
    EXPECT_EQ(r.outcome.convergent_count, 5);
    EXPECT_EQ(r.outcome.common_factor_iterations, 1u);
    expect_whole_search(r);
    EXPECT_EQ(r.events.totals, (std::vector<std::uint64_t>{1}));
}

TEST_P(TwoStageSearch, CustomLimitScansEveryCommonFactor) {
    const SearchRun r = run(search_request(44100, 48000, SearchMode::custom_limit, 100));
    EXPECT_EQ(r.outcome.status, Status::ok);
    expect_cascade(r.outcome.best, 10, 7, 16, 21);
    EXPECT_EQ(r.outcome.convergent_count, 5);
    EXPECT_EQ(r.outcome.common_factor_iterations, 126u);
    expect_whole_search(r);
}

TEST_P(TwoStageSearch, CustomLimitFullRangeKeepsTheConvergentSplit) {
    const SearchRun r = run(search_request(44100, 48000, SearchMode::custom_limit, 65535));
    EXPECT_EQ(r.outcome.status, Status::ok);
    expect_cascade(r.outcome.best, 10, 7, 16, 21);
    EXPECT_EQ(r.outcome.convergent_count, 5);
    EXPECT_EQ(r.outcome.common_factor_iterations, 60216168u);
    expect_whole_search(r);
    EXPECT_EQ(r.events.thousands(), 60216u);
}

TEST_P(TwoStageSearch, MinimalSumBalancedDualKeepsTheSplitClosestToTheTarget) {
    const SearchRun r = run(search_request(44100, 48000, SearchMode::minimal_sum, 65535, false,
                                           96000, Priority::balanced));
    EXPECT_EQ(r.outcome.status, Status::ok);
    expect_cascade(r.outcome.best, 16, 7, 10, 21);
    EXPECT_EQ(r.outcome.best.achieved_intermediate_rate, 100800.0);
    EXPECT_TRUE(r.outcome.best.final_match);
    EXPECT_FALSE(r.outcome.best.intermediate_match);
    EXPECT_EQ(r.outcome.common_factor_iterations, 1u);
    expect_whole_search(r);
}

TEST_P(TwoStageSearch, DualMatchEndsTheCustomSearch) {
    const SearchRun r = run(search_request(44100, 48000, SearchMode::custom_limit, 1000, false,
                                           96000, Priority::balanced));
    EXPECT_EQ(r.outcome.status, Status::ok);
    expect_cascade(r.outcome.best, 320, 147, 420, 840);
    EXPECT_EQ(r.outcome.best.overall_sum, 1727);
    EXPECT_DOUBLE_EQ(r.outcome.best.achieved_intermediate_rate, 96000.0);
    EXPECT_TRUE(r.outcome.best.final_match);
    EXPECT_TRUE(r.outcome.best.intermediate_match);
    EXPECT_EQ(r.outcome.common_factor_iterations, 8673u);
    expect_whole_search(r);
    EXPECT_EQ(r.events.thousands(), 8u);
}

TEST_P(TwoStageSearch, StrictMinimalSumScansUntilAnIntermediateMatch) {
    const SearchRun r = run(search_request(44100, 48000, SearchMode::minimal_sum, 65535, false,
                                           96000, Priority::strict));
    EXPECT_EQ(r.outcome.status, Status::ok);
    expect_cascade(r.outcome.best, 320, 147, 23520, 47040);
    EXPECT_EQ(r.outcome.best.overall_sum, 71027);
    EXPECT_TRUE(r.outcome.best.intermediate_match);
    EXPECT_EQ(r.outcome.common_factor_iterations, 182006u);
    expect_whole_search(r);
    EXPECT_EQ(r.events.thousands(), 182u);
}

TEST_P(TwoStageSearch, StrictCustomRunsTheWholePass) {
    const SearchRun r = run(search_request(44100, 48000, SearchMode::custom_limit, 1000, false,
                                           96000, Priority::strict));
    EXPECT_EQ(r.outcome.status, Status::ok);
    expect_cascade(r.outcome.best, 320, 147, 336, 672);
    EXPECT_EQ(r.outcome.best.overall_sum, 1475);
    EXPECT_EQ(r.outcome.common_factor_iterations, 13578u);
    expect_whole_search(r);
    EXPECT_EQ(r.events.thousands(), 13u);
}

TEST_P(TwoStageSearch, RatioBelowOneSkipsTheZeroConvergent) {
    const SearchRun r = run(search_request(48000, 24000, SearchMode::minimal_sum, 65535));
    EXPECT_EQ(r.outcome.status, Status::ok);
    expect_cascade(r.outcome.best, 1, 1, 1, 2);
    EXPECT_EQ(r.outcome.convergent_count, 2);
    expect_whole_search(r);
    EXPECT_EQ(r.events.totals, (std::vector<std::uint64_t>{1}));
}

TEST_P(TwoStageSearch, SingleConvergent) {
    const SearchRun r = run(search_request(24000, 48000, SearchMode::minimal_sum, 65535));
    EXPECT_EQ(r.outcome.status, Status::ok);
    EXPECT_EQ(r.outcome.convergent_count, 1);
    EXPECT_EQ(r.outcome.common_factor_iterations, 1u);
    expect_cascade(r.outcome.best, 1, 1, 2, 1);
    expect_whole_search(r);
    EXPECT_EQ(r.events.convergents, (std::vector<int>{0}));
}

TEST_P(TwoStageSearch, PiToFifteenDigitsHasElevenConvergentsOrMore) {
    // pi to 15 digits has convergents 3/1, 22/7, 333/106, ... : twelve below 65535^2, so the
    // program's convergent line gets its dot at the eleventh.
    const SearchRun r = run(search_request(1.0, 3.14159265358979, SearchMode::minimal_sum, 65535));
    ASSERT_GE(r.outcome.convergent_count, 11);
    ASSERT_LE(r.outcome.convergent_count, 20);
    EXPECT_EQ(static_cast<int>(r.events.convergents.size()), r.outcome.convergent_count);
}

TEST_P(TwoStageSearch, InvalidRatesAreCritical) {
    SearchRun r = run(search_request(0, 48000, SearchMode::minimal_sum, 65535));
    EXPECT_EQ(r.outcome.status, Status::invalid_request);
    ASSERT_EQ(r.events.errors.size(), 1u);
    EXPECT_EQ(r.events.errors[0].kind, SolverErrorKind::invalid_request);
    EXPECT_EQ(r.events.errors[0].status, Status::invalid_request);
    EXPECT_EQ(r.outcome.convergent_count, -1);
    EXPECT_TRUE(same_record(r.outcome.best, quillmere::core::make_empty_record()));
    EXPECT_TRUE(r.events.convergents.empty());
    EXPECT_TRUE(r.events.totals.empty());

    r = run(search_request(44100, -1, SearchMode::custom_limit, 100));
    EXPECT_EQ(r.outcome.status, Status::calculation_error);
    ASSERT_EQ(r.events.errors.size(), 1u);
    EXPECT_EQ(r.events.errors[0].kind, SolverErrorKind::invalid_request);
    EXPECT_EQ(r.events.errors[0].status, Status::calculation_error);
    EXPECT_EQ(r.outcome.convergent_count, -1);
}

TEST_P(TwoStageSearch, AStopOnEntryEndsItAtOnce) {
    const std::atomic<bool> stop{true};
    const SearchRun r =
        run_search(GetParam().search, search_request(44100, 48000, SearchMode::minimal_sum), &stop);
    EXPECT_EQ(r.outcome.status, Status::stopped);
    EXPECT_TRUE(same_record(r.outcome.best, quillmere::core::make_empty_record()));
    EXPECT_EQ(r.outcome.convergent_count, -1);
    EXPECT_TRUE(r.events.trace.empty()) << r.events.trace;
}

TEST_P(TwoStageSearch, NothingStoredIsNotFound) {
    const SearchRun r = run(
        search_request(44100, 48000, SearchMode::custom_limit, 50, false, 12345, Priority::strict));
    EXPECT_EQ(r.outcome.status, Status::not_found);
    EXPECT_FALSE(r.outcome.best.found);
    EXPECT_EQ(r.outcome.convergent_count, 5);
    expect_whole_search(r);
}

TEST_P(TwoStageSearch, AStopDuringTheCommonFactorPassEndsItUnfinished) {
    // Rates this large keep the program's search on its plain path too, slow enough to be
    // interrupted reliably.
    const quillmere::TwoStageRequest request =
        search_request(44100e255, 48000e255, SearchMode::custom_limit, 65535);
    std::atomic<bool> stop{false};
    std::thread stopper([&stop] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        stop.store(true);
    });
    const SearchRun r = run_search(GetParam().search, request, &stop);
    stopper.join();
    EXPECT_EQ(r.outcome.status, Status::stopped);
    // Whenever the stop arrived, the pass it ended is not done, and the count heard is no
    // more than the count made.
    EXPECT_FALSE(r.events.done(SearchPass::common_factors));
    if (!r.events.totals.empty()) {
        EXPECT_LE(r.events.totals.back(), r.outcome.common_factor_iterations);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Searches, TwoStageSearch,
    testing::Values(NamedSearch{"fast", quillmere::core::search_two_stage},
                    NamedSearch{"reference", quillmere::core::search_two_stage_reference}),
    [](const testing::TestParamInfo<NamedSearch>& param) { return std::string(param.param.name); });

// ---------------------------------------------------------------------------
// Stop requests, on the plain search of 48000 Hz -> 48000 Hz at the full limit, which
// takes minutes
// ---------------------------------------------------------------------------

const quillmere::TwoStageRequest LONG_PLAIN_SEARCH =
    search_request(48000, 48000, SearchMode::custom_limit);

quillmere::core::SearchOutcome run_plain(const quillmere::SolveOptions& options) {
    const quillmere::core::SearchContext context(options);
    return quillmere::core::search_two_stage_reference(context, LONG_PLAIN_SEARCH);
}

#if QUILLMERE_HAS_STOP_TOKEN
TEST(StopRequest, AStopTokenEndsThePlainSearch) {
    std::stop_source source;
    quillmere::SolveOptions options;
    options.stop_token = source.get_token();
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        source.request_stop();
    });
    const quillmere::core::SearchOutcome outcome = run_plain(options);
    stopper.join();
    EXPECT_EQ(outcome.status, Status::stopped);
    EXPECT_GT(outcome.common_factor_iterations, 0u);
    EXPECT_LT(outcome.common_factor_iterations, 4294836225u);
}
#endif

TEST(StopRequest, AStopFlagEndsThePlainSearch) {
    std::atomic<bool> flag{false};
    quillmere::SolveOptions options;
    options.stop_flag = &flag;
    SearchEvents events;
    options.observer = &events;
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        flag.store(true);
    });
    const quillmere::core::SearchOutcome outcome = run_plain(options);
    stopper.join();
    EXPECT_EQ(outcome.status, Status::stopped);
    EXPECT_LT(outcome.common_factor_iterations, 4294836225u);
    // A stopped pass is not done.
    EXPECT_FALSE(events.done(SearchPass::common_factors));
}

}  // namespace
