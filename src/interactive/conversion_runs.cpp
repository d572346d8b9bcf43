#include "interactive/conversion_runs.h"

#include <cstdio>

#include "interactive/shutdown.h"
#include "interactive/standard_output.h"
#include "report/progress_dots.h"
#include "report/reports.h"
#include "report/solver_errors.h"

namespace quillmere::interactive {

namespace {

/// The options of every solve of the program: the shutdown flag stops it.
SolveOptions program_options(SearchObserver* observer) {
    SolveOptions options;
    options.stop_flag = &shutdown_flag();
    options.observer = observer;
    return options;
}

}  // namespace

Status run_single_stage(const SingleStageRequest& request) {
    if (shutdown_requested()) return Status::stopped;
    StandardOutputSink out;
    report::FileSink err(stderr);
    report::write_single_stage_settings(out, request);

    report::SolverErrorLines errors(err, request);
    const SingleStageResult result = solve_single_stage(request, program_options(&errors));
    // A stop requested after the solver ended leaves the result unprinted.
    if (result.status != Status::ok || !shutdown_requested()) {
        report::write_single_stage_report(out, request, result);
    }
    // A ratio beyond one stage's reach has always ended the dialog as a failed calculation
    // (its error line has said why).
    if (result.status == Status::not_found) return Status::calculation_error;
    return result.status;
}

Status run_two_stage(const TwoStageRequest& request) {
    if (shutdown_requested()) return Status::stopped;
    StandardOutputSink out;
    report::FileSink err(stderr);
    report::write_two_stage_settings(out, request);
    if (shutdown_requested()) return Status::stopped;
    report::write_two_stage_start(out);

    report::SolverErrorLines errors(err, request);
    report::ProgressDots progress(out, request.mode, &shutdown_flag(), &errors);
    const TwoStageResult result = solve_two_stage(request, program_options(&progress));

    if (shutdown_requested()) {
        out.write("Search interrupted by user.\n");
        out.flush();
        return Status::stopped;
    }
    report::write_two_stage_summary(out, result);
    switch (result.status) {
    case Status::ok:
    case Status::not_found: break;
    default: return result.status;
    }
    report::write_two_stage_report(out, request, result);
    return result.status;
}

}  // namespace quillmere::interactive
