#!/usr/bin/env python3
"""End-to-end tests of the command-line mode: the real program, standard output and
standard error captured apart, JSON read back with json, CSV with csv.

Usage: cli_e2e.py --exe PROGRAM [--sanitized] [unittest arguments, e.g. Formats]
"""

import csv
import io
import json
import os
import signal
import subprocess
import sys
import tempfile
import time
import unittest

PROGRAM = None
# A sanitized program cannot run under an address-space limit.
SANITIZED = False
HERE = os.path.dirname(os.path.abspath(__file__))
GOLDEN = os.path.join(HERE, "golden")
TRANSCRIPTS = os.path.join(HERE, "..", "e2e", "transcripts")
HINT = "Try 'quillmere --help' for more information.\n"
# Bounds for a run that hangs; none of them is a speed requirement.
RUN_LIMIT_S = 60.0


def run(*args, stdin=subprocess.DEVNULL, input_text=None, stdout=subprocess.PIPE):
    """Runs the program; returns (exit status, standard output, standard error)."""
    result = subprocess.run(
        [PROGRAM, *args],
        stdin=stdin if input_text is None else None,
        input=input_text.encode() if input_text is not None else None,
        stdout=stdout,
        stderr=subprocess.PIPE,
        timeout=RUN_LIMIT_S,
    )
    out = result.stdout.decode() if result.stdout is not None else None
    return result.returncode, out, result.stderr.decode()


def run_measured(*args):
    """Runs the program with its output in files; returns (exit status, standard output,
    standard error, peak resident memory in KiB) as bytes, the memory from wait4."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        process = subprocess.Popen([PROGRAM, *args], stdin=subprocess.DEVNULL, stdout=out,
                                   stderr=err)
        deadline = time.monotonic() + RUN_LIMIT_S
        while True:
            pid, wait_status, usage = os.wait4(process.pid, os.WNOHANG)
            if pid != 0:
                break
            if time.monotonic() > deadline:
                process.kill()
                raise AssertionError("the program did not end")
            time.sleep(0.01)
        process.returncode = os.waitstatus_to_exitcode(wait_status)
        out.seek(0)
        err.seek(0)
        return process.returncode, out.read(), err.read(), usage.ru_maxrss


def first_line(process):
    """Reads standard output up to its first line break straight from the pipe (a buffered
    readline would keep bytes that communicate() then never sees); returns all bytes read."""
    data = b""
    while b"\n" not in data:
        chunk = os.read(process.stdout.fileno(), 65536)
        if not chunk:
            break
        data += chunk
    return data


def json_lines(text):
    records = [json.loads(line) for line in text.splitlines()]
    return records


def csv_rows(text):
    return list(csv.DictReader(io.StringIO(text, newline="")))


def batch_file(text):
    handle = tempfile.NamedTemporaryFile("w", suffix=".txt", delete=False, newline="")
    handle.write(text)
    handle.close()
    return handle.name


class Usage(unittest.TestCase):
    def test_help_fits_a_terminal_and_documents_exit_statuses(self):
        status, out, err = run("--help")
        self.assertEqual((status, err), (0, ""))
        self.assertTrue(out.startswith("Usage: quillmere "))
        self.assertLessEqual(max(len(line) for line in out.splitlines()), 80)
        for needed in ("--batch FILE", "--format", "Exit status: 0", "2 for a usage error",
                       "Examples:", "-s, --stages", "--cost"):
            self.assertIn(needed, out)
        self.assertEqual(run("-h")[1], out)

    def test_version(self):
        for option in ("--version", "-V"):
            status, out, err = run(option)
            self.assertEqual((status, err), (0, ""))
            self.assertRegex(out, r"^quillmere \d+\.\d+\.\d+\n$")

    def test_usage_errors_name_the_argument_then_hint_at_help(self):
        cases = {
            ("--stages", "5", "44100", "48000"):
                "invalid value '5' for --stages: expected 1, 2, 3, 4 or auto",
            ("--stages", "3", "44100", "48000"):
                "option '--stages 3' needs --mode min-cost: only min-cost plans more than two "
                "stages",
            ("--frobnicate", "44100", "48000"): "unrecognized option '--frobnicate'",
            ("44100",): "missing OUTPUT_RATE",
            (): None,  # no arguments is the interactive program, not a usage error
            ("--format", "xml", "1", "2"): "invalid value 'xml' for --format: expected text, json or csv",
            ("44.1x", "48k"): "invalid INPUT_RATE '44.1x': expected a rate in Hz from 1 to 1e13, "
                              "suffixes k, M, G allowed",
            ("1", "1e14"): "invalid OUTPUT_RATE '1e14': expected a rate in Hz from 1 to 1e13, "
                           "suffixes k, M, G allowed",
            ("--target", "96k", "44100", "48000"):
                "option '--target' applies to two stages only: add --stages 2",
            ("-s", "2", "--limit", "65536", "44100", "48000"):
                "invalid value '65536' for --limit: expected an integer from 1 to 65535",
            ("-s", "1", "-m", "custom-limit", "44100", "48000"):
                "option '--mode' applies to two stages only: add --stages 2",
            ("-s", "2", "-a", "--no-first-decimation", "44100", "48000"):
                "options '--allow-first-decimation' and '--no-first-decimation' contradict "
                "each other",
            ("--tolerance", "1", "44100", "48000"):
                "invalid value '1' for --tolerance: expected a relative error from 0 to below 1 "
                "(1e-6) or parts per million (5ppm)",
            ("44100", "48000", "--limit"): "option '--limit' needs a value: an integer from 1 to 65535",
            ("-b", "-", "44100", "48000"):
                "unexpected argument '44100': with --batch the rates go on the lines of the file",
        }
        for args, message in cases.items():
            if message is None:
                continue
            with self.subTest(args=args):
                status, out, err = run(*args)
                self.assertEqual(status, 2)
                self.assertEqual(out, "")
                self.assertEqual(err, "quillmere: " + message + "\n" + HINT)

    def test_option_syntax(self):
        rate = "expected a rate in Hz from 1 to 1e13, suffixes k, M, G allowed"
        cases = {
            # An empty value after = is an empty value, not the next word.
            ("--target=", "-s", "2", "44100", "48000"): "invalid value '' for --target: " + rate,
            ("--format=", "44100", "48000"): "invalid value '' for --format: expected text, json or csv",
            ("--batch=",): "invalid value '' for --batch: expected a file name, or - for standard input",
            # Flags take no value.
            ("--cost=banana", "44100", "48000"): "option '--cost' takes no value, but was given 'banana'",
            ("--help=false", "44100", "48000"): "option '--help' takes no value, but was given 'false'",
            ("--version=", "44100", "48000"): "option '--version' takes no value, but was given ''",
            ("-c=1", "44100", "48000"): "option '-c' takes no value, but was given '1'",
            ("-ac=yes", "-s", "2", "44100", "48000"): "option '-c' takes no value, but was given 'yes'",
            # Three dashes name no option; after -- every word is a rate.
            ("---stages", "2", "44100", "48000"): "unrecognized option '---stages'",
            ("--", "-f", "json", "44100", "48000"): "invalid INPUT_RATE '-f': " + rate,
            ("--", "44100", "-5"): "invalid OUTPUT_RATE '-5': " + rate,
        }
        for args, message in cases.items():
            with self.subTest(args=args):
                status, out, err = run(*args)
                self.assertEqual((status, out), (2, ""))
                self.assertEqual(err, "quillmere: " + message + "\n" + HINT)
        # The forms that are meant still work.
        for args in (("--stages=2", "--format=json", "--", "44100", "48000"),
                     ("-s2", "-fjson", "-ac", "44100", "48000"),
                     ("--target=96k", "-s", "2", "--format", "json", "44100", "48000")):
            with self.subTest(args=args):
                status, out, err = run(*args)
                self.assertEqual((status, err), (0, ""))
                self.assertEqual(json_lines(out)[0]["request"]["stages"], 2)

    def test_values_with_blanks_and_long_numbers_read_alike(self):
        status, out, err = run("-f", "json", "-s", " 2 ", "-l", " 00000000000000000000000100 ",
                               "-m", " custom-limit", "-p", "final ", "-t", " 96k ",
                               " 44100", "48000 ")
        self.assertEqual((status, err), (0, ""))
        request = json_lines(out)[0]["request"]
        self.assertEqual((request["stages"], request["limit"], request["mode"],
                          request["priority"], request["target_hz"]),
                         (2, 100, "custom-limit", "final", 96000.0))
        status, out, err = run("-l", "0" * 5000 + "65536", "-s", "2", "1", "2")
        self.assertEqual(status, 2)
        self.assertIn("for --limit: expected an integer from 1 to 65535", err)

    def test_missing_batch_file_is_a_usage_error(self):
        status, out, err = run("--batch", "/nonexistent/requests.txt")
        self.assertEqual((status, out), (2, ""))
        self.assertEqual(err, "quillmere: cannot open batch file '/nonexistent/requests.txt': "
                              "No such file or directory\n")

    def test_without_arguments_the_interactive_program_still_wants_a_terminal(self):
        status, out, err = run()
        self.assertEqual((status, out), (1, ""))
        self.assertEqual(err, "Error: This program requires interactive input from a terminal.\n"
                              "       Input redirection or piping is not supported.\n")


class Formats(unittest.TestCase):
    def test_json_single_stage(self):
        status, out, err = run("--format", "json", "48k", "44.1k")
        self.assertEqual((status, err), (0, ""))
        [record] = json_lines(out)
        self.assertIsNone(record["line"])
        self.assertEqual(record["status"], "match")
        self.assertEqual(record["request"]["input_rate_hz"], 48000.0)
        self.assertEqual(record["request"]["stages"], 1)
        self.assertEqual([(s["l"], s["m"], s["complexity"]) for s in record["stages"]],
                         [(147, 160, 160)])
        self.assertEqual(record["output_rate_hz"], 147 / 160 * 48000.0)
        self.assertEqual(record["output_error"]["difference_hz"], 0.0)
        self.assertIsNone(record["cost"])

    def test_json_two_stages_read_back_to_the_computed_doubles(self):
        status, out, err = run("-f", "json", "-s", "2", "44100", "48000")
        self.assertEqual((status, err), (0, ""))
        [record] = json_lines(out)
        self.assertEqual(record["status"], "match")
        self.assertEqual(record["request"]["mode"], "minimal-sum")
        self.assertEqual(record["request"]["limit"], 65535)
        first, second = record["stages"]
        self.assertEqual((first["l"], first["m"], second["l"], second["m"]), (10, 7, 16, 21))
        self.assertEqual(record["overall_sum"], 54)
        self.assertEqual(record["overall_complexity"], 31)
        # The same operations in the same order give the same double, bit for bit.
        ratio = (10 / 7) * (16 / 21)
        self.assertEqual(record["ratio"], ratio)
        self.assertEqual(record["output_rate_hz"], 44100.0 * ratio)
        self.assertEqual(record["intermediate_rate_hz"], 63000.0)
        self.assertEqual(second["input_rate_hz"], 63000.0)
        self.assertEqual(record["output_error"]["difference_hz"], 44100.0 * ratio - 48000.0)
        self.assertEqual(record["search"]["convergents"], 5)
        self.assertIsNone(record["intermediate_error"])

    def test_csv_single_request_has_a_header_and_one_row(self):
        status, out, err = run("-f", "csv", "-s", "2", "-l", "2000", "-t", "192k", "-p",
                               "strict", "44100", "48000")
        self.assertEqual((status, err), (0, ""))
        self.assertTrue(out.startswith("line,status,error,"))
        [row] = csv_rows(out)
        self.assertEqual(row["line"], "")
        self.assertEqual(row["status"], "match")
        self.assertEqual((row["mode"], row["limit"], row["priority"]), ("custom-limit", "2000", "strict"))
        self.assertEqual(float(row["target_hz"]), 192000.0)
        self.assertEqual((row["l1"], row["m1"], row["l2"], row["m2"]), ("640", "147", "336", "1344"))
        # Written so that reading back gives the very double the program computed.
        self.assertEqual(float(row["intermediate_rate_hz"]), 44100.0 * (640 / 147))
        # The advice the dialog would have asked about.
        self.assertEqual(row["advice"].split(";"),
                         ["large_factors", "large_limit", "high_intermediate_target"])

    def test_advice_fields_for_what_the_dialog_asks_about(self):
        _, out, _ = run("-f", "json", "-s", "2", "-l", "1001", "-t", "200k", "44100", "48000")
        advice = json_lines(out)[0]["advice"]
        self.assertTrue(advice["large_limit"])
        self.assertTrue(advice["high_intermediate_target"])
        _, out, _ = run("-f", "json", "-s", "2", "-l", "1000", "-t", "48000", "44100", "48000")
        advice = json_lines(out)[0]["advice"]
        self.assertFalse(advice["large_limit"])
        self.assertFalse(advice["high_intermediate_target"], "a target equal to the larger rate")


def read(path):
    with open(path, encoding="utf-8", newline="") as handle:
        return handle.read()


class Text(unittest.TestCase):
    """The text format is the dialog's report for the same request: each golden file is
    checked against the dialog's own transcript, less its progress lines."""

    def check(self, golden, args, status, transcript=None, err_text=""):
        expected = read(os.path.join(GOLDEN, golden))
        actual_status, out, err = run(*args)
        self.assertEqual((actual_status, err), (status, err_text))
        self.assertEqual(out, expected)
        if transcript is not None:
            dialog = read(os.path.join(TRANSCRIPTS, transcript))
            dialog = "".join(line for line in dialog.splitlines(keepends=True)
                             if not line.startswith("Progress ("))
            self.assertIn(expected, dialog)

    def test_single_stage_as_the_dialog_reports_it(self):
        self.check("single_stage.stdout", ["48000", "44100"], 0,
                   "single_yes_then_two_stage_enter.stdout")

    def test_two_stages_as_the_dialog_reports_them(self):
        self.check("two_stage_minimal_sum.stdout", ["--stages", "2", "44.1k", "48k"], 0,
                   "single_yes_then_two_stage_enter.stdout")

    def test_nothing_found_as_the_dialog_reports_it(self):
        # The report lists what may be the reason; standard error says which it is.
        self.check("two_stage_not_found.stdout",
                   ["-s", "2", "-l", "10", "-t", "12345", "-p", "strict", "44100", "48000"], 1,
                   "not_found_then_no.stdout",
                   "quillmere: No two stages with L and M up to 10 and L1 >= M1 pass through "
                   "the intermediate target 12345 Hz, which the strict priority requires.\n")

    def test_the_dialogs_questions_become_advice_lines(self):
        self.check("two_stage_advice.stdout",
                   ["-s", "2", "-l", "2000", "-t", "192k", "-p", "final", "-a", "44100", "48000"], 0)

    def test_a_failed_calculation_reports_why_on_standard_error(self):
        status, out, err = run("1e13", "1")
        self.assertEqual(status, 1)
        self.assertTrue(out.endswith("\nCalculation failed. No results to display for single "
                                     "resampler.\n"))
        self.assertTrue(err.startswith("quillmere: ") and err.endswith("\n"))
        self.assertEqual(err.count("\n"), 1)


