# SPDX-License-Identifier: MIT
"""The simulated host and the virtual Corvane chip: run and test code that
uses ``corvane.Bridge`` or ``corvane.SMBus`` without hardware, against chips
modelled in Python.

    host = SimulatedHost.install()
    chip = VirtualDevice()
    chip.attach_target(0x50, Eeprom(32768, 64))
    host.plug(chip)
"""

from __future__ import annotations

import ctypes
import itertools
import sys
import traceback
from ctypes import CFUNCTYPE, POINTER, Structure, c_int, c_int32, c_int64, c_size_t, c_uint8, c_uint16, c_uint32, c_uint64, c_void_p
from typing import Dict, Iterable, List, Mapping, Optional, Tuple

from ._errors import check, native_call, record_model_error
from ._native import _declare, byte_array, sim_library

_B = c_void_p
_START = CFUNCTYPE(c_int, c_void_p, c_int)
_WRITE = CFUNCTYPE(c_int, c_void_p, c_uint8)
_READ = CFUNCTYPE(c_uint8, c_void_p)
_STOP = CFUNCTYPE(None, c_void_p)


class _Report(Structure):
    _fields_ = [("to_device", c_uint8), ("bytes", c_uint8 * 64)]


class _Callbacks(Structure):
    _fields_ = [("start", _START), ("write_byte", _WRITE), ("read_byte", _READ), ("stop", _STOP)]


_lib = sim_library()
_P8 = POINTER(c_uint8)
_declare(_lib, {
    "corvane_sim_host_install": (c_int32, POINTER(_B)),
    "corvane_sim_host_uninstall": (None,),
    "corvane_sim_host_free": (None, _B),
    "corvane_sim_host_plug": (c_int32, _B, _B),
    "corvane_sim_host_unplug": (c_int32, _B, _B),
    "corvane_sim_host_trace": (c_int32, _B, POINTER(_Report), c_size_t),
    "corvane_sim_host_clear_trace": (c_int32, _B),
    "corvane_sim_host_now_us": (c_int64, _B),
    "corvane_sim_host_advance_clock_us": (c_int32, _B, c_int64),
    "corvane_sim_host_set_report_time_us": (c_int32, _B, c_int64),
    "corvane_sim_host_transfer_count": (c_int64, _B),
    "corvane_sim_host_inject_fault": (c_int32, _B, c_uint64, c_int32),
    "corvane_sim_host_clear_faults": (c_int32, _B),
    "corvane_sim_device_new": (c_int32, c_uint16, c_uint16, POINTER(_B)),
    "corvane_sim_device_free": (None, _B),
    "corvane_sim_device_attach_target": (c_int32, _B, c_uint8, _B),
    "corvane_sim_device_detach_target": (c_int32, _B, c_uint8),
    "corvane_sim_device_set_adc_input": (c_int32, _B, c_uint32, c_uint16),
    "corvane_sim_device_set_pin_input": (c_int32, _B, c_uint32, c_uint8),
    "corvane_sim_device_pin_level": (c_int32, _B, c_uint32),
    "corvane_sim_device_command_count": (c_int64, _B, c_uint8),
    "corvane_sim_device_drop_responses": (c_int32, _B, c_uint8, c_int32),
    "corvane_sim_device_time_out_writes": (c_int32, _B, c_int32),
    "corvane_sim_device_fail_waits": (c_int32, _B, c_int32),
    "corvane_sim_device_refuse_commands": (c_int32, _B, c_uint8, c_uint8, c_int32),
    "corvane_sim_device_set_silent": (c_int32, _B, c_int32),
    "corvane_sim_device_clear_faults": (c_int32, _B),
    "corvane_sim_device_refuse_i2c_chunks": (c_int32, _B, c_int32, c_uint8),
    "corvane_sim_device_refuse_i2c_status_polls": (c_int32, _B, c_int32),
    "corvane_sim_device_delay_i2c_read_data": (c_int32, _B, c_int32),
    "corvane_sim_device_offer_extra_i2c_bytes": (c_int32, _B, c_uint8),
    "corvane_sim_device_fail_next_i2c_transfer": (c_int32, _B, c_uint8),
    "corvane_sim_device_corrupt_i2c_read_tail": (c_int32, _B, c_int32),
    "corvane_sim_device_stretch_i2c_clock": (c_int32, _B, c_int32),
    "corvane_sim_device_skip_next_i2c_restart_wait": (c_int32, _B),
    "corvane_sim_device_end_next_i2c_read_early": (c_int32, _B),
    "corvane_sim_target_free": (None, _B),
    "corvane_sim_eeprom_new": (c_int32, c_size_t, c_size_t, POINTER(_B)),
    "corvane_sim_eeprom_read": (c_int32, _B, c_size_t, _P8, c_size_t),
    "corvane_sim_eeprom_write": (c_int32, _B, c_size_t, _P8, c_size_t),
    "corvane_sim_smbus_new": (c_int32, c_uint8, POINTER(_B)),
    "corvane_sim_smbus_enable_pec": (c_int32, _B, c_int32),
    "corvane_sim_smbus_enable_byte_count": (c_int32, _B, c_int32),
    "corvane_sim_smbus_set_register": (c_int32, _B, c_uint8, _P8, c_size_t),
    "corvane_sim_smbus_set_block_register": (c_int32, _B, c_uint8, _P8, c_size_t),
    "corvane_sim_smbus_register": (c_int32, _B, c_uint8, _P8, c_size_t),
    "corvane_sim_callback_target_new": (c_int32, POINTER(_Callbacks), c_void_p, POINTER(_B)),
})


