// The flat request records of the solver tests (legacy_vocabulary.h), built the same way
// by every test that uses them.
#pragma once

#include "legacy_vocabulary.h"

/// A two-stage request; no intermediate target unless one is given.
inline UserInputs two_stage_request(double input_rate, double output_rate, int search_mode,
                                    long long max_lm, bool allow_m1_gt_l1 = false,
                                    double target = 0.0, int priority = PRIORITIZE_BALANCED_DUAL) {
    UserInputs inputs{};
    inputs.input_rate = input_rate;
    inputs.output_rate = output_rate;
    inputs.num_resamplers = 2;
    inputs.search_mode = search_mode;
    inputs.allow_m1_gt_l1 = allow_m1_gt_l1;
    inputs.max_lm = max_lm;
    inputs.target_intermediate_rate = target;
    inputs.has_intermediate_target = target != 0.0;
    inputs.priority = priority;
    return inputs;
}

/// A one-stage request: the dialog's record after the stage question alone, which leaves
/// the two-stage answers at their defaults.
inline UserInputs one_stage_request(double input_rate, double output_rate) {
    UserInputs inputs =
        two_stage_request(input_rate, output_rate, SEARCH_MODE_MINIMAL_SUM, MAX_LM_LIMIT);
    inputs.num_resamplers = 1;
    return inputs;
}
