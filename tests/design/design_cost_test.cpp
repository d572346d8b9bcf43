// The cost model priced by design method: estimate_cost with FilterSpec::design_method
// against what design_filters delivers, the halfband's non-zero taps, design_cost, the
// allocation-free pricing a search would call, and the lower bound it would prune with.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "core/design_targets.h"
#include "core/filter_model.h"
#include "core/filter_price.h"
#include "quillmere/quillmere.h"

namespace {

using quillmere::CostEstimate;
using quillmere::DesignMethod;
using quillmere::FilterDesign;
using quillmere::FilterSpec;
using quillmere::Stage;
using quillmere::StageCost;
using quillmere::StageFilter;
using quillmere::Status;

FilterSpec priced_by(std::optional<DesignMethod> method, double attenuation_db = 100.0) {
    FilterSpec f;
    f.attenuation_db = attenuation_db;
    f.design_method = method;
    return f;
}

FilterDesign designed(double input, const std::vector<Stage>& stages, const FilterSpec& filter,
                      DesignMethod method) {
    quillmere::DesignOptions options;
    options.method = method;
    return quillmere::design_filters(input, stages, filter, options);
}

struct Cascade {
    const char* name;
    double input;
    std::vector<Stage> stages;
    double attenuation_db;
};

const std::vector<Cascade>& cascades() {
    static const std::vector<Cascade> all = {
        {"48000 -> 8000", 48000, {{1, 6}}, 80},
        {"8000 -> 48000", 8000, {{6, 1}}, 100},
        {"44100 -> 63000 -> 48000", 44100, {{10, 7}, {16, 21}}, 100},
        {"96000 -> 64000 -> 44100", 96000, {{2, 3}, {441, 640}}, 90},
        {"44100 -> 88200 -> 176400", 44100, {{2, 1}, {2, 1}}, 100},
        {"10 MHz -> 1 MHz", 10e6, {{1, 10}}, 90},
        {"8000 -> 16000 -> 192000", 8000, {{2, 1}, {12, 1}}, 120},
    };
    return all;
}

TEST(DesignCost, WithoutAMethodTheEstimateIsKaisersAsBefore) {
    for (const Cascade& c : cascades()) {
        SCOPED_TRACE(c.name);
        const CostEstimate e = quillmere::estimate_cost(c.input, c.stages, priced_by({}, c.attenuation_db));
        ASSERT_EQ(e.status, Status::ok) << e.message;
        EXPECT_FALSE(e.design_method.has_value());
        EXPECT_FALSE(e.designed);
        std::int64_t taps = 0;
        for (const StageCost& s : e.stages) {
            EXPECT_EQ(s.filter, s.filtered ? StageFilter::kaiser : StageFilter::none);
            EXPECT_FALSE(s.halfband);
            EXPECT_EQ(s.nonzero_taps, s.taps);
            taps += s.taps;
        }
        EXPECT_EQ(e.total_coefficients, taps);
    }
}

TEST(DesignCost, EachMethodPricesTheLengthsTheDesignDelivers) {
    for (const Cascade& c : cascades()) {
        for (const DesignMethod method : {DesignMethod::kaiser, DesignMethod::automatic}) {
            SCOPED_TRACE(std::string(c.name) + " " + quillmere::design_method_name(method));
            const FilterSpec filter = priced_by(method, c.attenuation_db);
            const CostEstimate e = quillmere::estimate_cost(c.input, c.stages, filter);
            ASSERT_EQ(e.status, Status::ok) << e.message;
            EXPECT_EQ(e.design_method, method);
            const FilterDesign d = designed(c.input, c.stages, filter, method);
            ASSERT_EQ(d.status, Status::ok) << d.message;
            double macs = 0.0;
            for (std::size_t i = 0; i < c.stages.size(); ++i) {
                const StageCost& s = e.stages[i];
                const quillmere::StageDesign& delivered = d.stages[i];
                EXPECT_EQ(s.filter, delivered.filter) << "stage " << i + 1;
                EXPECT_EQ(s.halfband, delivered.halfband) << "stage " << i + 1;
                const auto predicted = static_cast<double>(s.taps);
                const auto taps = static_cast<double>(delivered.taps);
                if (delivered.filter == StageFilter::kaiser) {
                    // Kaiser's length exactly, unless a measurement that missed lengthened it.
                    EXPECT_GE(taps, predicted);
                    EXPECT_LE(taps, 1.03 * predicted);
                } else {
                    EXPECT_GE(taps, 0.85 * predicted - 4) << "stage " << i + 1;
                    EXPECT_LE(taps, 1.2 * predicted + 4) << "stage " << i + 1;
                }
                const double l = static_cast<double>(c.stages[i].l);
                EXPECT_DOUBLE_EQ(s.taps_per_output_sample, static_cast<double>(s.nonzero_taps) / l);
                EXPECT_DOUBLE_EQ(s.macs_per_second, s.taps_per_output_sample * s.output_rate_hz);
                macs += s.macs_per_second;
            }
            EXPECT_DOUBLE_EQ(e.total_macs_per_second, macs);
        }
    }
}

TEST(DesignCost, WithoutALeakAllowanceKaisersLengthIsTheEstimatesOwn) {
    // A single decimation: no leaks meet, so the design's target is the estimate's.
    const std::vector<Stage> stage = {{1, 6}};
    const CostEstimate plain = quillmere::estimate_cost(48000, stage, priced_by({}, 80));
    const CostEstimate kaiser =
        quillmere::estimate_cost(48000, stage, priced_by(DesignMethod::kaiser, 80));
    ASSERT_EQ(kaiser.status, Status::ok);
    EXPECT_EQ(kaiser.stages[0].taps, plain.stages[0].taps);
    EXPECT_EQ(kaiser.stages[0].kaiser_beta, plain.stages[0].kaiser_beta);
    EXPECT_EQ(kaiser.total_macs_per_second, plain.total_macs_per_second);
}

TEST(DesignCost, AHalfbandCountsItsNonZeroTaps) {
    const std::vector<Stage> stages = {{2, 1}, {2, 1}};
    const FilterSpec filter = priced_by(DesignMethod::automatic);
    const CostEstimate e = quillmere::estimate_cost(44100, stages, filter);
    ASSERT_EQ(e.status, Status::ok) << e.message;
    const StageCost& second = e.stages[1];
    ASSERT_TRUE(second.halfband);
    EXPECT_EQ((second.taps - 3) % 4, 0);
    EXPECT_EQ(second.nonzero_taps, (second.taps + 3) / 2);
    EXPECT_DOUBLE_EQ(second.macs_per_second,
                     static_cast<double>(second.nonzero_taps) / 2.0 * 176400.0);
    EXPECT_EQ(e.total_coefficients, e.stages[0].nonzero_taps + second.nonzero_taps);

    // What the design delivers, priced: the very non-zero coefficients it has.
    const FilterDesign d = designed(44100, stages, filter, DesignMethod::automatic);
    ASSERT_EQ(d.status, Status::ok) << d.message;
    const CostEstimate delivered = quillmere::design_cost(d);
    ASSERT_EQ(delivered.status, Status::ok);
    EXPECT_TRUE(delivered.designed);
    EXPECT_EQ(delivered.design_method, DesignMethod::automatic);
    std::int64_t nonzero = 0;
    for (const double c : d.stages[1].coefficients) nonzero += c != 0.0 ? 1 : 0;
    EXPECT_EQ(delivered.stages[1].nonzero_taps, nonzero);
    EXPECT_EQ(delivered.stages[1].taps, static_cast<std::int64_t>(d.stages[1].coefficients.size()));
    EXPECT_TRUE(delivered.stages[1].halfband);
    EXPECT_DOUBLE_EQ(delivered.stages[1].macs_per_second,
                     static_cast<double>(nonzero) / 2.0 * 176400.0);
    EXPECT_EQ(delivered.total_coefficients,
              delivered.stages[0].nonzero_taps + delivered.stages[1].nonzero_taps);
}

TEST(DesignCost, TheDeliveredCostHasTheEstimatesTransitionsAndRates) {
    const std::vector<Stage> stages = {{10, 7}, {16, 21}};
    const FilterSpec filter = priced_by(DesignMethod::automatic);
    const FilterDesign d = designed(44100, stages, filter, DesignMethod::automatic);
    ASSERT_EQ(d.status, Status::ok);
    const CostEstimate delivered = quillmere::design_cost(d);
    const CostEstimate predicted = quillmere::estimate_cost(44100, stages, filter);
    ASSERT_EQ(delivered.stages.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(delivered.stages[i].transition_hz, predicted.stages[i].transition_hz);
        EXPECT_EQ(delivered.stages[i].output_rate_hz, predicted.stages[i].output_rate_hz);
        EXPECT_EQ(delivered.stages[i].taps, d.stages[i].taps);
    }
    EXPECT_EQ(delivered.passband_hz, predicted.passband_hz);

    // A refused design gives its refusal and no figures.
    FilterDesign refused;
    refused.status = Status::calculation_error;
    refused.field = "stages";
    refused.message = "no filter";
    const CostEstimate none = quillmere::design_cost(refused);
    EXPECT_EQ(none.status, Status::calculation_error);
    EXPECT_EQ(none.message, "no filter");
    EXPECT_TRUE(none.stages.empty());
}

TEST(DesignCost, AMethodOutsideTheEnumIsRefusedByName) {
    const std::vector<Stage> stage = {{1, 6}};
    const CostEstimate e =
        quillmere::estimate_cost(48000, stage, priced_by(static_cast<DesignMethod>(7)));
    EXPECT_EQ(e.status, Status::invalid_request);
    EXPECT_EQ(e.field, "filter.design_method");
}

TEST(DesignCost, TheSearchesPricingAgreesWithTheEstimateBitForBit) {
    for (const Cascade& c : cascades()) {
        for (const DesignMethod method :
             {DesignMethod::kaiser, DesignMethod::equiripple, DesignMethod::automatic}) {
            SCOPED_TRACE(std::string(c.name) + " " + quillmere::design_method_name(method));
            const FilterSpec filter = priced_by(method, c.attenuation_db);
            const CostEstimate e = quillmere::estimate_cost(c.input, c.stages, filter);
            quillmere::cost_model::Price price;
            ASSERT_EQ(quillmere::cost_model::price_designed_cascade(
                          c.input, c.stages.data(), c.stages.size(), filter, method, &price),
                      quillmere::cost_model::Refusal::none);
            EXPECT_EQ(price.macs_per_second, e.total_macs_per_second);
            EXPECT_EQ(price.coefficients, e.total_coefficients);
        }
    }
}

/// For random stages: the factor floor never exceeds what predict_stage gives, for every
/// method, at the least leak allowance and with the stage's own transition or a wider bound;
/// the factor ceiling at the stage's leaks is never below it.
TEST(DesignCost, TheFactorFloorBoundsEveryPredictionFromBelow) {
    std::mt19937_64 random(19);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    int checked = 0;
    int halfbands = 0;
    int automatic_kaiser = 0;
    for (int trial = 0; trial < 4000; ++trial) {
        const double attenuation = 30.0 + 130.0 * unit(random);
        const double ripple = std::pow(10.0, -2.0 + 2.0 * unit(random));
        const int filtered = 1 + static_cast<int>(unit(random) * 2.0);
        const double leaks = std::pow(2.0, std::floor(unit(random) * 4.0));  // 1, 2, 4, 8
        const bool by_two = unit(random) < 0.3;
        // A third of the stages long: the automatic method designs those by Kaiser's window.
        const double most = trial % 3 == 0 ? 400.0 : 40.0;
        const std::int64_t l = by_two ? (unit(random) < 0.5 ? 2 : 1)
                                      : 1 + static_cast<std::int64_t>(unit(random) * most);
        const std::int64_t m = by_two ? 3 - l : 1 + static_cast<std::int64_t>(unit(random) * most);
        if (l == 1 && m == 1) continue;
        const double input = 1000.0 * std::pow(10.0, 4.0 * unit(random));
        const double output = input * static_cast<double>(l) / static_cast<double>(m);
        const double lower = std::min(input, output);
        FilterSpec requirements;
        requirements.attenuation_db = attenuation;
        requirements.ripple_db = ripple;
        requirements.stopband_hz = lower / 2.0 * (0.3 + 0.7 * unit(random));
        requirements.passband_hz = *requirements.stopband_hz * (0.2 + 0.79 * unit(random));
        quillmere::cost_model::Design design;
        ASSERT_EQ(quillmere::cost_model::resolve_design(input, output, filtered, requirements,
                                                        &design),
                  quillmere::cost_model::Refusal::none);
        quillmere::cost_model::StageTarget target;
        const double allowance =
            quillmere::cost_model::leak_allowance_db(leaks, filtered, design.stage_ripple_db);
        if (!quillmere::cost_model::stage_target(design, input, output, l, m, allowance, &target))
            continue;
        // The deviations of the least allowance, which every cascade's is at least.
        const double least = quillmere::cost_model::leak_allowance_db(1.0, filtered,
                                                                      design.stage_ripple_db);
        const double passband = quillmere::cost_model::ripple_deviation(design.stage_ripple_db);
        const double stopband =
            quillmere::cost_model::stopband_deviation(design.attenuation_db + least);
        const double transition =
            (target.stopband_hz - target.passband_hz) / target.upsampled_rate_hz;
        halfbands += target.halfband_possible ? 1 : 0;
        for (const DesignMethod method :
             {DesignMethod::kaiser, DesignMethod::equiripple, DesignMethod::automatic}) {
            const quillmere::cost_model::StagePrediction p =
                quillmere::cost_model::predict_stage(target, method);
            if (method == DesignMethod::automatic && p.method == StageFilter::kaiser) {
                ++automatic_kaiser;  // beyond the exchange's lengths
            }
            // And the ceiling at these leaks, every method and form, never below.
            EXPECT_LE(p.taps,
                      quillmere::cost_model::designed_taps_factor_ceiling(design, leaks) /
                              transition +
                          8.0)
                << "method " << quillmere::design_method_name(method) << ", " << attenuation
                << " dB, L/M " << l << "/" << m;
            // The far-edge margin of the stage's own transition, or of a narrower one, adds
            // to the ordinary Kaiser form; never to the halfband's.
            const double transition_hz = target.stopband_hz - target.passband_hz;
            for (const double bound : {transition, std::min(0.5, 3.0 * transition)}) {
                for (const double margin_of : {0.0, 0.5 * transition_hz, transition_hz}) {
                    const double margin =
                        margin_of > 0.0
                            ? quillmere::cost_model::far_edge_margin_db(margin_of,
                                                                        target.passband_hz)
                            : 0.0;
                    const double factor = quillmere::cost_model::nonzero_taps_factor_floor(
                        passband, stopband, method, target.halfband_possible, bound, margin);
                    ASSERT_GE(factor, 0.0);
                    EXPECT_GE(p.nonzero_taps * (1.0 + 1e-12), factor / transition)
                        << "method " << quillmere::design_method_name(method) << ", "
                        << attenuation << " dB, " << ripple << " dB, L/M " << l << "/" << m
                        << ", transition " << transition << ", margin " << margin << " dB";
                    ++checked;
                }
            }
        }
    }
    EXPECT_GT(checked, 30000);
    EXPECT_GT(halfbands, 100);
    EXPECT_GT(automatic_kaiser, 100);
}

TEST(DesignCost, TheFactorFloorIsNotFarBelowTheLengths) {
    // Useful for pruning: within a factor of two of the equiripple length of a sharp stage,
    // and of Kaiser's.
    quillmere::cost_model::Design design;
    ASSERT_EQ(quillmere::cost_model::resolve_design(48000, 8000, 1, priced_by({}, 100), &design),
              quillmere::cost_model::Refusal::none);
    quillmere::cost_model::StageTarget target;
    ASSERT_TRUE(quillmere::cost_model::stage_target(design, 48000, 8000, 1, 6, 0.0, &target));
    const double transition = (target.stopband_hz - target.passband_hz) / 48000.0;
    for (const DesignMethod method : {DesignMethod::kaiser, DesignMethod::equiripple}) {
        const double floor = quillmere::cost_model::nonzero_taps_factor_floor(
                                 target.passband_deviation, target.stopband_deviation, method,
                                 false, transition) /
                             transition;
        const double taps = quillmere::cost_model::predict_stage(target, method).nonzero_taps;
        EXPECT_LE(floor, taps);
        EXPECT_GE(floor, 0.5 * taps) << quillmere::design_method_name(method);
    }
    // Beyond the exchange's lengths the automatic method designs by Kaiser's window, and
    // its floor is Kaiser's, not the equiripple one at about half of it: 768000 -> 16000 Hz
    // at 134 dB in one stage.
    ASSERT_EQ(quillmere::cost_model::resolve_design(768000, 16000, 1, priced_by({}, 134), &design),
              quillmere::cost_model::Refusal::none);
    ASSERT_TRUE(quillmere::cost_model::stage_target(design, 768000, 16000, 1, 48, 0.0, &target));
    const double sharp = (target.stopband_hz - target.passband_hz) / 768000.0;
    const quillmere::cost_model::StagePrediction p =
        quillmere::cost_model::predict_stage(target, DesignMethod::automatic);
    ASSERT_EQ(p.method, StageFilter::kaiser);
    const double floor = quillmere::cost_model::nonzero_taps_factor_floor(
                             target.passband_deviation, target.stopband_deviation,
                             DesignMethod::automatic, false, sharp) /
                         sharp;
    EXPECT_LE(floor, p.nonzero_taps);
    EXPECT_GE(floor, 0.9 * p.nonzero_taps);
}

TEST(DesignCost, KaisersFloorCountsTheFarEdgeMargin) {
    // A stage whose transition is wide next to the passband gets most of the 2.5 dB
    // far-edge margin: 5644800 -> 21879 Hz towards 15 Hz at 50 dB (a passband of 6.75 Hz),
    // Kaiser's length some 6 % above its value without the margin. With the margin of its
    // transition the floor is within a tap of the length, without it well below.
    quillmere::cost_model::Design design;
    ASSERT_EQ(quillmere::cost_model::resolve_design(5644800, 15, 2, priced_by({}, 50), &design),
              quillmere::cost_model::Refusal::none);
    quillmere::cost_model::StageTarget target;
    ASSERT_TRUE(quillmere::cost_model::stage_target(design, 5644800, 5644800.0 / 258.0, 1, 258,
                                                    0.0, &target));
    const double transition_hz = target.stopband_hz - target.passband_hz;
    const double transition = transition_hz / target.upsampled_rate_hz;
    const double taps =
        quillmere::cost_model::predict_stage(target, DesignMethod::kaiser).nonzero_taps;
    const double margin = quillmere::cost_model::far_edge_margin_db(transition_hz,
                                                                    target.passband_hz);
    EXPECT_GT(margin, 2.4);
    const auto floor = [&](double margin_db) {
        return quillmere::cost_model::nonzero_taps_factor_floor(
                   target.passband_deviation, target.stopband_deviation, DesignMethod::kaiser,
                   false, transition, margin_db) /
               transition;
    };
    EXPECT_LE(floor(margin), taps);
    EXPECT_GE(floor(margin), taps - 2.0);
    EXPECT_LT(floor(0.0), 0.96 * taps);
    // The automatic method's floor, the lower of its Kaiser form (with the margin) and its
    // equiripple one, stays below the length it predicts.
    const double automatic = quillmere::cost_model::nonzero_taps_factor_floor(
                                 target.passband_deviation, target.stopband_deviation,
                                 DesignMethod::automatic, false, transition, margin) /
                             transition;
    EXPECT_LE(automatic,
              quillmere::cost_model::predict_stage(target, DesignMethod::automatic).nonzero_taps);
}

}  // namespace
