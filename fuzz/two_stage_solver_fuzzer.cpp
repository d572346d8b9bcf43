// Fuzzes the two-stage search over every request the dialog lets through, with a small
// per-stage limit so that each run is quick: the program's search must end with
// success or "nothing found", hold a record that keeps every acceptance rule, and agree
// with the plain reference search on the record (bit for bit), the status, the
// convergent count and the common-factor iteration count; the library's solve_two_stage
// must give the same cascade, counts and flags. The plain search visits every candidate,
// so it runs only where that stays cheap: limits up to REFERENCE_LIMIT. Minimal-sum
// requests may also take the program's own limit, 65535, where only the program's search
// runs, and not under the strict priority, whose scan goes on until a cascade meets the
// target (tens of milliseconds under the sanitizers, which would starve the fuzzer). The
// reports of the result are written to a string, with the progress dots of the program
// (bit 5: of the whole run) checked against the counts.
//
// Requests whose convergents have terms above 2^28 are skipped: factoring them dominates
// (see solver_fuzz_support.h); the API fuzzer checks them without a search.
//
// Min-cost requests take the default filter requirements; their stored price must be the
// estimate's, and agree with the reference's.
//
// Input: a flags byte (bit 0 minimal-sum mode, bit 1 M1 > L1 allowed, bit 2 a target,
// bits 3-4 the priority less one, bit 5 the progress dots too, bit 6 the target relative to
// the output rate instead of the input rate, bit 7 with bit 0: the limit 65535 (not strict),
// without it: min-cost mode), a limit byte (1 + byte % 60), then the input, output and target rates
// (nine bytes each, see solver_fuzz_support.h).
#include <cmath>
#include <cstdint>
#include <numeric>
#include <string>

#include "core/reference_search.h"
#include "records.h"
#include "report/progress_dots.h"
#include "report/reports.h"
#include "solver_fuzz_support.h"

using fuzz_support::fail;
using fuzz_support::show_rate;

using namespace quillmere::core;
using namespace quillmere::report;
using quillmere::Priority;
using quillmere::SearchMode;
using quillmere::Status;
using quillmere::TwoStageRequest;