def _call(name: str, *args) -> int:
    # Unplugging, detaching or resetting may end a modelled chip's transfer.
    return check(native_call(getattr(_lib, "corvane_sim_" + name), *args), name)


def _new(name: str, *args) -> c_void_p:
    handle = c_void_p()
    _call(name, *args, ctypes.byref(handle))
    return handle


class _Handle:
    _free = ""

    def __del__(self) -> None:
        handle = getattr(self, "_handle", None)
        if handle:
            getattr(_lib, "corvane_sim_" + self._free)(handle)
            self._handle = None


class I2cTarget:
    """A chip on the virtual I2C bus, modelled in Python. Subclass it and
    override what the chip does, or attach any object with some of these
    methods (a missing one acts as here). Called on the thread of the library
    call that drives the bus.

    An exception a method raises is raised from the bus call that made the
    chip run it (the first one, when there are several; KeyboardInterrupt and
    the like always), after the transfer was ended: the chip does not
    acknowledge (``start``, ``write_byte``) or sends 0xFF (``read_byte``).
    """

    def start(self, read: bool) -> Optional[bool]:
        """A START or repeated START addressed the chip; ``read`` is the R/W bit.
        None or True: the chip acknowledges its address; False: it does not."""
        return None

    def write_byte(self, value: int) -> Optional[bool]:
        """A byte written by the master. None or True acknowledges it; False does not."""
        return None

    def read_byte(self) -> int:
        """The next byte the master reads: 0 to 255."""
        return 0xFF

    def stop(self) -> None:
        """STOP: the transfer with the chip ends."""


class RegisterFile(I2cTarget):
    """A chip with an index register in front of ``size`` byte registers, the
    most common shape of sensors and controllers. A write's first byte sets
    the index; the bytes after it are stored from there. Reads continue from
    the index. With ``auto_increment`` the index moves on (wrapping at
    ``size``) after every byte; without it, it stays.

    ``values`` maps a first register to the bytes stored from it at the
    start. ``read_only`` and ``write_1_to_clear`` map a register to a bit
    mask: read-only bits keep their value when written; a 1 written to a
    write-1-to-clear bit clears it, a 0 leaves it. An index beyond the
    registers is not acknowledged.

    ``registers`` is the register file itself (a bytearray) for tests and for
    subclasses, which may also override ``written(index, value)``, called
    after a register was written through the bus.
    """

    def __init__(
        self,
        size: int = 256,
        values: Optional[Mapping[int, Iterable[int]]] = None,
        *,
        auto_increment: bool = True,
        read_only: Optional[Mapping[int, int]] = None,
        write_1_to_clear: Optional[Mapping[int, int]] = None,
    ) -> None:
        if not 1 <= size <= 256:
            raise ValueError(f"a register file holds 1 to 256 registers, not {size}")
        self.registers = bytearray(size)
        for first, data in (values or {}).items():
            block = bytes(data)
            if first < 0 or first + len(block) > size:
                raise ValueError(f"values at {first:#04x} pass the last register {size - 1:#04x}")
            self.registers[first : first + len(block)] = block
        self.index = 0
        self.auto_increment = auto_increment
        self.read_only = dict(read_only or {})
        self.write_1_to_clear = dict(write_1_to_clear or {})
        self._index_next = False

    def start(self, read: bool) -> None:
        """A write starts with the index byte."""
        self._index_next = not read

    def write_byte(self, value: int) -> bool:
        """Sets the index (first byte of a write) or writes the register at it."""
        if self._index_next:
            self._index_next = False
            self.index = value
            return value < len(self.registers)
        index = self.index
        keep, clear = self.read_only.get(index, 0), self.write_1_to_clear.get(index, 0)
        old = self.registers[index]
        self.registers[index] = (old & keep) | (old & clear & ~value) | (value & ~keep & ~clear)
        self._advance()
        self.written(index, self.registers[index])
        return True

    def read_byte(self) -> int:
        """The register at the index."""
        value = self.registers[self.index]
        self._advance()
        return value

    def written(self, index: int, value: int) -> None:
        """Called after the master wrote ``value`` into register ``index``;
        override it to act on writes (start a measurement, ...)."""

    def _advance(self) -> None:
        if self.auto_increment:
            self.index = (self.index + 1) % len(self.registers)


