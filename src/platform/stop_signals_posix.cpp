#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/stop_signals.h"

namespace quillmere::platform {

namespace {

static_assert(std::atomic<bool>::is_always_lock_free);
static_assert(std::atomic<int>::is_always_lock_free);

// Shared with the signal handler, which runs at any moment: it only stores to these
// lock-free atomics and writes one byte to a non-blocking pipe, all async-signal-safe,
// and it saves and restores errno.

/// Set once a stop was requested.
std::atomic<bool> stop_requested_flag{false};
/// The number of the signal that asked to stop (SIGINT, SIGTERM); 0 before one arrives.
std::atomic<int> stop_signal{0};
/// A pipe that holds a byte once a stop was requested, so a wait for input can watch for
/// the stop too and no signal can slip in between a test of the flag and the wait. Set
/// before the handler is installed.
std::atomic<int> stop_pipe_read{-1};
std::atomic<int> stop_pipe_write{-1};

void on_stop_signal(int signal_number) {
    const int saved_errno = errno;
    // The first signal decides the exit status.
    int none = 0;
    stop_signal.compare_exchange_strong(none, signal_number);
    stop_requested_flag.store(true);
    const int pipe_end = stop_pipe_write.load();
    if (pipe_end >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t written = write(pipe_end, &byte, 1);
    }
    errno = saved_errno;
}

}  // namespace

const std::atomic<bool>& stop_flag() {
    return stop_requested_flag;
}

bool standard_output_open() {
    return fcntl(STDOUT_FILENO, F_GETFD) != -1 || errno != EBADF;
}

bool install_stop_signals() {
    int ends[2];
    if (pipe(ends) != 0) return false;
    for (const int end : ends) {
        // Close-on-exec; non-blocking, so the handler never waits on a full pipe.
        if (fcntl(end, F_SETFD, FD_CLOEXEC) != 0) return false;
        if (fcntl(end, F_SETFL, fcntl(end, F_GETFL) | O_NONBLOCK) != 0) return false;
    }
    stop_pipe_read.store(ends[0]);
    stop_pipe_write.store(ends[1]);
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

InputRead read_input(std::FILE* stream, std::span<char> buffer, std::size_t& count) {
    count = 0;
    const int descriptor = fileno(stream);
    const int stop_pipe = stop_pipe_read.load();
    for (;;) {
        if (stop_requested()) return InputRead::stopped;
        pollfd watched[2] = {{descriptor, POLLIN, 0}, {stop_pipe, POLLIN, 0}};
        const nfds_t watched_count = stop_pipe >= 0 ? 2 : 1;
        if (poll(watched, watched_count, -1) < 0) {
            if (errno == EINTR) continue;
            return InputRead::failed;
        }
        // The handler runs before poll returns, also when poll found the input ready.
        if (stop_requested()) return InputRead::stopped;
        if (watched_count == 2 && watched[1].revents != 0) return InputRead::stopped;
        if (watched[0].revents == 0) continue;
        // Readable (or ended, or failed): this read does not wait.
        const ssize_t got = read(descriptor, buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            return InputRead::failed;
        }
        if (got == 0) return InputRead::end;
        count = static_cast<std::size_t>(got);
        return InputRead::data;
    }
}

int stop_exit_status() {
    const int signal_number = stop_signal.load();
    return 128 + (signal_number != 0 ? signal_number : SIGINT);
}

StopSignalHold::StopSignalHold() {
    static_assert(sizeof(sigset_t) <= sizeof saved_mask_);
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    sigset_t previous;
    sigprocmask(SIG_BLOCK, &stop, &previous);
    std::memcpy(saved_mask_, &previous, sizeof previous);
}

StopSignalHold::~StopSignalHold() {
    sigset_t previous;
    std::memcpy(&previous, saved_mask_, sizeof previous);
    sigprocmask(SIG_SETMASK, &previous, nullptr);
}

}  // namespace quillmere::platform
