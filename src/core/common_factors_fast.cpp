// The common-factor pass of the program's search. It leaves the same record, iteration
// count and progress output as visiting every g and h in turn, but assesses only the
// candidates that might beat the stored record and counts the others arithmetically.
//
// Why skipping is safe: every candidate of the pass realises the same overall ratio
// L_simplest/M_simplest, so its computed output rate is one of a handful of doubles
// (FinalRates). Its intermediate rate input * (L1/M1) falls as h grows, and the priority
// rules never prefer a candidate farther from the intermediate target or with a larger
// sum; so the candidates that might still win form, for each g, at most two ranges of h.
// Those ranges are widened generously and every candidate in them is judged exactly as
// the assessment judges it.
//
// In min-cost mode the search mode's order is the price, which is not monotone in h.
// With both stages filtered (every candidate but g = h = 1) the price is bounded below by
// a convex function of the intermediate rate (CostFloor), so the candidates that might
// win by their price lie in one interval of intermediate rates, a range of h for each g;
// and a candidate that could only tie needs no more coefficients than the stored one,
// which bounds g.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>

#include "core/cost_floor.h"
#include "core/filter_cost.h"
#include "core/two_stage_search.h"

namespace quillmere::core {

namespace {

/// Largest per-stage limit for which the arithmetic below is exact: factors, sums and the
/// products L1*L2 stay far below 2^53.
constexpr long long PRUNING_LIMIT = 1LL << 26;
/// Rates within this magnitude keep every guarded product of the assessment unrefused.
constexpr double RATE_RANGE = 1e250;
/// Relative widening of h ranges computed in floating point; far above their rounding.
constexpr double RANGE_MARGIN = 1e-10;
/// Doubles on either side of L_simplest/M_simplest that a candidate's computed ratio
/// (L1/M1)*(L2/M2) may round to: two rounded quotients and a rounded product are within
/// 3 units in the last place, and a binade boundary below can double the count.
constexpr int RATIO_SPREAD = 6;
constexpr int RATIO_VALUES = 2 * RATIO_SPREAD + 1;
/// g values, or judged candidates, between two checks of the dot clock.
constexpr long long POLL_EVERY = 256;
constexpr double INF = std::numeric_limits<double>::infinity();

/// The final-rate measures that any candidate of the pass can have.
struct FinalRates {
    double errors[RATIO_VALUES];
    int error_count = 0;
    bool match_possible = false;
    bool miss_possible = false;
};

/// A range of intermediate rates, kept as the multipliers that turn K*g into bounds on h
/// (input * L1/M1 = K*g/h with K = input * a1/b1).
struct RateWindow {
    bool empty = true;
    double from_factor = 0.0;  ///< h >= K*g * from_factor
    double to_factor = INF;    ///< h <= K*g * to_factor
};

/// Min-cost mode: the intermediate rates with which a candidate may win by its price.
struct CostBounds {
    bool unbounded = true;       ///< the price does not decide (or cannot be bounded)
    RateInterval tie;            ///< a price that wins if the coefficients allow (contains better)
    RateInterval better;         ///< a price that wins whatever the coefficients
    long long coefficients = 0;  ///< the stored record's
};

/// What the pruning derives from the stored record; refreshed after every acceptance.
struct Bounds {
    RateWindow outright;   ///< intermediate rates with which some candidate wins outright
    RateWindow reachable;  ///< ... with which it wins outright or by the search mode
    long long sum_limit;   ///< largest sum the search mode may accept (LLONG_MIN: none)
    CostBounds cost;
};

struct FastPass {
    const CommonFactorScan* scan;
    const SearchRequest* inputs;
    CommonFactorProgress* progress;
    bool exact_shortcuts;  ///< the request lies where the shortcuts reproduce the assessment
    bool has_target;
    double target;
    FinalRates finals;
    Bounds bounds;
    long long judged = 0;              ///< candidates judged, for the dot clock
    const CostFloor* floor = nullptr;  ///< min-cost mode with the shortcuts
};

std::uint64_t bits_of(double x) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &x, sizeof bits);
    return bits;
}

