# SPDX-License-Identifier: MIT
"""Handles and models across threads, closing and garbage collection (what
could crash runs in a child interpreter), and errors that cross processes."""

import copy
import gc
import pickle
import sys
import threading

import pytest
from conftest import run_child

import corvane
from corvane._errors import invalid


def test_a_model_outlives_everything_that_made_it():
    out = run_child(
        """
        def plug():
            chip = sim.VirtualDevice()

            class Counter(sim.I2cTarget):
                value = 0

                def read_byte(self):
                    self.value += 1
                    return self.value

            chip.attach_target(0x20, Counter())
            host.plug(chip)

        plug()
        del host
        gc.collect()
        with corvane.SMBus(0) as bus:
            print([bus.read_byte(0x20) for _ in range(3)])
        """
    )
    assert out == "[1, 2, 3]\n"


# Closing a handle while another thread is inside a call on it: the call
# finishes, later calls are EBADF. Each opens `handle`, calls `run(handle)`
# and closes with `close(handle)`.
CLOSE_RACES = [
    ("corvane.SMBus(0)", "handle.read_byte(0x20)", "handle.close()"),
    ("corvane.Bridge()", "handle.functions.read_i2c_data(0x41, 1)", "handle.close()"),
    ("corvane.Bridge()", "handle.functions.read_i2c_data(0x41, 1)", "handle.__del__()"),
]


@pytest.mark.parametrize("open_it, run, close", CLOSE_RACES)
def test_close_during_a_call(open_it, run, close):
    out = run_child(
        f"""
        import ctypes
        inside, release = threading.Event(), threading.Event()

        class Slow(sim.I2cTarget):
            def read_byte(self):
                inside.set()
                release.wait()
                return 0x42

        chip = sim.VirtualDevice()
        chip.attach_target(0x20, Slow())
        host.plug(chip)
        handle = {open_it}
        results = []
        worker = threading.Thread(target=lambda: results.append({run}))
        worker.start()
        inside.wait()
        {close}
        libc = ctypes.CDLL(None)  # memory freed by close() would be reused now
        for size in range(8, 512, 8):
            ctypes.memset(libc.malloc(size), 0xA5, size)
        release.set()
        worker.join()
        try:
            {run}
        except OSError as error:
            results.append(error.errno)
        print(results)
        """
    )
    assert out in ("[66, 9]\n", "[b'B', 9]\n")


# Threads on their own buses (one per bridge) or sharing one bus: each
# reaches its own chip.
@pytest.mark.parametrize("bridges, threads", [(2, 2), (3, 3), (1, 4)])
def test_threads(chip, bridges, threads):
    eeproms = [chip.eeprom] + [eeprom for _, eeprom in chip.plug_more(bridges - 1)]
    buses = [corvane.SMBus(index) for index in range(bridges)]
    failures = []
    barrier = threading.Barrier(threads)

    def work(number):
        bus = buses[number % bridges]
        barrier.wait()
        try:
            for round in range(10):
                offset = number * 16 + round % 4
                bus.write_i2c_block_data(0x50, 0x00, [offset, number])
                chip.host.advance_clock_us(10_000)
                # One combined transfer: between two calls another thread on
                # the same bridge may move the EEPROM's address pointer.
                read = corvane.i2c_msg.read(0x50, 1)
                bus.i2c_rdwr(corvane.i2c_msg.write(0x50, [0x00, offset]), read)
                if list(read) != [number]:
                    failures.append((number, round))
        except OSError as error:
            failures.append((number, error))

    workers = [threading.Thread(target=work, args=(n,)) for n in range(threads)]
    for worker in workers:
        worker.start()
    for worker in workers:
        worker.join()
    assert failures == []
    for number in range(threads):
        assert eeproms[number % bridges].read(number * 16, 1) == bytes([number])


ERRORS = [
    lambda: corvane.CorvaneError(-23, "read_byte"),
    lambda: corvane.CorvaneError(-500, "open"),
    lambda: corvane.CorvaneError(-5),
    lambda: corvane.CorvaneError(3, "write_gpio_pin_value"),
    lambda: invalid("read_byte", "i2c_addr 0x148 is outside 0x0..0x7f"),
]


@pytest.mark.parametrize("make", ERRORS)
@pytest.mark.parametrize(
    "round_trip", [lambda e: pickle.loads(pickle.dumps(e)), copy.copy, copy.deepcopy]
)
def test_errors_survive_pickle_and_copy(make, round_trip):
    error = make()
    again = round_trip(error)
    assert type(again) is type(error)
    fields = ("errno", "strerror", "args", "code", "name", "description")
    assert [getattr(again, f) for f in fields] == [getattr(error, f) for f in fields]
    assert str(again) == str(error)


@pytest.mark.parametrize(
    "code, builtin",
    [(-500, FileNotFoundError), (-5, TimeoutError), (-26, TimeoutError), (-23, None), (3, None)],
)
def test_errors_are_the_oserror_python_has_for_their_errno(code, builtin):
    error = corvane.CorvaneError(code)
    assert isinstance(error, corvane.CorvaneError)
    assert type(OSError(error.errno, "")) is (builtin or OSError)
    assert builtin is None or isinstance(error, builtin)


@pytest.mark.parametrize(
    "construct",
    [
        lambda: corvane.SMBus(5),
        lambda: corvane.SMBus(0, speed=0),
        lambda: corvane.SMBus(0.5),
        lambda: corvane.Bridge(serial="nope"),
        lambda: corvane.Bridge(index=-1),
    ],
)
def test_a_failed_constructor_raises_once(chip, monkeypatch, construct):
    unraisable = []
    monkeypatch.setattr(sys, "unraisablehook", unraisable.append)
    with pytest.raises((OSError, ValueError, TypeError)):
        construct()
    gc.collect()
    assert unraisable == []
