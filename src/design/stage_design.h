// The filter of one stage by each method: a Kaiser window at the cost model's length and
// beta, or the shortest equiripple design that measures within the stage's requirements,
// in the ordinary or the halfband form.
#pragma once

#include <cstdint>
#include <vector>

#include "design/response.h"
#include "design/targets.h"
#include "quillmere/quillmere.h"
#include "design/stop_request.h"

namespace quillmere::inline v2::design {

/// One stage's designed and measured filter.
struct DesignedFilter {
    StageFilter method = StageFilter::none;
    /// For an equiripple design: why there is none (none when there is one).
    DesignFallback failure = DesignFallback::none;
    /// A stop was requested during the design.
    bool stopped = false;
    bool halfband = false;
    double passband_hz = 0.0;  ///< the edges designed for
    double stopband_hz = 0.0;
    double kaiser_beta = 0.0;
    std::int64_t predicted_taps = 0;
    std::vector<double> h;  ///< DC gain L
    Extremes extremes;
    PassbandSamples samples;  ///< over the cascade's passband
    bool meets = false;
};

/// How far measured extremes fall short of a stage's requirements, in dB (negative when
/// they are within them): the stopband against its attenuation, the passband's deviation
/// and its top against the ripple share's.
double shortfall_db(const Extremes& extremes, const StageTarget& target);

/// Whether measured extremes meet a stage's requirements: the ripple within its share, the
/// stopband at least its attenuation, and no gain above the top of the ripple share.
bool meets_target(const Extremes& extremes, const StageTarget& target);

/// The Kaiser window of the cost model for the target (halfband: at the halfband's edges,
/// lengthened to 4k + 3). When its measurement misses, the window is designed again for
/// the shortfall plus 0.05 dB more, up to 8 times. Its length never exceeds max_taps; a
/// filter that would is left empty.
DesignedFilter design_kaiser(const StageTarget& target, bool halfband, double cascade_passband_hz,
                             std::int64_t max_taps);

/// The shortest equiripple filter that measures within the target, searched from
/// Herrmann's estimate (halfband: over the lengths 4k + 3, by the exchange on the half-
/// length filter G, h = (impulse at the centre + G(z^2)) / 2). Its `failure` says why
/// there is none: too_long when the estimate or the search passes max_exchange_taps,
/// no_convergence when the exchange fails before any length meets, missed_requirements
/// when the search ends without one.
DesignedFilter design_equiripple(const StageTarget& target, bool halfband,
                                 double cascade_passband_hz, const StopRequest& stop);

/// The equiripple filter of exactly `taps` taps for the target (a halfband's: 4k + 3),
/// measured whether or not it meets it; empty with failure no_convergence when the
/// exchange fails. What the search tries at each length.
DesignedFilter design_equiripple_length(const StageTarget& target, bool halfband, std::int64_t taps,
                                        double cascade_passband_hz);

}  // namespace quillmere::inline v2::design
