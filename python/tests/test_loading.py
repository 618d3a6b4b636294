# SPDX-License-Identifier: MIT
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


def public(module):
    """What the module defines (not what it imports) under public names."""
    members = [getattr(module, name) for name in dir(module) if not name.startswith("_")]
    return [m for m in members if getattr(m, "__module__", "").startswith("corvane") and callable(m)]


def test_every_public_name_has_a_docstring():
    import inspect

    import corvane
    from corvane import bridge, sim

    owners = [corvane.SMBus, corvane.Bridge, corvane.i2c_msg, corvane.CorvaneError, bridge.Functions,
              bridge.Settings, bridge.Management, sim.SimulatedHost, sim.VirtualDevice, sim.Eeprom,
              sim.SmbusDevice, sim.I2cTarget, sim.RegisterFile]
    undocumented = [
        f"{owner.__name__}.{name}"
        for owner in owners
        for name, member in vars(owner).items()
        if not name.startswith("_") and (inspect.isfunction(member) or isinstance(member, property))
        and not member.__doc__
    ]
    undocumented += [f.__name__ for f in public(corvane) + public(sim) if not f.__doc__]
    assert undocumented == []
