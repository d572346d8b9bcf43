// The many-stage min-cost search against an enumeration of every factorisation on small
// limits and ratios, and the plans it finds for 192 kHz -> 44.1 kHz.
#include "core/multistage_min_cost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "core/candidate.h"
#include "core/exact_ratio.h"
#include "core/filter_price.h"
#include "quillmere/quillmere.h"

namespace {

using quillmere::FilterSpec;
using quillmere::IntermediateTarget;
using quillmere::Priority;
using quillmere::Stage;
using quillmere::Status;
using quillmere::core::MultistageRequest;
using quillmere::core::MultistageResult;
using quillmere::core::Tolerance;
using u64 = std::uint64_t;

struct Dice {
    std::mt19937_64 engine;
    u64 below(u64 n) { return engine() % n; }
    bool chance(u64 percent) { return below(100) < percent; }
    double unit() { return static_cast<double>(engine() >> 11) * 0x1.0p-53; }
};

MultistageResult search(const MultistageRequest& r) {
    const quillmere::core::SearchContext context;
    return quillmere::core::search_multistage_min_cost(context, r);
}

// ---------------------------------------------------------------------------------------
// The enumeration
// ---------------------------------------------------------------------------------------

struct Candidate {
    std::vector<Stage> stages;
    quillmere::cost_model::Price price;
    quillmere::core::ExactError error;
    long long sum = 0;
    quillmere::core::CandidateMeasures measures;
};

bool before(const Candidate& a, const Candidate& b) {
    if (a.price.coefficients != b.price.coefficients) {
        return a.price.coefficients < b.price.coefficients;
    }
    if (a.stages.size() != b.stages.size()) return a.stages.size() < b.stages.size();
    if (a.sum != b.sum) return a.sum < b.sum;
    const int by_error = quillmere::core::compare_errors(a.error, b.error);
    if (by_error != 0) return by_error < 0;
    for (std::size_t i = 0; i < a.stages.size(); ++i) {
        if (a.stages[i].l != b.stages[i].l) return a.stages[i].l < b.stages[i].l;
        if (a.stages[i].m != b.stages[i].m) return a.stages[i].m < b.stages[i].m;
    }
    return false;
}

/// Every tuple of k factors in 1..n whose product is value.
void tuples(u64 value, u64 n, int k, std::vector<u64>* prefix, std::vector<std::vector<u64>>* out) {
    if (k == 0) {
        if (value == 1) out->push_back(*prefix);
        return;
    }
    for (u64 f = 1; f <= n; ++f) {
        if (value % f != 0) continue;
        prefix->push_back(f);
        tuples(value / f, n, k - 1, prefix, out);
        prefix->pop_back();
    }
}

bool factors_within(u64 v, u64 n) {
    for (u64 p = 2; p * p <= v; ++p) {
        while (v % p == 0) {
            if (p > n) return false;
            v /= p;
        }
    }
    return v <= n || v == 1;
}

/// The overall ratios: the exact one (the simplest within match_tolerance), or with a
/// tolerance the fractions within it in order of M, then L (the simplest first), of which
/// the first 4096 are looked at and the first eight whose primes fit the limit kept.
std::vector<std::pair<u64, u64>> ratios(const MultistageRequest& r, u64 height) {
    const quillmere::core::ExactRatio exact =
        quillmere::core::ExactRatio::of(r.input_rate_hz, r.output_rate_hz);
    std::vector<std::pair<u64, u64>> out;
    // With a tolerance, no L or M above the exact ratio's (the first fraction by M, then
    // L, within the tighter of the tolerance and match_tolerance).
    if (r.tolerance) {
        const double tighter = std::min(r.tolerance->relative, quillmere::match_tolerance);
        bool done = false;
        for (u64 q = 1; q <= height && !done; ++q) {
            for (u64 p = 1; p <= height; ++p) {
                const quillmere::core::ExactError e = quillmere::core::exact_error(exact, p, q);
                const bool inside = tighter < quillmere::match_tolerance
                                        ? quillmere::core::error_at_most(e, tighter)
                                        : quillmere::core::error_below(e, tighter);
                if (std::gcd(p, q) == 1 && inside) {
                    height = std::min(height, std::max(p, q));
                    done = true;
                    break;
                }
            }
        }
    }
    const u64 n = static_cast<u64>(r.max_factor);
    int looks = 0;
    for (u64 q = 1; q <= height; ++q) {
        for (u64 p = 1; p <= height; ++p) {
            if (std::gcd(p, q) != 1) continue;
            const quillmere::core::ExactError e = quillmere::core::exact_error(exact, p, q);
            const bool inside = r.tolerance
                                    ? quillmere::core::error_at_most(e, r.tolerance->relative)
                                    : quillmere::core::error_below(e, quillmere::match_tolerance);
            if (!inside) continue;
            if (looks++ >= 4096) return out;
            if (factors_within(p, n) && factors_within(q, n)) out.push_back({p, q});
            if (!r.tolerance || out.size() == 8) return out;
        }
    }
    return out;
}

/// A cascade priced as the search must price it: by the design method's lengths when the
/// filter requirements name one, by Kaiser's estimate otherwise.
quillmere::cost_model::Refusal price(double input_rate_hz, const std::vector<Stage>& stages,
                                     const FilterSpec& filter,
                                     quillmere::cost_model::Price* price) {
    if (filter.design_method) {
        return quillmere::cost_model::price_designed_cascade(
            input_rate_hz, stages.data(), stages.size(), filter, *filter.design_method, price);
    }
    return quillmere::cost_model::price_cascade(input_rate_hz, stages.data(), stages.size(),
                                                filter, price);
}

std::optional<Candidate> enumerate(const MultistageRequest& r) {
    const u64 n = static_cast<u64>(r.max_factor);
    const int fewest = r.stages == 0 ? 1 : r.stages;
    const int most = r.stages == 0 ? 4 : r.stages;
    u64 height = 1;
    for (int i = 0; i < most; ++i) height *= n;
    const FilterSpec filter = quillmere::core::effective_filter(r.filter);
    const quillmere::core::ExactRatio exact =
        quillmere::core::ExactRatio::of(r.input_rate_hz, r.output_rate_hz);
    std::vector<Candidate> all;
    for (const auto& [p, q] : ratios(r, height)) {
        for (int k = fewest; k <= most; ++k) {
            std::vector<std::vector<u64>> ls, ms;
            std::vector<u64> prefix;
            tuples(p, n, k, &prefix, &ls);
            tuples(q, n, k, &prefix, &ms);
            for (const auto& l : ls) {
                for (const auto& m : ms) {
                    Candidate c;
                    bool ok = true;
                    for (int i = 0; i < k; ++i) {
                        if (l[i] == 1 && m[i] == 1) ok = false;
                        c.stages.push_back(Stage{static_cast<std::int64_t>(l[i]),
                                                 static_cast<std::int64_t>(m[i])});
                        c.sum += static_cast<long long>(l[i] + m[i]);
                    }
                    // A single stage decimates as the rates need; only the first of several is held.
                    if (!ok || (k > 1 && !r.allow_first_stage_decimation && l[0] < m[0])) continue;
                    if (price(r.input_rate_hz, c.stages, filter, &c.price) !=
                        quillmere::cost_model::Refusal::none) {
                        continue;
                    }
                    c.error = quillmere::core::exact_error(exact, p, q);
                    if (r.intermediate_target) {
                        const double rate = r.input_rate_hz *
                                            (static_cast<double>(l[0]) / static_cast<double>(m[0]));
                        const double target = r.intermediate_target->rate_hz;
                        c.measures.final_match =
                            quillmere::core::error_below(c.error, quillmere::match_tolerance);
                        c.measures.intermediate_error = std::fabs(rate - target);
                        c.measures.intermediate_match =
                            quillmere::core::relative_error(rate, target) <
                            quillmere::match_tolerance;
                    }
                    all.push_back(c);
                }
            }
        }
    }
    if (r.intermediate_target) {
        // The priority first: the class the leader leaves to the price.
        quillmere::TwoStageRequest judge;
        judge.intermediate_target = r.intermediate_target;
        quillmere::core::CascadeRecord leader = quillmere::core::make_empty_record();
        const auto lead = [&](const Candidate& c) {
            leader.found = true;
            leader.final_match = c.measures.final_match;
            leader.intermediate_error = c.measures.intermediate_error;
            leader.intermediate_match = c.measures.intermediate_match;
        };
        for (const Candidate& c : all) {
            if (quillmere::core::judge_by_priority(c.measures, leader, judge) ==
                quillmere::core::Verdict::accept) {
                lead(c);
            }
        }
        for (const Candidate& c : all) {
            if (quillmere::core::judge_by_priority(c.measures, leader, judge) ==
                    quillmere::core::Verdict::mode_order &&
                c.measures.intermediate_error < leader.intermediate_error) {
                lead(c);
            }
        }
        std::vector<Candidate> members;
        for (const Candidate& c : all) {
            if (quillmere::core::judge_by_priority(c.measures, leader, judge) ==
                quillmere::core::Verdict::mode_order) {
                members.push_back(c);
            }
        }
        all = members;
    }
    if (!r.intermediate_target) {
        for (const auto& [p, q] : ratios(r, height)) {
            if (p == 1 && q == 1) return Candidate{};  // no stage at all
        }
    }
    if (all.empty()) return std::nullopt;
    const Candidate* reference = &all.front();
    for (const Candidate& c : all) {
        if (c.price.macs_per_second < reference->price.macs_per_second ||
            (c.price.macs_per_second == reference->price.macs_per_second &&
             before(c, *reference))) {
            reference = &c;
        }
    }
    std::optional<Candidate> best;
    for (const Candidate& c : all) {
        if (quillmere::cost_model::macs_tied(c.price, reference->price) &&
            (!best || before(c, *best))) {
            best = c;
        }
    }
    return best;
}

std::string describe(const MultistageRequest& r) {
    char text[256];
    std::snprintf(text, sizeof text, "%a -> %a limit %lld stages %d%s A %g", r.input_rate_hz,
                  r.output_rate_hz, r.max_factor, r.stages,
                  r.allow_first_stage_decimation ? " -a" : "", r.filter.attenuation_db);
    std::string s = text;
    if (r.filter.passband_hz) s += " fp " + std::to_string(*r.filter.passband_hz);
    if (r.filter.stopband_hz) s += " fs " + std::to_string(*r.filter.stopband_hz);
    if (r.tolerance) s += " tolerance " + std::to_string(r.tolerance->relative);
    if (r.intermediate_target) {
        s += " target " + std::to_string(r.intermediate_target->rate_hz) + " " +
             quillmere::priority_name(r.intermediate_target->priority);
    }
    if (r.filter.design_method) {
        s += std::string(" method ") + quillmere::design_method_name(*r.filter.design_method);
    }
    return s;
}

/// The search against the enumeration on random requests, priced by `method` (Kaiser's
/// estimate without one); returns how many found a plan.
int compare_with_enumeration(std::uint64_t seed, int requests,
                             std::optional<quillmere::DesignMethod> method) {
    Dice dice{std::mt19937_64{seed}};
    const u64 smooth[] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 12, 14, 15,
                          16, 18, 20, 21, 24, 25, 27, 28, 30, 32, 35, 36, 40,
                          42, 45, 48, 49, 50, 54, 56, 60, 63, 64, 70, 72};
    int found = 0;
    for (int i = 0; i < requests; ++i) {
        MultistageRequest r;
        r.filter.design_method = method;
        r.stages = static_cast<int>(dice.below(5));
        r.max_factor =
            static_cast<long long>(2 + dice.below(r.stages == 0 || r.stages == 4 ? 5 : 8));
        // Mostly ratios whose primes fit the limit.
        const auto pick = [&] {
            for (;;) {
                const u64 v = smooth[dice.below(std::size(smooth))];
                if (dice.chance(15) || factors_within(v, static_cast<u64>(r.max_factor))) return v;
            }
        };
        const u64 p = pick();
        const u64 q = pick();
        r.input_rate_hz = static_cast<double>(q) * (dice.chance(50) ? 1000.0 : 1102.5);
        r.output_rate_hz = r.input_rate_hz * static_cast<double>(p) / static_cast<double>(q);
        if (dice.chance(10)) r.output_rate_hz *= 1.0 + (dice.unit() - 0.5) * 1e-3;
        r.allow_first_stage_decimation = dice.chance(70);
        r.filter.attenuation_db = 40.0 + dice.unit() * 80.0;
        const double half_lower = std::min(r.input_rate_hz, r.output_rate_hz) / 2.0;
        if (dice.chance(70)) {
            r.filter.passband_hz = half_lower * (0.1 + 0.5 * dice.unit());
            r.filter.stopband_hz = dice.chance(30) ? *r.filter.passband_hz : half_lower;
        }
        if (dice.chance(30) && r.stages != 0 && r.stages <= 3 && r.max_factor <= 6) {
            r.tolerance = Tolerance{std::pow(10.0, -1.0 - 4.0 * dice.unit())};
        }
        if (r.stages == 2 && dice.chance(40)) {
            const Priority priorities[] = {Priority::strict, Priority::final, Priority::balanced,
                                           Priority::ignore};
            r.intermediate_target =
                IntermediateTarget{r.input_rate_hz * static_cast<double>(1 + dice.below(8)) /
                                       static_cast<double>(1 + dice.below(8)),
                                   priorities[dice.below(4)]};
        }
        const std::optional<Candidate> expected = enumerate(r);
        const MultistageResult got = search(r);
        EXPECT_EQ(got.status == Status::ok, expected.has_value()) << describe(r) << got.message;
        if (got.status != Status::ok || !expected) {
            EXPECT_FALSE(got.message.empty());
            continue;
        }
        ++found;
        EXPECT_EQ(got.plan.stages.size(), expected->stages.size()) << describe(r);
        if (got.plan.stages.size() != expected->stages.size()) continue;
        for (std::size_t s = 0; s < expected->stages.size(); ++s) {
            EXPECT_EQ(got.plan.stages[s].l, expected->stages[s].l) << describe(r) << " stage " << s;
            EXPECT_EQ(got.plan.stages[s].m, expected->stages[s].m) << describe(r) << " stage " << s;
        }
        EXPECT_EQ(got.plan.price.macs_per_second, expected->price.macs_per_second);
        EXPECT_EQ(got.plan.price.coefficients, expected->price.coefficients);
        EXPECT_DOUBLE_EQ(got.plan.macs_per_input_sample,
                         expected->price.macs_per_second / r.input_rate_hz);
    }
    return found;
}