class ExitStatus(unittest.TestCase):
    def test_not_found_is_status_one_and_still_a_record(self):
        args = ("-s", "2", "-l", "10", "-t", "12345", "-p", "strict", "44100", "48000")
        status, out, err = run("-f", "json", *args)
        self.assertEqual((status, err), (1, ""))
        [record] = json_lines(out)
        self.assertEqual(record["status"], "not_found")
        self.assertEqual(record["stages"], [])
        status, out, _ = run("-f", "csv", *args)
        self.assertEqual(status, 1)
        self.assertEqual(csv_rows(out)[0]["status"], "not_found")


    def test_a_ratio_beyond_reach_is_not_found_with_the_reason(self):
        for args in (("65536", "1"), ("1e13", "48000"), ("-s", "2", "1e13", "1"),
                     ("-s", "2", "-a", "1e13", "1"),
                     ("-s", "2", "-l", "10", "-t", "12345", "-p", "strict", "44100", "48000")):
            with self.subTest(args=args):
                status, out, err = run("-f", "json", *args)
                self.assertEqual((status, err), (1, ""))
                [record] = json_lines(out)
                self.assertEqual(record["status"], "not_found")
                self.assertEqual(record["stages"], [])
                self.assertRegex(record["error"], r"^No .*\.$")
                status, out, _ = run("-f", "csv", *args)
                self.assertEqual(status, 1)
                [row] = csv_rows(out)
                self.assertEqual((row["status"], row["error"]), ("not_found", record["error"]))
        _, out, _ = run("-f", "json", "65536", "1")
        self.assertIn("below 1/65535", json_lines(out)[0]["error"])
        # Without first-stage decimation, the first stage cannot go below 1.
        _, out, _ = run("-f", "json", "-s", "2", "1e13", "1")
        self.assertIn("below 1/65535", json_lines(out)[0]["error"])
        _, out, _ = run("-f", "json", "-s", "2", "-a", "1e13", "1")
        self.assertIn("below 1/4294836225", json_lines(out)[0]["error"])
        _, out, _ = run("-f", "json", "-s", "2", "-l", "10", "-t", "12345", "-p", "strict",
                        "44100", "48000")
        self.assertIn("12345 Hz", json_lines(out)[0]["error"])

    def test_approximation_is_success(self):
        status, out, _ = run("-f", "json", "-s", "2", "-l", "1", "44100", "48000")
        self.assertEqual(status, 0)
        self.assertEqual(json_lines(out)[0]["status"], "approximation")


