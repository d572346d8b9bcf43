#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "records/records.h"
#include "report/advice.h"
#include "text/shortest_double.h"

namespace quillmere::records {

namespace {

/// The columns, in order; every row has all of them, empty where there is no value.
constexpr std::array COLUMNS = {
    "line", "status", "error",
    // The request
    "input_rate_hz", "output_rate_hz", "stages", "mode", "limit", "allow_first_decimation",
    "target_hz", "priority", "tolerance",
    // The result
    "l1", "m1", "complexity1", "l2", "m2", "complexity2", "l3", "m3", "complexity3", "l4", "m4",
    "complexity4", "ratio", "intermediate_rate_hz",
    "achieved_output_rate_hz", "output_difference_hz", "output_relative_error", "output_ppm",
    "intermediate_difference_hz", "intermediate_relative_error", "intermediate_ppm", "overall_sum",
    "overall_complexity", "advice", "convergents", "common_factor_iterations",
    // The cost (with --cost)
    "passband_hz", "stopband_hz", "attenuation_db", "ripple_db", "taps1", "kaiser_beta1",
    "taps_per_output_sample1", "macs_per_second1", "transition_hz1", "taps2", "kaiser_beta2",
    "taps_per_output_sample2", "macs_per_second2", "transition_hz2", "taps3", "kaiser_beta3",
    "taps_per_output_sample3", "macs_per_second3", "transition_hz3", "taps4", "kaiser_beta4",
    "taps_per_output_sample4", "macs_per_second4", "transition_hz4", "total_macs_per_second",
    "total_coefficients", "macs_per_input_sample", "single_stage_l", "single_stage_m",
    "single_stage_taps",
    "single_stage_macs_per_second", "cost_error",
    // The design (with --design)
    "design_method", "design_method1", "design_taps1", "design_nonzero_taps1",
    "design_halfband1", "design_measured_ripple_db1", "design_measured_attenuation_db1",
    "design_group_delay_samples1", "design_group_delay_seconds1", "design_meets_spec1",
    "design_method2", "design_taps2", "design_nonzero_taps2", "design_halfband2",
    "design_measured_ripple_db2", "design_measured_attenuation_db2",
    "design_group_delay_samples2", "design_group_delay_seconds2", "design_meets_spec2",
    "design_method3", "design_taps3", "design_nonzero_taps3", "design_halfband3",
    "design_measured_ripple_db3", "design_measured_attenuation_db3",
    "design_group_delay_samples3", "design_group_delay_seconds3", "design_meets_spec3",
    "design_method4", "design_taps4", "design_nonzero_taps4", "design_halfband4",
    "design_measured_ripple_db4", "design_measured_attenuation_db4",
    "design_group_delay_samples4", "design_group_delay_seconds4", "design_meets_spec4",
    "design_cascade_measured_ripple_db", "design_cascade_measured_attenuation_db",
    "design_cascade_group_delay_seconds", "design_cascade_meets_spec", "design_quantize_bits",
    "design_quantized_scale_exponent1", "design_quantized_nonzero_taps1",
    "design_quantized_measured_ripple_db1", "design_quantized_measured_attenuation_db1",
    "design_quantized_meets_spec1", "design_quantized_bits_needed1",
    "design_quantized_rounding_margin_db1", "design_quantized_scale_exponent2",
    "design_quantized_nonzero_taps2", "design_quantized_measured_ripple_db2",
    "design_quantized_measured_attenuation_db2", "design_quantized_meets_spec2",
    "design_quantized_bits_needed2", "design_quantized_rounding_margin_db2",
    "design_quantized_scale_exponent3", "design_quantized_nonzero_taps3",
    "design_quantized_measured_ripple_db3", "design_quantized_measured_attenuation_db3",
    "design_quantized_meets_spec3", "design_quantized_bits_needed3",
    "design_quantized_rounding_margin_db3", "design_quantized_scale_exponent4",
    "design_quantized_nonzero_taps4", "design_quantized_measured_ripple_db4",
    "design_quantized_measured_attenuation_db4", "design_quantized_meets_spec4",
    "design_quantized_bits_needed4", "design_quantized_rounding_margin_db4",
    "design_cascade_quantized_measured_ripple_db",
    "design_cascade_quantized_measured_attenuation_db", "design_cascade_quantized_meets_spec",
    "design_meets_spec", "design_coefficients_file", "design_error"};

/// One field as RFC 4180 quotes it: in double quotes, with quotes doubled, when it holds
/// a comma, a quote or a line break.
std::string quoted(const std::string& field) {
    if (field.find_first_of(",\"\r\n") == std::string::npos) return field;
    std::string out = "\"";
    for (const char c : field) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
    return out;
}

/// The shortest text that reads back as the same double; empty when not finite.
std::string number(double value) {
    if (!std::isfinite(value)) return {};
    return text::shortest_double(value);
}

std::string integer(std::int64_t value) {
    return std::to_string(value);
}

const char* boolean(bool value) {
    return value ? "true" : "false";
}

/// The advice that applies, by name, separated by semicolons.
std::string advice_names(const report::ReportAdvice& advice) {
    std::string out;
    const auto add = [&out](bool on, const char* name) {
        if (!on) return;
        if (!out.empty()) out += ';';
        out += name;
    };
    add(advice.significant_error, "significant_error");
    add(advice.large_factors, "large_factors");
    add(advice.slight_difference, "slight_difference");
    add(advice.intermediate_miss, "intermediate_miss");
    add(advice.large_limit, "large_limit");
    add(advice.high_intermediate_target, "high_intermediate_target");
    return out;
}

/// The fields of one row by column name.
class Row {
public:
    Row() : fields_(COLUMNS.size()) {}
    void set(std::string_view column, std::string value) {
        for (std::size_t i = 0; i < COLUMNS.size(); ++i) {
            if (column == COLUMNS[i]) {
                fields_[i] = std::move(value);
                return;
            }
        }
    }
    std::string text() const {
        std::string out;
        for (std::size_t i = 0; i < fields_.size(); ++i) {
            if (i > 0) out += ',';
            out += quoted(fields_[i]);
        }
        out += '\n';
        return out;
    }

private:
    std::vector<std::string> fields_;
};

void set_stage(Row& row, const char* suffix, const Stage& stage) {
    const std::string s = suffix;
    row.set("l" + s, integer(stage.l));
    row.set("m" + s, integer(stage.m));
    row.set("complexity" + s, integer(stage.complexity()));
}

void set_error(Row& row, const char* prefix, const RateError& error) {
    const std::string p = prefix;
    row.set(p + "_difference_hz", number(error.difference_hz));
    row.set(p + "_relative_error", number(error.relative));
    row.set(p + "_ppm", number(error.ppm));
}

void set_cost(Row& row, const Record& record) {
    const CostEstimate& cost = *record.cost;
    const bool ok = cost.status == Status::ok;
    // A refused estimate has its edges and levels only when it came as far as them.
    const auto level = [ok](double value) { return ok || value > 0.0 ? number(value) : ""; };
    row.set("passband_hz", level(cost.passband_hz));
    row.set("stopband_hz", level(cost.stopband_hz));
    row.set("attenuation_db", level(cost.attenuation_db));
    row.set("ripple_db", level(cost.ripple_db));
    if (!ok) {
        row.set("cost_error", cost.message);
        return;
    }
    for (std::size_t i = 0; i < cost.stages.size() && i < static_cast<std::size_t>(max_plan_stages);
         ++i) {
        const StageCost& stage = cost.stages[i];
        const std::string n = std::to_string(i + 1);
        row.set("taps" + n, integer(stage.taps));
        row.set("kaiser_beta" + n, number(stage.kaiser_beta));
        row.set("taps_per_output_sample" + n, number(stage.taps_per_output_sample));
        row.set("macs_per_second" + n, number(stage.macs_per_second));
        row.set("transition_hz" + n, number(stage.transition_hz));
    }
    row.set("total_macs_per_second", number(cost.total_macs_per_second));
    row.set("total_coefficients", integer(cost.total_coefficients));
    row.set("macs_per_input_sample", number(cost.macs_per_input_sample));
    if (record.single_stage_equivalent && record.single_stage_cost &&
        record.single_stage_cost->status == Status::ok) {
        row.set("single_stage_l", integer(record.single_stage_equivalent->l));
        row.set("single_stage_m", integer(record.single_stage_equivalent->m));
        row.set("single_stage_taps", integer(record.single_stage_cost->total_coefficients));
        row.set("single_stage_macs_per_second",
                number(record.single_stage_cost->total_macs_per_second));
    }
}

/// The request fields of a request solved by solve_plan.
void set_plan_request(Row& row, const PlanRequest& plan) {
    row.set("input_rate_hz", number(plan.input_rate_hz));
    row.set("output_rate_hz", number(plan.output_rate_hz));
    if (plan.stages == 1 && plan.mode == SearchMode::minimal_sum) return;  // the dialog's
    row.set("mode", search_mode_name(plan.mode));
    row.set("limit", integer(plan.max_factor));
    if (plan.stages != 1) {
        row.set("allow_first_decimation", boolean(first_stage_decimation_allowed(plan)));
    }
    if (plan.intermediate_target) {
        row.set("target_hz", number(plan.intermediate_target->rate_hz));
        row.set("priority", priority_name(plan.intermediate_target->priority));
    }
}

/// The result fields of a plan, every stage in its columns.
void set_plan_result(Row& row, const Record& record) {
    const PlanResult& result = *record.plan;
    const PlanRequest& request = record.request->plan;
    if (result.status == Status::ok) {
        for (std::size_t i = 0; i < result.stages.size(); ++i) {
            set_stage(row, std::to_string(i + 1).c_str(), result.stages[i]);
        }
        row.set("ratio", number(result.combined_ratio));
        if (result.stages.size() == 2) {
            row.set("intermediate_rate_hz", number(result.stage_output_rates_hz[0]));
        }
        row.set("achieved_output_rate_hz", number(result.output_rate_hz));
        set_error(row, "output", result.output_error);
        if (result.intermediate_error) set_error(row, "intermediate", *result.intermediate_error);
        if (result.stages.size() >= 2) row.set("overall_sum", integer(result.overall_sum));
        row.set("overall_complexity", integer(result.overall_complexity));
    } else if (record.error.empty() && !result.message.empty()) {
        row.set("error", result.message);
    }
    if (result.status == Status::ok || result.status == Status::not_found) {
        row.set("advice", advice_names(report::report_advice(request, result)));
    }
    if (result.convergent_count >= 0) {
        row.set("convergents", integer(result.convergent_count));
        if (request.stages != 1 || request.mode != SearchMode::minimal_sum) {
            row.set("common_factor_iterations", std::to_string(result.common_factor_iterations));
        }
    }
}

/// The design's columns: the method, each stage's filter and measurement, the cascade's,
/// the rounded filters', the coefficient file and why the design failed.
void set_design(Row& row, const Record& record) {
    const FilterDesign& d = *record.design;
    row.set("design_method", design_method_name(d.method));
    if (record.request && record.request->quantize_bits) {
        row.set("design_quantize_bits", integer(*record.request->quantize_bits));
    }
    const std::string failure = design_failure(record);
    const bool meets = d.status == Status::ok && d.meets_spec &&
                       (!d.quantized || d.quantized->meets_spec);
    row.set("design_meets_spec", boolean(meets));
    if (record.coefficients_file) row.set("design_coefficients_file", *record.coefficients_file);
    row.set("design_error", failure);
    if (d.status != Status::ok) return;
    for (std::size_t i = 0; i < d.stages.size() && i < max_plan_stages; ++i) {
        const StageDesign& s = d.stages[i];
        const std::string n = std::to_string(i + 1);
        row.set("design_method" + n, stage_filter_name(s.filter));
        row.set("design_taps" + n, integer(s.taps));
        row.set("design_nonzero_taps" + n, integer(s.nonzero_taps));
        row.set("design_halfband" + n, boolean(s.halfband));
        row.set("design_measured_ripple_db" + n, number(s.measured.ripple_db));
        row.set("design_measured_attenuation_db" + n, number(s.measured.attenuation_db));
        row.set("design_group_delay_samples" + n, number(s.group_delay_samples));
        row.set("design_group_delay_seconds" + n, number(s.group_delay_seconds));
        row.set("design_meets_spec" + n, boolean(s.measured.meets_spec));
        if (!s.quantized) continue;
        const QuantizedFilter& q = *s.quantized;
        row.set("design_quantized_scale_exponent" + n, integer(q.scale_exponent));
        row.set("design_quantized_nonzero_taps" + n, integer(q.nonzero_taps));
        row.set("design_quantized_measured_ripple_db" + n, number(q.measured.ripple_db));
        row.set("design_quantized_measured_attenuation_db" + n, number(q.measured.attenuation_db));
        row.set("design_quantized_meets_spec" + n, boolean(q.measured.meets_spec));
        row.set("design_quantized_bits_needed" + n, integer(q.bits_needed));
        row.set("design_quantized_rounding_margin_db" + n, number(q.rounding_margin_db));
    }
    row.set("design_cascade_measured_ripple_db", number(d.measured.ripple_db));
    row.set("design_cascade_measured_attenuation_db", number(d.measured.attenuation_db));
    row.set("design_cascade_group_delay_seconds", number(d.group_delay_seconds));
    row.set("design_cascade_meets_spec", boolean(d.measured.meets_spec));
    if (d.quantized) {
        row.set("design_cascade_quantized_measured_ripple_db", number(d.quantized->ripple_db));
        row.set("design_cascade_quantized_measured_attenuation_db",
                number(d.quantized->attenuation_db));
        row.set("design_cascade_quantized_meets_spec", boolean(d.quantized->meets_spec));
    }
}

}  // namespace

std::string csv_header() {
    std::string out;
    for (std::size_t i = 0; i < COLUMNS.size(); ++i) {
        if (i > 0) out += ',';
        out += COLUMNS[i];
    }
    out += '\n';
    return out;
}

std::string format_csv(const Record& record) {
    Row row;
    if (record.line) row.set("line", integer(*record.line));
    row.set("status", record_status(record));
    row.set("error", record_error(record));

    if (record.request) {
        const ResolvedRequest& request = *record.request;
        row.set("stages", request.stages == auto_stages ? "auto" : integer(request.stages));
        if (request.plan.tolerance) row.set("tolerance", number(*request.plan.tolerance));
        if (request.general) {
            set_plan_request(row, request.plan);
        } else if (request.stages == 1) {
            row.set("input_rate_hz", number(request.single.input_rate_hz));
            row.set("output_rate_hz", number(request.single.output_rate_hz));
        } else {
            const TwoStageRequest& two = request.two;
            row.set("input_rate_hz", number(two.input_rate_hz));
            row.set("output_rate_hz", number(two.output_rate_hz));
            row.set("mode", search_mode_name(two.mode));
            row.set("limit", integer(two.max_factor));
            row.set("allow_first_decimation", boolean(two.allow_first_stage_decimation));
            if (two.intermediate_target) {
                row.set("target_hz", number(two.intermediate_target->rate_hz));
                row.set("priority", priority_name(two.intermediate_target->priority));
            }
        }
    }
    if (record.single) {
        const SingleStageResult& result = *record.single;
        if (result.status == Status::ok) {
            set_stage(row, "1", result.stage);
            row.set("ratio", number(result.achieved_ratio));
            row.set("achieved_output_rate_hz", number(result.output_rate_hz));
            set_error(row, "output", result.output_error);
            row.set("overall_complexity", integer(result.stage.complexity()));
            row.set("advice", advice_names(report::report_advice(result)));
        }
        if (result.convergent_count >= 0) row.set("convergents", integer(result.convergent_count));
    }
    if (record.two && record.request) {
        const TwoStageResult& result = *record.two;
        if (result.status == Status::ok) {
            set_stage(row, "1", result.first);
            set_stage(row, "2", result.second);
            row.set("ratio", number(result.combined_ratio));
            row.set("intermediate_rate_hz", number(result.intermediate_rate_hz));
            row.set("achieved_output_rate_hz", number(result.output_rate_hz));
            set_error(row, "output", result.output_error);
            if (result.intermediate_error) {
                set_error(row, "intermediate", *result.intermediate_error);
            }
            row.set("overall_sum", integer(result.overall_sum));
            row.set("overall_complexity", integer(result.overall_complexity));
            row.set("advice", advice_names(report::report_advice(record.request->two, result)));
        } else if (result.status == Status::not_found) {
            row.set("advice", advice_names(report::report_advice(record.request->two, result)));
        }
        if (result.convergent_count >= 0) row.set("convergents", integer(result.convergent_count));
        row.set("common_factor_iterations", std::to_string(result.common_factor_iterations));
    }
    if (record.plan && record.request) set_plan_result(row, record);
    if (record.cost) set_cost(row, record);
    if (record.design) {
        set_design(row, record);
        // A request that found factors but whose design failed says why with the others.
        const std::string failure = design_failure(record);
        if (!failure.empty() && record.error.empty()) row.set("error", failure);
    }
    return row.text();
}

}  // namespace quillmere::records
