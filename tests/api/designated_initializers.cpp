// Every request of the public header written with designated initialisers that leave
// fields out, as a user writes them: this file is compiled with -Wall -Wextra -Werror
// (-Wmissing-field-initializers among them), so a field without a default fails the build.
#include <quillmere/quillmere.h>

namespace {

[[maybe_unused]] quillmere::TwoStageResult designated_requests() {
    const quillmere::FilterSpec filter{.attenuation_db = 90.0};
    const quillmere::FilterSpec edges{.passband_hz = 20000.0, .stopband_hz = 22050.0};
    const quillmere::IntermediateTarget target{.rate_hz = 96000.0};
    const quillmere::TwoStageRequest two{.input_rate_hz = 44100.0,
                                         .output_rate_hz = 48000.0,
                                         .mode = quillmere::SearchMode::min_cost,
                                         .intermediate_target = target,
                                         .filter = filter};
    const quillmere::TwoStageRequest minimal{.input_rate_hz = 44100.0, .output_rate_hz = 48000.0};
    const quillmere::SingleStageRequest one{.input_rate_hz = 48000.0};
    const quillmere::SolveOptions options{.observer = nullptr};
    const quillmere::Stage stage{.l = 160};
    (void)edges;
    (void)minimal;
    (void)one;
    (void)stage;
    return quillmere::solve_two_stage(two, options);
}

}  // namespace
