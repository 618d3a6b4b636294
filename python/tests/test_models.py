# SPDX-License-Identifier: MIT
"""Chips modelled in Python: what the caller sees when a model misbehaves,
duck-typed models, the register-file helper, and the drop-in example driven
by Debian's python3-bme280."""

import errno
import os
import subprocess
import sys

import pytest

from corvane import sim


class Scripted(sim.RegisterFile):
    """A register file whose methods can be replaced by a row of a table; it
    records which methods ran."""

    def __init__(self, **replaced):
        super().__init__()
        self.calls = []
        self.replaced = replaced

    def _run(self, name, default, *args):
        self.calls.append(name)
        behaviour = self.replaced.get(name)
        return behaviour(*args) if behaviour else default(*args)

    def start(self, read):
        return self._run("start", super().start, read)

    def write_byte(self, value):
        return self._run("write_byte", super().write_byte, value)

    def read_byte(self):
        return self._run("read_byte", super().read_byte)

    def stop(self):
        return self._run("stop", lambda: None)


def fail(error):
    def behaviour(*_):
        raise error

    return behaviour


class ModelBug(Exception):
    pass


FIRST, SECOND = ModelBug("first"), ModelBug("second")

# The model's replaced methods, the bus call, and what the caller sees: a
# value, an errno, or an exception type (and text); then which methods ran.
MISBEHAVIOUR = [
    ({"start": lambda read: None}, "read", 0x5A, ["start", "read_byte", "stop"]),
    ({"start": lambda read: False}, "read", errno.ENXIO, ["start", "stop"]),
    ({"start": fail(FIRST)}, "read", FIRST, ["start", "stop"]),  # the address is not acknowledged
    ({"write_byte": lambda value: None}, "write", None, ["start", "write_byte", "write_byte", "stop"]),
    ({"write_byte": lambda value: False}, "write", errno.ENXIO, ["start", "write_byte", "stop"]),
    ({"write_byte": fail(AssertionError("model"))}, "write", AssertionError, ["start", "write_byte", "stop"]),
    ({"read_byte": lambda: 300}, "read", (ValueError, "read_byte returned 300, not a byte"), None),
    ({"read_byte": lambda: -1}, "read", (ValueError, "read_byte returned -1"), None),
    ({"read_byte": lambda: None}, "read", (TypeError, "read_byte returned None, not an int"), None),
    ({"read_byte": lambda: 255}, "read", 255, None),
    ({"read_byte": fail(FIRST), "stop": fail(SECOND)}, "read", FIRST, None),  # the first is kept
    ({"read_byte": fail(FIRST), "stop": fail(KeyboardInterrupt())}, "read", KeyboardInterrupt, None),
    ({"read_byte": fail(KeyboardInterrupt())}, "read", KeyboardInterrupt, None),
    ({"stop": fail(SystemExit(3))}, "write", SystemExit, None),
]
CALLS = {
    "read": lambda bus: bus.read_byte(0x20),
    "write": lambda bus: bus.write_byte_data(0x20, 0x10, 0x77),
}


@pytest.mark.parametrize("replaced, call, expected, ran", MISBEHAVIOUR)
def test_model_misbehaviour(chip, bus, replaced, call, expected, ran):
    model = Scripted(**replaced)
    model.registers[0] = 0x5A
    chip.device.attach_target(0x20, model)
    if isinstance(expected, (int, type(None))) and expected not in (errno.ENXIO,):
        assert CALLS[call](bus) == expected
    elif expected == errno.ENXIO:
        with pytest.raises(OSError) as raised:
            CALLS[call](bus)
        assert raised.value.errno == errno.ENXIO
    else:
        kind, text = expected if isinstance(expected, tuple) else (expected, "")
        kind = kind if isinstance(kind, type) else type(kind)
        with pytest.raises(kind, match=text) as raised:
            CALLS[call](bus)
        assert not isinstance(expected, BaseException) or raised.value is expected
    if ran is not None:
        assert model.calls == ran
    model.replaced.clear()
    assert bus.read_byte_data(0x20, 0) == 0x5A  # the next call works


