// The filter cost model: each stage is a Kaiser-windowed lowpass at its upsampled rate,
// run as a polyphase filter; see the README's section on the cost model.
#include "core/filter_model.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace quillmere::inline v2::cost_model {

namespace detail {

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

}  // namespace detail

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
    return detail::positive_finite(rate) ? rate : std::numeric_limits<double>::quiet_NaN();
}

Refusal resolve_design(double input_rate_hz, double output_rate_hz, int filtered_stages,
                       const FilterSpec& filter, Design* design) {
    using detail::positive_finite;
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
    // Equal edges let aliases fall anywhere above the passband; at half the lower rate they
    // leave no stage a transition band.
    if (!(design->passband_hz < design->stopband_hz ||
          (design->passband_hz == design->stopband_hz &&
           design->passband_hz + design->stopband_hz < 2.0 * half_lower))) {
        return Refusal::passband_not_below_stopband;
    }

    design->attenuation_db = filter.attenuation_db;
    design->ripple_db = filter.ripple_db;
    design->filtered_stages = filtered_stages;
    design->stage_ripple_db =
        filtered_stages > 0 ? filter.ripple_db / filtered_stages : filter.ripple_db;
    // Decibels at either end of the double range give a deviation of 0 (a filter of
    // infinite length) or none at all; each is refused under the level that causes it.
    if (!(std::pow(10.0, -filter.attenuation_db / 20.0) > 0.0)) return Refusal::length;
    const double ripple_ratio = std::pow(10.0, design->stage_ripple_db / 20.0);
    if (!std::isfinite(ripple_ratio)) return Refusal::ripple_too_large;
    if (!(ripple_ratio > 1.0)) return Refusal::ripple_too_small;
    const double deviation = design_attenuation_db(filter.attenuation_db, design->stage_ripple_db);
    design->deviation_attenuation_db = deviation + high_attenuation_margin_db(deviation);
    if (!std::isfinite(design->deviation_attenuation_db)) return Refusal::length;
    design->resolved = true;
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

}  // namespace quillmere::inline v2::cost_model
