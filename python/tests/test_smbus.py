"""corvane.SMBus against smbus2's documented behaviour, on the virtual chip and
on a chip modelled in Python."""

import errno
import inspect

import pytest

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


def test_signatures_match_smbus2():
    smbus2 = pytest.importorskip("smbus2")
    for name in METHODS:
        assert parameters(getattr(corvane.SMBus, name)) == parameters(getattr(smbus2.SMBus, name)), name
    assert parameters(corvane.i2c_msg.read) == parameters(smbus2.i2c_msg.read)
    assert isinstance(corvane.SMBus.pec, property)


class RegisterFile(sim.I2cTarget):
    """A chip modelled in Python: 256 byte registers behind a pointer that the
    first byte of a write sets and every byte moves on."""

    def __init__(self):
        self.memory = bytearray(256)
        self.pointer = 0
        self.events = []

    def start(self, read):
        self.first = not read
        self.events.append("R" if read else "W")
        return True

    def write_byte(self, value):
        if self.first:
            self.pointer, self.first = value, False
        else:
            self.memory[self.pointer] = value
            self.pointer = (self.pointer + 1) & 0xFF
        return True

    def read_byte(self):
        value = self.memory[self.pointer]
        self.pointer = (self.pointer + 1) & 0xFF
        return value

    def stop(self):
        self.events.append("P")


@pytest.fixture
def model(chip):
    model = RegisterFile()
    chip.device.attach_target(0x20, model)
    return model


@pytest.fixture
def bus(chip):
    with corvane.SMBus(0) as bus:
        yield bus


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
    assert model.memory[0x10 : 0x10 + len(stored)] == stored
    assert read(bus) == expected


def test_quick_and_process_call_on_the_wire(model, bus):
    bus.write_quick(0x20)
    assert model.events == ["W", "P"]
    model.memory[0x12:0x14] = b"\x34\x12"
    assert bus.process_call(0x20, 0x10, 0xCDAB) == 0x1234  # the model answers from where it stopped
    assert model.memory[0x10:0x12] == b"\xab\xcd"
    assert model.events[2:] == ["W", "R", "P"]  # repeated START, one STOP


@pytest.mark.parametrize("pec", [0, 1])
def test_block_data_with_and_without_pec(chip, bus, pec):
    chip.battery.enable_pec(bool(pec))
    bus.pec = pec
    assert bus.pec == pec
    chip.battery.set_block_register(0x21, b"Corvane")
    assert bus.read_block_data(0x0B, 0x21) == list(b"Corvane")
    bus.write_block_data(0x0B, 0x21, [9, 8, 7])
    assert chip.battery.register(0x21) == b"\x09\x08\x07"


def test_i2c_rdwr_reads_an_eeprom_at_a_two_byte_offset(chip, bus):
    chip.eeprom.write(0x0100, b"wxyz")
    read = corvane.i2c_msg.read(0x50, 4)
    bus.i2c_rdwr(corvane.i2c_msg.write(0x50, [0x01, 0x00]), read)
    assert list(read) == list(b"wxyz") and bytes(read) == b"wxyz" and len(read) == 4
    bus.i2c_rdwr(corvane.i2c_msg.write(0x50, b"\x02\x00ab"))
    assert chip.eeprom.read(0x0200, 2) == b"ab"


@pytest.mark.parametrize(
    "call, expected",
    [
        (lambda b: b.read_byte_data(0x51, 0), errno.ENXIO),
        (lambda b: b.write_quick(0x51), errno.ENXIO),
        (lambda b: b.block_process_call(0x0B, 0x21, [1]), errno.EOPNOTSUPP),
        (lambda b: b.i2c_rdwr(corvane.i2c_msg.read(0x50, 1), corvane.i2c_msg.read(0x50, 1)), errno.EOPNOTSUPP),
        (lambda b: b.read_byte(0x80), errno.EINVAL),
    ],
)
def test_failures_carry_the_i2c_dev_errno(bus, call, expected):
    with pytest.raises(OSError) as raised:
        call(bus)
    assert raised.value.errno == expected


@pytest.mark.parametrize(
    "call",
    [
        lambda b: b.write_block_data(0x0B, 0, [0] * 33),
        lambda b: b.write_i2c_block_data(0x0B, 0, [0] * 33),
        lambda b: b.read_i2c_block_data(0x0B, 0, 33),
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


def test_code_written_for_smbus2_runs_unchanged(chip):
    from corvane import SMBus  # instead of: from smbus2 import SMBus

    chip.eeprom.write(0, b"\x10\x20")
    with SMBus(1 - 1) as bus:
        bus.write_i2c_block_data(0x50, 0x00, [0x00], force=True)  # the EEPROM's address: 0x0000
        assert [bus.read_byte(0x50), bus.read_byte(0x50)] == [0x10, 0x20]
    assert bus.pec == 0
