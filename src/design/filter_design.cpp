// design_filters(): every stage's filter designed by the method asked for, measured, and
// measured again as a whole cascade and after rounding.
#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "core/filter_model.h"
#include "text/shortest_double.h"
#include "design/quantize.h"
#include "design/response.h"
#include "design/stage_design.h"
#include "design/targets.h"
#include "quillmere/quillmere.h"
#include "design/stop_request.h"

namespace quillmere::inline v2 {

namespace {

using design::DesignedFilter;
using design::Extremes;
using design::PassbandSamples;
using design::StageTarget;

double to_db(double ratio) {
    return 20.0 * std::log10(ratio);
}

FilterDesign refused(Status status, std::string field, std::string message) {
    FilterDesign d;
    d.status = status;
    d.field = std::move(field);
    d.message = std::move(message);
    return d;
}

/// A failure when memory may be short: the texts are left out if they cannot be allocated.
FilterDesign failed(Status status, const char* message) noexcept {
    FilterDesign d;
    d.status = status;
    try {
        d.field = "stages";
        d.message = message;
    } catch (...) {
        d.field.clear();
        d.message.clear();
    }
    return d;
}

std::string stage_name(std::size_t index) {
    return "stage " + std::to_string(index + 1);
}

MeasuredResponse response_of(const Extremes& e, bool meets) {
    MeasuredResponse r;
    r.ripple_db = e.passband_min > 0.0 ? to_db(e.passband_max / e.passband_min)
                                       : std::numeric_limits<double>::infinity();
    r.attenuation_db = -to_db(e.stopband_max);
    r.peak_gain_db = to_db(e.peak);
    r.meets_spec = meets;
    return r;
}

/// The figures of the whole cascade from its filtered stages' measurements.
CascadeResponse cascade_response(const std::vector<const Extremes*>& extremes,
                                 const std::vector<const PassbandSamples*>& samples,
                                 double coinciding_leaks, double ripple_db, double attenuation_db) {
    CascadeResponse c;
    c.ripple_db = design::cascade_ripple_db(samples);
    // Every leak passes one stage's stopband and the other stages at no more than their
    // peak gain; up to coinciding_leaks of them can meet on one frequency in phase.
    double worst = 0.0;
    for (std::size_t i = 0; i < extremes.size(); ++i) {
        double leak = extremes[i]->stopband_max;
        for (std::size_t j = 0; j < extremes.size(); ++j) {
            if (j != i) leak *= extremes[j]->peak;
        }
        worst = std::max(worst, leak);
    }
    c.attenuation_db = extremes.empty() ? std::numeric_limits<double>::infinity()
                                        : -to_db(coinciding_leaks * worst);
    c.meets_spec = c.ripple_db <= ripple_db && c.attenuation_db >= attenuation_db;
    return c;
}

std::string equiripple_refusal(std::size_t index, const DesignedFilter& d) {
    const std::string stage = "The filter of " + stage_name(index) + " has no equiripple design: ";
    const std::string advice = "; the automatic or the Kaiser method designs it.";
    switch (d.failure) {
    case DesignFallback::too_long:
        return stage + "it needs about " + std::to_string(d.predicted_taps) +
               " taps, more than the exchange is run for (" + std::to_string(max_exchange_taps) +
               ")" + advice;
    case DesignFallback::no_convergence: return stage + "the exchange does not converge" + advice;
    case DesignFallback::missed_requirements:
        return stage + "no length the exchange gives measures within the requirements" + advice;
    case DesignFallback::none: break;
    }
    return stage + "the exchange failed" + advice;
}

/// One stage's filter by the method asked for: equiripple where the method and the
/// exchange allow it, else the Kaiser window. The refusal of the whole design when an
/// equiripple design was asked for and the exchange cannot give one, when the filter would
/// be too long, or on a stop request.
std::optional<FilterDesign> design_stage(const StageTarget& target, DesignMethod method,
                                         double cascade_passband_hz,
                                         const design::StopRequest& stop, std::size_t i,
                                         DesignedFilter* designed) {
    const design::StagePrediction kaiser = design::predict_stage(target, DesignMethod::kaiser);
    const design::StagePrediction chosen = design::predict_stage(target, method);
    DesignedFilter& d = *designed;
    d = DesignedFilter{};
    if (chosen.method == StageFilter::equiripple) {
        d = design::design_equiripple(target, chosen.halfband, cascade_passband_hz, stop);
        if (d.stopped) return refused(Status::stopped, "", "The design was stopped on request.");
        if (d.failure != DesignFallback::none && method == DesignMethod::equiripple) {
            return refused(Status::calculation_error, "stages", equiripple_refusal(i, d));
        }
    } else if (method == DesignMethod::equiripple) {
        DesignedFilter too_long;
        too_long.failure = DesignFallback::too_long;
        too_long.predicted_taps = static_cast<std::int64_t>(std::min(chosen.taps, 9e18));
        return refused(Status::calculation_error, "stages", equiripple_refusal(i, too_long));
    } else {
        d.failure =
            method == DesignMethod::automatic ? DesignFallback::too_long : DesignFallback::none;
    }
    if (d.h.empty()) {
        const DesignFallback fallback = d.failure;
        if (!(kaiser.taps <= static_cast<double>(max_design_taps))) {
            return refused(Status::memory_error, "stages",
                           "The filter of " + stage_name(i) + " would need " +
                               text::shortest_double(kaiser.taps) +
                               " taps; a design holds at most " + std::to_string(max_design_taps) +
                               ".");
        }
        d = design::design_kaiser(target, kaiser.halfband, cascade_passband_hz, max_design_taps);
        d.failure = fallback;
        if (d.h.empty()) {
            return refused(Status::memory_error, "stages",
                           "The filter of " + stage_name(i) + " would need more than " +
                               std::to_string(max_design_taps) + " taps.");
        }
    }
    return std::nullopt;
}

/// A stage's filter ready for rounding, and its rounding.
struct RoundedDesign {
    DesignedFilter filter;
    design::RoundedStage rounded;
    /// What the filter's stopband target was raised by for the rounding, dB.
    double margin_db = 0.0;
};

/// Rounding one stage to integers: the filter to round for a number of bits (with the
/// margin the rounding needs) and the fewest bits that keep the stage's target.
class StageRounding {
public:
    StageRounding(const StageTarget& target, DesignMethod method, double cascade_passband_hz,
                  const design::StopRequest& stop, std::size_t index)
        : target_(target),
          method_(method),
          passband_(cascade_passband_hz),
          stop_(stop),
          index_(index) {}

