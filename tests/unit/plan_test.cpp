// Plans through the public API: solve_plan in every mode and stage count, the tolerance,
// the first-stage decimation default by mode, and the cost of N stages.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "quillmere/quillmere.h"

using quillmere::auto_stages;
using quillmere::CostEstimate;
using quillmere::FilterSpec;
using quillmere::IntermediateTarget;
using quillmere::Outcome;
using quillmere::PlanRequest;
using quillmere::PlanResult;
using quillmere::Priority;
using quillmere::SearchMode;
using quillmere::Stage;
using quillmere::Status;

namespace {

/// The request of the example: 192 kHz to 44.1 kHz, 20 kHz passband, aliases
/// allowed above it, 80 dB, 0.1 dB ripple.
PlanRequest down_to_cd(int stages) {
    PlanRequest request;
    request.input_rate_hz = 192000.0;
    request.output_rate_hz = 44100.0;
    request.stages = stages;
    request.mode = SearchMode::min_cost;
    request.filter.passband_hz = 20000.0;
    request.filter.stopband_hz = 20000.0;
    request.filter.attenuation_db = 80.0;
    request.filter.ripple_db = 0.1;
    return request;
}

/// The product of the stages' ratios in lowest terms.
std::pair<std::int64_t, std::int64_t> overall(const std::vector<Stage>& stages) {
    std::int64_t l = 1, m = 1;
    for (const Stage& s : stages) {
        l *= s.l;
        m *= s.m;
        const std::int64_t g = std::gcd(l, m);
        l /= g;
        m /= g;
    }
    return {l, m};
}

/// Every stage in lowest terms, within the limit, none a pass-through.
void expect_sound_stages(const PlanResult& result, std::int64_t limit) {
    for (const Stage& s : result.stages) {
        EXPECT_EQ(std::gcd(s.l, s.m), 1) << s.l << "/" << s.m;
        EXPECT_LE(s.l, limit);
        EXPECT_LE(s.m, limit);
        EXPECT_FALSE(s.l == 1 && s.m == 1);
    }
}

}  // namespace

TEST(Plan, MinCostGivesTheCheapestPlanOfEachStageCount) {
    // The count asked for is the count delivered, and each plan factors 147/640.
    double auto_macs = 0.0;
    double cheapest_fixed = INFINITY;
    for (const int stages : {1, 2, 3, 4, auto_stages}) {
        SCOPED_TRACE(stages);
        const PlanRequest request = down_to_cd(stages);
        const PlanResult result = quillmere::solve_plan(request);
        ASSERT_EQ(result.status, Status::ok) << result.message;
        EXPECT_EQ(result.outcome, Outcome::match);
        if (stages != auto_stages) {
            EXPECT_EQ(result.stages.size(), static_cast<std::size_t>(stages));
        }
        EXPECT_EQ(overall(result.stages), (std::pair<std::int64_t, std::int64_t>{147, 640}));
        expect_sound_stages(result, quillmere::max_factor_limit);
        EXPECT_EQ(result.output_rate_hz, 44100.0);
        ASSERT_EQ(result.stage_output_rates_hz.size(), result.stages.size());

        const CostEstimate cost = quillmere::estimate_cost(request, result);
        ASSERT_EQ(cost.status, Status::ok) << cost.message;
        ASSERT_EQ(cost.stages.size(), result.stages.size());
        // The cost per input sample is the cost per second over the input rate, and the
        // stages' shares add up to it.
        EXPECT_DOUBLE_EQ(cost.macs_per_input_sample, cost.total_macs_per_second / 192000.0);
        double shares = 0.0;
        for (const auto& stage : cost.stages) shares += stage.macs_per_input_sample;
        EXPECT_NEAR(shares, cost.macs_per_input_sample, 1e-9 * cost.macs_per_input_sample);
        if (stages == auto_stages) {
            auto_macs = cost.macs_per_input_sample;
        } else {
            cheapest_fixed = std::min(cheapest_fixed, cost.macs_per_input_sample);
        }
        if (stages == 1) {
            // One stage decimates as it must, first-stage decimation or not.
            EXPECT_EQ(result.stages[0].l, 147);
            EXPECT_EQ(result.stages[0].m, 640);
        }
        if (stages == auto_stages) {
            // The Kaiser-estimate figures: two stages, 21/64 -> 7/10, below 32
            // multiplications per input sample and 1,440 coefficients.
            ASSERT_EQ(result.stages.size(), 2u);
            EXPECT_EQ(result.stages[0].l, 21);
            EXPECT_EQ(result.stages[0].m, 64);
            EXPECT_LT(cost.macs_per_input_sample, 32.0);
            EXPECT_EQ(cost.total_coefficients, 1440);
        }
    }
    // The automatic count is the cheapest of the counts.
    EXPECT_LE(auto_macs, cheapest_fixed * 1.01 + 1e-9);
}

