// The best-accuracy search.
//
// The order. A cascade a/b -> c/d (each stage in lowest terms: a stage with a common factor
// has the same rates and a larger sum, so it never wins) is judged by:
//   1. the intermediate-target priority, exactly as judge_by_priority judges it: the
//      candidates it leaves are those it puts in the mode order against the best one (the
//      one with a final match if any, then the smallest intermediate error);
//   2. the exact relative error E of the overall ratio (a c)/(b d) against output/input,
//      errors within the tie of exact_ratio.h (2^-50 (1 + E)) of the smallest counting as
//      equal. The final match (E < match_tolerance) is judged on E too;
//   3. the smaller sum a + b + c + d, then the smaller E, then the smaller (a, b, c, d) in
//      lexicographic order.
// Ties are judged against the smallest error, never pairwise, so no order of a scan can
// decide. The tests check this against a scan of all cascades.
//
// Why it is fast: the search never looks at the limit^4 cascades. Everything rests on three
// facts about the fractions p/q with p, q <= n (the Stern-Brocot tree cut at height n):
//   - the two that bracket a point are found in O(log^2 n) exact comparisons (bracket());
//   - among the fractions inside an interval, one has both the smallest numerator and the
//     smallest denominator (simplest_in()), so the second stage with the smallest c + d
//     inside an error band is found as fast;
//   - the error of s1 x s2 is V-shaped in s2 around r / s1, so the most accurate second
//     stage for a given first stage is one of the two that bracket r / s1.
// With a first stage fixed (strict and balanced priorities: the few first stages within
// match_tolerance of the target; the final priority: the first stages nearest the target),
// each costs O(log^2 n). Without one (no target, the ignore priority) the search works on
// overall ratios p/q with p, q <= n^2 instead: a reduced p/q is the product of two stages
// within the limit exactly when p = p1 p2 and q = q1 q2 with every factor <= n (a first
// stage p1 g / q1 and second stage p2 / (q2 g) when the first must not decimate), and the
// smallest sum for it is found from the divisors of p and q (Pollard rho and Miller-Rabin
// factor them in microseconds; most are rejected at once by a prime factor above n). The
// most accurate ratio is found by walking outward from output/input through the
// neighbours of the cut tree at n^2 (the Farey recurrence, O(1) a step) until one factors:
// every nearer ratio was seen not to. Then the ratios tied with it:
//   - where its error E* is at least the tie (2^-50 (1 + E*)), the band mostly holds only
//     a few ratios the walk reaches next: it goes on, for up to 64 ratios;
//   - where E* is below the tie (large limits, where ratios within a double's precision
//     abound), or the walk meets more of the band (output/input near a fraction h/k of
//     small terms: near it the ratios lie on the lines p k - q h = j, at the error
//     j / (q h), so the band is a run of q on each line, walked from its largest q down),
//     every ratio within E* plus the tie is visited in increasing denominator (the
//     descendants of its simplest ratio, (alpha h + beta h') / (alpha k + beta k'), merged
//     in a heap), those nearer than E* skipped, until 2 sqrt(p) + 2 sqrt(q), which no
//     split of p/q can beat, exceeds the best sum found, so the first ratios of the band
//     that factor evenly end it.
// Where the target leaves a first stage to find (the final priority), the first stages
// nearest the target with a good enough second stage are found one of three ways, each
// exact: where the class accepts few overall ratios (under 2048 expected), from the ratios
// themselves (the accepted ones form an interval around output/input, walked exactly; each
// split p1 g1 / q1 g2 -> p2 g2 / q2 g1 gives its nearest first stage by a bracket in
// g1/g2); otherwise by walks, either of which proves the nearest first stages: the first
// stages walking away from the target, or the second stages walking away from
// (output/input) / target with the few first stages that make each good enough. Both keep
// to the stages that can be good enough at all (a first stage within the accepted error of
// ratio x [1/n, n]); after a few steps of each, the one whose bound grows the faster per
// step walks on alone. Where accepted cascades are rare (a tolerance finer than 1e-13 at
// large limits) the walks can pass over millions of first stages in vain: each is first
// tested in double (the two second stages around r b / a, followed from one first stage to
// the next by Farey steps, leave no room for one within the accepted error), and after 14
// steps per ratio to visit (a cursor's jump by a continued fraction counting as four more)
// they hand over to the ratios (up to 2^20 of them). Where the machine has a second core,
// the ratios are read there instead from the 16384th step on, while the walks go on, and
// the first of the two to finish answers. The ratios
// are visited by increasing denominator: a cascade whose product is p/q in lowest terms
// has its first stage within [p / n^2, n^2 / q], so once the nearest first stage found is
// nearer the target than every ratio left can come, the visit ends. Whether any cascade
// matches at all is learnt from 256 steps of those walks where matches are common, else
// from the walk for E*.
//
// Testing a ratio: q is tested for a prime factor above n (trial division by the primes
// below 256, then Miller-Rabin on the rest), p is factored, and q only when p has a split
// within the limit and, in the band, the smallest p1 + p2 plus 2 sqrt(q) can still beat the
// cascade found. Where the window read for the nearest first stages is large (2048 ratios
// or more), most of its ratios have a numerator or denominator with a prime above n: the
// window is read in bands of denominators, and the numerators and denominators of a band,
// u alpha + v beta along the rows of IncreasingDenominators, are sieved together by the
// primes up to 4096 (for each prime its multiples are a lattice in alpha and beta, met
// line by line), a few rows at a time so that the values stay in the cache. What a value
// keeps is then 1, a prime, or a product of two primes above 4096, which one strong test
// to base 2 tells apart (with the table of the composites of that kind that pass it); a
// ratio is factored only where neither keeps a prime above n (about one in ten), and then
// from what the sieve left and the primes it met, with Pollard's rho only for a product
// of two primes above 4096.
//
// The slowest requests left are final or balanced targets that the first stages of many
// accepted ratios can reach, with tolerances near 1e-14 at limit 65535: the walks need
// some 5 x 10^5 steps (about 15 ms) and the window holds some 10^5 ratios (about as long).
// On two cores such a request takes what the faster of the two takes (see the benchmark);
// on one, the hand-over bounds it by about twice what the window alone costs.
#include "core/best_accuracy.h"

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <numeric>
#include <type_traits>
#include <vector>

#include "core/factoring.h"
#include "core/rational_walk.h"
#include "core/second_thread.h"
#include "text/shortest_double.h"

namespace quillmere::inline v2::core {

namespace {

using u64 = std::uint64_t;
constexpr double INF = std::numeric_limits<double>::infinity();
/// Relative distance at which a comparison made in double is trusted without the exact one.
constexpr double SURE = 1e-12;

/// Which errors the class of candidates being searched accepts.
struct Accept {
    bool need_match = false;
    std::optional<double> tolerance;

    bool ok(const ExactError& e) const {
        if (need_match && !error_below(e, match_tolerance)) return false;
        return !tolerance || error_at_most(e, *tolerance);
    }
    /// The largest relative error accepted; infinity when any is.
    double width() const {
        double w = INF;
        if (need_match) w = match_tolerance;
        if (tolerance) w = std::min(w, *tolerance);
        return w;
    }
};

struct Problem {
    const SearchContext* context = nullptr;
    double x = 0.0;
    double y = 0.0;
    ExactRatio ratio;
    u64 n = 1;
    bool allow = true;
    bool has_target = false;
    double target = 0.0;
    double t = 0.0;  ///< target / input
    Priority priority = Priority::ignore;
    std::optional<double> tolerance;
    TwoStageRequest judge;  ///< the request as judge_by_priority reads it
    /// Set where the search runs on a second thread, racing the first: true once the other
    /// route has answered.
    const std::atomic<bool>* abandoned = nullptr;
    mutable u64 polls = 0;
    mutable bool cancelled = false;

