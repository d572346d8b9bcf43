#include "records/request_resolution.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>

namespace quillmere::records {

namespace {

/// A frequency for a message: "24000", "22050.5".
std::string hz_text(double hz) {
    char text[64];
    std::snprintf(text, sizeof text, "%.10g", hz);
    return text;
}

/// Options that only a two-stage request uses, as named in a refusal.
std::optional<const char*> two_stage_option_in(const OptionLayer& layer) {
    if (layer.mode) return "--mode";
    if (layer.limit) return "--limit";
    if (layer.allow_first_decimation) return "--allow-first-decimation";
    if (layer.target_hz) return "--target";
    if (layer.priority) return "--priority";
    return std::nullopt;
}

/// Filter options, as named in a refusal.
std::optional<const char*> filter_option_in(const OptionLayer& layer) {
    if (layer.passband_hz) return "--passband";
    if (layer.stopband_hz) return "--stopband";
    if (layer.attenuation_db) return "--attenuation";
    if (layer.ripple_db) return "--ripple";
    return std::nullopt;
}

/// Options of the design, as named in a refusal.
std::optional<const char*> design_option_in(const OptionLayer& layer) {
    if (layer.method) return "--method";
    if (layer.quantize_bits) return "--quantize";
    if (layer.coefficients_file) return "--coefficients";
    if (layer.coefficients_format) return "--coefficients-format";
    return std::nullopt;
}

/// The design options of a request over the defaults: --design implies the cost, and the
/// other design options need it.
std::optional<UsageError> resolve_design(const OptionLayer& top, const OptionLayer& base,
                                         ResolvedRequest& request) {
    const auto pick = [](const auto& upper, const auto& lower) { return upper ? upper : lower; };
    request.design = pick(top.design, base.design).value_or(false);
    if (!request.design) {
        if (const auto option = design_option_in(top)) {
            return UsageError{std::string("option '") + *option + "' needs --design"};
        }
        return std::nullopt;
    }
    request.cost = true;
    request.method = pick(top.method, base.method).value_or(DesignMethod::automatic);
    request.quantize_bits = pick(top.quantize_bits, base.quantize_bits);
    request.filter.design_method = request.method;
    request.coefficients_file = pick(top.coefficients_file, base.coefficients_file);
    const auto format = pick(top.coefficients_format, base.coefficients_format);
    if (!request.coefficients_file) {
        if (top.coefficients_format) {
            return UsageError{"option '--coefficients-format' needs --coefficients"};
        }
        return std::nullopt;
    }
    if (format) {
        request.coefficients_format = *format;
    } else if (const auto by_name = coefficient_format_of(*request.coefficients_file)) {
        request.coefficients_format = *by_name;
    } else {
        return UsageError{"cannot tell the format of the coefficient file '" +
                          *request.coefficients_file +
                          "' from its name: end it in .json, .csv or .h, or give "
                          "--coefficients-format json, csv or c"};
    }
    return std::nullopt;
}

}  // namespace

std::optional<CoefficientFormat> coefficient_format_of(std::string_view file_name) {
    const std::size_t dot = file_name.rfind('.');
    const std::size_t slash = file_name.find_last_of("/\\");
    if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) {
        return std::nullopt;
    }
    std::string extension(file_name.substr(dot + 1));
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (extension == "json") return CoefficientFormat::json;
    if (extension == "csv") return CoefficientFormat::csv;
    if (extension == "h") return CoefficientFormat::c;
    return std::nullopt;
}

std::optional<UsageError> check_option_conflicts(const OptionLayer& layer, int stages) {
    if (stages == 1) {
        if (const auto option = two_stage_option_in(layer)) {
            return UsageError{std::string("option '") + *option +
                              "' applies to two stages only: add --stages 2"};
        }
    }
    if (layer.mode == SearchMode::minimal_sum && layer.limit) {
        return UsageError{
            "option '--limit' does not apply to --mode minimal-sum, which searches up to "
            "65535: use --mode custom-limit or min-cost"};
    }
    return std::nullopt;
}

