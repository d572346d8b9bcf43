"""The typing that mypy and editors read: the py.typed marker, the stub of the native part
against the module itself (mypy's stubtest), and a docstring on everything public."""

import inspect
import os
import pathlib
import re
import subprocess
import sys

import pytest

import quillmere
from quillmere import _native

PACKAGE = pathlib.Path(quillmere.__file__).parent

# What stubtest reports of every pybind11 class and needs no stub of ours: their own
# metaclass, and the __init__ of a class Python code cannot construct (it raises TypeError).
PYBIND11_NOISE = [
    re.compile(r"^error: quillmere(\._native)?\.\w+ is inconsistent, metaclass differs$"),
    re.compile(r"^error: quillmere(\._native)?\.(CascadeResponse|FilterDesign|MeasuredResponse|"
               r"PlanRecord|QuantizedFilter|StageDesign)\.__init__ is inconsistent, stub does "
               r"not have \*args argument \"args\"$"),
]


def test_the_package_is_typed():
    assert (PACKAGE / "py.typed").is_file()
    assert (PACKAGE / "_native.pyi").is_file()


def test_the_stub_matches_the_module():
    pytest.importorskip("mypy.stubtest")
    run = subprocess.run([sys.executable, "-m", "mypy.stubtest", "--concise", "quillmere"],
                         capture_output=True, text=True, check=False,
                         env={**os.environ, "PYTHONPATH": str(PACKAGE.parent)},
                         cwd=PACKAGE.parent)
    errors = [line for line in run.stdout.splitlines() if line.startswith("error:")]
    errors = [line for line in errors if not any(noise.match(line) for noise in PYBIND11_NOISE)]
    assert not errors, "\n".join(errors)
    # The stub names every class and function of the native part, and nothing else.
    stub = (PACKAGE / "_native.pyi").read_text()
    stubbed = set(re.findall(r"^(?:class|def) (\w+)", stub, flags=re.MULTILINE))
    native = {name for name, value in vars(_native).items()
              if not name.startswith("_") and (inspect.isclass(value) or callable(value))}
    assert stubbed == native


def public_objects():
    for name in quillmere.__all__:
        value = getattr(quillmere, name)
        yield name, value
        if inspect.isclass(value):
            for member, attribute in vars(value).items():
                if member.startswith("_") or not (callable(attribute) or
                                                  isinstance(attribute, property) or
                                                  type(attribute).__name__ == "property"):
                    continue
                yield f"{name}.{member}", attribute


def test_everything_public_has_a_docstring():
    missing = [name for name, value in public_objects() if not (inspect.getdoc(value) or "")]
    assert not missing
    # help(quillmere.plan) reads like the README: every parameter is described.
    text = inspect.getdoc(quillmere.plan)
    for parameter in inspect.signature(quillmere.plan).parameters:
        assert re.search(rf"^{parameter}\b", text, flags=re.MULTILINE), parameter


USER_CODE = '''
import numpy as np
import quillmere

plan = quillmere.plan(44100, 48000, stages=2, filter=quillmere.FilterSpec(attenuation_db=90))
design = quillmere.design(plan, method=quillmere.DesignMethod.KAISER, quantize=16)
h: np.ndarray = design.stages[0].coefficients
rate: float = design.stages[0].output_rate_hz
status: quillmere.Status = plan.status
wrong: str = plan.stages[0].l
'''


def test_mypy_knows_the_types_in_a_users_code(tmp_path):
    """The package as mypy sees it (py.typed): a user's code checks, and a wrong type is
    found."""
    pytest.importorskip("mypy.api")
    (tmp_path / "use.py").write_text(USER_CODE)
    run = subprocess.run([sys.executable, "-m", "mypy", "--no-incremental", "--cache-dir",
                          str(tmp_path / "cache"), "--ignore-missing-imports", "use.py"],
                         capture_output=True, text=True, check=False, cwd=tmp_path,
                         env={**os.environ, "PYTHONPATH": str(PACKAGE.parent),
                              "MYPYPATH": str(PACKAGE.parent)})
    errors = [line for line in run.stdout.splitlines() if ": error:" in line]
    assert len(errors) == 1 and errors[0].startswith("use.py:10:"), run.stdout
    assert 'expression has type "int", variable has type "str"' in errors[0]
