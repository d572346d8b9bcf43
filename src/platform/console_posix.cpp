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

/// The shutdown event: a pipe that holds a byte once signalled; nothing reads it back.
struct ShutdownEvent {
    int read_end;
    int write_end;
};

namespace {

static_assert(sizeof(termios) <= sizeof(ConsoleMode::opaque));
static_assert(alignof(termios) <= alignof(ConsoleMode));
static_assert(std::atomic<ControlHandler>::is_always_lock_free);

/// The value a failed wait returns, as on the other platform.
constexpr unsigned long CONSOLE_WAIT_FAILED = 0xFFFFFFFFUL;

/// The terminal of standard input, opened for writing; -1 until opened.
int g_console_output = -1;

/// Bytes read from the terminal that belong to a later line (after an Enter), so that
/// answers typed ahead or pasted together are all answered.
unsigned char g_pending[CONSOLE_KEY_BATCH];
std::size_t g_pending_start = 0;
std::size_t g_pending_end = 0;
KeyDecoder g_decoder{KEY_DECODER_GROUND};

// Terminal state that the SIGTSTP handler needs: the mode to show the shell while the
// program is stopped, the raw mode to take up again, and whether a read holds raw mode.
// Written only with SIGTSTP blocked.
termios g_initial_termios;
termios g_raw_termios;
volatile sig_atomic_t g_raw_active = 0;
/// Set by SIGCONT: tells the stop handler that the process really stopped and was
/// continued (in an orphaned process group the stop is discarded and nothing continues).
volatile sig_atomic_t g_continued = 0;
/// A read was stopped and has been continued since the raw mode was set; the next wait
/// reports it once.
volatile sig_atomic_t g_read_resumed = 0;

std::atomic<ControlHandler> g_control_handler{nullptr};

const termios* as_termios(const ConsoleMode* mode) {
    return reinterpret_cast<const termios*>(mode->opaque);
}

/// Blocks SIGTSTP for its lifetime, so the stop handler never sees a half-made change.
struct StopSignalBlock {
    sigset_t previous;
    StopSignalBlock() {
        sigset_t stop;
        sigemptyset(&stop);
        sigaddset(&stop, SIGTSTP);
        sigprocmask(SIG_BLOCK, &stop, &previous);
    }
    ~StopSignalBlock() { sigprocmask(SIG_SETMASK, &previous, nullptr); }
    StopSignalBlock(const StopSignalBlock&) = delete;
    StopSignalBlock& operator=(const StopSignalBlock&) = delete;
};

/// Sets the disposition of one signal; false with errno on failure.
bool set_signal_action(int signal_number, void (*action)(int), const sigset_t* mask) {
    struct sigaction setting;
    std::memset(&setting, 0, sizeof setting);
    setting.sa_handler = action;
    setting.sa_mask = *mask;
    // Interrupted writes to standard output resume instead of failing; poll still
    // returns EINTR, whatever this flag says.
    setting.sa_flags = SA_RESTART;
    return sigaction(signal_number, &setting, nullptr) == 0;
}

// Signal handlers may only store to lock-free atomics or volatile sig_atomic_t objects
// and call async-signal-safe functions (write, tcsetattr, sigaction, sigprocmask, raise);
// they save errno, which the interrupted code may be about to read, and put it back.

/// Turns a shutdown signal into the matching control event of the program's handler.
void on_shutdown_signal(int signal_number) {
    const int saved_errno = errno;
    unsigned long control_type = 0;                  // SIGINT: Ctrl+C
    if (signal_number == SIGQUIT) control_type = 1;  // Ctrl+Break
    if (signal_number == SIGHUP) control_type = 2;   // the console went away
    if (signal_number == SIGTERM) control_type = 6;  // log-off or system shutdown
    const ControlHandler handler = g_control_handler.load();
    if (handler != nullptr && !handler(control_type)) {
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
    const bool raw = g_raw_active != 0;
    if (raw) tcsetattr(STDIN_FILENO, TCSANOW, &g_initial_termios);

    sigset_t no_signals;
    sigemptyset(&no_signals);
    set_signal_action(SIGTSTP, SIG_DFL, &no_signals);
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTSTP);
    sigprocmask(SIG_UNBLOCK, &stop, nullptr);
    // Stops here until SIGCONT. In an orphaned process group (no job-control shell to
    // resume it) the system discards the stop and this returns at once.
    g_continued = 0;
    raise(SIGTSTP);
    sigprocmask(SIG_BLOCK, &stop, nullptr);
    set_signal_action(SIGTSTP, on_terminal_stop, &no_signals);

    if (raw) {
        tcsetattr(STDIN_FILENO, TCSANOW, &g_raw_termios);
        if (g_continued != 0) g_read_resumed = 1;
    }
    errno = saved_errno;
}

/// SIGCONT: the process goes on after a stop.
void on_continue(int) {
    g_continued = 1;
}

/// True once after a read was stopped and continued.
bool take_read_resumed() {
    if (g_read_resumed == 0) return false;
    const StopSignalBlock block;
    g_read_resumed = 0;
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
    if (g_console_output >= 0) return true;
    const char* path = ttyname(STDIN_FILENO);
    if (path == nullptr) return false;
    // O_NOCTTY: writing to the terminal must never make it the controlling terminal.
    const int descriptor = open(path, O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (descriptor < 0) return false;
    g_console_output = descriptor;
    return true;
}

bool console_get_input_mode(ConsoleMode* mode, unsigned long* error) {
    std::memset(mode->opaque, 0, sizeof mode->opaque);
    termios current;
    if (tcgetattr(STDIN_FILENO, &current) != 0) {
        *error = static_cast<unsigned long>(errno);
        return false;
    }
    std::memcpy(mode->opaque, &current, sizeof current);
    return true;
}

bool console_set_raw_input_mode(const ConsoleMode* initial, unsigned long* error) {
    termios raw = *as_termios(initial);
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
    g_decoder.state = KEY_DECODER_GROUND;
    g_read_resumed = 0;
    g_initial_termios = *as_termios(initial);
    g_raw_termios = raw;
    // TCSANOW, not TCSAFLUSH: keys typed before this call must stay queued.
    if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) != 0) {
        *error = static_cast<unsigned long>(errno);
        return false;
    }
    g_raw_active = 1;
    return true;
}

