// The filter cost model: each stage is a Kaiser-windowed lowpass at its upsampled rate,
// run as a polyphase filter; see the README's section on the cost model.
#include "core/filter_cost.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <limits>
#include <span>
#include <string>
#include <vector>

namespace quillmere::cost_model {

namespace {

/// Where a walk through the cascade stopped, and why.
struct WalkEnd {
    Refusal refusal = Refusal::none;
    std::size_t stage = 0;  ///< the stage refused (stage_rate, length, stages)
};

bool positive_finite(double x) {
    return std::isfinite(x) && x > 0.0;
}

/// Counts the stages that need a filter (L or M other than 1); false when a factor is
/// below 1.
bool count_filtered(const Stage* stages, std::size_t count, int* filtered, std::size_t* bad_stage) {
    *filtered = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (stages[i].l < 1 || stages[i].m < 1) {
            *bad_stage = i;
            return false;
        }
        if (stages[i].l != 1 || stages[i].m != 1) ++*filtered;
    }
    return true;
}

/// Walks the cascade stage by stage, calling visit(index, input rate, output rate,
/// figures or null for a pass-through stage) for each, once everything before it checked.
/// The rates and design are those of estimate_cost; price_cascade and estimate_cost both
/// walk through here, so their figures agree bit for bit.
template <typename Visit>
WalkEnd walk_cascade(double input_rate_hz, const Stage* stages, std::size_t count,
                     const FilterSpec& filter, Design* design, Visit&& visit) {
    if (!positive_finite(input_rate_hz)) return {Refusal::input_rate, 0};
    if (count == 0) return {Refusal::stages, 0};
    int filtered = 0;
    std::size_t bad = 0;
    if (!count_filtered(stages, count, &filtered, &bad)) return {Refusal::stages, bad};
    const double output_rate_hz = rate_after(input_rate_hz, stages, count);
    if (!positive_finite(output_rate_hz)) return {Refusal::stages, count - 1};

    const Refusal refusal = resolve_design(input_rate_hz, output_rate_hz, filtered, filter, design);
    if (refusal != Refusal::none) return {refusal, 0};

    double stage_input = input_rate_hz;
    double ratio = 1.0;
    for (std::size_t i = 0; i < count; ++i) {
        const Stage& s = stages[i];
        ratio *= static_cast<double>(s.l) / static_cast<double>(s.m);
        const double stage_output = i + 1 == count ? output_rate_hz : input_rate_hz * ratio;
        if (!positive_finite(stage_output)) return {Refusal::stages, i};
        if (s.l == 1 && s.m == 1) {
            visit(i, stage_input, stage_output, static_cast<const StageFigures*>(nullptr));
        } else {
            StageFigures figures;
            const Refusal r = stage_figures(*design, stage_input, stage_output, s.l, &figures);
            if (r != Refusal::none) return {r, i};
            visit(i, stage_input, stage_output, &figures);
        }
        stage_input = stage_output;
    }
    return {};
}

std::string stage_name(std::size_t index) {
    return "stage " + std::to_string(index + 1);
}

std::string hz(double value) {
    return format_number(value) + " Hz";
}

std::string db(double value) {
    return format_number(value) + " dB";
}

}  // namespace

double kaiser_length_factor(double design_attenuation_db) {
    if (design_attenuation_db > 21.0) return (design_attenuation_db - 7.95) / 14.36;
    return 0.9222;
}

double kaiser_beta(double design_attenuation_db) {
    const double a = design_attenuation_db;
    if (a > 50.0) return 0.1102 * (a - 8.7);
    if (a >= 21.0) return 0.5842 * std::pow(a - 21.0, 0.4) + 0.07886 * (a - 21.0);
    return 0.0;
}

