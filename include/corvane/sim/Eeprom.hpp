// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <vector>

#include "corvane/Export.hpp"
#include "corvane/sim/I2cTarget.hpp"

namespace Corvane::Sim {

// A 24-series serial EEPROM (24C32 to 24C512 style) for the virtual I2C bus.
//
// A write sends two address bytes (high first) and then data; the data go to
// a page buffer that wraps within the page and is stored at STOP. A read
// continues from the address counter and wraps at the end of the memory, so
// "write two address bytes, then read" is a random read. Erased bytes are 0xFF.
// After a STOP that ends a write with data, the chip stores the page in an
// internal write cycle (on the virtual clock, 5 ms by default) and does not
// acknowledge its address until it is over: poll for the acknowledge, as
// with a real part.
//
//   auto eeprom = std::make_shared<Corvane::Sim::Eeprom>(32768, 64);
//   device->AttachTarget(0x50, eeprom);   // address byte 0xA0 / 0xA1
class CORVANE_SIM_API Eeprom : public I2cTarget {
  public:
    // sizeBytes: 1 to 65,536; pageBytes: 1 to sizeBytes. Throws
    // std::invalid_argument otherwise.
    Eeprom(std::size_t sizeBytes, std::size_t pageBytes);

    // The memory itself, for tests and persistence: read or change it freely
    // between transfers (keep its size).
    std::vector<std::uint8_t>& Contents() { return memory_; }
    const std::vector<std::uint8_t>& Contents() const { return memory_; }

    std::size_t Size() const { return memory_.size(); }
    // Copy between the memory and `data` at `offset`, also while a transfer
    // on another thread writes the memory; false (nothing copied) when the
    // range passes the end of the memory.
    bool Read(std::size_t offset, std::span<std::uint8_t> data) const;
    bool Write(std::size_t offset, std::span<const std::uint8_t> data);

    // Where the next read or write continues.
    std::size_t AddressCounter() const { return counter_; }
    // Sets it, as a chip that stayed powered would still have it (modulo the size).
    void SetAddressCounter(std::size_t address) { counter_ = address % memory_.size(); }

    // Length of the internal write cycle; zero acknowledges at once.
    void SetWriteCycle(std::chrono::microseconds cycle) { writeCycle_ = cycle; }
    std::chrono::microseconds WriteCycle() const { return writeCycle_; }

    bool Start(bool read) override;
    bool WriteByte(std::uint8_t value) override;
    std::uint8_t ReadByte() override;
    void Stop() override;
    void BusTime(std::chrono::nanoseconds now) override { now_ = now; }

  private:
    void CommitPage();
    bool InRange(std::size_t offset, std::size_t count) const;

    // Held by the bus side (Start to Stop) and by Read and Write.
    mutable std::mutex mutex_;
    std::vector<std::uint8_t> memory_;
    std::size_t pageBytes_;
    std::size_t counter_ = 0;
    bool writing_ = false;
    int addressBytes_ = 0;  // address bytes received in this write
    std::size_t addressHigh_ = 0;
    // The page being written: its first address and the bytes latched so far.
    std::size_t pageBase_ = 0;
    std::vector<std::uint8_t> page_;
    std::vector<bool> latched_;
    bool pageDirty_ = false;
    std::chrono::microseconds writeCycle_{5000};
    std::chrono::nanoseconds now_{0};
    std::chrono::nanoseconds busyUntil_{0};
};

}  // namespace Corvane::Sim
