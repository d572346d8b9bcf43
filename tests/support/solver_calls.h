// The solvers' internal entry points as the unit tests call them: a dialog record in, the
// dialog's status code out, and the progress line and error texts on the standard streams
// exactly as the program prints them (through the report layer's observers), with the
// program's shutdown flag as the stop request.
#pragma once

#include <cstdint>
#include <cstdio>

#include "core/results.h"
#include "core/single_stage.h"
#include "core/two_stage_search.h"
#include "interactive/shutdown.h"
#include "legacy_vocabulary.h"
#include "report/progress_dots.h"
#include "report/reports.h"
#include "report/solver_errors.h"

// The tests reach into the core and the report texts by their own names.
using namespace quillmere::core;
using namespace quillmere::report;
using quillmere::Status;

/// The search request of a record, with the limit and mode a test asks for.
inline quillmere::core::SearchRequest search_request(const UserInputs& in, long long max_lm,
                                                     int search_mode) {
    UserInputs copy = in;
    copy.max_lm = max_lm;
    copy.search_mode = search_mode;
    quillmere::core::SearchRequest request =
        quillmere::core::to_search_request(to_two_stage_request(copy));
    // Fields the public request cannot carry are passed as they are.
    request.max_lm = max_lm;
    request.has_intermediate_target = in.has_intermediate_target;
    request.target_intermediate_rate = in.target_intermediate_rate;
    request.priority = static_cast<quillmere::Priority>(in.priority);
    return request;
}

inline StatusCode calculate_single_resampler(double input_rate, double output_rate, long long* l,
                                             long long* m, double* achieved_output_rate) {
    FileSink err(stderr);
    const quillmere::SingleStageRequest request{input_rate, output_rate};
    SolverErrorLines errors(err, request);
    quillmere::SolveOptions options;
    options.stop_flag = &quillmere::interactive::shutdown_flag();
    options.observer = &errors;
    const quillmere::core::SearchContext context(options);
    return to_status_code(quillmere::core::calculate_single_resampler(
        context, input_rate, output_rate, l, m, achieved_output_rate));
}

/// The single-stage report of factors a solver found.
inline void print_single_resampler_result(double input_rate, double output_rate, long long l,
                                          long long m, double achieved_output_rate) {
    if (quillmere::interactive::shutdown_requested()) return;
    FileSink out(stdout);
    const quillmere::SingleStageRequest request{input_rate, output_rate};
    write_single_stage_report(
        out, request, quillmere::core::single_stage_result(request, l, m, achieved_output_rate, 0));
}

inline void assess_candidate_and_update(long long l1, long long m1, long long l2, long long m2,
                                        long long max_lm, const UserInputs* inputs, int search_mode,
                                        CascadeRecord* best, bool* dual_match_found) {
    const quillmere::core::SearchRequest request = search_request(*inputs, max_lm, search_mode);
    quillmere::core::assess_candidate_and_update(l1, m1, l2, m2, max_lm, &request, request.mode,
                                                 best, dual_match_found);
}

/// Runs a core search with the program's progress line and error texts.
template <typename Search>
StatusCode run_core_search(Search search, const UserInputs* inputs, long long max_lm,
                           int search_mode, CascadeRecord* best, int* convergent_count,
                           std::uint64_t* gh_iterations) {
    FileSink out(stdout);
    FileSink err(stderr);
    const quillmere::core::SearchRequest request =
        inputs != nullptr ? search_request(*inputs, max_lm, search_mode)
                          : quillmere::core::SearchRequest{};
    const quillmere::TwoStageRequest public_request =
        inputs != nullptr ? to_two_stage_request(*inputs) : quillmere::TwoStageRequest{};
    SolverErrorLines errors(err, public_request);
    ProgressDots progress(out, request.mode, &quillmere::interactive::shutdown_flag(), &errors);
    quillmere::SolveOptions options;
    options.stop_flag = &quillmere::interactive::shutdown_flag();
    options.observer = &progress;
    const quillmere::core::SearchContext context(options);
    return to_status_code(search(context, inputs != nullptr ? &request : nullptr, best,
                                 convergent_count, gh_iterations));
}

inline StatusCode perform_two_stage_search_counted(const UserInputs* inputs, long long max_lm,
                                                   int search_mode, CascadeRecord* best,
                                                   int* convergent_count,
                                                   std::uint64_t* gh_iterations) {
    return run_core_search(quillmere::core::perform_two_stage_search_counted, inputs, max_lm,
                           search_mode, best, convergent_count, gh_iterations);
}

inline StatusCode perform_two_stage_search_reference(const UserInputs* inputs, long long max_lm,
                                                     int search_mode, CascadeRecord* best,
                                                     int* convergent_count,
                                                     std::uint64_t* gh_iterations) {
    return run_core_search(quillmere::core::perform_two_stage_search_reference, inputs, max_lm,
                           search_mode, best, convergent_count, gh_iterations);
}

/// The two-stage report of a stored record under the given title.
inline void print_two_resamplers_result(const char* title, const UserInputs* inputs,
                                        const CascadeRecord* result) {
    if (quillmere::interactive::shutdown_requested()) return;
    FileSink out(stdout);
    const quillmere::TwoStageRequest request = to_two_stage_request(*inputs);
    const quillmere::Status status =
        result->found ? quillmere::Status::ok : quillmere::Status::not_found;
    write_two_stage_report(out, title, request,
                           quillmere::core::two_stage_result(request, *result, status, 0, 0));
}

/// The report's PPM line on standard output.
inline void print_ppm_line(const char* label, double ppm) {
    FileSink out(stdout);
    write_ppm_line(out, label, ppm);
}

/// Display name of a priority of the dialog's record.
inline const char* priority_to_string(int priority) {
    return priority_description(static_cast<quillmere::Priority>(priority));
}
