// One conversion of the interactive program: the settings, the solve through the library
// with the progress line, and the report, for a record the dialog filled.
#pragma once

#include "interactive/request_record.h"

/// Runs one single-stage conversion: settings, solver, report.
StatusCode handle_one_resampler(const UserInputs* inputs);

/// Runs one two-stage conversion: header, search with its progress line, summary and report.
StatusCode prompt_and_run_two_resamplers(const UserInputs* inputs);
