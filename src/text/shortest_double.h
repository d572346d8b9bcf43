// Doubles as the shortest text that reads back as the same double, laid out exactly as
// std::to_chars(first, last, value) lays it out, without needing a floating-point
// std::to_chars (which some standard libraries lack). The digits come from printf's
// correctly rounded %e; whether they read back is decided exactly, with integers, not by a
// strtod that may round wrongly (as MinGW's does near some powers of two). Compiled into the
// library and, separately, into the command line, so that it serves both whether the
// library is static or shared with hidden symbols.
#pragma once

#include <cstddef>
#include <string>

namespace quillmere::inline v2::text {

/// Room every double's shortest text fits in ("-2.2250738585072014e-308" is 24 characters).
inline constexpr std::size_t shortest_double_capacity = 32;

/// Writes the shortest text of value to first (room for shortest_double_capacity characters)
/// and returns its end, without a terminating zero. The fewest significant digits that
/// read back as value, the ones nearest value among those; plain (123.5, 0.001) or
/// scientific (1e+22, 1.5e-07), whichever is shorter, plain when both are as long;
/// "inf", "-inf", "nan", "-nan", "0", "-0" as such. Independent of the C locale.
char* write_shortest_double(char* first, double value) noexcept;

/// The shortest text of value, as write_shortest_double writes it.
std::string shortest_double(double value);

}  // namespace quillmere::inline v2::text
