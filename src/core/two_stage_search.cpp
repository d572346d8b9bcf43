#include "core/two_stage_search.h"

#include <cmath>
#include <cstdint>

namespace quillmere::core {

namespace {

/// A convergent this close (relative) to the ratio reproduces it exactly.
constexpr double SIMPLEST_RATIO_TOLERANCE = 1e-14;
/// Largest per-stage limit whose square fits in a signed 64-bit integer.
constexpr long long SQUARE_ROOT_BOUND = 3037000499LL;
constexpr long long INT64_MAX_VALUE = INT64_MAX;
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
    progress->context->common_factor_iterations(progress->iterations);
}

/// Steps of GH_DOT_STEP completed since the observer last heard of the count.
std::uint64_t steps_due(const CommonFactorProgress* progress) {
    return progress->iterations / GH_DOT_STEP - progress->reported / GH_DOT_STEP;
}

/// Everything after set-up: the convergent pass, the common-factor pass and their
/// progress lines. Returns the working result (a critical status, or Status::ok).
Status search_passes(const SearchContext& context, const SearchRequest& inputs, CascadeRecord* best,
                     bool* dual_match_found, int* convergent_count,
                     CommonFactorProgress* gh_progress, CommonFactorPass pass,
                     bool skip_unsplittable) {
    const long long max_lm = inputs.max_lm;
    const SearchMode search_mode = inputs.mode;
    if (inputs.input_rate <= 0.0) {
        context.error(SolverError{SolverErrorKind::invalid_request, Status::invalid_request});
        return Status::invalid_request;
    }
    const double ratio = inputs.output_rate / inputs.input_rate;
    if (!std::isfinite(ratio) || ratio <= 0.0) {
        context.error(SolverError{SolverErrorKind::invalid_request, Status::calculation_error});
        return Status::calculation_error;
    }
    const bool square_fits = max_lm >= 1 && max_lm <= SQUARE_ROOT_BOUND;
    const long long q = square_fits ? max_lm * max_lm : INT64_MAX_VALUE;

    ConvergentList convergents;
    FactorPairList l_pairs;
    FactorPairList m_pairs;
    Status status = calculate_cfe_convergents(ratio, q, &convergents.items, &convergents.count);
    *convergent_count = convergents.count;
    if (status != Status::ok) {
        context.error(SolverError{SolverErrorKind::convergents_failed, status});
        return status;
    }

    bool simplest_found = false;
    long long l_simplest = 0;
    long long m_simplest = 0;
    for (int i = 0; i < convergents.count; ++i) {
        const Convergent& c = convergents.items[i];
        if (c.q < 1 || c.p < 1) continue;
        const double v = static_cast<double>(c.p) / static_cast<double>(c.q);
        const double error =
            std::fabs(ratio) > ZERO_GUARD ? std::fabs((v - ratio) / ratio) : std::fabs(v - ratio);
        if (error < SIMPLEST_RATIO_TOLERANCE) {
            simplest_found = true;
            l_simplest = c.p;
            m_simplest = c.q;
            break;
        }
    }

    const auto must_leave = [&] {
        return context.stop_requested() || dual_stop_holds(&inputs, search_mode, *dual_match_found);
    };
    for (int i = 0; i < convergents.count; ++i) {
        if (must_leave()) break;
        context.convergent(i, convergents.count);
        const long long l = convergents.items[i].p;
        const long long m = convergents.items[i].q;
        if (l < 1 || m < 1) continue;
        // Every split of a number above max_lm squared has a factor above max_lm (and
        // every factor exceeds a limit below 1), so the assessment would refuse every
        // arrangement; trial division of such a number can take seconds.
        if (skip_unsplittable && (max_lm < 1 || (square_fits && (l > q || m > q)))) continue;

        l_pairs.release();
        status = find_integer_factor_pairs(l, &l_pairs.items, &l_pairs.count);
        if (status != Status::ok) {
            report_factoring_error(context, status, FactoredNumber::convergent_l, l);
            return status;
        }
        m_pairs.release();
        status = find_integer_factor_pairs(m, &m_pairs.items, &m_pairs.count);
        if (status != Status::ok) {
            l_pairs.release();
            report_factoring_error(context, status, FactoredNumber::convergent_m, m);
            return status;
        }
        for (int x = 0; x < l_pairs.count && !must_leave(); ++x) {
            const long long x1 = l_pairs.items[x].factor;
            const long long x2 = l_pairs.items[x].cofactor;
            for (int y = 0; y < m_pairs.count && !must_leave(); ++y) {
                const long long y1 = m_pairs.items[y].factor;
                const long long y2 = m_pairs.items[y].cofactor;
                assess_candidate_and_update(x1, y1, x2, y2, max_lm, &inputs, search_mode, best,
                                            dual_match_found);
                if (y1 != y2) {
                    assess_candidate_and_update(x1, y2, x2, y1, max_lm, &inputs, search_mode, best,
                                                dual_match_found);
                }
                if (x1 != x2) {
                    assess_candidate_and_update(x2, y1, x1, y2, max_lm, &inputs, search_mode, best,
                                                dual_match_found);
                }
                if (x1 != x2 && y1 != y2) {
                    assess_candidate_and_update(x2, y2, x1, y1, max_lm, &inputs, search_mode, best,
                                                dual_match_found);
                }
            }
        }
        l_pairs.release();
        m_pairs.release();
        if (must_leave()) break;
    }

    if (!context.stop_requested()) context.pass_done(SearchPass::convergents);
    convergents.release();
    if (context.stop_requested()) return Status::ok;  // the caller turns this into a stop
    if (!simplest_found || l_simplest < 1 || m_simplest < 1 ||
        dual_stop_holds(&inputs, search_mode, *dual_match_found)) {
        return Status::ok;
    }

    status = find_integer_factor_pairs(l_simplest, &l_pairs.items, &l_pairs.count);
    if (status != Status::ok) {
        report_factoring_error(context, status, FactoredNumber::simplest_l, l_simplest);
        return status;
    }
    status = find_integer_factor_pairs(m_simplest, &m_pairs.items, &m_pairs.count);
    if (status != Status::ok) {
        l_pairs.release();
        report_factoring_error(context, status, FactoredNumber::simplest_m, m_simplest);
        return status;
    }

    const CommonFactorScan scan{&context,      &inputs,          max_lm,        search_mode,
                                best,          dual_match_found, l_pairs.items, l_pairs.count,
                                m_pairs.items, m_pairs.count};
    pass(scan, gh_progress);
    progress_write_pending(gh_progress);
    if (!context.stop_requested()) context.pass_done(SearchPass::common_factors);
    return Status::ok;
}

}  // namespace

