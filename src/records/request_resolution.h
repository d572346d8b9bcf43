// The request that options make: the options of a request laid over the batch defaults,
// checked against the conflicts they can have, with the library's defaults filled in.
#pragma once

#include <optional>
#include <string_view>
#include <variant>

#include "records/request_options.h"
#include "quillmere/quillmere.h"

namespace quillmere::records {

/// One request, complete and checked against the conflicts the options can have.
struct ResolvedRequest {
    /// 1 to 4, or auto_stages (0).
    int stages = 1;
    /// The one-stage request (stages == 1).
    SingleStageRequest single;
    /// The two-stage request (stages == 2); its filter is the one the cost uses.
    TwoStageRequest two;
    /// Solved by solve_plan rather than the one- and two-stage solvers: best-accuracy,
    /// min-cost with one, three, four or auto stages, and any request with a tolerance.
    bool general = false;
    /// The request as solve_plan takes it (every request; solved so when `general`), with
    /// the first-stage decimation resolved.
    PlanRequest plan;
    /// Whether the filter cost is wanted.
    bool cost = false;
    /// The filter requirements for the cost (and the min-cost mode); with `design` their
    /// design_method is the method, so that the cost prices the method's filters.
    FilterSpec filter;
    /// Whether the filters are designed (--design, which implies the cost).
    bool design = false;
    /// How they are designed: the method and the bits to round to.
    DesignMethod method = DesignMethod::automatic;
    std::optional<int> quantize_bits;
    /// Where the designed coefficients go, as given (a batch line's {line} is replaced when
    /// the file is written), and in which format.
    std::optional<std::string> coefficients_file;
    CoefficientFormat coefficients_format = CoefficientFormat::json;
};

/// The coefficient file format a file name's extension names: .json, .csv or .h (in any
/// case); empty for another or none.
std::optional<CoefficientFormat> coefficient_format_of(std::string_view file_name);

/// Conflicts between options given together in one argument list, for a request of
/// `stages` stages: two-stage options with one stage (but for min-cost's limit), --limit
/// with minimal-sum, more than two stages or auto without min-cost, a target without two
/// stages.
std::optional<UsageError> check_option_conflicts(const OptionLayer& layer, int stages);

/// Makes the request of `top` (the command line of a single request, or a batch line)
/// over `defaults` (the batch command line's options; null for a single request).
/// Defaults that do not apply to the request (two-stage options on a one-stage line)
/// are left out; options of `top` that do not apply are refused.
std::variant<ResolvedRequest, UsageError> resolve_request(const OptionLayer& top,
                                                          const OptionLayer* defaults);

}  // namespace quillmere::records
