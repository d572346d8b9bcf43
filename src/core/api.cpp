// The library's public functions: request checks, the two solvers, the names of the
// enumerations and the version. Every one is noexcept: a failed allocation anywhere below
// ends the call here with Status::memory_error.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <new>
#include <numeric>
#include <optional>
#include <string>

#include "core/filter_request_check.h"
#include "core/plan.h"
#include "core/results.h"
#include "core/single_stage.h"
#include "core/two_stage_search.h"
#include "quillmere/quillmere.h"
#include "text/shortest_double.h"

namespace quillmere::inline v2 {

namespace {

RequestCheck refuse(const char* field, std::string message) {
    return RequestCheck{Status::invalid_request, field, std::move(message)};
}

/// A rate or target: finite, min_rate_hz..max_rate_hz.
bool rate_ok(double rate) {
    return std::isfinite(rate) && rate >= min_rate_hz && rate <= max_rate_hz;
}

RequestCheck refuse_rate(const char* field, double rate) {
    return refuse(field, std::string(field) + " is " + text::shortest_double(rate) +
                             " Hz; a rate must be a finite number from 1 to 1e13 Hz.");
}

/// One sentence for a failed call.
std::string failure_message(Status status) {
    switch (status) {
    case Status::stopped: return "The search was stopped on request.";
    case Status::memory_error: return "A list could not be allocated.";
    case Status::calculation_error: return "A computation gave no usable result.";
    case Status::overflow_error: return "A 64-bit integer computation would overflow.";
    case Status::invalid_request: return "The request was refused.";
    case Status::ok:
    case Status::not_found: break;
    }
    return {};
}

const char* factored_name(FactoredNumber number) {
    switch (number) {
    case FactoredNumber::convergent_l: return "a convergent's numerator";
    case FactoredNumber::convergent_m: return "a convergent's denominator";
    case FactoredNumber::simplest_l: return "the exact ratio's numerator";
    case FactoredNumber::simplest_m: return "the exact ratio's denominator";
    }
    return "a number";
}

/// One sentence for a failed call, from the solver's error when it reported one.
std::string failure_message(Status status, const std::optional<SolverError>& error) {
    if (!error) return failure_message(status);
    switch (error->kind) {
    case SolverErrorKind::non_positive_factors:
        return "No L/M with M up to 65535 approximates the ratio: it is below 1/65535 (the "
               "last convergent is " +
               std::to_string(error->l) + "/" + std::to_string(error->m) +
               "); two stages may find one.";
    case SolverErrorKind::non_finite_rate:
        return "The output rate of " + std::to_string(error->l) + "/" + std::to_string(error->m) +
               " is not a finite number.";
    case SolverErrorKind::convergents_failed:
        return std::string("The continued-fraction expansion of the ratio failed (") +
               status_name(error->status) + ").";
    case SolverErrorKind::factoring_failed:
        return std::string("Factoring ") + factored_name(error->factored) + ", " +
               std::to_string(error->value) + ", failed (" + status_name(error->status) + ").";
    case SolverErrorKind::invalid_request: break;
    }
    return failure_message(status);
}

/// Why two stages found nothing, in one sentence: the request's limits and rules that no
/// candidate got past.
std::string not_found_message(const TwoStageRequest& request) {
    std::string stages = "No two stages with L and M up to " + std::to_string(request.max_factor);
    if (!request.allow_first_stage_decimation) stages += " and L1 >= M1";
    // Two stages make at most limit^2, and at least 1/limit^2, or 1/limit when the first
    // stage may not decimate.
    const double ratio = request.output_rate_hz / request.input_rate_hz;
    const std::int64_t widest = request.max_factor * request.max_factor;
    const std::int64_t deepest = request.allow_first_stage_decimation ? widest : request.max_factor;
    if (ratio < 1.0 / static_cast<double>(deepest)) {
        return stages + " reach the ratio " + text::shortest_double(ratio) + ": it is below 1/" +
               std::to_string(deepest) + ", the smallest ratio such stages make.";
    }
    if (ratio > static_cast<double>(widest)) {
        return stages + " reach the ratio " + text::shortest_double(ratio) + ": it is above " +
               std::to_string(widest) + ", the largest ratio such stages make.";
    }
    if (request.intermediate_target && request.intermediate_target->priority == Priority::strict) {
        return stages + " pass through the intermediate target " +
               text::shortest_double(request.intermediate_target->rate_hz) +
               " Hz, which the strict priority requires.";
    }
    if (request.mode == SearchMode::min_cost) {
        return stages + " approximate the ratio " + text::shortest_double(ratio) +
               " with filters that the requirements allow.";
    }
    return stages + " approximate the ratio " + text::shortest_double(ratio) + ".";
}

/// Min-cost mode: each stage in lowest terms. The common-factor pass can leave a factor
/// common to a stage's L and M (8000 -> 16000 Hz as 4/3 -> 6/4); dividing it out keeps the
/// stage's ratio, so every rate, error and match; its multiply-accumulates per second move
/// by less than two taps' worth, inside the min-cost order's tie band, while its filter
/// needs that factor fewer coefficients, which the tie rule prefers.
void reduce_stages(core::CascadeRecord* best) {
    const long long g1 = std::gcd(best->l1, best->m1);
    const long long g2 = std::gcd(best->l2, best->m2);
    best->l1 /= g1;
    best->m1 /= g1;
    best->l2 /= g2;
    best->m2 /= g2;
    best->overall_sum = best->l1 + best->m1 + best->l2 + best->m2;
}

/// Tells the observer of a refused request.
void report_refusal(const SolveOptions& options) {
    if (options.observer != nullptr) {
        options.observer->on_error(
            SolverError{SolverErrorKind::invalid_request, Status::invalid_request});
    }
}

/// A result that says memory ran out, with its sentence when there is room for it.
template <typename Result>
Result out_of_memory() noexcept {
    Result result;
    result.status = Status::memory_error;
    try {
        result.message = failure_message(Status::memory_error);
    } catch (const std::bad_alloc&) {
        // Not even the sentence fits: the status says it alone.
    }
    return result;
}

RequestCheck check_two_stage(const TwoStageRequest& request) {
    if (!rate_ok(request.input_rate_hz)) return refuse_rate("input_rate_hz", request.input_rate_hz);
    if (!rate_ok(request.output_rate_hz)) {
        return refuse_rate("output_rate_hz", request.output_rate_hz);
    }
    switch (request.mode) {
    case SearchMode::minimal_sum:
    case SearchMode::custom_limit:
    case SearchMode::min_cost:
    case SearchMode::best_accuracy: break;
    default:
        return refuse("mode", "mode is " + std::to_string(static_cast<int>(request.mode)) +
                                  ", which names no search mode.");
    }
    if (request.max_factor < 1 || request.max_factor > max_factor_limit) {
        return refuse("max_factor", "max_factor is " + std::to_string(request.max_factor) +
                                        "; the per-stage limit must be from 1 to 65535.");
    }
    if (request.intermediate_target) {
        const IntermediateTarget& target = *request.intermediate_target;
        if (!rate_ok(target.rate_hz)) {
            return refuse_rate("intermediate_target.rate_hz", target.rate_hz);
        }
        switch (target.priority) {
        case Priority::strict:
        case Priority::final:
        case Priority::balanced:
        case Priority::ignore: break;
        default:
            return refuse("intermediate_target.priority",
                          "intermediate_target.priority is " +
                              std::to_string(static_cast<int>(target.priority)) +
                              ", which names no priority.");
        }
    }
    if (request.mode == SearchMode::min_cost) return cost_model::check_filter_request(request);
    return {};
}

SingleStageResult solve_single(const SingleStageRequest& request, const SolveOptions& options) {
    SingleStageResult result;
    const RequestCheck check = check_request(request);
    if (check.status != Status::ok) {
        result.status = check.status;
        result.message = check.message;
        report_refusal(options);
        return result;
    }
    std::optional<SolverError> last_error;
    const core::SearchContext context(options, &last_error);
    const core::SingleStageOutcome outcome =
        core::solve_single(context, request.input_rate_hz, request.output_rate_hz);
    if (outcome.status != Status::ok) {
        result.status = outcome.status;
        result.convergent_count = outcome.convergent_count;
        result.message = failure_message(outcome.status, last_error);
        return result;
    }
    return core::single_stage_result(request, outcome);
}

TwoStageResult solve_two(const TwoStageRequest& request, const SolveOptions& options) {
    TwoStageResult result;
    const RequestCheck check = check_request(request);
    if (check.status != Status::ok) {
        result.status = check.status;
        result.message = check.message;
        report_refusal(options);
        return result;
    }
    std::optional<SolverError> last_error;
    const core::SearchContext context(options, &last_error);
    if (request.mode == SearchMode::best_accuracy) {
        return core::best_accuracy_result(context, request, std::nullopt, nullptr);
    }
    core::SearchOutcome outcome = core::search_two_stage(context, request);
    if (outcome.status != Status::ok) {
        result.status = outcome.status;
        result.convergent_count = outcome.convergent_count;
        result.common_factor_iterations = outcome.common_factor_iterations;
        result.message = outcome.status == Status::not_found
                             ? not_found_message(request)
                             : failure_message(outcome.status, last_error);
        return result;
    }
    if (request.mode == SearchMode::min_cost && outcome.best.found) reduce_stages(&outcome.best);
    return core::two_stage_result(request, outcome);
}

}  // namespace

const char* version() noexcept {
    return QUILLMERE_VERSION_STRING;
}

const char* status_name(Status status) noexcept {
    switch (status) {
    case Status::ok: return "ok";
    case Status::not_found: return "not_found";
    case Status::stopped: return "stopped";
    case Status::invalid_request: return "invalid_request";
    case Status::memory_error: return "memory_error";
    case Status::calculation_error: return "calculation_error";
    case Status::overflow_error: return "overflow_error";
    }
    return "unknown";
}

const char* search_mode_name(SearchMode mode) noexcept {
    switch (mode) {
    case SearchMode::minimal_sum: return "minimal-sum";
    case SearchMode::custom_limit: return "custom-limit";
    case SearchMode::min_cost: return "min-cost";
    case SearchMode::best_accuracy: return "best-accuracy";
    }
    return "unknown";
}

const char* priority_name(Priority priority) noexcept {
    switch (priority) {
    case Priority::strict: return "strict";
    case Priority::final: return "final";
    case Priority::balanced: return "balanced";
    case Priority::ignore: return "ignore";
    }
    return "unknown";
}

const char* outcome_name(Outcome outcome) noexcept {
    switch (outcome) {
    case Outcome::match: return "match";
    case Outcome::approximation: return "approximation";
    case Outcome::not_found: return "not_found";
    }
    return "unknown";
}

SearchObserver::~SearchObserver() = default;
void SearchObserver::on_convergent(int, int) {}
void SearchObserver::on_common_factor_iterations(std::uint64_t) {}
void SearchObserver::on_pass_done(SearchPass) {}
void SearchObserver::on_error(const SolverError&) {}
void SearchObserver::on_progress(const SearchProgress&) {}

double SearchProgress::fraction() const noexcept {
    if (total == 0 || searches < 1 || search < 1 || search > searches) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    const double within = static_cast<double>(std::min(done, total)) / static_cast<double>(total);
    return (static_cast<double>(search - 1) + within) / static_cast<double>(searches);
}

RequestCheck check_request(const SingleStageRequest& request) noexcept {
    try {
        if (!rate_ok(request.input_rate_hz)) {
            return refuse_rate("input_rate_hz", request.input_rate_hz);
        }
        if (!rate_ok(request.output_rate_hz)) {
            return refuse_rate("output_rate_hz", request.output_rate_hz);
        }
        return {};
    } catch (const std::bad_alloc&) {
        return RequestCheck{Status::memory_error};
    }
}

RequestCheck check_request(const TwoStageRequest& request) noexcept {
    try {
        return check_two_stage(request);
    } catch (const std::bad_alloc&) {
        return RequestCheck{Status::memory_error};
    }
}

SingleStageResult solve_single_stage(const SingleStageRequest& request,
                                     const SolveOptions& options) noexcept {
    try {
        return solve_single(request, options);
    } catch (const std::bad_alloc&) {
        return out_of_memory<SingleStageResult>();
    }
}

TwoStageResult solve_two_stage(const TwoStageRequest& request,
                               const SolveOptions& options) noexcept {
    try {
        return solve_two(request, options);
    } catch (const std::bad_alloc&) {
        return out_of_memory<TwoStageResult>();
    }
}

}  // namespace quillmere::inline v2
