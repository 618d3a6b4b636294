# SPDX-License-Identifier: MIT
"""The bridge and its three facets, as the C++ VrelUsbI2c offers them."""

from __future__ import annotations

import ctypes
from typing import Optional, Sequence, Tuple

from ._errors import check, check_done, invalid, native_call
from ._handle import NativeHandle
from ._native import byte_array, lib

CURRENT_SETTINGS_ONLY = 0
PWRUP_DEFAULTS_ONLY = 1
BOTH = 2

DEFAULT_VID = 0x3A7C
DEFAULT_PID = 0x01D5
# The bus speeds whose divider fits the chip's byte (DevFunctions_M.hpp).
MIN_SPEED, MAX_SPEED = 46_333, 4_000_000


def bus_speed(hz: int) -> int:
    """``hz`` when it is a bus speed the bridge can run; ValueError otherwise."""
    if isinstance(hz, bool) or not isinstance(hz, int) or not MIN_SPEED <= hz <= MAX_SPEED:
        raise ValueError(f"speed is {MIN_SPEED:,} to {MAX_SPEED:,} Hz, not {hz!r}")
    return hz


def in_range(operation: str, name: str, value: int, low: int, high: int) -> int:
    """``value`` as an int when low <= value <= high; OSError(EINVAL) naming
    the argument otherwise, so that nothing wraps on its way to C."""
    try:
        number = value.__index__()
    except AttributeError:
        raise TypeError(f"{operation}: {name} must be an int, not {type(value).__name__}") from None
    if not low <= number <= high:
        raise invalid(operation, f"{name} {number:#x} is outside {low:#x}..{high:#x}")
    return number


def text(name: str, handle: int) -> str:
    """What the text getter corvane_<name> gives for the handle, at any length."""
    size = 64
    while True:
        buffer = ctypes.create_string_buffer(size)
        needed = check(native_call(getattr(lib, "corvane_" + name), handle, buffer, size), name)
        if needed <= size:
            return buffer.value.decode()
        size = needed


class _Facet:
    def __init__(self, bridge: "Bridge") -> None:
        self._bridge = bridge

    def _call(self, name: str, *args) -> int:
        """A value (>= 0), or CorvaneError for a negative code."""
        with self._bridge._handle as handle:
            return check(native_call(getattr(lib, "corvane_" + name), handle, *args), name)

    def _do(self, name: str, *args) -> None:
        """Nothing, or CorvaneError for any code but 0 (device status bytes included)."""
        with self._bridge._handle as handle:
            check_done(native_call(getattr(lib, "corvane_" + name), handle, *args), name)

    def _text(self, name: str) -> str:
        with self._bridge._handle as handle:
            return text(name, handle)

    def _set_text(self, name: str, text: str) -> None:
        self._do(name, text.encode())


def _address(operation: str, address: int) -> int:
    return in_range(operation, "address", address, 0, 0xFF)


