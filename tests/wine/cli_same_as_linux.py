#!/usr/bin/env python3
"""The command-line mode of the Windows build under Wine against the Linux build: the same
request gives the same standard output, standard error and exit status (line ends aside).

Usage: cli_same_as_linux.py --exe PROGRAM.exe --linux-exe PROGRAM --case NAME
Exit code 77 means skipped (no Linux build or no Wine to compare with).
"""

import argparse
import shutil
import subprocess
import sys

SKIPPED = 77
# Bound for a run that hangs; not a speed requirement.
RUN_LIMIT_S = 120.0

BATCH = "44100 48000\n# comment\n48000 44100 -s 2 -l 100\nfoo 1\n96k 48k -s 2 -t 96k\n"

CASES = {
    "text": (["-s", "2", "-l", "2000", "-t", "192k", "44100", "48000"], None),
    "text_single": (["48000", "44.1k"], None),
    "json": (["--format", "json", "-s", "2", "44100", "48000"], None),
    "csv": (["--format=csv", "-s", "2", "-a", "-t", "22050", "-p", "final", "44100", "48000"], None),
    "batch_json": (["-f", "json", "-b", "-"], BATCH),
    "usage_error": (["--stages", "3", "1", "2"], None),
}


def run(command, input_text):
    result = subprocess.run(command, input=(input_text or "").encode(), stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, timeout=RUN_LIMIT_S)
    return (result.returncode, result.stdout.replace(b"\r\n", b"\n"),
            result.stderr.replace(b"\r\n", b"\n"))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--linux-exe", default="")
    parser.add_argument("--case", required=True, choices=sorted(CASES))
    args = parser.parse_args()
    wine = shutil.which("wine")
    if not args.linux_exe or wine is None:
        print("skipped: no Linux build or no wine to compare with")
        return SKIPPED
    options, input_text = CASES[args.case]
    windows = run([wine, args.exe, *options], input_text)
    linux = run([args.linux_exe, *options], input_text)
    if windows != linux:
        print(f"Windows build: status {windows[0]}\n--- stdout\n{windows[1].decode(errors='replace')}"
              f"--- stderr\n{windows[2].decode(errors='replace')}")
        print(f"Linux build: status {linux[0]}\n--- stdout\n{linux[1].decode(errors='replace')}"
              f"--- stderr\n{linux[2].decode(errors='replace')}")
        return 1
    print(f"same output ({len(linux[1])} bytes), exit status {linux[0]}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
