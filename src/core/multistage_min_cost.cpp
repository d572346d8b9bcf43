// The many-stage min-cost search.
//
// The candidates. The overall ratio is L/M in lowest terms: without a tolerance the exact
// ratio (the simplest fraction whose relative error is below match_tolerance, which for
// rates given exactly is output/input itself); with a tolerance, the fractions within it
// by increasing M, then L, with no L or M above the exact ratio's (a tolerance simplifies
// the ratio), of which the first WINDOW_LOOKS are looked at and the first RATIO_LIMIT that
// factor within the limit kept. Output = input needs no stage at all. A plan of k stages
// factors it: L = l1 ... lk and M = m1 ... mk with every li, mi within the per-stage limit
// and no stage 1/1 (a pass-through is dropped, not counted). Each stage is then in lowest
// terms (li divides L and mi divides M, and L and M are coprime). Without first-stage
// decimation l1 >= m1.
//
// The order (the min-cost order of the two-stage search, with the stage count): the plan
// with the fewest MAC/s found over all candidates is the reference; among the plans whose
// price ties with it (cost_model::macs_tied), the fewest coefficients, then the fewest
// stages, then the smallest sum of every L and M, then the smallest error, then the first
// in lexicographic order of (l1, m1, l2, m2, ...). Ties are judged against the reference,
// never pairwise, so the order of the search cannot decide. With an intermediate target
// (two stages only) the priority comes first, exactly as judge_by_priority applies it.
//
// Why it is exact and fast. The stages' factors are divisors of L and M, so a partial plan
// is known by what is left to factor (L', M') and the stages still to place; the rate
// there is input x (L/L') / (M/M'). For every such state the search keeps the least the
// rest can cost by the pricer's floor (for the Kaiser estimate the continuous length
// D U / transition + 1 with the smallest design attenuation, which never exceeds the
// priced length) and the most the rest can add to the grain (the sum of output rate / L
// that a tie allows twice over): a table of (divisors of L) x (divisors of M) x (stages
// left), filled once, and shared by the stage counts whose designs the pricer floors
// alike. A stage's floor depends on its lower rate through terms (the transition and its
// length factor) worked out once per state. A depth-first search over the stages prunes
// every partial plan whose floor exceeds the best price found, then, in a second pass,
// every one whose floor cannot tie with the reference (with (1 - 1 %) of its MAC/s above
// the reference plus twice the larger grain) or whose coefficient floor exceeds the best
// tied plan's coefficients; the stages a bound rules out are dropped before the rest are
// sorted. Every plan it keeps is priced by the pricer itself, so the figures are those
// estimate_cost reports. Audio ratios have a few dozen divisors: the table has a few
// thousand entries and the search prices a few dozen plans.
#include "core/multistage_min_cost.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <numeric>

#include "core/candidate.h"
#include "core/factoring.h"
#include "core/rational_walk.h"

namespace quillmere::inline v2::core {

namespace {

using u64 = std::uint64_t;
constexpr int MAX_STAGES = 4;
constexpr double INF = std::numeric_limits<double>::infinity();
/// Overall ratios a tolerance lets the search consider: the simplest that factor.
constexpr std::size_t RATIO_LIMIT = 8;
/// Fractions of the tolerance window looked at to find them.
constexpr int WINDOW_LOOKS = 4096;
/// Largest overall L or M considered (a product of four factors up to 65535 may exceed
/// the 64-bit arithmetic of the walks).
constexpr u64 HEIGHT_LIMIT = u64{1} << 62;

/// One plan of up to four stages.
struct Plan {
    bool found = false;
    int count = 0;
    /// Stages 1/1 among them (only the seed has any): not counted as stages.
    int pass_through = 0;
    /// The plan given as the seed.
    bool seed = false;
    u64 l[MAX_STAGES] = {0, 0, 0, 0};
    u64 m[MAX_STAGES] = {0, 0, 0, 0};
    cost_model::Price price;
    ExactError error;
    u64 sum = 0;
};

/// The order among tied prices: coefficients, stages, sum, error, lexicographic.
bool better_among_tied(const Plan& a, const Plan& b) {
    if (!b.found) return a.found;
    if (!a.found) return false;
    if (a.price.coefficients != b.price.coefficients) {
        return a.price.coefficients < b.price.coefficients;
    }
    if (a.count - a.pass_through != b.count - b.pass_through) {
        return a.count - a.pass_through < b.count - b.pass_through;
    }
    if (a.sum != b.sum) return a.sum < b.sum;
    const int by_error = compare_errors(a.error, b.error);
    if (by_error != 0) return by_error < 0;
    for (int i = 0; i < a.count; ++i) {
        if (a.l[i] != b.l[i]) return a.l[i] < b.l[i];
        if (a.m[i] != b.m[i]) return a.m[i] < b.m[i];
    }
    return false;
}

/// A divisor of a divisor: its index, and the index of the quotient (what it leaves).
struct SubDivisor {
    std::uint32_t index;
    std::uint32_t rest;
};

/// An overall ratio L/M with its divisors.
struct Ratio {
    u64 p = 1, q = 1;
    ExactError error;
    std::vector<u64> dp, dq;            ///< divisors, increasing
    std::vector<int> omega_p, omega_q;  ///< their prime factors counted with multiplicity
    /// For each divisor, its own divisors within the limit, increasing.
    std::vector<std::vector<SubDivisor>> sub_p, sub_q;
};

void divisors_of_divisors(const std::vector<u64>& d, u64 n,
                          std::vector<std::vector<SubDivisor>>* sub) {
    sub->assign(d.size(), {});
    for (std::size_t i = 0; i < d.size(); ++i) {
        for (std::size_t j = 0; j <= i && d[j] <= n; ++j) {
            if (d[i] % d[j] != 0) continue;
            const auto rest = std::lower_bound(d.begin(), d.end(), d[i] / d[j]) - d.begin();
            (*sub)[i].push_back(
                SubDivisor{static_cast<std::uint32_t>(j), static_cast<std::uint32_t>(rest)});
        }
    }
}

bool factor_ratio(u64 p, u64 q, u64 n, Ratio* ratio) {
    const Factorisation fp = factorise(p, n);
    if (fp.count < 0) return false;
    const Factorisation fq = factorise(q, n);
    if (fq.count < 0) return false;
    ratio->p = p;
    ratio->q = q;
    divisors(fp, &ratio->dp);
    divisors(fq, &ratio->dq);
    const auto omega = [](const Factorisation& f, u64 d) {
        int count = 0;
        for (int i = 0; i < f.count; ++i) {
            while (d % f.factors[i].prime == 0) {
                d /= f.factors[i].prime;
                ++count;
            }
        }
        return count;
    };
    for (const u64 d : ratio->dp) ratio->omega_p.push_back(omega(fp, d));
    for (const u64 d : ratio->dq) ratio->omega_q.push_back(omega(fq, d));
    divisors_of_divisors(ratio->dp, n, &ratio->sub_p);
    divisors_of_divisors(ratio->dq, n, &ratio->sub_q);
    return true;
}

struct Problem {
    const SearchContext* context = nullptr;
    const CascadePricer* pricer = nullptr;
    double x = 0.0;
    u64 n = 1;
    bool allow = true;
    FilterSpec filter;
    ExactRatio exact;
    mutable u64 polls = 0;
    mutable bool cancelled = false;

