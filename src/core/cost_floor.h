// Lower bounds on the price of the two-stage cascades of one common-factor pass, for the
// min-cost pruning. Every such cascade realises the same overall ratio, so with both
// stages filtered its MAC/s depend on its intermediate rate alone up to the rounding of
// the tap counts; dropping that rounding gives a floor that is a convex function of the
// intermediate rate, whose sublevel sets are intervals. With a design method the floor
// takes that method's length factor (cost_model::cascade_factor_floor) at the leaks, the
// transitions and the Kaiser far-edge margin the split's rates allow, and a stage by 2
// (an intermediate rate twice or half a neighbouring rate, factors 2/1 or 1/2) may be a
// halfband at half the factor when its edges allow one: those few rates join the interval
// where their floor allows.
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
/// attenuation its stages are designed for. A stage is a halfband only with factors 2/1
/// or 1/2 exactly, so only a first stage with L1 = g a1 <= 2, or a second with M2 =
/// g b2 <= 2, may be one. A split whose own leaks are known to be more (see
/// CostFloor::with_leaks()) counts extra_leak_power more powers of two of them.
/// SplitFactors{} bounds every split.
struct SplitFactors {
    int leak_power = 0;
    long long a1 = 1;
    long long b2 = 1;
    bool first_halfband = true;   ///< the first stage may be a halfband (L1 <= 2)
    bool second_halfband = true;  ///< the second stage may be a halfband (M2 <= 2)
    int extra_leak_power = 0;
    double first_l() const { return std::ldexp(static_cast<double>(a1), leak_power); }
    double second_m() const { return std::ldexp(static_cast<double>(b2), leak_power); }
    /// The power of two of the fewest leaks counted: at least 2^this x the fewest of all.
    int leaks_power() const { return leak_power + extra_leak_power; }
    bool operator==(const SplitFactors&) const = default;
};

class CostFloor {
public:
    /// Powers of two of the leaks a floor counts beyond the fewest: g stays below 2^27,
    /// and a cascade's own leaks (at most 2 L1 L2) below 2^54.
    static constexpr int LEAK_POWERS = 56;

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

    /// The split of one cascade of it whose coinciding leaks (cost_model::coinciding_leaks)
    /// are `leaks`: the powers of two of them beyond its common factor's counted too. The
    /// split as it is for Kaiser's estimate.
    SplitFactors with_leaks(const SplitFactors& split, double leaks) const;

    /// Whether the floor counts leaks (a design method prices the cascades).
    bool counts_leaks() const { return method_.has_value(); }

    /// A lower bound on the MAC/s of a cascade through f1_hz with both stages filtered;
    /// +infinity where no cascade can carry the passband.
    double macs_floor(double f1_hz, const SplitFactors& split = {}) const;

    /// A superset of the intermediate rates whose cascades (both stages filtered, splits
    /// as described) may cost at most bound MAC/s.
    RateInterval rates_within(double bound, const SplitFactors& split = {}) const;

    /// A lower bound on the coefficients of a cascade whose stages upsample to u1_hz and
    /// u2_hz (L1 x input and L2 x intermediate rate), of a split as described. With a
    /// design method each stage's factor is the one for the widest transition it may have
    /// over those rates (the input's or the output's less the edges).
    double coefficients_floor(double u1_hz, double u2_hz, const SplitFactors& split = {}) const;

    /// Whether coefficients_floor(u1_hz, u2_hz, split) <= coefficients, decided without
    /// working out the floor where a ceiling on it (every stage at the highest factor of
    /// its leaks) already says so.
    bool coefficients_may_be_within(double u1_hz, double u2_hz, const SplitFactors& split,
                                    double coefficients) const;

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
    /// not, whose transition is at most max_transition_cycles of its upsampled rate and at
    /// least least_transition_hz (its Kaiser design's far-edge margin grows with it).
    double factor_at(int power, bool halfband, double max_transition_cycles,
                     double least_transition_hz = 0.0) const;
    /// factor_at() for a transition of at most max_transition_cycles, that bound first
    /// rounded up to one of 32 steps an octave (a wider bound, a factor no higher) and the
    /// factor remembered for it: the coefficients floor asks for one per g.
    double remembered_factor(int power, bool halfband, double max_transition_cycles) const;
    /// The highest factor_at() of a leak power, whatever the halfband and transition,
    /// worked out when first asked for.
    double factor_ceiling(int power) const;
    /// A bound from below on the transition, in Hz, of the stage between f1_hz and rate_hz
    /// as the price works it out (0 when it may have none).
    double least_transition(double f1_hz, double rate_hz) const;
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
    /// worked out from (factor_at()).
    std::optional<DesignMethod> method_{};
    cost_model::Design design_{};
    double least_leaks_ = 1.0;
    /// factor_ceiling()'s factors, by leak power (0: not yet worked out).
    mutable double factor_ceilings_[LEAK_POWERS] = {};
    /// remembered_factor()'s factors, by key (0: none), direct-mapped.
    struct RememberedFactor {
        std::uint64_t key = 0;
        double factor = 0.0;
    };
    static constexpr int REMEMBERED = 64;
    mutable RememberedFactor remembered_[REMEMBERED] = {};
};

}  // namespace quillmere::inline v2::core
