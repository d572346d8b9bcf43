// Candidate assessment of the two-stage search: the record of the best cascade, the
// measures of a candidate and the rules that decide whether it replaces the record.
#pragma once

#include <limits>

#include "core/filter_price.h"
#include "core/search_context.h"

namespace quillmere::inline v2::core {

/// The factors of one candidate cascade L1/M1 -> L2/M2.
struct Cascade {
    long long l1 = 0;
    long long m1 = 0;
    long long l2 = 0;
    long long m2 = 0;
};

/// The best cascade L1/M1 -> L2/M2 found by a search. A value-initialised record is the
/// empty one a search starts from: nothing stored, every measure unknown.
struct CascadeRecord {
    long long l1 = 0;
    long long m1 = 0;
    long long l2 = 0;
    long long m2 = 0;
    double combined_ratio = std::numeric_limits<double>::quiet_NaN();
    double final_error = std::numeric_limits<double>::infinity();
    bool final_match = false;
    bool found = false;
    long long overall_sum = std::numeric_limits<long long>::max();
    double achieved_intermediate_rate = std::numeric_limits<double>::quiet_NaN();
    double intermediate_error = std::numeric_limits<double>::infinity();
    bool intermediate_match = false;
    /// Min-cost mode: the cascade's total MAC/s, coefficients and grain (see filter_price.h).
    double macs_per_second = std::numeric_limits<double>::infinity();
    long long coefficients = 0;
    double macs_grain = 0.0;
};

/// What a search has found so far: its record, and whether a balanced-dual search in
/// custom-limit mode has stored a match of both rates (which ends it).
struct SearchState {
    CascadeRecord best{};
    bool dual_match_found = false;
    /// Min-cost mode: the filter design the search's pricing last resolved.
    cost_model::DesignMemo design_memo{};
};

/// The record as a search starts it: nothing stored, every measure unknown.
inline CascadeRecord make_empty_record() {
    return CascadeRecord{};
}

/// a * b, or NaN when the product would overflow, leave the normal range or not be finite.
double guarded_product(double a, double b);

/// |x - t| / |t|, or |x - t| when t is too close to zero to divide by.
double relative_error(double x, double t);

/// Output rate of input_rate through L1/M1 then L2/M2; NaN when it cannot be represented.
double calculate_achieved_output_rate_two(double input_rate, long long l1, long long m1,
                                          long long l2, long long m2);

/// The measures of one candidate that the decision compares.
struct CandidateMeasures {
    long long sum = 0;
    double final_error = std::numeric_limits<double>::infinity();
    bool final_match = false;
    double intermediate_error = std::numeric_limits<double>::infinity();
    bool intermediate_match = false;
    /// Min-cost mode: the price of the cascade; NaN when it cannot be priced (the filter
    /// requirements refuse it), which rules the candidate out.
    double macs_per_second = 0.0;
    long long coefficients = 0;
    double macs_grain = 0.0;
};

/// Min-cost mode: prices a cascade; false when the filter requirements refuse it.
bool price_candidate(const TwoStageRequest& request, const Cascade& cascade, CandidateMeasures* c,
                     cost_model::DesignMemo* memo = nullptr);

/// What the intermediate-rate priority says of a candidate, in increasing order of favour:
/// refused, left to the search mode, or preferred outright.
enum class Verdict { reject, mode_order, accept };

/// The priority rules for a candidate against the stored record; ignores sum and errors
/// that cannot be measured.
Verdict judge_by_priority(const CandidateMeasures& c, const CascadeRecord& b,
                          const TwoStageRequest& request);

/// Whether every candidate that the record `now` does not reject by the priority rules is
/// preferred outright to the record `before` it replaced: true when `now` won by a match
/// `before` lacked, or came nearer the target by more than twice the tie tolerance.
bool prefers_every_peer(const CascadeRecord& now, const CascadeRecord& before,
                        const TwoStageRequest& request);

/// The search mode's order: the smaller sum first, or the smaller final error first, or
/// (min-cost) a final match first, the smaller final error among misses, then the price.
/// Without a reference price (the first min-cost search): the lower estimate of the price
/// (MAC/s less twice the grain), then the fewer coefficients, the smaller sum. With
/// one (the second search): a price tied with the reference first, and among those the
/// fewer coefficients and the smaller sum; among the others the fewer MAC/s.
bool wins_by_mode_order(const CandidateMeasures& c, const CascadeRecord& b, SearchMode search_mode,
                        const cost_model::Price* reference_price = nullptr);

/// Whether the candidate replaces the stored record.
bool candidate_wins(const CandidateMeasures& c, const CascadeRecord& b, const SearchTerms& terms);

/// Measures one candidate and stores it in the state's record when it beats the stored
/// one; true when it was stored.
bool assess_two_stage_candidate(const Cascade& cascade, const SearchTerms& terms,
                                SearchState* state);

/// Stores a candidate that beats the record, with the measures the assessment gives it and
/// its intermediate rate input x L1/M1.
void store_two_stage_candidate(const Cascade& cascade, const CandidateMeasures& c,
                               double intermediate_rate, const TwoStageRequest& request,
                               SearchState* state);

/// True when a balanced-dual search in custom-limit mode has found a dual match and stops.
bool dual_stop_holds(const TwoStageRequest& request, const SearchState& state);

}  // namespace quillmere::inline v2::core
