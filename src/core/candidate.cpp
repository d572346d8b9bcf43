#include "core/candidate.h"

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>

#include "core/filter_cost.h"

namespace quillmere::core {

namespace {

constexpr double NOT_A_NUMBER = std::numeric_limits<double>::quiet_NaN();
constexpr double INFINITE_ERROR = std::numeric_limits<double>::infinity();
/// Two final or two intermediate errors closer than this (Hz) count as equal.
constexpr double ERROR_TIE_TOLERANCE = 1e-15;
constexpr long long INT64_MAX_VALUE = INT64_MAX;

/// L1 + M1 + L2 + M2, or -1 when the exact sum exceeds INT64_MAX.
long long guarded_sum(long long l1, long long m1, long long l2, long long m2) {
    std::uint64_t total = 0;
    for (const long long term : {l1, m1, l2, m2}) {
        const std::uint64_t next = total + static_cast<std::uint64_t>(term);
        if (next < total) return -1;
        total = next;
    }
    if (total > static_cast<std::uint64_t>(INT64_MAX_VALUE)) return -1;
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
    } else if (!cost_model::macs_tied(cp, bp)) {
        return c.macs_per_second < b.macs_per_second;
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
                          const SearchRequest& inputs) {
    const bool strict = inputs.has_intermediate_target && inputs.priority == Priority::strict;
    if (!b.found) return !strict || c.intermediate_match ? Verdict::accept : Verdict::reject;

    const Priority priority = inputs.has_intermediate_target ? inputs.priority : Priority::ignore;
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

bool wins_by_mode_order(const CandidateMeasures& c, const CascadeRecord& b, SearchMode search_mode,
                        const cost_model::Price* reference_price) {
    switch (search_mode) {
    case SearchMode::minimal_sum:
        if (c.sum < b.overall_sum) return true;
        return c.sum == b.overall_sum && (b.final_error - ERROR_TIE_TOLERANCE) > c.final_error;
    case SearchMode::custom_limit: break;
    case SearchMode::min_cost: return wins_by_cost(c, b, reference_price);
    }
    if ((b.final_error - ERROR_TIE_TOLERANCE) > c.final_error) return true;
    return std::fabs(c.final_error - b.final_error) < ERROR_TIE_TOLERANCE && c.sum < b.overall_sum;
}

bool candidate_wins(const CandidateMeasures& c, const CascadeRecord& b, const SearchRequest& inputs,
                    SearchMode search_mode) {
    if (c.sum == -1 || !std::isfinite(c.final_error)) return false;
    if (search_mode == SearchMode::min_cost && std::isnan(c.macs_per_second)) return false;
    const Verdict verdict = judge_by_priority(c, b, inputs);
    return verdict == Verdict::accept ||
           (verdict == Verdict::mode_order &&
            wins_by_mode_order(c, b, search_mode,
                               inputs.reference_price ? &*inputs.reference_price : nullptr));
}

CascadeRecord make_empty_record() {
    return CascadeRecord{0,
                         0,
                         0,
                         0,
                         NOT_A_NUMBER,
                         INFINITE_ERROR,
                         false,
                         false,
                         INT64_MAX_VALUE,
                         NOT_A_NUMBER,
                         INFINITE_ERROR,
                         false,
                         INFINITE_ERROR,
                         0,
                         0.0};
}

bool price_candidate(const SearchRequest& inputs, long long l1, long long m1, long long l2,
                     long long m2, CandidateMeasures* c) {
    const Stage stages[2] = {Stage{l1, m1, 0}, Stage{l2, m2, 0}};
    cost_model::Price price;
    if (cost_model::price_cascade(inputs.input_rate, stages, 2, inputs.filter, &price) !=
        cost_model::Refusal::none) {
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

bool assess_two_stage_candidate(long long l1, long long m1, long long l2, long long m2,
                                long long max_lm, const SearchRequest* inputs,
                                SearchMode search_mode, CascadeRecord* best,
                                bool* dual_match_found) {
    if (inputs == nullptr || best == nullptr) return false;
    if (l1 < 1 || m1 < 1 || l2 < 1 || m2 < 1) return false;
    if (l1 > max_lm || m1 > max_lm || l2 > max_lm || m2 > max_lm) return false;
    if (!inputs->allow_m1_gt_l1 && l1 < m1) return false;

    CandidateMeasures c{};
    const double rate = calculate_achieved_output_rate_two(inputs->input_rate, l1, m1, l2, m2);
    if (std::isfinite(rate)) {
        c.final_error = std::fabs(rate - inputs->output_rate);
        c.final_match = relative_error(rate, inputs->output_rate) < match_tolerance;
    } else {
        c.final_error = INFINITE_ERROR;
        c.final_match = false;
    }

    double intermediate_rate = NOT_A_NUMBER;
    if (std::isfinite(inputs->input_rate) && inputs->input_rate > 0.0) {
        intermediate_rate =
            guarded_product(inputs->input_rate, static_cast<double>(l1) / static_cast<double>(m1));
    }
    c.intermediate_error = INFINITE_ERROR;
    c.intermediate_match = false;
    if (inputs->has_intermediate_target && std::isfinite(intermediate_rate)) {
        c.intermediate_error = std::fabs(intermediate_rate - inputs->target_intermediate_rate);
        c.intermediate_match =
            relative_error(intermediate_rate, inputs->target_intermediate_rate) < match_tolerance;
    }
    c.sum = guarded_sum(l1, m1, l2, m2);
    if (search_mode == SearchMode::min_cost && c.sum != -1 && std::isfinite(c.final_error)) {
        price_candidate(*inputs, l1, m1, l2, m2, &c);
    }

    if (!candidate_wins(c, *best, *inputs, search_mode)) return false;

    const double r1 = stage_ratio(l1, m1);
    const double r2 = stage_ratio(l2, m2);
    const double combined =
        std::isfinite(r1) && std::isfinite(r2) ? guarded_product(r1, r2) : NOT_A_NUMBER;
    *best = CascadeRecord{l1,
                          m1,
                          l2,
                          m2,
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

    if (dual_match_found != nullptr && search_mode == SearchMode::custom_limit &&
        inputs->has_intermediate_target && inputs->priority == Priority::balanced &&
        c.final_match && c.intermediate_match) {
        *dual_match_found = true;
    }
    return true;
}

void assess_candidate_and_update(long long l1, long long m1, long long l2, long long m2,
                                 long long max_lm, const SearchRequest* inputs,
                                 SearchMode search_mode, CascadeRecord* best,
                                 bool* dual_match_found) {
    (void)assess_two_stage_candidate(l1, m1, l2, m2, max_lm, inputs, search_mode, best,
                                     dual_match_found);
}

bool dual_stop_holds(const SearchRequest* inputs, SearchMode search_mode, bool dual_match_found) {
    return search_mode == SearchMode::custom_limit && inputs->has_intermediate_target &&
           inputs->priority == Priority::balanced && dual_match_found;
}

}  // namespace quillmere::core