    /// True once a stop was requested; looks at the request every 64 calls.
    bool stop() const {
        if (!cancelled && (++polls & 63) == 0) return stop_now();
        return cancelled;
    }
    /// The same, looking at once.
    bool stop_now() const {
        if (!cancelled) {
            cancelled = context->stop_requested() ||
                        (abandoned != nullptr && abandoned->load(std::memory_order_relaxed));
        }
        return cancelled;
    }
};

/// Sign of p/q - output/input, exactly (p, q below 2^64).
int side_of_ratio(const Problem& pr, u64 p, u64 q) {
    const double v = static_cast<double>(p) / static_cast<double>(q);
    const double r = pr.ratio.approx;
    if (v < r * (1.0 - SURE)) return -1;
    if (v > r * (1.0 + SURE)) return 1;
    return compare(Wide::of(pr.ratio.b) * p, Wide::of(pr.ratio.a) * q);
}

ExactError error_of(const Problem& pr, u64 p, u64 q) {
    return exact_error(pr.ratio, p, q);
}

/// Whether e is tied with the best error and accepted.
bool in_band(const ExactError& e, const ExactError& best, const Accept& acc) {
    // The doubles are within 1e-15 (1 + E) of the exact errors.
    const double slack = 4e-15 * (1.0 + best.approx);
    if (e.approx > best.approx * (1.0 + 1e-9) + slack) return false;
    return error_within_tie(e, best) && acc.ok(e);
}

/// The measures of a first stage a/b as the assessment computes them.
struct FirstMeasures {
    double rate = 0.0;
    double ie = INF;
    bool im = false;
};

/// The intermediate rate after a/b, as guarded_product gives it: the rates of a request (1 Hz
/// to 1e13 Hz) times a stage (1/65535 to 65535) never leave the range of a double.
double first_rate_of(const Problem& pr, double s) {
    if (pr.x <= 1e13 && s >= 1e-10 && s <= 1e10) return pr.x * s;
    return guarded_product(pr.x, s);
}

double first_rate(const Problem& pr, u64 a, u64 b) {
    return first_rate_of(pr, static_cast<double>(a) / static_cast<double>(b));
}

FirstMeasures first_measures(const Problem& pr, u64 a, u64 b) {
    FirstMeasures m;
    m.rate = first_rate(pr, a, b);
    if (pr.has_target && std::isfinite(m.rate)) {
        m.ie = std::fabs(m.rate - pr.target);
        m.im = relative_error(m.rate, pr.target) < match_tolerance;
    }
    return m;
}

/// Calls visit(f) for every fraction of the cut tree at bound from lo to hi (in double).
template <typename Visit>
void fractions_between(u64 bound, double lo, double hi, Visit&& visit) {
    OutwardWalk walk(
        bracket(bound,
                [&](u64 p, u64 q) { return static_cast<double>(p) / static_cast<double>(q) < lo; }),
        bound);
    while (!walk.above().none_above() && walk.above_value() <= hi) visit(walk.take_above());
}

bool valid_first(const Problem& pr, u64 a, u64 b) {
    return pr.allow || a >= b;
}

/// A cascade a/b -> c/d.
struct Choice {
    bool found = false;
    u64 a = 0, b = 0, c = 0, d = 0;
    u64 sum = 0;
    ExactError e;
};

/// The order among cascades left equal by the error: sum, error, lexicographic.
bool better(const Choice& x, const Choice& y) {
    if (!y.found) return x.found;
    if (!x.found) return false;
    if (x.sum != y.sum) return x.sum < y.sum;
    const int by_error = compare_errors(x.e, y.e);
    if (by_error != 0) return by_error < 0;
    if (x.a != y.a) return x.a < y.a;
    if (x.b != y.b) return x.b < y.b;
    if (x.c != y.c) return x.c < y.c;
    return x.d < y.d;
}

// ---------------------------------------------------------------------------------------
// A first stage fixed: the second stage.
// ---------------------------------------------------------------------------------------

/// The most accurate second stage after a/b, when its error is accepted.
struct Second {
    bool found = false;
    u64 c = 0, d = 0;
    ExactError e;
};

Second best_second(const Problem& pr, u64 a, u64 b, const Accept& acc) {
    // c/d below r b / a exactly when a c / (b d) is below r.
    const Bracket br =
        bracket(pr.n, [&](u64 c, u64 d) { return side_of_ratio(pr, a * c, b * d) < 0; });
    Second best;
    for (const Fraction& f : {br.below, br.above}) {
        if (f.none_below() || f.none_above()) continue;
        const ExactError e = error_of(pr, a * f.p, b * f.q);
        if (!best.found || compare_errors(e, best.e) < 0) best = Second{true, f.p, f.q, e};
    }
    if (best.found && !acc.ok(best.e)) best.found = false;
    return best;
}

/// Neighbours of the cut tree following a walk outward from a point, one on each side (the
/// walk visits the two in turn).
class SideCursors {
public:
    SideCursors(u64 bound, double centre)
        : centre_(centre), up_(bound, centre), down_(bound, centre) {}

    bool surely_none_between(double lo, double hi) {
        return (lo + (hi - lo) / 2.0 >= centre_ ? up_ : down_).surely_none_between(lo, hi);
    }

    /// The moves of both made by a continued fraction rather than Farey steps.
    std::uint64_t jumps() const { return up_.jumps() + down_.jumps(); }

private:
    double centre_;
    NeighbourCursor up_, down_;
};

/// Whether no second stage after a/b is accepted, decided in double where that is sure (a
/// walk over first stages tests most of them in vain where accepted cascades are rare):
/// false only means that one may be. The cursors follow the second stages; reach is
/// second_reach().
bool surely_no_second(const Problem& pr, u64 a, u64 b, double reach, SideCursors* seconds) {
    if (!std::isfinite(reach)) return false;
    const double v = pr.ratio.approx * static_cast<double>(b) / static_cast<double>(a);
    return seconds->surely_none_between(v * (1.0 - reach), v * (1.0 + reach));
}

/// How far (relatively) from r b / a surely_no_second looks: c/d is accepted within the
/// class's width of r b / a, v is within 1e-15 of that, and the value of c/d in double
/// within 2^-53 of c/d. Infinite where any error is accepted.
double second_reach(const Accept& acc) {
    const double w = acc.width();
    return std::isfinite(w) ? w * (1.0 + 1e-6) + 1e-13 : INF;
}

/// The second stage with the smallest c + d whose error after a/b is tied with `band` and
/// accepted.
Second simplest_second(const Problem& pr, u64 a, u64 b, const ExactError& band, const Accept& acc) {
    const Fraction f = simplest_in(pr.n, [&](u64 c, u64 d) {
        const ExactError e = error_of(pr, a * c, b * d);
        if (in_band(e, band, acc)) return 0;
        return side_of_ratio(pr, a * c, b * d) < 0 ? -1 : 1;
    });
    if (f.none_below()) return Second{};
    return Second{true, f.p, f.q, error_of(pr, a * f.p, b * f.q)};
}

struct ClassChoice {
    Choice choice;
    bool any = false;      ///< some first stage had a second stage at all
    ExactError min_error;  ///< the smallest error of the class, accepted or not
};

/// Step 2 and 3 of the order over the first stages of one class.
ClassChoice choose_among(const Problem& pr, const std::vector<Fraction>& firsts,
                         const Accept& acc) {
    ClassChoice out;
    std::vector<Second> seconds(firsts.size());
    bool have_best = false;
    ExactError best;
    Accept any_error;
    for (std::size_t i = 0; i < firsts.size(); ++i) {
        if (pr.stop()) return out;
        const Second s = best_second(pr, firsts[i].p, firsts[i].q, any_error);
        if (!s.found) continue;
        if (!out.any || compare_errors(s.e, out.min_error) < 0) out.min_error = s.e;
        out.any = true;
        if (!acc.ok(s.e)) continue;
        seconds[i] = s;
        if (!have_best || compare_errors(s.e, best) < 0) {
            best = s.e;
            have_best = true;
        }
    }
    if (!have_best) return out;
    for (std::size_t i = 0; i < firsts.size(); ++i) {
        if (!seconds[i].found || !in_band(seconds[i].e, best, acc)) continue;
        const u64 a = firsts[i].p;
        const u64 b = firsts[i].q;
        const Second s = simplest_second(pr, a, b, best, acc);
        if (!s.found) continue;
        const Choice c{true, a, b, s.c, s.d, a + b + s.c + s.d, s.e};
        if (better(c, out.choice)) out.choice = c;
    }
    return out;
}

// ---------------------------------------------------------------------------------------
// No first stage fixed: overall ratios.
// ---------------------------------------------------------------------------------------

/// The smallest d + x / d over the divisors d of x (all of them in `ds`) with d and x / d
/// at most n; 0 when no such pair is.
u64 smallest_pair_sum(u64 x, u64 n, const std::vector<u64>& ds) {
    u64 smallest = 0;
    for (const u64 d : ds) {
        if (d > n || x / d > n) continue;
        const u64 sum = d + x / d;
        if (smallest == 0 || sum < smallest) smallest = sum;
    }
    return smallest;
}

/// The cascade with the smallest sum (then lexicographic) whose overall ratio is the
/// reduced p/q; not found when no split of p and q fits the limit, nor when every split
/// sums to more than `beat` (those would lose to a cascade already found).
Choice best_split(const Problem& pr, u64 p, u64 q, std::vector<u64>* dp, std::vector<u64>* dq,
                  u64 beat = std::numeric_limits<u64>::max()) {
    Choice best;
    const u64 n = pr.n;
    if (p > n * n || q > n * n) return best;
    // Most ratios near an awkward one have a large prime factor: rejected cheaply first
    // (factorise(p, n) begins with the same test, and factors p only after it).
    if (has_prime_factor_above(q, n)) return best;
    const Factorisation fp = factorise(p, n);
    if (fp.count < 0) return best;
    unordered_divisors(fp, dp);
    // Every split sums to at least the smallest p1 + p2 plus 2 sqrt(q) (a first stage that
    // must not decimate only adds to it): q is factored only when that can still win.
    const u64 p_sum = smallest_pair_sum(p, n, *dp);
    if (p_sum == 0) return best;
    if (beat != std::numeric_limits<u64>::max()) {
        const auto q_floor =
            static_cast<u64>(2.0 * std::sqrt(static_cast<double>(q)) * (1.0 - 1e-12));
        if (p_sum + q_floor > beat) return best;
    }
    const Factorisation fq = factorise(q, n);
    if (fq.count < 0) return best;
    unordered_divisors(fq, dq);
    for (const u64 p1 : *dp) {
        const u64 p2 = p / p1;
        if (p1 > n || p2 > n) continue;
        for (const u64 q1 : *dq) {
            const u64 q2 = q / q1;
            if (q1 > n || q2 > n) continue;
            // First stage p1 g / q1, second p2 / (q2 g): g = 1 unless the first stage must
            // not decimate; then the smallest g that makes it interpolate (any larger g, or
            // a factor on the other side, only adds to the sum).
            u64 g = 1;
            if (!pr.allow && p1 < q1) {
                g = (q1 + p1 - 1) / p1;
                if (p1 * g > n || q2 * g > n) continue;
            }
            Choice c{true, p1 * g, q1, p2, q2 * g, 0, {}};
            c.sum = c.a + c.b + c.c + c.d;
            if (best.found && c.sum > best.sum) continue;
            c.e = error_of(pr, p, q);
            if (better(c, best)) best = c;
        }
    }
    return best;
}

bool splits(const Problem& pr, u64 p, u64 q, std::vector<u64>* dp, std::vector<u64>* dq) {
    return best_split(pr, p, q, dp, dq).found;
}

/// The overall ratios of the cut tree at n^2 (no lower than 1/n without first-stage
/// decimation), walked outward from output/input, nearest first.
class RatioWalk {
public:
    explicit RatioWalk(const Problem& pr)
        : pr_(pr),
          floor_(!pr.allow),
          walk_(bracket(pr.n * pr.n,
                        [&](u64 p, u64 q) {
                            if (floor_ && compare_fractions(p, q, 1, pr_.n) < 0) return true;
                            return side_of_ratio(pr_, p, q) < 0;
                        }),
                pr.n * pr.n) {
        refresh_below();
        refresh_above();
    }