    bool stop() const {
        if (!cancelled && (++polls & 255) == 0) cancelled = context->stop_requested();
        return cancelled;
    }
};

/// The plans of one overall ratio with a given number of stages.
class Factorings {
public:
    Factorings(const Problem& pr, const Ratio& ratio, int count)
        : pr_(pr), ratio_(ratio), count_(count), columns_(ratio.dq.size()) {
        const std::size_t states = ratio.dp.size() * columns_ * (MAX_STAGES + 1);
        rates_.resize(ratio.dp.size() * columns_);
        for (std::size_t ip = 0; ip < ratio.dp.size(); ++ip) {
            for (std::size_t iq = 0; iq < columns_; ++iq) {
                // Input x (L / L') / (M / M').
                const u64 done_p = ratio.p / ratio.dp[ip];
                const u64 done_q = ratio.q / ratio.dq[iq];
                rates_[ip * columns_ + iq] =
                    pr.x * (static_cast<double>(done_p) / static_cast<double>(done_q));
            }
        }
        table_ = std::make_shared<std::vector<Floors>>(states);
        terms_.resize(rates_.size());
        has_terms_.assign(rates_.size(), 0);
        const double out = pr.x * (static_cast<double>(ratio.p) / static_cast<double>(ratio.q));
        usable_ = cost_model::resolve_design(pr.x, out, count, pr.filter, &design_) ==
                  cost_model::Refusal::none;
        // Every plan factors L/M in lowest terms, so its leaks are the ratio's own (see
        // coinciding_leaks: one path to each line, both signs of a tone meeting when M > 1
        // and L >= 4): those of the single stage L/M.
        const Stage whole{static_cast<std::int64_t>(ratio.p), static_cast<std::int64_t>(ratio.q)};
        leaks_ = cost_model::coinciding_leaks(&whole, 1);
    }

    /// Takes the floor table of another stage count of the same ratio when the pricer
    /// floors both designs alike (the table depends on nothing else: the stages left are
    /// part of the state); false when it does not.
    bool share_floors(const Factorings& other) {
        if (&other.ratio_ != &ratio_ || !usable_ || !other.usable_ ||
            !pr_.pricer->same_floors(design_, other.design_)) {
            return false;
        }
        table_ = other.table_;
        return true;
    }

    /// Lowers best to the cheapest plan (by MAC/s) when one is cheaper.
    void cheapest(Plan* best) {
        if (!usable_) return;
        best_ = best;
        mode_ = Mode::cheapest;
        descend(0, ratio_.dp.size() - 1, columns_ - 1, 0.0, 0.0, 0.0);
    }

    /// Lowers best to a plan tied with the reference that comes first in the tie order.
    void tied(const cost_model::Price& reference, double macs_limit, Plan* best) {
        if (!usable_) return;
        best_ = best;
        mode_ = Mode::tied;
        reference_ = reference;
        macs_limit_ = macs_limit;
        descend(0, ratio_.dp.size() - 1, columns_ - 1, 0.0, 0.0, 0.0);
    }

private:
    enum class Mode { cheapest, tied };

    /// What the stages still to place from a state can cost at least (MAC/s and
    /// coefficients) and add to the grain at most; macs < 0 until filled.
    struct Floors {
        double macs = -1.0;
        double coefficients = -1.0;
        double grain = -INF;
    };

    /// A stage the descent may place next, ordered by the key, with the floors of the
    /// partial plan it makes (and the grain).
    struct Next {
        double key;
        u64 l, m;
        std::size_t np, nq;
        double macs, coefficients, grain;
    };

    std::size_t state(std::size_t ip, std::size_t iq, int left) const {
        return (ip * columns_ + iq) * (MAX_STAGES + 1) + static_cast<std::size_t>(left);
    }

    /// The rate where L' and M' are left.
    double rate(std::size_t ip, std::size_t iq) const { return rates_[ip * columns_ + iq]; }

