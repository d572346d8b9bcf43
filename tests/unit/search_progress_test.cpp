// The progress events of the two-stage search: every event carries the count and, where it
// is known, the total; the total is the count of the plain pass; min-cost's first search
// reports its progress (and nothing else) as it goes; the events of old stay as they were.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/reference_search.h"
#include "core/search_context.h"
#include "quillmere/quillmere.h"

namespace {

using quillmere::Priority;
using quillmere::SearchMode;
using quillmere::SearchPass;
using quillmere::SearchProgress;
using quillmere::Status;
using quillmere::TwoStageRequest;

/// Records every event in order; optionally slow on its first common-factor progress
/// events, as a front end that redraws might be.
struct Recorder : quillmere::SearchObserver {
    std::vector<SearchProgress> progress;
    std::vector<std::uint64_t> iterations;  // on_common_factor_iterations
    int convergent_events = 0;
    int slow_events = 0;
    void on_progress(const SearchProgress& p) override {
        progress.push_back(p);
        if (slow_events > 0 && p.pass == SearchPass::common_factors) {
            --slow_events;
            std::this_thread::sleep_for(std::chrono::milliseconds(60));
        }
    }
    void on_convergent(int, int) override { ++convergent_events; }
    void on_common_factor_iterations(std::uint64_t total) override { iterations.push_back(total); }

