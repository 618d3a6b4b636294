// SPDX-License-Identifier: MIT
#pragma once

// Test fixture on the simulated host, using the public API only.

#include <gtest/gtest.h>

#include <corvane/corvane.hpp>
#include <corvane/sim.hpp>

#include <algorithm>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace CorvaneTest {

using Corvane::Sim::Report;
using Corvane::Sim::SimulatedHost;
using Corvane::Sim::TraceEntry;
using Corvane::Sim::VirtualDevice;

// A 64-byte report: the given leading bytes, zeros after them.
inline Report Bytes(std::initializer_list<int> leading) {
    Report report{};
    std::size_t i = 0;
    for (int b : leading) report[i++] = static_cast<std::uint8_t>(b);
    return report;
}

// An answer edit that sets bytes from `first` on.
inline auto Put(std::size_t first, std::initializer_list<int> bytes) {
    std::vector<std::uint8_t> values;
    for (int b : bytes) values.push_back(static_cast<std::uint8_t>(b));
    return [first, values](Report& answer) {
        std::copy(values.begin(), values.end(),
                  answer.begin() + static_cast<std::ptrdiff_t>(first));
    };
}

// ASCII text of a device path.
inline std::string Narrow(const std::u16string& text) {
    std::string narrow;
    for (char16_t c : text) narrow.push_back(static_cast<char>(c));
    return narrow;
}

class SimTest : public ::testing::Test {
  protected:
    void SetUp() override { host = SimulatedHost::Install(); }
    void TearDown() override {
        // A handle closed twice may close another on a system that reuses handles.
        EXPECT_EQ(host->StrayCloseCount(), 0u);
        Corvane::SetPlatform(nullptr);
    }

    std::shared_ptr<VirtualDevice> Plug(std::uint16_t vid = 0x3A7C, std::uint16_t pid = 0x01D5) {
        auto device = std::make_shared<VirtualDevice>(vid, pid);
        host->Plug(device);
        return device;
    }

    // The reports the library sent, in order.
    std::vector<Report> Sent() const {
        std::vector<Report> sent;
        for (const TraceEntry& entry : host->Trace()) {
            if (entry.toDevice) sent.push_back(entry.bytes);
        }
        return sent;
    }

    // Plugs one default device and builds a library object connected to it.
    void Connect() {
        device = Plug();
        bridge = std::make_unique<Corvane::VrelUsbI2c>();
        ASSERT_TRUE(bridge->Settings->GetConnectionStatus());
        host->ClearTrace();
        host->ClearSleeps();
    }

    // Starts again on a new host with one connected device.
    void Fresh() {
        bridge.reset();
        host = SimulatedHost::Install();
        Connect();
    }

    // Fresh(), with an EEPROM at 0x50 and an SMBus device with PEC at 0x0B.
    void FreshWithTargets() {
        Fresh();
        device->AttachTarget(0x50, std::make_shared<Corvane::Sim::Eeprom>(4096, 32));
        auto smbus = std::make_shared<Corvane::Sim::SmbusDevice>(0x0B);
        smbus->EnablePec(true);
        smbus->SetRegister(0x20, {1, 2, 3, 4});
        device->AttachTarget(0x0B, smbus);
    }

    std::shared_ptr<SimulatedHost> host;
    std::shared_ptr<VirtualDevice> device;
    std::unique_ptr<Corvane::VrelUsbI2c> bridge;
};

// A library object connected to one default device from the start.
class ConnectedTest : public SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        Connect();
    }
};

}  // namespace CorvaneTest