double design_attenuation_db(double attenuation_db, double stage_ripple_db) {
    // A peak-to-peak ripple of r dB allows a gain of 1 +/- d with (1 + d) / (1 - d) =
    // 10^(r/20); the stopband allows a gain of 10^(-A/20).
    const double ratio = std::pow(10.0, stage_ripple_db / 20.0);
    const double ripple_deviation = (ratio - 1.0) / (ratio + 1.0);
    const double stop_deviation = std::pow(10.0, -attenuation_db / 20.0);
    return -20.0 * std::log10(std::min(ripple_deviation, stop_deviation));
}

double high_attenuation_margin_db(double attenuation_db) {
    return attenuation_db > 100.0 ? 0.1 * (attenuation_db - 100.0) : 0.0;
}

double far_edge_margin_db(double transition_hz, double passband_hz) {
    return 20.0 * std::log10(1.0 + transition_hz / (3.0 * transition_hz + 4.0 * passband_hz));
}

double kaiser_taps(double length_factor, double upsampled_rate_hz, double transition_hz) {
    return std::ceil(length_factor * upsampled_rate_hz / transition_hz + 1.0);
}

double rate_after(double input_rate_hz, const Stage* stages, std::size_t count) {
    double ratio = 1.0;
    for (std::size_t i = 0; i < count; ++i) {
        ratio *= static_cast<double>(stages[i].l) / static_cast<double>(stages[i].m);
    }
    const double rate = input_rate_hz * ratio;
    return positive_finite(rate) ? rate : std::numeric_limits<double>::quiet_NaN();
}

Refusal resolve_design(double input_rate_hz, double output_rate_hz, int filtered_stages,
                       const FilterSpec& filter, Design* design) {
    if (!positive_finite(filter.attenuation_db)) return Refusal::attenuation;
    if (!positive_finite(filter.ripple_db)) return Refusal::ripple;
    if (filter.passband_hz && !positive_finite(*filter.passband_hz)) return Refusal::passband;
    if (filter.stopband_hz && !positive_finite(*filter.stopband_hz)) return Refusal::stopband;

    const double half_lower = std::min(input_rate_hz, output_rate_hz) / 2.0;
    design->passband_defaulted = !filter.passband_hz;
    design->passband_hz = filter.passband_hz ? *filter.passband_hz : 0.9 * half_lower;
    design->stopband_hz = filter.stopband_hz ? *filter.stopband_hz : half_lower;
    // A stopband given as half the requested lower rate may sit a rounding above half
    // the achieved one.
    if (design->stopband_hz > half_lower * (1.0 + match_tolerance)) return Refusal::stopband;
    if (!(design->passband_hz < design->stopband_hz)) {
        return Refusal::passband_not_below_stopband;
    }

    design->attenuation_db = filter.attenuation_db;
    design->ripple_db = filter.ripple_db;
    design->filtered_stages = filtered_stages;
    design->stage_ripple_db =
        filtered_stages > 0 ? filter.ripple_db / filtered_stages : filter.ripple_db;
    const double deviation = design_attenuation_db(filter.attenuation_db, design->stage_ripple_db);
    design->deviation_attenuation_db = deviation + high_attenuation_margin_db(deviation);
    if (!std::isfinite(design->deviation_attenuation_db)) return Refusal::length;
    return Refusal::none;
}

Refusal stage_figures(const Design& design, double stage_input_rate_hz, double stage_output_rate_hz,
                      std::int64_t l, StageFigures* figures) {
    // What the stage lets through must land where a later stage removes it or at or above
    // the stopband edge: images of the passband sit at the input rate minus the signal
    // frequency, and what decimation folds lands at the output rate minus it.
    const double stage_stopband =
        std::min(stage_input_rate_hz, stage_output_rate_hz) - design.stopband_hz;
    const double transition = stage_stopband - design.passband_hz;
    if (!(transition > 0.0)) return Refusal::stage_rate;
    const double attenuation =
        design.deviation_attenuation_db + far_edge_margin_db(transition, design.passband_hz);
    const double upsampled = static_cast<double>(l) * stage_input_rate_hz;
    const double taps = kaiser_taps(kaiser_length_factor(attenuation), upsampled, transition);
    if (!(taps <= max_taps)) return Refusal::length;
    figures->transition_hz = transition;
    figures->design_attenuation_db = attenuation;
    figures->kaiser_beta = kaiser_beta(attenuation);
    figures->taps = static_cast<std::int64_t>(taps);
    figures->taps_per_output_sample = taps / static_cast<double>(l);
    figures->macs_per_second = figures->taps_per_output_sample * stage_output_rate_hz;
    return Refusal::none;
}

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

