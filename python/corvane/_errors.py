# SPDX-License-Identifier: MIT
"""Result codes as Python exceptions, and the exceptions of Python-modelled
chips carried out of the library call that ran them."""

from __future__ import annotations

import errno
import threading
from typing import Callable, Dict, Optional, Type

from ._native import lib

# Codes the package gives itself for arguments it refuses before any call.
INVALID_ARGUMENT = -300  # I2CBUS_INVALID_ARGUMENT: EINVAL
NOT_SUPPORTED = -301  # I2CBUS_NOT_SUPPORTED: EOPNOTSUPP


class CorvaneError(OSError):
    """A failure the library reported as a result code.

    ``errno`` is what a Linux i2c-dev bus gives for the same failure (ENXIO
    for an address nobody acknowledged, ENOENT for a bridge that is not
    there, ...); ``code``, ``name`` and ``description`` are the library's
    result code and its texts. Each error is also an instance of the OSError
    subclass Python picks for its errno, as smbus2's errors are:
    ``except FileNotFoundError`` or ``except TimeoutError`` catch it.
    """

    __module__ = "corvane"
    code: int
    name: str
    description: str

    def __new__(cls, code: int, operation: Optional[str] = None, detail: Optional[str] = None) -> "CorvaneError":
        number = _errno_of(code)
        name = lib.corvane_result_name(code).decode()
        description = lib.corvane_result_description(code).decode()
        where = f"{operation}: " if operation else ""
        what = f"{detail} ({name})" if detail else f"{name} ({code}): {description}"
        # OSError takes its errno and text in __new__ once a subclass has its own.
        error = OSError.__new__(_class_for(number) if cls is CorvaneError else cls, number, where + what)
        error.code, error.name, error.description = code, name, description
        error._operation, error._detail = operation, detail
        return error

    def __reduce__(self):
        # OSError's own reduction rebuilds from (errno, strerror), which is not
        # this constructor's signature: multiprocessing and concurrent.futures
        # pickle exceptions.
        return CorvaneError, (self.code, self._operation, self._detail)


def _errno_of(code: int) -> int:
    # A device status byte (1 to 255) is a refusal: EIO, as i2c-dev gives.
    return lib.corvane_result_errno(code) if code < 0 else errno.EIO


_CLASSES: Dict[Type[OSError], Type[CorvaneError]] = {OSError: CorvaneError}


def _class_for(number: int) -> Type[CorvaneError]:
    """CorvaneError joined with the OSError subclass Python uses for ``number``."""
    builtin = type(OSError(number, ""))
    if builtin not in _CLASSES:
        name = "Corvane" + builtin.__name__
        _CLASSES[builtin] = type(name, (CorvaneError, builtin), {"__module__": "corvane", "__qualname__": name})
    return _CLASSES[builtin]


def check(code: int, operation: str) -> int:
    """The code when it is not negative; CorvaneError otherwise."""
    if code < 0:
        raise CorvaneError(code, operation)
    return code


def check_done(code: int, operation: str) -> None:
    """Nothing for 0; CorvaneError for a failure or a device status byte."""
    if code != 0:
        raise CorvaneError(code, operation)


def invalid(operation: str, detail: str) -> CorvaneError:
    """An argument refused before it reaches the library: EINVAL."""
    return CorvaneError(INVALID_ARGUMENT, operation, detail)


class _ModelErrors(threading.local):
    """What Python-modelled chips raised during this thread's library call."""

    depth = 0
    error: Optional[Exception] = None
    interrupt: Optional[BaseException] = None


_model_errors = _ModelErrors()


def record_model_error(error: BaseException) -> bool:
    """Keeps an exception a model raised inside a library call on this thread
    (the first Exception; any KeyboardInterrupt, SystemExit, ...) to be raised
    when the call returns. False when no library call of this package is
    running on the thread."""
    state = _model_errors
    if state.depth == 0:
        return False
    if not isinstance(error, Exception):
        state.interrupt = state.interrupt or error
    elif state.error is None:
        state.error = error
    return True


def native_call(function: Callable[..., int], *args) -> int:
    """Calls a library function that may drive the bus: what a Python-modelled
    chip raised meanwhile is raised here, after the call, whatever it returned."""
    state = _model_errors
    state.depth += 1
    try:
        return function(*args)
    finally:
        state.depth -= 1
        if state.depth == 0 and (state.interrupt or state.error):
            interrupt, error = state.interrupt, state.error
            state.interrupt = state.error = None
            if interrupt is not None:
                raise interrupt
            raise error  # type: ignore[misc]