TEST(MultistageMinCost, AgreesWithAnEnumerationOfEveryFactorisation) {
    // Many requests have no plan of their exact stage count (too few prime factors, rates
    // too low to carry the passband): those check the refusal.
    const int requests = 1000;
    EXPECT_GT(compare_with_enumeration(44, requests, std::nullopt), requests / 4);
}

TEST(MultistageMinCost, PricedByADesignMethodAgreesWithTheEnumeration) {
    // The floors the search prunes with must stay below the designed lengths: equiripple
    // filters are shorter than Kaiser's, halfbands count half their taps.
    const int requests = 400;
    for (const quillmere::DesignMethod method :
         {quillmere::DesignMethod::equiripple, quillmere::DesignMethod::automatic,
          quillmere::DesignMethod::kaiser}) {
        SCOPED_TRACE(quillmere::design_method_name(method));
        EXPECT_GT(compare_with_enumeration(45 + static_cast<std::uint64_t>(method), requests,
                                           method),
                  requests / 4);
    }
}

TEST(MultistageMinCost, FloorsNeverExceedThePrice) {
    // Random cascades of one to four stages, many of them by 2 (halfbands) and at ratios
    // near 1 (wide transitions, where Herrmann's correction term counts), some with long
    // filters (where the automatic method turns to Kaiser's): the floors of their stages,
    // for the cascade's leaks, add up to no more than the price, by each design method and
    // by the Kaiser estimate (whose floors come from the terms of each stage's lower rate;
    // some near 21 dB, where its length factor steps).
    Dice dice{std::mt19937_64{7}};
    const std::optional<quillmere::DesignMethod> methods[] = {
        quillmere::DesignMethod::equiripple, quillmere::DesignMethod::automatic,
        quillmere::DesignMethod::kaiser, std::nullopt};
    const quillmere::core::KaiserPricer estimate;
    int priced = 0;
    int halfbands = 0;
    int long_filters = 0;
    for (int i = 0; i < 24000; ++i) {
        const auto method = methods[dice.below(4)];
        const quillmere::core::DesignedPricer designed(
            method.value_or(quillmere::DesignMethod::kaiser));
        const quillmere::core::CascadePricer& pricer =
            method ? static_cast<const quillmere::core::CascadePricer&>(designed) : estimate;
        const int count = 1 + static_cast<int>(dice.below(4));
        std::vector<Stage> stages;
        for (int k = 0; k < count; ++k) {
            if (dice.chance(35)) {
                stages.push_back(dice.chance(50) ? Stage{2, 1} : Stage{1, 2});
            } else {
                const u64 most = dice.chance(20) ? 160 : 12;
                const auto l = static_cast<std::int64_t>(1 + dice.below(most));
                auto m = static_cast<std::int64_t>(1 + dice.below(12));
                while (std::gcd(l, m) != 1 || (l == 1 && m == 1)) {
                    m = static_cast<std::int64_t>(1 + dice.below(12));
                }
                stages.push_back(Stage{l, m});
            }
        }
        FilterSpec filter;
        filter.design_method = method;
        filter.attenuation_db = !method && dice.chance(20) ? 18.0 + dice.unit() * 6.0
                                                           : 30.0 + dice.unit() * 110.0;
        filter.ripple_db = std::pow(10.0, -3.0 + 3.0 * dice.unit());
        const double input = dice.chance(50) ? 48000.0 : 44100.0;
        double lowest = input;
        double rate = input;
        for (const Stage& st : stages) {
            rate = rate * static_cast<double>(st.l) / static_cast<double>(st.m);
            lowest = std::min(lowest, rate);
        }
        const double output = rate;
        const double half_lower = std::min(input, output) / 2.0;
        filter.passband_hz = half_lower * (dice.chance(15) ? 0.95 + 0.045 * dice.unit()
                                                           : 0.05 + 0.9 * dice.unit());
        filter.stopband_hz = dice.chance(40) ? *filter.passband_hz : half_lower;
        quillmere::cost_model::Price p;
        if (price(input, stages, filter, &p) != quillmere::cost_model::Refusal::none) continue;
        quillmere::cost_model::Design design;
        ASSERT_EQ(quillmere::cost_model::resolve_design(input, output, count, filter, &design),
                  quillmere::cost_model::Refusal::none);
        double macs = 0.0;
        double coefficients = 0.0;
        const double leaks = quillmere::cost_model::coinciding_leaks(stages.data(), stages.size());
        rate = input;
        for (const Stage& st : stages) {
            const double next = rate * static_cast<double>(st.l) / static_cast<double>(st.m);
            const quillmere::core::StageFloor f =
                pricer.stage_floor(design, rate, next, st.l, leaks);
            macs += f.macs_per_second;
            coefficients += f.coefficients;
            if ((st.l == 2 && st.m == 1) || (st.l == 1 && st.m == 2)) ++halfbands;
            rate = next;
        }
        ++priced;
        if (p.coefficients > 4 * quillmere::max_exchange_taps) ++long_filters;
        EXPECT_LE(macs, p.macs_per_second) << i;
        EXPECT_LE(coefficients, static_cast<double>(p.coefficients)) << i;
        // The least taps per phase the tie pass assumes.
        EXPECT_LE(pricer.least_taps(design) * p.macs_grain, p.macs_per_second) << i;
    }
    EXPECT_GT(priced, 5000);
    EXPECT_GT(halfbands, 1000);
    EXPECT_GT(long_filters, 100);
}

