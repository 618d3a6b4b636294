// SPDX-License-Identifier: MIT
// The virtual chip behaves as a careful chip would: flash protection,
// password attempts, reset, persistence, analog and interrupt inputs.
#include <gtest/gtest.h>

#include "common/SimTest.hpp"
#include "protocol/DevCom.hpp"

namespace CorvaneTest {
namespace {

using Corvane::DevCom;
using Corvane::SettingsImage;

class VirtualChipTest : public ConnectedTest {
  protected:
    // Sends the access-password command; returns the status byte.
    int SendPassword(const char* password) {
        Report request = Bytes({0xB2, 0x00});
        for (std::size_t i = 0; i < 8 && password[i]; ++i) {
            request[2 + i] = static_cast<std::uint8_t>(password[i]);
        }
        EXPECT_TRUE(DevCom::WriteReport(request));
        Report answer{};
        EXPECT_TRUE(DevCom::ReadReport(answer));
        EXPECT_EQ(answer[0], 0xB2);
        return answer[1];
    }

    // Changes the protection state, carrying `password`.
    int Protect(std::uint8_t state, const char* password) {
        SettingsImage image;
        EXPECT_EQ(DevCom::ReadFlashChipSettings(image), 0);
        image.flashProtection = state;
        return DevCom::WriteFlashChipSettings(image, password);
    }

    int SetVid(std::uint16_t vid) {
        SettingsImage image;
        EXPECT_EQ(DevCom::ReadFlashChipSettings(image), 0);
        image.usbVid = vid;
        return DevCom::WriteFlashChipSettings(image, nullptr);
    }

    int SetCurrent(std::uint16_t milliamperes) {
        SettingsImage image;
        EXPECT_EQ(DevCom::ReadFlashChipSettings(image), 0);
        image.currentRequirementMa = milliamperes;
        return DevCom::WriteFlashChipSettings(image, nullptr);
    }

