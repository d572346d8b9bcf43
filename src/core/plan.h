// The general request of the public API (PlanRequest): which solver answers it, and the
// results of the new searches in the public result types.
#pragma once

#include <optional>

#include "core/best_accuracy.h"
#include "core/search_context.h"
#include "quillmere/quillmere.h"

namespace quillmere::inline v2::core {

/// The best-accuracy search of a two-stage request (its mode is not read), within the
/// tolerance when one is given, as a TwoStageResult; what the search found, its best error
/// and its message among them, in *found (may be null). May throw std::bad_alloc.
TwoStageResult best_accuracy_result(const SearchContext& context, const TwoStageRequest& request,
                                    const std::optional<double>& tolerance,
                                    AccuracyResult* found);

}  // namespace quillmere::inline v2::core
