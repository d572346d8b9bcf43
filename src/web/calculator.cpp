#include "web/calculator.h"

#include <algorithm>
#include <cmath>
#include <span>
#include <utility>
#include <variant>

#include "records/coefficient_files.h"
#include "records/option_values.h"
#include "records/records.h"
#include "records/request_resolution.h"
#include "records/solving.h"
#include "records/values.h"

namespace quillmere::web {

namespace {

constexpr DesignMethod METHODS[] = {DesignMethod::automatic, DesignMethod::kaiser,
                                    DesignMethod::equiripple};

/// The design options of the page's fields "method" and "quantize" (the command line has
/// no such options yet); a refusal names the field.
std::optional<Refusal> read_design_option(const OptionText& option, DesignOptions& design) {
    if (option.name == "method") {
        for (const DesignMethod method : METHODS) {
            if (option.text == design_method_name(method)) {
                design.method = method;
                return std::nullopt;
            }
        }
        return Refusal{option.name, "invalid value '" + option.text +
                                        "' for --method: expected auto, kaiser or equiripple"};
    }
    // The bits as an integer; design_filters refuses those out of its range.
    const std::optional<std::int64_t> bits = records::parse_limit(option.text);
    if (!bits) {
        return Refusal{option.name, "invalid value '" + option.text +
                                        "' for --quantize: expected an integer from 8 to 32"};
    }
    design.quantize_bits = static_cast<int>(*bits);
    return std::nullopt;
}

/// The stages of a record's factors; empty when it has none.
std::vector<Stage> record_stages(const records::Record& record) {
    if (record.single && record.single->status == Status::ok) return {record.single->stage};
    if (record.two && record.two->status == Status::ok) {
        return {record.two->first, record.two->second};
    }
    if (record.plan && record.plan->status == Status::ok) return record.plan->stages;
    return {};
}

DesignPlot design_plot(const FilterDesign& design) {
    DesignPlot plot;
    plot.status = status_name(design.status);
    plot.message = design.message;
    plot.method = design_method_name(design.method);
    plot.passband_hz = design.passband_hz;
    plot.stopband_hz = design.stopband_hz;
    plot.attenuation_db = design.attenuation_db;
    plot.ripple_db = design.ripple_db;
    plot.measured_ripple_db = design.measured.ripple_db;
    plot.measured_attenuation_db = design.measured.attenuation_db;
    plot.meets_spec = design.meets_spec;
    plot.quantized = design.quantized.has_value();
    for (const StageDesign& stage : design.stages) {
        StagePlot s;
        s.l = static_cast<double>(stage.stage.l);
        s.m = static_cast<double>(stage.stage.m);
        s.input_rate_hz = stage.input_rate_hz;
        s.output_rate_hz = stage.output_rate_hz;
        s.upsampled_rate_hz = stage.upsampled_rate_hz;
        s.filter = stage_filter_name(stage.filter);
        s.halfband = stage.halfband;
        s.taps = static_cast<double>(stage.taps);
        s.nonzero_taps = static_cast<double>(stage.nonzero_taps);
        s.passband_hz = stage.passband_hz;
        s.stopband_hz = stage.stopband_hz;
        s.target_ripple_db = stage.target_ripple_db;
        s.target_attenuation_db = stage.target_attenuation_db;
        s.ripple_db = stage.measured.ripple_db;
        s.attenuation_db = stage.measured.attenuation_db;
        s.meets_spec = stage.measured.meets_spec;
        plot.stages.push_back(std::move(s));
    }
    return plot;
}

bool record_stopped(const records::Record& record) {
    return (record.single && record.single->status == Status::stopped) ||
           (record.two && record.two->status == Status::stopped);
}

}  // namespace

Calculator::Calculator(const std::atomic<bool>* stop, SearchObserver* observer)
    : stop_(stop), observer_(observer) {}

Answer Calculator::solve(const std::vector<OptionText>& options) {
    Answer answer;
    stages_.clear();
    design_.reset();

    // Every option on its own first, so that each refused field says so at once.
    records::OptionLayer layer;
    DesignOptions design_options;
    for (const OptionText& option : options) {
        if (option.name == "method" || option.name == "quantize") {
            if (auto refusal = read_design_option(option, design_options)) {
                answer.refusals.push_back(std::move(*refusal));
            }
        } else if (auto error = records::read_option(option.name, option.text, layer)) {
            answer.refusals.push_back(Refusal{option.name, std::move(error->message)});
        }
    }
    if (!answer.refusals.empty()) return answer;

    // Then the request as a whole, as the command line makes and checks it.
    if (!layer.input_rate_hz || !layer.output_rate_hz) {
        answer.refusals.push_back(Refusal{layer.input_rate_hz ? "OUTPUT_RATE" : "INPUT_RATE",
                                          layer.input_rate_hz
                                              ? "missing OUTPUT_RATE"
                                              : "missing INPUT_RATE and OUTPUT_RATE"});
        return answer;
    }
    const auto resolved = records::resolve_request(layer, nullptr);
    if (const auto* error = std::get_if<records::UsageError>(&resolved)) {
        answer.refusals.push_back(Refusal{"", error->message});
        return answer;
    }
    const records::ResolvedRequest& request = std::get<records::ResolvedRequest>(resolved);
    if (const auto error = records::check_with_library(request)) {
        answer.refusals.push_back(Refusal{"", error->message});
        return answer;
    }

    SolveOptions solve_options;
    solve_options.stop_flag = stop_;
    solve_options.observer = observer_;
    const records::Record record = records::solve(request, solve_options);
    if (record_stopped(record)) {
        answer.stopped = true;
        return answer;
    }
    answer.json = records::format_json(record);
    answer.text = records::format_text(record);
    stages_ = record_stages(record);
    answer.designable = !stages_.empty();
    input_rate_hz_ = request.plan.input_rate_hz;
    filter_ = request.filter;
    design_options_ = design_options;
    return answer;
}

DesignPlot Calculator::design() {
    design_.reset();
    if (stages_.empty()) return {};
    DesignOptions options = design_options_;
    options.stop_flag = stop_;
    FilterDesign filters = design_filters(input_rate_hz_, stages_, filter_, options);
    DesignPlot plot = design_plot(filters);
    if (filters.status == Status::ok) design_ = std::move(filters);
    return plot;
}

std::vector<double> Calculator::response_db(int stage, double to_hz, int points,
                                            bool rounded) const {
    if (!design_ || stage < 0 || points < 2 ||
        static_cast<std::size_t>(stage) >= design_->stages.size()) {
        return {};
    }
    const StageDesign& designed = design_->stages[static_cast<std::size_t>(stage)];
    const auto gain = static_cast<double>(designed.stage.l);
    const auto count = static_cast<std::size_t>(points);
    if (!rounded) {
        return magnitude_response_db(designed.coefficients, gain, designed.upsampled_rate_hz,
                                     to_hz, count);
    }
    if (!designed.quantized) return {};
    const QuantizedFilter& quantized = *designed.quantized;
    std::vector<double> values(quantized.integers.size());
    std::transform(quantized.integers.begin(), quantized.integers.end(), values.begin(),
                   [&](std::int32_t integer) {
                       return std::ldexp(static_cast<double>(integer), -quantized.scale_exponent);
                   });
    return magnitude_response_db(values, gain, designed.upsampled_rate_hz, to_hz, count);
}

std::string Calculator::coefficient_file(const std::string& format,
                                         const std::string& file_name) const {
    if (!design_) return {};
    records::OptionLayer layer;
    if (records::read_option("coefficients-format", format, layer) || !layer.coefficients_format) {
        return {};
    }
    return records::coefficient_file(*design_, *layer.coefficients_format, file_name);
}

}  // namespace quillmere::web