class Cost(unittest.TestCase):
    """--cost and --mode min-cost through the command line. They need the library's cost
    model (ctest label cost); the figures are checked for consistency, not for value."""

    def check_cost(self, record):
        cost = record["cost"]
        self.assertIsNone(cost["error"])
        for field in ("passband_hz", "stopband_hz", "attenuation_db", "ripple_db",
                      "total_macs_per_second"):
            self.assertIsInstance(cost[field], float, field)
        self.assertEqual(len(cost["stages"]), len(record["stages"]))
        total = 0.0
        for stage, factors in zip(cost["stages"], record["stages"]):
            for field in ("taps", "kaiser_beta", "taps_per_output_sample", "macs_per_second",
                          "transition_hz"):
                self.assertIn(field, stage)
            if not stage["filtered"]:
                # L = M = 1 passes the signal through: no filter, no cost.
                self.assertEqual((factors["l"], factors["m"]), (1, 1))
                self.assertEqual((stage["taps"], stage["macs_per_second"]), (0, 0.0))
                continue
            self.assertGreater(stage["taps"], 0)
            self.assertAlmostEqual(stage["taps_per_output_sample"], stage["taps"] / factors["l"])
            self.assertAlmostEqual(stage["macs_per_second"] / 1e6,
                                   stage["taps_per_output_sample"] * factors["output_rate_hz"] / 1e6)
            total += stage["macs_per_second"]
        self.assertAlmostEqual(cost["total_macs_per_second"] / 1e6, total / 1e6)
        self.assertEqual(cost["total_coefficients"], sum(s["taps"] for s in cost["stages"]))
        return cost

    def test_json_cost_of_one_and_two_stages(self):
        status, out, err = run("-f", "json", "--cost", "44100", "48000")
        self.assertEqual((status, err), (0, ""))
        cost = self.check_cost(json_lines(out)[0])
        self.assertEqual((cost["passband_hz"], cost["stopband_hz"]), (0.9 * 22050.0, 22050.0))
        self.assertEqual((cost["attenuation_db"], cost["ripple_db"]), (100.0, 0.1))
        self.assertIsNone(cost["single_stage"])

        status, out, err = run("-f", "json", "-s", "2", "-c", "--passband", "20k",
                               "--attenuation", "90", "--ripple", "0.05", "44100", "48000")
        self.assertEqual((status, err), (0, ""))
        cost = self.check_cost(json_lines(out)[0])
        self.assertEqual((cost["passband_hz"], cost["attenuation_db"], cost["ripple_db"]),
                         (20000.0, 90.0, 0.05))
        single = cost["single_stage"]
        self.assertEqual((single["l"], single["m"]), (160, 147), "10/7 x 16/21 in lowest terms")
        self.assertGreater(single["taps"], 0)

    def test_csv_and_text_show_the_cost(self):
        status, out, err = run("-f", "csv", "-s", "2", "--cost", "44100", "48000")
        self.assertEqual((status, err), (0, ""))
        [row] = csv_rows(out)
        self.assertEqual(int(row["total_coefficients"]), int(row["taps1"]) + int(row["taps2"]))
        self.assertEqual((row["single_stage_l"], row["single_stage_m"]), ("160", "147"))
        self.assertEqual(row["cost_error"], "")
        status, out, err = run("-s", "2", "--cost", "44100", "48000")
        self.assertEqual((status, err), (0, ""))
        cost_text = out.split("\nFilter Cost Estimate:\n")[1]
        self.assertIn("  First stage (10/7): ", cost_text)
        self.assertIn("  Second stage (16/21): ", cost_text)
        self.assertIn("  One stage of the same ratio (160/147): ", cost_text)
        self.assertLessEqual(max(len(line) for line in cost_text.splitlines()), 80)

    def test_refused_filter_requirements(self):
        for args, message in {
            ("--cost", "--stopband", "30k", "44100", "48000"): "invalid value for --stopband",
            ("--cost", "--passband", "23k", "44100", "48000"): "invalid value for --passband",
            ("--cost", "--ripple", "-1", "44100", "48000"): "invalid value '-1' for --ripple",
        }.items():
            with self.subTest(args=args):
                status, out, err = run(*args)
                self.assertEqual((status, out), (2, ""))
                self.assertTrue(err.startswith("quillmere: " + message), err)

    def test_refusals_name_the_argument_given(self):
        status, out, err = run("--cost", "--stopband", "10k", "44100", "48000")
        self.assertEqual((status, out), (2, ""))
        self.assertEqual(err, "quillmere: invalid value for --stopband: it must be above the "
                         "passband edge (19845 Hz, the default: 0.9 x half the lower rate); give a "
                         "lower --passband\n" + HINT)
        # Within the match tolerance of half the lower rate, the stopband is that edge.
        status, out, err = run("-f", "json", "--cost", "--stopband", "22050.0000001", "44100",
                               "48000")
        self.assertEqual((status, err), (0, ""))
        self.assertEqual(json_lines(out)[0]["cost"]["stopband_hz"], 22050.0000001)
        status, out, err = run("--cost", "--stopband", "22050.0001", "44100", "48000")
        self.assertEqual(status, 2)
        self.assertIn("it may not exceed half the lower of the two rates", err)

    def test_a_cost_that_cannot_be_priced_is_an_error_record(self):
        cases = (
            (("--ripple", "1e300"), "filter.ripple_db", "passband ripple 1e+300 dB", False),
            (("--ripple", "1e-300"), "filter.ripple_db", "passband ripple 1e-300 dB", False),
            (("--attenuation", "1e6"), "filter.attenuation_db", "attenuation 1e+06 dB", False),
            # The edges were resolved before a stage was refused: they are the ones used.
            (("-s", "2", "-a", "-l", "100", "-t", "8000", "-p", "final"), "stages",
             "The rates of stage 1 (44100 Hz to 8400 Hz) are too low", True),
        )
        for options, _, words, edges_known in cases:
            with self.subTest(options=options):
                status, out, err = run("-f", "json", "--cost", *options, "44100", "48000")
                self.assertEqual((status, err), (1, ""))
                [record] = json_lines(out)
                self.assertEqual(record["status"], "error")
                self.assertIn(words, record["error"])
                cost = record["cost"]
                self.assertEqual(cost["error"], record["error"])
                self.assertEqual(cost["stages"], [])
                levels = [cost[k] for k in ("passband_hz", "stopband_hz", "attenuation_db",
                                            "ripple_db")]
                if edges_known:
                    self.assertEqual(levels, [19845.0, 22050.0, 100.0, 0.1])
                else:
                    self.assertEqual(levels, [None] * 4)
                self.assertTrue(record["stages"], "the factors found are kept")

                status, out, _ = run("-f", "csv", "--cost", *options, "44100", "48000")
                self.assertEqual(status, 1)
                [row] = csv_rows(out)
                self.assertEqual((row["status"], row["error"], row["cost_error"]),
                                 ("error", record["error"], record["error"]))
                self.assertEqual([row[k] for k in ("passband_hz", "stopband_hz",
                                                   "attenuation_db", "ripple_db")],
                                 ["19845", "22050", "100", "0.1"] if edges_known else [""] * 4)

                status, out, err = run("--cost", *options, "44100", "48000")
                self.assertEqual(status, 1)
                self.assertIn("\nFilter Cost Estimate:\n  Not estimated: " + record["error"], out)
                self.assertEqual(err, "quillmere: " + record["error"] + "\n")

    def test_min_cost_mode(self):
        status, out, err = run("-f", "json", "-s", "2", "-m", "min-cost", "-l", "1000", "--cost",
                               "44100", "48000")
        self.assertEqual((status, err), (0, ""))
        [record] = json_lines(out)
        self.assertEqual(record["request"]["mode"], "min-cost")
        self.assertEqual(record["request"]["limit"], 1000)
        self.check_cost(record)
        _, out, _ = run("-f", "json", "-s", "2", "-l", "1000", "--cost", "44100", "48000")
        accurate = json_lines(out)[0]["cost"]["total_macs_per_second"]
        self.assertLessEqual(record["cost"]["total_macs_per_second"], accurate * 1.01)
        # In text, a pass-through stage says so.
        status, out, _ = run("-s", "2", "-m", "min-cost", "-l", "1000", "--cost", "44100", "48000")
        self.assertEqual(status, 0)
        self.assertIn("Minimum Cost Search Results: ", out)


GOOD_AND_BAD = (
    "# rates of a mixing desk\n"
    "44100 48000\n"
    "\n"
    "   \t\n"
    "  # indented comment\n"
    "48000 44100 --stages 2 --limit 100\n"
    "foo 48000\n"
    "44100 48000 --format json\n"
    "'44100' \"48k\" -s 2 -t 96k -p final\n"
    "1 2 3\n"
    "44100 48000 --stages 1 --target 5\n"
    "44100 48000 -s 2 -l 10 -t 12345 -p strict\n"
    "'unterminated 48000\n"
    "96k 48k -s 2"
)


# The example: 192 kHz to 44.1 kHz, 20 kHz passband, aliases allowed above it.
DOWN_TO_CD = ("--passband", "20k", "--stopband", "20k", "--attenuation", "80", "--ripple", "0.1",
              "192k", "44.1k")


