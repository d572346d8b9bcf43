#include <io.h>

#include <climits>
#include <csignal>

#include "platform/stop_signals.h"

namespace quillmere::platform {

namespace {

static_assert(std::atomic<bool>::is_always_lock_free);
static_assert(std::atomic<int>::is_always_lock_free);

// The C runtime calls the handler on a thread of its own for Ctrl+C (SIGINT) and
// Ctrl+Break (SIGBREAK), at any moment: it only stores to these lock-free atomics.

/// Set once a stop was requested.
std::atomic<bool> stop_requested_flag{false};
/// The signal whose exit status the run ends with (SIGINT, SIGTERM); 0 before one arrives.
std::atomic<int> stop_signal{0};

void on_stop_signal(int signal_number) {
    int none = 0;
    stop_signal.compare_exchange_strong(none, signal_number == SIGTERM ? SIGTERM : SIGINT);
    stop_requested_flag.store(true);
}

}  // namespace

const std::atomic<bool>& stop_flag() {
    return stop_requested_flag;
}

bool standard_output_open() {
    return _get_osfhandle(_fileno(stdout)) >= 0;
}

bool install_stop_signals() {
    return std::signal(SIGINT, on_stop_signal) != SIG_ERR &&
           std::signal(SIGBREAK, on_stop_signal) != SIG_ERR &&
           std::signal(SIGTERM, on_stop_signal) != SIG_ERR;
}

InputRead read_input(std::FILE* stream, std::span<char> buffer, std::size_t& count) {
    count = 0;
    if (stop_requested()) return InputRead::stopped;
    const unsigned int size =
        buffer.size() > INT_MAX ? INT_MAX : static_cast<unsigned int>(buffer.size());
    const int got = _read(_fileno(stream), buffer.data(), size);
    // Ctrl+C ends a console read early; the flag tells it from the end of the input.
    if (stop_requested()) return InputRead::stopped;
    if (got < 0) return InputRead::failed;
    if (got == 0) return InputRead::end;
    count = static_cast<std::size_t>(got);
    return InputRead::data;
}

int stop_exit_status() {
    const int signal_number = stop_signal.load();
    return 128 + (signal_number != 0 ? signal_number : SIGINT);
}

// The handler runs on a thread of its own and never interrupts a write: nothing to hold.
StopSignalHold::StopSignalHold() = default;
StopSignalHold::~StopSignalHold() = default;

}  // namespace quillmere::platform
