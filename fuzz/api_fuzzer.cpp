// Fuzzes the public API as a program of a user would call it: a request of any kind
// (one stage, two stages in each mode, with or without a target and filter requirements,
// rates anywhere in or beyond the accepted range) goes through check_request, the solver and
// estimate_cost. The calls never crash; a request the check refuses is refused by the
// solver with the same status; a result with factors keeps the limits, its factors multiply
// out to its rates and its errors agree with them; a result without factors says why; an
// estimate either prices every stage (totals that are the stages' sums) or names the field
// it refuses.
//
// Each input is cheap: the limit of the custom-limit and min-cost modes is at most 60,
// minimal-sum takes the program's own limit, and a two-stage request whose search would
// factor convergents with terms above 2^28 is checked but not solved.
//
// Input: a flags byte (bits 0-1: one stage, minimal-sum, custom-limit, min-cost; bit 2 M1 >
// L1 allowed; bit 3 a target; bits 4-5 the priority; bit 6 filter requirements from the
// input; bit 7 the rates as raw doubles, which may be out of range), a limit byte, the
// input, output and target rates (nine bytes each, see solver_fuzz_support.h), then the
// filter requirements (four times a kind byte and eight bytes).
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "quillmere/quillmere.h"
#include "solver_fuzz_support.h"

using fuzz_support::fail;
using fuzz_support::show_rate;
using quillmere::CostEstimate;
using quillmere::Outcome;
using quillmere::RateError;
using quillmere::SearchMode;
using quillmere::Stage;
using quillmere::Status;