TEST(Plan, FirstStageDecimationDependsOnTheModeUnlessGiven) {
    PlanRequest request;
    for (const auto& [mode, allowed] :
         std::vector<std::pair<SearchMode, bool>>{{SearchMode::minimal_sum, false},
                                                  {SearchMode::custom_limit, false},
                                                  {SearchMode::min_cost, true},
                                                  {SearchMode::best_accuracy, true}}) {
        request.mode = mode;
        request.allow_first_stage_decimation.reset();
        EXPECT_EQ(quillmere::first_stage_decimation_allowed(request), allowed);
        request.allow_first_stage_decimation = !allowed;
        EXPECT_EQ(quillmere::first_stage_decimation_allowed(request), !allowed);
    }

    // Min-cost over two stages decimates first by default; turned off, its first stage
    // does not decimate and the plan costs more.
    PlanRequest cheap = down_to_cd(2);
    const PlanResult decimating = quillmere::solve_plan(cheap);
    ASSERT_EQ(decimating.status, Status::ok);
    EXPECT_LT(decimating.stages[0].l, decimating.stages[0].m);
    cheap.allow_first_stage_decimation = false;
    const PlanResult held = quillmere::solve_plan(cheap);
    ASSERT_EQ(held.status, Status::ok);
    ASSERT_FALSE(held.stages.empty());
    EXPECT_GE(held.stages[0].l, held.stages[0].m);
    EXPECT_GT(quillmere::estimate_cost(cheap, held).total_macs_per_second,
              quillmere::estimate_cost(down_to_cd(2), decimating).total_macs_per_second);
}

TEST(Plan, BestAccuracyBeatsTheDialogsCandidates) {
    // custom-limit answers 1/2 -> 17/2 (1.7e-3); the best cascade within 101 is within
    // 5.5e-7, in lowest terms.
    PlanRequest request;
    request.input_rate_hz = 22050.0;
    request.output_rate_hz = 93869.67;
    request.stages = 2;
    request.mode = SearchMode::best_accuracy;
    request.max_factor = 101;
    const PlanResult best = quillmere::solve_plan(request);
    ASSERT_EQ(best.status, Status::ok) << best.message;
    ASSERT_EQ(best.stages.size(), 2u);
    expect_sound_stages(best, 101);
    EXPECT_LE(best.output_error.relative, 5.6e-7);

    request.mode = SearchMode::custom_limit;
    const PlanResult custom = quillmere::solve_plan(request);
    ASSERT_EQ(custom.status, Status::ok);
    EXPECT_GT(custom.output_error.relative, 1e-3);

    // solve_two_stage gives the same cascade in best-accuracy mode.
    quillmere::TwoStageRequest two;
    two.input_rate_hz = 22050.0;
    two.output_rate_hz = 93869.67;
    two.mode = SearchMode::best_accuracy;
    two.max_factor = 101;
    two.allow_first_stage_decimation = true;
    const quillmere::TwoStageResult same = quillmere::solve_two_stage(two);
    ASSERT_EQ(same.status, Status::ok);
    EXPECT_EQ(same.first.l, best.stages[0].l);
    EXPECT_EQ(same.first.m, best.stages[0].m);
    EXPECT_EQ(same.second.l, best.stages[1].l);
    EXPECT_EQ(same.second.m, best.stages[1].m);

    // A non-exact ratio is not answered with a pass-through.
    request.mode = SearchMode::best_accuracy;
    request.input_rate_hz = 44100.0;
    request.output_rate_hz = 48000.5;
    request.max_factor = quillmere::max_factor_limit;
    const PlanResult near = quillmere::solve_plan(request);
    ASSERT_EQ(near.status, Status::ok);
    EXPECT_LT(near.output_error.relative, 1e-9);
}

