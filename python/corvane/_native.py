# SPDX-License-Identifier: MIT
"""Finds and loads the shared libraries and declares their C functions."""

from __future__ import annotations

import ctypes
import ctypes.util
import os
import sys
from ctypes import POINTER, c_char_p, c_int, c_int32, c_int64, c_size_t, c_uint8, c_uint16, c_uint32, c_void_p
from typing import Dict, List, Optional, Sequence, Tuple

VERSION = "0.2.0"
_REQUIRED = tuple(int(part) for part in VERSION.split(".")[:2])

_HERE = os.path.dirname(os.path.abspath(__file__))


def _file_names(name: str) -> List[str]:
    if sys.platform == "win32":
        return [f"lib{name}.dll", f"{name}.dll"]
    if sys.platform == "darwin":
        return [f"lib{name}.dylib", f"lib{name}.0.dylib"]
    return [f"lib{name}.so.0", f"lib{name}.so"]


def _candidates(name: str, variable: str, beside: Optional[str]) -> List[str]:
    """Where to look, in order: the variable, next to the package, next to
    the main library, the system loader."""
    if os.environ.get(variable):
        return [os.environ[variable]]
    found = [os.path.join(_HERE, f) for f in _file_names(name)]
    if beside:
        found += [os.path.join(beside, f) for f in _file_names(name)]
    found = [path for path in found if os.path.exists(path)]
    system = ctypes.util.find_library(name)
    found += [system] if system else []
    return found + _file_names(name)


def _open(name: str, variable: str, beside: Optional[str] = None) -> ctypes.CDLL:
    tried = []
    for path in _candidates(name, variable, beside):
        try:
            return ctypes.CDLL(path)
        except OSError as error:
            tried.append(f"{path}: {error}")
    raise ImportError(
        f"corvane: cannot load the shared library lib{name} of the Corvane host library. "
        f"Build it as a shared library (cmake --preset shared && cmake --build --preset shared) "
        f"and install it (cmake --install build/shared), or set {variable} to its path "
        f"(for example build/shared/lib{name}.so). Tried:\n  " + "\n  ".join(tried)
    )


def check_version(lib: ctypes.CDLL, required: Tuple[int, int] = _REQUIRED) -> str:
    """The library's version; ImportError unless its major and minor match."""
    try:
        function = lib.corvane_version
    except AttributeError:
        raise ImportError(
            f"corvane: {lib._name} has no C interface (corvane_version): it is not the Corvane "
            f"library or too old; this package needs version {required[0]}.{required[1]}.x"
        ) from None
    function.restype = c_char_p
    function.argtypes = []
    version = function().decode()
    if tuple(int(part) for part in version.split(".")[:2]) != tuple(required):
        raise ImportError(
            f"corvane: {lib._name} is version {version}, this package needs "
            f"{required[0]}.{required[1]}.x: install the library and the Python package of the "
            f"same release, or point CORVANE_LIBRARY at a matching libcorvane"
        )
    return version


def _declare(lib: ctypes.CDLL, table: Dict[str, tuple]) -> None:
    for name, (restype, *argtypes) in table.items():
        function = getattr(lib, name)
        function.restype = restype
        function.argtypes = argtypes


_B = c_void_p  # handles
_P8 = POINTER(c_uint8)
_I32, _I64, _U8, _U32 = c_int32, c_int64, c_uint8, c_uint32


class I2cMessage(ctypes.Structure):
    _fields_ = [("address7", c_uint8), ("read", c_uint8), ("length", c_uint16), ("data", _P8)]


