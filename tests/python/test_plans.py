"""plan(): the command line's records, refusals named for Python, statuses as values,
threads and Ctrl+C."""

import json
import os
import signal
import subprocess
import threading
import time
from concurrent.futures import ThreadPoolExecutor

import pytest

import quillmere
from quillmere import FilterSpec, Outcome, Priority, RequestError, SearchMode, Status

TABLE_RATES = [8000, 11025, 16000, 22050, 24000, 32000, 44100, 48000, 88200, 96000, 176400,
               192000, 352800, 384000, 705600, 768000, 2822400, 5644800]

# The 648-request table: every ordered pair of the rates, two stages, minimal-sum and
# custom-limit at 65535; as the command line's batch lines and as plan()'s arguments.
TABLE = [(line, rates, arguments)
         for line, (rates, arguments) in enumerate(
             (((i, o), arguments)
              for arguments in ({"mode": "minimal-sum"},
                                {"mode": "custom-limit", "limit": 65535})
              for i in TABLE_RATES for o in TABLE_RATES), start=1)]


def batch_line(rates, arguments):
    options = "".join(f" --{key} {value}" for key, value in arguments.items())
    return f"{rates[0]} {rates[1]}{options}"


def native_records(program, tmp_path, options, lines):
    """The program's JSON records of a batch, each line's text with its line number
    taken out (a single request's record says "line":null)."""
    batch = tmp_path / "batch.txt"
    batch.write_text("".join(line + "\n" for line in lines))
    run = subprocess.run([program, *options, "--format", "json", "--batch", str(batch)],
                         capture_output=True, text=True, check=False)
    assert run.returncode in (0, 1), run.stderr
    records = run.stdout.splitlines()
    assert len(records) == len(lines)
    texts = []
    for number, record in enumerate(records, start=1):
        prefix = f'{{"line":{number},'
        assert record.startswith(prefix), record[:40]
        texts.append('{"line":null,' + record[len(prefix):])
    return texts


@pytest.mark.parametrize("cost", [False, True], ids=["plain", "cost"])
def test_the_table_gives_the_command_lines_records(program, tmp_path, cost):
    options = ["--stages", "2"] + (["--cost"] if cost else [])
    expected = native_records(program, tmp_path, options,
                              [batch_line(rates, arguments) for _, rates, arguments in TABLE])
    assert len(expected) == 648
    for (line, rates, arguments), record in zip(TABLE, expected):
        result = quillmere.plan(*rates, stages=2, cost=cost or None, **arguments)
        assert result.to_json() == record, f"line {line}: {batch_line(rates, arguments)}"
        assert result.to_dict() == json.loads(record)


