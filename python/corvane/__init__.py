"""The Corvane USB I2C/SMBus bridge from Python.

- ``Bridge``: the library's facets ``functions``, ``settings``, ``management``;
- ``SMBus`` and ``i2c_msg``: smbus2's interface over the bridge;
- ``corvane.sim``: the simulated host and virtual chip, for tests without hardware.

Failures raise ``CorvaneError``, an ``OSError`` whose errno is what a Linux
i2c-dev bus gives for the same failure.
"""

from ._errors import CorvaneError
from ._native import VERSION as __version__
from ._native import library_version
from .bridge import BOTH, CURRENT_SETTINGS_ONLY, PWRUP_DEFAULTS_ONLY, Bridge
from .smbus import SMBus, i2c_msg

__all__ = [
    "Bridge",
    "CorvaneError",
    "SMBus",
    "i2c_msg",
    "library_version",
    "CURRENT_SETTINGS_ONLY",
    "PWRUP_DEFAULTS_ONLY",
    "BOTH",
]
