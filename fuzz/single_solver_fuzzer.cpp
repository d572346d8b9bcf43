// Fuzzes the single-stage solver and run over every pair of rates the dialog lets
// through: the solver either finds L/M with L >= 1, 1 <= M <= 65535 and a finite
// achieved rate that L/M really gives, or, for a ratio too small for any denominator
// within the limit, finds nothing (not_found) with the 0/1 convergent (an error event with
// its data) and a message that says why; the report of every result is written to a string.
//
// Input: the input rate, then the output rate (nine bytes each, see solver_fuzz_support.h).
#include <cmath>
#include <cstdint>
#include <string>

#include "quillmere/quillmere.h"
#include "report/reports.h"
#include "solver_fuzz_support.h"

using fuzz_support::fail;
using fuzz_support::show_rate;
using quillmere::Status;
using namespace quillmere::report;

namespace {

/// Keeps the last error event.
struct LastError final : quillmere::SearchObserver {
    bool seen = false;
    quillmere::SolverError error;
    void on_error(const quillmere::SolverError& e) override {
        seen = true;
        error = e;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz_support::ByteReader in{data, size};
    const double input_rate = fuzz_support::read_rate(&in, 48000.0);
    const double output_rate = fuzz_support::read_rate(&in, input_rate);
    const std::string request = show_rate(input_rate) + " Hz -> " + show_rate(output_rate) + " Hz";

    const quillmere::SingleStageRequest single{input_rate, output_rate};
    LastError errors;
    quillmere::SolveOptions options;
    options.observer = &errors;
    const quillmere::SingleStageResult result = quillmere::solve_single_stage(single, options);
    const long long l = result.stage.l;
    const long long m = result.stage.m;
    const double achieved = result.output_rate_hz;
    const double ratio = output_rate / input_rate;

    if (result.status == Status::ok) {
        if (errors.seen) fail("error event on success", request);
        if (l < 1) fail("L below 1", request);
        if (m < 1 || m > quillmere::max_factor_limit) fail("M outside 1 ... 65535", request);
        if (!std::isfinite(achieved)) fail("achieved rate not finite", request);
        const double expected = static_cast<double>(l) / static_cast<double>(m) * input_rate;
        if (achieved != expected) fail("achieved rate is not (L / M) * input", request);
        // A convergent p/q of x is within 1/q^2 of it; allow for the rounding of x itself.
        const double tolerance = 1.0 / (static_cast<double>(m) * static_cast<double>(m));
        if (std::fabs(static_cast<double>(l) / static_cast<double>(m) - ratio) >
            tolerance + 1e-12 * ratio) {
            fail("L/M is no convergent of the ratio", request);
        }
        if (result.convergent_count < 1) fail("no convergent counted", request);
    } else if (result.status == Status::not_found) {
        // Only the 0/1 convergent: no ratio at or above 1/65535 may end here.
        if (!errors.seen || errors.error.kind != quillmere::SolverErrorKind::non_positive_factors ||
            errors.error.l != 0 || errors.error.m != 1) {
            fail("failure without the 0/1 convergent", request);
        }
        if (l != 0 || m != 0) fail("failure left factors in the result", request);
        if (ratio >= 1.0 / static_cast<double>(quillmere::max_factor_limit)) {
            fail("ratio of a representable L/M refused", request);
        }
        if (result.message.empty()) fail("failure without a message", request);
    } else {
        fail("status outside ok and not_found", request);
    }

    StringSink text;
    write_single_stage_settings(text, single);
    write_single_stage_report(text, single, result);
    return 0;
}
