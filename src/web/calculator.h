// The web calculator's side of the library: a request as the page's fields give it (option
// names and texts, as on the command line) solved through the records into the command
// line's JSON record, and the filters designed for the page's plots. Types in, types out;
// every rule is the records' or the library's. The WebAssembly bindings (bindings.cpp)
// hand these to the page's worker.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "quillmere/quillmere.h"

namespace quillmere::web {

/// One option of a request: its name as records::request_options() names it ("INPUT_RATE",
/// "stages", "cost", ...) and its text ("44.1k"; empty for a flag).
struct OptionText {
    std::string name;
    std::string text;
};

/// A refused option or request: the option it concerns when known (a name as in
/// OptionText), else empty; and the message, as the command line gives it.
struct Refusal {
    std::string option;
    std::string message;
};

/// What the page needs to know of a designed stage to draw it and its requirements; the
/// integers as JavaScript numbers (exact up to 2^53).
struct StagePlot {
    double l = 0;
    double m = 0;
    double input_rate_hz = 0.0;
    double output_rate_hz = 0.0;
    double upsampled_rate_hz = 0.0;
    std::string filter;  ///< "none", "kaiser", "equiripple"
    bool halfband = false;
    double taps = 0;
    double nonzero_taps = 0;
    double passband_hz = 0.0;
    double stopband_hz = 0.0;
    double target_ripple_db = 0.0;
    double target_attenuation_db = 0.0;
    double ripple_db = 0.0;
    double attenuation_db = 0.0;
    bool meets_spec = false;
};

/// The design of the plots: its status, the cascade's requirements and measurement, and
/// each stage.
struct DesignPlot {
    std::string status;   ///< status_name() of the design; "" when nothing was designed
    std::string message;  ///< why the design failed
    std::string method;   ///< design_method_name() of the method asked for
    double passband_hz = 0.0;
    double stopband_hz = 0.0;
    double attenuation_db = 0.0;
    double ripple_db = 0.0;
    double measured_ripple_db = 0.0;
    double measured_attenuation_db = 0.0;
    bool meets_spec = false;
    bool quantized = false;
    std::vector<StagePlot> stages;
};

/// The answer to one request.
struct Answer {
    /// Every refused option, or the one refusal of the request; empty when it was solved.
    std::vector<Refusal> refusals;
    /// The search was stopped at the page's request: nothing else is set.
    bool stopped = false;
    /// The record, exactly as `quillmere --format json` writes it (one line and its end).
    std::string json;
    /// The record as `quillmere --format text` writes it: the report.
    std::string text;
    /// Factors were found, so there are filters to design.
    bool designable = false;
};

/// Solves the page's requests one after another, keeping the last request's factors for
/// their design and the last design for its responses. `stop` is read by the library while
/// it works; whoever sets it stops the search or design under way.
class Calculator {
public:
    explicit Calculator(const std::atomic<bool>* stop, SearchObserver* observer = nullptr);

    /// Reads the options, resolves, checks and solves the request as the command line
    /// does (with the page's options "method" and "quantize" for the design, until the
    /// command line has them).
    Answer solve(const std::vector<OptionText>& options);

    /// Designs the filters of the last solved request's factors for the plots.
    DesignPlot design();

    /// The magnitude response of the last design's stage `stage` (from 0) from 0 to to_hz
    /// at `points` points, in dB (magnitude_response_db); of its rounded coefficients when
    /// `rounded`. Empty without such a stage or filter.
    std::vector<double> response_db(int stage, double to_hz, int points, bool rounded) const;

    /// The last design's coefficient file in a format of the command line's
    /// --coefficients-format ("json", "csv", "c"), as the command line writes it, the C
    /// header's identifiers named after `file_name`. Empty without a design or for another
    /// format.
    std::string coefficient_file(const std::string& format, const std::string& file_name) const;

private:
    const std::atomic<bool>* stop_;
    SearchObserver* observer_;
    /// What the last solved request asks to design.
    double input_rate_hz_ = 0.0;
    std::vector<Stage> stages_;
    FilterSpec filter_;
    DesignOptions design_options_;
    std::optional<FilterDesign> design_;
};

}  // namespace quillmere::web
