// SPDX-License-Identifier: MIT
#pragma once

// Fixture for the settings facet: a connected default device and helpers to
// shape its answers and look at what was sent.

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "common/SimTest.hpp"

namespace CorvaneTest {

// The chip settings record of a device whose fields all differ from the
// factory values and from each other's neighbours.
inline std::array<std::uint8_t, 10> BusyChipRecord() {
    return {0xA8,  // serial number enumerated, LED UART TX and SSPND 1, not protected
            0x15,  // duty code 2, divider code 5
            0xB1,  // DAC reference code 5, value 17
            0x4C,  // interrupt mode 2, ADC reference code 3
            0x34, 0x12, 0xCD, 0xAB,  // VID 0x1234, PID 0xABCD
            0xA0,                    // bus powered, remote wakeup
            75};                     // 150 mA
}

class SettingsTest : public ConnectedTest {
  protected:
    Corvane::DevSettings_M& S() { return *bridge->Settings; }

    // Command codes of the reports sent, in order.
    std::vector<int> Codes() const {
        std::vector<int> codes;
        for (const Report& report : Sent()) codes.push_back(report[0]);
        return codes;
    }

    void SetChipRecord(const std::array<std::uint8_t, 10>& record) {
        auto flash = device->Flash();
        flash.chipSettings = record;
        device->SetFlash(flash);
    }

    void SetGpRecord(const std::array<std::uint8_t, 4>& record) {
        auto flash = device->Flash();
        flash.gpSettings = record;
        device->SetFlash(flash);
    }

    // The next answer to `code` carries a non-zero status.
    void Refuse(std::uint8_t code, int status = 0x01) {
        device->EditResponses(code, Put(1, {status}));
    }
    // The next answer to `code` echoes another command.
    void Mismatch(std::uint8_t code) { device->EditResponses(code, Put(0, {0x00})); }
};

}  // namespace CorvaneTest