    /// Calls step(l, m, next ip, next iq) for every stage that may come next, by L, then M.
    template <typename Step>
    void for_each_stage(std::size_t ip, std::size_t iq, int left, bool first, Step&& step) const {
        const bool by_rule = first && count_ > 1 && !pr_.allow;
        if (left == 1) {
            // The last stage takes what is left: L' / M', within the limit and not 1/1.
            const u64 l = ratio_.dp[ip];
            const u64 m = ratio_.dq[iq];
            if (l > pr_.n || m > pr_.n || (l == 1 && m == 1) || (by_rule && l < m)) return;
            step(l, m, std::size_t{0}, std::size_t{0});
            return;
        }
        const std::vector<SubDivisor>& subs_q = ratio_.sub_q[iq];
        for (const SubDivisor a : ratio_.sub_p[ip]) {
            const u64 l = ratio_.dp[a.index];
            const int omega_p = ratio_.omega_p[a.rest];
            for (const SubDivisor b : subs_q) {
                const u64 m = ratio_.dq[b.index];
                if (l == 1 && m == 1) continue;
                if (by_rule && l < m) continue;
                if (omega_p + ratio_.omega_q[b.rest] < left - 1) {
                    continue;  // too few prime factors left for the stages still to place
                }
                step(l, m, std::size_t{a.rest}, std::size_t{b.rest});
            }
        }
    }

    StageFloor stage_floor(std::size_t ip, std::size_t iq, std::size_t np, std::size_t nq,
                           u64 l) {
        const double in = rate(ip, iq);
        const double out = rate(np, nq);
        // The pricer's terms of the lower rate (min(in, out) as std::min takes it), worked
        // out the first time a state's rate is the lower one.
        const std::size_t lower = out < in ? np * columns_ + nq : ip * columns_ + iq;
        if (!has_terms_[lower]) {
            terms_[lower] = pr_.pricer->lower_rate_terms(design_, rates_[lower], leaks_);
            has_terms_[lower] = 1;
        }
        return pr_.pricer->stage_floor_with(design_, in, out, static_cast<std::int64_t>(l),
                                            terms_[lower]);
    }

    /// The least the stages still to place can cost from a state (MAC/s and coefficients),
    /// and the most their grain (the sum of output rate / L) can be: filled the first time
    /// a state is reached.
    const Floors& floors(std::size_t ip, std::size_t iq, int left) {
        const Floors& at = (*table_)[state(ip, iq, left)];
        if (at.macs < 0.0) fill(ip, iq, left);
        return at;
    }

    void fill(std::size_t ip, std::size_t iq, int left) {
        double best_macs = INF;
        double best_coefficients = INF;
        double most_grain = -INF;
        if (left == 0) {
            if (ip == 0 && iq == 0) best_macs = best_coefficients = most_grain = 0.0;
        } else {
            for_each_stage(ip, iq, left, false, [&](u64 l, u64, std::size_t np, std::size_t nq) {
                const Floors& rest = floors(np, nq, left - 1);
                if (!std::isfinite(rest.macs)) return;
                most_grain = std::max(most_grain, stage_grain(np, nq, l) + rest.grain);
                // A stage's floors are not below 0: this one lowers neither floor.
                if (rest.macs >= best_macs && rest.coefficients >= best_coefficients) return;
                const StageFloor f = stage_floor(ip, iq, np, nq, l);
                best_macs = std::min(best_macs, f.macs_per_second + rest.macs);
                best_coefficients = std::min(best_coefficients, f.coefficients + rest.coefficients);
            });
        }
        Floors& at = (*table_)[state(ip, iq, left)];
        at.macs = best_macs;
        at.coefficients = best_coefficients;
        at.grain = most_grain;
    }

    /// What a stage to the rate where (np, nq) are left adds to the grain.
    double stage_grain(std::size_t np, std::size_t nq, u64 l) const {
        return rate(np, nq) / static_cast<double>(l);
    }

    /// Whether no plan through a partial one can tie with the reference. A tied plan has
    /// |a - ref| <= tol max(a, ref) + 2 max(its grain, ref's grain); a plan with
    /// (1 - tol) a above ref + 2 max(grains) costs more than that. Its MAC/s are at least
    /// the floor, its grain at most what was placed plus the rest's ceiling (a part in
    /// 10^9 above, for the roundings of the rates).
    bool cannot_tie(double macs_floor, double grain_ceiling) const {
        const double grain = std::max(reference_.macs_grain, grain_ceiling * (1.0 + 1e-9));
        return (1.0 - cost_model::macs_tie_tolerance) * macs_floor >
               (reference_.macs_per_second + 2.0 * grain) * (1.0 + 1e-9);
    }

    void descend(int depth, std::size_t ip, std::size_t iq, double macs, double coefficients,
                 double grain) {
        if (pr_.stop()) return;
        const int left = count_ - depth;
        const Floors& rest = floors(ip, iq, left);
        if (!std::isfinite(rest.macs)) return;
        if (pruned(macs + rest.macs, coefficients + rest.coefficients, grain + rest.grain)) return;
        if (left == 0) {
            price_leaf();
            return;
        }
        // The most promising stages first (the least floor of what they lead to: MAC/s in
        // the first pass, coefficients in the second), so that the bounds tighten early.
        // Those the bounds already rule out are left out (the bounds only tighten, so the
        // next state would rule them out too).
        std::vector<Next>& nexts = nexts_[static_cast<std::size_t>(depth)];
        nexts.clear();
        for_each_stage(ip, iq, left, depth == 0, [&](u64 l, u64 m, std::size_t np, std::size_t nq) {
            const Floors& after = floors(np, nq, left - 1);
            if (!std::isfinite(after.macs)) return;
            const double next_grain = grain + stage_grain(np, nq, l);
            // Ruled out even if the stage cost nothing: its floor need not be worked out.
            if (pruned(macs + after.macs, coefficients + after.coefficients,
                       next_grain + after.grain)) {
                return;
            }
            const StageFloor f = stage_floor(ip, iq, np, nq, l);
            Next n{0.0, l, m, np, nq, macs + f.macs_per_second, coefficients + f.coefficients,
                   next_grain};
            if (pruned(n.macs + after.macs, n.coefficients + after.coefficients,
                       n.grain + after.grain)) {
                return;
            }
            n.key = mode_ == Mode::cheapest ? f.macs_per_second + after.macs
                                            : f.coefficients + after.coefficients;
            nexts.push_back(n);
        });
        std::sort(nexts.begin(), nexts.end(),
                  [](const Next& a, const Next& b) { return a.key < b.key; });
        for (const Next& n : nexts) {
            plan_l_[depth] = n.l;
            plan_m_[depth] = n.m;
            descend(depth + 1, n.np, n.nq, n.macs, n.coefficients, n.grain);
        }
    }

