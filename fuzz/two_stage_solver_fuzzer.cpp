// Fuzzes the two-stage search over every request the dialog lets through, with a small
// per-stage limit so that each run is quick: the program's search must end with
// success or "nothing found", hold a record that keeps every acceptance rule, and agree
// with the plain reference search on the record (bit for bit), the status, the
// convergent count and the common-factor iteration count. Minimal-sum requests may also
// take the program's own limit, 65535, where only the program's search runs (the plain
// one can take minutes there). The report and, now and then, the whole run are printed
// (to /dev/null) for the same request.
//
// Input: a flags byte (bit 0 minimal-sum mode, bit 1 M1 > L1 allowed, bit 2 a target,
// bits 3-4 the priority less one, bit 5 the whole run too, bit 6 the target relative to
// the output rate instead of the input rate, bit 7 with bit 0: the limit 65535), a limit
// byte (1 + byte % 60), then the input, output and target rates (nine bytes each, see
// solver_fuzz_support.h).
#include <cmath>
#include <cstdint>
#include <string>

#include "records.h"
#include "requests.h"
#include "solver_fuzz_support.h"
#include "two_search.h"

using fuzz_support::fail;
using fuzz_support::show_rate;

namespace {

constexpr int LIMIT_SPAN = 60;

std::string describe(const UserInputs& in) {
    return show_rate(in.input_rate) + " Hz -> " + show_rate(in.output_rate) + " Hz, mode " +
           std::to_string(in.search_mode) + ", max_lm " + std::to_string(in.max_lm) + ", allow " +
           std::to_string(in.allow_m1_gt_l1) + ", target " +
           (in.has_intermediate_target ? show_rate(in.target_intermediate_rate) : "none") +
           ", priority " + std::to_string(in.priority);
}

/// The acceptance rules every stored cascade keeps, and the measures that belong to it.
void check_record(const TwoStageResult& r, const UserInputs& in, const std::string& request) {
    if (!r.found) {
        if (!same_record(r, make_empty_two_stage_result())) fail("empty record not empty", request);
        return;
    }
    for (const long long factor : {r.l1, r.m1, r.l2, r.m2}) {
        if (factor < 1 || factor > in.max_lm) fail("factor outside 1 ... max_lm", request);
    }
    if (!in.allow_m1_gt_l1 && r.l1 < r.m1) fail("M1 > L1 stored although not allowed", request);
    if (r.overall_sum != r.l1 + r.m1 + r.l2 + r.m2) fail("sum is not L1+M1+L2+M2", request);
    if (!std::isfinite(r.final_error) || r.final_error < 0) fail("final error not finite", request);

    const double rate = calculate_achieved_output_rate_two(in.input_rate, r.l1, r.m1, r.l2, r.m2);
    if (!std::isfinite(rate)) fail("stored cascade has no output rate", request);
    if (r.final_error != std::fabs(rate - in.output_rate)) fail("final error mismatch", request);
    if (r.final_match != (relative_error(rate, in.output_rate) < MATCH_TOLERANCE)) {
        fail("final match flag mismatch", request);
    }
    const double expected_ratio =
        guarded_product(static_cast<double>(r.l1) / r.m1, static_cast<double>(r.l2) / r.m2);
    if (!same_double(r.combined_ratio, expected_ratio) || !std::isfinite(r.combined_ratio)) {
        fail("combined ratio mismatch", request);
    }
    const double intermediate = guarded_product(in.input_rate, static_cast<double>(r.l1) / r.m1);
    if (!same_double(r.achieved_intermediate_rate, intermediate)) {
        fail("intermediate rate mismatch", request);
    }
    if (!in.has_intermediate_target) {
        if (r.intermediate_match || !std::isinf(r.intermediate_error)) {
            fail("intermediate measures without a target", request);
        }
    } else if (std::isfinite(intermediate)) {
        if (r.intermediate_error != std::fabs(intermediate - in.target_intermediate_rate)) {
            fail("intermediate error mismatch", request);
        }
        if (r.intermediate_match !=
            (relative_error(intermediate, in.target_intermediate_rate) < MATCH_TOLERANCE)) {
            fail("intermediate match flag mismatch", request);
        }
    }
    if (in.has_intermediate_target && in.priority == PRIORITIZE_STRICT_INTERMEDIATE &&
        !r.intermediate_match) {
        fail("strict priority stored a cascade that misses the target", request);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz_support::quiet_standard_output();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz_support::ByteReader reader{data, size};
    const std::uint8_t flags = reader.byte();
    const int search_mode = (flags & 1) != 0 ? SEARCH_MODE_MINIMAL_SUM : SEARCH_MODE_CUSTOM_LIMIT;
    const bool allow_m1_gt_l1 = (flags & 2) != 0;
    const bool has_target = (flags & 4) != 0;
    const int priority = has_target ? 1 + ((flags >> 3) & 3) : PRIORITIZE_BALANCED_DUAL;
    const bool whole_run = (flags & 32) != 0;
    const bool full_limit = search_mode == SEARCH_MODE_MINIMAL_SUM && (flags & 128) != 0;
    const long long small_limit = 1 + reader.byte() % LIMIT_SPAN;
    const double input_rate = fuzz_support::read_rate(&reader, 48000.0);
    const double output_rate = fuzz_support::read_rate(&reader, input_rate);
    const double target =
        fuzz_support::read_rate(&reader, (flags & 64) != 0 ? output_rate : input_rate);
    // Every rate read is at least 1 Hz, so a target read is a target the request has.
    const UserInputs in = two_stage_request(input_rate, output_rate, search_mode,
                                            full_limit ? MAX_LM_LIMIT : small_limit, allow_m1_gt_l1,
                                            has_target ? target : 0.0, priority);
    const std::string request = describe(in);
    if (g_shutdown_requested.load() != 0) fail("a stop request is pending", request);

    TwoStageResult fast{};
    int fast_count = -7;
    std::uint64_t fast_iterations = 0;
    const StatusCode status = perform_two_stage_search_counted(
        &in, in.max_lm, in.search_mode, &fast, &fast_count, &fast_iterations);
    if (status != STATUS_SUCCESS && status != STATUS_FAILURE) {
        fail("critical status for a valid request", request);
    }
    if ((status == STATUS_SUCCESS) != fast.found) fail("status disagrees with found", request);
    if (fast_count < 1 || fast_count > 100) fail("convergent count outside 1 ... 100", request);
    check_record(fast, in, request);

    if (!full_limit) {
        TwoStageResult plain{};
        int plain_count = -7;
        std::uint64_t plain_iterations = 0;
        const StatusCode plain_status = perform_two_stage_search_reference(
            &in, in.max_lm, in.search_mode, &plain, &plain_count, &plain_iterations);
        if (plain_status != status) fail("status differs from the reference", request);
        if (!same_record(fast, plain)) fail("record differs from the reference", request);
        if (plain_count != fast_count) fail("convergent count differs from the reference", request);
        if (plain_iterations != fast_iterations) {
            fail("g/h iteration count differs from the reference", request);
        }
    }

    print_two_resamplers_result(in.search_mode == SEARCH_MODE_MINIMAL_SUM
                                    ? "Minimal Sum Search Results:"
                                    : "Custom Limit Search Results:",
                                &in, &fast);
    if (whole_run && prompt_and_run_two_resamplers(&in) != status) {
        fail("run status differs from the search's", request);
    }
    if (g_shutdown_requested.load() != 0) fail("the search raised a stop request", request);
    return 0;
}
