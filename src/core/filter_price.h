// The price of a cascade under the filter cost model, without allocation: what the
// min-cost search compares for millions of candidates, exactly as estimate_cost figures it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/design_targets.h"
#include "core/filter_model.h"
#include "quillmere/quillmere.h"

namespace quillmere::inline v2::cost_model {

/// Two MAC/s totals are tied when they differ by at most this fraction of the larger plus
/// what rounding the lengths to whole taps can account for (see macs_tied). The estimate
/// is no finer: filters of the estimated lengths land within about a decibel of the
/// wanted attenuation, about 1 % of their length.
inline constexpr double macs_tie_tolerance = 1e-2;

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
                      const FilterSpec& filter, Price* price, DesignMemo* memo = nullptr);

/// One filtered stage as design_filters would deliver it with a design method, predicted
/// without designing it.
struct DesignedStage {
    StagePrediction prediction;
    /// The Kaiser window's beta when the prediction is a Kaiser window; 0 otherwise.
    double kaiser_beta = 0.0;
};

/// What every filtered stage of a cascade adds to its attenuation target against leaks that
/// meet: leak_allowance_db() of the cascade's coinciding leaks (once per cascade).
double cascade_leak_allowance_db(const Stage* stages, std::size_t count, const Design& design);

/// A filtered stage from stage_input_rate_hz to stage_output_rate_hz priced by `method`:
/// predict_stage() at the stage's design targets (its rates, the cascade's design and leak
/// allowance). Refusal::stage_rate when it has no transition band, Refusal::length when
/// the predicted filter would exceed max_taps.
Refusal designed_stage(const Design& design, double leak_allowance_db, double stage_input_rate_hz,
                       double stage_output_rate_hz, const Stage& stage, DesignMethod method,
                       DesignedStage* designed);

/// Prices a cascade as estimate_cost does with filter.design_method = method (the same
/// figures, bit for bit), without allocating: MAC/s from each stage's predicted non-zero
/// taps, the coefficients their sum, the grain as in price_cascade. What a search that
/// prices candidates by design method calls per candidate; nonzero_taps_factor_floor()
/// (core/design_targets.h) bounds it from below for pruning.
Refusal price_designed_cascade(double input_rate_hz, const Stage* stages, std::size_t count,
                               const FilterSpec& filter, DesignMethod method, Price* price,
                               DesignMemo* memo = nullptr);

/// Whether two prices count as equal: their MAC/s differ by at most macs_tie_tolerance of
/// the larger plus twice the larger grain. Kaiser's length, D x rate / transition + 1
/// rounded up, is one to two taps longer than its continuous part, which is the same for
/// cascades through the same intermediate rate; spread over L phases that is one to two
/// taps per phase, so a cascade with more phases can look cheaper by up to two grains of
/// the other without being any better. A smaller difference says nothing about which
/// filters are cheaper, and the one with fewer coefficients is preferred.
bool macs_tied(const Price& a, const Price& b);

}  // namespace quillmere::inline v2::cost_model