TEST(Plan, TheToleranceRefusesWhatMissesItInEveryMode) {
    // Minimal-sum passes 44.1k -> 48000.5 through with 8.1 % error: outside 1e-6.
    PlanRequest request;
    request.input_rate_hz = 44100.0;
    request.output_rate_hz = 48000.5;
    request.stages = 2;
    request.tolerance = 1e-6;
    const PlanResult refused = quillmere::solve_plan(request);
    EXPECT_EQ(refused.status, Status::not_found);
    EXPECT_TRUE(refused.stages.empty());
    EXPECT_NEAR(refused.best_error_found, 0.5 / 48000.5 + 3900.0 / 48000.5, 1e-12);
    EXPECT_NE(refused.message.find("1e-06"), std::string::npos) << refused.message;

    // One stage: the single-stage solver's answer is within it.
    request.stages = 1;
    const PlanResult single = quillmere::solve_plan(request);
    ASSERT_EQ(single.status, Status::ok) << single.message;
    EXPECT_LE(single.output_error.relative, 1e-6);

    // Best-accuracy searches within it and says by how much the best misses when none is.
    request.stages = 2;
    request.mode = SearchMode::best_accuracy;
    request.max_factor = 60;
    request.tolerance = 1e-9;
    const PlanResult missed = quillmere::solve_plan(request);
    EXPECT_EQ(missed.status, Status::not_found);
    EXPECT_GT(missed.best_error_found, 1e-9);
    EXPECT_LT(missed.best_error_found, 1e-4);
    request.tolerance = missed.best_error_found * 1.000001;
    const PlanResult met = quillmere::solve_plan(request);
    ASSERT_EQ(met.status, Status::ok) << met.message;
    EXPECT_LE(met.output_error.relative, *request.tolerance);

    // Min-cost may take a simpler ratio within the tolerance: 48000 -> 70981 has a prime
    // above the limit, yet within 5 ppm a cheap single stage exists.
    PlanRequest cheap;
    cheap.input_rate_hz = 48000.0;
    cheap.output_rate_hz = 70981.0;
    cheap.mode = SearchMode::min_cost;
    cheap.stages = auto_stages;
    const PlanResult exact = quillmere::solve_plan(cheap);
    ASSERT_EQ(exact.status, Status::ok);
    cheap.tolerance = 5e-6;
    const PlanResult loose = quillmere::solve_plan(cheap);
    ASSERT_EQ(loose.status, Status::ok) << loose.message;
    EXPECT_LE(loose.output_error.relative, 5e-6);
    EXPECT_LT(quillmere::estimate_cost(cheap, loose).total_coefficients,
              quillmere::estimate_cost(cheap, exact).total_coefficients / 10);
}

TEST(Plan, MinCostNeverAnswersOutsideTheTolerance) {
    // The two-stage search's cheapest cascade within 100, 8/7 -> 20/21, is off by 1.04e-5:
    // with a tolerance of 1e-6 it may not win however cheap it is. No ratio within 1e-6
    // factors into two stages within 100: not_found, the two-stage error the best found.
    PlanRequest request;
    request.input_rate_hz = 44100.0;
    request.output_rate_hz = 48000.5;
    request.mode = SearchMode::min_cost;
    request.max_factor = 100;
    request.tolerance = 1e-6;
    request.stages = 2;
    const PlanResult refused = quillmere::solve_plan(request);
    EXPECT_EQ(refused.status, Status::not_found);
    EXPECT_NEAR(refused.best_error_found, 1.0416558e-5, 1e-11);
    EXPECT_NE(refused.message.find("relative error of 1.04"), std::string::npos)
        << refused.message;
    // Three stages do factor a ratio within it, and auto finds them.
    request.stages = auto_stages;
    const PlanResult result = quillmere::solve_plan(request);
    ASSERT_EQ(result.status, Status::ok) << result.message;
    EXPECT_EQ(result.stages.size(), 3u);
    EXPECT_LE(result.output_error.relative, 1e-6);
}

