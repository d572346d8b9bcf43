// The texts of the single- and two-stage runs, written from the library's public request
// and result types, one function per piece. The interactive program prints them all with
// the progress dots between the two-stage header and summary; a caller that wants no
// progress prints header, summary and report one after the other.
#pragma once

#include "quillmere/quillmere.h"
#include "report/text_sink.h"

namespace quillmere::report {

/// The name the reports give a priority ("Balanced Dual", ...); "Unknown" for other values.
const char* priority_description(Priority priority);

/// The name the reports give a search mode ("Minimal Sum", "Custom Limit", ...).
const char* search_mode_description(SearchMode mode);

/// Writes the label and a parts-per-million value: "%+.3f PPM", "N/A" for NaN, "+Infinity"
/// or "-Infinity"; ends the line.
void write_ppm_line(TextSink& sink, const char* label, double ppm);

/// "--- Single Rational Resampler Calculation ---" and the settings; flushes.
void write_single_stage_settings(TextSink& sink, const SingleStageRequest& request);

/// The classified result with its errors and advice, or, when the result carries no
/// factors, the failure line; flushes.
void write_single_stage_report(TextSink& sink, const SingleStageRequest& request,
                               const SingleStageResult& result);

/// "--- Two Rational Resampler Calculation (<mode> Mode) ---" through the settings and
/// the empty line after them; flushes.
void write_two_stage_settings(TextSink& sink, const TwoStageRequest& request);

/// "Starting search calculation. Please wait..." and an empty line; flushes.
void write_two_stage_start(TextSink& sink);

/// The settings and the start line: everything printed before the search runs.
void write_two_stage_header(TextSink& sink, const TwoStageRequest& request);

/// After the search: the convergent count and "Done searching!", or the line of a stopped
/// or failed search; flushes.
void write_two_stage_summary(TextSink& sink, const TwoStageResult& result);

/// "<mode> Search Results: ..." with the cascade, its errors and advice, or the reasons
/// nothing was found; flushes. Writes nothing for a stopped or failed search.
void write_two_stage_report(TextSink& sink, const TwoStageRequest& request,
                            const TwoStageResult& result);

/// "--- Rational Resampler Plan (<mode> Mode, <N> Stages) ---" through the settings and the
/// empty line after them, for a request of solve_plan; flushes.
void write_plan_settings(TextSink& sink, const PlanRequest& request);

/// "<mode> Search Results: ..." with every stage of the plan, its rates, errors and
/// advice; the reason when nothing was found (the tolerance's best error among them), the
/// line of a stopped or failed search; flushes.
void write_plan_report(TextSink& sink, const PlanRequest& request, const PlanResult& result);

/// write_two_stage_report with another title in place of "<mode> Search Results:".
void write_two_stage_report(TextSink& sink, const char* title, const TwoStageRequest& request,
                            const TwoStageResult& result);

}  // namespace quillmere::report
