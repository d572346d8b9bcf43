// Rounding a stage's coefficients to signed integers with one power-of-two scale, and what
// the rounding does to its response.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "design/response.h"
#include "design/stage_design.h"
#include "design/targets.h"

namespace quillmere::inline v2::design {

/// Coefficients rounded to integers of `bits` bits: value = integer x 2^-scale_exponent.
struct Rounded {
    int scale_exponent = 0;
    std::vector<double> integers;  ///< whole numbers within +/-(2^(bits-1) - 1), exact
};

/// Rounds h (not all zero) to the nearest integers at the largest power-of-two scale that
/// keeps every one within +/-(2^(bits-1) - 1); bits from 2 to 53.
Rounded round_coefficients(std::span<const double> h, int bits);

/// A stage's rounded filter, measured.
struct RoundedStage {
    Rounded rounded;
    Extremes extremes;
    PassbandSamples samples;
    bool meets = false;
    /// The fewest bits that keep the stage within its target (see design_filters).
    int bits_needed = 0;
};

/// Rounds a stage's filter to `bits` and measures it against the stage's target. Leaves
/// bits_needed to the caller (see rounded_design in filter_design.cpp).
RoundedStage round_stage(const DesignedFilter& filter, const StageTarget& target, int bits,
                         double cascade_passband_hz);

/// The largest |E(F)| / gain from 0 to half the rate of E, the response of what rounding h
/// to `bits` adds (the rounded filter minus h), on a grid of 8 points per 1/taps: how far
/// the rounding moves the amplitude anywhere.
double rounding_error_peak(std::span<const double> h, double gain, int bits);

/// The target with both deviations lowered by `error` (the passband's ripple share and the
/// stopband's attenuation recomputed from them): what a filter must meet unrounded so that
/// a rounding that moves its amplitude by up to `error` still meets `target`. False when
/// `error` leaves nothing of either deviation.
bool tightened_target(const StageTarget& target, double error, StageTarget* tightened);

}  // namespace quillmere::inline v2::design
