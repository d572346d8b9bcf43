// The plain two-stage search: every common-factor candidate is counted and assessed one
// by one, exactly in the order of the pass. Kept as the reference the program's search
// must reproduce exactly; built for the tests, the fuzzers and the benchmark only.
#include <algorithm>
#include <climits>
#include <cstdint>

#include "core/reference_search.h"

namespace quillmere::inline v2::core {

namespace {

/// Whether the pass ends: a stop request, or the dual stop.
bool must_leave(const CommonFactorScan& scan) {
    return scan.context.stop_requested() || dual_stop_holds(scan.terms.request, *scan.state);
}

/// Every g and h of the split L = a1 a2, M = b1 b2: the candidates g a1 / h b1 -> h a2 / g b2,
/// counted and assessed one by one while their factors fit in 64 bits. False when the pass
/// ends here: a stop, or in minimal-sum mode right after the first candidate (under the
/// strict priority, once an intermediate match is stored).
bool scan_split(const CommonFactorScan& scan, CommonFactorProgress* progress, const FactorPair& a,
                const FactorPair& b) {
    const TwoStageRequest& request = scan.terms.request;
    const SearchContext& context = scan.context;
    SearchState& state = *scan.state;
    const auto leave = [&] { return context.stop_requested() || dual_stop_holds(request, state); };
    // Copies, which the compiler may keep in registers across the calls below.
    const long long a1 = a.factor;
    const long long a2 = a.cofactor;
    const long long b1 = b.factor;
    const long long b2 = b.cofactor;
    if (a1 < 1 || a2 < 1 || b1 < 1 || b2 < 1) return true;
    const long long limit = request.max_factor;
    const bool minimal_sum = request.mode == SearchMode::minimal_sum;
    const long long max_g = std::max(1LL, std::min(limit / a1, limit / b2));
    const long long max_h = std::max(1LL, std::min(limit / b1, limit / a2));
    for (long long g = 1; g <= max_g; ++g) {
        if (leave()) return false;
        const long long g_room = LLONG_MAX / g;  // the largest factor g may multiply
        for (long long h = 1; h <= max_h; ++h) {
            if (leave()) return false;
            progress_count_one(progress);
            const long long h_room = LLONG_MAX / h;
            if (a1 > g_room || b1 > h_room || a2 > h_room || b2 > g_room) break;
            assess_two_stage_candidate(Cascade{g * a1, h * b1, h * a2, g * b2}, scan.terms, &state);
            if (minimal_sum && g == 1 && h == 1) {
                // Under the strict priority the scan goes on until it has stored an
                // intermediate match.
                const CascadeRecord& best = state.best;
                if (!(strict_target(request) && !(best.found && best.intermediate_match))) {
                    return false;
                }
            }
        }
    }
    return true;
}

}  // namespace

void scan_common_factors_plain(const CommonFactorScan& scan, CommonFactorProgress* progress) {
    for (const FactorPair& a : scan.l_pairs) {
        for (const FactorPair& b : scan.m_pairs) {
            if (must_leave(scan)) return;
            if (!scan_split(scan, progress, a, b)) return;
        }
    }
}

SearchOutcome search_two_stage_reference(const SearchContext& context,
                                         const TwoStageRequest& request) {
    return run_two_stage_search(context, request, scan_common_factors_plain, false);
}

}  // namespace quillmere::inline v2::core