    std::vector<SearchProgress> of(int search, SearchPass pass) const {
        std::vector<SearchProgress> out;
        for (const SearchProgress& p : progress) {
            if (p.search == search && p.pass == pass) out.push_back(p);
        }
        return out;
    }
};

TwoStageRequest request(double in, double out, SearchMode mode, long long limit) {
    TwoStageRequest r;
    r.input_rate_hz = in;
    r.output_rate_hz = out;
    r.mode = mode;
    r.max_factor = limit;
    return r;
}

std::string describe(const TwoStageRequest& r) {
    return std::to_string(r.input_rate_hz) + " -> " + std::to_string(r.output_rate_hz) + " " +
           quillmere::search_mode_name(r.mode) + " limit " + std::to_string(r.max_factor);
}

quillmere::TwoStageResult solve_watched(const TwoStageRequest& r, Recorder* heard) {
    quillmere::SolveOptions options;
    options.observer = heard;
    return quillmere::solve_two_stage(r, options);
}

/// What every solve's events must satisfy, whatever the request.
void check_events(const TwoStageRequest& r, const quillmere::TwoStageResult& result,
                  const Recorder& heard) {
    SCOPED_TRACE(describe(r));
    ASSERT_FALSE(heard.progress.empty());
    const int searches = r.mode == SearchMode::min_cost ? 2 : 1;
    int last_search = 1;
    for (const SearchProgress& p : heard.progress) {
        EXPECT_EQ(p.searches, searches);
        EXPECT_GE(p.search, last_search);  // the searches one after the other
        last_search = p.search;
    }
    for (int search = 1; search <= searches; ++search) {
        const auto convergents = heard.of(search, SearchPass::convergents);
        for (std::size_t i = 0; i < convergents.size(); ++i) {
            EXPECT_EQ(convergents[i].done, i + 1);
            EXPECT_EQ(convergents[i].total,
                      static_cast<std::uint64_t>(result.convergent_count));
        }
        const auto factors = heard.of(search, SearchPass::common_factors);
        for (std::size_t i = 0; i < factors.size(); ++i) {
            EXPECT_GT(factors[i].total, 0U);
            EXPECT_EQ(factors[i].total, factors.front().total);
            EXPECT_LE(factors[i].done, factors[i].total);
            if (i > 0) {
                EXPECT_GE(factors[i].done, factors[i - 1].done);
            }
        }
    }
    // The events of old describe the last search alone, as they did.
    EXPECT_EQ(heard.convergent_events,
              static_cast<int>(heard.of(searches, SearchPass::convergents).size()));
    std::vector<std::uint64_t> last_counts;
    for (const SearchProgress& p : heard.of(searches, SearchPass::common_factors)) {
        last_counts.push_back(p.done);
    }
    EXPECT_EQ(heard.iterations, last_counts);
    if (!last_counts.empty()) {
        EXPECT_EQ(last_counts.back(), result.common_factor_iterations);
    }
}

TEST(SearchProgress, EveryModeCountsTowardsItsTotal) {
    std::vector<TwoStageRequest> requests = {
        request(44100, 48000, SearchMode::custom_limit, 2000),
        request(44100, 48000, SearchMode::minimal_sum, 65535),
        request(22050, 93869.67, SearchMode::custom_limit, 101),
        request(44100, 48000, SearchMode::min_cost, 100),
        request(352800, 2407902, SearchMode::min_cost, 65535),
        request(8000, 5644800, SearchMode::min_cost, 65535),
    };
    TwoStageRequest targeted = request(44100, 48000, SearchMode::custom_limit, 500);
    targeted.intermediate_target = quillmere::IntermediateTarget{88200, Priority::strict};
    requests.push_back(targeted);
    for (const TwoStageRequest& r : requests) {
        Recorder heard;
        const quillmere::TwoStageResult result = solve_watched(r, &heard);
        ASSERT_EQ(result.status, Status::ok) << describe(r);
        check_events(r, result, heard);
        const auto factors = heard.of(1, SearchPass::common_factors);
        if (r.mode != SearchMode::minimal_sum && !factors.empty()) {
            // Nothing ends these passes early: the count reaches the total.
            EXPECT_EQ(factors.back().done, factors.back().total) << describe(r);
        }
    }
}

TEST(SearchProgress, TheTotalIsThePlainPassCount) {
    // Custom-limit and min-cost requests that run the common-factor pass to its end, so
    // that the plain reference search counts every g/h iteration.
    const std::vector<TwoStageRequest> requests = {
        request(44100, 48000, SearchMode::custom_limit, 300),
        request(48000, 44100, SearchMode::custom_limit, 1000),
        request(8000, 192000, SearchMode::custom_limit, 250),
        request(96000, 44100, SearchMode::min_cost, 200),
    };
    for (const TwoStageRequest& r : requests) {
        Recorder heard;
        const quillmere::TwoStageResult result = solve_watched(r, &heard);
        ASSERT_EQ(result.status, Status::ok) << describe(r);
        const quillmere::core::SearchOutcome plain =
            quillmere::core::search_two_stage_reference(quillmere::core::SearchContext{}, r);
        const auto factors = heard.of(r.mode == SearchMode::min_cost ? 2 : 1,
                                      SearchPass::common_factors);
        ASSERT_FALSE(factors.empty()) << describe(r);
        EXPECT_EQ(factors.back().total, plain.common_factor_iterations) << describe(r);
        EXPECT_EQ(result.common_factor_iterations, plain.common_factor_iterations);
    }
}

TEST(SearchProgress, MinCostFirstSearchReportsAsItGoes) {
    // An observer that takes its time over the first events: every poll of the pruned
    // pass after that finds an event due, so the first search, which the events of old
    // leave out, is heard several times before it ends.
    const TwoStageRequest r = request(44100, 48000, SearchMode::min_cost, 65535);
    Recorder heard;
    heard.slow_events = 4;
    const quillmere::TwoStageResult result = solve_watched(r, &heard);
    ASSERT_EQ(result.status, Status::ok);
    const auto first = heard.of(1, SearchPass::common_factors);
    ASSERT_GE(first.size(), 3U);
    EXPECT_LT(first[1].done, first.back().done);
    EXPECT_LT(first[1].fraction(), 0.5);  // within the first of two searches
    check_events(r, result, heard);
}

TEST(SearchProgress, FractionCountsTheSearchesBefore) {
    SearchProgress p{SearchPass::common_factors, 250, 1000, 1, 1};
    EXPECT_DOUBLE_EQ(p.fraction(), 0.25);
    p.searches = 2;
    EXPECT_DOUBLE_EQ(p.fraction(), 0.125);
    p.search = 2;
    EXPECT_DOUBLE_EQ(p.fraction(), 0.625);
    p.done = 5000;  // beyond the total: a whole pass, no more
    EXPECT_DOUBLE_EQ(p.fraction(), 1.0);
    p.total = 0;
    EXPECT_TRUE(std::isnan(p.fraction()));
}

}  // namespace
