// The options of one request by their names, each read from its text as the command line
// reads it: what each accepts, and the refusal of a text it does not accept. For the front
// ends that take a request's options as names and texts (the web page's fields and links).
#pragma once

#include <optional>
#include <span>
#include <string_view>

#include "records/request_options.h"

namespace quillmere::records {

/// One option of a request as the command line names it.
struct RequestOption {
    /// The long name without its dashes ("stages", "allow-first-decimation"), or
    /// "INPUT_RATE" and "OUTPUT_RATE" for the two rates.
    const char* name = nullptr;
    /// What its value may be, as a refusal says it; null for a flag, which takes no value.
    const char* accepted = nullptr;
};

/// Every option of a request, the rates first, in the order of the command line's help.
std::span<const RequestOption> request_options();

/// Reads the text of the option `name` (as in request_options()) into `layer`: a value as
/// the command line reads it, a flag as given (its text is not read). A refusal names the
/// option and what it accepts in the command line's words; an unknown name is refused as
/// the command line refuses an unknown option.
std::optional<UsageError> read_option(std::string_view name, std::string_view text,
                                      OptionLayer& layer);

}  // namespace quillmere::records
