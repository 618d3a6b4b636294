"""A virtual bridge for every test: EEPROM at 0x50, SMBus device with PEC at 0x0b."""

import pytest

import corvane
from corvane import sim


class Chip:
    def __init__(self):
        self.host = sim.SimulatedHost.install()
        self.device = sim.VirtualDevice()
        self.eeprom = sim.Eeprom(32768, 64)
        self.battery = sim.SmbusDevice(0x0B)
        self.battery.enable_pec(True)
        self.device.attach_target(0x50, self.eeprom)
        self.device.attach_target(0x0B, self.battery)
        self.host.plug(self.device)

    def sent(self, command):
        """The reports the library sent with this command code."""
        return [report for to_device, report in self.host.trace() if to_device and report[0] == command]


@pytest.fixture
def chip():
    chip = Chip()
    yield chip
    sim.SimulatedHost.uninstall()


@pytest.fixture
def bridge(chip):
    with corvane.Bridge() as bridge:
        yield bridge
