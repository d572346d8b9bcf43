// The public result values of the solvers, computed from what a solver found: the
// errors, the match flags and the advice that the reports print.
#pragma once

#include "core/single_stage.h"
#include "core/two_stage_search.h"

namespace quillmere::inline v2::core {

/// An achieved rate against its target: the difference, relative and in ppm; NaN where
/// the achieved rate is not finite.
RateError rate_error(double achieved, double target);

/// Whether a stage has a factor above large_factor_threshold.
bool is_large(const Stage& stage);

/// The result of a single-stage solve that found L/M (outcome.status == Status::ok).
SingleStageResult single_stage_result(const SingleStageRequest& request,
                                      const SingleStageOutcome& outcome);

/// The result of a two-stage search; the cascade's fields are filled only for Status::ok
/// with a stored record.
TwoStageResult two_stage_result(const TwoStageRequest& request, const SearchOutcome& outcome);

}  // namespace quillmere::inline v2::core
