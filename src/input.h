// Console input: the raw line reader, the validated prompts and the request dialog.
#pragma once

#include <cstddef>

#include "common.h"

/// Reads one line from the console in raw mode, echoing it; prompt may be null.
StatusCode read_line_windows_raw(const char* prompt, char* buffer, std::size_t buffer_size);

/// A sample rate: finite, 1.0 <= value <= 1e13.
StatusCode get_positive_double(const char* prompt, double* out);
/// One of the allowed integers.
StatusCode get_specific_integer(const char* prompt, const int* allowed, int count, int* out);
/// A positive 64-bit integer.
StatusCode get_positive_long_long(const char* prompt, long long* out);
/// A yes/no answer; an empty answer, a stop request and a console failure mean no.
bool get_confirmation(const char* prompt);

/// Fills a conversion request, question by question.
StatusCode get_user_inputs(UserInputs* inputs);
