#include "core/cost_floor.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

#include "core/design_targets.h"
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

/// Whether a stage between rates a and b is by 2 (up or down), within the roundings of
/// the rates.
bool by_two(double a, double b) {
    const double ratio = a > b ? a / b : b / a;
    return std::fabs(ratio - 2.0) <= 1e-9;
}

}  // namespace

double least_split_leaks(std::int64_t l, std::int64_t m) {
    const std::int64_t g = std::gcd(l, m);
    if (g <= 0) return 1.0;
    const Stage single{l / g, m / g};
    return cost_model::coinciding_leaks(&single, 1);
}

CostFloor::CostFloor(double input_rate_hz, double output_rate_hz, const FilterSpec& filter,
                     double lowest_hz, double highest_hz, double least_leaks) {
    cost_model::Design& design = design_;
    if (cost_model::resolve_design(input_rate_hz, output_rate_hz, 2, filter, &design) !=
        cost_model::Refusal::none) {
        return;
    }
    least_leaks_ = std::max(1.0, least_leaks);
    input_ = input_rate_hz;
    output_ = output_rate_hz;
    passband_ = design.passband_hz;
    stopband_ = design.stopband_hz;
    // Lowered by the relative slack and by a few roundings of the rates the transitions
    // are taken from.
    edges_ = (design.passband_hz + design.stopband_hz) * (1.0 - SLACK) -
             1e-15 * std::max(input_rate_hz, output_rate_hz);
    attenuation_ = design.deviation_attenuation_db;
    lowest_ = std::max(lowest_hz, edges_);
    highest_ = highest_hz;
    // The floor is convex in the intermediate rate only with positive edges.
    usable_ = edges_ > 0.0;
    method_ = filter.design_method;
}

double CostFloor::factor_at(int power, bool halfband, double max_transition_cycles,
                            double least_transition_hz) const {
    const double margin =
        least_transition_hz > 0.0
            ? cost_model::far_edge_margin_db(least_transition_hz, passband_) * (1.0 - SLACK)
            : 0.0;
    return cost_model::cascade_factor_floor(design_, *method_, halfband, max_transition_cycles,
                                            std::ldexp(least_leaks_, power), margin);
}

double CostFloor::remembered_factor(int power, bool halfband, double max_transition_cycles) const {
    // 2^(exponent - 1) <= x < 2^exponent, rounded up to 32 steps within the octave; below
    // 2^-60 the bound 2^-60 serves.
    const double x = std::clamp(max_transition_cycles, std::ldexp(1.0, -60), 0.5);
    int exponent = 0;
    const double mantissa = std::frexp(x, &exponent);
    const double step = std::ceil(mantissa * 64.0);  // 32 .. 64
    const double bound = std::ldexp(step / 64.0, exponent);
    const std::uint64_t key = (static_cast<std::uint64_t>(power) << 20) |
                              (static_cast<std::uint64_t>(halfband ? 1 : 0) << 19) |
                              (static_cast<std::uint64_t>(exponent + 64) << 7) |
                              static_cast<std::uint64_t>(step);  // never 0: step >= 32
    RememberedFactor& slot = remembered_[(key ^ (key >> 7) ^ (key >> 20)) % REMEMBERED];
    if (slot.key != key) slot = RememberedFactor{key, factor_at(power, halfband, bound)};
    return slot.factor;
}

double CostFloor::factor_ceiling(int power) const {
    double& known = factor_ceilings_[std::clamp(power, 0, LEAK_POWERS - 1)];
    if (known > 0.0) return known;
    // Each form's factor is highest for the narrowest transition (an equiripple one falls
    // as it widens) and without a halfband; the automatic method takes one of the two.
    const double leaks = std::ldexp(least_leaks_, power);
    const auto form = [&](DesignMethod m) {
        return cost_model::cascade_factor_floor(design_, m, false, 0.0, leaks);
    };
    known = *method_ == DesignMethod::automatic
                ? std::max(form(DesignMethod::kaiser), form(DesignMethod::equiripple))
                : form(*method_);
    return known;
}

bool CostFloor::coefficients_may_be_within(double u1_hz, double u2_hz, const SplitFactors& split,
                                           double coefficients) const {
    const double t1 = input_ - edges_;
    const double t2 = output_ - edges_;
    if (method_ && t1 > 0.0 && t2 > 0.0 &&
        factor_ceiling(split.leak_power) * (u1_hz / t1 + u2_hz / t2) * (1.0 - SLACK) <=
            coefficients) {
        return true;
    }
    return coefficients_floor(u1_hz, u2_hz, split) <= coefficients;
}