std::string format_number(double value) {
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 10);
    return std::string(buffer, result.ptr);
}

namespace {

/// The field and message of a refusal of the filter requirements themselves.
RefusalText describe_filter_refusal(Refusal refusal, const Design& design, const FilterSpec& filter,
                                    double half_lower_rate_hz) {
    switch (refusal) {
    case Refusal::attenuation:
        return {"filter.attenuation_db",
                "The stopband attenuation must be above 0 dB and finite, not " +
                    db(filter.attenuation_db) + "."};
    case Refusal::ripple:
        return {"filter.ripple_db", "The passband ripple must be above 0 dB and finite, not " +
                                        db(filter.ripple_db) + "."};
    case Refusal::passband:
        return {"filter.passband_hz", "The passband edge must be above 0 Hz and finite, not " +
                                          hz(filter.passband_hz.value_or(0.0)) + "."};
    case Refusal::stopband:
        if (filter.stopband_hz && !positive_finite(*filter.stopband_hz)) {
            return {"filter.stopband_hz", "The stopband edge must be above 0 Hz and finite, not " +
                                              hz(*filter.stopband_hz) + "."};
        }
        return {"filter.stopband_hz",
                "The stopband edge " + hz(filter.stopband_hz.value_or(0.0)) +
                    " is above half the lower of the input and output rates (" +
                    hz(half_lower_rate_hz) + ")."};
    case Refusal::passband_not_below_stopband:
        if (design.passband_defaulted) {
            return {"filter.stopband_hz",
                    "The stopband edge " + hz(design.stopband_hz) +
                        " is not above the passband edge " + hz(design.passband_hz) +
                        " (the default, 0.9 x half the lower rate); give a passband edge below "
                        "the stopband edge."};
        }
        return {"filter.passband_hz", "The passband edge " + hz(design.passband_hz) +
                                          " is not below the stopband edge " +
                                          hz(design.stopband_hz) + "."};
    case Refusal::length:
        // Without a stage, only the decibels can make the filter unbounded.
        return {"filter.attenuation_db",
                "The attenuation " + db(filter.attenuation_db) + " with a ripple of " +
                    db(filter.ripple_db) +
                    " asks for a filter longer than any that can be counted."};
    default: return {"", ""};
    }
}

}  // namespace

