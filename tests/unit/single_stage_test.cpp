// The single-stage solver: the last convergent within the bound on M, and each way it
// fails with its error event.
#include "core/single_stage.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "search_runs.h"

namespace {

using quillmere::SingleStageRequest;
using quillmere::SolverErrorKind;
using quillmere::Status;
using quillmere::core::SingleStageOutcome;

/// Runs the solver of the core with its events recorded; stop (may be null) is its stop flag.
SingleStageOutcome solve(double input_rate, double output_rate, SearchEvents* events,
                         const std::atomic<bool>* stop = nullptr) {
    quillmere::SolveOptions options;
    options.observer = events;
    options.stop_flag = stop;
    return quillmere::core::solve_single(quillmere::core::SearchContext(options), input_rate,
                                         output_rate);
}

/// The one error event of a failed solve, of the given kind and status, with its L/M.
void expect_one_error(const SearchEvents& events, SolverErrorKind kind, Status status,
                      long long l = 0, long long m = 0) {
    ASSERT_EQ(events.errors.size(), 1u);
    EXPECT_EQ(events.errors[0].kind, kind);
    EXPECT_EQ(events.errors[0].status, status);
    EXPECT_EQ(events.errors[0].l, l);
    EXPECT_EQ(events.errors[0].m, m);
}

TEST(SingleSolver, LastConvergentWithinTheBound) {
    struct Case {
        double in, out;
        long long l, m;
    };
    for (const Case& c : {Case{48000, 44100, 147, 160}, Case{44100, 48000, 160, 147},
                          Case{96000, 96000, 1, 1}, Case{1, 1000.0001, 10000001, 10000},
                          Case{1, 3.141592653589793, 104348, 33215}, Case{48000, 47999.9, 1, 1},
                          Case{65535.0, 1.0, 1, 65535}, Case{1.0, 1e13, 10000000000000LL, 1}}) {
        SCOPED_TRACE(std::to_string(c.in) + " -> " + std::to_string(c.out));
        SearchEvents events;
        const SingleStageOutcome outcome = solve(c.in, c.out, &events);
        EXPECT_EQ(outcome.status, Status::ok);
        EXPECT_EQ(outcome.l, c.l);
        EXPECT_EQ(outcome.m, c.m);
        EXPECT_EQ(outcome.achieved_output_rate,
                  (static_cast<double>(c.l) / static_cast<double>(c.m)) * c.in);
        EXPECT_GE(outcome.convergent_count, 1);
        EXPECT_TRUE(events.errors.empty());

        // The library's result carries the same stage.
        const quillmere::SingleStageResult result =
            quillmere::solve_single_stage(SingleStageRequest{c.in, c.out});
        EXPECT_EQ(result.status, Status::ok);
        EXPECT_EQ(result.stage.l, c.l);
        EXPECT_EQ(result.stage.m, c.m);
        EXPECT_EQ(result.output_rate_hz, outcome.achieved_output_rate);
    }
}

TEST(SingleSolver, RatiosBelowOneOver65535LeaveZeroOverOne) {
    for (const auto& [in, out] :
         {std::pair{1000000.0, 10.0}, std::pair{1e13, 1.0}, std::pair{65536.0, 1.0}}) {
        SCOPED_TRACE(std::to_string(in) + " -> " + std::to_string(out));
        SearchEvents events;
        const SingleStageOutcome outcome = solve(in, out, &events);
        // Nothing to find, as when two stages find no cascade.
        EXPECT_EQ(outcome.status, Status::not_found);
        EXPECT_EQ(outcome.l, 0);
        EXPECT_EQ(outcome.m, 1);
        EXPECT_TRUE(std::isnan(outcome.achieved_output_rate));
        expect_one_error(events, SolverErrorKind::non_positive_factors, Status::not_found, 0, 1);
    }
}

TEST(SingleSolver, RejectedRatesAndRatios) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        double in, out;
        Status status;
        SolverErrorKind kind;
    };
    for (const Case& c : {
             Case{0, 44100, Status::invalid_request, SolverErrorKind::invalid_request},
             Case{-48000, 44100, Status::invalid_request, SolverErrorKind::invalid_request},
             Case{48000, 0, Status::invalid_request, SolverErrorKind::invalid_request},
             Case{nan, 44100, Status::invalid_request, SolverErrorKind::invalid_request},
             Case{48000, inf, Status::invalid_request, SolverErrorKind::invalid_request},
             // The ratio overflows, or underflows.
             Case{1e-300, 1e300, Status::calculation_error, SolverErrorKind::invalid_request},
             Case{1e300, 1e-300, Status::calculation_error, SolverErrorKind::invalid_request},
             Case{1e20, 1e4, Status::calculation_error, SolverErrorKind::convergents_failed},
             Case{1, 9.3e18, Status::overflow_error, SolverErrorKind::convergents_failed},
         }) {
        SCOPED_TRACE(std::to_string(c.in) + " -> " + std::to_string(c.out));
        SearchEvents events;
        const SingleStageOutcome outcome = solve(c.in, c.out, &events);
        EXPECT_EQ(outcome.status, c.status);
        expect_one_error(events, c.kind, c.status);
        EXPECT_EQ(outcome.l, 0);
        EXPECT_EQ(outcome.m, 0);
        EXPECT_TRUE(std::isnan(outcome.achieved_output_rate));
    }
}

TEST(SingleSolver, AchievedRateOverflow) {
    // 26/25 lies above the ratio, so the achieved rate passes the largest double.
    SearchEvents events;
    const SingleStageOutcome outcome =
        solve(1.7285510912137651e+308, std::numeric_limits<double>::max(), &events);
    EXPECT_EQ(outcome.status, Status::calculation_error);
    EXPECT_EQ(outcome.l, 26);
    EXPECT_EQ(outcome.m, 25);
    EXPECT_TRUE(std::isinf(outcome.achieved_output_rate));
    expect_one_error(events, SolverErrorKind::non_finite_rate, Status::calculation_error, 26, 25);
}

TEST(SingleSolver, AStopOnEntryEndsItAtOnce) {
    const std::atomic<bool> stop{true};
    SearchEvents events;
    const SingleStageOutcome outcome = solve(48000, 44100, &events, &stop);
    EXPECT_EQ(outcome.status, Status::stopped);
    EXPECT_EQ(outcome.l, 0);
    EXPECT_EQ(outcome.m, 0);
    EXPECT_EQ(outcome.convergent_count, -1);
    EXPECT_TRUE(events.trace.empty());
}

}  // namespace
