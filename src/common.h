// Types, status codes and constants that every module of the program shares.
#pragma once

#include <atomic>
#include <climits>
#include <cstdint>

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
constexpr long long MAX_LM_LIMIT = 65535;

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
constexpr double MATCH_TOLERANCE = 1e-9;
/// A non-matching relative error at or above this is significant
/// (computed in double precision: 1.0000000000000002e-06).
constexpr double ARBITRARY_SUGGESTION_THRESHOLD = 1000.0 * MATCH_TOLERANCE;
/// A factor strictly above this is large.
constexpr long long LARGE_FACTOR_THRESHOLD = 1000;
/// A target of magnitude not above this counts as zero (errors become absolute).
constexpr double ZERO_GUARD = 1e-15;

// ---------------------------------------------------------------------------
// Shutdown request, raised by the console control handler (signal_handler).
// ---------------------------------------------------------------------------

struct ShutdownEvent;

static_assert(std::atomic<int>::is_always_lock_free);
static_assert(std::atomic<ShutdownEvent*>::is_always_lock_free);

/// 1 once a stop was requested; never reset. Read afresh at every test.
extern std::atomic<int> g_shutdown_requested;
/// The shutdown event that a pending console read waits on; null when none exists.
extern std::atomic<ShutdownEvent*> g_hShutdownEvent;
