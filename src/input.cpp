// Console input: the raw line reader, the checks and prompts built on it, and the
// dialog that fills a conversion request.
#include "input.h"

#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "platform/console.h"
#include "process_exit.h"
#include "utils.h"

namespace {

// ---------------------------------------------------------------------------
// Raw line reader
// ---------------------------------------------------------------------------

/// Puts the saved console input mode back once, however the reader leaves.
class RawModeGuard {
public:
    explicit RawModeGuard(const ConsoleMode* initial) : initial_(initial) {}
    ~RawModeGuard() { restore(nullptr); }
    RawModeGuard(const RawModeGuard&) = delete;
    RawModeGuard& operator=(const RawModeGuard&) = delete;

    /// Restores the mode on the first call only; false with the error when that fails.
    bool restore(unsigned long* error) {
        if (done_) return true;
        done_ = true;
        unsigned long code = 0;
        bool ok = console_restore_input_mode(initial_, &code);
        if (error != nullptr) *error = code;
        return ok;
    }

private:
    const ConsoleMode* initial_;
    bool done_ = false;
};

void write_console(std::string_view text) {
    console_write(text.data(), text.size());
}

bool shutdown_requested() {
    return g_shutdown_requested.load() != 0;
}

/// The part of the reader that runs in raw mode; the caller restores the mode.
StatusCode collect_line(const char* prompt, char* buffer, std::size_t buffer_size) {
    std::size_t length = 0;
    buffer[0] = '\0';
    // Whatever the program printed before this question must be visible above it.
    flush_standard_output();
    if (prompt != nullptr) console_write(prompt, std::strlen(prompt));

    ShutdownEvent* const event = g_hShutdownEvent.load();
    KeyEvent batch[CONSOLE_KEY_BATCH];
    // The limit is tested only between batches: a batch is handled to its end, so a
    // paste can fill the last free byte and still be finished by its own Enter.
    while (length < buffer_size - 1) {
        if (shutdown_requested()) return STATUS_FAILURE;
        unsigned long error = 0;
        const unsigned long waited = console_wait_for_input(event, &error);
        if (shutdown_requested()) return STATUS_FAILURE;
        if (waited == CONSOLE_WAIT_SHUTDOWN) return STATUS_FAILURE;
        if (waited == CONSOLE_WAIT_RESUMED) {
            // Back from a stop (Ctrl+Z, then fg): the shell has written to the screen in
            // the meantime, so the prompt and what was typed so far are shown again on a
            // line of their own; what the user sees is what will be taken.
            write_console("\r\n");
            if (prompt != nullptr) console_write(prompt, std::strlen(prompt));
            console_write(buffer, length);
            continue;
        }
        if (waited != CONSOLE_WAIT_INPUT) {
            print_stderr(
                "WaitForMultipleObjects failed or returned unexpected value (%lu, Error %lu).",
                waited, error);
            return STATUS_CALCULATION_ERROR;
        }

        std::size_t count = 0;
        if (!console_read_keys(batch, CONSOLE_KEY_BATCH, &count, &error)) {
            print_stderr("ReadConsoleInput failed (Error %lu).", error);
            return STATUS_CALCULATION_ERROR;
        }
        if (shutdown_requested()) return STATUS_FAILURE;
        if (count > CONSOLE_KEY_BATCH) count = CONSOLE_KEY_BATCH;

        for (std::size_t i = 0; i < count; ++i) {
            const KeyEvent& key = batch[i];
            if (key.kind == KEY_ENTER) {
                write_console("\r\n");
                buffer[length] = '\0';
                return STATUS_SUCCESS;  // the rest of the batch is dropped
            }
            if (key.kind == KEY_BACKSPACE) {
                if (length > 0) {
                    buffer[--length] = '\0';
                    write_console("\b \b");
                }
                continue;
            }
            const unsigned char byte = static_cast<unsigned char>(key.character);
            if (byte < 0x20 || byte > 0x7E) continue;  // no printable character: ignored
            if (length < buffer_size - 1) {
                buffer[length++] = key.character;
                buffer[length] = '\0';
                console_write(&key.character, 1);
            } else {
                console_beep();
            }
        }
    }

    write_console("\r\n");
    std::fprintf(stderr, "\nInput line too long (max %zu characters). Input discarded.\n\n",
                 buffer_size - 2);
    std::fflush(stderr);
    return STATUS_INVALID_INPUT_ERROR;
}

// ---------------------------------------------------------------------------
// Line checks
// ---------------------------------------------------------------------------

std::string format_text(const char* format, ...)
#if defined(__GNUC__) || defined(__clang__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

std::string format_text(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int needed = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text;
    if (needed > 0) {
        text.resize(static_cast<std::size_t>(needed) + 1);
        std::vsnprintf(text.data(), text.size(), format, args);
        text.resize(static_cast<std::size_t>(needed));
    }
    va_end(args);
    return text;
}

bool is_blank(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

const char* skip_blanks(const char* text) {
    while (*text != '\0' && is_blank(*text)) ++text;
    return text;
}

/// Refuses the line with `message`.
StatusCode refuse(std::string* refusal, std::string message) {
    *refusal = std::move(message);
    return STATUS_INVALID_INPUT_ERROR;
}

/// Refusal for a check called without its arguments: nothing to say, nothing stored.
StatusCode refuse_missing_arguments(std::string* refusal) {
    if (refusal != nullptr) refusal->clear();
    return STATUS_INVALID_INPUT_ERROR;
}

constexpr const char* NO_INPUT_TEXT = "\nNo input provided.\n\n";

/// A number converted from the first non-blank character of a line.
template <typename Number>
struct NumberParse {
    Number value;
    int error;        ///< errno right after the conversion
    bool converted;   ///< at least one character was taken
    const char* end;  ///< first character after the number
};

NumberParse<intmax_t> parse_integer(const char* start) {
    char* end = nullptr;
    errno = 0;
    const intmax_t value = std::strtoimax(start, &end, 10);
    const int error = errno;
    return NumberParse<intmax_t>{value, error, end != start, end};
}

NumberParse<double> parse_double(const char* start) {
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(start, &end);
    const int error = errno;
    return NumberParse<double>{value, error, end != start, end};
}

/// The refusals of the tests every numeric check starts with; each question words
/// them its own way.
struct ConversionTexts {
    const char* out_of_range;       ///< errno is ERANGE; null when the caller tells it apart
    const char* failed;             ///< another errno with a zero result, before the reason
    bool failed_shows_errno;        ///< the reason is followed by " (errno N)"
    const char* nothing_converted;  ///< no character was converted
    const char* trailing;           ///< something follows the number, before the quote
};

constexpr ConversionTexts RATE_TEXTS = {
    "\nInput value is out of range for a double.\n\n", "\nInput conversion failed: ", true,
    "\nNo valid number found in input.\n\n", "\nTrailing characters found after number: '"};
constexpr ConversionTexts INTEGER_TEXTS = {
    "\nInput value is out of range for an integer.\n\n", "\nInput conversion failed: ", true,
    "\nNo valid integer found in input.\n\n", "\nTrailing characters found after integer: '"};
constexpr ConversionTexts LONG_LONG_TEXTS = {
    nullptr, INTEGER_TEXTS.failed, true, INTEGER_TEXTS.nothing_converted, INTEGER_TEXTS.trailing};
constexpr ConversionTexts SEARCH_MODE_TEXTS = {
    "\nInput out of range.\n\n", "\nConversion failed: ", false, "\nNo integer found.\n\n",
    "\nTrailing characters: '"};
constexpr ConversionTexts TARGET_TEXTS = {"\nInput out of range for double.\n\n",
                                          "\nInput conversion failed: ", false,
                                          "\nNo number found in input.\n\n", RATE_TEXTS.trailing};

/// Applies the conversion tests in their order; true when one of them refused the line.
template <typename Number>
bool refuse_conversion(const NumberParse<Number>& parse, const ConversionTexts& texts,
                       std::string* refusal) {
    if (parse.error == ERANGE && texts.out_of_range != nullptr) {
        *refusal = texts.out_of_range;
        return true;
    }
    if (parse.error != 0 && parse.error != ERANGE && parse.value == 0) {
        *refusal = texts.failed;
        *refusal += std::strerror(parse.error);
        if (texts.failed_shows_errno) *refusal += format_text(" (errno %d)", parse.error);
        *refusal += "\n\n";
        return true;
    }
    if (!parse.converted) {
        *refusal = texts.nothing_converted;
        return true;
    }
    const char* rest = skip_blanks(parse.end);
    if (*rest != '\0') {
        *refusal = texts.trailing;
        *refusal += rest;
        *refusal += "'\n\n";
        return true;
    }
    return false;
}

// ---------------------------------------------------------------------------
// Prompts
// ---------------------------------------------------------------------------

void write_refusal(const std::string& refusal) {
    std::fputs(refusal.c_str(), stderr);
    std::fflush(stderr);
}

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

// ---------------------------------------------------------------------------
// Dialog
// ---------------------------------------------------------------------------

constexpr double TARGET_RATE_MIN = 1.0;
constexpr double TARGET_RATE_MAX = 1e13;
constexpr double RATE_MIN = 1.0;
constexpr double RATE_MAX = 1e13;
/// Both rate bounds as printed: the upper one in THz.
constexpr double RATE_MAX_THZ = 10.0;

/// Reads the answer to a question the dialog printed itself; STATUS_SUCCESS with a
/// line, STATUS_INVALID_INPUT_ERROR when the question must be asked again.
StatusCode read_inline_answer(char* line, std::size_t size) {
    const StatusCode read = read_line_windows_raw(nullptr, line, size);
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
        std::fputs("Select search mode (1 or 2) [Enter=1]: ", stdout);
        flush_standard_output();
        const StatusCode read = read_inline_answer(line, sizeof line);
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
        std::fputs("Enter target intermediate rate (Hz) (rate after L1/M1) [Press Enter to skip]: ",
                   stdout);
        flush_standard_output();
        const StatusCode read = read_inline_answer(line, sizeof line);
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

// ---------------------------------------------------------------------------
// Raw line reader
// ---------------------------------------------------------------------------

StatusCode read_line_windows_raw(const char* prompt, char* buffer, std::size_t buffer_size) {
    // A buffer without room for one character and its terminator could never end a line.
    if (buffer == nullptr || buffer_size < 2 || !console_open_handles()) {
        print_stderr("Failed to get standard handles.");
        return STATUS_CALCULATION_ERROR;
    }
    if (g_hShutdownEvent.load() == nullptr) {
        print_stderr("Internal Error: Shutdown event handle is NULL.");
        return STATUS_CALCULATION_ERROR;
    }
    ConsoleMode initial;
    unsigned long error = 0;
    if (!console_get_input_mode(&initial, &error)) {
        print_stderr("Failed to get console mode (Error %lu).", error);
        return STATUS_CALCULATION_ERROR;
    }
    if (!console_set_raw_input_mode(&initial, &error)) {
        print_stderr("Failed to set raw console mode (Error %lu).", error);
        return STATUS_CALCULATION_ERROR;
    }

    RawModeGuard raw_mode(&initial);
    StatusCode result = collect_line(prompt, buffer, buffer_size);
    if (!raw_mode.restore(&error)) {
        print_stderr("Failed to restore initial console mode (Error %lu).", error);
        // An over-long line or a console failure already says the read went wrong.
        if (result == STATUS_SUCCESS || result == STATUS_FAILURE) {
            result = STATUS_CALCULATION_ERROR;
        }
    }
    return result;
}

// ---------------------------------------------------------------------------
// Line checks
// ---------------------------------------------------------------------------

StatusCode check_positive_double(const char* line, double* value, std::string* refusal) {
    if (line == nullptr || value == nullptr || refusal == nullptr) {
        return refuse_missing_arguments(refusal);
    }
    const char* start = skip_blanks(line);
    if (*start == '\0') return refuse(refusal, NO_INPUT_TEXT);

    const NumberParse<double> parse = parse_double(start);
    *value = parse.value;
    if (refuse_conversion(parse, RATE_TEXTS, refusal)) return STATUS_INVALID_INPUT_ERROR;
    if (parse.value <= 0.0) return refuse(refusal, "\nValue must be positive.\n\n");
    if (!std::isfinite(parse.value)) {
        return refuse(refusal, "\nValue must be finite (not NaN or infinity).\n\n");
    }
    if (parse.value > RATE_MAX) {
        return refuse(refusal,
                      format_text("\nInput rate is unreasonably large (exceeds %.1f THz).\n\n",
                                  RATE_MAX_THZ));
    }
    if (parse.value < RATE_MIN) {
        return refuse(
            refusal,
            format_text("\nInput rate is unreasonably small (less than %.1f Hz).\n\n", RATE_MIN));
    }
    refusal->clear();
    return STATUS_SUCCESS;
}

StatusCode check_specific_integer(const char* line, const int* allowed, int count, int* value,
                                  std::string* refusal) {
    if (line == nullptr || allowed == nullptr || count <= 0 || value == nullptr ||
        refusal == nullptr) {
        return refuse_missing_arguments(refusal);
    }
    const char* start = skip_blanks(line);
    if (*start == '\0') return refuse(refusal, NO_INPUT_TEXT);

    const NumberParse<intmax_t> parse = parse_integer(start);
    if (refuse_conversion(parse, INTEGER_TEXTS, refusal)) return STATUS_INVALID_INPUT_ERROR;
    if (parse.value < INT_MIN || parse.value > INT_MAX) {
        return refuse(refusal,
                      "\nInput value is outside the valid range for the required integer "
                      "type.\n\n");
    }
    *value = static_cast<int>(parse.value);
    for (int i = 0; i < count; ++i) {
        if (allowed[i] == *value) {
            refusal->clear();
            return STATUS_SUCCESS;
        }
    }
    std::string message = "\nError: Input must be one of the allowed values: ";
    for (int i = 0; i < count; ++i) {
        message += format_text("%d%s", allowed[i], i + 1 < count ? ", " : ".\n\n");
    }
    return refuse(refusal, std::move(message));
}

StatusCode check_positive_long_long(const char* line, long long* value, std::string* refusal) {
    if (line == nullptr || value == nullptr || refusal == nullptr) {
        return refuse_missing_arguments(refusal);
    }
    const char* start = skip_blanks(line);
    if (*start == '\0') return refuse(refusal, NO_INPUT_TEXT);

    const NumberParse<intmax_t> parse = parse_integer(start);
    *value = static_cast<long long>(parse.value);
    if (parse.error == ERANGE) {
        if (parse.value == INTMAX_MAX) {
            return refuse(refusal, "\nInput value is too large (overflow).\n\n");
        }
        if (parse.value == INTMAX_MIN) {
            return refuse(refusal, "\nInput value is too small (underflow).\n\n");
        }
        return refuse(refusal, "\nInput value is out of range for a long long integer.\n\n");
    }
    if (refuse_conversion(parse, LONG_LONG_TEXTS, refusal)) return STATUS_INVALID_INPUT_ERROR;
    if (parse.value <= 0) return refuse(refusal, "\nValue must be positive.\n\n");
    refusal->clear();
    return STATUS_SUCCESS;
}

ConfirmationAnswer check_confirmation(const char* line, std::string* refusal) {
    if (refusal != nullptr) refusal->clear();
    if (line == nullptr) return CONFIRMATION_NO;
    const char* start = skip_blanks(line);
    std::size_t length = std::strlen(line);
    while (length > 0 && is_blank(line[length - 1])) --length;
    const std::size_t start_offset = static_cast<std::size_t>(start - line);
    const std::size_t answer_length = length > start_offset ? length - start_offset : 0;

    if (answer_length == 0) return CONFIRMATION_NO;
    if (answer_length == 1) {
        const int answer = std::tolower(static_cast<unsigned char>(*start));
        if (answer == 'y') return CONFIRMATION_YES;
        if (answer == 'n') return CONFIRMATION_NO;
    }
    if (refusal != nullptr) {
        *refusal = "\nInvalid input '";
        refusal->append(line, length);
        *refusal += "'. Please enter 'y', 'n', or press Enter for the default ('n').\n\n";
    }
    return CONFIRMATION_REFUSED;
}

StatusCode check_search_mode_answer(const char* line, int* search_mode, bool* is_default,
                                    std::string* refusal) {
    if (line == nullptr || search_mode == nullptr || is_default == nullptr || refusal == nullptr) {
        return refuse_missing_arguments(refusal);
    }
    refusal->clear();
    *is_default = false;
    const char* start = skip_blanks(line);
    if (*start == '\0') {
        *search_mode = SEARCH_MODE_MINIMAL_SUM;
        *is_default = true;
        return STATUS_SUCCESS;
    }

    const NumberParse<intmax_t> parse = parse_integer(start);
    if (refuse_conversion(parse, SEARCH_MODE_TEXTS, refusal)) return STATUS_INVALID_INPUT_ERROR;
    if (parse.value < INT_MIN || parse.value > INT_MAX) {
        return refuse(refusal, "\nValue out of range for int.\n\n");
    }
    if (parse.value != 1 && parse.value != 2) {
        return refuse(refusal, "\nInput must be 1 or 2.\n\n");
    }
    *search_mode = parse.value == 2 ? SEARCH_MODE_CUSTOM_LIMIT : SEARCH_MODE_MINIMAL_SUM;
    return STATUS_SUCCESS;
}

StatusCode check_target_rate_answer(const char* line, double* target, bool* has_target,
                                    std::string* refusal) {
    if (line == nullptr || target == nullptr || has_target == nullptr || refusal == nullptr) {
        return refuse_missing_arguments(refusal);
    }
    refusal->clear();
    *has_target = false;
    *target = 0.0;
    const char* start = skip_blanks(line);
    if (*start == '\0') return STATUS_SUCCESS;

    const NumberParse<double> parse = parse_double(start);
    if (refuse_conversion(parse, TARGET_TEXTS, refusal)) return STATUS_INVALID_INPUT_ERROR;
    if (parse.value <= 0.0) return refuse(refusal, "\nTarget rate must be positive.\n\n");
    if (!std::isfinite(parse.value)) return refuse(refusal, "\nTarget rate must be finite.\n\n");
    if (parse.value < TARGET_RATE_MIN) {
        return refuse(refusal, format_text("\nTarget rate is too small (less than %.1f Hz).\n\n",
                                           TARGET_RATE_MIN));
    }
    if (parse.value > TARGET_RATE_MAX) {
        return refuse(refusal, format_text("\nTarget rate is too large (exceeds %.1f THz).\n\n",
                                           RATE_MAX_THZ));
    }
    *has_target = true;
    *target = parse.value;
    return STATUS_SUCCESS;
}

// ---------------------------------------------------------------------------
// Prompts
// ---------------------------------------------------------------------------

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

// ---------------------------------------------------------------------------
// Dialog
// ---------------------------------------------------------------------------

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
