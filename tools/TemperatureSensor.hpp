// SPDX-License-Identifier: MIT
#pragma once

#include <corvane/sim/I2cTarget.hpp>

#include <array>
#include <cstdint>

namespace CorvaneTool {

// An LM75-style temperature sensor for the virtual bus. The first byte of a
// write selects the register (0 temperature, 1 configuration, 2 hysteresis,
// 3 over-temperature limit); further bytes write it. Reads return the
// selected register, most significant byte first, and repeat it.
// Temperatures are 9-bit two's complement halves of a degree in bits 15-7.
class TemperatureSensor : public Corvane::Sim::I2cTarget {
  public:
    // What a power cycle would not lose, to keep between runs: configuration,
    // hysteresis, limit and the register pointer.
    using Registers = std::array<std::uint16_t, 4>;

    explicit TemperatureSensor(double celsius = 23.5);

    Registers Saved() const { return {config_, hysteresis_, limit_, pointer_}; }
    void Restore(const Registers& registers);

    bool Start(bool read) override;
    bool WriteByte(std::uint8_t value) override;
    std::uint8_t ReadByte() override;
    void Stop() override;

  private:
    std::uint16_t Register() const;
    static std::uint16_t Encode(double celsius);

    std::uint16_t temperature_;
    std::uint16_t config_ = 0x00;
    std::uint16_t hysteresis_;
    std::uint16_t limit_;
    std::uint8_t pointer_ = 0;
    bool pointerWritten_ = false;
    int byteIndex_ = 0;
};

}  // namespace CorvaneTool
