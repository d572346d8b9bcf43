// Checks of one typed line, exactly as the prompts apply them. Each returns
// STATUS_SUCCESS when the line is accepted, or STATUS_INVALID_INPUT_ERROR with the
// refusal text (leading and trailing newlines included) in *refusal; null arguments
// give STATUS_INVALID_INPUT_ERROR with an empty refusal. The value is stored as the
// prompt stores it, so it may hold a refused number.
#pragma once

#include <string>

#include "interactive/request_record.h"

/// A sample rate: finite, 1.0 <= value <= 1e13.
StatusCode check_positive_double(const char* line, double* value, std::string* refusal);
/// An int that equals one of the `count` entries of `allowed`.
StatusCode check_specific_integer(const char* line, const int* allowed, int count, int* value,
                                  std::string* refusal);
/// A 64-bit integer >= 1.
StatusCode check_positive_long_long(const char* line, long long* value, std::string* refusal);

/// How a line answers a yes/no question.
enum ConfirmationAnswer : int {
    CONFIRMATION_NO,       ///< "n" or "N", or nothing but white space
    CONFIRMATION_YES,      ///< "y" or "Y"
    CONFIRMATION_REFUSED,  ///< anything else; the question is asked again
};

/// Reads a yes/no answer; *refusal gets the message for CONFIRMATION_REFUSED.
ConfirmationAnswer check_confirmation(const char* line, std::string* refusal);

/// The dialog's search mode question: an empty answer selects minimal sum and sets
/// *is_default; otherwise 1 or 2.
StatusCode check_search_mode_answer(const char* line, int* search_mode, bool* is_default,
                                    std::string* refusal);
/// The dialog's intermediate target question: an empty answer skips the target
/// (*has_target false, *target 0.0); otherwise a finite rate 1.0 <= value <= 1e13.
StatusCode check_target_rate_answer(const char* line, double* target, bool* has_target,
                                    std::string* refusal);
