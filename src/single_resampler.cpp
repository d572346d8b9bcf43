#include "single_resampler.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "cfe_utils.h"
#include "process_exit.h"
#include "utils.h"

namespace {

/// Writes a fixed text without format interpretation.
void put(const char* text) {
    std::fputs(text, stdout);
}

/// Prints the four caution lines; the last one stays open for whatever follows.
void print_caution(double relative_error) {
    put("Caution!: The best approximation found differs significantly\n");
    std::printf("          from the target ratio (Final Relative Error: %.2e).\n", relative_error);
    put("          An arbitrary (non-rational) resampling method might be required\n");
    put("          for higher accuracy if this error is unacceptable.");
}

/// Prints the seven large-factor lines; the last one stays open for whatever follows.
void print_large_factor_note(long long l, long long m) {
    std::printf("Note: One or more calculated factors (L=%lld, M=%lld) are large.\n", l, m);
    put("      Implementing this rational ratio with standard polyphase filters may be\n");
    put("      computationally expensive or require long filters.\n");
    put("      Consider if an arbitrary resampling method might be a suitable\n");
    put("      alternative if filter complexity is a primary concern.\n");
    put("      Consider using the two-stage mode (option 2) to potentially find\n");
    put("      factor pairs (L1/M1, L2/M2) with lower complexity.");
}

}  // namespace

StatusCode calculate_single_resampler(double input_rate, double output_rate, long long* l,
                                      long long* m, double* achieved_output_rate) {
    if (g_shutdown_requested.load() != 0) return STATUS_FAILURE;
    if (l == nullptr || m == nullptr || achieved_output_rate == nullptr) {
        std::fputs("Internal Error (calc_single): Output pointers are NULL.\n", stderr);
        return STATUS_INVALID_INPUT_ERROR;
    }
    *l = 0;
    *m = 0;
    *achieved_output_rate = std::numeric_limits<double>::quiet_NaN();

    if (!std::isfinite(input_rate) || !std::isfinite(output_rate) || input_rate <= 0.0 ||
        output_rate <= 0.0) {
        print_stderr("Invalid rates for single resampler (must be positive finite).");
        return STATUS_INVALID_INPUT_ERROR;
    }
    // The quotient of two valid rates can still overflow or underflow.
    const double ratio = output_rate / input_rate;
    if (!std::isfinite(ratio) || ratio <= 0.0) {
        print_stderr("Target ratio is invalid (non-positive or non-finite).");
        return STATUS_CALCULATION_ERROR;
    }

    ConvergentList list;
    const StatusCode status =
        calculate_cfe_convergents(ratio, MAX_LM_LIMIT, &list.items, &list.count);
    if (status != STATUS_SUCCESS) {
        print_stderr("Critical error during CFE calculation: %s.", status_code_to_string(status));
        return status;
    }
    const long long best_l = list.items[list.count - 1].p;
    const long long best_m = list.items[list.count - 1].q;
    *l = best_l;
    *m = best_m;
    list.release();

    // A ratio below about 1/65536 leaves only 0/1 within the bound on M.
    if (best_m < 1 || best_l < 1) {
        std::fprintf(stderr, "Internal Error: CFE resulted in non-positive L or M (%lld / %lld).\n",
                     best_l, best_m);
        return STATUS_CALCULATION_ERROR;
    }

    *achieved_output_rate =
        (static_cast<double>(best_l) / static_cast<double>(best_m)) * input_rate;
    if (!std::isfinite(*achieved_output_rate)) {
        print_stderr("Achieved rate calculation resulted in non-finite value (L=%lld, M=%lld).",
                     best_l, best_m);
        return STATUS_CALCULATION_ERROR;
    }
    return STATUS_SUCCESS;
}

