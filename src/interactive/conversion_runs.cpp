#include "interactive/conversion_runs.h"

#include <cstdio>

#include "interactive/messages.h"
#include "interactive/process_exit.h"
#include "interactive/shutdown.h"
#include "report/progress_line.h"
#include "report/reports.h"
#include "report/solver_errors.h"

namespace {

/// The options of every solve of the program: the shutdown flag stops it.
quillmere::SolveOptions program_options(quillmere::SearchObserver* observer) {
    quillmere::SolveOptions options;
    options.stop_flag = &g_shutdown_requested;
    options.observer = observer;
    return options;
}

}  // namespace

StatusCode handle_one_resampler(const UserInputs* inputs) {
    if (shutdown_requested()) return STATUS_FAILURE;
    if (inputs == nullptr) {
        std::fputs("Internal Error (handle_one): NULL inputs pointer.\n", stderr);
        return STATUS_INVALID_INPUT_ERROR;
    }
    const quillmere::SingleStageRequest request = to_single_stage_request(*inputs);
    StandardOutputSink out;
    FileSink err(stderr);
    write_single_stage_settings(out, request);

    SolverErrorLines errors(err, request);
    const quillmere::SingleStageResult result =
        quillmere::solve_single_stage(request, program_options(&errors));
    // A stop requested after the solver ended leaves the result unprinted.
    if (result.status != quillmere::Status::ok || !shutdown_requested()) {
        write_single_stage_report(out, request, result);
    }
    return to_status_code(result.status);
}

StatusCode prompt_and_run_two_resamplers(const UserInputs* inputs) {
    if (shutdown_requested()) return STATUS_FAILURE;
    if (inputs == nullptr) {
        print_stderr("Internal Error (prompt_two): NULL inputs pointer provided.");
        return STATUS_INVALID_INPUT_ERROR;
    }
    const quillmere::TwoStageRequest request = to_two_stage_request(*inputs);
    StandardOutputSink out;
    FileSink err(stderr);
    write_two_stage_settings(out, request);
    if (shutdown_requested()) return STATUS_FAILURE;
    write_two_stage_start(out);

    SolverErrorLines errors(err, request);
    ProgressLine progress(out, request.mode, &g_shutdown_requested, &errors);
    const quillmere::TwoStageResult result =
        quillmere::solve_two_stage(request, program_options(&progress));

    if (shutdown_requested()) {
        out.write("Search interrupted by user.\n");
        out.flush();
        return STATUS_FAILURE;
    }
    write_two_stage_summary(out, result);
    switch (result.status) {
    case quillmere::Status::ok:
    case quillmere::Status::not_found: break;
    default: return to_status_code(result.status);
    }
    write_two_stage_report(out, request, result);
    return result.status == quillmere::Status::ok ? STATUS_SUCCESS : STATUS_FAILURE;
}