TEST(MultistageMinCost, EveryFactoringOfARatioHasItsLeaks) {
    // The search floors every plan of L/M with the leaks of the single stage L/M: stages
    // whose factors divide L and M (coprime) let the same leaks meet, whatever their order.
    Dice dice{std::mt19937_64{12}};
    const u64 primes[] = {2, 3, 5, 7, 11, 13};
    int checked = 0;
    for (int i = 0; i < 3000; ++i) {
        // Stages drawn from the prime factors of L and M, kept apart.
        const int count = 1 + static_cast<int>(dice.below(4));
        std::vector<Stage> stages(static_cast<std::size_t>(count), Stage{1, 1});
        const u64 split = dice.below(std::size(primes));  // primes below it go to L
        u64 p = 1, q = 1;
        for (int k = 0; k < 2 + static_cast<int>(dice.below(8)); ++k) {
            const std::size_t which = dice.below(std::size(primes));
            Stage& st = stages[dice.below(stages.size())];
            if (which < split) {
                st.l *= static_cast<std::int64_t>(primes[which]);
                p *= primes[which];
            } else {
                st.m *= static_cast<std::int64_t>(primes[which]);
                q *= primes[which];
            }
        }
        const Stage whole{static_cast<std::int64_t>(p), static_cast<std::int64_t>(q)};
        EXPECT_EQ(quillmere::cost_model::coinciding_leaks(stages.data(), stages.size()),
                  quillmere::cost_model::coinciding_leaks(&whole, 1))
            << p << "/" << q << " in " << count << " stages";
        ++checked;
    }
    EXPECT_EQ(checked, 3000);
}