# The native side holds a number, never a Python object: the four functions
# below live as long as the module, and a number whose model was released
# (detached) makes the chip silent instead of calling freed memory.
_models: Dict[int, object] = {}
_model_numbers = itertools.count(1)


def _model_failed(error: BaseException) -> None:
    """Carries the model's exception to the bus call that ran it."""
    if not record_model_error(error):
        # No call of this package drove the bus (a foreign thread): say so at least.
        print("Exception in a chip modelled in Python, outside any call of corvane:", file=sys.stderr)
        traceback.print_exception(type(error), error, error.__traceback__)


def _call_model(user: Optional[int], name: str, args: tuple, missing: int, absent: int, check=None):
    """Runs the model's method ``name``: ``missing`` when the model has none,
    ``absent`` when the model was released, ``absent`` also when it raised."""
    model = _models.get(user or 0)
    if model is None:
        return absent
    method = getattr(model, name, None)
    if method is None:
        return missing
    try:
        result = method(*args)
        return check(model, result) if check else result
    except BaseException as error:
        _model_failed(error)
        return absent


def _acknowledges(_model: object, result: object) -> int:
    return 0 if result is not None and not result else 1


def _byte_read(model: object, value: object) -> int:
    where = f"{type(model).__name__}.read_byte returned {value!r}"
    if isinstance(value, bool) or not isinstance(value, int):
        raise TypeError(f"{where}, not an int")
    if not 0 <= value <= 0xFF:
        raise ValueError(f"{where}, not a byte (0 to 255)")
    return value


_start = _START(lambda user, read: _call_model(user, "start", (bool(read),), 1, 0, _acknowledges))
_write_byte = _WRITE(lambda user, value: _call_model(user, "write_byte", (value,), 1, 0, _acknowledges))
_read_byte = _READ(lambda user: _call_model(user, "read_byte", (), 0xFF, 0xFF, _byte_read))
_stop = _STOP(lambda user: _call_model(user, "stop", (), None, None))


_CALLBACKS = _Callbacks(_start, _write_byte, _read_byte, _stop)


def _native_target(target: object) -> Tuple[c_void_p, Optional[int]]:
    """A native target for ``target``: its own handle for the chips the
    library models, else a new callback target and the number that keeps the
    model in ``_models`` (the caller frees the handle)."""
    if isinstance(target, _NativeTarget):
        return target._handle, None
    number = next(_model_numbers)
    _models[number] = target
    try:
        return _new("callback_target_new", ctypes.byref(_CALLBACKS), c_void_p(number)), number
    except BaseException:
        del _models[number]
        raise


class _NativeTarget(_Handle):
    _free = "target_free"


class Eeprom(_NativeTarget):
    """A 24-series EEPROM with two address bytes: page writes wrap within the
    page and are stored at STOP; reads continue from the address counter."""

    def __init__(self, size: int, page: int) -> None:
        if not 1 <= size <= 65536 or not 1 <= page <= size:
            raise ValueError("EEPROM size 1 to 65536 bytes, page 1 to size")
        self._handle = _new("eeprom_new", size, page)
        self.size = size

    def read(self, offset: int = 0, count: "int | None" = None) -> bytes:
        """The memory's bytes, straight (no bus transfer)."""
        count = self.size - offset if count is None else count
        buffer = (c_uint8 * max(count, 1))()
        _call("eeprom_read", self._handle, offset, buffer, count)
        return bytes(buffer[:count])

    def write(self, offset: int, data: bytes) -> None:
        """Changes the memory straight (no bus transfer)."""
        _call("eeprom_write", self._handle, offset, byte_array(data), len(data))


