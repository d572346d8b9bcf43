// The advice of a report: the library's own, and two warnings that exist because the
// dialog asks about them (a large per-stage limit, a target above both rates). They are
// the front ends' policy, not the solver's, so they are worked out here, for the dialog's
// questions and for the command line's records alike.
#pragma once

#include <cstdint>

#include "quillmere/quillmere.h"

namespace quillmere::report {

/// Largest per-stage limit that the dialog accepts without asking for confirmation.
inline constexpr std::int64_t unconfirmed_limit = large_factor_threshold;

/// The library's advice and the two warnings the dialog gives as questions.
struct ReportAdvice : Advice {
    /// Two stages in custom-limit mode: the per-stage limit exceeds unconfirmed_limit
    /// (the dialog asks for confirmation of such a limit). Only a limit the user sets for
    /// accuracy is warned of: minimal-sum mode searches up to the program's own limit, and
    /// in min-cost mode a large limit costs nothing (the cheapest split wins whatever its
    /// size).
    bool large_limit = false;
    /// Two stages: the target is above both the input and the output rate, which means
    /// oversampling then downsampling (the dialog warns of it).
    bool high_intermediate_target = false;
};

/// The advice of a single-stage result: the library's.
ReportAdvice report_advice(const SingleStageResult& result);

/// The advice of a two-stage result; the warnings only for a result with factors, as the
/// library's own advice.
ReportAdvice report_advice(const TwoStageRequest& request, const TwoStageResult& result);

/// The advice of a plan's result, as of a two-stage result (the warnings for a plan of two
/// stages or more).
ReportAdvice report_advice(const PlanRequest& request, const PlanResult& result);

}  // namespace quillmere::report