/// Prices as another pricer does, counting the plans priced; with `floors` its floors
/// too, without them none (every floor 0, which makes the search exhaustive).
class CountingPricer final : public quillmere::core::CascadePricer {
public:
    CountingPricer(const quillmere::core::CascadePricer& inner, bool floors)
        : inner_(inner), floors_(floors) {}
    quillmere::cost_model::Refusal price(double input_rate_hz, const Stage* stages,
                                         std::size_t count, const FilterSpec& filter,
                                         quillmere::cost_model::Price* price,
                                         quillmere::cost_model::DesignMemo* memo) const override {
        ++priced;
        return inner_.price(input_rate_hz, stages, count, filter, price, memo);
    }
    quillmere::core::LowerRateTerms lower_rate_terms(const quillmere::cost_model::Design& design,
                                                     double lower_hz,
                                                     double leaks) const override {
        return floors_ ? inner_.lower_rate_terms(design, lower_hz, leaks)
                       : quillmere::core::LowerRateTerms{};
    }
    quillmere::core::StageFloor stage_floor_with(
        const quillmere::cost_model::Design& design, double in_hz, double out_hz, std::int64_t l,
        const quillmere::core::LowerRateTerms& lower) const override {
        return floors_ ? inner_.stage_floor_with(design, in_hz, out_hz, l, lower)
                       : quillmere::core::StageFloor{};
    }
    bool same_floors(const quillmere::cost_model::Design& a,
                     const quillmere::cost_model::Design& b) const override {
        return floors_ && inner_.same_floors(a, b);
    }
    double least_taps(const quillmere::cost_model::Design& design) const override {
        return floors_ ? inner_.least_taps(design) : 0.0;
    }
    mutable long long priced = 0;

private:
    const quillmere::core::CascadePricer& inner_;
    bool floors_;
};