class SmbusDevice(_NativeTarget):
    """An SMBus device: one block of bytes per one-byte register index."""

    def __init__(self, address7: int) -> None:
        self._handle = _new("smbus_new", address7)

    def enable_pec(self, on: bool = True) -> None:
        """Makes the device send and check a PEC byte (or not)."""
        _call("smbus_enable_pec", self._handle, int(on))

    def enable_byte_count(self, on: bool = True) -> None:
        """Makes block reads start with the block's length and block writes carry one."""
        _call("smbus_enable_byte_count", self._handle, int(on))

    def set_register(self, index: int, data: bytes) -> None:
        """Sets the contents of register ``index``."""
        _call("smbus_set_register", self._handle, index, byte_array(data), len(data))

    def set_block_register(self, index: int, data: bytes) -> None:
        """A register whose reads start with its length and whose writes carry one."""
        _call("smbus_set_block_register", self._handle, index, byte_array(data), len(data))

    def register(self, index: int) -> bytes:
        """The contents of register ``index``."""
        length = _call("smbus_register", self._handle, index, None, 0)
        buffer = (c_uint8 * max(length, 1))()
        _call("smbus_register", self._handle, index, buffer, length)
        return bytes(buffer[:length])


class VirtualDevice(_Handle):
    """An emulated Corvane bridge chip, with targets on its I2C bus and faults
    to inject (as the C++ ``Corvane::Sim::VirtualDevice``)."""

    _free = "device_free"

    def __init__(self, vid: int = 0x3A7C, pid: int = 0x01D5) -> None:
        self._handle = _new("device_new", vid, pid)
        self._targets: Dict[int, object] = {}
        self._models: Dict[int, int] = {}  # address -> number in _models

    def attach_target(self, address7: int, target: object) -> None:
        """Puts ``target`` on the chip's bus at the 7-bit address (replacing
        any): an ``Eeprom``, an ``SmbusDevice``, or a chip modelled in Python
        (any object with some of ``I2cTarget``'s methods). A Python model
        stays referenced until it is detached or replaced, whatever else
        keeps it."""
        handle, number = _native_target(target)
        try:
            _call("device_attach_target", self._handle, address7, handle)
        except BaseException:
            _models.pop(number or 0, None)
            raise
        finally:
            if number is not None:
                _lib.corvane_sim_target_free(handle)  # the chip holds its own reference
        self._forget(address7)
        self._targets[address7] = target
        if number is not None:
            self._models[address7] = number

    def detach_target(self, address7: int) -> None:
        """Takes the target at the 7-bit address off the bus."""
        _call("device_detach_target", self._handle, address7)
        self._forget(address7)

    def _forget(self, address7: int) -> None:
        self._targets.pop(address7, None)
        _models.pop(self._models.pop(address7, 0), None)

    def set_adc_input(self, channel: int, millivolts: int) -> None:
        """Voltage at ADC input ``channel`` (0 to 2: GP1 to GP3)."""
        _call("device_set_adc_input", self._handle, channel, millivolts)

    def set_pin_input(self, pin: int, level: int) -> None:
        """Level driven into GP ``pin`` (0 to 3) when it is a GPIO input."""
        _call("device_set_pin_input", self._handle, pin, level)

    def pin_level(self, pin: int) -> int:
        """Level of GP ``pin`` as the chip sees it (output value or input level)."""
        return _call("device_pin_level", self._handle, pin)

    def command_count(self, command: int) -> int:
        """How many command reports with this code the chip received."""
        return _call("device_command_count", self._handle, command)

    def drop_responses(self, command: int, count: int = 1) -> None:
        """The next ``count`` commands with this code are taken but never answered."""
        _call("device_drop_responses", self._handle, command, count)

    def time_out_writes(self, count: int = 1) -> None:
        """The next ``count`` report writes to the chip time out."""
        _call("device_time_out_writes", self._handle, count)

    def fail_waits(self, count: int = 1) -> None:
        """The next ``count`` waits for a report fail without the transfer ending."""
        _call("device_fail_waits", self._handle, count)

    def refuse_commands(self, command: int, status: int, count: int = 1) -> None:
        """The next ``count`` commands with this code are answered with ``status`` (non-zero) instead."""
        _call("device_refuse_commands", self._handle, command, status, count)

    def set_silent(self, silent: bool) -> None:
        """A silent chip takes every command and answers none."""
        _call("device_set_silent", self._handle, int(silent))

    def clear_faults(self) -> None:
        """Forgets every fault still pending and makes a silent chip answer again."""
        _call("device_clear_faults", self._handle)

    def refuse_i2c_chunks(self, count: int, engine_state: int = 0x41) -> None:
        """The next ``count`` I2C data chunks are refused with the engine in ``engine_state``."""
        _call("device_refuse_i2c_chunks", self._handle, count, engine_state)

    def refuse_i2c_status_polls(self, count: int) -> None:
        """The next ``count`` I2C status polls are refused."""
        _call("device_refuse_i2c_status_polls", self._handle, count)

    def delay_i2c_read_data(self, count: int) -> None:
        """The next ``count`` get-data answers say the data is not ready yet."""
        _call("device_delay_i2c_read_data", self._handle, count)

    def offer_extra_i2c_bytes(self, extra: int) -> None:
        """The next get-data answer offers ``extra`` bytes more than it holds."""
        _call("device_offer_extra_i2c_bytes", self._handle, extra)

    def fail_next_i2c_transfer(self, engine_state: int) -> None:
        """The next I2C transfer stops at its address in ``engine_state``."""
        _call("device_fail_next_i2c_transfer", self._handle, engine_state)

    def corrupt_i2c_read_tail(self, count: int = 1) -> None:
        """The last byte of the next ``count`` reads arrives inverted (a wrong PEC)."""
        _call("device_corrupt_i2c_read_tail", self._handle, count)

    def stretch_i2c_clock(self, hold: bool) -> None:
        """While held, targets stretch the clock and the bus makes no progress."""
        _call("device_stretch_i2c_clock", self._handle, int(hold))

    def skip_next_i2c_restart_wait(self) -> None:
        """The next write without STOP ends with a STOP instead of waiting for the repeated START."""
        _call("device_skip_next_i2c_restart_wait", self._handle)

    def end_next_i2c_read_early(self) -> None:
        """The next read ends one byte before its count, as a transfer cut short."""
        _call("device_end_next_i2c_read_early", self._handle)


