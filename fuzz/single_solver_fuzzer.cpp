// Fuzzes the single-stage solver and run over every pair of rates the dialog lets
// through: the solver either finds L/M with L >= 1, 1 <= M <= 65535 and a finite
// achieved rate that L/M really gives, or, for a ratio too small for any denominator
// within the limit, fails with the 0/1 convergent; the run reports the same status.
//
// Input: the input rate, then the output rate (nine bytes each, see solver_fuzz_support.h).
#include <cmath>
#include <cstdint>
#include <string>

#include "requests.h"
#include "single_resampler.h"
#include "solver_fuzz_support.h"

using fuzz_support::fail;
using fuzz_support::show_rate;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz_support::quiet_standard_output();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz_support::ByteReader in{data, size};
    const double input_rate = fuzz_support::read_rate(&in, 48000.0);
    const double output_rate = fuzz_support::read_rate(&in, input_rate);
    const std::string request = show_rate(input_rate) + " Hz -> " + show_rate(output_rate) + " Hz";
    if (g_shutdown_requested.load() != 0) fail("a stop request is pending", request);

    long long l = -7;
    long long m = -7;
    double achieved = -7.0;
    const StatusCode status =
        calculate_single_resampler(input_rate, output_rate, &l, &m, &achieved);
    const double ratio = output_rate / input_rate;

    if (status == STATUS_SUCCESS) {
        if (l < 1) fail("L below 1", request);
        if (m < 1 || m > MAX_LM_LIMIT) fail("M outside 1 ... 65535", request);
        if (!std::isfinite(achieved)) fail("achieved rate not finite", request);
        const double expected = static_cast<double>(l) / static_cast<double>(m) * input_rate;
        if (achieved != expected) fail("achieved rate is not (L / M) * input", request);
        // A convergent p/q of x is within 1/q^2 of it; allow for the rounding of x itself.
        const double tolerance = 1.0 / (static_cast<double>(m) * static_cast<double>(m));
        if (std::fabs(static_cast<double>(l) / static_cast<double>(m) - ratio) >
            tolerance + 1e-12 * ratio) {
            fail("L/M is no convergent of the ratio", request);
        }
    } else if (status == STATUS_CALCULATION_ERROR) {
        // Only the 0/1 convergent: no ratio at or above 1/65535 may end here.
        if (l != 0 || m != 1) fail("failure without the 0/1 convergent", request);
        if (!std::isnan(achieved)) fail("failure left an achieved rate", request);
        if (ratio >= 1.0 / static_cast<double>(MAX_LM_LIMIT)) {
            fail("ratio of a representable L/M refused", request);
        }
    } else {
        fail("status outside SUCCESS and CALCULATION_ERROR", request);
    }

    // The whole run, report included, must agree with the solver.
    const UserInputs inputs = one_stage_request(input_rate, output_rate);
    if (handle_one_resampler(&inputs) != status)
        fail("run status differs from the solver's", request);
    if (g_shutdown_requested.load() != 0) fail("the solver raised a stop request", request);
    return 0;
}
