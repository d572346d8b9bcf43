#include "records/option_values.h"

#include <cmath>
#include <string>

#include "records/values.h"

namespace quillmere::records {

namespace {

constexpr const char* RATE_ACCEPTED = "a rate in Hz from 1 to 1e13, suffixes k, M, G allowed";
constexpr const char* FREQUENCY_ACCEPTED = "a frequency in Hz above 0, suffixes k, M, G allowed";
constexpr const char* DECIBELS_ACCEPTED = "a positive number of dB";

constexpr RequestOption OPTIONS[] = {
    {"INPUT_RATE", RATE_ACCEPTED},
    {"OUTPUT_RATE", RATE_ACCEPTED},
    {"stages", "1, 2, 3, 4 or auto"},
    {"mode", "minimal-sum, custom-limit, min-cost or best-accuracy"},
    {"limit", "an integer from 1 to 65535"},
    {"allow-first-decimation", nullptr},
    {"no-first-decimation", nullptr},
    {"target", RATE_ACCEPTED},
    {"priority", "strict, final, balanced or ignore"},
    {"cost", nullptr},
    {"passband", FREQUENCY_ACCEPTED},
    {"stopband", FREQUENCY_ACCEPTED},
    {"attenuation", DECIBELS_ACCEPTED},
    {"ripple", DECIBELS_ACCEPTED},
    {"tolerance", "a relative error from 0 to below 1 (1e-6) or parts per million (5ppm)"},
    {"design", nullptr},
    {"method", "kaiser, equiripple or auto"},
    {"quantize", "an integer from 8 to 32"},
    {"coefficients", "a file name"},
    {"coefficients-format", "json, csv, c or c-header"},
};

constexpr SearchMode MODES[] = {SearchMode::minimal_sum, SearchMode::custom_limit,
                                SearchMode::min_cost, SearchMode::best_accuracy};
constexpr DesignMethod METHODS[] = {DesignMethod::kaiser, DesignMethod::equiripple,
                                    DesignMethod::automatic};
constexpr Priority PRIORITIES[] = {Priority::strict, Priority::final, Priority::balanced,
                                   Priority::ignore};

/// The value whose library name is `text`.
template <typename T, std::size_t N>
std::optional<T> named(std::string_view text, const T (&values)[N], const char* (*name)(T)) {
    for (const T value : values) {
        if (trimmed(text) == name(value)) return value;
    }
    return std::nullopt;
}

/// A stage count: 1 to max_plan_stages, or "auto" (the cheapest count).
std::optional<int> stage_count_named(std::string_view text) {
    text = trimmed(text);
    if (text == "auto") return auto_stages;
    if (text.size() == 1 && text[0] >= '1' && text[0] < '1' + max_plan_stages) return text[0] - '0';
    return std::nullopt;
}

/// A coefficient file's format by its name ("c-header" is the C header's longer name).
std::optional<CoefficientFormat> coefficient_format_named(std::string_view text) {
    text = trimmed(text);
    if (text == "json") return CoefficientFormat::json;
    if (text == "csv") return CoefficientFormat::csv;
    if (text == "c" || text == "c-header") return CoefficientFormat::c;
    return std::nullopt;
}

const RequestOption* find_option(std::string_view name) {
    for (const RequestOption& option : OPTIONS) {
        if (name == option.name) return &option;
    }
    return nullptr;
}

UsageError refusal(const RequestOption& option, std::string_view text) {
    const std::string name = option.name;
    if (name == "INPUT_RATE" || name == "OUTPUT_RATE") {
        return UsageError{"invalid " + name + " '" + std::string(text) + "': expected " +
                          option.accepted};
    }
    return UsageError{"invalid value '" + std::string(text) + "' for --" + name + ": expected " +
                      option.accepted};
}

/// A frequency above 0 (the filter edges).
std::optional<double> positive_frequency(std::string_view text) {
    const std::optional<double> value = parse_frequency(text);
    if (!value || !std::isfinite(*value) || *value <= 0.0) return std::nullopt;
    return value;
}

/// Reads a value option's text into `out`; false when the text is refused.
template <typename T>
bool read_into(std::optional<T>& out, std::optional<T> value) {
    out = value;
    return value.has_value();
}

}  // namespace

std::span<const RequestOption> request_options() {
    return OPTIONS;
}

std::optional<UsageError> read_option(std::string_view name, std::string_view text,
                                      OptionLayer& layer) {
    const RequestOption* const option = find_option(name);
    if (option == nullptr) return UsageError{"unrecognized option '--" + std::string(name) + "'"};
    bool read = true;
    if (name == "INPUT_RATE") {
        read = read_into(layer.input_rate_hz, parse_rate(text));
    } else if (name == "OUTPUT_RATE") {
        read = read_into(layer.output_rate_hz, parse_rate(text));
    } else if (name == "stages") {
        read = read_into(layer.stages, stage_count_named(text));
    } else if (name == "mode") {
        read = read_into(layer.mode, named(text, MODES, search_mode_name));
    } else if (name == "limit") {
        read = read_into(layer.limit, parse_limit(text));
    } else if (name == "allow-first-decimation") {
        layer.allow_first_decimation = true;
    } else if (name == "no-first-decimation") {
        layer.allow_first_decimation = false;
    } else if (name == "target") {
        read = read_into(layer.target_hz, parse_rate(text));
    } else if (name == "priority") {
        read = read_into(layer.priority, named(text, PRIORITIES, priority_name));
    } else if (name == "cost") {
        layer.cost = true;
    } else if (name == "passband") {
        read = read_into(layer.passband_hz, positive_frequency(text));
    } else if (name == "stopband") {
        read = read_into(layer.stopband_hz, positive_frequency(text));
    } else if (name == "attenuation") {
        read = read_into(layer.attenuation_db, parse_decibels(text));
    } else if (name == "ripple") {
        read = read_into(layer.ripple_db, parse_decibels(text));
    } else if (name == "tolerance") {
        read = read_into(layer.tolerance, parse_tolerance(text));
    } else if (name == "design") {
        layer.design = true;
    } else if (name == "method") {
        read = read_into(layer.method, named(text, METHODS, design_method_name));
    } else if (name == "quantize") {
        read = read_into(layer.quantize_bits, parse_quantize_bits(text));
    } else if (name == "coefficients") {
        read = !text.empty();
        if (read) layer.coefficients_file = std::string(text);
    } else if (name == "coefficients-format") {
        read = read_into(layer.coefficients_format, coefficient_format_named(text));
    }
    if (!read) return refusal(*option, text);
    return std::nullopt;
}

}  // namespace quillmere::records