double CostFloor::least_transition(double f1, double rate) const {
    // The price subtracts the edges from the lower rate with a rounding or two, and its
    // rates may lie a few roundings from these: the edges raised by the relative slack
    // and a few units in the last place of the rates cover both.
    const double edges = (passband_ + stopband_) * (1.0 + SLACK) + 4e-15 * std::max(f1, rate);
    return std::max(0.0, std::min(f1, rate) - edges);
}

double CostFloor::transition_bound(double f1, double rate, double multiple) const {
    // A stage's upsampled rate is at least the higher of its rates, and for the first stage
    // L1 x input, for the second M2 x output; its transition is at most the lower rate
    // less the edges (lowered a hair, so this bound errs high).
    const double upsampled = std::max(std::max(f1, rate), multiple * rate);
    return std::clamp((std::min(f1, rate) - edges_) / upsampled, 0.0, 0.5);
}

SplitFactors CostFloor::split_of(long long g, long long a1, long long b2) const {
    if (!method_) return {};
    int exponent = 0;
    std::frexp(static_cast<double>(std::max(1LL, g)), &exponent);  // 2^(exponent - 1) <= g
    // A split of g a1 / h b1 -> h a2 / g b2 has at least g times the leaks of the single
    // stage: M1 M2 / lcm(the denominators of its rates) paths, and that lcm divides
    // h b1 x b2.
    const long long gd = std::max(1LL, g);
    return SplitFactors{std::min(exponent - 1, LEAK_POWERS - 1), std::max(1LL, a1),
                        std::max(1LL, b2), a1 <= 2 / gd, b2 <= 2 / gd};
}

SplitFactors CostFloor::with_leaks(const SplitFactors& split, double leaks) const {
    SplitFactors own = split;
    if (!method_ || !(leaks >= 2.0 * least_leaks_)) return own;
    // 2^power <= leaks / least_leaks (a power of two less than it where the quotient
    // rounds up to one).
    int power = std::ilogb(leaks / least_leaks_);
    if (std::ldexp(least_leaks_, power) > leaks) --power;
    own.extra_leak_power = std::max(0, std::min(power, LEAK_POWERS - 1) - split.leak_power);
    return own;
}

bool CostFloor::halfband_possible(double a, double b) const {
    if (!by_two(a, b)) return false;
    // A stage by 2 between rates r and 2r is a halfband only when a quarter of its
    // upsampled rate, r / 2, lies above the passband edge and below its stopband, r - the
    // cascade's stopband edge. The first stage's rates are the input's, exactly doubled or
    // halved, and the test is the cost model's; the second's are allowed a hair of
    // rounding.
    if (a == input_) {
        const double lower = b > a ? a : a / 2.0;
        return passband_ < lower / 2.0 && lower / 2.0 < lower - stopband_;
    }
    const double half_lower = std::min(a, b) / 2.0 * (1.0 + SLACK);
    return passband_ < half_lower && stopband_ < half_lower;
}

double CostFloor::designed_floor(double f1, const SplitFactors& split) const {
    const int power = split.leaks_power();
    const double d1 = factor_at(power, split.first_halfband && halfband_possible(input_, f1),
                                transition_bound(f1, input_, split.first_l()),
                                least_transition(f1, input_));
    const double d2 = factor_at(power, split.second_halfband && halfband_possible(f1, output_),
                                transition_bound(f1, output_, split.second_m()),
                                least_transition(f1, output_));
    return floor_with(f1, d1, d2) * (1.0 - SLACK);
}