    /// The next ratio and its error; 1/0 when none is left.
    Fraction next(ExactError* e) {
        const bool has_below = below_alive();
        const bool has_above = !walk_.above().none_above();
        if (!has_below && !has_above) return Fraction{1, 0};
        if (has_below && (!has_above || compare_errors(below_error_, above_error_) <= 0)) {
            *e = below_error_;
            const Fraction f = walk_.take_below();
            refresh_below();
            return f;
        }
        *e = above_error_;
        const Fraction f = walk_.take_above();
        refresh_above();
        return f;
    }

private:
    bool below_alive() const {
        const Fraction& f = walk_.below();
        return !f.none_below() && !(floor_ && compare_fractions(f.p, f.q, 1, pr_.n) < 0);
    }
    void refresh_below() {
        if (below_alive()) below_error_ = error_of(pr_, walk_.below().p, walk_.below().q);
    }
    void refresh_above() {
        if (!walk_.above().none_above()) {
            above_error_ = error_of(pr_, walk_.above().p, walk_.above().q);
        }
    }

    const Problem& pr_;
    bool floor_;
    OutwardWalk walk_;
    ExactError below_error_, above_error_;
};

/// The smallest error of any cascade: the first ratio of the walk that splits. The walk is
/// left just past it.
std::optional<ExactError> smallest_product_error(const Problem& pr, RatioWalk* walk,
                                                 Fraction* first) {
    std::vector<u64> dp, dq;
    for (;;) {
        if (pr.stop()) return std::nullopt;
        ExactError e;
        const Fraction f = walk->next(&e);
        if (f.none_above()) return std::nullopt;
        if (splits(pr, f.p, f.q, &dp, &dq)) {
            *first = f;
            return e;
        }
    }
}

std::optional<ExactError> smallest_product_error(const Problem& pr) {
    RatioWalk walk(pr);
    Fraction first;
    return smallest_product_error(pr, &walk, &first);
}

/// Ratios of the band the walk that found the smallest error may test before the band is
/// visited by increasing denominator instead.
constexpr int BAND_WALK_STEPS = 64;

/// The cascade with the smallest sum among the ratios of the band tied with `best`,
/// continuing the walk that found `best` at `first`: every ratio nearer than it was seen
/// not to split. Pays where the band beyond `first` holds only a few ratios; empty when it
/// holds more than BAND_WALK_STEPS, with *chosen the best of those tested.
std::optional<Choice> continue_walk(const Problem& pr, RatioWalk* walk, const Fraction& first,
                                    const ExactError& best, const Accept& acc, Choice* chosen) {
    std::vector<u64> dp, dq;
    Fraction f = first;
    ExactError e = best;
    for (int step = 0;; ++step) {
        if (pr.stop()) return Choice{};
        if (!error_within_tie(e, best)) break;  // the walk only moves away
        if (step == BAND_WALK_STEPS) return std::nullopt;
        if (acc.ok(e)) {
            const Choice c =
                best_split(pr, f.p, f.q, &dp, &dq,
                           chosen->found ? chosen->sum : std::numeric_limits<u64>::max());
            if (better(c, *chosen)) *chosen = c;
        }
        f = walk->next(&e);
        if (f.none_above()) break;
    }
    return *chosen;
}

/// The cascade of the band tied with `best` (and accepted) with the smallest sum; `seed`, a
/// cascade of the band already found (or none), only lets the search stop sooner.
Choice choose_among_ratios(const Problem& pr, const ExactError& best, const Accept& acc,
                           const Choice& seed = Choice{}) {
    const u64 bound = pr.n * pr.n;
    // Without first-stage decimation no overall ratio lies below 1/n.
    const bool floor = !pr.allow;
    const auto place = [&](u64 p, u64 q) {
        if (floor && compare_fractions(p, q, 1, pr.n) < 0) return -1;
        const ExactError e = error_of(pr, p, q);
        if (in_band(e, best, acc)) return 0;
        return side_of_ratio(pr, p, q) < 0 ? -1 : 1;
    };
    const Fraction f0 = simplest_in(bound, place);
    Choice chosen = seed;
    if (f0.none_below()) return chosen;
    std::vector<u64> dp, dq;
    const Choice c0 = best_split(pr, f0.p, f0.q, &dp, &dq);
    if (better(c0, chosen)) chosen = c0;

    // The band's reach on each side of f0: it is [r (1 - band), r (1 + band)], widened by
    // what the roundings of f0 and r in double can hide.
    const double f0v = static_cast<double>(f0.p) / static_cast<double>(f0.q);
    const double r = pr.ratio.approx;
    double band = best.approx + std::ldexp(1.0 + best.approx, ERROR_TIE_EXPONENT);
    band = std::min(band, acc.width());
    const double slack = 4e-16 * std::max(r, f0v);
    double reach_below = (std::max(0.0, (f0v - r) + r * band) + slack) * (1.0 + 1e-6);
    const double reach_above = (std::max(0.0, (r - f0v) + r * band) + slack) * (1.0 + 1e-6);
    double low_value = std::max(0.0, (r - r * band) * (1.0 - 1e-9));
    if (floor) {
        const double lowest = 1.0 / static_cast<double>(pr.n);
        reach_below = std::min(reach_below, (f0v - lowest) * (1.0 + 1e-6) + 1e-18 * f0v);
        low_value = std::max(low_value, lowest * (1.0 - 1e-9));
    }
    // No split of p/q sums to less than 2 sqrt(p) + 2 sqrt(q).
    const auto lower_sum = [&](u64 q) {
        const double qd = static_cast<double>(q);
        return 2.0 * std::sqrt(qd) + 2.0 * std::sqrt(qd * low_value);
    };
    IncreasingDenominators band_fractions(f0, reach_below, reach_above, bound, bound);
    for (;;) {
        if (pr.stop()) return Choice{};
        if (chosen.found &&
            lower_sum(band_fractions.next_q()) > static_cast<double>(chosen.sum) + 1.0) {
            break;
        }
        const Fraction f = band_fractions.next();
        if (f.none_above()) break;
        const ExactError e = error_of(pr, f.p, f.q);
        // Nearer than the smallest error: the walk saw it does not split.
        if (!in_band(e, best, acc) || compare_errors(e, best) < 0) continue;
        const Choice c = best_split(pr, f.p, f.q, &dp, &dq,
                                    chosen.found ? chosen.sum : std::numeric_limits<u64>::max());
        if (better(c, chosen)) chosen = c;
    }
    return chosen;
}

// ---------------------------------------------------------------------------------------
// First stages near the target.
// ---------------------------------------------------------------------------------------

/// Every first stage within match_tolerance of the target (the strict class).
std::vector<Fraction> matching_first_stages(const Problem& pr) {
    std::vector<Fraction> out;
    fractions_between(pr.n, pr.t * (1.0 - 2e-9), pr.t * (1.0 + 2e-9), [&](const Fraction& f) {
        if (valid_first(pr, f.p, f.q) && first_measures(pr, f.p, f.q).im) out.push_back(f);
    });
    return out;
}

/// How a sweep of a walk ended.
struct Swept {
    enum class End {
        steps,   ///< it took the steps it was given
        found,   ///< at a fraction the test could not rule out
        passed,  ///< every fraction left lies beyond the limit, or none is left
    };
    End end = End::steps;
    long long steps = 0;
    Fraction found;
};

/// How much farther from where it began one side of a walk may come than the other
/// before the other is taken.
constexpr double RUN_SLACK = 1.02;

/// The loop of a walk's sweep over its two sides (0 below, 1 above where it began):
/// reach_of(side) says how far a side has come (-1 once it is closed), and take(side, &f)
/// takes the side's next fraction f and says whether the walk's test could not rule it out,
/// which ends the sweep. A side is taken in runs, while it has come no farther than the
/// other one by more than a little: the order of the fractions only matters to the bound.
/// *side is the side taken first, and the one taken last on return.
template <typename ReachOf, typename Take>
Swept sweep_in_runs(int* side, long long max_steps, ReachOf&& reach_of, Take&& take) {
    Swept out;
    double reach[2] = {reach_of(0), reach_of(1)};
    int s = *side;
    while (out.steps < max_steps) {
        if (reach[s] < 0.0 || (reach[1 - s] >= 0.0 && reach[s] > reach[1 - s] * RUN_SLACK)) {
            s = 1 - s;
            if (reach[s] < 0.0) {
                out.end = Swept::End::passed;
                break;
            }
        }
        Fraction f;
        const bool may = take(s, &f);
        ++out.steps;
        reach[s] = reach_of(s);
        if (may) {
            out.end = Swept::End::found;
            out.found = f;
            break;
        }
    }
    *side = s;
    return out;
}

/// Walks the first stages outward from the target, nearest first (give or take the runs
/// of a sweep).
class FirstStageWalk {
public:
    /// Only first stages from lowest to highest (in double, generously) are walked: those
    /// outside have no good enough second stage.
    FirstStageWalk(const Problem& pr, double lowest, double highest)
        : pr_(pr),
          lowest_(pr.allow ? lowest : std::max(lowest, 1.0)),  // none below 1/1 without -a
          highest_(highest),
          walk_(bracket(pr.n,
                        [&](u64 p, u64 q) {
                            const double from =
                                std::clamp(pr.t, lowest_, std::max(lowest_, highest_));
                            return static_cast<double>(p) / static_cast<double>(q) < from;
                        }),
                pr.n) {}

