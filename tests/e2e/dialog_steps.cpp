#include "dialog_steps.h"

#include <tuple>

/// Starts a two-stage request whose common-factor pass prints some two million progress
/// dots (ratio 2 in minimal-sum mode, with a strict intermediate target that no cascade
/// can meet), and stops reading standard output: the search cannot end until the test
/// reads again, however fast it is.
testing::AssertionResult start_long_search(Session& session) {
    for (const auto& [stream, prompt, keys] : {
             std::tuple{SessionStream::tty, "Enter the input sample rate (Hz): ", "1000\r"},
             std::tuple{SessionStream::tty, "Enter the output sample rate (Hz): ", "2000\r"},
             std::tuple{SessionStream::tty,
                        "Use one or two rational resamplers? (1 or 2): ", "2\r"},
             std::tuple{SessionStream::out, "Select search mode (1 or 2) [Enter=1]: ", "\r"},
             std::tuple{SessionStream::tty, "Allow M1 > L1? (y/n) [Enter=n]: ", "\r"},
             std::tuple{SessionStream::out, "[Press Enter to skip]: ", "100\r"},
             std::tuple{SessionStream::tty, "Select prioritization mode (1-4): ", "1\r"},
         }) {
        testing::AssertionResult done = answer(session, stream, prompt, keys);
        if (!done) return done;
    }
    testing::AssertionResult started =
        expect_text(session, SessionStream::out, "Progress (checking g/h factors): ..");
    session.hold_output = true;
    return started;
}
