#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>

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

bool standard_input_open() {
    return fcntl(STDIN_FILENO, F_GETFD) != -1 || errno != EBADF;
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

InputOpen open_input(const char* name, std::FILE** file) {
    *file = nullptr;
    for (;;) {
        if (stop_requested()) return InputOpen::stopped;
        // Without O_NONBLOCK, opening a FIFO waits for a writer, and the open restarts
        // after every signal; with it the open returns at once and read_input's poll waits
        // for the writer (a FIFO that never had one reports no hang-up) and for the stop.
        const int descriptor = open(name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (descriptor < 0) {
            if (errno == EINTR) continue;
            return InputOpen::failed;
        }
        const int flags = fcntl(descriptor, F_GETFL);
        std::FILE* stream = nullptr;
        // Reads follow a poll that found data: they need not be non-blocking, and a
        // blocking descriptor is what the C library expects of a stream.
        if (flags != -1 && fcntl(descriptor, F_SETFL, flags & ~O_NONBLOCK) != -1) {
            stream = fdopen(descriptor, "r");
        }
        if (stream == nullptr) {
            const int error = errno;
            close(descriptor);
            errno = error;
            return InputOpen::failed;
        }
        *file = stream;
        return InputOpen::opened;
    }
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

OutputWrite write_standard_output(std::string_view text) {
    // A pipe or FIFO that polls writable has room for PIPE_BUF bytes, so a write of at most
    // that many never blocks and the wait stays in poll, where a stop can end it.
    struct stat status {};
    const bool regular = fstat(STDOUT_FILENO, &status) == 0 && S_ISREG(status.st_mode);
    const std::size_t chunk = regular ? text.size() : std::size_t{PIPE_BUF};
    const int stop_pipe = stop_pipe_read.load();
    std::size_t written = 0;
    std::optional<std::chrono::steady_clock::time_point> deadline;
    while (written < text.size()) {
        int timeout_ms = -1;
        if (!deadline && stop_requested()) {
            deadline = std::chrono::steady_clock::now() + stop_grace;
        }
        if (deadline) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                *deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return written == 0 ? OutputWrite::stopped : OutputWrite::cut;
            timeout_ms = static_cast<int>(left.count());
        }
        // Once a stop is known the stop pipe stays readable: watch standard output alone.
        pollfd watched[2] = {{STDOUT_FILENO, POLLOUT, 0}, {stop_pipe, POLLIN, 0}};
        const nfds_t watched_count = deadline || stop_pipe < 0 ? 1 : 2;
        const int ready = poll(watched, watched_count, timeout_ms);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return OutputWrite::failed;
        }
        // Writable, or failed (the write then says how), or neither: the stop pipe or the
        // time is looked at above.
        if (ready == 0 || watched[0].revents == 0) continue;
        const std::size_t size = std::min(chunk, text.size() - written);
        const ssize_t count = write(STDOUT_FILENO, text.data() + written, size);
        if (count < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            return OutputWrite::failed;
        }
        written += static_cast<std::size_t>(count);
    }
    return OutputWrite::written;
}

}  // namespace quillmere::platform
