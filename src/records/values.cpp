#include "records/values.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <string>

#include "quillmere/quillmere.h"

namespace quillmere::records {

namespace {

bool is_blank(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

}  // namespace

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
    return text;
}

namespace {

/// The power of ten a suffix stands for; 0 for no suffix character.
int suffix_exponent(char c) {
    switch (c) {
    case 'k': return 3;
    case 'M': return 6;
    case 'G': return 9;
    default: return 0;
    }
}

/// strtod over the whole text; empty when it converts nothing, leaves characters over or
/// overflows (an underflow to a tiny or zero value is kept: the range check refuses it).
std::optional<double> whole_strtod(const std::string& text) {
    if (text.empty()) return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || end == text.c_str()) return std::nullopt;
    if (errno == ERANGE && std::isinf(value)) return std::nullopt;
    return value;
}

/// A decimal number (digits, one point, an optional exponent) scaled by 10^shift: the
/// shift goes into the exponent, so "44.1" with 3 reads as 44.1e3, rounded once.
std::optional<double> scaled_decimal(std::string_view number, int shift) {
    std::string_view mantissa = number;
    long exponent = 0;
    const std::size_t e = number.find_first_of("eE");
    if (e != std::string_view::npos) {
        mantissa = number.substr(0, e);
        const std::string exponent_text(number.substr(e + 1));
        if (exponent_text.empty()) return std::nullopt;
        for (std::size_t i = 0; i < exponent_text.size(); ++i) {
            const char c = exponent_text[i];
            const bool sign = i == 0 && (c == '+' || c == '-') && exponent_text.size() > 1;
            if (!sign && std::isdigit(static_cast<unsigned char>(c)) == 0) return std::nullopt;
        }
        errno = 0;
        exponent = std::strtol(exponent_text.c_str(), nullptr, 10);
        if (errno == ERANGE || exponent > 100000 || exponent < -100000) return std::nullopt;
    }
    // Digits with at most one point and at least one digit, an optional sign first.
    std::size_t start = 0;
    if (!mantissa.empty() && (mantissa[0] == '+' || mantissa[0] == '-')) start = 1;
    bool digit = false;
    bool point = false;
    for (std::size_t i = start; i < mantissa.size(); ++i) {
        const char c = mantissa[i];
        if (c == '.' && !point) {
            point = true;
        } else if (std::isdigit(static_cast<unsigned char>(c)) != 0) {
            digit = true;
        } else {
            return std::nullopt;
        }
    }
    if (!digit) return std::nullopt;
    return whole_strtod(std::string(mantissa) + "e" + std::to_string(exponent + shift));
}

}  // namespace

std::optional<double> parse_frequency(std::string_view text) {
    text = trimmed(text);
    if (text.empty()) return std::nullopt;
    const int shift = suffix_exponent(text.back());
    if (shift != 0) {
        text.remove_suffix(1);
        // "1 k" is no number with a suffix.
        if (text.empty() || is_blank(text.back())) return std::nullopt;
        return scaled_decimal(text, shift);
    }
    return whole_strtod(std::string(text));
}

std::optional<double> parse_rate(std::string_view text) {
    const std::optional<double> value = parse_frequency(text);
    if (!value || !std::isfinite(*value) || *value < min_rate_hz || *value > max_rate_hz) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::int64_t> parse_limit(std::string_view text) {
    text = trimmed(text);
    if (text.empty()) return std::nullopt;
    // Any number of leading zeros, as a rate may have; the value never grows past the limit.
    std::int64_t value = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (i == 0 && c == '+' && text.size() > 1) continue;
        if (std::isdigit(static_cast<unsigned char>(c)) == 0) return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > max_factor_limit) return std::nullopt;
    }
    if (value < 1) return std::nullopt;
    return value;
}

std::optional<double> parse_decibels(std::string_view text) {
    const std::optional<double> value = whole_strtod(std::string(trimmed(text)));
    if (!value || !std::isfinite(*value) || *value <= 0.0) return std::nullopt;
    return value;
}

std::optional<double> parse_tolerance(std::string_view text) {
    text = trimmed(text);
    std::optional<double> value;
    constexpr std::string_view PPM = "ppm";
    if (text.size() > PPM.size() && text.substr(text.size() - PPM.size()) == PPM) {
        // Parts per million: the scale goes into the exponent, as with a rate's suffix.
        value = scaled_decimal(trimmed(text.substr(0, text.size() - PPM.size())), -6);
    } else {
        value = whole_strtod(std::string(text));
    }
    if (!value || !std::isfinite(*value) || *value < 0.0 || *value >= 1.0) return std::nullopt;
    return value;
}

std::optional<int> parse_quantize_bits(std::string_view text) {
    text = trimmed(text);
    if (text.empty() || text.size() > 3) return std::nullopt;
    int value = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (i == 0 && c == '+' && text.size() > 1) continue;
        if (std::isdigit(static_cast<unsigned char>(c)) == 0) return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value < min_quantize_bits || value > max_quantize_bits) return std::nullopt;
    return value;
}

}  // namespace quillmere::records
