// Prompts: each asks until the line is accepted, a stop is requested (STATUS_FAILURE)
// or the console fails (STATUS_CALCULATION_ERROR); refusals go to standard error.
#pragma once

#include <string>

#include "interactive/request_record.h"

/// Writes a refusal text to standard error as it is and flushes it.
void write_refusal(const std::string& refusal);

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
