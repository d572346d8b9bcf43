// The command line as a whole: its format, its batch file, and the options of its request
// (in batch mode the defaults of every line).
#pragma once

#include <optional>
#include <string>

#include "records/request_options.h"

namespace quillmere::cli {

using records::OptionLayer;
using records::UsageError;

/// How results are written.
enum class Format { text, json, csv };

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