TEST(MultistageMinCost, BoundsRuleOutNoPlanAnExhaustiveSearchChooses) {
    // Audio ratios with many divisors, every stage count, attenuations where the ripple
    // share sets the design (a floor table per count) and where the attenuation does (one
    // table for several), priced by the Kaiser estimate and by every design method: the
    // search with the pricer's floors chooses what the same search with floors of 0 (every
    // plan priced, none pruned) chooses, while pricing far fewer.
    Dice dice{std::mt19937_64{31}};
    const double rates[] = {8000,  11025, 16000, 22050,  32000,  44100,
                            48000, 88200, 96000, 176400, 192000, 47952.047952047952};
    const quillmere::core::KaiserPricer kaiser;
    const quillmere::core::SearchContext context;
    long long bounded_priced = 0;
    long long exhaustive_priced = 0;
    int found = 0;
    for (int i = 0; i < 240; ++i) {
        MultistageRequest r;
        r.input_rate_hz = rates[dice.below(std::size(rates))];
        r.output_rate_hz = rates[dice.below(std::size(rates))];
        r.stages = static_cast<int>(dice.below(5));
        r.max_factor = static_cast<long long>(dice.chance(50) ? 65535 : 4 + dice.below(60));
        r.allow_first_stage_decimation = dice.chance(70);
        r.filter.attenuation_db = 40.0 + dice.unit() * 110.0;
        r.filter.ripple_db = std::pow(10.0, -3.0 + 3.0 * dice.unit());
        if (dice.chance(60)) {
            const double half_lower = std::min(r.input_rate_hz, r.output_rate_hz) / 2.0;
            r.filter.passband_hz = half_lower * (0.2 + 0.7 * dice.unit());
            r.filter.stopband_hz = dice.chance(50) ? *r.filter.passband_hz : half_lower;
        }
        if (dice.chance(15)) r.tolerance = Tolerance{std::pow(10.0, -2.0 - 5.0 * dice.unit())};
        const quillmere::DesignMethod methods[] = {quillmere::DesignMethod::automatic,
                                                   quillmere::DesignMethod::kaiser,
                                                   quillmere::DesignMethod::equiripple};
        const bool designed = dice.chance(50);
        if (designed) r.filter.design_method = methods[dice.below(3)];
        const quillmere::core::DesignedPricer by_method(
            r.filter.design_method.value_or(quillmere::DesignMethod::automatic));
        const quillmere::core::CascadePricer& inner =
            designed ? static_cast<const quillmere::core::CascadePricer&>(by_method) : kaiser;
        const CountingPricer bounded(inner, true);
        const CountingPricer exhaustive(inner, false);
        const MultistageResult got =
            quillmere::core::search_multistage_min_cost(context, r, bounded);
        const MultistageResult all =
            quillmere::core::search_multistage_min_cost(context, r, exhaustive);
        bounded_priced += bounded.priced;
        exhaustive_priced += exhaustive.priced;
        ASSERT_EQ(got.status, all.status) << describe(r);
        if (got.status != Status::ok) continue;
        ++found;
        ASSERT_EQ(got.plan.stages.size(), all.plan.stages.size()) << describe(r);
        for (std::size_t s = 0; s < all.plan.stages.size(); ++s) {
            EXPECT_EQ(got.plan.stages[s].l, all.plan.stages[s].l) << describe(r) << " stage " << s;
            EXPECT_EQ(got.plan.stages[s].m, all.plan.stages[s].m) << describe(r) << " stage " << s;
        }
        EXPECT_EQ(got.plan.price.macs_per_second, all.plan.price.macs_per_second) << describe(r);
        EXPECT_EQ(got.plan.price.coefficients, all.plan.price.coefficients) << describe(r);
    }
    EXPECT_GT(found, 150);
    EXPECT_LT(bounded_priced * 20, exhaustive_priced);
}

