# SPDX-License-Identifier: MIT
"""A smbus2 program with its import changed: Debian's python3-bme280 (a
driver written for smbus2) reads a BME280 sensor through corvane.SMBus, here
a sensor modelled in Python on a virtual bridge."""

import struct

import bme280
from corvane import SMBus  # was: from smbus2 import SMBus
from corvane import sim


def adc(value: int) -> bytes:
    """A 20-bit reading as the sensor's three data registers hold it."""
    return (value << 4).to_bytes(3, "big")


class Bme280(sim.RegisterFile):
    """The sensor as its driver sees it: chip ID, calibration, one measurement."""

    def __init__(self) -> None:
        super().__init__(values={
            0x88: struct.pack("<Hhh" "Hhhhhhhhh", 27504, 26435, -1000,
                              36477, -10685, 3024, 2855, 140, -7, 15500, -14600, 6000),
            0xA1: [75],
            0xD0: [0x60],
            0xE1: struct.pack("<hBBBBb", 362, 0, 19, 0x29, 3, 30),
            0xF7: adc(415148) + adc(519888) + struct.pack(">H", 30000),
        }, read_only={0xD0: 0xFF})


host = sim.SimulatedHost.install()
chip = sim.VirtualDevice()
chip.attach_target(0x76, Bme280())
host.plug(chip)

with SMBus(0) as bus:
    calibration = bme280.load_calibration_params(bus, 0x76)
    reading = bme280.sample(bus, 0x76, calibration)
    print(f"{reading.temperature:.2f} °C, {reading.pressure:.2f} hPa, {reading.humidity:.2f} %rH")