double double_of(std::uint64_t bits) {
    double x = 0.0;
    std::memcpy(&x, &bits, sizeof x);
    return x;
}

FinalRates collect_final_rates(const SearchRequest& inputs, long long l_simplest,
                               long long m_simplest) {
    FinalRates finals;
    double ratio = static_cast<double>(l_simplest) / static_cast<double>(m_simplest);
    for (int i = 0; i < RATIO_SPREAD; ++i) ratio = std::nextafter(ratio, 0.0);
    for (int i = 0; i < RATIO_VALUES; ++i, ratio = std::nextafter(ratio, INF)) {
        const double rate = guarded_product(inputs.input_rate, ratio);
        if (!std::isfinite(rate)) continue;
        const double error = std::fabs(rate - inputs.output_rate);
        if (relative_error(rate, inputs.output_rate) < match_tolerance) {
            finals.match_possible = true;
        } else {
            finals.miss_possible = true;
        }
        if (std::find(finals.errors, finals.errors + finals.error_count, error) ==
            finals.errors + finals.error_count) {
            finals.errors[finals.error_count++] = error;
        }
    }
    return finals;
}

/// The most favourable verdict a candidate with this intermediate rate can get.
Verdict best_verdict(const FastPass& pass, double intermediate_rate) {
    CandidateMeasures c{0, 0.0, false, INF, false};
    if (pass.has_target) {
        c.intermediate_error = std::fabs(intermediate_rate - pass.target);
        c.intermediate_match = relative_error(intermediate_rate, pass.target) < match_tolerance;
    }
    Verdict best = Verdict::reject;
    for (const bool match : {true, false}) {
        if (match ? !pass.finals.match_possible : !pass.finals.miss_possible) continue;
        c.final_match = match;
        best = std::max(best, judge_by_priority(c, *pass.scan->best, *pass.inputs));
    }
    return best;
}

/// The intermediate rates with a verdict of at least `level`. Verdicts only worsen with the
/// distance from the target, so these form one interval around it, found by bisecting the
/// ordered bit patterns of positive doubles.
RateWindow find_window(const FastPass& pass, Verdict level) {
    RateWindow window;
    const auto holds = [&](double rate) { return best_verdict(pass, rate) >= level; };
    if (!pass.has_target) {
        window.empty = !holds(0.0);
        return window;
    }
    if (!holds(pass.target)) return window;
    window.empty = false;

    double highest = INF;
    if (!holds(INF)) {
        std::uint64_t yes = bits_of(pass.target);
        std::uint64_t no = bits_of(INF);
        while (no - yes > 1) {
            const std::uint64_t mid = yes + (no - yes) / 2;
            (holds(double_of(mid)) ? yes : no) = mid;
        }
        highest = double_of(yes);
    }
    double lowest = 0.0;
    if (!holds(0.0)) {
        std::uint64_t no = bits_of(0.0);
        std::uint64_t yes = bits_of(pass.target);
        while (yes - no > 1) {
            const std::uint64_t mid = no + (yes - no) / 2;
            (holds(double_of(mid)) ? yes : no) = mid;
        }
        lowest = double_of(yes);
    }
    // input * L1/M1 = K*g/h with K = input * a1/b1, so rate <= highest needs
    // h >= K*g / highest, and rate >= lowest needs h <= K*g / lowest.
    window.from_factor = std::isinf(highest) ? 0.0 : (1.0 / highest) * (1.0 - RANGE_MARGIN);
    window.to_factor = lowest > 0.0 ? (1.0 / lowest) * (1.0 + RANGE_MARGIN) : INF;
    return window;
}

