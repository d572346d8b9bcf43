// The two-stage search: the driver that the program's search and the plain reference
// search share, the count of common-factor iterations that feeds the observer, and the
// common-factor pass of the program's search.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>

#include "core/arithmetic.h"
#include "core/candidate.h"

namespace quillmere::inline v2::core {

/// The running count of common-factor iterations and when the observer last heard of it:
/// at the first iteration, then in steps (see two_stage_search.cpp), either at once or
/// gathered and passed on in batches, and at the end of the pass.
struct CommonFactorProgress {
    const SearchContext* context = nullptr;
    std::uint64_t iterations = 0;
    /// The iterations of the whole pass, as the plain pass counts them (0: not known).
    std::uint64_t total = 0;
    std::uint64_t reported = 0;  ///< the count the observer last heard
    bool started = false;
    std::chrono::steady_clock::time_point last_report{};
};

/// Counts one iteration and reports it at once when it starts the count or a step.
void progress_count_one(CommonFactorProgress* progress);
/// Counts n iterations; the steps they complete are reported by progress_write_pending.
void progress_count_many(CommonFactorProgress* progress, std::uint64_t n);
/// Reports gathered steps when enough have piled up or some time has passed since the last.
void progress_poll(CommonFactorProgress* progress);
/// Reports the count if the observer has not heard it yet.
void progress_write_pending(CommonFactorProgress* progress);

/// What a common-factor pass works on: the search's terms and state, and the splits of
/// the simplest exact convergent.
struct CommonFactorScan {
    const SearchContext& context;
    const SearchTerms& terms;
    SearchState* state;
    std::span<const FactorPair> l_pairs;
    std::span<const FactorPair> m_pairs;
};

/// The g/h iterations of the plain common-factor pass over these splits: for each split,
/// every g and h that keeps the factors within max_factor (at least one of each).
std::uint64_t common_factor_total(std::span<const FactorPair> l_pairs,
                                  std::span<const FactorPair> m_pairs, long long max_factor);

/// One way of carrying out the common-factor pass; counts its iterations in progress.
using CommonFactorPass = void (*)(const CommonFactorScan& scan, CommonFactorProgress* progress);

/// How a search ended and what it found.
struct SearchOutcome {
    /// Status::ok with a record, not_found, stopped, or the error the observer was told of.
    Status status = Status::not_found;
    CascadeRecord best{};
    /// Convergents of the expansion; -1 when it was not reached.
    int convergent_count = -1;
    std::uint64_t common_factor_iterations = 0;
};

/// The set-up, convergent pass, common-factor pass and clean-up of a two-stage search of
/// the request as it is (nothing of it checked). skip_unsplittable leaves convergents whose
/// L or M exceeds max_factor squared unfactored: no split of them fits the per-stage limit.
SearchOutcome run_two_stage_search(const SearchContext& context, const TwoStageRequest& request,
                                   CommonFactorPass pass, bool skip_unsplittable);

/// The program's search. May throw std::bad_alloc.
SearchOutcome search_two_stage(const SearchContext& context, const TwoStageRequest& request);

/// The common-factor pass of the program's search: assesses only the candidates that might
/// beat the stored record, with the same outcome and iteration count as the plain pass.
void scan_common_factors_fast(const CommonFactorScan& scan, CommonFactorProgress* progress);

}  // namespace quillmere::inline v2::core
