// The price of a cascade: the totals the min-cost search compares, and the public
// estimate_cost with every stage's figures.
#include "core/filter_price.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <span>
#include <string>
#include <vector>

#include "core/filter_refusals.h"

namespace quillmere::inline v2::cost_model {

Refusal price_cascade(double input_rate_hz, const Stage* stages, std::size_t count,
                      const FilterSpec& filter, Price* price, DesignMemo* memo) {
    Design design;
    double macs = 0.0;
    double grain = 0.0;
    std::int64_t coefficients = 0;
    const WalkEnd end = walk_cascade(input_rate_hz, stages, count, filter, &design,
                                     [&](std::size_t i, double, double out, const StageFigures* f) {
                                         if (f == nullptr) return;
                                         macs += f->macs_per_second;
                                         coefficients += f->taps;
                                         grain += out / static_cast<double>(stages[i].l);
                                     },
                                     memo);
    if (end.refusal == Refusal::none) {
        price->macs_per_second = macs;
        price->coefficients = coefficients;
        price->macs_grain = grain;
    }
    return end.refusal;
}

double cascade_leak_allowance_db(const Stage* stages, std::size_t count, const Design& design) {
    return leak_allowance_db(coinciding_leaks(stages, count), design.filtered_stages,
                             design.stage_ripple_db);
}

Refusal designed_stage(const Design& design, double leak_allowance_db, double stage_input_rate_hz,
                       double stage_output_rate_hz, const Stage& stage, DesignMethod method,
                       DesignedStage* designed) {
    StageTarget target;
    if (!stage_target(design, stage_input_rate_hz, stage_output_rate_hz, stage.l, stage.m,
                      leak_allowance_db, &target)) {
        return Refusal::stage_rate;
    }
    const StagePrediction p = predict_stage(target, method);
    if (!(p.taps <= max_taps)) return Refusal::length;
    designed->prediction = p;
    designed->kaiser_beta = 0.0;
    if (p.method == StageFilter::kaiser) {
        designed->kaiser_beta =
            p.halfband
                ? kaiser_figures(target, target.halfband_passband_hz, target.halfband_stopband_hz)
                      .beta
                : kaiser_figures(target, target.passband_hz, target.stopband_hz).beta;
    }
    return Refusal::none;
}

Refusal price_designed_cascade(double input_rate_hz, const Stage* stages, std::size_t count,
                               const FilterSpec& filter, DesignMethod method, Price* price,
                               DesignMemo* memo) {
    Design design;
    double macs = 0.0;
    double grain = 0.0;
    std::int64_t coefficients = 0;
    double allowance = 0.0;
    bool allowance_known = false;
    Refusal refused = Refusal::none;
    const WalkEnd end = walk_cascade(
        input_rate_hz, stages, count, filter, &design,
        [&](std::size_t i, double in, double out, const StageFigures* f) {
            if (f == nullptr || refused != Refusal::none) return;
            if (!allowance_known) {
                allowance = cascade_leak_allowance_db(stages, count, design);
                allowance_known = true;
            }
            DesignedStage d;
            refused = designed_stage(design, allowance, in, out, stages[i], method, &d);
            if (refused != Refusal::none) return;
            const double l = static_cast<double>(stages[i].l);
            macs += d.prediction.nonzero_taps / l * out;
            coefficients += static_cast<std::int64_t>(d.prediction.nonzero_taps);
            grain += out / l;
        },
        memo);
    if (end.refusal != Refusal::none) return end.refusal;
    if (refused != Refusal::none) return refused;
    price->macs_per_second = macs;
    price->coefficients = coefficients;
    price->macs_grain = grain;
    return Refusal::none;
}

bool macs_tied(const Price& a, const Price& b) {
    return std::fabs(a.macs_per_second - b.macs_per_second) <=
           macs_tie_tolerance * std::max(a.macs_per_second, b.macs_per_second) +
               2.0 * std::max(a.macs_grain, b.macs_grain);
}

}  // namespace quillmere::inline v2::cost_model

