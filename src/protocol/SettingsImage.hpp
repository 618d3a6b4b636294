// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstdint>

namespace Corvane {

// The chip settings, unpacked from the flash record or the run-time settings.
// Lives for one call only.
struct SettingsImage {
    std::uint8_t flashProtection = 0;  // 0 none, 1 password, 2 locked for good
    std::uint16_t usbVid = 0;
    std::uint16_t usbPid = 0;
    std::uint16_t currentRequirementMa = 0;  // always even
    std::uint8_t powerAttributes = 0;  // 0x80 bus powered, 0x40 self powered, 0x20 remote wakeup
    std::uint8_t initUsbcfg = 0;
    std::uint8_t initSspnd = 0;
    std::uint8_t serialNumberEnumeration = 0;
    std::uint8_t initLedUartRx = 0;
    std::uint8_t initLedUartTx = 0;
    std::uint8_t initLedI2c = 0;
    std::array<std::uint8_t, 4> gpDesignation{};
    std::array<std::uint8_t, 4> gpDirection{};
    std::array<std::uint8_t, 4> gpOutputValue{};
    std::uint8_t interruptMode = 0;
    std::uint8_t clockOutDutyCycle = 0;
    std::uint8_t clockOutDivider = 0;
    std::uint8_t dacReference = 0;  // 3-bit code; a run-time change stores 0x80 | code here
    std::uint8_t dacValue = 0;      // 0 to 31; a run-time change stores 0x80 | value here
    std::uint8_t adcReference = 0;  // 3-bit code; a run-time change stores 0x80 | code here

    bool operator==(const SettingsImage&) const = default;
};

}  // namespace Corvane
