// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "I2cEngine.hpp"
#include "corvane/sim/VirtualDevice.hpp"

namespace Corvane::Sim {

// What the chip keeps and how it answers each command other than the bus
// commands, which go to the I2C engine.
class ChipModel {
  public:
    ChipModel(std::uint16_t vid, std::uint16_t pid, std::u16string serialNumber);

    // The answer to one command, or nothing (reset). `resetRequested` is set
    // when the chip restarts and leaves the bus.
    std::optional<Report> Execute(const Report& command, std::chrono::microseconds now,
                                  bool& resetRequested);

    // Power-up: the run-time settings and pins are loaded from flash.
    void PowerUp();

    const UsbEnumeration& Enumeration() const { return enumeration_; }

    // What the chip keeps only while it stays powered, besides its run-time
    // settings: how it enumerated, an entered password, the wrong passwords
    // counted and the interrupt flag. A reset or power cycle starts them afresh.
    struct Powered {
        UsbEnumeration enumeration;
        bool passwordEntered = false;
        int wrongPasswords = 0;
        bool interruptFlag = false;
    };
    Powered KeptWhilePowered() const;
    void RestoreKeptWhilePowered(const Powered& kept);
    I2cEngine& Engine() { return engine_; }

    // ---- what tests and tools can see and set -----------------------------
    DeviceFlash& Flash() { return flash_; }
    const DeviceFlash& Flash() const { return flash_; }
    void SetAdcInput(unsigned channel, std::uint16_t millivolts);
    void SetPinInput(unsigned pin, std::uint8_t level);
    std::uint8_t PinLevel(unsigned pin) const;
    void InterruptEdge(bool rising);
    bool InterruptFlag() const { return interruptFlag_; }
    std::uint16_t DacOutputMillivolts() const;
    std::uint32_t ClockOutputHz() const;
    std::uint16_t AdcReading(unsigned channel) const;
    void SetRevision(std::array<char, 2> firmware, std::array<char, 2> hardware);

  private:
    void ReadFlash(const Report& command, Report& response) const;
    // 0 when a flash write may go ahead, else the status that refuses it.
    std::uint8_t FlashWriteRefusal(bool carriesPassword) const;
    void WriteFlash(const Report& command, Report& response);
    void SendPassword(const Report& command, Report& response);
    void ReadSram(Report& response) const;
    void WriteSram(const Report& command);
    void ReadGpio(Report& response) const;
    void WriteGpio(const Report& command);
    void FillStatus(Report& response) const;
    bool IsGpio(unsigned pin) const { return (sramGp_[pin] & 0x07) == 0; }

    UsbEnumeration enumeration_;
    DeviceFlash flash_;
    // Run-time settings: the chip record bytes (flash layout) and GP bytes.
    std::array<std::uint8_t, 10> sramChip_{};
    std::array<std::uint8_t, 4> sramGp_{};
    std::array<std::uint8_t, 4> pinInput_{};
    std::array<std::uint16_t, 3> adcMillivolts_{};
    bool interruptFlag_ = false;
    bool passwordEntered_ = false;
    int wrongPasswords_ = 0;
    std::array<char, 2> firmware_{'1', '2'};
    std::array<char, 2> hardware_{'A', '6'};
    I2cEngine engine_;
};

}  // namespace Corvane::Sim
