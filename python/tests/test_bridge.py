# SPDX-License-Identifier: MIT
"""The facets through Python on the virtual chip, and the errors they raise."""

import errno
import sys

import pytest

import corvane
from corvane import sim


@pytest.mark.parametrize(
    "text",
    [
        "Bänch 🔧",
        "€" * 21,  # 63 bytes: the first buffer (64) holds it and its NUL
        "€" * 21 + "a",  # 64 bytes: one more than the first buffer holds
        "€" * 30,  # the longest string, 90 bytes
    ],
)
def test_texts_round_trip_as_utf8(bridge, text):
    settings = bridge.settings
    settings.set_usb_string_descriptor(text)
    assert settings.get_usb_string_descriptor() == text


def test_texts_and_identity(bridge):
    settings = bridge.settings
    assert settings.get_usb_string_manufacturer() == "Corvane Systems"
    assert settings.get_firmware_version() == "1.2"
    path = bridge.management.get_selected_dev_info()
    assert path.startswith("\\\\?\\hid#vid_3a7c&pid_01d5" if sys.platform == "win32" else "/dev/hidraw")
    with pytest.raises(corvane.CorvaneError) as raised:
        settings.set_usb_string_descriptor("x" * 31)
    assert (raised.value.errno, raised.value.name) == (errno.EINVAL, "INVALID_ARG_1")


def test_numbers_pins_and_adc(chip, bridge):
    settings, functions = bridge.settings, bridge.functions
    assert (settings.get_usb_vid(), settings.get_usb_pid()) == (0x3A7C, 0x01D5)
    settings.set_usb_current_requirement(200)
    assert settings.get_usb_current_requirement() == 200
    settings.set_gp_pin_configuration(corvane.CURRENT_SETTINGS_ONLY, (0, 2, 0, 0), (1, 1, 0, 1), (0, 0, 1, 0))
    assert settings.get_gp_pin_configuration(corvane.CURRENT_SETTINGS_ONLY) == (
        (0, 2, 0, 0), (1, 1, 0, 1), (0, 0, 1, 0))
    functions.write_gpio_pin_value(2, 0)
    assert chip.device.pin_level(2) == 0
    chip.device.set_pin_input(0, 1)
    assert functions.read_gpio_pin_value(0) == 1
    chip.device.set_adc_input(0, 1650)
    assert functions.get_adc_data()[0] == 511
    settings.set_initial_pin_value_led_i2c(1)
    assert settings.get_initial_pin_value_led_i2c() == 1
    assert functions.get_interrupt_pin_state() is False


def test_i2c_and_smbus_transfers(chip, bridge):
    functions = bridge.functions
    functions.write_i2c_data(0xA0, b"\x00\x10abc")
    assert chip.sent(0x90)[-1][:9] == bytes([0x90, 5, 0, 0xA0, 0, 0x10]) + b"abc"
    assert chip.eeprom.read(0x10, 3) == b"abc"
    functions.write_i2c_data(0xA0, b"\x00\x10")
    assert functions.read_i2c_data(0xA1, 3) == b"abc"
    chip.battery.set_register(0x20, b"Cv1")
    assert functions.smb_read_block(0x16, 3, uses_pec=True, register=0x20) == b"Cv1"


@pytest.mark.parametrize(
    "fault, expected_errno, name",
    [
        (lambda chip: None, errno.ENXIO, "I2C_NOT_ACKNOWLEDGED"),
        (lambda chip: chip.device.set_silent(True), errno.ETIMEDOUT, "REPORT_READ_FAILED"),
        (lambda chip: chip.host.unplug(chip.device), errno.ENODEV, "BRIDGE_UNPLUGGED"),
    ],
)
def test_failures_raise_oserror_with_errno(chip, bridge, fault, expected_errno, name):
    fault(chip)
    with pytest.raises(OSError) as raised:
        bridge.functions.read_i2c_data(0xA3, 1)  # nobody at 0x51
    error = raised.value
    assert isinstance(error, corvane.CorvaneError)
    assert (error.errno, error.name) == (expected_errno, name)
    assert error.code < 0 and error.description


def test_device_status_is_a_failure(chip, bridge):
    chip.device.refuse_commands(0x50, 3)
    with pytest.raises(corvane.CorvaneError) as raised:
        bridge.functions.write_gpio_pin_value(0, 1)
    assert (raised.value.code, raised.value.name, raised.value.errno) == (3, "DEVICE_STATUS", errno.EIO)


def test_bridge_by_serial(chip):
    second = sim.VirtualDevice()
    chip.host.plug(second)
    serials = []
    for index in (0, 1):
        with corvane.Bridge(index=index) as bridge:
            serials.append(bridge.settings.get_serial_number())
    with corvane.Bridge(serial=serials[1]) as bridge:
        assert bridge.management.get_selected_dev_num() == 1
        assert (bridge.serial, bridge.path) == (serials[1], second_path(chip))
    with corvane.Bridge(path=second_path(chip)) as bridge:
        assert (bridge.serial, bridge.settings.get_serial_number()) == ("", serials[1])


def second_path(chip):
    with corvane.Bridge(index=1) as bridge:
        return bridge.path


@pytest.mark.parametrize(
    "open_it",
    [
        lambda: corvane.Bridge(serial="nope"),
        lambda: corvane.Bridge(index=1),
        lambda: corvane.Bridge(path="/dev/hidraw99"),
        lambda: corvane.SMBus(1),
        lambda: corvane.SMBus("nope"),
    ],
)
def test_no_such_bridge_is_file_not_found(chip, open_it):
    with pytest.raises(FileNotFoundError) as raised:
        open_it()
    assert isinstance(raised.value, corvane.CorvaneError)
    assert (raised.value.errno, raised.value.name) == (errno.ENOENT, "BRIDGE_NOT_FOUND")


