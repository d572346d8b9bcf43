// The min-cost search mode: its orders (the first search's lower estimate; the second's
// price tied with the first's, then coefficients, then sum), the pruned common-factor pass
// against an exhaustive scan, the floor the pruning stands on, and the library's refusals.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numeric>
#include <optional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "core/candidate.h"
#include "core/cost_floor.h"
#include "core/filter_price.h"
#include "core/reference_search.h"
#include "core/two_stage_search.h"
#include "quillmere/quillmere.h"

namespace {

using quillmere::FilterSpec;
using quillmere::Priority;
using quillmere::SearchMode;
using quillmere::Stage;
using quillmere::Status;
using quillmere::TwoStageRequest;
using quillmere::core::CandidateMeasures;
using quillmere::core::CascadeRecord;

constexpr double kInf = std::numeric_limits<double>::infinity();

TwoStageRequest min_cost_request(double input, double output, long long limit, bool allow = false,
                                 double target = 0.0, Priority priority = Priority::balanced) {
    TwoStageRequest r;
    r.input_rate_hz = input;
    r.output_rate_hz = output;
    r.mode = SearchMode::min_cost;
    r.max_factor = limit;
    r.allow_first_stage_decimation = allow;
    if (target != 0.0) r.intermediate_target = quillmere::IntermediateTarget{target, priority};
    return r;
}

struct Searched {
    Status status;
    CascadeRecord best;
    int convergents;
    std::uint64_t iterations;
};

Searched run(bool pruned, const TwoStageRequest& request) {
    const quillmere::core::SearchContext context;
    const quillmere::core::SearchOutcome outcome =
        pruned ? quillmere::core::search_two_stage(context, request)
               : quillmere::core::search_two_stage_reference(context, request);
    return Searched{outcome.status, outcome.best, outcome.convergent_count,
                    outcome.common_factor_iterations};
}

CascadeRecord stored(long long sum, double macs, long long coefficients, bool match = true,
                     double error = 0.0) {
    CascadeRecord b = quillmere::core::make_empty_record();
    b.found = true;
    b.overall_sum = sum;
    b.final_match = match;
    b.final_error = error;
    b.macs_per_second = macs;
    b.coefficients = coefficients;
    return b;
}

CandidateMeasures candidate(long long sum, double macs, long long coefficients, bool match = true,
                            double error = 0.0) {
    CandidateMeasures c{sum, error, match, kInf, false};
    c.macs_per_second = macs;
    c.coefficients = coefficients;
    return c;
}

bool wins(const CandidateMeasures& c, const CascadeRecord& b) {
    return quillmere::core::wins_by_mode_order(c, b, SearchMode::min_cost);
}

TEST(MinCostOrder, FirstSearchLowerEstimateThenCoefficientsThenSum) {
    // The first search ranks by the price less two taps per phase (twice the grain), a
    // strict order: no tie window, so the order of the scan cannot decide.
    CascadeRecord b = stored(54, 1e7, 2000);
    b.macs_grain = 1e5;  // lower estimate 9.8e6
    const auto with_grain = [](CandidateMeasures c, double grain) {
        c.macs_grain = grain;
        return c;
    };
    // Many phases round the lengths up by less: cheaper MAC/s, but a higher lower estimate.
    EXPECT_FALSE(wins(with_grain(candidate(40, 9.9e6, 200000), 1e3), b));
    // Coarse phases: dearer MAC/s, a lower estimate below the record's.
    EXPECT_TRUE(wins(with_grain(candidate(400, 1.01e7, 10), 2e5), b));
    // Equal lower estimates: the fewer coefficients, then the smaller sum; all equal, the
    // record stays.
    EXPECT_TRUE(wins(with_grain(candidate(400, 1.02e7, 1999), 2e5), b));
    EXPECT_FALSE(wins(with_grain(candidate(4, 1.02e7, 2001), 2e5), b));
    EXPECT_TRUE(wins(with_grain(candidate(53, 1e7, 2000), 1e5), b));
    EXPECT_FALSE(wins(with_grain(candidate(55, 1e7, 2000), 1e5), b));
    EXPECT_FALSE(wins(with_grain(candidate(54, 1e7, 2000), 1e5), b));
}

TEST(MinCostOrder, SecondSearchJudgesTiesAgainstTheCheapestPrice) {
    // The cheapest price found: 1e7 MAC/s. The record ties with it, the candidate does
    // too and has fewer coefficients although it costs more than the record.
    const quillmere::cost_model::Price cheapest{1e7, 90000, 0.0};
    const auto wins_against = [&](const CandidateMeasures& c, const CascadeRecord& b) {
        return quillmere::core::wins_by_mode_order(c, b, SearchMode::min_cost, &cheapest);
    };
    EXPECT_TRUE(wins_against(candidate(60, 1.009e7, 500), stored(54, 1.0e7, 90000)));
    // Chained ties do not count: 1.015e7 ties with a 1.009e7 record but not with 1e7.
    EXPECT_FALSE(wins_against(candidate(60, 1.015e7, 100), stored(54, 1.009e7, 500)));
    // A record outside the tie loses to any candidate inside it, and to a cheaper one.
    EXPECT_TRUE(wins_against(candidate(60, 1.005e7, 99999), stored(54, 1.5e7, 10)));
    EXPECT_TRUE(wins_against(candidate(60, 1.4e7, 99999), stored(54, 1.5e7, 10)));
    EXPECT_FALSE(wins_against(candidate(60, 1.6e7, 1), stored(54, 1.5e7, 10)));
}

TEST(MinCostOrder, AccuracyComesBeforeThePrice) {
    // A cascade that reproduces the output rate beats any that does not...
    EXPECT_TRUE(wins(candidate(99, 9e9, 99999, true), stored(4, 0.0, 0, false, 1.0)));
    EXPECT_FALSE(wins(candidate(4, 0.0, 0, false, 1e-3), stored(99, 9e9, 99999, true)));
    // ...and among misses the smaller error wins; equal errors go by the price.
    EXPECT_TRUE(wins(candidate(99, 9e9, 99999, false, 0.5), stored(4, 0.0, 0, false, 1.0)));
    EXPECT_FALSE(wins(candidate(4, 0.0, 0, false, 2.0), stored(99, 9e9, 99999, false, 1.0)));
    EXPECT_TRUE(wins(candidate(99, 1e6, 99999, false, 1.0), stored(4, 2e6, 0, false, 1.0)));
}

TEST(MinCostOrder, AnUnpricedCandidateIsNeverStored) {
    const TwoStageRequest request = min_cost_request(44100, 48000, 65535, true);
    const quillmere::core::SearchTerms terms{request};
    quillmere::core::SearchState state;
    // 44100 -> 22050 -> 48000: the first stage cannot carry the passband.
    EXPECT_FALSE(quillmere::core::assess_two_stage_candidate(
        quillmere::core::Cascade{1, 2, 320, 147}, terms, &state));
    EXPECT_FALSE(state.best.found);
    EXPECT_TRUE(quillmere::core::assess_two_stage_candidate(quillmere::core::Cascade{10, 7, 16, 21},
                                                            terms, &state));
    const Stage stages[2] = {{10, 7}, {16, 21}};
    const quillmere::CostEstimate e = quillmere::estimate_cost(44100, stages);
    EXPECT_EQ(state.best.macs_per_second, e.total_macs_per_second);
    EXPECT_EQ(state.best.coefficients, e.total_coefficients);
}

TEST(MinCostSearch, KnownAnswers) {
    // 44100 -> 48000: the sharp transition at the lower rate costs least in one stage;
    // the cascade that passes through its first stage is found first.
    Searched s = run(true, min_cost_request(44100, 48000, 65535));
    ASSERT_EQ(s.status, Status::ok);
    EXPECT_EQ(s.best.l1, 1);
    EXPECT_EQ(s.best.m1, 1);
    EXPECT_EQ(s.best.l2, 160);
    EXPECT_EQ(s.best.m2, 147);
    EXPECT_EQ(s.iterations, 60216168u);  // the whole common-factor pass, as counted
    // 8000 -> 192000: interpolate by 2 first, where the sharp filter runs at 16 kHz.
    s = run(true, min_cost_request(8000, 192000, 65535));
    ASSERT_EQ(s.status, Status::ok);
    EXPECT_EQ(s.best.l1, 2);
    EXPECT_EQ(s.best.m1, 1);
    EXPECT_EQ(s.best.l2, 12);
    EXPECT_EQ(s.best.m2, 1);
    // 192000 -> 8000 with the first stage allowed to decimate: the mirror image.
    s = run(true, min_cost_request(192000, 8000, 65535, true));
    ASSERT_EQ(s.status, Status::ok);
    EXPECT_EQ(s.best.l1, 1);
    EXPECT_EQ(s.best.m1, 12);
    EXPECT_EQ(s.best.l2, 1);
    EXPECT_EQ(s.best.m2, 2);
}

TEST(MinCostSearch, IntermediateTargetDecidesFirst) {
    // Under the strict priority only cascades through 96000 Hz are eligible.
    const Searched s =
        run(true, min_cost_request(44100, 48000, 65535, false, 96000, Priority::strict));
    ASSERT_EQ(s.status, Status::ok);
    EXPECT_TRUE(s.best.intermediate_match);
    EXPECT_EQ(s.best.l1 * 147, s.best.m1 * 320);
    // None of them is cheaper by more than the tie.
    const Stage stages[2] = {{s.best.l1, s.best.m1}, {s.best.l2, s.best.m2}};
    const quillmere::CostEstimate chosen = quillmere::estimate_cost(44100, stages);
    for (long long g = 1; g <= 3; ++g) {
        const Stage other[2] = {{320 * g, 147 * g}, {g, 2 * g}};
        const quillmere::CostEstimate e = quillmere::estimate_cost(44100, other);
        EXPECT_LE(chosen.total_macs_per_second,
                  e.total_macs_per_second * (1 + quillmere::cost_model::macs_tie_tolerance));
    }
}

/// Deterministic on every platform, unlike the standard distributions.
struct Dice {
    std::mt19937_64 engine{20261208};
    std::uint64_t below(std::uint64_t n) { return engine() % n; }
    double unit() { return static_cast<double>(engine() >> 11) * 0x1.0p-53; }
};

/// The pruned pass kept what the exhaustive one kept: the same cascade, the same price.
void expect_same_best(const Searched& fast, const Searched& plain) {
    ASSERT_EQ(fast.status, plain.status);
    ASSERT_EQ(fast.best.found, plain.best.found);
    EXPECT_EQ(fast.best.l1, plain.best.l1);
    EXPECT_EQ(fast.best.m1, plain.best.m1);
    EXPECT_EQ(fast.best.l2, plain.best.l2);
    EXPECT_EQ(fast.best.m2, plain.best.m2);
    EXPECT_EQ(fast.best.coefficients, plain.best.coefficients);
}

/// Runs a request through the pruned and the exhaustive pass and compares what they keep.
void expect_same_choice(const TwoStageRequest& r, const std::string& label) {
    const Searched fast = run(true, r);
    const Searched plain = run(false, r);
    SCOPED_TRACE(label);
    ASSERT_EQ(fast.status, plain.status);
    EXPECT_EQ(fast.iterations, plain.iterations);
    EXPECT_EQ(fast.best.l1, plain.best.l1);
    EXPECT_EQ(fast.best.m1, plain.best.m1);
    EXPECT_EQ(fast.best.l2, plain.best.l2);
    EXPECT_EQ(fast.best.m2, plain.best.m2);
}

TEST(MinCostSearch, PrunedPassPicksWhatTheExhaustiveScanPicks) {
    const std::vector<double> rates = {8000,  11025, 16000, 22050, 24000,  32000,
                                       44100, 48000, 88200, 96000, 176400, 192000,
                                       37800, 50000, 2.4e6, 10e6,  44056,  47952};
    const std::vector<long long> limits = {12, 30, 64, 100, 160, 256, 400};
    const std::vector<FilterSpec> filters = [] {
        std::vector<FilterSpec> v(4);
        v[1].attenuation_db = 60;
        v[2].attenuation_db = 40;
        v[2].ripple_db = 0.01;  // the ripple sets the lengths
        v[3].attenuation_db = 140;
        return v;
    }();
    Dice dice;
    int compared = 0;
    int stored_by_gh = 0;
    for (int i = 0; i < 400; ++i) {
        const double in = rates[dice.below(rates.size())];
        const double out = rates[dice.below(rates.size())];
        TwoStageRequest r =
            min_cost_request(in, out, limits[dice.below(limits.size())], dice.below(2) == 1);
        r.filter = filters[dice.below(filters.size())];
        if (dice.below(3) == 0) {
            const double lo = std::min(in, out);
            const double hi = std::max(in, out);
            const double target =
                dice.below(2) == 0 ? rates[dice.below(rates.size())] : lo + (hi - lo) * 0.37;
            const Priority priorities[] = {Priority::strict, Priority::final, Priority::balanced,
                                           Priority::ignore};
            r.intermediate_target =
                quillmere::IntermediateTarget{target, priorities[dice.below(4)]};
        }
        const Searched fast = run(true, r);
        const Searched plain = run(false, r);
        SCOPED_TRACE(std::to_string(in) + " -> " + std::to_string(out) + " limit " +
                     std::to_string(r.max_factor));
        ASSERT_EQ(fast.iterations, plain.iterations);
        expect_same_best(fast, plain);
        ++compared;
        // A split of a convergent has coprime L1 and M2 (and M1 and L2); a common factor
        // g or h > 1 shows the answer came from the common-factor pass.
        if (plain.best.found && (std::gcd(plain.best.l1, plain.best.m2) > 1 ||
                                 std::gcd(plain.best.m1, plain.best.l2) > 1)) {
            ++stored_by_gh;
        }
    }
    // A few at larger limits, where the pruning skips most of the pass.
    for (const auto& [in, out, limit] :
         {std::tuple{44100.0, 48000.0, 2000LL}, std::tuple{8000.0, 192000.0, 1500LL},
          std::tuple{48000.0, 44100.0, 3000LL}, std::tuple{96000.0, 8000.0, 2500LL},
          std::tuple{24000.0, 5644800.0, 1200LL}}) {
        for (const bool allow : {false, true}) {
            expect_same_choice(min_cost_request(in, out, limit, allow),
                               std::to_string(in) + " -> " + std::to_string(out) + " limit " +
                                   std::to_string(limit));
            ++compared;
        }
    }
    // Targets no priced cascade can reach (the library refuses them, the core searches
    // them): the candidates nearest them cannot be priced and must be skipped alike.
    for (const Priority priority : {Priority::strict, Priority::final, Priority::balanced}) {
        for (const auto& [in, out, target] :
             {std::tuple{192000.0, 32000.0, 8000.0}, std::tuple{48000.0, 24000.0, 9600.0},
              std::tuple{44100.0, 48000.0, 41000.0}}) {
            expect_same_choice(min_cost_request(in, out, 700, true, target, priority),
                               std::to_string(in) + " -> " + std::to_string(out) + " target " +
                                   std::to_string(target));
            ++compared;
        }
    }
    EXPECT_EQ(compared, 419);
    EXPECT_GT(stored_by_gh, 0) << "no answer came from the common-factor pass";
}

TEST(MinCostSearch, PrunedPassPicksWhatTheScanPicksWithTargetsBeyondReachAndInASliver) {
    // Far targets make every g store a nearer cascade (the walk skips on older bounds); a
    // strict target leaves a sliver of rates where the price decides among many.
    for (const Priority priority : {Priority::final, Priority::balanced, Priority::strict}) {
        for (const auto& [in, out, limit, target] :
             {std::tuple{2.0, 22050.0, 600LL, 768000.0}, std::tuple{48000.0, 32000.0, 900LL, 1e12},
              std::tuple{22050.0, 88200.0, 1500LL, 44100.0},
              std::tuple{44100.0, 11025.0, 800LL, 15584.7},
              // below the input rate: without first-stage decimation no nearer rate exists
              std::tuple{32000.0, 8000.0, 1500LL, 11025.0}}) {
            for (const bool allow : {false, true}) {
                TwoStageRequest r = min_cost_request(in, out, limit, allow, target, priority);
                r.filter.attenuation_db = 121;
                expect_same_choice(r, std::to_string(in) + " -> " + std::to_string(out) +
                                          " target " + std::to_string(target));
            }
        }
    }
    // The first stage may not decimate and the cheapest plans lie below the input rate:
    // every g of the pass is left at once.
    for (const auto& [in, out] : {std::pair{705600.0, 176400.0}, std::pair{96000.0, 8000.0}}) {
        expect_same_choice(min_cost_request(in, out, 2000, false), std::to_string(in));
    }
}

TEST(MinCostSearch, PrunedPassPicksWhatTheScanPicksForAnyFilterRequirements) {
    // Attenuations, ripples and passbands anywhere in their ranges rather than round
    // values, rates with decimals: the price intervals and the coefficient floor of the
    // pruning see other numbers than the table's.
    Dice dice;
    int found = 0;
    for (int i = 0; i < 150; ++i) {
        const auto rate = [&] {
            return std::round(std::pow(10.0, 3.0 + 2.5 * dice.unit()) * 100.0) / 100.0;
        };
        const double in = rate();
        const double out =
            dice.below(3) == 0 ? in * static_cast<double>(dice.below(6) + 2) : rate();
        TwoStageRequest r = min_cost_request(in, out, 8 + static_cast<long long>(dice.below(250)),
                                             dice.below(2) == 1);
        r.filter.attenuation_db = 40.0 + 100.0 * dice.unit();
        r.filter.ripple_db = std::pow(10.0, -3.0 + 3.0 * dice.unit());
        if (dice.below(2) == 0) {
            r.filter.passband_hz = std::min(in, out) / 2.0 * (0.5 + 0.45 * dice.unit());
        }
        expect_same_choice(r, std::to_string(in) + " -> " + std::to_string(out) + " limit " +
                                  std::to_string(r.max_factor) + " " +
                                  std::to_string(r.filter.attenuation_db) + " dB");
        found += run(true, r).status == Status::ok ? 1 : 0;
    }
    EXPECT_GT(found, 100);  // most of them priced and found, not refused alike
}

TEST(MinCostSearch, TowardATargetAboveEveryRateThePassTakesEachCombinationsTopAtOnce) {
    // A target above every rate a pair combination reaches: its g = max_g, h = 1 candidate
    // is nearest, and the scan would store a nearer cascade at every g before it. Output
    // rates the ratio reaches exactly and ones it misses by a rounding, several pair
    // combinations, priced by Kaiser's estimate and by design methods; the record and the
    // count of iterations are the exhaustive scan's.
    const std::optional<quillmere::DesignMethod> methods[] = {
        std::nullopt, quillmere::DesignMethod::kaiser, quillmere::DesignMethod::equiripple};
    int compared = 0;
    for (const Priority priority : {Priority::final, Priority::balanced, Priority::ignore}) {
        for (const auto& [in, out, limit, target] :
             {std::tuple{88200.0, 705600.0, 700LL, 1.8e12},
              std::tuple{16000.0, 16000.0, 900LL, 1.4e9},
              std::tuple{44056.0, 47952.0, 400LL, 3.0e7},
              std::tuple{48000.0, 8000.0, 600LL, 2.9e7},
              std::tuple{2.0, 705600.0, 800LL, 24000.0}}) {
            for (const bool allow : {false, true}) {
                TwoStageRequest r = min_cost_request(in, out, limit, allow, target, priority);
                r.filter.attenuation_db = 97;
                r.filter.design_method = methods[compared % 3];
                expect_same_choice(r, std::to_string(in) + " -> " + std::to_string(out) +
                                          " target " + std::to_string(target));
                ++compared;
            }
        }
    }
    EXPECT_EQ(compared, 30);
}

TEST(MinCostFloor, NeverAboveTheRealPrice) {
    const FilterSpec filters[3] = {FilterSpec{}, FilterSpec{std::nullopt, std::nullopt, 40, 0.01},
                                   FilterSpec{18000.0, 21000.0, 130, 0.1}};
    Dice dice;
    for (const FilterSpec& filter : filters) {
        // 44100 -> 48000 through every split g a1 / h b1 of 160/147 with small g and h.
        const quillmere::core::CostFloor floor(44100, 48000, filter, 44100 / 300.0, 44100 * 300.0,
                                               quillmere::core::least_split_leaks(160, 147));
        ASSERT_TRUE(floor.usable());
        for (int i = 0; i < 3000; ++i) {
            const long long l1 = 1 + dice.below(300);
            const long long m1 = 1 + dice.below(300);
            if (l1 == 1 && m1 == 1) continue;
            // L2/M2 completes 160/147: the split of common factor g = l1 (and h = m1).
            const long long l2 = 160 * m1;
            const long long m2 = 147 * l1;
            const Stage stages[2] = {{l1, m1}, {l2, m2}};
            quillmere::cost_model::Price price;
            if (quillmere::cost_model::price_cascade(44100, stages, 2, filter, &price) !=
                quillmere::cost_model::Refusal::none) {
                continue;
            }
            const double f1 = 44100.0 * static_cast<double>(l1) / static_cast<double>(m1);
            const auto split = floor.split_of(l1, 1, 147);
            EXPECT_LE(floor.macs_floor(f1, split), price.macs_per_second) << l1 << "/" << m1;
            EXPECT_LE(floor.coefficients_floor(static_cast<double>(l1) * 44100.0,
                                               static_cast<double>(l2) * f1),
                      static_cast<double>(price.coefficients));
            // Every rate whose price is within a bound lies in the interval for it.
            const quillmere::core::RateInterval within =
                floor.rates_within(price.macs_per_second, split);
            EXPECT_FALSE(within.empty());
            EXPECT_LE(within.lo, f1);
            EXPECT_GE(within.hi, f1);
        }
    }
}

TEST(MinCostSearch, PricedByADesignMethodThePrunedPassPicksWhatTheExhaustiveScanPicks) {
    // The designed lengths are below Kaiser's (equiripple about 30 % shorter, halfbands by
    // their non-zero taps, about half): a floor made for Kaiser's estimate would prune the
    // winner. Ratios by 2 and 4 make halfband stages.
    const std::vector<double> rates = {8000,  11025, 16000, 22050, 24000, 32000, 44100,
                                       48000, 88200, 96000, 176400, 192000, 37800, 2.4e6};
    const std::vector<long long> limits = {8, 24, 64, 160, 320};
    const quillmere::DesignMethod methods[] = {quillmere::DesignMethod::equiripple,
                                               quillmere::DesignMethod::automatic,
                                               quillmere::DesignMethod::kaiser};
    Dice dice;
    int by_two = 0;
    for (int i = 0; i < 360; ++i) {
        const double in = rates[dice.below(rates.size())];
        double out = rates[dice.below(rates.size())];
        if (dice.below(3) == 0) out = in * (dice.below(2) == 0 ? 0.25 : 4.0);
        TwoStageRequest r =
            min_cost_request(in, out, limits[dice.below(limits.size())], dice.below(3) != 0);
        r.filter.design_method = methods[dice.below(3)];
        r.filter.attenuation_db = 40.0 + 20.0 * static_cast<double>(dice.below(6));
        r.filter.ripple_db = dice.below(2) == 0 ? 0.1 : 0.01;
        const double half_lower = std::min(in, out) / 2.0;
        if (dice.below(2) == 0) {
            r.filter.passband_hz = half_lower * (0.3 + 0.1 * static_cast<double>(dice.below(6)));
            r.filter.stopband_hz = dice.below(2) == 0 ? *r.filter.passband_hz : half_lower;
        }
        const Searched fast = run(true, r);
        const Searched plain = run(false, r);
        SCOPED_TRACE(std::to_string(in) + " -> " + std::to_string(out) + " limit " +
                     std::to_string(r.max_factor) + " method " +
                     quillmere::design_method_name(*r.filter.design_method));
        expect_same_best(fast, plain);
        const CascadeRecord& b = plain.best;
        const auto by_2 = [](long long a, long long c) { return a * 2 == c || c * 2 == a; };
        if (b.found && (by_2(b.l1, b.m1) || by_2(b.l2, b.m2))) ++by_two;
    }
    EXPECT_GT(by_two, 10) << "too few answers with a stage by 2";
}

TEST(MinCostFloor, ByDesignMethodNeverAboveTheDesignedPrice) {
    // 48000 -> 24000 and 44100 -> 88200 through every split with small factors, the
    // splits by 2 among them (halfbands at half the taps), for each method.
    Dice dice;
    int halfband_splits = 0;
    for (const quillmere::DesignMethod method :
         {quillmere::DesignMethod::equiripple, quillmere::DesignMethod::automatic,
          quillmere::DesignMethod::kaiser}) {
        for (const auto& [in, out, p, q] :
             {std::tuple{48000.0, 24000.0, 1LL, 2LL}, std::tuple{44100.0, 88200.0, 2LL, 1LL},
              std::tuple{192000.0, 48000.0, 1LL, 4LL}}) {
          for (const double attenuation : {80.0, 135.0}) {
            FilterSpec filter{0.2 * std::min(in, out), 0.2 * std::min(in, out), attenuation, 0.1};
            filter.design_method = method;
            // The splits l1 / m1 -> p m1 / q l1, of common factor g = l1 (their leaks grow
            // with it) and h = m1.
            const quillmere::core::CostFloor floor(in, out, filter, in / 256.0, in * 256.0,
                                                   quillmere::core::least_split_leaks(p, q));
            ASSERT_TRUE(floor.usable());
            for (int i = 0; i < 1500; ++i) {
                long long l1 = 1 + static_cast<long long>(dice.below(i % 3 == 0 ? 200 : 16));
                long long m1 = 1 + static_cast<long long>(dice.below(16));
                if (i % 5 == 0) std::tie(l1, m1) = i % 10 == 0 ? std::pair{2LL, 1LL}
                                                                : std::pair{1LL, 2LL};
                if (l1 == 1 && m1 == 1) continue;
                const long long l2 = p * m1;
                const long long m2 = q * l1;
                const Stage stages[2] = {{l1, m1}, {l2, m2}};
                quillmere::cost_model::Price price;
                if (quillmere::cost_model::price_designed_cascade(in, stages, 2, filter, method,
                                                                  &price) !=
                    quillmere::cost_model::Refusal::none) {
                    continue;
                }
                const double f1 = in * static_cast<double>(l1) / static_cast<double>(m1);
                if (l1 * 2 == m1 || m1 * 2 == l1) ++halfband_splits;
                const auto split = floor.split_of(l1, 1, q);
                EXPECT_LE(floor.macs_floor(f1, split), price.macs_per_second) << l1 << "/" << m1;
                EXPECT_LE(floor.coefficients_floor(static_cast<double>(l1) * in,
                                                   static_cast<double>(l2) * f1),
                          static_cast<double>(price.coefficients));
                const quillmere::core::RateInterval within =
                    floor.rates_within(price.macs_per_second, split);
                EXPECT_FALSE(within.empty());
                EXPECT_LE(within.lo, f1);
                EXPECT_GE(within.hi, f1);
            }
          }
        }
    }
    EXPECT_GT(halfband_splits, 500);
}

constexpr quillmere::DesignMethod kDesignMethods[] = {quillmere::DesignMethod::kaiser,
                                                     quillmere::DesignMethod::equiripple,
                                                     quillmere::DesignMethod::automatic};

/// The floor of the cascades from `in` to `out` (l/m in lowest terms) through rates within
/// a factor `span` of the input, priced by `method`.
quillmere::core::CostFloor method_floor(double in, double out, FilterSpec filter,
                                        quillmere::DesignMethod method, long long l, long long m,
                                        double span) {
    filter.design_method = method;
    return quillmere::core::CostFloor(in, out, filter, in / span, in * span,
                                      quillmere::core::least_split_leaks(l, m));
}

/// The splits L = a1 a2, M = b1 b2 of a ratio in lowest terms.
std::vector<std::pair<long long, long long>> pairs_of(long long n) {
    std::vector<std::pair<long long, long long>> pairs;
    for (long long d = 1; d <= n; ++d) {
        if (n % d == 0) pairs.emplace_back(d, n / d);
    }
    return pairs;
}

TEST(MinCostFloor, ByDesignMethodWithEachSplitsOwnLeaksAndHalfbandsNeverAboveTheDesignedPrice) {
    // Splits g a1 / h b1 -> h a2 / g b2 of ratios with many factors, g and h up to 96: their
    // leaks grow with h as well as g (5644800 -> 15 through 1/768 -> 128/62720 has 256), and
    // stages by 2 whose factors are not 2/1 or 1/2 (2/4, 3/6) are never halfbands. Each
    // floor, the split's and the one with the cascade's own leaks, and the coefficients
    // floor stay at or below what the method designs.
    struct Case {
        double in;
        long long l;
        long long m;
        FilterSpec filter;
    };
    const std::vector<Case> cases = {
        {5644800, 1, 376320, FilterSpec{std::nullopt, std::nullopt, 50, 0.1}},
        {384000, 1, 4, FilterSpec{std::nullopt, std::nullopt, 127, 0.1}},
        {16000, 882, 5, FilterSpec{4029.72, 4879.21, 51, 0.82}},
        {48000, 147, 160, FilterSpec{std::nullopt, std::nullopt, 140, 0.01}},
        {8000, 24, 1, FilterSpec{3000.0, 3000.0, 90, 0.5}},
    };
    Dice dice;
    int more_leaks = 0;
    int no_halfband_by_two = 0;
    int checked = 0;
    for (const quillmere::DesignMethod method : kDesignMethods) {
        for (const Case& k : cases) {
            FilterSpec filter = k.filter;
            filter.design_method = method;
            const double out = k.in * static_cast<double>(k.l) / static_cast<double>(k.m);
            const quillmere::core::CostFloor floor =
                method_floor(k.in, out, k.filter, method, k.l, k.m, 1e6);
            ASSERT_TRUE(floor.usable());
            const auto l_pairs = pairs_of(k.l);
            const auto m_pairs = pairs_of(k.m);
            for (int i = 0; i < 700; ++i) {
                const auto [a1, a2] = l_pairs[dice.below(l_pairs.size())];
                const auto [b1, b2] = m_pairs[dice.below(m_pairs.size())];
                const long long g = 1 + static_cast<long long>(dice.below(i % 4 == 0 ? 96 : 4));
                const long long h = 1 + static_cast<long long>(dice.below(96));
                if (g == 1 && h == 1) continue;  // may pass a stage through
                const Stage stages[2] = {{g * a1, h * b1}, {h * a2, g * b2}};
                quillmere::cost_model::Price price;
                if (quillmere::cost_model::price_designed_cascade(k.in, stages, 2, filter, method,
                                                                  &price) !=
                    quillmere::cost_model::Refusal::none) {
                    continue;
                }
                const double f1 = k.in * static_cast<double>(g * a1) / static_cast<double>(h * b1);
                const quillmere::core::SplitFactors split = floor.split_of(g, a1, b2);
                const quillmere::core::SplitFactors own =
                    floor.with_leaks(split, quillmere::cost_model::coinciding_leaks(stages, 2));
                const auto by_2 = [](long long x, long long y) { return x == 2 * y || y == 2 * x; };
                more_leaks += own.extra_leak_power > 0 ? 1 : 0;
                no_halfband_by_two +=
                    (by_2(g * a1, h * b1) && !split.first_halfband) ||
                            (by_2(h * a2, g * b2) && !split.second_halfband)
                        ? 1
                        : 0;
                SCOPED_TRACE(std::to_string(k.in) + " Hz through " + std::to_string(g * a1) +
                             "/" + std::to_string(h * b1) + " -> " + std::to_string(h * a2) +
                             "/" + std::to_string(g * b2) + ", method " +
                             quillmere::design_method_name(method));
                EXPECT_LE(floor.macs_floor(f1, split), price.macs_per_second);
                EXPECT_LE(floor.macs_floor(f1, own), price.macs_per_second);
                for (const auto& s : {split, own}) {
                    const quillmere::core::RateInterval within =
                        floor.rates_within(price.macs_per_second, s);
                    EXPECT_FALSE(within.empty());
                    EXPECT_LE(within.lo, f1);
                    EXPECT_GE(within.hi, f1);
                }
                const double u1 = static_cast<double>(g * a1) * k.in;
                const double u2 = static_cast<double>(h * a2) * f1;
                const auto coefficients = static_cast<double>(price.coefficients);
                EXPECT_LE(floor.coefficients_floor(u1, u2, split), coefficients);
                EXPECT_TRUE(floor.coefficients_may_be_within(u1, u2, split, coefficients));
                // And the quick answer is the floor's, on either side of it.
                const double at = floor.coefficients_floor(u1, u2, split);
                EXPECT_EQ(floor.coefficients_may_be_within(u1, u2, split, 0.999 * at), false);
                ++checked;
            }
        }
    }
    EXPECT_GT(checked, 5000);
    EXPECT_GT(more_leaks, 1000);
    EXPECT_GT(no_halfband_by_two, 20);
}

TEST(MinCostFloor, ByDesignMethodTheFloorFollowsWhatEachSplitCanBe) {
    // Where the floors are tight enough to prune: within a few per cent of the designed
    // price of splits that the search met by the tens of thousands before they were.
    struct Case {
        double in;
        Stage first;
        Stage second;
        FilterSpec filter;
        long long g, a1, b2;  ///< the split the pass bounds it by
        bool own_leaks;       ///< ... with the cascade's own leaks
        double least_share;   ///< of the designed price
    };
    const FilterSpec at_127{std::nullopt, std::nullopt, 127, 0.1};
    const FilterSpec at_50{std::nullopt, std::nullopt, 50, 0.1};
    const std::vector<Case> cases = {
        // 384000 -> 96000 through 192000 Hz with g = h = 2: by 2 twice, but 2/4 and 4/8 are
        // not halfbands (the floor had halved both, to under half the price).
        {384000, {2, 4}, {4, 8}, at_127, 2, 1, 2, false, 0.8},
        // 5644800 -> 15 through 21879 Hz: g = h = 1 but two leaks (a tone's two signs), and
        // the far-edge margin of a transition wide next to the passband (the floor had
        // neither, at 85 % of the price).
        {5644800, {1, 258}, {43, 62720}, at_50, 1, 1, 62720, true, 0.97},
        // ... through 7350 Hz: g = 1 but h = 128 makes 256 leaks (the floor had 1, at half
        // the price).
        {5644800, {1, 768}, {128, 62720}, at_50, 1, 1, 62720, true, 0.9},
    };
    for (const Case& k : cases) {
        FilterSpec filter = k.filter;
        filter.design_method = quillmere::DesignMethod::kaiser;
        const Stage stages[2] = {k.first, k.second};
        quillmere::cost_model::Price price;
        ASSERT_EQ(quillmere::cost_model::price_designed_cascade(
                      k.in, stages, 2, filter, quillmere::DesignMethod::kaiser, &price),
                  quillmere::cost_model::Refusal::none);
        const double f1 = k.in * static_cast<double>(k.first.l) / static_cast<double>(k.first.m);
        const double out = f1 * static_cast<double>(k.second.l) / static_cast<double>(k.second.m);
        const std::int64_t g = std::gcd(k.first.l * k.second.l, k.first.m * k.second.m);
        const quillmere::core::CostFloor floor(
            k.in, out, filter, k.in / 65535.0, k.in * 65535.0,
            quillmere::core::least_split_leaks(k.first.l * k.second.l / g,
                                               k.first.m * k.second.m / g));
        quillmere::core::SplitFactors split = floor.split_of(k.g, k.a1, k.b2);
        if (k.own_leaks) {
            split = floor.with_leaks(split, quillmere::cost_model::coinciding_leaks(stages, 2));
        }
        const double at = floor.macs_floor(f1, split);
        SCOPED_TRACE(std::to_string(k.in) + " Hz through " + std::to_string(f1) + " Hz");
        EXPECT_LE(at, price.macs_per_second);
        EXPECT_GE(at, k.least_share * price.macs_per_second) << at / price.macs_per_second;
    }
    // Equiripple stages at 51 dB with sharp edges, 16000 -> 2822400 Hz through 107/29 ->
    // 25578/535: a floor on the coefficients of any transition (the widest, half the
    // upsampled rate, leaves Herrmann's factor at 0) ruled out no g against the 200
    // coefficients of 21/1 -> 42/5; with the transitions the rates of g = 107 allow it
    // does.
    FilterSpec sharp{4029.72, 4879.21, 51, 0.82};
    sharp.design_method = quillmere::DesignMethod::equiripple;
    const Stage stages[2] = {{107, 29}, {25578, 535}};
    quillmere::cost_model::Price price;
    ASSERT_EQ(quillmere::cost_model::price_designed_cascade(
                  16000, stages, 2, sharp, quillmere::DesignMethod::equiripple, &price),
              quillmere::cost_model::Refusal::none);
    const quillmere::core::CostFloor floor(16000, 2822400, sharp, 16000 / 65535.0,
                                           16000 * 65535.0,
                                           quillmere::core::least_split_leaks(882, 5));
    const double u1 = 107.0 * 16000;
    const double u2 = 25578.0 * 16000 * 107 / 29;
    const double at = floor.coefficients_floor(u1, u2, floor.split_of(107, 1, 5));
    EXPECT_LE(at, static_cast<double>(price.coefficients));
    EXPECT_GT(at, 2000.0);
    // Bounding every split (a halfband anywhere, the fewest leaks) it is lower.
    EXPECT_LE(floor.coefficients_floor(u1, u2), at);
}

TEST(MinCostFloor, ByDesignMethodTheCoefficientsFloorOnlyGrowsWithG) {
    // The pass stops asking once a g cannot tie on coefficients: it relies on the floor of
    // the splits g a1 / h b1 -> h a2 / g b2 of one pair combination never falling as g
    // grows, through the leak powers, the halfbands that go at g = 2 and 3, and the
    // transitions that narrow over the upsampled rates.
    struct Case {
        double in;
        double out;
        long long a1, b1, a2, b2;
        FilterSpec filter;
    };
    const std::vector<Case> cases = {
        {384000, 96000, 1, 2, 1, 2, FilterSpec{std::nullopt, std::nullopt, 127, 0.1}},
        {16000, 2822400, 1, 1, 882, 5, FilterSpec{4029.72, 4879.21, 51, 0.82}},
        {2, 705600, 2, 1, 176400, 1, FilterSpec{std::nullopt, std::nullopt, 137, 0.1}},
        {44100, 88200, 2, 1, 1, 1, FilterSpec{std::nullopt, std::nullopt, 60, 1.0}},
    };
    for (const quillmere::DesignMethod method : kDesignMethods) {
        for (const Case& k : cases) {
            const quillmere::core::CostFloor floor = method_floor(
                k.in, k.out, k.filter, method, k.a1 * k.a2, k.b1 * k.b2, 65535.0);
            ASSERT_TRUE(floor.usable());
            double last = 0.0;
            for (long long g = 1; g <= 5000; g += g < 40 ? 1 : 37) {
                const double gd = static_cast<double>(g);
                const double u1 = gd * static_cast<double>(k.a1) * k.in;
                const double u2 = u1 * static_cast<double>(k.a2) / static_cast<double>(k.b1);
                const double at = floor.coefficients_floor(u1, u2, floor.split_of(g, k.a1, k.b2));
                EXPECT_GE(at, last) << k.in << " -> " << k.out << ", g " << g << ", method "
                                    << quillmere::design_method_name(method);
                last = at;
            }
            EXPECT_GT(last, 0.0);
        }
    }
}

TEST(MinCostSearch, ByDesignMethodKnownAnswersAtTheFullLimit) {
    // Requests whose pricing once took tens of milliseconds, with the answers the exhaustive
    // pruning gave then.
    struct Case {
        double in;
        double out;
        bool allow;
        FilterSpec filter;
        quillmere::DesignMethod method;
        Stage first;
        Stage second;
    };
    const std::vector<Case> cases = {
        {384000, 96000, true, FilterSpec{std::nullopt, std::nullopt, 127, 0.1},
         quillmere::DesignMethod::kaiser, {1, 3}, {3, 4}},
        {5644800, 15, true, FilterSpec{std::nullopt, std::nullopt, 50, 0.1},
         quillmere::DesignMethod::kaiser, {1, 2688}, {1, 140}},
        {16000, 2822400, false, FilterSpec{4029.72, 4879.21, 51, 0.82},
         quillmere::DesignMethod::equiripple, {21, 1}, {42, 5}},
    };
    for (const Case& k : cases) {
        TwoStageRequest r = min_cost_request(k.in, k.out, 65535, k.allow);
        r.filter = k.filter;
        r.filter.design_method = k.method;
        const Searched s = run(true, r);
        SCOPED_TRACE(std::to_string(k.in) + " -> " + std::to_string(k.out));
        ASSERT_EQ(s.status, Status::ok);
        EXPECT_EQ(s.best.l1, k.first.l);
        EXPECT_EQ(s.best.m1, k.first.m);
        EXPECT_EQ(s.best.l2, k.second.l);
        EXPECT_EQ(s.best.m2, k.second.m);
    }
}

TEST(MinCostSearch, ByDesignMethodWithFarRatiosThePrunedPassPicksWhatTheExhaustiveScanPicks) {
    // Ratios with large denominators, whose splits have many leaks that grow with h, and
    // sharp edges that leave equiripple factors small: every floor the pruning now reads.
    const std::vector<std::pair<double, double>> pairs = {
        {705600, 1000}, {384000, 3000}, {192000, 1500}, {44100, 1260}, {16000, 2822400},
        {8000, 384000}, {352800, 2450}, {96000, 750}};
    Dice dice;
    int found = 0;
    for (int i = 0; i < 90; ++i) {
        const auto [in, out] = pairs[dice.below(pairs.size())];
        TwoStageRequest r =
            min_cost_request(in, out, 60 + static_cast<long long>(dice.below(100)),
                             dice.below(2) == 0);
        r.filter.design_method = kDesignMethods[dice.below(3)];
        r.filter.attenuation_db = 40.0 + 110.0 * dice.unit();
        r.filter.ripple_db = dice.below(2) == 0 ? 0.1 : 0.8;
        if (dice.below(2) == 0) {
            const double half_lower = std::min(in, out) / 2.0;
            r.filter.stopband_hz = half_lower * (0.7 + 0.3 * dice.unit());
            r.filter.passband_hz = *r.filter.stopband_hz * (0.6 + 0.35 * dice.unit());
        }
        SCOPED_TRACE(std::to_string(in) + " -> " + std::to_string(out) + " limit " +
                     std::to_string(r.max_factor) + " method " +
                     quillmere::design_method_name(*r.filter.design_method));
        const Searched fast = run(true, r);
        expect_same_best(fast, run(false, r));
        found += fast.best.found ? 1 : 0;
    }
    EXPECT_GT(found, 60);  // most priced and found, not refused alike
}

TEST(MinCostRequests, TheLibraryRefusesBadFilterRequirements) {
    quillmere::TwoStageRequest request;
    request.input_rate_hz = 44100;
    request.output_rate_hz = 48000;
    request.mode = SearchMode::min_cost;
    request.filter.attenuation_db = -1;
    quillmere::RequestCheck check = quillmere::check_request(request);
    EXPECT_EQ(check.status, Status::invalid_request);
    EXPECT_EQ(check.field, "filter.attenuation_db");
    const quillmere::TwoStageResult refused = quillmere::solve_two_stage(request);
    EXPECT_EQ(refused.status, Status::invalid_request);
    EXPECT_EQ(refused.message, check.message);
    // Other modes ignore the filter requirements.
    request.mode = SearchMode::custom_limit;
    EXPECT_EQ(quillmere::check_request(request).status, Status::ok);

    request.mode = SearchMode::min_cost;
    request.filter = FilterSpec{};
    const quillmere::TwoStageResult result = quillmere::solve_two_stage(request);
    ASSERT_EQ(result.status, Status::ok) << result.message;
    EXPECT_EQ(result.first.l, 1);
    EXPECT_EQ(result.second.l, 160);
}

TEST(MinCostRequests, ARippleOnlyTwoStagesCanShareIsRefused) {
    // 6500 dB is 3250 dB for each of two filtered stages but beyond a ratio for one: the
    // search could find a cascade with one filtered stage (44100 -> 44100 through 1/1) that
    // no estimate prices.
    quillmere::TwoStageRequest request;
    request.input_rate_hz = 44100;
    request.output_rate_hz = 44100;
    request.mode = SearchMode::min_cost;
    request.max_factor = 30;
    request.filter.ripple_db = 6500;
    const quillmere::RequestCheck check = quillmere::check_request(request);
    EXPECT_EQ(check.status, Status::invalid_request);
    EXPECT_EQ(check.field, "filter.ripple_db");
    EXPECT_EQ(quillmere::solve_two_stage(request).status, Status::invalid_request);
    // A ripple each share of which can be computed is searched, and the cascade priced.
    request.filter.ripple_db = 6000;
    const quillmere::TwoStageResult result = quillmere::solve_two_stage(request);
    ASSERT_EQ(result.status, Status::ok) << result.message;
    EXPECT_EQ(quillmere::estimate_cost(request, result).status, Status::ok);
}

TEST(MinCostRequests, EveryStageIsInLowestTermsWithTheSameRatesAndFewerCoefficients) {
    // The common-factor pass answers 8000 -> 16000 with 4/3 -> 6/4; the library reports
    // the second stage as 3/2: the same rates, half its coefficients.
    const Searched searched = run(true, min_cost_request(8000, 16000, 65535));
    ASSERT_EQ(searched.status, Status::ok);
    ASSERT_EQ(std::gcd(searched.best.l2, searched.best.m2), 2);

    quillmere::TwoStageRequest request;
    request.input_rate_hz = 8000;
    request.output_rate_hz = 16000;
    request.mode = SearchMode::min_cost;
    const quillmere::TwoStageResult result = quillmere::solve_two_stage(request);
    ASSERT_EQ(result.status, Status::ok) << result.message;
    EXPECT_EQ(result.first.l, searched.best.l1);
    EXPECT_EQ(result.first.m, searched.best.m1);
    EXPECT_EQ(result.second.l, searched.best.l2 / 2);
    EXPECT_EQ(result.second.m, searched.best.m2 / 2);
    EXPECT_EQ(result.overall_sum,
              result.first.l + result.first.m + result.second.l + result.second.m);
    EXPECT_EQ(result.intermediate_rate_hz, searched.best.achieved_intermediate_rate);
    EXPECT_EQ(result.combined_ratio, searched.best.combined_ratio);
    EXPECT_EQ(result.outcome, quillmere::Outcome::match);

    const Stage as_found[] = {Stage{searched.best.l1, searched.best.m1},
                              Stage{searched.best.l2, searched.best.m2}};
    const Stage reported[] = {result.first, result.second};
    const quillmere::CostEstimate before = quillmere::estimate_cost(8000, as_found);
    const quillmere::CostEstimate after = quillmere::estimate_cost(8000, reported);
    EXPECT_LT(after.total_coefficients, before.total_coefficients);
    EXPECT_NEAR(after.total_macs_per_second, before.total_macs_per_second,
                0.01 * before.total_macs_per_second);

    // Across the table rates, both directions: no stage keeps a common factor.
    const double rates[] = {8000, 11025, 16000, 22050, 32000, 44100, 48000, 96000, 192000};
    for (const double in : rates) {
        for (const double out : rates) {
            request.input_rate_hz = in;
            request.output_rate_hz = out;
            const quillmere::TwoStageResult r = quillmere::solve_two_stage(request);
            ASSERT_EQ(r.status, Status::ok) << in << " -> " << out;
            EXPECT_EQ(std::gcd(r.first.l, r.first.m), 1) << in << " -> " << out;
            EXPECT_EQ(std::gcd(r.second.l, r.second.m), 1) << in << " -> " << out;
        }
    }
}

/// Counts what an observer hears.
struct Heard : quillmere::SearchObserver {
    int passes_done = 0;
    int convergents = 0;
    std::uint64_t last_total = 0;
    void on_pass_done(quillmere::SearchPass) override { ++passes_done; }
    void on_convergent(int, int) override { ++convergents; }
    void on_common_factor_iterations(std::uint64_t total) override { last_total = total; }
};

TEST(MinCostRequests, TheObserverHearsOneSearchAndAStopIsHonoured) {
    quillmere::TwoStageRequest request;
    request.input_rate_hz = 44100;
    request.output_rate_hz = 48000;
    request.mode = SearchMode::min_cost;
    request.max_factor = 100;
    Heard heard;
    quillmere::SolveOptions options;
    options.observer = &heard;
    const quillmere::TwoStageResult result = quillmere::solve_two_stage(request, options);
    ASSERT_EQ(result.status, Status::ok);
    // The search for the cheapest price reports only its progress (search_progress_test):
    // one pass of each kind is heard.
    EXPECT_EQ(heard.passes_done, 2);
    EXPECT_EQ(heard.convergents, result.convergent_count);
    EXPECT_EQ(heard.last_total, result.common_factor_iterations);

    std::atomic<bool> stop{true};
    options.stop_flag = &stop;
    EXPECT_EQ(quillmere::solve_two_stage(request, options).status, Status::stopped);
}

}  // namespace
