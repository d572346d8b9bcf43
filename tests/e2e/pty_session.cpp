#include "pty_session.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

Clock::time_point deadline_after(int timeout_ms) {
    return Clock::now() + std::chrono::milliseconds(timeout_ms);
}

int remaining_ms(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

void set_flag(int descriptor, int status_flag, int descriptor_flag) {
    fcntl(descriptor, F_SETFL, fcntl(descriptor, F_GETFL) | status_flag);
    fcntl(descriptor, F_SETFD, fcntl(descriptor, F_GETFD) | descriptor_flag);
}

bool make_pipe(int ends[2]) {
    if (pipe(ends) != 0) return false;
    set_flag(ends[0], 0, FD_CLOEXEC);
    set_flag(ends[1], 0, FD_CLOEXEC);
    return true;
}

void close_descriptor(int& descriptor) {
    if (descriptor >= 0) close(descriptor);
    descriptor = -1;
}

std::string& buffer_of(Session& session, SessionStream stream) {
    switch (stream) {
    case SessionStream::tty: return session.tty;
    case SessionStream::out: return session.out_text;
    case SessionStream::err: return session.err_text;
    }
    return session.tty;
}

const char* name_of(SessionStream stream) {
    switch (stream) {
    case SessionStream::tty: return "terminal";
    case SessionStream::out: return "standard output";
    case SessionStream::err: return "standard error";
    }
    return "?";
}

/// Collects the program's exit status when it has ended, without waiting.
void reap(Session& session) {
    if (session.exited || session.pid < 0) return;
    int status = 0;
    const pid_t done = wait4(session.pid, &status, WNOHANG, &session.usage);
    if (done == session.pid) {
        session.exited = true;
        session.wait_status = status;
    }
}

/// Reads one chunk of what a descriptor has; false at end of file or on a failure. One
/// chunk at a time, so a test that holds a stream back stops reading it at once, however
/// fast the program writes.
bool drain(int descriptor, std::string& into) {
    char chunk[4096];
    const ssize_t got = read(descriptor, chunk, sizeof chunk);
    if (got > 0) {
        into.append(chunk, static_cast<std::size_t>(got));
        return true;
    }
    return got < 0 && (errno == EAGAIN || errno == EINTR);
}

std::string describe(const Session& session) {
    return "\n--- terminal ---\n" + show_bytes(session.tty) + "\n--- standard output ---\n" +
           show_bytes(session.out_text) + "\n--- standard error ---\n" +
           show_bytes(session.err_text);
}

/// In the child: gives the terminal's foreground to a process group that only waits, so
/// the program runs in the background. The waiter ends with the session (SIGHUP).
void hand_foreground_away(int terminal) {
    const pid_t waiter = fork();
    if (waiter == 0) {
        for (int descriptor = 0; descriptor < 1024; ++descriptor) close(descriptor);
        setpgid(0, 0);
        for (;;) pause();
    }
    setpgid(waiter, waiter);
    tcsetpgrp(terminal, waiter);
}

/// In the child: a job-control shell of the smallest kind. The program runs as its
/// foreground job; when the job stops the shell reports it and waits for the word to
/// continue it, as a person types fg; the shell ends with the job's exit code.
[[noreturn]] void run_as_job(int terminal, char** argv, char** envp, int events, int control) {
    signal(SIGTTOU, SIG_IGN);
    const pid_t job = fork();
    if (job == 0) {
        setpgid(0, 0);
        tcsetpgrp(terminal, getpid());
        signal(SIGTTOU, SIG_DFL);
        close(events);
        close(control);
        execve(argv[0], argv, envp);
        _exit(127);
    }
    setpgid(job, job);
    // Standard output and error belong to the job alone, so they end with it.
    close(STDOUT_FILENO);
    close(STDERR_FILENO);
    for (;;) {
        int status = 0;
        if (waitpid(job, &status, WUNTRACED) != job) _exit(125);
        if (WIFEXITED(status)) _exit(WEXITSTATUS(status));
        if (WIFSIGNALED(status)) _exit(128 + WTERMSIG(status));
        if (write(events, "S", 1) != 1) _exit(125);
        char word = 0;
        if (read(control, &word, 1) != 1) _exit(125);
        tcsetpgrp(terminal, job);
        kill(-job, SIGCONT);
    }
}

}  // namespace

