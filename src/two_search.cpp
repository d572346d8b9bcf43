#include "two_search.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "process_exit.h"
#include "utils.h"

namespace {

/// A convergent this close (relative) to the ratio reproduces it exactly.
constexpr double SIMPLEST_RATIO_TOLERANCE = 1e-14;
/// Largest per-stage limit whose square fits in a signed 64-bit integer.
constexpr long long SQUARE_ROOT_BOUND = 3037000499LL;
constexpr long long INT64_MAX_VALUE = INT64_MAX;
/// A dot on the convergent progress line at every index that is a multiple of this.
constexpr int CFE_DOT_STEP = 10;
/// Gathered dots are written at least this often, so the line keeps moving.
constexpr std::chrono::milliseconds DOT_FLUSH_INTERVAL{50};
/// Gathered dots are written once this many are due, whatever the time.
constexpr std::uint64_t DOT_BATCH = 1 << 16;

bool shutdown_requested() {
    return g_shutdown_requested.load() != 0;
}

/// Writes n dots a chunk at a time, flushing each so a long run of them keeps moving.
/// A stop request ends the writing: which dots had been printed when the user stopped
/// depends on timing anyway, and a slow terminal must not delay the stop.
void write_dots(std::uint64_t n) {
    static char dots[4096];
    if (dots[0] != '.') std::memset(dots, '.', sizeof dots);
    while (n > 0 && !shutdown_requested()) {
        const std::size_t chunk = n < sizeof dots ? static_cast<std::size_t>(n) : sizeof dots;
        std::fwrite(dots, 1, chunk, stdout);
        flush_standard_output();
        n -= chunk;
    }
}

void print_gh_header(CommonFactorProgress* progress) {
    std::fputs("Progress (checking g/h factors): ", stdout);
    flush_standard_output();
    progress->header_printed = true;
    progress->last_flush = std::chrono::steady_clock::now();
}

/// Everything after set-up: the convergent pass, the common-factor pass and their
/// progress lines. Returns the working result (a critical status, or STATUS_SUCCESS).
StatusCode search_passes(const UserInputs& inputs, long long max_lm, int search_mode,
                         TwoStageResult* best, bool* dual_match_found, int* convergent_count,
                         CommonFactorProgress* gh_progress, CommonFactorPass pass,
                         bool skip_unsplittable) {
    if (inputs.input_rate <= 0.0) {
        print_stderr("Input rate must be positive.");
        return STATUS_INVALID_INPUT_ERROR;
    }
    const double ratio = inputs.output_rate / inputs.input_rate;
    if (!std::isfinite(ratio) || ratio <= 0.0) {
        print_stderr("Cannot calculate valid positive target ratio.");
        return STATUS_CALCULATION_ERROR;
    }
    const bool square_fits = max_lm >= 1 && max_lm <= SQUARE_ROOT_BOUND;
    const long long q = square_fits ? max_lm * max_lm : INT64_MAX_VALUE;

    ConvergentList convergents;
    FactorPairList l_pairs;
    FactorPairList m_pairs;
    StatusCode status = calculate_cfe_convergents(ratio, q, &convergents.items, &convergents.count);
    *convergent_count = convergents.count;
    if (status != STATUS_SUCCESS) {
        print_stderr("Critical Error during CFE: %s.", status_code_to_string(status));
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
        return shutdown_requested() || dual_stop_holds(&inputs, search_mode, *dual_match_found);
    };
    const bool minimal_sum = search_mode == SEARCH_MODE_MINIMAL_SUM;
    bool cfe_header = false;
    int cfe_dots = 0;
    for (int i = 0; i < convergents.count; ++i) {
        if (must_leave()) break;
        if (minimal_sum) {
            if (i > 0 && !cfe_header) {
                std::fputs("Progress (checking CFE convergents): ", stdout);
                flush_standard_output();
                cfe_header = true;
            }
            if (cfe_header && i > 0 && i % CFE_DOT_STEP == 0) {
                std::fputs(".", stdout);
                flush_standard_output();
                ++cfe_dots;
            }
        }
        const long long l = convergents.items[i].p;
        const long long m = convergents.items[i].q;
        if (l < 1 || m < 1) continue;
        // Every split of a number above max_lm squared has a factor above max_lm (and
        // every factor exceeds a limit below 1), so the assessment would refuse every
        // arrangement; trial division of such a number can take seconds.
        if (skip_unsplittable && (max_lm < 1 || (square_fits && (l > q || m > q)))) continue;

        l_pairs.release();
        status = find_integer_factor_pairs(l, &l_pairs.items, &l_pairs.count);
        if (status != STATUS_SUCCESS) {
            print_stderr("Critical error factoring L=%lld: %s. Aborting.", l,
                         status_code_to_string(status));
            return status;
        }
        m_pairs.release();
        status = find_integer_factor_pairs(m, &m_pairs.items, &m_pairs.count);
        if (status != STATUS_SUCCESS) {
            l_pairs.release();
            print_stderr("Critical error factoring M=%lld: %s. Aborting.", m,
                         status_code_to_string(status));
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

    if (minimal_sum && !shutdown_requested() && convergents.count > 0 && cfe_header) {
        if (cfe_dots == 0) std::fputs(".", stdout);
        std::fputs("\n", stdout);
        flush_standard_output();
    }
    convergents.release();
    if (shutdown_requested()) return STATUS_SUCCESS;  // the caller turns this into a failure
    if (!simplest_found || l_simplest < 1 || m_simplest < 1 ||
        dual_stop_holds(&inputs, search_mode, *dual_match_found)) {
        return STATUS_SUCCESS;
    }

    status = find_integer_factor_pairs(l_simplest, &l_pairs.items, &l_pairs.count);
    if (status != STATUS_SUCCESS) {
        print_stderr("Critical error factoring L_simplest=%lld: %s. Aborting.", l_simplest,
                     status_code_to_string(status));
        return status;
    }
    status = find_integer_factor_pairs(m_simplest, &m_pairs.items, &m_pairs.count);
    if (status != STATUS_SUCCESS) {
        l_pairs.release();
        print_stderr("Critical error factoring M_simplest=%lld: %s. Aborting.", m_simplest,
                     status_code_to_string(status));
        return status;
    }

    const CommonFactorScan scan{&inputs,       max_lm,           search_mode,
                                best,          dual_match_found, l_pairs.items,
                                l_pairs.count, m_pairs.items,    m_pairs.count};
    pass(scan, gh_progress);
    progress_write_pending(gh_progress);
    if (!shutdown_requested() && gh_progress->header_printed) {
        if (gh_progress->iterations < GH_DOT_STEP) std::fputs(".", stdout);
        std::fputs("\n", stdout);
        flush_standard_output();
    }
    return STATUS_SUCCESS;
}

}  // namespace

bool dual_stop_holds(const UserInputs* inputs, int search_mode, bool dual_match_found) {
    return search_mode == SEARCH_MODE_CUSTOM_LIMIT && inputs->has_intermediate_target &&
           inputs->priority == PRIORITIZE_BALANCED_DUAL && dual_match_found;
}

void progress_count_one(CommonFactorProgress* progress) {
    ++progress->iterations;
    if (!progress->header_printed) print_gh_header(progress);
    if (progress->iterations % GH_DOT_STEP == 0) {
        std::fputs(".", stdout);
        flush_standard_output();
    }
}

void progress_count_many(CommonFactorProgress* progress, std::uint64_t n) {
    if (n == 0) return;
    if (!progress->header_printed) print_gh_header(progress);
    const std::uint64_t before = progress->iterations / GH_DOT_STEP;
    progress->iterations += n;
    progress->dots_pending += progress->iterations / GH_DOT_STEP - before;
    if (progress->dots_pending >= DOT_BATCH) progress_write_pending(progress);
}

void progress_poll(CommonFactorProgress* progress) {
    if (progress->dots_pending == 0) return;
    if (std::chrono::steady_clock::now() - progress->last_flush >= DOT_FLUSH_INTERVAL) {
        progress_write_pending(progress);
    }
}

void progress_write_pending(CommonFactorProgress* progress) {
    if (progress->dots_pending == 0) return;
    write_dots(progress->dots_pending);
    progress->dots_pending = 0;
    progress->last_flush = std::chrono::steady_clock::now();
}

StatusCode run_two_stage_search(const UserInputs* inputs, long long max_lm, int search_mode,
                                TwoStageResult* best, int* convergent_count,
                                std::uint64_t* gh_iterations, CommonFactorPass pass,
                                bool skip_unsplittable) {
    if (shutdown_requested()) return STATUS_FAILURE;
    if (inputs == nullptr || best == nullptr || convergent_count == nullptr) {
        return STATUS_INVALID_INPUT_ERROR;
    }
    flush_standard_output();
    *best = make_empty_two_stage_result();
    bool dual_match_found = false;
    *convergent_count = -1;
    CommonFactorProgress gh_progress;

    const StatusCode result =
        search_passes(*inputs, max_lm, search_mode, best, &dual_match_found, convergent_count,
                      &gh_progress, pass, skip_unsplittable);
    if (gh_iterations != nullptr) *gh_iterations = gh_progress.iterations;
    if (result < STATUS_FAILURE) return result;
    if (shutdown_requested()) return STATUS_FAILURE;
    return best->found ? STATUS_SUCCESS : STATUS_FAILURE;
}

StatusCode perform_two_stage_search_counted(const UserInputs* inputs, long long max_lm,
                                            int search_mode, TwoStageResult* best,
                                            int* convergent_count, std::uint64_t* gh_iterations) {
    return run_two_stage_search(inputs, max_lm, search_mode, best, convergent_count, gh_iterations,
                                scan_common_factors_fast, true);
}
