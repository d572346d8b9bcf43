// The designed filters as files a resampler can load: JSON, CSV in long form, or a C
// header. Each writer returns the file's text; the front end writes it where it should go.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "records/request_options.h"
#include "quillmere/quillmere.h"

namespace quillmere::records {

/// The file name of a batch line: every "{line}" replaced by the line number (none
/// replaced without a line).
std::string coefficient_file_name(std::string_view pattern, std::optional<std::int64_t> line);

/// JSON: {"input_rate_hz", "output_rate_hz", "filter": {"passband_hz", "stopband_hz",
/// "attenuation_db", "ripple_db"}, "stages": [{"l", "m", "input_rate_hz", "output_rate_hz",
/// "method", "halfband", "taps", "nonzero_taps", "group_delay_samples", "passband_hz",
/// "stopband_hz", "target_ripple_db", "target_attenuation_db" (the edges and targets the
/// stage was designed and measured for), "coefficients",
/// "measured": {"ripple_db", "attenuation_db", "peak_gain_db", "meets_spec"}, "quantized":
/// null or {"bits", "scale_exponent", "integers", "measured", "bits_needed"}}]}, one stage per
/// stage of the cascade (a pass-through stage with method "none" and no coefficients). The
/// coefficients are the prototype in time order with DC gain L; every number reads back as
/// the same double. One line, ending in a newline.
std::string coefficients_json(const FilterDesign& design);

/// CSV in long form: the header "stage,index,phase,coefficient" (with rounding also
/// ",integer,scale_exponent"), then one row per coefficient of every filtered stage: the
/// stage from 1, the index from 0 in time order, the polyphase phase index mod L, and the
/// coefficient as the shortest text that reads back as the same double (and its integer,
/// coefficient ~ integer x 2^-scale_exponent). Lines end in LF.
std::string coefficients_csv(const FilterDesign& design);

/// A C header that compiles as C and as C++: an include guard and, for the cascade and each
/// stage, #defines of the rates, L, M and the taps, and one array per filtered stage in time
/// order: `static const double` (every value reads back as the same double), or with
/// rounding `int16_t` (up to 16 bits) or `int32_t` with the scale as a macro. `name` is the
/// prefix of every identifier (made a C identifier: see c_identifier), for example the file
/// name without its extension.
std::string coefficients_c_header(const FilterDesign& design, std::string_view name);

/// `text` as a C identifier: letters, digits and underscores, others replaced by '_',
/// with an 'h' added before a leading digit; "coefficients" for an empty text.
std::string c_identifier(std::string_view text);

/// The file's text in the given format; `file_name` names the header's identifiers.
std::string coefficient_file(const FilterDesign& design, CoefficientFormat format,
                             std::string_view file_name);

}  // namespace quillmere::records