// ---------------------------------------------------------------------------------------
// 192 kHz -> 44.1 kHz
// ---------------------------------------------------------------------------------------

MultistageRequest reference_case(int stages) {
    MultistageRequest r;
    r.input_rate_hz = 192000;
    r.output_rate_hz = 44100;
    r.stages = stages;
    r.filter.passband_hz = 20000;
    r.filter.stopband_hz = 20000;  // aliases may fall anywhere above the passband
    r.filter.attenuation_db = 80;
    r.filter.ripple_db = 0.1;
    return r;
}

TEST(MultistageMinCost, FactorsTheReferenceCaseIntoTwoToFourStages) {
    // The Kaiser estimate: one stage 147/640 needs 54 MAC per input sample; two stages
    // 21/64 -> 7/10 need 31.85 and 1,440 coefficients (the figures).
    const MultistageResult one = search(reference_case(1));
    ASSERT_EQ(one.status, Status::ok);
    EXPECT_EQ(one.plan.stages.size(), 1u);
    const MultistageResult two = search(reference_case(2));
    ASSERT_EQ(two.status, Status::ok);
    ASSERT_EQ(two.plan.stages.size(), 2u);
    EXPECT_EQ(two.plan.stages[0].l, 21);
    EXPECT_EQ(two.plan.stages[0].m, 64);
    EXPECT_EQ(two.plan.stages[1].l, 7);
    EXPECT_EQ(two.plan.stages[1].m, 10);
    EXPECT_NEAR(two.plan.macs_per_input_sample, 31.85, 0.01);
    EXPECT_EQ(two.plan.price.coefficients, 1440);
    for (const int stages : {3, 4}) {
        const MultistageResult many = search(reference_case(stages));
        ASSERT_EQ(many.status, Status::ok);
        ASSERT_EQ(many.plan.stages.size(), static_cast<std::size_t>(stages));
        long long l = 1, m = 1;
        for (const Stage& s : many.plan.stages) {
            EXPECT_EQ(std::gcd(s.l, s.m), 1);
            l *= s.l;
            m *= s.m;
        }
        EXPECT_EQ(l, 147);
        EXPECT_EQ(m, 640);
        EXPECT_LT(many.plan.price.coefficients, two.plan.price.coefficients);
    }
    // The cheapest count is one of the counts, by the tie rule.
    const MultistageResult any = search(reference_case(0));
    ASSERT_EQ(any.status, Status::ok);
    EXPECT_LE(any.plan.price.macs_per_second,
              two.plan.price.macs_per_second * 1.01 + 2.0 * two.plan.price.macs_grain);
}

