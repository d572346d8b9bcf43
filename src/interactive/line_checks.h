// Checks of one typed line, exactly as the prompts apply them. Each returns Status::ok
// when the line is accepted, or Status::invalid_request with the refusal text (leading
// and trailing newlines included) in `refusal`; a null line is refused with an empty
// refusal. The value is stored as the prompt stores it, so it may hold a refused number.
#pragma once

#include <optional>
#include <span>
#include <string>

#include "quillmere/quillmere.h"

namespace quillmere::interactive {

/// A sample rate: finite, 1.0 <= value <= 1e13.
Status check_positive_double(const char* line, double& value, std::string& refusal);
/// An int that equals one of the entries of `allowed` (which must not be empty).
Status check_specific_integer(const char* line, std::span<const int> allowed, int& value,
                              std::string& refusal);
/// A 64-bit integer >= 1.
Status check_positive_long_long(const char* line, long long& value, std::string& refusal);

/// How a line answers a yes/no question.
enum class ConfirmationAnswer {
    no,       ///< "n" or "N", or nothing but white space
    yes,      ///< "y" or "Y"
    refused,  ///< anything else; the question is asked again
};

/// Reads a yes/no answer; `refusal` gets the message for ConfirmationAnswer::refused and
/// is emptied otherwise.
ConfirmationAnswer check_confirmation(const char* line, std::string& refusal);

/// The dialog's search mode question: an empty answer selects minimal sum and sets
/// `is_default`; otherwise 1 (minimal sum) or 2 (custom limit).
Status check_search_mode_answer(const char* line, SearchMode& mode, bool& is_default,
                                std::string& refusal);
/// The dialog's intermediate target question: an empty answer skips the target (empty
/// `target`); otherwise a finite rate 1.0 <= value <= 1e13.
Status check_target_rate_answer(const char* line, std::optional<double>& target,
                                std::string& refusal);

}  // namespace quillmere::interactive