    /// The filter for `bits` and its rounding: `unrounded` itself when its rounding meets the
    /// target; else a design for the target with both deviations lowered by the rounding
    /// error (the largest the rounding adds to the amplitude anywhere, measured on the last
    /// filter tried: 10 % more than measured, and at least 25 % more than the margin before),
    /// up to four designs. When none meets, `unrounded` and its rounding. False on a stop.
    bool design(const DesignedFilter& unrounded, int bits, RoundedDesign* out) const {
        out->filter = unrounded;
        out->rounded = design::round_stage(unrounded, target_, bits, passband_);
        out->margin_db = 0.0;
        if (out->rounded.meets) return true;
        const double gain = static_cast<double>(target_.l);
        double error = 0.0;
        const DesignedFilter* last = &unrounded;
        DesignedFilter tried;
        for (int attempt = 0; attempt < 4; ++attempt) {
            if (stop_.requested()) return false;
            error = std::max(1.25 * error, 1.1 * design::rounding_error_peak(last->h, gain, bits));
            StageTarget tighter;
            if (!design::tightened_target(target_, error, &tighter)) break;
            DesignedFilter candidate;
            if (const auto refusal =
                    design_stage(tighter, method_, passband_, stop_, index_, &candidate)) {
                if (refusal->status == Status::stopped) return false;
                break;  // no such filter: the rounding cannot be helped this way
            }
            design::RoundedStage r = design::round_stage(candidate, target_, bits, passband_);
            if (r.meets) {
                out->filter = std::move(candidate);
                out->rounded = std::move(r);
                out->margin_db = tighter.attenuation_db - target_.attenuation_db;
                return true;
            }
            tried = std::move(candidate);
            last = &tried;
        }
        return true;
    }

