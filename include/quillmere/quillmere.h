// Quillmere: interpolation (L) and decimation (M) factors for rational sample-rate
// conversion, in one stage (L/M) or two cascaded stages (L1/M1 -> L2/M2), with the
// achieved rates, their errors and an estimate of what the filters will cost.
//
// Everything a caller needs is in this header. Requests and results are plain values;
// no function prints, reads a global or keeps state between calls, so any number of
// searches may run at once on different threads.
//
// No function of the library throws: the solvers, checks, estimates and names are noexcept,
// and a failed allocation ends a call with Status::memory_error. The one way out of that is
// a SearchObserver of yours that throws: the solvers are noexcept, so that ends the program
// (std::terminate).
//
//     const quillmere::TwoStageRequest request{.input_rate_hz = 44100.0,
//                                              .output_rate_hz = 48000.0};
//     const quillmere::TwoStageResult result = quillmere::solve_two_stage(request);
//     if (result.status == quillmere::Status::ok) {
//         // 10/7 then 16/21: result.first.l == 10, result.first.m == 7, and so on
//     }
//
// The names live in the inline namespace quillmere::v2, which a later major version with
// another ABI will replace, so that both can be linked into one program.
#pragma once

#if !defined(__cplusplus) || (defined(_MSVC_LANG) ? _MSVC_LANG : __cplusplus) <= 201703L
#error "quillmere/quillmere.h needs C++20 or later (for example -std=c++20, or /std:c++20)"
#else  // the rest of the header: nothing of it is read before C++20, so the error stands alone

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <vector>
#include <version>

// std::stop_token where the standard library has it (not every C++20 library does yet).
#if defined(__cpp_lib_jthread)
#include <stop_token>
#define QUILLMERE_HAS_STOP_TOKEN 1
#else
#define QUILLMERE_HAS_STOP_TOKEN 0
#endif

#include "quillmere/export.h"
#include "quillmere/version.h"

