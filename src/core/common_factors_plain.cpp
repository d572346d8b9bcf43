// The plain two-stage search: every common-factor candidate is counted and assessed one
// by one, exactly in the order of the pass. Kept as the reference the program's search
// must reproduce exactly; built for the tests, the fuzzers and the benchmark only.
#include <algorithm>
#include <climits>
#include <cstdint>

#include "core/reference_search.h"

namespace quillmere::inline v1::core {

namespace {

/// x * y for positive x and y; false when it overflows.
bool multiply_checked(long long x, long long y, long long* product) {
    if (x > 0 && y > 0 && y > LLONG_MAX / x) return false;
    *product = x * y;
    return true;
}

}  // namespace

void scan_common_factors_plain(const CommonFactorScan& scan, CommonFactorProgress* progress) {
    const TwoStageRequest& request = scan.terms.request;
    const long long limit = request.max_factor;
    const bool minimal_sum = request.mode == SearchMode::minimal_sum;
    bool stop = false;
    const auto must_leave = [&] {
        return scan.context.stop_requested() || (minimal_sum && stop) ||
               dual_stop_holds(request, *scan.state);
    };

    for (const FactorPair& a : scan.l_pairs) {
        if (must_leave()) return;
        // Copies, which the compiler may keep in registers across the calls below.
        const long long a1 = a.factor;
        const long long a2 = a.cofactor;
        if (a1 < 1 || a2 < 1) continue;
        for (const FactorPair& b : scan.m_pairs) {
            if (must_leave()) return;
            const long long b1 = b.factor;
            const long long b2 = b.cofactor;
            if (b1 < 1 || b2 < 1) continue;
            const long long max_g = std::max(1LL, std::min(limit / a1, limit / b2));
            const long long max_h = std::max(1LL, std::min(limit / b1, limit / a2));
            for (long long g = 1; g <= max_g; ++g) {
                if (must_leave()) return;
                for (long long h = 1; h <= max_h; ++h) {
                    if (must_leave()) return;
                    progress_count_one(progress);
                    // The candidate g a1 / h b1 -> h a2 / g b2, while its factors fit.
                    long long l1 = 0, m1 = 0, l2 = 0, m2 = 0;
                    if (!multiply_checked(g, a1, &l1) || !multiply_checked(h, b1, &m1) ||
                        !multiply_checked(h, a2, &l2) || !multiply_checked(g, b2, &m2) || l1 < 1 ||
                        m1 < 1 || l2 < 1 || m2 < 1) {
                        break;
                    }
                    assess_two_stage_candidate(Cascade{l1, m1, l2, m2}, scan.terms, scan.state);
                    if (minimal_sum && g == 1 && h == 1) {
                        // Under the strict priority the scan goes on until it has stored
                        // an intermediate match.
                        const CascadeRecord& best = scan.state->best;
                        const bool keep_scanning =
                            strict_target(request) && !(best.found && best.intermediate_match);
                        if (!keep_scanning) {
                            stop = true;
                            return;
                        }
                    }
                }
                if (must_leave()) return;
            }
        }
    }
}

SearchOutcome search_two_stage_reference(const SearchContext& context,
                                         const TwoStageRequest& request) {
    return run_two_stage_search(context, request, scan_common_factors_plain, false);
}

}  // namespace quillmere::inline v1::core
