// SPDX-License-Identifier: MIT
#pragma once

// I2C helpers shared by the bus, register and EEPROM commands.

#include <corvane/corvane.hpp>

#include <cstdint>
#include <string>

#include "Tool.hpp"

namespace CorvaneTool {

// Throws Failure unless `result` is 0; a missing acknowledge names the address.
void BusCheck(std::int32_t result, std::uint8_t address7);
// For the I2cBus calls: the value, or a Failure for a negative result that
// names the address where it helps.
std::int32_t BusValue(std::int32_t result, std::uint8_t address7);

// The chosen bridge's bus at the tool's --speed.
Corvane::I2cBus OpenBus(Tool& tool, bool pec = false);
Corvane::I2cBus OpenBus(Tool& tool, bool pec, Use use);

// What a scan probes, as i2cdetect takes it: FIRST and LAST (0x08 to 0x77
// unless given; 0x00 to 0x7f allowed with `all`), -r and -q.
struct ScanPlan {
    std::uint8_t first = 0x08;
    std::uint8_t last = 0x77;
    bool byRead = false;
    bool quick = false;
};
ScanPlan ParseScan(const std::string& first, const std::string& last, bool all, bool byRead,
                   bool quick);
// {"first", "last", "found": [addresses that acknowledged]}. A failure other
// than a missing acknowledge ends the scan, naming the address.
Json ScanBus(Corvane::I2cBus& bus, const ScanPlan& plan);

}  // namespace CorvaneTool
