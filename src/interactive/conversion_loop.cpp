// The interactive program: start-up checks, the banner, the conversion loop and the exit
// code. Here, at the dialog's edge, the status of the last step becomes the closing
// message and the exit code (report/dialog_status.h).
#include "interactive/conversion_loop.h"

#include <clocale>
#include <cstdio>

#include "interactive/conversion_request.h"
#include "interactive/conversion_runs.h"
#include "interactive/dialog.h"
#include "interactive/messages.h"
#include "interactive/prompts.h"
#include "interactive/shutdown.h"
#include "interactive/standard_output.h"
#include "platform/console.h"
#include "report/dialog_status.h"

namespace quillmere::interactive {

namespace {

constexpr const char* ANOTHER_CONVERSION_PROMPT =
    "Perform another sample rate conversion? (y/n) [Enter=n]: ";

/// The status a step ends the loop with once a stop was requested: a success becomes
/// the ordinary end of a stopped program.
Status stopped_after(Status status) {
    return status == Status::ok ? Status::stopped : status;
}

/// Runs conversions until the user declines another one, a stop is requested or a step
/// fails; returns the status of the last step.
Status run_conversion_loop() {
    Status status = Status::ok;
    ConversionRequest request;
    while (!shutdown_requested()) {
        status = get_user_inputs(request);
        if (shutdown_requested()) return stopped_after(status);
        if (status != Status::ok) {
            print_stderr("Failed to gather required inputs (%s).",
                         report::dialog_status(status).name);
            return status;
        }

        status = request.stages == 1 ? run_single_stage(single_stage_request(request))
                                     : run_two_stage(request.two_stage);
        if (shutdown_requested()) return stopped_after(status);
        if (report::dialog_status(status).critical) {
            print_stderr("Calculation phase failed with error: %s",
                         report::dialog_status(status).name);
            return status;
        }

        std::fputs("\n", stdout);
        flush_standard_output();
        bool another = false;
        const Status asked = get_confirmation(ANOTHER_CONVERSION_PROMPT, another);
        if (shutdown_requested()) return stopped_after(status);
        // A console that cannot be read gives no answer at all: the results so far stand,
        // but the program must not report a normal end.
        if (asked == Status::calculation_error) return Status::calculation_error;
        if (!another) return status;
        std::fputs("\n", stdout);
    }
    return status;
}

}  // namespace

int run_interactive() {
    const int stdin_descriptor = platform::console_stdin_descriptor();
    if (stdin_descriptor < 0) {
        std::fputs("Error: Could not get file descriptor for stdin.\n", stderr);
        return 1;
    }
    if (!platform::console_is_terminal(stdin_descriptor)) {
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

    Status status = run_conversion_loop();

    // One reading of the flag chooses both the notice and the closing message.
    const bool stopped = shutdown_requested();
    if (stopped) {
        print_stderr("\nShutdown requested by user.");
        status = stopped_after(status);
    }
    const report::DialogStatus ending = report::dialog_status(status);
    if (status == Status::ok) {
        std::fputs("\nExiting program normally.\n", stdout);
    } else if (!ending.critical && stopped) {
        std::fputs("\n", stdout);
    } else {
        std::fputs("\nExiting program due to error or user request.\n", stdout);
    }
    // Results that never reached standard output (a full disk, a closed pipe) are no
    // success, whatever the last status says: the program ends there with its message.
    flush_standard_output();

    close_shutdown_event();
    return ending.exit_code;
}

}  // namespace quillmere::interactive