namespace {

constexpr int LIMIT_SPAN = 60;
/// The largest limit at which the plain search runs beside the program's.
constexpr long long REFERENCE_LIMIT = 16;
/// The priorities in the order of the input's bits 3-4.
constexpr Priority PRIORITIES[] = {Priority::strict, Priority::final, Priority::balanced,
                                   Priority::ignore};

std::string describe(const TwoStageRequest& in) {
    const quillmere::IntermediateTarget* target = target_of(in);
    return show_rate(in.input_rate_hz) + " Hz -> " + show_rate(in.output_rate_hz) + " Hz, mode " +
           quillmere::search_mode_name(in.mode) + ", max_factor " + std::to_string(in.max_factor) +
           ", allow " + std::to_string(in.allow_first_stage_decimation) + ", target " +
           (target != nullptr ? show_rate(target->rate_hz) : "none") + ", priority " +
           quillmere::priority_name(priority_of(in));
}

/// The acceptance rules every stored cascade keeps, and the measures that belong to it.
void check_record(const CascadeRecord& r, const TwoStageRequest& in, const std::string& request) {
    if (!r.found) {
        if (!same_record(r, make_empty_record())) fail("empty record not empty", request);
        return;
    }
    for (const long long factor : {r.l1, r.m1, r.l2, r.m2}) {
        if (factor < 1 || factor > in.max_factor) fail("factor outside 1 ... max_factor", request);
    }
    if (!in.allow_first_stage_decimation && r.l1 < r.m1) {
        fail("M1 > L1 stored although not allowed", request);
    }
    if (r.overall_sum != r.l1 + r.m1 + r.l2 + r.m2) fail("sum is not L1+M1+L2+M2", request);
    if (!std::isfinite(r.final_error) || r.final_error < 0) fail("final error not finite", request);

    const double input = in.input_rate_hz;
    const double output = in.output_rate_hz;
    const double rate = calculate_achieved_output_rate_two(input, r.l1, r.m1, r.l2, r.m2);
    if (!std::isfinite(rate)) fail("stored cascade has no output rate", request);
    if (r.final_error != std::fabs(rate - output)) fail("final error mismatch", request);
    if (r.final_match != (relative_error(rate, output) < quillmere::match_tolerance)) {
        fail("final match flag mismatch", request);
    }
    const double expected_ratio =
        guarded_product(static_cast<double>(r.l1) / r.m1, static_cast<double>(r.l2) / r.m2);
    if (!same_double(r.combined_ratio, expected_ratio) || !std::isfinite(r.combined_ratio)) {
        fail("combined ratio mismatch", request);
    }
    const double intermediate = guarded_product(input, static_cast<double>(r.l1) / r.m1);
    if (!same_double(r.achieved_intermediate_rate, intermediate)) {
        fail("intermediate rate mismatch", request);
    }
    const quillmere::IntermediateTarget* target = target_of(in);
    if (target == nullptr) {
        if (r.intermediate_match || !std::isinf(r.intermediate_error)) {
            fail("intermediate measures without a target", request);
        }
    } else if (std::isfinite(intermediate)) {
        if (r.intermediate_error != std::fabs(intermediate - target->rate_hz)) {
            fail("intermediate error mismatch", request);
        }
        if (r.intermediate_match !=
            (relative_error(intermediate, target->rate_hz) < quillmere::match_tolerance)) {
            fail("intermediate match flag mismatch", request);
        }
    }
    if (strict_target(in) && !r.intermediate_match) {
        fail("strict priority stored a cascade that misses the target", request);
    }
    if (in.mode == SearchMode::min_cost) {
        const quillmere::Stage stages[2] = {{r.l1, r.m1}, {r.l2, r.m2}};
        const quillmere::CostEstimate e = quillmere::estimate_cost(input, stages, in.filter);
        if (e.status != Status::ok) fail("min-cost stored a cascade it cannot price", request);
        if (e.total_macs_per_second != r.macs_per_second ||
            e.total_coefficients != r.coefficients) {
            fail("stored price differs from the estimate", request);
        }
    }
}

/// The public result must show the program's record as it is (in min-cost mode with each
/// stage in lowest terms).
void check_result(const quillmere::TwoStageResult& result, const CascadeRecord& record,
                  Status status, int count, std::uint64_t iterations, bool lowest_terms,
                  const std::string& request) {
    CascadeRecord r = record;
    if (lowest_terms && r.found) {
        const long long g1 = std::gcd(r.l1, r.m1);
        const long long g2 = std::gcd(r.l2, r.m2);
        r.l1 /= g1;
        r.m1 /= g1;
        r.l2 /= g2;
        r.m2 /= g2;
        r.overall_sum = r.l1 + r.m1 + r.l2 + r.m2;
    }
    if (result.status != status) fail("API status differs from the search's", request);
    if (result.convergent_count != count) fail("API convergent count differs", request);
    if (result.common_factor_iterations != iterations) fail("API g/h count differs", request);
    if (!r.found) {
        if (result.outcome != quillmere::Outcome::not_found)
            fail("API outcome for nothing", request);
        return;
    }
    if (result.first.l != r.l1 || result.first.m != r.m1 || result.second.l != r.l2 ||
        result.second.m != r.m2 || result.overall_sum != r.overall_sum) {
        fail("API cascade differs from the search's record", request);
    }
    if (!same_double(result.combined_ratio, r.combined_ratio) ||
        !same_double(result.intermediate_rate_hz, r.achieved_intermediate_rate) ||
        result.intermediate_match != r.intermediate_match) {
        fail("API measures differ from the search's record", request);
    }
    if ((result.outcome == quillmere::Outcome::match) != r.final_match) {
        fail("API outcome disagrees with the final match", request);
    }
}

/// Counts what the progress events announce.
struct CountingObserver final : quillmere::SearchObserver {
    std::uint64_t last_total = 0;
    void on_common_factor_iterations(std::uint64_t total) override {
        if (total < last_total || total == 0) std::abort();
        last_total = total;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz_support::ByteReader reader{data, size};
    const std::uint8_t flags = reader.byte();
    const bool minimal_sum = (flags & 1) != 0;
    const bool has_target = (flags & 4) != 0;
    const bool progress_dots = (flags & 32) != 0;
    const bool strict = has_target && PRIORITIES[(flags >> 3) & 3] == Priority::strict;
    const bool full_limit = minimal_sum && (flags & 128) != 0 && !strict;
    const bool min_cost = !minimal_sum && (flags & 128) != 0;
    const long long small_limit = 1 + reader.byte() % LIMIT_SPAN;
    const double input_rate = fuzz_support::read_rate(&reader, 48000.0);
    const double output_rate = fuzz_support::read_rate(&reader, input_rate);
    const double target =
        fuzz_support::read_rate(&reader, (flags & 64) != 0 ? output_rate : input_rate);
    // Every rate read is at least 1 Hz, so a target read is a target the request has.
    quillmere::TwoStageRequest api_request;
    api_request.input_rate_hz = input_rate;
    api_request.output_rate_hz = output_rate;
    api_request.mode = minimal_sum ? SearchMode::minimal_sum
                       : min_cost  ? SearchMode::min_cost
                                   : SearchMode::custom_limit;
    api_request.max_factor = full_limit ? quillmere::max_factor_limit : small_limit;
    api_request.allow_first_stage_decimation = (flags & 2) != 0;
    if (has_target) {
        api_request.intermediate_target =
            quillmere::IntermediateTarget{target, PRIORITIES[(flags >> 3) & 3]};
    }
    const TwoStageRequest& in = api_request;
    // Inputs whose search would spend its time factoring huge convergents are left out:
    // they would starve the fuzzer (see fuzz_support::cheap_two_stage_search).
    if (!fuzz_support::cheap_two_stage_search(output_rate / input_rate, in.max_factor)) return 0;
    const std::string request = describe(in);
    const quillmere::RequestCheck check = quillmere::check_request(api_request);
    if (min_cost && check.field == "intermediate_target.rate_hz") {
        // A strict target too low to carry the passband: no cascade could be priced.
        if (quillmere::solve_two_stage(api_request).status != Status::invalid_request) {
            fail("a refused min-cost request was solved", request);
        }
        return 0;
    }
    if (check.status != Status::ok) fail("a request the dialog lets through was refused", request);
    const SearchContext context;

    const SearchOutcome fast_search = search_two_stage(context, in);
    const CascadeRecord& fast = fast_search.best;
    const Status status = fast_search.status;
    const int fast_count = fast_search.convergent_count;
    const std::uint64_t fast_iterations = fast_search.common_factor_iterations;
    if (status != Status::ok && status != Status::not_found) {
        fail("critical status for a valid request", request);
    }
    if ((status == Status::ok) != fast.found) fail("status disagrees with found", request);
    if (fast_count < 1 || fast_count > 100) fail("convergent count outside 1 ... 100", request);
    check_record(fast, in, request);

    if (!full_limit && in.max_factor <= REFERENCE_LIMIT) {
        const SearchOutcome plain = search_two_stage_reference(context, in);
        if (plain.status != status) fail("status differs from the reference", request);
        if (!same_record(fast, plain.best)) fail("record differs from the reference", request);
        if (fast.macs_per_second != plain.best.macs_per_second && fast.found) {
            fail("price differs from the reference", request);
        }
        if (plain.convergent_count != fast_count) {
            fail("convergent count differs from the reference", request);
        }
        if (plain.common_factor_iterations != fast_iterations) {
            fail("g/h iteration count differs from the reference", request);
        }
    }

    StringSink text;
    CountingObserver counting;
    ProgressDots line(text, api_request.mode);
    quillmere::SolveOptions options;
    if (progress_dots) {
        options.observer = &line;
    } else {
        options.observer = &counting;
    }
    const quillmere::TwoStageResult result = quillmere::solve_two_stage(api_request, options);
    check_result(result, fast, status, fast_count, fast_iterations,
                 api_request.mode == SearchMode::min_cost, request);
    if (!progress_dots && counting.last_total != 0 && counting.last_total != fast_iterations) {
        fail("the last progress event is not the iteration count", request);
    }
    write_two_stage_header(text, api_request);
    write_two_stage_summary(text, result);
    write_two_stage_report(text, api_request, result);
    return 0;
}
