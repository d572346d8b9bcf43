// The arguments read with CLI11: the shape of the argument list (names, =value, --, short
// forms) from CLI11, the values by this program, so that every refusal names what is
// accepted.
#include "cli/argument_parser.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <utility>

// CLI11 only through here: the out-of-memory handler is in place before its objects.
#include "cli/cli11.h"
#include "records/request_resolution.h"
#include "records/values.h"

namespace quillmere::cli {

using records::parse_decibels;
using records::parse_frequency;
using records::parse_limit;
using records::parse_quantize_bits;
using records::parse_rate;
using records::parse_tolerance;

namespace {

constexpr const char* RATE_ACCEPTED = "a rate in Hz from 1 to 1e13, suffixes k, M, G allowed";
constexpr const char* FREQUENCY_ACCEPTED = "a frequency in Hz above 0, suffixes k, M, G allowed";

/// Each option with a value: its names, and what it accepts.
struct ValueOption {
    const char* names = nullptr;  ///< CLI11 names, short form first
    const char* long_name = nullptr;
    const char* accepted = nullptr;
};

constexpr ValueOption STAGES{"-s,--stages", "--stages", "1, 2, 3, 4 or auto"};
constexpr ValueOption MODE{"-m,--mode", "--mode",
                           "minimal-sum, custom-limit, min-cost or best-accuracy"};
constexpr ValueOption LIMIT{"-l,--limit", "--limit", "an integer from 1 to 65535"};
constexpr ValueOption TARGET{"-t,--target", "--target", RATE_ACCEPTED};
constexpr ValueOption PRIORITY{"-p,--priority", "--priority", "strict, final, balanced or ignore"};
constexpr ValueOption PASSBAND{"--passband", "--passband", FREQUENCY_ACCEPTED};
constexpr ValueOption STOPBAND{"--stopband", "--stopband", FREQUENCY_ACCEPTED};
constexpr ValueOption ATTENUATION{"--attenuation", "--attenuation", "a positive number of dB"};
constexpr ValueOption RIPPLE{"--ripple", "--ripple", "a positive number of dB"};
constexpr ValueOption METHOD{"--method", "--method", "kaiser, equiripple or auto"};
constexpr ValueOption QUANTIZE{"--quantize", "--quantize", "an integer from 8 to 32"};
constexpr ValueOption COEFFICIENTS{"--coefficients", "--coefficients", "a file name"};
constexpr ValueOption COEFFICIENTS_FORMAT{"--coefficients-format", "--coefficients-format",
                                          "json, csv, c or c-header"};
constexpr ValueOption TOLERANCE{"--tolerance", "--tolerance",
                                "a relative error from 0 to below 1 (1e-6) or parts per million "
                                "(5ppm)"};
constexpr ValueOption FORMAT{"-f,--format", "--format", "text, json or csv"};
constexpr ValueOption BATCH{"-b,--batch", "--batch", "a file name, or - for standard input"};

constexpr ValueOption VALUE_OPTIONS[] = {
    STAGES, MODE,  LIMIT, TARGET, PRIORITY, PASSBAND,     STOPBAND,           ATTENUATION,
    RIPPLE, TOLERANCE, FORMAT, BATCH, METHOD, QUANTIZE, COEFFICIENTS, COEFFICIENTS_FORMAT};

UsageError invalid_value(const ValueOption& option, const std::string& value) {
    return UsageError{"invalid value '" + value + "' for " + option.long_name + ": expected " +
                      option.accepted};
}

/// The option texts as given, before their values are read.
struct RawOptions {
    std::string stages, mode, limit, target, priority, passband, stopband, attenuation, ripple,
        tolerance, format, batch;
    std::string method, quantize, coefficients, coefficients_format;
    bool allow_first_decimation = false;
    bool no_first_decimation = false;
    bool cost = false;
    bool design = false;
    bool help = false;
    bool version = false;
    std::vector<std::string> positionals;
};

/// CLI11 reads the shape of the arguments (names, =value, --, short forms); the values
/// are read by this program, so every refusal names what is accepted.
std::optional<UsageError> read_raw(std::vector<std::string> args, bool command_line,
                                   RawOptions& raw, CLI::App& app) {
    app.set_help_flag();
    app.allow_extras();
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.add_option(STAGES.names, raw.stages);
    app.add_option(MODE.names, raw.mode);
    app.add_option(LIMIT.names, raw.limit);
    app.add_option(TARGET.names, raw.target);
    app.add_option(PRIORITY.names, raw.priority);
    app.add_option(PASSBAND.names, raw.passband);
    app.add_option(STOPBAND.names, raw.stopband);
    app.add_option(ATTENUATION.names, raw.attenuation);
    app.add_option(RIPPLE.names, raw.ripple);
    app.add_option(TOLERANCE.names, raw.tolerance);
    app.add_flag("-a,--allow-first-decimation", raw.allow_first_decimation);
    app.add_flag("--no-first-decimation", raw.no_first_decimation);
    app.add_flag("-c,--cost", raw.cost);
    app.add_flag("--design", raw.design);
    app.add_option(METHOD.names, raw.method);
    app.add_option(QUANTIZE.names, raw.quantize);
    app.add_option(COEFFICIENTS.names, raw.coefficients);
    app.add_option(COEFFICIENTS_FORMAT.names, raw.coefficients_format);
    // Known on batch lines too, so that they are refused by name rather than as unknown.
    app.add_option(FORMAT.names, raw.format);
    app.add_option(BATCH.names, raw.batch);
    app.add_flag("-h,--help", raw.help);
    app.add_flag("-V,--version", raw.version);
    app.add_option("rates", raw.positionals);

    std::reverse(args.begin(), args.end());  // CLI11 takes the list last argument first
    try {
        app.parse(args);
    } catch (const CLI::ArgumentMismatch& error) {
        // "--stages: 1 required TEXT missing": a value option at the end of the list.
        const std::string what = error.what();
        for (const ValueOption& option : VALUE_OPTIONS) {
            const std::string name = option.long_name;
            if (what.rfind(name + ":", 0) == 0 ||
                what.find(" " + name + ":") != std::string::npos) {
                return UsageError{"option '" + name + "' needs a value: " + option.accepted};
            }
        }
        return UsageError{what};
    } catch (const CLI::ParseError& error) {
        return UsageError{error.what()};
    }
    for (const std::string& extra : app.remaining()) {
        if (extra == "--") continue;
        return UsageError{"unrecognized option '" + extra + "'"};
    }
    if (!command_line) {
        const char* refused = nullptr;
        if (app.count("--format") > 0) refused = "--format";
        if (app.count("--batch") > 0) refused = "--batch";
        if (raw.help) refused = "--help";
        if (raw.version) refused = "--version";
        if (refused != nullptr) {
            return UsageError{std::string("option '") + refused +
                              "' is accepted on the command line only"};
        }
    }
    return std::nullopt;
}

template <typename T>
std::optional<T> from_names(const std::string& text,
                            std::initializer_list<std::pair<const char*, T>> names) {
    for (const auto& [name, value] : names) {
        if (text == name) return value;
    }
    return std::nullopt;
}

/// Reads the values of the options that a batch line may give too.
std::optional<UsageError> read_layer(const RawOptions& raw, const CLI::App& app,
                                     OptionLayer& layer) {
    const auto given = [&app](const ValueOption& option) {
        return app.count(option.long_name) > 0;
    };
    if (given(STAGES)) {
        layer.stages = from_names<int>(
            raw.stages, {{"1", 1}, {"2", 2}, {"3", 3}, {"4", 4}, {"auto", auto_stages}});
        if (!layer.stages) return invalid_value(STAGES, raw.stages);
    }
    if (given(MODE)) {
        layer.mode = from_names<SearchMode>(raw.mode, {{"minimal-sum", SearchMode::minimal_sum},
                                                       {"custom-limit", SearchMode::custom_limit},
                                                       {"min-cost", SearchMode::min_cost},
                                                       {"best-accuracy", SearchMode::best_accuracy}});
        if (!layer.mode) return invalid_value(MODE, raw.mode);
    }
    if (given(LIMIT)) {
        layer.limit = parse_limit(raw.limit);
        if (!layer.limit) return invalid_value(LIMIT, raw.limit);
    }
    if (given(TARGET)) {
        layer.target_hz = parse_rate(raw.target);
        if (!layer.target_hz) return invalid_value(TARGET, raw.target);
    }
    if (given(PRIORITY)) {
        layer.priority = from_names<Priority>(raw.priority, {{"strict", Priority::strict},
                                                             {"final", Priority::final},
                                                             {"balanced", Priority::balanced},
                                                             {"ignore", Priority::ignore}});
        if (!layer.priority) return invalid_value(PRIORITY, raw.priority);
    }
    const auto frequency = [&](const ValueOption& option, const std::string& text,
                               std::optional<double>& out) -> std::optional<UsageError> {
        if (!given(option)) return std::nullopt;
        out = parse_frequency(text);
        if (!out || !std::isfinite(*out) || *out <= 0.0) return invalid_value(option, text);
        return std::nullopt;
    };
    const auto decibels = [&](const ValueOption& option, const std::string& text,
                              std::optional<double>& out) -> std::optional<UsageError> {
        if (!given(option)) return std::nullopt;
        out = parse_decibels(text);
        if (!out) return invalid_value(option, text);
        return std::nullopt;
    };
    if (auto error = frequency(PASSBAND, raw.passband, layer.passband_hz)) return error;
    if (auto error = frequency(STOPBAND, raw.stopband, layer.stopband_hz)) return error;
    if (auto error = decibels(ATTENUATION, raw.attenuation, layer.attenuation_db)) return error;
    if (auto error = decibels(RIPPLE, raw.ripple, layer.ripple_db)) return error;
    if (given(TOLERANCE)) {
        layer.tolerance = parse_tolerance(raw.tolerance);
        if (!layer.tolerance) return invalid_value(TOLERANCE, raw.tolerance);
    }
    if (raw.allow_first_decimation && raw.no_first_decimation) {
        return UsageError{
            "options '--allow-first-decimation' and '--no-first-decimation' contradict each "
            "other"};
    }
    if (raw.allow_first_decimation) layer.allow_first_decimation = true;
    if (raw.no_first_decimation) layer.allow_first_decimation = false;
    if (raw.cost) layer.cost = true;
    if (raw.design) layer.design = true;
    if (given(METHOD)) {
        layer.method = from_names<DesignMethod>(raw.method,
                                                {{"kaiser", DesignMethod::kaiser},
                                                 {"equiripple", DesignMethod::equiripple},
                                                 {"auto", DesignMethod::automatic}});
        if (!layer.method) return invalid_value(METHOD, raw.method);
    }
    if (given(QUANTIZE)) {
        layer.quantize_bits = parse_quantize_bits(raw.quantize);
        if (!layer.quantize_bits) return invalid_value(QUANTIZE, raw.quantize);
    }
    if (given(COEFFICIENTS)) {
        if (raw.coefficients.empty()) return invalid_value(COEFFICIENTS, raw.coefficients);
        layer.coefficients_file = raw.coefficients;
    }
    if (given(COEFFICIENTS_FORMAT)) {
        layer.coefficients_format = from_names<records::CoefficientFormat>(
            raw.coefficients_format, {{"json", records::CoefficientFormat::json},
                                      {"csv", records::CoefficientFormat::csv},
                                      {"c", records::CoefficientFormat::c},
                                      {"c-header", records::CoefficientFormat::c}});
        if (!layer.coefficients_format) {
            return invalid_value(COEFFICIENTS_FORMAT, raw.coefficients_format);
        }
    }

    if (raw.positionals.size() > 2) {
        return UsageError{"unexpected argument '" + raw.positionals[2] +
                          "': a request takes two rates, INPUT_RATE and OUTPUT_RATE"};
    }
    const char* const names[] = {"INPUT_RATE", "OUTPUT_RATE"};
    std::optional<double>* const rates[] = {&layer.input_rate_hz, &layer.output_rate_hz};
    for (std::size_t i = 0; i < raw.positionals.size(); ++i) {
        *rates[i] = parse_rate(raw.positionals[i]);
        if (!*rates[i]) {
            return UsageError{"invalid " + std::string(names[i]) + " '" + raw.positionals[i] +
                              "': expected " + RATE_ACCEPTED};
        }
    }
    return std::nullopt;
}

/// Refuses an argument list that lacks a rate.
std::optional<UsageError> require_rates(const OptionLayer& layer) {
    if (!layer.input_rate_hz) return UsageError{"missing INPUT_RATE and OUTPUT_RATE"};
    if (!layer.output_rate_hz) return UsageError{"missing OUTPUT_RATE"};
    return std::nullopt;
}

}  // namespace

std::variant<CommandLine, UsageError> parse_command_line(const std::vector<std::string>& args) {
    RawOptions raw;
    CLI::App app;
    if (auto error = read_raw(args, true, raw, app)) return *error;
    CommandLine command;
    command.help = raw.help;
    command.version = raw.version;
    if (command.help || command.version) return command;
    if (auto error = read_layer(raw, app, command.options)) return *error;
    if (app.count("--format") > 0) {
        const auto format = from_names<Format>(
            raw.format, {{"text", Format::text}, {"json", Format::json}, {"csv", Format::csv}});
        if (!format) return invalid_value(FORMAT, raw.format);
        command.format = *format;
    }
    if (app.count("--batch") > 0) {
        if (raw.batch.empty()) return invalid_value(BATCH, raw.batch);
        command.batch_file = raw.batch;
        if (!raw.positionals.empty()) {
            return UsageError{"unexpected argument '" + raw.positionals.front() +
                              "': with --batch the rates go on the lines of the file"};
        }
        // Every line writes its own coefficient file: a default name must tell them apart.
        if (command.options.coefficients_file &&
            command.options.coefficients_file->find("{line}") == std::string::npos) {
            return UsageError{"option '--coefficients' with --batch needs {line} in the file "
                              "name, which each line's number replaces"};
        }
        // The defaults may hold two-stage options for the lines that ask for two stages;
        // only options that contradict each other on the command line are refused here.
        if (auto error =
                check_option_conflicts(command.options, command.options.stages.value_or(2))) {
            return *error;
        }
        return command;
    }
    if (auto error = require_rates(command.options)) return *error;
    return command;
}

std::variant<OptionLayer, UsageError> parse_batch_line(const std::vector<std::string>& args) {
    RawOptions raw;
    CLI::App app;
    if (auto error = read_raw(args, false, raw, app)) return *error;
    OptionLayer layer;
    if (auto error = read_layer(raw, app, layer)) return *error;
    if (auto error = require_rates(layer)) return *error;
    return layer;
}

}  // namespace quillmere::cli
