// The values of the command line, each from its text: rates with k/M/G suffixes, the
// per-stage limit, decibels and the tolerance. Pure functions, no I/O.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quillmere::records {

/// A number of Hz as the dialog reads it (what strtod accepts, blanks around it allowed),
/// optionally followed by k (x1e3), M (x1e6) or G (x1e9): "48000", "44.1k", "2.4M".
/// Empty when the text is no such number; the value is not range-checked here.
std::optional<double> parse_frequency(std::string_view text);

/// The text without blanks at either end (numbers and names are read so).
std::string_view trimmed(std::string_view text);

/// A sample rate or intermediate target: a frequency, finite, 1 Hz to 1e13 Hz inclusive.
std::optional<double> parse_rate(std::string_view text);

/// A per-stage limit: a base-10 integer, 1 to 65535.
std::optional<std::int64_t> parse_limit(std::string_view text);

/// The bits of a quantisation: a base-10 integer, 8 to 32.
std::optional<int> parse_quantize_bits(std::string_view text);

/// A positive, finite number of decibels.
std::optional<double> parse_decibels(std::string_view text);

/// A tolerance on the output rate's relative error: a number (what strtod accepts, "1e-6")
/// or a decimal number of parts per million ("5ppm", "0.5 ppm"), at least 0 and below 1
/// (a tolerance of 1 would accept any rate).
std::optional<double> parse_tolerance(std::string_view text);

}  // namespace quillmere::records
