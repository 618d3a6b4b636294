// SPDX-License-Identifier: MIT
// Power-up settings take effect when the virtual chip resets, and the
// internal hardware-version query.
#include <gtest/gtest.h>

#include <cstring>

#include "common/SettingsTest.hpp"
#include "protocol/DevCom.hpp"
#include "settings/DevSettings.hpp"

namespace CorvaneTest {
namespace {

using Corvane::DevCom;
using Corvane::DevSettings;
using Corvane::DllConstants;

class SettingsPowerUpTest : public SettingsTest {};

TEST_F(SettingsPowerUpTest, NewIdentityIsEnumeratedAfterReset) {
    auto& s = S();
    ASSERT_EQ(s.SetUsbVidPid(0x1234, 0x5678), 0);
    ASSERT_EQ(s.SetUsbPowerSource(1), 0);
    ASSERT_EQ(s.SetUsbRemoteWakeupEnable(true), 0);
    ASSERT_EQ(s.SetUsbCurrentRequirement(420), 0);
    ASSERT_EQ(s.SetSerialNumberEnumerationEnable(false), 0);
    ASSERT_EQ(s.SetUsbStringManufacturer(u"Maker"), 0);
    ASSERT_EQ(s.SetUsbStringDescriptor(u"Widget"), 0);
    EXPECT_EQ(device->EnumeratedVid(), 0x3A7C);  // not before the reset

    ASSERT_EQ(DevCom::ResetChip(), 0);
    const auto enumeration = device->Enumeration();
    EXPECT_EQ(enumeration.vid, 0x1234);
    EXPECT_EQ(enumeration.pid, 0x5678);
    EXPECT_EQ(enumeration.powerAttributes, 0x60);
    EXPECT_EQ(enumeration.maxPowerMa, 420);
    EXPECT_EQ(enumeration.manufacturer, u"Maker");
    EXPECT_EQ(enumeration.product, u"Widget");
    EXPECT_EQ(enumeration.serialNumber, std::nullopt);
    EXPECT_EQ(device->HardwareIds()[0], u"HID\\VID_1234&PID_5678&REV_0100");

    // The old IDs find nothing; the new ones find the device.
    EXPECT_FALSE(s.GetConnectionStatus());
    Corvane::VrelUsbI2c renamed(0x1234, 0x5678);
    EXPECT_TRUE(renamed.Settings->GetConnectionStatus());
    EXPECT_EQ(renamed.Settings->GetUsbVid(), 0x1234);
    ASSERT_EQ(renamed.Settings->SetSerialNumberEnumerationEnable(true), 0);
    ASSERT_EQ(DevCom::ResetChip(), 0);
    EXPECT_EQ(device->Enumeration().serialNumber, device->Flash().serialNumber);
}

TEST_F(SettingsPowerUpTest, PowerUpPinAndAnalogSettingsApplyAfterReset) {
    auto& s = S();
    const std::array<std::uint8_t, 4> d = {0, 0, 0, 0}, r = {0, 0, 1, 1}, v = {1, 0, 0, 0};
    ASSERT_EQ(s.SetGpPinConfiguration(DllConstants::PWRUP_DEFAULTS_ONLY, d, r, v), 0);
    ASSERT_EQ(s.SetGpPinDirection(DllConstants::PWRUP_DEFAULTS_ONLY, 1, 1), 0);
    ASSERT_EQ(s.SetInterruptPinMode(DllConstants::PWRUP_DEFAULTS_ONLY, 1), 0);
    ASSERT_EQ(s.SetClockPinConfiguration(DllConstants::PWRUP_DEFAULTS_ONLY, 3, 0), 0);
    EXPECT_EQ(device->PinLevel(0), 0);
    EXPECT_EQ(s.GetInterruptPinMode(DllConstants::CURRENT_SETTINGS_ONLY), 0);

    ASSERT_EQ(DevCom::ResetChip(), 0);
    ASSERT_TRUE(s.GetConnectionStatus());
    EXPECT_EQ(device->PinLevel(0), 1);  // output driven high
    EXPECT_EQ(s.GetGpPinDirection(DllConstants::CURRENT_SETTINGS_ONLY, 0), 0);
    EXPECT_EQ(s.GetGpPinDirection(DllConstants::CURRENT_SETTINGS_ONLY, 1), 1);
    EXPECT_EQ(s.GetInterruptPinMode(DllConstants::CURRENT_SETTINGS_ONLY), 1);
    EXPECT_EQ(s.GetClockPinDividerValue(DllConstants::CURRENT_SETTINGS_ONLY), 3);
    EXPECT_EQ(device->ClockOutputHz(), 6'000'000u);
    device->InterruptEdge(true);
    EXPECT_TRUE(device->InterruptFlag());
}

TEST_F(SettingsPowerUpTest, ProtectionSetBeforeResetStaysInForce) {
    ASSERT_EQ(S().SetFlashPasswordProtection("resetpw1"), 0);
    ASSERT_EQ(DevCom::ResetChip(), 0);
    ASSERT_TRUE(S().GetConnectionStatus());
    EXPECT_EQ(S().GetFlashProtectionState(), 1);
    // The remembered password still opens the flash after the reset.
    EXPECT_EQ(S().SetUsbCurrentRequirement(250), 0);
    DevCom::StoreAccessPassword("otherpw1");
    EXPECT_EQ(S().SetUsbCurrentRequirement(300), 3);
    EXPECT_EQ(S().GetUsbCurrentRequirement(), 250);
}

TEST_F(SettingsPowerUpTest, VersionsFromTheStatusAnswerAndNullBuffers) {
    device->EditResponses(0x10, Put(46, {0x41, 0x36, 0x31, 0x32}));
    char version[3] = {'?', '?', '?'};
    ASSERT_EQ(DevSettings::int_GetHardwareVersion(version), 0);
    EXPECT_STREQ(version, "A6");
    EXPECT_EQ(Sent(), std::vector<Report>{Bytes({0x10})});

    char firmware[4] = {'?', '?', '?', '?'};
    ASSERT_EQ(DevSettings::int_GetFirmwareVersion(firmware), 0);
    EXPECT_STREQ(firmware, "1.2");

    Refuse(0x10, 0x01);
    char untouched[3] = {'x', 'y', 'z'};
    EXPECT_EQ(DevSettings::int_GetHardwareVersion(untouched), 1);
    EXPECT_EQ(std::memcmp(untouched, "xyz", 3), 0);
    host->ClearTrace();
    EXPECT_EQ(DevSettings::int_GetHardwareVersion(nullptr), Corvane::INVALID_ARG_1);
    EXPECT_EQ(DevSettings::int_GetFirmwareVersion(nullptr), Corvane::INVALID_ARG_1);
    EXPECT_EQ(DevSettings::int_GetSerialNumber(nullptr), Corvane::INVALID_ARG_1);
    EXPECT_EQ(DevSettings::int_GetUsbStringManufacturer(nullptr), Corvane::INVALID_ARG_1);
    EXPECT_EQ(DevSettings::int_GetUsbStringDescriptor(nullptr), Corvane::INVALID_ARG_1);
    EXPECT_TRUE(host->Trace().empty());
}

}  // namespace
}  // namespace CorvaneTest
