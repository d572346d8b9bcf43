// One conversion of the interactive program: the settings, the solve through the library
// with the progress dots, and the report, for a request the dialog filled.
#pragma once

#include "quillmere/quillmere.h"

namespace quillmere::interactive {

/// Runs one single-stage conversion: settings, solver, report. Returns the solver's
/// status, or Status::stopped when a stop was requested before it.
Status run_single_stage(const SingleStageRequest& request);

/// Runs one two-stage conversion: header, search with its progress dots, summary and
/// report. Returns Status::ok or Status::not_found after a report, Status::stopped after
/// a stop request, or the search's failure.
Status run_two_stage(const TwoStageRequest& request);

}  // namespace quillmere::interactive
