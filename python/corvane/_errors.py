"""Result codes as Python exceptions."""

from __future__ import annotations

import errno
from typing import Optional

from ._native import lib


class CorvaneError(OSError):
    """A failure the library reported as a result code.

    ``errno`` is what a Linux i2c-dev bus gives for the same failure (ENXIO
    for an address nobody acknowledged, ...); ``code``, ``name`` and
    ``description`` are the library's result code and its texts.
    """

    def __init__(self, code: int, operation: Optional[str] = None) -> None:
        self.code = code
        self.name = lib.corvane_result_name(code).decode()
        self.description = lib.corvane_result_description(code).decode()
        where = f"{operation}: " if operation else ""
        # A device status byte (1 to 255) is a refusal: EIO, as i2c-dev gives.
        number = lib.corvane_result_errno(code) if code < 0 else errno.EIO
        super().__init__(number, f"{where}{self.name} ({code}): {self.description}")


def check(code: int, operation: str) -> int:
    """The code when it is not negative; CorvaneError otherwise."""
    if code < 0:
        raise CorvaneError(code, operation)
    return code


def check_done(code: int, operation: str) -> None:
    """Nothing for 0; CorvaneError for a failure or a device status byte."""
    if code != 0:
        raise CorvaneError(code, operation)
