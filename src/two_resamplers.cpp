#include "two_resamplers.h"

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>

#include "two_search.h"
#include "process_exit.h"
#include "utils.h"

namespace {

constexpr double NOT_A_NUMBER = std::numeric_limits<double>::quiet_NaN();
constexpr double INFINITE_ERROR = std::numeric_limits<double>::infinity();
/// Two final or two intermediate errors closer than this (Hz) count as equal.
constexpr double ERROR_TIE_TOLERANCE = 1e-15;
constexpr long long INT64_MAX_VALUE = INT64_MAX;
/// Largest per-stage limit whose square fits in a signed 64-bit integer.
constexpr long long SQUARE_ROOT_BOUND = 3037000499LL;

bool shutdown_requested() {
    return g_shutdown_requested.load() != 0;
}

/// L1 + M1 + L2 + M2, or -1 when the exact sum exceeds INT64_MAX.
long long guarded_sum(long long l1, long long m1, long long l2, long long m2) {
    std::uint64_t total = 0;
    for (const long long term : {l1, m1, l2, m2}) {
        const std::uint64_t next = total + static_cast<std::uint64_t>(term);
        if (next < total) return -1;
        total = next;
    }
    if (total > static_cast<std::uint64_t>(INT64_MAX_VALUE)) return -1;
    return static_cast<long long>(total);
}

/// Closeness to the intermediate target first; the search mode decides between equals.
Verdict judge_by_intermediate_order(const CandidateMeasures& c, const TwoStageResult& b) {
    if ((b.intermediate_error - ERROR_TIE_TOLERANCE) > c.intermediate_error) {
        return Verdict::accept;
    }
    if ((c.intermediate_error - ERROR_TIE_TOLERANCE) > b.intermediate_error) {
        return Verdict::reject;
    }
    return Verdict::mode_order;
}

/// A final match first, then the intermediate order.
Verdict judge_by_final_rate(const CandidateMeasures& c, const TwoStageResult& b) {
    if (c.final_match && !b.final_match) return Verdict::accept;
    if (!c.final_match && b.final_match) return Verdict::reject;
    return judge_by_intermediate_order(c, b);
}

/// Stage ratio num/den in double; NaN when den is 0 or the quotient is not finite.
double stage_ratio(long long num, long long den) {
    if (den == 0) return NOT_A_NUMBER;
    const double ratio = static_cast<double>(num) / static_cast<double>(den);
    return std::isfinite(ratio) ? ratio : NOT_A_NUMBER;
}

}  // namespace

Verdict judge_by_priority(const CandidateMeasures& c, const TwoStageResult& b,
                          const UserInputs& inputs) {
    const bool strict =
        inputs.has_intermediate_target && inputs.priority == PRIORITIZE_STRICT_INTERMEDIATE;
    if (!b.found) return !strict || c.intermediate_match ? Verdict::accept : Verdict::reject;

    const int priority =
        inputs.has_intermediate_target ? inputs.priority : PRIORITIZE_IGNORE_INTERMEDIATE;
    switch (priority) {
    case PRIORITIZE_STRICT_INTERMEDIATE:
        if (!c.intermediate_match) return Verdict::reject;
        if (!b.intermediate_match) return Verdict::accept;
        return Verdict::mode_order;
    case PRIORITIZE_FINAL_RATE: return judge_by_final_rate(c, b);
    case PRIORITIZE_BALANCED_DUAL: {
        const bool c_dual = c.final_match && c.intermediate_match;
        const bool b_dual = b.final_match && b.intermediate_match;
        if (c_dual && !b_dual) return Verdict::accept;
        if (b_dual && !c_dual) return Verdict::reject;
        if (c_dual && b_dual) return Verdict::mode_order;
        return judge_by_final_rate(c, b);
    }
    case PRIORITIZE_IGNORE_INTERMEDIATE:
        if (c.final_match && !b.final_match) return Verdict::accept;
        if (!c.final_match && b.final_match) return Verdict::reject;
        return Verdict::mode_order;
    default: return Verdict::reject;
    }
}

bool wins_by_mode_order(const CandidateMeasures& c, const TwoStageResult& b, int search_mode) {
    if (search_mode == SEARCH_MODE_MINIMAL_SUM) {
        if (c.sum < b.overall_sum) return true;
        return c.sum == b.overall_sum && (b.final_error - ERROR_TIE_TOLERANCE) > c.final_error;
    }
    if ((b.final_error - ERROR_TIE_TOLERANCE) > c.final_error) return true;
    return std::fabs(c.final_error - b.final_error) < ERROR_TIE_TOLERANCE && c.sum < b.overall_sum;
}