/// Largest sum with which the search mode may accept some candidate of the pass.
long long find_sum_limit(const FastPass& pass) {
    const CascadeRecord& b = *pass.scan->best;
    long long limit = LLONG_MIN;
    if (!b.found) return limit;
    if (pass.scan->search_mode == SearchMode::min_cost) return LLONG_MAX;  // see find_cost
    for (int i = 0; i < pass.finals.error_count; ++i) {
        CandidateMeasures c{LLONG_MAX, pass.finals.errors[i], false, INF, false};
        if (wins_by_mode_order(c, b, pass.scan->search_mode)) return LLONG_MAX;
        for (const long long sum : {b.overall_sum, b.overall_sum - 1}) {
            c.sum = sum;
            if (wins_by_mode_order(c, b, pass.scan->search_mode)) {
                limit = std::max(limit, sum);
                break;
            }
        }
    }
    return limit;
}

/// Min-cost mode: the intermediate rates with which a candidate's price may win.
CostBounds find_cost_bounds(const FastPass& pass) {
    const CascadeRecord& b = *pass.scan->best;
    CostBounds bounds;
    if (pass.floor == nullptr || !b.found) return bounds;
    // The final-rate measures decide before the price: a candidate that matches where the
    // record does not, or misses less, wins whatever it costs; one that matches where
    // the record matches, or misses as much, is judged by its price.
    bool price_decides = false;
    if (pass.finals.match_possible) {
        if (!b.final_match) return bounds;
        price_decides = true;
    }
    if (pass.finals.miss_possible && !b.final_match) {
        for (int i = 0; i < pass.finals.error_count; ++i) {
            const double e = pass.finals.errors[i];
            if ((b.final_error - 1e-15) > e) return bounds;
            if (std::fabs(e - b.final_error) < 1e-15) price_decides = true;
        }
    }
    bounds.unbounded = false;
    bounds.coefficients = b.coefficients;
    if (!price_decides) return bounds;  // both intervals empty
    const double slack = 1.0 + 1e-9;    // for the rounding of the price
    const std::optional<cost_model::Price>& reference = pass.inputs->reference_price;
    const double tol = cost_model::macs_tie_tolerance;
    // A candidate's grain, output / L summed over its stages, is at most input + output.
    const double c_grain = 2.0 * (pass.inputs->input_rate + pass.floor->output_rate());
    if (!reference) {
        // First search, against the record: tied is |c - b| <= tol x max(c, b) + 2 x the
        // larger grain, and better beyond the tie is c < b (1 - tol) - 2 x b's grain.
        const double b_grain = 2.0 * b.macs_grain;
        bounds.tie = pass.floor->rates_within((b.macs_per_second + std::max(b_grain, c_grain)) /
                                              (1.0 - tol) * slack);
        bounds.better =
            pass.floor->rates_within((b.macs_per_second * (1.0 - tol) - b_grain) * slack);
        return bounds;
    }
    // Second search: tied with the reference (cost_model::macs_tied) means a price of at
    // most (reference + tol x price + 2 x the larger grain).
    const double grain = std::max(2.0 * reference->macs_grain, c_grain);
    const double tied_price = (reference->macs_per_second + grain) / (1.0 - tol) * slack;
    const cost_model::Price stored{b.macs_per_second, b.coefficients, b.macs_grain};
    if (cost_model::macs_tied(stored, *reference)) {
        // Only a tied candidate with no more coefficients can win.
        bounds.tie = pass.floor->rates_within(tied_price);
        return bounds;
    }
    // A tied candidate wins, and so does one cheaper than the record.
    bounds.better = pass.floor->rates_within(std::max(tied_price, b.macs_per_second * slack));
    bounds.tie = bounds.better;
    return bounds;
}

void refresh_bounds(FastPass* pass) {
    if (!pass->exact_shortcuts) {
        pass->bounds.outright = RateWindow{false, 0.0, INF};
        pass->bounds.reachable = pass->bounds.outright;
        pass->bounds.sum_limit = LLONG_MAX;
        pass->bounds.cost = CostBounds{};
        return;
    }
    pass->bounds.outright = find_window(*pass, Verdict::accept);
    pass->bounds.reachable = find_window(*pass, Verdict::mode_order);
    pass->bounds.sum_limit = find_sum_limit(*pass);
    pass->bounds.cost = find_cost_bounds(*pass);
}

