#!/usr/bin/env python3
"""The bash completion in an interactive bash at a pseudo-terminal: Tab as a user presses
it, with readline's own word splitting, quoting and listing of candidates.
Usage: completion_pty_test.py COMPLETION"""
import os
import pty
import select
import shutil
import sys
import tempfile
import time

completion = os.path.abspath(sys.argv[1])
folder = tempfile.mkdtemp()
open(os.path.join(folder, "rates one.txt"), "w").close()
os.mkdir(os.path.join(folder, "tables"))

pid, fd = pty.fork()
if pid == 0:
    os.chdir(folder)
    os.environ.update({"TERM": "dumb", "INPUTRC": "/dev/null", "HOME": folder})
    os.execvp("bash", ["bash", "--norc", "--noprofile", "-i"])


def read_until(expected, seconds=10.0):
    """Reads the terminal until every string of `expected` has appeared; returns the text."""
    text = b""
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if all(e.encode() in text for e in expected):
            return text.decode(errors="replace")
        ready, _, _ = select.select([fd], [], [], 0.1)
        if ready:
            try:
                text += os.read(fd, 4096)
            except OSError:
                break
    return None


os.write(fd, f"PS1='ready> '; source '{completion}'; echo sourced$((6*7))\n".encode())
if read_until(["sourced42", "ready> "]) is None:
    sys.exit("FAIL: bash did not start with the completion sourced")

cases = [
    # typed, then the text that must appear
    ("quillmere --mo\t", ["quillmere --mode "]),
    ("quillmere --mode=min-\t", ["--mode=min-cost "]),
    ("quillmere -p \t\t", ["balanced", "final", "ignore", "strict"]),
    ("quillmere --format j\t", ["--format json "]),
    ("quillmere -b ra\t", ["rates\\ one.txt "]),
    ("quillmere --batch ta\t", ["--batch tables/"]),
    ("quillmere --allow-f\t", ["--allow-first-decimation "]),
]
failures = 0
for typed, expected in cases:
    os.write(fd, typed.encode())
    if read_until(expected) is None:
        print(f"FAIL: {typed!r}: the terminal never showed {expected}")
        failures += 1
    os.write(fd, b"\x15")  # Ctrl+U: clear the line for the next case
os.write(fd, b"\x15exit\n")
os.waitpid(pid, 0)
shutil.rmtree(folder)
if failures:
    sys.exit(f"{failures} failure(s)")
print("ok")