bool candidate_wins(const CandidateMeasures& c, const TwoStageResult& b, const UserInputs& inputs,
                    int search_mode) {
    if (c.sum == -1 || !std::isfinite(c.final_error)) return false;
    const Verdict verdict = judge_by_priority(c, b, inputs);
    return verdict == Verdict::accept ||
           (verdict == Verdict::mode_order && wins_by_mode_order(c, b, search_mode));
}

TwoStageResult make_empty_two_stage_result() {
    return TwoStageResult{0,
                          0,
                          0,
                          0,
                          NOT_A_NUMBER,
                          INFINITE_ERROR,
                          false,
                          false,
                          INT64_MAX_VALUE,
                          NOT_A_NUMBER,
                          INFINITE_ERROR,
                          false};
}

double guarded_product(double a, double b) {
    const double abs_a = std::fabs(a);
    const double abs_b = std::fabs(b);
    if (abs_a > 1.0 && abs_b > 0.0 && abs_a > DBL_MAX / abs_b) return NOT_A_NUMBER;
    if (abs_a > 0.0 && abs_b > 0.0 && abs_a < DBL_MIN / abs_b) return NOT_A_NUMBER;
    const double product = a * b;
    return std::isfinite(product) ? product : NOT_A_NUMBER;
}

double relative_error(double x, double t) {
    if (std::fabs(t) > ZERO_GUARD) return std::fabs(x - t) / std::fabs(t);
    return std::fabs(x - t);
}

double calculate_achieved_output_rate_two(double input_rate, long long l1, long long m1,
                                          long long l2, long long m2) {
    if (m1 <= 0 || m2 <= 0 || l1 <= 0 || l2 <= 0 || !std::isfinite(input_rate) ||
        input_rate <= 0.0) {
        return NOT_A_NUMBER;
    }
    const double r1 = static_cast<double>(l1) / static_cast<double>(m1);
    const double r2 = static_cast<double>(l2) / static_cast<double>(m2);
    if (!std::isfinite(r1) || !std::isfinite(r2)) return NOT_A_NUMBER;
    // The stage ratios are multiplied first and the input rate last, always in this order:
    // the report recomputes the rate and must print the very value that was judged.
    const double ratio = guarded_product(r1, r2);
    if (std::isnan(ratio)) return NOT_A_NUMBER;
    return guarded_product(input_rate, ratio);
}

bool assess_two_stage_candidate(long long l1, long long m1, long long l2, long long m2,
                                long long max_lm, const UserInputs* inputs, int search_mode,
                                TwoStageResult* best, bool* dual_match_found) {
    if (inputs == nullptr || best == nullptr) return false;
    if (l1 < 1 || m1 < 1 || l2 < 1 || m2 < 1) return false;
    if (l1 > max_lm || m1 > max_lm || l2 > max_lm || m2 > max_lm) return false;
    if (!inputs->allow_m1_gt_l1 && l1 < m1) return false;

    CandidateMeasures c{};
    const double rate = calculate_achieved_output_rate_two(inputs->input_rate, l1, m1, l2, m2);
    if (std::isfinite(rate)) {
        c.final_error = std::fabs(rate - inputs->output_rate);
        c.final_match = relative_error(rate, inputs->output_rate) < MATCH_TOLERANCE;
    } else {
        c.final_error = INFINITE_ERROR;
        c.final_match = false;
    }

    double intermediate_rate = NOT_A_NUMBER;
    if (std::isfinite(inputs->input_rate) && inputs->input_rate > 0.0) {
        intermediate_rate =
            guarded_product(inputs->input_rate, static_cast<double>(l1) / static_cast<double>(m1));
    }
    c.intermediate_error = INFINITE_ERROR;
    c.intermediate_match = false;
    if (inputs->has_intermediate_target && std::isfinite(intermediate_rate)) {
        c.intermediate_error = std::fabs(intermediate_rate - inputs->target_intermediate_rate);
        c.intermediate_match =
            relative_error(intermediate_rate, inputs->target_intermediate_rate) < MATCH_TOLERANCE;
    }
    c.sum = guarded_sum(l1, m1, l2, m2);

    if (!candidate_wins(c, *best, *inputs, search_mode)) return false;

    const double r1 = stage_ratio(l1, m1);
    const double r2 = stage_ratio(l2, m2);
    const double combined =
        std::isfinite(r1) && std::isfinite(r2) ? guarded_product(r1, r2) : NOT_A_NUMBER;
    *best = TwoStageResult{l1,
                           m1,
                           l2,
                           m2,
                           combined,
                           c.final_error,
                           c.final_match,
                           true,
                           c.sum,
                           intermediate_rate,
                           c.intermediate_error,
                           c.intermediate_match};

    if (dual_match_found != nullptr && search_mode == SEARCH_MODE_CUSTOM_LIMIT &&
        inputs->has_intermediate_target && inputs->priority == PRIORITIZE_BALANCED_DUAL &&
        c.final_match && c.intermediate_match) {
        *dual_match_found = true;
    }
    return true;
}

