#include "report/reports.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "report/dialog_status.h"

namespace quillmere::report {

namespace {

/// Largest per-stage limit whose square fits in a signed 64-bit integer.
constexpr std::int64_t SQUARE_ROOT_BOUND = 3037000499LL;
constexpr double NOT_A_NUMBER = std::numeric_limits<double>::quiet_NaN();

/// The ratio line of both settings blocks.
void write_target_ratio(TextSink& sink, double input_rate, double output_rate) {
    const double ratio = input_rate == 0.0 ? NOT_A_NUMBER : output_rate / input_rate;
    if (std::isfinite(ratio)) {
        sink.print("Target Ratio (output/input) = %.10f\n", ratio);
    } else {
        sink.write("Target Ratio (output/input) = Invalid\n");
    }
}

/// Prints the four caution lines; the last one stays open for whatever follows.
void write_single_caution(TextSink& sink, double relative_error) {
    sink.write("Caution!: The best approximation found differs significantly\n");
    sink.print("          from the target ratio (Final Relative Error: %.2e).\n", relative_error);
    sink.write("          An arbitrary (non-rational) resampling method might be required\n");
    sink.write("          for higher accuracy if this error is unacceptable.");
}

/// Prints the seven large-factor lines; the last one stays open for whatever follows.
void write_single_large_factor_note(TextSink& sink, long long l, long long m) {
    sink.print("Note: One or more calculated factors (L=%lld, M=%lld) are large.\n", l, m);
    sink.write("      Implementing this rational ratio with standard polyphase filters may be\n");
    sink.write("      computationally expensive or require long filters.\n");
    sink.write("      Consider if an arbitrary resampling method might be a suitable\n");
    sink.write("      alternative if filter complexity is a primary concern.\n");
    sink.write("      Consider using the two-stage mode (option 2) to potentially find\n");
    sink.write("      factor pairs (L1/M1, L2/M2) with lower complexity.");
}

void write_difference(TextSink& sink, const char* label, double d, double relative) {
    sink.write(label);
    if (std::isfinite(d)) {
        sink.print("%+.10f Hz, Relative: %.2e\n", d, relative);
    } else {
        sink.write("Calculation Error\n");
    }
}

void write_rate(TextSink& sink, const char* label, double rate) {
    sink.write(label);
    if (std::isfinite(rate)) {
        sink.print("%.10f Hz\n", rate);
    } else {
        sink.write("Calculation Error\n");
    }
}

void write_not_found(TextSink& sink, const char* title, const TwoStageRequest& request) {
    sink.print("%s Not found\n", title);
    sink.write("\nPossible reasons:\n");
    if (request.max_factor >= 1 && request.mode == SearchMode::custom_limit) {
        sink.print("  - Maximum L/M value (%lld) is too small.\n",
                   static_cast<long long>(request.max_factor));
    } else if (request.mode == SearchMode::minimal_sum) {
        sink.print("  - Internal L/M limit (%lld) might be too small.\n",
                   static_cast<long long>(max_factor_limit));
    } else {
        sink.write("  - Factorization or internal limits might be the issue.\n");
    }
    sink.write("  - Required ratio is difficult to approximate.\n");
    if (request.intermediate_target) {
        sink.print("  - Could not meet intermediate rate target with priority '%s'.\n",
                   priority_description(request.intermediate_target->priority));
    }
    if (!request.allow_first_stage_decimation) {
        sink.write("  - Required L1>=M1 constraint is too restrictive for this ratio.\n");
    }
    sink.write("Check constraints, priority, and consider if a larger maximum L/M is needed.\n");
}

}  // namespace

const char* priority_description(Priority priority) {
    switch (priority) {
    case Priority::strict: return "Strict Intermediate";
    case Priority::final: return "Final Rate";
    case Priority::balanced: return "Balanced Dual";
    case Priority::ignore: return "Best Overall (Ignoring Intermediate)";
    }
    return "Unknown";
}

const char* search_mode_description(SearchMode mode) {
    switch (mode) {
    case SearchMode::minimal_sum: return "Minimal Sum";
    case SearchMode::custom_limit: return "Custom Limit";
    case SearchMode::min_cost: return "Minimum Cost";
    case SearchMode::best_accuracy: return "Best Accuracy";
    }
    return "Unknown";
}

void write_ppm_line(TextSink& sink, const char* label, double ppm) {
    sink.write(label);
    if (std::isnan(ppm)) {
        sink.write("N/A\n");
    } else if (std::isinf(ppm)) {
        sink.print("%sInfinity\n", ppm > 0.0 ? "+" : "-");
    } else {
        sink.print("%+.3f PPM\n", ppm);
    }
}

void write_single_stage_settings(TextSink& sink, const SingleStageRequest& request) {
    sink.write("\n--- Single Rational Resampler Calculation ---\n");
    sink.print("Target: Input Rate = %.2f Hz, Output Rate = %.2f Hz\n", request.input_rate_hz,
               request.output_rate_hz);
    write_target_ratio(sink, request.input_rate_hz, request.output_rate_hz);
    sink.print("Match Tolerance (relative error): %.1e\n", match_tolerance);
    sink.print("Arbitrary Suggestion Threshold (relative error): %.1e\n",
               significant_error_threshold);
    sink.print("CFE searching with max denominator M <= %lld\n",
               static_cast<long long>(max_factor_limit));
    sink.flush();
}

void write_single_stage_report(TextSink& sink, const SingleStageRequest& request,
                               const SingleStageResult& result) {
    const long long l = result.stage.l;
    const long long m = result.stage.m;
    // Only a result with factors and finite rates can be reported.
    if (result.status != Status::ok || l <= 0 || m <= 0 || !std::isfinite(request.input_rate_hz) ||
        !std::isfinite(request.output_rate_hz) || !std::isfinite(result.output_rate_hz)) {
        sink.write("\nCalculation failed. No results to display for single resampler.\n");
        sink.flush();
        return;
    }
    const Advice& advice = result.advice;
    const bool match = result.outcome == Outcome::match;

    sink.write("\n");
    if (match && advice.large_factors) {
        sink.write("Results: Match Found with Large L/M\n\n");
    } else if (match) {
        sink.write("Results: Match Found!\n\n");
    } else if (advice.significant_error) {
        sink.write("Results: Caution! Significant Error\n\n");
    } else {
        sink.write("Results: Approximation Found\n\n");
    }

    sink.print("  L = %lld (Interpolation)\n", l);
    sink.print("  M = %lld (Decimation)\n", m);
    sink.print("\nComplexity = %lld\n", static_cast<long long>(result.stage.complexity()));
    sink.print("Achieved Ratio (L/M) = %lld / %lld = %.10f\n", l, m, result.achieved_ratio);
    sink.print("Achieved Output Rate = %.10f Hz\n", result.output_rate_hz);
    sink.print("Rate Difference: %+.10f Hz, Relative: %.2e\n", result.output_error.difference_hz,
               result.output_error.relative);
    write_ppm_line(sink, "PPM Error: ", result.output_error.ppm);

    if (advice.significant_error || advice.large_factors) {
        sink.write("\n");
        if (advice.significant_error) write_single_caution(sink, result.output_error.relative);
        if (advice.large_factors) {
            if (advice.significant_error) sink.write("\n");
            write_single_large_factor_note(sink, l, m);
        }
        sink.write("\n");
    }
    sink.flush();
}

void write_two_stage_settings(TextSink& sink, const TwoStageRequest& request) {
    const long long max_lm = request.max_factor;
    sink.print("\n--- Two Rational Resampler Calculation (%s Mode) ---\n",
               search_mode_description(request.mode));
    sink.print("Max L/M per stage: %lld\n", max_lm);
    if (request.intermediate_target) {
        sink.print("Target Intermediate Rate: %.2f Hz (Priority: %s)\n",
                   request.intermediate_target->rate_hz,
                   priority_description(request.intermediate_target->priority));
    }
    sink.print("Constraint: M1 > L1 is %s\n",
               request.allow_first_stage_decimation ? "Allowed" : "NOT Allowed");
    sink.print("Target: Input Rate = %.2f Hz, Output Rate = %.2f Hz\n", request.input_rate_hz,
               request.output_rate_hz);
    write_target_ratio(sink, request.input_rate_hz, request.output_rate_hz);
    sink.print("Match Tolerance (relative error): Overall=%.1e, Intermediate=%.1e\n",
               match_tolerance, match_tolerance);
    sink.print("Arbitrary Suggestion Threshold (relative error): %.1e\n",
               significant_error_threshold);
    const long long q = max_lm >= 1 && max_lm <= SQUARE_ROOT_BOUND
                            ? max_lm * max_lm
                            : std::numeric_limits<long long>::max();
    sink.print("CFE searching with max overall denominator Q <= %lld\n", q);
    sink.write("\n");
    sink.flush();
}

void write_two_stage_start(TextSink& sink) {
    sink.write("Starting search calculation. Please wait...\n\n");
    sink.flush();
}

void write_two_stage_header(TextSink& sink, const TwoStageRequest& request) {
    write_two_stage_settings(sink, request);
    write_two_stage_start(sink);
}

namespace {

/// The line of a search that was stopped or failed; false (nothing written) for ok and
/// not_found.
bool write_search_end(TextSink& sink, Status status) {
    switch (status) {
    case Status::ok:
    case Status::not_found: return false;
    case Status::stopped: sink.write("Search interrupted by user.\n"); break;
    default:
        sink.print("Search failed critically: %s\n", dialog_status(status).name);
        break;
    }
    sink.flush();
    return true;
}

}  // namespace

void write_two_stage_summary(TextSink& sink, const TwoStageResult& result) {
    if (write_search_end(sink, result.status)) return;
    if (result.convergent_count >= 0) {
        sink.print("%d CFE convergents processed...\n", result.convergent_count);
    }
    if (result.status == Status::ok) {
        sink.write("Checked factor pairs and possibly common factors (g/h)...\n");
    }
    sink.write("Done searching!\n\n");
    sink.flush();
}

void write_two_stage_report(TextSink& sink, const TwoStageRequest& request,
                            const TwoStageResult& result) {
    const std::string title =
        std::string(search_mode_description(request.mode)) + " Search Results:";
    write_two_stage_report(sink, title.c_str(), request, result);
}

void write_two_stage_report(TextSink& sink, const char* title, const TwoStageRequest& request,
                            const TwoStageResult& result) {
    if (result.status == Status::not_found) {
        write_not_found(sink, title, request);
        sink.flush();
        return;
    }
    if (result.status != Status::ok) return;

    const Advice& advice = result.advice;
    const bool large = advice.large_factors;
    const bool significant = advice.significant_error;
    const bool slight = advice.slight_difference;
    const bool intermediate_miss = advice.intermediate_miss;
    const double relative = result.output_error.relative;
    const long long l1 = result.first.l, m1 = result.first.m;
    const long long l2 = result.second.l, m2 = result.second.m;

    const bool match = result.outcome == Outcome::match;
    sink.print("%s ", title);
    if (match && large) {
        sink.write("Match Found with Large L/M\n");
    } else if (match) {
        sink.write("Match Found!\n");
    } else if (significant) {
        sink.write("Caution! Significant Error\n");
    } else {
        sink.write("Approximation Found\n");
    }

    sink.print("\nFirst Resampler: Complexity: %lld\n",
               static_cast<long long>(result.first.complexity()));
    sink.print("  L1 = %lld (Interpolation)\n", l1);
    sink.print("  M1 = %lld (Decimation)\n", m1);
    sink.print("\nSecond Resampler: Complexity: %lld\n",
               static_cast<long long>(result.second.complexity()));
    sink.print("  L2 = %lld (Interpolation)\n", l2);
    sink.print("  M2 = %lld (Decimation)\n", m2);
    sink.print("\nOverall Sum (L1+M1+L2+M2) = %lld\n", static_cast<long long>(result.overall_sum));
    sink.print("Overall Complexity (Sum of Max) = %lld\n",
               static_cast<long long>(result.overall_complexity));
    sink.print("Achieved Combined Ratio = (%lld / %lld) * (%lld / %lld) = %.10f\n", l1, m1, l2, m2,
               result.combined_ratio);

    write_rate(sink, "Achieved Intermediate Rate = ", result.intermediate_rate_hz);
    write_rate(sink, "Achieved Output Rate = ", result.output_rate_hz);
    write_difference(sink, "Overall Rate Difference: ", result.output_error.difference_hz,
                     relative);
    write_ppm_line(sink, "Overall PPM Error: ", result.output_error.ppm);
    const bool has_target = request.intermediate_target.has_value();
    const RateError intermediate =
        result.intermediate_error.value_or(RateError{NOT_A_NUMBER, NOT_A_NUMBER, NOT_A_NUMBER});
    if (has_target) {
        write_difference(sink, "Intermediate Rate Difference: ", intermediate.difference_hz,
                         intermediate.relative);
        write_ppm_line(sink, "Intermediate PPM Error: ", intermediate.ppm);
    }

    if (significant || large || slight || intermediate_miss) {
        sink.write("\n");
        if (significant) {
            sink.write("Caution!: The best approximation found differs significantly\n");
            sink.print("          from the target output rate (Final Relative Error: %.2e).\n",
                       relative);
            sink.write(
                "          An arbitrary (non-rational) resampling method might be required\n");
            // The line stays open: whoever prints next ends it.
            sink.write("          for higher accuracy if this error is unacceptable.");
        }
        if (large) {
            if (significant) sink.write("\n");
            sink.print(
                "Note: One or more calculated factors (L1=%lld, M1=%lld, L2=%lld, "
                "M2=%lld) are large.\n",
                l1, m1, l2, m2);
            sink.write(
                "      Implementing this rational ratio with standard polyphase filters may be\n");
            sink.write("      computationally expensive or require long filters.\n");
            sink.write("      Consider if an arbitrary resampling method might be a suitable\n");
            sink.write("      alternative if filter complexity is a primary concern.\n");
        } else if (slight) {
            sink.print(
                "Note: Achieved final rate differs slightly from target rate (Rel Diff: "
                "%.2e).\n",
                relative);
        }
        if (intermediate_miss) {
            if (significant || large || slight) sink.write("\n");
            sink.write("Note: Achieved intermediate rate differs from target rate");
            if (std::isfinite(intermediate.relative)) {
                sink.print(" (Rel Diff: %.2e).\n", intermediate.relative);
            } else {
                sink.write(".\n");
            }
            if (request.intermediate_target->priority == Priority::strict) {
                sink.write(
                    "      (Strict intermediate target was requested but could not be met.)\n");
            }
        }
    }
    sink.flush();
}

namespace {

/// "Best Accuracy", "Minimum Cost"; "Single Stage" for the dialog's one stage.
const char* plan_description(const PlanRequest& request) {
    if (request.stages == 1 && request.mode == SearchMode::minimal_sum) return "Single Stage";
    return search_mode_description(request.mode);
}

/// The notes of a plan's advice, as the two-stage report words them.
void write_plan_notes(TextSink& sink, const PlanResult& result) {
    const Advice& advice = result.advice;
    if (!(advice.significant_error || advice.large_factors || advice.slight_difference ||
          advice.intermediate_miss)) {
        return;
    }
    sink.write("\n");
    if (advice.significant_error) {
        sink.write("Caution!: The plan differs significantly from the target output rate\n");
        sink.print("          (Final Relative Error: %.2e). An arbitrary (non-rational)\n",
                   result.output_error.relative);
        sink.write("          resampling method might be required for higher accuracy if this\n");
        sink.write("          error is unacceptable.\n");
    }
    if (advice.large_factors) {
        sink.write("Note: One or more calculated factors are above 1000. Implementing this\n");
        sink.write("      plan with standard polyphase filters may be computationally\n");
        sink.write("      expensive or require long filters.\n");
    } else if (advice.slight_difference) {
        sink.print("Note: Achieved final rate differs slightly from target rate (Rel Diff: "
                   "%.2e).\n",
                   result.output_error.relative);
    }
    if (advice.intermediate_miss) {
        sink.write("Note: The rate after the first stage misses the intermediate target.\n");
    }
}

}  // namespace

void write_plan_settings(TextSink& sink, const PlanRequest& request) {
    const bool dialog_single = request.stages == 1 && request.mode == SearchMode::minimal_sum;
    if (dialog_single) {
        sink.write("\n--- Rational Resampler Plan (Single Stage) ---\n");
    } else if (request.stages == auto_stages) {
        sink.print("\n--- Rational Resampler Plan (%s Mode, Automatic Stage Count) ---\n",
                   search_mode_description(request.mode));
    } else {
        sink.print("\n--- Rational Resampler Plan (%s Mode, %d Stage%s) ---\n",
                   search_mode_description(request.mode), request.stages,
                   request.stages == 1 ? "" : "s");
    }
    if (!dialog_single) {
        sink.print("Max L/M per stage: %lld\n", static_cast<long long>(request.max_factor));
    }
    if (request.intermediate_target) {
        sink.print("Target Intermediate Rate: %.2f Hz (Priority: %s)\n",
                   request.intermediate_target->rate_hz,
                   priority_description(request.intermediate_target->priority));
    }
    if (request.stages != 1) {
        sink.print("Constraint: M1 > L1 is %s\n",
                   first_stage_decimation_allowed(request) ? "Allowed" : "NOT Allowed");
    }
    sink.print("Target: Input Rate = %.2f Hz, Output Rate = %.2f Hz\n", request.input_rate_hz,
               request.output_rate_hz);
    write_target_ratio(sink, request.input_rate_hz, request.output_rate_hz);
    if (request.tolerance) {
        sink.print("Tolerance (relative error): %.3g\n", *request.tolerance);
    }
    sink.print("Match Tolerance (relative error): %.1e\n", match_tolerance);
    sink.print("Arbitrary Suggestion Threshold (relative error): %.1e\n",
               significant_error_threshold);
    sink.write("\n");
    sink.flush();
}

void write_plan_report(TextSink& sink, const PlanRequest& request, const PlanResult& result) {
    const std::string title = std::string(plan_description(request)) + " Search Results:";
    if (write_search_end(sink, result.status)) return;
    if (result.status == Status::not_found) {
        sink.print("%s Not found\n", title.c_str());
        if (!result.message.empty()) sink.print("\n%s\n", result.message.c_str());
        sink.flush();
        return;
    }
    const Advice& advice = result.advice;
    const bool match = result.outcome == Outcome::match;
    sink.print("%s ", title.c_str());
    if (match && advice.large_factors) {
        sink.write("Match Found with Large L/M\n");
    } else if (match) {
        sink.write("Match Found!\n");
    } else if (advice.significant_error) {
        sink.write("Caution! Significant Error\n");
    } else {
        sink.write("Approximation Found\n");
    }
    if (result.stages.empty()) {
        sink.write("\nNo stage is needed: the output rate is the input rate.\n");
        sink.flush();
        return;
    }
    for (std::size_t i = 0; i < result.stages.size(); ++i) {
        const Stage& stage = result.stages[i];
        // As long long: the Windows runtime's printf, which the format check follows
        // there, has no %zu.
        const auto n = static_cast<long long>(i + 1);
        sink.print("\nStage %lld: Complexity: %lld\n", n,
                   static_cast<long long>(stage.complexity()));
        sink.print("  L%lld = %lld (Interpolation)\n", n, static_cast<long long>(stage.l));
        sink.print("  M%lld = %lld (Decimation)\n", n, static_cast<long long>(stage.m));
        sink.print("  Rate after stage %lld", n);
        write_rate(sink, " = ", result.stage_output_rates_hz[i]);
    }
    sink.print("\nOverall Sum = %lld\n", static_cast<long long>(result.overall_sum));
    sink.print("Overall Complexity (Sum of Max) = %lld\n",
               static_cast<long long>(result.overall_complexity));
    sink.write("Achieved Combined Ratio = ");
    for (std::size_t i = 0; i < result.stages.size(); ++i) {
        sink.print("%s(%lld / %lld)", i == 0 ? "" : " * ",
                   static_cast<long long>(result.stages[i].l),
                   static_cast<long long>(result.stages[i].m));
    }
    sink.print(" = %.10f\n", result.combined_ratio);
    write_rate(sink, "Achieved Output Rate = ", result.output_rate_hz);
    write_difference(sink, "Overall Rate Difference: ", result.output_error.difference_hz,
                     result.output_error.relative);
    write_ppm_line(sink, "Overall PPM Error: ", result.output_error.ppm);
    if (result.intermediate_error) {
        write_difference(sink, "Intermediate Rate Difference: ",
                         result.intermediate_error->difference_hz,
                         result.intermediate_error->relative);
        write_ppm_line(sink, "Intermediate PPM Error: ", result.intermediate_error->ppm);
    }
    write_plan_notes(sink, result);
    sink.flush();
}

}  // namespace quillmere::report