class Functions(_Facet):
    """Bus transfers and pin functions (``VrelUsbI2c::Functions``). Addresses are
    8-bit address bytes (the 7-bit address shifted left, the R/W bit in bit 0),
    as in C++; ``corvane.SMBus`` speaks 7-bit addresses. Speeds are in Hz,
    46,333 to 4,000,000."""

    def enter_access_password(self, password: str) -> None:
        """Presents the flash's access password (up to 8 characters)."""
        self._do("enter_access_password", password.encode())

    def write_i2c_data(self, address: int, data: bytes, speed: int = 100_000) -> None:
        """Writes ``data`` to the address byte ``address``, with a STOP."""
        address = _address("write_i2c_data", address)
        self._do("write_i2c_data", address, byte_array(data), len(data), bus_speed(speed))

    def read_i2c_data(self, address: int, count: int, speed: int = 100_000) -> bytes:
        """Up to ``count`` bytes: only those the device sent, fewer when it
        ended the read early."""
        address = _address("read_i2c_data", address)
        count = in_range("read_i2c_data", "count", count, 0, 0xFFFF)
        buffer = (ctypes.c_uint8 * max(count, 1))()
        received = ctypes.c_uint32()
        self._do("read_i2c_data", address, buffer, count, bus_speed(speed), ctypes.byref(received))
        return bytes(buffer[: received.value])

    def stop_i2c_data_transfer(self) -> int:
        """Cancels the transfer in progress; returns the device's cancellation status."""
        return self._call("stop_i2c_data_transfer")

    def smb_write_block(self, address: int, data: bytes, speed: int = 100_000, uses_pec: bool = False) -> None:
        """Writes ``data`` as an SMBus block (PEC appended when ``uses_pec``)."""
        address = _address("smb_write_block", address)
        self._do("smb_write_block", address, byte_array(data), len(data), bus_speed(speed), int(uses_pec))

    def smb_read_block(
        self, address: int, count: int, speed: int = 100_000, uses_pec: bool = False, register: int = 0
    ) -> bytes:
        """Writes ``register``, then reads up to ``count`` bytes: only those the
        device sent (its PEC checked when ``uses_pec``)."""
        address = _address("smb_read_block", address)
        count = in_range("smb_read_block", "count", count, 0, 0xFFFF)
        register = in_range("smb_read_block", "register", register, 0, 0xFF)
        buffer = (ctypes.c_uint8 * max(count, 1))()
        received = ctypes.c_uint32()
        self._do("smb_read_block", address, buffer, count, bus_speed(speed), int(uses_pec), register, ctypes.byref(received))
        return bytes(buffer[: received.value])

    def reset_device(self) -> None:
        """Resets the chip: it leaves the bus and enumerates again."""
        self._do("reset_device")

    def clear_interrupt_pin_state(self) -> None:
        """Clears the interrupt flag the interrupt input set."""
        self._do("clear_interrupt_pin_state")

    def get_interrupt_pin_state(self) -> bool:
        """Whether the interrupt input has set the interrupt flag (not cleared)."""
        state = self._call("get_interrupt_pin_state")
        if state > 1:  # a device status byte: the chip refused
            raise CorvaneError(state, "get_interrupt_pin_state")
        return bool(state)

    def get_adc_data(self) -> Tuple[int, int, int]:
        """The three 10-bit ADC readings (GP1 to GP3)."""
        readings = (ctypes.c_uint16 * 3)()
        self._do("get_adc_data", readings)
        return tuple(readings)  # type: ignore[return-value]

    def read_gpio_pin_value(self, pin: int) -> int:
        """The level of GPIO pin 0 to 3."""
        return self._call("read_gpio_pin_value", in_range("read_gpio_pin_value", "pin", pin, 0, 0xFF))

    def write_gpio_pin_value(self, pin: int, value: int) -> None:
        """Drives GPIO output pin 0 to 3 to ``value`` (0 or 1)."""
        pin = in_range("write_gpio_pin_value", "pin", pin, 0, 0xFF)
        self._do("write_gpio_pin_value", pin, in_range("write_gpio_pin_value", "value", value, 0, 0xFF))


class Management(_Facet):
    """The attached bridges and the selected one (``VrelUsbI2c::Management``)."""

    def get_dev_count(self) -> int:
        """The number of attached bridges with this handle's USB IDs (runs a discovery pass)."""
        return self._call("get_dev_count")

    def get_selected_dev_num(self) -> int:
        """This handle's bridge: its number among those the last discovery pass found."""
        return self._call("get_selected_dev_num")

    def get_selected_dev_info(self) -> str:
        """The selected device's path; empty before a device was found."""
        return self._text("get_selected_dev_info")

    def select_dev(self, index: int) -> None:
        """Binds this handle to bridge ``index`` of those the last discovery pass
        found; other handles stay where they are."""
        self._do("select_dev", index)