void assess_candidate_and_update(long long l1, long long m1, long long l2, long long m2,
                                 long long max_lm, const UserInputs* inputs, int search_mode,
                                 TwoStageResult* best, bool* dual_match_found) {
    (void)assess_two_stage_candidate(l1, m1, l2, m2, max_lm, inputs, search_mode, best,
                                     dual_match_found);
}

StatusCode perform_two_stage_search(const UserInputs* inputs, long long max_lm, int search_mode,
                                    TwoStageResult* best, int* convergent_count) {
    return perform_two_stage_search_counted(inputs, max_lm, search_mode, best, convergent_count,
                                            nullptr);
}

// ---------------------------------------------------------------------------
// Report
// ---------------------------------------------------------------------------

const char* priority_to_string(int priority) {
    switch (priority) {
    case PRIORITIZE_STRICT_INTERMEDIATE: return "Strict Intermediate";
    case PRIORITIZE_FINAL_RATE: return "Final Rate";
    case PRIORITIZE_BALANCED_DUAL: return "Balanced Dual";
    case PRIORITIZE_IGNORE_INTERMEDIATE: return "Best Overall (Ignoring Intermediate)";
    default: return "Unknown";
    }
}

namespace {

/// Relative form of a difference d from target t; NaN when d is NaN.
double relative_difference(double d, double t) {
    if (std::isnan(d)) return NOT_A_NUMBER;
    return std::fabs(t) > ZERO_GUARD ? std::fabs(d / t) : std::fabs(d);
}

/// Parts per million of a difference d from target t; infinite against a zero target.
double ppm_difference(double d, double t) {
    if (std::isnan(d)) return NOT_A_NUMBER;
    if (std::fabs(t) > ZERO_GUARD) return (d / t) * 1000000.0;
    if (std::fabs(d) > ZERO_GUARD) return d > 0.0 ? INFINITE_ERROR : -INFINITE_ERROR;
    return 0.0;
}

void print_difference(const char* label, double d, double relative) {
    std::fputs(label, stdout);
    if (std::isfinite(d)) {
        std::printf("%+.10f Hz, Relative: %.2e\n", d, relative);
    } else {
        std::fputs("Calculation Error\n", stdout);
    }
}

void print_rate(const char* label, double rate) {
    std::fputs(label, stdout);
    if (std::isfinite(rate)) {
        std::printf("%.10f Hz\n", rate);
    } else {
        std::fputs("Calculation Error\n", stdout);
    }
}

void print_not_found(const char* title, const UserInputs& inputs) {
    std::printf("%s Not found\n", title);
    std::fputs("\nPossible reasons:\n", stdout);
    if (inputs.max_lm >= 1 && inputs.search_mode == SEARCH_MODE_CUSTOM_LIMIT) {
        std::printf("  - Maximum L/M value (%lld) is too small.\n", inputs.max_lm);
    } else if (inputs.search_mode == SEARCH_MODE_MINIMAL_SUM) {
        std::printf("  - Internal L/M limit (%lld) might be too small.\n", MAX_LM_LIMIT);
    } else {
        std::fputs("  - Factorization or internal limits might be the issue.\n", stdout);
    }
    std::fputs("  - Required ratio is difficult to approximate.\n", stdout);
    if (inputs.has_intermediate_target) {
        std::printf("  - Could not meet intermediate rate target with priority '%s'.\n",
                    priority_to_string(inputs.priority));
    }
    if (!inputs.allow_m1_gt_l1) {
        std::fputs("  - Required L1>=M1 constraint is too restrictive for this ratio.\n", stdout);
    }
    std::fputs("Check constraints, priority, and consider if a larger maximum L/M is needed.\n",
               stdout);
}

long long overall_complexity(long long c1, long long c2) {
    if (c1 < 0 || c2 < 0) return -1;
    if (c1 > INT64_MAX_VALUE - c2) return INT64_MAX_VALUE;
    return c1 + c2;
}

}  // namespace

