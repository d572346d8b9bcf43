#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "cli/stop_signals.h"

namespace quillmere::cli {

std::atomic<bool> g_stop_requested{false};
std::atomic<int> g_stop_signal{0};

namespace {

static_assert(std::atomic<bool>::is_always_lock_free);
static_assert(std::atomic<int>::is_always_lock_free);

/// A pipe that holds a byte once a stop was requested, so a wait for input can watch for
/// the stop too and no signal can slip in between a test of the flag and the wait.
int g_stop_pipe[2] = {-1, -1};

// Runs in a signal handler: it only stores to lock-free atomics and writes one byte to a
// non-blocking pipe, all async-signal-safe; the first signal decides the exit status.
void on_stop_signal(int signal_number) {
    const int saved_errno = errno;
    int none = 0;
    g_stop_signal.compare_exchange_strong(none, signal_number);
    g_stop_requested.store(true);
    if (g_stop_pipe[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t written = write(g_stop_pipe[1], &byte, 1);
    }
    errno = saved_errno;
}

}  // namespace

bool standard_output_open() {
    return fcntl(STDOUT_FILENO, F_GETFD) != -1 || errno != EBADF;
}

bool install_stop_signals() {
    if (pipe(g_stop_pipe) != 0) return false;
    for (const int end : g_stop_pipe) {
        // Close-on-exec; non-blocking, so the handler never waits on a full pipe.
        if (fcntl(end, F_SETFD, FD_CLOEXEC) != 0) return false;
        if (fcntl(end, F_SETFL, fcntl(end, F_GETFL) | O_NONBLOCK) != 0) return false;
    }
    struct sigaction action {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    // Interrupted calls go on; a wait for batch input watches the stop pipe instead.
    action.sa_flags = SA_RESTART;
    if (sigaction(SIGINT, &action, nullptr) != 0) return false;
    if (sigaction(SIGTERM, &action, nullptr) != 0) return false;
    // A closed pipe on standard output makes the write fail with EPIPE, which the
    // program reports, instead of ending it silently.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    return sigaction(SIGPIPE, &ignore, nullptr) == 0;
}

InputRead read_input(std::FILE* stream, char* buffer, std::size_t capacity, std::size_t* count) {
    *count = 0;
    const int descriptor = fileno(stream);
    for (;;) {
        if (g_stop_requested.load()) return InputRead::stopped;
        pollfd watched[2] = {{descriptor, POLLIN, 0}, {g_stop_pipe[0], POLLIN, 0}};
        const nfds_t watched_count = g_stop_pipe[0] >= 0 ? 2 : 1;
        if (poll(watched, watched_count, -1) < 0) {
            if (errno == EINTR) continue;
            return InputRead::failed;
        }
        // The handler runs before poll returns, also when poll found the input ready.
        if (g_stop_requested.load()) return InputRead::stopped;
        if (watched_count == 2 && watched[1].revents != 0) return InputRead::stopped;
        if (watched[0].revents == 0) continue;
        // Readable (or ended, or failed): this read does not wait.
        const ssize_t got = read(descriptor, buffer, capacity);
        if (got < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            return InputRead::failed;
        }
        if (got == 0) return InputRead::end;
        *count = static_cast<std::size_t>(got);
        return InputRead::data;
    }
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
