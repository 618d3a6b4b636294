# SPDX-License-Identifier: MIT
"""The Corvane USB I2C/SMBus bridge from Python.

- ``Bridge``: the library's facets ``functions``, ``settings``, ``management``;
- ``SMBus``, ``i2c_msg`` and ``I2cFunc``: smbus2's interface over the bridge
  (``from corvane import SMBus`` in place of ``from smbus2 import SMBus``);
- ``corvane.sim``: the simulated host and virtual chip, for tests without hardware.

Failures raise ``CorvaneError``, an ``OSError`` whose errno is what a Linux
i2c-dev bus gives for the same failure (and so a ``FileNotFoundError``,
``TimeoutError``, ... where Python has a class for that errno).
"""

from ._errors import CorvaneError, check
from ._native import VERSION as __version__
from ._native import lib as _lib
from ._native import library_version
from .bridge import BOTH, CURRENT_SETTINGS_ONLY, PWRUP_DEFAULTS_ONLY, Bridge
from .smbus import I2cFunc, SMBus, i2c_msg

_PACINGS = ("fixed", "bus-time")


def set_pacing(pacing: str) -> None:
    """How every transfer of the process waits between reports: "fixed" (the
    default: the device's fixed pauses) or "bus-time" (only the wire time of
    the bytes; faster, and a chunk sent too early is refused by the device
    and sent again, never lost). ValueError for another name."""
    if pacing not in _PACINGS:
        raise ValueError(f"pacing is one of {', '.join(_PACINGS)}, not {pacing!r}")
    check(_lib.corvane_set_pacing(_PACINGS.index(pacing)), "set_pacing")


def get_pacing() -> str:
    """The pacing set by set_pacing(): "fixed" or "bus-time"."""
    return _PACINGS[_lib.corvane_get_pacing()]


def set_busy_timeout(ms: int) -> None:
    """How long an operation waits, at most, while another program uses the
    bridge (default 60000 ms; 0 tries once); past it CorvaneError BRIDGE_BUSY
    (errno EBUSY), nothing sent. For the whole process."""
    _lib.corvane_set_busy_timeout(ms)


def get_busy_timeout() -> int:
    """The wait set by set_busy_timeout(), in ms."""
    return _lib.corvane_get_busy_timeout()


__all__ = [
    "set_pacing",
    "get_pacing",
    "set_busy_timeout",
    "get_busy_timeout",
    "Bridge",
    "CorvaneError",
    "SMBus",
    "I2cFunc",
    "i2c_msg",
    "library_version",
    "CURRENT_SETTINGS_ONLY",
    "PWRUP_DEFAULTS_ONLY",
    "BOTH",
]
