// Every public function of the library when memory runs out at any of its allocations:
// it returns Status::memory_error (or succeeds, once the allocations it needs are left),
// and never throws. The test's operator new (failing_allocator.h) fails after a given count
// of allocations.
#include <gtest/gtest.h>
#include <quillmere/quillmere.h>

#include "failing_allocator.h"

namespace {

/// Runs call with `count` allocations allowed.
template <typename Call>
auto with_allocations(long count, Call&& call) {
    fail_allocations_after(count);
    auto result = call();
    fail_allocations_after(-1);
    return result;
}

/// Calls `call` with 0, 1, 2, ... allocations allowed until it succeeds: each shorter run
/// must end in memory_error. Returns how many runs ran out of memory.
template <typename Call, typename Succeeded>
int runs_out_then_succeeds(Call&& call, Succeeded&& succeeded) {
    for (long allowed = 0; allowed < 100000; ++allowed) {
        const auto result = with_allocations(allowed, call);
        if (succeeded(result)) return static_cast<int>(allowed);
        EXPECT_EQ(result.status, quillmere::Status::memory_error) << allowed << " allocations";
        if (testing::Test::HasFailure()) return -1;
    }
    ADD_FAILURE() << "never succeeded";
    return -1;
}

TEST(MemoryError, EverySolverEndsWithMemoryErrorAtEveryAllocation) {
    quillmere::TwoStageRequest custom;
    custom.input_rate_hz = 44100;
    custom.output_rate_hz = 48000;
    custom.mode = quillmere::SearchMode::custom_limit;
    custom.max_factor = 200;
    custom.intermediate_target = quillmere::IntermediateTarget{96000, quillmere::Priority::final};
    quillmere::TwoStageRequest min_cost = custom;
    min_cost.mode = quillmere::SearchMode::min_cost;
    min_cost.intermediate_target.reset();
    for (const quillmere::TwoStageRequest& request : {custom, min_cost}) {
        const quillmere::TwoStageResult expected = quillmere::solve_two_stage(request);
        ASSERT_EQ(expected.status, quillmere::Status::ok);
        const int failed = runs_out_then_succeeds(
            [&] { return quillmere::solve_two_stage(request); },
            [&](const quillmere::TwoStageResult& r) {
                return r.status == quillmere::Status::ok && r.first.l == expected.first.l &&
                       r.second.m == expected.second.m;
            });
        if (failing_allocator_covers_malloc()) {
            EXPECT_GT(failed, 1) << "the search allocates lists";
        }
    }

    const quillmere::SingleStageRequest single{44100, 48000};
    const int single_failed =
        runs_out_then_succeeds([&] { return quillmere::solve_single_stage(single); },
                               [](const quillmere::SingleStageResult& r) {
                                   return r.status == quillmere::Status::ok;
                               });
    if (failing_allocator_covers_malloc()) {
        EXPECT_GT(single_failed, 0) << "the solver allocates a list";
    }
}

TEST(MemoryError, RefusalsAndEstimatesToo) {
    quillmere::TwoStageRequest refused;
    refused.input_rate_hz = 0.5;
    refused.output_rate_hz = 48000;
    EXPECT_GT(runs_out_then_succeeds([&] { return quillmere::check_request(refused); },
                                     [](const quillmere::RequestCheck& r) {
                                         return r.status == quillmere::Status::invalid_request;
                                     }),
              0);
    EXPECT_GT(runs_out_then_succeeds([&] { return quillmere::solve_two_stage(refused); },
                                     [](const quillmere::TwoStageResult& r) {
                                         return r.status == quillmere::Status::invalid_request;
                                     }),
              0);

    const quillmere::Stage stages[] = {{10, 7}, {16, 21}};
    EXPECT_GT(runs_out_then_succeeds([&] { return quillmere::estimate_cost(44100, stages); },
                                     [](const quillmere::CostEstimate& e) {
                                         return e.status == quillmere::Status::ok;
                                     }),
              0);
    quillmere::FilterSpec bad;
    bad.passband_hz = 30000.0;
    EXPECT_GT(runs_out_then_succeeds([&] { return quillmere::estimate_cost(44100, stages, bad); },
                                     [](const quillmere::CostEstimate& e) {
                                         return e.status == quillmere::Status::invalid_request;
                                     }),
              0);
}

}  // namespace