# Requests beyond the table: one stage, targets and priorities, filter requirements,
# min-cost, first decimation, rates as text, a search that finds nothing.
VARIED = [
    ("44.1k", "48k", {}, "44.1k 48k"),
    (48000, 44100, {}, "48000 44100"),
    (44100, 48000.123456, {}, "44100 48000.123456"),
    (1e13, 1, {}, "1e13 1"),
    (44100, 48000, {"stages": 2, "target": 96000, "priority": "strict"},
     "44100 48000 --stages 2 --target 96000 --priority strict"),
    (44100, 48000, {"stages": 2, "target": "62k", "priority": Priority.FINAL},
     "44100 48000 --stages 2 --target 62k --priority final"),
    (44100, 48000, {"stages": 2, "target": 62000}, "44100 48000 --stages 2 --target 62000"),
    (44100, 48000, {"stages": 2, "limit": 30, "allow_first_decimation": True},
     "44100 48000 --stages 2 --limit 30 --allow-first-decimation"),
    (44100, 48000, {"stages": 2, "mode": SearchMode.MIN_COST,
                    "filter": FilterSpec(attenuation_db=90, passband_hz=18000)},
     "44100 48000 --stages 2 --mode min-cost --attenuation 90 --passband 18000 --cost"),
    (48000, 8000, {"filter": FilterSpec(stopband_hz=3900, ripple_db=0.5)},
     "48000 8000 --stopband 3900 --ripple 0.5 --cost"),
    (48000, 8000, {"cost": True}, "48000 8000 --cost"),
    (44100, 47999.9, {"stages": 2, "limit": 3}, "44100 47999.9 --stages 2 --limit 3"),
    # The searches beyond the dialog's candidates: many stages, best accuracy, a tolerance,
    # first-stage decimation turned off.
    (192000, 44100, {"stages": "auto", "mode": "min-cost",
                     "filter": FilterSpec(passband_hz=20000, stopband_hz=20000,
                                          attenuation_db=80)},
     "192000 44100 --stages auto --mode min-cost --passband 20000 --stopband 20000 "
     "--attenuation 80 --cost"),
    (192000, 44100, {"stages": 3, "mode": SearchMode.MIN_COST},
     "192000 44100 --stages 3 --mode min-cost"),
    (22050, 93869.67, {"stages": 2, "mode": SearchMode.BEST_ACCURACY, "limit": 101},
     "22050 93869.67 --stages 2 --mode best-accuracy --limit 101"),
    (44100, 48000.5, {"stages": 2, "tolerance": 1e-6}, "44100 48000.5 --stages 2 --tolerance 1e-6"),
    (48000, 70981, {"mode": "min-cost", "tolerance": "5ppm"},
     "48000 70981 --mode min-cost --tolerance 5ppm"),
    (44100, 48000, {"stages": 2, "mode": "min-cost", "allow_first_decimation": False},
     "44100 48000 --stages 2 --mode min-cost --no-first-decimation"),
]


def test_varied_requests_give_the_command_lines_records(program, tmp_path):
    expected = native_records(program, tmp_path, [], [line for *_, line in VARIED])
    for (input_rate, output_rate, arguments, line), record in zip(VARIED, expected):
        result = quillmere.plan(input_rate, output_rate, **arguments)
        assert result.to_json() == record, line
        data = json.loads(record)
        found = data["status"] in ("match", "approximation")
        assert (result.status is Status.OK) == found, line
        assert result.outcome == (data["status"] if found else "not_found"), line


def test_text_and_csv_are_the_command_lines(program):
    arguments = ["--stages", "2", "--cost", "44100", "48000"]
    result = quillmere.plan(44100, 48000, stages=2, cost=True)
    for form, produced in (("text", result.to_text()), ("csv", result.to_csv())):
        run = subprocess.run([program, "--format", form, *arguments], capture_output=True,
                             text=True, check=True)
        assert produced == run.stdout, form


def test_a_plan_reads_its_record_as_python_values():
    result = quillmere.plan(44100, 48000, stages=2, filter=FilterSpec())
    assert result.status is Status.OK and result.outcome is Outcome.MATCH
    assert result.message == ""
    assert [(stage.l, stage.m) for stage in result.stages] == [(10, 7), (16, 21)]
    assert result.stages[0].output_rate_hz == result.intermediate_rate_hz == 63000
    assert result.request.mode is SearchMode.MINIMAL_SUM and result.request.limit == 65535
    assert result.request.priority is None and result.request.cost
    assert result.overall_sum == 54 and result.overall_complexity == 31
    assert abs(result.output_error.ppm) < 1e-6 and result.intermediate_error is None
    assert not result.advice.significant_error
    assert result.cost is not None and len(result.cost.stages) == 2
    assert result.cost.total_macs_per_second == pytest.approx(
        sum(stage.macs_per_second for stage in result.cost.stages))
    assert result.cost.single_stage.l == 160 and result.cost.single_stage.m == 147
    assert result.filter == FilterSpec()
    assert "10/7 -> 16/21" in repr(result)
    # Every enumeration is a str: the command line's word.
    assert result.status == "ok" and SearchMode.MIN_COST == "min-cost"
    assert str(Priority.STRICT) == "strict"


def test_a_status_other_than_ok_is_a_value():
    result = quillmere.plan(44100, 47999.9, stages=2, limit=65535, target=50000,
                            priority="strict")
    assert result.status is Status.NOT_FOUND and result.outcome is Outcome.NOT_FOUND
    assert result.stages == ()
    assert result.to_dict()["status"] == "not_found"
    with pytest.raises(RequestError) as refused:
        quillmere.design(result)
    assert refused.value.parameter == "plan_or_rate"


