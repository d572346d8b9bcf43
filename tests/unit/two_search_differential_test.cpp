// The program's two-stage search against the plain reference search on many requests:
// record, status, counts and everything an observer sees must be the same.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "records.h"
#include "search_runs.h"

namespace {

using quillmere::Priority;
using quillmere::SearchMode;
using quillmere::TwoStageRequest;
using quillmere::core::CascadeRecord;
using quillmere::core::FactorPair;
using quillmere::core::SearchOutcome;

/// Every priority, and two values that name none (which the search judges as refused).
const Priority PRIORITIES[] = {Priority::strict,          Priority::final,
                               Priority::balanced,        Priority::ignore,
                               static_cast<Priority>(-1), static_cast<Priority>(7)};

/// Reference g/h iterations all random requests together may cost (about 30 ns each).
constexpr std::uint64_t REFERENCE_BUDGET = 12000000;
/// Reference g/h iterations one request may cost.
constexpr std::uint64_t REQUEST_BUDGET = 3000000;

/// Deterministic on every platform, unlike the standard distributions.
struct Dice {
    std::mt19937_64 engine;
    std::uint64_t below(std::uint64_t n) { return engine() % n; }
    bool chance(std::uint64_t percent) { return below(100) < percent; }
    double unit() { return static_cast<double>(engine() >> 11) * 0x1.0p-53; }
};

const std::vector<double> COMMON_RATES = {8000,
                                          11025,
                                          12000,
                                          16000,
                                          22050,
                                          24000,
                                          32000,
                                          37800,
                                          44055.944055944055,
                                          44100,
                                          47952.047952047952,
                                          48000,
                                          48048,
                                          50000,
                                          64000,
                                          88200,
                                          96000,
                                          176400,
                                          192000,
                                          352800,
                                          384000,
                                          705600,
                                          768000,
                                          2822400,
                                          5644800,
                                          19200,
                                          9600,
                                          240000,
                                          250000,
                                          1e6,
                                          1.92e6,
                                          2.048e6,
                                          2.4e6,
                                          2.5e6,
                                          3.2e6,
                                          6.144e6,
                                          10e6,
                                          27e6,
                                          13.5e6,
                                          74.25e6,
                                          1.0,
                                          3.0,
                                          7.5};

double pick_rate(Dice* dice) {
    if (dice->chance(70)) return COMMON_RATES[dice->below(COMMON_RATES.size())];
    // A random decimal between 1 Hz and about 1 MHz, with at most three decimals.
    const double magnitude = std::pow(10.0, dice->unit() * 6.0);
    return std::round(magnitude * 1000.0) / 1000.0 + 1.0;
}

TwoStageRequest random_request(Dice* dice) {
    const double input = pick_rate(dice);
    double output = pick_rate(dice);
    const std::uint64_t kind = dice->below(10);
    if (kind == 0) output = input;                                                        // ratio 1
    if (kind == 1) output = input * (1.0 + 1e-6 * static_cast<double>(dice->below(50)));  // near 1
    if (kind == 2) {
        output = input * static_cast<double>(dice->below(7) + 1) /
                 static_cast<double>(dice->below(7) + 1);
    }

    const SearchMode mode = dice->chance(40) ? SearchMode::minimal_sum : SearchMode::custom_limit;
    long long max_factor = static_cast<long long>(std::pow(10.0, dice->unit() * 3.5));
    if (max_factor < 1) max_factor = 1;
    if (mode == SearchMode::minimal_sum && dice->chance(30))
        max_factor = quillmere::max_factor_limit;
    TwoStageRequest in = search_request(input, output, mode, max_factor, dice->chance(40));

    if (dice->chance(65)) {
        const Priority priority = PRIORITIES[dice->below(4)];
        double target = 0.0;
        switch (dice->below(5)) {
        case 0:
        case 1:  // reachable by some first stage, often only with common factors
            target = input * static_cast<double>(dice->below(200) + 1) /
                     static_cast<double>(dice->below(200) + 1);
            break;
        case 2: target = output * static_cast<double>(dice->below(4) + 1); break;
        case 3: target = std::max(input, output) * 2; break;
        default: target = pick_rate(dice); break;
        }
        in.intermediate_target = quillmere::IntermediateTarget{target, priority};
    }
    return in;
}

/// Runs both searches and compares everything they let an observer see; returns the
/// reference record.
CascadeRecord expect_same_search(const TwoStageRequest& in) {
    const SearchRun fast = run_search(quillmere::core::search_two_stage, in);
    const SearchRun reference = run_search(quillmere::core::search_two_stage_reference, in);
    const CascadeRecord& f = fast.outcome.best;
    const CascadeRecord& p = reference.outcome.best;
    EXPECT_EQ(fast.outcome.status, reference.outcome.status) << describe(in);
    EXPECT_TRUE(same_record(f, p))
        << describe(in) << "\nfast " << f.l1 << "/" << f.m1 << " " << f.l2 << "/" << f.m2
        << " reference " << p.l1 << "/" << p.m1 << " " << p.l2 << "/" << p.m2;
    EXPECT_EQ(fast.outcome.convergent_count, reference.outcome.convergent_count) << describe(in);
    EXPECT_EQ(fast.outcome.common_factor_iterations, reference.outcome.common_factor_iterations)
        << describe(in);
    EXPECT_EQ(fast.events.trace, reference.events.trace) << describe(in);
    return p;
}

/// Whether the cascade came from the common-factor pass with g*h > 1: plain splits of a
/// convergent keep L1*L2 and M1*M2 coprime.
bool widened_by_common_factors(const CascadeRecord& r) {
    if (!r.found) return false;
    return std::gcd(r.l1 * r.l2, r.m1 * r.m2) > 1;
}

/// A request from common audio rates whose intermediate target some first stage meets,
/// often only once widened by common factors.
TwoStageRequest audio_target_request(Dice* dice) {
    static const double audio[] = {8000,  11025, 16000, 22050, 32000,
                                   44100, 48000, 88200, 96000, 192000};
    const double input = audio[dice->below(10)];
    const double output = audio[dice->below(10)];
    const SearchMode mode = dice->chance(75) ? SearchMode::custom_limit : SearchMode::minimal_sum;
    const long long max_factor = 20 + static_cast<long long>(std::pow(10.0, dice->unit() * 3.3));
    const double target =
        input * static_cast<double>(dice->below(60) + 1) / static_cast<double>(dice->below(60) + 1);
    const Priority priority = PRIORITIES[dice->below(3)];
    return search_request(input, output, mode, max_factor, dice->chance(50), target, priority);
}

/// Compares up to `wanted` generated requests within the reference budget; returns how
/// many were compared and how many of those the common-factor pass decided.
std::pair<int, int> compare_generated(TwoStageRequest (*generate)(Dice*), std::uint64_t seed,
                                      int wanted) {
    Dice dice{std::mt19937_64{seed}};
    std::uint64_t spent = 0;
    int compared = 0;
    int widened = 0;
    for (int attempt = 0; attempt < 20 * wanted && compared < wanted && spent < REFERENCE_BUDGET;
         ++attempt) {
        const TwoStageRequest in = generate(&dice);
        // The fast search's own count tells what the reference would cost.
        const quillmere::core::SearchContext silent;
        const std::uint64_t cost =
            quillmere::core::search_two_stage(silent, in).common_factor_iterations;
        if (cost > REQUEST_BUDGET) continue;
        spent += cost;
        if (widened_by_common_factors(expect_same_search(in))) ++widened;
        ++compared;
        if (testing::Test::HasFailure()) break;
    }
    std::printf(
        "%d requests compared (%d decided by common factors), %llu reference "
        "iterations\n",
        compared, widened, static_cast<unsigned long long>(spent));
    return {compared, widened};
}

TEST(FastSearchMatchesReference, RandomRequests) {
    const auto [compared, widened] = compare_generated(random_request, 20240611, 400);
    EXPECT_GE(compared, 300);
    // Enough of them must be decided in the common-factor pass to exercise its pruning.
    EXPECT_GE(widened, 15);
}

TEST(FastSearchMatchesReference, TargetsReachedThroughCommonFactors) {
    const auto [compared, widened] = compare_generated(audio_target_request, 7, 250);
    EXPECT_GE(compared, 150);
    EXPECT_GE(widened, 50);
}

TEST(FastSearchMatchesReference, EveryPriorityOnTheWorkedRates) {
    for (const SearchMode mode : {SearchMode::custom_limit, SearchMode::minimal_sum}) {
        for (const bool allow : {false, true}) {
            for (const long long max_factor : {1LL, 7LL, 160LL, 441LL, 1000LL}) {
                expect_same_search(search_request(44100, 48000, mode, max_factor, allow));
                expect_same_search(search_request(48000, 44100, mode, max_factor, allow));
                for (const Priority priority : PRIORITIES) {
                    for (const double target : {96000.0, 63000.0, 44100.0, 12345.0}) {
                        expect_same_search(search_request(44100, 48000, mode, max_factor, allow,
                                                          target, priority));
                    }
                }
            }
        }
    }
}

TEST(FastSearchMatchesReference, TargetsBeyondReach) {
    // A target far above or below every intermediate rate within the limit: each g stores
    // a nearer cascade than the last, and the pass skips on bounds derived records ago; a
    // target below the input rate leaves no nearer rate to a first stage that may not
    // decimate.
    for (const SearchMode mode : {SearchMode::custom_limit, SearchMode::minimal_sum}) {
        for (const bool allow : {false, true}) {
            for (const Priority priority : {Priority::final, Priority::balanced, Priority::strict,
                                            Priority::ignore}) {
                for (const auto& [in, out, limit, target] :
                     {std::tuple{8000.0, 8000.0, 600LL, 8.8e10},
                      std::tuple{50.0, 16000.0, 900LL, 9e9},
                      std::tuple{2.0, 22050.0, 700LL, 768000.0},
                      std::tuple{192000.0, 24000.0, 500LL, 1e-3},
                      std::tuple{44100.0, 48000.0, 1200LL, 7e7},
                      std::tuple{32000.0, 8000.0, 1500LL, 11025.0}}) {
                    expect_same_search(
                        search_request(in, out, mode, limit, allow, target, priority));
                }
            }
        }
    }
}

TEST(FastSearchMatchesReference, UnsplittableNumeratorsAndOddRates) {
    const SearchMode custom = SearchMode::custom_limit;
    // Numerators far above the limit squared, which the fast search does not factor.
    expect_same_search(search_request(358, 306509050969.0, SearchMode::minimal_sum, 60));
    expect_same_search(search_request(358, 306509050969.0, custom, 90));
    expect_same_search(search_request(1, 1e13, custom, 300, false, 5e6, Priority::final));
    // A common-factor candidate whose computed ratio is a neighbour of L/M itself.
    expect_same_search(search_request(414.614, 276.40933333333334, custom, 178));
    // Ratios below one, tiny and huge rates, targets that are not positive.
    expect_same_search(search_request(1e13, 1, custom, 300, true));
    expect_same_search(search_request(1e-5, 3e-5, custom, 200, false, 2e-5, Priority::balanced));
    expect_same_search(search_request(44100e255, 48000e255, custom, 200));
    expect_same_search(search_request(4.41e307, 4.8e307, custom, 200, true));
    expect_same_search(search_request(44100, 48000, custom, 200, true, -5.0, Priority::final));
    // Large per-stage limits with cheap reference scans.
    expect_same_search(search_request(44100, 48000, custom, 3000, false, 96000, Priority::final));
    expect_same_search(search_request(48000, 48000, custom, 1500, true, 96000, Priority::strict));
    expect_same_search(search_request(48000, 48000, SearchMode::minimal_sum, 1500, false, 96000,
                                      Priority::strict));
}

/// The common-factor pass alone, from a given record, with its events recorded.
struct PassRun {
    quillmere::core::SearchState state;
    std::uint64_t iterations = 0;
    std::string trace;
};

PassRun run_pass(quillmere::core::CommonFactorPass pass, const TwoStageRequest& in,
                 const CascadeRecord& start, const quillmere::core::FactorPairList& l_pairs,
                 const quillmere::core::FactorPairList& m_pairs) {
    PassRun run;
    run.state.best = start;
    SearchEvents events;
    quillmere::SolveOptions options;
    options.observer = &events;
    const quillmere::core::SearchContext context(options);
    const quillmere::core::SearchTerms terms{in};
    quillmere::core::CommonFactorProgress progress;
    progress.context = &context;
    pass(quillmere::core::CommonFactorScan{context, terms, &run.state, l_pairs, m_pairs},
         &progress);
    quillmere::core::progress_write_pending(&progress);
    run.trace = events.trace;
    run.iterations = progress.iterations;
    return run;
}

/// Nudges a measured error by amounts around the tie tolerance.
double nudge(Dice* dice, double error) {
    static const double steps[] = {0.0, 0.0, 0.0, 4e-16, -4e-16, 1e-15, -1e-15, 3e-15, -3e-15};
    const double nudged = error + steps[dice->below(9)];
    return nudged < 0.0 ? 0.0 : nudged;
}

TEST(FastPassMatchesPlainPass, FromRecordsAtTheTieBoundaries) {
    // The pass must be exact whatever the stored record: start both passes from the
    // measures of one of the pass's own candidates, nudged around every tie rule.
    Dice dice{std::mt19937_64{99}};
    std::uint64_t spent = 0;
    for (int trial = 0; trial < 1500 && spent < REFERENCE_BUDGET && !HasFailure(); ++trial) {
        const long long l_simplest = static_cast<long long>(dice.below(60)) + 1;
        const long long m_simplest = static_cast<long long>(dice.below(60)) + 1;
        const double input =
            dice.chance(50) ? 44100.0 : 1.0 + static_cast<double>(dice.below(20000)) / 7.0;
        const double output =
            input * static_cast<double>(l_simplest) / static_cast<double>(m_simplest);
        TwoStageRequest in = search_request(
            input, output, dice.chance(70) ? SearchMode::custom_limit : SearchMode::minimal_sum,
            10 + static_cast<long long>(dice.below(400)), dice.chance(50));
        quillmere::core::FactorPairList l_pairs;
        quillmere::core::FactorPairList m_pairs;
        ASSERT_EQ(quillmere::core::find_integer_factor_pairs(l_simplest, &l_pairs),
                  quillmere::Status::ok);
        ASSERT_EQ(quillmere::core::find_integer_factor_pairs(m_simplest, &m_pairs),
                  quillmere::Status::ok);

        // One candidate of the pass, measured by a permissive assessment.
        const FactorPair a = l_pairs[dice.below(l_pairs.size())];
        const FactorPair b = m_pairs[dice.below(m_pairs.size())];
        const long long g = 1 + static_cast<long long>(dice.below(5));
        const long long h = 1 + static_cast<long long>(dice.below(5));
        TwoStageRequest permissive = in;
        permissive.max_factor = LLONG_MAX;
        permissive.allow_first_stage_decimation = true;
        quillmere::core::SearchState measured;
        quillmere::core::assess_two_stage_candidate(
            quillmere::core::Cascade{g * a.factor, h * b.factor, h * a.cofactor, g * b.cofactor},
            quillmere::core::SearchTerms{permissive}, &measured);
        CascadeRecord start = measured.best;
        ASSERT_TRUE(start.found);
        if (dice.chance(70)) {
            // Half of the targets are met by the chosen candidate itself.
            const Priority priority = PRIORITIES[dice.below(4)];
            const double target = dice.chance(50)
                                      ? start.achieved_intermediate_rate
                                      : input * static_cast<double>(dice.below(30) + 1) /
                                            static_cast<double>(dice.below(30) + 1);
            in.intermediate_target = quillmere::IntermediateTarget{target, priority};
        }
        start.overall_sum += static_cast<long long>(dice.below(5)) - 2;
        start.final_error = nudge(&dice, start.final_error);
        if (in.intermediate_target) {
            start.intermediate_error = nudge(&dice, std::fabs(start.achieved_intermediate_rate -
                                                              in.intermediate_target->rate_hz));
            start.intermediate_match = dice.chance(50);
        }
        if (dice.chance(15)) start.final_match = !start.final_match;

        const PassRun plain =
            run_pass(quillmere::core::scan_common_factors_plain, in, start, l_pairs, m_pairs);
        spent += plain.iterations;
        const PassRun fast =
            run_pass(quillmere::core::scan_common_factors_fast, in, start, l_pairs, m_pairs);
        EXPECT_TRUE(same_record(fast.state.best, plain.state.best))
            << describe(in) << " L/M " << l_simplest << "/" << m_simplest << " trial " << trial;
        EXPECT_EQ(fast.state.dual_match_found, plain.state.dual_match_found) << describe(in);
        EXPECT_EQ(fast.iterations, plain.iterations) << describe(in);
        EXPECT_EQ(fast.trace, plain.trace) << describe(in);
    }
}

TEST(FastSearch, LimitBelowOneRefusesEverythingWithoutFactoring) {
    // The reference factors numerators up to 2^63 here, for seconds; the outcome is known:
    // the convergent pass stores nothing and each of the 18 splits of 160/147 gets one
    // refused g/h candidate.
    for (const long long max_factor : {0LL, -3LL}) {
        const SearchRun r =
            run_search(quillmere::core::search_two_stage,
                       search_request(44100, 48000, SearchMode::custom_limit, max_factor, true));
        EXPECT_EQ(r.outcome.status, quillmere::Status::not_found);
        EXPECT_FALSE(r.outcome.best.found);
        EXPECT_GT(r.outcome.convergent_count, 5);
        EXPECT_EQ(r.outcome.common_factor_iterations, 18u);
        EXPECT_EQ(r.events.totals.back(), 18u);
        EXPECT_TRUE(r.events.done(quillmere::SearchPass::common_factors));
    }
}

}  // namespace
