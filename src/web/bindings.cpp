// The WebAssembly module's interface (embind): the calculator's types and calls, and the
// page's stop request. Nothing but the crossing into JavaScript lives here.
#include <emscripten/bind.h>
#include <emscripten/emscripten.h>
#include <emscripten/val.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "records/option_values.h"
#include "web/calculator.h"

namespace quillmere::web {

namespace {

// Whether the page has asked the work under way to stop: the worker's JavaScript answers
// from a stop cell the page sets (a SharedArrayBuffer, where the page is cross-origin
// isolated), so a busy worker sees the request without taking a message.
EM_JS(int, page_asks_to_stop, (), {
    return Module["stopRequested"] ? (Module["stopRequested"]() ? 1 : 0) : 0;
});

/// Sets the library's stop flag when the page asks, at every event of a search.
class StopWatch final : public SearchObserver {
public:
    void on_convergent(int, int) override { check(); }
    void on_common_factor_iterations(std::uint64_t) override { check(); }
    void on_pass_done(SearchPass) override { check(); }

    /// Reads the page's request into the flag; true when stopping.
    bool check() {
        if (page_asks_to_stop() != 0) flag.store(true);
        return flag.load();
    }

    std::atomic<bool> flag{false};
};

/// The calculator with its stop flag, as the page's worker holds it.
class WebCalculator {
public:
    WebCalculator() : calculator_(&watch_.flag, &watch_) {}

    Answer solve(const std::vector<OptionText>& options) {
        watch_.flag.store(false);
        watch_.check();
        return calculator_.solve(options);
    }

    DesignPlot design() {
        watch_.flag.store(false);
        watch_.check();
        return calculator_.design();
    }

    std::string coefficients(const std::string& format, const std::string& file_name) const {
        return calculator_.coefficient_file(format, file_name);
    }

    emscripten::val response(int stage, double to_hz, int points, bool rounded) const {
        const std::vector<double> db = calculator_.response_db(stage, to_hz, points, rounded);
        return emscripten::val::global("Float64Array")
            .new_(emscripten::typed_memory_view(db.size(), db.data()));
    }

private:
    StopWatch watch_;
    Calculator calculator_;
};

std::string library_version() {
    return version();
}

/// The names of the request's options, as records::request_options() gives them.
std::vector<std::string> option_names() {
    std::vector<std::string> names;
    for (const records::RequestOption& option : records::request_options()) {
        names.emplace_back(option.name);
    }
    return names;
}

}  // namespace

EMSCRIPTEN_BINDINGS(quillmere) {
    using namespace emscripten;
    value_object<OptionText>("OptionText")
        .field("name", &OptionText::name)
        .field("text", &OptionText::text);
    value_object<Refusal>("Refusal")
        .field("option", &Refusal::option)
        .field("message", &Refusal::message);
    value_object<StagePlot>("StagePlot")
        .field("l", &StagePlot::l)
        .field("m", &StagePlot::m)
        .field("inputRateHz", &StagePlot::input_rate_hz)
        .field("outputRateHz", &StagePlot::output_rate_hz)
        .field("upsampledRateHz", &StagePlot::upsampled_rate_hz)
        .field("filter", &StagePlot::filter)
        .field("halfband", &StagePlot::halfband)
        .field("taps", &StagePlot::taps)
        .field("nonzeroTaps", &StagePlot::nonzero_taps)
        .field("passbandHz", &StagePlot::passband_hz)
        .field("stopbandHz", &StagePlot::stopband_hz)
        .field("targetRippleDb", &StagePlot::target_ripple_db)
        .field("targetAttenuationDb", &StagePlot::target_attenuation_db)
        .field("rippleDb", &StagePlot::ripple_db)
        .field("attenuationDb", &StagePlot::attenuation_db)
        .field("meetsSpec", &StagePlot::meets_spec);
    value_object<DesignPlot>("DesignPlot")
        .field("status", &DesignPlot::status)
        .field("message", &DesignPlot::message)
        .field("method", &DesignPlot::method)
        .field("passbandHz", &DesignPlot::passband_hz)
        .field("stopbandHz", &DesignPlot::stopband_hz)
        .field("attenuationDb", &DesignPlot::attenuation_db)
        .field("rippleDb", &DesignPlot::ripple_db)
        .field("measuredRippleDb", &DesignPlot::measured_ripple_db)
        .field("measuredAttenuationDb", &DesignPlot::measured_attenuation_db)
        .field("meetsSpec", &DesignPlot::meets_spec)
        .field("quantized", &DesignPlot::quantized)
        .field("stages", &DesignPlot::stages);
    value_object<Answer>("Answer")
        .field("refusals", &Answer::refusals)
        .field("stopped", &Answer::stopped)
        .field("json", &Answer::json)
        .field("text", &Answer::text)
        .field("designable", &Answer::designable);
    register_vector<OptionText>("OptionTextList");
    register_vector<Refusal>("RefusalList");
    register_vector<StagePlot>("StagePlotList");
    register_vector<std::string>("StringList");

    class_<WebCalculator>("Calculator")
        .constructor<>()
        .function("solve", &WebCalculator::solve)
        .function("design", &WebCalculator::design)
        .function("response", &WebCalculator::response)
        .function("coefficients", &WebCalculator::coefficients);
    function("version", &library_version);
    function("optionNames", &option_names);
}

}  // namespace quillmere::web