    /// Whether the bounds rule out every plan through a partial one whose MAC/s,
    /// coefficients and grain are bounded so: in the first pass, a floor above the
    /// cheapest plan found; in the second, one that cannot tie with the reference or has
    /// more coefficients than the best tied plan found.
    bool pruned(double macs_floor, double coefficient_floor, double grain_ceiling) const {
        if (mode_ == Mode::cheapest) {
            return best_->found && macs_floor > best_->price.macs_per_second;
        }
        if (macs_floor > macs_limit_) return true;
        if (cannot_tie(macs_floor, grain_ceiling)) return true;
        return best_->found && coefficient_floor > static_cast<double>(best_->price.coefficients);
    }

    void price_leaf() {
        Stage stages[MAX_STAGES];
        Plan plan;
        plan.found = true;
        plan.count = count_;
        for (int i = 0; i < count_; ++i) {
            stages[i] = Stage{static_cast<std::int64_t>(plan_l_[i]),
                              static_cast<std::int64_t>(plan_m_[i])};
            plan.l[i] = plan_l_[i];
            plan.m[i] = plan_m_[i];
            plan.sum += plan_l_[i] + plan_m_[i];
        }
        if (pr_.pricer->price(pr_.x, stages, static_cast<std::size_t>(count_), pr_.filter,
                              &plan.price, &memo_) != cost_model::Refusal::none) {
            return;
        }
        plan.error = ratio_.error;
        if (mode_ == Mode::cheapest) {
            // Of equal prices the first in the tie order is the reference.
            if (!best_->found || plan.price.macs_per_second < best_->price.macs_per_second ||
                (plan.price.macs_per_second == best_->price.macs_per_second &&
                 better_among_tied(plan, *best_))) {
                *best_ = plan;
            }
        } else if (cost_model::macs_tied(plan.price, reference_) &&
                   better_among_tied(plan, *best_)) {
            *best_ = plan;
        }
    }

