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

/// The record as a search starts it: nothing stored, every measure unknown.
TwoStageResult make_empty_two_stage_result();

/// Output rate of input_rate through L1/M1 then L2/M2; NaN when it cannot be represented.
double calculate_achieved_output_rate_two(double input_rate, long long l1, long long m1,
                                          long long l2, long long m2);

/// Measures one candidate cascade and stores it in best when it beats the stored one.
void assess_candidate_and_update(long long l1, long long m1, long long l2, long long m2,
                                 long long max_lm, const UserInputs* inputs, int search_mode,
                                 TwoStageResult* best, bool* dual_match_found);

/// Finds the best two-stage cascade for a request; prints progress lines and dots.
StatusCode perform_two_stage_search(const UserInputs* inputs, long long max_lm, int search_mode,
                                    TwoStageResult* best, int* convergent_count);

/// Display name of an intermediate-rate priority; "Unknown" for other values.
const char* priority_to_string(int priority);

/// Prints a stored cascade with its errors and advice, or the reasons nothing was found.
void print_two_resamplers_result(const char* title, const UserInputs* inputs,
                                 const TwoStageResult* result);

/// Runs one two-stage conversion: header, search, summary and report.
StatusCode prompt_and_run_two_resamplers(const UserInputs* inputs);
