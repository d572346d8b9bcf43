// Why a cascade or its filter requirements cannot be priced, in words: the field a refusal
// names (as RequestCheck names fields) and one sentence that says why.
#pragma once

#include <cstddef>
#include <string>

#include "core/filter_model.h"
#include "quillmere/quillmere.h"

namespace quillmere::inline v2::cost_model {

/// The field (as RequestCheck names it) and a one-sentence message for a refusal.
struct RefusalText {
    std::string field;
    std::string message;
};

/// The text of a refusal of the cascade `stages` fed at input_rate_hz; walks the cascade
/// again for the stage and the edges the refusal concerns.
RefusalText describe_refusal(Refusal refusal, double input_rate_hz, const Stage* stages,
                             std::size_t count, const FilterSpec& filter);

/// The text of a refusal of the filter requirements themselves (the decibels and the
/// edges), whose design was resolved against half_lower_rate_hz.
RefusalText describe_filter_refusal(Refusal refusal, const Design& design, const FilterSpec& filter,
                                    double half_lower_rate_hz);

}  // namespace quillmere::inline v2::cost_model