void progress_count_one(CommonFactorProgress* progress) {
    ++progress->iterations;
    if (!progress->started || progress->iterations % GH_DOT_STEP == 0) report_count(progress);
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

namespace {

/// One search: set-up, both passes, the status.
Status run_search_once(const SearchContext& context, const SearchRequest* inputs,
                       CascadeRecord* best, int* convergent_count, std::uint64_t* gh_iterations,
                       CommonFactorPass pass, bool skip_unsplittable) {
    *best = make_empty_record();
    bool dual_match_found = false;
    *convergent_count = -1;
    CommonFactorProgress gh_progress;
    gh_progress.context = &context;

    const Status result = search_passes(context, *inputs, best, &dual_match_found, convergent_count,
                                        &gh_progress, pass, skip_unsplittable);
    if (gh_iterations != nullptr) *gh_iterations = gh_progress.iterations;
    if (result != Status::ok) return result;
    if (context.stop_requested()) return Status::stopped;
    return best->found ? Status::ok : Status::not_found;
}

}  // namespace

Status run_two_stage_search(const SearchContext& context, const SearchRequest* inputs,
                            CascadeRecord* best, int* convergent_count,
                            std::uint64_t* gh_iterations, CommonFactorPass pass,
                            bool skip_unsplittable) {
    if (context.stop_requested()) return Status::stopped;
    if (inputs == nullptr || best == nullptr || convergent_count == nullptr) {
        return Status::invalid_request;
    }
    if (inputs->mode != SearchMode::min_cost || inputs->reference_price) {
        return run_search_once(context, inputs, best, convergent_count, gh_iterations, pass,
                               skip_unsplittable);
    }
    // Min-cost mode searches twice: unwatched, with ties judged against the record, for a
    // cheapest price; then, watched, for the cascade with the fewest coefficients among
    // those whose price ties with that one. A first search that fails leaves the second
    // to fail the same way, watched.
    SearchRequest second = *inputs;
    int count = 0;
    const Status first =
        run_search_once(context.silent(), inputs, best, &count, nullptr, pass, skip_unsplittable);
    if (first == Status::stopped) {
        *best = make_empty_record();
        *convergent_count = -1;
        return first;
    }
    if (first == Status::ok) {
        second.reference_price =
            cost_model::Price{best->macs_per_second, best->coefficients, best->macs_grain};
    }
    return run_search_once(context, &second, best, convergent_count, gh_iterations, pass,
                           skip_unsplittable);
}

Status perform_two_stage_search_counted(const SearchContext& context, const SearchRequest* inputs,
                                        CascadeRecord* best, int* convergent_count,
                                        std::uint64_t* gh_iterations) {
    return run_two_stage_search(context, inputs, best, convergent_count, gh_iterations,
                                scan_common_factors_fast, true);
}

}  // namespace quillmere::core
