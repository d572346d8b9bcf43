// The interactive program: start-up checks, the banner, the conversion loop and the exit
// code.
#include "interactive/conversion_loop.h"

#include <clocale>
#include <cstdio>

#include "interactive/conversion_runs.h"
#include "interactive/dialog.h"
#include "interactive/messages.h"
#include "interactive/process_exit.h"
#include "interactive/prompts.h"
#include "interactive/shutdown.h"
#include "platform/console.h"

namespace {

constexpr const char* ANOTHER_CONVERSION_PROMPT =
    "Perform another sample rate conversion? (y/n) [Enter=n]: ";

/// Runs conversions until the user declines another one, a stop is requested or a step
/// fails; returns the status of the last step.
StatusCode run_conversion_loop() {
    StatusCode status = STATUS_SUCCESS;
    // The dialog clears the record at the start of every conversion.
    UserInputs inputs{};
    while (!shutdown_requested()) {
        status = get_user_inputs(&inputs);
        if (shutdown_requested()) return status == STATUS_SUCCESS ? STATUS_FAILURE : status;
        if (status != STATUS_SUCCESS) {
            if (!shutdown_requested()) {
                print_stderr("Failed to gather required inputs (%s).",
                             status_code_to_string(status));
            }
            return status;
        }

        status = inputs.num_resamplers == 1 ? handle_one_resampler(&inputs)
                                            : prompt_and_run_two_resamplers(&inputs);
        if (shutdown_requested()) return status == STATUS_SUCCESS ? STATUS_FAILURE : status;
        if (status < STATUS_FAILURE) {
            print_stderr("Calculation phase failed with error: %s", status_code_to_string(status));
            return status;
        }

        std::fputs("\n", stdout);
        flush_standard_output();
        const bool another = get_confirmation(ANOTHER_CONVERSION_PROMPT);
        if (shutdown_requested()) return status == STATUS_SUCCESS ? STATUS_FAILURE : status;
        // A console that cannot be read gives no answer at all: the results so far stand,
        // but the program must not report a normal end.
        if (console_failed_during_confirmation()) return STATUS_CALCULATION_ERROR;
        if (!another) return status;
        std::fputs("\n", stdout);
    }
    return status;
}

}  // namespace

int run_interactive() {
    StatusCode status = STATUS_SUCCESS;

    const int stdin_descriptor = console_stdin_descriptor();
    if (stdin_descriptor < 0) {
        std::fputs("Error: Could not get file descriptor for stdin.\n", stderr);
        return 1;
    }
    if (!console_is_terminal(stdin_descriptor)) {
        std::fputs("Error: This program requires interactive input from a terminal.\n", stderr);
        std::fputs("       Input redirection or piping is not supported.\n", stderr);
        return 1;
    }
    // Only the numeric category: a full stop is the decimal separator whatever the
    // user's regional settings.
    if (std::setlocale(LC_NUMERIC, "C") == nullptr) {
        std::fputs(
            "\nWarning: Could not set C locale for numeric input/output. Parsing might fail.\n\n",
            stderr);
    }
    if (!setup_signal_handlers()) {
        std::fputs("Error: Failed to initialize signal handling. Exiting.\n", stderr);
        close_shutdown_event();
        return 1;
    }

    std::fputs("\n=== Quillmere ===\n", stdout);
    std::fputs("Calculates Interpolation (L) and Decimation (M) values.\n", stdout);
    std::fputs("Uses Continued Fraction Expansion (CFE) and Factorization.\n", stdout);
    std::fputs("=====================================================\n\n", stdout);
    // Standard output that cannot be written shows here, before any question is asked.
    flush_standard_output();

    status = run_conversion_loop();

    // One reading of the flag chooses both the notice and the closing message.
    const bool stopped = shutdown_requested();
    if (stopped) {
        print_stderr("\nShutdown requested by user.");
        if (status == STATUS_SUCCESS) status = STATUS_FAILURE;
    }
    const int exit_code = status == STATUS_SUCCESS ? 0 : 1;
    if (status == STATUS_SUCCESS) {
        std::fputs("\nExiting program normally.\n", stdout);
    } else if (status == STATUS_FAILURE && stopped) {
        std::fputs("\n", stdout);
    } else {
        std::fputs("\nExiting program due to error or user request.\n", stdout);
    }
    // Results that never reached standard output (a full disk, a closed pipe) are no
    // success, whatever the last status says: the program ends there with its message.
    flush_standard_output();

    close_shutdown_event();
    return exit_code;
}
