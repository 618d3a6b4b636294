# SPDX-License-Identifier: MIT
"""corvane.SMBus against smbus2's interface and behaviour, on the virtual chip
and on a chip modelled in Python."""

import ctypes
import errno
import inspect

import pytest
import smbus2

import corvane
from corvane import sim

METHODS = [
    "open", "close", "__enter__", "__exit__", "enable_pec", "write_quick", "read_byte", "write_byte",
    "read_byte_data", "write_byte_data", "read_word_data", "write_word_data", "process_call",
    "read_block_data", "write_block_data", "block_process_call", "read_i2c_block_data",
    "write_i2c_block_data", "i2c_rdwr",
]


def parameters(function):
    return [(p.name, p.kind, p.default) for p in inspect.signature(function).parameters.values()]


def test_interface_matches_smbus2():
    for name in METHODS:
        assert parameters(getattr(corvane.SMBus, name)) == parameters(getattr(smbus2.SMBus, name)), name
    ours, theirs = parameters(corvane.SMBus.__init__), parameters(smbus2.SMBus.__init__)
    assert ours[: len(theirs)] == theirs
    assert {kind for _, kind, _ in ours[len(theirs):]} == {inspect.Parameter.KEYWORD_ONLY}
    for name in ("read", "write"):
        assert parameters(getattr(corvane.i2c_msg, name)) == parameters(getattr(smbus2.i2c_msg, name))
    assert [f[0] for f in corvane.i2c_msg._fields_] == [f[0] for f in smbus2.i2c_msg._fields_]
    assert {f.name: f.value for f in corvane.I2cFunc} == {f.name: f.value for f in smbus2.I2cFunc}
    closed, reference = corvane.SMBus(), smbus2.SMBus()
    for attribute in ("fd", "funcs", "address", "force", "pec"):
        assert getattr(closed, attribute) == getattr(reference, attribute), attribute
    assert all(corvane.SMBus.__dict__[name].__doc__ for name in METHODS + ["fd", "pec", "speed"])


def marked(chip):
    """Two bridges whose EEPROMs hold their number at 0x0000."""
    (second, eeprom), = chip.plug_more(1)
    chip.eeprom.write(0, b"\x00")
    eeprom.write(0, b"\x01")
    with corvane.Bridge(index=1) as bridge:
        return bridge.settings.get_serial_number(), bridge.path


def which(bus):
    """The number of the bridge the bus reaches."""
    bus.write_byte_data(0x50, 0x00, 0x00)
    return bus.read_byte(0x50)


@pytest.mark.parametrize(
    "args, kwargs, bridge, force",
    [
        ((), {}, None, False),
        ((None, True), {}, None, True),
        ((0,), {}, 0, False),
        ((1,), {}, 1, False),
        ((), {"bus": 1}, 1, False),
        ((0, True), {}, 0, True),
        ((), {"bus": 1, "force": True}, 1, True),
        (("serial",), {}, 1, False),
        (("path",), {}, 1, False),
        ((1,), {"speed": 400_000, "pec": True}, 1, False),
    ],
)
def test_constructor_calls(chip, args, kwargs, bridge, force):
    serial, path = marked(chip)
    args = tuple({"serial": serial, "path": path}.get(a, a) if isinstance(a, str) else a for a in args)
    chip.host.clear_trace()
    bus = corvane.SMBus(*args, **kwargs)
    assert bus.force is force
    if bridge is None:
        assert (bus.fd, bus.funcs, chip.host.trace()) == (None, 0, [])
        with pytest.raises(OSError) as raised:
            bus.read_byte(0x50)
        assert raised.value.errno == errno.EBADF
        return
    assert bus.fd and bus.funcs & corvane.I2cFunc.SMBUS_BLOCK_PROC_CALL
    assert (bus.pec, bus.speed) == (int(kwargs.get("pec", 0)), kwargs.get("speed", 100_000))
    bus.pec = 0  # the EEPROM has no PEC
    assert which(bus) == bridge and bus.address == 0x50
    bus.close()
    assert bus.fd is None


def test_open_takes_an_int_or_a_str(chip):
    with pytest.raises(TypeError):
        corvane.SMBus(1.0)
    with pytest.raises(TypeError):
        corvane.SMBus().open(True)


class Recorder(sim.RegisterFile):
    """256 registers that also record the transfers: "W"/"R" per START, the
    bytes read, "P" at STOP."""

    def __init__(self):
        super().__init__()
        self.events = []

    def start(self, read):
        self.events.append("R" if read else "W")
        return super().start(read)

    def read_byte(self):
        value = super().read_byte()
        self.events.append(value)
        return value

    def stop(self):
        self.events.append("P")


@pytest.fixture
def model(chip):
    model = Recorder()
    chip.device.attach_target(0x20, model)
    return model


def reads_of_a_word(bus, model):
    """How many bytes a read_word_data clocks in: 3 with PEC, 2 without."""
    model.events.clear()
    try:
        bus.read_word_data(0x20, 0x10)
    except OSError:
        pass  # the model sends no PEC: what counts is how much was read
    return len([event for event in model.events if isinstance(event, int)])


