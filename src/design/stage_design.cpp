// One stage's filter by the Kaiser window or by the Remez exchange, with the length search.
#include "design/stage_design.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "design/kaiser.h"
#include "design/remez.h"

namespace quillmere::inline v2::design {

namespace {

double to_db(double ratio) {
    return 20.0 * std::log10(ratio);
}

/// One length tried by the equiripple search.
struct Trial {
    bool converged = false;
    double weighted_error = 0.0;  ///< the exchange's largest weighted error; 1 is the target
    std::vector<double> extremals;
    bool measured = false;  ///< the filter was measured
    DesignedFilter filter;  ///< measured when the weighted error is within the target
};

/// The equiripple filter for search index n (taps n, or 4n - 1 for a halfband), measured
/// when its exchange meets the target or when `measure` says so.
Trial equiripple_trial(RemezExchange& exchange, const StageTarget& target, bool halfband,
                       double cascade_passband_hz, std::int64_t n, const std::vector<double>& start,
                       bool measure) {
    const double pass = halfband ? target.halfband_passband_hz : target.passband_hz;
    const double stop = halfband ? target.halfband_stopband_hz : target.stopband_hz;
    Trial trial;
    const double rate = target.upsampled_rate_hz;
    const auto gain = static_cast<double>(target.l);
    RemezResult result;
    std::vector<double> h;
    if (halfband) {
        // G approximates 1 over twice the passband (at half the rate); H = (1 + G(2F)) / 2
        // deviates by half of G's in both bands, which must stay within the tighter one.
        const double deviation = std::min(target.passband_deviation, target.stopband_deviation);
        const RemezBand band{0.0, 2.0 * pass / rate, 1.0, 1.0 / (2.0 * deviation)};
        result = exchange.design(static_cast<std::size_t>(2 * n), std::span(&band, 1), start);
        if (result.converged) {
            h.assign(static_cast<std::size_t>(4 * n - 1), 0.0);
            for (std::size_t m = 0; m < result.h.size(); ++m) h[2 * m] = gain * result.h[m] / 2.0;
            h[static_cast<std::size_t>(2 * n - 1)] = gain / 2.0;
        }
    } else {
        const RemezBand bands[2] = {
            {0.0, pass / rate, 1.0, 1.0 / target.passband_deviation},
            {stop / rate, 0.5, 0.0, 1.0 / target.stopband_deviation},
        };
        result = exchange.design(static_cast<std::size_t>(n), bands, start);
        if (result.converged) {
            h = std::move(result.h);
            for (double& c : h) c *= gain;
        }
    }
    trial.converged = result.converged;
    if (!trial.converged) return trial;
    trial.weighted_error = result.weighted_error;
    trial.extremals = std::move(result.extremals);
    DesignedFilter& f = trial.filter;
    f.method = StageFilter::equiripple;
    f.halfband = halfband;
    f.passband_hz = pass;
    f.stopband_hz = stop;
    f.h = std::move(h);
    // A length whose exchange misses the target cannot measure within it: no need to look.
    if (measure || trial.weighted_error <= 1.0) {
        trial.measured = true;
        f.extremes = measure_lowpass(f.h, gain, rate, pass, stop, cascade_passband_hz, &f.samples);
        f.meets = meets_target(f.extremes, target);
    }
    return trial;
}

}  // namespace

DesignedFilter design_equiripple_length(const StageTarget& target, bool halfband, std::int64_t taps,
                                        double cascade_passband_hz) {
    RemezExchange exchange;
    const std::int64_t n = halfband ? (taps + 1) / 4 : taps;
    Trial trial = equiripple_trial(exchange, target, halfband, cascade_passband_hz, n, {}, true);
    if (!trial.converged) {
        DesignedFilter none;
        none.method = StageFilter::equiripple;
        none.failure = DesignFallback::no_convergence;
        return none;
    }
    return std::move(trial.filter);
}

double shortfall_db(const Extremes& e, const StageTarget& target) {
    const double ripple_deviation =
        (e.passband_max - e.passband_min) / (e.passband_max + e.passband_min);
    return std::max({target.attenuation_db + to_db(e.stopband_max),
                     to_db(ripple_deviation / target.passband_deviation),
                     to_db((e.peak - 1.0) / target.passband_deviation)});
}

bool meets_target(const Extremes& extremes, const StageTarget& target) {
    const double ripple = to_db(extremes.passband_max / extremes.passband_min);
    return extremes.passband_min > 0.0 && ripple <= target.ripple_db &&
           -to_db(extremes.stopband_max) >= target.attenuation_db &&
           extremes.peak <= 1.0 + target.passband_deviation;
}

DesignedFilter design_kaiser(const StageTarget& target, bool halfband, double cascade_passband_hz,
                             std::int64_t max_taps) {
    DesignedFilter f;
    f.method = StageFilter::kaiser;
    f.halfband = halfband;
    f.passband_hz = halfband ? target.halfband_passband_hz : target.passband_hz;
    f.stopband_hz = halfband ? target.halfband_stopband_hz : target.stopband_hz;
    const double rate = target.upsampled_rate_hz;
    const auto gain = static_cast<double>(target.l);
    double extra_db = 0.0;
    for (int attempt = 0; attempt < 8; ++attempt) {
        const KaiserFigures k = kaiser_figures(target, f.passband_hz, f.stopband_hz, extra_db);
        const double taps = halfband ? halfband_length(k.taps) : k.taps;
        if (attempt == 0)
            f.predicted_taps = std::isfinite(taps) ? static_cast<std::int64_t>(taps) : 0;
        if (!(taps <= static_cast<double>(max_taps))) {
            f.h.clear();
            f.meets = false;
            return f;
        }
        const auto n = static_cast<std::int64_t>(taps);
        f.kaiser_beta = k.beta;
        f.h = halfband
                  ? kaiser_halfband(n, k.beta, gain)
                  : kaiser_lowpass(n, k.beta, (f.passband_hz + f.stopband_hz) / 2.0 / rate, gain);
        f.extremes = measure_lowpass(f.h, gain, rate, f.passband_hz, f.stopband_hz,
                                     cascade_passband_hz, &f.samples);
        f.meets = meets_target(f.extremes, target);
        if (f.meets) break;
        extra_db += std::max(shortfall_db(f.extremes, target), 0.0) + 0.05;
    }
    return f;
}

DesignedFilter design_equiripple(const StageTarget& target, bool halfband,
                                 double cascade_passband_hz, const StopRequest& stop) {
    const double pass = halfband ? target.halfband_passband_hz : target.passband_hz;
    const double stop_edge = halfband ? target.halfband_stopband_hz : target.stopband_hz;
    const double transition = (stop_edge - pass) / target.upsampled_rate_hz;
    const double tighter = std::min(target.passband_deviation, target.stopband_deviation);
    const double estimate =
        halfband ? halfband_length(herrmann_taps(tighter, tighter, transition))
                 : herrmann_taps(target.passband_deviation, target.stopband_deviation, transition);
    DesignedFilter none;
    none.method = StageFilter::equiripple;
    none.halfband = halfband;
    none.predicted_taps =
        estimate <= static_cast<double>(max_design_taps) ? static_cast<std::int64_t>(estimate) : 0;
    if (!(estimate <= static_cast<double>(max_exchange_taps))) {
        none.failure = DesignFallback::too_long;
        return none;
    }
    // The search runs over n: taps n, or 4n - 1 for a halfband.
    const std::int64_t n_min = halfband ? 2 : 3;
    const std::int64_t n_max = halfband ? (max_exchange_taps + 1) / 4 : max_exchange_taps;
    const double index_step = halfband ? 4.0 : 1.0;
    // Kaiser's rule of thumb: each tap buys about 14.6 x the transition (in cycles) dB of
    // both deviations; the secant through the lengths tried replaces it.
    double slope_db = 14.6 * transition * index_step;
    std::int64_t n = halfband ? (static_cast<std::int64_t>(estimate) + 1) / 4
                              : static_cast<std::int64_t>(estimate);
    n = std::clamp(n, n_min, n_max);

    // The bracket: the longest index known to miss, the shortest known to meet (and below
    // it the shortest where the exchange failed, which is not tried past), and the
    // exchange's error (dB against the target) at each end.
    std::int64_t failing = n_min - 1;
    std::int64_t meeting = n_max + 1;
    std::int64_t ceiling = n_max + 1;
    std::optional<double> failing_db;
    std::optional<double> meeting_db;
    std::optional<DesignedFilter> best;
    // The extremals of the last converged exchange of each parity of length: an odd
    // length's extremal set ends at half the rate and an even length's short of it, so a
    // start of the other parity costs the exchange one or two more rounds.
    std::vector<double> start[2];
    std::optional<std::pair<std::int64_t, double>> last;  // its index and error in dB
    // Which end of the bracket the last length moved.
    enum class Moved { neither, failing_end, meeting_end };
    Moved moved = Moved::neither;
    RemezExchange exchange;
    const double nominal_slope_db = slope_db;
    bool slope_measured = false;
    int unconverged = 0;
    for (int attempt = 0; attempt < 40; ++attempt) {
        if (stop.requested()) {
            none.stopped = true;
            return none;
        }
        // A halfband's exchange designs G, of 2n taps: always even.
        const std::size_t parity = halfband ? 0 : static_cast<std::size_t>(n % 2);
        const std::vector<double>& nearest =
            start[parity].empty() ? start[1 - parity] : start[parity];
        Trial trial =
            equiripple_trial(exchange, target, halfband, cascade_passband_hz, n, nearest, false);
        double next = 0.0;
        if (!trial.converged) {
            // Not a length to use nor to pass; the search goes on below it, halfway to the
            // longest known to miss (or just above when none is known yet).
            if (++unconverged >= 3 && !best) {
                none.failure = DesignFallback::no_convergence;
                return none;
            }
            if (n > failing) ceiling = std::min(ceiling, n);
            next = failing >= n_min ? static_cast<double>(failing + n) / 2.0
                                    : static_cast<double>(n + 1);
            if (failing < n_min && ceiling == n) ceiling = n_max + 1;  // nothing below to halve to
        } else {
            // How far the length is from the target: by measurement where the filter was
            // measured (the exchange's grid can miss the tops of the narrowest ripples by
            // a percent or two), or else by the exchange's error.
            const double error_db = trial.measured ? shortfall_db(trial.filter.extremes, target)
                                                   : to_db(trial.weighted_error);
            if (last && last->first != n) {
                // The secant, but no flatter than half the rule of thumb: the error can stall
                // over a few lengths.
                const double secant =
                    (last->second - error_db) / static_cast<double>(n - last->first);
                if (std::isfinite(secant)) {
                    slope_db = std::max(secant, nominal_slope_db / 2.0);
                    slope_measured = true;
                }
            }
            last = std::make_pair(n, error_db);
            start[parity] = std::move(trial.extremals);
            const bool meets = trial.filter.meets;
            if (meets) {
                meeting = n;
                meeting_db = std::min(error_db, 0.0);
                best = std::move(trial.filter);
                // The failing end kept twice: its error counts half (the Illinois rule), so
                // that the next interpolation lands nearer that end and the bracket closes.
                if (moved == Moved::meeting_end && failing_db) *failing_db /= 2.0;
                moved = Moved::meeting_end;
            } else {
                failing = n;
                failing_db = std::max(error_db, 0.01);
                if (moved == Moved::failing_end && meeting_db) *meeting_db /= 2.0;
                moved = Moved::failing_end;
            }
            if (failing_db && meeting_db && failing >= n_min && meeting <= n_max) {
                // Bracketed: where the error interpolates to the target.
                next = static_cast<double>(failing) + static_cast<double>(meeting - failing) *
                                                          *failing_db /
                                                          (*failing_db - *meeting_db);
            } else {
                // One side known: step by the error over the slope, at least one index. Until
                // two lengths give a secant the slope is the rule of thumb's, which holds near
                // the target; a length more than 1 dB short of it is where the error falls
                // faster with the length than the rule says (up to twice as fast in the
                // designs we measured), so the step is shortened there.
                const double step =
                    error_db / slope_db * (!slope_measured && error_db > 1.0 ? 0.6 : 1.0);
                next = meets ? std::min(static_cast<double>(n - 1), static_cast<double>(n) + step)
                             : std::max(static_cast<double>(n + 1), static_cast<double>(n) + step);
            }
        }
        const std::int64_t upper = std::min(meeting, ceiling);
        if (failing + 1 >= upper) break;  // bracketed, or blocked by a failed exchange
        n = std::clamp(static_cast<std::int64_t>(std::ceil(next)), failing + 1, upper - 1);
    }
    if (!best) {
        none.failure = failing >= n_max   ? DesignFallback::too_long
                       : ceiling <= n_max ? DesignFallback::no_convergence
                                          : DesignFallback::missed_requirements;
        return none;
    }
    best->predicted_taps = none.predicted_taps;
    return std::move(*best);
}

}  // namespace quillmere::inline v2::design
