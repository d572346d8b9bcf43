// The arguments of the program and of batch lines, read into their options (CLI11).
#pragma once

#include <string>
#include <variant>
#include <vector>

#include "cli/options.h"

namespace quillmere::cli {

/// Reads the program's arguments (without the program name).
std::variant<CommandLine, UsageError> parse_command_line(const std::vector<std::string>& args);

/// Reads the arguments of one batch line; the options of the command line alone (--batch,
/// --format, --help, --version) are refused here.
std::variant<OptionLayer, UsageError> parse_batch_line(const std::vector<std::string>& args);

}  // namespace quillmere::cli
