// Status names, the error printer and small integer helpers.
#pragma once

#include "common.h"

/// Display name of a status code; "Unknown Error Code" for unassigned values.
const char* status_code_to_string(int code);

/// Writes a newline, the formatted text and a newline to standard error, then flushes it.
void print_stderr(const char* format, ...)
#if defined(__GNUC__) || defined(__clang__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

/// Prints the label and a parts-per-million value on standard output: "%+.3f PPM",
/// "N/A" for NaN, "+Infinity" or "-Infinity"; ends the line.
void print_ppm_line(const char* label, double ppm);

/// The larger of a and b, a negative value counting as absent (-1 when both are).
long long max_long_long(long long a, long long b);
