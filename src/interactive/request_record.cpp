#include "interactive/request_record.h"

const char* status_code_to_string(int code) {
    switch (code) {
    case STATUS_SUCCESS: return "SUCCESS";
    case STATUS_FAILURE: return "FAILURE";
    case STATUS_MEMORY_ALLOCATION_ERROR: return "Memory Allocation Error";
    case STATUS_INVALID_INPUT_ERROR: return "Invalid Input Error";
    case STATUS_CALCULATION_ERROR: return "Calculation Error";
    case STATUS_FILE_IO_ERROR: return "File I/O Error";
    case STATUS_ARITHMETIC_OVERFLOW_ERROR: return "Arithmetic Overflow Error";
    default: return "Unknown Error Code";
    }
}

quillmere::SingleStageRequest to_single_stage_request(const UserInputs& inputs) {
    quillmere::SingleStageRequest request;
    request.input_rate_hz = inputs.input_rate;
    request.output_rate_hz = inputs.output_rate;
    return request;
}

quillmere::TwoStageRequest to_two_stage_request(const UserInputs& inputs) {
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
        // The dialog numbers the priorities 1 to 4 as it lists them.
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

StatusCode to_status_code(quillmere::Status status) {
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
