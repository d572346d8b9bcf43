#include "core/single_stage.h"

#include <cmath>
#include <limits>

#include "core/arithmetic.h"

namespace quillmere::core {

Status calculate_single_resampler(const SearchContext& context, double input_rate,
                                  double output_rate, long long* l, long long* m,
                                  double* achieved_output_rate, int* convergent_count) {
    if (convergent_count != nullptr) *convergent_count = -1;
    if (context.stop_requested()) return Status::stopped;
    if (l == nullptr || m == nullptr || achieved_output_rate == nullptr) {
        return Status::invalid_request;
    }
    *l = 0;
    *m = 0;
    *achieved_output_rate = std::numeric_limits<double>::quiet_NaN();

    if (!std::isfinite(input_rate) || !std::isfinite(output_rate) || input_rate <= 0.0 ||
        output_rate <= 0.0) {
        context.error(SolverError{SolverErrorKind::invalid_request, Status::invalid_request});
        return Status::invalid_request;
    }
    // The quotient of two valid rates can still overflow or underflow.
    const double ratio = output_rate / input_rate;
    if (!std::isfinite(ratio) || ratio <= 0.0) {
        context.error(SolverError{SolverErrorKind::invalid_request, Status::calculation_error});
        return Status::calculation_error;
    }

    ConvergentList list;
    const Status status =
        calculate_cfe_convergents(ratio, max_factor_limit, &list.items, &list.count);
    if (convergent_count != nullptr) *convergent_count = list.count;
    if (status != Status::ok) {
        context.error(SolverError{SolverErrorKind::convergents_failed, status});
        return status;
    }
    const long long best_l = list.items[list.count - 1].p;
    const long long best_m = list.items[list.count - 1].q;
    *l = best_l;
    *m = best_m;
    list.release();

    // A ratio below about 1/65536 leaves only 0/1 within the bound on M.
    if (best_m < 1 || best_l < 1) {
        SolverError error{SolverErrorKind::non_positive_factors, Status::calculation_error};
        error.l = best_l;
        error.m = best_m;
        context.error(error);
        return Status::calculation_error;
    }

    *achieved_output_rate =
        (static_cast<double>(best_l) / static_cast<double>(best_m)) * input_rate;
    if (!std::isfinite(*achieved_output_rate)) {
        SolverError error{SolverErrorKind::non_finite_rate, Status::calculation_error};
        error.l = best_l;
        error.m = best_m;
        context.error(error);
        return Status::calculation_error;
    }
    return Status::ok;
}

}  // namespace quillmere::core
