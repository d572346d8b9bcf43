// The console on POSIX: termios raw mode on standard input, poll on the terminal and a
// self-pipe, signals for the control events.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/console.h"
#include "platform/key_decoder.h"

namespace quillmere::platform {

/// The shutdown event: a pipe that holds a byte once signalled; nothing reads it back.
struct ShutdownEvent {
    int read_end = -1;
    int write_end = -1;
};

namespace {

static_assert(sizeof(termios) <= sizeof(ConsoleMode::opaque));
static_assert(std::atomic<ControlHandler>::is_always_lock_free);

/// The value a failed wait returns, as on the other platform (WAIT_FAILED).
constexpr unsigned long WAIT_FAILED_CODE = 0xFFFFFFFFUL;

// Shared with the signal handlers below. A handler may only store to lock-free atomics or
// volatile sig_atomic_t objects and call async-signal-safe functions (write, tcsetattr,
// sigaction, sigprocmask, raise), and it saves and restores errno, which the interrupted
// code may be about to read. The two termios values are written only with SIGTSTP
// blocked, so its handler never reads one half-written.

/// The program's control handler, called for the shutdown signals.
std::atomic<ControlHandler> control_handler{nullptr};
/// The mode to show the shell while the program is stopped, and the raw mode to take up
/// again after it.
termios shell_mode{};
termios raw_mode{};
/// A read holds raw mode.
volatile sig_atomic_t raw_active = 0;
/// Set by SIGCONT: tells the stop handler that the process really stopped and was
/// continued (in an orphaned process group the stop is discarded and nothing continues).
volatile sig_atomic_t continued = 0;
/// A read was stopped and has been continued since the raw mode was set; the next wait
/// reports it once.
volatile sig_atomic_t read_resumed = 0;

/// The terminal as the reader uses it, on the main thread only.
struct Terminal {
    /// The terminal of standard input, opened for writing; -1 until opened.
    int output = -1;
    /// Bytes read from the terminal that belong to a later line (after an Enter), so that
    /// answers typed ahead or pasted together are all answered.
    unsigned char pending[CONSOLE_KEY_BATCH] = {};
    std::size_t pending_start = 0;
    std::size_t pending_end = 0;
    KeyDecoder decoder;
};

Terminal& terminal() {
    static Terminal state;
    return state;
}

termios to_termios(const ConsoleMode& mode) {
    termios value{};
    std::memcpy(&value, mode.opaque, sizeof value);
    return value;
}

ConsoleResult failure(int error) {
    return ConsoleResult{false, static_cast<unsigned long>(error)};
}

/// Blocks SIGTSTP for its lifetime, so the stop handler never sees a half-made change.
class StopSignalBlock {
public:
    StopSignalBlock() {
        sigset_t stop;
        sigemptyset(&stop);
        sigaddset(&stop, SIGTSTP);
        sigprocmask(SIG_BLOCK, &stop, &previous_);
    }
    ~StopSignalBlock() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }
    StopSignalBlock(const StopSignalBlock&) = delete;
    StopSignalBlock& operator=(const StopSignalBlock&) = delete;

private:
    sigset_t previous_{};
};

/// Sets the disposition of one signal; false with errno on failure.
bool set_signal_action(int signal_number, void (*action)(int), const sigset_t& mask) {
    struct sigaction setting;
    std::memset(&setting, 0, sizeof setting);
    setting.sa_handler = action;
    setting.sa_mask = mask;
    // Interrupted writes to standard output resume instead of failing; poll still
    // returns EINTR, whatever this flag says.
    setting.sa_flags = SA_RESTART;
    return sigaction(signal_number, &setting, nullptr) == 0;
}

/// Turns a shutdown signal into the matching control event of the program's handler.
void on_shutdown_signal(int signal_number) {
    const int saved_errno = errno;
    ControlEvent event = ControlEvent::ctrl_c;                       // SIGINT
    if (signal_number == SIGQUIT) event = ControlEvent::ctrl_break;  // Ctrl+\ as Ctrl+Break
    if (signal_number == SIGHUP) event = ControlEvent::close;        // the terminal went away
    if (signal_number == SIGTERM) event = ControlEvent::shutdown;    // log-off or shutdown
    const ControlHandler handler = control_handler.load();
    if (handler != nullptr && !handler(event)) {
        // Not handled: the signal's default action, raised once this handler returns.
        signal(signal_number, SIG_DFL);
        raise(signal_number);
    }
    errno = saved_errno;
}

/// Ctrl+Z: gives the shell the terminal as it was, stops, and takes raw mode up again
/// after SIGCONT, so a pending read goes on where it was.
void on_terminal_stop(int) {
    const int saved_errno = errno;
    const bool raw = raw_active != 0;
    if (raw) tcsetattr(STDIN_FILENO, TCSANOW, &shell_mode);

    sigset_t no_signals;
    sigemptyset(&no_signals);
    set_signal_action(SIGTSTP, SIG_DFL, no_signals);
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTSTP);
    sigprocmask(SIG_UNBLOCK, &stop, nullptr);
    // Stops here until SIGCONT. In an orphaned process group (no job-control shell to
    // resume it) the system discards the stop and this returns at once.
    continued = 0;
    raise(SIGTSTP);
    sigprocmask(SIG_BLOCK, &stop, nullptr);
    set_signal_action(SIGTSTP, on_terminal_stop, no_signals);

