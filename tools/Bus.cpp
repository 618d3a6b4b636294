// SPDX-License-Identifier: MIT
// The bus helpers of Bus.hpp.
#include "Bus.hpp"

#include <fmt/format.h>

#include "Numbers.hpp"
#include "Tool.hpp"

namespace CorvaneTool {

void BusCheck(std::int32_t result, std::uint8_t address7) {
    if (result == Corvane::I2C_NOT_ACKNOWLEDGED) {
        throw Failure(result, fmt::format("no device acknowledged address {}", Hex(address7)));
    }
    Check(result);
}

std::int32_t BusValue(std::int32_t result, std::uint8_t address7) {
    if (result == Corvane::PEC_MISMATCH) {
        throw Failure(result,
                      fmt::format("the PEC byte from {} does not match its data", Hex(address7)));
    }
    if (result < 0) BusCheck(result, address7);
    return result;
}

Corvane::I2cBus OpenBus(Tool& tool, bool pec, Use use) {
    Corvane::I2cBus bus(tool.Handle(use), tool.Speed());
    bus.SetPec(pec);
    return bus;
}

Corvane::I2cBus OpenBus(Tool& tool, bool pec) {
    return OpenBus(tool, pec, Use::Change);
}

}  // namespace CorvaneTool
