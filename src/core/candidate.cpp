#include "core/candidate.h"

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdint>
#include <limits>

#include "core/filter_price.h"

namespace quillmere::inline v2::core {

namespace {

constexpr double NOT_A_NUMBER = std::numeric_limits<double>::quiet_NaN();
/// Two final or two intermediate errors closer than this (Hz) count as equal.
constexpr double ERROR_TIE_TOLERANCE = 1e-15;

/// L1 + M1 + L2 + M2, or -1 when the exact sum exceeds INT64_MAX.
long long guarded_sum(long long l1, long long m1, long long l2, long long m2) {
    std::uint64_t total = 0;
    for (const long long term : {l1, m1, l2, m2}) {
        const std::uint64_t next = total + static_cast<std::uint64_t>(term);
        if (next < total) return -1;
        total = next;
    }
    if (total > static_cast<std::uint64_t>(LLONG_MAX)) return -1;
    return static_cast<long long>(total);
}

/// Closeness to the intermediate target first; the search mode decides between equals.
Verdict judge_by_intermediate_order(const CandidateMeasures& c, const CascadeRecord& b) {
    if ((b.intermediate_error - ERROR_TIE_TOLERANCE) > c.intermediate_error) {
        return Verdict::accept;
    }
    if ((c.intermediate_error - ERROR_TIE_TOLERANCE) > b.intermediate_error) {
        return Verdict::reject;
    }
    return Verdict::mode_order;
}

/// A final match first, then the intermediate order.
Verdict judge_by_final_rate(const CandidateMeasures& c, const CascadeRecord& b) {
    if (c.final_match && !b.final_match) return Verdict::accept;
    if (!c.final_match && b.final_match) return Verdict::reject;
    return judge_by_intermediate_order(c, b);
}

/// The min-cost order. A cascade that reproduces the output rate beats one that does not,
/// and among cascades that do not, the more accurate one wins: the cheapest approximation
/// would otherwise be the pass-through 1/1 -> 1/1 whatever the rates asked for.
bool wins_by_cost(const CandidateMeasures& c, const CascadeRecord& b,
                  const cost_model::Price* reference) {
    if (c.final_match != b.final_match) return c.final_match;
    if (!c.final_match) {
        if ((b.final_error - ERROR_TIE_TOLERANCE) > c.final_error) return true;
        if (!(std::fabs(c.final_error - b.final_error) < ERROR_TIE_TOLERANCE)) return false;
    }
    const cost_model::Price cp{c.macs_per_second, c.coefficients, c.macs_grain};
    const cost_model::Price bp{b.macs_per_second, b.coefficients, b.macs_grain};
    if (reference != nullptr) {
        // Judged against the price the first search settled on, not against the record,
        // ties cannot chain: the order of the scan does not decide.
        const bool c_tied = cost_model::macs_tied(cp, *reference);
        const bool b_tied = cost_model::macs_tied(bp, *reference);
        if (c_tied != b_tied) return c_tied;
        if (!c_tied) return c.macs_per_second < b.macs_per_second;
    } else {
        // Without a reference (the first search), the lower estimate of each price: its
        // MAC/s less two taps per phase, what rounding each length up may have added.
        const double c_lower = c.macs_per_second - 2.0 * c.macs_grain;
        const double b_lower = b.macs_per_second - 2.0 * b.macs_grain;
        if (c_lower != b_lower) return c_lower < b_lower;
    }
    if (c.coefficients != b.coefficients) return c.coefficients < b.coefficients;
    return c.sum < b.overall_sum;
}

/// Stage ratio num/den in double; NaN when den is 0 or the quotient is not finite.
double stage_ratio(long long num, long long den) {
    if (den == 0) return NOT_A_NUMBER;
    const double ratio = static_cast<double>(num) / static_cast<double>(den);
    return std::isfinite(ratio) ? ratio : NOT_A_NUMBER;
}

}  // namespace

Verdict judge_by_priority(const CandidateMeasures& c, const CascadeRecord& b,
                          const TwoStageRequest& request) {
    const Priority priority = priority_of(request);
    if (!b.found) {
        return priority != Priority::strict || c.intermediate_match ? Verdict::accept
                                                                    : Verdict::reject;
    }
    switch (priority) {
    case Priority::strict:
        if (!c.intermediate_match) return Verdict::reject;
        if (!b.intermediate_match) return Verdict::accept;
        return Verdict::mode_order;
    case Priority::final: return judge_by_final_rate(c, b);
    case Priority::balanced: {
        const bool c_dual = c.final_match && c.intermediate_match;
        const bool b_dual = b.final_match && b.intermediate_match;
        if (c_dual && !b_dual) return Verdict::accept;
        if (b_dual && !c_dual) return Verdict::reject;
        if (c_dual && b_dual) return Verdict::mode_order;
        return judge_by_final_rate(c, b);
    }
    case Priority::ignore:
        if (c.final_match && !b.final_match) return Verdict::accept;
        if (!c.final_match && b.final_match) return Verdict::reject;
        return Verdict::mode_order;
    default: return Verdict::reject;
    }
}

bool prefers_every_peer(const CascadeRecord& now, const CascadeRecord& before,
                        const TwoStageRequest& request) {
    // The peer least preferred to `before`: now's matches, and the farthest intermediate
    // error that `now` does not reject, e with e - tolerance <= now's error in doubles, so
    // e <= now's error / (1 - 2^-53) + tolerance, widened here past every rounding.
    CandidateMeasures peer{now.overall_sum, now.final_error, now.final_match,
                           now.intermediate_error, now.intermediate_match};
    if (std::isfinite(peer.intermediate_error)) {
        peer.intermediate_error = (now.intermediate_error + ERROR_TIE_TOLERANCE) * (1.0 + 1e-15);
    }
    return judge_by_priority(peer, before, request) == Verdict::accept;
}

bool wins_by_mode_order(const CandidateMeasures& c, const CascadeRecord& b, SearchMode search_mode,
                        const cost_model::Price* reference_price) {
    switch (search_mode) {
    case SearchMode::minimal_sum:
        if (c.sum < b.overall_sum) return true;
        return c.sum == b.overall_sum && (b.final_error - ERROR_TIE_TOLERANCE) > c.final_error;
    case SearchMode::custom_limit:
    case SearchMode::best_accuracy: break;  // best-accuracy has a search of its own
    case SearchMode::min_cost: return wins_by_cost(c, b, reference_price);
    }
    if ((b.final_error - ERROR_TIE_TOLERANCE) > c.final_error) return true;
    return std::fabs(c.final_error - b.final_error) < ERROR_TIE_TOLERANCE && c.sum < b.overall_sum;
}

bool candidate_wins(const CandidateMeasures& c, const CascadeRecord& b, const SearchTerms& terms) {
    const SearchMode mode = terms.request.mode;
    if (c.sum == -1 || !std::isfinite(c.final_error)) return false;
    if (mode == SearchMode::min_cost && std::isnan(c.macs_per_second)) return false;
    const Verdict verdict = judge_by_priority(c, b, terms.request);
    return verdict == Verdict::accept ||
           (verdict == Verdict::mode_order &&
            wins_by_mode_order(c, b, mode,
                               terms.reference_price ? &*terms.reference_price : nullptr));
}

bool price_candidate(const TwoStageRequest& request, const Cascade& cascade, CandidateMeasures* c,
                     cost_model::DesignMemo* memo) {
    const Stage stages[2] = {Stage{cascade.l1, cascade.m1}, Stage{cascade.l2, cascade.m2}};
    cost_model::Price price;
    // With a design method, the lengths that method delivers; otherwise Kaiser's estimate.
    const cost_model::Refusal refusal =
        request.filter.design_method
            ? cost_model::price_designed_cascade(request.input_rate_hz, stages, 2,
                                                 request.filter, *request.filter.design_method,
                                                 &price, memo)
            : cost_model::price_cascade(request.input_rate_hz, stages, 2, request.filter, &price,
                                        memo);
    if (refusal != cost_model::Refusal::none) {
        c->macs_per_second = NOT_A_NUMBER;
        c->coefficients = 0;
        return false;
    }
    c->macs_per_second = price.macs_per_second;
    c->coefficients = price.coefficients;
    c->macs_grain = price.macs_grain;
    return true;
}

double guarded_product(double a, double b) {
    const double abs_a = std::fabs(a);
    const double abs_b = std::fabs(b);
    if (abs_a > 1.0 && abs_b > 0.0 && abs_a > DBL_MAX / abs_b) return NOT_A_NUMBER;
    if (abs_a > 0.0 && abs_b > 0.0 && abs_a < DBL_MIN / abs_b) return NOT_A_NUMBER;
    const double product = a * b;
    return std::isfinite(product) ? product : NOT_A_NUMBER;
}

double relative_error(double x, double t) {
    if (std::fabs(t) > ZERO_GUARD) return std::fabs(x - t) / std::fabs(t);
    return std::fabs(x - t);
}

double calculate_achieved_output_rate_two(double input_rate, long long l1, long long m1,
                                          long long l2, long long m2) {
    if (m1 <= 0 || m2 <= 0 || l1 <= 0 || l2 <= 0 || !std::isfinite(input_rate) ||
        input_rate <= 0.0) {
        return NOT_A_NUMBER;
    }
    const double r1 = static_cast<double>(l1) / static_cast<double>(m1);
    const double r2 = static_cast<double>(l2) / static_cast<double>(m2);
    if (!std::isfinite(r1) || !std::isfinite(r2)) return NOT_A_NUMBER;
    // The stage ratios are multiplied first and the input rate last, always in this order:
    // the report recomputes the rate and must print the very value that was judged.
    const double ratio = guarded_product(r1, r2);
    if (std::isnan(ratio)) return NOT_A_NUMBER;
    return guarded_product(input_rate, ratio);
}

namespace {

/// Whether the factors are within the request's limits: each from 1 to max_factor, and
/// L1 >= M1 unless the first stage may decimate.
bool within_limits(const Cascade& k, const TwoStageRequest& request) {
    const long long limit = request.max_factor;
    if (k.l1 < 1 || k.m1 < 1 || k.l2 < 1 || k.m2 < 1) return false;
    if (k.l1 > limit || k.m1 > limit || k.l2 > limit || k.m2 > limit) return false;
    return request.allow_first_stage_decimation || k.l1 >= k.m1;
}

/// The measures of a candidate within the limits; its intermediate rate in intermediate.
CandidateMeasures measure(const Cascade& k, const TwoStageRequest& request,
                          double* intermediate_rate, cost_model::DesignMemo* memo) {
    const double input = request.input_rate_hz;
    const double output = request.output_rate_hz;
    CandidateMeasures c;
    const double rate = calculate_achieved_output_rate_two(input, k.l1, k.m1, k.l2, k.m2);
    if (std::isfinite(rate)) {
        c.final_error = std::fabs(rate - output);
        c.final_match = relative_error(rate, output) < match_tolerance;
    }

    *intermediate_rate = NOT_A_NUMBER;
    if (std::isfinite(input) && input > 0.0) {
        *intermediate_rate =
            guarded_product(input, static_cast<double>(k.l1) / static_cast<double>(k.m1));
    }
    const IntermediateTarget* target = target_of(request);
    if (target != nullptr && std::isfinite(*intermediate_rate)) {
        c.intermediate_error = std::fabs(*intermediate_rate - target->rate_hz);
        c.intermediate_match =
            relative_error(*intermediate_rate, target->rate_hz) < match_tolerance;
    }
    c.sum = guarded_sum(k.l1, k.m1, k.l2, k.m2);
    if (request.mode == SearchMode::min_cost && c.sum != -1 && std::isfinite(c.final_error)) {
        price_candidate(request, k, &c, memo);
    }
    return c;
}

}  // namespace

bool assess_two_stage_candidate(const Cascade& cascade, const SearchTerms& terms,
                                SearchState* state) {
    const TwoStageRequest& request = terms.request;
    if (!within_limits(cascade, request)) return false;
    double intermediate_rate = NOT_A_NUMBER;
    const CandidateMeasures c = measure(cascade, request, &intermediate_rate, &state->design_memo);
    if (!candidate_wins(c, state->best, terms)) return false;
    store_two_stage_candidate(cascade, c, intermediate_rate, request, state);
    return true;
}

void store_two_stage_candidate(const Cascade& cascade, const CandidateMeasures& c,
                               double intermediate_rate, const TwoStageRequest& request,
                               SearchState* state) {

    const double r1 = stage_ratio(cascade.l1, cascade.m1);
    const double r2 = stage_ratio(cascade.l2, cascade.m2);
    const double combined =
        std::isfinite(r1) && std::isfinite(r2) ? guarded_product(r1, r2) : NOT_A_NUMBER;
    state->best = CascadeRecord{cascade.l1,
                                cascade.m1,
                                cascade.l2,
                                cascade.m2,
                                combined,
                                c.final_error,
                                c.final_match,
                                true,
                                c.sum,
                                intermediate_rate,
                                c.intermediate_error,
                                c.intermediate_match,
                                c.macs_per_second,
                                c.coefficients,
                                c.macs_grain};

    if (request.mode == SearchMode::custom_limit && target_of(request) != nullptr &&
        priority_of(request) == Priority::balanced && c.final_match && c.intermediate_match) {
        state->dual_match_found = true;
    }
}

bool dual_stop_holds(const TwoStageRequest& request, const SearchState& state) {
    return state.dual_match_found && request.mode == SearchMode::custom_limit &&
           priority_of(request) == Priority::balanced && target_of(request) != nullptr;
}

}  // namespace quillmere::inline v2::core
