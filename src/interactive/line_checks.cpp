// The checks of one typed line, as the prompts and the dialog apply them.
#include "interactive/line_checks.h"

#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <utility>

namespace quillmere::interactive {

namespace {

constexpr double TARGET_RATE_MIN = 1.0;
constexpr double TARGET_RATE_MAX = 1e13;
constexpr double RATE_MIN = 1.0;
constexpr double RATE_MAX = 1e13;
/// Both rate bounds as printed: the upper one in THz.
constexpr double RATE_MAX_THZ = 10.0;

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
Status refuse(std::string& refusal, std::string message) {
    refusal = std::move(message);
    return Status::invalid_request;
}

/// Refusal for a check called without a line: nothing to say, nothing stored.
Status refuse_missing_line(std::string& refusal) {
    refusal.clear();
    return Status::invalid_request;
}

constexpr const char* NO_INPUT_TEXT = "\nNo input provided.\n\n";

/// A number converted from the first non-blank character of a line.
template <typename Number>
struct NumberParse {
    Number value = 0;
    int error = 0;              ///< errno right after the conversion
    bool converted = false;     ///< at least one character was taken
    const char* end = nullptr;  ///< first character after the number
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
    /// errno is ERANGE; null when the caller tells the cases apart itself.
    const char* out_of_range = nullptr;
    /// Another errno with a zero result, before the reason.
    const char* failed = nullptr;
    /// The reason is followed by " (errno N)".
    bool failed_shows_errno = false;
    /// No character was converted.
    const char* nothing_converted = nullptr;
    /// Something follows the number, before the quoted rest.
    const char* trailing = nullptr;
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
                       std::string& refusal) {
    if (parse.error == ERANGE && texts.out_of_range != nullptr) {
        refusal = texts.out_of_range;
        return true;
    }
    if (parse.error != 0 && parse.error != ERANGE && parse.value == 0) {
        refusal = texts.failed;
        refusal += std::strerror(parse.error);
        if (texts.failed_shows_errno) refusal += format_text(" (errno %d)", parse.error);
        refusal += "\n\n";
        return true;
    }
    if (!parse.converted) {
        refusal = texts.nothing_converted;
        return true;
    }
    const char* rest = skip_blanks(parse.end);
    if (*rest != '\0') {
        refusal = texts.trailing;
        refusal += rest;
        refusal += "'\n\n";
        return true;
    }
    return false;
}

}  // namespace

Status check_positive_double(const char* line, double& value, std::string& refusal) {
    if (line == nullptr) return refuse_missing_line(refusal);
    const char* start = skip_blanks(line);
    if (*start == '\0') return refuse(refusal, NO_INPUT_TEXT);

    const NumberParse<double> parse = parse_double(start);
    value = parse.value;
    if (refuse_conversion(parse, RATE_TEXTS, refusal)) return Status::invalid_request;
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
    refusal.clear();
    return Status::ok;
}

Status check_specific_integer(const char* line, std::span<const int> allowed, int& value,
                              std::string& refusal) {
    if (line == nullptr || allowed.empty()) return refuse_missing_line(refusal);
    const char* start = skip_blanks(line);
    if (*start == '\0') return refuse(refusal, NO_INPUT_TEXT);

    const NumberParse<intmax_t> parse = parse_integer(start);
    if (refuse_conversion(parse, INTEGER_TEXTS, refusal)) return Status::invalid_request;
    if (parse.value < INT_MIN || parse.value > INT_MAX) {
        return refuse(refusal,
                      "\nInput value is outside the valid range for the required integer "
                      "type.\n\n");
    }
    value = static_cast<int>(parse.value);
    for (const int choice : allowed) {
        if (choice == value) {
            refusal.clear();
            return Status::ok;
        }
    }
    std::string message = "\nError: Input must be one of the allowed values: ";
    for (std::size_t i = 0; i < allowed.size(); ++i) {
        message += format_text("%d%s", allowed[i], i + 1 < allowed.size() ? ", " : ".\n\n");
    }
    return refuse(refusal, std::move(message));
}

Status check_positive_long_long(const char* line, long long& value, std::string& refusal) {
    if (line == nullptr) return refuse_missing_line(refusal);
    const char* start = skip_blanks(line);
    if (*start == '\0') return refuse(refusal, NO_INPUT_TEXT);

    const NumberParse<intmax_t> parse = parse_integer(start);
    value = static_cast<long long>(parse.value);
    if (parse.error == ERANGE) {
        if (parse.value == INTMAX_MAX) {
            return refuse(refusal, "\nInput value is too large (overflow).\n\n");
        }
        if (parse.value == INTMAX_MIN) {
            return refuse(refusal, "\nInput value is too small (underflow).\n\n");
        }
        return refuse(refusal, "\nInput value is out of range for a long long integer.\n\n");
    }
    if (refuse_conversion(parse, LONG_LONG_TEXTS, refusal)) return Status::invalid_request;
    if (parse.value <= 0) return refuse(refusal, "\nValue must be positive.\n\n");
    refusal.clear();
    return Status::ok;
}

ConfirmationAnswer check_confirmation(const char* line, std::string& refusal) {
    refusal.clear();
    if (line == nullptr) return ConfirmationAnswer::no;
    const char* start = skip_blanks(line);
    std::size_t length = std::strlen(line);
    while (length > 0 && is_blank(line[length - 1])) --length;
    const std::size_t start_offset = static_cast<std::size_t>(start - line);
    const std::size_t answer_length = length > start_offset ? length - start_offset : 0;

    if (answer_length == 0) return ConfirmationAnswer::no;
    if (answer_length == 1) {
        const int answer = std::tolower(static_cast<unsigned char>(*start));
        if (answer == 'y') return ConfirmationAnswer::yes;
        if (answer == 'n') return ConfirmationAnswer::no;
    }
    refusal = "\nInvalid input '";
    refusal.append(line, length);
    refusal += "'. Please enter 'y', 'n', or press Enter for the default ('n').\n\n";
    return ConfirmationAnswer::refused;
}

Status check_search_mode_answer(const char* line, SearchMode& mode, bool& is_default,
                                std::string& refusal) {
    if (line == nullptr) return refuse_missing_line(refusal);
    refusal.clear();
    is_default = false;
    const char* start = skip_blanks(line);
    if (*start == '\0') {
        mode = SearchMode::minimal_sum;
        is_default = true;
        return Status::ok;
    }

    const NumberParse<intmax_t> parse = parse_integer(start);
    if (refuse_conversion(parse, SEARCH_MODE_TEXTS, refusal)) return Status::invalid_request;
    if (parse.value < INT_MIN || parse.value > INT_MAX) {
        return refuse(refusal, "\nValue out of range for int.\n\n");
    }
    if (parse.value != 1 && parse.value != 2) {
        return refuse(refusal, "\nInput must be 1 or 2.\n\n");
    }
    mode = parse.value == 2 ? SearchMode::custom_limit : SearchMode::minimal_sum;
    return Status::ok;
}

Status check_target_rate_answer(const char* line, std::optional<double>& target,
                                std::string& refusal) {
    if (line == nullptr) return refuse_missing_line(refusal);
    refusal.clear();
    target.reset();
    const char* start = skip_blanks(line);
    if (*start == '\0') return Status::ok;

    const NumberParse<double> parse = parse_double(start);
    if (refuse_conversion(parse, TARGET_TEXTS, refusal)) return Status::invalid_request;
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
    target = parse.value;
    return Status::ok;
}

}  // namespace quillmere::interactive
