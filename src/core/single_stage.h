// The single-stage solver: the last convergent of output/input within the factor limit.
#pragma once

#include "core/search_context.h"

namespace quillmere::core {

/// The last convergent L/M of output/input with M <= max_factor_limit and the rate it
/// achieves. Errors go to the context's observer; Status::stopped on a stop request.
/// convergent_count (may be null) receives the number of convergents, -1 when the
/// expansion was not reached.
Status calculate_single_resampler(const SearchContext& context, double input_rate,
                                  double output_rate, long long* l, long long* m,
                                  double* achieved_output_rate, int* convergent_count = nullptr);

}  // namespace quillmere::core
