#include "core/rational_walk.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

namespace quillmere::inline v2::core {

Bracket neighbours_near(std::uint64_t bound, double v) {
    // Convergents p0/q0, p1/q1 of v while both terms stay within the bound: neighbours of
    // the cut tree whatever the partial quotients, and so is p1/q1 with the semiconvergent
    // (p0 + k p1) / (q0 + k q1) of the largest k that keeps it within the bound.
    std::uint64_t p0 = 0, q0 = 1, p1 = 1, q1 = 0;
    double x = v;
    for (;;) {
        if (!(x >= 0.0) || !std::isfinite(x)) break;
        const double whole = std::floor(x);
        const std::uint64_t a =
            whole > static_cast<double>(bound) ? bound + 1 : static_cast<std::uint64_t>(whole);
        const std::uint64_t p2 = p0 + a * p1;
        const std::uint64_t q2 = q0 + a * q1;
        if (p2 > bound || q2 > bound) break;
        p0 = p1;
        q0 = q1;
        p1 = p2;
        q1 = q2;
        const double rest = x - whole;
        if (!(rest > 0.0)) break;
        x = 1.0 / rest;
    }
    std::uint64_t k = ~std::uint64_t{0};
    if (p1 != 0) k = (bound - p0) / p1;
    if (q1 != 0) k = std::min(k, (bound - q0) / q1);
    const Fraction last{p1, q1};
    const Fraction semi{p0 + k * p1, q0 + k * q1};
    // The two are in order as their cross products say (they differ by 1).
    if (static_cast<unsigned __int128>(last.p) * semi.q <
        static_cast<unsigned __int128>(semi.p) * last.q) {
        return Bracket{last, semi};
    }
    return Bracket{semi, last};
}

namespace {

/// Every other fraction of the cut tree lies at or below b.below or at or above b.above (they
/// are neighbours), and rounding to double keeps that order.
bool outside_of(double below, double above, double lo, double hi) {
    return below < lo && above > hi;
}

}  // namespace

bool surely_none_between(std::uint64_t bound, double lo, double hi) {
    if (!(lo <= hi) || !std::isfinite(hi)) return false;
    const Bracket b = neighbours_near(bound, lo + (hi - lo) / 2.0);
    return outside_of(value_in_double(b.below), value_in_double(b.above), lo, hi);
}

void NeighbourCursor::jump(double v) {
    set(neighbours_near(bound_, v));
    ++jumps_;
}

namespace {

std::uint64_t inverse_mod(std::uint64_t value, std::uint64_t modulus) {
    __int128 r0 = static_cast<__int128>(modulus), r1 = static_cast<__int128>(value % modulus);
    __int128 s0 = 0, s1 = 1;
    while (r1 != 0) {
        const __int128 k = r0 / r1;
        const __int128 r2 = r0 - k * r1;
        r0 = r1;
        r1 = r2;
        const __int128 s2 = s0 - k * s1;
        s0 = s1;
        s1 = s2;
    }
    __int128 inverse = s0 % static_cast<__int128>(modulus);
    if (inverse < 0) inverse += static_cast<__int128>(modulus);
    return static_cast<std::uint64_t>(inverse);
}

constexpr double NEVER = std::numeric_limits<double>::infinity();

}  // namespace

void stern_brocot_parents(const Fraction& f, Fraction* left, Fraction* right) {
    if (f.q == 1) {
        *left = Fraction{f.p - 1, 1};
        *right = Fraction{1, 0};
        return;
    }
    const std::uint64_t kl = inverse_mod(f.p, f.q);
    *left = Fraction{(f.p * kl - 1) / f.q, kl};
    *right = Fraction{f.p - left->p, f.q - kl};
}

IncreasingDenominators::IncreasingDenominators(const Fraction& f0, double reach_below,
                                               double reach_above, std::uint64_t bound_p,
                                               std::uint64_t bound_q)
    : h_(f0.p), k_(f0.q), bound_p_(bound_p), bound_q_(bound_q) {
    stern_brocot_parents(f0, &parent_[0], &parent_[1]);
    reach_[0] = reach_below;
    reach_[1] = reach_above;
    add_run(0);
    add_run(1);
}

double IncreasingDenominators::first_alpha(int side, std::uint64_t beta) const {
    // beta / (k q) <= reach with q = alpha k + beta k' needs alpha >= (beta / (k reach) -
    // beta k') / k; one less, for the rounding.
    const double k = static_cast<double>(k_);
    const double b = static_cast<double>(beta);
    const double a0 = reach_[side] > 0.0
                          ? (b / (k * reach_[side]) - b * static_cast<double>(parent_[side].q)) / k
                          : NEVER;
    return std::max(1.0, std::floor(a0) - 1.0);
}

double IncreasingDenominators::start_q(int side, std::uint64_t beta) const {
    return first_alpha(side, beta) * static_cast<double>(k_) +
           static_cast<double>(beta) * static_cast<double>(parent_[side].q);
}

void IncreasingDenominators::add_run(int side) {
    const std::uint64_t beta = next_beta_[side]++;
    const double alpha = first_alpha(side, beta);
    const double p = alpha * static_cast<double>(h_) +
                     static_cast<double>(beta) * static_cast<double>(parent_[side].p);
    // Both p and q only grow with beta and alpha.
    if (!(start_q(side, beta) <= static_cast<double>(bound_q_)) ||
        !(p <= static_cast<double>(bound_p_))) {
        beta_done_[side] = true;
        return;
    }
    const auto a = static_cast<std::uint64_t>(alpha);
    heap_.push(Run{a * k_ + beta * parent_[side].q, side, beta, a});
}

void IncreasingDenominators::bring_in() {
    for (;;) {
        const double top = heap_.empty() ? NEVER : static_cast<double>(heap_.top().q);
        bool added = false;
        for (int side = 0; side < 2; ++side) {
            if (!beta_done_[side] && start_q(side, next_beta_[side]) <= top) {
                add_run(side);
                added = true;
            }
        }
        if (!added) return;
    }
}

std::uint64_t IncreasingDenominators::next_q() {
    bring_in();
    return heap_.empty() ? ~std::uint64_t{0} : heap_.top().q;
}

Fraction IncreasingDenominators::next() {
    for (;;) {
        bring_in();
        if (heap_.empty()) return Fraction{1, 0};
        Run run = heap_.top();
        heap_.pop();
        const Fraction& parent = parent_[run.side];
        const std::uint64_t p = run.alpha * h_ + run.beta * parent.p;
        if (p > bound_p_ || run.q > bound_q_) continue;  // the run only grows
        const Fraction f{p, run.q};
        const bool coprime = std::gcd(run.alpha, run.beta) == 1;
        ++run.alpha;
        run.q = run.alpha * k_ + run.beta * parent.q;
        if (run.q <= bound_q_) heap_.push(run);
        if (coprime) return f;
    }
}

int compare_fractions(std::uint64_t p, std::uint64_t q, std::uint64_t r, std::uint64_t s) {
    const unsigned __int128 left = static_cast<unsigned __int128>(p) * s;
    const unsigned __int128 right = static_cast<unsigned __int128>(r) * q;
    return left < right ? -1 : left > right ? 1 : 0;
}

}  // namespace quillmere::inline v2::core
