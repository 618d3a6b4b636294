// SPDX-License-Identifier: MIT
// The bus helpers of Bus.hpp.
#include "Bus.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <array>

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

namespace {

// Addresses where a write could change something (EEPROMs, write-protect
// latches); i2cdetect reads one byte there instead.
bool ProbeByRead(std::uint8_t address7) {
    return (address7 >= 0x30 && address7 <= 0x37) || (address7 >= 0x50 && address7 <= 0x5F);
}

// An address of the scan range: 0x00 to 0x7f with -a, else 0x03 to 0x77.
std::uint8_t ScanAddress(const std::string& text, const char* what, bool all) {
    if (!all) return ParseAddress(text);
    return static_cast<std::uint8_t>(ParseNumber(text, what, 0, 0x7F));
}

}  // namespace

ScanPlan ParseScan(const std::string& first, const std::string& last, bool all, bool byRead,
                   bool quick) {
    if (byRead && quick) throw UsageError("-r and -q exclude each other");
    ScanPlan plan;
    plan.byRead = byRead;
    plan.quick = quick;
    if (all) {
        plan.first = 0x00;
        plan.last = 0x7F;
    }
    if (!first.empty()) plan.first = ScanAddress(first, "FIRST", all);
    if (!last.empty()) plan.last = ScanAddress(last, "LAST", all);
    if (plan.first > plan.last) throw UsageError("FIRST must not be above LAST");
    return plan;
}

Json ScanBus(Corvane::I2cBus& bus, const ScanPlan& plan) {
    std::vector<int> found;
    for (unsigned address = plan.first; address <= plan.last; ++address) {
        const auto address7 = static_cast<std::uint8_t>(address);
        std::int32_t result;
        if (plan.byRead || (!plan.quick && ProbeByRead(address7))) {
            std::array<std::uint8_t, 1> byte{};
            result = std::min(bus.Read(address7, byte), 0);
        } else {
            result = bus.Quick(address7);
        }
        if (result == 0) {
            found.push_back(static_cast<int>(address));
        } else if (result != Corvane::I2C_NOT_ACKNOWLEDGED) {
            throw Failure(result,
                          fmt::format("{} (while probing address {})",
                                      Corvane::ResultCodeDescription(result), Hex(address7)));
        }
    }
    return {{"first", plan.first}, {"last", plan.last}, {"found", found}};
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