    const Problem& pr_;
    const Ratio& ratio_;
    int count_;
    std::size_t columns_;  ///< divisors of M
    bool usable_ = false;
    cost_model::Design design_;
    double leaks_ = 1.0;  ///< the coinciding leaks of every plan of the ratio
    std::vector<double> rates_;            ///< the rate where L' and M' are left
    std::vector<LowerRateTerms> terms_;    ///< the pricer's terms of each rate
    cost_model::DesignMemo memo_;          ///< the design the plans are priced with
    std::vector<char> has_terms_;          ///< whether terms_ holds them yet
    std::vector<Next> nexts_[MAX_STAGES];  ///< the stages to try at each depth
    /// The floor table, shared with the other stage counts of the ratio whose floors are
    /// the same.
    std::shared_ptr<std::vector<Floors>> table_;
    u64 plan_l_[MAX_STAGES] = {0, 0, 0, 0};
    u64 plan_m_[MAX_STAGES] = {0, 0, 0, 0};
    Mode mode_ = Mode::cheapest;
    Plan* best_ = nullptr;
    cost_model::Price reference_;
    double macs_limit_ = INF;
};

/// Every price tied with the reference is below this: tied means
/// |a - ref| <= 1 % max(a, ref) + 2 max(grains); a plan's grain, the sum of output rate /
/// L over its stages, is at most its MAC/s / D (a stage has at least D non-zero taps per
/// phase and more, D the pricer's least_taps), so a <= ref / (0.99 - 2 / D) when its grain
/// is the larger, and a <= (ref + 2 ref grain) / 0.99 otherwise.
double tied_limit(const cost_model::Price& reference, const CascadePricer& pricer,
                  const cost_model::Design& design) {
    const double d = pricer.least_taps(design);
    const double tol = cost_model::macs_tie_tolerance;
    double limit = (reference.macs_per_second + 2.0 * reference.macs_grain) / (1.0 - tol);
    if (d > 0.0 && 1.0 - tol - 2.0 / d > 0.0) {
        limit = std::max(limit, reference.macs_per_second / (1.0 - tol - 2.0 / d));
    } else {
        limit = INF;
    }
    return limit * (1.0 + 1e-9);
}

/// The overall ratios the search factors.
std::vector<Ratio> candidate_ratios(const Problem& pr, const std::optional<Tolerance>& tolerance,
                                    u64 height, std::string* why) {
    std::vector<Ratio> out;
    const double width = tolerance ? tolerance->relative : match_tolerance;
    const auto inside = [&](u64 p, u64 q) {
        const ExactError e = exact_error(pr.exact, p, q);
        return tolerance ? error_at_most(e, width) : error_below(e, width);
    };
    const auto place = [&](u64 p, u64 q) {
        if (inside(p, q)) return 0;
        return compare(Wide::of(pr.exact.b) * p, Wide::of(pr.exact.a) * q) < 0 ? -1 : 1;
    };
    const Fraction f0 = simplest_in(height, place);
    if (f0.none_below()) {
        *why = "No ratio L/M with L and M up to " + std::to_string(height) +
               " is within the tolerance.";
        return out;
    }
    Ratio first;
    if (factor_ratio(f0.p, f0.q, pr.n, &first)) {
        first.error = exact_error(pr.exact, f0.p, f0.q);
        out.push_back(std::move(first));
    }
    if (!tolerance) {
        if (out.empty()) {
            *why = "The ratio " + std::to_string(f0.p) + "/" + std::to_string(f0.q) +
                   " has a prime factor above the limit of " + std::to_string(pr.n) +
                   "; a tolerance lets a nearby ratio be used.";
        }
        return out;
    }
    // A tolerance trades accuracy for simpler ratios: none with a larger L or M than the
    // exact ratio's (the simplest within the tighter of the tolerance and match_tolerance).
    // Larger ones would only move the rates between the stages, which the Kaiser price
    // hardly sees, for filters many times as long.
    if (width > match_tolerance) {
        const Fraction exact_ratio = simplest_in(height, [&](u64 p, u64 q) {
            if (error_below(exact_error(pr.exact, p, q), match_tolerance)) return 0;
            return compare(Wide::of(pr.exact.b) * p, Wide::of(pr.exact.a) * q) < 0 ? -1 : 1;
        });
        if (!exact_ratio.none_below())
            height = std::min(height, std::max(exact_ratio.p, exact_ratio.q));
    } else {
        height = std::min(height, std::max(f0.p, f0.q));
    }
    const double r = pr.exact.approx;
    const auto consider = [&](u64 p, u64 q) {
        Ratio ratio;
        if (!factor_ratio(p, q, pr.n, &ratio)) return;
        ratio.error = exact_error(pr.exact, p, q);
        out.push_back(std::move(ratio));
    };
    // The window's fractions after f0 in order of M, then L, up to WINDOW_LOOKS of them.
    int looks = 1;
    if (2.0 * width * r * static_cast<double>(f0.q) >= 0.125) {
        // A wide window has fractions at almost every M: take M in turn.
        const double lo = r * (1.0 - width) * (1.0 - 1e-12);
        const double hi = r * (1.0 + width) * (1.0 + 1e-12);
        for (u64 q = f0.q; q <= height && looks < WINDOW_LOOKS && out.size() < RATIO_LIMIT; ++q) {
            if (pr.stop()) break;
            if (lo * static_cast<double>(q) > static_cast<double>(height)) break;  // L too large
            const double from = std::max(1.0, std::ceil(lo * static_cast<double>(q)));
            const double to =
                std::min(static_cast<double>(height), std::floor(hi * static_cast<double>(q)));
            for (double pd = from; pd <= to && looks < WINDOW_LOOKS && out.size() < RATIO_LIMIT;
                 ++pd) {
                const auto p = static_cast<u64>(pd);
                if ((p == f0.p && q == f0.q) || std::gcd(p, q) != 1 || !inside(p, q)) continue;
                ++looks;
                consider(p, q);
            }
        }
    } else {
        // A narrow one has few: its fractions by increasing M, those of one M by L.
        const double f0v = static_cast<double>(f0.p) / static_cast<double>(f0.q);
        const double slack = 4e-16 * std::max(r, f0v);
        const double below = (std::max(0.0, (f0v - r) + r * width) + slack) * (1.0 + 1e-6);
        const double above = (std::max(0.0, (r - f0v) + r * width) + slack) * (1.0 + 1e-6);
        IncreasingDenominators window(f0, below, above, height, height);
        std::vector<Fraction> batch;
        while (looks < WINDOW_LOOKS && out.size() < RATIO_LIMIT) {
            if (pr.stop()) break;
            batch.clear();
            const u64 q = window.next_q();
            if (q == ~u64{0}) break;
            while (window.next_q() == q) {
                const Fraction f = window.next();
                if (f.none_above()) break;
                if (inside(f.p, f.q)) batch.push_back(f);
            }
            std::sort(batch.begin(), batch.end(),
                      [](const Fraction& a, const Fraction& b) { return a.p < b.p; });
            for (const Fraction& f : batch) {
                if (looks >= WINDOW_LOOKS || out.size() >= RATIO_LIMIT) break;
                ++looks;
                consider(f.p, f.q);
            }
        }
    }
    if (out.empty()) {
        *why = "No ratio within the tolerance factors into stages within the limit of " +
               std::to_string(pr.n) + ".";
    }
    return out;
}

/// The measures of a two-stage plan that the priority reads.
CandidateMeasures target_measures(const Problem& pr, const Plan& plan,
                                  const IntermediateTarget& target) {
    CandidateMeasures measures;
    const double rate =
        guarded_product(pr.x, static_cast<double>(plan.l[0]) / static_cast<double>(plan.m[0]));
    measures.final_match = error_below(plan.error, match_tolerance);
    measures.intermediate_error = std::fabs(rate - target.rate_hz);
    measures.intermediate_match = relative_error(rate, target.rate_hz) < match_tolerance;
    return measures;
}

/// Two stages with an intermediate target: every plan and the seed, the priority first.
Plan with_target(const Problem& pr, const std::vector<Ratio>& ratios,
                 const IntermediateTarget& target, const Plan& seed) {
    struct Measured {
        Plan plan;
        CandidateMeasures measures;
    };
    std::vector<Measured> all;
    cost_model::DesignMemo memo;
    if (seed.found) all.push_back(Measured{seed, target_measures(pr, seed, target)});
    for (const Ratio& ratio : ratios) {
        for (const u64 l1 : ratio.dp) {
            const u64 l2 = ratio.p / l1;
            if (l1 > pr.n || l2 > pr.n) continue;
            for (const u64 m1 : ratio.dq) {
                const u64 m2 = ratio.q / m1;
                if (m1 > pr.n || m2 > pr.n) continue;
                if ((l1 == 1 && m1 == 1) || (l2 == 1 && m2 == 1)) continue;
                if (!pr.allow && l1 < m1) continue;
                if (pr.stop()) return Plan{};
                Measured c;
                c.plan.found = true;
                c.plan.count = 2;
                c.plan.l[0] = l1;
                c.plan.m[0] = m1;
                c.plan.l[1] = l2;
                c.plan.m[1] = m2;
                c.plan.sum = l1 + m1 + l2 + m2;
                c.plan.error = ratio.error;
                const Stage stages[2] = {
                    {static_cast<std::int64_t>(l1), static_cast<std::int64_t>(m1)},
                    {static_cast<std::int64_t>(l2), static_cast<std::int64_t>(m2)}};
                if (pr.pricer->price(pr.x, stages, 2, pr.filter, &c.plan.price, &memo) !=
                    cost_model::Refusal::none) {
                    continue;
                }
                c.measures = target_measures(pr, c.plan, target);
                all.push_back(c);
            }
        }
    }
    TwoStageRequest judge;
    judge.intermediate_target = target;
    // The leader: accepted over every other candidate, the smallest intermediate error
    // among those; the class: what the priority leaves to the mode's order against it.
    CascadeRecord leader = make_empty_record();
    const auto record = [](const Measured& c) {
        CascadeRecord r = make_empty_record();
        r.found = true;
        r.final_match = c.measures.final_match;
        r.intermediate_error = c.measures.intermediate_error;
        r.intermediate_match = c.measures.intermediate_match;
        return r;
    };
    for (const Measured& c : all) {
        if (judge_by_priority(c.measures, leader, judge) == Verdict::accept) leader = record(c);
    }
    for (const Measured& c : all) {
        if (judge_by_priority(c.measures, leader, judge) == Verdict::mode_order &&
            c.measures.intermediate_error < leader.intermediate_error) {
            leader = record(c);
        }
    }
    std::vector<const Measured*> members;
    for (const Measured& c : all) {
        if (leader.found && judge_by_priority(c.measures, leader, judge) == Verdict::mode_order) {
            members.push_back(&c);
        }
    }
    Plan reference;
    for (const Measured* c : members) {
        const double macs = c->plan.price.macs_per_second;
        if (!reference.found || macs < reference.price.macs_per_second ||
            (macs == reference.price.macs_per_second && better_among_tied(c->plan, reference))) {
            reference = c->plan;
        }
    }
    Plan best;
    for (const Measured* c : members) {
        if (cost_model::macs_tied(c->plan.price, reference.price) &&
            better_among_tied(c->plan, best)) {
            best = c->plan;
        }
    }
    return best;
}

/// The seed as a plan, priced; not found when it has no stage, too many, or cannot be
/// priced. Its 1/1 stages stay in it (the two-stage search's answer as it is) but count
/// neither as stages nor in the sum.
Plan seed_plan(const Problem& pr, const std::vector<Stage>& stages) {
    Plan plan;
    if (stages.empty() || stages.size() > static_cast<std::size_t>(MAX_STAGES)) return plan;
    // Four factors up to max_factor_limit multiply to below 2^64.
    u64 p = 1, q = 1;
    for (std::size_t i = 0; i < stages.size(); ++i) {
        const Stage& s = stages[i];
        if (s.l < 1 || s.m < 1 || s.l > max_factor_limit || s.m > max_factor_limit) return plan;
        plan.l[i] = static_cast<u64>(s.l);
        plan.m[i] = static_cast<u64>(s.m);
        p *= plan.l[i];
        q *= plan.m[i];
        if (s.l == 1 && s.m == 1) {
            ++plan.pass_through;
        } else {
            plan.sum += plan.l[i] + plan.m[i];
        }
    }
    const u64 g = std::gcd(p, q);
    p /= g;
    q /= g;
    plan.count = static_cast<int>(stages.size());
    if (pr.pricer->price(pr.x, stages.data(), stages.size(), pr.filter, &plan.price, nullptr) !=
        cost_model::Refusal::none) {
        return plan;
    }
    plan.error = exact_error(pr.exact, p, q);
    plan.found = true;
    plan.seed = true;
    return plan;
}

MultistageResult refuse(const char* field, std::string message) {
    MultistageResult result;
    result.status = Status::invalid_request;
    result.field = field;
    result.message = std::move(message);
    return result;
}

}  // namespace

StageFloor CascadePricer::stage_floor(const cost_model::Design& design, double in_hz,
                                      double out_hz, std::int64_t l,
                                      double coinciding_leaks) const {
    return stage_floor_with(design, in_hz, out_hz, l,
                            lower_rate_terms(design, std::min(in_hz, out_hz), coinciding_leaks));
}

LowerRateTerms CascadePricer::lower_rate_terms(const cost_model::Design&, double, double) const {
    return {};
}

StageFloor CascadePricer::stage_floor_with(const cost_model::Design&, double, double,
                                           std::int64_t, const LowerRateTerms&) const {
    return {};
}

bool CascadePricer::same_floors(const cost_model::Design&, const cost_model::Design&) const {
    return false;
}

double CascadePricer::least_taps(const cost_model::Design&) const {
    return 0.0;
}

cost_model::Refusal KaiserPricer::price(double input_rate_hz, const Stage* stages,
                                        std::size_t count, const FilterSpec& filter,
                                        cost_model::Price* price,
                                        cost_model::DesignMemo* memo) const {
    return cost_model::price_cascade(input_rate_hz, stages, count, filter, price, memo);
}

LowerRateTerms KaiserPricer::lower_rate_terms(const cost_model::Design& design, double lower_hz,
                                              double) const {
    // The transition band, and the length factor of the design attenuation with its
    // far-edge margin. The rates may differ from the priced ones by a rounding, so the
    // factor is taken at the lower of two attenuations a hair apart (it steps down at
    // 21 dB).
    const double transition = lower_hz - design.stopband_hz - design.passband_hz;
    if (!(transition > 0.0)) return LowerRateTerms{{transition}};
    const double attenuation = design.deviation_attenuation_db +
                               cost_model::far_edge_margin_db(transition, design.passband_hz);
    const double d = std::min(cost_model::kaiser_length_factor(attenuation * (1.0 - 1e-9)),
                              cost_model::kaiser_length_factor(attenuation * (1.0 + 1e-9)));
    return LowerRateTerms{{transition, d}};
}

StageFloor KaiserPricer::stage_floor_with(const cost_model::Design&, double in_hz, double out_hz,
                                          std::int64_t l, const LowerRateTerms& lower) const {
    const double transition = lower.values[0];
    if (!(transition > 0.0)) return StageFloor{INF, INF};
    // The length the estimate gives before it rounds up, for these rates, lowered by a
    // part in 10^9 for the roundings.
    const double d = lower.values[1];
    const double ld = static_cast<double>(l);
    const double taps = (d * ld * in_hz / transition + 1.0) * (1.0 - 1e-9);
    return StageFloor{taps / ld * out_hz * (1.0 - 1e-9), taps};
}

bool KaiserPricer::same_floors(const cost_model::Design& a, const cost_model::Design& b) const {
    // What stage_floor reads of a design.
    return a.passband_hz == b.passband_hz && a.stopband_hz == b.stopband_hz &&
           a.deviation_attenuation_db == b.deviation_attenuation_db;
}

double KaiserPricer::least_taps(const cost_model::Design& design) const {
    // A stage has at least D L + 1 taps, D the smallest Kaiser length factor.
    return std::max((21.0 - 7.95) / 14.36, (design.deviation_attenuation_db - 7.95) / 14.36);
}

cost_model::Refusal DesignedPricer::price(double input_rate_hz, const Stage* stages,
                                          std::size_t count, const FilterSpec& filter,
                                          cost_model::Price* price,
                                          cost_model::DesignMemo* memo) const {
    return cost_model::price_designed_cascade(input_rate_hz, stages, count, filter, method_,
                                              price, memo);
}

LowerRateTerms DesignedPricer::lower_rate_terms(const cost_model::Design& design,
                                                double lower_hz, double coinciding_leaks) const {
    // The inverse of the transition band widened by a part in 10^12 of the rate, for the
    // roundings of the rates (the priced ones may differ from these by a few); Kaiser's
    // length factor with the far-edge margin of the transition narrowed as much; the terms
    // of the deviations.
    const double transition = lower_hz - design.stopband_hz - design.passband_hz;
    if (!(transition > 0.0)) return LowerRateTerms{{transition}};
    const double slack = 1e-12 * lower_hz;
    const cost_model::PredictionFloor f = cost_model::prediction_floor(
        design,
        cost_model::leak_allowance_db(coinciding_leaks, design.filtered_stages,
                                      design.stage_ripple_db),
        method_);
    return LowerRateTerms{{1.0 / (transition + slack),
                           cost_model::kaiser_factor_floor(f, std::max(0.0, transition - slack)),
                           f.deviation_attenuation_db, f.herrmann_d, f.herrmann_f, f.halfband_d,
                           f.halfband_f}};
}

StageFloor DesignedPricer::stage_floor_with(const cost_model::Design&, double in_hz,
                                            double out_hz, std::int64_t l,
                                            const LowerRateTerms& lower) const {
    // Without a transition band the terms hold it (not above 0), not its inverse.
    const double inverse_transition = lower.values[0];
    if (!(inverse_transition > 0.0)) return StageFloor{INF, INF};
    cost_model::PredictionFloor f;
    f.method = method_;
    f.deviation_attenuation_db = lower.values[2];
    f.herrmann_d = lower.values[3];
    f.herrmann_f = lower.values[4];
    f.halfband_d = lower.values[5];
    f.halfband_f = lower.values[6];
    // Stages are in lowest terms: by 2 is 2/1 (L = 2) or 1/2 (L = 1), within the roundings
    // of the rates.
    const double ratio = out_hz / in_hz;
    const bool by_two = (l == 2 && std::fabs(ratio - 2.0) <= 1e-9) ||
                        (l == 1 && std::fabs(ratio - 0.5) <= 0.5e-9);
    const double ld = static_cast<double>(l);
    const double upsampled = ld * in_hz * (1.0 - 1e-12);
    const double taps = cost_model::stage_nonzero_taps_floor(f, lower.values[1], by_two,
                                                             upsampled * inverse_transition);
    // A part in 10^9 below for the roundings of the output rate.
    return StageFloor{taps / ld * out_hz * (1.0 - 1e-9), taps};
}

double DesignedPricer::least_taps(const cost_model::Design& design) const {
    // The least leak allowance: one path to each output line.
    return cost_model::least_nonzero_taps(cost_model::prediction_floor(
        design, cost_model::leak_allowance_db(1.0, design.filtered_stages, design.stage_ripple_db),
        method_));
}

FilterSpec effective_filter(const FilterSpec& filter) {
    FilterSpec f = filter;
    if (f.passband_hz && f.stopband_hz && *f.passband_hz == *f.stopband_hz &&
        std::isfinite(*f.passband_hz) && *f.passband_hz > 0.0) {
        f.passband_hz = std::nextafter(*f.passband_hz, 0.0);
    }
    return f;
}

MultistageResult search_multistage_min_cost(const SearchContext& context,
                                            const MultistageRequest& request,
                                            const CascadePricer& pricer) {
    if (request.stages < 0 || request.stages > MAX_STAGES) {
        return refuse("stages",
                      "The stage count must be 1 to 4, or 0 for the cheapest count; not " +
                          std::to_string(request.stages) + ".");
    }
    if (request.intermediate_target && request.stages != 2) {
        return refuse("intermediate_target",
                      "An intermediate target needs exactly two stages: with more there is no "
                      "one rate between the stages.");
    }
    Problem pr;
    pr.context = &context;
    pr.pricer = &pricer;
    pr.x = request.input_rate_hz;
    pr.n = static_cast<u64>(std::clamp<long long>(request.max_factor, 1, max_factor_limit));
    pr.allow = request.allow_first_stage_decimation;
    pr.filter = effective_filter(request.filter);
    pr.exact = ExactRatio::of(request.input_rate_hz, request.output_rate_hz);
    if (context.stop_requested()) {
        MultistageResult stopped;
        stopped.status = Status::stopped;
        return stopped;
    }

    const int most = request.stages == 0 ? MAX_STAGES : request.stages;
    u64 height = 1;
    for (int i = 0; i < most && height <= HEIGHT_LIMIT / pr.n; ++i) height *= pr.n;
    height = std::min(height, HEIGHT_LIMIT);
    MultistageResult result;
    const std::vector<Ratio> ratios =
        candidate_ratios(pr, request.tolerance, height, &result.message);
    Plan best;
    const Plan seed = seed_plan(pr, request.seed);
    // Without a tolerance the plans are matches: an approximate seed only stands in when
    // none exists. With one, the seed competes only within it, as every plan does.
    const bool seed_competes =
        seed.found && (request.tolerance ? error_at_most(seed.error, request.tolerance->relative)
                                         : error_below(seed.error, match_tolerance));
    const bool pass_through = std::any_of(ratios.begin(), ratios.end(),
                                          [](const Ratio& r) { return r.p == 1 && r.q == 1; });
    if (pass_through && !request.intermediate_target) {
        // Output = input: no stage, no filter, nothing cheaper.
        best.found = true;
        best.count = 0;
        best.error = exact_error(pr.exact, 1, 1);
    } else if (request.intermediate_target) {
        best = with_target(pr, ratios, *request.intermediate_target,
                           seed_competes ? seed : Plan{});
    } else {
        const int fewest = request.stages == 0 ? 1 : request.stages;
        std::vector<Factorings> searches;
        searches.reserve(ratios.size() * MAX_STAGES);
        for (const Ratio& ratio : ratios) {
            const std::size_t first = searches.size();
            for (int count = fewest; count <= most; ++count) {
                searches.emplace_back(pr, ratio, count);
                for (std::size_t k = first; k + 1 < searches.size(); ++k) {
                    if (searches.back().share_floors(searches[k])) break;
                }
            }
        }
        Plan cheapest = seed_competes ? seed : Plan{};
        for (Factorings& s : searches) s.cheapest(&cheapest);
        if (cheapest.found) {
            cost_model::Design design;
            // The seed may be the only plan when no ratio factors.
            const double out = ratios.empty() ? request.output_rate_hz
                                              : pr.x * (static_cast<double>(ratios.front().p) /
                                                        static_cast<double>(ratios.front().q));
            // The fewest stages share the ripple among the fewest filters: the smallest
            // design attenuation, the smallest length factor. Without such a design (the
            // seed alone was priced) there is no limit.
            const double limit =
                cost_model::resolve_design(pr.x, out, fewest, pr.filter, &design) ==
                        cost_model::Refusal::none
                    ? tied_limit(cheapest.price, pricer, design)
                    : INF;
            for (Factorings& s : searches) s.tied(cheapest.price, limit, &best);
            if (seed_competes && cost_model::macs_tied(seed.price, cheapest.price) &&
                better_among_tied(seed, best)) {
                best = seed;
            }
        }
    }
    if (!best.found && seed.found && !request.tolerance) best = seed;
    if (pr.cancelled) {
        result.status = Status::stopped;
        result.message.clear();
        return result;
    }
    if (!best.found) {
        result.status = Status::not_found;
        if (result.message.empty()) {
            result.message = request.stages == 0
                                 ? "No plan of up to four stages factors the ratio within the "
                                   "limit and the filter requirements."
                                 : "No plan of exactly " + std::to_string(request.stages) +
                                       " stages factors the ratio within the limit and the "
                                       "filter requirements.";
        }
        return result;
    }
    result.status = Status::ok;
    result.message.clear();
    result.seed_chosen = best.seed;
    for (int i = 0; i < best.count; ++i) {
        if (best.l[i] == 1 && best.m[i] == 1) continue;
        const auto l = static_cast<std::int64_t>(best.l[i]);
        const auto m = static_cast<std::int64_t>(best.m[i]);
        result.plan.stages.push_back(Stage{l, m});
    }
    result.plan.price = best.price;
    result.plan.macs_per_input_sample = best.price.macs_per_second / pr.x;
    result.plan.error = best.error;
    result.plan.sum = static_cast<long long>(best.sum);
    return result;
}

MultistageResult search_multistage_min_cost(const SearchContext& context,
                                            const MultistageRequest& request) {
    if (request.filter.design_method) {
        const DesignedPricer pricer(*request.filter.design_method);
        return search_multistage_min_cost(context, request, pricer);
    }
    const KaiserPricer pricer;
    return search_multistage_min_cost(context, request, pricer);
}

}  // namespace quillmere::inline v2::core
