# SPDX-License-Identifier: MIT
"""A virtual bridge for every test: EEPROM at 0x50, SMBus device with PEC at
0x0b; and a child interpreter for what must not crash the test run."""

import os
import signal
import subprocess
import sys
import textwrap

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

    def plug_more(self, count):
        """More virtual bridges, each with its own EEPROM at 0x50: [(device, eeprom)]."""
        added = []
        for _ in range(count):
            device, eeprom = sim.VirtualDevice(), sim.Eeprom(256, 16)
            device.attach_target(0x50, eeprom)
            self.host.plug(device)
            added.append((device, eeprom))
        return added


@pytest.fixture
def chip():
    chip = Chip()
    yield chip
    sim.SimulatedHost.uninstall()


@pytest.fixture
def bridge(chip):
    with corvane.Bridge() as bridge:
        yield bridge


@pytest.fixture
def bus(chip):
    with corvane.SMBus(0) as bus:
        yield bus


PRELUDE = """
import corvane, gc, sys, threading
from corvane import sim
host = sim.SimulatedHost.install()
"""


def run_child(code):
    """Runs ``code`` (after PRELUDE) in a new interpreter; returns its stdout.
    Fails the test when the child dies by a signal or exits non-zero."""
    result = subprocess.run(
        [sys.executable, "-c", PRELUDE + textwrap.dedent(code)],
        env=dict(os.environ, PYTHONFAULTHANDLER="1"),
        capture_output=True,
        text=True,
        timeout=60,
    )
    died = f" (signal {signal.Signals(-result.returncode).name})" if result.returncode < 0 else ""
    assert result.returncode == 0, f"child exited {result.returncode}{died}:\n{result.stderr}"
    return result.stdout
