// Lower bounds on the price of the two-stage cascades of one common-factor pass, for the
// min-cost pruning. Every such cascade realises the same overall ratio, so with both
// stages filtered its MAC/s depend on its intermediate rate alone up to the rounding of
// the tap counts; dropping that rounding gives a floor that is a convex function of the
// intermediate rate, whose sublevel sets are intervals. With a design method the floor
// takes that method's length factor (cost_model::cascade_factor_floor), and a stage by 2
// (an intermediate rate twice or half a neighbouring rate) may be a halfband at half the
// factor when its edges allow one: those few rates join the interval where their floor
// allows.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>

#include "core/filter_model.h"
#include "quillmere/quillmere.h"

namespace quillmere::inline v2::core {

/// An interval of intermediate rates, in Hz; empty when !(lo <= hi).
struct RateInterval {
    double lo = 1.0;
    double hi = 0.0;
    bool empty() const { return !(lo <= hi); }
};

/// The fewest coinciding stopband leaks (cost_model::coinciding_leaks) of any cascade that
/// splits the ratio l / m into stages, pass-throughs included: those of the single stage
/// l / m in lowest terms. Every line a split reaches is reached along M1 M2 ... / lcm(the
/// denominators of its rates) paths, at least one, and the single stage's one path.
double least_split_leaks(std::int64_t l, std::int64_t m);

/// What a floor knows of the splits g a1 / h b1 -> h a2 / g b2 it bounds: g >= 2^
/// leak_power, and a1 and b2. The first stage upsamples to L1 x input = g a1 x input
/// and the second to M2 x output = g b2 x output, which bounds their transitions over
/// those rates (a term of Herrmann's length falls as they widen); every split has at
/// least g times the fewest leaks (see least_split_leaks()), which add to the
/// attenuation its stages are designed for. SplitFactors{} bounds every split.
struct SplitFactors {
    int leak_power = 0;
    long long a1 = 1;
    long long b2 = 1;
    double first_l() const { return std::ldexp(static_cast<double>(a1), leak_power); }
    double second_m() const { return std::ldexp(static_cast<double>(b2), leak_power); }
    bool operator==(const SplitFactors&) const = default;
};

class CostFloor {
public:
    /// For the cascades from input_rate_hz to output_rate_hz (the exact rational output
    /// of the pass) with intermediate rates from lowest_hz to highest_hz, each with at
    /// least least_leaks coinciding stopband leaks (see least_split_leaks()). usable() is
    /// false when the filter requirements refuse every such cascade.
    CostFloor(double input_rate_hz, double output_rate_hz, const FilterSpec& filter,
              double lowest_hz, double highest_hz, double least_leaks);

    bool usable() const { return usable_; }
    double output_rate() const { return output_; }
    /// Passband plus stopband edge, lowered a hair: no cascade with both stages filtered
    /// and an intermediate rate at or below this can be priced.
    double lowest_priced_rate() const { return edges_; }

    /// What bounds the split of common factor g and pair a1, b2: SplitFactors{} for Kaiser's
    /// estimate, which counts no leaks and no transition terms.
    SplitFactors split_of(long long g, long long a1, long long b2) const;

    /// A lower bound on the MAC/s of a cascade through f1_hz with both stages filtered;
    /// +infinity where no cascade can carry the passband.
    double macs_floor(double f1_hz, const SplitFactors& split = {}) const;

    /// A superset of the intermediate rates whose cascades (both stages filtered, splits
    /// as described) may cost at most bound MAC/s.
    RateInterval rates_within(double bound, const SplitFactors& split = {}) const;

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
    /// Whether a stage between rates a and b may be a halfband: it is by 2 and its edges
    /// lie either side of a quarter of its upsampled rate.
    bool halfband_possible(double a, double b) const;
    /// The design method's factors of the stages around f1_hz: halved where a stage may
    /// be a halfband.
    double designed_floor(double f1_hz, const SplitFactors& split) const;
    /// The design method's factor at a leak power, for a stage that may be a halfband or
    /// not, whose transition is at most max_transition_cycles of its upsampled rate.
    double factor_at(int power, bool halfband, double max_transition_cycles) const;
    /// A bound on the transition over the upsampled rate of the stage between f1_hz and
    /// rate_hz (the input's or the output's), upsampled to at least multiple x rate_hz (at
    /// most 0.5).
    double transition_bound(double f1_hz, double rate_hz, double multiple) const;
    RateInterval designed_rates_within(double bound, const SplitFactors& split) const;
    RateInterval sublevel(double bound, double lo, double hi, double d1, double d2) const;

    bool usable_ = false;
    double input_ = 0.0;
    double output_ = 0.0;
    double passband_ = 0.0;
    double stopband_ = 0.0;  ///< the cascade's stopband edge
    double edges_ = 0.0;        ///< passband + stopband edge, lowered a hair against rounding
    double attenuation_ = 0.0;  ///< the deviation attenuation of two filtered stages
    double lowest_ = 0.0;
    double highest_ = 0.0;
    /// With a design method: the method, the design and the fewest leaks its factors are
    /// worked out from (factor_at()), and the factor of a stage that may be a halfband at
    /// the fewest leaks and any transition, for the coefficients.
    static constexpr int LEAK_POWERS = 28;  ///< g stays below 2^27
    std::optional<DesignMethod> method_{};
    cost_model::Design design_{};
    double least_leaks_ = 1.0;
    double halfband_factor_ = 0.0;
};

}  // namespace quillmere::inline v2::core
