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
