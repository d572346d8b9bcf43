// What every solver of the core is handed: the caller's request, read in its public form
// from top to bottom, with what a search adds to it, and the context that carries the
// caller's stop request and observer.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>

#include "core/filter_price.h"
#include "quillmere/quillmere.h"

namespace quillmere::inline v2::core {

/// A target of magnitude not above this counts as zero (errors become absolute).
constexpr double ZERO_GUARD = 1e-15;

/// What every candidate of one search is judged by: the caller's request as it is (no field
/// is checked here) and, in the second search of min-cost mode, the price the first search
/// settled on. New search settings belong in the request; this holds only what a search
/// derives for itself.
struct SearchTerms {
    const TwoStageRequest& request;
    /// Min-cost mode, second search: the price of the cheapest cascade the first search
    /// found. Cascades whose price ties with it are ranked by their coefficients.
    std::optional<cost_model::Price> reference_price{};
};

/// The request's target, if any.
inline const IntermediateTarget* target_of(const TwoStageRequest& request) {
    return request.intermediate_target ? &*request.intermediate_target : nullptr;
}

/// The priority the candidates are judged by: the target's, or ignore without a target.
inline Priority priority_of(const TwoStageRequest& request) {
    return request.intermediate_target ? request.intermediate_target->priority : Priority::ignore;
}

/// Whether only candidates that match the target may be stored.
inline bool strict_target(const TwoStageRequest& request) {
    return priority_of(request) == Priority::strict;
}

/// The caller's stop request and observer, passed down to every loop of a solver.
class SearchContext {
public:
    SearchContext() = default;
    /// last_error (may be null) receives every error the solver reports, so the caller
    /// can say why it failed without watching the events.
    explicit SearchContext(const SolveOptions& options,
                           std::optional<SolverError>* last_error = nullptr)
        : stop_flag_(options.stop_flag), observer_(options.observer), last_error_(last_error) {
#if QUILLMERE_HAS_STOP_TOKEN
        stop_token_ = options.stop_token;
#endif
    }

    /// The context of search `search` (from 1) of `searches` within one solve. A search
    /// that only reports its progress (min-cost's first) gives no other event: the
    /// observer's other events describe one search.
    SearchContext numbered(int search, int searches, bool progress_only) const {
        SearchContext copy = *this;
        copy.search_ = search;
        copy.searches_ = searches;
        copy.progress_only_ = progress_only;
        return copy;
    }

    /// True once the caller asked the solver to stop.
    bool stop_requested() const {
        if (stop_flag_ != nullptr && stop_flag_->load()) return true;
#if QUILLMERE_HAS_STOP_TOKEN
        return stop_token_.stop_requested();
#else
        return false;
#endif
    }

    /// Whether a long search may race two routes to its answer on a second thread (where
    /// the library has threads and the machine two cores); one_thread() says no.
    bool second_thread_allowed() const {
        return second_thread_allowed_;
    }
    SearchContext one_thread() const {
        SearchContext copy = *this;
        copy.second_thread_allowed_ = false;
        return copy;
    }

    void convergent(int index, int count) const {
        if (observer_ == nullptr) return;
        if (!progress_only_) observer_->on_convergent(index, count);
        observer_->on_progress(SearchProgress{SearchPass::convergents,
                                              static_cast<std::uint64_t>(index) + 1,
                                              static_cast<std::uint64_t>(count), search_,
                                              searches_});
    }
    /// `done` iterations of `total` (0: not known).
    void common_factor_iterations(std::uint64_t done, std::uint64_t total) const {
        if (observer_ == nullptr) return;
        if (!progress_only_) observer_->on_common_factor_iterations(done);
        observer_->on_progress(
            SearchProgress{SearchPass::common_factors, done, total, search_, searches_});
    }
    void pass_done(SearchPass pass) const {
        if (observer_ != nullptr && !progress_only_) observer_->on_pass_done(pass);
    }
    void error(const SolverError& error) const {
        if (last_error_ != nullptr) *last_error_ = error;
        if (observer_ != nullptr && !progress_only_) observer_->on_error(error);
    }

private:
#if QUILLMERE_HAS_STOP_TOKEN
    std::stop_token stop_token_{};
#endif
    const std::atomic<bool>* stop_flag_ = nullptr;
    SearchObserver* observer_ = nullptr;
    std::optional<SolverError>* last_error_ = nullptr;
    int search_ = 1;
    int searches_ = 1;
    bool progress_only_ = false;
    bool second_thread_allowed_ = true;
};

}  // namespace quillmere::inline v2::core
