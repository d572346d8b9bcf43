// The texts of the solvers' error events, as the program prints them on standard error.
#pragma once

#include <string>

#include "quillmere/quillmere.h"
#include "report/text_sink.h"

namespace quillmere::report {

/// The text of an error event of a single-stage solve, newlines included.
std::string single_stage_error_text(const SolverError& error, const SingleStageRequest& request);

/// The text of an error event of a two-stage solve, newlines included.
std::string two_stage_error_text(const SolverError& error, const TwoStageRequest& request);

/// Writes the text of every error event of one solve to a sink and flushes it.
class SolverErrorLines final : public SearchObserver {
public:
    SolverErrorLines(TextSink& sink, const SingleStageRequest& request)
        : sink_(sink), single_(&request) {}
    SolverErrorLines(TextSink& sink, const TwoStageRequest& request)
        : sink_(sink), two_(&request) {}

    void on_error(const SolverError& error) override;

private:
    TextSink& sink_;
    const SingleStageRequest* single_ = nullptr;
    const TwoStageRequest* two_ = nullptr;
};

}  // namespace quillmere::report
