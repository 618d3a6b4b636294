// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <cstdint>

#include "corvane/Export.hpp"

namespace Corvane::Sim {

// A chip on the virtual I2C bus. Implement it to put your own target behind a
// VirtualDevice (VirtualDevice::AttachTarget).
class CORVANE_SIM_API I2cTarget {
  public:
    virtual ~I2cTarget();

    // A START (or repeated START) addressed this target; read is the R/W bit.
    // Returns whether the target acknowledges its address.
    virtual bool Start(bool read) = 0;

    // One byte written by the master. Returns whether the target acknowledges it.
    virtual bool WriteByte(std::uint8_t value) = 0;

    // One byte read by the master.
    virtual std::uint8_t ReadByte() = 0;

    // STOP: the transfer with this target ends.
    virtual void Stop() = 0;

    // The bus time (the virtual clock of the simulated host) just before each
    // Start() and Stop(). Targets with timed behaviour, such as an EEPROM's
    // write cycle, keep it; the default ignores it.
    virtual void BusTime(std::chrono::nanoseconds now);

    // Clock stretching: the target holds the clock low for this long after
    // each byte it takes part in (its address and every data byte), so its
    // transfers take longer. Zero (the default) stretches nothing. Change it
    // between transfers.
    void SetClockStretch(std::chrono::microseconds perByte) { stretch_ = perByte; }
    std::chrono::microseconds ClockStretch() const { return stretch_; }

  private:
    std::chrono::microseconds stretch_{0};
};

}  // namespace Corvane::Sim
