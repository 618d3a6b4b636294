# SPDX-License-Identifier: MIT
"""smbus2's ``SMBus`` over the bridge: the same constructor, methods,
arguments, attributes, return types and exceptions, so smbus2 code runs by
changing its import."""

from __future__ import annotations

import ctypes
import errno
import os
from ctypes import POINTER, Structure, c_char, c_uint16, create_string_buffer, string_at
from enum import IntFlag
from typing import Iterator, List, Optional, Sequence, Union

from ._errors import NOT_SUPPORTED, CorvaneError, check, invalid, native_call
from ._handle import NativeHandle
from ._native import I2cMessage, byte_array, lib
from .bridge import DEFAULT_PID, DEFAULT_VID, in_range, open_bridge, text
from .bridge import bus_speed as _speed

I2C_SMBUS_BLOCK_MAX = 32
# Message flags of Linux's struct i2c_msg.
I2C_M_RD = 0x0001
I2C_M_TEN = 0x0010
I2C_M_DMA_SAFE = 0x0200  # the kernel's own marker: no meaning on this bus


class I2cFunc(IntFlag):
    """The function bits of Linux's I2C_FUNCS, as smbus2 names them; ``SMBus.funcs``
    holds those the bridge supports."""

    I2C = 0x00000001
    ADDR_10BIT = 0x00000002
    PROTOCOL_MANGLING = 0x00000004
    SMBUS_PEC = 0x00000008
    NOSTART = 0x00000010
    SLAVE = 0x00000020
    SMBUS_BLOCK_PROC_CALL = 0x00008000
    SMBUS_QUICK = 0x00010000
    SMBUS_READ_BYTE = 0x00020000
    SMBUS_WRITE_BYTE = 0x00040000
    SMBUS_READ_BYTE_DATA = 0x00080000
    SMBUS_WRITE_BYTE_DATA = 0x00100000
    SMBUS_READ_WORD_DATA = 0x00200000
    SMBUS_WRITE_WORD_DATA = 0x00400000
    SMBUS_PROC_CALL = 0x00800000
    SMBUS_READ_BLOCK_DATA = 0x01000000
    SMBUS_WRITE_BLOCK_DATA = 0x02000000
    SMBUS_READ_I2C_BLOCK = 0x04000000
    SMBUS_WRITE_I2C_BLOCK = 0x08000000
    SMBUS_HOST_NOTIFY = 0x10000000

    SMBUS_BYTE = 0x00060000
    SMBUS_BYTE_DATA = 0x00180000
    SMBUS_WORD_DATA = 0x00600000
    SMBUS_BLOCK_DATA = 0x03000000
    SMBUS_I2C_BLOCK = 0x0C000000
    SMBUS_EMUL = 0x0EFF0008


# Plain I2C in the shapes the bridge carries (a write, a read, a write then a
# read of one address) and every SMBus protocol with PEC; no 10-bit
# addresses, no protocol mangling, no target mode.
BRIDGE_FUNCS = (
    I2cFunc.I2C
    | I2cFunc.SMBUS_PEC
    | I2cFunc.SMBUS_QUICK
    | I2cFunc.SMBUS_BYTE
    | I2cFunc.SMBUS_BYTE_DATA
    | I2cFunc.SMBUS_WORD_DATA
    | I2cFunc.SMBUS_PROC_CALL
    | I2cFunc.SMBUS_BLOCK_DATA
    | I2cFunc.SMBUS_BLOCK_PROC_CALL
    | I2cFunc.SMBUS_I2C_BLOCK
)