class Settings(_Facet):
    """Current and power-up settings (``VrelUsbI2c::Settings``). Selectors:
    ``CURRENT_SETTINGS_ONLY``, ``PWRUP_DEFAULTS_ONLY``, ``BOTH``."""

    def get_connection_status(self) -> bool:
        """Runs a discovery pass: whether the selected bridge is connected."""
        return bool(self._call("get_connection_status"))

    def get_serial_number(self) -> str:
        """The USB serial number in flash."""
        return self._text("get_serial_number")

    def set_serial_number(self, text: str) -> None:
        """Writes the USB serial number (up to 30 characters) to flash."""
        self._set_text("set_serial_number", text)

    def get_serial_number_enumeration_enable(self) -> bool:
        """Whether the chip presents its serial number when it enumerates."""
        return bool(self._call("get_serial_number_enumeration_enable"))

    def set_serial_number_enumeration_enable(self, enable: bool) -> None:
        """Makes the chip present its serial number (or not) from its next reset."""
        self._do("set_serial_number_enumeration_enable", int(enable))

    def get_usb_vid(self) -> int:
        """The USB vendor ID in flash."""
        return self._call("get_usb_vid")

    def get_usb_pid(self) -> int:
        """The USB product ID in flash."""
        return self._call("get_usb_pid")

    def set_usb_vid_pid(self, vid: int, pid: int) -> None:
        """Writes the USB vendor and product IDs to flash (in force after a reset)."""
        self._do("set_usb_vid_pid", vid, pid)

    def get_usb_power_source(self) -> int:
        """0: bus powered, 1: self powered."""
        return self._call("get_usb_power_source")

    def set_usb_power_source(self, source: int) -> None:
        """0: bus powered, 1: self powered."""
        self._do("set_usb_power_source", source)

    def get_usb_remote_wakeup_enable(self) -> bool:
        """Whether the chip may wake the USB host."""
        return bool(self._call("get_usb_remote_wakeup_enable"))

    def set_usb_remote_wakeup_enable(self, enable: bool) -> None:
        """Lets the chip wake the USB host (or not)."""
        self._do("set_usb_remote_wakeup_enable", int(enable))

    def get_usb_current_requirement(self) -> int:
        """Milliamperes."""
        return self._call("get_usb_current_requirement")

    def set_usb_current_requirement(self, milliamperes: int) -> None:
        """Milliamperes the chip asks of the USB host."""
        self._do("set_usb_current_requirement", milliamperes)

    def get_usb_string_manufacturer(self) -> str:
        """The manufacturer string."""
        return self._text("get_usb_string_manufacturer")

    def set_usb_string_manufacturer(self, text: str) -> None:
        """Writes the manufacturer string (up to 30 UTF-16 code units)."""
        self._set_text("set_usb_string_manufacturer", text)

    def get_usb_string_descriptor(self) -> str:
        """The product string."""
        return self._text("get_usb_string_descriptor")

    def set_usb_string_descriptor(self, text: str) -> None:
        """Writes the product string (up to 30 UTF-16 code units)."""
        self._set_text("set_usb_string_descriptor", text)

    def get_flash_protection_state(self) -> int:
        """0: not protected, 1: password, 2: locked for good."""
        return self._call("get_flash_protection_state")

    def set_flash_protection_off(self) -> None:
        """Removes the flash protection (after the access password was entered)."""
        self._do("set_flash_protection_off")

    def set_flash_permanent_lock(self) -> None:
        """Locks the flash for good: no flash record can be written again."""
        self._do("set_flash_permanent_lock")

    def set_flash_password_protection(self, password: str) -> None:
        """Protects the flash with ``password`` (up to 8 characters)."""
        self._do("set_flash_password_protection", password.encode())

    def get_gp_pin_configuration(self, which: int) -> Tuple[Tuple[int, ...], Tuple[int, ...], Tuple[int, ...]]:
        """(designations, directions, values) of GP0 to GP3."""
        arrays = [(ctypes.c_uint8 * 4)() for _ in range(3)]
        self._do("get_gp_pin_configuration", which, *arrays)
        return tuple(tuple(a) for a in arrays)  # type: ignore[return-value]

    def set_gp_pin_configuration(
        self, which: int, designations: Sequence[int], directions: Sequence[int], values: Sequence[int]
    ) -> None:
        """Sets designation, direction and value of GP0 to GP3 (four values each)."""
        for array in (designations, directions, values):
            if len(array) != 4:
                raise ValueError("pin arrays hold GP0 to GP3: four values each")
        self._do("set_gp_pin_configuration", which, *(byte_array(a) for a in (designations, directions, values)))

    def get_gp_pin_direction(self, which: int, pin: int) -> int:
        """Direction of GP ``pin``: 0 output, 1 input."""
        return self._call("get_gp_pin_direction", which, in_range("get_gp_pin_direction", "pin", pin, 0, 0xFF))

    def set_gp_pin_direction(self, which: int, pin: int, direction: int) -> None:
        """Sets the direction of GP ``pin``: 0 output, 1 input."""
        pin = in_range("set_gp_pin_direction", "pin", pin, 0, 0xFF)
        direction = in_range("set_gp_pin_direction", "direction", direction, 0, 0xFF)
        self._do("set_gp_pin_direction", which, pin, direction)

    def get_dac_voltage_reference(self) -> int:
        """The DAC's reference code."""
        return self._call("get_dac_voltage_reference")

    def set_dac_voltage_reference(self, vref: int) -> None:
        """Sets the DAC's reference code."""
        self._do("set_dac_voltage_reference", vref)

    def get_dac_value(self) -> int:
        """The DAC's output value (0 to 31)."""
        return self._call("get_dac_value")

    def set_dac_value(self, value: int) -> None:
        """Sets the DAC's output value (0 to 31)."""
        self._do("set_dac_value", value)

    def get_adc_voltage_reference(self) -> int:
        """The ADC's reference code."""
        return self._call("get_adc_voltage_reference")

    def set_adc_voltage_reference(self, vref: int) -> None:
        """Sets the ADC's reference code."""
        self._do("set_adc_voltage_reference", vref)

    def get_interrupt_pin_mode(self, which: int) -> int:
        """The edges the interrupt input detects: 0 none, 1 rising, 2 falling, 3 both."""
        return self._call("get_interrupt_pin_mode", which)

    def set_interrupt_pin_mode(self, which: int, mode: int) -> None:
        """Sets the edges the interrupt input detects: 0 none, 1 rising, 2 falling, 3 both."""
        self._do("set_interrupt_pin_mode", which, mode)

    def get_clock_pin_divider_value(self, which: int) -> int:
        """The clock output's divider code (48 MHz >> code)."""
        return self._call("get_clock_pin_divider_value", which)

    def get_clock_pin_duty_cycle(self, which: int) -> int:
        """The clock output's duty cycle code."""
        return self._call("get_clock_pin_duty_cycle", which)

    def set_clock_pin_configuration(self, which: int, divider: int, duty_cycle: int) -> None:
        """Sets the clock output's divider and duty cycle codes."""
        self._do("set_clock_pin_configuration", which, divider, duty_cycle)

    def get_firmware_version(self) -> str:
        """"X.Y"."""
        return self._text("get_firmware_version")