namespace quillmere::inline v2 {

// ---------------------------------------------------------------------------
// Version and limits
// ---------------------------------------------------------------------------

/// The library's version, "MAJOR.MINOR.PATCH", as the library was built; the header's own
/// is QUILLMERE_VERSION_STRING (quillmere/version.h).
[[nodiscard]] QUILLMERE_EXPORT const char* version() noexcept;

/// Largest L or M per stage that a request may allow, and the default per-stage limit.
inline constexpr std::int64_t max_factor_limit = 65535;
/// Smallest sample rate or intermediate target a request may give, in Hz.
inline constexpr double min_rate_hz = 1.0;
/// Largest sample rate or intermediate target a request may give, in Hz (10 THz).
inline constexpr double max_rate_hz = 1e13;
/// A rate whose relative error is strictly below this matches its target.
inline constexpr double match_tolerance = 1e-9;
/// A non-matching relative error at or above this is significant (1000 x match_tolerance).
inline constexpr double significant_error_threshold = 1000.0 * match_tolerance;
/// A factor strictly above this is large.
inline constexpr std::int64_t large_factor_threshold = 1000;

// ---------------------------------------------------------------------------
// Status
// ---------------------------------------------------------------------------

/// How a call ended.
enum class Status {
    ok,                 ///< factors were found (a match or an approximation)
    not_found,          ///< the search ended normally but no candidate met the request
    stopped,            ///< the caller asked the search to stop before it ended
    invalid_request,    ///< the request was refused before any search; see `message`
    memory_error,       ///< memory ran out
    calculation_error,  ///< a computation gave no usable result
    overflow_error,     ///< a 64-bit integer computation would overflow
};

/// A stable lower-case name of a status ("ok", "not_found", "stopped", "invalid_request",
/// "memory_error", "calculation_error", "overflow_error"); "unknown" for other values.
[[nodiscard]] QUILLMERE_EXPORT const char* status_name(Status status) noexcept;

// ---------------------------------------------------------------------------
// Requests
// ---------------------------------------------------------------------------

/// How a search chooses among candidates that the priority rules leave equal.
///
/// The two-stage search of minimal_sum, custom_limit and min_cost (solve_two_stage, the
/// dialog's search) chooses among the splits of the ratio's continued-fraction convergents:
/// every convergent L/M whose L and M factor into two factors within the limit, split
/// L1/M1 -> L2/M2 with L = L1 L2 and M = M1 M2, and the splits of the simplest convergent
/// that reproduces the ratio widened by common factors (L1 g/M1 h -> L2 h/M2 g). That is
/// the dialog's contract: other cascades within the limit are never looked at, so a more
/// accurate one may exist. best_accuracy looks at every cascade within the limit, and
/// solve_plan's min-cost plans of one, three or four stages (or auto) at every way the
/// stages can factor the ratio.
enum class SearchMode {
    minimal_sum,    ///< the smallest L1+M1+L2+M2, then the smaller final error
    custom_limit,   ///< the smallest final error, then the smaller sum
    min_cost,       ///< the fewest multiply-accumulates per second (see FilterSpec), then
                    ///< the fewest coefficients, then the smaller sum; prices within 1 %
                    ///< plus two taps per phase of the price a first search settles on
                    ///< count as equal (see the README); a final-rate match, then
                    ///< accuracy, come before the price; every stage of the result is in
                    ///< lowest terms
    best_accuracy,  ///< two stages: the smallest final error among every cascade
                    ///< L1/M1 -> L2/M2 within the limit, then the smaller sum; errors are
                    ///< compared exactly, and two within what a double can tell apart
                    ///< (2^-50 relative, see the README) count as equal; every stage of the
                    ///< result is in lowest terms
};

/// How an intermediate-rate target weighs against the final rate. A value-initialised
/// Priority is `balanced`, the default of IntermediateTarget.
enum class Priority {
    balanced,  ///< a match of both rates first; otherwise as `final`
    strict,    ///< only candidates that match the target can be chosen
    final,     ///< a final-rate match first, then closeness to the target
    ignore,    ///< the target plays no part in the choice; it is still reported
};

/// A stable lower-case name of a search mode: "minimal-sum", "custom-limit", "min-cost",
/// "best-accuracy".
[[nodiscard]] QUILLMERE_EXPORT const char* search_mode_name(SearchMode mode) noexcept;
/// A stable lower-case name of a priority: "strict", "final", "balanced", "ignore".
[[nodiscard]] QUILLMERE_EXPORT const char* priority_name(Priority priority) noexcept;

// ---------------------------------------------------------------------------
// Filter design methods
// ---------------------------------------------------------------------------
//
// Declared here, before FilterSpec, which can ask the cost estimate to price the filters of
// a design method; the design itself is at the end of this header.

/// How design_filters designs the filter of each stage.
enum class DesignMethod {
    /// Per stage: equiripple where the exchange converges and the filter measures within
    /// its requirements, otherwise Kaiser.
    automatic,
    /// A Kaiser-windowed sinc with the cost model's length and beta.
    kaiser,
    /// A Parks-McClellan design (Remez exchange): the shortest length that measures within
    /// the requirements. A stage the exchange cannot design refuses the whole design.
    equiripple,
};

/// A stable lower-case name of a design method: "auto", "kaiser", "equiripple".
[[nodiscard]] QUILLMERE_EXPORT const char* design_method_name(DesignMethod method) noexcept;

/// The filter a stage got.
enum class StageFilter {
    none,        ///< L = M = 1: the stage passes the signal through, no filter
    kaiser,      ///< a Kaiser-windowed sinc
    equiripple,  ///< a Parks-McClellan (Remez exchange) design
};

/// A stable lower-case name of a stage's filter: "none", "kaiser", "equiripple".
[[nodiscard]] QUILLMERE_EXPORT const char* stage_filter_name(StageFilter filter) noexcept;

/// What the filters of a cascade must achieve; the cost estimate and the min-cost mode
/// use it. Unset edges take their defaults from the lower of the input and output rate.
struct FilterSpec {
    /// Passband edge in Hz; default 0.9 x half the lower of the input and output rate.
    std::optional<double> passband_hz{};
    /// Stopband edge in Hz; default half the lower of the input and output rate. It may
    /// equal the passband edge: aliases may then fall anywhere above the passband.
    std::optional<double> stopband_hz{};
    /// Stopband attenuation of every stage, in dB (> 0).
    double attenuation_db = 100.0;
    /// Peak-to-peak passband ripple of the whole cascade, in dB (> 0), shared among stages.
    double ripple_db = 0.1;
    /// The filters estimate_cost prices. Absent: Kaiser's estimate, each stage a window of
    /// the length Kaiser's formula gives (see the README's "Filter cost model"). Present:
    /// the filters design_filters delivers with this method, as predicted without designing
    /// them (the method's length estimate at each stage's design targets, the halfband where
    /// it has fewer non-zero taps, multiplies counted by non-zero taps); StageCost says which
    /// filter each stage got. The min-cost searches price these too.
    std::optional<DesignMethod> design_method{};
};

/// A request for one stage: the last continued-fraction convergent L/M of
/// output/input with M <= max_factor_limit.
struct SingleStageRequest {
    /// Input sample rate in Hz, min_rate_hz..max_rate_hz.
    double input_rate_hz = 0.0;
    /// Output sample rate in Hz, min_rate_hz..max_rate_hz.
    double output_rate_hz = 0.0;
};

/// A rate that the first stage should produce, and how much it counts.
struct IntermediateTarget {
    /// The target rate after the first stage, input x L1/M1, in Hz, min_rate_hz..max_rate_hz.
    double rate_hz = 0.0;
    /// How the target weighs against the final rate.
    Priority priority = Priority::balanced;
};

/// A request for two cascaded stages L1/M1 -> L2/M2. The search reads it as it is, field
/// by field; every field has a default, so designated initialisers may leave any out.
struct TwoStageRequest {
    /// Input sample rate in Hz, min_rate_hz..max_rate_hz.
    double input_rate_hz = 0.0;
    /// Output sample rate in Hz, min_rate_hz..max_rate_hz.
    double output_rate_hz = 0.0;
    /// How candidates are ranked.
    SearchMode mode = SearchMode::minimal_sum;
    /// Largest L and largest M of each stage, 1..max_factor_limit.
    std::int64_t max_factor = max_factor_limit;
    /// Whether the first stage may decimate (M1 > L1); otherwise every result has L1 >= M1.
    bool allow_first_stage_decimation = false;
    /// The rate wanted between the stages, if any.
    std::optional<IntermediateTarget> intermediate_target{};
    /// The filters the min-cost mode prices; other modes ignore it.
    FilterSpec filter{};
};

/// The stage count of a PlanRequest that lets min-cost choose the cheapest, 1 to
/// max_plan_stages.
inline constexpr int auto_stages = 0;
/// The most stages a plan may have.
inline constexpr int max_plan_stages = 4;

/// A request for a plan of one to four stages in any search mode: the general form of the
/// two requests above, for callers that want one entry point (solve_plan). Every field has
/// a default, so designated initialisers may leave any out.
///
/// The dialog's questions are answered as the dialog answers them: one stage in
/// minimal_sum (the default) by solve_single_stage, two stages in minimal_sum,
/// custom_limit and min_cost by solve_two_stage (a result of theirs that misses the
/// tolerance becomes not_found). best_accuracy (two stages) and min_cost with one, three,
/// four or auto_stages stages, or with a tolerance, search more widely (see SearchMode).
struct PlanRequest {
    /// Input sample rate in Hz, min_rate_hz..max_rate_hz.
    double input_rate_hz = 0.0;
    /// Output sample rate in Hz, min_rate_hz..max_rate_hz.
    double output_rate_hz = 0.0;
    /// 1 to max_plan_stages, or auto_stages for the cheapest count. Three, four and
    /// auto_stages only in min_cost; one stage only in minimal_sum (the single-stage
    /// solver) and min_cost (the cheapest single stage within the limit).
    int stages = 1;
    /// How candidates are ranked.
    SearchMode mode = SearchMode::minimal_sum;
    /// Largest L and largest M of each stage, 1..max_factor_limit. One stage in
    /// minimal_sum has the single-stage solver's own bound (M up to 65535) and takes no
    /// other value here.
    std::int64_t max_factor = max_factor_limit;
    /// Whether the first of several stages may decimate (M1 > L1). Unset: yes in min_cost
    /// and best_accuracy, no in minimal_sum and custom_limit (the dialog's default); see
    /// first_stage_decimation_allowed. One stage decimates as the rates need.
    std::optional<bool> allow_first_stage_decimation{};
    /// The rate wanted between the stages, if any: two stages only.
    std::optional<IntermediateTarget> intermediate_target{};
    /// The largest relative error of the output rate accepted, 0 <= tolerance < 1 (1e-6,
    /// or 5 ppm as 5e-6). In every mode a result outside it is Status::not_found with the
    /// best error found. best_accuracy considers only cascades within it; min_cost may
    /// choose any overall ratio within it for cheaper filters (see the README).
    std::optional<double> tolerance{};
    /// The filters min_cost prices; other modes ignore it.
    FilterSpec filter{};
};

/// Whether a plan request lets the first stage decimate: allow_first_stage_decimation when
/// given, otherwise true in min_cost and best_accuracy and false in the dialog's modes.
[[nodiscard]] QUILLMERE_EXPORT bool first_stage_decimation_allowed(
    const PlanRequest& request) noexcept;

/// Why a request was refused: which field and why, in words a user can act on.
struct RequestCheck {
    /// Status::ok when the request is valid, else Status::invalid_request (or
    /// Status::memory_error when memory ran out while checking).
    Status status = Status::ok;
    /// The refused field as named in this header ("input_rate_hz", "max_factor",
    /// "intermediate_target.rate_hz", "filter.passband_hz", ...); empty when valid.
    std::string field{};
    /// One sentence naming the field, the value and what is accepted; empty when valid.
    std::string message{};
};

/// Checks a single-stage request without solving it.
[[nodiscard]] QUILLMERE_EXPORT RequestCheck
check_request(const SingleStageRequest& request) noexcept;
/// Checks a two-stage request (its filter requirements only in min-cost mode).
[[nodiscard]] QUILLMERE_EXPORT RequestCheck check_request(const TwoStageRequest& request) noexcept;
/// Checks a plan request (its filter requirements only in min-cost mode): the rates, the
/// stage count against the mode, the limit, the target (two stages only) and the tolerance.
[[nodiscard]] QUILLMERE_EXPORT RequestCheck check_request(const PlanRequest& request) noexcept;

// ---------------------------------------------------------------------------
// Progress, errors and stopping
// ---------------------------------------------------------------------------

/// The two passes of the two-stage search.
enum class SearchPass {
    convergents,     ///< every convergent of the ratio, split into factor pairs
    common_factors,  ///< the splits of the simplest exact convergent widened by g and h
};

/// What went wrong inside a solver; the solver's status follows the event.
enum class SolverErrorKind {
    invalid_request,       ///< the request was refused (see the result's message)
    convergents_failed,    ///< the continued-fraction expansion failed (`status`)
    factoring_failed,      ///< factoring `value` failed (`status`, `factored`)
    non_positive_factors,  ///< single stage: the last convergent is `l`/`m` with l or m < 1
                           ///< (a ratio below 1/65535); the status is Status::not_found
    non_finite_rate,       ///< single stage: `l`/`m` gives no finite output rate
};

/// Which number the two-stage search was factoring when it failed.
enum class FactoredNumber {
    convergent_l,  ///< the numerator of a convergent
    convergent_m,  ///< the denominator of a convergent
    simplest_l,    ///< the numerator of the simplest exact convergent
    simplest_m,    ///< the denominator of the simplest exact convergent
};

/// One error met by a solver, with its data.
struct SolverError {
    /// What failed.
    SolverErrorKind kind = SolverErrorKind::invalid_request;
    /// The status the failing step gave.
    Status status = Status::calculation_error;
    /// For factoring_failed: which number.
    FactoredNumber factored = FactoredNumber::convergent_l;
    /// For factoring_failed: the number being factored.
    std::int64_t value = 0;
    /// For non_positive_factors and non_finite_rate: the convergent's L.
    std::int64_t l = 0;
    /// For non_positive_factors and non_finite_rate: the convergent's M.
    std::int64_t m = 0;
};

/// Where a search stands, for a progress display: the pass at work, how far it has come
/// and, where it is known, how far it goes.
struct SearchProgress {
    /// The pass at work.
    SearchPass pass = SearchPass::convergents;
    /// Convergents reached (the one in hand counted), or common-factor (g/h) iterations
    /// counted so far, as the plain pass counts them (the pruned pass counts what it skips).
    std::uint64_t done = 0;
    /// What `done` reaches when the pass runs to its end; 0 when not known. A pass may end
    /// before it: when a result that nothing can beat is found, or by a stop request.
    std::uint64_t total = 0;
    /// Min-cost mode searches twice, first for the price ties are judged against, then for
    /// the fewest coefficients among the cascades tied with it: the search at work (from
    /// 1) and their number. 1 of 1 in the other modes.
    int search = 1;
    int searches = 1;

