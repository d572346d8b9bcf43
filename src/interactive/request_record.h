// The dialog's request record and status codes, and the conversion of the record to the
// library's request types.
#pragma once

#include <climits>
#include <cstdint>

#include "quillmere/quillmere.h"

// ---------------------------------------------------------------------------
// Status codes: 0 is success, every failure is negative. STATUS_FAILURE is the
// ordinary end (stop request, cancellation, nothing found); anything below it
// is a critical failure.
// ---------------------------------------------------------------------------
using StatusCode = int;

constexpr StatusCode STATUS_SUCCESS = 0;
constexpr StatusCode STATUS_FAILURE = -1;
constexpr StatusCode STATUS_MEMORY_ALLOCATION_ERROR = -2;
constexpr StatusCode STATUS_INVALID_INPUT_ERROR = -3;
constexpr StatusCode STATUS_CALCULATION_ERROR = -6;
constexpr StatusCode STATUS_FILE_IO_ERROR = -11;
constexpr StatusCode STATUS_ARITHMETIC_OVERFLOW_ERROR = -12;

// ---------------------------------------------------------------------------
// Conversion request
// ---------------------------------------------------------------------------

/// How the two-stage search chooses among candidates.
enum SearchMode : int {
    SEARCH_MODE_CUSTOM_LIMIT = 0,  ///< smallest final-rate error under a user limit
    SEARCH_MODE_MINIMAL_SUM = 1,   ///< smallest L1+M1+L2+M2
};

/// How an intermediate-rate target weighs against the final rate.
enum IntermediatePriority : int {
    PRIORITIZE_STRICT_INTERMEDIATE = 1,
    PRIORITIZE_FINAL_RATE = 2,
    PRIORITIZE_BALANCED_DUAL = 3,
    PRIORITIZE_IGNORE_INTERMEDIATE = 4,
};

/// Largest L or M per stage that the program accepts, and its default limit.
constexpr long long MAX_LM_LIMIT = quillmere::max_factor_limit;

/// One conversion request, filled by the dialog and read by the runs.
struct UserInputs {
    double input_rate;
    double output_rate;
    int num_resamplers;
    int search_mode;
    bool allow_m1_gt_l1;
    long long max_lm;
    double target_intermediate_rate;
    bool has_intermediate_target;
    int priority;
};

// ---------------------------------------------------------------------------
// Shared constants
// ---------------------------------------------------------------------------

/// A relative error strictly below this is a match.
constexpr double MATCH_TOLERANCE = quillmere::match_tolerance;
/// A non-matching relative error at or above this is significant
/// (computed in double precision: 1.0000000000000002e-06).
constexpr double ARBITRARY_SUGGESTION_THRESHOLD = quillmere::significant_error_threshold;
/// A factor strictly above this is large.
constexpr long long LARGE_FACTOR_THRESHOLD = quillmere::large_factor_threshold;

// ---------------------------------------------------------------------------
// Conversions
// ---------------------------------------------------------------------------

/// Display name of a status code; "Unknown Error Code" for unassigned values.
const char* status_code_to_string(int code);

/// The library's single-stage request for a record.
quillmere::SingleStageRequest to_single_stage_request(const UserInputs& inputs);

/// The library's two-stage request for a record, its priorities 1 to 4 mapped to the
/// library's; a search mode or priority the record does not know is passed on as an
/// invalid enumeration value, which the library refuses.
quillmere::TwoStageRequest to_two_stage_request(const UserInputs& inputs);

/// The dialog's status code for a library status: STATUS_FAILURE for a search that found
/// nothing or was stopped.
StatusCode to_status_code(quillmere::Status status);
