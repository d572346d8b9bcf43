// The best-accuracy two-stage search: the cascade L1/M1 -> L2/M2 with the smallest final
// error among all cascades whose L and M are within the per-stage limit (not only the
// splits of the ratio's convergents that the dialog's modes choose from), the
// intermediate-rate target and its priorities applied as in the other modes, ties in the
// error going to the smaller L1+M1+L2+M2. See best_accuracy.cpp for why it is correct and
// why it answers in about a millisecond at any limit.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include "core/candidate.h"
#include "core/exact_ratio.h"
#include "core/search_context.h"
#include "quillmere/quillmere.h"

namespace quillmere::inline v2::core {

/// What the best-accuracy search reads from a request.
struct AccuracyRequest {
    double input_rate_hz = 0.0;
    double output_rate_hz = 0.0;
    /// Largest L and M of each stage, 1..max_factor_limit.
    long long max_factor = max_factor_limit;
    /// Whether the first stage may decimate (M1 > L1).
    bool allow_first_stage_decimation = true;
    std::optional<IntermediateTarget> intermediate_target;
    /// Only cascades whose exact relative error is within it are considered.
    std::optional<Tolerance> tolerance;
};

/// The answer: the record of the chosen cascade as the other modes fill it (each stage in
/// lowest terms; the final error in Hz and the intermediate measures computed as the
/// assessment computes them; the final match judged on the exact error), and its exact
/// relative error.
struct AccuracyResult {
    /// ok, not_found (no cascade meets the target's strict priority or the tolerance), or
    /// stopped.
    Status status = Status::not_found;
    CascadeRecord best = make_empty_record();
    ExactError error;
    /// The smallest relative error among the cascades the priority left, when the tolerance
    /// refused them all; NaN otherwise.
    double best_error_found = std::numeric_limits<double>::quiet_NaN();
    /// Why nothing was found, in one sentence; empty on success.
    std::string message;
};

/// Runs the search. The request is taken as checked (rates 1 Hz to 1e13 Hz, limit 1..65535).
AccuracyResult search_best_accuracy(const SearchContext& context, const AccuracyRequest& request);

/// The one sentence of a not_found result whose best error misses the tolerance.
std::string tolerance_miss_message(double best_error, const Tolerance& tolerance);

}  // namespace quillmere::inline v2::core