Session::~Session() {
    // Hang the terminal up first, so a shell and its jobs end as they would at a real one.
    close_descriptor(master);
    if (pid > 0 && !exited) {
        kill(-pid, SIGKILL);
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    close_descriptor(slave);
    close_descriptor(out);
    close_descriptor(err);
    close_descriptor(job_events);
    close_descriptor(job_control);
}

std::string program_path() {
    // Another build of the program (an installed one, say) can be tested in its place.
    const char* chosen = std::getenv("QUILLMERE_PROGRAM");
    return chosen != nullptr && *chosen != '\0' ? chosen : QUILLMERE_PROGRAM;
}

testing::AssertionResult start_session(Session& session, const SessionOptions& options) {
    // A program that ends before reading its piped input must not end the test with it.
    signal(SIGPIPE, SIG_IGN);
    session.master = posix_openpt(O_RDWR | O_NOCTTY);
    if (session.master < 0 || grantpt(session.master) != 0 || unlockpt(session.master) != 0) {
        return testing::AssertionFailure() << "no pseudo-terminal: " << std::strerror(errno);
    }
    set_flag(session.master, O_NONBLOCK, FD_CLOEXEC);
    const std::string slave_path = ptsname(session.master);
    session.slave = open(slave_path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (session.slave < 0 || tcgetattr(session.slave, &session.initial) != 0) {
        return testing::AssertionFailure() << "cannot open " << slave_path;
    }

    int out_pipe[2];
    int err_pipe[2];
    int in_pipe[2] = {-1, -1};
    int job_events[2] = {-1, -1};
    int job_control[2] = {-1, -1};
    if (!make_pipe(out_pipe) || !make_pipe(err_pipe) ||
        (options.stdin_kind == StdinKind::pipe && !make_pipe(in_pipe)) ||
        (options.group == ProcessGroup::job &&
         (!make_pipe(job_events) || !make_pipe(job_control)))) {
        return testing::AssertionFailure() << "no pipe: " << std::strerror(errno);
    }

    // Closed before fork, so the pipe has no reader from the program's first write on.
    if (options.stdout_reader_gone) close_descriptor(out_pipe[0]);

    // Everything the child needs is prepared before fork: after it only system calls run.
    std::vector<std::string> arguments = options.argv;
    if (arguments.empty()) arguments.push_back(program_path());
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::vector<std::string> extra_env = options.env;
    std::vector<char*> envp;
    for (char** entry = environ; *entry != nullptr; ++entry) envp.push_back(*entry);
    for (std::string& entry : extra_env) envp.push_back(entry.data());
    envp.push_back(nullptr);

    session.pid = fork();
    if (session.pid < 0) return testing::AssertionFailure() << "fork failed";
    if (session.pid == 0) {
        setsid();
        int terminal = -1;
        if (options.stdin_kind == StdinKind::pty || options.output_to_tty) {
            terminal =
                open(slave_path.c_str(), O_RDWR | (options.controlling_terminal ? 0 : O_NOCTTY));
            if (terminal < 0) _exit(126);
            if (options.controlling_terminal) ioctl(terminal, TIOCSCTTY, 0);
        }
        if (options.stdin_kind == StdinKind::pty) dup2(terminal, STDIN_FILENO);
        if (options.stdin_kind == StdinKind::pipe) dup2(in_pipe[0], STDIN_FILENO);
        if (options.stdin_kind == StdinKind::dev_null) {
            const int null_input = open("/dev/null", O_RDONLY);
            dup2(null_input, STDIN_FILENO);
        }
        if (options.output_to_tty) {
            dup2(terminal, STDOUT_FILENO);
            dup2(terminal, STDERR_FILENO);
        } else {
            if (options.stdout_to_dev_full) {
                const int full = open("/dev/full", O_WRONLY);
                dup2(full, STDOUT_FILENO);
            } else {
                dup2(out_pipe[1], STDOUT_FILENO);
            }
            dup2(err_pipe[1], STDERR_FILENO);
        }
        for (const int descriptor : options.closed_descriptors) close(descriptor);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        signal(SIGPIPE, SIG_DFL);
        if (options.ignore_sighup) signal(SIGHUP, SIG_IGN);
        if (options.group == ProcessGroup::background) hand_foreground_away(terminal);
        if (options.address_space_bytes != 0) {
            const rlimit limit = {options.address_space_bytes, options.address_space_bytes};
            setrlimit(RLIMIT_AS, &limit);
        }
        if (options.group == ProcessGroup::job) {
            run_as_job(terminal, argv.data(), envp.data(), job_events[1], job_control[0]);
        }
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    if (options.group == ProcessGroup::job) {
        close(job_events[1]);
        close(job_control[0]);
        session.job_events = job_events[0];
        session.job_control = job_control[1];
    }

    close(out_pipe[1]);
    close(err_pipe[1]);
    session.out = out_pipe[0];
    session.err = err_pipe[0];
    if (session.out >= 0) set_flag(session.out, O_NONBLOCK, 0);
    set_flag(session.err, O_NONBLOCK, 0);
    if (options.stdin_kind == StdinKind::pipe) {
        close(in_pipe[0]);
        const std::string& text = options.stdin_text;
        if (!text.empty() && write(in_pipe[1], text.data(), text.size()) < 0) {
            // The program may refuse the pipe before reading it; nothing to report.
        }
        close(in_pipe[1]);
    }
    return testing::AssertionSuccess();
}

void pump_session(Session& session, int timeout_ms) {
    pollfd descriptors[3] = {
        {session.tty_ended ? -1 : session.master, POLLIN, 0},
        {session.hold_output ? -1 : session.out, POLLIN, 0},
        {session.err, POLLIN, 0},
    };
    if (poll(descriptors, 3, timeout_ms) <= 0) return;
    // A hung-up terminal side keeps reporting; it is read no more once it has failed.
    if (descriptors[0].revents != 0 && !drain(session.master, session.tty)) {
        session.tty_ended = true;
    }
    if (descriptors[1].revents != 0 && !drain(session.out, session.out_text)) {
        close_descriptor(session.out);
    }
    if (descriptors[2].revents != 0 && !drain(session.err, session.err_text)) {
        close_descriptor(session.err);
    }
}

testing::AssertionResult read_more_output(Session& session, std::size_t count) {
    const std::size_t wanted = session.out_text.size() + count;
    const auto deadline = deadline_after(SESSION_TIMEOUT_MS);
    while (session.out_text.size() < wanted) {
        if (remaining_ms(deadline) == 0 || session.out < 0) {
            return testing::AssertionFailure() << "standard output stopped" << describe(session);
        }
        pollfd output = {session.out, POLLIN, 0};
        if (poll(&output, 1, std::min(remaining_ms(deadline), 50)) != 1) continue;
        char chunk[512];
        const std::size_t room = std::min(sizeof chunk, wanted - session.out_text.size());
        const ssize_t got = read(session.out, chunk, room);
        if (got > 0) session.out_text.append(chunk, static_cast<std::size_t>(got));
        if (got == 0) close_descriptor(session.out);
    }
    return testing::AssertionSuccess();
}

testing::AssertionResult expect_text(Session& session, SessionStream stream, std::string_view text,
                                     int timeout_ms) {
    const auto deadline = deadline_after(timeout_ms);
    const std::string& buffer = buffer_of(session, stream);
    for (;;) {
        const std::size_t at = buffer.find(text, session.cursor[static_cast<std::size_t>(stream)]);
        if (at != std::string::npos) {
            session.cursor[static_cast<std::size_t>(stream)] = at + text.size();
            return testing::AssertionSuccess();
        }
        reap(session);
        const bool silent = session.out < 0 && session.err < 0;
        if (remaining_ms(deadline) == 0 || (session.exited && silent)) {
            return testing::AssertionFailure()
                   << (session.exited ? "the program ended" : "timed out") << " waiting for "
                   << show_bytes(text) << " on " << name_of(stream) << describe(session);
        }
        pump_session(session, std::min(remaining_ms(deadline), 50));
    }
}

testing::AssertionResult wait_for_raw_mode(Session& session) {
    const auto deadline = deadline_after(SESSION_TIMEOUT_MS);
    for (;;) {
        termios current;
        if (tcgetattr(session.slave, &current) == 0 && (current.c_lflag & ICANON) == 0) {
            return testing::AssertionSuccess();
        }
        reap(session);
        if (remaining_ms(deadline) == 0 || session.exited) {
            return testing::AssertionFailure()
                   << "the terminal never went into raw mode" << describe(session);
        }
        pump_session(session, 5);
    }
}

testing::AssertionResult type_keys(Session& session, std::string_view keys) {
    testing::AssertionResult raw = wait_for_raw_mode(session);
    if (!raw) return raw;
    return write_keys(session, keys);
}

testing::AssertionResult write_keys(Session& session, std::string_view keys) {
    while (!keys.empty()) {
        const ssize_t written = write(session.master, keys.data(), keys.size());
        if (written < 0 && (errno == EAGAIN || errno == EINTR)) {
            pump_session(session, 10);
            continue;
        }
        if (written <= 0) return testing::AssertionFailure() << "cannot type at the terminal";
        keys.remove_prefix(static_cast<std::size_t>(written));
    }
    return testing::AssertionSuccess();
}

testing::AssertionResult answer(Session& session, SessionStream stream, std::string_view prompt,
                                std::string_view keys) {
    testing::AssertionResult seen = expect_text(session, stream, prompt);
    if (!seen) return seen;
    return type_keys(session, keys);
}

testing::AssertionResult expect_job_stopped(Session& session) {
    const auto deadline = deadline_after(SESSION_TIMEOUT_MS);
    for (;;) {
        pollfd event = {session.job_events, POLLIN, 0};
        if (poll(&event, 1, 0) == 1) {
            char word = 0;
            if (read(session.job_events, &word, 1) == 1 && word == 'S') {
                return testing::AssertionSuccess();
            }
            return testing::AssertionFailure()
                   << "the job ended instead of stopping" << describe(session);
        }
        if (remaining_ms(deadline) == 0) {
            return testing::AssertionFailure() << "the job did not stop" << describe(session);
        }
        pump_session(session, 20);
    }
}

void continue_job(Session& session) {
    if (write(session.job_control, "C", 1) != 1) ADD_FAILURE() << "the shell is gone";
}

void send_signal(Session& session, int signal_number) {
    kill(session.pid, signal_number);
}

void hang_up(Session& session) {
    if (session.master >= 0) {
        pump_session(session, 0);
        close_descriptor(session.master);
    }
}

testing::AssertionResult wait_for_exit(Session& session, int timeout_ms) {
    session.hold_output = false;
    const auto deadline = deadline_after(timeout_ms);
    while (!session.exited) {
        if (remaining_ms(deadline) == 0) {
            return testing::AssertionFailure() << "the program did not end" << describe(session);
        }
        pump_session(session, std::min(remaining_ms(deadline), 20));
        reap(session);
    }
    // The pipes close with the program; whatever is still in them belongs to the result.
    const auto drain_deadline = deadline_after(2000);
    while ((session.out >= 0 || session.err >= 0) && remaining_ms(drain_deadline) > 0) {
        pump_session(session, 20);
    }
    pump_session(session, 0);
    return testing::AssertionSuccess();
}

int exit_code(const Session& session) {
    if (WIFEXITED(session.wait_status)) return WEXITSTATUS(session.wait_status);
    if (WIFSIGNALED(session.wait_status)) return 128 + WTERMSIG(session.wait_status);
    return -1;
}

double cpu_seconds(const Session& session) {
    const auto seconds = [](const timeval& time) {
        return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
    };
    return seconds(session.usage.ru_utime) + seconds(session.usage.ru_stime);
}

testing::AssertionResult terminal_unchanged(const Session& session) {
    termios now;
    if (tcgetattr(session.slave, &now) != 0) {
        return testing::AssertionFailure() << "the terminal is gone: " << std::strerror(errno);
    }
    const termios& before = session.initial;
    testing::AssertionResult result = testing::AssertionSuccess();
    bool same = true;
    const auto compare = [&](const char* name, unsigned long was, unsigned long is) {
        if (was == is) return;
        same = false;
        char line[128];
        std::snprintf(line, sizeof line, "\n%s was %#lx, is %#lx", name, was, is);
        result << line;
    };
    compare("c_iflag", before.c_iflag, now.c_iflag);
    compare("c_oflag", before.c_oflag, now.c_oflag);
    compare("c_cflag", before.c_cflag, now.c_cflag);
    compare("c_lflag", before.c_lflag, now.c_lflag);
    for (std::size_t i = 0; i < NCCS; ++i) compare("c_cc[i]", before.c_cc[i], now.c_cc[i]);
    if (same) return testing::AssertionSuccess();
    return testing::AssertionFailure() << "terminal settings changed:" << result.message();
}

std::string decode_escapes(std::string_view text) {
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            bytes += text[i];
            continue;
        }
        const char kind = text[++i];
        switch (kind) {
        case 'r': bytes += '\r'; break;
        case 'n': bytes += '\n'; break;
        case 'b': bytes += '\b'; break;
        case 't': bytes += '\t'; break;
        case 'e': bytes += '\x1b'; break;
        case 's': bytes += ' '; break;
        case 'x':
            if (i + 2 < text.size()) {
                bytes += static_cast<char>(
                    std::strtoul(std::string(text.substr(i + 1, 2)).c_str(), nullptr, 16));
                i += 2;
            }
            break;
        default: bytes += kind; break;
        }
    }
    return bytes;
}

std::string show_bytes(std::string_view bytes) {
    std::string shown;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\n') {
            shown += "\\n\n";
        } else if (c == '\r') {
            shown += "\\r";
        } else if (c == '\\') {
            shown += "\\\\";
        } else if (byte < 0x20 || byte >= 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            shown += escaped;
        } else {
            shown += c;
        }
    }
    return shown;
}