def _initial_pin_value_mirrors() -> None:
    """get_/set_initial_pin_value_led_uart_tx, _led_uart_rx, _led_i2c, _sspnd, _usbcfg."""
    for pin in ("led_uart_tx", "led_uart_rx", "led_i2c", "sspnd", "usbcfg"):

        def getter(self: Settings, _name: str = "get_initial_pin_value_" + pin) -> int:
            return self._call(_name)

        def setter(self: Settings, value: int, _name: str = "set_initial_pin_value_" + pin) -> None:
            self._do(_name, value)

        getter.__doc__ = f"Power-up level of the {pin} pin."
        setter.__doc__ = f"Sets the power-up level of the {pin} pin."
        setattr(Settings, "get_initial_pin_value_" + pin, getter)
        setattr(Settings, "set_initial_pin_value_" + pin, setter)


_initial_pin_value_mirrors()


class Bridge:
    """A handle on one Corvane bridge: ``.functions``, ``.settings``, ``.management``.

    The bridge is chosen by ``path`` (its device path), else by ``serial``
    (its USB serial number), else by ``index`` (its number among the bridges
    attached now; 0 when nothing is given). The handle stays bound to that
    bridge: other handles, buses or library objects never move it. While the
    bridge is unplugged its calls fail with errno ENODEV (BRIDGE_UNPLUGGED);
    once it is back (at the same path, or for a handle opened by serial under
    that serial) they work again. No such bridge: ``FileNotFoundError``
    (a CorvaneError with errno ENOENT).

    Threads may share a handle; ``close()`` waits for no one: a call in
    progress finishes, later calls raise OSError(EBADF).
    """

    def __init__(
        self,
        index: Optional[int] = None,
        serial: Optional[str] = None,
        vid: int = DEFAULT_VID,
        pid: int = DEFAULT_PID,
        *,
        path: Optional[str] = None,
    ) -> None:
        self._handle = NativeHandle(open_bridge(index, serial, path, vid, pid), lib.corvane_bridge_free)
        self.functions = Functions(self)
        self.settings = Settings(self)
        self.management = Management(self)

    @property
    def path(self) -> str:
        """The device path this handle is bound to."""
        return self.functions._text("bridge_path")

    @property
    def serial(self) -> str:
        """The serial number the handle was opened by; empty when it was not."""
        return self.functions._text("bridge_serial")

    def close(self) -> None:
        """Frees the handle (once a call in progress returns); the bridge stays
        as it is. Calls after it raise OSError(EBADF)."""
        handle = self.__dict__.get("_handle")
        if handle is not None:
            handle.close()

    def __enter__(self) -> "Bridge":
        return self

    def __exit__(self, *exc) -> None:
        self.close()

    def __del__(self) -> None:
        self.close()


def open_bridge(index: Optional[int], serial: Optional[str], path: Optional[str], vid: int, pid: int) -> int:
    """A C bridge handle on the chosen bridge (see ``Bridge``)."""
    index = in_range("open", "index", 0 if index is None else index, 0, 0x7FFFFFFF)
    vid = in_range("open", "vid", vid, 0, 0xFFFF)
    pid = in_range("open", "pid", pid, 0, 0xFFFF)
    handle = ctypes.c_void_p()
    serial_text, path_text = (None if value is None else value.encode() for value in (serial, path))
    check(lib.corvane_bridge_open(vid, pid, index, serial_text, path_text, ctypes.byref(handle)), "open")
    return handle.value  # type: ignore[return-value]
