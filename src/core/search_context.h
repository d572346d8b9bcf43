// What every solver of the core is handed: the request in the form the search reads it,
// and the context that carries the caller's stop request and observer.
#pragma once

#include <atomic>
#include <optional>
#include <stop_token>

#include "core/filter_cost.h"
#include "quillmere/quillmere.h"

namespace quillmere::core {

/// A target of magnitude not above this counts as zero (errors become absolute).
constexpr double ZERO_GUARD = 1e-15;

/// A two-stage request as the search reads it; no field is checked here.
struct SearchRequest {
    double input_rate = 0.0;
    double output_rate = 0.0;
    SearchMode mode = SearchMode::minimal_sum;
    bool allow_m1_gt_l1 = false;
    long long max_lm = max_factor_limit;
    bool has_intermediate_target = false;
    double target_intermediate_rate = 0.0;
    Priority priority = Priority::balanced;
    /// The filters the min-cost mode prices; other modes ignore it.
    FilterSpec filter;
    /// Min-cost mode, second search: the price of the cheapest cascade the first search
    /// found. Cascades whose price ties with it are ranked by their coefficients.
    std::optional<cost_model::Price> reference_price;
};

/// The search request of a public two-stage request (without its filter requirements).
SearchRequest to_search_request(const TwoStageRequest& request);

/// The caller's stop request and observer, passed down to every loop of a solver.
class SearchContext {
public:
    SearchContext() = default;
    /// last_error (may be null) receives every error the solver reports, so the caller
    /// can say why it failed without watching the events.
    explicit SearchContext(const SolveOptions& options,
                           std::optional<SolverError>* last_error = nullptr)
        : stop_token_(options.stop_token),
          stop_flag_(options.stop_flag),
          observer_(options.observer),
          last_error_(last_error) {}

    /// The same stop request without the observer, for a search nobody watches.
    SearchContext silent() const {
        SearchContext copy = *this;
        copy.observer_ = nullptr;
        return copy;
    }

    /// True once the caller asked the solver to stop.
    bool stop_requested() const {
        return (stop_flag_ != nullptr && stop_flag_->load()) || stop_token_.stop_requested();
    }

    void convergent(int index, int count) const {
        if (observer_ != nullptr) observer_->on_convergent(index, count);
    }
    void common_factor_iterations(std::uint64_t total) const {
        if (observer_ != nullptr) observer_->on_common_factor_iterations(total);
    }
    void pass_done(SearchPass pass) const {
        if (observer_ != nullptr) observer_->on_pass_done(pass);
    }
    void error(const SolverError& error) const {
        if (last_error_ != nullptr) *last_error_ = error;
        if (observer_ != nullptr) observer_->on_error(error);
    }

private:
    std::stop_token stop_token_;
    const std::atomic<bool>* stop_flag_ = nullptr;
    SearchObserver* observer_ = nullptr;
    std::optional<SolverError>* last_error_ = nullptr;
};

}  // namespace quillmere::core
