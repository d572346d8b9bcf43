#include "report/advice.h"

namespace quillmere::report {

ReportAdvice report_advice(const SingleStageResult& result) {
    return ReportAdvice{result.advice};
}

ReportAdvice report_advice(const TwoStageRequest& request, const TwoStageResult& result) {
    ReportAdvice advice{result.advice};
    if (result.status != Status::ok) return advice;
    advice.large_limit =
        request.mode == SearchMode::custom_limit && request.max_factor > unconfirmed_limit;
    if (request.intermediate_target) {
        const double target = request.intermediate_target->rate_hz;
        advice.high_intermediate_target =
            target > request.input_rate_hz && target > request.output_rate_hz;
    }
    return advice;
}

}  // namespace quillmere::report
