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
                      const FilterSpec& filter, Price* price) {
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
                                     });
    if (end.refusal == Refusal::none) {
        price->macs_per_second = macs;
        price->coefficients = coefficients;
        price->macs_grain = grain;
    }
    return end.refusal;
}

bool macs_tied(const Price& a, const Price& b) {
    return std::fabs(a.macs_per_second - b.macs_per_second) <=
           macs_tie_tolerance * std::max(a.macs_per_second, b.macs_per_second) +
               2.0 * std::max(a.macs_grain, b.macs_grain);
}

}  // namespace quillmere::inline v2::cost_model

namespace quillmere::inline v2 {

namespace {

CostEstimate estimate(double input_rate_hz, std::span<const Stage> stages,
                      const FilterSpec& filter) {
    CostEstimate estimate;
    cost_model::Design design;
    std::vector<StageCost> costs;
    double total = 0.0;
    std::int64_t coefficients = 0;
    const auto visit = [&](std::size_t, double in, double out, const cost_model::StageFigures* f) {
        StageCost cost;
        cost.input_rate_hz = in;
        cost.output_rate_hz = out;
        if (f != nullptr) {
            cost.filtered = true;
            cost.transition_hz = f->transition_hz;
            cost.taps = f->taps;
            cost.kaiser_beta = f->kaiser_beta;
            cost.taps_per_output_sample = f->taps_per_output_sample;
            cost.macs_per_second = f->macs_per_second;
            cost.macs_per_input_sample = f->macs_per_second / input_rate_hz;
            total += f->macs_per_second;
            coefficients += f->taps;
        }
        costs.push_back(cost);
    };
    const cost_model::WalkEnd end = cost_model::walk_cascade(input_rate_hz, stages.data(),
                                                             stages.size(), filter, &design, visit);
    if (end.refusal != cost_model::Refusal::none) {
        cost_model::RefusalText text = cost_model::describe_refusal(
            end.refusal, input_rate_hz, stages.data(), stages.size(), filter);
        estimate.status = end.refusal == cost_model::Refusal::length && text.field == "stages"
                              ? Status::overflow_error
                              : Status::invalid_request;
        estimate.field = std::move(text.field);
        estimate.message = std::move(text.message);
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