def test_model_errors_from_bridge_calls(chip, bridge):
    chip.device.attach_target(0x20, Scripted(read_byte=fail(FIRST)))
    with pytest.raises(ModelBug):
        bridge.functions.read_i2c_data(0x41, 2)


def test_a_model_error_outside_any_call_of_the_package_is_reported(chip, capsys):
    chip.device.attach_target(0x20, Scripted(start=fail(FIRST)))
    sim._start(chip.device._models[0x20], 1)  # as a thread the package did not start would
    assert capsys.readouterr().err.endswith("ModelBug: first\n")


def test_any_object_with_target_methods_can_be_attached(chip, bus):
    class Counter:  # no I2cTarget base, no start, write_byte or stop
        value = 0

        def read_byte(self):
            self.value += 1
            return self.value

    chip.device.attach_target(0x21, Counter())
    bus.write_quick(0x21)
    assert [bus.read_byte(0x21) for _ in range(3)] == [1, 2, 3]
    chip.device.attach_target(0x22, object())  # nothing at all: acknowledges, reads 0xFF
    assert bus.read_byte(0x22) == 0xFF
    chip.device.detach_target(0x21)
    with pytest.raises(OSError) as raised:
        bus.read_byte(0x21)
    assert raised.value.errno == errno.ENXIO


# Register-file options, a sequence of bus steps, and the registers after it.
REGISTER_FILES = [
    ({}, [lambda b: b.write_i2c_block_data(0x30, 0xFE, [1, 2, 3])], {0xFE: 1, 0xFF: 2, 0x00: 3}),
    ({"auto_increment": False}, [lambda b: b.write_i2c_block_data(0x30, 0x10, [1, 2, 3])], {0x10: 3, 0x11: 0}),
    ({"read_only": {0x10: 0xF0}}, [lambda b: b.write_byte_data(0x30, 0x10, 0x3C)], {0x10: 0xAC}),
    ({"write_1_to_clear": {0x10: 0x0F}}, [lambda b: b.write_byte_data(0x30, 0x10, 0x05)], {0x10: 0x0A}),
    ({"write_1_to_clear": {0x10: 0xFF}}, [lambda b: b.write_byte_data(0x30, 0x10, 0x00)], {0x10: 0xAF}),
    ({"size": 16, "values": {}}, [lambda b: b.write_byte_data(0x30, 0x0F, 0x01)], {0x0F: 0x01}),
]


@pytest.mark.parametrize("options, steps, expected", REGISTER_FILES)
def test_register_file(chip, bus, options, steps, expected):
    model = sim.RegisterFile(**{"values": {0x10: [0xAF]}, **options})
    chip.device.attach_target(0x30, model)
    for step in steps:
        step(bus)
    assert {index: model.registers[index] for index in expected} == expected
    first = min(expected)
    assert bus.read_byte_data(0x30, first) == expected[first]


def test_register_file_limits(chip, bus):
    chip.device.attach_target(0x30, sim.RegisterFile(16, {0: range(16)}))
    assert bus.read_i2c_block_data(0x30, 0x0E, 4) == [14, 15, 0, 1]  # wraps at the size
    with pytest.raises(OSError) as raised:
        bus.read_byte_data(0x30, 0x10)  # no register 0x10: the index is not acknowledged
    assert raised.value.errno == errno.ENXIO
    for size, values in ((0, None), (257, None), (16, {15: [1, 2]})):
        with pytest.raises(ValueError):
            sim.RegisterFile(size, values)


def test_smbus2_program_with_its_import_changed():
    example = os.path.join(os.path.dirname(__file__), "..", "examples", "bme280_reading.py")
    result = subprocess.run([sys.executable, example], capture_output=True, text=True, timeout=60)
    assert result.returncode == 0, result.stderr
    # The compensation example of Bosch's datasheet: 25.08 °C, 100653.27 Pa.
    assert result.stdout == "25.08 °C, 1006.53 hPa, 55.00 %rH\n"
