// SPDX-License-Identifier: MIT
#pragma once

// I2C helpers shared by the bus, register and EEPROM commands.

#include <corvane/corvane.hpp>

#include <cstdint>

namespace CorvaneTool {

class Tool;
enum class Use;

// Throws Failure unless `result` is 0; a missing acknowledge names the address.
void BusCheck(std::int32_t result, std::uint8_t address7);
// For the I2cBus calls: the value, or a Failure for a negative result that
// names the address where it helps.
std::int32_t BusValue(std::int32_t result, std::uint8_t address7);

// The chosen bridge's bus at the tool's --speed.
Corvane::I2cBus OpenBus(Tool& tool, bool pec = false);
Corvane::I2cBus OpenBus(Tool& tool, bool pec, Use use);

}  // namespace CorvaneTool