REFUSED = [
    # arguments, the parameter named, the library's field (None: refused before the library)
    ((0, 48000), {}, "input_rate", "input_rate_hz"),
    ((44100, float("nan")), {}, "output_rate", "output_rate_hz"),
    ((44100, 2e13), {}, "output_rate", "output_rate_hz"),
    (("44.1x", 48000), {}, "input_rate", None),
    ((44100, 48000), {"stages": 3}, "stages", None),
    ((44100, 48000), {"stages": 5, "mode": "min-cost"}, "stages", None),
    ((44100, 48000), {"stages": "many"}, "stages", None),
    ((44100, 48000), {"stages": 2, "tolerance": 2}, "tolerance", None),
    ((44100, 48000), {"stages": 2, "tolerance": "5 furlongs"}, "tolerance", None),
    ((44100, 48000), {"stages": 2, "limit": 0}, "limit", "max_factor"),
    ((44100, 48000), {"stages": 2, "limit": 65536}, "limit", "max_factor"),
    ((44100, 48000), {"stages": 2, "mode": "fastest"}, "mode", None),
    ((44100, 48000), {"stages": 2, "target": -5}, "target", "intermediate_target.rate_hz"),
    ((44100, 48000), {"stages": 2, "priority": "loud", "target": 60000}, "priority", None),
    ((44100, 48000), {"limit": 100}, "limit", None),
    ((44100, 48000), {"target": 60000}, "target", None),
    ((44100, 48000), {"stages": 2, "priority": "strict"}, "priority", None),
    ((44100, 48000), {"stages": 2, "mode": "minimal-sum", "limit": 100}, "limit", None),
    ((44100, 48000), {"filter": FilterSpec(passband_hz=22000, stopband_hz=21000)},
     "filter.passband_hz", None),
]


@pytest.mark.parametrize("args, kwargs, parameter, field", REFUSED,
                         ids=[f"{p}-{i}" for i, (_, _, p, _) in enumerate(REFUSED)])
def test_a_refused_request_raises_a_value_error_naming_the_parameter(args, kwargs, parameter,
                                                                    field):
    with pytest.raises(ValueError) as refused:
        quillmere.plan(*args, **kwargs)
    error = refused.value
    assert isinstance(error, RequestError)
    assert error.parameter == parameter and error.field == field
    assert parameter.split(".")[-1] in str(error)
    assert "--" not in str(error) and "option" not in str(error), str(error)


@pytest.mark.parametrize("kwargs, parameter", [
    ({"passband_hz": 0}, "passband_hz"), ({"stopband_hz": float("inf")}, "stopband_hz"),
    ({"attenuation_db": -1}, "attenuation_db"), ({"ripple_db": float("nan")}, "ripple_db")])
def test_a_refused_filter_spec_names_its_field(kwargs, parameter):
    with pytest.raises(RequestError, match=parameter) as refused:
        FilterSpec(**kwargs)
    assert refused.value.parameter == parameter


def test_design_refusals_name_the_parameter():
    with pytest.raises(RequestError) as refused:
        quillmere.design(44100, stages=[(10, 7)], method="best")
    assert refused.value.parameter == "method"
    with pytest.raises(RequestError) as refused:
        quillmere.design(44100, stages=[(10, 7)], quantize=4)
    assert refused.value.parameter == "quantize" and "quantize" in str(refused.value)
    with pytest.raises(RequestError) as refused:
        quillmere.design(44100, stages=[(0, 7)])
    assert refused.value.parameter == "stages"
    with pytest.raises(TypeError):
        quillmere.design(44100)


THREAD_REQUESTS = [
    ((44100, 48000), {"stages": 2, "limit": 65535}),
    ((1000003, 999983), {"stages": 2, "limit": 65535}),
    ((44100, 48000.123456), {"stages": 2, "mode": "min-cost", "limit": 65535}),
    ((48000, 8000), {"filter": FilterSpec(attenuation_db=80)}),
    ((96000, 44100), {"stages": 2, "target": 64000, "cost": True}),
    ((2822400, 48000), {"stages": 2, "mode": "min-cost"}),
]