    /// The fewest bits, from 2 to 53, whose design() rounds within the target, assuming
    /// more bits never do worse; 0 when none does. `meets_at_bits` is design()'s outcome at
    /// `bits`. The search starts where the rounding error of `unrounded`, halving with every
    /// bit, would take half the tighter deviation, and gallops from there, then bisects.
    /// False on a stop.
    bool fewest_bits(const DesignedFilter& unrounded, int bits, bool meets_at_bits,
                     int* fewest) const {
        constexpr int lowest = 2;
        constexpr int highest = 53;
        std::vector<int> known(highest + 1, -1);  // -1 unknown, 0 misses, 1 meets
        known[static_cast<std::size_t>(bits)] = meets_at_bits ? 1 : 0;
        bool stopped = false;
        const auto meets = [&](int b) {
            int& k = known[static_cast<std::size_t>(b)];
            if (k < 0) {
                RoundedDesign r;
                if (!design(unrounded, b, &r)) {
                    stopped = true;
                    return false;
                }
                k = r.rounded.meets ? 1 : 0;
            }
            return k == 1;
        };
        const double error = design::rounding_error_peak(unrounded.h,
                                                         static_cast<double>(target_.l), bits);
        const double room = std::min(target_.passband_deviation, target_.stopband_deviation) / 2.0;
        int start = bits;
        if (error > 0.0 && std::isfinite(error)) {
            start = static_cast<int>(std::ceil(bits - std::log2(room / error)));
        }
        if (bits == highest && !meets_at_bits) {
            *fewest = 0;
            return true;
        }
        start = meets_at_bits ? std::clamp(start, lowest, bits)
                              : std::clamp(start, bits + 1, highest);
        // lo misses (or is below the range), hi meets (or is above it).
        int lo = lowest - 1;
        int hi = highest + 1;
        int step = 1;
        if (meets(start)) {
            hi = start;
            for (int b = start - step; b >= lowest && !stopped; b = hi - step) {
                if (!meets(b)) {
                    lo = b;
                    break;
                }
                hi = b;
                step *= 2;
            }
        } else {
            lo = start;
            for (int b = std::min(start + step, highest); !stopped; b = std::min(lo + step, highest)) {
                if (meets(b)) {
                    hi = b;
                    break;
                }
                lo = b;
                if (b == highest) break;
                step *= 2;
            }
        }
        while (hi - lo > 1 && hi <= highest && !stopped) {
            const int middle = lo + (hi - lo) / 2;
            if (meets(middle)) {
                hi = middle;
            } else {
                lo = middle;
            }
        }
        if (stopped) return false;
        *fewest = hi <= highest ? hi : 0;
        return true;
    }

private:
    const StageTarget& target_;
    DesignMethod method_;
    double passband_;
    const design::StopRequest& stop_;
    std::size_t index_;
};

FilterDesign design_cascade(double input_rate_hz, std::span<const Stage> stages,
                            const FilterSpec& filter, const DesignOptions& options) {
    const design::StopRequest stop(options);
    // The stages' rates and the refusals of the cost model, without pricing any method.
    FilterSpec kaiser_filter = filter;
    kaiser_filter.design_method.reset();
    const CostEstimate estimate = estimate_cost(input_rate_hz, stages, kaiser_filter);
    if (estimate.status != Status::ok)
        return refused(estimate.status, estimate.field, estimate.message);
    switch (options.method) {
    case DesignMethod::automatic:
    case DesignMethod::kaiser:
    case DesignMethod::equiripple: break;
    default:
        return refused(Status::invalid_request, "options.method",
                       "The design method must be auto, kaiser or equiripple.");
    }
    if (options.quantize_bits && (*options.quantize_bits < min_quantize_bits ||
                                  *options.quantize_bits > max_quantize_bits)) {
        return refused(Status::invalid_request, "options.quantize_bits",
                       "The quantisation must be 8 to 32 bits, not " +
                           std::to_string(*options.quantize_bits) + ".");
    }

    int filtered = 0;
    for (const StageCost& s : estimate.stages) filtered += s.filtered ? 1 : 0;
    cost_model::Design resolved;
    const double output_rate_hz = estimate.stages.back().output_rate_hz;
    if (cost_model::resolve_design(input_rate_hz, output_rate_hz, filtered, filter, &resolved) !=
        cost_model::Refusal::none) {
        return refused(Status::calculation_error, "filter",
                       "The filter requirements could not be resolved.");
    }

    FilterDesign result;
    result.method = options.method;
    result.passband_hz = estimate.passband_hz;
    result.stopband_hz = estimate.stopband_hz;
    result.attenuation_db = estimate.attenuation_db;
    result.ripple_db = estimate.ripple_db;
    result.coinciding_leaks = design::coinciding_leaks(stages.data(), stages.size());
    result.leak_allowance_db =
        design::leak_allowance_db(result.coinciding_leaks, filtered, resolved.stage_ripple_db);

    std::vector<DesignedFilter> designed(stages.size());
    std::vector<StageTarget> targets(stages.size());
    std::vector<design::RoundedStage> rounded(stages.size());
    for (std::size_t i = 0; i < stages.size(); ++i) {
        if (stop.requested()) {
            return refused(Status::stopped, "", "The design was stopped on request.");
        }
        const StageCost& cost = estimate.stages[i];
        StageDesign stage;
        stage.stage = stages[i];
        stage.input_rate_hz = cost.input_rate_hz;
        stage.output_rate_hz = cost.output_rate_hz;
        stage.upsampled_rate_hz = static_cast<double>(stages[i].l) * cost.input_rate_hz;
        if (!cost.filtered) {
            stage.measured.meets_spec = true;  // nothing to miss: it passes the signal as is
            result.stages.push_back(std::move(stage));
            continue;
        }
        StageTarget& target = targets[i];
        if (!design::stage_target(resolved, cost.input_rate_hz, cost.output_rate_hz, stages[i].l,
                                  stages[i].m, result.leak_allowance_db, &target)) {
            return refused(Status::calculation_error, "stages",
                           "The filter of " + stage_name(i) + " has no transition band.");
        }
        DesignedFilter& d = designed[i];
        if (auto refusal = design_stage(target, options.method, result.passband_hz, stop, i, &d)) {
            return std::move(*refusal);
        }
        if (options.quantize_bits) {
            const StageRounding rounding{target, options.method, result.passband_hz, stop, i};
            RoundedDesign r;
            if (!rounding.design(d, *options.quantize_bits, &r)) {
                return refused(Status::stopped, "", "The design was stopped on request.");
            }
            int bits_needed = 0;
            if (!rounding.fewest_bits(d, *options.quantize_bits, r.rounded.meets, &bits_needed)) {
                return refused(Status::stopped, "", "The design was stopped on request.");
            }
            QuantizedFilter q;
            q.bits = *options.quantize_bits;
            q.scale_exponent = r.rounded.rounded.scale_exponent;
            q.integers.reserve(r.rounded.rounded.integers.size());
            for (const double v : r.rounded.rounded.integers)
                q.integers.push_back(static_cast<std::int32_t>(v));
            q.nonzero_taps = static_cast<std::int64_t>(std::count_if(
                q.integers.begin(), q.integers.end(), [](std::int32_t v) { return v != 0; }));
            q.measured = response_of(r.rounded.extremes, r.rounded.meets);
            q.rounding_margin_db = r.margin_db;
            q.bits_needed = bits_needed;
            stage.quantized = std::move(q);
            // The filter handed out is the one rounded: with its margin when it has one.
            d = std::move(r.filter);
            d.meets = design::meets_target(d.extremes, target);
            rounded[i] = std::move(r.rounded);
        }
        stage.filter = d.method;
        stage.fallback = d.failure;
        stage.halfband = d.halfband;
        stage.passband_hz = d.passband_hz;
        stage.stopband_hz = d.stopband_hz;
        stage.target_ripple_db = target.ripple_db;
        stage.target_attenuation_db = target.attenuation_db;
        stage.kaiser_beta = d.method == StageFilter::kaiser ? d.kaiser_beta : 0.0;
        stage.predicted_taps = d.predicted_taps;
        stage.taps = static_cast<std::int64_t>(d.h.size());
        stage.nonzero_taps = static_cast<std::int64_t>(
            std::count_if(d.h.begin(), d.h.end(), [](double c) { return c != 0.0; }));
        stage.coefficients = d.h;
        stage.group_delay_samples = (static_cast<double>(stage.taps) - 1.0) / 2.0;
        stage.group_delay_seconds = stage.group_delay_samples / stage.upsampled_rate_hz;
        stage.measured = response_of(d.extremes, d.meets);
        result.group_delay_seconds += stage.group_delay_seconds;
        result.stages.push_back(std::move(stage));
    }

    // The cascade, from the filtered stages.
    std::vector<const Extremes*> extremes;
    std::vector<const PassbandSamples*> samples;
    bool stages_meet = true;
    for (std::size_t i = 0; i < stages.size(); ++i) {
        if (result.stages[i].filter == StageFilter::none) continue;
        extremes.push_back(&designed[i].extremes);
        samples.push_back(&designed[i].samples);
        stages_meet = stages_meet && designed[i].meets;
    }
    result.measured = cascade_response(extremes, samples, result.coinciding_leaks, result.ripple_db,
                                       result.attenuation_db);
    result.meets_spec = stages_meet && result.measured.meets_spec;

    if (options.quantize_bits) {
        std::vector<const Extremes*> rounded_extremes;
        std::vector<const PassbandSamples*> rounded_samples;
        for (std::size_t i = 0; i < stages.size(); ++i) {
            if (result.stages[i].filter == StageFilter::none) continue;
            rounded_extremes.push_back(&rounded[i].extremes);
            rounded_samples.push_back(&rounded[i].samples);
        }
        result.quantized =
            cascade_response(rounded_extremes, rounded_samples, result.coinciding_leaks,
                             result.ripple_db, result.attenuation_db);
    }
    return result;
}

}  // namespace

const char* design_method_name(DesignMethod method) noexcept {
    switch (method) {
    case DesignMethod::automatic: return "auto";
    case DesignMethod::kaiser: return "kaiser";
    case DesignMethod::equiripple: return "equiripple";
    }
    return "unknown";
}

const char* stage_filter_name(StageFilter filter) noexcept {
    switch (filter) {
    case StageFilter::none: return "none";
    case StageFilter::kaiser: return "kaiser";
    case StageFilter::equiripple: return "equiripple";
    }
    return "unknown";
}

const char* design_fallback_name(DesignFallback fallback) noexcept {
    switch (fallback) {
    case DesignFallback::none: return "none";
    case DesignFallback::too_long: return "too_long";
    case DesignFallback::no_convergence: return "no_convergence";
    case DesignFallback::missed_requirements: return "missed_requirements";
    }
    return "unknown";
}

CostEstimate design_cost(const FilterDesign& design) noexcept {
    try {
        CostEstimate cost;
        cost.status = design.status;
        cost.field = design.field;
        cost.message = design.message;
        if (design.status != Status::ok) return cost;
        cost.passband_hz = design.passband_hz;
        cost.stopband_hz = design.stopband_hz;
        cost.attenuation_db = design.attenuation_db;
        cost.ripple_db = design.ripple_db;
        cost.design_method = design.method;
        cost.designed = true;
        for (const StageDesign& s : design.stages) {
            StageCost stage;
            stage.input_rate_hz = s.input_rate_hz;
            stage.output_rate_hz = s.output_rate_hz;
            if (s.filter != StageFilter::none) {
                const double l = static_cast<double>(s.stage.l);
                stage.filtered = true;
                // As the cost model takes it, operation for operation.
                const double stage_stopband =
                    std::min(s.input_rate_hz, s.output_rate_hz) - design.stopband_hz;
                stage.transition_hz = stage_stopband - design.passband_hz;
                stage.taps = s.taps;
                stage.nonzero_taps = s.nonzero_taps;
                stage.kaiser_beta = s.kaiser_beta;
                stage.filter = s.filter;
                stage.halfband = s.halfband;
                stage.taps_per_output_sample = static_cast<double>(s.nonzero_taps) / l;
                stage.macs_per_second = stage.taps_per_output_sample * s.output_rate_hz;
                cost.total_macs_per_second += stage.macs_per_second;
                cost.total_coefficients += s.nonzero_taps;
            }
            cost.stages.push_back(stage);
        }
        // Per input sample of the cascade: the first stage's input rate.
        const double input = design.stages.empty() ? 0.0 : design.stages.front().input_rate_hz;
        if (input > 0.0) {
            for (StageCost& stage : cost.stages) {
                stage.macs_per_input_sample = stage.macs_per_second / input;
            }
            cost.macs_per_input_sample = cost.total_macs_per_second / input;
        }
        return cost;
    } catch (...) {
        CostEstimate cost;
        cost.status = Status::memory_error;
        return cost;
    }
}

FilterDesign design_filters(double input_rate_hz, std::span<const Stage> stages,
                            const FilterSpec& filter, const DesignOptions& options) noexcept {
    try {
        FilterDesign design = design_cascade(input_rate_hz, stages, filter, options);
        design.method = options.method;  // also when refused
        return design;
    } catch (const std::bad_alloc&) {
        return failed(Status::memory_error, "The design ran out of memory.");
    } catch (const std::length_error&) {
        return failed(Status::memory_error, "The design ran out of memory.");
    } catch (...) {
        return failed(Status::calculation_error, "The design failed.");
    }
}

}  // namespace quillmere::inline v2
