// What each stage's filter is designed for, and how long each method makes it: the ripple
// share and the leak allowance of a cascade, the edges of a stage and of its halfband, and
// the length estimates (Kaiser's, through the cost model, and Herrmann's for equiripple
// filters), with the lower bounds on them that a search can prune with. Cheap and
// allocation-free, so that a cost estimate can price designs by method.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/filter_model.h"
#include "quillmere/quillmere.h"

namespace quillmere::inline v2::cost_model {

/// The deviation 1 +/- d of a peak-to-peak passband ripple in dB: (1 + d) / (1 - d) =
/// 10^(ripple/20).
double ripple_deviation(double ripple_db);

/// The stopband deviation of an attenuation in dB: 10^(-attenuation/20).
double stopband_deviation(double attenuation_db);

/// How many stopband leaks of one input tone can land on one output frequency of a cascade
/// (the stages are those of the cascade, pass-throughs included). Every output line a
/// complex input line reaches is reached along prod(L) / R paths, R being the number of
/// lines it reaches (the output rate over the greatest common divisor of all the rates);
/// the lines of +f and -f of a real tone land on the same output lines, other than its own,
/// when that divisor is below the input rate and R >= 4. The count is 2 x paths in that
/// case, paths otherwise. Factors whose products overflow 64 bits give the bound 2 x prod(L).
double coinciding_leaks(const Stage* stages, std::size_t count);

/// What the stopband target of every filtered stage adds to the cascade's attenuation, in
/// dB: 20 log10(coinciding leaks), plus the largest passband gain (1 + ripple deviation)
/// of each of the other filtered stages a leak passes on its way.
double leak_allowance_db(double coinciding_leaks, int filtered_stages, double stage_ripple_db);

/// The requirements of one filtered stage, at its upsampled rate L x its input rate.
struct StageTarget {
    double input_rate_hz = 0.0;
    double output_rate_hz = 0.0;
    double upsampled_rate_hz = 0.0;
    std::int64_t l = 1;
    std::int64_t m = 1;
    double passband_hz = 0.0;  ///< the cascade's passband edge
    /// min(input rate, output rate) - the cascade's stopband edge: whatever passes lands
    /// where a later stage removes it or at or above the stopband edge.
    double stopband_hz = 0.0;
    double ripple_db = 0.0;              ///< the stage's share of the cascade's ripple
    double attenuation_db = 0.0;         ///< the cascade's attenuation + the leak allowance
    double passband_deviation = 0.0;     ///< from ripple_db
    double stopband_deviation = 0.0;     ///< from attenuation_db
    double kaiser_attenuation_db = 0.0;  ///< what the cost model designs a window for
    bool halfband_possible = false;      ///< see halfband_edges()
    double halfband_passband_hz = 0.0;   ///< the halfband's edges when possible
    double halfband_stopband_hz = 0.0;
};

/// The target of one stage: its rates and factors, the design the cost model resolved for
/// the cascade, and the cascade's leak allowance. False when the stage has no transition
/// band (its stopband edge is not above the passband edge).
bool stage_target(const Design& design, double input_rate_hz, double output_rate_hz,
                  std::int64_t l, std::int64_t m, double leak_allowance_db, StageTarget* target);

/// Whether a stage can be a halfband: it interpolates or decimates by 2 (L/M = 2/1 or 1/2)
/// and a quarter of its upsampled rate U lies inside its transition band. The halfband's
/// edges are then symmetric about U/4 inside the required ones: passband to
/// max(fp, U/2 - fs), stopband from U/2 minus that.
bool halfband_edges(const StageTarget& target, double* passband_hz, double* stopband_hz);

/// Herrmann, Rabiner and Chan's estimate of an equiripple lowpass's length for deviations
/// d1, d2 (either order) and a transition of delta_f cycles per sample:
/// D(d1, d2) / delta_f - f(d1, d2) x delta_f + 1, rounded up.
double herrmann_taps(double deviation_1, double deviation_2, double transition_cycles);

/// Kaiser's taps and beta for a stage as the cost model computes them, for the target's
/// attenuation: the cost model's design attenuation (the tighter deviation, the margin
/// above 100 dB and the far-edge margin) for the given edges.
struct KaiserFigures {
    double taps = 0.0;  ///< +infinity when beyond any length
    double beta = 0.0;
    double design_attenuation_db = 0.0;
};
KaiserFigures kaiser_figures(const StageTarget& target, double passband_hz, double stopband_hz,
                             double extra_attenuation_db = 0.0);

/// The smallest halfband length (4k + 3, the end taps non-zero) of at least `taps`.
double halfband_length(double taps);

/// Non-zero coefficients of a halfband of `taps` = 4k + 3 taps: the centre and every other.
std::int64_t halfband_nonzero_taps(std::int64_t taps);

/// A stage's predicted filter, before any design: its method, length and non-zero taps.
struct StagePrediction {
    StageFilter method = StageFilter::kaiser;
    bool halfband = false;
    double taps = 0.0;          ///< +infinity when beyond any length
    double nonzero_taps = 0.0;  ///< taps, or the halfband's non-zero taps
};

/// Predicts a stage's filter for `method` (automatic: equiripple up to max_exchange_taps,
/// Kaiser beyond), with the halfband where it has fewer non-zero taps. design_filters
/// delivers lengths close to these: Kaiser's exactly unless its measurement misses,
/// equiripple ones within a few taps of Herrmann's estimate.
StagePrediction predict_stage(const StageTarget& target, DesignMethod method);

/// A lower bound on the non-zero taps predict_stage() gives, for pruning a search that
/// prices candidates by design method. For every stage whose passband and stopband
/// deviations are at most the given ones (its targets at least as tight) and whose
/// transition, over its upsampled rate, is at most max_transition_cycles (below 0.5):
///
///     predict_stage(target, method).nonzero_taps >= factor / (transition / upsampled rate)
///
/// with factor the value returned, so that a stage's MAC/s, nonzero_taps / L x its output
/// rate, are at least factor x input rate x output rate / transition: the form of Kaiser's
/// length (factor D) that core/cost_floor bounds the min-cost price with. The factor is the
/// smallest over what the method may give the stage (automatic: equiripple or Kaiser;
/// each in its ordinary or, when halfband_possible, its halfband form, whose non-zero taps
/// are about half its length and whose transition is no wider than the stage's):
/// - Kaiser: (A - 7.95) / 14.36, made non-decreasing below 21 dB, at the attenuation A the
///   cost model designs for with the far-edge margin left out (it only adds);
/// - equiripple: Herrmann's D(dp, ds) + min(0, x - f(dp, ds) x^2) for x the largest
///   transition, since D / F - f F + 1 >= (D - f x^2 + x) / F for every F <= x; the
///   halfband's with its single deviation min(dp, ds);
/// - halfbands: half of that.
/// The automatic method leaves out the equiripple forms when Herrmann's length at x, a
/// bound on every length at narrower transitions, already exceeds max_exchange_taps in
/// both: it never chooses them then. Tighter deviations only lengthen a filter. Never
/// negative.
///
/// kaiser_margin_db: a far-edge margin every such stage's ordinary Kaiser design has at
/// least (far_edge_margin_db() grows with the transition: its value at the narrowest
/// transition the stages may have), added to the ordinary Kaiser form's attenuation. The
/// halfband's own margin may be smaller, and none is counted there.
double nonzero_taps_factor_floor(double passband_deviation, double stopband_deviation,
                                 DesignMethod method, bool halfband_possible,
                                 double max_transition_cycles, double kaiser_margin_db = 0.0);

/// nonzero_taps_factor_floor() for every filtered stage of a cascade designed as `design`
/// (edges resolved, the ripple shared among its filtered stages) with at least
/// `least_leaks` coinciding leaks: the deviation of its ripple share, and the stopband
/// deviation of its attenuation plus leak_allowance_db(least_leaks, filtered stages, share);
/// kaiser_margin_db as there.
double cascade_factor_floor(const Design& design, DesignMethod method, bool halfband_possible,
                            double max_transition_cycles, double least_leaks,
                            double kaiser_margin_db = 0.0);

/// A ceiling on predict_stage(): for every method and every filtered stage of a cascade
/// designed as `design` with at most `most_leaks` coinciding leaks, the predicted length
/// is at most factor x upsampled rate / transition + 8, with factor the value returned.
/// The ordinary forms take at most Kaiser's or Herrmann's length at the tightest
/// deviations (with the far-edge margin's most); a halfband is taken only with fewer
/// non-zero taps, so at most twice the ordinary length; the automatic method's equiripple
/// forms at most max_exchange_taps.
double designed_taps_factor_ceiling(const Design& design, double most_leaks);

/// What bounds predict_stage() from below for the stages of one cascade: the terms of its
/// deviations, worked out once, so that a search pricing many stages by design method can
/// bound each from its rates with a little arithmetic. The deviations are a stage's exactly
/// for the cascade's leak allowance; a cascade with a larger one only has tighter targets.
struct PredictionFloor {
    DesignMethod method = DesignMethod::automatic;
    double passband_hz = 0.0;
    /// The Kaiser design attenuation before the far-edge margin (the tighter deviation with
    /// the margin above 100 dB), lowered a hair against roundings.
    double deviation_attenuation_db = 0.0;
    /// Herrmann's D and f of the ordinary design (both deviations) and of the halfband
    /// (the tighter one twice).
    double herrmann_d = 0.0, herrmann_f = 0.0;
    double halfband_d = 0.0, halfband_f = 0.0;
};

/// The floor terms of every filtered stage of a cascade designed as `design` (edges
/// resolved, the ripple shared among its filtered stages) whose stages add
/// leak_allowance_db to their attenuation target.
PredictionFloor prediction_floor(const Design& design, double leak_allowance_db,
                                 DesignMethod method);

/// Kaiser's length factor of an ordinary stage whose transition is at least transition_hz
/// (the far-edge margin of that transition added), made non-decreasing in the attenuation:
/// what stage_nonzero_taps_floor() reads of the stage's lower rate.
double kaiser_factor_floor(const PredictionFloor& floor, double transition_hz);

/// A lower bound on predict_stage(target, floor.method).nonzero_taps for a stage whose
/// upsampled rate over its transition (stopband edge - passband edge) is at least
/// rate_over_transition and whose targets are at least as tight as the floor's;
/// kaiser_factor from kaiser_factor_floor() of at most that transition. by_two: the stage
/// may be a halfband (it interpolates or decimates by 2). Each form's length is bounded by
/// its own formula at that transition, rounded up as the prediction rounds it (a halfband's
/// transition is no wider than the stage's); the automatic method leaves out an equiripple
/// form whose bound already exceeds max_exchange_taps, which it never chooses.
double stage_nonzero_taps_floor(const PredictionFloor& floor, double kaiser_factor, bool by_two,
                                double rate_over_transition);

/// A lower bound on the non-zero taps of every filtered stage of such a cascade, whatever
/// its rates: a stage's transition is below half its upsampled rate. At least 1.
double least_nonzero_taps(const PredictionFloor& floor);

}  // namespace quillmere::inline v2::cost_model
