// The integer status codes and the flat request record that the solver tests were first
// written in, before the dialog spoke the library's own vocabulary (quillmere::Status and
// the public request types). The program no longer has them; only the tests that reach
// into the core through solver_calls.h and requests.h still compare against them.
#pragma once

#include "quillmere/quillmere.h"

/// 0 for success, every failure negative; STATUS_FAILURE is the ordinary end (stopped,
/// nothing found), anything below it a critical failure.
using StatusCode = int;

constexpr StatusCode STATUS_SUCCESS = 0;
constexpr StatusCode STATUS_FAILURE = -1;
constexpr StatusCode STATUS_MEMORY_ALLOCATION_ERROR = -2;
constexpr StatusCode STATUS_INVALID_INPUT_ERROR = -3;
constexpr StatusCode STATUS_CALCULATION_ERROR = -6;
constexpr StatusCode STATUS_ARITHMETIC_OVERFLOW_ERROR = -12;

/// The search modes, numbered as the record numbers them.
constexpr int SEARCH_MODE_CUSTOM_LIMIT = 0;
constexpr int SEARCH_MODE_MINIMAL_SUM = 1;

/// The priorities, numbered as the dialog's menu numbers them.
constexpr int PRIORITIZE_STRICT_INTERMEDIATE = 1;
constexpr int PRIORITIZE_FINAL_RATE = 2;
constexpr int PRIORITIZE_BALANCED_DUAL = 3;
constexpr int PRIORITIZE_IGNORE_INTERMEDIATE = 4;

/// Largest L or M per stage, and the default limit.
constexpr long long MAX_LM_LIMIT = quillmere::max_factor_limit;

/// One conversion request as a flat record; every member zero by default, as the record
/// was when value-initialised.
struct UserInputs {
    double input_rate = 0.0;
    double output_rate = 0.0;
    int num_resamplers = 0;
    int search_mode = 0;
    bool allow_m1_gt_l1 = false;
    long long max_lm = 0;
    double target_intermediate_rate = 0.0;
    bool has_intermediate_target = false;
    int priority = 0;
};

/// The status code of a library status.
inline StatusCode to_status_code(quillmere::Status status) {
    switch (status) {
    case quillmere::Status::ok: return STATUS_SUCCESS;
    case quillmere::Status::not_found:
    case quillmere::Status::stopped: return STATUS_FAILURE;
    case quillmere::Status::invalid_request: return STATUS_INVALID_INPUT_ERROR;
    case quillmere::Status::memory_error: return STATUS_MEMORY_ALLOCATION_ERROR;
    case quillmere::Status::calculation_error: return STATUS_CALCULATION_ERROR;
    case quillmere::Status::overflow_error: return STATUS_ARITHMETIC_OVERFLOW_ERROR;
    }
    return STATUS_CALCULATION_ERROR;
}

/// The library's single-stage request for a record.
inline quillmere::SingleStageRequest to_single_stage_request(const UserInputs& inputs) {
    return quillmere::SingleStageRequest{inputs.input_rate, inputs.output_rate};
}

/// The library's two-stage request for a record; a search mode or priority the record
/// does not know is passed on as an invalid enumeration value, which the library refuses.
inline quillmere::TwoStageRequest to_two_stage_request(const UserInputs& inputs) {
    quillmere::TwoStageRequest request;
    request.input_rate_hz = inputs.input_rate;
    request.output_rate_hz = inputs.output_rate;
    switch (inputs.search_mode) {
    case SEARCH_MODE_MINIMAL_SUM: request.mode = quillmere::SearchMode::minimal_sum; break;
    case SEARCH_MODE_CUSTOM_LIMIT: request.mode = quillmere::SearchMode::custom_limit; break;
    default: request.mode = static_cast<quillmere::SearchMode>(-1); break;
    }
    request.max_factor = inputs.max_lm;
    request.allow_first_stage_decimation = inputs.allow_m1_gt_l1;
    if (inputs.has_intermediate_target) {
        // The dialog numbers the priorities 1 to 4 as its menu lists them.
        quillmere::Priority priority = static_cast<quillmere::Priority>(-1);
        switch (inputs.priority) {
        case PRIORITIZE_STRICT_INTERMEDIATE: priority = quillmere::Priority::strict; break;
        case PRIORITIZE_FINAL_RATE: priority = quillmere::Priority::final; break;
        case PRIORITIZE_BALANCED_DUAL: priority = quillmere::Priority::balanced; break;
        case PRIORITIZE_IGNORE_INTERMEDIATE: priority = quillmere::Priority::ignore; break;
        default: break;
        }
        request.intermediate_target =
            quillmere::IntermediateTarget{inputs.target_intermediate_rate, priority};
    }
    return request;
}
