// The min-cost search over one to four stages: the cheapest cascade whose stages factor
// the overall ratio L/M (the exact ratio, or, with a tolerance, one of the simplest ratios
// within it), priced through a pricing hook (the Kaiser estimate of filter_cost.h, or the
// lengths a design method delivers).
// See multistage_min_cost.cpp for the candidates, the order and why the search is exact
// and fast.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "core/exact_ratio.h"
#include "core/filter_price.h"
#include "core/search_context.h"
#include "quillmere/quillmere.h"

namespace quillmere::inline v2::core {

/// Lower bounds on one filtered stage's cost, for pruning.
struct StageFloor {
    double macs_per_second = 0.0;
    double coefficients = 0.0;
};

/// What a floor derives from the lower of a stage's two rates alone (for the Kaiser floor,
/// the transition band and its length factor): a search works it out once per rate and
/// hands it back with each stage. Its meaning is the pricer's own.
struct LowerRateTerms {
    double values[8] = {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0};
};

/// Prices the cascades the search compares. The search calls price() for every plan it
/// may choose and stage_floor() to rule out the others; a pricer whose floors are 0 makes
/// the search exhaustive.
class CascadePricer {
public:
    virtual ~CascadePricer() = default;
    /// The price of a cascade, as estimate_cost figures it (Refusal::none when it can be
    /// priced); the design resolved through `memo` (one per search and filter; may be
    /// null).
    virtual cost_model::Refusal price(double input_rate_hz, const Stage* stages, std::size_t count,
                                      const FilterSpec& filter, cost_model::Price* price,
                                      cost_model::DesignMemo* memo) const = 0;
    /// A lower bound on the price of one filtered stage from in_hz to out_hz interpolating
    /// by l, in a cascade designed as `design` says (edges resolved, the ripple shared
    /// among its filtered stages) whose stages let coinciding_leaks stopband leaks meet
    /// (cost_model::coinciding_leaks; 1, the least, fits every cascade): stage_floor_with()
    /// with the terms of min(in_hz, out_hz).
    StageFloor stage_floor(const cost_model::Design& design, double in_hz, double out_hz,
                           std::int64_t l, double coinciding_leaks = 1.0) const;
    /// The terms stage_floor_with() reads of a stage whose lower rate is lower_hz, in such
    /// a cascade. The default has none.
    virtual LowerRateTerms lower_rate_terms(const cost_model::Design& design, double lower_hz,
                                            double coinciding_leaks) const;
    /// stage_floor() given lower_rate_terms(design, min(in_hz, out_hz)). The default, 0,
    /// rules nothing out.
    virtual StageFloor stage_floor_with(const cost_model::Design& design, double in_hz,
                                        double out_hz, std::int64_t l,
                                        const LowerRateTerms& lower) const;
    /// Whether stage_floor gives the same floors for two designs (of one ratio with
    /// different stage counts), so that the search may share what it derived from them.
    /// The default, false, shares nothing.
    virtual bool same_floors(const cost_model::Design& a, const cost_model::Design& b) const;
    /// A lower bound on the MAC/s over the grain (output rate / L), that is on the non-zero
    /// taps, of any filtered stage of a cascade designed as `design` or with more filtered
    /// stages (a smaller ripple share). The tie pass rules out prices far above the
    /// reference with it. The default, 0, rules nothing out.
    virtual double least_taps(const cost_model::Design& design) const;
};

/// The Kaiser estimate of filter_cost.h (cost_model::price_cascade), with its continuous
/// length as the floor.
class KaiserPricer final : public CascadePricer {
public:
    cost_model::Refusal price(double input_rate_hz, const Stage* stages, std::size_t count,
                              const FilterSpec& filter, cost_model::Price* price,
                              cost_model::DesignMemo* memo) const override;
    LowerRateTerms lower_rate_terms(const cost_model::Design& design, double lower_hz,
                                    double coinciding_leaks) const override;
    StageFloor stage_floor_with(const cost_model::Design& design, double in_hz, double out_hz,
                                std::int64_t l, const LowerRateTerms& lower) const override;
    bool same_floors(const cost_model::Design& a, const cost_model::Design& b) const override;
    double least_taps(const cost_model::Design& design) const override;
};

/// The lengths design_filters delivers with a design method
/// (cost_model::price_designed_cascade), with cost_model::stage_nonzero_taps_floor as the
/// floor: each form's length at the stage's own transition, for the cascade's leaks.
class DesignedPricer final : public CascadePricer {
public:
    explicit DesignedPricer(DesignMethod method) : method_(method) {}
    cost_model::Refusal price(double input_rate_hz, const Stage* stages, std::size_t count,
                              const FilterSpec& filter, cost_model::Price* price,
                              cost_model::DesignMemo* memo) const override;
    LowerRateTerms lower_rate_terms(const cost_model::Design& design, double lower_hz,
                                    double coinciding_leaks) const override;
    StageFloor stage_floor_with(const cost_model::Design& design, double in_hz, double out_hz,
                                std::int64_t l, const LowerRateTerms& lower) const override;
    double least_taps(const cost_model::Design& design) const override;

private:
    DesignMethod method_;
};

/// What the many-stage min-cost search reads from a request.
struct MultistageRequest {
    double input_rate_hz = 0.0;
    double output_rate_hz = 0.0;
    /// Largest L and M of each stage, 1..max_factor_limit.
    long long max_factor = max_factor_limit;
    /// Whether the first of several stages may decimate; on by default in this mode. A
    /// single stage decimates as the rates need.
    bool allow_first_stage_decimation = true;
    /// 1..4 filtered stages, or 0 for the cheapest count (fewer coefficients, then fewer
    /// stages, on tied prices).
    int stages = 0;
    /// Only with exactly two stages (refused otherwise): applied as in the other modes.
    std::optional<IntermediateTarget> intermediate_target;
    /// Overall ratios within it may be chosen for cheaper filters; without it, the exact
    /// ratio (the simplest within match_tolerance).
    std::optional<Tolerance> tolerance;
    FilterSpec filter;
    /// A plan found elsewhere that takes part as one more candidate (the two-stage
    /// search's answer, 1/1 stages and all; those count neither as stages nor in the sum).
    /// Without a tolerance it competes only when it matches the output rate, and stands in
    /// when no plan of the exact ratio exists.
    std::vector<Stage> seed;
};

/// The chosen plan.
struct MultistagePlan {
    /// The filtered stages in order, each in lowest terms (pass-through stages dropped).
    std::vector<Stage> stages;
    cost_model::Price price;
    /// Total MAC/s / input rate: the multiplications per input sample.
    double macs_per_input_sample = 0.0;
    /// The overall ratio's exact relative error.
    ExactError error;
    /// Sum of every L and M.
    long long sum = 0;
};

struct MultistageResult {
    /// ok; not_found (no ratio factors within the limit and the tolerance, or the count
    /// cannot be reached); invalid_request (with field and message); stopped.
    Status status = Status::not_found;
    MultistagePlan plan;
    /// The seed was chosen (plan.stages are its stages without the 1/1 ones).
    bool seed_chosen = false;
    /// not_found with a tolerance: the smallest relative error of the ratios the search
    /// looked at; NaN otherwise.
    double best_error_found = std::numeric_limits<double>::quiet_NaN();
    std::string field;
    std::string message;
};

/// The filter requirements as the search prices them: a stopband edge equal to the
/// passband edge (aliases may fall anywhere above the passband) becomes a passband edge one
/// unit in the last place below it, which the cost model accepts and prices the same.
FilterSpec effective_filter(const FilterSpec& filter);

/// Runs the search. Rates, limit and decibels are taken as checked by the caller; the
/// stage count and the target are checked here. Without a pricer, the filter
/// requirements' design method chooses it: DesignedPricer with one, KaiserPricer without.
MultistageResult search_multistage_min_cost(const SearchContext& context,
                                            const MultistageRequest& request,
                                            const CascadePricer& pricer);
MultistageResult search_multistage_min_cost(const SearchContext& context,
                                            const MultistageRequest& request);

}  // namespace quillmere::inline v2::core
