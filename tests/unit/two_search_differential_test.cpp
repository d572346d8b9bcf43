// The program's two-stage search against the plain reference search on many requests:
// record, status, counts and every byte of output must be the same.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "two_test_support.h"

namespace {

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

UserInputs random_request(Dice* dice) {
    const double input = pick_rate(dice);
    double output = pick_rate(dice);
    const std::uint64_t kind = dice->below(10);
    if (kind == 0) output = input;                                   // ratio 1
    if (kind == 1) output = input * (1.0 + 1e-6 * dice->below(50));  // near 1
    if (kind == 2) output = input * (dice->below(7) + 1) / (dice->below(7) + 1);

    const int mode = dice->chance(40) ? SEARCH_MODE_MINIMAL_SUM : SEARCH_MODE_CUSTOM_LIMIT;
    long long max_lm = static_cast<long long>(std::pow(10.0, dice->unit() * 3.5));
    if (max_lm < 1) max_lm = 1;
    if (mode == SEARCH_MODE_MINIMAL_SUM && dice->chance(30)) max_lm = MAX_LM_LIMIT;
    UserInputs in = two_stage_request(input, output, mode, max_lm, dice->chance(40));

    if (dice->chance(65)) {
        in.has_intermediate_target = true;
        in.priority = static_cast<int>(dice->below(4)) + 1;
        switch (dice->below(5)) {
        case 0:
        case 1:  // reachable by some first stage, often only with common factors
            in.target_intermediate_rate =
                input * static_cast<double>(dice->below(200) + 1) / (dice->below(200) + 1);
            break;
        case 2: in.target_intermediate_rate = output * (dice->below(4) + 1); break;
        case 3: in.target_intermediate_rate = std::max(input, output) * 2; break;
        default: in.target_intermediate_rate = pick_rate(dice); break;
        }
    }
    return in;
}

std::string describe(const UserInputs& in) {
    char text[256];
    std::snprintf(text, sizeof text,
                  "in=%.17g out=%.17g mode=%d max_lm=%lld allow=%d target=%.17g (%d) prio=%d",
                  in.input_rate, in.output_rate, in.search_mode, in.max_lm,
                  in.allow_m1_gt_l1 ? 1 : 0, in.target_intermediate_rate,
                  in.has_intermediate_target ? 1 : 0, in.priority);
    return text;
}

/// Runs both searches and compares everything they let an observer see; returns the
/// reference record.
CascadeRecord expect_same_search(const UserInputs& in) {
    const SearchRun fast = run_search(perform_two_stage_search_counted, in);
    const SearchRun reference = run_search(perform_two_stage_search_reference, in);
    EXPECT_EQ(fast.status, reference.status) << describe(in);
    EXPECT_TRUE(same_record(fast.best, reference.best))
        << describe(in) << "\nfast " << fast.best.l1 << "/" << fast.best.m1 << " " << fast.best.l2
        << "/" << fast.best.m2 << " reference " << reference.best.l1 << "/" << reference.best.m1
        << " " << reference.best.l2 << "/" << reference.best.m2;
    EXPECT_EQ(fast.convergent_count, reference.convergent_count) << describe(in);
    EXPECT_EQ(fast.iterations, reference.iterations) << describe(in);
    EXPECT_EQ(fast.out, reference.out) << describe(in);
    EXPECT_EQ(fast.err, reference.err) << describe(in);
    return reference.best;
}

/// Whether the cascade came from the common-factor pass with g*h > 1: plain splits of a
/// convergent keep L1*L2 and M1*M2 coprime.
bool widened_by_common_factors(const CascadeRecord& r) {
    if (!r.found) return false;
    return std::gcd(r.l1 * r.l2, r.m1 * r.m2) > 1;
}

/// A request from common audio rates whose intermediate target some first stage meets,
/// often only once widened by common factors.
UserInputs audio_target_request(Dice* dice) {
    static const double audio[] = {8000,  11025, 16000, 22050, 32000,
                                   44100, 48000, 88200, 96000, 192000};
    const double input = audio[dice->below(10)];
    const double output = audio[dice->below(10)];
    const int mode = dice->chance(75) ? SEARCH_MODE_CUSTOM_LIMIT : SEARCH_MODE_MINIMAL_SUM;
    const long long max_lm = 20 + static_cast<long long>(std::pow(10.0, dice->unit() * 3.3));
    const double target = input * static_cast<double>(dice->below(60) + 1) / (dice->below(60) + 1);
    const int priority = static_cast<int>(dice->below(3)) + 1;
    return two_stage_request(input, output, mode, max_lm, dice->chance(50), target, priority);
}

/// Compares up to `wanted` generated requests within the reference budget; returns how
/// many were compared and how many of those the common-factor pass decided.
std::pair<int, int> compare_generated(UserInputs (*generate)(Dice*), std::uint64_t seed,
                                      int wanted) {
    Dice dice{std::mt19937_64{seed}};
    std::uint64_t spent = 0;
    int compared = 0;
    int widened = 0;
    for (int attempt = 0; attempt < 20 * wanted && compared < wanted && spent < REFERENCE_BUDGET;
         ++attempt) {
        const UserInputs in = generate(&dice);
        // The fast search's own count tells what the reference would cost.
        const SearchRun probe = run_search(perform_two_stage_search_counted, in);
        if (probe.iterations > REQUEST_BUDGET) continue;
        spent += probe.iterations;
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
    for (const int mode : {SEARCH_MODE_CUSTOM_LIMIT, SEARCH_MODE_MINIMAL_SUM}) {
        for (const bool allow : {false, true}) {
            for (const long long max_lm : {1LL, 7LL, 160LL, 441LL, 1000LL}) {
                expect_same_search(two_stage_request(44100, 48000, mode, max_lm, allow));
                expect_same_search(two_stage_request(48000, 44100, mode, max_lm, allow));
                for (int priority = 0; priority <= 5; ++priority) {
                    for (const double target : {96000.0, 63000.0, 44100.0, 12345.0}) {
                        expect_same_search(
                            two_stage_request(44100, 48000, mode, max_lm, allow, target, priority));
                    }
                }
            }
        }
    }
}

TEST(FastSearchMatchesReference, UnsplittableNumeratorsAndOddRates) {
    // Numerators far above the limit squared, which the fast search does not factor.
    expect_same_search(two_stage_request(358, 306509050969.0, SEARCH_MODE_MINIMAL_SUM, 60));
    expect_same_search(two_stage_request(358, 306509050969.0, SEARCH_MODE_CUSTOM_LIMIT, 90));
    expect_same_search(two_stage_request(1, 1e13, SEARCH_MODE_CUSTOM_LIMIT, 300, false, 5e6, 2));
    // A common-factor candidate whose computed ratio is a neighbour of L/M itself.
    expect_same_search(
        two_stage_request(414.614, 276.40933333333334, SEARCH_MODE_CUSTOM_LIMIT, 178));
    // Ratios below one, tiny and huge rates, targets that are not positive.
    expect_same_search(two_stage_request(1e13, 1, SEARCH_MODE_CUSTOM_LIMIT, 300, true));
    expect_same_search(
        two_stage_request(1e-5, 3e-5, SEARCH_MODE_CUSTOM_LIMIT, 200, false, 2e-5, 3));
    expect_same_search(two_stage_request(44100e255, 48000e255, SEARCH_MODE_CUSTOM_LIMIT, 200));
    expect_same_search(two_stage_request(4.41e307, 4.8e307, SEARCH_MODE_CUSTOM_LIMIT, 200, true));
    expect_same_search(
        two_stage_request(44100, 48000, SEARCH_MODE_CUSTOM_LIMIT, 200, true, -5.0, 2));
    // Large per-stage limits with cheap reference scans.
    expect_same_search(two_stage_request(44100, 48000, SEARCH_MODE_CUSTOM_LIMIT, 3000, false, 96000,
                                         PRIORITIZE_FINAL_RATE));
    expect_same_search(two_stage_request(48000, 48000, SEARCH_MODE_CUSTOM_LIMIT, 1500, true, 96000,
                                         PRIORITIZE_STRICT_INTERMEDIATE));
    expect_same_search(two_stage_request(48000, 48000, SEARCH_MODE_MINIMAL_SUM, 1500, false, 96000,
                                         PRIORITIZE_STRICT_INTERMEDIATE));
}

/// The common-factor pass alone, from a given record, with its output captured.
struct PassRun {
    CascadeRecord best;
    bool dual;
    std::uint64_t iterations;
    std::string out;
};

PassRun run_pass(CommonFactorPass pass, const UserInputs& in, const CascadeRecord& start,
                 const FactorPairList& l_pairs, const FactorPairList& m_pairs) {
    PassRun run{start, false, 0, ""};
    const SearchRequest request = search_request(in, in.max_lm, in.search_mode);
    StringSink out;
    ProgressDots line(out, request.mode);
    quillmere::SolveOptions options;
    options.observer = &line;
    const SearchContext context(options);
    CommonFactorProgress progress;
    progress.context = &context;
    const CommonFactorScan scan{&context,      &request,     request.max_lm, request.mode,
                                &run.best,     &run.dual,    l_pairs.items,  l_pairs.count,
                                m_pairs.items, m_pairs.count};
    pass(scan, &progress);
    progress_write_pending(&progress);
    run.out = out.text();
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
        const double input = dice.chance(50) ? 44100.0 : 1.0 + dice.below(20000) / 7.0;
        const double output = input * static_cast<double>(l_simplest) / m_simplest;
        UserInputs in = two_stage_request(
            input, output, dice.chance(70) ? SEARCH_MODE_CUSTOM_LIMIT : SEARCH_MODE_MINIMAL_SUM,
            10 + static_cast<long long>(dice.below(400)), dice.chance(50));
        FactorPairList l_pairs;
        FactorPairList m_pairs;
        ASSERT_EQ(find_integer_factor_pairs(l_simplest, &l_pairs.items, &l_pairs.count),
                  Status::ok);
        ASSERT_EQ(find_integer_factor_pairs(m_simplest, &m_pairs.items, &m_pairs.count),
                  Status::ok);

        // One candidate of the pass, measured by a permissive assessment.
        const FactorPair a = l_pairs.items[dice.below(l_pairs.count)];
        const FactorPair b = m_pairs.items[dice.below(m_pairs.count)];
        const long long g = 1 + static_cast<long long>(dice.below(5));
        const long long h = 1 + static_cast<long long>(dice.below(5));
        UserInputs permissive = in;
        permissive.priority = PRIORITIZE_IGNORE_INTERMEDIATE;
        permissive.allow_m1_gt_l1 = true;
        CascadeRecord start = make_empty_record();
        assess_candidate_and_update(g * a.factor, h * b.factor, h * a.cofactor, g * b.cofactor,
                                    LLONG_MAX, &permissive, in.search_mode, &start, nullptr);
        ASSERT_TRUE(start.found);
        if (dice.chance(70)) {
            // Half of the targets are met by the chosen candidate itself.
            in.has_intermediate_target = true;
            in.priority = static_cast<int>(dice.below(4)) + 1;
            in.target_intermediate_rate = dice.chance(50)
                                              ? start.achieved_intermediate_rate
                                              : input * (dice.below(30) + 1) / (dice.below(30) + 1);
        }
        start.overall_sum += static_cast<long long>(dice.below(5)) - 2;
        start.final_error = nudge(&dice, start.final_error);
        if (in.has_intermediate_target) {
            start.intermediate_error = nudge(
                &dice, std::fabs(start.achieved_intermediate_rate - in.target_intermediate_rate));
            start.intermediate_match = dice.chance(50);
        }
        if (dice.chance(15)) start.final_match = !start.final_match;

        const PassRun plain = run_pass(scan_common_factors_plain, in, start, l_pairs, m_pairs);
        spent += plain.iterations;
        const PassRun fast = run_pass(scan_common_factors_fast, in, start, l_pairs, m_pairs);
        EXPECT_TRUE(same_record(fast.best, plain.best))
            << describe(in) << " L/M " << l_simplest << "/" << m_simplest << " trial " << trial;
        EXPECT_EQ(fast.dual, plain.dual) << describe(in);
        EXPECT_EQ(fast.iterations, plain.iterations) << describe(in);
        EXPECT_EQ(fast.out, plain.out) << describe(in);
    }
}

TEST(FastSearch, LimitBelowOneRefusesEverythingWithoutFactoring) {
    // The reference factors numerators up to 2^63 here, for seconds; the outcome is known:
    // the convergent pass stores nothing and each of the 18 splits of 160/147 gets one
    // refused g/h candidate.
    for (const long long max_lm : {0LL, -3LL}) {
        const SearchRun r =
            run_search(perform_two_stage_search_counted,
                       two_stage_request(44100, 48000, SEARCH_MODE_CUSTOM_LIMIT, max_lm, true));
        EXPECT_EQ(r.status, STATUS_FAILURE);
        EXPECT_FALSE(r.best.found);
        EXPECT_GT(r.convergent_count, 5);
        EXPECT_EQ(r.iterations, 18u);
        EXPECT_EQ(r.out, "Progress (checking g/h factors): .\n");
    }
}

}  // namespace
