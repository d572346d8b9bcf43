// The public result values of the solvers, computed from what a solver found: the
// errors, the match flags and the advice that the reports print.
#pragma once

#include <cstdint>

#include "core/candidate.h"

namespace quillmere::core {

/// The result of a single-stage solve that found L/M with the given output rate.
SingleStageResult single_stage_result(const SingleStageRequest& request, long long l, long long m,
                                      double achieved_output_rate, int convergent_count);

/// The result of a two-stage search that ended with `status` and the record `best`; the
/// cascade's fields are filled only for Status::ok with a stored record.
TwoStageResult two_stage_result(const TwoStageRequest& request, const CascadeRecord& best,
                                Status status, int convergent_count,
                                std::uint64_t common_factor_iterations);

}  // namespace quillmere::core