def test_short_read_returns_the_bytes_received(chip, bridge):
    chip.eeprom.write(0, bytes(range(1, 9)))
    bridge.functions.write_i2c_data(0xA0, b"\0\0")
    chip.device.end_next_i2c_read_early()
    assert bridge.functions.read_i2c_data(0xA1, 8) == bytes(range(1, 8))
    bridge.functions.write_i2c_data(0xA0, b"\0\0")
    assert bridge.functions.read_i2c_data(0xA1, 8) == bytes(range(1, 9))


# Each makes other handles and library objects while SMBus(1) is open on the
# second of three bridges.
DISTURBANCES = [
    lambda chip: corvane.SMBus(0).read_byte_data(0x50, 0),
    lambda chip: corvane.SMBus(2).write_byte_data(0x50, 0, 0x22),
    lambda chip: corvane.Bridge(index=2).management.get_dev_count(),
    lambda chip: corvane.Bridge().management.select_dev(2),
    lambda chip: raw_library_object(),
    lambda chip: corvane.SMBus(1).close(),
]


def raw_library_object():
    from corvane._native import lib
    import ctypes

    handle = ctypes.c_void_p()
    assert lib.corvane_bridge_new(0x3A7C, 0x01D5, ctypes.byref(handle)) == 0
    lib.corvane_select_dev(handle, 0)
    lib.corvane_get_dev_count(handle)
    lib.corvane_bridge_free(handle)


@pytest.mark.parametrize("disturb", DISTURBANCES)
def test_a_bus_stays_on_its_bridge(chip, disturb):
    (second, second_eeprom), (_, third_eeprom) = chip.plug_more(2)
    with corvane.SMBus(1) as bus:
        bus.write_i2c_block_data(0x50, 0x00, [0x00, 0x11])
        disturb(chip)
        bus.write_i2c_block_data(0x50, 0x00, [0x01, 0x12])
        chip.host.advance_clock_us(10_000)
        bus.write_byte_data(0x50, 0x00, 0x00)  # the address counter: 0x0000
        assert [bus.read_byte(0x50), bus.read_byte(0x50)] == [0x11, 0x12]
    assert second_eeprom.read(0, 2) == b"\x11\x12"
    assert chip.eeprom.read(0, 2) == b"\xff\xff"


def test_an_unplugged_bridge_fails_until_it_is_back(chip):
    (second, _), = chip.plug_more(1)
    with corvane.SMBus(1) as bus:
        chip.host.unplug(second)
        with pytest.raises(OSError) as raised:
            bus.read_byte(0x50)
        assert raised.value.errno == errno.ENODEV
        assert corvane.SMBus(0).read_byte(0x50) == 0xFF  # the first bridge is not taken for it
        chip.host.plug(second)
        assert bus.read_byte(0x50) == 0xFF


def test_bus_time_pacing_moves_the_same_bytes_sooner(chip, bridge):
    data = bytes(range(256)) * 16
    took = {}
    for pacing in ("fixed", "bus-time"):
        corvane.set_pacing(pacing)
        assert corvane.get_pacing() == pacing
        start = chip.host.now_us()
        bridge.functions.write_i2c_data(0xA0, b"\x01\x00" + data[:62], speed=400_000)
        chip.host.advance_clock_us(10_000)  # the EEPROM's write cycle
        bridge.functions.write_i2c_data(0xA0, b"\x01\x00", speed=400_000)
        assert bridge.functions.read_i2c_data(0xA1, 4096, speed=400_000)[:62] == data[:62]
        took[pacing] = chip.host.now_us() - start
    corvane.set_pacing("fixed")
    assert took["bus-time"] * 2 < took["fixed"]
    with pytest.raises(ValueError):
        corvane.set_pacing("fast")


@pytest.mark.parametrize(
    "call",
    [
        lambda f: f.write_i2c_data(0xA0, b"\0", speed=46_332),
        lambda f: f.read_i2c_data(0xA1, 1, speed=4_000_001),
        lambda f: f.smb_read_block(0x16, 1, speed=0),
        lambda f: f.smb_write_block(0x16, b"\0", speed=1e6),
    ],
)
def test_transfer_speeds_are_checked_in_python(chip, bridge, call):
    chip.host.clear_trace()
    with pytest.raises(ValueError, match="speed is 46,333 to 4,000,000 Hz"):
        call(bridge.functions)
    assert chip.host.trace() == []


@pytest.mark.parametrize(
    "call, argument",
    [
        (lambda f: f.write_i2c_data(0x1A0, b"\0"), "address"),
        (lambda f: f.read_i2c_data(-0x5F, 1), "address"),
        (lambda f: f.smb_read_block(0x16, 1, register=0x100), "register"),
        (lambda f: f.write_gpio_pin_value(0x100, 1), "pin"),
    ],
)
def test_facet_values_are_checked_not_wrapped(chip, bridge, call, argument):
    chip.host.clear_trace()
    with pytest.raises(OSError, match=f"{argument} .* is outside") as raised:
        call(bridge.functions)
    assert raised.value.errno == errno.EINVAL and chip.host.trace() == []
    bridge.functions.write_i2c_data(0xA0, b"\0\0", speed=46_333)  # the lowest speed
    bridge.functions.read_i2c_data(0xA1, 1, speed=4_000_000)  # the highest
