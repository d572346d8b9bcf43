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
// which bounds g. Priced by a design method, a candidate's own leaks (which grow with h
// too) may put it outside the interval of its g's: it is then not priced.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <limits>
#include <optional>

#include "core/cost_floor.h"
#include "core/design_targets.h"
#include "core/filter_price.h"
#include "core/two_stage_search.h"

namespace quillmere::inline v2::core {

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
    double errors[RATIO_VALUES] = {};
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
    double highest_rate = INF;  ///< the highest rate in the window, exactly
};

/// Min-cost mode: how the price decides against the stored record.
struct CostBounds {
    bool unbounded = true;       ///< the price does not decide (or cannot be bounded)
    bool price_decides = false;  ///< else every candidate loses on its final rate
    long long coefficients = 0;  ///< the stored record's
};

/// Min-cost mode: the intermediate rates with which a candidate's price may win, for the
/// candidates whose grain (see filter_price.h) is at most one power of two, each derived
/// when first asked for after a refresh of the bounds.
struct PricedRates {
    std::uint64_t tie_refresh = 0;     ///< the refresh `tie` was derived after (0: none)
    std::uint64_t better_refresh = 0;  ///< the refresh `better` was derived after (0: none)
    SplitFactors tie_split;        ///< the splits `tie` was derived for
    SplitFactors better_split;     ///< the splits `better` was derived for
    RateInterval tie;                  ///< a price that wins if the coefficients allow
    RateInterval better;               ///< a price that wins whatever the coefficients
};

/// Min-cost mode with a design method: how priced_rates() priced the g being scanned, and
/// the intervals of its candidates with more leaks than the g's split counts, one per
/// power of two of their leaks, each derived when first asked for.
struct GPricing {
    std::uint64_t refresh = 0;  ///< the refresh it was priced after (0: none)
    bool tie = false;
    int grain_power = 0;
    SplitFactors split;
    bool operator==(const GPricing&) const = default;
};

struct LeakPriced {
    GPricing priced_as;  ///< the pricing, with the candidates' own split, it was derived for
    RateInterval interval;
};

/// Powers of two 2^(e - GRAIN_OFFSET) a grain bound is rounded up to: every grain of a pass
/// lies between 2^-70 and 2^57 Hz (the rates within 1..1e13 Hz, divided by factors below
/// 2^63); one outside is clamped, which only loosens a bound.
constexpr int GRAIN_POWERS = 128;
constexpr int GRAIN_OFFSET = 70;

/// Judgements of candidates that do not win, on bounds that a stored candidate made due,
/// before the bounds are derived again: the cost of a derivation in min-cost mode.
constexpr int STALE_JUDGEMENTS = 4;

/// What the pruning derives from the stored record; due again after every acceptance.
struct Bounds {
    RateWindow outright;   ///< intermediate rates with which some candidate wins outright
    RateWindow reachable;  ///< ... with which it wins outright or by the search mode
    long long sum_limit = LLONG_MIN;  ///< largest sum the search mode may accept (LLONG_MIN: none)
    CostBounds cost;
};

/// Min-cost mode with a design method: the length factor ceiling of the last design
/// attenuation, ripple share and filtered stage count asked about.
struct LengthCeiling {
    double attenuation_db = std::numeric_limits<double>::quiet_NaN();
    double stage_ripple_db = 0.0;
    int filtered_stages = 0;
    double factor = 0.0;
};

/// The state of one common-factor pass.
struct FastPass {
    const CommonFactorScan* scan = nullptr;
    /// The scan's request and state, at hand.
    const TwoStageRequest* request_ = nullptr;
    SearchState* state = nullptr;
    CommonFactorProgress* progress = nullptr;
    /// The request's target, if any.
    const IntermediateTarget* target = nullptr;
    bool exact_shortcuts =
        false;  ///< the request lies where the shortcuts reproduce the assessment
    FinalRates finals;
    Bounds bounds;
    /// A candidate was stored since the bounds were derived: they may be used to pick
    /// candidates to judge, never to skip one (see scan_g).
    bool bounds_due = false;
    /// Every candidate stored since the bounds were derived was preferred outright to the
    /// record before it, with a margin (prefers_every_peer): then whatever can beat the
    /// record lies within the outright window derived, and the bounds may still skip.
    bool bounds_cover = true;
    std::uint64_t refreshes = 0;  ///< derivations of the bounds so far
    /// Min-cost mode: the grain power of the pair combination being scanned, and the price
    /// intervals of each grain power.
    int grain_power = GRAIN_POWERS - 1;
    double combination_grain = INF;  ///< its candidates' grain with h = 1
    PricedRates priced[GRAIN_POWERS];
    GPricing g_pricing;
    LeakPriced leak_priced[CostFloor::LEAK_POWERS];
    /// Min-cost mode: the least g of the pair combination being scanned known to need more
    /// coefficients than the record on the bounds of refresh no_tie_refresh (see
    /// priced_rates).
    long long no_tie_from = LLONG_MAX;
    std::uint64_t no_tie_refresh = 0;
    /// Min-cost mode: the record was stored on the priority rules alone, its price not
    /// yet figured (price_pending_record), and these are its factors.
    bool record_unpriced = false;
    Cascade record_cascade;
    LengthCeiling length_ceiling;
    long long judged = 0;              ///< candidates judged, for the dot clock
    const CostFloor* floor = nullptr;  ///< min-cost mode with the shortcuts