RefusalText describe_refusal(Refusal refusal, double input_rate_hz, const Stage* stages,
                             std::size_t count, const FilterSpec& filter) {
    Design design;
    const WalkEnd end = walk_cascade(input_rate_hz, stages, count, filter, &design,
                                     [](std::size_t, double, double, const StageFigures*) {});
    // The walk meets the same refusal again, and with it the stage and the resolved edges.
    if (end.refusal != refusal) return {"", ""};
    const std::size_t i = end.stage;
    switch (refusal) {
    case Refusal::none: return {"", ""};
    case Refusal::input_rate:
        return {"input_rate_hz", "The input rate must be a positive finite number of Hz, not " +
                                     format_number(input_rate_hz) + "."};
    case Refusal::stages:
        if (count == 0) return {"stages", "A cascade needs at least one stage."};
        if (stages[i].l < 1 || stages[i].m < 1) {
            return {"stages", "Every L and M must be at least 1; " + stage_name(i) +
                                  " has L = " + std::to_string(stages[i].l) +
                                  " and M = " + std::to_string(stages[i].m) + "."};
        }
        return {"stages",
                "The rate after " + stage_name(i) + " is not a positive finite number of Hz."};
    case Refusal::stage_rate: {
        const double in = i == 0 ? input_rate_hz : rate_after(input_rate_hz, stages, i);
        const double out = rate_after(input_rate_hz, stages, i + 1);
        return {"stages", "The rates of " + stage_name(i) + " (" + hz(in) + " to " + hz(out) +
                              ") are too low to carry the passband: the lower of them must "
                              "exceed the passband edge plus the stopband edge (" +
                              hz(design.passband_hz + design.stopband_hz) + ")."};
    }
    case Refusal::length:
        if (std::isfinite(design.deviation_attenuation_db)) {
            return {"stages",
                    "The filter of " + stage_name(i) + " would need more than 2^53 taps."};
        }
        break;
    default: break;
    }
    const double output = rate_after(input_rate_hz, stages, count);
    return describe_filter_refusal(refusal, design, filter, std::min(input_rate_hz, output) / 2.0);
}

RequestCheck check_filter_request(const TwoStageRequest& request) {
    RequestCheck check;
    const double in = request.input_rate_hz;
    const double out = request.output_rate_hz;
    Design design;
    // The design of a cascade with two filtered stages; the edges and decibels are
    // checked the same way whatever the count.
    const Refusal refusal = resolve_design(in, out, 2, request.filter, &design);
    if (refusal != Refusal::none) {
        const RefusalText text =
            describe_filter_refusal(refusal, design, request.filter, std::min(in, out) / 2.0);
        check.status = Status::invalid_request;
        check.field = text.field;
        check.message = text.message;
        return check;
    }
    if (request.intermediate_target && request.intermediate_target->priority != Priority::ignore) {
        // A cascade through a rate at or below the passband plus the stopband edge has no
        // transition band left. Under the strict priority every cascade passes through the
        // target; under the others the cascades closest to it win, which would crowd
        // against that edge with filters of unbounded length.
        const double target = request.intermediate_target->rate_hz;
        const double floor_hz = design.passband_hz + design.stopband_hz;
        if (!(target - design.stopband_hz - design.passband_hz > 0.0)) {
            check.status = Status::invalid_request;
            check.field = "intermediate_target.rate_hz";
            check.message = "The intermediate target " + hz(target) +
                            " is too low to carry the passband: it must exceed the passband "
                            "edge plus the stopband edge (" +
                            hz(floor_hz) + "), unless its priority is ignore.";
        }
    }
    return check;
}

}  // namespace quillmere::cost_model

namespace quillmere {

CostEstimate estimate_cost(double input_rate_hz, std::span<const Stage> stages,
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
            total += f->macs_per_second;
            coefficients += f->taps;
        }
        costs.push_back(cost);
    };
    const cost_model::WalkEnd end = cost_model::walk_cascade(input_rate_hz, stages.data(),
                                                             stages.size(), filter, &design, visit);
    if (end.refusal != cost_model::Refusal::none) {
        const cost_model::RefusalText text = cost_model::describe_refusal(
            end.refusal, input_rate_hz, stages.data(), stages.size(), filter);
        estimate.status = end.refusal == cost_model::Refusal::length && text.field == "stages"
                              ? Status::overflow_error
                              : Status::invalid_request;
        estimate.field = text.field;
        estimate.message = text.message;
        return estimate;
    }
    estimate.passband_hz = design.passband_hz;
    estimate.stopband_hz = design.stopband_hz;
    estimate.attenuation_db = design.attenuation_db;
    estimate.ripple_db = design.ripple_db;
    estimate.stages = std::move(costs);
    estimate.total_macs_per_second = total;
    estimate.total_coefficients = coefficients;
    return estimate;
}

}  // namespace quillmere