def test_threads_get_what_serial_calls_get():
    serial = [quillmere.plan(*args, **kwargs).to_json() for args, kwargs in THREAD_REQUESTS]
    jobs = THREAD_REQUESTS * 4
    with ThreadPoolExecutor(max_workers=4) as pool:
        parallel = list(pool.map(lambda job: quillmere.plan(*job[0], **job[1]).to_json(), jobs))
    assert parallel == serial * 4
    design = quillmere.design(44100, stages=[(10, 7), (16, 21)])
    with ThreadPoolExecutor(max_workers=3) as pool:
        designs = list(pool.map(lambda _: quillmere.design(44100, stages=[(10, 7), (16, 21)]),
                                range(3)))
    for other in designs:
        for a, b in zip(design.stages, other.stages):
            assert (a.coefficients == b.coefficients).all()


# A design long enough to interrupt: a 44100 -> 48000 stage of about 20,000 Kaiser taps, then
# more of them; each stage is measured by FFT.
LONG_STAGES = [(160, 147), (147, 160)] * 6


def test_a_search_releases_the_gil():
    """A Python thread keeps running while the main thread is inside a long call."""
    ticks = []
    done = threading.Event()

    def count():
        while not done.is_set():
            ticks.append(time.perf_counter())
            time.sleep(0.001)

    counter = threading.Thread(target=count)
    counter.start()
    try:
        start = time.perf_counter()
        quillmere.design(44100, stages=LONG_STAGES[:4], method="kaiser")
        end = time.perf_counter()
    finally:
        done.set()
        counter.join()
    inside = [tick for tick in ticks if start < tick < end]
    assert len(inside) >= 3, f"{len(inside)} ticks in {end - start:.3f} s"


def interrupted_call_latency():
    """Seconds from a SIGINT, sent while a long design runs, to its KeyboardInterrupt."""
    start = time.perf_counter()
    quillmere.design(44100, stages=LONG_STAGES[:2], method="kaiser")
    two_stages = time.perf_counter() - start
    delay = min(0.2, two_stages / 2)
    sent = []

    def interrupt():
        time.sleep(delay)
        sent.append(time.perf_counter())
        os.kill(os.getpid(), signal.SIGINT)

    sender = threading.Thread(target=interrupt)
    sender.start()
    try:
        with pytest.raises(KeyboardInterrupt):
            quillmere.design(44100, stages=LONG_STAGES, method="kaiser")
        stopped = time.perf_counter()
    finally:
        sender.join()
    latency = stopped - sent[0]
    print(f"stopped {latency * 1000:.1f} ms after SIGINT (the call would run "
          f"{two_stages * len(LONG_STAGES) / 2:.2f} s)")
    return latency


def test_ctrl_c_stops_a_long_call_within_100_ms():
    # A process started in the background by a shell without job control inherits SIGINT
    # ignored, and Python then installs no handler for it: install the usual one.
    previous = signal.signal(signal.SIGINT, signal.default_int_handler)
    try:
        # The best of three, as a loaded machine may keep the waiting thread from running
        # for a while; a stop that did not work would take the whole call, seconds.
        latencies = []
        while len(latencies) < 3 and min(latencies, default=1.0) >= 0.1:
            latencies.append(interrupted_call_latency())
    finally:
        signal.signal(signal.SIGINT, previous)
    assert min(latencies) < 0.1, latencies
    # The module works on after it.
    assert quillmere.plan(44100, 48000).status is Status.OK


def test_a_rate_of_another_type_is_a_type_error_naming_it():
    with pytest.raises(TypeError, match="input_rate must be a number or text"):
        quillmere.plan([44100], 48000)
    with pytest.raises(TypeError, match="target must be a number"):
        quillmere.plan(44100, 48000, stages=2, target={})
    # Numbers of other kinds are taken as floats are.
    from fractions import Fraction
    import numpy as np
    expected = quillmere.plan(44100, 48000).to_json()
    assert quillmere.plan(np.float32(44100), Fraction(48000)).to_json() == expected
