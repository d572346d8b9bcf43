// The arguments read with CLI11: the shape of the argument list (names, =value, --, short
// forms) from CLI11, the values by this program, so that every refusal names what is
// accepted.
#include "cli/argument_parser.h"

#include <algorithm>
#include <cstddef>
#include <initializer_list>
#include <iterator>
#include <string>
#include <string_view>
#include <utility>

// CLI11 only through here: the out-of-memory handler is in place before its objects.
#include "cli/cli11.h"
#include "records/option_values.h"
#include "records/request_resolution.h"

namespace quillmere::cli {

namespace {

/// Each option with a value: its names, and what it accepts (for a request's options, what
/// records::request_options() says).
struct ValueOption {
    const char* names = nullptr;  ///< CLI11 names, short form first
    const char* long_name = nullptr;
    const char* accepted = nullptr;
};

constexpr ValueOption STAGES{"-s,--stages", "--stages"};
constexpr ValueOption MODE{"-m,--mode", "--mode"};
constexpr ValueOption LIMIT{"-l,--limit", "--limit"};
constexpr ValueOption TARGET{"-t,--target", "--target"};
constexpr ValueOption PRIORITY{"-p,--priority", "--priority"};
constexpr ValueOption PASSBAND{"--passband", "--passband"};
constexpr ValueOption STOPBAND{"--stopband", "--stopband"};
constexpr ValueOption ATTENUATION{"--attenuation", "--attenuation"};
constexpr ValueOption RIPPLE{"--ripple", "--ripple"};
constexpr ValueOption METHOD{"--method", "--method"};
constexpr ValueOption QUANTIZE{"--quantize", "--quantize"};
constexpr ValueOption COEFFICIENTS{"--coefficients", "--coefficients"};
constexpr ValueOption COEFFICIENTS_FORMAT{"--coefficients-format", "--coefficients-format"};
constexpr ValueOption TOLERANCE{"--tolerance", "--tolerance"};
constexpr ValueOption FORMAT{"-f,--format", "--format", "text, json or csv"};
constexpr ValueOption BATCH{"-b,--batch", "--batch", "a file name, or - for standard input"};

constexpr ValueOption VALUE_OPTIONS[] = {STAGES,   MODE,        LIMIT,        TARGET,
                                         PRIORITY, PASSBAND,    STOPBAND,     ATTENUATION,
                                         RIPPLE,   TOLERANCE,   FORMAT,       BATCH,
                                         METHOD,   QUANTIZE,    COEFFICIENTS, COEFFICIENTS_FORMAT};

/// The option's name as the records name it ("stages" for --stages).
std::string_view record_name(const ValueOption& option) {
    return std::string_view(option.long_name).substr(2);
}

std::string accepted(const ValueOption& option) {
    if (option.accepted != nullptr) return option.accepted;
    for (const records::RequestOption& known : records::request_options()) {
        if (record_name(option) == known.name && known.accepted != nullptr) return known.accepted;
    }
    return {};
}

UsageError invalid_value(const ValueOption& option, const std::string& value) {
    return UsageError{"invalid value '" + value + "' for " + option.long_name + ": expected " +
                      accepted(option)};
}

/// The options without a value, long and short names.
struct FlagOption {
    const char* long_name = nullptr;
    char short_name = 0;
};

constexpr FlagOption FLAG_OPTIONS[] = {
    {"--allow-first-decimation", 'a'}, {"--no-first-decimation", 0}, {"--cost", 'c'},
    {"--design", 0}, {"--help", 'h'}, {"--version", 'V'}};

const ValueOption* value_option_named(std::string_view name) {
    for (const ValueOption& option : VALUE_OPTIONS) {
        if (name == option.long_name) return &option;
    }
    return nullptr;
}

bool is_value_option_letter(char letter) {
    for (const ValueOption& option : VALUE_OPTIONS) {
        const std::string_view names = option.names;
        if (names.size() > 3 && names[0] == '-' && names[1] == letter && names[2] == ',') {
            return true;
        }
    }
    return false;
}

bool is_flag_letter(char letter) {
    return std::any_of(std::begin(FLAG_OPTIONS), std::end(FLAG_OPTIONS),
                       [letter](const FlagOption& flag) { return flag.short_name == letter; });
}

UsageError flag_with_value(const std::string& name, const std::string& value) {
    return UsageError{"option '" + name + "' takes no value, but was given '" + value + "'"};
}

/// The arguments as CLI11 gets them, and the refusals of what CLI11 reads otherwise than
/// meant: "--name=value" of a value option becomes "--name" "value", so that an empty value
/// stays a value instead of taking the next word; a flag given a value, and a word of three
/// dashes, are refused. Words after "--" are left as they are.
std::variant<std::vector<std::string>, UsageError> prepared(std::vector<std::string> args) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string word = args[i];
        if (word == "--") break;
        if (word.rfind("---", 0) == 0) return UsageError{"unrecognized option '" + word + "'"};
        if (word.rfind("--", 0) == 0) {
            const std::size_t equals = word.find('=');
            const std::string name = word.substr(0, equals);
            if (equals != std::string::npos) {
                for (const FlagOption& flag : FLAG_OPTIONS) {
                    if (name == flag.long_name)
                        return flag_with_value(name, word.substr(equals + 1));
                }
                if (value_option_named(name) != nullptr) {
                    args[i] = name;
                    args.insert(args.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                                word.substr(equals + 1));
                    ++i;
                }
            } else if (value_option_named(name) != nullptr) {
                ++i;  // its value, whatever it looks like
            }
            continue;
        }
        if (word.size() < 2 || word[0] != '-') continue;
        // Short options run together: flags, then at most one option with a value, which
        // takes the rest of the word or the next word.
        for (std::size_t at = 1; at < word.size(); ++at) {
            if (is_value_option_letter(word[at])) {
                if (at + 1 == word.size()) ++i;
                break;
            }
            if (!is_flag_letter(word[at])) break;  // CLI11 names it
            if (at + 1 < word.size() && word[at + 1] == '=') {
                return flag_with_value(std::string("-") + word[at], word.substr(at + 2));
            }
        }
    }
    return args;
}

