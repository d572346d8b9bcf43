// The plain two-stage search: every common-factor candidate is counted and assessed one
// by one, exactly in the order of the pass. Kept as the reference the program's search
// must reproduce exactly.
#include <algorithm>
#include <cstdint>

#include "core/two_stage_search.h"

namespace quillmere::core {

namespace {

constexpr long long INT64_MAX_VALUE = INT64_MAX;

/// x * y for positive x and y; false when it overflows.
bool multiply_checked(long long x, long long y, long long* product) {
    if (x > 0 && y > 0 && y > INT64_MAX_VALUE / x) return false;
    *product = x * y;
    return true;
}

}  // namespace

void scan_common_factors_plain(const CommonFactorScan& scan, CommonFactorProgress* progress) {
    const SearchRequest& inputs = *scan.inputs;
    const bool minimal_sum = scan.search_mode == SearchMode::minimal_sum;
    const bool strict = inputs.has_intermediate_target && inputs.priority == Priority::strict;
    bool stop = false;
    const auto must_leave = [&] {
        return scan.context->stop_requested() || (minimal_sum && stop) ||
               dual_stop_holds(scan.inputs, scan.search_mode, *scan.dual_match_found);
    };

    for (int i = 0; i < scan.l_count; ++i) {
        if (must_leave()) return;
        const long long a1 = scan.l_pairs[i].factor;
        const long long a2 = scan.l_pairs[i].cofactor;
        if (a1 < 1 || a2 < 1) continue;
        for (int j = 0; j < scan.m_count; ++j) {
            if (must_leave()) return;
            const long long b1 = scan.m_pairs[j].factor;
            const long long b2 = scan.m_pairs[j].cofactor;
            if (b1 < 1 || b2 < 1) continue;
            const long long max_g = std::max(1LL, std::min(scan.max_lm / a1, scan.max_lm / b2));
            const long long max_h = std::max(1LL, std::min(scan.max_lm / b1, scan.max_lm / a2));
            for (long long g = 1; g <= max_g; ++g) {
                if (must_leave()) return;
                for (long long h = 1; h <= max_h; ++h) {
                    if (must_leave()) return;
                    progress_count_one(progress);
                    long long l1 = 0, m1 = 0, l2 = 0, m2 = 0;
                    if (!multiply_checked(g, a1, &l1) || !multiply_checked(h, b1, &m1) ||
                        !multiply_checked(h, a2, &l2) || !multiply_checked(g, b2, &m2) || l1 < 1 ||
                        m1 < 1 || l2 < 1 || m2 < 1) {
                        break;
                    }
                    assess_candidate_and_update(l1, m1, l2, m2, scan.max_lm, scan.inputs,
                                                scan.search_mode, scan.best, scan.dual_match_found);
                    if (minimal_sum && g == 1 && h == 1) {
                        // Under the strict priority the scan goes on until it has stored
                        // an intermediate match.
                        const bool keep_scanning =
                            strict && !(scan.best->found && scan.best->intermediate_match);
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

Status perform_two_stage_search_reference(const SearchContext& context, const SearchRequest* inputs,
                                          CascadeRecord* best, int* convergent_count,
                                          std::uint64_t* gh_iterations) {
    return run_two_stage_search(context, inputs, best, convergent_count, gh_iterations,
                                scan_common_factors_plain, false);
}

}  // namespace quillmere::core
