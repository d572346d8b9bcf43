#!/usr/bin/env python3
"""End-to-end sessions of the program in a terminal, for the Windows build under Wine.

Each session runs the program in a tmux pane (a pseudo-terminal that is the program's
controlling terminal, so Ctrl+C reaches it as a console control event), waits for each
question as a person would and types the answer, taking each step on what the terminal
shows rather than after a fixed time, so that a slow or busy machine only makes a session
longer. Standard output goes to a file and is checked byte for byte (line ends aside);
standard error stays on the terminal, because under Wine the console output (prompts and
echo) reaches the terminal only while it does, and is checked on the rendered screen: Wine
redraws the console with escape sequences, so raw terminal bytes are not comparable.

Usage: smoke.py --exe PROGRAM --session NAME [--linux-exe PROGRAM] [--under-load]
--under-load keeps one busy loop per core running for the session.
A program whose name ends in .exe runs under wine. Exit code 77 means skipped.
"""

import argparse
import os
import shlex
import shutil
import signal as signal_module
import subprocess
import sys
import tempfile
import time

SKIPPED = 77
# Bounds for a session that hangs; none of them is a speed requirement.
WAIT_LIMIT_S = 180.0
# How often the terminal is looked at while waiting: a polling interval, nothing waits on it.
POLL_S = 0.05
# How often tmux is reminded to collect the exit status of a program that has ended.
NUDGE_S = 1.0

BANNER = (
    "\n=== Quillmere ===\n"
    "Calculates Interpolation (L) and Decimation (M) values.\n"
    "Uses Continued Fraction Expansion (CFE) and Factorization.\n" + "=" * 53 + "\n\n"
)
INPUT_RATE = "Enter the input sample rate (Hz): "
OUTPUT_RATE = "Enter the output sample rate (Hz): "
STAGES = "Use one or two rational resamplers? (1 or 2): "
SEARCH_MODE = "Select search mode (1 or 2) [Enter=1]: "
LIMIT = "Enter maximum L and M for EACH stage (e.g., 200): "
ALLOW_M1 = "Allow M1 > L1? (y/n) [Enter=n]: "
TARGET = "Enter target intermediate rate (Hz) (rate after L1/M1) [Press Enter to skip]: "
PRIORITY = "Select prioritization mode (1-4): "
ANOTHER = "Perform another sample rate conversion? (y/n) [Enter=n]: "


class Failure(Exception):
    pass


def normalise(text):
    """Windows text-mode streams end lines with CRLF; the comparison is about the rest."""
    return text.replace("\r\n", "\n")


class View:
    """One look at the terminal: its rows from the top of the scroll-back, the cursor on
    them, and the program's exit status once it has ended (else None)."""

    def __init__(self, rows, cursor_row, cursor_col, exit_code):
        self.rows = rows
        self.cursor_row = cursor_row
        self.cursor_col = cursor_col
        self.exit_code = exit_code

    def row(self, index):
        return self.rows[index] if 0 <= index < len(self.rows) else ""

    def left_of_cursor(self):
        # The screen keeps no blanks at the end of a row, such as the one after a prompt.
        return self.row(self.cursor_row).ljust(self.cursor_col)[:self.cursor_col]

    def nothing_after_cursor(self):
        return (not self.row(self.cursor_row)[self.cursor_col:].strip()
                and not any(row.strip() for row in self.rows[self.cursor_row + 1:]))


