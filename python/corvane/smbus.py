"""smbus2's ``SMBus`` over the bridge: the same methods, arguments, return
types and exceptions, so smbus2 code runs by changing its import."""

from __future__ import annotations

import ctypes
import errno
import os
from typing import List, Optional, Sequence, Union

from ._errors import check
from ._native import I2cMessage, byte_array, has_bus, lib
from .bridge import Bridge

I2C_SMBUS_BLOCK_MAX = 32
I2C_M_RD = 0x0001


class i2c_msg:
    """One message of ``SMBus.i2c_rdwr``, as smbus2's: ``addr``, ``flags``,
    ``len``, ``buf``; iterating gives the bytes (those read, after a read)."""

    def __init__(self, addr: int, flags: int, length: int, buf: ctypes.Array) -> None:
        self.addr, self.flags, self.len, self.buf = addr, flags, length, buf

    @staticmethod
    def read(address: int, length: int) -> "i2c_msg":
        """A read of ``length`` bytes from the 7-bit address."""
        return i2c_msg(address, I2C_M_RD, length, ctypes.create_string_buffer(length))

    @staticmethod
    def write(address: int, data: Union[bytes, Sequence[int], str]) -> "i2c_msg":
        """A write of ``data`` (bytes, list of ints, or str) to the 7-bit address."""
        raw = bytes(map(ord, data)) if isinstance(data, str) else bytes(data)
        return i2c_msg(address, 0, len(raw), ctypes.create_string_buffer(raw, len(raw)))

    def __iter__(self):
        return iter(self.buf.raw[: self.len])

    def __len__(self) -> int:
        return self.len

    def __bytes__(self) -> bytes:
        return self.buf.raw[: self.len]

    def __repr__(self) -> str:
        return "i2c_msg(%d,%d,%r)" % (self.addr, self.flags, bytes(self))

    def __str__(self) -> str:
        return bytes(self).decode(errors="ignore")


def _block_length(data: Sequence[int]) -> None:
    if len(data) > I2C_SMBUS_BLOCK_MAX:
        raise ValueError("Data length cannot exceed %d bytes" % I2C_SMBUS_BLOCK_MAX)