class Plans(unittest.TestCase):
    """Best-accuracy, min-cost over one to four stages, the tolerance and first-stage
    decimation through the command line, in every format."""

    def test_three_stages_in_text(self):
        expected = read(os.path.join(GOLDEN, "plan_min_cost_three_stages.stdout"))
        status, out, err = run("-m", "min-cost", "-s", "3", "-l", "16", "-c", *DOWN_TO_CD)
        self.assertEqual((status, err), (0, ""))
        self.assertEqual(out, expected)

    def test_automatic_count_in_json_is_the_cheapest(self):
        records = {}
        for stages in ("1", "2", "3", "4", "auto"):
            status, out, err = run("-f", "json", "-m", "min-cost", "-s", stages, "-c",
                                   *DOWN_TO_CD)
            self.assertEqual((status, err), (0, ""), stages)
            [records[stages]] = json_lines(out)
        for stages in ("1", "2", "3", "4"):
            self.assertEqual(len(records[stages]["stages"]), int(stages))
        chosen = records["auto"]
        self.assertEqual(chosen["request"]["stages"], "auto")
        self.assertIs(chosen["request"]["allow_first_decimation"], True)
        self.assertEqual([(s["l"], s["m"]) for s in chosen["stages"]], [(21, 64), (7, 10)])
        self.assertEqual(chosen["stages"][0]["output_rate_hz"], 63000.0)
        self.assertEqual(chosen["stages"][1]["input_rate_hz"], 63000.0)
        cost = chosen["cost"]
        self.assertEqual(cost["total_coefficients"], 1440)
        self.assertEqual(cost["macs_per_input_sample"], cost["total_macs_per_second"] / 192000.0)
        self.assertEqual(cost["single_stage"]["l"], 147)
        self.assertEqual(cost["single_stage"]["m"], 640)
        cheapest = min(r["cost"]["total_macs_per_second"] for r in records.values())
        self.assertEqual(cost["total_macs_per_second"], cheapest)
        # Three and four stages: every stage's rates chain, the product is 147/640.
        for stages in ("3", "4"):
            plan = records[stages]["stages"]
            l = m = 1
            rate = 192000.0
            for stage in plan:
                self.assertEqual(stage["input_rate_hz"], rate)
                rate = stage["output_rate_hz"]
                l, m = l * stage["l"], m * stage["m"]
            self.assertEqual(l * 640, m * 147)
            self.assertEqual(rate, 44100.0)

    def test_csv_columns_of_four_stages(self):
        status, out, err = run("-f", "csv", "-m", "min-cost", "-s", "4", "-c", *DOWN_TO_CD)
        self.assertEqual((status, err), (0, ""))
        header = out.splitlines()[0].split(",")
        # New columns sit beside their siblings; the existing ones keep their order.
        def after(first, *names):
            at = header.index(first)
            self.assertEqual(header[at + 1:at + 1 + len(names)], list(names))
        after("complexity2", "l3", "m3", "complexity3", "l4", "m4", "complexity4", "ratio")
        after("transition_hz2", "taps3", "kaiser_beta3", "taps_per_output_sample3",
              "macs_per_second3", "transition_hz3", "taps4", "kaiser_beta4",
              "taps_per_output_sample4", "macs_per_second4", "transition_hz4",
              "total_macs_per_second", "total_coefficients", "macs_per_input_sample",
              "single_stage_l")
        after("priority", "tolerance", "l1")
        [row] = csv_rows(out)
        self.assertEqual([(row[f"l{n}"], row[f"m{n}"]) for n in "1234"],
                         [("7", "10"), ("7", "8"), ("1", "2"), ("3", "4")])
        self.assertEqual((row["stages"], row["mode"], row["allow_first_decimation"]),
                         ("4", "min-cost", "true"))
        self.assertEqual(row["total_coefficients"], "391")
        self.assertEqual(sum(int(row[f"taps{n}"]) for n in "1234"), 391)
        self.assertEqual(float(row["macs_per_input_sample"]),
                         float(row["total_macs_per_second"]) / 192000.0)

    def test_best_accuracy_is_more_accurate_than_custom_limit(self):
        args = ("-f", "json", "-s", "2", "-l", "101", "22050", "93869.67")
        status, out, err = run("-m", "best-accuracy", *args)
        self.assertEqual((status, err), (0, ""))
        [best] = json_lines(out)
        self.assertEqual((best["status"], best["request"]["mode"]), ("approximation", "best-accuracy"))
        self.assertEqual([(s["l"], s["m"]) for s in best["stages"]], [(78, 17), (90, 97)])
        self.assertLess(best["output_error"]["relative"], 5.6e-7)
        _, out, _ = run("-m", "custom-limit", *args)
        [custom] = json_lines(out)
        self.assertEqual([(s["l"], s["m"]) for s in custom["stages"]], [(17, 2), (1, 2)])

    def test_outside_the_tolerance_is_not_found(self):
        expected = read(os.path.join(GOLDEN, "plan_outside_tolerance.stdout"))
        status, out, err = run("--tolerance", "1e-6", "-s", "2", "44100", "48000.5")
        # The report says why, and so does standard error, as for every request that fails.
        reason = expected.rstrip("\n").split("\n")[-1]
        self.assertEqual((status, out, err), (1, expected, "quillmere: " + reason + "\n"))
        status, out, err = run("-f", "json", "--tolerance", "1ppm", "-s", "2", "44100", "48000.5")
        self.assertEqual((status, err), (1, ""))
        [record] = json_lines(out)
        self.assertEqual(record["status"], "not_found")
        self.assertEqual(record["request"]["tolerance"], 1e-6)
        self.assertEqual(record["stages"], [])
        self.assertEqual(record["error"],
                         "The cascade's relative error, 0.08125957021281029, is outside the "
                         "tolerance of 1e-06; best-accuracy mode searches every cascade within "
                         "the limit.")
        # Within it, best-accuracy finds a cascade.
        status, out, _ = run("-f", "json", "--tolerance", "1ppm", "-s", "2", "-m",
                             "best-accuracy", "44100", "48000.5")
        self.assertEqual(status, 0)
        self.assertLessEqual(json_lines(out)[0]["output_error"]["relative"], 1e-6)

    def test_no_first_decimation_turns_the_default_off(self):
        args = ("-f", "csv", "-s", "2", "-m", "min-cost", "--attenuation", "80", "192k", "44.1k")
        _, out, _ = run(*args)
        [on] = csv_rows(out)
        self.assertEqual((on["allow_first_decimation"], on["l1"], on["m1"]), ("true", "21", "64"))
        _, out, _ = run("--no-first-decimation", *args)
        [off] = csv_rows(out)
        self.assertEqual((off["allow_first_decimation"], off["l1"], off["m1"]),
                         ("false", "1", "1"))

    def test_batch_lines_of_different_counts(self):
        lines = ("192k 44.1k -s 1\n"
                 "192k 44.1k -s 3\n"
                 "48k 48k -s auto\n"
                 "44.1k 48000.5 -s 2 -m best-accuracy -l 60 --tolerance 1e-9\n")
        status, out, err = run("-f", "csv", "-m", "min-cost", "-b", batch_file(lines))
        self.assertEqual((status, err), (1, ""))
        rows = csv_rows(out)
        self.assertEqual([(r["line"], r["status"], r["stages"]) for r in rows],
                         [("1", "match", "1"), ("2", "match", "3"), ("3", "match", "auto"),
                          ("4", "not_found", "2")])
        # A one-stage line leaves the defaults' two-stage options out: the dialog's stage.
        self.assertEqual((rows[0]["mode"], rows[0]["l1"], rows[0]["m1"], rows[0]["l2"]),
                         ("", "147", "640", ""))
        self.assertEqual(rows[1]["l4"], "")
        self.assertNotEqual(rows[1]["l3"], "")
        self.assertEqual((rows[2]["l1"], rows[2]["achieved_output_rate_hz"]), ("", "48000"))
        self.assertTrue(rows[3]["error"].startswith("No cascade within the limit meets the "
                                                    "tolerance of 1e-09"), rows[3]["error"])