/// Judges a candidate; assesses it (storing it when it wins) only when it might win.
bool try_candidate(FastPass* pass, long long l1, long long m1, long long l2, long long m2) {
    const CommonFactorScan& s = *pass->scan;
    if (l1 > s.max_lm || m1 > s.max_lm || l2 > s.max_lm || m2 > s.max_lm ||
        (!s.inputs->allow_m1_gt_l1 && l1 < m1)) {
        return false;  // refused by the assessment before any measure
    }
    if (pass->exact_shortcuts) {
        // Within the checked ranges no guarded product refuses, so plain products give
        // the assessment's values bit for bit.
        const double r1 = static_cast<double>(l1) / static_cast<double>(m1);
        const double r2 = static_cast<double>(l2) / static_cast<double>(m2);
        const double rate = pass->inputs->input_rate * (r1 * r2);
        CandidateMeasures c{l1 + m1 + l2 + m2, std::fabs(rate - pass->inputs->output_rate),
                            relative_error(rate, pass->inputs->output_rate) < match_tolerance, INF,
                            false};
        if (pass->has_target) {
            const double intermediate = pass->inputs->input_rate * r1;
            c.intermediate_error = std::fabs(intermediate - pass->target);
            c.intermediate_match = relative_error(intermediate, pass->target) < match_tolerance;
        }
        if (s.search_mode == SearchMode::min_cost) price_candidate(*s.inputs, l1, m1, l2, m2, &c);
        if (!candidate_wins(c, *s.best, *pass->inputs, s.search_mode)) return false;
    }
    if (!assess_two_stage_candidate(l1, m1, l2, m2, s.max_lm, s.inputs, s.search_mode, s.best,
                                    s.dual_match_found)) {
        return false;
    }
    refresh_bounds(pass);
    return true;
}

/// floor(v) limited to [0, cap]; NaN counts as cap.
long long floor_within(double v, long long cap) {
    if (!(v < static_cast<double>(cap))) return cap;
    if (v < 0.0) return 0;
    return static_cast<long long>(std::floor(v));
}

/// ceil(v) limited to [1, cap + 1].
long long ceil_within(double v, long long cap) {
    if (!(v < static_cast<double>(cap))) return cap + 1;
    if (v <= 1.0) return 1;
    return static_cast<long long>(std::ceil(v));
}

/// An inclusive range of h; empty when first > last.
struct HRange {
    long long first;
    long long last;
};

HRange window_range(const RateWindow& w, double kg, long long h_max) {
    if (w.empty) return HRange{1, 0};
    // Open ends are taken as such: K*g may be infinite on the plain path (0 * inf is NaN).
    return HRange{w.from_factor == 0.0 ? 1 : ceil_within(kg * w.from_factor, h_max),
                  std::isinf(w.to_factor) ? h_max : floor_within(kg * w.to_factor, h_max)};
}

/// Smallest h >= from in either range, or LLONG_MAX.
long long next_in(const HRange& a, const HRange& b, long long from) {
    long long next = LLONG_MAX;
    for (const HRange& r : {a, b}) {
        const long long h = std::max(from, r.first);
        if (h <= r.last) next = std::min(next, h);
    }
    return next;
}

/// Outcome of one pair combination.
enum class ComboEnd { done, leave };

