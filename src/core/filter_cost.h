// The filter cost model inside the library: Kaiser's design formulas, the edges a cascade
// is designed for, and the price of a cascade without allocation, for estimate_cost and
// for the min-cost search (which must price millions of candidates exactly as
// estimate_cost would).
#pragma once

#include <cstdint>
#include <string>

#include "quillmere/quillmere.h"

namespace quillmere::cost_model {

/// Largest tap count the model gives (2^53, exact in double); a longer filter is refused.
inline constexpr double max_taps = 9007199254740992.0;

/// Two MAC/s totals are tied when they differ by at most this fraction of the larger plus
/// what rounding the lengths to whole taps can account for (see macs_tied). The estimate
/// is no finer: filters of the estimated lengths land within about a decibel of the
/// wanted attenuation, about 1 % of their length.
inline constexpr double macs_tie_tolerance = 1e-2;

/// Why a cascade cannot be priced.
enum class Refusal {
    none,
    input_rate,   ///< the input rate is not a positive finite number
    stages,       ///< no stage, or a factor below 1, or a rate that is not representable
    attenuation,  ///< the attenuation is not a positive finite number of dB
    ripple,       ///< the ripple is not a positive finite number of dB
    passband,     ///< the passband edge is not positive and finite
    stopband,     ///< the stopband edge is not positive and finite, or above half the lower rate
    passband_not_below_stopband,  ///< the passband edge is at or above the stopband edge
    stage_rate,                   ///< a stage's rate is too low to carry the passband
    length,                       ///< a filter would exceed max_taps
};

/// Kaiser's length factor D for a design attenuation in dB: a lowpass needs about
/// D x rate / transition + 1 taps. D = (A - 7.95) / 14.36 above 21 dB, 0.9222 below.
double kaiser_length_factor(double design_attenuation_db);

/// Kaiser's window parameter for a design attenuation in dB.
double kaiser_beta(double design_attenuation_db);

/// The larger of two deviations as an attenuation: -20 log10(min(ripple deviation,
/// stopband deviation)), the ripple deviation being that of a peak-to-peak passband ripple
/// of stage_ripple_db.
double design_attenuation_db(double attenuation_db, double stage_ripple_db);

/// What the design attenuation adds above 100 dB: 0.1 dB per dB. Kaiser fitted his beta
/// formula to designs up to about 100 dB; beyond that, windows built with it fall short by
/// about 1 dB per 10 dB (1.5 dB at 120 dB, 3.4 dB at 140 dB, measured), which this covers
/// up to about 150 dB.
double high_attenuation_margin_db(double attenuation_db);

/// What a stage's design attenuation adds to cover the far edge of its passband, in dB:
/// 20 log10(1 + t / (3 t + 4 p)) for a transition t and passband edge p. A windowed sinc's
/// stopband error is the tail of the window's spectrum from the near edge of the passband,
/// half a transition from the stopband edge, plus the tail from the mirrored edge, a
/// further 2 x cut-off away; the tails fall about as 1 / distance. Kaiser's formulas count
/// the near edge alone, which falls up to 2.5 dB short when the passband is narrow beside
/// the transition (as in the wide-transition stages of a multistage cascade).
double far_edge_margin_db(double transition_hz, double passband_hz);

/// Taps from Kaiser's formula, ceil(D x upsampled_rate / transition + 1), as a double;
/// +infinity or NaN when it cannot be computed.
double kaiser_taps(double length_factor, double upsampled_rate_hz, double transition_hz);

/// What every filtered stage of one cascade is designed for.
struct Design {
    double passband_hz = 0.0;
    double stopband_hz = 0.0;
    double attenuation_db = 0.0;
    double ripple_db = 0.0;
    bool passband_defaulted = false;
    int filtered_stages = 0;
    double stage_ripple_db = 0.0;  ///< ripple_db / filtered_stages
    /// The tighter deviation as an attenuation (see design_attenuation_db()) with its
    /// high_attenuation_margin_db(); each stage adds its far_edge_margin_db().
    double deviation_attenuation_db = 0.0;
};

/// Checks the filter requirements against a cascade from input_rate_hz to output_rate_hz with
/// filtered_stages filtered stages and fills the design (edges resolved from their
/// defaults). A stopband edge within match_tolerance (relative) above half the lower rate
/// counts as half the lower rate's edge and is accepted as given.
Refusal resolve_design(double input_rate_hz, double output_rate_hz, int filtered_stages,
                       const FilterSpec& filter, Design* design);

/// The figures of one filtered stage.
struct StageFigures {
    double transition_hz = 0.0;
    double design_attenuation_db = 0.0;  ///< the design's deviation + the far-edge margin
    double kaiser_beta = 0.0;
    std::int64_t taps = 0;
    double taps_per_output_sample = 0.0;
    double macs_per_second = 0.0;
};

/// The filter of a stage from stage_input_rate_hz to stage_output_rate_hz with
/// interpolation factor l, designed as `design` says. Refusal::stage_rate when its
/// stopband edge is not above the passband edge, Refusal::length when it is too long.
Refusal stage_figures(const Design& design, double stage_input_rate_hz, double stage_output_rate_hz,
                      std::int64_t l, StageFigures* figures);

/// The rate after each stage as the solvers compute it: input x (the product of the stage
/// ratios so far), each ratio L/M in double, multiplied in stage order. NaN when a rate
/// is not a positive finite number.
double rate_after(double input_rate_hz, const Stage* stages, std::size_t count);

/// The totals of a cascade.
struct Price {
    double macs_per_second = 0.0;
    std::int64_t coefficients = 0;
    /// What one tap more in every phase of every filtered stage would add: the sum of
    /// output rate / L over those stages, in MAC/s.
    double macs_grain = 0.0;
};

/// Prices a cascade exactly as estimate_cost does (same figures, bit for bit), without
/// allocating; the min-cost search calls it once per candidate it cannot rule out.
Refusal price_cascade(double input_rate_hz, const Stage* stages, std::size_t count,
                      const FilterSpec& filter, Price* price);

/// Whether two prices count as equal: their MAC/s differ by at most macs_tie_tolerance of
/// the larger plus twice the larger grain. Kaiser's length, D x rate / transition + 1
/// rounded up, is one to two taps longer than its continuous part, which is the same for
/// cascades through the same intermediate rate; spread over L phases that is one to two
/// taps per phase, so a cascade with more phases can look cheaper by up to two grains of
/// the other without being any better. A smaller difference says nothing about which
/// filters are cheaper, and the one with fewer coefficients is preferred.
bool macs_tied(const Price& a, const Price& b);

/// The field (as RequestCheck names it) and a one-sentence message for a refusal.
struct RefusalText {
    std::string field;
    std::string message;
};
RefusalText describe_refusal(Refusal refusal, double input_rate_hz, const Stage* stages,
                             std::size_t count, const FilterSpec& filter);

/// Checks the filter requirements of a two-stage request before a min-cost search: the
/// decibels, the edges against the requested rates, and, unless its priority is ignore, an
/// intermediate target too low to carry the passband. Status::ok when it may be searched.
RequestCheck check_filter_request(const TwoStageRequest& request);

/// A number as messages write it: up to 10 significant digits, no trailing zeros.
std::string format_number(double value);

}  // namespace quillmere::cost_model
