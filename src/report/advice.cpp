#include "report/advice.h"

namespace quillmere::report {

ReportAdvice report_advice(const SingleStageResult& result) {
    return ReportAdvice{result.advice};
}

namespace {

/// The two warnings of the dialog's questions, for a result with factors.
void add_question_warnings(SearchMode mode, std::int64_t max_factor,
                           const std::optional<IntermediateTarget>& target, double input_rate_hz,
                           double output_rate_hz, ReportAdvice* advice) {
    advice->large_limit = mode == SearchMode::custom_limit && max_factor > unconfirmed_limit;
    if (target) {
        advice->high_intermediate_target =
            target->rate_hz > input_rate_hz && target->rate_hz > output_rate_hz;
    }
}

}  // namespace

ReportAdvice report_advice(const TwoStageRequest& request, const TwoStageResult& result) {
    ReportAdvice advice{result.advice};
    if (result.status != Status::ok) return advice;
    add_question_warnings(request.mode, request.max_factor, request.intermediate_target,
                          request.input_rate_hz, request.output_rate_hz, &advice);
    return advice;
}

ReportAdvice report_advice(const PlanRequest& request, const PlanResult& result) {
    ReportAdvice advice{result.advice};
    if (result.status != Status::ok || request.stages == 1) return advice;
    add_question_warnings(request.mode, request.max_factor, request.intermediate_target,
                          request.input_rate_hz, request.output_rate_hz, &advice);
    return advice;
}

}  // namespace quillmere::report
