// The arguments of one request, from the command line or from one line of a batch file,
// and the request they make once the batch defaults are laid under them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "quillmere/quillmere.h"

namespace quillmere::cli {

/// How results are written.
enum class Format { text, json, csv };

/// What one argument list says, option by option; empty where it says nothing.
struct OptionLayer {
    std::optional<int> stages;
    std::optional<SearchMode> mode;
    std::optional<std::int64_t> limit;
    std::optional<bool> allow_first_decimation;
    std::optional<double> target_hz;
    std::optional<Priority> priority;
    std::optional<bool> cost;
    std::optional<double> passband_hz;
    std::optional<double> stopband_hz;
    std::optional<double> attenuation_db;
    std::optional<double> ripple_db;
    /// The rates as given; both or neither.
    std::optional<double> input_rate_hz;
    std::optional<double> output_rate_hz;
};

/// A refused argument list: one line naming the argument and what is accepted.
struct UsageError {
    std::string message;
};

/// The command line as understood.
struct CommandLine {
    bool help = false;
    bool version = false;
    Format format = Format::text;
    /// The batch file ("-" for standard input); absent for a single request.
    std::optional<std::string> batch_file;
    /// The options; in batch mode the defaults of every line.
    OptionLayer options;
};

/// Reads the program's arguments (without the program name).
std::variant<CommandLine, UsageError> parse_command_line(const std::vector<std::string>& args);

/// Reads the arguments of one batch line; the options of the command line alone (--batch,
/// --format, --help, --version) are refused here.
std::variant<OptionLayer, UsageError> parse_batch_line(const std::vector<std::string>& args);

/// One request, complete and checked against the conflicts the options can have.
struct ResolvedRequest {
    int stages = 1;
    /// The one-stage request (stages == 1).
    SingleStageRequest single;
    /// The two-stage request (stages == 2); its filter is the one the cost uses.
    TwoStageRequest two;
    /// Whether the filter cost is wanted.
    bool cost = false;
    /// The filter requirements for the cost (and the min-cost mode).
    FilterSpec filter;
};

/// Makes the request of `top` (the command line of a single request, or a batch line)
/// over `defaults` (the batch command line's options; null for a single request).
/// Defaults that do not apply to the request (two-stage options on a one-stage line)
/// are left out; options of `top` that do not apply are refused.
std::variant<ResolvedRequest, UsageError> resolve_request(const OptionLayer& top,
                                                          const OptionLayer* defaults);

/// Splits a batch line into words as a shell does for simple quoting: blanks separate
/// words, '...' keeps everything, "..." keeps everything but \" and \\, and a backslash
/// outside quotes keeps the next character. Refuses an unterminated quote.
std::variant<std::vector<std::string>, UsageError> split_words(const std::string& line);

}  // namespace quillmere::cli
