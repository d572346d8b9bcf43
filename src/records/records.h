// One record per request: the request as understood, its result or the reason it has
// none, and the filter cost; and the three ways of writing it (text, JSON, CSV), each
// into a string that the caller writes whole.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "records/request_resolution.h"
#include "quillmere/quillmere.h"

namespace quillmere::records {

/// The answer to one request, or to one line of a batch file.
struct Record {
    /// The batch line (from 1); absent for a request from the command line.
    std::optional<std::int64_t> line;
    /// Why a line gave no request, or why its request failed; empty otherwise.
    std::string error;
    /// The request as understood; absent when the line could not be read.
    std::optional<ResolvedRequest> request;
    /// The one-stage result (stages == 1).
    std::optional<SingleStageResult> single;
    /// The two-stage result (stages == 2).
    std::optional<TwoStageResult> two;
    /// The result of a request solved by solve_plan (ResolvedRequest::general).
    std::optional<PlanResult> plan;
    /// The filter cost of the factors found (with --cost).
    std::optional<CostEstimate> cost;
    /// Two or more stages with --cost: the same overall ratio in one stage, and its cost.
    std::optional<Stage> single_stage_equivalent;
    std::optional<CostEstimate> single_stage_cost;
    /// The designed filters of the factors found (with --design).
    std::optional<FilterDesign> design;
    /// The coefficient file written, its {line} replaced; absent when none was asked for or
    /// the design failed.
    std::optional<std::string> coefficients_file;
    /// Why the coefficient file could not be written; empty when it was (or none was asked).
    std::string coefficients_error;
};

/// "match", "approximation", "not_found" or "error" (also for factors whose requested
/// cost could not be estimated).
const char* record_status(const Record& record);

/// Why the record did not succeed: the line's own error, the solver's reason for an error
/// or for finding nothing, why the requested cost could not be estimated, or
/// design_failure(); empty when it succeeded.
std::string record_error(const Record& record);

/// True when the request found factors (a match or an approximation) and, with --cost,
/// its cost could be estimated.
bool record_succeeded(const Record& record);

/// Why the solver failed, as the library says it; empty when it did not fail.
std::string solver_message(const Record& record);

/// Why a request whose factors were found fails with --design, in one sentence: the
/// design was refused, misses its requirements (rounded or not), or its coefficient file
/// could not be written. Empty when nothing of that failed. Such a record's status is
/// "error".
std::string design_failure(const Record& record);

/// One JSON object on one line, ending in a newline.
std::string format_json(const Record& record);

/// The header row of the CSV output, ending in a newline.
std::string csv_header();
/// One CSV row, ending in a newline.
std::string format_csv(const Record& record);

/// The report the dialog prints for the same request (header, summary, report; no
/// progress and no questions), with the advice of its questions as lines and the cost.
std::string format_text(const Record& record);

}  // namespace quillmere::records