class Terminal:
    """The program in a tmux pane of its own tmux server, standard output in a file.

    Each step waits for evidence on the terminal, never for a fixed time: a question is
    answered once it has been drawn below the previous answer with the cursor right after
    it, the answer's Enter is typed once its characters have been echoed, and the next
    step starts once the echoed Enter has moved the cursor off the answer's row. Keys thus
    never reach the program before it has asked for them, however slow it is."""

    def __init__(self, command, workdir, stdin_path=None):
        self.workdir = workdir
        self.socket = "quillmere-smoke-%d-%d" % (os.getpid(), id(self))
        self.stdout_path = os.path.join(workdir, "stdout")
        self.stdout_seen = 0
        # The first row a question or a message may still appear on: rows above it hold
        # what has been answered already.
        self.next_row = 0
        # Where the answer to the question waited for last is echoed: (row, column).
        self.answer_at = None
        # When the terminal was first seen closed with no exit status, and when tmux was
        # last reminded to collect it.
        self.closed_at = None
        self.nudged = float("-inf")
        config = os.path.join(workdir, "tmux.conf")
        with open(config, "w") as f:
            # Keep the pane (and its screen) after the program has ended.
            f.write("set -g remain-on-exit on\nset -g history-limit 10000\n")
        redirect = " <%s" % shlex.quote(stdin_path) if stdin_path else ""
        # exec: the program itself is the pane's process, so tmux reports its exit status
        # and no shell between it and the terminal takes the interrupt key.
        shell = "exec %s%s >%s" % (" ".join(shlex.quote(part) for part in command), redirect,
                                   shlex.quote(self.stdout_path))
        self._tmux("-f", config, "new-session", "-d", "-s", "smoke", "-x", "200", "-y", "50",
                   "sh", "-c", shell)

    def _tmux(self, *args):
        return subprocess.run(["tmux", "-L", self.socket] + list(args), check=True,
                              stdout=subprocess.PIPE, universal_newlines=True).stdout

    def close(self):
        subprocess.run(["tmux", "-L", self.socket, "kill-server"], stderr=subprocess.DEVNULL)

    def screen(self):
        """The rendered screen with its scroll-back, wrapped lines joined."""
        return self._tmux("capture-pane", "-p", "-J", "-S", "-", "-t", "smoke")

    def look(self):
        # One tmux command line: its commands run one after the other with no output of
        # the program handled in between, so the rows and the cursor belong together.
        out = self._tmux("capture-pane", "-p", "-S", "-", "-t", "smoke", ";",
                         "display-message", "-p", "-t", "smoke",
                         "#{history_size}:#{cursor_y}:#{cursor_x}:#{pid}:"
                         "#{pane_dead}:#{pane_dead_status}:#{pane_dead_signal}")
        rows = out[:-1].split("\n")
        history, cursor_y, cursor_x, server, dead, status, signal = rows.pop().split(":")
        return View(rows, int(history) + int(cursor_y), int(cursor_x),
                    self._exit_status(int(server), dead, status, signal))

    def _exit_status(self, server, dead, status, signal):
        """The exit status of the pane's program from tmux's pane_dead fields, else None."""
        if dead != "1":
            return None
        if status or signal:
            # A program killed by a signal reports it as a shell would: 128 + the signal.
            return int(status) if status else 128 + int(signal)
        # The terminal has closed but tmux has no exit status: either the program is still
        # ending, or it has ended and tmux missed the child signal. The latter happens to
        # the Windows build under Wine, the more so on a busy machine: the program stays a
        # zombie that tmux does not reap until it has another child signal, so without one
        # the session would wait for the status until its time limit. One too many does
        # no harm: tmux then finds nothing to reap.
        now = time.monotonic()
        if self.closed_at is None:
            self.closed_at = now
        elif now - self.closed_at >= NUDGE_S and now - self.nudged >= NUDGE_S:
            if self.nudged == float("-inf"):
                print("the terminal closed %.1f s ago and tmux has no exit status: reminding it"
                      % (now - self.closed_at))
            self.nudged = now
            os.kill(server, signal_module.SIGCHLD)
        return None

    def stdout(self):
        try:
            with open(self.stdout_path, "rb") as f:
                return normalise(f.read().decode("latin-1"))
        except FileNotFoundError:
            return ""

    def exit_code(self):
        """The program's exit status once it has ended, else None."""
        return self.look().exit_code

    def _wait(self, what, found):
        """Looks at the terminal until found(view) returns something other than None."""
        deadline = time.monotonic() + WAIT_LIMIT_S
        while True:
            view = self.look()
            result = found(view)
            if result is not None:
                return result
            if view.exit_code is not None or time.monotonic() > deadline:
                ended = ("the program ended (exit code %s)" % view.exit_code
                         if view.exit_code is not None else "no end after %.0f s" % WAIT_LIMIT_S)
                raise Failure("%s: %s\n--- screen ---\n%s\n--- stdout ---\n%s"
                              % (what, ended, self.screen(), self.stdout()))
            time.sleep(POLL_S)

    def expect_screen(self, question):
        """Waits for a question the program draws on the screen, then for nothing more."""
        def asked(view):
            if (view.cursor_row >= self.next_row and view.left_of_cursor().endswith(question)
                    and view.nothing_after_cursor()):
                return view.cursor_row, view.cursor_col
            return None
        self.answer_at = self._wait("%r was never asked on the screen" % question, asked)

    def expect_stdout(self, question):
        """Waits for a question the program prints on standard output; the answer is
        echoed on the screen where the cursor stands."""
        def asked(_):
            found = self.stdout().find(question, self.stdout_seen)
            return None if found < 0 else found + len(question)
        self.stdout_seen = self._wait("%r was never asked on standard output" % question, asked)
        view = self.look()
        self.answer_at = view.cursor_row, view.cursor_col

    def expect_note(self, text):
        """Waits for a message on the screen below the previous answer."""
        def shown(view):
            for index in range(self.next_row, len(view.rows)):
                if text in view.rows[index]:
                    return index
            return None
        self.next_row = self._wait("%r never appeared on the screen" % text, shown)

    def type_line(self, text):
        if self.answer_at is None:
            raise ValueError("an answer typed with no question waited for")
        row, column = self.answer_at
        self.answer_at = None
        if text:
            self._tmux("send-keys", "-t", "smoke", "-l", text)
            end = column + len(text)
            self._wait("%r was typed but never echoed" % text,
                       lambda view: True if (view.cursor_row, view.cursor_col) == (row, end)
                       and view.left_of_cursor()[column:] == text else None)
        self._tmux("send-keys", "-t", "smoke", "Enter")
        self._wait("the Enter after %r was typed but never echoed" % text,
                   lambda view: True if view.cursor_row > row else None)
        self.next_row = row + 1

    def ctrl_c(self):
        self.answer_at = None
        self._tmux("send-keys", "-t", "smoke", "C-c")

    def threads(self):
        """What the threads of the pane's process are doing, for a failure report."""
        pid = self._tmux("display-message", "-p", "-t", "smoke", "#{pane_pid}").strip()
        listing = subprocess.run(["ps", "-L", "-o", "tid,stat,wchan:32,comm", "-p", pid],
                                 stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                 universal_newlines=True)
        return "process %s\n%s" % (pid, listing.stdout)

    def wait_exit(self):
        deadline = time.monotonic() + WAIT_LIMIT_S
        while True:
            code = self.exit_code()
            if code is not None:
                return code
            if time.monotonic() > deadline:
                raise Failure("the program did not end\n--- screen ---\n%s\n--- stdout ---\n%s"
                              "\n--- threads ---\n%s" % (self.screen(), self.stdout(),
                                                         self.threads()))
            time.sleep(POLL_S)