class SimulatedHost(_Handle):
    """A platform of virtual devices with a virtual clock; made the process's
    platform by ``install()``."""

    _free = "host_free"
    UNPLUG, SILENCE, FAIL_WAIT = 0, 1, 2

    def __init__(self) -> None:
        raise TypeError("use SimulatedHost.install()")

    @classmethod
    def install(cls) -> "SimulatedHost":
        """Makes a new simulated host the process-wide platform."""
        host = cls.__new__(cls)
        host._handle = _new("host_install")
        host._devices = []
        return host

    @staticmethod
    def uninstall() -> None:
        """Gives the process back to the operating system's backend."""
        _lib.corvane_sim_host_uninstall()

    def plug(self, device: VirtualDevice) -> None:
        """Attaches the chip: the library finds it from its next discovery pass."""
        _call("host_plug", self._handle, device._handle)
        self._devices.append(device)

    def unplug(self, device: VirtualDevice) -> None:
        """Detaches the chip, as pulling its USB cable does."""
        _call("host_unplug", self._handle, device._handle)

    def trace(self) -> List[Tuple[bool, bytes]]:
        """Every report that crossed: (to_device, its 64 bytes)."""
        count = _call("host_trace", self._handle, None, 0)
        reports = (_Report * max(count, 1))()
        _call("host_trace", self._handle, reports, count)
        return [(bool(r.to_device), bytes(r.bytes)) for r in reports[:count]]

    def clear_trace(self) -> None:
        """Forgets the reports traced so far."""
        _call("host_clear_trace", self._handle)

    def now_us(self) -> int:
        """Virtual time in microseconds."""
        return _call("host_now_us", self._handle)

    def advance_clock_us(self, us: int) -> None:
        """Moves the virtual clock on by ``us`` microseconds."""
        _call("host_advance_clock_us", self._handle, us)

    def set_report_time_us(self, us: int) -> None:
        """The bus time one report takes, in microseconds."""
        _call("host_set_report_time_us", self._handle, us)

    def transfer_count(self) -> int:
        """How many report transfers the host has carried out."""
        return _call("host_transfer_count", self._handle)

    def inject_fault(self, transfer: int, fault: int) -> None:
        """``SimulatedHost.UNPLUG``, ``SILENCE`` or ``FAIL_WAIT`` at that transfer."""
        _call("host_inject_fault", self._handle, transfer, fault)

    def clear_faults(self) -> None:
        """Forgets the host faults still pending."""
        _call("host_clear_faults", self._handle)
