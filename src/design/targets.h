// The requirements of each stage and the length estimates of the design methods, as the
// design reads them. They live in the cost model (core/design_targets.h), which prices
// designs by method without designing anything; the design uses the very same figures.
#pragma once

#include "core/design_targets.h"

namespace quillmere::inline v2::design {

using cost_model::coinciding_leaks;
using cost_model::halfband_edges;
using cost_model::halfband_length;
using cost_model::halfband_nonzero_taps;
using cost_model::herrmann_taps;
using cost_model::kaiser_figures;
using cost_model::KaiserFigures;
using cost_model::leak_allowance_db;
using cost_model::predict_stage;
using cost_model::ripple_deviation;
using cost_model::stage_target;
using cost_model::StagePrediction;
using cost_model::StageTarget;
using cost_model::stopband_deviation;

}  // namespace quillmere::inline v2::design
