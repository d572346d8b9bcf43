"""The README's Python example runs as written: its code block, unchanged, in a fresh
interpreter (matplotlib drawing to a file)."""

import os
import pathlib
import re
import subprocess
import sys

import pytest

import quillmere

README = pathlib.Path(__file__).resolve().parents[2] / "README.md"


def readme_example():
    text = README.read_text(encoding="utf-8")
    section = text[text.index("\n## Python\n"):]
    section = section[:section.index("\n## ", 1)]
    blocks = re.findall(r"\n```python\n(.*?)\n```\n", section, flags=re.DOTALL)
    assert len(blocks) == 1, "the Python section has one example"
    return blocks[0]


def test_the_readme_example_runs_as_written(tmp_path):
    pytest.importorskip("matplotlib")
    script = tmp_path / "example.py"
    script.write_text(readme_example() + "\n")
    package_root = pathlib.Path(quillmere.__file__).resolve().parents[1]
    environment = {**os.environ, "MPLBACKEND": "Agg", "MPLCONFIGDIR": str(tmp_path),
                   "PYTHONPATH": str(package_root)}
    run = subprocess.run([sys.executable, str(script)], cwd=tmp_path, env=environment,
                         capture_output=True, text=True, timeout=600, check=False)
    assert run.returncode == 0, run.stderr
    lines = run.stdout.splitlines()
    assert "l=10, m=7" in lines[0] and "l=16, m=21" in lines[0]
    assert float(lines[1]) > 0
    assert re.fullmatch(r"\d+ samples at 48000 Hz", lines[2]), lines[2]
    assert (tmp_path / "response.png").stat().st_size > 10000
