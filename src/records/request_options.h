// What one request's options say, as the command line, a batch line, the web page or the
// Python module gives them: each option present or absent, before the defaults.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "quillmere/quillmere.h"

namespace quillmere::records {

/// The formats of a coefficient file (--coefficients-format).
enum class CoefficientFormat { json, csv, c };

/// What one argument list says, option by option; empty where it says nothing.
struct OptionLayer {
    /// 1 to 4, or auto_stages (0).
    std::optional<int> stages;
    std::optional<SearchMode> mode;
    std::optional<std::int64_t> limit;
    /// True for --allow-first-decimation, false for --no-first-decimation.
    std::optional<bool> allow_first_decimation;
    /// The relative tolerance on the output rate.
    std::optional<double> tolerance;
    std::optional<double> target_hz;
    std::optional<Priority> priority;
    std::optional<bool> cost;
    std::optional<double> passband_hz;
    std::optional<double> stopband_hz;
    std::optional<double> attenuation_db;
    std::optional<double> ripple_db;
    std::optional<bool> design;
    std::optional<DesignMethod> method;
    std::optional<int> quantize_bits;
    /// The coefficient file's name as given ({line} not yet replaced).
    std::optional<std::string> coefficients_file;
    std::optional<CoefficientFormat> coefficients_format;
    /// The rates as given; both or neither.
    std::optional<double> input_rate_hz;
    std::optional<double> output_rate_hz;
};

/// A refused request: one line naming the option and what is accepted.
struct UsageError {
    std::string message;
};

}  // namespace quillmere::records
