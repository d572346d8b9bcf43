// The two-stage search on its worked examples and edge cases, for every search entry point.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "two_test_support.h"

namespace {

struct NamedSearch {
    const char* name;
    SearchFunction search;
};

class TwoStageSearch : public testing::TestWithParam<NamedSearch> {
protected:
    SearchRun run(const UserInputs& inputs) { return run_search(GetParam().search, inputs); }
};

constexpr const char* CFE_LINE = "Progress (checking CFE convergents): .\n";

void expect_cascade(const CascadeRecord& r, long long l1, long long m1, long long l2,
                    long long m2) {
    EXPECT_TRUE(r.found);
    EXPECT_EQ(r.l1, l1);
    EXPECT_EQ(r.m1, m1);
    EXPECT_EQ(r.l2, l2);
    EXPECT_EQ(r.m2, m2);
    EXPECT_EQ(r.overall_sum, l1 + m1 + l2 + m2);
}

// 44100 Hz -> 48000 Hz: convergents 1/1, 12/11, 37/34, 123/113, 160/147.

TEST_P(TwoStageSearch, MinimalSumStopsAfterOneCommonFactorCandidate) {
    const SearchRun r = run(two_stage_request(44100, 48000, SEARCH_MODE_MINIMAL_SUM, 65535));
    EXPECT_EQ(r.status, STATUS_SUCCESS);
    expect_cascade(r.best, 10, 7, 16, 21);
    EXPECT_TRUE(r.best.final_match);
    EXPECT_EQ(r.best.achieved_intermediate_rate, 63000.0);
    EXPECT_EQ(r.convergent_count, 5);
    EXPECT_EQ(r.iterations, 1u);
    EXPECT_EQ(r.out, std::string(CFE_LINE) + gh_progress_line(1));
    EXPECT_EQ(r.out,
              "Progress (checking CFE convergents): .\nProgress (checking g/h factors): .\n");
    EXPECT_EQ(r.err, "");
}

TEST_P(TwoStageSearch, CustomLimitScansEveryCommonFactor) {
    const SearchRun r = run(two_stage_request(44100, 48000, SEARCH_MODE_CUSTOM_LIMIT, 100));
    EXPECT_EQ(r.status, STATUS_SUCCESS);
    expect_cascade(r.best, 10, 7, 16, 21);
    EXPECT_EQ(r.convergent_count, 5);
    EXPECT_EQ(r.iterations, 126u);
    EXPECT_EQ(r.out, "Progress (checking g/h factors): .\n");
}

TEST_P(TwoStageSearch, CustomLimitFullRangeKeepsTheConvergentSplit) {
    const SearchRun r = run(two_stage_request(44100, 48000, SEARCH_MODE_CUSTOM_LIMIT, 65535));
    EXPECT_EQ(r.status, STATUS_SUCCESS);
    expect_cascade(r.best, 10, 7, 16, 21);
    EXPECT_EQ(r.convergent_count, 5);
    EXPECT_EQ(r.iterations, 60216168u);
    EXPECT_EQ(r.out, "Progress (checking g/h factors): " + std::string(60216, '.') + "\n");
}

TEST_P(TwoStageSearch, MinimalSumBalancedDualKeepsTheSplitClosestToTheTarget) {
    const SearchRun r = run(two_stage_request(44100, 48000, SEARCH_MODE_MINIMAL_SUM, 65535, false,
                                              96000, PRIORITIZE_BALANCED_DUAL));
    EXPECT_EQ(r.status, STATUS_SUCCESS);
    expect_cascade(r.best, 16, 7, 10, 21);
    EXPECT_EQ(r.best.achieved_intermediate_rate, 100800.0);
    EXPECT_TRUE(r.best.final_match);
    EXPECT_FALSE(r.best.intermediate_match);
    EXPECT_EQ(r.iterations, 1u);
    EXPECT_EQ(r.out, std::string(CFE_LINE) + gh_progress_line(1));
}

TEST_P(TwoStageSearch, DualMatchEndsTheCustomSearch) {
    const SearchRun r = run(two_stage_request(44100, 48000, SEARCH_MODE_CUSTOM_LIMIT, 1000, false,
                                              96000, PRIORITIZE_BALANCED_DUAL));
    EXPECT_EQ(r.status, STATUS_SUCCESS);
    expect_cascade(r.best, 320, 147, 420, 840);
    EXPECT_EQ(r.best.overall_sum, 1727);
    EXPECT_DOUBLE_EQ(r.best.achieved_intermediate_rate, 96000.0);
    EXPECT_TRUE(r.best.final_match);
    EXPECT_TRUE(r.best.intermediate_match);
    EXPECT_EQ(r.iterations, 8673u);
    EXPECT_EQ(r.out, "Progress (checking g/h factors): ........\n");
}

TEST_P(TwoStageSearch, StrictMinimalSumScansUntilAnIntermediateMatch) {
    const SearchRun r = run(two_stage_request(44100, 48000, SEARCH_MODE_MINIMAL_SUM, 65535, false,
                                              96000, PRIORITIZE_STRICT_INTERMEDIATE));
    EXPECT_EQ(r.status, STATUS_SUCCESS);
    expect_cascade(r.best, 320, 147, 23520, 47040);
    EXPECT_EQ(r.best.overall_sum, 71027);
    EXPECT_TRUE(r.best.intermediate_match);
    EXPECT_EQ(r.iterations, 182006u);
    EXPECT_EQ(r.out, std::string(CFE_LINE) +
                         "Progress (checking g/h factors): " + std::string(182, '.') + "\n");
}

TEST_P(TwoStageSearch, StrictCustomRunsTheWholePass) {
    const SearchRun r = run(two_stage_request(44100, 48000, SEARCH_MODE_CUSTOM_LIMIT, 1000, false,
                                              96000, PRIORITIZE_STRICT_INTERMEDIATE));
    EXPECT_EQ(r.status, STATUS_SUCCESS);
    expect_cascade(r.best, 320, 147, 336, 672);
    EXPECT_EQ(r.best.overall_sum, 1475);
    EXPECT_EQ(r.iterations, 13578u);
    EXPECT_EQ(r.out, "Progress (checking g/h factors): .............\n");
}

TEST_P(TwoStageSearch, RatioBelowOneSkipsTheZeroConvergent) {
    const SearchRun r = run(two_stage_request(48000, 24000, SEARCH_MODE_MINIMAL_SUM, 65535));
    EXPECT_EQ(r.status, STATUS_SUCCESS);
    expect_cascade(r.best, 1, 1, 1, 2);
    EXPECT_EQ(r.convergent_count, 2);
    EXPECT_EQ(r.out, std::string(CFE_LINE) + gh_progress_line(1));
}

TEST_P(TwoStageSearch, SingleConvergentPrintsOnlyTheCommonFactorLine) {
    const SearchRun r = run(two_stage_request(24000, 48000, SEARCH_MODE_MINIMAL_SUM, 65535));
    EXPECT_EQ(r.status, STATUS_SUCCESS);
    EXPECT_EQ(r.convergent_count, 1);
    EXPECT_EQ(r.iterations, 1u);
    expect_cascade(r.best, 1, 1, 2, 1);
    EXPECT_EQ(r.out, gh_progress_line(1));
}

TEST_P(TwoStageSearch, TwelveConvergentsGiveOneCfeDot) {
    // pi to 15 digits has convergents 3/1, 22/7, 333/106, ... : twelve below 65535^2.
    const SearchRun r =
        run(two_stage_request(1.0, 3.14159265358979, SEARCH_MODE_MINIMAL_SUM, 65535));
    ASSERT_GE(r.convergent_count, 11);
    ASSERT_LE(r.convergent_count, 20);
    EXPECT_EQ(r.out.rfind("Progress (checking CFE convergents): .\n", 0), 0u) << r.out;
}

TEST_P(TwoStageSearch, InvalidRatesAreCritical) {
    SearchRun r = run(two_stage_request(0, 48000, SEARCH_MODE_MINIMAL_SUM, 65535));
    EXPECT_EQ(r.status, STATUS_INVALID_INPUT_ERROR);
    EXPECT_EQ(r.err, "\nInput rate must be positive.\n");
    EXPECT_EQ(r.convergent_count, -1);
    EXPECT_TRUE(same_record(r.best, make_empty_record()));
    EXPECT_EQ(r.out, "");

    r = run(two_stage_request(44100, -1, SEARCH_MODE_CUSTOM_LIMIT, 100));
    EXPECT_EQ(r.status, STATUS_CALCULATION_ERROR);
    EXPECT_EQ(r.err, "\nCannot calculate valid positive target ratio.\n");
    EXPECT_EQ(r.convergent_count, -1);
}

TEST_P(TwoStageSearch, ShutdownOnEntryTouchesNothing) {
    const ShutdownFlagScope shutdown;
    CascadeRecord best{};
    best.l1 = 99;
    int count = 42;
    testing::internal::CaptureStdout();
    const UserInputs inputs = two_stage_request(44100, 48000, SEARCH_MODE_MINIMAL_SUM, 65535);
    EXPECT_EQ(GetParam().search(&inputs, 65535, 1, &best, &count, nullptr), STATUS_FAILURE);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(best.l1, 99);
    EXPECT_EQ(count, 42);
}

TEST_P(TwoStageSearch, NullArgumentsAreRefused) {
    const UserInputs inputs = two_stage_request(44100, 48000, SEARCH_MODE_MINIMAL_SUM, 65535);
    CascadeRecord best{};
    int count = 0;
    EXPECT_EQ(GetParam().search(nullptr, 65535, 1, &best, &count, nullptr),
              STATUS_INVALID_INPUT_ERROR);
    EXPECT_EQ(GetParam().search(&inputs, 65535, 1, nullptr, &count, nullptr),
              STATUS_INVALID_INPUT_ERROR);
    EXPECT_EQ(GetParam().search(&inputs, 65535, 1, &best, nullptr, nullptr),
              STATUS_INVALID_INPUT_ERROR);
}

TEST_P(TwoStageSearch, NothingStoredIsAFailure) {
    const SearchRun r = run(two_stage_request(44100, 48000, SEARCH_MODE_CUSTOM_LIMIT, 50, false,
                                              12345, PRIORITIZE_STRICT_INTERMEDIATE));
    EXPECT_EQ(r.status, STATUS_FAILURE);
    EXPECT_FALSE(r.best.found);
    EXPECT_EQ(r.convergent_count, 5);
    EXPECT_EQ(r.out, gh_progress_line(r.iterations));
}

TEST_P(TwoStageSearch, ShutdownDuringTheCommonFactorPassLeavesTheLineOpen) {
    // Rates this large keep the program's search on its plain path too, slow enough to be
    // interrupted reliably.
    const UserInputs inputs =
        two_stage_request(44100e255, 48000e255, SEARCH_MODE_CUSTOM_LIMIT, 65535);
    std::thread control_event([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        set_shutdown_flag(true);
    });
    const SearchRun r = run(inputs);
    control_event.join();
    set_shutdown_flag(false);
    EXPECT_EQ(r.status, STATUS_FAILURE);
    // Whenever the stop arrived, the line holds the header and dots but is never ended.
    const std::string header = "Progress (checking g/h factors): ";
    if (!r.out.empty()) {
        ASSERT_EQ(r.out.rfind(header, 0), 0u);
        EXPECT_EQ(r.out.find_first_not_of('.', header.size()), std::string::npos);
        // Dots still gathered when the stop arrived may be dropped, never invented.
        EXPECT_LE(r.out.size() - header.size(), r.iterations / GH_DOT_STEP);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Searches, TwoStageSearch,
    testing::Values(NamedSearch{"fast", perform_two_stage_search_counted},
                    NamedSearch{"reference", perform_two_stage_search_reference}),
    [](const testing::TestParamInfo<NamedSearch>& info) { return std::string(info.param.name); });

}  // namespace
