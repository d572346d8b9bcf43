// The texts of the solvers' error events, as the program prints them on standard error.
#pragma once

#include <string>

#include "quillmere/quillmere.h"
#include "report/text_sink.h"

/// The text of an error event of a single-stage solve, newlines included.
std::string single_stage_error_text(const quillmere::SolverError& error,
                                    const quillmere::SingleStageRequest& request);

/// The text of an error event of a two-stage solve, newlines included.
std::string two_stage_error_text(const quillmere::SolverError& error,
                                 const quillmere::TwoStageRequest& request);

/// Writes the text of every error event of one solve to a sink and flushes it.
class SolverErrorLines final : public quillmere::SearchObserver {
public:
    SolverErrorLines(TextSink& sink, const quillmere::SingleStageRequest& request)
        : sink_(sink), single_(&request) {}
    SolverErrorLines(TextSink& sink, const quillmere::TwoStageRequest& request)
        : sink_(sink), two_(&request) {}

    void on_error(const quillmere::SolverError& error) override;

private:
    TextSink& sink_;
    const quillmere::SingleStageRequest* single_ = nullptr;
    const quillmere::TwoStageRequest* two_ = nullptr;
};
