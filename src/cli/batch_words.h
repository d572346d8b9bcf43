// The words of a batch line, split as a shell splits simple quoting.
#pragma once

#include <string>
#include <variant>
#include <vector>

#include "cli/options.h"

namespace quillmere::cli {

/// Splits a batch line into words as a shell does for simple quoting: blanks separate
/// words, '...' keeps everything, "..." keeps everything but \" and \\, and a backslash
/// outside quotes keeps the next character. Refuses an unterminated quote.
std::variant<std::vector<std::string>, UsageError> split_words(const std::string& line);

}  // namespace quillmere::cli
