// The text of --help.
#pragma once

namespace quillmere::cli {

/// The usage summary that --help prints; fits 80 columns.
extern const char* const HELP_TEXT;

}  // namespace quillmere::cli
