// The dialog that fills a conversion request, question by question.
#include "interactive/dialog.h"

#include <cstdio>
#include <optional>
#include <string>

#include "interactive/line_checks.h"
#include "interactive/line_reader.h"
#include "interactive/prompts.h"
#include "interactive/shutdown.h"
#include "interactive/standard_output.h"

namespace quillmere::interactive {

namespace {

/// The two questions the dialog prints on standard output itself.
constexpr const char* SEARCH_MODE_QUESTION = "Select search mode (1 or 2) [Enter=1]: ";
constexpr const char* TARGET_QUESTION =
    "Enter target intermediate rate (Hz) (rate after L1/M1) [Press Enter to skip]: ";

/// Reads the answer to a question the dialog printed itself: Status::ok with a line,
/// Status::invalid_request when the question must be asked again, else the status the
/// dialog ends with.
Status read_inline_answer(const char* question, std::span<char> line) {
    const Status read = read_console_line(nullptr, line, question);
    if (shutdown_requested() || read == Status::stopped) return Status::stopped;
    if (read == Status::calculation_error) return Status::calculation_error;
    if (read != Status::ok) return Status::invalid_request;
    return Status::ok;
}

/// The status a dialog step ends with after a prompt, or Status::ok to go on.
Status take_prompt_status(Status status) {
    if (status != Status::ok) return status;
    return shutdown_requested() ? Status::stopped : Status::ok;
}

Status ask_search_mode(TwoStageRequest& request) {
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
        if (shutdown_requested()) return Status::stopped;
        std::fputs(SEARCH_MODE_QUESTION, stdout);
        flush_standard_output();
        const Status read = read_inline_answer(SEARCH_MODE_QUESTION, line);
        if (read == Status::invalid_request) continue;
        if (read != Status::ok) return read;

        SearchMode mode = SearchMode::minimal_sum;
        bool is_default = false;
        if (check_search_mode_answer(line, mode, is_default, refusal) != Status::ok) {
            write_refusal(refusal);
            continue;
        }
        request.mode = mode;
        if (is_default) {
            std::fputs(" -> Minimal Sum mode selected (default).\n", stdout);
        } else {
            std::printf(" -> %s mode selected.\n",
                        mode == SearchMode::minimal_sum ? "Minimal Sum" : "Custom Limit Search");
        }
        return Status::ok;
    }
}

Status ask_stage_limit(TwoStageRequest& request) {
    const long long hard_limit = max_factor_limit;
    if (request.mode == SearchMode::minimal_sum) {
        request.max_factor = max_factor_limit;
        std::printf("\nNote: Minimal Sum mode selected. Using internal max L/M limit: %lld.\n",
                    hard_limit);
        std::fputs("      and explores solutions for the lowest L+M sum.\n", stdout);
        return Status::ok;
    }
    for (;;) {
        std::fputs("\n", stdout);
        long long value = 0;
        const Status status = take_prompt_status(
            get_positive_long_long("Enter maximum L and M for EACH stage (e.g., 200): ", value));
        if (status != Status::ok) return status;
        if (value > hard_limit) {
            std::fprintf(stderr,
                         "\nMaximum L/M value (%lld) exceeds the hard limit of %lld.\n"
                         "Please use a value <= %lld.\n\n",
                         value, hard_limit, hard_limit);
            std::fflush(stderr);
            continue;
        }
        if (value > large_factor_threshold) {
            std::printf("\nWarning: Maximum L/M per stage = %lld is large.\n", value);
            std::fputs(
                "Resamplers using large L/M values are typically more complex and "
                "computationally expensive.\n\n",
                stdout);
            bool proceed = false;
            const Status confirmed =
                get_confirmation("Continue with this value? (y/n) [Enter=n]: ", proceed);
            if (shutdown_requested()) return Status::stopped;
            if (confirmed != Status::ok) return confirmed;
            if (!proceed) {
                std::fputs("Operation cancelled by user. Please enter a different value.\n",
                           stdout);
                continue;
            }
        }
        request.max_factor = value;
        return Status::ok;
    }
}

Status ask_first_stage_constraint(TwoStageRequest& request) {
    std::fputs("\n", stdout);
    std::fputs("Constraint: By default, the first stage ensures L1 >= M1.\n", stdout);
    std::fputs("            Allow the first stage to downsample (M1 > L1)?\n", stdout);
    std::fputs("            (Useful for intermediate processing at lower rates, but may seem\n",
               stdout);
    std::fputs("            less direct for pure sample rate conversion.)\n", stdout);
    std::fputs("\n", stdout);
    bool allow = false;
    const Status status = get_confirmation("Allow M1 > L1? (y/n) [Enter=n]: ", allow);
    if (shutdown_requested()) return Status::stopped;
    request.allow_first_stage_decimation = allow;
    return status;
}

Status ask_intermediate_target(TwoStageRequest& request) {
    std::fputs("\n", stdout);
    std::fputs("Optional: Specify a target intermediate sample rate.\n", stdout);
    std::fputs("          If skipped (by pressing Enter), the search will not target\n", stdout);
    std::fputs("          a specific intermediate rate.\n", stdout);
    std::fputs("\n", stdout);

    char line[INPUT_LINE_SIZE];
    std::string refusal;
    for (;;) {
        if (shutdown_requested()) return Status::stopped;
        std::fputs(TARGET_QUESTION, stdout);
        flush_standard_output();
        const Status read = read_inline_answer(TARGET_QUESTION, line);
        if (read == Status::invalid_request) continue;
        if (read != Status::ok) return read;

        std::optional<double> target;
        if (check_target_rate_answer(line, target, refusal) != Status::ok) {
            write_refusal(refusal);
            continue;
        }
        if (target) {
            // The priority is asked for last; until then the target counts as balanced.
            request.intermediate_target = IntermediateTarget{*target, Priority::balanced};
            std::printf(" -> Targeting intermediate rate: %.2f Hz\n", *target);
        } else {
            request.intermediate_target.reset();
            std::fputs(" -> Skipped intermediate rate target.\n", stdout);
        }
        return Status::ok;
    }
}

/// Warns about a target above both rates; Status::stopped when the user gives up.
Status confirm_high_target(const TwoStageRequest& request) {
    const double target = request.intermediate_target->rate_hz;
    if (!(target > request.input_rate_hz && target > request.output_rate_hz)) return Status::ok;
    std::printf(
        "\nWarning: Target intermediate rate (%.2f Hz) is higher than both input (%.2f Hz)\n",
        target, request.input_rate_hz);
    std::printf("         and output (%.2f Hz). This implies significant oversampling then\n",
                request.output_rate_hz);
    std::fputs("         downsampling. While valid, this is less common.\n\n", stdout);
    flush_standard_output();
    bool proceed = false;
    const Status status =
        get_confirmation("Proceed with this intermediate target? (y/n) [Enter=n]: ", proceed);
    if (shutdown_requested()) return Status::stopped;
    if (status != Status::ok) return status;
    if (!proceed) {
        std::fputs("Operation cancelled by user due to intermediate rate configuration.\n", stdout);
        return Status::stopped;
    }
    std::fputs(" -> Proceeding with specified intermediate rate.\n", stdout);
    return Status::ok;
}

/// The priority that an answer to the priority menu names, by the menu's own numbers.
Priority priority_of_choice(int choice) {
    switch (choice) {
    case 1: return Priority::strict;
    case 2: return Priority::final;
    case 4: return Priority::ignore;
    default: return Priority::balanced;
    }
}

Status ask_priority(TwoStageRequest& request) {
    std::fputs("\nIntermediate Rate Prioritization:\n\n", stdout);
    std::fputs(
        "How should the search prioritize finding this rate versus the final output rate?\n\n",
        stdout);
    std::fputs(" 1: Strictly Enforce Intermediate Rate:\n", stdout);
    std::printf(
        "    Only solutions matching the intermediate target (within %.1e relative error)\n"
        "    will be considered. The best of these is chosen based on the search mode\n"
        "    (Minimal Sum or best overall accuracy).\n",
        match_tolerance);
    std::fputs(" 2: Prioritize Final Output Rate:\n", stdout);
    std::printf(
        "    Solutions matching the final target (within %.1e relative error) are preferred.\n"
        "    Among those, the one closest to the intermediate target is chosen.\n"
        "    If no final match exists, the overall best approximation (by search mode) is "
        "chosen.\n",
        match_tolerance);
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

    static constexpr int CHOICES[] = {1, 2, 3, 4};
    int choice = 3;
    const Status status = take_prompt_status(
        get_specific_integer("Select prioritization mode (1-4): ", CHOICES, choice));
    if (status != Status::ok) return status;
    request.intermediate_target->priority = priority_of_choice(choice);
    return Status::ok;
}

}  // namespace

Status get_user_inputs(ConversionRequest& request) {
    request = ConversionRequest{};
    TwoStageRequest& two = request.two_stage;

    Status status = take_prompt_status(
        get_positive_double("Enter the input sample rate (Hz): ", two.input_rate_hz));
    if (status != Status::ok) return status;
    status = take_prompt_status(
        get_positive_double("Enter the output sample rate (Hz): ", two.output_rate_hz));
    if (status != Status::ok) return status;

    static constexpr int STAGE_CHOICES[] = {1, 2};
    status = take_prompt_status(get_specific_integer(
        "Use one or two rational resamplers? (1 or 2): ", STAGE_CHOICES, request.stages));
    if (status != Status::ok) return status;
    if (request.stages == 1) return Status::ok;

    if ((status = ask_search_mode(two)) != Status::ok) return status;
    if ((status = ask_stage_limit(two)) != Status::ok) return status;
    if ((status = ask_first_stage_constraint(two)) != Status::ok) return status;
    if ((status = ask_intermediate_target(two)) != Status::ok) return status;
    if (!two.intermediate_target) return Status::ok;
    if ((status = confirm_high_target(two)) != Status::ok) return status;
    return ask_priority(two);
}

}  // namespace quillmere::interactive