void print_single_resampler_result(double input_rate, double output_rate, long long l, long long m,
                                   double achieved_output_rate) {
    if (g_shutdown_requested.load() != 0) return;
    if (m <= 0 || l <= 0) {
        std::fputs("Internal Error (print_single): Cannot print result with L/M <= 0.\n", stderr);
        return;
    }
    if (!std::isfinite(input_rate) || !std::isfinite(output_rate) ||
        !std::isfinite(achieved_output_rate)) {
        std::fputs("Internal Error (print_single): Cannot print result with non-finite rates.\n",
                   stderr);
        return;
    }

    // Against a target indistinguishable from zero the error is taken as absolute.
    const double difference = achieved_output_rate - output_rate;
    const bool target_is_zero = std::fabs(output_rate) <= ZERO_GUARD;
    const double relative_error =
        target_is_zero ? std::fabs(difference) : std::fabs(difference) / std::fabs(output_rate);
    double ppm_error = 0.0;
    if (!target_is_zero) {
        ppm_error = difference / output_rate * 1000000.0;
    } else if (std::fabs(difference) > ZERO_GUARD) {
        ppm_error = difference > 0.0 ? std::numeric_limits<double>::infinity()
                                     : -std::numeric_limits<double>::infinity();
    }
    const bool match = relative_error < MATCH_TOLERANCE;
    const bool significant = !match && relative_error >= ARBITRARY_SUGGESTION_THRESHOLD;
    const bool large = l > LARGE_FACTOR_THRESHOLD || m > LARGE_FACTOR_THRESHOLD;

    put("\n");
    if (match && large) {
        put("Results: Match Found with Large L/M\n\n");
    } else if (match) {
        put("Results: Match Found!\n\n");
    } else if (significant) {
        put("Results: Caution! Significant Error\n\n");
    } else {
        put("Results: Approximation Found\n\n");
    }

    std::printf("  L = %lld (Interpolation)\n", l);
    std::printf("  M = %lld (Decimation)\n", m);
    std::printf("\nComplexity = %lld\n", max_long_long(l, m));
    std::printf("Achieved Ratio (L/M) = %lld / %lld = %.10f\n", l, m,
                static_cast<double>(l) / static_cast<double>(m));
    std::printf("Achieved Output Rate = %.10f Hz\n", achieved_output_rate);
    std::printf("Rate Difference: %+.10f Hz, Relative: %.2e\n", difference, relative_error);
    print_ppm_line("PPM Error: ", ppm_error);

    if (significant || large) {
        put("\n");
        if (significant) print_caution(relative_error);
        if (large) {
            if (significant) put("\n");
            print_large_factor_note(l, m);
        }
        put("\n");
    }
    flush_standard_output();
}

StatusCode handle_one_resampler(const UserInputs* inputs) {
    if (g_shutdown_requested.load() != 0) return STATUS_FAILURE;
    if (inputs == nullptr) {
        std::fputs("Internal Error (handle_one): NULL inputs pointer.\n", stderr);
        return STATUS_INVALID_INPUT_ERROR;
    }
    const double input_rate = inputs->input_rate;
    const double output_rate = inputs->output_rate;

    put("\n--- Single Rational Resampler Calculation ---\n");
    std::printf("Target: Input Rate = %.2f Hz, Output Rate = %.2f Hz\n", input_rate, output_rate);
    const double target_ratio =
        input_rate == 0.0 ? std::numeric_limits<double>::quiet_NaN() : output_rate / input_rate;
    if (std::isfinite(target_ratio)) {
        std::printf("Target Ratio (output/input) = %.10f\n", target_ratio);
    } else {
        put("Target Ratio (output/input) = Invalid\n");
    }
    std::printf("Match Tolerance (relative error): %.1e\n", MATCH_TOLERANCE);
    std::printf("Arbitrary Suggestion Threshold (relative error): %.1e\n",
                ARBITRARY_SUGGESTION_THRESHOLD);
    std::printf("CFE searching with max denominator M <= %lld\n", MAX_LM_LIMIT);
    flush_standard_output();

    long long l = 0;
    long long m = 0;
    double achieved_output_rate = 0.0;
    const StatusCode status =
        calculate_single_resampler(input_rate, output_rate, &l, &m, &achieved_output_rate);
    if (status == STATUS_SUCCESS) {
        print_single_resampler_result(input_rate, output_rate, l, m, achieved_output_rate);
    } else {
        put("\nCalculation failed. No results to display for single resampler.\n");
        flush_standard_output();
    }
    return status;
}
