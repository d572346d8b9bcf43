#include <signal.h>

#include "cli/stop_signals.h"

namespace quillmere::cli {

std::atomic<bool> g_stop_requested{false};
std::atomic<int> g_stop_signal{0};

namespace {

static_assert(std::atomic<bool>::is_always_lock_free);
static_assert(std::atomic<int>::is_always_lock_free);

// Runs in a signal handler: it only stores to lock-free atomics, which is
// async-signal-safe; the first signal decides the exit status.
void on_stop_signal(int signal_number) {
    int none = 0;
    g_stop_signal.compare_exchange_strong(none, signal_number);
    g_stop_requested.store(true);
}

}  // namespace

bool install_stop_signals() {
    struct sigaction action {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a read of the batch input that the signal interrupts fails with
    // EINTR, so the run ends at once instead of after the next line arrives.
    action.sa_flags = 0;
    if (sigaction(SIGINT, &action, nullptr) != 0) return false;
    if (sigaction(SIGTERM, &action, nullptr) != 0) return false;
    // A closed pipe on standard output makes the write fail with EPIPE, which the
    // program reports, instead of ending it silently.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    return sigaction(SIGPIPE, &ignore, nullptr) == 0;
}

int stop_exit_status() {
    const int signal_number = g_stop_signal.load();
    return 128 + (signal_number != 0 ? signal_number : SIGINT);
}

}  // namespace quillmere::cli

namespace quillmere::cli {

static_assert(sizeof(sigset_t) <= 256);

StopSignalHold::StopSignalHold() : saved_{} {
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    sigprocmask(SIG_BLOCK, &stop, reinterpret_cast<sigset_t*>(saved_));
}

StopSignalHold::~StopSignalHold() {
    sigprocmask(SIG_SETMASK, reinterpret_cast<const sigset_t*>(saved_), nullptr);
}

}  // namespace quillmere::cli