void print_two_resamplers_result(const char* title, const UserInputs* inputs,
                                 const TwoStageResult* result) {
    if (shutdown_requested()) return;
    if (title == nullptr || inputs == nullptr || result == nullptr) {
        std::fputs("Internal Error (print_two): NULL pointer provided.\n", stderr);
        return;
    }
    if (!result->found) {
        print_not_found(title, *inputs);
        flush_standard_output();
        return;
    }

    const double target = inputs->output_rate;
    const double target_intermediate = inputs->target_intermediate_rate;
    const double stored_relative = std::isfinite(result->final_error)
                                       ? relative_difference(result->final_error, target)
                                       : NOT_A_NUMBER;
    const bool significant = !result->final_match && std::isfinite(stored_relative) &&
                             stored_relative >= ARBITRARY_SUGGESTION_THRESHOLD;
    const bool large = result->l1 > LARGE_FACTOR_THRESHOLD || result->m1 > LARGE_FACTOR_THRESHOLD ||
                       result->l2 > LARGE_FACTOR_THRESHOLD || result->m2 > LARGE_FACTOR_THRESHOLD;
    const bool slight = !result->final_match && !significant;
    const bool intermediate_miss = inputs->has_intermediate_target && !result->intermediate_match;

    const double achieved = calculate_achieved_output_rate_two(inputs->input_rate, result->l1,
                                                               result->m1, result->l2, result->m2);
    const double difference = std::isfinite(achieved) ? achieved - target : NOT_A_NUMBER;
    const double relative = relative_difference(difference, target);
    const double intermediate = result->achieved_intermediate_rate;
    const double intermediate_difference =
        inputs->has_intermediate_target && std::isfinite(intermediate)
            ? intermediate - target_intermediate
            : NOT_A_NUMBER;
    const double intermediate_relative =
        relative_difference(intermediate_difference, target_intermediate);
    const long long c1 = max_long_long(result->l1, result->m1);
    const long long c2 = max_long_long(result->l2, result->m2);

    std::printf("%s ", title);
    if (result->final_match && large) {
        std::fputs("Match Found with Large L/M\n", stdout);
    } else if (result->final_match) {
        std::fputs("Match Found!\n", stdout);
    } else if (significant) {
        std::fputs("Caution! Significant Error\n", stdout);
    } else {
        std::fputs("Approximation Found\n", stdout);
    }

    std::printf("\nFirst Resampler: Complexity: %lld\n", c1);
    std::printf("  L1 = %lld (Interpolation)\n", result->l1);
    std::printf("  M1 = %lld (Decimation)\n", result->m1);
    std::printf("\nSecond Resampler: Complexity: %lld\n", c2);
    std::printf("  L2 = %lld (Interpolation)\n", result->l2);
    std::printf("  M2 = %lld (Decimation)\n", result->m2);
    std::printf("\nOverall Sum (L1+M1+L2+M2) = %lld\n", result->overall_sum);
    std::printf("Overall Complexity (Sum of Max) = %lld\n", overall_complexity(c1, c2));
    std::printf("Achieved Combined Ratio = (%lld / %lld) * (%lld / %lld) = %.10f\n", result->l1,
                result->m1, result->l2, result->m2, result->combined_ratio);

    print_rate("Achieved Intermediate Rate = ", intermediate);
    print_rate("Achieved Output Rate = ", achieved);
    print_difference("Overall Rate Difference: ", difference, relative);
    print_ppm_line("Overall PPM Error: ", ppm_difference(difference, target));
    if (inputs->has_intermediate_target) {
        print_difference("Intermediate Rate Difference: ", intermediate_difference,
                         intermediate_relative);
        print_ppm_line("Intermediate PPM Error: ",
                       ppm_difference(intermediate_difference, target_intermediate));
    }

    if (significant || large || slight || intermediate_miss) {
        std::fputs("\n", stdout);
        if (significant) {
            std::fputs("Caution!: The best approximation found differs significantly\n", stdout);
            std::printf("          from the target output rate (Final Relative Error: %.2e).\n",
                        relative);
            std::fputs(
                "          An arbitrary (non-rational) resampling method might be "
                "required\n",
                stdout);
            // The line stays open: whoever prints next ends it.
            std::fputs("          for higher accuracy if this error is unacceptable.", stdout);
        }
        if (large) {
            if (significant) std::fputs("\n", stdout);
            std::printf(
                "Note: One or more calculated factors (L1=%lld, M1=%lld, L2=%lld, "
                "M2=%lld) are large.\n",
                result->l1, result->m1, result->l2, result->m2);
            std::fputs(
                "      Implementing this rational ratio with standard polyphase filters "
                "may be\n",
                stdout);
            std::fputs("      computationally expensive or require long filters.\n", stdout);
            std::fputs("      Consider if an arbitrary resampling method might be a suitable\n",
                       stdout);
            std::fputs("      alternative if filter complexity is a primary concern.\n", stdout);
        } else if (slight) {
            std::printf(
                "Note: Achieved final rate differs slightly from target rate (Rel Diff: "
                "%.2e).\n",
                relative);
        }
        if (intermediate_miss) {
            if (significant || large || slight) std::fputs("\n", stdout);
            std::fputs("Note: Achieved intermediate rate differs from target rate", stdout);
            if (std::isfinite(intermediate_relative)) {
                std::printf(" (Rel Diff: %.2e).\n", intermediate_relative);
            } else {
                std::fputs(".\n", stdout);
            }
            if (inputs->priority == PRIORITIZE_STRICT_INTERMEDIATE) {
                std::fputs(
                    "      (Strict intermediate target was requested but could not be "
                    "met.)\n",
                    stdout);
            }
        }
    }
    flush_standard_output();
}

