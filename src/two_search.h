// Internals of the two-stage search: the candidate judgement, the progress line of the
// common-factor pass and the search driver that the program's search and the plain
// reference search share.
#pragma once

#include <chrono>
#include <cstdint>

#include "cfe_utils.h"
#include "two_resamplers.h"

/// a * b, or NaN when the product would overflow, leave the normal range or not be finite.
double guarded_product(double a, double b);

/// |x - t| / |t|, or |x - t| when t is too close to zero to divide by.
double relative_error(double x, double t);

/// The measures of one candidate that the decision compares.
struct CandidateMeasures {
    long long sum;
    double final_error;
    bool final_match;
    double intermediate_error;
    bool intermediate_match;
};

/// What the intermediate-rate priority says of a candidate, in increasing order of favour:
/// refused, left to the search mode, or preferred outright.
enum class Verdict { reject, mode_order, accept };

/// The priority rules for a candidate against the stored record; ignores sum and errors
/// that cannot be measured.
Verdict judge_by_priority(const CandidateMeasures& c, const TwoStageResult& b,
                          const UserInputs& inputs);

/// The search mode's order: the smaller sum first, or the smaller final error first.
bool wins_by_mode_order(const CandidateMeasures& c, const TwoStageResult& b, int search_mode);

/// Whether the candidate replaces the stored record.
bool candidate_wins(const CandidateMeasures& c, const TwoStageResult& b, const UserInputs& inputs,
                    int search_mode);

/// Judges one candidate exactly like assess_candidate_and_update; true when it was stored.
bool assess_two_stage_candidate(long long l1, long long m1, long long l2, long long m2,
                                long long max_lm, const UserInputs* inputs, int search_mode,
                                TwoStageResult* best, bool* dual_match_found);

/// True when a balanced-dual search in custom-limit mode has found a dual match and stops.
bool dual_stop_holds(const UserInputs* inputs, int search_mode, bool dual_match_found);

/// Iterations of the common-factor pass between two progress dots.
constexpr std::uint64_t GH_DOT_STEP = 1000;

/// The "Progress (checking g/h factors): " line: a header at the first iteration, then a
/// dot every GH_DOT_STEP iterations, either written at once or gathered and written in
/// batches.
struct CommonFactorProgress {
    std::uint64_t iterations = 0;
    bool header_printed = false;
    std::uint64_t dots_pending = 0;  ///< dots already due but not yet written
    std::chrono::steady_clock::time_point last_flush{};
};

/// Counts one iteration and writes its header or dot at once.
void progress_count_one(CommonFactorProgress* progress);
/// Counts n iterations; their dots are gathered and written by progress_write_pending.
void progress_count_many(CommonFactorProgress* progress, std::uint64_t n);
/// Writes gathered dots when enough have piled up or some time has passed since the last.
void progress_poll(CommonFactorProgress* progress);
/// Writes every gathered dot and flushes standard output.
void progress_write_pending(CommonFactorProgress* progress);

/// What a common-factor pass works on: the request and the splits of the simplest
/// exact convergent.
struct CommonFactorScan {
    const UserInputs* inputs;
    long long max_lm;
    int search_mode;
    TwoStageResult* best;
    bool* dual_match_found;
    const FactorPair* l_pairs;
    int l_count;
    const FactorPair* m_pairs;
    int m_count;
};

/// One way of carrying out the common-factor pass; counts its iterations in progress.
using CommonFactorPass = void (*)(const CommonFactorScan& scan, CommonFactorProgress* progress);

/// The set-up, convergent pass, common-factor pass and clean-up of a two-stage search.
/// skip_unsplittable leaves convergents whose L or M exceeds max_lm squared unfactored:
/// no split of them fits the per-stage limit.
StatusCode run_two_stage_search(const UserInputs* inputs, long long max_lm, int search_mode,
                                TwoStageResult* best, int* convergent_count,
                                std::uint64_t* gh_iterations, CommonFactorPass pass,
                                bool skip_unsplittable);

/// The program's search; gh_iterations (may be null) receives the common-factor count.
StatusCode perform_two_stage_search_counted(const UserInputs* inputs, long long max_lm,
                                            int search_mode, TwoStageResult* best,
                                            int* convergent_count, std::uint64_t* gh_iterations);

/// The plain search that visits every candidate; the reference the program's search is
/// checked against (library qm_two_reference, which the program does not link).
StatusCode perform_two_stage_search_reference(const UserInputs* inputs, long long max_lm,
                                              int search_mode, TwoStageResult* best,
                                              int* convergent_count, std::uint64_t* gh_iterations);

/// The common-factor pass of the program's search: assesses only the candidates that might
/// beat the stored record, with the same outcome and output as the plain pass.
void scan_common_factors_fast(const CommonFactorScan& scan, CommonFactorProgress* progress);

/// The common-factor pass of the reference search: every g and h, one by one.
void scan_common_factors_plain(const CommonFactorScan& scan, CommonFactorProgress* progress);
