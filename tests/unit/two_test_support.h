// Requests and captured search runs shared by the two-stage tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "two_search.h"

/// A two-stage request; no intermediate target unless one is given.
inline UserInputs make_request(double input_rate, double output_rate, int search_mode,
                               long long max_lm, bool allow_m1_gt_l1 = false, double target = 0.0,
                               int priority = PRIORITIZE_BALANCED_DUAL) {
    UserInputs inputs{};
    inputs.input_rate = input_rate;
    inputs.output_rate = output_rate;
    inputs.num_resamplers = 2;
    inputs.search_mode = search_mode;
    inputs.allow_m1_gt_l1 = allow_m1_gt_l1;
    inputs.max_lm = max_lm;
    inputs.target_intermediate_rate = target;
    inputs.has_intermediate_target = target != 0.0;
    inputs.priority = priority;
    return inputs;
}

/// A search entry point with the g/h iteration count.
using SearchFunction = StatusCode (*)(const UserInputs*, long long, int, TwoStageResult*, int*,
                                      std::uint64_t*);

/// Everything a search lets an observer see.
struct SearchRun {
    StatusCode status = STATUS_SUCCESS;
    TwoStageResult best{};
    int convergent_count = 0;
    std::uint64_t iterations = 0;
    std::string out;
    std::string err;
};

/// Runs a search on the request's own limit and mode with both streams captured.
inline SearchRun run_search(SearchFunction search, const UserInputs& inputs) {
    SearchRun run;
    run.convergent_count = -7;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    run.status = search(&inputs, inputs.max_lm, inputs.search_mode, &run.best,
                        &run.convergent_count, &run.iterations);
    run.err = testing::internal::GetCapturedStderr();
    run.out = testing::internal::GetCapturedStdout();
    return run;
}

/// True when two records are the same bit for bit (NaNs included).
inline bool same_record(const TwoStageResult& a, const TwoStageResult& b) {
    const auto same_double = [](double x, double y) { return std::memcmp(&x, &y, sizeof x) == 0; };
    return a.l1 == b.l1 && a.m1 == b.m1 && a.l2 == b.l2 && a.m2 == b.m2 &&
           same_double(a.combined_ratio, b.combined_ratio) &&
           same_double(a.final_error, b.final_error) && a.final_match == b.final_match &&
           a.found == b.found && a.overall_sum == b.overall_sum &&
           same_double(a.achieved_intermediate_rate, b.achieved_intermediate_rate) &&
           same_double(a.intermediate_error, b.intermediate_error) &&
           a.intermediate_match == b.intermediate_match;
}

/// The g/h progress line for a pass of the given number of iterations.
inline std::string gh_progress_line(std::uint64_t iterations) {
    const std::uint64_t dots = iterations / GH_DOT_STEP;
    return "Progress (checking g/h factors): " +
           std::string(dots == 0 ? 1 : static_cast<std::size_t>(dots), '.') + "\n";
}

/// Sets the shutdown flag for one scope and clears it again.
struct ShutdownFlagScope {
    ShutdownFlagScope() { g_shutdown_requested.store(1); }
    ~ShutdownFlagScope() { g_shutdown_requested.store(0); }
    ShutdownFlagScope(const ShutdownFlagScope&) = delete;
    ShutdownFlagScope& operator=(const ShutdownFlagScope&) = delete;
};
