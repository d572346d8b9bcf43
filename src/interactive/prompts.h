// Prompts: each asks until the line is accepted (Status::ok), a stop is requested
// (Status::stopped) or the console fails (Status::calculation_error, already reported);
// refusals go to standard error.
#pragma once

#include <span>
#include <string>

#include "quillmere/quillmere.h"

namespace quillmere::interactive {

/// Writes a refusal text to standard error as it is and flushes it.
void write_refusal(const std::string& refusal);

/// A sample rate: finite, 1.0 <= value <= 1e13.
Status get_positive_double(const char* prompt, double& out);
/// One of the allowed integers; Status::invalid_request, nothing asked, when none is allowed.
Status get_specific_integer(const char* prompt, std::span<const int> allowed, int& out);
/// A positive 64-bit integer.
Status get_positive_long_long(const char* prompt, long long& out);

/// A yes/no answer: `answer` is true only when the user said yes; an empty line means no.
/// After a console failure the question is not asked again: a console that always fails
/// must not hold the program.
Status get_confirmation(const char* prompt, bool& answer);

}  // namespace quillmere::interactive
