// The check of a two-stage request's filter requirements before a min-cost search.
#pragma once

#include "quillmere/quillmere.h"

namespace quillmere::inline v2::cost_model {

/// Checks the filter requirements of a two-stage request before a min-cost search: the
/// decibels, the edges against the requested rates, and, unless its priority is ignore, an
/// intermediate target too low to carry the passband. Status::ok when it may be searched.
RequestCheck check_filter_request(const TwoStageRequest& request);

}  // namespace quillmere::inline v2::cost_model