    if (raw) {
        tcsetattr(STDIN_FILENO, TCSANOW, &raw_mode);
        if (continued != 0) read_resumed = 1;
    }
    errno = saved_errno;
}

/// SIGCONT: the process goes on after a stop.
void on_continue(int) {
    continued = 1;
}

/// True once after a read was stopped and continued.
bool take_read_resumed() {
    if (read_resumed == 0) return false;
    const StopSignalBlock block;
    read_resumed = 0;
    return true;
}

bool set_descriptor_flags(int descriptor) {
    const int status_flags = fcntl(descriptor, F_GETFL);
    const int descriptor_flags = fcntl(descriptor, F_GETFD);
    return status_flags != -1 && descriptor_flags != -1 &&
           fcntl(descriptor, F_SETFL, status_flags | O_NONBLOCK) != -1 &&
           fcntl(descriptor, F_SETFD, descriptor_flags | FD_CLOEXEC) != -1;
}

}  // namespace

bool console_open_standard_descriptors() {
    for (int descriptor = STDIN_FILENO; descriptor <= STDERR_FILENO; ++descriptor) {
        if (fcntl(descriptor, F_GETFD) != -1 || errno != EBADF) continue;
        // The lowest free descriptor: this one, since those below it are open.
        const int opened = open("/dev/null", O_RDWR | O_NOCTTY);
        if (opened < 0) return false;
        if (opened != descriptor) {
            const bool moved = dup2(opened, descriptor) == descriptor;
            close(opened);
            if (!moved) return false;
        }
    }
    return true;
}

int console_stdin_descriptor() {
    return fileno(stdin);
}

bool console_is_terminal(int descriptor) {
    return isatty(descriptor) != 0;
}

