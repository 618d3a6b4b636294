#pragma once

// I2C helpers shared by the bus and EEPROM commands. The tool takes 7-bit
// addresses; the library's transfers take the 8-bit address byte.

#include <corvane/corvane.hpp>

#include <cstdint>
#include <span>
#include <vector>

namespace CorvaneTool {

inline std::uint8_t WriteAddressByte(std::uint8_t address7) {
    return static_cast<std::uint8_t>(address7 << 1);
}
inline std::uint8_t ReadAddressByte(std::uint8_t address7) {
    return static_cast<std::uint8_t>((address7 << 1) | 1);
}

class Tool;

// Throws Failure unless `result` is 0; a missing acknowledge names the address.
void BusCheck(std::int32_t result, std::uint8_t address7);
// For the I2cBus calls: the value, or a Failure for a negative result that
// names the address where it helps.
std::int32_t BusValue(std::int32_t result, std::uint8_t address7);

// The bridge's bus at the tool's --speed.
Corvane::I2cBus OpenBus(Tool& tool, bool pec = false);

// Plain transfers of the tool's commands.
void BusWrite(Corvane::VrelUsbI2c& bridge, std::uint8_t address7,
              std::span<const std::uint8_t> bytes, std::uint32_t speed);
void BusRead(Corvane::VrelUsbI2c& bridge, std::uint8_t address7, std::span<std::uint8_t> bytes,
             std::uint32_t speed);
// A zero-length write: 0 when a target acknowledged, else the result code.
std::int32_t BusProbe(Corvane::VrelUsbI2c& bridge, std::uint8_t address7, std::uint32_t speed);

}  // namespace CorvaneTool
