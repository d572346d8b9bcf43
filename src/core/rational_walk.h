// Walking the fractions p/q with 1 <= p, q <= bound (the Stern-Brocot tree cut at a
// height): the two fractions that bracket a point, found by descending the tree in runs
// as the continued fraction of the point does, and the neighbours of a fraction, found by
// the Farey recurrence. The searches use them on the stages of a cascade (bound: the
// per-stage limit) and on overall ratios (bound: the limit squared).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <queue>
#include <vector>

namespace quillmere::inline v2::core {

/// p/q; 0/1 stands for "none below" and 1/0 for "none above".
struct Fraction {
    std::uint64_t p = 0;
    std::uint64_t q = 1;
    bool none_below() const { return p == 0; }
    bool none_above() const { return q == 0; }
};

/// The value of p/q in double: 0 for "none below", infinity for "none above".
inline double value_in_double(const Fraction& f) {
    return f.q == 0 ? std::numeric_limits<double>::infinity()
                    : static_cast<double>(f.p) / static_cast<double>(f.q);
}

/// Two fractions of the cut tree with none of it between them, the first "below" and the
/// second not.
struct Bracket {
    Fraction below{0, 1};
    Fraction above{1, 0};
};

namespace walk_detail {

/// Largest j with base + j x step within the bounds (at least 1 when base + step is).
inline std::uint64_t steps_within(const Fraction& base, const Fraction& step, std::uint64_t bound_p,
                                  std::uint64_t bound_q) {
    std::uint64_t j = ~std::uint64_t{0};
    if (step.p != 0) j = (bound_p - base.p) / step.p;
    if (step.q != 0 && (bound_q - base.q) / step.q < j) j = (bound_q - base.q) / step.q;
    return j;
}

/// Largest j in [1, last] with holds(j), knowing holds(1) and that holds is true up to some
/// point and false after it: doubling, then halving.
template <typename Holds>
std::uint64_t last_holding(std::uint64_t last, Holds&& holds) {
    std::uint64_t yes = 1;
    std::uint64_t no = last + 1;
    while (yes <= last / 2 && yes * 2 < no) {
        if (!holds(yes * 2)) {
            no = yes * 2;
            break;
        }
        yes *= 2;
    }
    while (no - yes > 1) {
        const std::uint64_t mid = yes + (no - yes) / 2;
        (holds(mid) ? yes : no) = mid;
    }
    return yes;
}

}  // namespace walk_detail

/// The fractions p/q with p <= bound_p and q <= bound_q on either side of the point that
/// `below(p, q)` describes: below(p, q) must be true for every fraction under some value and
/// false for every other. Exact whenever `below` is; O(log^2 bound) calls.
template <typename Below>
Bracket bracket(std::uint64_t bound_p, std::uint64_t bound_q, Below&& below) {
    Fraction lo{0, 1};
    Fraction hi{1, 0};
    for (;;) {
        const Fraction mediant{lo.p + hi.p, lo.q + hi.q};
        if (mediant.p > bound_p || mediant.q > bound_q) return Bracket{lo, hi};
        if (below(mediant.p, mediant.q)) {
            const std::uint64_t j = walk_detail::last_holding(
                walk_detail::steps_within(lo, hi, bound_p, bound_q),
                [&](std::uint64_t k) { return below(lo.p + k * hi.p, lo.q + k * hi.q); });
            lo = Fraction{lo.p + j * hi.p, lo.q + j * hi.q};
        } else {
            const std::uint64_t j = walk_detail::last_holding(
                walk_detail::steps_within(hi, lo, bound_p, bound_q),
                [&](std::uint64_t k) { return !below(hi.p + k * lo.p, hi.q + k * lo.q); });
            hi = Fraction{hi.p + j * lo.p, hi.q + j * lo.q};
        }
    }
}

/// The same within the cut tree: p, q <= bound.
template <typename Below>
Bracket bracket(std::uint64_t bound, Below&& below) {
    return bracket(bound, bound, below);
}

/// The simplest fraction (smallest p and smallest q) of the cut tree inside an interval,
/// or 0/1 when none is: place(p, q) is negative below the interval, 0 inside it and
/// positive above it. Every other fraction inside has a larger p and a larger q.
template <typename Place>
Fraction simplest_in(std::uint64_t bound, Place&& place) {
    Fraction lo{0, 1};
    Fraction hi{1, 0};
    for (;;) {
        const Fraction mediant{lo.p + hi.p, lo.q + hi.q};
        if (mediant.p > bound || mediant.q > bound) return Fraction{0, 1};
        const int where = place(mediant.p, mediant.q);
        if (where == 0) return mediant;
        if (where < 0) {
            const std::uint64_t j = walk_detail::last_holding(
                walk_detail::steps_within(lo, hi, bound, bound),
                [&](std::uint64_t k) { return place(lo.p + k * hi.p, lo.q + k * hi.q) < 0; });
            lo = Fraction{lo.p + j * hi.p, lo.q + j * hi.q};
        } else {
            const std::uint64_t j = walk_detail::last_holding(
                walk_detail::steps_within(hi, lo, bound, bound),
                [&](std::uint64_t k) { return place(hi.p + k * lo.p, hi.q + k * lo.q) > 0; });
            hi = Fraction{hi.p + j * lo.p, hi.q + j * lo.q};
        }
    }
}

// Two neighbours a/b < c/d of the cut tree satisfy bc - ad = 1, and so does the next pair:
// the fraction after c/d is (kc - a) / (kd - b) for the largest k that keeps it within the
// bound, the one before a/b is (ka - c) / (kb - d) likewise. The walks take these steps by
// the hundred thousand, so they are inline.

namespace walk_detail {

/// The largest k with k near - far within the bound (near's terms not 0): mostly 1, which
/// needs no division, since neighbours' denominators (and numerators) sum to more than the
/// bound.
inline std::uint64_t farey_multiple(const Fraction& near, const Fraction& far,
                                    std::uint64_t bound) {
    const std::uint64_t room_q = bound + far.q;
    const std::uint64_t room_p = bound + far.p;
    if (2 * near.q > room_q || 2 * near.p > room_p) return 1;
    return std::min(room_q / near.q, room_p / near.p);
}

}  // namespace walk_detail

/// The next fraction of the cut tree above `upper`, `lower` being the one just below it;
/// 1/0 when upper is the largest.
inline Fraction next_above(const Fraction& lower, const Fraction& upper, std::uint64_t bound) {
    if (upper.q == 0 || upper.p == 0) return Fraction{1, 0};
    const std::uint64_t k = walk_detail::farey_multiple(upper, lower, bound);
    if (k * upper.q <= lower.q || k * upper.p <= lower.p) return Fraction{1, 0};
    return Fraction{k * upper.p - lower.p, k * upper.q - lower.q};
}

/// The next fraction below `lower`, `upper` being the one just above it; 0/1 when lower is
/// the smallest.
inline Fraction next_below(const Fraction& lower, const Fraction& upper, std::uint64_t bound) {
    if (lower.p == 0 || lower.q == 0) return Fraction{0, 1};
    const std::uint64_t k = walk_detail::farey_multiple(lower, upper, bound);
    if (k * lower.p <= upper.p || k * lower.q <= upper.q) return Fraction{0, 1};
    return Fraction{k * lower.p - upper.p, k * lower.q - upper.q};
}

/// Two neighbours of the cut tree at bound (no fraction of it lies between them), found
/// from the continued fraction of v in double, the first below the second: they bracket v
/// unless the roundings of the expansion misled it, which a caller that relies on it
/// checks. About twenty divisions, where bracket() takes some hundred comparisons.
Bracket neighbours_near(std::uint64_t bound, double v);

/// Whether no fraction of the cut tree at bound has its value in double within [lo, hi]
/// (true is certain; false only means that one may).
bool surely_none_between(std::uint64_t bound, double lo, double hi);

/// Two neighbours of the cut tree kept around a point that moves a little at a time (the
/// second stages of a walk's first stages): a few Farey steps follow it, and a longer jump
/// is made by neighbours_near.
class NeighbourCursor {
public:
    NeighbourCursor(std::uint64_t bound, double v) : bound_(bound) {
        set(neighbours_near(bound, v));
    }

