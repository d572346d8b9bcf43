// What an argument list says: the options of one request, from the command line or from
// one line of a batch file, and the command line as a whole.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

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

}  // namespace quillmere::cli