RateInterval CostFloor::designed_rates_within(double bound, const SplitFactors& split) const {
    const int power = split.leaks_power();
    // Away from the rates by 2 the floor is the convex one of a single factor; each of
    // those rates (a stage by 2 may be a halfband) joins the interval when its own floor
    // allows, so the interval is their hull.
    const double widest = factor_at(power, false, 0.5);
    RateInterval interval = sublevel(bound, lowest_, highest_, widest, widest);
    // Those factors hold for any transition up to half the upsampled rate; an equiripple
    // length (Herrmann's) has a term that falls as the transition widens, and a Kaiser
    // design's far-edge margin grows with it. Within the interval each stage's transition
    // is at most its bound at the rate nearest that stage's other rate, and at least its
    // value at the interval's lower end: a tighter floor, a narrower interval, while it
    // narrows.
    for (int round = 0; round < 8 && !interval.empty(); ++round) {
        const RateInterval before = interval;
        const double x1 =
            transition_bound(std::clamp(input_, interval.lo, interval.hi), input_, split.first_l());
        const double x2 =
            transition_bound(std::clamp(output_, interval.lo, interval.hi), output_,
                             split.second_m());
        interval = sublevel(bound, interval.lo, interval.hi,
                            factor_at(power, false, x1, least_transition(interval.lo, input_)),
                            factor_at(power, false, x2, least_transition(interval.lo, output_)));
        if (interval.empty() || (interval.lo - before.lo) + (before.hi - interval.hi) <=
                                    1e-6 * (before.hi - before.lo)) {
            break;
        }
    }
    for (const double rate : {2.0 * input_, input_ / 2.0, 2.0 * output_, output_ / 2.0}) {
        if (!(rate >= lowest_ && rate <= highest_) || !(designed_floor(rate, split) <= bound)) {
            continue;
        }
        const double lo = rate * (1.0 - 1e-9);
        const double hi = rate * (1.0 + 1e-9);
        if (interval.empty()) {
            interval = {lo, hi};
        } else {
            interval.lo = std::min(interval.lo, lo);
            interval.hi = std::max(interval.hi, hi);
        }
    }
    return interval;
}

double CostFloor::floor_with(double f1, double d1, double d2) const {
    const double t1 = std::min(input_, f1) - edges_;
    const double t2 = std::min(f1, output_) - edges_;
    if (!(t1 > 0.0 && t2 > 0.0)) return INF;
    // taps >= D x L x rate / transition, so taps / L x output rate >= D x input x output /
    // transition for each stage.
    return d1 * input_ * f1 / t1 + d2 * f1 * output_ / t2;
}

double CostFloor::macs_floor(double f1_hz, const SplitFactors& split) const {
    if (method_) return designed_floor(f1_hz, split);
    const double d = length_factor_floor(attenuation_);
    return floor_with(f1_hz, d, d) * (1.0 - SLACK);
}

double CostFloor::lowest_point(double lo, double hi, double d1, double d2) const {
    // (d1 x input x f1 / t1 + d2 x f1 x output / t2) with t1 = min(input, f1) - edges and
    // t2 = min(f1, output) - edges falls up to the lower of the two rates (both transitions
    // grow with f1 there) and grows beyond the higher (both are fixed). Between them one
    // term is C x f1 (its transition fixed) and the other B x f1 / (f1 - edges) = B + B x
    // edges / (f1 - edges), whose sum is least where C = B x edges / (f1 - edges)^2.
    const double lower = std::min(input_, output_);
    const double higher = std::max(input_, output_);
    const double c = input_ <= output_ ? d1 * input_ / (input_ - edges_)
                                       : d2 * output_ / (output_ - edges_);
    const double b = input_ <= output_ ? d2 * output_ : d1 * input_;
    const double x = edges_ + std::sqrt(b * edges_ / c);
    const double within = std::isfinite(x) ? std::clamp(x, lower, higher) : lower;
    return std::clamp(within, lo, hi);
}

double CostFloor::root_guess(double bound, double d1, double d2, bool rising) const {
    // The floor is at most piecewise a x f1 / (f1 - edges), C x f1 + B x f1 / (f1 - edges)
    // or D x f1 (see lowest_point); solved for the bound on the piece of the side asked.
    const double level = bound / (1.0 - SLACK);
    const double lower = std::min(input_, output_);
    const double higher = std::max(input_, output_);
    const double e = edges_;
    if (rising) {
        if (floor_with(higher, d1, d2) <= level) {
            return level / (d1 * input_ / (input_ - e) + d2 * output_ / (output_ - e));
        }
    } else if (floor_with(lower, d1, d2) <= level) {
        const double a = d1 * input_ + d2 * output_;
        return level * e / (level - a);
    }
    const double c = input_ <= output_ ? d1 * input_ / (input_ - e) : d2 * output_ / (output_ - e);
    const double b = input_ <= output_ ? d2 * output_ : d1 * input_;
    // c x^2 + (b - c e - level) x + level e = 0
    const double p = b - c * e - level;
    const double root = std::sqrt(std::max(0.0, p * p - 4.0 * c * level * e));
    return rising ? (-p + root) / (2.0 * c) : (-p - root) / (2.0 * c);
}