def reopened(bus):
    bus.close()
    bus.open(0)


@pytest.mark.parametrize(
    "make, steps, pec",
    [
        (lambda: corvane.SMBus(0), [], 0),
        (lambda: corvane.SMBus(0, pec=True), [], 1),
        (lambda: corvane.SMBus(), [lambda b: setattr(b, "pec", 1), lambda b: b.open(0)], 1),
        (lambda: corvane.SMBus(0), [lambda b: setattr(b, "pec", 1)], 1),
        (lambda: corvane.SMBus(0), [lambda b: b.enable_pec(), lambda b: b.enable_pec(False)], 0),
        (lambda: corvane.SMBus(0, pec=True), [reopened], 0),  # close() turns PEC off
        (lambda: corvane.SMBus(0), [lambda b: setattr(b, "pec", 1), reopened], 0),
    ],
)
def test_pec_on_the_wire(chip, model, make, steps, pec):
    bus = make()
    for step in steps:
        step(bus)
    assert bus.pec == pec
    assert reads_of_a_word(bus, model) == 2 + pec


def speed_divider(chip):
    """The divider byte of the last speed the library set."""
    return [report[4] for report in chip.sent(0x10) if report[3] == 0x20][-1]


@pytest.mark.parametrize(
    "make, divider",
    [
        (lambda: corvane.SMBus(0), 117),
        (lambda: corvane.SMBus(0, speed=400_000), 27),
        (lambda: with_speed(corvane.SMBus(0), 400_000), 27),
        (lambda: with_speed(corvane.SMBus(), 400_000, open_after=True), 27),
        (lambda: with_speed(corvane.SMBus(0), 46_333), 255),
        (lambda: with_speed(corvane.SMBus(0), 4_000_000), 0),
    ],
)
def test_speed_reaches_the_bus(chip, make, divider):
    bus = make()
    bus.write_quick(0x50)
    assert speed_divider(chip) == divider


def with_speed(bus, hz, open_after=False):
    bus.speed = hz
    if open_after:
        bus.open(0)
    assert bus.speed == hz
    return bus


@pytest.mark.parametrize("hz", [0, 46_332, 4_000_001, 100_000.0])
def test_speed_is_checked_when_set(chip, bus, hz):
    with pytest.raises(ValueError, match="speed is 46,333 to 4,000,000 Hz"):
        bus.speed = hz
    with pytest.raises(ValueError, match="speed is 46,333 to 4,000,000 Hz"):
        corvane.SMBus(0, speed=hz)
    assert bus.speed == 100_000


def message(**fields):
    return corvane.i2c_msg(**fields)


# A call, and the errno it raises (None: it works); refused arguments never reach the chip.
ARGUMENTS = [
    (lambda b: b.read_byte_data(0x148, 0), errno.EINVAL),
    (lambda b: b.read_byte_data(-184, 0), errno.EINVAL),
    (lambda b: b.read_byte_data(0x80, 0), errno.EINVAL),
    (lambda b: b.read_byte_data(0x7F, 0), errno.ENXIO),
    (lambda b: b.read_byte(0x20 + 0x100), errno.EINVAL),
    (lambda b: b.read_byte_data(0x20, 0x100), errno.EINVAL),
    (lambda b: b.read_byte_data(0x20, -1), errno.EINVAL),
    (lambda b: b.read_byte_data(0x20, 0xFF), None),
    (lambda b: b.write_byte(0x20, 0x100), errno.EINVAL),
    (lambda b: b.write_byte_data(0x20, 0x10, 0x100), errno.EINVAL),
    (lambda b: b.write_byte_data(0x20, 0x10, 0xFF), None),
    (lambda b: b.write_word_data(0x20, 0x10, 0x10000), errno.EINVAL),
    (lambda b: b.write_word_data(0x20, 0x10, -1), errno.EINVAL),
    (lambda b: b.write_word_data(0x20, 0x10, 0xFFFF), None),
    (lambda b: b.process_call(0x20, 0x10, 0x10000), errno.EINVAL),
    (lambda b: b.i2c_rdwr(), errno.EINVAL),
    (lambda b: b.i2c_rdwr(corvane.i2c_msg.write(0x80, [0])), errno.EINVAL),
    (lambda b: b.i2c_rdwr(message(addr=0x150, flags=0x0010, len=1, buf=ctypes.create_string_buffer(1))),
     errno.EOPNOTSUPP),  # I2C_M_TEN
    (lambda b: b.i2c_rdwr(message(addr=0x20, flags=0x4000, len=1, buf=ctypes.create_string_buffer(1))),
     errno.EOPNOTSUPP),  # I2C_M_NOSTART
    (lambda b: b.i2c_rdwr(message(addr=0x20, flags=0x0201, len=1, buf=ctypes.create_string_buffer(1))),
     None),  # I2C_M_RD with the kernel's I2C_M_DMA_SAFE
    (lambda b: b.i2c_rdwr(corvane.i2c_msg.read(0x20, 1), corvane.i2c_msg.read(0x20, 1)), errno.EOPNOTSUPP),
]


