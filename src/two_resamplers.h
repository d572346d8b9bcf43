// Two-stage solver: candidate assessment, search, report and run.
#pragma once

#include "common.h"

/// The best cascade L1/M1 -> L2/M2 found by a search.
struct TwoStageResult {
    long long l1;
    long long m1;
    long long l2;
    long long m2;
    double combined_ratio;
    double final_error;
    bool final_match;
    bool found;
    long long overall_sum;
    double achieved_intermediate_rate;
    double intermediate_error;
    bool intermediate_match;
};