class Batch(unittest.TestCase):
    def check_good_and_bad(self, records):
        self.assertEqual([r["line"] for r in records], [2, 6, 7, 8, 9, 10, 11, 12, 13, 14])
        self.assertEqual([r["status"] for r in records],
                         ["match", "match", "error", "error", "match", "error", "error",
                          "not_found", "error", "match"])
        errors = {r["line"]: r["error"] for r in records if r["status"] == "error"}
        self.assertEqual(errors, {
            7: "invalid INPUT_RATE 'foo': expected a rate in Hz from 1 to 1e13, suffixes k, M, G allowed",
            8: "option '--format' is accepted on the command line only",
            10: "unexpected argument '3': a request takes two rates, INPUT_RATE and OUTPUT_RATE",
            11: "option '--target' applies to two stages only: add --stages 2",
            13: "unterminated ' quote",
        })
        self.assertEqual(records[4]["request"]["priority"], "final")
        self.assertEqual(records[4]["request"]["target_hz"], 96000.0)

    def test_good_and_bad_lines_together_in_json(self):
        status, out, err = run("-f", "json", "-b", batch_file(GOOD_AND_BAD))
        self.assertEqual((status, err), (1, ""))
        self.check_good_and_bad(json_lines(out))

    def test_good_and_bad_lines_from_standard_input_in_csv_with_crlf(self):
        status, out, err = run("--format=csv", "--batch=-",
                               input_text=GOOD_AND_BAD.replace("\n", "\r\n"))
        self.assertEqual((status, err), (1, ""))
        rows = csv_rows(out)
        for row in rows:
            row["line"] = int(row["line"])
            row["error"] = row["error"] or None
            row["request"] = {"priority": row["priority"],
                              "target_hz": float(row["target_hz"]) if row["target_hz"] else None}
        self.check_good_and_bad(rows)

    def test_text_records_are_headed_by_their_line(self):
        status, out, err = run("--batch", "-", input_text="44100 48000\n44100\n")
        self.assertEqual((status, err), (1, ""))
        self.assertTrue(out.startswith("=== Line 1: 44100 48000 ===\n"))
        self.assertTrue(out.endswith("\n=== Line 2: 44100 ===\nError: missing OUTPUT_RATE\n"))

    def test_text_error_records_say_why(self):
        status, out, err = run("--batch", "-", input_text="1e13 1\n1 2 -s 2 -l 5 -m minimal-sum\n")
        self.assertEqual((status, err), (1, ""))
        first, second = out.split("\n=== Line 2: ")
        self.assertTrue(first.startswith("=== Line 1: 1e13 1 ===\n\n--- Single Rational"))
        self.assertIn("\nCalculation failed. No results to display for single resampler.\n"
                      "Not found: No L/M with M up to 65535 approximates the ratio: ", first)
        self.assertEqual(second.split("\n")[1], "Error: option '--limit' does not apply to --mode "
                         "minimal-sum, which searches up to 65535: use --mode custom-limit or min-cost")

    def test_all_good_is_status_zero_and_options_are_line_defaults(self):
        text = "44100 48000\n48000 44100 -l 50\n8000 44100 -s 1\n"
        status, out, err = run("-f", "json", "-s", "2", "-l", "500", "-t", "96k", "-b", "-",
                               input_text=text)
        self.assertEqual((status, err), (0, ""))
        records = json_lines(out)
        self.assertEqual([r["request"]["limit"] for r in records], [500, 50, None])
        self.assertEqual([r["request"]["target_hz"] for r in records], [96000.0, 96000.0, None])
        self.assertEqual([r["request"]["stages"] for r in records], [2, 2, 1])

    def test_defaults_that_apply_to_no_line_are_refused_for_that_line(self):
        cases = (
            (("-l", "100"), "option '--limit' of the command line applies to two stages only: "
                            "add --stages 2 to the command line or to the line"),
            (("-s", "2", "-p", "final"), "option '--priority' of the command line needs "
                                         "--target: give --target on the command line or on "
                                         "the line"),
            (("--stopband", "20k"), "option '--stopband' of the command line needs --cost or "
                                    "--mode min-cost: give either on the command line or on "
                                    "the line"),
        )
        lines = ("44100 48000\n"
                 "44100 48000 -s 2 -t 96k -c\n"  # the line makes the default apply
                 "44100 48000 -s 1\n")  # a one-stage line leaves two-stage defaults out
        for defaults, message in cases:
            with self.subTest(defaults=defaults):
                status, out, err = run("-f", "json", *defaults, "-b", "-", input_text=lines)
                self.assertEqual((status, err), (1, ""))
                first, second, third = json_lines(out)
                self.assertEqual((first["status"], first["error"]), ("error", message))
                self.assertEqual(second["status"], "match")
                self.assertEqual(third["status"],
                                 "error" if defaults[0] == "--stopband" else "match")
        _, out, _ = run("-f", "json", "-l", "100", "-b", "-", input_text=lines)
        self.assertEqual(json_lines(out)[1]["request"]["limit"], 100)
        _, out, _ = run("-f", "json", "-s", "2", "-p", "final", "-b", "-", input_text=lines)
        self.assertEqual(json_lines(out)[1]["request"]["priority"], "final")
        self.assertEqual(json_lines(out)[2]["request"]["stages"], 1)

    def test_empty_batch_writes_only_the_csv_header(self):
        status, out, err = run("-f", "csv", "-b", "-", input_text="# nothing\n\n")
        self.assertEqual((status, err), (0, ""))
        self.assertEqual(out.count("\n"), 1)
        self.assertTrue(out.startswith("line,status,"))


