// The two-stage search: the driver that the program's search and the plain reference
// search share, the count of common-factor iterations that feeds the observer, and the
// two ways of carrying out the common-factor pass.
#pragma once

#include <chrono>
#include <cstdint>

#include "core/arithmetic.h"
#include "core/candidate.h"

namespace quillmere::core {

/// Iterations of the common-factor pass between two progress dots of the interactive
/// program; the observer hears of the count at least at every such step.
constexpr std::uint64_t GH_DOT_STEP = 1000;

/// The running count of common-factor iterations and when the observer last heard of it:
/// at the first iteration, then at least at every GH_DOT_STEP boundary, either at once or
/// gathered and passed on in batches.
struct CommonFactorProgress {
    const SearchContext* context = nullptr;
    std::uint64_t iterations = 0;
    std::uint64_t reported = 0;  ///< the total the observer last heard
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

/// What a common-factor pass works on: the request and the splits of the simplest
/// exact convergent.
struct CommonFactorScan {
    const SearchContext* context;
    const SearchRequest* inputs;
    long long max_lm;
    SearchMode search_mode;
    CascadeRecord* best;
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
/// no split of them fits the per-stage limit. Status::ok with a record, not_found,
/// stopped, or the error the observer was told of.
Status run_two_stage_search(const SearchContext& context, const SearchRequest* inputs,
                            CascadeRecord* best, int* convergent_count,
                            std::uint64_t* gh_iterations, CommonFactorPass pass,
                            bool skip_unsplittable);

/// The program's search; gh_iterations (may be null) receives the common-factor count.
Status perform_two_stage_search_counted(const SearchContext& context, const SearchRequest* inputs,
                                        CascadeRecord* best, int* convergent_count,
                                        std::uint64_t* gh_iterations);

/// The plain search that visits every candidate; the reference the program's search is
/// checked against (the tests' oracle, in the core but never called by the library's API).
Status perform_two_stage_search_reference(const SearchContext& context, const SearchRequest* inputs,
                                          CascadeRecord* best, int* convergent_count,
                                          std::uint64_t* gh_iterations);

/// The common-factor pass of the program's search: assesses only the candidates that might
/// beat the stored record, with the same outcome and iteration count as the plain pass.
void scan_common_factors_fast(const CommonFactorScan& scan, CommonFactorProgress* progress);

/// The common-factor pass of the reference search: every g and h, one by one.
void scan_common_factors_plain(const CommonFactorScan& scan, CommonFactorProgress* progress);

}  // namespace quillmere::core