    /// Neighbours around v (in double; adjacent whatever the roundings).
    const Bracket& around(double v) {
        // A few steps; a point farther away is reached at once.
        for (int step = 0; step < 8; ++step) {
            if (!pair_.above.none_above() && above_value_ < v) {
                const Fraction next = next_above(pair_.below, pair_.above, bound_);
                pair_.below = pair_.above;
                pair_.above = next;
                below_value_ = above_value_;
                above_value_ = value_in_double(next);
            } else if (!pair_.below.none_below() && below_value_ > v) {
                const Fraction next = next_below(pair_.below, pair_.above, bound_);
                pair_.above = pair_.below;
                pair_.below = next;
                above_value_ = below_value_;
                below_value_ = value_in_double(next);
            } else {
                return pair_;
            }
        }
        jump(v);
        return pair_;
    }

    /// Whether no fraction of the cut tree has its value in double within [lo, hi], as
    /// surely_none_between says, the cursor moved to their middle. (Every other fraction
    /// lies at or beyond one of the pair, and rounding to double keeps that order.)
    bool surely_none_between(double lo, double hi) {
        if (!(lo <= hi) || !std::isfinite(hi)) return false;
        around(lo + (hi - lo) / 2.0);
        return below_value_ < lo && above_value_ > hi;
    }

