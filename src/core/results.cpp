#include "core/results.h"

#include <cmath>
#include <limits>

namespace quillmere::inline v2::core {

namespace {

constexpr double NOT_A_NUMBER = std::numeric_limits<double>::quiet_NaN();
constexpr double INFINITE = std::numeric_limits<double>::infinity();

/// Relative form of a difference d from target t; NaN when d is NaN.
double relative_difference(double d, double t) {
    if (std::isnan(d)) return NOT_A_NUMBER;
    return std::fabs(t) > ZERO_GUARD ? std::fabs(d / t) : std::fabs(d);
}

/// Parts per million of a difference d from target t; infinite against a zero target.
double ppm_difference(double d, double t) {
    if (std::isnan(d)) return NOT_A_NUMBER;
    if (std::fabs(t) > ZERO_GUARD) return (d / t) * 1000000.0;
    if (std::fabs(d) > ZERO_GUARD) return d > 0.0 ? INFINITE : -INFINITE;
    return 0.0;
}

}  // namespace

RateError rate_error(double achieved, double target) {
    const double difference = std::isfinite(achieved) ? achieved - target : NOT_A_NUMBER;
    return RateError{difference, relative_difference(difference, target),
                     ppm_difference(difference, target)};
}

bool is_large(const Stage& stage) {
    return stage.l > large_factor_threshold || stage.m > large_factor_threshold;
}

SingleStageResult single_stage_result(const SingleStageRequest& request,
                                      const SingleStageOutcome& outcome) {
    SingleStageResult result;
    result.status = Status::ok;
    result.convergent_count = outcome.convergent_count;
    result.stage = Stage{outcome.l, outcome.m};
    result.achieved_ratio = static_cast<double>(outcome.l) / static_cast<double>(outcome.m);
    result.output_rate_hz = outcome.achieved_output_rate;
    result.output_error = rate_error(outcome.achieved_output_rate, request.output_rate_hz);
    const bool match = result.output_error.relative < match_tolerance;
    result.outcome = match ? Outcome::match : Outcome::approximation;
    result.advice.significant_error =
        !match && result.output_error.relative >= significant_error_threshold;
    result.advice.large_factors = is_large(result.stage);
    return result;
}

TwoStageResult two_stage_result(const TwoStageRequest& request, const SearchOutcome& outcome) {
    TwoStageResult result;
    result.status = outcome.status;
    result.convergent_count = outcome.convergent_count;
    result.common_factor_iterations = outcome.common_factor_iterations;
    const CascadeRecord& best = outcome.best;
    if (outcome.status != Status::ok || !best.found) return result;

    result.first = Stage{best.l1, best.m1};
    result.second = Stage{best.l2, best.m2};
    result.overall_sum = best.overall_sum;
    const std::int64_t c1 = result.first.complexity();
    const std::int64_t c2 = result.second.complexity();
    constexpr std::int64_t MAX = std::numeric_limits<std::int64_t>::max();
    result.overall_complexity = c1 < 0 || c2 < 0 ? -1 : c1 > MAX - c2 ? MAX : c1 + c2;
    result.combined_ratio = best.combined_ratio;
    result.intermediate_rate_hz = best.achieved_intermediate_rate;
    result.output_rate_hz = calculate_achieved_output_rate_two(request.input_rate_hz, best.l1,
                                                               best.m1, best.l2, best.m2);
    result.output_error = rate_error(result.output_rate_hz, request.output_rate_hz);
    result.outcome = best.final_match ? Outcome::match : Outcome::approximation;

    const double stored_relative =
        std::isfinite(best.final_error)
            ? relative_difference(best.final_error, request.output_rate_hz)
            : NOT_A_NUMBER;
    Advice& advice = result.advice;
    advice.significant_error = !best.final_match && std::isfinite(stored_relative) &&
                               stored_relative >= significant_error_threshold;
    advice.large_factors = is_large(result.first) || is_large(result.second);
    advice.slight_difference = !best.final_match && !advice.significant_error;
    if (request.intermediate_target) {
        const double target = request.intermediate_target->rate_hz;
        result.intermediate_error = rate_error(best.achieved_intermediate_rate, target);
        result.intermediate_match = best.intermediate_match;
        advice.intermediate_miss = !best.intermediate_match;
    }
    return result;
}

}  // namespace quillmere::inline v2::core
