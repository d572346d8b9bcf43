#include "core/two_stage_search.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <optional>
#include <vector>

namespace quillmere::inline v2::core {

namespace {

/// A convergent this close (relative) to the ratio reproduces it exactly.
constexpr double SIMPLEST_RATIO_TOLERANCE = 1e-14;
/// Largest per-stage limit whose square fits in a signed 64-bit integer.
constexpr long long SQUARE_ROOT_BOUND = 3037000499LL;
/// The observer hears of the common-factor count at least at every multiple of this many
/// iterations (batched, see progress_poll). It is the library's own event rate, stated in
/// the public header: fine enough for any progress display (the dialog's dot stands for
/// the same thousand iterations, report/progress_line.h, but a display of another step
/// works as well), coarse enough to cost nothing per iteration. It stays here rather than
/// in the report layer because the core cannot ask the layer above it.
constexpr std::uint64_t REPORT_STEP = 1000;
/// Gathered steps are reported at least this often, so the progress line keeps moving.
constexpr std::chrono::milliseconds REPORT_INTERVAL{50};
/// Gathered steps are reported once this many are due, whatever the time.
constexpr std::uint64_t STEP_BATCH = 1 << 16;

void report_factoring_error(const SearchContext& context, Status status, FactoredNumber which,
                            long long value) {
    SolverError error{SolverErrorKind::factoring_failed, status};
    error.factored = which;
    error.value = value;
    context.error(error);
}

void report_count(CommonFactorProgress* progress) {
    progress->started = true;
    progress->reported = progress->iterations;
    progress->last_report = std::chrono::steady_clock::now();
    progress->context->common_factor_iterations(progress->iterations, progress->total);
}

/// Steps of REPORT_STEP completed since the observer last heard of the count.
std::uint64_t steps_due(const CommonFactorProgress* progress) {
    return progress->iterations / REPORT_STEP - progress->reported / REPORT_STEP;
}

/// The ratio output / input the search approximates; an error that ends the search when
/// it is no positive finite number.
Status conversion_ratio(const SearchContext& context, const TwoStageRequest& request,
                        double* ratio) {
    if (request.input_rate_hz <= 0.0) {
        context.error(SolverError{SolverErrorKind::invalid_request, Status::invalid_request});
        return Status::invalid_request;
    }
    *ratio = request.output_rate_hz / request.input_rate_hz;
    if (!std::isfinite(*ratio) || *ratio <= 0.0) {
        context.error(SolverError{SolverErrorKind::invalid_request, Status::calculation_error});
        return Status::calculation_error;
    }
    return Status::ok;
}

/// Largest L or M a split of a convergent can have within the limit: max_factor squared,
/// or no bound when the square does not fit (or the limit is below 1).
long long split_bound(long long max_factor) {
    const bool square_fits = max_factor >= 1 && max_factor <= SQUARE_ROOT_BOUND;
    return square_fits ? max_factor * max_factor : LLONG_MAX;
}

/// The first convergent that reproduces the ratio exactly, if any.
std::optional<Convergent> simplest_exact_convergent(const ConvergentList& convergents,
                                                    double ratio) {
    for (const Convergent& c : convergents) {
        if (c.q < 1 || c.p < 1) continue;
        const double v = static_cast<double>(c.p) / static_cast<double>(c.q);
        const double error =
            std::fabs(ratio) > ZERO_GUARD ? std::fabs((v - ratio) / ratio) : std::fabs(v - ratio);
        if (error < SIMPLEST_RATIO_TOLERANCE) return c;
    }
    return std::nullopt;
}

/// The factor pairs of both numbers of a convergent L/M.
struct ConvergentSplits {
    FactorPairList l_pairs;
    FactorPairList m_pairs;
};

/// Factors a convergent's L and M; reports a failure as an error of the named numbers.
Status factor_convergent(const SearchContext& context, const Convergent& convergent,
                         FactoredNumber l_name, FactoredNumber m_name, ConvergentSplits* splits) {
    Status status = find_integer_factor_pairs(convergent.p, &splits->l_pairs);
    if (status != Status::ok) {
        report_factoring_error(context, status, l_name, convergent.p);
        return status;
    }
    status = find_integer_factor_pairs(convergent.q, &splits->m_pairs);
    if (status != Status::ok) {
        report_factoring_error(context, status, m_name, convergent.q);
        return status;
    }
    return Status::ok;
}

/// The four arrangements of the splits L = x1 x2 and M = y1 y2 into two stages, each
/// arrangement once: x1/y1 -> x2/y2, x1/y2 -> x2/y1, x2/y1 -> x1/y2, x2/y2 -> x1/y1.
void assess_arrangements(const FactorPair& x, const FactorPair& y, const SearchTerms& terms,
                         SearchState* state) {
    const long long x1 = x.factor;
    const long long x2 = x.cofactor;
    const long long y1 = y.factor;
    const long long y2 = y.cofactor;
    assess_two_stage_candidate(Cascade{x1, y1, x2, y2}, terms, state);
    if (y1 != y2) assess_two_stage_candidate(Cascade{x1, y2, x2, y1}, terms, state);
    if (x1 != x2) assess_two_stage_candidate(Cascade{x2, y1, x1, y2}, terms, state);
    if (x1 != x2 && y1 != y2) assess_two_stage_candidate(Cascade{x2, y2, x1, y1}, terms, state);
}

/// The convergent pass: every convergent's splits in their four arrangements, until a stop
/// request or the dual stop. Status::ok, or the error of a failed factoring.
Status convergent_pass(const SearchContext& context, const SearchTerms& terms,
                       const ConvergentList& convergents, bool skip_unsplittable,
                       SearchState* state) {
    const long long max_factor = terms.request.max_factor;
    const long long bound = split_bound(max_factor);
    const int count = static_cast<int>(convergents.size());
    const auto must_leave = [&] {
        return context.stop_requested() || dual_stop_holds(terms.request, *state);
    };
    ConvergentSplits splits;
    for (int i = 0; i < count && !must_leave(); ++i) {
        context.convergent(i, count);
        const Convergent& convergent = convergents[static_cast<std::size_t>(i)];
        if (convergent.p < 1 || convergent.q < 1) continue;
        // Every split of a number above max_factor squared has a factor above max_factor
        // (and every factor exceeds a limit below 1), so the assessment would refuse every
        // arrangement; trial division of such a number can take seconds.
        if (skip_unsplittable && (max_factor < 1 || convergent.p > bound || convergent.q > bound)) {
            continue;
        }
        const Status status = factor_convergent(context, convergent, FactoredNumber::convergent_l,
                                                FactoredNumber::convergent_m, &splits);
        if (status != Status::ok) return status;
        for (std::size_t x = 0; x < splits.l_pairs.size() && !must_leave(); ++x) {
            for (std::size_t y = 0; y < splits.m_pairs.size() && !must_leave(); ++y) {
                assess_arrangements(splits.l_pairs[x], splits.m_pairs[y], terms, state);
            }
        }
    }
    return Status::ok;
}

/// The common-factor pass over the splits of the simplest exact convergent, widened by
/// common factors g and h. Status::ok, or the error of a failed factoring.
Status simplest_convergent_pass(const SearchContext& context, const SearchTerms& terms,
                                const Convergent& simplest, CommonFactorPass pass,
                                CommonFactorProgress* progress, SearchState* state) {
    ConvergentSplits splits;
    const Status status = factor_convergent(context, simplest, FactoredNumber::simplest_l,
                                            FactoredNumber::simplest_m, &splits);
    if (status != Status::ok) return status;
    progress->total = common_factor_total(splits.l_pairs, splits.m_pairs, terms.request.max_factor);
    pass(CommonFactorScan{context, terms, state, splits.l_pairs, splits.m_pairs}, progress);
    progress_write_pending(progress);
    if (!context.stop_requested()) context.pass_done(SearchPass::common_factors);
    return Status::ok;
}

/// Everything after set-up: the convergent pass, then the common-factor pass. Returns the
/// working result (a critical status, or Status::ok).
Status search_passes(const SearchContext& context, const SearchTerms& terms, SearchState* state,
                     int* convergent_count, CommonFactorProgress* progress, CommonFactorPass pass,
                     bool skip_unsplittable) {
    double ratio = 0.0;
    Status status = conversion_ratio(context, terms.request, &ratio);
    if (status != Status::ok) return status;

    ConvergentList convergents;
    status = calculate_cfe_convergents(ratio, split_bound(terms.request.max_factor), &convergents);
    *convergent_count = static_cast<int>(convergents.size());
    if (status != Status::ok) {
        context.error(SolverError{SolverErrorKind::convergents_failed, status});
        return status;
    }
    const std::optional<Convergent> simplest = simplest_exact_convergent(convergents, ratio);

    status = convergent_pass(context, terms, convergents, skip_unsplittable, state);
    if (status != Status::ok) return status;
    if (context.stop_requested()) return Status::ok;  // the caller turns this into a stop
    context.pass_done(SearchPass::convergents);

    if (!simplest || dual_stop_holds(terms.request, *state)) return Status::ok;
    return simplest_convergent_pass(context, terms, *simplest, pass, progress, state);
}

/// One search: set-up, both passes, the status.
SearchOutcome run_search_once(const SearchContext& context, const SearchTerms& terms,
                              CommonFactorPass pass, bool skip_unsplittable) {
    SearchOutcome outcome;
    SearchState state;
    CommonFactorProgress progress;
    progress.context = &context;

    const Status status = search_passes(context, terms, &state, &outcome.convergent_count,
                                        &progress, pass, skip_unsplittable);
    outcome.best = state.best;
    outcome.common_factor_iterations = progress.iterations;
    if (status != Status::ok) {
        outcome.status = status;
    } else if (context.stop_requested()) {
        outcome.status = Status::stopped;
    } else {
        outcome.status = state.best.found ? Status::ok : Status::not_found;
    }
    return outcome;
}

}  // namespace

std::uint64_t common_factor_total(std::span<const FactorPair> l_pairs,
                                  std::span<const FactorPair> m_pairs, long long max_factor) {
    std::uint64_t total = 0;
    for (const FactorPair& a : l_pairs) {
        if (a.factor < 1 || a.cofactor < 1) continue;
        for (const FactorPair& b : m_pairs) {
            if (b.factor < 1 || b.cofactor < 1) continue;
            const long long g = std::max(1LL, std::min(max_factor / a.factor, max_factor / b.cofactor));
            const long long h = std::max(1LL, std::min(max_factor / b.factor, max_factor / a.cofactor));
            total += static_cast<std::uint64_t>(g) * static_cast<std::uint64_t>(h);
        }
    }
    return total;
}

void progress_count_one(CommonFactorProgress* progress) {
    ++progress->iterations;
    if (!progress->started || progress->iterations % REPORT_STEP == 0) report_count(progress);
}

void progress_count_many(CommonFactorProgress* progress, std::uint64_t n) {
    if (n == 0) return;
    progress->iterations += n;
    if (!progress->started || steps_due(progress) >= STEP_BATCH) report_count(progress);
}

void progress_poll(CommonFactorProgress* progress) {
    if (steps_due(progress) == 0) return;
    if (std::chrono::steady_clock::now() - progress->last_report >= REPORT_INTERVAL) {
        report_count(progress);
    }
}

void progress_write_pending(CommonFactorProgress* progress) {
    if (progress->started && progress->iterations != progress->reported) report_count(progress);
}

SearchOutcome run_two_stage_search(const SearchContext& context, const TwoStageRequest& request,
                                   CommonFactorPass pass, bool skip_unsplittable) {
    if (context.stop_requested()) return SearchOutcome{Status::stopped};
    const SearchTerms terms{request};
    if (request.mode != SearchMode::min_cost) {
        return run_search_once(context, terms, pass, skip_unsplittable);
    }
    // Min-cost mode searches twice: unwatched, with ties judged against the record, for a
    // cheapest price; then, watched, for the cascade with the fewest coefficients among
    // those whose price ties with that one. A first search that fails leaves the second
    // to fail the same way, watched.
    const SearchOutcome first =
        run_search_once(context.numbered(1, 2, true), terms, pass, skip_unsplittable);
    if (first.status == Status::stopped) return SearchOutcome{Status::stopped};
    SearchTerms second{request};
    if (first.status == Status::ok) {
        second.reference_price = cost_model::Price{first.best.macs_per_second,
                                                   first.best.coefficients, first.best.macs_grain};
    }
    return run_search_once(context.numbered(2, 2, false), second, pass, skip_unsplittable);
}

SearchOutcome search_two_stage(const SearchContext& context, const TwoStageRequest& request) {
    return run_two_stage_search(context, request, scan_common_factors_fast, true);
}

}  // namespace quillmere::inline v2::core