class Faults(unittest.TestCase):
    def test_full_output_device(self):
        with open("/dev/full", "wb") as full:
            status, _, err = run("-f", "json", "44100", "48000", stdout=full)
        self.assertEqual(status, 1)
        self.assertEqual(err, "quillmere: cannot write to standard output: No space left on device\n")

    def test_closed_standard_output(self):
        result = subprocess.run([PROGRAM, "-f", "json", "44100", "48000"], stdin=subprocess.DEVNULL,
                                stderr=subprocess.PIPE, close_fds=True, timeout=RUN_LIMIT_S,
                                preexec_fn=lambda: os.close(1))
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stderr.decode(),
                         "quillmere: cannot write to standard output: Bad file descriptor\n")

    def test_closed_standard_input_and_output_do_not_take_the_batch_file(self):
        requests = batch_file("44100 48000\n")
        result = subprocess.run([PROGRAM, "-f", "json", "-b", requests], stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, timeout=RUN_LIMIT_S,
                                preexec_fn=lambda: os.close(0))
        self.assertEqual((result.returncode, result.stderr), (0, b""))
        self.assertEqual(json_lines(result.stdout.decode())[0]["status"], "match")

    def test_short_of_memory_ends_with_the_programs_message(self):
        """Under address-space limits from where the loader gives up to where a batch runs,
        every start ends with the program's own message or its answer, never in a crash."""
        if SANITIZED:
            self.skipTest("a sanitized program cannot run under an address-space limit")
        import resource
        requests = batch_file("44100 48000 -s 2\n" * 3)
        step = 16 * 1024
        answered = False
        outcomes = set()
        for limit in range(2 * 1024 * 1024, 64 * 1024 * 1024, step):
            def limit_memory(limit=limit):
                resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
            result = subprocess.run([PROGRAM, "-f", "json", "-b", requests],
                                    stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                    stderr=subprocess.PIPE, preexec_fn=limit_memory,
                                    timeout=RUN_LIMIT_S)
            err = result.stderr.decode(errors="replace")
            if result.returncode == 127 and not result.stdout:
                outcomes.add("loader")  # the program never ran
            elif result.returncode == 1 and err == "Error: Out of memory. Exiting.\n":
                outcomes.add("out of memory")
            elif result.returncode == 0 and len(json_lines(result.stdout.decode())) == 3:
                answered = True
                break
            else:
                self.fail(f"limit {limit // 1024} KiB: exit status {result.returncode}, "
                          f"standard error {err!r}")
        self.assertTrue(answered)
        self.assertIn("out of memory", outcomes)

    def test_closed_pipe(self):
        read_end, write_end = os.pipe()
        os.close(read_end)
        try:
            status, _, err = run("-f", "json", "-b", "-", input_text="44100 48000\n" * 50,
                                 stdout=write_end)
        finally:
            os.close(write_end)
        self.assertEqual(status, 1)
        self.assertEqual(err, "quillmere: cannot write to standard output: Broken pipe\n")

    def test_head_takes_one_line(self):
        requests = batch_file("44100 48000 -s 2\n" * 2000)
        producer = subprocess.Popen([PROGRAM, "-f", "json", "-b", requests],
                                    stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                    stderr=subprocess.PIPE)
        first = first_line(producer).split(b"\n")[0]
        producer.stdout.close()
        err = producer.stderr.read()
        producer.wait(timeout=RUN_LIMIT_S)
        self.assertEqual(json.loads(first)["status"], "match")
        # The pipe may close after everything was written: then nothing failed.
        if producer.returncode != 0:
            self.assertEqual(producer.returncode, 1)
            self.assertEqual(err.decode(), "quillmere: cannot write to standard output: Broken pipe\n")

    def stop_while_waiting_for_input(self, signal_number, expected_status):
        process = subprocess.Popen([PROGRAM, "-f", "json", "-b", "-"], stdin=subprocess.PIPE,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        process.stdin.write(b"44100 48000\n48000 44100 -s 2\n")
        process.stdin.flush()
        # Both answers arrive; then the program waits for a line that never comes.
        answered = b""
        while answered.count(b"\n") < 2:
            answered += first_line(process)
        process.send_signal(signal_number)
        out, err = process.communicate(timeout=RUN_LIMIT_S)
        process.stdin.close()
        self.assertEqual(process.returncode, expected_status)
        self.assertEqual([json.loads(line)["line"] for line in answered.splitlines()], [1, 2])
        self.assertEqual((out, err), (b"", b""))

    def test_ctrl_c_while_waiting_for_a_batch_line(self):
        self.stop_while_waiting_for_input(signal.SIGINT, 130)

    def test_sigterm_while_waiting_for_a_batch_line(self):
        self.stop_while_waiting_for_input(signal.SIGTERM, 143)

    def test_stop_in_a_busy_batch_leaves_only_whole_records(self):
        lines = "".join(f"{rate} 48000 -s 2 -l 65535\n" for rate in range(20000, 60000))
        process = subprocess.Popen([PROGRAM, "-f", "json", "-b", batch_file(lines)],
                                   stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE)
        started = first_line(process)
        process.send_signal(signal.SIGINT)
        out, err = process.communicate(timeout=RUN_LIMIT_S)
        self.assertEqual(process.returncode, 130)
        self.assertEqual(err, b"")
        text = (started + out).decode()
        self.assertTrue(text.endswith("\n"))
        for line in text.splitlines():
            json.loads(line)
        self.assertLess(len(text.splitlines()), 40000 - 1, "stopped before the end")

    def test_no_progress_when_standard_error_is_no_terminal(self):
        status, out, err = run("-s", "2", "-l", "65535", "-f", "json", "1", "10000000000000")
        self.assertIn(status, (0, 1))
        self.assertEqual(err, "")

    def test_closed_standard_input_is_no_empty_batch(self):
        result = subprocess.run([PROGRAM, "-f", "csv", "-b", "-"], stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, timeout=RUN_LIMIT_S,
                                preexec_fn=lambda: os.close(0))
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stdout, b"", "not even the header of a batch that cannot be read")
        self.assertEqual(result.stderr.decode(),
                         "quillmere: cannot read batch file '-': standard input is closed\n")

    def test_a_line_longer_than_the_limit_is_an_error_record_in_bounded_memory(self):
        """50 MB of NULs on one line: an error record for that line, the batch goes on, and
        neither memory nor output grows with the line."""
        limit = 1024 * 1024
        with tempfile.NamedTemporaryFile("wb", suffix=".txt", delete=False) as handle:
            handle.write(b"44100 48000\n")
            # In pieces: the kernel counts this process's peak memory into a child it
            # starts (the child's exec inherits it), so it stays small here.
            for _ in range(50):
                handle.write(b"\0" * (1024 * 1024))
            handle.write(b"\n")
            handle.write(b"48000 44100\n")
            handle.write(b"7" * (limit + 1) + b"\r\n")  # one byte over, CR aside
            handle.write(b"44100 " + b" " * (limit - 11) + b"48000\r\n")  # exactly the limit
            name = handle.name
        try:
            status, out, err, peak_kib = run_measured("-f", "json", "-b", name)
        finally:
            os.unlink(name)
        self.assertEqual((status, err), (1, b""))
        self.assertLess(len(out), 64 * 1024, "the long lines are not echoed")
        records = json_lines(out.decode())
        self.assertEqual([r["line"] for r in records], [1, 2, 3, 4, 5])
        self.assertEqual([r["status"] for r in records],
                         ["match", "error", "match", "error", "match"])
        for record in (records[1], records[3]):
            self.assertIsNone(record["request"])
            self.assertEqual(record["error"], "the line is longer than 1048576 bytes")
        if not SANITIZED:  # a sanitized program's memory is mostly its sanitizer's
            self.assertLess(peak_kib, 40 * 1024, "peak resident memory %d KiB" % peak_kib)

    def test_a_long_line_in_text_is_headed_without_its_words(self):
        status, out, err = run("-b", "-", input_text="x" * (2 * 1024 * 1024) + "\n")
        self.assertEqual((status, err), (1, ""))
        self.assertEqual(out, "=== Line 1: (longer than 1048576 bytes) ===\n"
                              "Error: the line is longer than 1048576 bytes\n")

    def wait_for(self, condition, what, limit_s=RUN_LIMIT_S):
        deadline = time.monotonic() + limit_s
        while not condition():
            if time.monotonic() > deadline:
                self.fail("timed out waiting for " + what)
            time.sleep(0.01)

    def handlers_installed(self, process):
        """True once the program catches SIGINT and SIGTERM (its stop handlers are in)."""
        with open("/proc/%d/status" % process.pid) as status:
            caught = next(int(line.split()[1], 16) for line in status
                          if line.startswith("SigCgt:"))
        wanted = (1 << (signal.SIGINT - 1)) | (1 << (signal.SIGTERM - 1))
        return caught & wanted == wanted

    def ended_within(self, process, limit_s):
        """Waits up to limit_s for the process; kills it when it has not ended."""
        try:
            out, err = process.communicate(timeout=limit_s)
            return out, err
        except subprocess.TimeoutExpired:
            process.kill()
            process.communicate()
            self.fail("the program did not end within %g s of the stop" % limit_s)

    def start_on_batch_fifo(self, folder):
        """The program on a batch FIFO that has no writer yet, once its handlers are in."""
        fifo = os.path.join(folder, "requests")
        os.mkfifo(fifo)
        process = subprocess.Popen([PROGRAM, "-f", "json", "-b", fifo],
                                   stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE)
        self.wait_for(lambda: self.handlers_installed(process), "the stop handlers")
        return fifo, process

    def test_a_stop_ends_a_wait_for_a_batch_fifo_without_writer(self):
        for signal_number, expected_status in ((signal.SIGINT, 130), (signal.SIGTERM, 143)):
            with self.subTest(signal=signal_number), tempfile.TemporaryDirectory() as folder:
                _, process = self.start_on_batch_fifo(folder)
                process.send_signal(signal_number)
                out, err = self.ended_within(process, 10.0)
                self.assertEqual((process.returncode, out, err), (expected_status, b"", b""))

    def test_a_batch_fifo_is_read_once_a_writer_comes(self):
        with tempfile.TemporaryDirectory() as folder:
            fifo, process = self.start_on_batch_fifo(folder)
            with open(fifo, "w") as writer:
                writer.write("44100 48000\n")
            out, err = process.communicate(timeout=RUN_LIMIT_S)
        self.assertEqual((process.returncode, err), (0, b""))
        self.assertEqual(json_lines(out.decode())[0]["status"], "match")

    def test_a_stop_ends_a_write_that_a_stalled_reader_blocks(self):
        """Standard output is a FIFO whose reader never reads: a stop still ends the run
        after a short grace, and says that the last record is cut."""
        import fcntl
        import termios
        requests = batch_file("44100 48000 -s 2\n" * 5000)
        for signal_number, expected_status in ((signal.SIGINT, 130), (signal.SIGTERM, 143)):
            with self.subTest(signal=signal_number), tempfile.TemporaryDirectory() as folder:
                fifo = os.path.join(folder, "records")
                os.mkfifo(fifo)
                reader = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)
                writer = os.open(fifo, os.O_WRONLY)
                try:
                    capacity = fcntl.fcntl(writer, 1032)  # F_GETPIPE_SZ
                    process = subprocess.Popen([PROGRAM, "-f", "json", "-b", requests],
                                               stdin=subprocess.DEVNULL, stdout=writer,
                                               stderr=subprocess.PIPE)
                    os.close(writer)
                    writer = -1

                    seen = [-1, time.monotonic()]

                    def pipe_full():
                        """The pipe holds half its capacity or more, unchanged for 1 s: the
                        program waits for room (the kernel may leave a pipe's pages partly
                        filled)."""
                        buffer = bytearray(4)
                        fcntl.ioctl(reader, termios.FIONREAD, buffer)
                        pending = int.from_bytes(buffer, sys.byteorder)
                        if pending != seen[0]:
                            seen[:] = [pending, time.monotonic()]
                        return pending >= capacity // 2 and time.monotonic() - seen[1] >= 1.0
                    self.wait_for(pipe_full, "a full pipe")
                    started = time.monotonic()
                    process.send_signal(signal_number)
                    _, err = self.ended_within(process, 10.0)
                    waited = time.monotonic() - started
                    data = b""
                    while True:
                        try:
                            chunk = os.read(reader, 1 << 16)
                        except BlockingIOError:
                            break
                        if not chunk:
                            break
                        data += chunk
                finally:
                    os.close(reader)
                    if writer >= 0:
                        os.close(writer)
                self.assertEqual(process.returncode, expected_status)
                self.assertGreaterEqual(waited, 0.5, "the record had its grace")
                lines = data.split(b"\n")
                for line in lines[:-1]:
                    json.loads(line)
                self.assertEqual(err.decode(), "quillmere: stopped while standard output was "
                                 "blocked; the last record " +
                                 ("is incomplete" if lines[-1] else "was not written") + "\n")