class i2c_msg(Structure):
    """One message of ``SMBus.i2c_rdwr``, Linux's struct i2c_msg as smbus2 has
    it: ``addr``, ``flags``, ``len``, ``buf``. Iterating gives the bytes (those
    read, after a read)."""

    _fields_ = [("addr", c_uint16), ("flags", c_uint16), ("len", c_uint16), ("buf", POINTER(c_char))]

    def __iter__(self) -> Iterator[int]:
        return iter(bytes(self))

    def __len__(self) -> int:
        return self.len

    def __bytes__(self) -> bytes:
        return string_at(self.buf, self.len)

    def __repr__(self) -> str:
        return "i2c_msg(%d,%d,%r)" % (self.addr, self.flags, bytes(self))

    def __str__(self) -> str:
        return bytes(self).decode(errors="ignore")

    @staticmethod
    def read(address, length):
        """A read of ``length`` bytes from the 7-bit ``address``."""
        return i2c_msg(addr=address, flags=I2C_M_RD, len=length, buf=create_string_buffer(length))

    @staticmethod
    def write(address, buf):
        """A write of ``buf`` (bytes, a list of ints, or a str) to the 7-bit ``address``."""
        raw = bytes(map(ord, buf)) if isinstance(buf, str) else bytes(buf)
        return i2c_msg(addr=address, flags=0, len=len(raw), buf=create_string_buffer(raw, len(raw)))


def _block(operation: str, data: Sequence[int]) -> "ctypes.Array[ctypes.c_uint8]":
    if len(data) > I2C_SMBUS_BLOCK_MAX:
        raise ValueError("Data length cannot exceed %d bytes" % I2C_SMBUS_BLOCK_MAX)
    return byte_array(data)