def launcher(exe):
    return ["wine", exe] if exe.lower().endswith(".exe") else [exe]


def play(terminal, script):
    """Plays (where, text) steps: where is 'screen' or 'stdout' for a question to wait for,
    'note' for a message on the screen, 'type' for a line to type, 'ctrl-c' for the
    interrupt key."""
    for where, text in script:
        if where == "screen":
            terminal.expect_screen(text)
        elif where == "stdout":
            terminal.expect_stdout(text)
        elif where == "note":
            terminal.expect_note(text)
        elif where == "type":
            terminal.type_line(text)
        elif where == "ctrl-c":
            terminal.ctrl_c()
        else:
            raise ValueError(where)


def ask(where, question, answer):
    return [(where, question), ("type", answer)]


SINGLE_STAGE = (ask("screen", INPUT_RATE, "44100") + ask("screen", OUTPUT_RATE, "48000")
                + ask("screen", STAGES, "1") + ask("screen", ANOTHER, "n"))

TWO_STAGE = (ask("screen", INPUT_RATE, "44100") + ask("screen", OUTPUT_RATE, "48000")
             + ask("screen", STAGES, "2") + ask("stdout", SEARCH_MODE, "")
             + ask("screen", ALLOW_M1, "") + ask("stdout", TARGET, "")
             + ask("screen", ANOTHER, "n"))

