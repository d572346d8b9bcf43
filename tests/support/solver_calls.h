// What the dialog's own tests need of the solvers: the reports of results made from the
// dialog's record and factors of the test's choosing, printed on standard output exactly as
// the program prints them (silent once the shutdown flag is set), and the priority names
// under the dialog's numbering. The core's own tests use the library's request form
// (search_runs.h) instead.
#pragma once

#include <cstdio>

#include "core/candidate.h"
#include "core/results.h"
#include "core/two_stage_search.h"
#include "interactive/shutdown.h"
#include "legacy_vocabulary.h"
#include "report/reports.h"

/// The single-stage report of factors a solver found.
inline void print_single_resampler_result(double input_rate, double output_rate, long long l,
                                          long long m, double achieved_output_rate) {
    if (quillmere::interactive::shutdown_requested()) return;
    quillmere::report::FileSink out(stdout);
    const quillmere::SingleStageRequest request{input_rate, output_rate};
    quillmere::core::SingleStageOutcome outcome;
    outcome.status = quillmere::Status::ok;
    outcome.l = l;
    outcome.m = m;
    outcome.achieved_output_rate = achieved_output_rate;
    outcome.convergent_count = 0;
    quillmere::report::write_single_stage_report(
        out, request, quillmere::core::single_stage_result(request, outcome));
}

/// The record the search keeps for the cascade L1/M1 -> L2/M2 of a request, measured
/// whatever the request's limit, constraint and priority would say of it.
inline quillmere::core::CascadeRecord stored_record(const UserInputs& in, long long l1,
                                                    long long m1, long long l2, long long m2) {
    quillmere::TwoStageRequest any = to_two_stage_request(in);
    if (any.intermediate_target) any.intermediate_target->priority = quillmere::Priority::ignore;
    any.max_factor = 1000000;
    any.allow_first_stage_decimation = true;
    quillmere::core::SearchState state;
    quillmere::core::assess_two_stage_candidate(quillmere::core::Cascade{l1, m1, l2, m2},
                                                quillmere::core::SearchTerms{any}, &state);
    return state.best;
}

/// The record the program's search keeps for a request of the dialog.
inline quillmere::core::CascadeRecord searched_record(const UserInputs& in) {
    const quillmere::core::SearchContext silent;
    return quillmere::core::search_two_stage(silent, to_two_stage_request(in)).best;
}

/// The two-stage report of a stored record under the given title.
inline void print_two_resamplers_result(const char* title, const UserInputs* inputs,
                                        const quillmere::core::CascadeRecord* result) {
    if (quillmere::interactive::shutdown_requested()) return;
    quillmere::report::FileSink out(stdout);
    const quillmere::TwoStageRequest request = to_two_stage_request(*inputs);
    quillmere::core::SearchOutcome outcome;
    outcome.status = result->found ? quillmere::Status::ok : quillmere::Status::not_found;
    outcome.best = *result;
    outcome.convergent_count = 0;
    quillmere::report::write_two_stage_report(out, title, request,
                                              quillmere::core::two_stage_result(request, outcome));
}

/// Display name of a priority of the dialog's record.
inline const char* priority_to_string(int priority) {
    UserInputs inputs{};
    inputs.has_intermediate_target = true;
    inputs.priority = priority;
    return quillmere::report::priority_description(
        to_two_stage_request(inputs).intermediate_target->priority);
}