TEST(MultistageMinCost, FindsThePlansADesignedCascadeNeeds) {
    // down 2, down 2, 21/20, 7/8: the last stage's L is small, so its filter is short.
    const Stage plan[] = {{1, 2}, {1, 2}, {21, 20}, {7, 8}};
    quillmere::cost_model::Price price;
    const FilterSpec filter = quillmere::core::effective_filter(reference_case(4).filter);
    ASSERT_EQ(quillmere::cost_model::price_cascade(192000, plan, 4, filter, &price),
              quillmere::cost_model::Refusal::none);
    // The search prices exactly such plans: with the limit at 21 it still finds four stages.
    MultistageRequest r = reference_case(4);
    r.max_factor = 21;
    const MultistageResult got = search(r);
    ASSERT_EQ(got.status, Status::ok);
    EXPECT_LE(got.plan.price.macs_per_second,
              price.macs_per_second * 1.01 + 2.0 * price.macs_grain);
}

TEST(MultistageMinCost, RefusesWhatItCannotDo) {
    MultistageRequest r = reference_case(3);
    r.intermediate_target = IntermediateTarget{96000, Priority::final};
    EXPECT_EQ(search(r).status, Status::invalid_request);
    r = reference_case(5);
    EXPECT_EQ(search(r).status, Status::invalid_request);
    // 2/1 has one prime factor: it cannot make two filtered stages.
    r = reference_case(2);
    r.input_rate_hz = 44100;
    r.output_rate_hz = 88200;
    r.filter = FilterSpec{};
    const MultistageResult two = search(r);
    EXPECT_EQ(two.status, Status::not_found);
    EXPECT_FALSE(two.message.empty());
    // 44100 -> 48000.5 is 96001/88200 with 96001 = 17 x 5647: beyond a limit of 1000
    // without a tolerance, a nearby ratio with one.
    r.output_rate_hz = 48000.5;
    r.stages = 0;
    r.max_factor = 1000;
    const MultistageResult exact = search(r);
    EXPECT_EQ(exact.status, Status::not_found);
    EXPECT_NE(exact.message.find("prime factor above the limit"), std::string::npos)
        << exact.message;
    r.tolerance = Tolerance{1e-5};
    const MultistageResult near = search(r);
    ASSERT_EQ(near.status, Status::ok);
    EXPECT_TRUE(quillmere::core::error_at_most(near.plan.error, 1e-5));
}

}  // namespace
