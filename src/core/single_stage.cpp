#include "core/single_stage.h"

#include <cmath>
#include <limits>
#include <vector>

#include "core/arithmetic.h"

namespace quillmere::inline v2::core {

SingleStageOutcome solve_single(const SearchContext& context, double input_rate,
                                double output_rate) {
    SingleStageOutcome outcome;
    if (context.stop_requested()) {
        outcome.status = Status::stopped;
        return outcome;
    }
    if (!std::isfinite(input_rate) || !std::isfinite(output_rate) || input_rate <= 0.0 ||
        output_rate <= 0.0) {
        context.error(SolverError{SolverErrorKind::invalid_request, Status::invalid_request});
        outcome.status = Status::invalid_request;
        return outcome;
    }
    // The quotient of two valid rates can still overflow or underflow.
    const double ratio = output_rate / input_rate;
    if (!std::isfinite(ratio) || ratio <= 0.0) {
        context.error(SolverError{SolverErrorKind::invalid_request, Status::calculation_error});
        outcome.status = Status::calculation_error;
        return outcome;
    }

    ConvergentList convergents;
    const Status status = calculate_cfe_convergents(ratio, max_factor_limit, &convergents);
    outcome.convergent_count = static_cast<int>(convergents.size());
    if (status != Status::ok) {
        context.error(SolverError{SolverErrorKind::convergents_failed, status});
        outcome.status = status;
        return outcome;
    }
    outcome.l = convergents.back().p;
    outcome.m = convergents.back().q;

    // A ratio below about 1/65536 leaves only 0/1 within the bound on M: nothing to find,
    // as when two stages find no cascade.
    if (outcome.m < 1 || outcome.l < 1) {
        SolverError error{SolverErrorKind::non_positive_factors, Status::not_found};
        error.l = outcome.l;
        error.m = outcome.m;
        context.error(error);
        outcome.status = Status::not_found;
        return outcome;
    }

    outcome.achieved_output_rate =
        (static_cast<double>(outcome.l) / static_cast<double>(outcome.m)) * input_rate;
    if (!std::isfinite(outcome.achieved_output_rate)) {
        SolverError error{SolverErrorKind::non_finite_rate, Status::calculation_error};
        error.l = outcome.l;
        error.m = outcome.m;
        context.error(error);
        outcome.status = Status::calculation_error;
        return outcome;
    }
    outcome.status = Status::ok;
    return outcome;
}

}  // namespace quillmere::inline v2::core
