// The single-stage solver: the last convergent of output/input within the factor limit.
#pragma once

#include <limits>

#include "core/search_context.h"

namespace quillmere::inline v2::core {

/// What the single-stage solver found.
struct SingleStageOutcome {
    Status status = Status::calculation_error;
    /// The last convergent L/M (0/0 when the expansion was not reached).
    long long l = 0;
    long long m = 0;
    /// (L / M) x input; NaN when not computed.
    double achieved_output_rate = std::numeric_limits<double>::quiet_NaN();
    /// Convergents of the expansion; -1 when it was not reached.
    int convergent_count = -1;
};

/// The last convergent L/M of output/input with M <= max_factor_limit and the rate it
/// achieves. Errors go to the context's observer; Status::stopped on a stop request. May
/// throw std::bad_alloc.
SingleStageOutcome solve_single(const SearchContext& context, double input_rate,
                                double output_rate);

}  // namespace quillmere::inline v2::core
