#include <cmath>
#include <nlohmann/json.hpp>

#include "records/design_records.h"
#include "records/records.h"
#include "report/advice.h"

namespace quillmere::records {

namespace {

using json = nlohmann::ordered_json;

/// A number, or null when it has no finite value (JSON has no NaN or infinity).
json number(double value) {
    return std::isfinite(value) ? json(value) : json(nullptr);
}

/// The stage count as a request gives it: a number, or "auto".
json stages_json(int stages) {
    return stages == auto_stages ? json("auto") : json(stages);
}

/// A plan request's fields (a request solved by solve_plan).
void plan_request_json(const PlanRequest& plan, json& out) {
    out["input_rate_hz"] = plan.input_rate_hz;
    out["output_rate_hz"] = plan.output_rate_hz;
    out["stages"] = stages_json(plan.stages);
    const bool dialog_single = plan.stages == 1 && plan.mode == SearchMode::minimal_sum;
    out["mode"] = dialog_single ? json(nullptr) : json(search_mode_name(plan.mode));
    out["limit"] = dialog_single ? json(nullptr) : json(plan.max_factor);
    out["allow_first_decimation"] =
        plan.stages == 1 ? json(nullptr) : json(first_stage_decimation_allowed(plan));
    if (plan.intermediate_target) {
        out["target_hz"] = plan.intermediate_target->rate_hz;
        out["priority"] = priority_name(plan.intermediate_target->priority);
    } else {
        out["target_hz"] = nullptr;
        out["priority"] = nullptr;
    }
}

json request_json(const ResolvedRequest& request) {
    json out;
    if (request.general) {
        plan_request_json(request.plan, out);
    } else if (request.stages == 1) {
        out["input_rate_hz"] = request.single.input_rate_hz;
        out["output_rate_hz"] = request.single.output_rate_hz;
        out["stages"] = 1;
        out["mode"] = nullptr;
        out["limit"] = nullptr;
        out["allow_first_decimation"] = nullptr;
        out["target_hz"] = nullptr;
        out["priority"] = nullptr;
    } else {
        const TwoStageRequest& two = request.two;
        out["input_rate_hz"] = two.input_rate_hz;
        out["output_rate_hz"] = two.output_rate_hz;
        out["stages"] = 2;
        out["mode"] = search_mode_name(two.mode);
        out["limit"] = two.max_factor;
        out["allow_first_decimation"] = two.allow_first_stage_decimation;
        if (two.intermediate_target) {
            out["target_hz"] = two.intermediate_target->rate_hz;
            out["priority"] = priority_name(two.intermediate_target->priority);
        } else {
            out["target_hz"] = nullptr;
            out["priority"] = nullptr;
        }
    }
    out["cost"] = request.cost;
    out["tolerance"] = request.plan.tolerance ? json(*request.plan.tolerance) : json(nullptr);
    return out;
}

json error_json(const RateError& error) {
    return json{{"difference_hz", number(error.difference_hz)},
                {"relative", number(error.relative)},
                {"ppm", number(error.ppm)}};
}

json advice_json(const report::ReportAdvice& advice) {
    return json{{"significant_error", advice.significant_error},
                {"large_factors", advice.large_factors},
                {"slight_difference", advice.slight_difference},
                {"intermediate_miss", advice.intermediate_miss},
                {"large_limit", advice.large_limit},
                {"high_intermediate_target", advice.high_intermediate_target}};
}

json stage_json(const Stage& stage, double input_rate_hz, double output_rate_hz) {
    return json{{"l", stage.l},
                {"m", stage.m},
                {"complexity", stage.complexity()},
                {"input_rate_hz", number(input_rate_hz)},
                {"output_rate_hz", number(output_rate_hz)}};
}

json cost_json(const Record& record) {
    const CostEstimate& cost = *record.cost;
    const bool ok = cost.status == Status::ok;
    // A refused estimate has its edges and levels only when it came as far as them.
    const auto level = [ok](double value) {
        return ok || value > 0.0 ? number(value) : json(nullptr);
    };
    json out{{"passband_hz", level(cost.passband_hz)},
             {"stopband_hz", level(cost.stopband_hz)},
             {"attenuation_db", level(cost.attenuation_db)},
             {"ripple_db", level(cost.ripple_db)}};
    json stages = json::array();
    for (const StageCost& stage : cost.stages) {
        stages.push_back(json{{"taps", stage.taps},
                              {"kaiser_beta", number(stage.kaiser_beta)},
                              {"taps_per_output_sample", number(stage.taps_per_output_sample)},
                              {"macs_per_second", number(stage.macs_per_second)},
                              {"transition_hz", number(stage.transition_hz)},
                              {"filtered", stage.filtered},
                              {"input_rate_hz", number(stage.input_rate_hz)},
                              {"output_rate_hz", number(stage.output_rate_hz)},
                              {"macs_per_input_sample", number(stage.macs_per_input_sample)}});
    }
    out["stages"] = std::move(stages);
    out["total_macs_per_second"] = ok ? number(cost.total_macs_per_second) : json(nullptr);
    out["total_coefficients"] = ok ? json(cost.total_coefficients) : json(nullptr);
    if (record.single_stage_equivalent && record.single_stage_cost &&
        record.single_stage_cost->status == Status::ok) {
        const CostEstimate& single = *record.single_stage_cost;
        out["single_stage"] = json{{"l", record.single_stage_equivalent->l},
                                   {"m", record.single_stage_equivalent->m},
                                   {"taps", single.total_coefficients},
                                   {"total_macs_per_second", number(single.total_macs_per_second)}};
    } else {
        out["single_stage"] = nullptr;
    }
    out["error"] = ok ? json(nullptr) : json(cost.message);
    out["macs_per_input_sample"] = ok ? number(cost.macs_per_input_sample) : json(nullptr);
    return out;
}

}  // namespace

std::string format_json(const Record& record) {
    json out;
    out["line"] = record.line ? json(*record.line) : json(nullptr);
    out["status"] = record_status(record);
    const std::string error = record_error(record);
    out["error"] = error.empty() ? json(nullptr) : json(error);
    out["request"] = record.request ? request_json(*record.request) : json(nullptr);

    json stages = json::array();
    json ratio = nullptr;
    json intermediate_rate = nullptr;
    json output_rate = nullptr;
    json output_error = nullptr;
    json intermediate_error = nullptr;
    json overall_sum = nullptr;
    json overall_complexity = nullptr;
    json advice = nullptr;
    json search = nullptr;
    if (record.single && record.request) {
        const SingleStageResult& result = *record.single;
        if (result.status == Status::ok) {
            stages.push_back(stage_json(result.stage, record.request->single.input_rate_hz,
                                        result.output_rate_hz));
            ratio = number(result.achieved_ratio);
            output_rate = number(result.output_rate_hz);
            output_error = error_json(result.output_error);
            overall_complexity = result.stage.complexity();
            advice = advice_json(report::report_advice(result));
        }
        search = json{{"convergents", result.convergent_count >= 0 ? json(result.convergent_count)
                                                                   : json(nullptr)},
                      {"common_factor_iterations", nullptr}};
    } else if (record.two && record.request) {
        const TwoStageResult& result = *record.two;
        if (result.status == Status::ok) {
            stages.push_back(stage_json(result.first, record.request->two.input_rate_hz,
                                        result.intermediate_rate_hz));
            stages.push_back(
                stage_json(result.second, result.intermediate_rate_hz, result.output_rate_hz));
            ratio = number(result.combined_ratio);
            intermediate_rate = number(result.intermediate_rate_hz);
            output_rate = number(result.output_rate_hz);
            output_error = error_json(result.output_error);
            if (result.intermediate_error)
                intermediate_error = error_json(*result.intermediate_error);
            overall_sum = result.overall_sum;
            overall_complexity = result.overall_complexity;
            advice = advice_json(report::report_advice(record.request->two, result));
        } else if (result.status == Status::not_found) {
            advice = advice_json(report::report_advice(record.request->two, result));
        }
        search = json{{"convergents", result.convergent_count >= 0 ? json(result.convergent_count)
                                                                   : json(nullptr)},
                      {"common_factor_iterations", result.common_factor_iterations}};
    } else if (record.plan && record.request) {
        const PlanResult& result = *record.plan;
        const PlanRequest& request = record.request->plan;
        if (result.status == Status::ok) {
            double rate = request.input_rate_hz;
            for (std::size_t i = 0; i < result.stages.size(); ++i) {
                stages.push_back(
                    stage_json(result.stages[i], rate, result.stage_output_rates_hz[i]));
                rate = result.stage_output_rates_hz[i];
            }
            ratio = number(result.combined_ratio);
            if (result.stages.size() == 2) {
                intermediate_rate = number(result.stage_output_rates_hz[0]);
            }
            output_rate = number(result.output_rate_hz);
            output_error = error_json(result.output_error);
            if (result.intermediate_error) {
                intermediate_error = error_json(*result.intermediate_error);
            }
            if (result.stages.size() >= 2) overall_sum = result.overall_sum;
            overall_complexity = result.overall_complexity;
        }
        if (result.status == Status::ok || result.status == Status::not_found) {
            advice = advice_json(report::report_advice(request, result));
        }
        const bool dialog_single = request.stages == 1 && request.mode == SearchMode::minimal_sum;
        const bool ran = result.convergent_count >= 0;
        search = json{{"convergents", ran ? json(result.convergent_count) : json(nullptr)},
                      {"common_factor_iterations", ran && !dialog_single
                                                       ? json(result.common_factor_iterations)
                                                       : json(nullptr)}};
    }
    out["stages"] = std::move(stages);
    out["ratio"] = std::move(ratio);
    out["intermediate_rate_hz"] = std::move(intermediate_rate);
    out["output_rate_hz"] = std::move(output_rate);
    out["output_error"] = std::move(output_error);
    out["intermediate_error"] = std::move(intermediate_error);
    out["overall_sum"] = std::move(overall_sum);
    out["overall_complexity"] = std::move(overall_complexity);
    out["advice"] = std::move(advice);
    out["search"] = std::move(search);
    out["cost"] = record.cost ? cost_json(record) : json(nullptr);
    out["design"] = design_json(record);
    // Invalid UTF-8 from a batch line is replaced, not thrown on.
    return out.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

}  // namespace quillmere::records
