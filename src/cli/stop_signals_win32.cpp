#include <io.h>

#include <climits>
#include <csignal>

#include "cli/stop_signals.h"

namespace quillmere::cli {

std::atomic<bool> g_stop_requested{false};
std::atomic<int> g_stop_signal{0};

namespace {

static_assert(std::atomic<bool>::is_always_lock_free);
static_assert(std::atomic<int>::is_always_lock_free);

// The C runtime calls this on a thread of its own for Ctrl+C (SIGINT) and Ctrl+Break
// (SIGBREAK); it only stores to lock-free atomics.
void on_stop_signal(int signal_number) {
    int none = 0;
    g_stop_signal.compare_exchange_strong(none, signal_number == SIGTERM ? SIGTERM : SIGINT);
    g_stop_requested.store(true);
}

}  // namespace

bool standard_output_open() {
    return _get_osfhandle(_fileno(stdout)) >= 0;
}

bool install_stop_signals() {
    return std::signal(SIGINT, on_stop_signal) != SIG_ERR &&
           std::signal(SIGBREAK, on_stop_signal) != SIG_ERR &&
           std::signal(SIGTERM, on_stop_signal) != SIG_ERR;
}

InputRead read_input(std::FILE* stream, char* buffer, std::size_t capacity, std::size_t* count) {
    *count = 0;
    if (g_stop_requested.load()) return InputRead::stopped;
    const unsigned int size = capacity > INT_MAX ? INT_MAX : static_cast<unsigned int>(capacity);
    const int got = _read(_fileno(stream), buffer, size);
    // Ctrl+C ends a console read early; the flag tells it from the end of the input.
    if (g_stop_requested.load()) return InputRead::stopped;
    if (got < 0) return InputRead::failed;
    if (got == 0) return InputRead::end;
    *count = static_cast<std::size_t>(got);
    return InputRead::data;
}

int stop_exit_status() {
    const int signal_number = g_stop_signal.load();
    return 128 + (signal_number != 0 ? signal_number : SIGINT);
}

}  // namespace quillmere::cli

namespace quillmere::cli {

// The handler runs on a thread of its own and never interrupts a write: nothing to hold.
StopSignalHold::StopSignalHold() : saved_{} {}
StopSignalHold::~StopSignalHold() = default;

}  // namespace quillmere::cli
