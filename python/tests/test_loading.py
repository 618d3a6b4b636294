"""The shared library missing or of another version: an ImportError that says what to do."""

import ctypes
import os
import re
import subprocess
import sys

import pytest

from corvane import _native


def test_missing_library_says_what_to_do(tmp_path):
    environment = dict(os.environ, CORVANE_LIBRARY=str(tmp_path / "libcorvane.so"))
    result = subprocess.run([sys.executable, "-c", "import corvane"], env=environment,
                            capture_output=True, text=True)
    assert result.returncode != 0
    assert "ImportError: corvane: cannot load the shared library libcorvane" in result.stderr
    assert "set CORVANE_LIBRARY to its path" in result.stderr


def test_other_version_is_refused():
    expected = rf"is version {re.escape(_native.library_version)}, this package needs 9\.9\.x"
    with pytest.raises(ImportError, match=expected):
        _native.check_version(_native.lib, required=(9, 9))


def test_a_library_without_the_c_interface_is_refused():
    with pytest.raises(ImportError, match="has no C interface"):
        _native.check_version(ctypes.CDLL(None))
