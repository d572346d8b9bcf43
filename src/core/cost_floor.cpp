#include "core/cost_floor.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/filter_model.h"

namespace quillmere::inline v2::core {

namespace {

constexpr double INF = std::numeric_limits<double>::infinity();
/// Relative slack for the rounding of the rates and edges the price is computed from.
constexpr double SLACK = 1e-9;

/// Kaiser's length factor, made non-decreasing: it steps down from 0.9222 to 0.9088 at
/// 21 dB, so below that its value at 21 dB bounds it from below.
double length_factor_floor(double attenuation_db) {
    return std::max((21.0 - 7.95) / 14.36, (attenuation_db - 7.95) / 14.36);
}

}  // namespace

CostFloor::CostFloor(double input_rate_hz, double output_rate_hz, const FilterSpec& filter,
                     double lowest_hz, double highest_hz) {
    cost_model::Design design;
    if (cost_model::resolve_design(input_rate_hz, output_rate_hz, 2, filter, &design) !=
        cost_model::Refusal::none) {
        return;
    }
    usable_ = true;
    input_ = input_rate_hz;
    output_ = output_rate_hz;
    passband_ = design.passband_hz;
    // Lowered by the relative slack and by a few roundings of the rates the transitions
    // are taken from.
    edges_ = (design.passband_hz + design.stopband_hz) * (1.0 - SLACK) -
             1e-15 * std::max(input_rate_hz, output_rate_hz);
    attenuation_ = design.deviation_attenuation_db;
    lowest_ = std::max(lowest_hz, edges_);
    highest_ = highest_hz;
}

double CostFloor::floor_with(double f1, double d1, double d2) const {
    const double t1 = std::min(input_, f1) - edges_;
    const double t2 = std::min(f1, output_) - edges_;
    if (!(t1 > 0.0 && t2 > 0.0)) return INF;
    // taps >= D x L x rate / transition, so taps / L x output rate >= D x input x output /
    // transition for each stage.
    return d1 * input_ * f1 / t1 + d2 * f1 * output_ / t2;
}

double CostFloor::macs_floor(double f1_hz) const {
    const double d = length_factor_floor(attenuation_);
    return floor_with(f1_hz, d, d) * (1.0 - SLACK);
}

RateInterval CostFloor::sublevel(double bound, double lo, double hi, double d1, double d2) const {
    // The floor is convex on (edges, infinity): find its minimum by golden section in
    // log scale, then each end of the sublevel set by bisection.
    const auto f = [&](double x) { return floor_with(x, d1, d2) * (1.0 - SLACK); };
    double a = std::log(lo);
    double b = std::log(hi);
    const double ratio = (std::sqrt(5.0) - 1.0) / 2.0;
    double x1 = b - ratio * (b - a);
    double x2 = a + ratio * (b - a);
    double f1 = f(std::exp(x1));
    double f2 = f(std::exp(x2));
    for (int i = 0; i < 200 && b - a > 1e-13; ++i) {
        if (f1 <= f2) {
            b = x2;
            x2 = x1;
            f2 = f1;
            x1 = b - ratio * (b - a);
            f1 = f(std::exp(x1));
        } else {
            a = x1;
            x1 = x2;
            f1 = f2;
            x2 = a + ratio * (b - a);
            f2 = f(std::exp(x2));
        }
    }
    double best = std::exp((a + b) / 2.0);
    for (const double x : {lo, hi, std::exp(x1), std::exp(x2)}) {
        if (f(x) < f(best)) best = x;
    }
    if (!(f(best) <= bound)) return {};
    RateInterval interval{lo, hi};
    if (!(f(lo) <= bound)) {
        double no = lo;
        double yes = best;
        for (int i = 0; i < 200 && yes - no > yes * 1e-15; ++i) {
            const double mid = no + (yes - no) / 2.0;
            (f(mid) <= bound ? yes : no) = mid;
        }
        interval.lo = no;  // the last rate known to be above the bound, to be safe
    }
    if (!(f(hi) <= bound)) {
        double yes = best;
        double no = hi;
        for (int i = 0; i < 200 && no - yes > yes * 1e-15; ++i) {
            const double mid = yes + (no - yes) / 2.0;
            (f(mid) <= bound ? yes : no) = mid;
        }
        interval.hi = no;
    }
    return interval;
}

RateInterval CostFloor::rates_within(double bound) const {
    if (!usable_ || !(lowest_ < highest_)) return {};
    const double a0 = length_factor_floor(attenuation_);
    RateInterval interval = sublevel(bound, lowest_, highest_, a0, a0);
    // Within the interval each transition is at least its value at the lower end, and the
    // far-edge margin grows with the transition: a tighter floor, a narrower interval.
    for (int round = 0; round < 3 && !interval.empty(); ++round) {
        const double t1 = std::min(input_, interval.lo) - edges_;
        const double t2 = std::min(interval.lo, output_) - edges_;
        if (!(t1 > 0.0 && t2 > 0.0)) break;
        const double d1 = length_factor_floor(
            attenuation_ + cost_model::far_edge_margin_db(t1, passband_) * (1.0 - SLACK));
        const double d2 = length_factor_floor(
            attenuation_ + cost_model::far_edge_margin_db(t2, passband_) * (1.0 - SLACK));
        interval = sublevel(bound, interval.lo, interval.hi, d1, d2);
    }
    return interval;
}

double CostFloor::coefficients_floor(double u1_hz, double u2_hz) const {
    const double t1 = input_ - edges_;
    const double t2 = output_ - edges_;
    if (!(t1 > 0.0 && t2 > 0.0)) return INF;
    const double d = length_factor_floor(attenuation_);
    return (d * u1_hz / t1 + d * u2_hz / t2) * (1.0 - SLACK) + 2.0;
}

}  // namespace quillmere::inline v2::core
