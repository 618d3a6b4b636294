#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "corvane/Export.hpp"

namespace Corvane::Sim {

// One 64-byte command or response report, without the report ID.
using Report = std::array<std::uint8_t, 64>;

class I2cTarget;

// An emulated Corvane bridge chip. It answers every command report with one
// response report, keeps its state like the chip does, and lets tests inject
// faults. Plug it into a SimulatedHost to make it visible to the library.
//
// Thread-safe: tests may change it while the library talks to it.
class CORVANE_SIM_API VirtualDevice {
public:
    explicit VirtualDevice(std::uint16_t vid = 0x3A7C, std::uint16_t pid = 0x01D5);
    virtual ~VirtualDevice();
    VirtualDevice(const VirtualDevice&) = delete;
    VirtualDevice& operator=(const VirtualDevice&) = delete;

    // ---- identity as the USB host sees it ---------------------------------
    // The IDs the device enumerates with (the flash record's IDs as of the last reset).
    std::uint16_t EnumeratedVid() const;
    std::uint16_t EnumeratedPid() const;
    // Hardware-ID list, first entry "HID\VID_XXXX&PID_XXXX&REV_0100".
    std::vector<std::u16string> HardwareIds() const;
    // Device interface path; unique per device unless changed.
    std::u16string Path() const;
    void SetPath(std::u16string path);
    // Bumped by every reset: channels opened before it no longer reach the device.
    std::uint64_t Generation() const;

    // ---- I2C bus ------------------------------------------------------------------
    // Puts `target` on the bus at the 7-bit address `address7` (replacing any).
    void AttachTarget(std::uint8_t address7, std::shared_ptr<I2cTarget> target);
    void DetachTarget(std::uint8_t address7);

    // ---- fault injection -----------------------------------------------------
    // The next `count` commands with this code are taken but never answered.
    void DropResponses(std::uint8_t commandCode, int count = 1);
    // The next `count` answers to this code are altered before they leave.
    void EditResponses(std::uint8_t commandCode, std::function<void(Report&)> edit, int count = 1);
    // The next `count` report writes to the device time out (nothing arrives).
    void TimeOutWrites(int count = 1);
    // The next `count` waits (write or read) fail without the transfer ending.
    void FailWaits(int count = 1);
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
