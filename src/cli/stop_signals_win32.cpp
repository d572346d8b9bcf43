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

bool install_stop_signals() {
    return std::signal(SIGINT, on_stop_signal) != SIG_ERR &&
           std::signal(SIGBREAK, on_stop_signal) != SIG_ERR &&
           std::signal(SIGTERM, on_stop_signal) != SIG_ERR;
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
