// The filter cost model: Kaiser's design formulas, the edges a cascade is designed for,
// each filtered stage's figures, and the walk through a cascade that the pricing and the
// refusal texts share, so that every figure is computed one way.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "quillmere/quillmere.h"

namespace quillmere::inline v2::cost_model {

/// Largest tap count the model gives (2^53, exact in double); a longer filter is refused.
inline constexpr double max_taps = 9007199254740992.0;

/// Why a cascade cannot be priced.
enum class Refusal {
    none,
    input_rate,        ///< the input rate is not a finite number from min_rate_hz to max_rate_hz
    stages,            ///< no stage, or a factor below 1, or a rate that is not representable
    attenuation,       ///< the attenuation is not a positive finite number of dB
    ripple,            ///< the ripple is not a positive finite number of dB
    ripple_too_small,  ///< a stage's share of the ripple allows no deviation at all
    ripple_too_large,  ///< a stage's share of the ripple has no finite deviation ratio
    passband,          ///< the passband edge is not positive and finite
    stopband,  ///< the stopband edge is not positive and finite, or above half the lower rate
    /// the passband edge is above the stopband edge, or at it where that is half the lower
    /// rate (no stage would have a transition band)
    passband_not_below_stopband,
    stage_rate,                   ///< a stage's rate is too low to carry the passband
    length,  ///< a filter would exceed max_taps (the attenuation asks for an infinite one)
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
    /// Every field below was filled: the requirements hold for the cascade's rates.
    bool resolved = false;
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

/// The designs a search resolved last. A search prices its cascades against one set of
/// requirements, so a design depends only on the input and output rate and the count of
/// filtered stages, and the millions of cascades of a search, whose output rates are a
/// handful of doubles around the exact one, need it resolved a handful of times. Keep one
/// per search (per FilterSpec).
struct DesignMemo {
    struct Entry {
        double input_rate_hz = 0.0;
        double output_rate_hz = 0.0;
        int filtered_stages = -1;  ///< -1: nothing resolved yet
        Refusal refusal = Refusal::none;
        Design design{};
    };
    static constexpr int size = 8;
    Entry entries[size]{};
    int next = 0;  ///< the entry replaced next
};

/// The memo's entry for these rates and count, resolved now if it holds none.
inline const DesignMemo::Entry& remembered_design(double input_rate_hz, double output_rate_hz,
                                                  int filtered_stages, const FilterSpec& filter,
                                                  DesignMemo* memo) {
    for (const DesignMemo::Entry& e : memo->entries) {
        if (e.output_rate_hz == output_rate_hz && e.filtered_stages == filtered_stages &&
            e.input_rate_hz == input_rate_hz) {
            return e;
        }
    }
    DesignMemo::Entry& e = memo->entries[memo->next];
    memo->next = (memo->next + 1) % DesignMemo::size;
    e.design = Design{};
    e.refusal = resolve_design(input_rate_hz, output_rate_hz, filtered_stages, filter, &e.design);
    e.input_rate_hz = input_rate_hz;
    e.output_rate_hz = output_rate_hz;
    e.filtered_stages = filtered_stages;
    return e;
}

/// resolve_design(), taken from the memo when it holds the same rates and count.
inline Refusal resolve_remembered(double input_rate_hz, double output_rate_hz, int filtered_stages,
                                  const FilterSpec& filter, Design* design, DesignMemo* memo) {
    if (memo == nullptr) {
        return resolve_design(input_rate_hz, output_rate_hz, filtered_stages, filter, design);
    }
    const DesignMemo::Entry& e =
        remembered_design(input_rate_hz, output_rate_hz, filtered_stages, filter, memo);
    *design = e.design;
    return e.refusal;
}

/// The rate after each stage as the solvers compute it: input x (the product of the stage
/// ratios so far), each ratio L/M in double, multiplied in stage order. NaN when a rate
/// is not a positive finite number.
double rate_after(double input_rate_hz, const Stage* stages, std::size_t count);

/// Where a walk through the cascade stopped, and why.
struct WalkEnd {
    Refusal refusal = Refusal::none;
    std::size_t stage = 0;  ///< the stage refused (stage_rate, length, stages)
};

namespace detail {

inline bool positive_finite(double x) {
    return std::isfinite(x) && x > 0.0;
}

/// A rate the solvers accept: finite, min_rate_hz to max_rate_hz.
inline bool accepted_rate(double x) {
    return std::isfinite(x) && x >= min_rate_hz && x <= max_rate_hz;
}

/// Counts the stages that need a filter (L or M other than 1); false when a factor is
/// below 1, with the stage in bad_stage.
bool count_filtered(const Stage* stages, std::size_t count, int* filtered, std::size_t* bad_stage);

}  // namespace detail

/// Walks the cascade stage by stage, calling visit(index, input rate, output rate,
/// figures or null for a pass-through stage) for each, once everything before it checked;
/// with a memo, the design is resolved through it.
/// The pricing of the min-cost search, estimate_cost and the refusal texts all walk
/// through here, so their figures agree bit for bit.
template <typename Visit>
WalkEnd walk_cascade(double input_rate_hz, const Stage* stages, std::size_t count,
                     const FilterSpec& filter, Design* design, Visit&& visit,
                     DesignMemo* memo = nullptr) {
    if (!detail::accepted_rate(input_rate_hz)) return {Refusal::input_rate, 0};
    if (count == 0) return {Refusal::stages, 0};
    int filtered = 0;
    std::size_t bad = 0;
    if (!detail::count_filtered(stages, count, &filtered, &bad)) return {Refusal::stages, bad};
    const double output_rate_hz = rate_after(input_rate_hz, stages, count);
    if (!detail::positive_finite(output_rate_hz)) return {Refusal::stages, count - 1};

    const Refusal refusal =
        resolve_remembered(input_rate_hz, output_rate_hz, filtered, filter, design, memo);
    if (refusal != Refusal::none) return {refusal, 0};

    double stage_input = input_rate_hz;
    double ratio = 1.0;
    for (std::size_t i = 0; i < count; ++i) {
        const Stage& s = stages[i];
        ratio *= static_cast<double>(s.l) / static_cast<double>(s.m);
        const double stage_output = i + 1 == count ? output_rate_hz : input_rate_hz * ratio;
        if (!detail::positive_finite(stage_output)) return {Refusal::stages, i};
        if (s.l == 1 && s.m == 1) {
            visit(i, stage_input, stage_output, static_cast<const StageFigures*>(nullptr));
        } else {
            StageFigures figures;
            const Refusal r = stage_figures(*design, stage_input, stage_output, s.l, &figures);
            if (r != Refusal::none) return {r, i};
            visit(i, stage_input, stage_output, &figures);
        }
        stage_input = stage_output;
    }
    return {};
}

}  // namespace quillmere::inline v2::cost_model