    bool done() const { return !below_alive() && !above_alive(); }

    /// A lower bound on the intermediate error of every first stage not yet returned.
    double bound() const {
        double b = INF;
        if (below_alive()) {
            b = std::min(b, side_bound(walk_.below(), walk_.below_value(), false, &below_));
        }
        if (above_alive()) {
            b = std::min(b, side_bound(walk_.above(), walk_.above_value(), true, &above_));
        }
        return b;
    }

    /// Where the walk began.
    double start() const { return std::clamp(pr_.t, lowest_, std::max(lowest_, highest_)); }

    /// Takes first stages until may_have(s1) holds for one (a first stage that may have a
    /// good enough second stage), every one left lies beyond `limit` (an intermediate
    /// error) or none is left, or max_steps are taken.
    template <typename MayHave>
    Swept sweep(double limit, long long max_steps, MayHave&& may_have) {
        // The intermediate error grows as the first stage leaves the target: values from
        // `from` to `to` (a little inside what the limit allows) are within it for
        // certain, and only the others have theirs worked out.
        const double from = (pr_.target - limit) / pr_.x * (1.0 + 1e-15);
        const double to = (pr_.target + limit) / pr_.x * (1.0 - 1e-15);
        const auto reach_of = [&](int side) {
            if (side == 0) {
                const double value = walk_.below_value();
                return below_alive() && (value >= from || side_error(value, false) <= limit)
                           ? std::max(0.0, start() - value)
                           : -1.0;
            }
            const double value = walk_.above_value();
            return above_alive() && (value <= to || side_error(value, true) <= limit)
                       ? std::max(0.0, value - start())
                       : -1.0;
        };
        return sweep_in_runs(&side_, max_steps, reach_of, [&](int side, Fraction* s1) {
            *s1 = side == 0 ? walk_.take_below() : walk_.take_above();
            return may_have(*s1);
        });
    }

private:
    /// The intermediate error of a first stage of the value given on one side, as
    /// first_measures computes it, and 0 for one still on the other side of the target.
    double side_error(double value, bool above) const {
        const double rate = first_rate_of(pr_, value);
        const bool outside = above ? rate >= pr_.target : rate <= pr_.target;
        return outside && std::isfinite(rate) ? std::fabs(rate - pr_.target) : 0.0;
    }

    bool below_alive() const {
        const Fraction& f = walk_.below();
        return !f.none_below() && valid_first(pr_, f.p, f.q) && walk_.below_value() >= lowest_;
    }
    bool above_alive() const {
        return !walk_.above().none_above() && walk_.above_value() <= highest_;
    }

    /// The bound of one side, computed once for each fraction the side reaches.
    struct SideBound {
        Fraction f{0, 0};
        double bound = 0.0;
    };
    double side_bound(const Fraction& f, double value, bool above, SideBound* cache) const {
        if (cache->f.p != f.p || cache->f.q != f.q) *cache = SideBound{f, side_error(value, above)};
        return cache->bound;
    }

    const Problem& pr_;
    double lowest_;
    double highest_;
    OutwardWalk walk_;
    mutable SideBound below_, above_;
    int side_ = 0;  ///< the side a sweep takes first
};

/// Walks the second stages outward from (output/input) / target: the second stages whose
/// good enough first stages lie nearest the target first.
class SecondStageWalk {
public:
    SecondStageWalk(const Problem& pr, double width)
        : pr_(pr),
          width_(width),
          // Without first-stage decimation the first stages nearest the target are those
          // nearest max(target, 1); no first stage lies above n.
          v_(pr.ratio.approx /
             std::clamp(pr.allow ? pr.t : std::max(pr.t, 1.0), 0.0, static_cast<double>(pr.n))),
          walk_(bracket(pr.n,
                        [&](u64 p, u64 q) {
                            return static_cast<double>(p) / static_cast<double>(q) < v_;
                        }),
                pr.n) {}

    bool done() const { return !below_alive() && !above_alive(); }

    /// A lower bound on the intermediate error of a first stage made good enough by a second
    /// stage not yet returned: such a first stage lies within width of ratio / s2.
    double bound() const {
        double b = INF;
        if (below_alive()) b = std::min(b, below_bound());
        if (above_alive()) b = std::min(b, above_bound());
        return b;
    }

    /// Where the walk began.
    double start() const { return v_; }

    /// Takes second stages as FirstStageWalk::sweep takes first stages; may_have(s2,
    /// first) is told the first stage ratio / s2 too.
    template <typename MayHave>
    Swept sweep(double limit, long long max_steps, MayHave&& may_have) {
        const auto reach_of = [&](int side) {
            if (side == 0) {
                return below_alive() && below_bound() <= limit
                           ? std::max(0.0, first_below() - pr_.t)
                           : -1.0;
            }
            return above_alive() && above_bound() <= limit ? std::max(0.0, pr_.t - first_above())
                                                           : -1.0;
        };
        return sweep_in_runs(&side_, max_steps, reach_of, [&](int side, Fraction* s2) {
            const double first = side == 0 ? first_below() : first_above();
            *s2 = side == 0 ? walk_.take_below() : walk_.take_above();
            return may_have(*s2, first);
        });
    }

private:
    /// The bound of each side alone.
    double below_bound() const {
        return hz(std::max(0.0, first_below() * (1.0 - width_ * 1.01) - pr_.t));
    }
    double above_bound() const {
        return hz(std::max(0.0, pr_.t - first_above() * (1.0 + width_ * 1.01)));
    }
    /// In Hz, less what the roundings of the intermediate rate can take off.
    double hz(double b) const {
        return std::max(0.0, b * pr_.x * (1.0 - 1e-12) - 4.0 * DBL_EPSILON * pr_.target);
    }

    /// The first stage that a second stage s2 asks for, ratio / s2, worked out once for
    /// each fraction a side reaches.
    struct FirstOf {
        Fraction s2{0, 0};
        double first = 0.0;
    };
    double first_of(const Fraction& s2, FirstOf* cache) const {
        if (cache->s2.p != s2.p || cache->s2.q != s2.q) {
            *cache = FirstOf{
                s2, pr_.ratio.approx * static_cast<double>(s2.q) / static_cast<double>(s2.p)};
        }
        return cache->first;
    }
    double first_below() const { return first_of(walk_.below(), &below_); }
    double first_above() const { return first_of(walk_.above(), &above_); }
    /// Second stages below the centre make good enough only first stages above the target,
    /// none above n.
    bool below_alive() const {
        return !walk_.below().none_below() &&
               first_below() * (1.0 - width_ * 1.01) <= static_cast<double>(pr_.n);
    }
    /// Second stages above the centre make good enough only first stages below the target;
    /// without first-stage decimation none below 1/1.
    bool above_alive() const {
        if (walk_.above().none_above()) return false;
        return pr_.allow || first_above() * (1.0 + width_ * 1.01) >= 1.0;
    }