bool console_open_handles() {
    Terminal& term = terminal();
    if (term.output >= 0) return true;
    const char* path = ttyname(STDIN_FILENO);
    if (path == nullptr) return false;
    // O_NOCTTY: writing to the terminal must never make it the controlling terminal.
    const int descriptor = open(path, O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (descriptor < 0) return false;
    term.output = descriptor;
    return true;
}

ConsoleResult console_get_input_mode(ConsoleMode& mode) {
    mode = ConsoleMode{};
    termios current;
    if (tcgetattr(STDIN_FILENO, &current) != 0) return failure(errno);
    std::memcpy(mode.opaque, &current, sizeof current);
    return {};
}

ConsoleResult console_set_raw_input_mode(const ConsoleMode& initial) {
    const termios saved = to_termios(initial);
    termios raw = saved;
    // ISIG on: the interrupt, quit and suspend keys still raise their signals.
    raw.c_lflag |= ISIG;
    // ICANON off: each key arrives at once, not a whole edited line.
    // ECHO off: the reader shows only what it accepts.
    // IEXTEN off: Ctrl+V and the other extended editing keys reach the reader as bytes.
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | IEXTEN);
    // ICRNL and INLCR off: CR and LF arrive as sent, so a CR LF line end (a paste from a
    // file with such line ends) can be told from two Enters; both are Enter alone.
    raw.c_iflag &= ~static_cast<tcflag_t>(ICRNL | INLCR);
    // A read returns as soon as one byte is there, with no inter-byte timer.
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;

    const StopSignalBlock block;
    // A sequence cut off by the end of the last read is forgotten; a CR Enter is not:
    // the LF of its CR LF may still be waiting for this read.
    terminal().decoder.state = KeyDecoderState::ground;
    read_resumed = 0;
    shell_mode = saved;
    raw_mode = raw;
    // TCSANOW, not TCSAFLUSH: keys typed before this call must stay queued.
    if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) != 0) return failure(errno);
    raw_active = 1;
    return {};
}

ConsoleResult console_restore_input_mode(const ConsoleMode& initial) {
    const termios saved = to_termios(initial);
    const StopSignalBlock block;
    raw_active = 0;
    if (tcsetattr(STDIN_FILENO, TCSANOW, &saved) != 0) return failure(errno);
    return {};
}

void console_leave_raw_mode() {
    const StopSignalBlock block;
    if (raw_active == 0) return;
    raw_active = 0;
    tcsetattr(STDIN_FILENO, TCSANOW, &shell_mode);
}

ConsoleWait console_wait_for_input(ShutdownEvent* event) {
    if (take_read_resumed()) return ConsoleWait{WaitResult::resumed, 0, 0};
    const Terminal& term = terminal();
    if (term.pending_start < term.pending_end) return ConsoleWait{WaitResult::input, 0, 0};
    pollfd descriptors[2] = {
        {STDIN_FILENO, POLLIN, 0},
        {event != nullptr ? event->read_end : -1, POLLIN, 0},
    };
    for (;;) {
        const int ready = poll(descriptors, 2, -1);
        if (ready > 0) {
            // Any event on the terminal, a hang-up or an error included, goes to the read,
            // which then fails instead of this wait returning again and again.
            if (descriptors[0].revents != 0) return ConsoleWait{WaitResult::input, 0, 0};
            if (descriptors[1].revents != 0) return ConsoleWait{WaitResult::shutdown, 0, 0};
            continue;
        }
        if (ready < 0 && errno == EINTR) {
            // A stop request has written to the event before its handler returned: the
            // next poll sees it.
            if (take_read_resumed()) return ConsoleWait{WaitResult::resumed, 0, 0};
            continue;
        }
        return ConsoleWait{WaitResult::failed, WAIT_FAILED_CODE,
                           static_cast<unsigned long>(ready < 0 ? errno : 0)};
    }
}

