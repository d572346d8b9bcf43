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

/// The option that sets the first-stage decimation, as named in a refusal.
const char* first_decimation_option(const OptionLayer& layer) {
    return layer.allow_first_decimation.value_or(true) ? "--allow-first-decimation"
                                                       : "--no-first-decimation";
}

/// Options that only a two-stage request uses, as named in a refusal; one stage in
/// min-cost mode takes a mode and a limit.
std::optional<const char*> two_stage_option_in(const OptionLayer& layer) {
    const bool min_cost = layer.mode == SearchMode::min_cost;
    if (layer.mode && !min_cost) return "--mode";
    if (layer.limit && !min_cost) return "--limit";
    if (layer.allow_first_decimation) return first_decimation_option(layer);
    if (layer.target_hz) return "--target";
    if (layer.priority) return "--priority";
    return std::nullopt;
}

/// "--stages 3", "--stages auto".
std::string stages_option(int stages) {
    return "--stages " + (stages == auto_stages ? std::string("auto") : std::to_string(stages));
}

/// Whether the first stage may decimate unless an option says: in the modes that search
/// for the cheapest or the most accurate plan it may, in the dialog's it may not.
bool first_decimation_default(SearchMode mode) {
    return mode == SearchMode::min_cost || mode == SearchMode::best_accuracy;
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
    if (stages != 1 && stages != 2 && layer.mode && layer.mode != SearchMode::min_cost) {
        return UsageError{"option '" + stages_option(stages) + "' needs --mode min-cost, not " +
                          search_mode_name(*layer.mode) +
                          ": only min-cost plans more than two stages"};
    }
    if (stages != 1 && stages != 2 && layer.target_hz) {
        return UsageError{"option '--target' needs exactly two stages, not " +
                          stages_option(stages)};
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
    // A line of one stage by default cannot use two-stage defaults; one that says
    // --stages 1 leaves them out.
    if (request.stages == 1 && !top.stages) {
        if (const auto option = two_stage_option_in(base)) {
            return UsageError{std::string("option '") + *option +
                              "' of the command line applies to two stages only: add --stages 2 "
                              "to the command line or to the line"};
        }
    }
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
    PlanRequest& plan = request.plan;
    plan.input_rate_hz = input;
    plan.output_rate_hz = output;
    plan.stages = request.stages;
    plan.tolerance = pick(top.tolerance, base.tolerance);
    plan.filter = filter;
    if (request.stages == 1) {
        request.single.input_rate_hz = input;
        request.single.output_rate_hz = output;
        // The defaults' two-stage options are left out of a one-stage line; its own
        // min-cost mode makes the cheapest single stage.
        if (top.mode == SearchMode::min_cost) {
            min_cost = true;
            plan.mode = SearchMode::min_cost;
            plan.max_factor = top.limit.value_or(max_factor_limit);
        }
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
                return below == SearchMode::min_cost || below == SearchMode::best_accuracy
                           ? *below
                           : SearchMode::custom_limit;
            }
            return below;
        };
        two.mode = implied(top, implied(base, std::nullopt)).value_or(SearchMode::minimal_sum);
        if (request.stages != 2 && two.mode != SearchMode::min_cost) {
            return UsageError{"option '" + stages_option(request.stages) +
                              "' needs --mode min-cost: only min-cost plans more than two "
                              "stages"};
        }
        if (two.mode == SearchMode::minimal_sum) {
            two.max_factor = max_factor_limit;
        } else {
            two.max_factor = pick(top.limit, base.limit).value_or(max_factor_limit);
        }
        two.allow_first_stage_decimation =
            pick(top.allow_first_decimation, base.allow_first_decimation)
                .value_or(first_decimation_default(two.mode));
        // A default target is for the two-stage lines.
        const std::optional<double> target =
            request.stages == 2 ? pick(top.target_hz, base.target_hz) : top.target_hz;
        if (top.priority && !target) {
            return UsageError{"option '--priority' needs --target"};
        }
        if (base.priority && !target) {
            return UsageError{
                "option '--priority' of the command line needs --target: give --target on the "
                "command line or on the line"};
        }
        if (target) {
            two.intermediate_target = IntermediateTarget{
                *target, pick(top.priority, base.priority).value_or(Priority::balanced)};
        }
        two.filter = filter;
        min_cost = two.mode == SearchMode::min_cost;
        plan.mode = two.mode;
        plan.max_factor = two.max_factor;
        plan.allow_first_stage_decimation = two.allow_first_stage_decimation;
        plan.intermediate_target = two.intermediate_target;
    }
    request.general = plan.mode == SearchMode::best_accuracy || plan.tolerance ||
                      (request.stages != 2 && plan.mode == SearchMode::min_cost);

    if (!request.cost && !min_cost) {
        if (const auto option = filter_option_in(top)) {
            return UsageError{std::string("option '") + *option +
                              "' needs --cost or --mode min-cost"};
        }
        if (const auto option = filter_option_in(base)) {
            return UsageError{std::string("option '") + *option +
                              "' of the command line needs --cost or --mode min-cost: give "
                              "either on the command line or on the line"};
        }
    }
    if (request.cost || min_cost) {
        // The edges against each other and against the rates; the stages' own rates are
        // the library's to check.
        const double lower = std::min(input, output);
        const double stopband = filter.stopband_hz.value_or(lower / 2.0);
        const double passband = filter.passband_hz.value_or(0.9 * lower / 2.0);
        // Within the match tolerance of half the lower rate, the edge is that one.
        if (filter.stopband_hz && stopband > lower / 2.0 * (1.0 + match_tolerance)) {
            return UsageError{
                "invalid value for --stopband: it may not exceed half the lower "
                "of the two rates (" +
                hz_text(lower / 2.0) + " Hz)"};
        }
        if (passband > stopband && !filter.passband_hz) {
            return UsageError{"invalid value for --stopband: it must be above the passband edge (" +
                              hz_text(passband) +
                              " Hz, the default: 0.9 x half the lower rate); give a lower "
                              "--passband"};
        }
        if (passband > stopband) {
            return UsageError{
                "invalid value for --passband: it may not exceed the stopband edge (" +
                hz_text(stopband) + " Hz)"};
        }
        if (!(passband + stopband < lower)) {
            return UsageError{"invalid value for --passband: at the stopband edge (" +
                              hz_text(stopband) +
                              " Hz), half the lower rate, it leaves no transition band"};
        }
    }
    return request;
}

}  // namespace quillmere::records