bool console_restore_input_mode(const ConsoleMode* initial, unsigned long* error) {
    const StopSignalBlock block;
    g_raw_active = 0;
    if (tcsetattr(STDIN_FILENO, TCSANOW, as_termios(initial)) != 0) {
        *error = static_cast<unsigned long>(errno);
        return false;
    }
    return true;
}

void console_leave_raw_mode() {
    const StopSignalBlock block;
    if (g_raw_active == 0) return;
    g_raw_active = 0;
    tcsetattr(STDIN_FILENO, TCSANOW, &g_initial_termios);
}

unsigned long console_wait_for_input(ShutdownEvent* event, unsigned long* error) {
    if (take_read_resumed()) return CONSOLE_WAIT_RESUMED;
    if (g_pending_start < g_pending_end) return CONSOLE_WAIT_INPUT;
    pollfd descriptors[2] = {
        {STDIN_FILENO, POLLIN, 0},
        {event != nullptr ? event->read_end : -1, POLLIN, 0},
    };
    for (;;) {
        const int ready = poll(descriptors, 2, -1);
        if (ready > 0) {
            // Any event on the terminal, a hang-up or an error included, goes to the read,
            // which then fails instead of this wait returning again and again.
            if (descriptors[0].revents != 0) return CONSOLE_WAIT_INPUT;
            if (descriptors[1].revents != 0) return CONSOLE_WAIT_SHUTDOWN;
            continue;
        }
        if (ready < 0 && errno == EINTR) {
            // A stop request has written to the event before its handler returned: the
            // next poll sees it.
            if (take_read_resumed()) return CONSOLE_WAIT_RESUMED;
            continue;
        }
        *error = static_cast<unsigned long>(ready < 0 ? errno : 0);
        return CONSOLE_WAIT_FAILED;
    }
}

