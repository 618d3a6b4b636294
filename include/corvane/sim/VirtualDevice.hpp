// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "corvane/Export.hpp"

namespace Corvane::Sim {

// One 64-byte command or response report, without the report ID.
using Report = std::array<std::uint8_t, 64>;

class I2cTarget;

// The chip's flash: what it loads at power-up and keeps across resets.
struct DeviceFlash {
    // The most code units a string record holds (one 64-byte report).
    static constexpr std::size_t kMaxStringUnits = 30;

    // The chip settings record as the chip answers a read of it: chip byte
    // (bit 7 serial-number enumeration, bits 6-2 initial pin values, bits 1-0
    // protection), clock byte, DAC byte, interrupt/ADC byte, VID (low byte
    // first), PID, power attributes, current in units of 2 mA.
    std::array<std::uint8_t, 10> chipSettings{};
    // The password that protection state 1 asks for.
    std::array<std::uint8_t, 8> password{};
    // GP0 to GP3: bit 4 output value, bit 3 direction (1 = input), bits 2-0
    // designation (0 = GPIO, 1 = dedicated function, 2 = ADC, 3 = DAC,
    // 4 = clock output / interrupt detection).
    std::array<std::uint8_t, 4> gpSettings{};
    std::u16string manufacturer;
    std::u16string product;
    std::u16string serialNumber;

    std::uint8_t Protection() const { return chipSettings[0] & 0x03; }
};

// What the chip presented to the USB host when it last enumerated (when made
// or reset), taken from its flash at that moment.
struct UsbEnumeration {
    std::uint16_t vid = 0;
    std::uint16_t pid = 0;
    std::uint8_t powerAttributes = 0;  // configuration attributes: 0x80 bus, 0x40 self, 0x20 wakeup
    std::uint16_t maxPowerMa = 0;
    std::u16string manufacturer;
    std::u16string product;
    // Absent when serial-number enumeration is off.
    std::optional<std::u16string> serialNumber;
};

// An emulated Corvane bridge chip. It answers every command report with one
// response report, keeps its state like the chip does, and lets tests inject
// faults. Plug it into a SimulatedHost to make it visible to the library.
//
// How it behaves where the command set leaves room:
// - Factory flash: VID/PID as constructed, bus powered, 100 mA, serial number
//   enumerated, manufacturer "Corvane Systems", product "Corvane USB-I2C
//   Bridge", a serial number unique in the process ("CVS" and six digits),
//   GP0-GP3 GPIO inputs.
// - Status bytes: 0x01 command or record not supported, 0x02 flash locked
//   for good, 0x03 password wrong or missing, 0x04 too many wrong passwords.
// - Flash protection guards every flash record (chip settings, GP settings
//   and the three strings): the flash that holds the power-up settings, the
//   USB identity and the strings is what the password protects. Reads are
//   never refused. In state 1 a write is taken when the access password was
//   entered (0xB2) since the last reset; a chip settings write is also taken
//   when it carries the password in bytes 12-19 (the other records have no
//   room for it). A write that leaves state 1 set makes the password it
//   carries the new one. After 3 wrong passwords every attempt is refused
//   with 0x04 until reset. State 2 refuses every flash write with 0x02. The
//   protection state a chip settings write sets is in force at once, so the
//   run-time settings report it at once too.
// - Reset (0x70 AB CD EF) sends no answer; the chip leaves and comes back with
//   its run-time settings reloaded from flash and the IDs of its flash, so
//   channels opened before time out once and the next discovery reconnects.
// - A GP pin is a GPIO when its designation is 0; otherwise its value and
//   direction read as 0xEE / 0xEF and GPIO changes leave it alone.
// - The status answer carries the ADC readings of the three inputs, and the
//   interrupt flag in byte 24.
//
// Thread-safe: tests may change it while the library talks to it.
class CORVANE_SIM_API VirtualDevice {
  public:
    explicit VirtualDevice(std::uint16_t vid = 0x3A7C, std::uint16_t pid = 0x01D5);
    virtual ~VirtualDevice();
    VirtualDevice(const VirtualDevice&) = delete;
    VirtualDevice& operator=(const VirtualDevice&) = delete;

