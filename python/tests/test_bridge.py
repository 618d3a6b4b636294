"""The facets through Python on the virtual chip, and the errors they raise."""

import errno
import sys

import pytest

import corvane
from corvane import sim


def test_texts_round_trip_as_utf8(bridge):
    settings = bridge.settings
    assert settings.get_usb_string_manufacturer() == "Corvane Systems"
    assert settings.get_firmware_version() == "1.2"
    settings.set_usb_string_descriptor("Bänch 🔧")
    assert settings.get_usb_string_descriptor() == "Bänch 🔧"
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
        (lambda chip: chip.host.unplug(chip.device), errno.ENODEV, "REPORT_WRITE_FAILED"),
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
    assert (raised.value.code, raised.value.name) == (3, "DEVICE_STATUS")


def test_bridge_by_serial(chip):
    second = sim.VirtualDevice()
    chip.host.plug(second)
    serials = []
    for index in (0, 1):
        with corvane.Bridge(index=index) as bridge:
            serials.append(bridge.settings.get_serial_number())
    with corvane.Bridge(serial=serials[1]) as bridge:
        assert bridge.management.get_selected_dev_num() == 1
    with pytest.raises(corvane.CorvaneError, match="no bridge has the serial number 'nope'"):
        corvane.Bridge(serial="nope")


def test_no_bridge_attached(chip):
    chip.host.unplug(chip.device)
    with pytest.raises(corvane.CorvaneError) as raised:
        corvane.Bridge()
    assert raised.value.errno == errno.ENODEV


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