    void ResetAndReconnect() {
        ASSERT_EQ(DevCom::ResetChip(), 0);
        ASSERT_TRUE(bridge->Settings->GetConnectionStatus());
    }
};

TEST_F(VirtualChipTest, FactoryFlash) {
    const auto flash = device->Flash();
    EXPECT_EQ(flash.Protection(), 0);
    EXPECT_EQ(flash.manufacturer, u"Corvane Systems");
    EXPECT_EQ(flash.product, u"Corvane USB-I2C Bridge");
    EXPECT_EQ(flash.serialNumber.size(), 9u);
    EXPECT_NE(VirtualDevice().Flash().serialNumber, flash.serialNumber);
    SettingsImage image;
    ASSERT_EQ(DevCom::ReadFlashChipSettings(image), 0);
    EXPECT_EQ(image.usbVid, 0x3A7C);
    EXPECT_EQ(image.usbPid, 0x01D5);
    EXPECT_EQ(image.powerAttributes, 0x80);
    EXPECT_EQ(image.currentRequirementMa, 100);
}

TEST_F(VirtualChipTest, PasswordProtectedFlashRefusesWritesWithoutThePassword) {
    ASSERT_EQ(Protect(1, "secret12"), 0);
    EXPECT_EQ(SetCurrent(200), 3);  // remembered password is still all zero
    DevCom::StoreAccessPassword("secret12");
    EXPECT_EQ(SetCurrent(200), 0);  // carried in bytes 12 to 19
    DevCom::StoreAccessPassword("newpass1");
    EXPECT_EQ(SetCurrent(300), 3);
    // Entered: writes are allowed until reset, and one that keeps password
    // protection sets the password it carries.
    EXPECT_EQ(SendPassword("secret12"), 0);
    EXPECT_EQ(SetCurrent(300), 0);
    ResetAndReconnect();
    DevCom::StoreAccessPassword("secret12");
    EXPECT_EQ(SetCurrent(400), 3);
    EXPECT_EQ(device->Flash().chipSettings[9], 150);
    DevCom::StoreAccessPassword("newpass1");
    EXPECT_EQ(SetCurrent(400), 0);
}

TEST_F(VirtualChipTest, TooManyWrongPasswordsAreRefusedUntilReset) {
    ASSERT_EQ(Protect(1, "secret12"), 0);
    EXPECT_EQ(SendPassword("nope0001"), 3);
    EXPECT_EQ(SendPassword("nope0002"), 3);
    EXPECT_EQ(SendPassword("nope0003"), 3);
    EXPECT_EQ(SendPassword("secret12"), 4);
    ResetAndReconnect();
    EXPECT_EQ(SendPassword("secret12"), 0);
}

TEST_F(VirtualChipTest, PermanentLockRefusesEveryChipSettingsChange) {
    ASSERT_EQ(Protect(2, nullptr), 0);
    EXPECT_EQ(Protect(0, nullptr), 2);
    EXPECT_EQ(SetCurrent(200), 2);
    EXPECT_EQ(SendPassword("anything"), 0);
    EXPECT_EQ(SetCurrent(200), 2);
    ResetAndReconnect();
    EXPECT_EQ(device->Flash().Protection(), 2);
}

TEST_F(VirtualChipTest, ProtectionGuardsEveryFlashRecord) {
    const std::uint8_t pins[4] = {0, 0, 0, 0};
    auto writes = [&] {
        return std::vector<int>{SetCurrent(200), DevCom::WriteFlashGpSettings(pins, pins, pins),
                                DevCom::WriteFlashString(2, u"M"),
                                DevCom::WriteFlashString(3, u"P"),
                                DevCom::WriteFlashString(4, u"S")};
    };
    ASSERT_EQ(Protect(1, "secret12"), 0);
    EXPECT_EQ(writes(), std::vector<int>(5, 3));
    EXPECT_EQ(SendPassword("secret12"), 0);
    EXPECT_EQ(writes(), std::vector<int>(5, 0));
    ASSERT_EQ(Protect(2, nullptr), 0);
    EXPECT_EQ(writes(), std::vector<int>(5, 2));
    EXPECT_EQ(device->Flash().manufacturer, u"M");
}

TEST_F(VirtualChipTest, FlashStringsLongerThanARecordAreRefused) {
    auto flash = device->Flash();
    flash.manufacturer = std::u16string(31, u'x');
    EXPECT_FALSE(device->SetFlash(flash));
    flash.manufacturer = std::u16string(30, u'x');
    EXPECT_TRUE(device->SetFlash(flash));
    EXPECT_EQ(bridge->Settings->GetUsbStringManufacturer(), flash.manufacturer);
}

TEST_F(VirtualChipTest, ResponseEditsMayCallTheDevice) {
    std::size_t seen = 0;
    device->EditResponses(0x10, [&](Report& answer) {
        seen = device->CommandCount(0x10);
        answer[2] = 0x5A;
    });
    EXPECT_EQ(bridge->Functions->StopI2cDataTransfer(), 0x5A);
    EXPECT_GT(seen, 0u);
}

TEST_F(VirtualChipTest, NewIdsTakeEffectAtReset) {
    const std::u16string path = device->Path();
    ASSERT_EQ(SetVid(0x1234), 0);
    EXPECT_EQ(device->EnumeratedVid(), 0x3A7C);
    ASSERT_EQ(DevCom::ResetChip(), 0);
    EXPECT_EQ(device->EnumeratedVid(), 0x1234);
    // The path is the platform's kind: Windows names the IDs in it.
#if defined(_WIN32)
    EXPECT_EQ(path.find(u"#vid_3a7c&pid_01d5#"), 7u);  // after \\?\hid
    EXPECT_EQ(device->Path().find(u"#vid_1234&pid_01d5#"), 7u);
#else
    EXPECT_EQ(path.rfind(u"/dev/hidraw", 0), 0u);
    EXPECT_EQ(device->Path(), path);
#endif
    EXPECT_FALSE(bridge->Settings->GetConnectionStatus());
    Corvane::VrelUsbI2c renamed(0x1234, 0x01D5);
    EXPECT_TRUE(renamed.Settings->GetConnectionStatus());
}

TEST_F(VirtualChipTest, ResetReloadsRunTimeSettingsFromFlash) {
    SettingsImage image;
    image.dacValue = 0x80 | 9;
    ASSERT_EQ(DevCom::WriteSramSettings(image, 0, 0, 1, 0, 0, 0, 0), 0);
    ASSERT_EQ(DevCom::ReadSramSettings(image), 0);
    EXPECT_EQ(image.dacValue, 9);
    ResetAndReconnect();
    ASSERT_EQ(DevCom::ReadSramSettings(image), 0);
    EXPECT_EQ(image.dacValue, 0);
}

TEST_F(VirtualChipTest, StateSurvivesSaveAndLoad) {
    ASSERT_EQ(DevCom::WriteFlashString(Corvane::FLASH_SERIAL_NUMBER, u"KEEP-ME \u00e9"), 0);
    ASSERT_EQ(SetVid(0x4242), 0);
    const std::string saved = device->SaveState();
    VirtualDevice copy;
    ASSERT_TRUE(copy.LoadState(saved));
    EXPECT_EQ(copy.Flash().serialNumber, u"KEEP-ME \u00e9");
    EXPECT_EQ(copy.EnumeratedVid(), 0x4242);
    EXPECT_EQ(copy.SaveState(), saved);
    for (const std::string& bad :
         {std::string(""), std::string("garbage"), saved.substr(0, saved.size() / 2),
          std::string("corvane-virtual-chip 1\nchip-settings zz\n")}) {
        EXPECT_FALSE(copy.LoadState(bad));
    }
    EXPECT_EQ(copy.SaveState(), saved);
}

// A chip that stays powered keeps how it enumerated and an entered password:
// a copy loaded from the flash alone enumerates afresh and forgets the entry.
TEST_F(VirtualChipTest, PoweredStateKeepsTheEnumerationAndAnEnteredPassword) {
    ASSERT_EQ(Protect(1, "secret12"), 0);
    ASSERT_EQ(SendPassword("secret12"), 0);
    ASSERT_EQ(SetVid(0x4242), 0);
    ASSERT_EQ(SendPassword("nope0001"), 3);
    device->InterruptEdge(true);  // mode none: no flag
    const std::string saved = device->SaveState();
    const std::string powered = device->SavePoweredState();
    const auto load = [&](VirtualDevice& copy, bool withPowered) {
        ASSERT_TRUE(copy.LoadState(saved));
        if (withPowered) {
            ASSERT_TRUE(copy.LoadPoweredState(powered));
        }
    };
    VirtualDevice fresh;
    load(fresh, false);
    EXPECT_EQ(fresh.EnumeratedVid(), 0x4242);
    const auto kept = std::make_shared<VirtualDevice>();
    load(*kept, true);
    EXPECT_EQ(kept->EnumeratedVid(), 0x3A7C);
    EXPECT_EQ(kept->Enumeration().serialNumber, device->Enumeration().serialNumber);
    EXPECT_EQ(kept->SavePoweredState(), powered);
    for (const std::string& bad : {std::string(""), powered.substr(0, powered.size() / 2),
                                   std::string("corvane-virtual-chip-powered 1\nids 3a7c\n")}) {
        EXPECT_FALSE(kept->LoadPoweredState(bad));
    }
    EXPECT_EQ(kept->SavePoweredState(), powered);
    // The entered password still opens the flash; after a reset it does not.
    host->Unplug(device);
    host->Plug(kept);
    bridge = std::make_unique<Corvane::VrelUsbI2c>();
    ASSERT_TRUE(bridge->Settings->GetConnectionStatus());
    // A string record carries no password: only the entry lets it through.
    EXPECT_EQ(DevCom::WriteFlashString(Corvane::FLASH_SERIAL_NUMBER, u"KEPT"), 0);
    ASSERT_EQ(SetVid(0x3A7C), 0);  // so that it is found after the reset
    ResetAndReconnect();
    EXPECT_EQ(DevCom::WriteFlashString(Corvane::FLASH_SERIAL_NUMBER, u"GONE"), 3);
}

TEST_F(VirtualChipTest, AdcReadingsFollowTheReference) {
    device->SetAdcInput(0, 1650);
    device->SetAdcInput(1, 5000);
    Corvane::StatusReply reply;
    std::uint16_t adc[3];
    ASSERT_EQ(DevCom::StatusSetParameters(1, 0, 0, reply, adc), 0);
    EXPECT_EQ(adc[0], 511);   // half the 3.3 V supply
    EXPECT_EQ(adc[1], 1023);  // clipped
    EXPECT_EQ(adc[2], 0);
    SettingsImage image;
    image.adcReference = 0x80 | 7;  // 4.096 V
    ASSERT_EQ(DevCom::WriteSramSettings(image, 0, 0, 0, 1, 0, 0, 0), 0);
    ASSERT_EQ(DevCom::StatusSetParameters(1, 0, 0, reply, adc), 0);
    EXPECT_EQ(adc[0], 1650 * 1023 / 4096);
}

TEST_F(VirtualChipTest, InterruptFlagFollowsTheModeAndClears) {
    struct Row {
        std::uint8_t mode;
        bool rising, falling;
    };
    for (const Row& row : {Row{1, true, false}, Row{2, false, true}, Row{3, true, true}}) {
        SettingsImage image;
        image.interruptMode = row.mode;
        ASSERT_EQ(DevCom::WriteSramSettings(image, 0, 0, 0, 0, 1, 1, 0), 0);
        EXPECT_FALSE(device->InterruptFlag());
        device->InterruptEdge(true);
        EXPECT_EQ(device->InterruptFlag(), row.rising);
        ASSERT_EQ(DevCom::WriteSramSettings(image, 0, 0, 0, 0, 1, 0, 0), 0);
        EXPECT_FALSE(device->InterruptFlag());
        device->InterruptEdge(false);
        EXPECT_EQ(device->InterruptFlag(), row.falling);
        ASSERT_EQ(DevCom::ReadSramSettings(image), 0);
        EXPECT_EQ(image.interruptMode, row.mode);
    }
}

}  // namespace
}  // namespace CorvaneTest