    const TwoStageRequest& request() const { return *request_; }
    const CascadeRecord& best() const { return state->best; }
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

FinalRates collect_final_rates(const TwoStageRequest& request, long long l_simplest,
                               long long m_simplest) {
    FinalRates finals;
    double ratio = static_cast<double>(l_simplest) / static_cast<double>(m_simplest);
    for (int i = 0; i < RATIO_SPREAD; ++i) ratio = std::nextafter(ratio, 0.0);
    for (int i = 0; i < RATIO_VALUES; ++i, ratio = std::nextafter(ratio, INF)) {
        const double rate = guarded_product(request.input_rate_hz, ratio);
        if (!std::isfinite(rate)) continue;
        const double error = std::fabs(rate - request.output_rate_hz);
        if (relative_error(rate, request.output_rate_hz) < match_tolerance) {
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

/// The most favourable verdict a candidate can get whose intermediate rate lies `distance`
/// Hz from the target (any candidate without a target).
Verdict best_verdict(const FastPass& pass, double distance) {
    CandidateMeasures c{0, 0.0, false, INF, false};
    if (pass.target != nullptr) {
        // As the assessment measures input x L1/M1 against the target: |rate - target|,
        // and relative_error() divides that very difference.
        const double target = std::fabs(pass.target->rate_hz);
        c.intermediate_error = distance;
        c.intermediate_match =
            (target > ZERO_GUARD ? distance / target : distance) < match_tolerance;
    }
    Verdict best = Verdict::reject;
    for (const bool match : {true, false}) {
        if (match ? !pass.finals.match_possible : !pass.finals.miss_possible) continue;
        c.final_match = match;
        best = std::max(best, judge_by_priority(c, pass.best(), pass.request()));
    }
    return best;
}

/// The largest bit pattern in [yes, no) whose double holds, for a predicate that holds up
/// to some pattern and fails above it, given holds(yes) and !holds(no). Boundaries lie a
/// few units from one end when the caller has made a close guess an end, so both ends are
/// probed at doubling distances first; a bisection finishes what is left.
template <typename Holds>
std::uint64_t last_holding(std::uint64_t yes, std::uint64_t no, Holds holds) {
    for (std::uint64_t step = 1; step <= 64 && no - yes > 1; step *= 2) {
        if (no - yes > step) {
            const std::uint64_t m = yes + step;
            (holds(double_of(m)) ? yes : no) = m;
        }
        if (no - yes > step) {
            const std::uint64_t m = no - step;
            (holds(double_of(m)) ? yes : no) = m;
        }
    }
    while (no - yes > 1) {
        const std::uint64_t mid = yes + (no - yes) / 2;
        (holds(double_of(mid)) ? yes : no) = mid;
    }
    return yes;
}

/// Narrows [yes, no) to the side of `guess` where the boundary lies, guess becoming an end.
template <typename Holds>
void bracket_with(double guess, std::uint64_t* yes, std::uint64_t* no, Holds holds) {
    if (!(guess >= 0.0)) return;
    const std::uint64_t g = bits_of(guess);
    if (g > *yes && g < *no) (holds(guess) ? *yes : *no) = g;
}

/// The largest distance from the target with a verdict of at least `level` (+infinity when
/// every distance has one), given that distance 0 has one. The verdict only changes where
/// the priority rules compare errors: near the record's intermediate error less or more
/// the tie tolerance, and where the relative error reaches the match tolerance.
double largest_distance(const FastPass& pass, Verdict level) {
    const auto holds = [&](double d) { return best_verdict(pass, d) >= level; };
    if (holds(INF)) return INF;
    std::uint64_t yes = bits_of(0.0);
    std::uint64_t no = bits_of(INF);
    const double recorded = pass.best().intermediate_error;
    const double target = std::fabs(pass.target->rate_hz);
    double guesses[] = {recorded - 1e-15, recorded + 1e-15,
                        match_tolerance * (target > ZERO_GUARD ? target : 1.0)};
    std::sort(std::begin(guesses), std::end(guesses));
    for (const double guess : guesses) bracket_with(guess, &yes, &no, holds);
    return double_of(last_holding(yes, no, holds));
}

/// The intermediate rates with a verdict of at least `level`. Verdicts only worsen with the
/// distance from the target, so these form one interval around it: the rates whose computed
/// distance |rate - target| is at most the largest distance with that verdict. Its ends
/// are the very doubles that bisecting the verdict over all doubles finds.
RateWindow find_window(const FastPass& pass, Verdict level) {
    RateWindow window;
    if (pass.target == nullptr) {
        window.empty = best_verdict(pass, INF) < level;
        return window;
    }
    const double target = pass.target->rate_hz;
    if (best_verdict(pass, 0.0) < level) return window;
    window.empty = false;
    const double reach = largest_distance(pass, level);

    double highest = INF;
    if (!(INF - target <= reach)) {
        const auto within = [&](double rate) { return rate - target <= reach; };
        std::uint64_t yes = bits_of(target);
        std::uint64_t no = bits_of(INF);
        bracket_with(target + reach, &yes, &no, within);
        highest = double_of(last_holding(yes, no, within));
    }
    double lowest = 0.0;
    if (!(target - 0.0 <= reach)) {
        // The largest rate below the target that is too far, and the next one up.
        const auto too_far = [&](double rate) { return !(target - rate <= reach); };
        std::uint64_t yes = bits_of(0.0);
        std::uint64_t no = bits_of(target);
        bracket_with(target - reach, &yes, &no, too_far);
        lowest = double_of(last_holding(yes, no, too_far) + 1);
    }
    // input * L1/M1 = K*g/h with K = input * a1/b1, so rate <= highest needs
    // h >= K*g / highest, and rate >= lowest needs h <= K*g / lowest.
    window.highest_rate = highest;
    window.from_factor = std::isinf(highest) ? 0.0 : (1.0 / highest) * (1.0 - RANGE_MARGIN);
    window.to_factor = lowest > 0.0 ? (1.0 / lowest) * (1.0 + RANGE_MARGIN) : INF;
    return window;
}

/// Largest sum with which the search mode may accept some candidate of the pass.
long long find_sum_limit(const FastPass& pass) {
    const CascadeRecord& b = pass.best();
    const SearchMode mode = pass.request().mode;
    long long limit = LLONG_MIN;
    if (!b.found) return limit;
    if (mode == SearchMode::min_cost) return LLONG_MAX;  // see find_cost_bounds
    for (int i = 0; i < pass.finals.error_count; ++i) {
        CandidateMeasures c{LLONG_MAX, pass.finals.errors[i], false, INF, false};
        if (wins_by_mode_order(c, b, mode)) return LLONG_MAX;
        for (const long long sum : {b.overall_sum, b.overall_sum - 1}) {
            c.sum = sum;
            if (wins_by_mode_order(c, b, mode)) {
                limit = std::max(limit, sum);
                break;
            }
        }
    }
    return limit;
}

/// How the final-rate measures, which decide before the price, leave a candidate against
/// the record: winning whatever it costs, or judged by its price, or (neither) losing.
enum class FinalVerdict { wins_outright, price_decides, loses };

/// A candidate that matches where the record does not, or misses less, wins whatever it
/// costs; one that matches where the record matches, or misses as much, is judged by its
/// price.
FinalVerdict final_verdict(const FastPass& pass, const CascadeRecord& b) {
    bool price_decides = false;
    if (pass.finals.match_possible) {
        if (!b.final_match) return FinalVerdict::wins_outright;
        price_decides = true;
    }
    if (pass.finals.miss_possible && !b.final_match) {
        for (int i = 0; i < pass.finals.error_count; ++i) {
            const double e = pass.finals.errors[i];
            if ((b.final_error - 1e-15) > e) return FinalVerdict::wins_outright;
            if (std::fabs(e - b.final_error) < 1e-15) price_decides = true;
        }
    }
    return price_decides ? FinalVerdict::price_decides : FinalVerdict::loses;
}

/// Min-cost mode, a record whose price decides: the highest price with which a candidate
/// whose grain is at most `grain` may win, if its coefficients allow it to win a tie (tie)
/// or whatever they are; -infinity when no price wins.
double winning_price(const FastPass& pass, bool tie, double grain) {
    const CascadeRecord& b = pass.best();
    const double slack = 1.0 + 1e-9;  // for the rounding of the price
    const std::optional<cost_model::Price>& reference = pass.scan->terms.reference_price;
    const double tol = cost_model::macs_tie_tolerance;
    const double c_grain = 2.0 * grain;
    if (!reference) {
        // First search, against the record's lower estimate: a candidate wins with
        // c - 2 x its grain below b - 2 x b's grain (or equal, if its coefficients allow).
        return (b.macs_per_second - 2.0 * b.macs_grain + c_grain) * slack;
    }
    // Second search: tied with the reference (cost_model::macs_tied) means a price of at
    // most (reference + tol x price + 2 x the larger grain).
    const double tied_price =
        (reference->macs_per_second + std::max(2.0 * reference->macs_grain, c_grain)) /
        (1.0 - tol) * slack;
    const cost_model::Price stored{b.macs_per_second, b.coefficients, b.macs_grain};
    // Against a tied record only a tied candidate with no more coefficients can win;
    // against another, a tied candidate wins and so does one cheaper than the record.
    if (cost_model::macs_tied(stored, *reference)) return tie ? tied_price : -INF;
    return std::max(tied_price, b.macs_per_second * slack);
}

/// Min-cost mode: figures the price of a record stored without it.
void price_pending_record(FastPass* pass) {
    if (!pass->record_unpriced) return;
    pass->record_unpriced = false;
    CandidateMeasures c;
    price_candidate(pass->request(), pass->record_cascade, &c, &pass->state->design_memo);
    CascadeRecord& best = pass->state->best;
    best.macs_per_second = c.macs_per_second;
    best.coefficients = c.coefficients;
    best.macs_grain = c.macs_grain;
}

/// Min-cost mode: the intermediate rates with which a candidate's price may win.
CostBounds find_cost_bounds(FastPass* pass_state) {
    const FastPass& pass = *pass_state;
    const CascadeRecord& b = pass.best();
    CostBounds bounds;
    if (pass.floor == nullptr || !b.found) return bounds;
    // The price only narrows the rates where the search mode decides and the priority
    // does not. None are left when the priority takes any rate outright (then only rates
    // exactly as near a target as the record's are left to the mode).
    const RateWindow& reachable = pass.bounds.reachable;
    if (reachable.empty || !pass.bounds.outright.empty) return bounds;
    const FinalVerdict verdict = final_verdict(pass, b);
    if (verdict == FinalVerdict::wins_outright) return bounds;
    // Only here is the price read: a walk of records the priority prefers outright
    // (stored unpriced) prices none of them.
    price_pending_record(pass_state);
    bounds.unbounded = false;
    bounds.coefficients = b.coefficients;
    bounds.price_decides = verdict == FinalVerdict::price_decides;
    return bounds;
}

/// The lowest intermediate rate of a candidate that can be stored, other than g = h = 1:
/// the input rate when the first stage may not decimate (input x L1/M1 with L1 >= M1),
/// and in min-cost mode the lowest rate that can be priced with both stages filtered (the
/// candidate g = h = 1, which may pass through a stage, is judged ahead of the bounds).
double lowest_storable_rate(const FastPass& pass) {
    double lowest = 0.0;
    if (!pass.request().allow_first_stage_decimation) lowest = pass.request().input_rate_hz;
    if (pass.floor != nullptr) lowest = std::max(lowest, pass.floor->lowest_priced_rate());
    return lowest;
}

/// The window, or an empty one when every rate in it lies below lowest_storable_rate().
RateWindow within_reach(const FastPass& pass, RateWindow window) {
    // A rate above the window's highest is farther from the target (the distance is
    // monotone in the rate there), and input x L1/M1 with L1 >= M1 is at least the input.
    if (!window.empty && window.highest_rate < lowest_storable_rate(pass)) window.empty = true;
    return window;
}


/// Min-cost mode: a factor F with every stage's length at most F x its upsampled rate /
/// its transition (+ a few taps) for the design: Kaiser's, or with a design method every
/// method's ceiling at the most leaks a cascade within the limit has (2 L1 L2), worked
/// out once per design.
double length_factor_ceiling(FastPass* pass, const cost_model::Design& design) {
    const TwoStageRequest& request = pass->request();
    if (!request.filter.design_method) {
        // The far-edge margin adds at most 20 log10(4/3) dB, and Kaiser's factor rises with
        // the attenuation (0.9222 below 21 dB lies above its value at 21 dB).
        return std::max(0.9222,
                        cost_model::kaiser_length_factor(design.deviation_attenuation_db + 2.5));
    }
    LengthCeiling& known = pass->length_ceiling;
    if (!(known.attenuation_db == design.attenuation_db &&
          known.stage_ripple_db == design.stage_ripple_db &&
          known.filtered_stages == design.filtered_stages)) {
        const double limit = static_cast<double>(request.max_factor);
        const double most_leaks = 2.0 * limit * limit;
        known = LengthCeiling{design.attenuation_db, design.stage_ripple_db,
                              design.filtered_stages,
                              cost_model::designed_taps_factor_ceiling(design, most_leaks)};
    }
    return known.factor;
}

/// Min-cost mode: whether the cost model surely prices the cascade (output rate `rate`,
/// intermediate rate `intermediate`): its design resolves, each filtered stage has a
/// transition band well clear of the roundings, and no length comes near max_taps. A
/// candidate the priority rules prefer outright may then be stored before its price is
/// figured; false leaves it to be priced first.
bool surely_priced(FastPass* pass, const Cascade& k, double intermediate, double rate) {
    const TwoStageRequest& request = pass->request();
    if (!cost_model::detail::accepted_rate(request.input_rate_hz)) return false;
    const bool filtered[2] = {k.l1 != 1 || k.m1 != 1, k.l2 != 1 || k.m2 != 1};
    const cost_model::DesignMemo::Entry& resolved =
        cost_model::remembered_design(request.input_rate_hz, rate, filtered[0] + filtered[1],
                                      request.filter, &pass->state->design_memo);
    if (resolved.refusal != cost_model::Refusal::none) return false;
    const cost_model::Design& design = resolved.design;
    const double factor = length_factor_ceiling(pass, design);
    const double edges = design.passband_hz + design.stopband_hz;
    const double rates[3] = {request.input_rate_hz, intermediate, rate};
    const double ls[2] = {static_cast<double>(k.l1), static_cast<double>(k.l2)};
    for (int i = 0; i < 2; ++i) {
        if (!filtered[i]) continue;
        const double transition = std::min(rates[i], rates[i + 1]) - edges;
        // The price takes the transition from these rates and edges with a few roundings
        // of its own, each within 2^-52 of the largest.
        if (!(transition > 1e-12 * std::max({rates[i], rates[i + 1], edges}))) return false;
        if (!(factor * ls[i] * rates[i] / transition < 0x1p50)) return false;
    }
    return true;
}

void refresh_bounds(FastPass* pass) {
    pass->bounds_due = false;
    pass->bounds_cover = true;
    ++pass->refreshes;
    if (!pass->exact_shortcuts) {
        pass->bounds.outright = RateWindow{false, 0.0, INF};
        pass->bounds.reachable = pass->bounds.outright;
        pass->bounds.sum_limit = LLONG_MAX;
        pass->bounds.cost = CostBounds{};
        return;
    }
    pass->bounds.outright = within_reach(*pass, find_window(*pass, Verdict::accept));
    pass->bounds.reachable = within_reach(*pass, find_window(*pass, Verdict::mode_order));
    pass->bounds.sum_limit = find_sum_limit(*pass);
    pass->bounds.cost = find_cost_bounds(pass);
}

/// Derives the bounds again if a candidate was stored since they were.
void ensure_bounds(FastPass* pass) {
    if (pass->bounds_due && !pass->bounds_cover) refresh_bounds(pass);
}

/// Min-cost mode with a design method: whether a candidate of the g being scanned, which
/// the priority rules leave to its price, loses by its price for its own leaks. The leaks
/// of a split, M1 M2 / lcm(the denominators of its rates) paths, grow with h as well as
/// with g (by gcd(h, b2) at least), and each tightens both stages' targets; the interval
/// of the g counts only g's. Only on fresh bounds, the g priced on them.
bool priced_out_by_leaks(FastPass* pass, const Cascade& k, double intermediate) {
    const GPricing& priced = pass->g_pricing;
    if (pass->floor == nullptr || !pass->floor->counts_leaks() || pass->bounds_due ||
        priced.refresh != pass->refreshes) {
        return false;
    }
    const Stage stages[2] = {Stage{k.l1, k.m1}, Stage{k.l2, k.m2}};
    const SplitFactors own =
        pass->floor->with_leaks(priced.split, cost_model::coinciding_leaks(stages, 2));
    if (own.extra_leak_power == 0) return false;
    LeakPriced& known = pass->leak_priced[own.leaks_power()];
    const GPricing priced_as{priced.refresh, priced.tie, priced.grain_power, own};
    if (!(known.priced_as == priced_as)) {
        price_pending_record(pass);
        const double grain = std::ldexp(1.0, priced.grain_power - GRAIN_OFFSET);
        const double price = winning_price(*pass, priced.tie, grain);
        known = LeakPriced{priced_as, price == -INF ? RateInterval{}
                                                    : pass->floor->rates_within(price, own)};
    }
    // Widened as the h ranges are for the roundings.
    return known.interval.empty() || intermediate < known.interval.lo * (1.0 - RANGE_MARGIN) ||
           intermediate > known.interval.hi * (1.0 + RANGE_MARGIN);
}

/// Judges a candidate; assesses it (storing it when it wins) only when it might win. A
/// stored candidate makes the bounds due. own_leaks: a candidate of the g being scanned,
/// whose leaks may rule it out (see priced_out_by_leaks()).
bool try_candidate(FastPass* pass, const Cascade& k, bool own_leaks = false) {
    const TwoStageRequest& request = pass->request();
    const long long limit = request.max_factor;
    if (k.l1 > limit || k.m1 > limit || k.l2 > limit || k.m2 > limit ||
        (!request.allow_first_stage_decimation && k.l1 < k.m1)) {
        return false;  // refused by the assessment before any measure
    }
    if (pass->exact_shortcuts) {
        // Within the checked ranges no guarded product refuses, so plain products give
        // the assessment's values bit for bit.
        const double input = request.input_rate_hz;
        const double output = request.output_rate_hz;
        const double r1 = static_cast<double>(k.l1) / static_cast<double>(k.m1);
        const double r2 = static_cast<double>(k.l2) / static_cast<double>(k.m2);
        const double rate = input * (r1 * r2);
        CandidateMeasures c{k.l1 + k.m1 + k.l2 + k.m2, std::fabs(rate - output),
                            relative_error(rate, output) < match_tolerance, INF, false};
        const double intermediate = input * r1;
        if (pass->target != nullptr) {
            const double target = pass->target->rate_hz;
            c.intermediate_error = std::fabs(intermediate - target);
            c.intermediate_match = relative_error(intermediate, target) < match_tolerance;
        }
        bool unpriced = false;
        if (request.mode == SearchMode::min_cost) {
            // A candidate the priority rules reject loses whatever it costs; one they
            // prefer outright wins if it can be priced at all, and a walk of such records,
            // each replacing the last, need not price them all.
            const Verdict verdict = judge_by_priority(c, pass->best(), request);
            if (verdict == Verdict::reject) return false;
            unpriced = verdict == Verdict::accept && surely_priced(pass, k, intermediate, rate);
            if (verdict == Verdict::mode_order && own_leaks &&
                priced_out_by_leaks(pass, k, intermediate)) {
                return false;
            }
            if (!unpriced) {
                if (verdict == Verdict::mode_order) price_pending_record(pass);
                price_candidate(request, k, &c, &pass->state->design_memo);
            }
        }
        // Preferred outright and surely priced, it wins (its sum and error are measured
        // within the checked ranges).
        if (!unpriced && !candidate_wins(c, pass->best(), pass->scan->terms)) return false;
        const CascadeRecord before = pass->best();
        store_two_stage_candidate(k, c, intermediate, request, pass->state);
        pass->record_unpriced = unpriced;
        pass->record_cascade = k;
        pass->bounds_cover = pass->bounds_cover && prefers_every_peer(pass->best(), before, request);
    } else {
        price_pending_record(pass);
        if (!assess_two_stage_candidate(k, pass->scan->terms, pass->state)) return false;
        pass->bounds_cover = false;
    }
    pass->bounds_due = true;
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
    long long first = 1;
    long long last = 0;
};

HRange window_range(const RateWindow& w, double kg, long long h_max) {
    if (w.empty) return HRange{1, 0};
    // Open ends are taken as such: K*g may be infinite on the plain path (0 * inf is NaN).
    return HRange{w.from_factor == 0.0 ? 1 : ceil_within(kg * w.from_factor, h_max),
                  std::isinf(w.to_factor) ? h_max : floor_within(kg * w.to_factor, h_max)};
}

/// The h of one g that may hold a winner: those whose candidate may win outright, and those
/// whose candidate may win outright or by the search mode.
struct HRanges {
    HRange outright;
    HRange reachable;
};

/// Smallest h >= from in either range, or LLONG_MAX.
long long next_in(const HRanges& ranges, long long from) {
    long long next = LLONG_MAX;
    for (const HRange& r : {ranges.outright, ranges.reachable}) {
        const long long h = std::max(from, r.first);
        if (h <= r.last) next = std::min(next, h);
    }
    return next;
}

/// One split L = a1 a2, M = b1 b2 of the simplest exact convergent and the candidates
/// g a1 / h b1 -> h a2 / g b2 it spans.
struct Combination {
    long long a1 = 1;
    long long a2 = 1;
    long long b1 = 1;
    long long b2 = 1;
    long long max_g = 1;
    long long max_h = 1;
    /// Some g and h keep every factor within the limit.
    bool any_valid = false;
    /// K = input * a1 / b1: the intermediate rate of (g, h) is K*g/h.
    double k = 0.0;
};

Combination make_combination(const FastPass& pass, const FactorPair& a, const FactorPair& b) {
    const long long limit = pass.request().max_factor;
    Combination c{a.factor, a.cofactor, b.factor, b.cofactor};
    c.max_g = std::max(1LL, std::min(limit / c.a1, limit / c.b2));
    c.max_h = std::max(1LL, std::min(limit / c.b1, limit / c.a2));
    // Bounds of 0 raised to 1 give a factor above the limit, which the assessment refuses;
    // otherwise g <= limit/a1 keeps every product within the limit (none overflows).
    c.any_valid = limit / c.a1 >= 1 && limit / c.b2 >= 1 && limit / c.b1 >= 1 && limit / c.a2 >= 1;
    c.k = pass.request().input_rate_hz * static_cast<double>(c.a1) / static_cast<double>(c.b1);
    return c;
}

/// Min-cost mode: the intermediate rates with which a candidate of the pair combination
/// being scanned may win by its price, if its coefficients allow it to win a tie or
/// whatever they are.
const RateInterval& priced_interval(FastPass* pass, int power, bool tie,
                                    const SplitFactors& split) {
    static const RateInterval none{};
    if (!pass->bounds.cost.price_decides) return none;  // the candidates lose on their finals
    PricedRates& priced = pass->priced[power];
    std::uint64_t& derived = tie ? priced.tie_refresh : priced.better_refresh;
    SplitFactors& derived_split = tie ? priced.tie_split : priced.better_split;
    RateInterval& interval = tie ? priced.tie : priced.better;
    if (derived != pass->refreshes || !(derived_split == split)) {
        // A record stored since the refresh on the priority rules alone is priced first.
        price_pending_record(pass);
        derived = pass->refreshes;
        derived_split = split;
        const double grain = std::ldexp(1.0, power - GRAIN_OFFSET);
        const double price = winning_price(*pass, tie, grain);
        interval = price == -INF ? none : pass->floor->rates_within(price, split);
    }
    return interval;
}

/// Min-cost mode: the grain of the pair combination's candidates with h = 1, with a margin:
/// their stages' output / L, in / (h b1) and out / (h a2), sum to at most this over h
/// (each rounded far less than the margin).
double combination_grain(const FastPass& pass, const Combination& c) {
    if (pass.floor == nullptr) return INF;
    return (pass.request().input_rate_hz / static_cast<double>(c.b1) +
            pass.floor->output_rate() / static_cast<double>(c.a2)) *
           (1.0 + 1e-9);
}

/// Min-cost mode: the power of two that bounds a grain.
int grain_power_of(const FastPass& pass, double grain) {
    if (pass.floor == nullptr || !std::isfinite(grain)) return GRAIN_POWERS - 1;
    int exponent = 0;
    std::frexp(grain, &exponent);  // grain <= 2^exponent
    return std::clamp(exponent + GRAIN_OFFSET, 0, GRAIN_POWERS - 1);
}

/// Min-cost mode: the price interval that applies to this g. A candidate that can only tie
/// must not need more coefficients than the record; the floor on the coefficients grows
/// with g (L1 x input = g a1 input, L2 x intermediate = g a1 a2 input / b1).
const RateInterval* priced_rates(FastPass* pass, const Combination& c, long long g) {
    const CostBounds& cost = pass->bounds.cost;
    if (pass->floor == nullptr || cost.unbounded) return nullptr;
    const double gd = static_cast<double>(g);
    const double in = pass->request().input_rate_hz;
    const double u1 = gd * static_cast<double>(c.a1) * in;
    const double u2 =
        gd * static_cast<double>(c.a1) * static_cast<double>(c.a2) * in / static_cast<double>(c.b1);
    // Every price that wins whatever the coefficients also wins a tie: `better` lies
    // within `tie`, and an empty `tie` leaves `better` empty.
    const SplitFactors split = pass->floor->split_of(g, c.a1, c.b2);
    // The coefficients floor only grows with g: both upsampled rates grow in proportion,
    // and so do the leaks, while the widest transitions over those rates narrow and the
    // halfbands go. Past a g that could not tie, no g of the combination can.
    if (pass->no_tie_refresh != pass->refreshes) {
        pass->no_tie_refresh = pass->refreshes;
        pass->no_tie_from = LLONG_MAX;
    }
    const bool tie_possible =
        g < pass->no_tie_from &&
        pass->floor->coefficients_may_be_within(u1, u2, split,
                                                static_cast<double>(cost.coefficients));
    if (!tie_possible) pass->no_tie_from = std::min(pass->no_tie_from, g);
    pass->g_pricing = GPricing{pass->refreshes, tie_possible, pass->grain_power, split};
    const RateInterval& coarse = priced_interval(pass, pass->grain_power, tie_possible, split);
    if (coarse.empty()) return &coarse;
    // A candidate of this g whose rate K*g/h lies in `coarse` has h >= K*g / coarse.hi, and
    // its grain is the pair combination's over h: a finer power bounds it.
    const double h_low = std::ceil(c.k * gd / coarse.hi * (1.0 - RANGE_MARGIN));
    if (!(h_low > 1.0)) return &coarse;
    const int power = grain_power_of(*pass, pass->combination_grain / h_low);
    if (!(power < pass->grain_power)) return &coarse;
    pass->g_pricing.grain_power = power;
    return &priced_interval(pass, power, tie_possible, split);
}

/// The sum g (a1 + b2) that every candidate of this g has before h adds h (b1 + a2); 0
/// without the shortcuts, which alone keep every factor at most 2^26 (no sum overflows).
long long base_sum(const FastPass& pass, const Combination& c, long long g) {
    return pass.exact_shortcuts ? g * (c.a1 + c.b2) : 0;
}

/// Whether no candidate of this g or any later one can win: sums and coefficients grow
/// with g, and the record stays as it is.
bool no_later_g_wins(FastPass* pass, const Combination& c, long long g) {
    const Bounds& bounds = pass->bounds;
    if (!pass->exact_shortcuts || !bounds.outright.empty) return false;
    if (bounds.reachable.empty || base_sum(*pass, c, g) + c.b1 + c.a2 > bounds.sum_limit) {
        return true;
    }
    const RateInterval* priced = priced_rates(pass, c, g);
    if (priced == nullptr) return false;
    // The priced rates only narrow as g grows, and the lowest rate a g reaches only rises:
    // lowest_storable_rate(), and K*g/h at least K*g / max_h.
    const double lowest = std::max(lowest_storable_rate(*pass),
                                   c.k * static_cast<double>(g) / static_cast<double>(c.max_h));
    return priced->empty() || priced->hi < lowest * (1.0 - RANGE_MARGIN);
}

/// The last h of this g that keeps L1 >= M1 when the first stage may not decimate, and in
/// min-cost mode an intermediate rate K*g/h above the passband plus the stopband edge:
/// below it the candidate cannot be priced and is never stored, even near a target.
long long last_h(const FastPass& pass, const Combination& c, long long g, double kg) {
    long long last =
        pass.request().allow_first_stage_decimation ? c.max_h : std::min(c.max_h, g * c.a1 / c.b1);
    if (pass.floor != nullptr) {
        last = std::min(
            last, floor_within(kg / pass.floor->lowest_priced_rate() * (1.0 + RANGE_MARGIN), last));
    }
    return last;
}

/// The h of this g up to h_last whose candidates might win against the current bounds.
HRanges winning_h(FastPass* pass_state, const Combination& c, long long g, double kg,
                  long long h_last) {
    const FastPass& pass = *pass_state;
    HRanges ranges{window_range(pass.bounds.outright, kg, h_last),
                   window_range(pass.bounds.reachable, kg, h_last)};
    HRange& reachable = ranges.reachable;
    const long long limit = pass.bounds.sum_limit;
    if (limit != LLONG_MAX) {
        const long long base = base_sum(pass, c, g);
        const long long step = c.b1 + c.a2;
        reachable.last = limit == LLONG_MIN || limit - base < step
                             ? 0
                             : std::min(reachable.last, (limit - base) / step);
    }
    const RateInterval* rates =
        reachable.last < reachable.first ? nullptr : priced_rates(pass_state, c, g);
    if (rates != nullptr) {
        if (rates->empty()) {
            reachable.last = 0;
        } else {
            // The intermediate rate K*g/h lies in [lo, hi] for h in [K*g/hi, K*g/lo].
            const double from = kg / rates->hi * (1.0 - RANGE_MARGIN);
            const double to = kg / rates->lo * (1.0 + RANGE_MARGIN);
            reachable.first = std::max(reachable.first, ceil_within(from, h_last));
            reachable.last = std::min(reachable.last, floor_within(to, h_last));
        }
    }
    return ranges;
}

/// Outcome of one pair combination, or of one g of it.
enum class ComboEnd { done, leave };

/// Whether the candidate g = h = 1 is taken ahead of the others: in minimal-sum mode the
/// stop is tested right after it, and in min-cost mode a stage of it may pass the signal
/// through and price below the floor.
bool unit_candidate_first(const FastPass& pass) {
    return pass.request().mode == SearchMode::minimal_sum || pass.floor != nullptr;
}

/// The candidate g = h = 1; in minimal-sum mode the pass ends after it (counted as one
/// iteration) unless a strict target is still unmatched.
ComboEnd unit_candidate(FastPass* pass, const Combination& c) {
    try_candidate(pass, Cascade{c.a1, c.b1, c.a2, c.b2});
    if (pass->request().mode != SearchMode::minimal_sum) return ComboEnd::done;
    const CascadeRecord& best = pass->best();
    if (strict_target(pass->request()) && !(best.found && best.intermediate_match)) {
        return ComboEnd::done;
    }
    progress_count_many(pass->progress, 1);
    return ComboEnd::leave;
}

/// The candidates of one g from h_first on that might win; ComboEnd::leave when a stop
/// request or the dual stop ends the pass (the iterations up to there counted).
///
/// A stored candidate makes the bounds due, but they are derived again only when the
/// ranges would skip a candidate, or after a few judged candidates that lost: until then
/// the candidates the old ranges hold are judged as they come. Judging a candidate never
/// changes the outcome; skipping one on old ranges might, as a new record can let a tie
/// through that the old one did not. A walk of ever better candidates, h after h, costs no
/// derivation at all, and one stored candidate after another in a wide range only a few
/// judgements more.
ComboEnd scan_g(FastPass* pass, const Combination& c, long long g, long long h_first) {
    const CommonFactorScan& s = *pass->scan;
    const double kg = c.k * static_cast<double>(g);
    const long long h_last = last_h(*pass, c, g, kg);
    ensure_bounds(pass);
    pass->g_pricing = GPricing{};  // priced anew for this g, if at all
    HRanges ranges = winning_h(pass, c, g, kg, h_last);
    int stale_losers = 0;  // candidates that lost on ranges from before the record
    for (long long h = h_first;; ++h) {
        if (pass->bounds_due && ((!pass->bounds_cover && next_in(ranges, h) != h) ||
                                 stale_losers == STALE_JUDGEMENTS)) {
            refresh_bounds(pass);
            ranges = winning_h(pass, c, g, kg, h_last);
        }
        h = next_in(ranges, h);
        if (h > h_last) return ComboEnd::done;
        if (s.context.stop_requested()) {
            progress_count_many(pass->progress, static_cast<std::uint64_t>(h - 1));
            return ComboEnd::leave;
        }
        if (++pass->judged % POLL_EVERY == 0) progress_poll(pass->progress);
        const bool stale = pass->bounds_due;
        const bool stored =
            try_candidate(pass, Cascade{g * c.a1, h * c.b1, h * c.a2, g * c.b2}, true);
        if (stored && dual_stop_holds(*pass->request_, *pass->state)) {
            progress_count_many(pass->progress, static_cast<std::uint64_t>(h));
            return ComboEnd::leave;
        }
        stale_losers = stored ? 0 : stale_losers + (stale ? 1 : 0);
    }
}

/// Min-cost mode, a target above every rate of the pair combination: whether its top
/// candidate, g = max_g and h = 1, was stored ahead of the others because the scan would
/// end with it. Every other candidate's rate K*g/h is at most K x max(max_g - 1, max_g / 2),
/// farther from the target; when the priority rules prefer the top one outright to any
/// such rate with the most favourable final rate a candidate of the pass can have, and to
/// the record, the scan stores it whatever it stored before, and nothing after it (no
/// candidate matches the target, so none ends the pass). A walk toward a far target
/// would otherwise store a nearer cascade at every g.
bool stored_top_first(FastPass* pass, const Combination& c) {
    const TwoStageRequest& request = pass->request();
    if (!pass->exact_shortcuts || request.mode != SearchMode::min_cost ||
        pass->target == nullptr || !c.any_valid || pass->finals.error_count == 0) {
        return false;
    }
    const double top_rate = request.input_rate_hz *
                            (static_cast<double>(c.max_g * c.a1) / static_cast<double>(c.b1));
    const double target = pass->target->rate_hz;
    if (!(top_rate < target) || relative_error(top_rate, target) < match_tolerance) return false;
    const Cascade top{c.max_g * c.a1, c.b1, c.a2, c.max_g * c.b2};
    // Its measures as the assessment takes them, with the final rate it may have that the
    // rules like least (a miss where a match is possible).
    CandidateMeasures measures{top.l1 + top.m1 + top.l2 + top.m2, 0.0,
                               !pass->finals.miss_possible, std::fabs(top_rate - target), false};
    const double others = c.k * std::max(static_cast<double>(c.max_g - 1),
                                         static_cast<double>(c.max_g) / 2.0);
    CascadeRecord nearest = make_empty_record();
    nearest.found = true;
    nearest.final_match = pass->finals.match_possible;
    nearest.intermediate_error = (target - others * (1.0 + 1e-12));
    nearest.intermediate_match = false;
    if (judge_by_priority(measures, nearest, request) != Verdict::accept ||
        judge_by_priority(measures, pass->best(), request) != Verdict::accept) {
        return false;
    }
    return try_candidate(pass, top);
}

/// Every g of one pair combination, counting all its g/h iterations as the plain pass does.
ComboEnd scan_combination(FastPass* pass, const Combination& c) {
    const std::uint64_t h_count = static_cast<std::uint64_t>(c.max_h);
    if (stored_top_first(pass, c)) {
        progress_count_many(pass->progress, static_cast<std::uint64_t>(c.max_g) * h_count);
        return ComboEnd::done;
    }
    pass->combination_grain = combination_grain(*pass, c);
    pass->grain_power = grain_power_of(*pass, pass->combination_grain);
    pass->no_tie_from = LLONG_MAX;
    for (long long g = 1; g <= c.max_g; ++g) {
        if (pass->scan->context.stop_requested()) return ComboEnd::leave;
        if (g % POLL_EVERY == 0) progress_poll(pass->progress);
        long long h_first = 1;
        if (g == 1 && unit_candidate_first(*pass)) {
            if (unit_candidate(pass, c) == ComboEnd::leave) return ComboEnd::leave;
            h_first = 2;
        }
        ensure_bounds(pass);
        if (!c.any_valid || no_later_g_wins(pass, c, g)) {
            progress_count_many(pass->progress,
                                static_cast<std::uint64_t>(c.max_g - g + 1) * h_count);
            return ComboEnd::done;
        }
        if (scan_g(pass, c, g, h_first) == ComboEnd::leave) return ComboEnd::leave;
        progress_count_many(pass->progress, h_count);
    }
    return ComboEnd::done;
}

/// Whether the request lies where the shortcuts reproduce the assessment exactly: a limit
/// within PRUNING_LIMIT and rates (and target) within RATE_RANGE.
bool shortcuts_exact(const TwoStageRequest& request) {
    const auto within = [](double x) { return std::isfinite(x) && std::fabs(x) <= RATE_RANGE; };
    const IntermediateTarget* target = target_of(request);
    return request.max_factor >= 1 && request.max_factor <= PRUNING_LIMIT &&
           within(request.input_rate_hz) && request.input_rate_hz >= 1.0 / RATE_RANGE &&
           within(request.output_rate_hz) &&
           (target == nullptr || (within(target->rate_hz) && target->rate_hz > 0.0));
}

/// The pass over the splits of L_simplest/M_simplest, before its bounds: with the final
/// rates its candidates can have where the shortcuts are exact. (A split above the limit
/// squared has some factor above the limit: then nothing can be stored, no rate is possible.)
FastPass start_pass(const CommonFactorScan& scan, CommonFactorProgress* progress,
                    long long l_simplest, long long m_simplest) {
    const TwoStageRequest& request = scan.terms.request;
    FastPass pass;
    pass.scan = &scan;
    pass.request_ = &request;
    pass.state = scan.state;
    pass.progress = progress;
    pass.target = target_of(request);
    pass.exact_shortcuts = shortcuts_exact(request);
    if (!pass.exact_shortcuts) return pass;
    const long long square = request.max_factor * request.max_factor;  // at most 2^52
    if (l_simplest <= square && m_simplest <= square) {
        pass.finals = collect_final_rates(request, l_simplest, m_simplest);
    }
    return pass;
}

}  // namespace

namespace {

void scan_pass(FastPass* pass_state, const CommonFactorScan& scan, CommonFactorProgress* progress,
               const CostFloor& floor) {
    FastPass& pass = *pass_state;
    const TwoStageRequest& request = scan.terms.request;
    if (pass.exact_shortcuts && request.mode == SearchMode::min_cost && floor.usable()) {
        pass.floor = &floor;
    }
    refresh_bounds(&pass);

    for (const FactorPair& a : scan.l_pairs) {
        if (a.factor < 1 || a.cofactor < 1) continue;
        for (const FactorPair& b : scan.m_pairs) {
            if (scan.context.stop_requested()) return;
            if (b.factor < 1 || b.cofactor < 1) continue;
            if (scan_combination(&pass, make_combination(pass, a, b)) == ComboEnd::leave) return;
            // A combination often ends after a few g, its iterations counted in a batch.
            progress_poll(progress);
        }
    }
}

}  // namespace

void scan_common_factors_fast(const CommonFactorScan& scan, CommonFactorProgress* progress) {
    const TwoStageRequest& request = scan.terms.request;
    const long long l_simplest = scan.l_pairs[0].factor * scan.l_pairs[0].cofactor;
    const long long m_simplest = scan.m_pairs[0].factor * scan.m_pairs[0].cofactor;
    FastPass pass = start_pass(scan, progress, l_simplest, m_simplest);
    const double input = request.input_rate_hz;
    const double limit = static_cast<double>(request.max_factor);
    const CostFloor floor(input,
                          input * static_cast<double>(l_simplest) / static_cast<double>(m_simplest),
                          request.filter, input / limit, input * limit,
                          least_split_leaks(l_simplest, m_simplest));
    scan_pass(&pass, scan, progress, floor);
    price_pending_record(&pass);
}

}  // namespace quillmere::inline v2::core