class Design(unittest.TestCase):
    """--design through the command line: its report in the three formats, and the
    coefficient files read back (C: compiled and printed) and measured here with numpy's
    FFT and scipy's freqz, independently of the program's own measurement. Needs numpy
    and scipy (Debian's python3-scipy)."""

    # (arguments, what the plan exercises)
    PLANS = [
        (["-s", "2", "44100", "48000"], "two stages, interpolation first"),
        (["48000", "24000"], "one stage decimating by 2"),
        (["-s", "2", "-a", "192000", "48000"], "M1 > L1, the first stage a halfband"),
        (["-s", "2", "--method", "kaiser", "8000", "48000"], "Kaiser"),
        (["-s", "2", "--method", "equiripple", "--attenuation", "60", "8000", "44100"],
         "equiripple at 60 dB"),
    ]

    def setUp(self):
        import numpy  # noqa: F401  (the measurement below needs it)
        self.folder = tempfile.TemporaryDirectory()
        self.addCleanup(self.folder.cleanup)

    def path(self, name):
        return os.path.join(self.folder.name, name)

    @staticmethod
    def measure(h, l, rate, passband_hz, stopband_hz):
        """(ripple dB, attenuation dB) of h at `rate` with gain l: on an FFT grid of at
        least 16 points per 1/taps, and at the band edges themselves."""
        import numpy as np
        from scipy.signal import freqz
        h = np.asarray(h, dtype=float)
        n = 1 << max(14, int(np.ceil(np.log2(16 * len(h)))))
        response = np.abs(np.fft.rfft(h, n)) / l
        f = np.arange(len(response)) * rate / n
        _, edges = freqz(h, worN=[passband_hz, stopband_hz], fs=rate)
        edges = np.abs(edges) / l
        passband = np.concatenate([response[f <= passband_hz], edges[:1]])
        stopband = np.concatenate([response[f >= stopband_hz], edges[1:]])
        ripple = 20 * np.log10(passband.max() / passband.min())
        attenuation = -20 * np.log10(stopband.max())
        return ripple, attenuation

    def design(self, args, *extra):
        status, out, err = run("-f", "json", "--design", *args, *extra)
        [record] = json_lines(out)
        return status, record, err

    def test_records_in_json_csv_and_text_agree(self):
        args = ["-s", "2", "44100", "48000"]
        status, record, err = self.design(args)
        self.assertEqual((status, err, record["status"], record["error"]), (0, "", "match", None))
        design = record["design"]
        self.assertEqual(list(design), ["method", "stages", "cascade", "quantize_bits",
                                        "meets_spec", "coefficients_file", "error"])
        self.assertEqual(list(design["stages"][0])[:9],
                         ["method", "taps", "nonzero_taps", "halfband", "measured_ripple_db",
                          "measured_attenuation_db", "group_delay_samples",
                          "group_delay_seconds", "meets_spec"])
        self.assertEqual(list(design["cascade"])[:4],
                         ["measured_ripple_db", "measured_attenuation_db",
                          "group_delay_seconds", "meets_spec"])
        self.assertEqual(design["method"], "auto")
        self.assertTrue(design["meets_spec"])
        # The cost counts the filters delivered.
        for cost, stage in zip(record["cost"]["stages"], design["stages"]):
            self.assertEqual(cost["taps"], stage["taps"])
        self.assertEqual(record["cost"]["total_coefficients"],
                         sum(s["nonzero_taps"] for s in design["stages"]))
        # The CSV row: the columns of a request without --design come first, unchanged.
        status, out, _ = run("-f", "csv", "--design", *args)
        self.assertEqual(status, 0)
        _, plain, _ = run("-f", "csv", "--cost", *args)
        header = out.splitlines()[0].split(",")
        self.assertEqual(header.index("design_method"), header.index("cost_error") + 1)
        self.assertEqual(plain.splitlines()[0], out.splitlines()[0])
        [row] = csv_rows(out)
        for i, stage in enumerate(design["stages"], 1):
            self.assertEqual(row[f"design_method{i}"], stage["method"])
            self.assertEqual(int(row[f"design_taps{i}"]), stage["taps"])
            self.assertEqual(float(row[f"design_measured_attenuation_db{i}"]),
                             stage["measured_attenuation_db"])
        self.assertEqual(row["design_meets_spec"], "true")
        # The text report: the search's report as without --design, then the design's
        # figures as the JSON record gives them.
        status, text, _ = run("--design", *args)
        self.assertEqual(status, 0)
        _, searched, _ = run(*args)
        self.assertTrue(text.startswith(searched))
        self.assertIn("\nFilter Cost of the Designed Filters:\n", text)
        design_text = text[text.index("\nFilter Design (method auto):\n"):]
        for name, stage in zip(("First stage", "Second stage"), design["stages"]):
            self.assertIn(f"  {name} (", design_text)
            self.assertIn(f"{stage['method']}, {stage['taps']} taps\n", design_text)
            self.assertIn("attenuation %.2f dB" % stage["measured_attenuation_db"], design_text)
            self.assertIn("group delay %.1f samples" % stage["group_delay_samples"], design_text)
        cascade = design["cascade"]
        self.assertIn("  Cascade: ripple %.4f dB (<= 0.1), attenuation %.2f dB (>= 100.00): "
                      "meets\n" % (cascade["measured_ripple_db"],
                                   cascade["measured_attenuation_db"]), design_text)

    def compile_and_print(self, header, arrays):
        """Compiles a C program that includes the header and prints its arrays, one value
        a line; returns {array name: [values]}."""
        source = self.path("print.c")
        lines = ['#include <stdio.h>', f'#include "{header}"', "int main(void) {"]
        for name in arrays:
            lines.append(f'  printf("= {name}\\n");')
            lines.append(f"  for (unsigned i = 0; i < sizeof {name} / sizeof {name}[0]; ++i)")
            lines.append(f'    printf("%.17g\\n", (double){name}[i]);')
        lines += ["  return 0;", "}"]
        with open(source, "w", encoding="utf-8") as handle:
            handle.write("\n".join(lines) + "\n")
        program = self.path("print")
        for compiler in (["cc", "-x", "c", "-std=c99"], ["c++", "-x", "c++"]):
            subprocess.run([*compiler, "-Wall", "-Wextra", "-Werror", "-o", program, source],
                           check=True, timeout=RUN_LIMIT_S)
        printed = subprocess.run([program], check=True, capture_output=True, text=True,
                                 timeout=RUN_LIMIT_S).stdout
        values = {}
        for line in printed.splitlines():
            if line.startswith("= "):
                current = values.setdefault(line[2:], [])
            else:
                current.append(float(line))
        return values

    def check_stage_measures(self, stage, h, reported, context):
        ripple, attenuation = self.measure(h, stage["l"], stage["l"] * stage["input_rate_hz"],
                                           stage["passband_hz"], stage["stopband_hz"])
        self.assertGreaterEqual(attenuation, stage["target_attenuation_db"] - 0.05, context)
        self.assertLessEqual(ripple, stage["target_ripple_db"] + 0.002, context)
        self.assertAlmostEqual(attenuation, reported["attenuation_db"], delta=0.2, msg=context)
        self.assertAlmostEqual(ripple, reported["ripple_db"], delta=0.02, msg=context)

    def test_coefficient_files_read_back_and_meet_the_requirements(self):
        halfbands = 0
        for args, what in self.PLANS:
            with self.subTest(what):
                files = {kind: self.path("fir." + kind) for kind in ("json", "csv", "h")}
                for kind, name in files.items():
                    status, record, err = self.design(args, "--coefficients", name)
                    self.assertEqual((status, err), (0, ""))
                    self.assertEqual(record["design"]["coefficients_file"], name)
                with open(files["json"], encoding="utf-8") as handle:
                    written = json.load(handle)
                self.assertEqual(written["input_rate_hz"], record["request"]["input_rate_hz"])
                self.assertEqual(written["filter"]["attenuation_db"],
                                 record["cost"]["attenuation_db"])
                stages = written["stages"]
                self.assertEqual(len(stages), len(record["stages"]))
                rows = csv_rows(read(files["csv"]))
                self.assertEqual(list(rows[0]), ["stage", "index", "phase", "coefficient"])
                printed = self.compile_and_print(files["h"], [
                    f"fir_stage{i}" for i, s in enumerate(stages, 1) if s["coefficients"]])
                for i, (stage, reported) in enumerate(zip(stages, record["design"]["stages"]),
                                                      1):
                    h = stage["coefficients"]
                    self.assertEqual((stage["method"], stage["taps"], len(h)),
                                     (reported["method"], reported["taps"], reported["taps"]))
                    if not h:
                        continue
                    # The same doubles in every format, bit for bit.
                    self.assertEqual(printed[f"fir_stage{i}"], h)
                    mine = [r for r in rows if r["stage"] == str(i)]
                    self.assertEqual([float(r["coefficient"]) for r in mine], h)
                    self.assertEqual([int(r["phase"]) for r in mine],
                                     [k % stage["l"] for k in range(len(h))])
                    # The prototype: DC gain L, symmetric, zeros of a halfband in place.
                    self.assertAlmostEqual(sum(h) / stage["l"], 1.0, delta=0.01)
                    self.assertEqual(h, h[::-1])
                    if stage["halfband"]:
                        halfbands += 1
                        centre = (len(h) - 1) // 2
                        self.assertTrue(all(h[k] == 0.0 for k in range(len(h))
                                            if k != centre and (k - centre) % 2 == 0))
                        self.assertEqual(sum(1 for v in h if v != 0.0), stage["nonzero_taps"])
                    self.check_stage_measures(stage, h, stage["measured"], f"{what}, stage {i}")
                # The stages' shares add up to the cascade's requirements.
                filtered = [s for s in stages if s["coefficients"]]
                self.assertLessEqual(sum(s["target_ripple_db"] for s in filtered),
                                     written["filter"]["ripple_db"] + 1e-9)
                for s in filtered:
                    self.assertGreaterEqual(s["target_attenuation_db"],
                                            written["filter"]["attenuation_db"])
        self.assertEqual(halfbands, 1)

    def test_rounded_coefficients_measure_as_reported(self):
        name = self.path("rounded.h")
        status, record, _ = self.design(["-s", "2", "44100", "48000"], "--attenuation", "70",
                                        "--quantize", "16", "--coefficients", name)
        self.assertEqual((status, record["design"]["meets_spec"]), (0, True))
        json_name = self.path("rounded.json")
        self.design(["-s", "2", "44100", "48000"], "--attenuation", "70", "--quantize", "16",
                    "--coefficients", json_name)
        with open(json_name, encoding="utf-8") as handle:
            stages = json.load(handle)["stages"]
        self.assertIn("int16_t rounded_stage1[", read(name))
        printed = self.compile_and_print(name, ["rounded_stage1", "rounded_stage2"])
        for i, (stage, reported) in enumerate(zip(stages, record["design"]["stages"]), 1):
            rounded = stage["quantized"]
            integers = printed[f"rounded_stage{i}"]
            self.assertEqual(integers, rounded["integers"])
            self.assertTrue(all(-32768 <= v <= 32767 for v in integers))
            self.assertEqual(reported["quantized"]["bits"], 16)
            h = [v * 2.0 ** -rounded["scale_exponent"] for v in integers]
            self.check_stage_measures(stage, h, rounded["measured"], f"rounded stage {i}")
            self.assertEqual(rounded["measured"]["attenuation_db"],
                             reported["quantized"]["measured_attenuation_db"])

    def test_a_design_that_misses_is_status_one_and_says_why(self):
        args = ["-s", "2", "--quantize", "16", "44100", "48000"]
        status, record, err = self.design(args)
        self.assertEqual((status, err, record["status"]), (1, "", "error"))
        self.assertFalse(record["design"]["meets_spec"])
        self.assertRegex(record["error"], r"^Rounded to 16 bits, stage \d measures .* dB of "
                         r"attenuation against .* dB; \d+ bits keep it\.$")
        self.assertEqual(record["design"]["error"], record["error"])
        status, out, err = run("--design", *args)
        self.assertEqual((status, err), (1, f"quillmere: {record['error']}\n"))
        self.assertIn(": MISSES\n", out)

    def test_batch_lines_write_their_own_files(self):
        pattern = self.path("line{line}.csv")
        lines = batch_file("44100 48000\n# a comment\n48000 32000 --method kaiser\n")
        self.addCleanup(os.unlink, lines)
        status, out, err = run("-f", "json", "--design", "--coefficients", pattern,
                               "--batch", lines)
        self.assertEqual((status, err), (0, ""))
        records = json_lines(out)
        self.assertEqual([r["design"]["coefficients_file"] for r in records],
                         [self.path("line1.csv"), self.path("line3.csv")])
        self.assertEqual([r["design"]["method"] for r in records], ["auto", "kaiser"])
        for r in records:
            self.assertTrue(read(r["design"]["coefficients_file"]).startswith(
                "stage,index,phase,coefficient\n"))
        # Without {line} every line would write over the one before.
        status, out, err = run("--design", "--coefficients", self.path("one.csv"),
                               "--batch", lines)
        self.assertEqual((status, out), (2, ""))
        self.assertIn("{line}", err)

    def test_usage_errors_and_unwritable_files(self):
        for args, says in [
            (["--design", "--method", "best"], "invalid value 'best' for --method"),
            (["--design", "--quantize", "7"], "invalid value '7' for --quantize"),
            (["--design", "--quantize", "33"], "invalid value '33' for --quantize"),
            (["--method", "kaiser"], "option '--method' needs --design"),
            (["--quantize", "16"], "option '--quantize' needs --design"),
            (["--design", "--coefficients", "fir.txt"], "cannot tell the format"),
            (["--design", "--coefficients-format", "c"],
             "option '--coefficients-format' needs --coefficients"),
            (["--design", "--coefficients", "x.h", "--coefficients-format", "h"],
             "invalid value 'h' for --coefficients-format"),
        ]:
            with self.subTest(args):
                status, out, err = run(*args, "44100", "48000")
                self.assertEqual((status, out), (2, ""))
                self.assertTrue(err.startswith("quillmere: " + says), err)
                self.assertTrue(err.endswith(HINT))
        # A name whose extension says nothing, with the format given.
        name = self.path("filters.inc")
        status, _, _ = run("--design", "--coefficients", name, "--coefficients-format",
                           "c-header", "48000", "24000")
        self.assertEqual(status, 0)
        self.assertIn("#ifndef FILTERS_H\n", read(name))
        # A file that cannot be written fails the request and says why.
        name = self.path("missing/fir.json")
        status, record, _ = self.design(["48000", "24000"], "--coefficients", name)
        self.assertEqual((status, record["status"]), (1, "error"))
        self.assertIsNone(record["design"]["coefficients_file"])
        self.assertTrue(record["error"].startswith(
            f"cannot write the coefficient file '{name}': "), record["error"])

    # The goal: 192 kHz -> 44.1 kHz keeping 20 kHz, aliases allowed above it, 80 dB,
    # 0.1 dB ripple, at no more than 25 multiplications per input sample and 2,000
    # coefficients (MATLAB's default converter: 27.67 and 8,631).
    GOAL = ["-m", "min-cost", "-s", "3", "--design", "--method", "equiripple",
            "--passband", "20k", "--stopband", "20k", "--attenuation", "80", "--ripple", "0.1",
            "192k", "44.1k"]

    @staticmethod
    def cascade_output(stages, tone, input_rate, common):
        """The cascade's output spectrum for a unit tone, run with scipy's upfirdn: whole
        periods of its steady state (every rate and the tone are multiples of `common`),
        amplitudes by line, and the line spacing."""
        import numpy as np
        from scipy.signal import upfirdn
        out_rate = stages[-1]["output_rate_hz"]
        period = int(round(out_rate / common))
        settle = sum(len(s["coefficients"]) for s in stages)
        length = int(input_rate / out_rate * 4 * period) + 4 * settle + 16
        n = np.arange(length)
        y = np.cos(2 * np.pi * ((tone * n) % input_rate) / input_rate + 0.3)
        for s in stages:
            y = upfirdn(np.asarray(s["coefficients"], dtype=float), y, s["l"], s["m"])
        middle = len(y) // 2
        y = y[middle - 2 * period:middle + 2 * period]
        return np.abs(np.fft.rfft(y)) * 2 / len(y), out_rate / len(y)

    def test_192k_to_44k1_goal_measured_from_the_written_coefficients(self):
        import numpy as np
        name = self.path("goal.json")
        status, record, err = self.design(self.GOAL, "--coefficients", name)
        self.assertEqual((status, err, record["status"]), (0, "", "match"))
        self.assertTrue(record["design"]["meets_spec"])
        with open(name, encoding="utf-8") as f:
            stages = json.load(f)["stages"]
        input_rate, passband, attenuation, ripple = 192000.0, 20000.0, 80.0, 0.1

        # The cost, counted here: the non-zero coefficients, each multiplied once per
        # output sample of its phase (nonzero / L per output sample).
        nonzero = [int(np.count_nonzero(s["coefficients"])) for s in stages]
        macs = sum(k / s["l"] * s["output_rate_hz"] for k, s in zip(nonzero, stages)) / input_rate
        self.assertLessEqual(macs, 25.0)
        self.assertLessEqual(sum(nonzero), 2000)
        self.assertAlmostEqual(macs, record["cost"]["macs_per_input_sample"], places=9)
        # The CSV row carries every stage's design, the third's too.
        status, out, _ = run("-f", "csv", *self.GOAL)
        [row] = csv_rows(out)
        for i, stage in enumerate(record["design"]["stages"], 1):
            self.assertEqual((row[f"design_method{i}"], int(row[f"design_taps{i}"])),
                             (stage["method"], stage["taps"]))
        self.assertEqual((len(record["design"]["stages"]), row["design_taps4"]), (3, ""))
        self.assertEqual(sum(nonzero), record["cost"]["total_coefficients"])

        # Each stage measured with edges of the test's own: the passband, and from the lower
        # of its rates minus the passband (what passes there lands above the passband or
        # where a later stage removes it) to half its upsampled rate.
        rate = input_rate
        ripples = 0.0
        for s in stages:
            self.assertAlmostEqual(s["input_rate_hz"], rate)
            out = rate * s["l"] / s["m"]
            self.assertAlmostEqual(s["output_rate_hz"], out)
            r, a = self.measure(s["coefficients"], s["l"], s["l"] * rate, passband,
                                min(rate, out) - passband)
            ripples += r
            self.assertGreaterEqual(a, attenuation, s)
            rate = out
        self.assertAlmostEqual(rate, 44100.0)
        # The cascade's ripple in dB is at most the sum of its stages'.
        self.assertLessEqual(ripples, ripple)

        # Tones through the cascade: nothing but the tone itself in the protected band,
        # 0 to 20 kHz, comes closer than the attenuation; a passband tone keeps its level
        # within the ripple. Every rate is a multiple of 300 Hz, and so is every tone.
        common = 300.0
        for tone in [1200, 9900, 19800, 20700, 24000, 30000, 44100, 63000, 66000, 85800, 95700]:
            spectrum, spacing = self.cascade_output(stages, tone, input_rate, common)
            lines = np.arange(len(spectrum)) * spacing
            protected = lines <= passband
            if tone <= passband:
                own = int(round(tone / spacing))
                gain_db = 20 * np.log10(spectrum[own])
                self.assertLess(abs(gain_db), ripple, tone)
                protected[own] = False
            worst = 20 * np.log10(spectrum[protected].max())
            self.assertLessEqual(worst, -attenuation, tone)


def main():
    global PROGRAM, SANITIZED
    args = sys.argv[1:]
    if len(args) < 2 or args[0] != "--exe":
        sys.exit(__doc__)
    PROGRAM = args[1]
    args = args[2:]
    if args and args[0] == "--sanitized":
        SANITIZED = True
        args = args[1:]
    unittest.main(argv=[sys.argv[0], *args], verbosity=2)


if __name__ == "__main__":
    main()