namespace quillmere::inline v2 {

namespace {

bool known_method(DesignMethod method) {
    switch (method) {
    case DesignMethod::automatic:
    case DesignMethod::kaiser:
    case DesignMethod::equiripple: return true;
    }
    return false;
}

CostEstimate estimate(double input_rate_hz, std::span<const Stage> stages,
                      const FilterSpec& filter) {
    CostEstimate estimate;
    if (filter.design_method && !known_method(*filter.design_method)) {
        estimate.status = Status::invalid_request;
        estimate.field = "filter.design_method";
        estimate.message = "The design method must be auto, kaiser or equiripple.";
        return estimate;
    }
    cost_model::Design design;
    std::vector<StageCost> costs;
    double total = 0.0;
    std::int64_t coefficients = 0;
    double allowance = 0.0;
    bool allowance_known = false;
    cost_model::WalkEnd refused;  // a stage the design method's pricing refuses
    const auto visit = [&](std::size_t i, double in, double out,
                           const cost_model::StageFigures* f) {
        StageCost cost;
        cost.input_rate_hz = in;
        cost.output_rate_hz = out;
        if (f != nullptr && filter.design_method) {
            if (refused.refusal != cost_model::Refusal::none) return;
            if (!allowance_known) {
                allowance = cost_model::cascade_leak_allowance_db(stages.data(), stages.size(),
                                                                  design);
                allowance_known = true;
            }
            cost_model::DesignedStage d;
            const cost_model::Refusal r = cost_model::designed_stage(
                design, allowance, in, out, stages[i], *filter.design_method, &d);
            if (r != cost_model::Refusal::none) {
                refused = {r, i};
                return;
            }
            const double l = static_cast<double>(stages[i].l);
            cost.filtered = true;
            cost.transition_hz = f->transition_hz;
            cost.taps = static_cast<std::int64_t>(d.prediction.taps);
            cost.nonzero_taps = static_cast<std::int64_t>(d.prediction.nonzero_taps);
            cost.kaiser_beta = d.kaiser_beta;
            cost.filter = d.prediction.method;
            cost.halfband = d.prediction.halfband;
            cost.taps_per_output_sample = d.prediction.nonzero_taps / l;
            cost.macs_per_second = d.prediction.nonzero_taps / l * out;
            cost.macs_per_input_sample = cost.macs_per_second / input_rate_hz;
            total += cost.macs_per_second;
            coefficients += cost.nonzero_taps;
        } else if (f != nullptr) {
            cost.filtered = true;
            cost.transition_hz = f->transition_hz;
            cost.taps = f->taps;
            cost.nonzero_taps = f->taps;
            cost.filter = StageFilter::kaiser;
            cost.kaiser_beta = f->kaiser_beta;
            cost.taps_per_output_sample = f->taps_per_output_sample;
            cost.macs_per_second = f->macs_per_second;
            cost.macs_per_input_sample = f->macs_per_second / input_rate_hz;
            total += f->macs_per_second;
            coefficients += f->taps;
        }
        costs.push_back(cost);
    };
    const cost_model::WalkEnd end = cost_model::walk_cascade(
        input_rate_hz, stages.data(), stages.size(), filter, &design, visit);
    if (end.refusal == cost_model::Refusal::none && refused.refusal != cost_model::Refusal::none) {
        // Only the length can refuse here: the walk checked the transitions.
        estimate.status = Status::overflow_error;
        estimate.field = "stages";
        estimate.message = "The filter of stage " + std::to_string(refused.stage + 1) +
                           " would need more than 2^53 taps.";
        return estimate;
    }
    if (end.refusal != cost_model::Refusal::none) {
        cost_model::RefusalText text = cost_model::describe_refusal(
            end.refusal, input_rate_hz, stages.data(), stages.size(), filter);
        estimate.status = end.refusal == cost_model::Refusal::length && text.field == "stages"
                              ? Status::overflow_error
                              : Status::invalid_request;
        estimate.field = std::move(text.field);
        estimate.message = std::move(text.message);
        // A stage refused after the requirements were resolved: they are the ones used.
        if (design.resolved) {
            estimate.passband_hz = design.passband_hz;
            estimate.stopband_hz = design.stopband_hz;
            estimate.attenuation_db = design.attenuation_db;
            estimate.ripple_db = design.ripple_db;
        }
        return estimate;
    }
    estimate.passband_hz = design.passband_hz;
    estimate.stopband_hz = design.stopband_hz;
    estimate.attenuation_db = design.attenuation_db;
    estimate.ripple_db = design.ripple_db;
    estimate.stages = std::move(costs);
    estimate.total_macs_per_second = total;
    estimate.total_coefficients = coefficients;
    estimate.macs_per_input_sample = total / input_rate_hz;
    estimate.design_method = filter.design_method;
    return estimate;
}

/// The estimate of a result without factors: its status, and why in a sentence.
CostEstimate without_factors(Status status) {
    CostEstimate estimate;
    estimate.status = status;
    estimate.field = "result";
    estimate.message =
        std::string("The result holds no factors to estimate (") + status_name(status) + ").";
    return estimate;
}

/// Runs an estimate, turning a failed allocation into Status::memory_error.
template <typename Body>
CostEstimate guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        CostEstimate estimate;
        estimate.status = Status::memory_error;
        return estimate;
    }
}

}  // namespace

CostEstimate estimate_cost(double input_rate_hz, std::span<const Stage> stages,
                           const FilterSpec& filter) noexcept {
    return guarded([&] { return estimate(input_rate_hz, stages, filter); });
}

CostEstimate estimate_cost(const SingleStageRequest& request, const SingleStageResult& result,
                           const FilterSpec& filter) noexcept {
    return guarded([&] {
        if (result.status != Status::ok) return without_factors(result.status);
        const Stage stage[] = {result.stage};
        return estimate(request.input_rate_hz, stage, filter);
    });
}

CostEstimate estimate_cost(const TwoStageRequest& request, const TwoStageResult& result) noexcept {
    return guarded([&] {
        if (result.status != Status::ok) return without_factors(result.status);
        const Stage stages[] = {result.first, result.second};
        return estimate(request.input_rate_hz, stages, request.filter);
    });
}

CostEstimate estimate_cost(const PlanRequest& request, const PlanResult& result) noexcept {
    return guarded([&] {
        if (result.status != Status::ok) return without_factors(result.status);
        if (!result.stages.empty()) return estimate(request.input_rate_hz, result.stages, request.filter);
        // No stage (output = input): the requirements checked and resolved as for one
        // pass-through stage, and nothing to pay.
        const Stage pass_through[] = {Stage{1, 1}};
        CostEstimate none = estimate(request.input_rate_hz, pass_through, request.filter);
        none.stages.clear();
        return none;
    });
}

}  // namespace quillmere::inline v2
