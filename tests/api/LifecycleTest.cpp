// SPDX-License-Identifier: MIT
// The library object, its facets and device management, as an application sees them.
#include "common/SimTest.hpp"

#include <set>
#include <string>

namespace CorvaneTest {
namespace {

using Corvane::DllConstants;
using Corvane::VrelUsbI2c;

// Callers pass these numbers as they stand.
static_assert(DllConstants::OFF == 0 && DllConstants::DISABLED == 0 &&
              DllConstants::CURRENT_SETTINGS_ONLY == 0);
static_assert(DllConstants::ON == 1 && DllConstants::ENABLED == 1 &&
              DllConstants::PWRUP_DEFAULTS_ONLY == 1);
static_assert(DllConstants::BOTH == 2);

class LifecycleTest : public SimTest {};

TEST_F(LifecycleTest, DefaultAndExplicitDefaultIdsFindTheSameDevice) {
    Plug();
    VrelUsbI2c byDefault;
    EXPECT_TRUE(byDefault.Settings->GetConnectionStatus());
    const std::string path = byDefault.Management->GetSelectedDevInfo();
    VrelUsbI2c explicitIds(0x3A7C, 0x01D5);
    EXPECT_EQ(explicitIds.Management->GetSelectedDevInfo(), "");
    EXPECT_TRUE(explicitIds.Settings->GetConnectionStatus());
    EXPECT_EQ(explicitIds.Management->GetSelectedDevInfo(), path);
}

TEST_F(LifecycleTest, ConstructionTouchesNoDevice) {
    Plug();
    VrelUsbI2c bridge;
    EXPECT_EQ(host->DiscoveryCount(), 0u);
    EXPECT_EQ(host->OpenChannelCount(), 0u);
    EXPECT_TRUE(host->Trace().empty());
    EXPECT_EQ(bridge.Management->GetDevCount(), 0);
    EXPECT_EQ(bridge.Management->GetSelectedDevNum(), 0);
    EXPECT_EQ(bridge.Management->GetSelectedDevInfo(), "");
}

TEST_F(LifecycleTest, IdsThatNoDeviceCarriesAreNotAnError) {
    Plug();
    VrelUsbI2c bridge(0x1234, 0x5678);
    EXPECT_FALSE(bridge.Settings->GetConnectionStatus());
    EXPECT_EQ(bridge.Management->GetDevCount(), 0);
}

TEST_F(LifecycleTest, SecondConstructionMakesEveryInstanceSearchForItsIds) {
    Plug(0x3A7C, 0x01D5);
    auto other = Plug(0x1111, 0x2222);
    VrelUsbI2c first;
    VrelUsbI2c second(0x1111, 0x2222);
    EXPECT_TRUE(first.Settings->GetConnectionStatus());
    EXPECT_EQ(first.Management->GetDevCount(), 1);
    EXPECT_EQ(first.Management->GetSelectedDevInfo(), Narrow(other->Path()));
}

TEST_F(LifecycleTest, SecondConstructionWhileConnectedDropsTheConnection) {
    Plug();
    auto second = Plug();
    VrelUsbI2c first;
    ASSERT_TRUE(first.Settings->GetConnectionStatus());
    ASSERT_EQ(first.Management->SelectDev(1), 0);
    ASSERT_TRUE(first.Settings->GetConnectionStatus());
    VrelUsbI2c again;
    EXPECT_EQ(first.Management->GetSelectedDevNum(), 0);
    EXPECT_EQ(first.Management->GetSelectedDevInfo(), "");
    EXPECT_EQ(first.Management->GetDevCount(), 0);
    EXPECT_TRUE(again.Settings->GetConnectionStatus());
    EXPECT_EQ(again.Management->GetSelectedDevNum(), 0);
}

TEST_F(LifecycleTest, DisposedObjectAndFacetsStillReachTheDevice) {
    Plug();
    VrelUsbI2c bridge;
    bridge.Dispose();
    bridge.Settings->Dispose();
    bridge.Settings->Dispose();  // a second disposal is harmless
    bridge.Management->Dispose();
    bridge.Management->Dispose();
    bridge.Functions->Dispose();
    bridge.Functions->Dispose();
    EXPECT_TRUE(bridge.Settings->GetConnectionStatus());
    EXPECT_EQ(bridge.Management->GetDevCount(), 1);
}

TEST_F(LifecycleTest, FacetOutlivesItsObject) {
    Plug();
    std::shared_ptr<Corvane::DevSettings_M> settings;
    {
        VrelUsbI2c bridge;
        settings = bridge.Settings;
    }
    EXPECT_TRUE(settings->GetConnectionStatus());
}

TEST_F(LifecycleTest, ManyConstructionsLeakNoChannels) {
    Plug();
    Plug();
    {
        VrelUsbI2c bridge;
        ASSERT_TRUE(bridge.Settings->GetConnectionStatus());
    }
    const std::size_t open = host->OpenChannelCount();
    EXPECT_EQ(open, 4u);  // two devices, two channels each
    for (int i = 0; i < 200; ++i) {
        VrelUsbI2c bridge;
        ASSERT_TRUE(bridge.Settings->GetConnectionStatus());
    }
    EXPECT_EQ(host->OpenChannelCount(), open);
}

TEST_F(LifecycleTest, NoHandleIsClosedTwice) {
    // The selected device goes away, discovery closes its channels, and a new
    // object then resets the state the connection still pointed into.
    Connect();
    host->Unplug(device);
    EXPECT_FALSE(bridge->Settings->GetConnectionStatus());
    { VrelUsbI2c again; }
    host->Plug(device);
    EXPECT_TRUE(bridge->Settings->GetConnectionStatus());
    host->Unplug(device);
    EXPECT_EQ(bridge->Functions->ResetDevice(), -4);
    { VrelUsbI2c again; }
    EXPECT_EQ(host->StrayCloseCount(), 0u);
    EXPECT_EQ(host->OpenChannelCount(), 0u);
}

// ---- device management ----------------------------------------------------

TEST_F(LifecycleTest, TwoDevicesAreNumberedInEnumerationOrder) {
    auto first = Plug();
    auto second = Plug();
    VrelUsbI2c bridge;
    ASSERT_TRUE(bridge.Settings->GetConnectionStatus());
    EXPECT_EQ(bridge.Management->GetDevCount(), 2);
    EXPECT_EQ(bridge.Management->GetSelectedDevNum(), 0);
    EXPECT_EQ(bridge.Management->GetSelectedDevInfo(), Narrow(first->Path()));
}

TEST_F(LifecycleTest, SelectDevRejectsNumbersOutsideTheTable) {
    Plug();
    Plug();
    VrelUsbI2c bridge;
    EXPECT_EQ(bridge.Management->SelectDev(0), Corvane::DEVICE_INDEX_ERROR);  // empty table
    ASSERT_TRUE(bridge.Settings->GetConnectionStatus());
    const std::string path = bridge.Management->GetSelectedDevInfo();
    for (int bad : {-1, 2, 64, INT32_MIN}) {
        EXPECT_EQ(bridge.Management->SelectDev(bad), Corvane::DEVICE_INDEX_ERROR) << bad;
        EXPECT_EQ(bridge.Management->GetSelectedDevNum(), 0);
        EXPECT_EQ(bridge.Management->GetSelectedDevInfo(), path);
    }
    EXPECT_EQ(bridge.Management->SelectDev(1), 0);
    EXPECT_EQ(bridge.Management->GetSelectedDevNum(), 1);
}

TEST_F(LifecycleTest, SelectionSwitchesAtTheNextConnectionQuery) {
    auto first = Plug();
    auto second = Plug();
    VrelUsbI2c bridge;
    ASSERT_TRUE(bridge.Settings->GetConnectionStatus());
    ASSERT_EQ(bridge.Management->SelectDev(1), 0);
    EXPECT_EQ(bridge.Management->GetSelectedDevInfo(), Narrow(second->Path()));
    EXPECT_TRUE(bridge.Settings->GetConnectionStatus());
    EXPECT_EQ(bridge.Management->GetSelectedDevNum(), 1);
}

TEST_F(LifecycleTest, DeviceAheadOfTheSelectedOneDisconnectsUntilSelectedAgain) {
    auto first = Plug();
    VrelUsbI2c bridge;
    ASSERT_TRUE(bridge.Settings->GetConnectionStatus());
    host->Plug(std::make_shared<VirtualDevice>(), 0);
    EXPECT_FALSE(bridge.Settings->GetConnectionStatus());
    EXPECT_EQ(bridge.Management->GetDevCount(), 2);
    ASSERT_EQ(bridge.Management->SelectDev(1), 0);
    EXPECT_TRUE(bridge.Settings->GetConnectionStatus());
}

TEST_F(LifecycleTest, ConnectionQueryWithNoDeviceLeavesTheTableEmpty) {
    VrelUsbI2c bridge;
    EXPECT_FALSE(bridge.Settings->GetConnectionStatus());
    EXPECT_EQ(bridge.Management->GetDevCount(), 0);
    EXPECT_EQ(host->EventCount(), 0u);
    Plug();
    EXPECT_TRUE(bridge.Settings->GetConnectionStatus());
    EXPECT_TRUE(bridge.Settings->GetConnectionStatus());
    EXPECT_EQ(host->EventCount(), 1u);  // the first pass that finds a device makes it
}

TEST_F(LifecycleTest, ForeignInterfacesAreNotListed) {
    host->AddForeignInterface({u"HID\\VID_046D&PID_C52B&MI_00"}, u"\\\\?\\hid#logitech");
    host->AddForeignInterface({}, u"\\\\?\\hid#no-hardware-id");
    host->AddForeignInterface({u"", u"HID\\VID_3A7C&PID_01D5"}, u"\\\\?\\hid#second-string-only");
    auto device = Plug();
    VrelUsbI2c bridge;
    EXPECT_TRUE(bridge.Settings->GetConnectionStatus());
    EXPECT_EQ(bridge.Management->GetDevCount(), 1);
    EXPECT_EQ(bridge.Management->GetSelectedDevInfo(), Narrow(device->Path()));
}

TEST_F(LifecycleTest, UnpluggedAndReplugged) {
    auto device = Plug();
    VrelUsbI2c bridge;
    ASSERT_TRUE(bridge.Settings->GetConnectionStatus());
    host->Unplug(device);
    EXPECT_FALSE(bridge.Settings->GetConnectionStatus());
    EXPECT_EQ(bridge.Management->GetDevCount(), 0);
    host->Plug(device);
    EXPECT_TRUE(bridge.Settings->GetConnectionStatus());
}

// Every code has a description, and no two failures share a name.
TEST(ResultCodeNames, NamesAndDescriptions) {
    std::set<std::string> failureNames;
    for (std::int32_t code = -600; code <= 300; ++code) {
        const std::string name = Corvane::ResultCodeName(code);
        ASSERT_NE(Corvane::ResultCodeDescription(code), nullptr) << code;
        EXPECT_GT(std::string(Corvane::ResultCodeDescription(code)).size(), 5u) << code;
        if (code > 0) {
            EXPECT_EQ(name, code <= 255 ? "DEVICE_STATUS" : "UNKNOWN_RESULT") << code;
        } else if (code < 0 && name != "UNKNOWN_RESULT") {
            EXPECT_TRUE(failureNames.insert(name).second) << name;
        }
    }
    EXPECT_STREQ(Corvane::ResultCodeName(Corvane::SUCCESS), "SUCCESS");
    EXPECT_STREQ(Corvane::ResultCodeName(Corvane::PEC_MISMATCH), "PEC_MISMATCH");
    EXPECT_GE(failureNames.size(), 34u);
}

}  // namespace
}  // namespace CorvaneTest
