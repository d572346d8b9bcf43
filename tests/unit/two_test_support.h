// Captured search runs and other helpers shared by the two-stage tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "capture.h"
#include "records.h"
#include "requests.h"
#include "solver_calls.h"

/// A search entry point with the g/h iteration count.
using SearchFunction = StatusCode (*)(const UserInputs*, long long, int, CascadeRecord*, int*,
                                      std::uint64_t*);

/// Everything a search lets an observer see.
struct SearchRun {
    StatusCode status = STATUS_SUCCESS;
    CascadeRecord best{};
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

/// The g/h progress line for a pass of the given number of iterations.
inline std::string gh_progress_line(std::uint64_t iterations) {
    const std::uint64_t dots = iterations / quillmere::core::GH_DOT_STEP;
    return "Progress (checking g/h factors): " +
           std::string(dots == 0 ? 1 : static_cast<std::size_t>(dots), '.') + "\n";
}
