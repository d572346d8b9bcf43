// The dialog that fills a conversion request, question by question.
#include "interactive/dialog.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "interactive/line_checks.h"
#include "interactive/line_reader.h"
#include "interactive/messages.h"
#include "interactive/process_exit.h"
#include "interactive/prompts.h"
#include "interactive/shutdown.h"

namespace {

/// The two questions the dialog prints on standard output itself.
constexpr const char* SEARCH_MODE_QUESTION = "Select search mode (1 or 2) [Enter=1]: ";
constexpr const char* TARGET_QUESTION =
    "Enter target intermediate rate (Hz) (rate after L1/M1) [Press Enter to skip]: ";

/// Reads the answer to a question the dialog printed itself; STATUS_SUCCESS with a
/// line, STATUS_INVALID_INPUT_ERROR when the question must be asked again.
StatusCode read_inline_answer(const char* question, char* line, std::size_t size) {
    const StatusCode read = read_line_windows_raw(nullptr, line, size, question);
    if (shutdown_requested() || read == STATUS_FAILURE) return STATUS_FAILURE;
    if (read == STATUS_CALCULATION_ERROR) return STATUS_CALCULATION_ERROR;
    if (read != STATUS_SUCCESS) return STATUS_INVALID_INPUT_ERROR;
    return STATUS_SUCCESS;
}

/// The status a dialog step ends with after a value prompt, or STATUS_SUCCESS to go on.
StatusCode take_prompt_status(StatusCode status) {
    if (status != STATUS_SUCCESS) return status;
    return shutdown_requested() ? STATUS_FAILURE : STATUS_SUCCESS;
}

/// Asks a yes/no question of the dialog; STATUS_SUCCESS with the answer, or the status
/// the dialog ends with.
StatusCode ask_dialog_confirmation(const char* prompt, bool* answer) {
    const StatusCode status = get_confirmation_status(prompt, answer);
    if (shutdown_requested()) return STATUS_FAILURE;
    return status;
}

StatusCode ask_search_mode(UserInputs* inputs) {
    std::fputs("\n", stdout);
    std::fputs("Two-Resampler Search Mode:\n\n", stdout);
    std::fputs(" 1: Default Minimal Sum (Find match/approximation with smallest L1+M1+L2+M2 sum)\n",
               stdout);
    std::fputs(" 2: Custom Limit Search (Search using custom max L/M values you provide)\n",
               stdout);
    std::fputs("\n", stdout);

    char line[INPUT_LINE_SIZE];
    std::string refusal;
    for (;;) {
        if (shutdown_requested()) return STATUS_FAILURE;
        std::fputs(SEARCH_MODE_QUESTION, stdout);
        flush_standard_output();
        const StatusCode read = read_inline_answer(SEARCH_MODE_QUESTION, line, sizeof line);
        if (read == STATUS_INVALID_INPUT_ERROR) continue;
        if (read != STATUS_SUCCESS) return read;

        int mode = SEARCH_MODE_MINIMAL_SUM;
        bool is_default = false;
        if (check_search_mode_answer(line, &mode, &is_default, &refusal) != STATUS_SUCCESS) {
            write_refusal(refusal);
            continue;
        }
        inputs->search_mode = mode;
        if (is_default) {
            std::fputs(" -> Minimal Sum mode selected (default).\n", stdout);
        } else {
            std::printf(" -> %s mode selected.\n",
                        mode == SEARCH_MODE_MINIMAL_SUM ? "Minimal Sum" : "Custom Limit Search");
        }
        return STATUS_SUCCESS;
    }
}

StatusCode ask_stage_limit(UserInputs* inputs) {
    if (inputs->search_mode == SEARCH_MODE_MINIMAL_SUM) {
        inputs->max_lm = MAX_LM_LIMIT;
        std::printf("\nNote: Minimal Sum mode selected. Using internal max L/M limit: %lld.\n",
                    inputs->max_lm);
        std::fputs("      and explores solutions for the lowest L+M sum.\n", stdout);
        return STATUS_SUCCESS;
    }
    for (;;) {
        std::fputs("\n", stdout);
        long long value = 0;
        const StatusCode status = take_prompt_status(
            get_positive_long_long("Enter maximum L and M for EACH stage (e.g., 200): ", &value));
        if (status != STATUS_SUCCESS) return status;
        if (value > MAX_LM_LIMIT) {
            std::fprintf(stderr,
                         "\nMaximum L/M value (%lld) exceeds the hard limit of %lld.\n"
                         "Please use a value <= %lld.\n\n",
                         value, MAX_LM_LIMIT, MAX_LM_LIMIT);
            std::fflush(stderr);
            continue;
        }
        if (value > LARGE_FACTOR_THRESHOLD) {
            std::printf("\nWarning: Maximum L/M per stage = %lld is large.\n", value);
            std::fputs(
                "Resamplers using large L/M values are typically more complex and "
                "computationally expensive.\n\n",
                stdout);
            bool proceed = false;
            const StatusCode confirmed =
                ask_dialog_confirmation("Continue with this value? (y/n) [Enter=n]: ", &proceed);
            if (confirmed != STATUS_SUCCESS) return confirmed;
            if (!proceed) {
                std::fputs("Operation cancelled by user. Please enter a different value.\n",
                           stdout);
                continue;
            }
        }
        inputs->max_lm = value;
        return STATUS_SUCCESS;
    }
}

StatusCode ask_first_stage_constraint(UserInputs* inputs) {
    std::fputs("\n", stdout);
    std::fputs("Constraint: By default, the first stage ensures L1 >= M1.\n", stdout);
    std::fputs("            Allow the first stage to downsample (M1 > L1)?\n", stdout);
    std::fputs("            (Useful for intermediate processing at lower rates, but may seem\n",
               stdout);
    std::fputs("            less direct for pure sample rate conversion.)\n", stdout);
    std::fputs("\n", stdout);
    bool allow = false;
    const StatusCode status = ask_dialog_confirmation("Allow M1 > L1? (y/n) [Enter=n]: ", &allow);
    inputs->allow_m1_gt_l1 = allow;
    return status;
}

StatusCode ask_intermediate_target(UserInputs* inputs) {
    std::fputs("\n", stdout);
    std::fputs("Optional: Specify a target intermediate sample rate.\n", stdout);
    std::fputs("          If skipped (by pressing Enter), the search will not target\n", stdout);
    std::fputs("          a specific intermediate rate.\n", stdout);
    std::fputs("\n", stdout);

    char line[INPUT_LINE_SIZE];
    std::string refusal;
    for (;;) {
        if (shutdown_requested()) return STATUS_FAILURE;
        std::fputs(TARGET_QUESTION, stdout);
        flush_standard_output();
        const StatusCode read = read_inline_answer(TARGET_QUESTION, line, sizeof line);
        if (read == STATUS_INVALID_INPUT_ERROR) continue;
        if (read != STATUS_SUCCESS) return read;

        double target = 0.0;
        bool has_target = false;
        if (check_target_rate_answer(line, &target, &has_target, &refusal) != STATUS_SUCCESS) {
            write_refusal(refusal);
            continue;
        }
        inputs->has_intermediate_target = has_target;
        inputs->target_intermediate_rate = target;
        if (has_target) {
            std::printf(" -> Targeting intermediate rate: %.2f Hz\n", target);
        } else {
            inputs->priority = PRIORITIZE_BALANCED_DUAL;
            std::fputs(" -> Skipped intermediate rate target.\n", stdout);
        }
        return STATUS_SUCCESS;
    }
}

/// Warns about a target above both rates; STATUS_FAILURE when the user gives up.
StatusCode confirm_high_target(const UserInputs* inputs) {
    const double target = inputs->target_intermediate_rate;
    if (!(target > inputs->input_rate && target > inputs->output_rate)) return STATUS_SUCCESS;
    std::printf(
        "\nWarning: Target intermediate rate (%.2f Hz) is higher than both input (%.2f Hz)\n",
        target, inputs->input_rate);
    std::printf("         and output (%.2f Hz). This implies significant oversampling then\n",
                inputs->output_rate);
    std::fputs("         downsampling. While valid, this is less common.\n\n", stdout);
    flush_standard_output();
    bool proceed = false;
    const StatusCode status = ask_dialog_confirmation(
        "Proceed with this intermediate target? (y/n) [Enter=n]: ", &proceed);
    if (status != STATUS_SUCCESS) return status;
    if (!proceed) {
        std::fputs("Operation cancelled by user due to intermediate rate configuration.\n", stdout);
        return STATUS_FAILURE;
    }
    std::fputs(" -> Proceeding with specified intermediate rate.\n", stdout);
    return STATUS_SUCCESS;
}

StatusCode ask_priority(UserInputs* inputs) {
    std::fputs("\nIntermediate Rate Prioritization:\n\n", stdout);
    std::fputs(
        "How should the search prioritize finding this rate versus the final output rate?\n\n",
        stdout);
    std::fputs(" 1: Strictly Enforce Intermediate Rate:\n", stdout);
    std::printf(
        "    Only solutions matching the intermediate target (within %.1e relative error)\n"
        "    will be considered. The best of these is chosen based on the search mode\n"
        "    (Minimal Sum or best overall accuracy).\n",
        MATCH_TOLERANCE);
    std::fputs(" 2: Prioritize Final Output Rate:\n", stdout);
    std::printf(
        "    Solutions matching the final target (within %.1e relative error) are preferred.\n"
        "    Among those, the one closest to the intermediate target is chosen.\n"
        "    If no final match exists, the overall best approximation (by search mode) is "
        "chosen.\n",
        MATCH_TOLERANCE);
    std::fputs(" 3: Balanced - Best Dual Match (if possible):\n", stdout);
    std::fputs(
        "    Solutions matching *both* targets are preferred. Among those, the best by\n"
        "    search mode is chosen. If no dual match exists, falls back to\n"
        "    PRIORITIZE_FINAL_RATE logic.\n",
        stdout);
    std::fputs(" 4: Ignore Intermediate Rate for Selection:\n", stdout);
    std::fputs(
        "    The intermediate target is ignored during selection. The best solution\n"
        "    is chosen based *only* on the final rate accuracy and the primary search mode.\n"
        "    The achieved intermediate rate is still reported.\n",
        stdout);
    std::fputs("\n", stdout);

    static constexpr int PRIORITIES[] = {PRIORITIZE_STRICT_INTERMEDIATE, PRIORITIZE_FINAL_RATE,
                                         PRIORITIZE_BALANCED_DUAL, PRIORITIZE_IGNORE_INTERMEDIATE};
    int priority = PRIORITIZE_BALANCED_DUAL;
    const StatusCode status = take_prompt_status(
        get_specific_integer("Select prioritization mode (1-4): ", PRIORITIES, 4, &priority));
    if (status != STATUS_SUCCESS) return status;
    inputs->priority = priority;
    return STATUS_SUCCESS;
}

}  // namespace

