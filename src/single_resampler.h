// Single-stage solver, run and report.
#pragma once

#include "common.h"

/// The last convergent L/M of output/input with M <= MAX_LM_LIMIT and the rate it achieves.
StatusCode calculate_single_resampler(double input_rate, double output_rate, long long* l,
                                      long long* m, double* achieved_output_rate);

/// Prints the classified result, its errors and advice.
void print_single_resampler_result(double input_rate, double output_rate, long long l, long long m,
                                   double achieved_output_rate);

/// Runs one single-stage conversion: settings, solver, report.
StatusCode handle_one_resampler(const UserInputs* inputs);