# Every kind of number the reports print: an approximate single stage, then an inexact
# two-stage cascade under a custom limit with an intermediate target and a priority.
COMPARED = (ask("screen", INPUT_RATE, "10000") + ask("screen", OUTPUT_RATE, "12345.678")
            + ask("screen", STAGES, "1") + ask("screen", ANOTHER, "y")
            + ask("screen", INPUT_RATE, "48000") + ask("screen", OUTPUT_RATE, "44100.7")
            + ask("screen", STAGES, "2") + ask("stdout", SEARCH_MODE, "2")
            + ask("screen", LIMIT, "50") + ask("screen", ALLOW_M1, "y")
            + ask("stdout", TARGET, "24000") + ask("screen", PRIORITY, "2")
            + ask("screen", ANOTHER, "n"))


def run_session(exe, script, workdir, stdin_path=None):
    terminal = Terminal(launcher(exe), workdir, stdin_path)
    try:
        play(terminal, script)
        return terminal.wait_exit(), terminal.stdout(), terminal.screen()
    finally:
        terminal.close()


def check(condition, message, *details):
    if not condition:
        raise Failure("\n".join([message] + ["--- ---\n%s" % d for d in details]))


def session_single_stage(exe, workdir, _):
    rc, out, screen = run_session(exe, SINGLE_STAGE, workdir)
    check(rc == 0, "exit code %s, expected 0" % rc, screen)
    check(out.startswith(BANNER), "standard output does not start with the banner", out)
    check("  L = 160 (Interpolation)\n  M = 147 (Decimation)\n" in out, "not L = 160, M = 147", out)
    check(out.endswith("\nExiting program normally.\n"), "no normal end", out)


def session_two_stage(exe, workdir, _):
    rc, out, screen = run_session(exe, TWO_STAGE, workdir)
    check(rc == 0, "exit code %s, expected 0" % rc, screen)
    check(" -> Minimal Sum mode selected (default).\n" in out, "no default mode", out)
    check("63000" in out, "no intermediate rate of 63000 Hz in the report", out)
    check(out.endswith("\nExiting program normally.\n"), "no normal end", out)


def session_refusal(exe, workdir, _):
    script = (ask("screen", INPUT_RATE, "48000 Hz")
              + [("note", "Trailing characters found after number: 'Hz'")]
              + ask("screen", INPUT_RATE, "44100") + ask("screen", OUTPUT_RATE, "48000")
              + ask("screen", STAGES, "3")
              + [("note", "Error: Input must be one of the allowed values: 1, 2.")]
              + ask("screen", STAGES, "1") + ask("screen", ANOTHER, "n"))
    rc, out, screen = run_session(exe, script, workdir)
    check(rc == 0, "exit code %s, expected 0" % rc, screen)
    check("Trailing characters" not in out, "a refusal went to standard output", out)
    check(out.endswith("\nExiting program normally.\n"), "no normal end", out)


def session_ctrl_c(exe, workdir, _):
    script = ask("screen", INPUT_RATE, "44100") + [("screen", OUTPUT_RATE), ("ctrl-c", "")]
    rc, out, screen = run_session(exe, script, workdir)
    check(rc == 1, "exit code %s, expected 1" % rc, screen)
    check("\nShutdown requested by user.\n" in screen, "no shutdown notice", screen)
    check(out == BANNER + "\n", "standard output is not the banner and one newline", out)