    /// How far the pass at work has come, 0..1, with the searches before it:
    /// ((search - 1) + done / total) / searches; NaN when the total is not known.
    [[nodiscard]] double fraction() const noexcept;
};

/// Receives the events of a search as they happen, on the calling thread. Every
/// function has an empty default; override what you need. An override must not throw
/// (see the top of this header).
class QUILLMERE_EXPORT SearchObserver {
public:
    /// Destroys the observer.
    virtual ~SearchObserver();
    /// The convergent pass reached convergent `index` (from 0) of `count`; called for
    /// every index before its candidates are assessed, skipped convergents included.
    virtual void on_convergent(int index, int count);
    /// The common-factor pass has counted `total` g/h iterations so far (a running total,
    /// at least 1, never decreasing). Called at the first iteration, when the pass ends
    /// (also by a stop request), and in between only once the count has passed a multiple
    /// of 1000, at most once per multiple and batched when they come fast: often enough for
    /// a progress display, never for every iteration.
    virtual void on_common_factor_iterations(std::uint64_t total);
    /// A pass ran to its normal end (not ended by a stop request or an error).
    virtual void on_pass_done(SearchPass pass);
    /// Where the search stands: with every on_convergent and on_common_factor_iterations
    /// event, and in min-cost mode also during its first search, which the other events
    /// leave out (they describe one search). The common-factor pass gives its total.
    virtual void on_progress(const SearchProgress& progress);
    /// The solver met an error; it ends with the error's status.
    virtual void on_error(const SolverError& error);
};

/// How a call runs. The defaults: silent, never stops.
struct SolveOptions {
#if QUILLMERE_HAS_STOP_TOKEN
    /// The search stops soon after a stop is requested on this token's source. Only where
    /// the standard library has std::stop_token (QUILLMERE_HAS_STOP_TOKEN); the library
    /// and its user must be built with the same standard library.
    std::stop_token stop_token{};
#endif
    /// The search also stops soon after this flag becomes true (may be null). A flag can
    /// be set from a signal handler, which a stop_source cannot, and works with every
    /// standard library.
    const std::atomic<bool>* stop_flag = nullptr;
    /// Receives progress and error events (may be null).
    SearchObserver* observer = nullptr;
};

// ---------------------------------------------------------------------------
// Results
// ---------------------------------------------------------------------------

/// Whether a result reproduces the requested output rate.
enum class Outcome {
    match,          ///< the output rate matches within match_tolerance
    approximation,  ///< factors were found but the output rate only approximates the request
    not_found,      ///< no factors (see the result's status)
};

/// A stable lower-case name of an outcome: "match", "approximation", "not_found".
[[nodiscard]] QUILLMERE_EXPORT const char* outcome_name(Outcome outcome) noexcept;

/// One resampling stage: interpolate by l, decimate by m.
struct Stage {
    /// Interpolation factor L.
    std::int64_t l = 0;
    /// Decimation factor M.
    std::int64_t m = 0;

