// The prompts: each asks its question until the typed line passes its check.
#include "interactive/prompts.h"

#include <cstdio>
#include <string>

#include "interactive/line_checks.h"
#include "interactive/line_reader.h"
#include "interactive/shutdown.h"

void write_refusal(const std::string& refusal) {
    std::fputs(refusal.c_str(), stderr);
    std::fflush(stderr);
}

namespace {

/// The attempt loop shared by the value prompts: reads lines until `check` accepts one.
template <typename Check>
StatusCode run_value_prompt(const char* prompt, Check check) {
    char line[INPUT_LINE_SIZE];
    std::string refusal;
    for (;;) {
        if (shutdown_requested()) return STATUS_FAILURE;
        const StatusCode read = read_line_windows_raw(prompt, line, sizeof line);
        if (shutdown_requested() || read == STATUS_FAILURE) return STATUS_FAILURE;
        if (read == STATUS_CALCULATION_ERROR) return STATUS_CALCULATION_ERROR;
        if (read != STATUS_SUCCESS) continue;  // over-long line, already reported
        if (check(line, &refusal) == STATUS_SUCCESS) return STATUS_SUCCESS;
        write_refusal(refusal);
    }
}

bool g_confirmation_console_failed = false;

}  // namespace

StatusCode get_positive_double(const char* prompt, double* out) {
    if (out == nullptr) return STATUS_INVALID_INPUT_ERROR;
    return run_value_prompt(prompt, [out](const char* line, std::string* refusal) {
        return check_positive_double(line, out, refusal);
    });
}

StatusCode get_specific_integer(const char* prompt, const int* allowed, int count, int* out) {
    if (out == nullptr || allowed == nullptr || count <= 0) return STATUS_INVALID_INPUT_ERROR;
    return run_value_prompt(prompt, [allowed, count, out](const char* line, std::string* refusal) {
        return check_specific_integer(line, allowed, count, out, refusal);
    });
}

StatusCode get_positive_long_long(const char* prompt, long long* out) {
    if (out == nullptr) return STATUS_INVALID_INPUT_ERROR;
    return run_value_prompt(prompt, [out](const char* line, std::string* refusal) {
        return check_positive_long_long(line, out, refusal);
    });
}

StatusCode get_confirmation_status(const char* prompt, bool* answer) {
    if (answer == nullptr) return STATUS_INVALID_INPUT_ERROR;
    *answer = false;
    char line[INPUT_LINE_SIZE];
    std::string refusal;
    for (;;) {
        if (shutdown_requested()) return STATUS_FAILURE;
        const StatusCode read = read_line_windows_raw(prompt, line, sizeof line);
        if (shutdown_requested() || read == STATUS_FAILURE) return STATUS_FAILURE;
        // Asking again would only fail again: a console that always fails must end here.
        if (read == STATUS_CALCULATION_ERROR) return STATUS_CALCULATION_ERROR;
        if (read != STATUS_SUCCESS) continue;  // over-long line, already reported
        const ConfirmationAnswer parsed = check_confirmation(line, &refusal);
        if (parsed != CONFIRMATION_REFUSED) {
            *answer = parsed == CONFIRMATION_YES;
            return STATUS_SUCCESS;
        }
        write_refusal(refusal);
    }
}

bool get_confirmation(const char* prompt) {
    bool answer = false;
    g_confirmation_console_failed =
        get_confirmation_status(prompt, &answer) == STATUS_CALCULATION_ERROR;
    return answer;
}

bool console_failed_during_confirmation() {
    return g_confirmation_console_failed;
}