@pytest.mark.parametrize("call, expected", ARGUMENTS)
def test_arguments_are_checked_not_wrapped(chip, model, bus, call, expected):
    chip.host.clear_trace()
    if expected is None:
        call(bus)
        return
    with pytest.raises(OSError) as raised:
        call(bus)
    assert raised.value.errno == expected
    assert "argument" not in str(raised.value)  # Python's names, not the C argument numbers
    if expected != errno.ENXIO:
        assert model.events == [] and chip.sent(0x90) == chip.sent(0x91) == chip.sent(0x93) == []


@pytest.mark.parametrize(
    "write, read, expected, stored",
    [
        (lambda b: b.write_byte_data(0x20, 0x10, 0xAB), lambda b: b.read_byte_data(0x20, 0x10), 0xAB, b"\xab"),
        (lambda b: b.write_word_data(0x20, 0x10, 0xBEEF), lambda b: b.read_word_data(0x20, 0x10), 0xBEEF,
         b"\xef\xbe"),
        (lambda b: b.write_i2c_block_data(0x20, 0x10, [1, 2, 3]),
         lambda b: b.read_i2c_block_data(0x20, 0x10, 3), [1, 2, 3], b"\x01\x02\x03"),
        (lambda b: (b.write_byte_data(0x20, 0x10, 0x5A), b.write_byte(0x20, 0x10)), lambda b: b.read_byte(0x20),
         0x5A, b"\x5a"),
    ],
)
def test_calls_on_a_chip_modelled_in_python(model, bus, write, read, expected, stored):
    write(bus)
    assert model.registers[0x10 : 0x10 + len(stored)] == stored
    assert read(bus) == expected


def test_quick_and_process_call_on_the_wire(model, bus):
    bus.write_quick(0x20)
    assert model.events == ["W", "P"]
    model.registers[0x12:0x14] = b"\x34\x12"
    assert bus.process_call(0x20, 0x10, 0xCDAB) == 0x1234  # the model answers from where it stopped
    assert model.registers[0x10:0x12] == b"\xab\xcd"
    assert model.events[2:] == ["W", "R", 0x34, 0x12, "P"]  # repeated START, one STOP


@pytest.mark.parametrize("pec", [0, 1])
def test_block_calls_with_and_without_pec(chip, bus, pec):
    chip.battery.enable_pec(bool(pec))
    bus.pec = pec
    chip.battery.set_block_register(0x21, b"Corvane")
    assert bus.read_block_data(0x0B, 0x21) == list(b"Corvane")
    bus.write_block_data(0x0B, 0x21, [9, 8, 7])
    assert chip.battery.register(0x21) == b"\x09\x08\x07"
    assert bus.block_process_call(0x0B, 0x21, list(b"ping")) == list(b"ping")
    assert chip.battery.register(0x21) == b"ping"


def test_i2c_rdwr_reads_an_eeprom_at_a_two_byte_offset(chip, bus):
    chip.eeprom.write(0x0100, b"wxyz")
    read = corvane.i2c_msg.read(0x50, 4)
    bus.i2c_rdwr(corvane.i2c_msg.write(0x50, [0x01, 0x00]), read)
    assert list(read) == list(b"wxyz") and bytes(read) == b"wxyz" and len(read) == 4
    offset = ctypes.create_string_buffer(b"\x02\x00ab", 4)
    bus.i2c_rdwr(corvane.i2c_msg(addr=0x50, flags=0, len=4, buf=offset))  # built by keyword
    assert chip.eeprom.read(0x0200, 2) == b"ab"


@pytest.mark.parametrize(
    "call",
    [
        lambda b: b.write_block_data(0x0B, 0, [0] * 33),
        lambda b: b.write_i2c_block_data(0x0B, 0, [0] * 33),
        lambda b: b.read_i2c_block_data(0x0B, 0, 33),
        lambda b: b.block_process_call(0x0B, 0, [0] * 33),
    ],
)
def test_blocks_above_32_bytes_are_value_errors(chip, bus, call):
    chip.host.clear_trace()
    with pytest.raises(ValueError):
        call(bus)
    assert chip.host.trace() == []


def test_wrong_pec_is_ebadmsg(chip, bus):
    bus.pec = 1
    chip.battery.set_register(0x22, b"\x34\x12")
    assert bus.read_word_data(0x0B, 0x22) == 0x1234
    chip.device.corrupt_i2c_read_tail()  # the PEC byte
    with pytest.raises(OSError) as raised:
        bus.read_word_data(0x0B, 0x22)
    assert raised.value.errno == errno.EBADMSG


def test_a_short_read_is_an_error_not_a_padded_block(chip, bus):
    chip.eeprom.write(0, bytes(range(1, 9)))
    bus.write_byte_data(0x50, 0, 0)
    chip.device.end_next_i2c_read_early()
    with pytest.raises(OSError) as raised:
        bus.read_i2c_block_data(0x50, 0, 8)
    assert raised.value.errno == errno.EIO