RateInterval CostFloor::sublevel(double bound, double lo, double hi, double d1, double d2) const {
    const auto f = [&](double x) { return floor_with(x, d1, d2) * (1.0 - SLACK); };
    const double best = lowest_point(lo, hi, d1, d2);
    if (!(f(best) <= bound)) return {};
    // The floor is convex: with f(best) within the bound, a rate on either side of best
    // whose floor exceeds the bound has every rate beyond it exceed the bound too. Each
    // end is such a rate found just outside the solved end, checked; a bisection between
    // the range's end and best when the solution misses.
    const auto outside = [&](bool rising, double limit) {
        const double root = root_guess(bound, d1, d2, rising);
        double margin = 1e-12;
        for (int i = 0; i < 8 && std::isfinite(root); ++i, margin *= 64.0) {
            const double x = rising ? root * (1.0 + margin) : root * (1.0 - margin);
            if (rising ? !(x > best && x < limit) : !(x < best && x > limit)) break;
            if (!(f(x) <= bound)) return x;
        }
        double yes = best;
        double no = limit;
        for (int i = 0; i < 200 && std::fabs(no - yes) > yes * 1e-15; ++i) {
            const double mid = yes + (no - yes) / 2.0;
            (f(mid) <= bound ? yes : no) = mid;
        }
        return no;  // the last rate known to be above the bound, to be safe
    };
    RateInterval interval{lo, hi};
    if (!(f(lo) <= bound)) interval.lo = outside(false, lo);
    if (!(f(hi) <= bound)) interval.hi = outside(true, hi);
    return interval;
}

RateInterval CostFloor::rates_within(double bound, const SplitFactors& split) const {
    if (!usable_ || !(lowest_ < highest_)) return {};
    if (method_) return designed_rates_within(bound, split);
    const double a0 = length_factor_floor(attenuation_);
    RateInterval interval = sublevel(bound, lowest_, highest_, a0, a0);
    // Within the interval each transition is at least its value at the lower end, and the
    // far-edge margin grows with the transition: a tighter floor, a narrower interval.
    // Rounds go on while they narrow it by more than a millionth (a few, mostly): the
    // pruning needs the floor within a fraction of a tap per phase of the price.
    for (int round = 0; round < 8 && !interval.empty(); ++round) {
        const RateInterval before = interval;
        const double t1 = std::min(input_, interval.lo) - edges_;
        const double t2 = std::min(interval.lo, output_) - edges_;
        if (!(t1 > 0.0 && t2 > 0.0)) break;
        const double d1 = length_factor_floor(
            attenuation_ + cost_model::far_edge_margin_db(t1, passband_) * (1.0 - SLACK));
        const double d2 = length_factor_floor(
            attenuation_ + cost_model::far_edge_margin_db(t2, passband_) * (1.0 - SLACK));
        interval = sublevel(bound, interval.lo, interval.hi, d1, d2);
        if (interval.empty() || (interval.lo - before.lo) + (before.hi - interval.hi) <=
                                    1e-6 * (before.hi - before.lo)) {
            break;
        }
    }
    return interval;
}

double CostFloor::coefficients_floor(double u1_hz, double u2_hz, const SplitFactors& split) const {
    const double t1 = input_ - edges_;
    const double t2 = output_ - edges_;
    if (!(t1 > 0.0 && t2 > 0.0)) return INF;
    if (method_) {
        // Non-zero taps >= factor x upsampled rate / transition, the factor that of a
        // transition over the upsampled rate of at most t / u (below 0.5 for any stage; an
        // equiripple factor falls as the transition widens) and halved for a halfband.
        const auto factor = [&](bool halfband, double t, double u) {
            const double widest = u > 0.0 ? std::clamp(t / u, 0.0, 0.5) : 0.5;
            return remembered_factor(split.leak_power, halfband, widest);
        };
        return (factor(split.first_halfband, t1, u1_hz) * u1_hz / t1 +
                factor(split.second_halfband, t2, u2_hz) * u2_hz / t2) *
               (1.0 - SLACK);
    }
    const double d = length_factor_floor(attenuation_);
    return (d * u1_hz / t1 + d * u2_hz / t2) * (1.0 - SLACK) + 2.0;
}

}  // namespace quillmere::inline v2::core