    const Problem& pr_;
    double width_;
    double v_;
    OutwardWalk walk_;
    mutable FirstOf below_, above_;
    int side_ = 0;  ///< the side a sweep takes first
};

/// How far (relatively) from ratio / s2 the first stages that make s2 good enough lie, at
/// most.
double first_reach(const Accept& acc) {
    return acc.width() * (1.0 + 1e-6) + 1e-15;
}

/// Whether no first stage within `reach` (first_reach()) of `centre` (ratio / s2) is good
/// enough, in double where that is sure: false only means that one may be. The cursors
/// follow the first stages.
bool surely_no_first(double reach, double centre, SideCursors* firsts) {
    return firsts->surely_none_between(centre * (1.0 - reach), centre * (1.0 + reach));
}

/// The first stages that make s2 good enough: those within the accepted error of
/// ratio / s2.
template <typename Visit>
void first_stages_for(const Problem& pr, const Fraction& s2, const Accept& acc, SideCursors* firsts,
                      Visit&& visit) {
    const double centre = pr.ratio.approx * static_cast<double>(s2.q) / static_cast<double>(s2.p);
    const double w = first_reach(acc);
    if (surely_no_first(w, centre, firsts)) return;
    fractions_between(pr.n, centre * (1.0 - w), centre * (1.0 + w), [&](const Fraction& f) {
        if (valid_first(pr, f.p, f.q) && acc.ok(error_of(pr, f.p * s2.p, f.q * s2.q))) visit(f);
    });
}

/// Overall ratios the accepted window may hold before the walks below are cheaper.
constexpr std::size_t WINDOW_RATIOS = 4096;
/// Overall ratios to visit (those whose first stages can come as near the target as any)
/// for the window to be read after all when the walks find nothing for a while (cascades
/// the class accepts are rare, so the walks pass over many first stages in vain), and the
/// walk's steps allowed per such ratio before that: a step, a few Farey steps or a
/// continued fraction in double, costs about a fourteenth of what a ratio of a large window
/// costs to read through the sieve (about 30 ns against 0.45 us a ratio to visit, the
/// ratios passed over included).
constexpr std::size_t LARGE_WINDOW_RATIOS = std::size_t{1} << 20;
constexpr double WALK_STEPS_PER_RATIO = 14.0;
/// What a cursor's jump (a continued fraction, where the stages on the other side move by
/// more than a few Farey steps at each step) costs over a step: about 130 ns on top of about
/// 30 ns. A walk that jumps at every step hands over after fewer steps.
constexpr long long JUMP_STEPS = 4;
/// How much faster per step the walk left aside must be to take over from the other.
constexpr double PACE_MARGIN = 1.25;
/// Steps the two walks take in turn before their paces are compared.
constexpr long long PACE_STEPS = 64;
/// Steps a walk takes between looks at the stop request, the pace and the hand-over.
constexpr long long ROUND_STEPS = 64;
/// Steps the walks take alone (about half a millisecond) before the window is read on a
/// second thread, where there is one.
constexpr long long RACE_STEPS = 16384;
/// Ratios to visit few enough for a large window to be read before any walk.
constexpr double FEW_RATIOS = 64.0;

/// About how many overall ratios (fractions of the cut tree at n^2) the class accepts.
double window_ratios(const Problem& pr, const Accept& acc) {
    const double bound = static_cast<double>(pr.n) * static_cast<double>(pr.n);
    const double r = pr.ratio.approx;
    // About 6/pi^2 x bound^2 / max(1, r)^2 fractions per unit near r.
    return 0.61 * bound * bound / std::max(1.0, r * r) * 2.0 * r * acc.width() * (1.0 + 1e-6) +
           1.0;
}

/// Where the first stages of an overall ratio can lie. A cascade a/b -> c/d whose product
/// is the reduced p/q has a c = k p and b d = k q for some k >= 1, so with c, d <= n,
/// a >= p / n and b >= q / n; with a, b <= n the first stage lies in [p / n^2, n^2 / q]
/// (and within a factor n of p/q, the second stage being between 1/n and n; at 1/1 or
/// above when it must not decimate). So a ratio with a large numerator or
/// denominator cannot have a first stage near a small or large target, and since the
/// accepted ratios all lie near output/input, neither can any ratio with a larger
/// denominator: the ratios visited by increasing denominator can stop there.
class FirstStageReach {
public:
    FirstStageReach(const Problem& pr, const Accept& acc)
        : pr_(pr),
          n_(static_cast<double>(pr.n)),
          n2_(n_ * n_),
          // The smallest and largest p/q the class accepts, generously.
          least_ratio_(pr.ratio.approx * (1.0 - (acc.width() * (1.0 + 1e-6) + 1e-15)) *
                       (1.0 - 1e-12)),
          most_ratio_(pr.ratio.approx * (1.0 + (acc.width() * (1.0 + 1e-6) + 1e-15)) *
                      (1.0 + 1e-12)) {}

    /// A lower bound on the intermediate error (in Hz, as first_measures computes it) of
    /// every first stage of a reduced ratio p/q.
    double least_error(double p, double q) const {
        // Also p/q over a second stage between 1/n and n.
        const double ratio = p / q;
        double lowest = std::max(p / n2_, ratio / n_) * (1.0 - 1e-12);
        if (!pr_.allow) lowest = std::max(lowest, 1.0);
        const double highest = std::min(n2_ / q, ratio * n_) * (1.0 + 1e-12);
        return distance_error(lowest, highest);
    }

    /// The same for every accepted ratio with a denominator of q or more (its p/q lies
    /// between the least and the most ratio accepted).
    double least_error_from(double q) const {
        double lowest = std::max(least_ratio_ * q / n2_, least_ratio_ / n_) * (1.0 - 1e-12);
        if (!pr_.allow) lowest = std::max(lowest, 1.0);
        const double highest = std::min(n2_ / q, most_ratio_ * n_) * (1.0 + 1e-12);
        return distance_error(lowest, highest);
    }

    /// About how many of the window's ratios reach as near the target as any ratio can:
    /// those of denominator up to where the reach leaves the target (or 1/1 when the first
    /// stage must not decimate), the count up to a denominator growing as its square.
    double share_near(double window) const {
        // The nearest a first stage can be: between ratio / n and ratio x n.
        const double low = least_ratio_ / n_;
        double t = std::clamp(pr_.t, low, std::max(low, most_ratio_ * n_));
        if (!pr_.allow) t = std::max(t, 1.0);
        // No accepted ratio has p or q above n^2.
        const double q_max = n2_ / std::max(1.0, least_ratio_);
        if (!(t > 0.0)) return window;
        const double q0 = std::min({t * n2_ / least_ratio_, n2_ / t, q_max});
        // window_ratios() counts generously, twice the density of the fractions.
        return 0.5 * window * (q0 / q_max) * (q0 / q_max) + 1.0;
    }

private:
    /// The intermediate error of a first stage within [lowest, highest] at least.
    double distance_error(double lowest, double highest) const {
        double distance = 0.0;
        if (pr_.t < lowest) {
            distance = lowest - pr_.t;
        } else if (pr_.t > highest) {
            distance = pr_.t - highest;
        }
        // Less what the roundings of t, of a/b and of the rate can take off.
        return distance * pr_.x * (1.0 - 1e-12) - 1e-12 * pr_.target;
    }