LIBRARY_FUNCTIONS: Dict[str, tuple] = {
    "corvane_result_name": (c_char_p, _I32),
    "corvane_result_description": (c_char_p, _I32),
    "corvane_result_errno": (c_int, _I32),
    "corvane_version_number": (_U32,),
    "corvane_set_pacing": (_I32, _I32),
    "corvane_get_pacing": (_I32,),
    "corvane_set_busy_timeout": (None, _U32),
    "corvane_get_busy_timeout": (_U32,),
    "corvane_bridge_new": (_I32, _U32, _U32, POINTER(_B)),
    "corvane_bridge_open": (_I32, _U32, _U32, _I32, c_char_p, c_char_p, POINTER(_B)),
    "corvane_bridge_path": (_I32, _B, c_char_p, c_size_t),
    "corvane_bridge_serial": (_I32, _B, c_char_p, c_size_t),
    "corvane_bridge_free": (None, _B),
    "corvane_enter_access_password": (_I32, _B, c_char_p),
    "corvane_write_i2c_data": (_I32, _B, _U8, _P8, _U32, _U32),
    "corvane_read_i2c_data": (_I32, _B, _U8, _P8, _U32, _U32, POINTER(_U32)),
    "corvane_stop_i2c_data_transfer": (_I32, _B),
    "corvane_smb_write_block": (_I32, _B, _U8, _P8, _U32, _U32, _U8),
    "corvane_smb_read_block": (_I32, _B, _U8, _P8, _U32, _U32, _U8, _U8, POINTER(_U32)),
    "corvane_reset_device": (_I32, _B),
    "corvane_clear_interrupt_pin_state": (_I32, _B),
    "corvane_get_interrupt_pin_state": (_I32, _B),
    "corvane_get_adc_data": (_I32, _B, POINTER(c_uint16)),
    "corvane_read_gpio_pin_value": (_I32, _B, _U8),
    "corvane_write_gpio_pin_value": (_I32, _B, _U8, _U8),
    "corvane_get_dev_count": (_I32, _B),
    "corvane_get_selected_dev_num": (_I32, _B),
    "corvane_get_selected_dev_info": (_I32, _B, c_char_p, c_size_t),
    "corvane_select_dev": (_I32, _B, _I32),
    "corvane_get_connection_status": (_I32, _B),
    "corvane_get_serial_number": (_I32, _B, c_char_p, c_size_t),
    "corvane_set_serial_number": (_I32, _B, c_char_p),
    "corvane_get_serial_number_enumeration_enable": (_I32, _B),
    "corvane_set_serial_number_enumeration_enable": (_I32, _B, _I32),
    "corvane_get_usb_vid": (_I64, _B),
    "corvane_get_usb_pid": (_I64, _B),
    "corvane_set_usb_vid_pid": (_I32, _B, _U32, _U32),
    "corvane_get_usb_power_source": (_I32, _B),
    "corvane_set_usb_power_source": (_I32, _B, _I32),
    "corvane_get_usb_remote_wakeup_enable": (_I32, _B),
    "corvane_set_usb_remote_wakeup_enable": (_I32, _B, _I32),
    "corvane_get_usb_current_requirement": (_I32, _B),
    "corvane_set_usb_current_requirement": (_I32, _B, _I32),
    "corvane_get_usb_string_manufacturer": (_I32, _B, c_char_p, c_size_t),
    "corvane_set_usb_string_manufacturer": (_I32, _B, c_char_p),
    "corvane_get_usb_string_descriptor": (_I32, _B, c_char_p, c_size_t),
    "corvane_set_usb_string_descriptor": (_I32, _B, c_char_p),
    "corvane_get_flash_protection_state": (_I32, _B),
    "corvane_set_flash_protection_off": (_I32, _B),
    "corvane_set_flash_permanent_lock": (_I32, _B),
    "corvane_set_flash_password_protection": (_I32, _B, c_char_p),
    "corvane_get_gp_pin_configuration": (_I32, _B, _I32, _P8, _P8, _P8),
    "corvane_set_gp_pin_configuration": (_I32, _B, _I32, _P8, _P8, _P8),
    "corvane_get_gp_pin_direction": (_I32, _B, _I32, _U8),
    "corvane_set_gp_pin_direction": (_I32, _B, _I32, _U8, _U8),
    "corvane_get_dac_voltage_reference": (_I32, _B),
    "corvane_set_dac_voltage_reference": (_I32, _B, _I32),
    "corvane_get_dac_value": (_I32, _B),
    "corvane_set_dac_value": (_I32, _B, _I32),
    "corvane_get_adc_voltage_reference": (_I32, _B),
    "corvane_set_adc_voltage_reference": (_I32, _B, _I32),
    "corvane_get_interrupt_pin_mode": (_I32, _B, _I32),
    "corvane_set_interrupt_pin_mode": (_I32, _B, _I32, _I32),
    "corvane_get_clock_pin_divider_value": (_I32, _B, _I32),
    "corvane_get_clock_pin_duty_cycle": (_I32, _B, _I32),
    "corvane_set_clock_pin_configuration": (_I32, _B, _I32, _I32, _I32),
    "corvane_get_firmware_version": (_I32, _B, c_char_p, c_size_t),
}
for _pin in ("led_uart_tx", "led_uart_rx", "led_i2c", "sspnd", "usbcfg"):
    LIBRARY_FUNCTIONS[f"corvane_get_initial_pin_value_{_pin}"] = (_I32, _B)
    LIBRARY_FUNCTIONS[f"corvane_set_initial_pin_value_{_pin}"] = (_I32, _B, _I32)

