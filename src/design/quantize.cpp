// Coefficient rounding and its measurement.
#include "design/quantize.h"

#include <algorithm>
#include <cmath>

namespace quillmere::inline v2::design {

namespace {

constexpr int max_measured_bits = 53;

/// The rounded filter's coefficients as values.
std::vector<double> values_of(const Rounded& r) {
    std::vector<double> h(r.integers.size());
    for (std::size_t k = 0; k < h.size(); ++k) h[k] = std::ldexp(r.integers[k], -r.scale_exponent);
    return h;
}

bool rounding_meets(const DesignedFilter& filter, const StageTarget& target, int bits,
                    double cascade_passband_hz) {
    const std::vector<double> h = values_of(round_coefficients(filter.h, bits));
    const Extremes e =
        measure_lowpass(h, static_cast<double>(target.l), target.upsampled_rate_hz,
                        filter.passband_hz, filter.stopband_hz, cascade_passband_hz, nullptr);
    return meets_target(e, target);
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
    if (s.meets) {
        s.bits_needed = bits;
        return s;
    }
    // Double the step until a rounding meets, then bisect between the last that missed
    // and the first that met.
    int missing = bits;
    int meeting = 0;
    for (int step = 1; missing < max_measured_bits; step *= 2) {
        const int trial = std::min(missing + step, max_measured_bits);
        if (rounding_meets(filter, target, trial, cascade_passband_hz)) {
            meeting = trial;
            break;
        }
        missing = trial;
    }
    if (meeting == 0) return s;
    while (meeting - missing > 1) {
        const int middle = (missing + meeting) / 2;
        if (rounding_meets(filter, target, middle, cascade_passband_hz)) {
            meeting = middle;
        } else {
            missing = middle;
        }
    }
    s.bits_needed = meeting;
    return s;
}

}  // namespace quillmere::inline v2::design