ConsoleResult console_read_keys(std::span<KeyEvent> keys, std::size_t& count) {
    count = 0;
    if (keys.size() < 2) return failure(EINVAL);
    Terminal& term = terminal();
    if (term.pending_start == term.pending_end) {
        ssize_t got;
        do {
            got = read(STDIN_FILENO, term.pending, sizeof term.pending);
        } while (got < 0 && errno == EINTR);
        // End of file: the terminal is gone.
        if (got <= 0) return failure(got < 0 ? errno : EIO);
        term.pending_start = 0;
        term.pending_end = static_cast<std::size_t>(got);
    }
    const std::span<const unsigned char> bytes(term.pending + term.pending_start,
                                               term.pending_end - term.pending_start);
    const DecodedKeys decoded = decode_terminal_keys(term.decoder, bytes, keys);
    term.pending_start += decoded.bytes_used;
    count = decoded.key_count;
    // The LF of a CR LF comes with its CR: in this batch, or already queued at the terminal
    // when a long paste was split between two reads. Once nothing is left, the pair is
    // over: an LF that comes later is a key of its own (an Enter typed ahead while the
    // terminal was in its normal mode, which turns Enter into LF).
    int queued = 0;
    if (term.decoder.after_cr_enter && term.pending_start == term.pending_end &&
        (ioctl(STDIN_FILENO, FIONREAD, &queued) != 0 || queued == 0)) {
        term.decoder.after_cr_enter = false;
    }
    return {};
}

void console_write(std::string_view text) {
    const int output = terminal().output;
    if (output < 0) return;
    while (!text.empty()) {
        const ssize_t written = write(output, text.data(), text.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        text.remove_prefix(static_cast<std::size_t>(written));
    }
}

void console_beep() {
    console_write("\a");
}

ShutdownEvent* shutdown_event_create(unsigned long& error) {
    int ends[2];
    if (pipe(ends) != 0) {
        error = static_cast<unsigned long>(errno);
        return nullptr;
    }
    // Non-blocking: a signal handler's write must never wait. Close-on-exec: the pipe
    // belongs to this process alone.
    ShutdownEvent* event = nullptr;
    if (set_descriptor_flags(ends[0]) && set_descriptor_flags(ends[1])) {
        event = new (std::nothrow) ShutdownEvent{ends[0], ends[1]};
        if (event == nullptr) errno = ENOMEM;
    }
    if (event == nullptr) {
        error = static_cast<unsigned long>(errno);
        close(ends[0]);
        close(ends[1]);
    }
    return event;
}

void shutdown_event_signal(ShutdownEvent* event) {
    const char byte = 1;
    // A full pipe is signalled already.
    [[maybe_unused]] const ssize_t ignored = write(event->write_end, &byte, 1);
}

void shutdown_event_close(ShutdownEvent* event) {
    close(event->read_end);
    close(event->write_end);
    delete event;
}

ConsoleResult console_install_control_handler(ControlHandler handler) {
    control_handler.store(handler);
    sigset_t shutdown_signals;
    sigemptyset(&shutdown_signals);
    for (const int signal_number : {SIGINT, SIGQUIT, SIGHUP, SIGTERM}) {
        sigaddset(&shutdown_signals, signal_number);
    }
    bool installed = true;
    for (const int signal_number : {SIGINT, SIGQUIT, SIGHUP, SIGTERM}) {
        installed =
            installed && set_signal_action(signal_number, on_shutdown_signal, shutdown_signals);
    }
    // A reader that has gone away makes writes to standard output fail, not end the
    // program, so the failure can be reported through the exit code.
    sigset_t no_signals;
    sigemptyset(&no_signals);
    installed = installed && set_signal_action(SIGPIPE, SIG_IGN, no_signals);
    // Ctrl+Z keeps its default when the parent ignores it (no job control).
    struct sigaction stop_setting;
    installed = installed && sigaction(SIGTSTP, nullptr, &stop_setting) == 0;
    if (installed && stop_setting.sa_handler != SIG_IGN) {
        installed = set_signal_action(SIGTSTP, on_terminal_stop, no_signals) &&
                    set_signal_action(SIGCONT, on_continue, no_signals);
    }
    // Signals blocked by the parent would never reach the handler.
    sigaddset(&shutdown_signals, SIGTSTP);
    sigaddset(&shutdown_signals, SIGCONT);
    installed = installed && sigprocmask(SIG_UNBLOCK, &shutdown_signals, nullptr) == 0;
    if (!installed) return failure(errno);
    return {};
}

}  // namespace quillmere::platform
