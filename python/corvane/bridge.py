"""The bridge and its three facets, as the C++ VrelUsbI2c offers them."""

from __future__ import annotations

import ctypes
from typing import Optional, Sequence, Tuple

from ._errors import CorvaneError, check, check_done
from ._native import byte_array, lib

CURRENT_SETTINGS_ONLY = 0
PWRUP_DEFAULTS_ONLY = 1
BOTH = 2


class _Facet:
    def __init__(self, bridge: "Bridge") -> None:
        self._bridge = bridge

    def _call(self, name: str, *args) -> int:
        """A value (>= 0), or CorvaneError for a negative code."""
        return check(getattr(lib, "corvane_" + name)(self._bridge._handle, *args), name)

    def _do(self, name: str, *args) -> None:
        """Nothing, or CorvaneError for any code but 0 (device status bytes included)."""
        check_done(getattr(lib, "corvane_" + name)(self._bridge._handle, *args), name)

    def _text(self, name: str) -> str:
        size = 64
        while True:
            buffer = ctypes.create_string_buffer(size)
            needed = self._call(name, buffer, size)
            if needed <= size:
                return buffer.value.decode()
            size = needed

    def _set_text(self, name: str, text: str) -> None:
        self._do(name, text.encode())


class Functions(_Facet):
    """Bus transfers and pin functions (``VrelUsbI2c::Functions``). Addresses are
    8-bit address bytes, as in C++; ``corvane.SMBus`` speaks 7-bit addresses."""

    def enter_access_password(self, password: str) -> None:
        self._do("enter_access_password", password.encode())

    def write_i2c_data(self, address: int, data: bytes, speed: int = 100_000) -> None:
        self._do("write_i2c_data", address, byte_array(data), len(data), speed)

    def read_i2c_data(self, address: int, count: int, speed: int = 100_000) -> bytes:
        """Up to ``count`` bytes: only those the device sent, fewer when it
        ended the read early."""
        buffer = (ctypes.c_uint8 * max(count, 1))()
        received = ctypes.c_uint32()
        self._do("read_i2c_data", address, buffer, count, speed, ctypes.byref(received))
        return bytes(buffer[: received.value])

    def stop_i2c_data_transfer(self) -> int:
        """The device's cancellation status."""
        return self._call("stop_i2c_data_transfer")

    def smb_write_block(self, address: int, data: bytes, speed: int = 100_000, uses_pec: bool = False) -> None:
        self._do("smb_write_block", address, byte_array(data), len(data), speed, int(uses_pec))

    def smb_read_block(
        self, address: int, count: int, speed: int = 100_000, uses_pec: bool = False, register: int = 0
    ) -> bytes:
        """Up to ``count`` bytes: only those the device sent."""
        buffer = (ctypes.c_uint8 * max(count, 1))()
        received = ctypes.c_uint32()
        self._do("smb_read_block", address, buffer, count, speed, int(uses_pec), register, ctypes.byref(received))
        return bytes(buffer[: received.value])

    def reset_device(self) -> None:
        self._do("reset_device")

    def clear_interrupt_pin_state(self) -> None:
        self._do("clear_interrupt_pin_state")

    def get_adc_data(self) -> Tuple[int, int, int]:
        """The three 10-bit ADC readings (GP1 to GP3)."""
        readings = (ctypes.c_uint16 * 3)()
        self._do("get_adc_data", readings)
        return tuple(readings)  # type: ignore[return-value]

    def read_gpio_pin_value(self, pin: int) -> int:
        return self._call("read_gpio_pin_value", pin)

    def write_gpio_pin_value(self, pin: int, value: int) -> None:
        self._do("write_gpio_pin_value", pin, value)


class Management(_Facet):
    """The attached bridges and the selected one (``VrelUsbI2c::Management``)."""

    def get_dev_count(self) -> int:
        return self._call("get_dev_count")

    def get_selected_dev_num(self) -> int:
        return self._call("get_selected_dev_num")

    def get_selected_dev_info(self) -> str:
        """The selected device's path; empty before a device was found."""
        return self._text("get_selected_dev_info")

    def select_dev(self, index: int) -> None:
        self._do("select_dev", index)