BUS_FUNCTIONS: Dict[str, tuple] = {
    "corvane_bus_new": (_I32, _B, _U32, POINTER(_B)),
    "corvane_bus_free": (None, _B),
    "corvane_bus_set_speed": (_I32, _B, _U32),
    "corvane_bus_speed": (_I64, _B),
    "corvane_bus_set_pec": (_I32, _B, _I32),
    "corvane_bus_pec": (_I32, _B),
    "corvane_bus_write": (_I32, _B, _U8, _P8, c_size_t),
    "corvane_bus_read": (_I32, _B, _U8, _P8, c_size_t),
    "corvane_bus_write_read": (_I32, _B, _U8, _P8, c_size_t, _P8, c_size_t),
    "corvane_bus_transfer": (_I32, _B, POINTER(I2cMessage), c_size_t),
    "corvane_bus_quick": (_I32, _B, _U8),
    "corvane_bus_read_byte": (_I32, _B, _U8),
    "corvane_bus_write_byte": (_I32, _B, _U8, _U8),
    "corvane_bus_read_byte_data": (_I32, _B, _U8, _U8),
    "corvane_bus_write_byte_data": (_I32, _B, _U8, _U8, _U8),
    "corvane_bus_read_word_data": (_I32, _B, _U8, _U8),
    "corvane_bus_write_word_data": (_I32, _B, _U8, _U8, c_uint16),
    "corvane_bus_process_call": (_I32, _B, _U8, _U8, c_uint16),
    "corvane_bus_read_block_data": (_I32, _B, _U8, _U8, _P8, c_size_t),
    "corvane_bus_write_block_data": (_I32, _B, _U8, _U8, _P8, c_size_t),
    "corvane_bus_block_process_call": (_I32, _B, _U8, _U8, _P8, c_size_t, _P8, c_size_t),
    "corvane_bus_read_i2c_block_data": (_I32, _B, _U8, _U8, _P8, c_size_t),
    "corvane_bus_write_i2c_block_data": (_I32, _B, _U8, _U8, _P8, c_size_t),
}

lib = _open("corvane", "CORVANE_LIBRARY")
library_version = check_version(lib)
_declare(lib, LIBRARY_FUNCTIONS)
_declare(lib, BUS_FUNCTIONS)

_sim: Optional[ctypes.CDLL] = None


def sim_library() -> ctypes.CDLL:
    """libcorvane_sim, loaded on first use, beside libcorvane when possible."""
    global _sim
    if _sim is None:
        beside = os.path.dirname(lib._name) if os.path.dirname(lib._name) else None
        _sim = _open("corvane_sim", "CORVANE_SIM_LIBRARY", beside)
    return _sim


def byte_array(data: Sequence[int]) -> "ctypes.Array[c_uint8]":
    """The bytes as a C array (at least one element, so the pointer is never null)."""
    values = bytes(data)
    return (c_uint8 * max(len(values), 1)).from_buffer_copy(values or b"\0")
