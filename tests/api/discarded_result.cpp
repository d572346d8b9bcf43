// A discarded result of solve_two_stage: compiling this must warn (the solvers are
// [[nodiscard]]); the test that compiles it expects the warning.
#include <quillmere/quillmere.h>

void solve_and_forget() {
    quillmere::solve_two_stage(quillmere::TwoStageRequest{});
}