StatusCode get_user_inputs(UserInputs* inputs) {
    if (inputs == nullptr) return STATUS_INVALID_INPUT_ERROR;
    *inputs = UserInputs{};
    inputs->allow_m1_gt_l1 = false;
    inputs->has_intermediate_target = false;
    inputs->target_intermediate_rate = 0.0;
    inputs->priority = PRIORITIZE_BALANCED_DUAL;
    inputs->max_lm = 0;

    StatusCode status = take_prompt_status(
        get_positive_double("Enter the input sample rate (Hz): ", &inputs->input_rate));
    if (status != STATUS_SUCCESS) return status;
    status = take_prompt_status(
        get_positive_double("Enter the output sample rate (Hz): ", &inputs->output_rate));
    if (status != STATUS_SUCCESS) return status;

    static constexpr int STAGE_CHOICES[] = {1, 2};
    status = take_prompt_status(
        get_specific_integer("Use one or two rational resamplers? (1 or 2): ", STAGE_CHOICES, 2,
                             &inputs->num_resamplers));
    if (status != STATUS_SUCCESS) return status;

    if (inputs->num_resamplers == 1) {
        inputs->search_mode = SEARCH_MODE_MINIMAL_SUM;
        inputs->allow_m1_gt_l1 = false;
        inputs->has_intermediate_target = false;
        inputs->target_intermediate_rate = 0.0;
        inputs->priority = PRIORITIZE_BALANCED_DUAL;
        inputs->max_lm = MAX_LM_LIMIT;
        return STATUS_SUCCESS;
    }

    if ((status = ask_search_mode(inputs)) != STATUS_SUCCESS) return status;
    if ((status = ask_stage_limit(inputs)) != STATUS_SUCCESS) return status;
    if ((status = ask_first_stage_constraint(inputs)) != STATUS_SUCCESS) return status;
    if ((status = ask_intermediate_target(inputs)) != STATUS_SUCCESS) return status;
    if (!inputs->has_intermediate_target) return STATUS_SUCCESS;
    if ((status = confirm_high_target(inputs)) != STATUS_SUCCESS) return status;
    return ask_priority(inputs);
}