// ---------------------------------------------------------------------------
// Run
// ---------------------------------------------------------------------------

StatusCode prompt_and_run_two_resamplers(const UserInputs* inputs) {
    if (shutdown_requested()) return STATUS_FAILURE;
    if (inputs == nullptr) {
        print_stderr("Internal Error (prompt_two): NULL inputs pointer provided.");
        return STATUS_INVALID_INPUT_ERROR;
    }

    const char* const mode_name =
        inputs->search_mode == SEARCH_MODE_MINIMAL_SUM ? "Minimal Sum" : "Custom Limit";
    const long long max_lm = inputs->max_lm;
    std::printf("\n--- Two Rational Resampler Calculation (%s Mode) ---\n", mode_name);
    std::printf("Max L/M per stage: %lld\n", max_lm);
    if (inputs->has_intermediate_target) {
        std::printf("Target Intermediate Rate: %.2f Hz (Priority: %s)\n",
                    inputs->target_intermediate_rate, priority_to_string(inputs->priority));
    }
    std::printf("Constraint: M1 > L1 is %s\n", inputs->allow_m1_gt_l1 ? "Allowed" : "NOT Allowed");
    std::printf("Target: Input Rate = %.2f Hz, Output Rate = %.2f Hz\n", inputs->input_rate,
                inputs->output_rate);
    const double ratio =
        inputs->input_rate == 0.0 ? NOT_A_NUMBER : inputs->output_rate / inputs->input_rate;
    if (std::isfinite(ratio)) {
        std::printf("Target Ratio (output/input) = %.10f\n", ratio);
    } else {
        std::fputs("Target Ratio (output/input) = Invalid\n", stdout);
    }
    std::printf("Match Tolerance (relative error): Overall=%.1e, Intermediate=%.1e\n",
                MATCH_TOLERANCE, MATCH_TOLERANCE);
    std::printf("Arbitrary Suggestion Threshold (relative error): %.1e\n",
                ARBITRARY_SUGGESTION_THRESHOLD);
    const long long q =
        max_lm >= 1 && max_lm <= SQUARE_ROOT_BOUND ? max_lm * max_lm : INT64_MAX_VALUE;
    std::printf("CFE searching with max overall denominator Q <= %lld\n", q);
    std::fputs("\n", stdout);
    flush_standard_output();

    if (shutdown_requested()) return STATUS_FAILURE;
    std::fputs("Starting search calculation. Please wait...\n\n", stdout);
    flush_standard_output();

    TwoStageResult result = make_empty_two_stage_result();
    int convergent_count = -1;
    const StatusCode status =
        perform_two_stage_search(inputs, max_lm, inputs->search_mode, &result, &convergent_count);

    if (shutdown_requested()) {
        std::fputs("Search interrupted by user.\n", stdout);
        flush_standard_output();
        return STATUS_FAILURE;
    }
    if (status < STATUS_FAILURE) {
        std::printf("Search failed critically: %s\n", status_code_to_string(status));
        flush_standard_output();
        return status;
    }
    if (convergent_count >= 0) std::printf("%d CFE convergents processed...\n", convergent_count);
    if (result.found) {
        std::fputs("Checked factor pairs and possibly common factors (g/h)...\n", stdout);
    }
    std::fputs("Done searching!\n\n", stdout);
    flush_standard_output();

    char title[100];
    std::snprintf(title, sizeof title, "%s Search Results:", mode_name);
    print_two_resamplers_result(title, inputs, &result);
    return result.found ? STATUS_SUCCESS : STATUS_FAILURE;
}
