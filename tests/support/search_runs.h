// Two-stage requests in the library's own form, and searches of the core run with
// everything an observer sees recorded, for the core's tests and fuzzers.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "core/reference_search.h"
#include "core/two_stage_search.h"
#include "quillmere/quillmere.h"

/// A two-stage request; without an intermediate target when target is 0.
inline quillmere::TwoStageRequest search_request(
    double input_rate, double output_rate,
    quillmere::SearchMode mode = quillmere::SearchMode::minimal_sum,
    std::int64_t max_factor = quillmere::max_factor_limit, bool allow_decimation = false,
    double target = 0.0, quillmere::Priority priority = quillmere::Priority::balanced) {
    quillmere::TwoStageRequest request;
    request.input_rate_hz = input_rate;
    request.output_rate_hz = output_rate;
    request.mode = mode;
    request.max_factor = max_factor;
    request.allow_first_stage_decimation = allow_decimation;
    if (target != 0.0)
        request.intermediate_target = quillmere::IntermediateTarget{target, priority};
    return request;
}

/// Every event of a search, and a trace of them that two searches share exactly when the
/// program's progress lines of them would be the same: each convergent and each pass that
/// ends, the start of the common-factor count and a dot for every thousand it passes, and
/// each error.
struct SearchEvents final : quillmere::SearchObserver {
    std::vector<int> convergents;
    int convergent_count = -1;
    std::vector<std::uint64_t> totals;
    std::vector<quillmere::SearchPass> passes;
    std::vector<quillmere::SolverError> errors;
    std::string trace;

    void on_convergent(int index, int count) override {
        convergents.push_back(index);
        convergent_count = count;
        // Appended piece by piece: g++ 12 warns falsely of "c" + std::to_string(...).
        trace += 'c';
        trace += std::to_string(index);
        trace += '/';
        trace += std::to_string(count);
        trace += ' ';
    }
    void on_common_factor_iterations(std::uint64_t total) override {
        if (totals.empty()) trace += "gh:";
        const std::uint64_t before = totals.empty() ? 0 : totals.back() / 1000;
        trace.append(static_cast<std::size_t>(total / 1000 - before), '.');
        totals.push_back(total);
    }
    void on_pass_done(quillmere::SearchPass pass) override {
        passes.push_back(pass);
        trace += pass == quillmere::SearchPass::convergents ? " |convergents| " : " |gh| ";
    }
    void on_error(const quillmere::SolverError& error) override {
        errors.push_back(error);
        trace += " error ";
        trace += std::to_string(static_cast<int>(error.kind));
        trace += '/';
        trace += quillmere::status_name(error.status);
        trace += ' ';
    }

    /// The thousands of common-factor iterations the last event passed: the dots of the
    /// program's progress line.
    std::uint64_t thousands() const { return totals.empty() ? 0 : totals.back() / 1000; }
    /// Whether the pass ran to its normal end.
    bool done(quillmere::SearchPass pass) const {
        return std::find(passes.begin(), passes.end(), pass) != passes.end();
    }
};

/// A search of the core: the program's or the reference.
using SearchFunction = quillmere::core::SearchOutcome (*)(const quillmere::core::SearchContext&,
                                                          const quillmere::TwoStageRequest&);

/// What a search found and what its observer saw.
struct SearchRun {
    quillmere::core::SearchOutcome outcome;
    SearchEvents events;
};

/// Runs a search watched by a recording observer; stop (may be null) is its stop flag.
inline SearchRun run_search(SearchFunction search, const quillmere::TwoStageRequest& request,
                            const std::atomic<bool>* stop = nullptr) {
    SearchRun run;
    quillmere::SolveOptions options;
    options.observer = &run.events;
    options.stop_flag = stop;
    const quillmere::core::SearchContext context(options);
    run.outcome = search(context, request);
    return run;
}

/// A request as the failure messages of the tests show it.
inline std::string describe(const quillmere::TwoStageRequest& r) {
    char text[320];
    const quillmere::IntermediateTarget* target = quillmere::core::target_of(r);
    std::snprintf(text, sizeof text,
                  "in=%.17g out=%.17g mode=%s max_factor=%lld allow=%d target=%.17g (%d) prio=%d",
                  r.input_rate_hz, r.output_rate_hz, quillmere::search_mode_name(r.mode),
                  static_cast<long long>(r.max_factor), r.allow_first_stage_decimation ? 1 : 0,
                  target != nullptr ? target->rate_hz : 0.0, target != nullptr ? 1 : 0,
                  target != nullptr ? static_cast<int>(target->priority) : -1);
    return text;
}