    // ---- identity as the USB host sees it ---------------------------------
    // The HID report descriptor the chip presents: one vendor-defined
    // collection with a 64-byte input and a 64-byte output report and no
    // report IDs. Programs that make the device appear to an operating system
    // (uhid, a USB gadget) hand it to the kernel.
    static std::span<const std::uint8_t> HidReportDescriptor();
    // The IDs the device enumerates with (the flash record's IDs as of the last reset).
    std::uint16_t EnumeratedVid() const;
    std::uint16_t EnumeratedPid() const;
    // Everything the last enumeration presented.
    UsbEnumeration Enumeration() const;
    // Hardware-ID list, first entry "HID\VID_XXXX&PID_XXXX&REV_0100".
    std::vector<std::u16string> HardwareIds() const;
    // Device path as the platform's backend names it, unique per device unless
    // changed: on Windows "\\?\hid#vid_3a7c&pid_01d5#corvane-sim-1#{...}"
    // with the IDs of the last enumeration, elsewhere a hidraw node
    // "/dev/hidraw0" (numbered from 0 in the order the devices were made).
    std::u16string Path() const;
    void SetPath(std::u16string path);
    // Bumped by every reset: channels opened before it no longer reach the device.
    std::uint64_t Generation() const;

    // ---- the chip's state ----------------------------------------------------------
    // Flash as it is now. A changed flash takes effect on the chip's next reset.
    DeviceFlash Flash() const;
    // Returns false, and changes nothing, when a string is longer than
    // DeviceFlash::kMaxStringUnits (as LoadState refuses it).
    bool SetFlash(const DeviceFlash& flash);
    // The flash as text, to keep a virtual chip between runs; LoadState()
    // returns false (and changes nothing) for text it cannot read.
    std::string SaveState() const;
    bool LoadState(const std::string& text);
    // What a chip keeps only while it stays powered, as text: the identity it
    // enumerated with (a changed flash shows only after a reset), an entered
    // access password, the wrong passwords counted, the interrupt flag.
    // LoadState() powers the chip up afresh, so LoadPoweredState() comes after
    // it; it returns false, and changes nothing, for text it cannot read.
    std::string SavePoweredState() const;
    bool LoadPoweredState(const std::string& text);
    // Voltage at an ADC input (channel 0 to 2, GP1 to GP3). The reading the
    // chip reports is millivolts * 1023 / reference, at most 1023, with the
    // reference 3300 mV (supply) or 1024, 2048, 4096 mV (codes 3, 5, 7).
    void SetAdcInput(unsigned channel, std::uint16_t millivolts);
    std::uint16_t AdcReading(unsigned channel) const;
    // Level driven into a GP pin that is a GPIO input.
    void SetPinInput(unsigned pin, std::uint8_t level);
    // Level of a GP pin as the chip sees it (output value or input level).
    std::uint8_t PinLevel(unsigned pin) const;
    // An edge on the interrupt input: sets the interrupt flag when the
    // interrupt mode detects it (1 rising, 2 falling, 3 both).
    void InterruptEdge(bool rising);
    bool InterruptFlag() const;
    // DAC output: value / 32 of the reference (3300 mV supply, or 1024,
    // 2048, 4096 mV for codes 3, 5, 7).
    std::uint16_t DacOutputMillivolts() const;
    // Clock output: 48 MHz >> divider code (0 when the code is 0).
    std::uint32_t ClockOutputHz() const;
    // The revision characters the status command reports (default "12", "A6").
    void SetRevision(std::array<char, 2> firmware, std::array<char, 2> hardware);

