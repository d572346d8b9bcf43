// The prompts: each asks its question until the typed line passes its check.
#include "interactive/prompts.h"

#include <cstdio>
#include <string>

#include "interactive/line_checks.h"
#include "interactive/line_reader.h"
#include "interactive/shutdown.h"

namespace quillmere::interactive {

void write_refusal(const std::string& refusal) {
    std::fputs(refusal.c_str(), stderr);
    std::fflush(stderr);
}

namespace {

/// The attempt loop shared by the prompts: reads lines until `check` accepts one (it
/// returns Status::ok) or the reading ends the prompt.
template <typename Check>
Status run_prompt(const char* prompt, Check check) {
    char line[INPUT_LINE_SIZE];
    std::string refusal;
    for (;;) {
        if (shutdown_requested()) return Status::stopped;
        const Status read = read_console_line(prompt, line);
        if (shutdown_requested() || read == Status::stopped) return Status::stopped;
        // Asking again would only fail again: a console that always fails must end here.
        if (read == Status::calculation_error) return Status::calculation_error;
        if (read != Status::ok) continue;  // over-long line, already reported
        if (check(line, refusal) == Status::ok) return Status::ok;
        write_refusal(refusal);
    }
}

}  // namespace

Status get_positive_double(const char* prompt, double& out) {
    return run_prompt(prompt, [&out](const char* line, std::string& refusal) {
        return check_positive_double(line, out, refusal);
    });
}

Status get_specific_integer(const char* prompt, std::span<const int> allowed, int& out) {
    // No line could ever pass: refused before anything is asked.
    if (allowed.empty()) return Status::invalid_request;
    return run_prompt(prompt, [allowed, &out](const char* line, std::string& refusal) {
        return check_specific_integer(line, allowed, out, refusal);
    });
}

Status get_positive_long_long(const char* prompt, long long& out) {
    return run_prompt(prompt, [&out](const char* line, std::string& refusal) {
        return check_positive_long_long(line, out, refusal);
    });
}

Status get_confirmation(const char* prompt, bool& answer) {
    answer = false;
    return run_prompt(prompt, [&answer](const char* line, std::string& refusal) {
        const ConfirmationAnswer parsed = check_confirmation(line, refusal);
        if (parsed == ConfirmationAnswer::refused) return Status::invalid_request;
        answer = parsed == ConfirmationAnswer::yes;
        return Status::ok;
    });
}

}  // namespace quillmere::interactive
