// Solving one request: the library's check of it, the solve, and the
// filter cost when asked, into the record of the answer.
#pragma once

#include <optional>

#include "records/request_options.h"
#include "records/records.h"
#include "records/request_resolution.h"
#include "quillmere/quillmere.h"

namespace quillmere::records {

/// The library's own check of a request; a refusal as a usage error naming the option.
std::optional<UsageError> check_with_library(const ResolvedRequest& request);

/// Solves a request and estimates its cost when asked; the record of the answer.
Record solve(const ResolvedRequest& request, const SolveOptions& options);

}  // namespace quillmere::records
