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
    /// The fewest bits that keep the stage within its target: `bits` when this rounding
    /// does, more when it does not (found by doubling then bisecting the step, assuming
    /// more bits never do worse), 0 when none up to 53 does.
    int bits_needed = 0;
};

RoundedStage round_stage(const DesignedFilter& filter, const StageTarget& target, int bits,
                         double cascade_passband_hz);

}  // namespace quillmere::inline v2::design
