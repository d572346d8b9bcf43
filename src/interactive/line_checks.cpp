// The checks of one typed line, as the prompts and the dialog apply them.
#include "interactive/line_checks.h"

#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

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

}  // namespace

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