class Settings(_Facet):
    """Current and power-up settings (``VrelUsbI2c::Settings``). Selectors:
    ``CURRENT_SETTINGS_ONLY``, ``PWRUP_DEFAULTS_ONLY``, ``BOTH``."""

    def get_connection_status(self) -> bool:
        """Runs a discovery pass: whether the selected bridge is connected."""
        return bool(self._call("get_connection_status"))

    def get_serial_number(self) -> str:
        return self._text("get_serial_number")

    def set_serial_number(self, text: str) -> None:
        self._set_text("set_serial_number", text)

    def get_serial_number_enumeration_enable(self) -> bool:
        return bool(self._call("get_serial_number_enumeration_enable"))

    def set_serial_number_enumeration_enable(self, enable: bool) -> None:
        self._do("set_serial_number_enumeration_enable", int(enable))

    def get_usb_vid(self) -> int:
        return self._call("get_usb_vid")

    def get_usb_pid(self) -> int:
        return self._call("get_usb_pid")

    def set_usb_vid_pid(self, vid: int, pid: int) -> None:
        self._do("set_usb_vid_pid", vid, pid)

    def get_usb_power_source(self) -> int:
        """0: bus powered, 1: self powered."""
        return self._call("get_usb_power_source")

    def set_usb_power_source(self, source: int) -> None:
        self._do("set_usb_power_source", source)

    def get_usb_remote_wakeup_enable(self) -> bool:
        return bool(self._call("get_usb_remote_wakeup_enable"))

    def set_usb_remote_wakeup_enable(self, enable: bool) -> None:
        self._do("set_usb_remote_wakeup_enable", int(enable))

    def get_usb_current_requirement(self) -> int:
        """Milliamperes."""
        return self._call("get_usb_current_requirement")

    def set_usb_current_requirement(self, milliamperes: int) -> None:
        self._do("set_usb_current_requirement", milliamperes)

    def get_usb_string_manufacturer(self) -> str:
        return self._text("get_usb_string_manufacturer")

    def set_usb_string_manufacturer(self, text: str) -> None:
        self._set_text("set_usb_string_manufacturer", text)

    def get_usb_string_descriptor(self) -> str:
        """The product string."""
        return self._text("get_usb_string_descriptor")

    def set_usb_string_descriptor(self, text: str) -> None:
        self._set_text("set_usb_string_descriptor", text)

    def get_flash_protection_state(self) -> int:
        """0: not protected, 1: password, 2: locked for good."""
        return self._call("get_flash_protection_state")

    def set_flash_protection_off(self) -> None:
        self._do("set_flash_protection_off")

    def set_flash_permanent_lock(self) -> None:
        self._do("set_flash_permanent_lock")

    def set_flash_password_protection(self, password: str) -> None:
        self._do("set_flash_password_protection", password.encode())

    def get_gp_pin_configuration(self, which: int) -> Tuple[Tuple[int, ...], Tuple[int, ...], Tuple[int, ...]]:
        """(designations, directions, values) of GP0 to GP3."""
        arrays = [(ctypes.c_uint8 * 4)() for _ in range(3)]
        self._do("get_gp_pin_configuration", which, *arrays)
        return tuple(tuple(a) for a in arrays)  # type: ignore[return-value]

    def set_gp_pin_configuration(
        self, which: int, designations: Sequence[int], directions: Sequence[int], values: Sequence[int]
    ) -> None:
        for array in (designations, directions, values):
            if len(array) != 4:
                raise ValueError("pin arrays hold GP0 to GP3: four values each")
        self._do("set_gp_pin_configuration", which, *(byte_array(a) for a in (designations, directions, values)))

    def get_gp_pin_direction(self, which: int, pin: int) -> int:
        return self._call("get_gp_pin_direction", which, pin)

    def set_gp_pin_direction(self, which: int, pin: int, direction: int) -> None:
        self._do("set_gp_pin_direction", which, pin, direction)

    def get_dac_voltage_reference(self) -> int:
        return self._call("get_dac_voltage_reference")

    def set_dac_voltage_reference(self, vref: int) -> None:
        self._do("set_dac_voltage_reference", vref)

    def get_dac_value(self) -> int:
        return self._call("get_dac_value")

    def set_dac_value(self, value: int) -> None:
        self._do("set_dac_value", value)

    def get_adc_voltage_reference(self) -> int:
        return self._call("get_adc_voltage_reference")

    def set_adc_voltage_reference(self, vref: int) -> None:
        self._do("set_adc_voltage_reference", vref)

    def get_interrupt_pin_mode(self, which: int) -> int:
        return self._call("get_interrupt_pin_mode", which)

    def set_interrupt_pin_mode(self, which: int, mode: int) -> None:
        self._do("set_interrupt_pin_mode", which, mode)

    def get_clock_pin_divider_value(self, which: int) -> int:
        return self._call("get_clock_pin_divider_value", which)

    def get_clock_pin_duty_cycle(self, which: int) -> int:
        return self._call("get_clock_pin_duty_cycle", which)

    def set_clock_pin_configuration(self, which: int, divider: int, duty_cycle: int) -> None:
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
    """A Corvane bridge: ``.functions``, ``.settings``, ``.management``.

    ``index`` selects the bridge by its number (0 when neither is given),
    ``serial`` by its USB serial number. CorvaneError (errno ENODEV) when no
    such bridge is attached.
    """

    def __init__(
        self, index: Optional[int] = None, serial: Optional[str] = None, vid: int = 0x3A7C, pid: int = 0x01D5
    ) -> None:
        handle = ctypes.c_void_p()
        check(
            lib.corvane_bridge_open(
                vid, pid, 0 if index is None else index, None if serial is None else serial.encode(), None,
                ctypes.byref(handle),
            ),
            "bridge_open",
        )
        self._handle = handle
        self.functions = Functions(self)
        self.settings = Settings(self)
        self.management = Management(self)

    def close(self) -> None:
        """Frees the library object; the bridge stays as it is."""
        if getattr(self, "_handle", None):
            lib.corvane_bridge_free(self._handle)
            self._handle = None

    def __enter__(self) -> "Bridge":
        return self

    def __exit__(self, *exc) -> None:
        self.close()

    def __del__(self) -> None:
        self.close()