    const Problem& pr_;
    double n_;
    double n2_;
    double least_ratio_;
    double most_ratio_;
};

/// Windows of at least this many overall ratios (as window_ratios() counts them) are read
/// band by band through a sieve.
constexpr double SIEVED_WINDOW = 2048.0;
/// The primes the sieve divides out: what is left of a value is then 1, a prime, or (from
/// SIEVE_PRIMES^2 on) a product of primes above SIEVE_PRIMES.
constexpr std::uint32_t SIEVE_PRIMES = 4096;
static_assert(SIEVE_PRIMES >= 1626 && SIEVE_PRIMES < 257 * 257,
              "what the sieve leaves below 2^32 is 1, a prime or a product of two primes, "
              "and factorise_sieved() tells the primes it splits from the others by size");

/// Values the sieve takes at a time (whole rows, so more where one row holds more).
constexpr std::size_t SIEVE_CHUNK = std::size_t{1} << 14;

/// Whether what the sieve leaves of a value shows a prime factor above n, at once.
bool rest_shows_large_prime(std::uint32_t rest, u64 n) {
    return rest_shows_prime_above(rest, SIEVE_PRIMES, n);
}

// What is left of a value that shows no prime factor above n at once
// (rest_shows_large_prime()) is told apart from a prime above n by
// primes_without_factors_to_4096(); a product of primes above SIEVE_PRIMES is factored
// with the ratio if it comes to that.
static_assert(SIEVE_PRIMES >= 4096, "primes_without_factors_to_4096() needs the sieve");

/// What the sieve left of the numerator and denominator of a ratio, neither a prime above
/// the limit: 1, a prime within it, or a product of two primes above SIEVE_PRIMES.
struct SievedRests {
    std::uint32_t p = 1;
    std::uint32_t q = 1;
    /// The primes from 256 up the sieve met in each.
    const SievedPrimes* p_met = nullptr;
    const SievedPrimes* q_met = nullptr;
};

/// The factors of a value from what the sieve left of it (nothing known: factorise()).
Factorisation factorise_ratio_term(u64 value, const SievedRests* rests, bool numerator, u64 n) {
    if (rests == nullptr) return factorise(value, n);
    const u64 rest = numerator ? rests->p : rests->q;
    return factorise_sieved(value, rest, rest > 1 && rest <= n, SIEVE_PRIMES, n,
                            numerator ? rests->p_met : rests->q_met);
}

/// Calls visit(f, rests) for every overall ratio the class accepts (they form an interval
/// around output/input, placed exactly; rests null where the ratio was not sieved) until
/// visit returns false or enough(q) says that no ratio with a denominator of q or more is
/// wanted. True when more than max_ratios ratios would be visited (or a stop was
/// requested).
///
/// The ratios other than the simplest one, h/k, are (alpha h + beta h') / (alpha k + beta
/// k') for the rows beta of IncreasingDenominators. A small window is visited by
/// nondecreasing denominator. A large one (sieved) is read in bands of denominators, the
/// first up to n^2 / 64 and then doubling, none beyond what enough() refuses; each band's
/// numerators and denominators are sieved by the primes up to SIEVE_PRIMES along its rows
/// (both are u alpha + v beta), and the ratios whose p or q keeps a prime factor above n
/// are passed over without a visit (the visit only ever finds cascades in ratios without
/// one). The order within a band does not matter: the visit keeps every first stage found
/// and judges them by the nearest at the end. Counting the band's values, half of which
/// are about as many as its ratios, against max_ratios, a band that would pass it is not
/// read.
template <typename Enough, typename Visit>
bool accepted_ratios(const Problem& pr, const Accept& acc, std::size_t max_ratios, bool sieved,
                     Enough&& enough, Visit&& visit) {
    const u64 bound = pr.n * pr.n;
    const double r = pr.ratio.approx;
    const double w = acc.width() * (1.0 + 1e-6) + 1e-15;
    const double lo = r * (1.0 - w);
    const double hi = r * (1.0 + w);
    // Outside [lo, hi] in double is outside the interval; inside, the exact error decides.
    // Well inside the interval the exact error need not be worked out: v and r are within
    // 2^-53 of p/q and output/input, so (v - r) / r is within 4e-16 of the relative error.
    const double sure = acc.width() - 1e-15;
    const auto place = [&](u64 p, u64 q) {
        const double v = static_cast<double>(p) / static_cast<double>(q);
        if (v < lo) return -1;
        if (v > hi) return 1;
        if (std::fabs(v - r) <= sure * r) return 0;
        if (acc.ok(error_of(pr, p, q))) return 0;
        return side_of_ratio(pr, p, q) < 0 ? -1 : 1;
    };
    std::size_t count = 0;
    const auto counted = [&](std::size_t more) {
        count += more;
        return count > max_ratios || pr.stop();
    };
    const Fraction f0 = simplest_in(bound, place);
    if (f0.none_below()) return false;
    if (counted(1)) return true;
    if (!visit(f0, nullptr)) return false;
    // Every other ratio of the interval is within [lo, hi] of f0, give or take roundings.
    const double f0v = value_in_double(f0);
    const double slack = 1e-15 * std::max(f0v, hi);
    IncreasingDenominators by_q(f0, (std::max(0.0, f0v - lo) + slack) * (1.0 + 1e-6),
                                (std::max(0.0, hi - f0v) + slack) * (1.0 + 1e-6), bound, bound);
    if (!sieved) {
        for (;;) {
            if (enough(by_q.next_q())) return false;
            const Fraction f = by_q.next();
            if (f.none_above()) return false;
            if (place(f.p, f.q) != 0) continue;
            if (counted(1)) return true;
            if (!visit(f, nullptr)) return false;
        }
    }
    const u64 n = pr.n;
    const u64 h = f0.p;
    const u64 k = f0.q;
    const std::vector<std::uint32_t> primes = primes_up_to(SIEVE_PRIMES);
    const GridSieve sieves_q[2] = {GridSieve(primes, k, by_q.parent(0).q),
                                   GridSieve(primes, k, by_q.parent(1).q)};
    const GridSieve sieves_p[2] = {GridSieve(primes, h, by_q.parent(0).p),
                                   GridSieve(primes, h, by_q.parent(1).p)};
    std::vector<GridRow> rows, chunk;
    struct Candidate {
        Fraction ratio;
        std::size_t index;
    };
    std::vector<Candidate> candidates;
    std::vector<std::uint32_t> tested;
    std::vector<std::uint8_t> prime;
    std::vector<std::uint32_t> rest_p, rest_q;
    std::vector<SievedPrimes> met_p, met_q;
    // The last q of a band: the first band holds about 1/4096 of the window's ratios (their
    // count grows as q^2), the others double q, none reaching a q that enough() refuses.
    const auto band_end = [&](u64 q_lo) {
        const u64 end = std::min(bound, std::max(bound / 64, 2 * q_lo));
        if (!enough(end)) return end;
        u64 yes = q_lo;  // !enough(q_lo)
        u64 no = end;
        while (no - yes > 1) {
            const u64 mid = yes + (no - yes) / 2;
            (enough(mid) ? no : yes) = mid;
        }
        return yes;
    };
    for (u64 q_lo = k + 1; q_lo <= bound;) {
        if (enough(q_lo)) return false;
        const u64 q_hi = band_end(q_lo);
        for (int side = 0; side < 2; ++side) {
            const Fraction parent = by_q.parent(side);
            rows.clear();
            std::size_t size = 0;
            for (u64 beta = 1;; ++beta) {
                const double least = by_q.least_alpha(side, beta);
                // The least q of the row only grows with beta.
                if (!(least * static_cast<double>(k) + static_cast<double>(beta) *
                                                          static_cast<double>(parent.q) <=
                      static_cast<double>(q_hi))) {
                    break;
                }
                const u64 bq = beta * parent.q;
                const u64 bp = beta * parent.p;
                GridRow row{beta, static_cast<u64>(least), 0, size};
                if (q_lo > bq) row.alpha_lo = std::max(row.alpha_lo, (q_lo - bq + k - 1) / k);
                if (bp <= bound && bq <= q_hi) {
                    row.alpha_hi = std::min((q_hi - bq) / k, (bound - bp) / h);
                }
                if (row.alpha_lo <= row.alpha_hi) {
                    size += static_cast<std::size_t>(row.alpha_hi - row.alpha_lo + 1);
                }
                rows.push_back(row);
                // A band larger than the ratios left to visit is not read.
                if (count + size / 2 > max_ratios || rows.size() > 4 * max_ratios + 64) {
                    return true;
                }
            }
            if (size == 0) continue;
            if (counted(size / 2)) return true;
            // The band is sieved and read a few whole rows at a time, in buffers of about
            // SIEVE_CHUNK values that stay in the cache and are allocated once.
            for (std::size_t first = 0; first < rows.size();) {
                chunk.clear();
                std::size_t values = 0;
                for (; first < rows.size(); ++first) {
                    GridRow row = rows[first];
                    const std::size_t length =
                        row.alpha_lo <= row.alpha_hi
                            ? static_cast<std::size_t>(row.alpha_hi - row.alpha_lo + 1)
                            : 0;
                    if (!chunk.empty() && values + length > SIEVE_CHUNK) break;
                    row.offset = values;
                    chunk.push_back(row);
                    values += length;
                }
                if (values == 0) continue;
                rest_p.resize(values);
                rest_q.resize(values);
                // (No prime met yet: all zero, written at once.)
                static_assert(std::is_trivial_v<SievedPrimes>);
                met_p.resize(values);
                met_q.resize(values);
                std::memset(met_p.data(), 0, values * sizeof(SievedPrimes));
                std::memset(met_q.data(), 0, values * sizeof(SievedPrimes));
                for (const GridRow& row : chunk) {
                    for (u64 a = row.alpha_lo; a <= row.alpha_hi; ++a) {
                        const std::size_t i =
                            row.offset + static_cast<std::size_t>(a - row.alpha_lo);
                        rest_p[i] = static_cast<std::uint32_t>(a * h + row.beta * parent.p);
                        rest_q[i] = static_cast<std::uint32_t>(a * k + row.beta * parent.q);
                    }
                }
                if (pr.stop_now()) return true;
                sieves_q[side].sieve(chunk, &rest_q, &met_q);
                if (pr.stop_now()) return true;
                sieves_p[side].sieve(chunk, &rest_p, &met_p);
                // The ratios of the interval whose p and q show no prime above n at once,
                // then those whose rests are not primes above n (tested together).
                candidates.clear();
                for (const GridRow& row : chunk) {
                    if (pr.stop_now()) return true;
                    for (u64 a = row.alpha_lo; a <= row.alpha_hi; ++a) {
                        const std::size_t i =
                            row.offset + static_cast<std::size_t>(a - row.alpha_lo);
                        if (rest_shows_large_prime(rest_q[i], n) ||
                            rest_shows_large_prime(rest_p[i], n) ||
                            (row.beta != 1 && std::gcd(a, row.beta) != 1)) {
                            continue;
                        }
                        const Fraction f{a * h + row.beta * parent.p, a * k + row.beta * parent.q};
                        if (place(f.p, f.q) != 0) continue;
                        candidates.push_back(Candidate{f, i});
                    }
                }
                for (const bool numerator : {false, true}) {
                    const std::vector<std::uint32_t>& rest = numerator ? rest_p : rest_q;
                    tested.clear();
                    for (const Candidate& c : candidates) {
                        if (rest[c.index] > n) tested.push_back(rest[c.index]);
                    }
                    prime.resize(tested.size());
                    primes_without_factors_to_4096(tested, prime.data());
                    std::size_t kept = 0;
                    std::size_t next = 0;
                    for (const Candidate& c : candidates) {
                        if (rest[c.index] > n && prime[next++]) continue;
                        candidates[kept++] = c;
                    }
                    candidates.resize(kept);
                }
                for (const Candidate& c : candidates) {
                    if (pr.stop()) return true;
                    // What is left of p and q is 1, a prime within the limit or a product
                    // of two primes above SIEVE_PRIMES.
                    const SievedRests rests{rest_p[c.index], rest_q[c.index], &met_p[c.index],
                                            &met_q[c.index]};
                    if (!visit(c.ratio, &rests)) return false;
                }
            }
        }
        q_lo = q_hi + 1;
    }
    return false;
}

/// The first stages nearest the target among the cascades whose overall ratio the class
/// accepts, found from the overall ratios themselves: every such cascade is
/// (p1 g1)/(q1 g2) -> (p2 g2)/(q2 g1) for a reduced p/q = (p1 p2)/(q1 q2) in the window, and
/// for each split the g1/g2 nearest target x q1/p1 is a bracket in the fractions with
/// g1 <= min(n/p1, n/q2), g2 <= min(n/p2, n/q1). The ratios are visited by increasing
/// denominator, and those whose first stages all lie farther from the target than the
/// nearest found (FirstStageReach) are passed over unfactored, which ends the visit once
/// the denominators grow past them. Empty when more than max_ratios accepted ratios would
/// have to be visited (then first stages are plentiful and the walks find them fast).
std::optional<std::vector<Fraction>> nearest_by_ratios(const Problem& pr, const Accept& acc,
                                                       std::size_t max_ratios) {
    const u64 n = pr.n;
    const FirstStageReach reach(pr, acc);
    const double centre = pr.allow ? pr.t : std::max(pr.t, 1.0);
    std::vector<Fraction> found;
    std::vector<double> ies;
    std::vector<u64> dp, dq;
    double best_ie = INF;
    const auto limit = [&] {
        return best_ie + 2e-15 + 16.0 * DBL_EPSILON * pr.target + best_ie * 1e-15;
    };
    const auto enough = [&](u64 q) {
        return reach.least_error_from(static_cast<double>(q)) > limit();
    };
    const bool sieved = window_ratios(pr, acc) >= SIEVED_WINDOW;
    const auto visit = [&](const Fraction& f, const SievedRests* rests) {
        if (reach.least_error(static_cast<double>(f.p), static_cast<double>(f.q)) > limit()) {
            return true;
        }
        // (A sieved q keeps no prime above n that the quick test could see.)
        if (rests == nullptr && has_prime_factor_above(f.q, n)) return true;
        // Each term must split into two within the limit. A sieved term whose rest is a
        // product of two primes above the sieve (above n) needs Pollard's rho: it is
        // factored second, and not at all when the other term does not split.
        const bool q_first = rests != nullptr && rests->p > n && rests->q <= n;
        const auto term = [&](bool numerator, std::vector<u64>* ds) {
            const u64 value = numerator ? f.p : f.q;
            const Factorisation factors = factorise_ratio_term(value, rests, numerator, n);
            if (factors.count < 0) return false;
            unordered_divisors(factors, ds);
            return smallest_pair_sum(value, n, *ds) != 0;
        };
        if (!term(!q_first, q_first ? &dq : &dp) || !term(q_first, q_first ? &dp : &dq)) {
            return true;
        }
        for (const u64 p1 : dp) {
            const u64 p2 = f.p / p1;
            if (p1 > n || p2 > n) continue;
            for (const u64 q1 : dq) {
                const u64 q2 = f.q / q1;
                if (q1 > n || q2 > n) continue;
                const u64 g1_max = std::min(n / p1, n / q2);
                const u64 g2_max = std::min(n / p2, n / q1);
                const Bracket g = bracket(g1_max, g2_max, [&](u64 g1, u64 g2) {
                    return static_cast<double>(p1 * g1) / static_cast<double>(q1 * g2) < centre;
                });
                for (const Fraction& gg : {g.below, g.above}) {
                    if (gg.none_below() || gg.none_above()) continue;
                    u64 a = p1 * gg.p, b = q1 * gg.q;
                    const u64 common = std::gcd(a, b);
                    a /= common;
                    b /= common;
                    if (!valid_first(pr, a, b)) continue;
                    found.push_back(Fraction{a, b});
                    ies.push_back(first_measures(pr, a, b).ie);
                    best_ie = std::min(best_ie, ies.back());
                }
            }
        }
        return true;
    };
    const bool too_many = accepted_ratios(pr, acc, max_ratios, sieved, enough, visit);
    if (pr.cancelled) return std::vector<Fraction>{};
    if (too_many) return std::nullopt;
    std::vector<Fraction> out;
    for (std::size_t i = 0; i < found.size(); ++i) {
        if (ies[i] > limit()) continue;
        const bool seen = std::any_of(out.begin(), out.end(), [&](const Fraction& f) {
            return f.p == found[i].p && f.q == found[i].q;
        });
        if (!seen) out.push_back(found[i]);
    }
    return out;
}

/// The first stages with a second stage that the class accepts, whose intermediate error is
/// tied with the smallest (the final priority's class), found from both ends. With a budget,
/// empty when that many steps found none (the caller then learns whether any exists).
std::optional<std::vector<Fraction>> nearest_first_stages(const Problem& pr, const Accept& acc,
                                                          long long budget = -1) {
    // Past this many steps without an answer (each jump of a cursor counting as
    // JUMP_STEPS more), the window is read instead.
    long long window_after = -1;
    std::size_t late_visits = 0;
    if (std::isfinite(acc.width())) {
        const double window = window_ratios(pr, acc);
        const double near = FirstStageReach(pr, acc).share_near(window);
        // The ratios to visit are estimated from those near the target's distance, which
        // the nearest first stage found can exceed: a window larger than the visits
        // allowed is read only for a few times that many. The walks, where they find
        // first stages at once, are faster still: a large window is read at once only
        // where a few ratios are to be visited.
        const auto visits = [&](std::size_t most) {
            if (window <= static_cast<double>(most) / 2) return most;
            return std::min(most, static_cast<std::size_t>(2.0 * near) + 128);
        };
        if (window <= static_cast<double>(WINDOW_RATIOS) / 2 || near <= FEW_RATIOS) {
            std::optional<std::vector<Fraction>> by_ratios =
                nearest_by_ratios(pr, acc, visits(WINDOW_RATIOS));
            if (by_ratios) return by_ratios;
        }
        if (budget < 0 && near <= static_cast<double>(LARGE_WINDOW_RATIOS) / 2) {
            window_after = static_cast<long long>(near * WALK_STEPS_PER_RATIO);
            late_visits = visits(LARGE_WINDOW_RATIOS);
        }
    }
    // Where a second thread can read the window while the walks go on, it starts after a
    // few steps (most walks end sooner), and the first route to finish answers.
    struct WindowAnswer {
        std::optional<std::vector<Fraction>> nearest;
        bool stopped = false;
    };
    SecondThread<WindowAnswer> window_thread;
    // (Whether the machine has a second core is asked only then: the answer costs
    // microseconds, more than most searches.)
    bool can_race = window_after >= 0 && pr.context->second_thread_allowed();
    bool raced = false;
    const auto start_window_thread = [&] {
        Problem copy = pr;
        copy.polls = 0;
        return window_thread.start(
            [copy, acc, late_visits](const std::atomic<bool>& abandoned) mutable {
                copy.abandoned = &abandoned;
                WindowAnswer answer;
                answer.nearest = nearest_by_ratios(copy, acc, late_visits);
                answer.stopped = copy.cancelled;
                return answer;
            });
    };
    struct Seen {
        Fraction s1;
        double ie;
    };
    std::vector<Seen> seen;
    double best_ie = INF;
    const double margin_base = 2e-15 + 16.0 * DBL_EPSILON * pr.target;
    const auto record = [&](const Fraction& s1) {
        for (const Seen& s : seen) {
            if (s.s1.p == s1.p && s.s1.q == s1.q) return;
        }
        const double ie = first_measures(pr, s1.p, s1.q).ie;
        seen.push_back(Seen{s1, ie});
        best_ie = std::min(best_ie, ie);
    };
    const bool always = !std::isfinite(acc.width());
    // A first stage with a good enough second stage c/d (1/n <= c/d <= n) lies within
    // the accepted error of ratio / (c/d).
    double lowest = 0.0;
    double highest = INF;
    if (!always) {
        const double w = acc.width() * 1.01 + 1e-12;
        const double n = static_cast<double>(pr.n);
        lowest = pr.ratio.approx * (1.0 - w) / n;
        highest = pr.ratio.approx * (1.0 + w) * n;
    }
    FirstStageWalk firsts(pr, lowest, highest);
    std::optional<SecondStageWalk> seconds;
    // The second stages' walk pays where good enough first stages are rare: when the
    // accepted error leaves only a few first stages per second stage.
    const double per_window = static_cast<double>(pr.n) * static_cast<double>(pr.n) * acc.width();
    if (!always && per_window <= 64.0) seconds.emplace(pr, acc.width());
    // The second stages of the first stages walked, and the first stages of the second.
    SideCursors second_cursors(pr.n, pr.ratio.approx / std::max(firsts.start(), 1e-300));
    std::optional<SideCursors> first_cursors;
    if (seconds) first_cursors.emplace(pr.n, pr.ratio.approx / seconds->start());
    long long first_steps = 0;
    long long second_steps = 0;
    bool on_first = true;
    double first_start = 0.0;
    double second_start = 0.0;
    // Whether the second stages around ratio / s1 (or the first stages around ratio / s2)
    // surely leave none good enough, in double.
    const double reach = second_reach(acc);
    const auto may_have_second = [&](const Fraction& s1) {
        return !surely_no_second(pr, s1.p, s1.q, reach, &second_cursors);
    };
    const double first_stages_reach = first_reach(acc);
    const auto may_have_first = [&](const Fraction& /*s2*/, double first) {
        return !surely_no_first(first_stages_reach, first, &*first_cursors);
    };
    for (long long step = 0;;) {
        if (pr.stop()) return std::vector<Fraction>{};
        if (budget >= 0 && step >= budget && seen.empty()) return std::nullopt;
        const auto jumps = [&] {
            return static_cast<long long>(second_cursors.jumps() +
                                          (first_cursors ? first_cursors->jumps() : 0));
        };
        if (window_thread.started() && !raced && window_thread.done()) {
            raced = true;
            WindowAnswer answer = window_thread.take();
            if (answer.stopped) {
                pr.cancelled = true;
                return std::vector<Fraction>{};
            }
            if (answer.nearest) return answer.nearest;
        }
        if (can_race && window_after >= 0 &&
            step + JUMP_STEPS * jumps() >= std::min(window_after, RACE_STEPS)) {
            can_race = false;
            if (start_window_thread()) window_after = -1;
        }
        if (window_after >= 0 && step + JUMP_STEPS * jumps() >= window_after) {
            window_after = -1;
            std::optional<std::vector<Fraction>> by_ratios =
                nearest_by_ratios(pr, acc, late_visits);
            if (by_ratios) return by_ratios;
        }
        const double limit = best_ie + margin_base + best_ie * 1e-15;
        if (firsts.done()) break;
        const double first_bound = firsts.bound();
        if (first_bound > limit) break;
        double second_bound = 0.0;
        if (seconds) {
            if (seconds->done()) break;
            second_bound = seconds->bound();
            if (second_bound > limit) break;
        }
        if (step == 0) {
            first_start = first_bound;
            second_start = second_bound;
        }
        // Either walk's bound ends the search alone: after a few steps of each, the one
        // whose bound grows the faster per step walks on alone. The other takes over only
        // once clearly faster, since the paces of two walks of about the same speed cross
        // back and forth by chance, and walking both would double the steps. (The bounds
        // grow from what the nearest first stage allowed can come to the target.)
        bool take_first = !seconds || step % 2 == 0;
        if (seconds && step >= PACE_STEPS) {
            const double first_pace =
                (first_bound - first_start) * static_cast<double>(second_steps);
            const double second_pace =
                (second_bound - second_start) * static_cast<double>(first_steps);
            if (step == PACE_STEPS) {
                on_first = first_pace >= second_pace;
            } else if (on_first ? second_pace > PACE_MARGIN * first_pace
                                : first_pace > PACE_MARGIN * second_pace) {
                on_first = !on_first;
            }
            take_first = on_first;
        }
        // One step at a time while the walks take turns, then a round of steps, none past
        // the probe's budget or the hand-over.
        long long room = seconds && step < PACE_STEPS ? 1 : ROUND_STEPS;
        if (budget >= 0 && seen.empty()) room = std::min(room, std::max(1LL, budget - step));
        if (window_after >= 0) {
            room = std::min(room, std::max(1LL, window_after - step - JUMP_STEPS * jumps()));
        }
        Swept swept;
        if (take_first) {
            swept = firsts.sweep(limit, room, may_have_second);
            first_steps += swept.steps;
            if (swept.end == Swept::End::found) {
                const Fraction& s1 = swept.found;
                if (always || best_second(pr, s1.p, s1.q, acc).found) record(s1);
            }
        } else {
            swept = seconds->sweep(limit, room, may_have_first);
            second_steps += swept.steps;
            if (swept.end == Swept::End::found) {
                first_stages_for(pr, swept.found, acc, &*first_cursors, record);
            }
        }
        step += swept.steps;
        if (swept.end == Swept::End::passed) break;
    }
    std::vector<Fraction> out;
    const double limit = best_ie + margin_base + best_ie * 1e-15;
    for (const Seen& s : seen) {
        if (s.ie <= limit) out.push_back(s.s1);
    }
    return out;
}

/// The record of a candidate as judge_by_priority reads it.
CascadeRecord leader_record(const Problem& pr, const Fraction& s1, bool final_match) {
    CascadeRecord b = make_empty_record();
    const FirstMeasures m = first_measures(pr, s1.p, s1.q);
    b.found = true;
    b.final_match = final_match;
    b.intermediate_error = m.ie;
    b.intermediate_match = m.im;
    return b;
}

/// The first stages that judge_by_priority puts in the mode order against the one with
/// the smallest intermediate error.
std::vector<Fraction> priority_class(const Problem& pr, const std::vector<Fraction>& firsts,
                                     bool final_match) {
    if (firsts.empty()) return firsts;
    const Fraction* leader = &firsts.front();
    for (const Fraction& f : firsts) {
        if (first_measures(pr, f.p, f.q).ie < first_measures(pr, leader->p, leader->q).ie) {
            leader = &f;
        }
    }
    const CascadeRecord b = leader_record(pr, *leader, final_match);
    std::vector<Fraction> out;
    for (const Fraction& f : firsts) {
        const FirstMeasures m = first_measures(pr, f.p, f.q);
        CandidateMeasures c{};
        c.final_match = final_match;
        c.intermediate_error = m.ie;
        c.intermediate_match = m.im;
        if (judge_by_priority(c, b, pr.judge) == Verdict::mode_order) out.push_back(f);
    }
    return out;
}

AccuracyResult finish(const Problem& pr, const Choice& c) {
    AccuracyResult result;
    if (pr.cancelled) {
        result.status = Status::stopped;
        return result;
    }
    if (!c.found) return result;
    const u64 g1 = std::gcd(c.a, c.b);
    const u64 g2 = std::gcd(c.c, c.d);
    const auto l1 = static_cast<long long>(c.a / g1), m1 = static_cast<long long>(c.b / g1);
    const auto l2 = static_cast<long long>(c.c / g2), m2 = static_cast<long long>(c.d / g2);
    CascadeRecord& b = result.best;
    const double rate = calculate_achieved_output_rate_two(pr.x, l1, m1, l2, m2);
    const FirstMeasures m = first_measures(pr, static_cast<u64>(l1), static_cast<u64>(m1));
    b = CascadeRecord{l1,
                      m1,
                      l2,
                      m2,
                      guarded_product(static_cast<double>(l1) / static_cast<double>(m1),
                                      static_cast<double>(l2) / static_cast<double>(m2)),
                      std::isfinite(rate) ? std::fabs(rate - pr.y) : INF,
                      error_below(c.e, match_tolerance),
                      true,
                      l1 + m1 + l2 + m2,
                      m.rate,
                      m.ie,
                      m.im,
                      0.0,
                      0,
                      0.0};
    result.error = c.e;
    result.status = Status::ok;
    return result;
}

AccuracyResult not_found(const Problem& pr, const std::optional<ExactError>& best) {
    AccuracyResult result;
    if (pr.cancelled) {
        result.status = Status::stopped;
        return result;
    }
    result.status = Status::not_found;
    result.best_error_found = best ? best->approx : std::numeric_limits<double>::quiet_NaN();
    if (best && pr.tolerance && !error_at_most(*best, *pr.tolerance)) {
        result.message = tolerance_miss_message(best->approx, Tolerance{*pr.tolerance});
    } else if (pr.has_target && pr.priority == Priority::strict) {
        result.message = "No first stage within the limit reaches the intermediate target.";
    }
    return result;
}

/// Steps the search for first stages with a matching cascade may take before it asks
/// whether any cascade matches at all.
constexpr long long MATCH_PROBE_STEPS = 256;

/// The final priority (and the balanced one without a cascade that matches both rates).
AccuracyResult search_final(const Problem& pr) {
    // Where matching cascades are plentiful the nearest first stage with one is found in a
    // few steps, which also proves that one exists; otherwise the smallest error of all
    // cascades says whether any matches.
    const Accept matching{true, pr.tolerance};
    std::optional<std::vector<Fraction>> nearest =
        nearest_first_stages(pr, matching, MATCH_PROBE_STEPS);
    bool match = nearest && !nearest->empty();
    std::optional<ExactError> smallest;
    if (!match) {
        if (pr.cancelled) return not_found(pr, std::nullopt);
        smallest = smallest_product_error(pr);
        if (!smallest || (pr.tolerance && !error_at_most(*smallest, *pr.tolerance))) {
            return not_found(pr, smallest);
        }
        match = error_below(*smallest, match_tolerance);
        nearest = nearest_first_stages(pr, Accept{match, pr.tolerance});
    }
    const Accept acc{match, pr.tolerance};
    const std::vector<Fraction> firsts = priority_class(pr, *nearest, match);
    const ClassChoice cc = choose_among(pr, firsts, acc);
    if (cc.choice.found) return finish(pr, cc.choice);
    return not_found(pr, smallest ? smallest : smallest_product_error(pr));
}

}  // namespace

std::string tolerance_miss_message(double best_error, const Tolerance& tolerance) {
    return "No cascade within the limit meets the tolerance of " +
           text::shortest_double(tolerance.relative) +
           " (relative); the most accurate misses by " + text::shortest_double(best_error) +
           ".";
}

AccuracyResult search_best_accuracy(const SearchContext& context, const AccuracyRequest& request) {
    Problem pr;
    pr.context = &context;
    pr.x = request.input_rate_hz;
    pr.y = request.output_rate_hz;
    pr.ratio = ExactRatio::of(pr.x, pr.y);
    pr.n = static_cast<u64>(std::clamp<long long>(request.max_factor, 1, max_factor_limit));
    pr.allow = request.allow_first_stage_decimation;
    if (request.tolerance) pr.tolerance = request.tolerance->relative;
    pr.judge.input_rate_hz = pr.x;
    pr.judge.output_rate_hz = pr.y;
    pr.judge.allow_first_stage_decimation = pr.allow;
    pr.judge.max_factor = static_cast<std::int64_t>(pr.n);
    if (request.intermediate_target) {
        pr.has_target = true;
        pr.target = request.intermediate_target->rate_hz;
        pr.t = pr.target / pr.x;
        pr.priority = request.intermediate_target->priority;
        pr.judge.intermediate_target = request.intermediate_target;
    }
    if (context.stop_requested()) {
        AccuracyResult stopped;
        stopped.status = Status::stopped;
        return stopped;
    }
    const Accept base{false, pr.tolerance};
    switch (pr.has_target ? pr.priority : Priority::ignore) {
    case Priority::strict: {
        const ClassChoice cc = choose_among(pr, matching_first_stages(pr), base);
        if (cc.choice.found) return finish(pr, cc.choice);
        return not_found(pr, cc.any ? std::optional<ExactError>(cc.min_error) : std::nullopt);
    }
    case Priority::balanced: {
        const ClassChoice duals =
            choose_among(pr, matching_first_stages(pr), Accept{true, pr.tolerance});
        if (duals.choice.found) return finish(pr, duals.choice);
        if (pr.cancelled) return not_found(pr, std::nullopt);
        return search_final(pr);
    }
    case Priority::final: return search_final(pr);
    case Priority::ignore:
    default: {
        RatioWalk walk(pr);
        Fraction first;
        const std::optional<ExactError> smallest = smallest_product_error(pr, &walk, &first);
        if (!smallest || !base.ok(*smallest)) return not_found(pr, smallest);
        const Accept acc{error_below(*smallest, match_tolerance), pr.tolerance};
        // Where the smallest error exceeds the tie the band is often a few ratios beyond it
        // and the walk goes on; where it is below, or the walk meets many ratios of the band
        // (output/input near a fraction of small terms, where the band's ratios run down to
        // the smallest denominators it holds), its ratios are visited by increasing
        // denominator until no split of them can have a smaller sum.
        const bool narrow =
            std::ldexp(1.0 + smallest->approx, ERROR_TIE_EXPONENT) <= smallest->approx;
        Choice chosen;
        if (narrow) {
            const std::optional<Choice> walked =
                continue_walk(pr, &walk, first, *smallest, acc, &chosen);
            if (walked) return finish(pr, *walked);
        }
        return finish(pr, choose_among_ratios(pr, *smallest, acc, chosen));
    }
    }
}

}  // namespace quillmere::inline v2::core
