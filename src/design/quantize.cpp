// Coefficient rounding and its measurement.
#include "design/quantize.h"

#include <algorithm>
#include <cmath>

namespace quillmere::inline v2::design {

namespace {

/// The rounded filter's coefficients as values.
std::vector<double> values_of(const Rounded& r) {
    std::vector<double> h(r.integers.size());
    for (std::size_t k = 0; k < h.size(); ++k) h[k] = std::ldexp(r.integers[k], -r.scale_exponent);
    return h;
}

}  // namespace

Rounded round_coefficients(std::span<const double> h, int bits) {
    double largest = 0.0;
    for (const double c : h) largest = std::max(largest, std::fabs(c));
    const double limit = std::ldexp(1.0, bits - 1) - 1.0;
    Rounded r;
    r.scale_exponent = static_cast<int>(std::floor(std::log2(limit / largest)));
    // log2 may land a rounding above the largest scale that fits.
    while (std::round(std::ldexp(largest, r.scale_exponent)) > limit) --r.scale_exponent;
    r.integers.resize(h.size());
    for (std::size_t k = 0; k < h.size(); ++k) {
        r.integers[k] = std::round(std::ldexp(h[k], r.scale_exponent));
    }
    return r;
}

RoundedStage round_stage(const DesignedFilter& filter, const StageTarget& target, int bits,
                         double cascade_passband_hz) {
    RoundedStage s;
    s.rounded = round_coefficients(filter.h, bits);
    const std::vector<double> h = values_of(s.rounded);
    s.extremes =
        measure_lowpass(h, static_cast<double>(target.l), target.upsampled_rate_hz,
                        filter.passband_hz, filter.stopband_hz, cascade_passband_hz, &s.samples);
    s.meets = meets_target(s.extremes, target);
    return s;
}

double rounding_error_peak(std::span<const double> h, double gain, int bits) {
    const std::vector<double> rounded = values_of(round_coefficients(h, bits));
    std::vector<double> error(h.size());
    for (std::size_t k = 0; k < h.size(); ++k) error[k] = rounded[k] - h[k];
    AmplitudeTransform transform(2 * fast_fft_size(std::max<std::size_t>(4 * h.size(), 32)));
    double peak = 0.0;
    for (const double a : transform.run(error)) peak = std::max(peak, std::fabs(a));
    return peak / gain;
}

bool tightened_target(const StageTarget& target, double error, StageTarget* tightened) {
    const double passband = target.passband_deviation - error;
    const double stopband = target.stopband_deviation - error;
    if (!(passband > 0.0 && stopband > 0.0)) return false;
    StageTarget t = target;
    t.passband_deviation = passband;
    t.stopband_deviation = stopband;
    t.ripple_db = 20.0 * std::log10((1.0 + passband) / (1.0 - passband));
    t.attenuation_db = -20.0 * std::log10(stopband);
    t.kaiser_attenuation_db = kaiser_figures(t, t.passband_hz, t.stopband_hz).design_attenuation_db;
    *tightened = t;
    return true;
}

}  // namespace quillmere::inline v2::design
