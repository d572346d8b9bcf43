// Console input: the raw line reader, the validated prompts and the request dialog.
#pragma once

#include <cstddef>
#include <string>

#include "common.h"

/// Size of the line buffer every prompt and the dialog hand to the reader.
constexpr std::size_t INPUT_LINE_SIZE = 256;

/// Reads one line from the console in raw mode, echoing it; prompt may be null.
/// STATUS_SUCCESS: Enter was pressed, the line is in buffer. STATUS_FAILURE: a stop was
/// requested. STATUS_INVALID_INPUT_ERROR: the line filled the buffer and was discarded
/// (already reported). STATUS_CALCULATION_ERROR: the console failed (already reported).
StatusCode read_line_windows_raw(const char* prompt, char* buffer, std::size_t buffer_size);

// ---------------------------------------------------------------------------
// Checks of one typed line, exactly as the prompts apply them. Each returns
// STATUS_SUCCESS when the line is accepted, or STATUS_INVALID_INPUT_ERROR with the
// refusal text (leading and trailing newlines included) in *refusal; null arguments
// give STATUS_INVALID_INPUT_ERROR with an empty refusal. The value is stored as the
// prompt stores it, so it may hold a refused number.
// ---------------------------------------------------------------------------

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

// ---------------------------------------------------------------------------
// Prompts: each asks until the line is accepted, a stop is requested (STATUS_FAILURE)
// or the console fails (STATUS_CALCULATION_ERROR); refusals go to standard error.
// ---------------------------------------------------------------------------

/// A sample rate: finite, 1.0 <= value <= 1e13.
StatusCode get_positive_double(const char* prompt, double* out);
/// One of the allowed integers.
StatusCode get_specific_integer(const char* prompt, const int* allowed, int count, int* out);
/// A positive 64-bit integer.
StatusCode get_positive_long_long(const char* prompt, long long* out);

/// A yes/no answer with the reason when there is none: STATUS_SUCCESS with the answer,
/// STATUS_FAILURE after a stop request, STATUS_CALCULATION_ERROR when the console
/// failed (already reported; the question is not asked again). *answer is false unless
/// the user said yes. Null answer: STATUS_INVALID_INPUT_ERROR, nothing asked.
StatusCode get_confirmation_status(const char* prompt, bool* answer);
/// A yes/no answer; an empty answer, a stop request and a console failure mean no.
bool get_confirmation(const char* prompt);
/// True when the latest get_confirmation call got no answer because the console failed:
/// its caller must then end as after a value prompt's STATUS_CALCULATION_ERROR instead
/// of acting on the "no" (for example end the conversion loop with that status).
bool console_failed_during_confirmation();

/// Fills a conversion request, question by question. STATUS_SUCCESS with the record
/// complete; STATUS_FAILURE on a stop request or when the user gives up the request at
/// the intermediate target warning; STATUS_CALCULATION_ERROR when the console fails
/// (at any question, yes/no questions included); STATUS_INVALID_INPUT_ERROR when
/// inputs is null.
StatusCode get_user_inputs(UserInputs* inputs);
