// The assessment of two-stage candidates: the measures of a candidate and the rules that
// decide whether it replaces the stored record.
#include "core/candidate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "records.h"
#include "search_runs.h"

namespace {

using quillmere::Priority;
using quillmere::SearchMode;
using quillmere::TwoStageRequest;
using quillmere::core::calculate_achieved_output_rate_two;
using quillmere::core::CascadeRecord;
using quillmere::core::make_empty_record;

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double INF = std::numeric_limits<double>::infinity();

/// Assesses one candidate against best under the request; dual (may be null) receives
/// whether a match of both rates ends a balanced custom-limit search.
void assess(const TwoStageRequest& in, CascadeRecord* best, long long l1, long long m1,
            long long l2, long long m2, bool* dual = nullptr) {
    quillmere::core::SearchState state{*best, dual != nullptr && *dual};
    quillmere::core::assess_two_stage_candidate(quillmere::core::Cascade{l1, m1, l2, m2},
                                                quillmere::core::SearchTerms{in}, &state);
    *best = state.best;
    if (dual != nullptr) *dual = state.dual_match_found;
}

bool holds(const CascadeRecord& r, long long l1, long long m1, long long l2, long long m2) {
    return r.found && r.l1 == l1 && r.m1 == m1 && r.l2 == l2 && r.m2 == m2;
}

TEST(AchievedRateTwo, RefusesWhatCannotBeComputed) {
    EXPECT_TRUE(std::isnan(calculate_achieved_output_rate_two(44100, 0, 7, 16, 21)));
    EXPECT_TRUE(std::isnan(calculate_achieved_output_rate_two(44100, 10, -7, 16, 21)));
    EXPECT_TRUE(std::isnan(calculate_achieved_output_rate_two(44100, 10, 7, 16, 0)));
    EXPECT_TRUE(std::isnan(calculate_achieved_output_rate_two(0, 10, 7, 16, 21)));
    EXPECT_TRUE(std::isnan(calculate_achieved_output_rate_two(NaN, 10, 7, 16, 21)));
    EXPECT_TRUE(std::isnan(calculate_achieved_output_rate_two(INF, 10, 7, 16, 21)));
    EXPECT_TRUE(std::isnan(calculate_achieved_output_rate_two(1e300, 1000000, 1, 1000000, 1)));
    EXPECT_EQ(calculate_achieved_output_rate_two(44100, 10, 7, 16, 21),
              std::nextafter(48000.0, 0.0));
}

TEST(AssessCandidate, StoresTheComputedErrorNotAnIdealZero) {
    const TwoStageRequest in = search_request(44100, 48000, SearchMode::custom_limit, 65535);
    CascadeRecord best = make_empty_record();
    assess(in, &best, 10, 7, 16, 21);
    ASSERT_TRUE(holds(best, 10, 7, 16, 21));
    EXPECT_EQ(best.overall_sum, 54);
    EXPECT_TRUE(best.final_match);
    EXPECT_EQ(best.final_error, 48000.0 - std::nextafter(48000.0, 0.0));
    EXPECT_NEAR(best.final_error, 7.28e-12, 0.01e-12);
    EXPECT_EQ(best.achieved_intermediate_rate, 63000.0);
    EXPECT_EQ(best.intermediate_error, INF);
    EXPECT_FALSE(best.intermediate_match);
    EXPECT_EQ(best.combined_ratio, (10.0 / 7.0) * (16.0 / 21.0));
}

TEST(AssessCandidate, FirstStageDecimationNeedsPermission) {
    TwoStageRequest in = search_request(44100, 48000, SearchMode::custom_limit, 65535);
    CascadeRecord best = make_empty_record();
    assess(in, &best, 16, 21, 10, 7);
    EXPECT_FALSE(best.found);
    assess(in, &best, 7, 7, 160, 147);  // L1 = M1 is allowed
    EXPECT_TRUE(holds(best, 7, 7, 160, 147));

    in.allow_first_stage_decimation = true;
    best = make_empty_record();
    assess(in, &best, 16, 21, 10, 7);
    EXPECT_TRUE(holds(best, 16, 21, 10, 7));
}

TEST(AssessCandidate, PerStageLimitIsInclusive) {
    const TwoStageRequest in = search_request(1000, 1000, SearchMode::custom_limit, 50);
    CascadeRecord best = make_empty_record();
    assess(in, &best, 51, 1, 1, 51);
    assess(in, &best, 1, 1, 51, 51);
    assess(in, &best, 0, 1, 1, 0);
    EXPECT_FALSE(best.found);
    assess(in, &best, 50, 1, 1, 50);
    EXPECT_TRUE(holds(best, 50, 1, 1, 50));
}

TEST(AssessCandidate, TinyOutputRateMatchesAbsolutely) {
    const TwoStageRequest in = search_request(5e-10, 1e-16, SearchMode::custom_limit, 10);
    CascadeRecord best = make_empty_record();
    assess(in, &best, 1, 1, 1, 1);
    EXPECT_TRUE(best.found);
    EXPECT_TRUE(best.final_match);
}

TEST(AssessCandidate, MinimalSumPrefersTheSmallerSum) {
    const TwoStageRequest in = search_request(44100, 48000, SearchMode::minimal_sum, 65535);
    CascadeRecord best = make_empty_record();
    assess(in, &best, 13, 10, 1, 1);  // 57330 Hz, sum 25
    assess(in, &best, 12, 11, 1, 1);  // 48109 Hz, same sum, more accurate
    EXPECT_TRUE(holds(best, 12, 11, 1, 1));
    assess(in, &best, 1, 1, 12, 11);  // same sum, same computed error: the first stays
    EXPECT_TRUE(holds(best, 12, 11, 1, 1));
    assess(in, &best, 1, 1, 1, 1);  // 44100 Hz: less accurate, but the smaller sum
    EXPECT_TRUE(holds(best, 1, 1, 1, 1));
    assess(in, &best, 10, 7, 16, 21);  // a final match beats a miss whatever the sum
    EXPECT_TRUE(holds(best, 10, 7, 16, 21));
    assess(in, &best, 16, 7, 10, 21);  // same sum, same computed error
    EXPECT_TRUE(holds(best, 10, 7, 16, 21));
}

TEST(AssessCandidate, CustomLimitPrefersTheSmallerError) {
    const TwoStageRequest in = search_request(44100, 48000, SearchMode::custom_limit, 65535);
    CascadeRecord best = make_empty_record();
    assess(in, &best, 1, 1, 1, 1);
    assess(in, &best, 24, 22, 1, 1);  // more accurate, larger sum
    EXPECT_TRUE(holds(best, 24, 22, 1, 1));
    assess(in, &best, 12, 11, 1, 1);  // same error, smaller sum
    EXPECT_TRUE(holds(best, 12, 11, 1, 1));
    assess(in, &best, 24, 22, 1, 1);  // same error, larger sum
    EXPECT_TRUE(holds(best, 12, 11, 1, 1));
    assess(in, &best, 1, 1, 1, 1);  // smaller sum, larger error
    EXPECT_TRUE(holds(best, 12, 11, 1, 1));
}

TEST(AssessCandidate, ErrorsWithinTheTieToleranceLeaveItToTheSum) {
    // Errors near 1 Hz are 2.2e-16 apart: two of them differ by less than 1e-15 and tie.
    const TwoStageRequest in = search_request(1.0, 1.0, SearchMode::custom_limit, 65535, true);
    CascadeRecord best = make_empty_record();
    best.found = true;
    best.final_match = false;
    best.final_error = 1.0 + 4e-16;
    best.overall_sum = 5;
    CascadeRecord stored = best;
    assess(in, &best, 1, 2, 1, 1);  // 0.5 Hz: error 0.5
    EXPECT_TRUE(holds(best, 1, 2, 1, 1));
    best = stored;
    best.final_error = 0.5 + 5e-16;  // within 1e-15 of the candidate's error, smaller sum wins
    best.overall_sum = 6;
    assess(in, &best, 1, 2, 1, 1);
    EXPECT_TRUE(holds(best, 1, 2, 1, 1));
    best = stored;
    best.final_error = 0.5 + 5e-16;
    best.overall_sum = 5;  // equal sum: no
    assess(in, &best, 1, 2, 1, 1);
    EXPECT_FALSE(holds(best, 1, 2, 1, 1));
}

TEST(AssessCandidate, StrictPriorityStoresOnlyIntermediateMatches) {
    const TwoStageRequest in = search_request(44100, 48000, SearchMode::custom_limit, 1000, false,
                                              12345, Priority::strict);
    CascadeRecord best = make_empty_record();
    for (long long l1 = 1; l1 <= 40; ++l1) {
        for (long long m1 = 1; m1 <= l1; ++m1) assess(in, &best, l1, m1, 160, 147);
    }
    EXPECT_TRUE(same_record(best, make_empty_record()));
}

TEST(AssessCandidate, FinalRatePriorityPrefersTheCloserIntermediateRate) {
    const TwoStageRequest in =
        search_request(44100, 48000, SearchMode::custom_limit, 1000, false, 50000, Priority::final);
    CascadeRecord best = make_empty_record();
    assess(in, &best, 1, 1, 1, 1);  // 44100 Hz between stages, final error 3900 Hz
    assess(in, &best, 8, 7, 2, 1);  // 50400 Hz between stages, final error 52800 Hz
    EXPECT_TRUE(holds(best, 8, 7, 2, 1));
    assess(in, &best, 1, 1, 12, 11);  // more accurate, but farther from the target
    EXPECT_TRUE(holds(best, 8, 7, 2, 1));
    assess(in, &best, 10, 7, 16, 21);  // a final match beats a miss
    EXPECT_TRUE(holds(best, 10, 7, 16, 21));
}

TEST(AssessCandidate, DualFlagOnlyInCustomLimitMode) {
    TwoStageRequest in = search_request(44100, 48000, SearchMode::custom_limit, 1000, false, 96000,
                                        Priority::balanced);
    CascadeRecord best = make_empty_record();
    bool dual = false;
    assess(in, &best, 10, 7, 16, 21, &dual);
    EXPECT_FALSE(dual);
    assess(in, &best, 320, 147, 420, 840, &dual);
    EXPECT_TRUE(holds(best, 320, 147, 420, 840));
    EXPECT_TRUE(best.intermediate_match);
    EXPECT_TRUE(dual);

    in.mode = SearchMode::minimal_sum;
    best = make_empty_record();
    dual = false;
    assess(in, &best, 320, 147, 420, 840, &dual);
    EXPECT_TRUE(best.found);
    EXPECT_FALSE(dual);
}

TEST(PrefersEveryPeer, OnlyAClearWinLetsTheOldBoundsStand) {
    // A record replaced by one nearer the target: whatever ties with the new record by
    // the priority must beat the old one outright, which holds only beyond twice the tie
    // tolerance of the intermediate errors (1e-15 Hz each).
    const TwoStageRequest in =
        search_request(44100, 48000, SearchMode::custom_limit, 1000, false, 1e-3, Priority::final);
    CascadeRecord before = make_empty_record();
    before.found = true;
    before.final_match = true;
    before.intermediate_error = 4e-15;
    CascadeRecord now = before;
    now.intermediate_error = 1e-15;  // 3e-15 nearer
    EXPECT_TRUE(quillmere::core::prefers_every_peer(now, before, in));
    now.intermediate_error = 2.5e-15;  // nearer, stored, but a peer at 3.5e-15 only ties
    EXPECT_FALSE(quillmere::core::prefers_every_peer(now, before, in));
    // Far from the target the tolerance drowns in the rounding: nearer by one unit in the
    // last place is not clear, by some ten thousand it is.
    before.intermediate_error = 1e12;
    now.intermediate_error = std::nextafter(1e12, 0.0);
    EXPECT_FALSE(quillmere::core::prefers_every_peer(now, before, in));
    now.intermediate_error = 1e12 - 0.01;
    EXPECT_TRUE(quillmere::core::prefers_every_peer(now, before, in));
    // A final match the old record lacked is clear at any distance.
    before.final_match = false;
    now.intermediate_error = 5e12;
    EXPECT_TRUE(quillmere::core::prefers_every_peer(now, before, in));
    // An empty record is beaten by everything.
    EXPECT_TRUE(quillmere::core::prefers_every_peer(now, make_empty_record(), in));
}

TEST(AssessCandidate, WithoutTargetThePriorityIsIgnored) {
    const TwoStageRequest in =
        search_request(44100, 48000, SearchMode::custom_limit, 1000, false, 0.0, Priority::strict);
    CascadeRecord best = make_empty_record();
    assess(in, &best, 1, 1, 1, 1);
    EXPECT_TRUE(best.found);
    EXPECT_EQ(best.achieved_intermediate_rate, 44100.0);
    EXPECT_EQ(best.intermediate_error, INF);
}

}  // namespace