    /// The stage's complexity figure: the larger of l and m.
    [[nodiscard]] constexpr std::int64_t complexity() const noexcept { return l > m ? l : m; }
};

/// How far an achieved rate is from its target. Values that cannot be computed are NaN
/// (ppm may also be +/-infinity against a target of zero).
struct RateError {
    /// Achieved minus target, in Hz.
    double difference_hz = 0.0;
    /// |difference| / |target|.
    double relative = 0.0;
    /// difference / target x 1e6, parts per million.
    double ppm = 0.0;
};

/// The advice a report gives, as data.
struct Advice {
    /// The output rate misses by a relative error >= significant_error_threshold: an
    /// arbitrary (non-rational) resampler may be needed.
    bool significant_error = false;
    /// Some factor exceeds large_factor_threshold: long filters, expensive.
    bool large_factors = false;
    /// Two stages: the output rate misses, but not significantly.
    bool slight_difference = false;
    /// Two stages with a target: the intermediate rate misses it.
    bool intermediate_miss = false;
};

/// The answer to a single-stage request.
struct SingleStageResult {
    /// Status::ok with factors, Status::not_found when the ratio is below 1/65535 (no L/M
    /// with M up to 65535 approximates it); otherwise see `message` and the error events.
    Status status = Status::calculation_error;
    /// Match, approximation, or not_found when status is not ok.
    Outcome outcome = Outcome::not_found;
    /// Why the call failed or found nothing, in one sentence; empty on success (and when
    /// memory ran out).
    std::string message{};
    /// The stage L/M (zero when not found).
    Stage stage{};
    /// L / M in double.
    double achieved_ratio = 0.0;
    /// input x L / M, in Hz.
    double output_rate_hz = 0.0;
    /// The output rate against the requested one.
    RateError output_error{};
    /// The report's advice.
    Advice advice{};
    /// Convergents the expansion delivered; -1 when it was not reached.
    int convergent_count = -1;
};

/// The answer to a two-stage request.
struct TwoStageResult {
    /// Status::ok with factors, Status::not_found when no candidate met the request.
    Status status = Status::calculation_error;
    /// Match (the output rate matches within match_tolerance), approximation, or
    /// not_found when status is not ok.
    Outcome outcome = Outcome::not_found;
    /// Why the call failed or found nothing, in one sentence (for not_found: the limits
    /// and rules that no candidate got past); empty on success (and when memory ran out).
    std::string message{};
    /// The first stage L1/M1.
    Stage first{};
    /// The second stage L2/M2.
    Stage second{};
    /// L1 + M1 + L2 + M2.
    std::int64_t overall_sum = 0;
    /// first.complexity() + second.complexity().
    std::int64_t overall_complexity = 0;
    /// (L1/M1) x (L2/M2) in double; NaN when not representable.
    double combined_ratio = 0.0;
    /// input x L1/M1, in Hz; NaN when not representable.
    double intermediate_rate_hz = 0.0;
    /// input x (L1/M1) x (L2/M2), in Hz; NaN when not representable.
    double output_rate_hz = 0.0;
    /// The output rate against the requested one.
    RateError output_error{};
    /// The intermediate rate against the target; absent without a target.
    std::optional<RateError> intermediate_error{};
    /// The intermediate rate matches the target within match_tolerance (false without one).
    bool intermediate_match = false;
    /// The report's advice.
    Advice advice{};
    /// Convergents the expansion delivered; -1 when it was not reached.
    int convergent_count = -1;
    /// Iterations of the common-factor (g/h) pass, counted as the plain search counts them.
    std::uint64_t common_factor_iterations = 0;
};

/// The answer to a plan request.
struct PlanResult {
    /// Status::ok with stages; Status::not_found when nothing met the request (the
    /// tolerance included); otherwise see `message` and the error events.
    Status status = Status::calculation_error;
    /// Match (the output rate matches within match_tolerance), approximation, or not_found
    /// when status is not ok.
    Outcome outcome = Outcome::not_found;
    /// Why the call failed or found nothing, in one sentence, where it is known (a
    /// tolerance that refused the answer gives the best error found); empty on success.
    std::string message{};
    /// The stages in order. Those of solve_single_stage and solve_two_stage as they give
    /// them (two stages: both, a pass-through 1/1 included); best-accuracy and the other
    /// min-cost plans in lowest terms, a pass-through stage left out (output = input
    /// needs none: an empty list with a match).
    std::vector<Stage> stages{};
    /// The rate after each stage, in Hz: input x the product of the stage ratios so far,
    /// each L/M in double, multiplied in stage order; NaN when not representable.
    std::vector<double> stage_output_rates_hz{};
    /// The product of the stage ratios in double; NaN when not representable.
    double combined_ratio = 0.0;
    /// The rate after the last stage, in Hz (the input rate without stages).
    double output_rate_hz = 0.0;
    /// The output rate against the requested one.
    RateError output_error{};
    /// Two stages with a target: the rate after the first stage against the target.
    std::optional<RateError> intermediate_error{};
    /// The rate after the first stage matches the target within match_tolerance.
    bool intermediate_match = false;
    /// The sum of every L and M.
    std::int64_t overall_sum = 0;
    /// The sum of the stages' complexities.
    std::int64_t overall_complexity = 0;
    /// The report's advice (slight_difference for several stages, intermediate_miss for
    /// two stages with a target).
    Advice advice{};
    /// When the tolerance refused every answer: the smallest relative error of the output
    /// rate the search found (NaN when it found none); NaN otherwise.
    double best_error_found = std::numeric_limits<double>::quiet_NaN();
    /// Convergents the two-stage or single-stage solver's expansion delivered; -1 when it
    /// did not run or was not reached.
    int convergent_count = -1;
    /// Iterations of the two-stage search's common-factor pass; 0 when it did not run.
    std::uint64_t common_factor_iterations = 0;
};

// ---------------------------------------------------------------------------
// Solvers
// ---------------------------------------------------------------------------

/// Solves one stage. A refused request gives Status::invalid_request with the reason.
[[nodiscard]] QUILLMERE_EXPORT SingleStageResult
solve_single_stage(const SingleStageRequest& request, const SolveOptions& options = {}) noexcept;

/// Solves two stages. A refused request gives Status::invalid_request with the reason;
/// a stop request gives Status::stopped. SearchMode::best_accuracy gives the most accurate
/// cascade within the limit, as solve_plan does.
[[nodiscard]] QUILLMERE_EXPORT TwoStageResult
solve_two_stage(const TwoStageRequest& request, const SolveOptions& options = {}) noexcept;

/// Solves a plan request. A refused request gives Status::invalid_request with the
/// reason; a stop request gives Status::stopped. The observer hears the events of the
/// single- and two-stage solvers where they run.
[[nodiscard]] QUILLMERE_EXPORT PlanResult solve_plan(const PlanRequest& request,
                                                     const SolveOptions& options = {}) noexcept;

// ---------------------------------------------------------------------------
// Filter cost
// ---------------------------------------------------------------------------

/// The estimated filter of one stage: a lowpass at the stage's upsampled rate L x (its
/// input rate), run as a polyphase filter; a Kaiser window unless the filter requirements
/// name a design method.
struct StageCost {
    /// The stage's input rate, in Hz.
    double input_rate_hz = 0.0;
    /// The stage's output rate, in Hz.
    double output_rate_hz = 0.0;
    /// False when L = M = 1: the stage passes the signal through and costs nothing.
    bool filtered = false;
    /// Width of the transition band, from the passband edge to the stage's stopband edge, Hz.
    double transition_hz = 0.0;
    /// Filter length (Kaiser's formula, rounded up; with a design method the length that
    /// method gives).
    std::int64_t taps = 0;
    /// Kaiser window parameter for the attenuation (0 for an equiripple filter).
    double kaiser_beta = 0.0;
    /// nonzero_taps / L: the multiplies of one output sample.
    double taps_per_output_sample = 0.0;
    /// nonzero_taps / L x the stage's output rate.
    double macs_per_second = 0.0;
    /// macs_per_second / the cascade's input rate: the stage's multiplications per input
    /// sample of the cascade (the stages' figures add up to the cascade's).
    double macs_per_input_sample = 0.0;
    /// The filter priced: kaiser for Kaiser's estimate, else the one the design method
    /// gives this stage; none for a stage that passes the signal through.
    StageFilter filter = StageFilter::none;
    /// A halfband (with a design method only): every other coefficient but the centre one
    /// is zero.
    bool halfband = false;
    /// The coefficients other than zero: what the polyphase filter multiplies and what is
    /// stored. taps, or about half of them for a halfband.
    std::int64_t nonzero_taps = 0;
};

/// The estimated cost of a cascade.
struct CostEstimate {
    /// Status::ok, or Status::invalid_request with `field` and `message`, or
    /// Status::overflow_error (field "stages") when a filter would need more than 2^53 taps,
    /// or Status::memory_error; for a result without factors, the result's status.
    Status status = Status::ok;
    /// The refused field, as in RequestCheck; empty on success.
    std::string field{};
    /// Why the estimate was refused; empty on success.
    std::string message{};
    /// The passband edge used, Hz. A refused estimate has the edges and levels it resolved
    /// before a stage was refused (field "stages"), and 0 for each when the refusal came
    /// before them.
    double passband_hz = 0.0;
    /// The stopband edge used, Hz.
    double stopband_hz = 0.0;
    /// The attenuation every stage gets, dB.
    double attenuation_db = 0.0;
    /// The passband ripple of the whole cascade, dB.
    double ripple_db = 0.0;
    /// One entry per stage, in order.
    std::vector<StageCost> stages{};
    /// Sum of the stages' multiply-accumulates per second.
    double total_macs_per_second = 0.0;
    /// Sum of the stages' non-zero taps: the coefficients to store (without halfbands, the
    /// sum of the taps).
    std::int64_t total_coefficients = 0;
    /// total_macs_per_second / the input rate: the multiplications per input sample, the
    /// figure multistage designs are often compared by.
    double macs_per_input_sample = 0.0;
    /// The design method priced (the filter requirements' design_method); absent for
    /// Kaiser's estimate.
    std::optional<DesignMethod> design_method{};
    /// The figures are those of filters design_filters delivered (design_cost), not
    /// predictions.
    bool designed = false;
};

/// Estimates the filters of a cascade of `stages` (one or more, each with l, m >= 1)
/// fed at input_rate_hz (min_rate_hz..max_rate_hz, as the solvers accept it). Refuses a
/// passband above the stopband (or at it where that is half the lower rate), a stopband
/// above half the lower of the input and output rate, a stage rate too low to carry the
/// passband, non-positive decibels, decibels that ask for an unbounded filter or overflow
/// (under the field of the level at fault), and a design method that is none of
/// DesignMethod's (field "filter.design_method").
[[nodiscard]] QUILLMERE_EXPORT CostEstimate estimate_cost(double input_rate_hz,
                                                          std::span<const Stage> stages,
                                                          const FilterSpec& filter = {}) noexcept;

/// Estimates the filter of a single-stage result's stage, fed at the request's input rate.
/// A result without factors gives its own status (field "result") and no figures.
[[nodiscard]] QUILLMERE_EXPORT CostEstimate estimate_cost(const SingleStageRequest& request,
                                                          const SingleStageResult& result,
                                                          const FilterSpec& filter = {}) noexcept;

/// Estimates the filters of a two-stage result's cascade under the request's own filter
/// requirements. A result without factors gives its own status (field "result") and no
/// figures.
[[nodiscard]] QUILLMERE_EXPORT CostEstimate estimate_cost(const TwoStageRequest& request,
                                                          const TwoStageResult& result) noexcept;

/// Estimates the filters of a plan's stages under the request's own filter requirements.
/// A result without stages gives its own status (field "result") and no figures; a plan
/// of no stage (output = input) costs nothing: an estimate with no stages and zero totals.
[[nodiscard]] QUILLMERE_EXPORT CostEstimate estimate_cost(const PlanRequest& request,
                                                          const PlanResult& result) noexcept;

// ---------------------------------------------------------------------------
// Filter design
// ---------------------------------------------------------------------------
//
// design_filters() designs the filters of a cascade, measures them and hands them over as
// values. Each filtered stage gets a linear-phase FIR lowpass, the prototype at its
// upsampled rate U = L x its input rate: it passes up to the passband edge and stops from
// min(the stage's input rate, its output rate) - the stopband edge, like the cost estimate.
// Its coefficients are in time order with DC gain L, so the stage's passband gain is 1 as
// scipy.signal.upfirdn(h, x, L, M) runs it; polyphase phase p takes h[p + k L].

/// Why a stage of an automatic design is not equiripple.
enum class DesignFallback {
    /// No fallback: the stage has the method asked for.
    none,
    /// Its equiripple length would exceed max_exchange_taps: not attempted.
    too_long,
    /// The exchange did not converge.
    no_convergence,
    /// No equiripple length up to max_exchange_taps measured within the requirements.
    missed_requirements,
};

/// A stable lower-case name of a fallback: "none", "too_long", "no_convergence",
/// "missed_requirements".
[[nodiscard]] QUILLMERE_EXPORT const char* design_fallback_name(DesignFallback fallback) noexcept;

/// Longest filter the Remez exchange is attempted for, in taps. Beyond it an automatic
/// design takes a Kaiser window and an equiripple design is refused.
inline constexpr std::int64_t max_exchange_taps = 4095;
/// Longest filter design_filters designs, in taps: designing and measuring one takes about
/// 200 bytes per tap.
inline constexpr std::int64_t max_design_taps = std::int64_t{1} << 24;
/// Fewest bits a quantisation may ask for.
inline constexpr int min_quantize_bits = 8;
/// Most bits a quantisation may ask for.
inline constexpr int max_quantize_bits = 32;

/// How design_filters runs.
struct DesignOptions {
    /// How each stage's filter is designed.
    DesignMethod method = DesignMethod::automatic;
    /// Also round the coefficients to signed integers of this many bits,
    /// min_quantize_bits..max_quantize_bits, and measure the rounded filters. Each stage is
    /// then designed so that its rounded filter meets the requirements where the bits allow:
    /// a filter that misses once rounded is designed again with a margin for the rounding
    /// (QuantizedFilter::rounding_margin_db), a little longer.
    std::optional<int> quantize_bits{};
#if QUILLMERE_HAS_STOP_TOKEN
    /// The design stops soon after a stop is requested on this token's source
    /// (Status::stopped); where the standard library has std::stop_token.
    std::stop_token stop_token{};
#endif
    /// The design also stops soon after this flag becomes true (may be null).
    const std::atomic<bool>* stop_flag = nullptr;
};

/// A filter's response, measured on a grid of at least 8 points per U / taps (by FFT),
/// the extremes refined between the grid points.
struct MeasuredResponse {
    /// Peak-to-peak passband ripple from 0 Hz to the passband edge, dB.
    double ripple_db = 0.0;
    /// Minimum stopband attenuation from the stage's stopband edge to U / 2, in dB below
    /// the passband gain (1 after the stage's gain L).
    double attenuation_db = 0.0;
    /// The largest gain anywhere from 0 to U / 2, in dB against the passband gain: the
    /// passband's top, or a bump of the transition band above it.
    double peak_gain_db = 0.0;
    /// The ripple is within the stage's share, the attenuation at least the stage's
    /// target and the peak gain no higher than the top of that ripple share.
    bool meets_spec = false;
};

/// A stage's coefficients rounded to signed integers with one power-of-two scale.
struct QuantizedFilter {
    /// The bits asked for (sign included).
    int bits = 0;
    /// coefficient = integer x 2^-scale_exponent; the largest power of two that keeps
    /// every integer within +/-(2^(bits-1) - 1).
    int scale_exponent = 0;
    /// The rounded coefficients, in time order.
    std::vector<std::int32_t> integers;
    /// Integers other than zero.
    std::int64_t nonzero_taps = 0;
    /// The response of the rounded filter.
    MeasuredResponse measured;
    /// What the stage's attenuation target was raised by for the filter that was rounded,
    /// dB: 0 when the filter designed without rounding in mind rounds within the
    /// requirements; else the filter handed out (StageDesign::coefficients) was designed
    /// with both deviations lowered by the error the rounding adds (see design_filters).
    double rounding_margin_db = 0.0;
    /// The fewest bits, from 2 to 53, at which the stage's filter, designed with the margin
    /// that rounding to them needs, rounds within the stage's requirements (may be fewer
    /// than `bits`); 0 when none does.
    int bits_needed = 0;
};

/// The designed filter of one stage.
struct StageDesign {
    /// The stage's factors.
    Stage stage;
    /// The stage's input rate, Hz.
    double input_rate_hz = 0.0;
    /// The stage's output rate, Hz.
    double output_rate_hz = 0.0;
    /// L x the input rate: the rate the filter runs at, Hz.
    double upsampled_rate_hz = 0.0;
    /// The filter it got (none for a pass-through stage: the fields below are then zero,
    /// but measured.meets_spec is true).
    StageFilter filter = StageFilter::none;
    /// Why an automatic design fell back to Kaiser for this stage.
    DesignFallback fallback = DesignFallback::none;
    /// A halfband: every other coefficient but the centre one is zero.
    bool halfband = false;
    /// Passband edge designed for, Hz (a halfband's may be wider than the cascade's).
    double passband_hz = 0.0;
    /// Stopband edge designed for, Hz (a halfband's may be lower than the stage's).
    double stopband_hz = 0.0;
    /// The stage's share of the cascade's ripple, dB.
    double target_ripple_db = 0.0;
    /// The attenuation the stage is designed for: the cascade's plus the leak allowance, dB.
    double target_attenuation_db = 0.0;
    /// The Kaiser window's beta (Kaiser designs; 0 otherwise).
    double kaiser_beta = 0.0;
    /// The length the method's estimate predicted: Kaiser's formula through the cost model,
    /// or Herrmann's estimate for an equiripple design (a halfband's rounded up to 4k + 3).
    std::int64_t predicted_taps = 0;
    /// The filter's length.
    std::int64_t taps = 0;
    /// Coefficients other than zero: what a polyphase filter multiplies.
    std::int64_t nonzero_taps = 0;
    /// The prototype, in time order, DC gain L.
    std::vector<double> coefficients;
    /// Group delay, (taps - 1) / 2, in samples at the upsampled rate.
    double group_delay_samples = 0.0;
    /// Group delay in seconds.
    double group_delay_seconds = 0.0;
    /// The measured response.
    MeasuredResponse measured;
    /// The rounded coefficients and their response, when quantize_bits was given.
    std::optional<QuantizedFilter> quantized;
};

/// What the whole cascade does to a signal, from the measured stages.
struct CascadeResponse {
    /// Peak-to-peak ripple of the product of the stages' passband gains, 0 Hz to the
    /// passband edge, dB.
    double ripple_db = 0.0;
    /// A bound on the attenuation of anything that can alias or image into the protected
    /// band (below the stopband edge): every leak of a tone passes at least one stage's
    /// stopband, and up to coinciding_leaks of them can land on one frequency in phase, so
    /// -20 log10(coinciding_leaks x the largest stopband gain of a stage x the peak gains
    /// of the other stages); +infinity when no stage filters.
    double attenuation_db = 0.0;
    /// The ripple is within the cascade's and the attenuation at least the cascade's.
    bool meets_spec = false;
};

/// The designed filters of a cascade.
struct FilterDesign {
    /// Status::ok; Status::invalid_request with `field` and `message` (as estimate_cost
    /// refuses, or "options.method", "options.quantize_bits"); Status::memory_error (field
    /// "stages") when a filter would exceed max_design_taps or memory ran out;
    /// Status::calculation_error (field "stages") when an equiripple design was asked for a
    /// stage the exchange cannot design; Status::stopped on a stop request.
    Status status = Status::ok;
    /// The refused field, as in RequestCheck; empty on success.
    std::string field;
    /// Why the design failed, in one sentence; empty on success.
    std::string message;
    /// The method asked for.
    DesignMethod method = DesignMethod::automatic;
    /// The passband edge used, Hz.
    double passband_hz = 0.0;
    /// The stopband edge used, Hz.
    double stopband_hz = 0.0;
    /// The attenuation the cascade must keep, dB.
    double attenuation_db = 0.0;
    /// The passband ripple of the whole cascade, dB.
    double ripple_db = 0.0;
    /// How many stopband leaks of one tone can land on one output frequency (see the
    /// README): 1, or 2 when a tone's positive and negative frequency lines can meet, times
    /// the paths a line takes through the cascade to any one output frequency.
    double coinciding_leaks = 1.0;
    /// What each stage's attenuation target adds for them: 20 log10(coinciding_leaks) plus
    /// the passband gains of the other stages, dB.
    double leak_allowance_db = 0.0;
    /// One entry per stage, in order.
    std::vector<StageDesign> stages;
    /// The whole cascade as measured.
    CascadeResponse measured;
    /// The whole cascade with the rounded coefficients, when quantize_bits was given.
    std::optional<CascadeResponse> quantized;
    /// The sum of the stages' group delays, seconds.
    double group_delay_seconds = 0.0;
    /// Every stage and the cascade measure within the requirements (the unrounded filters).
    bool meets_spec = false;
};

/// Designs and measures the filters of a cascade of `stages` (one or more, each with
/// l, m >= 1) fed at input_rate_hz, for the filter requirements (their defaults as in
/// estimate_cost). The ripple is shared among the filtered stages; each stage's stopband is
/// tightened by the leak allowance, so that the cascade as a whole keeps every alias and
/// image in the protected band the attenuation down. A stage that interpolates or
/// decimates by 2, with a quarter of its upsampled rate inside its transition band, gets a
/// halfband when that needs fewer non-zero taps. A design that misses its requirements
/// says so in meets_spec; it is never silently short.
///
/// With options.quantize_bits = B, each stage's filter is first designed as without it and
/// rounded to B bits. When the rounded filter misses the stage's requirements, the rounding
/// error E (the largest the rounding adds to the amplitude, over the gain, anywhere from 0
/// to half the rate) is measured and the stage designed again for both deviations lowered
/// by 1.1 E (a stopband target raised by -20 log10(1 - 1.1 E / its deviation) dB), rounded
/// and measured; while that misses, again with the margin of the last filter tried, at
/// least 25 % more each time, up to four designs. The first that rounds within the
/// requirements is handed out; when none does (the bits are too few: E comes near the
/// deviations), the filter designed without rounding in mind is. bits_needed applies the
/// same rule at every number of bits. filter.design_method plays no part here.
[[nodiscard]] QUILLMERE_EXPORT FilterDesign design_filters(double input_rate_hz,
                                                           std::span<const Stage> stages,
                                                           const FilterSpec& filter = {},
                                                           const DesignOptions& options = {}) noexcept;

/// The cost of the filters a design delivered, in the form of estimate_cost: each filtered
/// stage's length, its non-zero taps (what its polyphase filter multiplies and stores),
/// non-zero taps / L per output sample and their MAC/s at the stage's output rate, the
/// Kaiser window's beta (0 for equiripple filters), the stage's transition as the cost
/// model takes it; CostEstimate::designed is true. The unrounded filters are counted. A
/// design that failed gives its status, field and message, and no figures.
[[nodiscard]] QUILLMERE_EXPORT CostEstimate design_cost(const FilterDesign& design) noexcept;

/// A filter's magnitude response for a plot: `points` values (at least 2) at the
/// frequencies k x to_hz / (points - 1), k = 0 .. points - 1, in dB against `gain` (a
/// stage's passband gain is its L). Each is the largest gain over its share of the axis
/// (half the spacing either side), so that no stopband peak falls between two points: the
/// largest of an FFT grid of at least 8 points per rate_hz / taps (as design_filters
/// measures) over the share and the grid point beyond each of its ends. The filter runs at
/// rate_hz; above rate_hz / 2 its response repeats as a sampled filter's does. A gain of
/// exactly zero reads as -400 dB. Empty when there are no coefficients, fewer than 2
/// points, a rate, gain or to_hz that is not positive and finite, or no memory for it.
[[nodiscard]] QUILLMERE_EXPORT std::vector<double> magnitude_response_db(
    std::span<const double> coefficients, double gain, double rate_hz, double to_hz,
    std::size_t points) noexcept;

}  // namespace quillmere::inline v2

#endif  // C++20