std::variant<ResolvedRequest, UsageError> resolve_request(const OptionLayer& top,
                                                          const OptionLayer* defaults) {
    const OptionLayer none;
    const OptionLayer& base = defaults != nullptr ? *defaults : none;
    const auto pick = [](const auto& upper, const auto& lower) { return upper ? upper : lower; };

    ResolvedRequest request;
    request.stages = top.stages.value_or(base.stages.value_or(1));
    if (auto error = check_option_conflicts(top, request.stages)) return *error;
    const double input = top.input_rate_hz.value_or(0.0);
    const double output = top.output_rate_hz.value_or(0.0);

    // The cost and its filter apply to either stage count.
    request.cost = pick(top.cost, base.cost).value_or(false);
    FilterSpec& filter = request.filter;
    filter.passband_hz = pick(top.passband_hz, base.passband_hz);
    filter.stopband_hz = pick(top.stopband_hz, base.stopband_hz);
    filter.attenuation_db = pick(top.attenuation_db, base.attenuation_db).value_or(100.0);
    filter.ripple_db = pick(top.ripple_db, base.ripple_db).value_or(0.1);
    if (auto error = resolve_design(top, base, request)) return *error;

    bool min_cost = false;
    if (request.stages == 1) {
        request.single.input_rate_hz = input;
        request.single.output_rate_hz = output;
    } else {
        TwoStageRequest& two = request.two;
        two.input_rate_hz = input;
        two.output_rate_hz = output;
        // A limit implies custom-limit, unless the mode in force is min-cost; a limit or
        // mode of the line outweighs those of the defaults.
        const auto implied = [](const OptionLayer& layer,
                                std::optional<SearchMode> below) -> std::optional<SearchMode> {
            if (layer.mode) return layer.mode;
            if (layer.limit) {
                return below == SearchMode::min_cost ? SearchMode::min_cost
                                                     : SearchMode::custom_limit;
            }
            return below;
        };
        two.mode = implied(top, implied(base, std::nullopt)).value_or(SearchMode::minimal_sum);
        if (two.mode == SearchMode::minimal_sum) {
            two.max_factor = max_factor_limit;
        } else {
            two.max_factor = pick(top.limit, base.limit).value_or(max_factor_limit);
        }
        two.allow_first_stage_decimation =
            pick(top.allow_first_decimation, base.allow_first_decimation).value_or(false);
        const std::optional<double> target = pick(top.target_hz, base.target_hz);
        if (top.priority && !target) {
            return UsageError{"option '--priority' needs --target"};
        }
        if (target) {
            two.intermediate_target = IntermediateTarget{
                *target, pick(top.priority, base.priority).value_or(Priority::balanced)};
        }
        two.filter = filter;
        min_cost = two.mode == SearchMode::min_cost;
    }

    if (!request.cost && !min_cost) {
        if (const auto option = filter_option_in(top)) {
            return UsageError{std::string("option '") + *option +
                              "' needs --cost or --mode min-cost"};
        }
    }
    if (request.cost || min_cost) {
        // The edges against each other and against the rates; the stages' own rates are
        // the library's to check.
        const double lower = std::min(input, output);
        const double stopband = filter.stopband_hz.value_or(lower / 2.0);
        const double passband = filter.passband_hz.value_or(0.9 * lower / 2.0);
        if (filter.stopband_hz && stopband > lower / 2.0) {
            return UsageError{
                "invalid value for --stopband: it may not exceed half the lower "
                "of the two rates (" +
                hz_text(lower / 2.0) + " Hz)"};
        }
        if (!(passband < stopband)) {
            return UsageError{"invalid value for --passband: it must be below the stopband edge (" +
                              hz_text(stopband) + " Hz)"};
        }
    }
    return request;
}

}  // namespace quillmere::records
