// Comparing two-stage search records, for the tests and the fuzzers.
#pragma once

#include <cstring>

#include "core/candidate.h"

using quillmere::core::CascadeRecord;

/// True when two doubles have the same bits: NaNs compare equal, 0.0 and -0.0 do not.
inline bool same_double(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

/// True when two records are the same bit for bit (NaNs included).
inline bool same_record(const CascadeRecord& a, const CascadeRecord& b) {
    return a.l1 == b.l1 && a.m1 == b.m1 && a.l2 == b.l2 && a.m2 == b.m2 &&
           same_double(a.combined_ratio, b.combined_ratio) &&
           same_double(a.final_error, b.final_error) && a.final_match == b.final_match &&
           a.found == b.found && a.overall_sum == b.overall_sum &&
           same_double(a.achieved_intermediate_rate, b.achieved_intermediate_rate) &&
           same_double(a.intermediate_error, b.intermediate_error) &&
           a.intermediate_match == b.intermediate_match;
}
