// Lower bounds on the price of the two-stage cascades of one common-factor pass, for the
// min-cost pruning. Every such cascade realises the same overall ratio, so with both
// stages filtered its MAC/s depend on its intermediate rate alone up to the rounding of
// the tap counts; dropping that rounding gives a floor that is a convex function of the
// intermediate rate, whose sublevel sets are intervals. With a design method the floor
// takes that method's length factor (cost_model::cascade_factor_floor), and a stage by 2
// (an intermediate rate twice or half a neighbouring rate) may be a halfband at half the
// factor: those few rates join the interval where their floor allows.
#pragma once

#include <optional>

#include "quillmere/quillmere.h"

namespace quillmere::inline v2::core {

/// An interval of intermediate rates, in Hz; empty when !(lo <= hi).
struct RateInterval {
    double lo = 1.0;
    double hi = 0.0;
    bool empty() const { return !(lo <= hi); }
};

class CostFloor {
public:
    /// For the cascades from input_rate_hz to output_rate_hz (the exact rational output
    /// of the pass) with intermediate rates from lowest_hz to highest_hz. usable() is false
    /// when the filter requirements refuse every such cascade.
    CostFloor(double input_rate_hz, double output_rate_hz, const FilterSpec& filter,
              double lowest_hz, double highest_hz);

    bool usable() const { return usable_; }
    double output_rate() const { return output_; }
    /// Passband plus stopband edge, lowered a hair: no cascade with both stages filtered
    /// and an intermediate rate at or below this can be priced.
    double lowest_priced_rate() const { return edges_; }

    /// A lower bound on the MAC/s of a cascade through f1_hz with both stages filtered;
    /// +infinity where no cascade can carry the passband.
    double macs_floor(double f1_hz) const;

    /// A superset of the intermediate rates whose cascades (both stages filtered) may cost
    /// at most bound MAC/s.
    RateInterval rates_within(double bound) const;

    /// A lower bound on the coefficients of a cascade whose stages upsample to u1_hz and
    /// u2_hz (L1 x input and L2 x intermediate rate).
    double coefficients_floor(double u1_hz, double u2_hz) const;

private:
    double floor_with(double f1_hz, double d1, double d2) const;
    /// Where the floor with length factors d1 and d2 is least within [lo, hi].
    double lowest_point(double lo, double hi, double d1, double d2) const;
    /// The rate on the rising or falling side where that floor meets bound, as solved in
    /// closed form (rounding aside).
    double root_guess(double bound, double d1, double d2, bool rising) const;
    /// The design method's factors of the stages around f1_hz: halved where a stage is
    /// by 2 and so may be a halfband.
    double designed_floor(double f1_hz) const;
    RateInterval designed_rates_within(double bound) const;
    RateInterval sublevel(double bound, double lo, double hi, double d1, double d2) const;

    bool usable_ = false;
    double input_ = 0.0;
    double output_ = 0.0;
    double passband_ = 0.0;
    double edges_ = 0.0;        ///< passband + stopband edge, lowered a hair against rounding
    double attenuation_ = 0.0;  ///< the deviation attenuation of two filtered stages
    double lowest_ = 0.0;
    double highest_ = 0.0;
    /// With a design method: the factor of a stage that cannot be a halfband, and of one
    /// that may be.
    std::optional<DesignMethod> method_{};
    double factor_ = 0.0;
    double halfband_factor_ = 0.0;
};

}  // namespace quillmere::inline v2::core