/// The text of a named value, without blanks at either end (as numbers are read).
std::string without_blanks(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t\n\v\f\r");
    if (first == std::string::npos) return {};
    const std::size_t last = text.find_last_not_of(" \t\n\v\f\r");
    return text.substr(first, last - first + 1);
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

/// The options of a request that take a value, with where their text goes, in the order of
/// the help: the first refused is the one reported.
struct RequestValue {
    const ValueOption& option;
    std::string RawOptions::*text;
};

const RequestValue REQUEST_VALUES[] = {
    {STAGES, &RawOptions::stages},
    {MODE, &RawOptions::mode},
    {LIMIT, &RawOptions::limit},
    {TARGET, &RawOptions::target},
    {PRIORITY, &RawOptions::priority},
    {PASSBAND, &RawOptions::passband},
    {STOPBAND, &RawOptions::stopband},
    {ATTENUATION, &RawOptions::attenuation},
    {RIPPLE, &RawOptions::ripple},
    {TOLERANCE, &RawOptions::tolerance},
    {METHOD, &RawOptions::method},
    {QUANTIZE, &RawOptions::quantize},
    {COEFFICIENTS, &RawOptions::coefficients},
    {COEFFICIENTS_FORMAT, &RawOptions::coefficients_format},
};

/// CLI11 reads the shape of the arguments (names, =value, --, short forms); the values
/// are read by this program, so every refusal names what is accepted.
std::optional<UsageError> read_raw(std::vector<std::string> given, bool command_line,
                                   RawOptions& raw, CLI::App& app) {
    auto prepared_args = prepared(std::move(given));
    if (auto* error = std::get_if<UsageError>(&prepared_args)) return *error;
    std::vector<std::string>& args = std::get<std::vector<std::string>>(prepared_args);
    app.set_help_flag();
    app.allow_extras();
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    for (const RequestValue& value : REQUEST_VALUES) {
        app.add_option(value.option.names, raw.*value.text);
    }
    app.add_flag("-a,--allow-first-decimation", raw.allow_first_decimation);
    app.add_flag("--no-first-decimation", raw.no_first_decimation);
    app.add_flag("-c,--cost", raw.cost);
    app.add_flag("--design", raw.design);
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
                return UsageError{"option '" + name + "' needs a value: " + accepted(option)};
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
    const std::string name_given = without_blanks(text);
    for (const auto& [name, value] : names) {
        if (name_given == name) return value;
    }
    return std::nullopt;
}

/// Reads the values of the options that a batch line may give too, each as the records
/// read an option by its name, in the order of the help: the first refused is reported.
std::optional<UsageError> read_layer(const RawOptions& raw, const CLI::App& app,
                                     OptionLayer& layer) {
    for (const RequestValue& value : REQUEST_VALUES) {
        if (app.count(value.option.long_name) == 0) continue;
        if (auto error = records::read_option(record_name(value.option), raw.*value.text, layer)) {
            return error;
        }
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

    // The rates first: a word in their place that is no rate is named as the rate it
    // stands for, before any word too many.
    const char* const names[] = {"INPUT_RATE", "OUTPUT_RATE"};
    for (std::size_t i = 0; i < raw.positionals.size() && i < 2; ++i) {
        if (auto error = records::read_option(names[i], raw.positionals[i], layer)) return error;
    }
    if (raw.positionals.size() > 2) {
        return UsageError{"unexpected argument '" + raw.positionals[2] +
                          "': a request takes two rates, INPUT_RATE and OUTPUT_RATE"};
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