namespace {

constexpr int LIMIT_SPAN = 60;
constexpr quillmere::Priority PRIORITIES[] = {
    quillmere::Priority::strict, quillmere::Priority::final, quillmere::Priority::balanced,
    quillmere::Priority::ignore};

/// A rate from the input: in range as the dialog takes it, or (raw) any double at all.
double read_any_rate(fuzz_support::ByteReader* in, double reference, bool raw) {
    if (!raw) return fuzz_support::read_rate(in, reference);
    const std::uint64_t bits = in->u64();
    double rate = 0.0;
    std::memcpy(&rate, &bits, sizeof rate);
    return rate;
}

/// A level in dB or an edge in Hz: usual values mostly, the extremes of a double too.
double read_level(fuzz_support::ByteReader* in, double usual_low, double usual_high) {
    const std::uint8_t kind = in->byte();
    const std::uint64_t payload = in->u64();
    switch (kind % 4) {
    case 0: return usual_low + (usual_high - usual_low) * fuzz_support::unit_interval(payload);
    case 1: {
        double value = 0.0;
        std::memcpy(&value, &payload, sizeof value);
        return value;
    }
    case 2: {
        constexpr double extremes[] = {0.0, -1.0, 5e-324, 1e-300, 1e300, 6466.0, 6500.0, 1e6};
        return extremes[payload % std::size(extremes)];
    }
    default: return usual_low;
    }
}

/// The error of an achieved rate against the one asked for, as the results give it.
void check_error(const RateError& error, double achieved, double wanted, const char* what,
                 const std::string& request) {
    const double difference = achieved - wanted;
    if (error.difference_hz != difference) fail(what, request);
    if (error.relative != std::fabs(difference) / std::fabs(wanted)) fail(what, request);
}

void check_stage(const Stage& stage, std::int64_t limit, const std::string& request) {
    if (stage.l < 1 || stage.m < 1 || stage.l > limit || stage.m > limit) {
        fail("a factor outside 1 ... the limit", request);
    }
}

void check_estimate(const CostEstimate& estimate, std::size_t stage_count,
                    const std::string& request) {
    if (estimate.status != Status::ok) {
        if (estimate.field.empty() || estimate.message.empty()) {
            fail("a refused estimate names no field or reason", request);
        }
        if (!estimate.stages.empty()) fail("a refused estimate has stages", request);
        return;
    }
    if (estimate.stages.size() != stage_count) fail("the estimate misses stages", request);
    std::int64_t taps = 0;
    double macs = 0.0;
    for (const quillmere::StageCost& stage : estimate.stages) {
        if (stage.taps < 0 || (stage.filtered && stage.taps < 1))
            fail("taps out of range", request);
        if (!(stage.macs_per_second >= 0.0) || !std::isfinite(stage.macs_per_second)) {
            fail("multiply-accumulates not finite", request);
        }
        taps += stage.taps;
        macs += stage.macs_per_second;
    }
    if (taps != estimate.total_coefficients) fail("total coefficients are not the sum", request);
    if (macs != estimate.total_macs_per_second) fail("total MAC/s are not the sum", request);
}

void run_single(const quillmere::SingleStageRequest& request, const std::string& text) {
    const quillmere::RequestCheck check = quillmere::check_request(request);
    const quillmere::SingleStageResult result = quillmere::solve_single_stage(request);
    if (check.status != Status::ok) {
        if (result.status != check.status) fail("the solver disagrees with the check", text);
        if (result.message.empty()) fail("a refusal without a message", text);
        return;
    }
    if (result.status == Status::ok) {
        check_stage(result.stage, std::int64_t{1} << 62, text);
        if (result.stage.m > quillmere::max_factor_limit) fail("M above 65535", text);
        const double achieved = static_cast<double>(result.stage.l) /
                                static_cast<double>(result.stage.m) * request.input_rate_hz;
        if (result.output_rate_hz != achieved) fail("the output rate is not (L/M) x input", text);
        check_error(result.output_error, result.output_rate_hz, request.output_rate_hz,
                    "the output error disagrees with the rates", text);
        if ((result.outcome == Outcome::match) !=
            (result.output_error.relative < quillmere::match_tolerance)) {
            fail("match without the output rate in tolerance", text);
        }
        const Stage stages[] = {result.stage};
        check_estimate(quillmere::estimate_cost(request.input_rate_hz, stages), 1, text);
    } else if (result.status == Status::not_found) {
        // Only a ratio no L/M with M up to 65535 reaches.
        if (request.output_rate_hz / request.input_rate_hz >=
            1.0 / static_cast<double>(quillmere::max_factor_limit)) {
            fail("a reachable ratio was not found", text);
        }
        if (result.message.empty()) fail("not_found without a reason", text);
    } else if (result.message.empty()) {
        fail("a failure without a message", text);
    }
    const CostEstimate estimate = quillmere::estimate_cost(request, result);
    if (result.status != Status::ok && estimate.status != result.status) {
        fail("an estimate of nothing does not give the result's status", text);
    }
    check_estimate(estimate, 1, text);
}

void run_two(const quillmere::TwoStageRequest& request, const std::string& text) {
    const quillmere::RequestCheck check = quillmere::check_request(request);
    // A search that would spend its time factoring huge convergents: the check only.
    if (check.status == Status::ok &&
        !fuzz_support::cheap_two_stage_search(request.output_rate_hz / request.input_rate_hz,
                                              request.max_factor)) {
        return;
    }
    const quillmere::TwoStageResult result = quillmere::solve_two_stage(request);
    if (check.status != Status::ok) {
        if (result.status != check.status) fail("the solver disagrees with the check", text);
        if (result.message.empty()) fail("a refusal without a message", text);
        return;
    }
    if (result.status == Status::ok) {
        check_stage(result.first, request.max_factor, text);
        check_stage(result.second, request.max_factor, text);
        if (!request.allow_first_stage_decimation && result.first.l < result.first.m) {
            fail("M1 > L1 although not allowed", text);
        }
        const double first = static_cast<double>(result.first.l) / result.first.m;
        const double second = static_cast<double>(result.second.l) / result.second.m;
        if (result.intermediate_rate_hz != request.input_rate_hz * first) {
            fail("the intermediate rate is not (L1/M1) x input", text);
        }
        if (result.overall_sum !=
            result.first.l + result.first.m + result.second.l + result.second.m) {
            fail("the sum is not L1+M1+L2+M2", text);
        }
        if (!(std::fabs(result.combined_ratio - first * second) <=
              1e-15 * std::fabs(first * second))) {
            fail("the ratio is not (L1/M1)(L2/M2)", text);
        }
        check_error(result.output_error, result.output_rate_hz, request.output_rate_hz,
                    "the output error disagrees with the rates", text);
        if (!(std::fabs(result.output_rate_hz - request.input_rate_hz * first * second) <=
              1e-12 * result.output_rate_hz)) {
            fail("the output rate is not the factors times the input", text);
        }
        if (request.intermediate_target) {
            if (!result.intermediate_error) fail("a target without its error", text);
            check_error(*result.intermediate_error, result.intermediate_rate_hz,
                        request.intermediate_target->rate_hz,
                        "the intermediate error disagrees with the rates", text);
            if (request.intermediate_target->priority == quillmere::Priority::strict &&
                !result.intermediate_match) {
                fail("strict priority missed the target", text);
            }
        }
    } else if (result.status == Status::not_found) {
        if (result.message.empty()) fail("not_found without a reason", text);
    } else if (result.message.empty()) {
        fail("a failure without a message", text);
    }
    const CostEstimate estimate = quillmere::estimate_cost(request, result);
    if (result.status == Status::ok && request.mode == SearchMode::min_cost &&
        estimate.status != Status::ok) {
        fail("min-cost found a cascade it cannot price",
             text + " (" + estimate.field + ": " + estimate.message + ")");
    }
    check_estimate(estimate, 2, text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz_support::ByteReader in{data, size};
    const std::uint8_t flags = in.byte();
    const std::uint8_t limit_byte = in.byte();
    const bool raw = (flags & 128) != 0;
    const double input_rate = read_any_rate(&in, 48000.0, raw);
    const double output_rate =
        read_any_rate(&in, fuzz_support::in_range(input_rate) ? input_rate : 48000.0, raw);
    const double target_rate =
        read_any_rate(&in, fuzz_support::in_range(output_rate) ? output_rate : 48000.0, raw);
    quillmere::FilterSpec filter;
    if ((flags & 64) != 0) {
        const double lower = std::fmin(input_rate, output_rate) / 2.0;
        const double usual = std::isfinite(lower) && lower > 0.0 ? lower : 24000.0;
        filter.passband_hz = read_level(&in, 0.5 * usual, 0.95 * usual);
        filter.stopband_hz = read_level(&in, 0.96 * usual, usual);
        filter.attenuation_db = read_level(&in, 20.0, 160.0);
        filter.ripple_db = read_level(&in, 0.001, 3.0);
    }
    const std::string text = show_rate(input_rate) + " Hz -> " + show_rate(output_rate) +
                             " Hz, flags " + std::to_string(flags) + ", limit byte " +
                             std::to_string(limit_byte) + ", target " + show_rate(target_rate) +
                             ", filter " + show_rate(filter.passband_hz.value_or(0.0)) + " " +
                             show_rate(filter.stopband_hz.value_or(0.0)) + " " +
                             show_rate(filter.attenuation_db) + " " + show_rate(filter.ripple_db);

    const int kind = flags & 3;
    if (kind == 0) {
        run_single(quillmere::SingleStageRequest{input_rate, output_rate}, text);
        return 0;
    }
    quillmere::TwoStageRequest request;
    request.input_rate_hz = input_rate;
    request.output_rate_hz = output_rate;
    request.mode = kind == 1   ? SearchMode::minimal_sum
                   : kind == 2 ? SearchMode::custom_limit
                               : SearchMode::min_cost;
    request.max_factor =
        kind == 1 ? quillmere::max_factor_limit : 1 + static_cast<int>(limit_byte % LIMIT_SPAN);
    request.allow_first_stage_decimation = (flags & 4) != 0;
    if ((flags & 8) != 0) {
        request.intermediate_target =
            quillmere::IntermediateTarget{target_rate, PRIORITIES[(flags >> 4) & 3]};
    }
    request.filter = filter;
    run_two(request, text);
    return 0;
}