class SMBus:
    """An I2C/SMBus bus on a Corvane bridge, used as smbus2's ``SMBus``.

    ``bus`` is the bridge: an int is its number among the bridges attached
    (0 = the first found), a str its USB serial number, or its device path
    when the str holds a slash or backslash. ``SMBus()`` opens nothing until
    ``open(bus)``. ``force`` is kept as smbus2 keeps it (the bridge has no
    kernel driver to override). The keyword-only ``speed`` (bus clock in Hz)
    and ``pec`` are Corvane's own.

    Addresses are 7-bit. Failures raise ``OSError`` (``corvane.CorvaneError``)
    with the errno a Linux i2c-dev bus gives: ENOENT (``FileNotFoundError``)
    for a bridge that is not there, ENXIO when nobody acknowledges the
    address, EBADMSG for a wrong PEC, ETIMEDOUT (``TimeoutError``), EINVAL for
    an address, register or value out of range, EOPNOTSUPP for a message the
    bridge cannot carry, ENODEV while the bridge is unplugged, EBADF after
    ``close()``. An exception a chip modelled in Python (``corvane.sim``)
    raised during a call is raised from that call.

    The bus is bound to the bridge it opened; threads may share it. ``close()``
    lets a call in progress finish and turns PEC off, as smbus2's does.
    """

    def __init__(
        self,
        bus: Union[int, str, None] = None,
        force: bool = False,
        *,
        speed: int = 100_000,
        pec: bool = False,
    ) -> None:
        self._handle: Optional[NativeHandle] = None
        self._path = ""
        self._speed = _speed(speed)
        self._pec = int(bool(pec))
        self.funcs = I2cFunc(0)
        self.address: Optional[int] = None
        self.force = force
        self._force_last: Optional[bool] = None
        if bus is not None:
            self.open(bus)

    def __enter__(self) -> "SMBus":
        """The bus, for ``with``."""
        return self

    def __exit__(self, exc_type, exc_val, exc_tb) -> None:
        """Closes the bus."""
        self.close()

    def __repr__(self) -> str:
        return f"<corvane.SMBus {self._path or 'closed'}>"

    def open(self, bus):
        """Opens the bridge ``bus``: its number (int), its serial number or its
        device path (str). ``FileNotFoundError`` when there is no such bridge."""
        if isinstance(bus, bool) or not isinstance(bus, (int, str)):
            raise TypeError("Unexpected type(bus)={}".format(type(bus)))
        index, serial, path = (bus, None, None) if isinstance(bus, int) else (None, bus, None)
        if isinstance(bus, str) and ("/" in bus or "\\" in bus):
            serial, path = None, bus
        bridge = open_bridge(index, serial, path, DEFAULT_VID, DEFAULT_PID)
        try:
            path = text("bridge_path", bridge)
            handle = ctypes.c_void_p()
            check(lib.corvane_bus_new(bridge, self._speed, ctypes.byref(handle)), "open")
        finally:
            lib.corvane_bridge_free(bridge)  # the bus keeps the bridge handle it needs
        self._release()
        self._handle = NativeHandle(handle.value, lib.corvane_bus_free)  # type: ignore[arg-type]
        self._path = path
        self.funcs = BRIDGE_FUNCS
        self._apply_pec()

    def close(self):
        """Closes the bus (a call in progress on another thread finishes
        first); PEC goes off, as with smbus2. Calls after it raise OSError(EBADF)."""
        self._release()
        self._pec = 0

    def _release(self) -> None:
        handle = self.__dict__.get("_handle")
        if handle is not None:
            handle.close()
            self._handle = None
            self._path = ""
            self.funcs = I2cFunc(0)

    def __del__(self) -> None:
        self._release()

    @property
    def fd(self) -> Optional[int]:
        """None while closed; while open, an int that identifies the open bus."""
        return None if self._handle is None else self._handle.pointer

    def _get_pec(self) -> int:
        return self._pec

    def enable_pec(self, enable=True):
        """Turns SMBus packet error checking on or off. Set while closed, it
        applies when ``open()`` opens the bus."""
        self._pec = int(bool(enable))
        self._apply_pec()

    pec = property(_get_pec, enable_pec, doc="SMBus PEC: 0 off (the default), 1 on.")

    def _apply_pec(self) -> None:
        if self._handle is not None:
            self._call("set_pec", self._pec)

    @property
    def speed(self) -> int:
        """The bus clock in Hz, 46,333 to 4,000,000 (100,000 by default)."""
        return self._speed

    @speed.setter
    def speed(self, hz: int) -> None:
        hz = _speed(hz)
        if self._handle is not None:
            self._call("set_speed", hz)
        self._speed = hz

    def _run(self, name: str, i2c_addr: int, force: Optional[bool], *args) -> int:
        """Runs corvane_bus_<name> on a checked 7-bit address."""
        address = in_range(name, "i2c_addr", i2c_addr, 0, 0x7F)
        result = self._call(name, address, *args)
        self.address, self._force_last = address, self.force if force is None else force
        return result

    def _call(self, name: str, *args) -> int:
        handle = self._handle
        if handle is None:
            raise OSError(errno.EBADF, os.strerror(errno.EBADF))
        with handle as bus:
            return check(native_call(getattr(lib, "corvane_bus_" + name), bus, *args), name)

    def write_quick(self, i2c_addr, force=None):
        """A zero-length write: does anyone acknowledge the address?"""
        self._run("quick", i2c_addr, force)

    def read_byte(self, i2c_addr, force=None):
        """Reads one byte (no register)."""
        return self._run("read_byte", i2c_addr, force)

    def write_byte(self, i2c_addr, value, force=None):
        """Writes one byte (no register)."""
        self._run("write_byte", i2c_addr, force, _byte("write_byte", "value", value))

    def read_byte_data(self, i2c_addr, register, force=None):
        """Reads the byte of ``register``."""
        return self._run("read_byte_data", i2c_addr, force, _byte("read_byte_data", "register", register))

    def write_byte_data(self, i2c_addr, register, value, force=None):
        """Writes ``value`` to ``register``."""
        register = _byte("write_byte_data", "register", register)
        self._run("write_byte_data", i2c_addr, force, register, _byte("write_byte_data", "value", value))

    def read_word_data(self, i2c_addr, register, force=None):
        """The little-endian word of ``register``."""
        return self._run("read_word_data", i2c_addr, force, _byte("read_word_data", "register", register))

    def write_word_data(self, i2c_addr, register, value, force=None):
        """Writes the word ``value`` (low byte first) to ``register``."""
        register = _byte("write_word_data", "register", register)
        self._run("write_word_data", i2c_addr, force, register, _word("write_word_data", value))

    def process_call(self, i2c_addr, register, value, force=None):
        """Sends a word, receives a word."""
        register = _byte("process_call", "register", register)
        return self._run("process_call", i2c_addr, force, register, _word("process_call", value))

    def read_block_data(self, i2c_addr, register, force=None) -> List[int]:
        """An SMBus block read: the device sends the length first."""
        buffer = (ctypes.c_uint8 * I2C_SMBUS_BLOCK_MAX)()
        register = _byte("read_block_data", "register", register)
        count = self._run("read_block_data", i2c_addr, force, register, buffer, I2C_SMBUS_BLOCK_MAX)
        return list(buffer[:count])

    def write_block_data(self, i2c_addr, register, data, force=None):
        """An SMBus block write: the length byte goes first."""
        register = _byte("write_block_data", "register", register)
        self._run("write_block_data", i2c_addr, force, register, _block("write_block_data", data), len(data))

    def block_process_call(self, i2c_addr, register, data, force=None) -> List[int]:
        """SMBus block write-block read process call: sends ``data`` (1 to 32
        bytes) as a counted block, then after a repeated START reads the
        counted block the device answers with."""
        register = _byte("block_process_call", "register", register)
        out = (ctypes.c_uint8 * I2C_SMBUS_BLOCK_MAX)()
        sent = _block("block_process_call", data)
        count = self._run("block_process_call", i2c_addr, force, register, sent, len(data), out, len(out))
        return list(out[:count])

    def read_i2c_block_data(self, i2c_addr, register, length, force=None) -> List[int]:
        """Writes ``register``, then reads ``length`` bytes (at most 32)."""
        if length > I2C_SMBUS_BLOCK_MAX:
            raise ValueError("Desired block length over %d bytes" % I2C_SMBUS_BLOCK_MAX)
        length = in_range("read_i2c_block_data", "length", length, 0, I2C_SMBUS_BLOCK_MAX)
        register = _byte("read_i2c_block_data", "register", register)
        buffer = (ctypes.c_uint8 * max(length, 1))()
        count = self._run("read_i2c_block_data", i2c_addr, force, register, buffer, length)
        return list(buffer[:count])

    def write_i2c_block_data(self, i2c_addr, register, data, force=None):
        """Writes ``register``, then ``data`` (at most 32 bytes)."""
        register = _byte("write_i2c_block_data", "register", register)
        self._run("write_i2c_block_data", i2c_addr, force, register, _block("write_i2c_block_data", data), len(data))

    def i2c_rdwr(self, *i2c_msgs):
        """Carries out the messages as one transfer (repeated START, one STOP):
        a write, a read, or a write followed by a read of the same address.
        Other shapes, and flags other than I2C_M_RD, raise OSError(EOPNOTSUPP);
        no message at all is EINVAL, as with i2c-dev."""
        if not i2c_msgs:
            raise invalid("i2c_rdwr", "no message to carry out")
        messages = (I2cMessage * len(i2c_msgs))()
        for native, message in zip(messages, i2c_msgs):
            unsupported = message.flags & ~(I2C_M_RD | I2C_M_DMA_SAFE)
            if unsupported:
                raise CorvaneError(NOT_SUPPORTED, "i2c_rdwr", f"message flags {unsupported:#06x} are not supported")
            native.address7 = in_range("i2c_rdwr", "addr", message.addr, 0, 0x7F)
            native.read = 1 if message.flags & I2C_M_RD else 0
            native.length = message.len
            native.data = ctypes.cast(message.buf, ctypes.POINTER(ctypes.c_uint8))
        self._call("transfer", messages, len(i2c_msgs))


def _byte(operation: str, name: str, value: int) -> int:
    return in_range(operation, name, value, 0, 0xFF)


def _word(operation: str, value: int) -> int:
    return in_range(operation, "value", value, 0, 0xFFFF)