    /// How many moves were made by neighbours_near rather than by Farey steps (each costs
    /// about what four steps of a walk cost).
    std::uint64_t jumps() const { return jumps_; }

private:
    void jump(double v);
    void set(const Bracket& pair) {
        pair_ = pair;
        below_value_ = value_in_double(pair.below);
        above_value_ = value_in_double(pair.above);
    }

    std::uint64_t bound_;
    Bracket pair_;
    double below_value_ = 0.0;  ///< the values of the pair in double
    double above_value_ = 0.0;
    std::uint64_t jumps_ = 0;
};

/// The fractions of an interval around its simplest fraction f0 = h/k, by increasing
/// denominator: every other fraction of the interval is a descendant of f0 in the
/// Stern-Brocot tree, (alpha h + beta h') / (alpha k + beta k') with alpha, beta >= 1 coprime
/// and h'/k' a parent of f0, and lies beta / (k q) from f0. So for each beta the fractions
/// within the interval form a run of alpha, and the runs are merged in a heap.
class IncreasingDenominators {
public:
    /// reach_below and reach_above: how far the interval extends below and above f0, at
    /// least (a generous bound: candidates outside the interval come too and the caller
    /// checks each one). Fractions beyond the bounds on p and q are left out.
    IncreasingDenominators(const Fraction& f0, double reach_below, double reach_above,
                           std::uint64_t bound_p, std::uint64_t bound_q);

    /// The next candidate after f0 in nondecreasing q, in lowest terms; 1/0 when none is left.
    Fraction next();

    /// A lower bound on the q of every candidate not yet returned; ~0 when none is left.
    std::uint64_t next_q();

    /// The rows the candidates come from, for a caller that takes them in another order:
    /// on side 0 (below f0) and side 1 (above it) the row beta holds the candidates
    /// (alpha h + beta h') / (alpha k + beta k'), h'/k' = parent(side), from alpha =
    /// least_alpha(side, beta) up (infinity when the side has none); least_alpha only
    /// grows with beta.
    const Fraction& parent(int side) const { return parent_[side]; }
    double least_alpha(int side, std::uint64_t beta) const { return first_alpha(side, beta); }

private:
    struct Run {
        std::uint64_t q;
        int side;
        std::uint64_t beta;
        std::uint64_t alpha;
        bool operator>(const Run& o) const { return q > o.q; }
    };
    double first_alpha(int side, std::uint64_t beta) const;
    double start_q(int side, std::uint64_t beta) const;
    void add_run(int side);
    void bring_in();

    std::uint64_t h_, k_, bound_p_, bound_q_;
    Fraction parent_[2];
    double reach_[2];
    std::uint64_t next_beta_[2] = {1, 1};
    bool beta_done_[2] = {false, false};
    std::priority_queue<Run, std::vector<Run>, std::greater<>> heap_;
};

/// The Stern-Brocot parents of h/k (k >= 1): h kl - hl k = 1 and hr k - h kr = 1; 0/1 and
/// 1/0 stand for the tree's ends.
void stern_brocot_parents(const Fraction& f, Fraction* left, Fraction* right);

/// The cut tree walked outward from a bracket, one fraction at a time on either side. The
/// values of the next fractions are kept in double, worked out once each.
class OutwardWalk {
public:
    OutwardWalk(const Bracket& start, std::uint64_t bound)
        : bound_(bound),
          below_(start.below),
          below_up_(start.above),
          above_(start.above),
          above_down_(start.below),
          below_value_(value_in_double(below_)),
          above_value_(value_in_double(above_)) {}

    /// The next fraction down (0/1 when none is left) and up (1/0 when none is left).
    const Fraction& below() const { return below_; }
    const Fraction& above() const { return above_; }
    /// Their values, as value_in_double() gives them.
    double below_value() const { return below_value_; }
    double above_value() const { return above_value_; }

    Fraction take_below() {
        const Fraction f = below_;
        const Fraction next = next_below(below_, below_up_, bound_);
        below_up_ = below_;
        below_ = next;
        below_value_ = value_in_double(below_);
        return f;
    }
    Fraction take_above() {
        const Fraction f = above_;
        const Fraction next = next_above(above_down_, above_, bound_);
        above_down_ = above_;
        above_ = next;
        above_value_ = value_in_double(above_);
        return f;
    }

private:
    std::uint64_t bound_;
    Fraction below_, below_up_, above_, above_down_;
    double below_value_, above_value_;
};

/// Compares p/q with r/s exactly (values below 2^64): -1, 0 or 1.
int compare_fractions(std::uint64_t p, std::uint64_t q, std::uint64_t r, std::uint64_t s);

}  // namespace quillmere::inline v2::core