ComboEnd scan_combination(FastPass* pass, long long a1, long long a2, long long b1, long long b2) {
    const CommonFactorScan& s = *pass->scan;
    const long long max_lm = s.max_lm;
    const long long max_g = std::max(1LL, std::min(max_lm / a1, max_lm / b2));
    const long long max_h = std::max(1LL, std::min(max_lm / b1, max_lm / a2));
    const std::uint64_t h_count = static_cast<std::uint64_t>(max_h);
    // Bounds of 0 raised to 1 give a factor above max_lm, which the assessment refuses;
    // otherwise g <= max_lm/a1 keeps every product within max_lm (none overflows).
    const bool any_valid =
        max_lm / a1 >= 1 && max_lm / b2 >= 1 && max_lm / b1 >= 1 && max_lm / a2 >= 1;
    const bool minimal_sum = s.search_mode == SearchMode::minimal_sum;
    const bool allow = s.inputs->allow_m1_gt_l1;
    const double k = s.inputs->input_rate * static_cast<double>(a1) / static_cast<double>(b1);
    const CostFloor* floor = pass->floor;
    // Min-cost mode: the price interval that applies to this g. A candidate that can only
    // tie must not need more coefficients than the record; the floor on the coefficients
    // grows with g (L1 x input = g a1 input, L2 x intermediate = g a1 a2 input / b1).
    const auto cost_interval = [&](long long g) -> const RateInterval* {
        const CostBounds& cost = pass->bounds.cost;
        if (floor == nullptr || cost.unbounded) return nullptr;
        const double gd = static_cast<double>(g);
        const double in = s.inputs->input_rate;
        const double u1 = gd * static_cast<double>(a1) * in;
        const double u2 =
            gd * static_cast<double>(a1) * static_cast<double>(a2) * in / static_cast<double>(b1);
        const bool tie_possible = !cost.tie.empty() && floor->coefficients_floor(u1, u2) <=
                                                           static_cast<double>(cost.coefficients);
        return tie_possible ? &cost.tie : &cost.better;
    };

    for (long long g = 1; g <= max_g; ++g) {
        if (s.context->stop_requested()) return ComboEnd::leave;
        if (g % POLL_EVERY == 0) progress_poll(pass->progress);
        long long h = 1;
        if (minimal_sum && g == 1) {
            // The minimal-sum stop is tested right after the g = h = 1 candidate.
            try_candidate(pass, a1, b1, a2, b2);
            const bool strict =
                s.inputs->has_intermediate_target && s.inputs->priority == Priority::strict;
            if (!(strict && !(s.best->found && s.best->intermediate_match))) {
                progress_count_many(pass->progress, 1);
                return ComboEnd::leave;
            }
            h = 2;
        }
        if (floor != nullptr && g == 1) {
            // A stage of g = h = 1 may pass the signal through and price below the floor.
            try_candidate(pass, a1, b1, a2, b2);
            h = 2;
        }
        if (!any_valid) {
            progress_count_many(pass->progress,
                                static_cast<std::uint64_t>(max_g - g + 1) * h_count);
            return ComboEnd::done;
        }
        const Bounds& bounds = pass->bounds;
        // With the shortcuts every factor is at most 2^26, so these sums cannot overflow.
        const long long base_sum = pass->exact_shortcuts ? g * (a1 + b2) : 0;
        const long long step_sum = b1 + a2;
        const RateInterval* priced = cost_interval(g);
        if (pass->exact_shortcuts && bounds.outright.empty &&
            (bounds.reachable.empty || base_sum + step_sum > bounds.sum_limit ||
             (priced != nullptr && priced->empty()))) {
            // Sums and coefficients grow with g and the record stays as it is: no later g
            // can win either.
            progress_count_many(pass->progress,
                                static_cast<std::uint64_t>(max_g - g + 1) * h_count);
            return ComboEnd::done;
        }
        const long long h_valid = allow ? max_h : std::min(max_h, g * a1 / b1);
        const double kg = k * static_cast<double>(g);
        HRange outright{1, 0};
        HRange reachable{1, 0};
        const auto compute_ranges = [&] {
            outright = window_range(pass->bounds.outright, kg, h_valid);
            reachable = window_range(pass->bounds.reachable, kg, h_valid);
            const long long limit = pass->bounds.sum_limit;
            if (limit != LLONG_MAX) {
                reachable.last = limit == LLONG_MIN || limit - base_sum < step_sum
                                     ? 0
                                     : std::min(reachable.last, (limit - base_sum) / step_sum);
            }
            const RateInterval* rates = cost_interval(g);
            if (rates != nullptr) {
                if (rates->empty()) {
                    reachable.last = 0;
                } else {
                    // The intermediate rate K*g/h lies in [lo, hi] for h in [K*g/hi, K*g/lo].
                    const double from = kg / rates->hi * (1.0 - RANGE_MARGIN);
                    const double to = kg / rates->lo * (1.0 + RANGE_MARGIN);
                    reachable.first = std::max(reachable.first, ceil_within(from, h_valid));
                    reachable.last = std::min(reachable.last, floor_within(to, h_valid));
                }
            }
        };
        compute_ranges();
        for (h = next_in(outright, reachable, h); h <= h_valid;
             h = next_in(outright, reachable, h + 1)) {
            if (s.context->stop_requested()) {
                progress_count_many(pass->progress, static_cast<std::uint64_t>(h - 1));
                return ComboEnd::leave;
            }
            if (++pass->judged % POLL_EVERY == 0) progress_poll(pass->progress);
            if (!try_candidate(pass, g * a1, h * b1, h * a2, g * b2)) continue;
            if (dual_stop_holds(s.inputs, s.search_mode, *s.dual_match_found)) {
                progress_count_many(pass->progress, static_cast<std::uint64_t>(h));
                return ComboEnd::leave;
            }
            compute_ranges();
        }
        progress_count_many(pass->progress, h_count);
    }
    return ComboEnd::done;
}

}  // namespace

