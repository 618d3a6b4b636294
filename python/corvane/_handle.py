# SPDX-License-Identifier: MIT
"""A library handle that threads may use while another closes it."""

from __future__ import annotations

import errno
import os
import threading
from typing import Callable, Optional


class NativeHandle:
    """Owns one C handle. ``use()`` lends it for one call; ``close()`` frees it
    once no call is using it: a call in progress finishes first, later ones
    raise OSError(EBADF), and the library never sees a freed handle."""

    def __init__(self, pointer: int, free: Callable[[int], None]) -> None:
        self._lock = threading.Lock()
        self._pointer: Optional[int] = pointer
        self._free = free
        self._users = 0
        self._closing = False

    @property
    def open(self) -> bool:
        return not self._closing

    @property
    def pointer(self) -> Optional[int]:
        """The C handle's address while open, else None."""
        return None if self._closing else self._pointer

    def __enter__(self) -> int:
        with self._lock:
            if self._closing:
                raise OSError(errno.EBADF, os.strerror(errno.EBADF))
            self._users += 1
            return self._pointer  # type: ignore[return-value]

    def __exit__(self, *exc) -> None:
        with self._lock:
            self._users -= 1
            pointer = self._take_if_unused()
        self._release(pointer)

    def close(self) -> None:
        """Frees the handle now, or when the last call using it returns."""
        with self._lock:
            self._closing = True
            pointer = self._take_if_unused()
        self._release(pointer)

    def _take_if_unused(self) -> Optional[int]:
        if not self._closing or self._users:
            return None
        pointer, self._pointer = self._pointer, None
        return pointer

    def _release(self, pointer: Optional[int]) -> None:
        if pointer:
            self._free(pointer)
