// The requirements of each stage and the length estimates of the design methods.
#include "core/design_targets.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

namespace quillmere::inline v2::cost_model {

namespace {

/// Herrmann, Rabiner and Chan's D(d1, d2) and f(d1, d2) of the equiripple length
/// N = D / dF - f dF + 1; they fitted D with the larger deviation as d1.
struct HerrmannTerms {
    double d = 0.0;
    double f = 0.0;
};

HerrmannTerms herrmann_terms(double deviation_1, double deviation_2) {
    const double l1 = std::log10(std::max(deviation_1, deviation_2));
    const double l2 = std::log10(std::min(deviation_1, deviation_2));
    return {(5.309e-3 * l1 * l1 + 7.114e-2 * l1 - 4.761e-1) * l2 -
                (2.66e-3 * l1 * l1 + 5.941e-1 * l1 + 4.278e-1),
            11.01217 + 0.51244 * (l1 - l2)};
}

using Wide = std::uint64_t;

/// a x b, false when it overflows.
bool multiply(Wide a, Wide b, Wide* product) {
    if (b != 0 && a > std::numeric_limits<Wide>::max() / b) return false;
    *product = a * b;
    return true;
}

}  // namespace

double ripple_deviation(double ripple_db) {
    const double ratio = std::pow(10.0, ripple_db / 20.0);
    return (ratio - 1.0) / (ratio + 1.0);
}

double stopband_deviation(double attenuation_db) {
    return std::pow(10.0, -attenuation_db / 20.0);
}

double coinciding_leaks(const Stage* stages, std::size_t count) {
    // The rates are the input rate times a / b after each stage (a / b in lowest terms);
    // their greatest common divisor is the input rate / lcm(b over the stages), and the
    // output reaches R = a_K x lcm / b_K lines.
    Wide a = 1;
    Wide b = 1;
    Wide lcm_b = 1;
    Wide product_l = 1;
    double product_l_bound = 1.0;
    bool overflow = false;
    for (std::size_t i = 0; i < count; ++i) {
        const auto l = static_cast<Wide>(stages[i].l);
        const auto m = static_cast<Wide>(stages[i].m);
        product_l_bound *= static_cast<double>(l);
        if (overflow) continue;
        const Wide g = std::gcd(l, m);
        const Wide l_reduced = l / g;
        const Wide m_reduced = m / g;
        const Wide ga = std::gcd(a, m_reduced);
        const Wide gb = std::gcd(l_reduced, b);
        Wide next_a = 0;
        Wide next_b = 0;
        overflow = !multiply(a / ga, l_reduced / gb, &next_a) ||
                   !multiply(b / gb, m_reduced / ga, &next_b) ||
                   !multiply(product_l, l, &product_l);
        if (overflow) continue;
        a = next_a;
        b = next_b;
        overflow = !multiply(lcm_b / std::gcd(lcm_b, b), b, &lcm_b);
    }
    Wide reached = 0;
    if (overflow || !multiply(a, lcm_b / b, &reached)) return 2.0 * product_l_bound;
    const double paths = static_cast<double>(product_l) / static_cast<double>(reached);
    const bool both_signs = lcm_b > 1 && reached >= 4;
    return both_signs ? 2.0 * paths : paths;
}

double leak_allowance_db(double coinciding_leaks, int filtered_stages, double stage_ripple_db) {
    const double passband_top = 1.0 + ripple_deviation(stage_ripple_db);
    return 20.0 * std::log10(coinciding_leaks) +
           std::max(0, filtered_stages - 1) * 20.0 * std::log10(passband_top);
}

bool stage_target(const Design& design, double input_rate_hz, double output_rate_hz,
                  std::int64_t l, std::int64_t m, double leak_allowance_db, StageTarget* target) {
    StageTarget t;
    t.input_rate_hz = input_rate_hz;
    t.output_rate_hz = output_rate_hz;
    t.l = l;
    t.m = m;
    t.upsampled_rate_hz = static_cast<double>(l) * input_rate_hz;
    t.passband_hz = design.passband_hz;
    t.stopband_hz = std::min(input_rate_hz, output_rate_hz) - design.stopband_hz;
    if (!(t.stopband_hz - t.passband_hz > 0.0)) return false;
    t.ripple_db = design.stage_ripple_db;
    t.attenuation_db = design.attenuation_db + leak_allowance_db;
    t.passband_deviation = ripple_deviation(t.ripple_db);
    t.stopband_deviation = stopband_deviation(t.attenuation_db);
    t.kaiser_attenuation_db = kaiser_figures(t, t.passband_hz, t.stopband_hz).design_attenuation_db;
    t.halfband_possible = halfband_edges(t, &t.halfband_passband_hz, &t.halfband_stopband_hz);
    *target = t;
    return true;
}

bool halfband_edges(const StageTarget& target, double* passband_hz, double* stopband_hz) {
    const bool by_two = (target.l == 2 && target.m == 1) || (target.l == 1 && target.m == 2);
    const double half = target.upsampled_rate_hz / 2.0;
    const double quarter = half / 2.0;
    if (!by_two || !(target.passband_hz < quarter && quarter < target.stopband_hz)) return false;
    *passband_hz = std::max(target.passband_hz, half - target.stopband_hz);
    *stopband_hz = half - *passband_hz;
    return true;
}

double herrmann_taps(double deviation_1, double deviation_2, double transition_cycles) {
    const HerrmannTerms t = herrmann_terms(deviation_1, deviation_2);
    return std::ceil(std::max(1.0, t.d / transition_cycles - t.f * transition_cycles + 1.0));
}

KaiserFigures kaiser_figures(const StageTarget& target, double passband_hz, double stopband_hz,
                             double extra_attenuation_db) {
    // The cost model's design attenuation (see stage_figures there) for these edges.
    const double deviation =
        design_attenuation_db(target.attenuation_db, target.ripple_db);
    const double deviation_attenuation =
        deviation + high_attenuation_margin_db(deviation);
    const double transition = stopband_hz - passband_hz;
    KaiserFigures figures;
    figures.design_attenuation_db = deviation_attenuation +
                                    far_edge_margin_db(transition, passband_hz) +
                                    extra_attenuation_db;
    figures.beta = kaiser_beta(figures.design_attenuation_db);
    figures.taps =
        kaiser_taps(kaiser_length_factor(figures.design_attenuation_db),
                                target.upsampled_rate_hz, transition);
    if (!(figures.taps <= max_taps))
        figures.taps = std::numeric_limits<double>::infinity();
    return figures;
}

double halfband_length(double taps) {
    return 4.0 * std::max(0.0, std::ceil((taps - 3.0) / 4.0)) + 3.0;
}

std::int64_t halfband_nonzero_taps(std::int64_t taps) {
    return (taps + 3) / 2;
}

namespace {

/// The predicted length of one structure (ordinary or halfband) by one method.
StagePrediction predicted(const StageTarget& target, StageFilter method, bool halfband) {
    StagePrediction p;
    p.method = method;
    p.halfband = halfband;
    const double pass = halfband ? target.halfband_passband_hz : target.passband_hz;
    const double stop = halfband ? target.halfband_stopband_hz : target.stopband_hz;
    if (method == StageFilter::kaiser) {
        p.taps = kaiser_figures(target, pass, stop).taps;
    } else {
        const double transition = (stop - pass) / target.upsampled_rate_hz;
        // A halfband has one deviation in both bands: the tighter.
        const double deviation = std::min(target.passband_deviation, target.stopband_deviation);
        p.taps = halfband ? herrmann_taps(deviation, deviation, transition)
                          : herrmann_taps(target.passband_deviation, target.stopband_deviation,
                                          transition);
    }
    if (halfband && std::isfinite(p.taps)) p.taps = halfband_length(p.taps);
    p.nonzero_taps =
        halfband && std::isfinite(p.taps)
            ? static_cast<double>(halfband_nonzero_taps(static_cast<std::int64_t>(p.taps)))
            : p.taps;
    return p;
}

/// The ordinary design or the halfband, whichever has fewer non-zero taps.
StagePrediction cheaper(const StageTarget& target, StageFilter method) {
    const StagePrediction ordinary = predicted(target, method, false);
    if (!target.halfband_possible) return ordinary;
    const StagePrediction halfband = predicted(target, method, true);
    return halfband.nonzero_taps < ordinary.nonzero_taps ? halfband : ordinary;
}

}  // namespace

StagePrediction predict_stage(const StageTarget& target, DesignMethod method) {
    switch (method) {
    case DesignMethod::kaiser: return cheaper(target, StageFilter::kaiser);
    case DesignMethod::equiripple: return cheaper(target, StageFilter::equiripple);
    case DesignMethod::automatic: break;
    }
    const auto within = [](const StagePrediction& p) {
        return p.taps <= static_cast<double>(max_exchange_taps);
    };
    const StagePrediction ordinary = predicted(target, StageFilter::equiripple, false);
    StagePrediction best = ordinary;
    if (target.halfband_possible) {
        const StagePrediction halfband = predicted(target, StageFilter::equiripple, true);
        if (within(halfband) &&
            (!within(ordinary) || halfband.nonzero_taps < ordinary.nonzero_taps)) {
            best = halfband;
        }
    }
    return within(best) ? best : cheaper(target, StageFilter::kaiser);
}

namespace {

/// Kaiser's length factor at an attenuation, made non-decreasing: it steps down from 0.9222
/// to 0.9088 at 21 dB, so below that its value at 21 dB bounds it from below.
double kaiser_factor_floor(double attenuation_db) {
    return std::max((21.0 - 7.95) / 14.36, (attenuation_db - 7.95) / 14.36);
}

/// Herrmann's D(d1, d2) + min(0, x - f(d1, d2) x^2), not below 0 (see herrmann_taps).
double herrmann_factor_floor(double deviation_1, double deviation_2, double max_transition) {
    const HerrmannTerms t = herrmann_terms(deviation_1, deviation_2);
    const double x = max_transition;
    return std::max(0.0, t.d + std::min(0.0, x - t.f * x * x));
}

}  // namespace

double nonzero_taps_factor_floor(double passband_deviation, double stopband_deviation,
                                 DesignMethod method, bool halfband_possible,
                                 double max_transition_cycles, double kaiser_margin_db) {
    const double x = std::min(max_transition_cycles, 0.5);
    // Kaiser: the tighter deviation as an attenuation with the margin above 100 dB; the
    // ordinary design adds at least the given far-edge margin, the halfband none.
    const double tighter = std::min(passband_deviation, stopband_deviation);
    const double attenuation = -20.0 * std::log10(tighter);
    const double deviation_attenuation = attenuation + high_attenuation_margin_db(attenuation);
    const double kaiser = kaiser_factor_floor(deviation_attenuation);
    const double kaiser_ordinary =
        kaiser_factor_floor(deviation_attenuation + std::max(0.0, kaiser_margin_db));
    const double equiripple =
        std::min(herrmann_factor_floor(passband_deviation, stopband_deviation, x),
                 halfband_possible ? herrmann_factor_floor(tighter, tighter, x) / 2.0
                                   : std::numeric_limits<double>::infinity());
    const double kaiser_form = halfband_possible ? kaiser / 2.0 : kaiser_ordinary;
    switch (method) {
    case DesignMethod::kaiser: return kaiser_form;
    case DesignMethod::equiripple: return equiripple;
    case DesignMethod::automatic: break;
    }
    // Herrmann's length falls as the transition widens (f > 0 for any deviations below
    // 1), so its value at x bounds every length at a narrower one; a halfband's is longer
    // still once made a halfband length.
    const auto beyond_exchange = [&](double d1, double d2) {
        return herrmann_terms(d1, d2).f > 0.0 &&
               herrmann_taps(d1, d2, x) > static_cast<double>(max_exchange_taps);
    };
    if (x > 0.0 && beyond_exchange(passband_deviation, stopband_deviation) &&
        (!halfband_possible || beyond_exchange(tighter, tighter))) {
        return kaiser_form;
    }
    return std::min(kaiser_form, equiripple);
}

double cascade_factor_floor(const Design& design, DesignMethod method, bool halfband_possible,
                            double max_transition_cycles, double least_leaks,
                            double kaiser_margin_db) {
    const double least_allowance = leak_allowance_db(
        std::max(1.0, least_leaks), design.filtered_stages, design.stage_ripple_db);
    return nonzero_taps_factor_floor(ripple_deviation(design.stage_ripple_db),
                                     stopband_deviation(design.attenuation_db + least_allowance),
                                     method, halfband_possible, max_transition_cycles,
                                     kaiser_margin_db);
}

double designed_taps_factor_ceiling(const Design& design, double most_leaks) {
    const double allowance = leak_allowance_db(std::max(1.0, most_leaks),
                                               design.filtered_stages, design.stage_ripple_db);
    const double attenuation = design.attenuation_db + allowance;
    const double deviation = design_attenuation_db(attenuation, design.stage_ripple_db);
    // The far-edge margin adds at most 20 log10(4/3) dB; Kaiser's factor rises with the
    // attenuation (0.9222 below 21 dB lies above its value at 21 dB).
    const double kaiser = std::max(
        0.9222, kaiser_length_factor(deviation + high_attenuation_margin_db(deviation) + 2.5));
    const double passband = ripple_deviation(design.stage_ripple_db);
    const double stopband = stopband_deviation(attenuation);
    const double tighter = std::min(passband, stopband);
    // D / dF - f dF + 1 with f > 0 is at most D / dF + 1, and D grows as the deviations
    // shrink.
    const double herrmann =
        std::max(herrmann_terms(passband, stopband).d, herrmann_terms(tighter, tighter).d);
    return 2.0 * std::max({kaiser, herrmann, 0.0});
}

PredictionFloor prediction_floor(const Design& design, double leak_allowance_db,
                                 DesignMethod method) {
    // The deviations as stage_target() works them out for this allowance.
    const double ripple = design.stage_ripple_db;
    const double passband_deviation = ripple_deviation(ripple);
    const double stop_deviation = stopband_deviation(design.attenuation_db + leak_allowance_db);
    const double tighter = std::min(passband_deviation, stop_deviation);
    const double deviation = design_attenuation_db(design.attenuation_db + leak_allowance_db, ripple);
    PredictionFloor f;
    f.method = method;
    f.passband_hz = design.passband_hz;
    f.deviation_attenuation_db =
        (deviation + high_attenuation_margin_db(deviation)) * (1.0 - 1e-12);
    const HerrmannTerms ordinary = herrmann_terms(passband_deviation, stop_deviation);
    const HerrmannTerms halfband = herrmann_terms(tighter, tighter);
    f.herrmann_d = ordinary.d;
    f.herrmann_f = ordinary.f;
    f.halfband_d = halfband.d;
    f.halfband_f = halfband.f;
    return f;
}

double kaiser_factor_floor(const PredictionFloor& floor, double transition_hz) {
    // The far-edge margin grows with the transition.
    const double margin = far_edge_margin_db(transition_hz, floor.passband_hz);
    return kaiser_factor_floor(floor.deviation_attenuation_db + std::max(0.0, margin));
}

namespace {

/// Non-zero taps of the halfband whose length is at least `taps`.
double halfband_nonzero_floor(double taps) {
    return (halfband_length(taps) + 3.0) / 2.0;
}

/// Herrmann's length before rounding up (see herrmann_taps), at least 1, for a transition
/// of 1 / cycles_inverse cycles per sample.
double herrmann_length(double d, double f, double cycles_inverse) {
    return std::max(1.0, d * cycles_inverse - f / cycles_inverse + 1.0);
}

}  // namespace

double stage_nonzero_taps_floor(const PredictionFloor& floor, double kaiser_factor, bool by_two,
                                double rate_over_transition) {
    // Each length falls as the transition widens; a part in 10^12 below for the roundings
    // of the arithmetic before rounding up.
    const auto up = [](double length) { return std::ceil(length * (1.0 - 1e-12)); };
    const double r = rate_over_transition;
    const double kaiser = up(kaiser_factor * r + 1.0);
    double least = kaiser;
    if (by_two) {
        // The halfband's own far-edge margin may be smaller: none counted.
        const double d = kaiser_factor_floor(floor.deviation_attenuation_db);
        least = std::min(least, halfband_nonzero_floor(up(d * r + 1.0)));
    }
    if (floor.method == DesignMethod::kaiser) return least;
    const double ordinary = up(herrmann_length(floor.herrmann_d, floor.herrmann_f, r));
    const double halfband =
        by_two ? halfband_length(up(herrmann_length(floor.halfband_d, floor.halfband_f, r)))
               : std::numeric_limits<double>::infinity();
    const double exchange = static_cast<double>(max_exchange_taps);
    double equiripple = std::numeric_limits<double>::infinity();
    if (floor.method == DesignMethod::equiripple || ordinary <= exchange) equiripple = ordinary;
    if (floor.method == DesignMethod::equiripple || halfband <= exchange) {
        equiripple = std::min(equiripple, (halfband + 3.0) / 2.0);
    }
    return floor.method == DesignMethod::equiripple ? equiripple : std::min(least, equiripple);
}

double least_nonzero_taps(const PredictionFloor& floor) {
    // A stage's transition is below half its upsampled rate (L = 1 decimates by at least
    // 2; L >= 2 upsamples by L over a transition below the input rate); Kaiser's length
    // is then above 2 D + 1, and its halfband has more than D + 2 non-zero taps.
    const double d = kaiser_factor_floor(floor.deviation_attenuation_db);
    const double kaiser = std::min(2.0 * d + 1.0, d + 2.0);
    if (floor.method == DesignMethod::kaiser) return std::max(1.0, kaiser);
    const double ordinary = herrmann_length(floor.herrmann_d, floor.herrmann_f, 2.0);
    const double halfband =
        halfband_nonzero_floor(herrmann_length(floor.halfband_d, floor.halfband_f, 2.0));
    const double equiripple = std::min(ordinary, halfband);
    return std::max(1.0, floor.method == DesignMethod::equiripple ? equiripple
                                                                   : std::min(kaiser, equiripple));
}

}  // namespace quillmere::inline v2::cost_model