bool console_read_keys(KeyEvent* keys, std::size_t capacity, std::size_t* count,
                       unsigned long* error) {
    *count = 0;
    if (capacity < 2) {
        *error = EINVAL;
        return false;
    }
    if (g_pending_start == g_pending_end) {
        ssize_t got;
        do {
            got = read(STDIN_FILENO, g_pending, sizeof g_pending);
        } while (got < 0 && errno == EINTR);
        if (got <= 0) {
            // End of file: the terminal is gone.
            *error = static_cast<unsigned long>(got < 0 ? errno : EIO);
            return false;
        }
        g_pending_start = 0;
        g_pending_end = static_cast<std::size_t>(got);
    }
    g_pending_start += decode_terminal_keys(&g_decoder, g_pending + g_pending_start,
                                            g_pending_end - g_pending_start, keys, capacity, count);
    // The LF of a CR LF comes with its CR: in this batch, or already queued at the terminal
    // when a long paste was split between two reads. Once nothing is left, the pair is
    // over: an LF that comes later is a key of its own (an Enter typed ahead while the
    // terminal was in its normal mode, which turns Enter into LF).
    int queued = 0;
    if (g_decoder.after_cr_enter && g_pending_start == g_pending_end &&
        (ioctl(STDIN_FILENO, FIONREAD, &queued) != 0 || queued == 0)) {
        g_decoder.after_cr_enter = false;
    }
    return true;
}

void console_write(const char* text, std::size_t length) {
    if (g_console_output < 0) return;
    while (length > 0) {
        const ssize_t written = write(g_console_output, text, length);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        text += written;
        length -= static_cast<std::size_t>(written);
    }
}

void console_beep() {
    console_write("\a", 1);
}

ShutdownEvent* shutdown_event_create(unsigned long* error) {
    int ends[2];
    if (pipe(ends) != 0) {
        *error = static_cast<unsigned long>(errno);
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
        *error = static_cast<unsigned long>(errno);
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

bool console_install_control_handler(ControlHandler handler, unsigned long* error) {
    g_control_handler.store(handler);
    sigset_t shutdown_signals;
    sigemptyset(&shutdown_signals);
    for (const int signal_number : {SIGINT, SIGQUIT, SIGHUP, SIGTERM}) {
        sigaddset(&shutdown_signals, signal_number);
    }
    bool installed = true;
    for (const int signal_number : {SIGINT, SIGQUIT, SIGHUP, SIGTERM}) {
        installed =
            installed && set_signal_action(signal_number, on_shutdown_signal, &shutdown_signals);
    }
    // A reader that has gone away makes writes to standard output fail, not end the
    // program, so the failure can be reported through the exit code.
    sigset_t no_signals;
    sigemptyset(&no_signals);
    installed = installed && set_signal_action(SIGPIPE, SIG_IGN, &no_signals);
    // Ctrl+Z keeps its default when the parent ignores it (no job control).
    struct sigaction stop_setting;
    installed = installed && sigaction(SIGTSTP, nullptr, &stop_setting) == 0;
    if (installed && stop_setting.sa_handler != SIG_IGN) {
        installed = set_signal_action(SIGTSTP, on_terminal_stop, &no_signals) &&
                    set_signal_action(SIGCONT, on_continue, &no_signals);
    }
    // Signals blocked by the parent would never reach the handler.
    sigaddset(&shutdown_signals, SIGTSTP);
    sigaddset(&shutdown_signals, SIGCONT);
    installed = installed && sigprocmask(SIG_UNBLOCK, &shutdown_signals, nullptr) == 0;
    if (!installed) *error = static_cast<unsigned long>(errno);
    return installed;
}
