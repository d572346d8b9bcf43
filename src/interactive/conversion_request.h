// The conversion request that the dialog fills: the number of stages and the request in
// the library's own terms, so that what the user answered reaches the solvers unchanged.
#pragma once

#include "quillmere/quillmere.h"

namespace quillmere::interactive {

/// One conversion, filled by the dialog and read by the runs.
struct ConversionRequest {
    /// 1 or 2 once the dialog has asked; 0 before.
    int stages = 0;
    /// The rates; for two stages also the mode, the per-stage limit, the first-stage
    /// constraint and the intermediate target with its priority.
    TwoStageRequest two_stage;
};

/// The single-stage request of a conversion: its rates.
inline SingleStageRequest single_stage_request(const ConversionRequest& request) {
    return SingleStageRequest{request.two_stage.input_rate_hz, request.two_stage.output_rate_hz};
}

}  // namespace quillmere::interactive