class SMBus:
    """An I2C/SMBus bus on a Corvane bridge, used as smbus2's ``SMBus``.

    ``index`` or ``serial`` choose the bridge (``open(bus)`` takes either);
    ``speed`` is the bus clock in Hz; ``pec`` turns on packet error checking.
    Addresses are 7-bit. Failures raise ``OSError`` (``corvane.CorvaneError``)
    with the errno a Linux i2c-dev bus gives: ENXIO when nobody acknowledges
    the address, EBADMSG for a wrong PEC, ETIMEDOUT, EINVAL, ENODEV, EIO.
    """

    def __init__(
        self, index: Optional[int] = 0, serial: Optional[str] = None, speed: int = 100_000, pec: bool = False
    ) -> None:
        self._bridge: Optional[Bridge] = None
        self._bus = ctypes.c_void_p()
        self._speed = speed
        self._pec = int(bool(pec))
        self.force = False
        if index is not None or serial is not None:
            self.open(serial if serial is not None else index)
            self.pec = pec

    def __enter__(self) -> "SMBus":
        return self

    def __exit__(self, exc_type, exc_val, exc_tb) -> None:
        self.close()

    def open(self, bus):
        """Opens the bridge: ``bus`` is its number (int) or its serial number (str)."""
        if not isinstance(bus, (int, str)):
            raise TypeError("Unexpected type(bus)={}".format(type(bus)))
        if not has_bus:
            raise OSError(errno.EOPNOTSUPP, "this libcorvane has no bus interface (corvane_bus_new)")
        self.close()
        self._bridge = Bridge(index=bus, serial=None) if isinstance(bus, int) else Bridge(serial=bus)
        check(lib.corvane_bus_new(self._bridge._handle, self._speed, ctypes.byref(self._bus)), "bus_new")
        check(lib.corvane_bus_set_pec(self._bus, self._pec), "bus_set_pec")

    def close(self):
        """Closes the bus; PEC goes off, as with smbus2."""
        if self._bus:
            lib.corvane_bus_free(self._bus)
            self._bus = ctypes.c_void_p()
        if self._bridge is not None:
            self._bridge.close()
            self._bridge = None
        self._pec = 0

    def __del__(self) -> None:
        self.close()

    def _get_pec(self) -> int:
        return self._pec

    def enable_pec(self, enable=True):
        """Turns SMBus packet error checking on or off."""
        self._pec = int(bool(enable))
        if self._bus:
            check(lib.corvane_bus_set_pec(self._bus, self._pec), "bus_set_pec")

    pec = property(_get_pec, enable_pec)
    """SMBus PEC: 0 off (default), 1 on."""

    @property
    def speed(self) -> int:
        """The bus clock in Hz."""
        return self._speed

    @speed.setter
    def speed(self, hz: int) -> None:
        if self._bus:
            check(lib.corvane_bus_set_speed(self._bus, hz), "bus_set_speed")
        self._speed = hz

    def _run(self, name: str, *args) -> int:
        if not self._bus:
            raise OSError(errno.EBADF, "the bus is not open")
        return check(getattr(lib, "corvane_bus_" + name)(self._bus, *args), name)

    def write_quick(self, i2c_addr, force=None):
        """A zero-length write: does anyone acknowledge the address?"""
        self._run("quick", i2c_addr)

    def read_byte(self, i2c_addr, force=None):
        return self._run("read_byte", i2c_addr)

    def write_byte(self, i2c_addr, value, force=None):
        self._run("write_byte", i2c_addr, value)

    def read_byte_data(self, i2c_addr, register, force=None):
        return self._run("read_byte_data", i2c_addr, register)

    def write_byte_data(self, i2c_addr, register, value, force=None):
        self._run("write_byte_data", i2c_addr, register, value)

    def read_word_data(self, i2c_addr, register, force=None):
        """The little-endian word of the register."""
        return self._run("read_word_data", i2c_addr, register)

    def write_word_data(self, i2c_addr, register, value, force=None):
        self._run("write_word_data", i2c_addr, register, value)

    def process_call(self, i2c_addr, register, value, force=None):
        """Sends a word, receives a word."""
        return self._run("process_call", i2c_addr, register, value)

    def read_block_data(self, i2c_addr, register, force=None) -> List[int]:
        """An SMBus block read: the device sends the length first."""
        buffer = (ctypes.c_uint8 * I2C_SMBUS_BLOCK_MAX)()
        count = self._run("read_block_data", i2c_addr, register, buffer, I2C_SMBUS_BLOCK_MAX)
        return list(buffer[:count])

    def write_block_data(self, i2c_addr, register, data, force=None):
        """An SMBus block write: the length byte goes first."""
        _block_length(data)
        self._run("write_block_data", i2c_addr, register, byte_array(data), len(data))

    def block_process_call(self, i2c_addr, register, data, force=None):
        """Not available on this bridge: OSError with errno EOPNOTSUPP, as an
        i2c-dev adapter without the function answers."""
        _block_length(data)
        raise OSError(errno.EOPNOTSUPP, os.strerror(errno.EOPNOTSUPP))

    def read_i2c_block_data(self, i2c_addr, register, length, force=None) -> List[int]:
        """Writes the register, then reads ``length`` bytes (at most 32)."""
        if length > I2C_SMBUS_BLOCK_MAX:
            raise ValueError("Desired block length over %d bytes" % I2C_SMBUS_BLOCK_MAX)
        buffer = (ctypes.c_uint8 * max(length, 1))()
        count = self._run("read_i2c_block_data", i2c_addr, register, buffer, length)
        return list(buffer[:count])

    def write_i2c_block_data(self, i2c_addr, register, data, force=None):
        _block_length(data)
        self._run("write_i2c_block_data", i2c_addr, register, byte_array(data), len(data))

    def i2c_rdwr(self, *i2c_msgs):
        """Carries out the messages as one transfer (repeated START, one STOP):
        a write, a read, or a write followed by a read of the same address."""
        messages = (I2cMessage * len(i2c_msgs))()
        for native, message in zip(messages, i2c_msgs):
            native.address7 = message.addr
            native.read = 1 if message.flags & I2C_M_RD else 0
            native.length = message.len
            native.data = ctypes.cast(message.buf, ctypes.POINTER(ctypes.c_uint8))
        self._run("transfer", messages, len(i2c_msgs))
