// The plain two-stage search that visits every common-factor candidate one by one: the
// oracle the program's search is checked against by the tests, the fuzzers and the
// benchmark. Not part of the installed library (target quillmere_reference).
#pragma once

#include "core/two_stage_search.h"

namespace quillmere::inline v2::core {

/// The common-factor pass of the reference search: every g and h, one by one.
void scan_common_factors_plain(const CommonFactorScan& scan, CommonFactorProgress* progress);

/// The plain search that visits every candidate. May throw std::bad_alloc.
SearchOutcome search_two_stage_reference(const SearchContext& context,
                                         const TwoStageRequest& request);

}  // namespace quillmere::inline v2::core