def session_piped_stdin(exe, workdir, _):
    result = subprocess.run(launcher(exe), input=b"44100\n48000\n1\nn\n",
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            timeout=WAIT_LIMIT_S, cwd=workdir)
    err = normalise(result.stderr.decode("latin-1"))
    check(result.returncode == 1, "exit code %s, expected 1" % result.returncode, err)
    check(result.stdout == b"", "standard output is not empty", result.stdout)
    check(err == "Error: This program requires interactive input from a terminal.\n"
          "       Input redirection or piping is not supported.\n",
          "not the refusal of piped input", err)


def session_null_stdin(exe, workdir, _):
    # The null device is a character device, so it passes the terminal check on Windows;
    # the line reader then fails on its console mode, and the dialog must end, not loop.
    rc, out, screen = run_session(exe, [], workdir, stdin_path=os.devnull)
    check(rc == 1, "exit code %s, expected 1" % rc, screen)
    check("Failed to get console mode (Error " in screen, "no console mode failure", screen)
    check("\nFailed to gather required inputs (Calculation Error).\n" in screen,
          "the dialog did not end with the console failure", screen)
    check(out == BANNER + "\nExiting program due to error or user request.\n",
          "not the banner and the closing message of a failure", out)


def session_same_stdout_as_linux(exe, workdir, linux_exe):
    if not linux_exe or not os.access(linux_exe, os.X_OK):
        print("skipped: no Linux build given (--linux-exe)")
        sys.exit(SKIPPED)
    results = []
    for name, program in (("windows", exe), ("linux", linux_exe)):
        folder = os.path.join(workdir, name)
        os.mkdir(folder)
        results.append(run_session(program, COMPARED, folder))
    (win_rc, win_out, win_screen), (linux_rc, linux_out, _) = results
    check(win_rc == linux_rc == 0, "exit codes %s (Windows) and %s (Linux)" % (win_rc, linux_rc),
          win_screen)
    if win_out != linux_out:
        import difflib
        diff = "".join(difflib.unified_diff(linux_out.splitlines(True), win_out.splitlines(True),
                                            "linux", "windows"))
        raise Failure("standard output differs\n" + diff)


def session_console_layer(exe, workdir, _):
    """A GoogleTest program that needs a real console: its report is its standard output."""
    rc, out, screen = run_session(exe, [], workdir)
    print(out)
    check(rc == 0, "the tests failed (exit code %s)" % rc, screen)
    check("[  PASSED  ]" in out, "no test ran", out)


SESSIONS = {
    "console_layer": session_console_layer,
    "single_stage": session_single_stage,
    "two_stage": session_two_stage,
    "refusal": session_refusal,
    "ctrl_c": session_ctrl_c,
    "piped_stdin": session_piped_stdin,
    "null_stdin": session_null_stdin,
    "same_stdout_as_linux": session_same_stdout_as_linux,
}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--session", required=True, choices=sorted(SESSIONS))
    parser.add_argument("--linux-exe", default="")
    parser.add_argument("--under-load", action="store_true",
                        help="one busy loop per core for the whole session")
    args = parser.parse_args()
    if shutil.which("tmux") is None:
        print("skipped: tmux is not installed")
        return SKIPPED
    # Wine's loader prints notices of its own (a missing 32-bit Wine, for one) on standard
    # error unless its messages are off; they would land in the sessions' terminals.
    os.environ.setdefault("WINEDEBUG", "-all")
    workdir = tempfile.mkdtemp(prefix="quillmere-smoke-")
    busy_loops = []
    try:
        if args.under_load:
            busy_loops = [subprocess.Popen([sys.executable, "-c", "while True: pass"])
                          for _ in range(os.cpu_count() or 1)]
        SESSIONS[args.session](os.path.abspath(args.exe), workdir, args.linux_exe)
    except Failure as failure:
        print("FAILED %s: %s" % (args.session, failure))
        return 1
    finally:
        for loop in busy_loops:
            loop.kill()
            loop.wait()
        shutil.rmtree(workdir, ignore_errors=True)
    print("passed %s%s" % (args.session, " with every core busy" if args.under_load else ""))
    return 0


if __name__ == "__main__":
    sys.exit(main())
