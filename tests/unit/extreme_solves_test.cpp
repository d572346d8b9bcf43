// The two-stage searches at the far ends of what a request may ask: ratios of 1e13 and
// 1e-13, which no cascade reaches, and per-stage factors at their limit. Each search ends
// normally, without a critical status or an error event. (The single stage's far ends are
// in single_stage_test.cpp.)
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "search_runs.h"

namespace {

using quillmere::Priority;
using quillmere::SearchMode;
using quillmere::Status;

/// Every combination of mode (minimal sum, or a small custom limit), first-stage
/// constraint, target (none, 1 Hz, 10 THz) and priority for the ratios 1e13 and 1e-13:
/// no cascade of factors up to 65535 reaches them, so every search ends with nothing found.
TEST(ExtremeTwoStages, TenTerahertzRatiosFindNothingInEveryMode) {
    int cases = 0;
    for (const auto& [input_rate, output_rate] : {std::pair{1.0, 1e13}, std::pair{1e13, 1.0}}) {
        for (const auto& [mode, limit] :
             {std::pair{SearchMode::minimal_sum, quillmere::max_factor_limit},
              std::pair{SearchMode::custom_limit, std::int64_t{60}}}) {
            for (const bool allow : {false, true}) {
                for (const double target : {0.0, 1.0, 1e13}) {
                    for (const Priority priority : {Priority::strict, Priority::final,
                                                    Priority::balanced, Priority::ignore}) {
                        if (target == 0.0 && priority != Priority::balanced) continue;
                        const quillmere::TwoStageRequest request = search_request(
                            input_rate, output_rate, mode, limit, allow, target, priority);
                        SCOPED_TRACE(describe(request));
                        const SearchRun search =
                            run_search(quillmere::core::search_two_stage, request);
                        EXPECT_EQ(search.outcome.status, Status::not_found);
                        EXPECT_FALSE(search.outcome.best.found);
                        EXPECT_EQ(search.outcome.convergent_count, 1);
                        EXPECT_TRUE(search.events.errors.empty());

                        const quillmere::TwoStageResult result =
                            quillmere::solve_two_stage(request);
                        EXPECT_EQ(result.status, Status::not_found);
                        // The ratio is out of any cascade's reach, and the message says so.
                        EXPECT_EQ(result.message.rfind("No two stages with L and M up to ", 0), 0u);
                        EXPECT_NE(result.message.find(output_rate > input_rate ? ": it is above "
                                                                               : ": it is below "),
                                  std::string::npos)
                            << result.message;
                        ++cases;
                    }
                }
            }
        }
    }
    EXPECT_EQ(cases, 2 * 2 * 2 * 9);
}

/// The largest product of two stages, 65535 squared, is reached with every factor at the
/// limit; one more is out of reach. The same at a small custom limit.
TEST(ExtremeTwoStages, FactorsAtTheLimitAreFoundAndOneBeyondIsNot) {
    struct Case {
        double input_rate;
        double output_rate;
        SearchMode mode;
        std::int64_t limit;
        bool allow;
        bool found;
        long long l1, m1, l2, m2;
    };
    const double square = 65535.0 * 65535.0;
    const SearchMode sum = SearchMode::minimal_sum;
    const SearchMode custom = SearchMode::custom_limit;
    const Case cases[] = {
        {1, square, sum, 65535, false, true, 65535, 1, 65535, 1},
        {square, 1, sum, 65535, true, true, 1, 65535, 1, 65535},
        {square, 1, sum, 65535, false, false, 0, 0, 0, 0},
        {1, square + 1, sum, 65535, true, false, 0, 0, 0, 0},
        {1, 3600, custom, 60, false, true, 60, 1, 60, 1},
        {3600, 1, custom, 60, true, true, 1, 60, 1, 60},
        {1, 3601, custom, 60, true, false, 0, 0, 0, 0},
        {1, 1, custom, 1, false, true, 1, 1, 1, 1},
    };
    for (const Case& c : cases) {
        const quillmere::TwoStageRequest request =
            search_request(c.input_rate, c.output_rate, c.mode, c.limit, c.allow);
        SCOPED_TRACE(describe(request));
        const SearchRun search = run_search(quillmere::core::search_two_stage, request);
        EXPECT_TRUE(search.events.errors.empty());
        ASSERT_EQ(search.outcome.best.found, c.found);
        EXPECT_EQ(search.outcome.status, c.found ? Status::ok : Status::not_found);
        if (!c.found) continue;
        EXPECT_EQ(search.outcome.best.l1, c.l1);
        EXPECT_EQ(search.outcome.best.m1, c.m1);
        EXPECT_EQ(search.outcome.best.l2, c.l2);
        EXPECT_EQ(search.outcome.best.m2, c.m2);
        EXPECT_TRUE(search.outcome.best.final_match);
    }
}

}  // namespace
