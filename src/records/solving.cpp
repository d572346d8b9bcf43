#include "records/solving.h"

#include <cstdint>
#include <limits>
#include <numeric>
#include <optional>
#include <vector>

#include <span>

namespace quillmere::records {

namespace {

/// The option a field of the library's request stands for, for a refusal.
const char* option_for_field(const std::string& field) {
    if (field == "input_rate_hz") return "INPUT_RATE";
    if (field == "output_rate_hz") return "OUTPUT_RATE";
    if (field == "max_factor") return "--limit";
    if (field == "mode") return "--mode";
    if (field == "stages") return "--stages";
    if (field == "tolerance") return "--tolerance";
    if (field.rfind("intermediate_target", 0) == 0) return "--target";
    if (field == "filter.passband_hz") return "--passband";
    if (field == "filter.stopband_hz") return "--stopband";
    if (field == "filter.attenuation_db") return "--attenuation";
    if (field == "filter.ripple_db") return "--ripple";
    return nullptr;
}

/// Designs the filters of the stages found, and prices what was delivered (what the
/// method predicts when the design failed).
void design(const ResolvedRequest& request, const SolveOptions& options, double input_rate_hz,
            std::span<const Stage> stages, Record& record) {
    DesignOptions design_options;
    design_options.method = request.method;
    design_options.quantize_bits = request.quantize_bits;
    design_options.stop_flag = options.stop_flag;
#if QUILLMERE_HAS_STOP_TOKEN
    design_options.stop_token = options.stop_token;
#endif
    record.design = design_filters(input_rate_hz, stages, request.filter, design_options);
    if (record.design->status == Status::ok) {
        record.cost = design_cost(*record.design);
    } else {
        record.cost = estimate_cost(input_rate_hz, stages, request.filter);
    }
}

}  // namespace

std::optional<UsageError> check_with_library(const ResolvedRequest& request) {
    const RequestCheck result = request.general       ? check_request(request.plan)
                                : request.stages == 1 ? check_request(request.single)
                                                      : check_request(request.two);
    if (result.status == Status::ok) return std::nullopt;
    const char* const option = option_for_field(result.field);
    return UsageError{option != nullptr ? std::string(option) + ": " + result.message
                                        : result.message};
}

namespace {

/// The same overall ratio as a plan's stages (at most four, each factor up to 65535, so
/// that the products fit in 64 bits) in one stage, in lowest terms; none when it does not
/// fit in a Stage.
std::optional<Stage> one_stage_of(const std::vector<Stage>& stages) {
    std::uint64_t l = 1;
    std::uint64_t m = 1;
    for (const Stage& s : stages) {
        if (s.l < 1 || s.m < 1 || s.l > max_factor_limit || s.m > max_factor_limit) {
            return std::nullopt;
        }
        l *= static_cast<std::uint64_t>(s.l);
        m *= static_cast<std::uint64_t>(s.m);
        const std::uint64_t divisor = std::gcd(l, m);
        l /= divisor;
        m /= divisor;
    }
    constexpr auto MAX = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    if (l > MAX || m > MAX) return std::nullopt;
    return Stage{static_cast<std::int64_t>(l), static_cast<std::int64_t>(m)};
}

/// A plan request's record: its result and, with --cost, its cost beside one stage of the
/// same ratio (for plans of two or more stages).
Record solve_general(const ResolvedRequest& request, const SolveOptions& options) {
    Record record;
    record.request = request;
    record.plan = solve_plan(request.plan, options);
    const PlanResult& result = *record.plan;
    if (!request.cost || result.status != Status::ok) return record;
    if (request.design && !result.stages.empty()) {
        design(request, options, request.plan.input_rate_hz, result.stages, record);
    } else {
        record.cost = estimate_cost(request.plan, result);
    }
    if (result.stages.size() >= 2) {
        record.single_stage_equivalent = one_stage_of(result.stages);
        if (record.single_stage_equivalent) {
            const Stage one[] = {*record.single_stage_equivalent};
            record.single_stage_cost = estimate_cost(request.plan.input_rate_hz, one, request.filter);
        }
    }
    return record;
}

}  // namespace

Record solve(const ResolvedRequest& request, const SolveOptions& options) {
    if (request.general) return solve_general(request, options);
    Record record;
    record.request = request;
    if (request.stages == 1) {
        record.single = solve_single_stage(request.single, options);
        if (request.design && record.single->status == Status::ok) {
            const Stage stage[] = {record.single->stage};
            design(request, options, request.single.input_rate_hz, stage, record);
        } else if (request.cost && record.single->status == Status::ok) {
            record.cost = estimate_cost(request.single, *record.single, request.filter);
        }
        return record;
    }
    record.two = solve_two_stage(request.two, options);
    if (request.cost && record.two->status == Status::ok) {
        if (request.design) {
            const Stage stages[] = {record.two->first, record.two->second};
            design(request, options, request.two.input_rate_hz, stages, record);
        } else {
            record.cost = estimate_cost(request.two, *record.two);
        }
        // The same overall ratio in one stage, so the saving of two stages shows.
        const std::int64_t l = record.two->first.l * record.two->second.l;
        const std::int64_t m = record.two->first.m * record.two->second.m;
        const std::int64_t divisor = std::gcd(l, m);
        Stage single;
        single.l = l / divisor;
        single.m = m / divisor;
        record.single_stage_equivalent = single;
        const Stage one[] = {single};
        record.single_stage_cost = estimate_cost(request.two.input_rate_hz, one, request.filter);
    }
    return record;
}

}  // namespace quillmere::records