TEST(Plan, OutputEqualToInputNeedsNoStage) {
    PlanRequest request;
    request.input_rate_hz = 48000.0;
    request.output_rate_hz = 48000.0;
    request.mode = SearchMode::min_cost;
    for (const int stages : {3, auto_stages}) {
        request.stages = stages;
        const PlanResult result = quillmere::solve_plan(request);
        ASSERT_EQ(result.status, Status::ok);
        EXPECT_EQ(result.outcome, Outcome::match);
        EXPECT_TRUE(result.stages.empty());
        EXPECT_EQ(result.output_rate_hz, 48000.0);
        const CostEstimate cost = quillmere::estimate_cost(request, result);
        EXPECT_EQ(cost.status, Status::ok);
        EXPECT_TRUE(cost.stages.empty());
        EXPECT_EQ(cost.total_coefficients, 0);
        EXPECT_EQ(cost.macs_per_input_sample, 0.0);
    }
}

TEST(Plan, RefusedRequestsNameTheirField) {
    struct Case {
        const char* what;
        PlanRequest request;
        const char* field;
    };
    const auto with = [](auto change) {
        PlanRequest r;
        r.input_rate_hz = 44100.0;
        r.output_rate_hz = 48000.0;
        r.stages = 2;
        change(r);
        return r;
    };
    const std::vector<Case> cases = {
        {"five stages", with([](PlanRequest& r) { r.stages = 5; }), "stages"},
        {"negative stages", with([](PlanRequest& r) { r.stages = -1; }), "stages"},
        {"three stages, custom-limit",
         with([](PlanRequest& r) {
             r.stages = 3;
             r.mode = SearchMode::custom_limit;
         }),
         "stages"},
        {"auto, best-accuracy",
         with([](PlanRequest& r) {
             r.stages = auto_stages;
             r.mode = SearchMode::best_accuracy;
         }),
         "stages"},
        {"one stage, best-accuracy",
         with([](PlanRequest& r) {
             r.stages = 1;
             r.mode = SearchMode::best_accuracy;
         }),
         "mode"},
        {"target with three stages",
         with([](PlanRequest& r) {
             r.stages = 3;
             r.mode = SearchMode::min_cost;
             r.intermediate_target = IntermediateTarget{96000.0, Priority::balanced};
         }),
         "intermediate_target"},
        {"tolerance 1", with([](PlanRequest& r) { r.tolerance = 1.0; }), "tolerance"},
        {"tolerance NaN", with([](PlanRequest& r) { r.tolerance = NAN; }), "tolerance"},
        {"negative tolerance", with([](PlanRequest& r) { r.tolerance = -1e-6; }), "tolerance"},
        {"limit 0", with([](PlanRequest& r) { r.max_factor = 0; }), "max_factor"},
        {"passband above stopband",
         with([](PlanRequest& r) {
             r.mode = SearchMode::min_cost;
             r.filter.passband_hz = 21000.0;
             r.filter.stopband_hz = 20000.0;
         }),
         "filter.passband_hz"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const quillmere::RequestCheck check = quillmere::check_request(c.request);
        EXPECT_EQ(check.status, Status::invalid_request);
        EXPECT_EQ(check.field, c.field);
        const PlanResult result = quillmere::solve_plan(c.request);
        EXPECT_EQ(result.status, Status::invalid_request);
        EXPECT_EQ(result.message, check.message);
    }
    // Equal passband and stopband edges below half the lower rate are accepted.
    PlanRequest equal = down_to_cd(3);
    EXPECT_EQ(quillmere::check_request(equal).status, Status::ok);
}

TEST(Plan, AStopRequestStopsEverySearch) {
    std::atomic<bool> stop{true};
    quillmere::SolveOptions options;
    options.stop_flag = &stop;
    PlanRequest request = down_to_cd(auto_stages);
    EXPECT_EQ(quillmere::solve_plan(request, options).status, Status::stopped);
    request.mode = SearchMode::best_accuracy;
    request.stages = 2;
    request.output_rate_hz = 44100.5;
    EXPECT_EQ(quillmere::solve_plan(request, options).status, Status::stopped);
}

TEST(Plan, RandomRequestsKeepEveryPromiseOfThePlan) {
    // Whatever the mode, count, limit, tolerance and decimation: a plan found keeps to the
    // limit, its stages are in lowest terms (in the wider searches), its rates chain from
    // the input rate, and it lies within the tolerance; a plan refused by the tolerance
    // says by how much the best missed.
    std::mt19937_64 engine{20};
    const auto below = [&](std::uint64_t n) { return engine() % n; };
    const double rates[] = {8000,  11025, 16000,  22050,  32000,   44100,    48000,
                            88200, 96000, 176400, 192000, 48000.5, 70981.0, 93869.67};
    int found = 0;
    for (int i = 0; i < 300; ++i) {
        PlanRequest r;
        r.input_rate_hz = rates[below(std::size(rates))];
        r.output_rate_hz = rates[below(std::size(rates))];
        switch (below(4)) {
        case 0: r.mode = SearchMode::minimal_sum; r.stages = 1 + static_cast<int>(below(2)); break;
        case 1: r.mode = SearchMode::custom_limit; r.stages = 2; break;
        case 2: r.mode = SearchMode::best_accuracy; r.stages = 2; break;
        default: r.mode = SearchMode::min_cost; r.stages = static_cast<int>(below(5)); break;
        }
        if (!(r.mode == SearchMode::minimal_sum)) {
            r.max_factor = static_cast<std::int64_t>(2 + below(below(2) == 0 ? 30 : 2000));
        }
        if (below(3) == 0) r.allow_first_stage_decimation = below(2) == 0;
        if (below(3) == 0) r.tolerance = std::pow(10.0, -2.0 - static_cast<double>(below(8)));
        r.filter.attenuation_db = 60.0 + static_cast<double>(below(50));
        const std::string what = std::string(quillmere::search_mode_name(r.mode)) + " " +
                                 std::to_string(r.stages) + " stages, " +
                                 std::to_string(r.input_rate_hz) + " -> " +
                                 std::to_string(r.output_rate_hz) + " limit " +
                                 std::to_string(r.max_factor);
        SCOPED_TRACE(what);
        const PlanResult result = quillmere::solve_plan(r);
        if (result.status == Status::not_found) {
            if (r.tolerance && !std::isnan(result.best_error_found)) {
                EXPECT_GT(result.best_error_found, *r.tolerance);
                EXPECT_FALSE(result.message.empty());
            }
            continue;
        }
        ASSERT_EQ(result.status, Status::ok) << result.message;
        ++found;
        if (r.tolerance) {
            EXPECT_LE(result.output_error.relative, *r.tolerance);
        }
        const bool wider = r.mode == SearchMode::best_accuracy ||
                           (r.mode == SearchMode::min_cost && r.stages != 2);
        const bool one_dialog_stage = r.mode == SearchMode::minimal_sum && r.stages == 1;
        const bool plan_of_min_cost = r.mode == SearchMode::min_cost && r.tolerance;
        if (r.stages != auto_stages && !plan_of_min_cost &&
            (!wider || r.mode == SearchMode::best_accuracy)) {
            EXPECT_EQ(result.stages.size(), static_cast<std::size_t>(r.stages));
        }
        if (plan_of_min_cost || (wider && r.mode == SearchMode::min_cost)) {
            EXPECT_LE(result.stages.size(), static_cast<std::size_t>(quillmere::max_plan_stages));
            // Output = input needs no stage.
            if (r.stages != auto_stages && r.input_rate_hz != r.output_rate_hz) {
                EXPECT_EQ(result.stages.size(), static_cast<std::size_t>(r.stages));
            }
        }
        double rate = r.input_rate_hz;
        for (std::size_t s = 0; s < result.stages.size(); ++s) {
            const Stage& stage = result.stages[s];
            if (!one_dialog_stage) {
                EXPECT_LE(stage.l, r.max_factor);
                EXPECT_LE(stage.m, r.max_factor);
            }
            if (wider) {
                EXPECT_EQ(std::gcd(stage.l, stage.m), 1);
            }
            if (wider && r.mode == SearchMode::min_cost) {
                EXPECT_FALSE(stage.l == 1 && stage.m == 1);
            }
            if (s == 0 && result.stages.size() > 1 && !quillmere::first_stage_decimation_allowed(r)) {
                EXPECT_GE(stage.l, stage.m);
            }
            rate *= static_cast<double>(stage.l) / static_cast<double>(stage.m);
            EXPECT_NEAR(result.stage_output_rates_hz[s], rate, rate * 1e-12);
        }
        EXPECT_NEAR(result.output_rate_hz, rate, rate * 1e-12);
        EXPECT_NEAR(result.output_error.relative,
                    std::fabs(rate - r.output_rate_hz) / r.output_rate_hz, 1e-12);
    }
    EXPECT_GT(found, 200);
}
