// SPDX-License-Identifier: MIT
#pragma once

// Fixture for the bus transfers: a connected virtual chip with a 24-series
// EEPROM at 0x50 (address bytes 0xA0 / 0xA1) and an SMBus device at 0x0B.

#include <corvane/sim/Eeprom.hpp>
#include <corvane/sim/SmbusDevice.hpp>

#include <algorithm>
#include <memory>
#include <vector>

#include "common/SimTest.hpp"
#include "functions/DevFunctions.hpp"

namespace CorvaneTest {

using Corvane::DevFunctions;
using Corvane::Sim::Eeprom;
using Corvane::Sim::SmbusDevice;

inline constexpr std::uint8_t kEepromWrite = 0xA0;
inline constexpr std::uint8_t kEepromRead = 0xA1;
inline constexpr std::uint8_t kSmbusAddress = 0x16;  // 7-bit 0x0B
inline constexpr std::uint32_t k100k = 100'000;
inline constexpr std::uint32_t k400k = 400'000;
inline constexpr std::uint32_t k1M = 1'000'000;

// A status poll as the transfers send it.
inline Report StatusPoll() {
    return Bytes({0x10});
}

// Bytes 0, 1, ... n-1 scrambled so that shifted or repeated data shows.
inline std::vector<std::uint8_t> Pattern(std::size_t n, unsigned seed = 1) {
    std::vector<std::uint8_t> data(n);
    unsigned x = seed * 2654435761u;
    for (auto& b : data) {
        x = x * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(x >> 16);
    }
    return data;
}

class BusTest : public ConnectedTest {
  protected:
    void SetUp() override {
        ConnectedTest::SetUp();
        eeprom = std::make_shared<Eeprom>(32768, 64);
        device->AttachTarget(0x50, eeprom);
        smbus = std::make_shared<SmbusDevice>(0x0B);
        device->AttachTarget(0x0B, smbus);
    }

    // The command codes sent, in order.
    std::vector<std::uint8_t> Codes() const {
        std::vector<std::uint8_t> codes;
        for (const Report& r : Sent()) codes.push_back(r[0]);
        return codes;
    }

    std::vector<Report> SentWith(std::uint8_t code) const {
        std::vector<Report> out;
        for (const Report& r : Sent()) {
            if (r[0] == code) out.push_back(r);
        }
        return out;
    }

    // The answers the device gave to commands with this code.
    std::vector<Report> AnswersTo(std::uint8_t code) const {
        std::vector<Report> out;
        for (const TraceEntry& e : host->Trace()) {
            if (!e.toDevice && e.bytes[0] == code) out.push_back(e.bytes);
        }
        return out;
    }

    std::size_t Count(std::uint8_t code) const { return SentWith(code).size(); }

    // Starts over with an empty trace and no recorded sleeps.
    void Forget() {
        host->ClearTrace();
        host->ClearSleeps();
    }

    // Writes `data` to the EEPROM at `address` with one I2C write.
    std::int32_t EepromWrite(std::uint16_t address, const std::vector<std::uint8_t>& data,
                             std::uint32_t speed = k400k) {
        std::vector<std::uint8_t> bytes{static_cast<std::uint8_t>(address >> 8),
                                        static_cast<std::uint8_t>(address & 0xFF)};
        bytes.insert(bytes.end(), data.begin(), data.end());
        return DevFunctions::int_WriteI2cData(kEepromWrite, bytes.data(),
                                              static_cast<std::uint32_t>(bytes.size()), speed);
    }

    std::shared_ptr<Eeprom> eeprom;
    std::shared_ptr<SmbusDevice> smbus;
};

}  // namespace CorvaneTest
