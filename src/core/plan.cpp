// The general request of the public API: its check, which solver answers it, the
// tolerance every mode applies to its result, and the results of the searches beyond the
// dialog's candidates in the public result type.
#include "core/plan.h"

#include <cmath>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "core/multistage_min_cost.h"
#include "core/results.h"
#include "text/shortest_double.h"

namespace quillmere::inline v2 {

namespace core {

TwoStageResult best_accuracy_result(const SearchContext& context, const TwoStageRequest& request,
                                    const std::optional<double>& tolerance,
                                    AccuracyResult* found) {
    AccuracyRequest accuracy;
    accuracy.input_rate_hz = request.input_rate_hz;
    accuracy.output_rate_hz = request.output_rate_hz;
    accuracy.max_factor = request.max_factor;
    accuracy.allow_first_stage_decimation = request.allow_first_stage_decimation;
    accuracy.intermediate_target = request.intermediate_target;
    if (tolerance) accuracy.tolerance = Tolerance{*tolerance};
    AccuracyResult searched = search_best_accuracy(context, accuracy);
    SearchOutcome outcome;
    outcome.status = searched.status;
    outcome.best = searched.best;
    TwoStageResult result = two_stage_result(request, outcome);
    if (searched.status == Status::stopped) {
        result.message = "The search was stopped on request.";
    } else if (searched.status != Status::ok) {
        result.message = searched.message;
    }
    if (found != nullptr) *found = std::move(searched);
    return result;
}

}  // namespace core

namespace {

RequestCheck refuse(const char* field, std::string message) {
    return RequestCheck{Status::invalid_request, field, std::move(message)};
}

/// The two-stage request of a plan request, with the first-stage decimation it resolves to.
TwoStageRequest two_stage_form(const PlanRequest& request) {
    TwoStageRequest two;
    two.input_rate_hz = request.input_rate_hz;
    two.output_rate_hz = request.output_rate_hz;
    two.mode = request.mode;
    two.max_factor = request.max_factor;
    two.allow_first_stage_decimation = first_stage_decimation_allowed(request);
    two.intermediate_target = request.intermediate_target;
    two.filter = request.filter;
    return two;
}

/// Whether the single- or two-stage solver answers the request as the dialog would.
bool dialog_solver_answers(const PlanRequest& request) {
    switch (request.mode) {
    case SearchMode::minimal_sum: return true;  // one stage or two
    case SearchMode::custom_limit: return request.stages == 2;
    case SearchMode::min_cost: return request.stages == 2 && !request.tolerance;
    case SearchMode::best_accuracy: break;
    }
    return false;
}

RequestCheck check_plan(const PlanRequest& request) {
    if (request.stages < auto_stages || request.stages > max_plan_stages) {
        return refuse("stages", "stages is " + std::to_string(request.stages) +
                                    "; a plan has 1 to 4 stages, or auto_stages (0).");
    }
    // The rates, the mode, the limit, the target and, in min-cost mode, the filter
    // requirements are checked as for two stages; what only a plan has, below.
    TwoStageRequest two = two_stage_form(request);
    if (request.stages != 2) two.intermediate_target.reset();
    const RequestCheck as_two = check_request(two);
    if (as_two.status != Status::ok) return as_two;
    if ((request.stages == auto_stages || request.stages > 2) &&
        request.mode != SearchMode::min_cost) {
        return refuse("stages", std::string("Plans of ") +
                                    (request.stages == auto_stages
                                         ? "an automatic stage count"
                                         : std::to_string(request.stages) + " stages") +
                                    " are searched in min-cost mode only, not in " +
                                    search_mode_name(request.mode) + ".");
    }
    if (request.stages == 1) {
        if (request.mode == SearchMode::custom_limit || request.mode == SearchMode::best_accuracy) {
            return refuse("mode", std::string(search_mode_name(request.mode)) +
                                      " searches two stages; one stage is solved in "
                                      "minimal-sum (the single-stage solver) or min-cost mode.");
        }
        if (request.mode == SearchMode::minimal_sum && request.max_factor != max_factor_limit) {
            return refuse("max_factor",
                          "max_factor is " + std::to_string(request.max_factor) +
                              "; one stage in minimal-sum mode has the single-stage solver's "
                              "own bound (M up to 65535): use min-cost mode for a limit.");
        }
    }
    if (request.intermediate_target && request.stages != 2) {
        return refuse("intermediate_target",
                      "An intermediate target needs exactly two stages: there is no one rate "
                      "between the stages of another count.");
    }
    if (request.tolerance &&
        !(std::isfinite(*request.tolerance) && *request.tolerance >= 0.0 &&
          *request.tolerance < 1.0)) {
        return refuse("tolerance", "tolerance is " + text::shortest_double(*request.tolerance) +
                                       "; a relative tolerance must be at least 0 and below 1.");
    }
    return {};
}

/// Tells the observer of a refused request.
void report_refusal(const SolveOptions& options) {
    if (options.observer != nullptr) {
        options.observer->on_error(
            SolverError{SolverErrorKind::invalid_request, Status::invalid_request});
    }
}

PlanResult failed(Status status, std::string message) {
    PlanResult result;
    result.status = status;
    result.message = std::move(message);
    return result;
}

/// The fields a single- and a two-stage result share, in a plan result; the stages' own
/// fields are the caller's.
template <typename Result>
PlanResult shared_fields(const Result& from) {
    PlanResult result;
    result.status = from.status;
    result.outcome = from.outcome;
    result.message = from.message;
    result.convergent_count = from.convergent_count;
    if (from.status != Status::ok) return result;
    result.output_rate_hz = from.output_rate_hz;
    result.output_error = from.output_error;
    result.advice = from.advice;
    return result;
}

PlanResult from_single(const SingleStageResult& single) {
    PlanResult result = shared_fields(single);
    if (single.status != Status::ok) return result;
    result.stages = {single.stage};
    result.stage_output_rates_hz = {single.output_rate_hz};
    result.combined_ratio = single.achieved_ratio;
    result.overall_sum = single.stage.l + single.stage.m;
    result.overall_complexity = single.stage.complexity();
    return result;
}

PlanResult from_two(const TwoStageResult& two) {
    PlanResult result = shared_fields(two);
    result.common_factor_iterations = two.common_factor_iterations;
    if (two.status != Status::ok) return result;
    result.stages = {two.first, two.second};
    result.stage_output_rates_hz = {two.intermediate_rate_hz, two.output_rate_hz};
    result.combined_ratio = two.combined_ratio;
    result.intermediate_error = two.intermediate_error;
    result.intermediate_match = two.intermediate_match;
    result.overall_sum = two.overall_sum;
    result.overall_complexity = two.overall_complexity;
    return result;
}

/// The result of a plan of the many-stage search (no stage for output = input).
PlanResult from_stages(const PlanRequest& request, const std::vector<Stage>& stages,
                       bool match) {
    PlanResult result;
    result.status = Status::ok;
    result.outcome = match ? Outcome::match : Outcome::approximation;
    result.stages = stages;
    const double input = request.input_rate_hz;
    double ratio = 1.0;
    for (const Stage& s : stages) {
        ratio *= static_cast<double>(s.l) / static_cast<double>(s.m);
        result.stage_output_rates_hz.push_back(core::guarded_product(input, ratio));
        result.overall_sum += s.l + s.m;
        result.overall_complexity += s.complexity();
        result.advice.large_factors = result.advice.large_factors || core::is_large(s);
    }
    result.combined_ratio = std::isfinite(ratio) ? ratio : std::nan("");
    result.output_rate_hz =
        stages.empty() ? input : result.stage_output_rates_hz.back();
    result.output_error = core::rate_error(result.output_rate_hz, request.output_rate_hz);
    Advice& advice = result.advice;
    advice.significant_error =
        !match && !(result.output_error.relative < significant_error_threshold);
    advice.slight_difference = stages.size() >= 2 && !match && !advice.significant_error;
    if (request.intermediate_target && stages.size() == 2) {
        const double target = request.intermediate_target->rate_hz;
        result.intermediate_error = core::rate_error(result.stage_output_rates_hz[0], target);
        result.intermediate_match =
            core::relative_error(result.stage_output_rates_hz[0], target) < match_tolerance;
        advice.intermediate_miss = !result.intermediate_match;
    }
    return result;
}

/// A result of the dialog's solvers outside the tolerance becomes not_found, its error the
/// best found.
void apply_tolerance(const PlanRequest& request, PlanResult* result) {
    if (!request.tolerance || result->status != Status::ok) return;
    const double error = result->output_error.relative;
    if (error <= *request.tolerance) return;
    PlanResult refused;
    refused.status = Status::not_found;
    refused.best_error_found = error;
    refused.convergent_count = result->convergent_count;
    refused.common_factor_iterations = result->common_factor_iterations;
    const std::string which = result->stages.size() == 1 ? "The single stage's" : "The cascade's";
    refused.message = which + " relative error, " + text::shortest_double(error) +
                      ", is outside the tolerance of " + text::shortest_double(*request.tolerance) +
                      (result->stages.size() == 1
                           ? "."
                           : "; best-accuracy mode searches every cascade within the limit.");
    *result = std::move(refused);
}

PlanResult solve_best_accuracy(const PlanRequest& request, const SolveOptions& options) {
    std::optional<SolverError> last_error;
    const core::SearchContext context(options, &last_error);
    core::AccuracyResult found;
    PlanResult result = from_two(
        core::best_accuracy_result(context, two_stage_form(request), request.tolerance, &found));
    if (result.status == Status::not_found) result.best_error_found = found.best_error_found;
    return result;
}

PlanResult solve_min_cost(const PlanRequest& request, const SolveOptions& options) {
    const TwoStageRequest two = two_stage_form(request);
    // Two stages and the automatic count also weigh the two-stage search's answer, which
    // may cancel factors between its stages (8000 -> 16000 Hz as 4/3 -> 3/2): the plan is
    // never behind it.
    TwoStageResult seed_result;
    std::vector<Stage> seed;
    if (request.stages == 2 || request.stages == auto_stages) {
        seed_result = solve_two_stage(two, options);
        if (seed_result.status == Status::ok) {
            seed = {seed_result.first, seed_result.second};
        } else if (seed_result.status != Status::not_found) {
            return from_two(seed_result);
        }
    }
    core::MultistageRequest search;
    search.input_rate_hz = request.input_rate_hz;
    search.output_rate_hz = request.output_rate_hz;
    search.max_factor = request.max_factor;
    search.allow_first_stage_decimation = two.allow_first_stage_decimation;
    search.stages = request.stages;
    search.intermediate_target = request.intermediate_target;
    if (request.tolerance) search.tolerance = core::Tolerance{*request.tolerance};
    search.filter = request.filter;
    search.seed = std::move(seed);
    std::optional<SolverError> last_error;
    const core::SearchContext context(options, &last_error);
    const core::MultistageResult found = core::search_multistage_min_cost(context, search);
    if (found.status == Status::stopped) {
        return failed(Status::stopped, "The search was stopped on request.");
    }

    // The two-stage search's answer as that search gives it when two stages were asked for.
    if (found.status == Status::ok && found.seed_chosen && request.stages == 2) {
        return from_two(seed_result);
    }
    PlanResult result = found.status == Status::ok
                            ? from_stages(request, found.plan.stages,
                                          core::error_below(found.plan.error, match_tolerance))
                            : failed(found.status, found.message);
    result.best_error_found = found.best_error_found;
    // Refused by the tolerance: the two-stage search's answer, where it ran, is the best
    // error found.
    if (found.status == Status::not_found && request.tolerance &&
        seed_result.status == Status::ok) {
        const double error = seed_result.output_error.relative;
        result.best_error_found = error;
        result.message += " The two-stage search's cheapest cascade has a relative error of " +
                          text::shortest_double(error) + ".";
    }
    // What the two-stage search did, where it ran.
    result.convergent_count = seed_result.convergent_count;
    result.common_factor_iterations = seed_result.common_factor_iterations;
    return result;
}

PlanResult solve(const PlanRequest& request, const SolveOptions& options) {
    const RequestCheck check = check_plan(request);
    if (check.status != Status::ok) {
        report_refusal(options);
        return failed(check.status, check.message);
    }
    PlanResult result;
    if (dialog_solver_answers(request)) {
        result = request.stages == 1
                     ? from_single(solve_single_stage(
                           SingleStageRequest{request.input_rate_hz, request.output_rate_hz},
                           options))
                     : from_two(solve_two_stage(two_stage_form(request), options));
        apply_tolerance(request, &result);
        return result;
    }
    if (request.mode == SearchMode::best_accuracy) return solve_best_accuracy(request, options);
    return solve_min_cost(request, options);
}

}  // namespace

bool first_stage_decimation_allowed(const PlanRequest& request) noexcept {
    if (request.allow_first_stage_decimation) return *request.allow_first_stage_decimation;
    return request.mode == SearchMode::min_cost || request.mode == SearchMode::best_accuracy;
}

RequestCheck check_request(const PlanRequest& request) noexcept {
    try {
        return check_plan(request);
    } catch (const std::bad_alloc&) {
        return RequestCheck{Status::memory_error};
    }
}

PlanResult solve_plan(const PlanRequest& request, const SolveOptions& options) noexcept {
    try {
        return solve(request, options);
    } catch (const std::bad_alloc&) {
        PlanResult result;
        result.status = Status::memory_error;
        return result;
    }
}

}  // namespace quillmere::inline v2
