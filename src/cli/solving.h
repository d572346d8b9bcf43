// Solving one request of the command line: the library's check of it, the solve, and the
// filter cost when asked, into the record of the answer.
#pragma once

#include <optional>

#include "cli/options.h"
#include "cli/records.h"
#include "cli/request_resolution.h"
#include "quillmere/quillmere.h"

namespace quillmere::cli {

/// The library's own check of a request; a refusal as a usage error naming the option.
std::optional<UsageError> check_with_library(const ResolvedRequest& request);

/// Solves a request and estimates its cost when asked; the record of the answer.
Record solve(const ResolvedRequest& request, const SolveOptions& options);

/// True when a stop was requested or the record's search was stopped.
bool search_stopped(const Record& record);

}  // namespace quillmere::cli
