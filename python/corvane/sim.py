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
import traceback
from ctypes import CFUNCTYPE, POINTER, Structure, c_int, c_int32, c_int64, c_size_t, c_uint8, c_uint16, c_uint32, c_uint64, c_void_p
from typing import Dict, List, Tuple

from ._errors import check
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
    return check(getattr(_lib, "corvane_sim_" + name)(*args), name)


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
    """A chip on the virtual I2C bus, modelled in Python: subclass it and
    override what the chip does. Called on the thread of the library call that
    drives the bus. An exception in a method is printed and counts as a
    not-acknowledge (start, write_byte) or 0xFF (read_byte)."""

    def start(self, read: bool) -> bool:
        """A START or repeated START addressed the chip; read is the R/W bit.
        Returns whether the chip acknowledges its address."""
        return True

    def write_byte(self, value: int) -> bool:
        """A byte written by the master; returns whether the chip acknowledges it."""
        return True

    def read_byte(self) -> int:
        """The next byte the master reads."""
        return 0xFF

    def stop(self) -> None:
        """STOP: the transfer with the chip ends."""

    def _native(self) -> c_void_p:
        native = self.__dict__.get("_corvane_native")
        if native is None:
            native = _CallbackTarget(self)
            self.__dict__["_corvane_native"] = native
        return native._handle


def _guarded(function, convert, failed):
    """A callback that never lets an exception into the library."""

    def call(_user, *args):
        try:
            return convert(function(*args))
        except BaseException:
            traceback.print_exc()
            return failed

    return call


def _acknowledge(result: object) -> int:
    return 1 if result else 0


class _CallbackTarget(_Handle):
    _free = "target_free"

    def __init__(self, target: I2cTarget) -> None:
        # The C functions must live as long as the native target may call them.
        self._callbacks = _Callbacks(
            _START(_guarded(lambda read: target.start(bool(read)), _acknowledge, 0)),
            _WRITE(_guarded(target.write_byte, _acknowledge, 0)),
            _READ(_guarded(target.read_byte, lambda value: int(value) & 0xFF, 0xFF)),
            _STOP(_guarded(target.stop, lambda _: None, None)),
        )
        self._handle = _new("callback_target_new", ctypes.byref(self._callbacks), None)


class _NativeTarget(_Handle):
    _free = "target_free"

    def _native(self) -> c_void_p:
        return self._handle


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
        _call("smbus_enable_pec", self._handle, int(on))

    def enable_byte_count(self, on: bool = True) -> None:
        _call("smbus_enable_byte_count", self._handle, int(on))

    def set_register(self, index: int, data: bytes) -> None:
        _call("smbus_set_register", self._handle, index, byte_array(data), len(data))

    def set_block_register(self, index: int, data: bytes) -> None:
        """A register whose reads start with its length and whose writes carry one."""
        _call("smbus_set_block_register", self._handle, index, byte_array(data), len(data))

    def register(self, index: int) -> bytes:
        length = _call("smbus_register", self._handle, index, None, 0)
        buffer = (c_uint8 * max(length, 1))()
        _call("smbus_register", self._handle, index, buffer, length)
        return bytes(buffer[:length])


class VirtualDevice(_Handle):
    """An emulated Corvane bridge chip."""

    _free = "device_free"

    def __init__(self, vid: int = 0x3A7C, pid: int = 0x01D5) -> None:
        self._handle = _new("device_new", vid, pid)
        self._targets: Dict[int, object] = {}

    def attach_target(self, address7: int, target: "I2cTarget | Eeprom | SmbusDevice") -> None:
        """Puts the target on the chip's bus at the 7-bit address (replacing any)."""
        _call("device_attach_target", self._handle, address7, target._native())
        self._targets[address7] = target

    def detach_target(self, address7: int) -> None:
        _call("device_detach_target", self._handle, address7)
        self._targets.pop(address7, None)

    def set_adc_input(self, channel: int, millivolts: int) -> None:
        _call("device_set_adc_input", self._handle, channel, millivolts)

    def set_pin_input(self, pin: int, level: int) -> None:
        _call("device_set_pin_input", self._handle, pin, level)

    def pin_level(self, pin: int) -> int:
        return _call("device_pin_level", self._handle, pin)

    def command_count(self, command: int) -> int:
        return _call("device_command_count", self._handle, command)

    # Faults, as the C++ VirtualDevice methods of the same names.
    def drop_responses(self, command: int, count: int = 1) -> None:
        _call("device_drop_responses", self._handle, command, count)

    def time_out_writes(self, count: int = 1) -> None:
        _call("device_time_out_writes", self._handle, count)

    def fail_waits(self, count: int = 1) -> None:
        _call("device_fail_waits", self._handle, count)

    def refuse_commands(self, command: int, status: int, count: int = 1) -> None:
        _call("device_refuse_commands", self._handle, command, status, count)

    def set_silent(self, silent: bool) -> None:
        _call("device_set_silent", self._handle, int(silent))

    def clear_faults(self) -> None:
        _call("device_clear_faults", self._handle)

    def refuse_i2c_chunks(self, count: int, engine_state: int = 0x41) -> None:
        _call("device_refuse_i2c_chunks", self._handle, count, engine_state)

    def refuse_i2c_status_polls(self, count: int) -> None:
        _call("device_refuse_i2c_status_polls", self._handle, count)

    def delay_i2c_read_data(self, count: int) -> None:
        _call("device_delay_i2c_read_data", self._handle, count)

    def offer_extra_i2c_bytes(self, extra: int) -> None:
        _call("device_offer_extra_i2c_bytes", self._handle, extra)

    def fail_next_i2c_transfer(self, engine_state: int) -> None:
        _call("device_fail_next_i2c_transfer", self._handle, engine_state)

    def corrupt_i2c_read_tail(self, count: int = 1) -> None:
        _call("device_corrupt_i2c_read_tail", self._handle, count)

    def stretch_i2c_clock(self, hold: bool) -> None:
        _call("device_stretch_i2c_clock", self._handle, int(hold))

    def skip_next_i2c_restart_wait(self) -> None:
        _call("device_skip_next_i2c_restart_wait", self._handle)

    def end_next_i2c_read_early(self) -> None:
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
        _call("host_plug", self._handle, device._handle)
        self._devices.append(device)

    def unplug(self, device: VirtualDevice) -> None:
        _call("host_unplug", self._handle, device._handle)

    def trace(self) -> List[Tuple[bool, bytes]]:
        """Every report that crossed: (to_device, its 64 bytes)."""
        count = _call("host_trace", self._handle, None, 0)
        reports = (_Report * max(count, 1))()
        _call("host_trace", self._handle, reports, count)
        return [(bool(r.to_device), bytes(r.bytes)) for r in reports[:count]]

    def clear_trace(self) -> None:
        _call("host_clear_trace", self._handle)

    def now_us(self) -> int:
        """Virtual time in microseconds."""
        return _call("host_now_us", self._handle)

    def advance_clock_us(self, us: int) -> None:
        _call("host_advance_clock_us", self._handle, us)

    def set_report_time_us(self, us: int) -> None:
        _call("host_set_report_time_us", self._handle, us)

    def transfer_count(self) -> int:
        return _call("host_transfer_count", self._handle)

    def inject_fault(self, transfer: int, fault: int) -> None:
        """``SimulatedHost.UNPLUG``, ``SILENCE`` or ``FAIL_WAIT`` at that transfer."""
        _call("host_inject_fault", self._handle, transfer, fault)

    def clear_faults(self) -> None:
        _call("host_clear_faults", self._handle)
