// Runs a program on a pseudo-terminal the way a person at a terminal would: the pty is its
// standard input and controlling terminal, standard output and standard error go to pipes
// of their own, and every wait is bounded so a hung program fails a test instead of
// hanging it.
#pragma once

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <termios.h>

#include <string>
#include <string_view>
#include <vector>

/// Where the program's standard input comes from.
enum class StdinKind { pty, pipe, dev_null };

/// Where the program stands among the terminal's process groups.
enum class ProcessGroup {
    session_leader,  ///< its own session: no shell, so Ctrl+Z cannot stop it
    job,             ///< a foreground job under a small job-control shell
    background,      ///< another process group holds the terminal's foreground
};

/// One of the three streams a session records.
enum class SessionStream { tty, out, err };

/// How to start the program.
struct SessionOptions {
    std::vector<std::string> argv;  ///< the program and its arguments
    std::vector<std::string> env;   ///< extra NAME=value entries
    StdinKind stdin_kind = StdinKind::pty;
    std::string stdin_text;            ///< written to the pipe for StdinKind::pipe
    bool controlling_terminal = true;  ///< the pty becomes the controlling terminal
    bool ignore_sighup = false;        ///< the parent ignores SIGHUP, so the child inherits it
    bool stdout_to_dev_full = false;   ///< standard output cannot be written
    bool stdout_reader_gone = false;   ///< standard output is a pipe nobody reads, from the start
    bool output_to_tty = false;        ///< standard output and error are the pty (shells)
    std::vector<int> closed_descriptors;  ///< closed in the program, as by `>&- 2>&-`
    rlim_t address_space_bytes = 0;       ///< the program's address-space limit; 0: none
    ProcessGroup group = ProcessGroup::session_leader;
};

/// A running (or finished) program and everything it has written.
struct Session {
    pid_t pid = -1;
    int master = -1;  ///< the terminal's side: what is typed goes in, what is shown comes out
    int slave = -1;   ///< kept open to read the terminal's settings
    bool tty_ended = false;  ///< the terminal's side reported an end; it is read no more
    /// Standard output is not read: once its pipe is full the program waits in a write,
    /// as behind a slow reader, wherever it was (in the middle of a search, say).
    bool hold_output = false;
    int out = -1;
    int err = -1;
    int job_events = -1;   ///< ProcessGroup::job: the shell writes 'S' when the job stops
    int job_control = -1;  ///< ProcessGroup::job: a byte written here lets the job continue
    std::string tty;
    std::string out_text;
    std::string err_text;
    std::size_t cursor[3] = {0, 0, 0};  ///< where the next expect starts, per stream
    termios initial{};                  ///< the terminal's settings before the program
    bool exited = false;
    int wait_status = 0;
    rusage usage{};
    ~Session();
};

/// Milliseconds each wait may take before the test fails.
constexpr int SESSION_TIMEOUT_MS = 20000;

/// The program under test: $QUILLMERE_PROGRAM when set, else the one built here.
std::string program_path();

/// Starts the program; the pty's settings are recorded first.
testing::AssertionResult start_session(Session& session, const SessionOptions& options);
/// Reads whatever the program has written, waiting at most timeout_ms for something.
void pump_session(Session& session, int timeout_ms);
/// Reads at least `count` more bytes of standard output, even while it is held.
testing::AssertionResult read_more_output(Session& session, std::size_t count);
/// Waits until text appears on the stream after the previous match, and moves past it.
testing::AssertionResult expect_text(Session& session, SessionStream stream, std::string_view text,
                                     int timeout_ms = SESSION_TIMEOUT_MS);
/// Waits until the program's read has put the terminal into raw mode.
testing::AssertionResult wait_for_raw_mode(Session& session);
/// Types keys at the terminal once the program is reading them.
testing::AssertionResult type_keys(Session& session, std::string_view keys);
/// Types keys at the terminal at once, whatever the program is doing.
testing::AssertionResult write_keys(Session& session, std::string_view keys);
/// Waits for a prompt on the stream, then types the answer.
testing::AssertionResult answer(Session& session, SessionStream stream, std::string_view prompt,
                                std::string_view keys);
/// ProcessGroup::job: waits until the job has stopped.
testing::AssertionResult expect_job_stopped(Session& session);
/// ProcessGroup::job: gives the terminal back to the stopped job and continues it, as fg does.
void continue_job(Session& session);
/// Sends a signal to the program.
void send_signal(Session& session, int signal_number);
/// Hangs the terminal up: the terminal's side is closed.
void hang_up(Session& session);
/// Waits until the program ends and collects the rest of its output.
testing::AssertionResult wait_for_exit(Session& session, int timeout_ms = SESSION_TIMEOUT_MS);
/// The exit code, or 128 + the signal that ended it.
int exit_code(const Session& session);
/// Seconds of processor time the finished program used.
double cpu_seconds(const Session& session);
/// True when the terminal's settings are those recorded before the program started.
testing::AssertionResult terminal_unchanged(const Session& session);

/// Decodes the escapes of scripts and transcripts: \r \n \b \t \e \s (blank) \\ \xHH.
std::string decode_escapes(std::string_view text);
/// Shows bytes readably in failure messages.
std::string show_bytes(std::string_view bytes);