void scan_common_factors_fast(const CommonFactorScan& scan, CommonFactorProgress* progress) {
    const SearchRequest& in = *scan.inputs;
    const long long l_simplest = scan.l_pairs[0].factor * scan.l_pairs[0].cofactor;
    const long long m_simplest = scan.m_pairs[0].factor * scan.m_pairs[0].cofactor;
    FastPass pass{&scan,
                  &in,
                  progress,
                  false,
                  in.has_intermediate_target,
                  in.target_intermediate_rate,
                  FinalRates{},
                  Bounds{}};
    const auto within = [](double x) { return std::isfinite(x) && std::fabs(x) <= RATE_RANGE; };
    pass.exact_shortcuts =
        scan.max_lm >= 1 && scan.max_lm <= PRUNING_LIMIT && within(in.input_rate) &&
        in.input_rate >= 1.0 / RATE_RANGE && within(in.output_rate) &&
        (!in.has_intermediate_target ||
         (within(in.target_intermediate_rate) && in.target_intermediate_rate > 0.0));
    if (pass.exact_shortcuts) {
        const long long square = scan.max_lm * scan.max_lm;
        if (l_simplest > square || m_simplest > square) {
            // Some factor of every candidate exceeds max_lm: nothing can be stored.
            pass.finals = FinalRates{};
        } else {
            pass.finals = collect_final_rates(in, l_simplest, m_simplest);
        }
    }
    const double limit = static_cast<double>(scan.max_lm);
    const CostFloor floor(
        in.input_rate,
        in.input_rate * static_cast<double>(l_simplest) / static_cast<double>(m_simplest),
        in.filter, in.input_rate / limit, in.input_rate * limit);
    if (pass.exact_shortcuts && scan.search_mode == SearchMode::min_cost && floor.usable()) {
        pass.floor = &floor;
    }
    refresh_bounds(&pass);

    for (int i = 0; i < scan.l_count; ++i) {
        const long long a1 = scan.l_pairs[i].factor;
        const long long a2 = scan.l_pairs[i].cofactor;
        if (a1 < 1 || a2 < 1) continue;
        for (int j = 0; j < scan.m_count; ++j) {
            if (scan.context->stop_requested()) return;
            const long long b1 = scan.m_pairs[j].factor;
            const long long b2 = scan.m_pairs[j].cofactor;
            if (b1 < 1 || b2 < 1) continue;
            if (scan_combination(&pass, a1, a2, b1, b2) == ComboEnd::leave) return;
        }
    }
}

}  // namespace quillmere::core
