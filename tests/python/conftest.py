"""The Python module's tests (pytest), run by ctest (label python) against the module in
the build folder, by tests/python/installed_test.sh against cmake --install, and by
scripts/check-packages.sh against the unpacked Debian package.

Environment:
  QUILLMERE_PROGRAM     the native program whose records the module must reproduce
                        (the tests that need it are skipped without it)
  QUILLMERE_MODULE_DIR  where quillmere must be imported from (checked when given)
"""

import os
import pathlib
import sys

import pytest

import quillmere


def pytest_report_header(config):
    return f"quillmere {quillmere.__version__} from {pathlib.Path(quillmere.__file__).parent}"


def pytest_sessionstart(session):
    expected = os.environ.get("QUILLMERE_MODULE_DIR")
    if expected:
        found = pathlib.Path(quillmere.__file__).resolve().parent
        wanted = pathlib.Path(expected).resolve()
        if found != wanted:
            sys.exit(f"quillmere was imported from {found}, not from {wanted}")


@pytest.fixture(scope="session")
def program():
    """The native program, for the records it writes."""
    path = os.environ.get("QUILLMERE_PROGRAM")
    if not path:
        pytest.skip("QUILLMERE_PROGRAM is not set")
    return path