    // ---- I2C bus ------------------------------------------------------------------
    // Puts `target` on the bus at the 7-bit address `address7` (replacing any).
    void AttachTarget(std::uint8_t address7, std::shared_ptr<I2cTarget> target);
    void DetachTarget(std::uint8_t address7);
    // The engine state (status byte 8: 0x00 idle, 0x41 writing, 0x45 waiting
    // for a repeated START, 0x55 reading, 0x25 not acknowledged, or an
    // injected state) and the speed divider in use (speed = 12 MHz / (divider + 3)).
    std::uint8_t I2cEngineState() const;
    std::uint8_t I2cSpeedDivider() const;
    // Bus faults. Each reaches a state the library must handle:
    // The next `count` data chunks (0x90, 0x94) are refused, byte 2 = `engineState`
    // (the busy state 0x41 is retried; a write error state ends the transfer).
    void RefuseI2cChunks(int count, std::uint8_t engineState = 0x41);
    // The next `count` plain status polls are refused (byte 1 = 0x01); their
    // other bytes still tell the engine state.
    void RefuseI2cStatusPolls(int count);
    // The next `count` get-data answers say "not ready" (byte 3 = 0x7F).
    void DelayI2cReadData(int count);
    // The next get-data answer with data offers `extra` bytes more than it
    // holds (at most 60 in all).
    void OfferExtraI2cBytes(std::uint8_t extra);
    // The next transfer stops at its address in `engineState` (e.g. 0x12,
    // 0x17, 0x21, 0x23, 0x44, 0x52, 0x62; 0x25 also flags the write as failed).
    void FailNextI2cTransfer(std::uint8_t engineState);
    // The last byte of the next `count` reads arrives inverted: a wrong PEC
    // when the read carries one.
    void CorruptI2cReadTail(int count = 1);
    // While held, a target stretches the clock and the bus makes no progress.
    void StretchI2cClock(bool hold);
    // The next write without STOP ends with a STOP: the engine goes idle
    // instead of waiting for the repeated START.
    void SkipNextI2cRestartWait();
    // The next read ends one byte before its count, as a transfer cut short.
    void EndNextI2cReadEarly();

    // ---- fault injection -----------------------------------------------------
    // The next `count` commands with this code are taken but never answered.
    void DropResponses(std::uint8_t commandCode, int count = 1);
    // The next `count` answers to this code are altered before they leave.
    // `edit` runs without the device's lock, so it may call the device's
    // methods (Receive excepted); it runs while the simulated host delivers
    // the command, so it must not call the SimulatedHost.
    void EditResponses(std::uint8_t commandCode, std::function<void(Report&)> edit, int count = 1);
    // The next `count` report writes to the device time out (nothing arrives).
    void TimeOutWrites(int count = 1);
    // The next `count` waits (write or read) fail without the transfer ending.
    void FailWaits(int count = 1);
    // The next `count` commands with this code are not carried out; the chip
    // answers them with `status` (non-zero) instead.
    void RefuseCommands(std::uint8_t commandCode, std::uint8_t status, int count = 1);
    // Forgets every fault still pending (drops, edits, refusals, time-outs,
    // failed waits) and makes a silent device answer again.
    void ClearFaults();
    // A silent device takes every command and answers none.
    void SetSilent(bool silent);
    // How many command reports with this code the device has received.
    std::size_t CommandCount(std::uint8_t commandCode) const;

    // ---- host side (used by SimulatedHost) ------------------------------------
    // Takes one command report at virtual time `now` and queues its answer.
    void Receive(const Report& command, std::chrono::microseconds now);
    // The next queued answer, if any.
    std::optional<Report> TakeResponse();
    // True (and consumed) when the next write must time out / the next wait fail.
    bool TakeWriteTimeout();
    bool TakeWaitFailure();

  protected:
    // The chip itself: the answer to one command, or nothing for a command
    // that has none (reset). Called with the device locked.
    virtual std::optional<Report> Execute(const Report& command, std::chrono::microseconds now);

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace Corvane::Sim
