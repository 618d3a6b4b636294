// SPDX-License-Identifier: MIT
// Power-up chip settings through VrelUsbI2c::Settings: field decoding,
// read-modify-write that keeps every other field, argument checks, flash
// protection and the remembered access password.
#include <functional>
#include <string>

#include "common/SettingsTest.hpp"

namespace CorvaneTest {
namespace {

using Corvane::DevSettings_M;
using Corvane::DllConstants;
using Record = std::array<std::uint8_t, 10>;

class SettingsChipTest : public SettingsTest {
  protected:
    // The password bytes (12 to 19) of the last chip settings write.
    std::string CarriedPassword() const {
        const std::vector<Report> sent = Sent();
        for (auto it = sent.rbegin(); it != sent.rend(); ++it) {
            if ((*it)[0] == 0xB1 && (*it)[1] == 0x00) {
                return std::string(it->begin() + 12, it->begin() + 20);
            }
        }
        return "no write";
    }
    static std::string Padded(const char* text) {
        return std::string(text).append(8, '\0').substr(0, 8);
    }

    // Makes the device password protected with `password` and forgets, on the
    // device's side, that it was entered.
    void ProtectWith(const char* password) {
        auto flash = device->Flash();
        flash.chipSettings[0] = static_cast<std::uint8_t>((flash.chipSettings[0] & ~3u) | 1u);
        for (std::size_t i = 0; i < 8; ++i)
            flash.password[i] = static_cast<std::uint8_t>(password[i]);
        device->SetFlash(flash);
    }
};

// ---- getters ------------------------------------------------------------------

TEST_F(SettingsChipTest, GettersDecodeTheFlashRecord) {
    SetChipRecord(BusyChipRecord());
    EXPECT_EQ(S().GetUsbVid(), 0x1234);
    EXPECT_EQ(S().GetUsbPid(), 0xABCD);
    EXPECT_EQ(S().GetUsbPowerSource(), 0);
    EXPECT_EQ(S().GetUsbRemoteWakeupEnable(), 1);
    EXPECT_EQ(S().GetUsbCurrentRequirement(), 150);
    EXPECT_EQ(S().GetSerialNumberEnumerationEnable(), 1);
    EXPECT_EQ(S().GetInitialPinValueLedUartRx(), 0);
    EXPECT_EQ(S().GetInitialPinValueLedUartTx(), 1);
    EXPECT_EQ(S().GetInitialPinValueLedI2c(), 0);
    EXPECT_EQ(S().GetInitialPinValueSspnd(), 1);
    EXPECT_EQ(S().GetInitialPinValueUsbcfg(), 0);
    SetChipRecord({0x54, 0, 0, 0, 0xFF, 0xFF, 0x00, 0x80, 0x40, 250});
    EXPECT_EQ(S().GetUsbVid(), 0xFFFF);  // zero-extended
    EXPECT_EQ(S().GetUsbPid(), 0x8000);
    EXPECT_EQ(S().GetUsbPowerSource(), 1);
    EXPECT_EQ(S().GetUsbRemoteWakeupEnable(), 0);
    EXPECT_EQ(S().GetUsbCurrentRequirement(), 500);
    EXPECT_EQ(S().GetSerialNumberEnumerationEnable(), 0);
    EXPECT_EQ(S().GetInitialPinValueLedUartRx(), 1);
    EXPECT_EQ(S().GetInitialPinValueLedUartTx(), 0);
    EXPECT_EQ(S().GetInitialPinValueLedI2c(), 1);
    EXPECT_EQ(S().GetInitialPinValueSspnd(), 0);
    EXPECT_EQ(S().GetInitialPinValueUsbcfg(), 1);
    for (const Report& sent : Sent()) EXPECT_EQ(sent, Bytes({0xB0, 0x00}));
}

TEST_F(SettingsChipTest, PowerSourceFromTheAttributes) {
    const std::pair<int, int> rows[] = {
        {0xC0, 0},  {0x80, 0}, {0x60, 1}, {0x40, 1}, {0x20, Corvane::POWER_SOURCE_INVALID},
        {0x00, -15}};
    for (auto [attributes, expected] : rows) {
        Record record = BusyChipRecord();
        record[8] = static_cast<std::uint8_t>(attributes);
        SetChipRecord(record);
        EXPECT_EQ(S().GetUsbPowerSource(), expected) << attributes;
    }
}

// Every getter of a flash field, as int64 so the ID getters fit.
const std::vector<std::pair<const char*, std::function<std::int64_t(DevSettings_M&)>>> kGetters = {
    {"GetUsbVid", [](DevSettings_M& s) { return s.GetUsbVid(); }},
    {"GetUsbPid", [](DevSettings_M& s) { return s.GetUsbPid(); }},
    {"GetUsbPowerSource", [](DevSettings_M& s) { return s.GetUsbPowerSource(); }},
    {"GetUsbRemoteWakeupEnable", [](DevSettings_M& s) { return s.GetUsbRemoteWakeupEnable(); }},
    {"GetUsbCurrentRequirement", [](DevSettings_M& s) { return s.GetUsbCurrentRequirement(); }},
    {"GetSerialNumberEnumerationEnable",
     [](DevSettings_M& s) { return s.GetSerialNumberEnumerationEnable(); }},
    {"GetInitialPinValueLedUartTx",
     [](DevSettings_M& s) { return s.GetInitialPinValueLedUartTx(); }},
    {"GetInitialPinValueLedUartRx",
     [](DevSettings_M& s) { return s.GetInitialPinValueLedUartRx(); }},
    {"GetInitialPinValueLedI2c", [](DevSettings_M& s) { return s.GetInitialPinValueLedI2c(); }},
    {"GetInitialPinValueSspnd", [](DevSettings_M& s) { return s.GetInitialPinValueSspnd(); }},
    {"GetInitialPinValueUsbcfg", [](DevSettings_M& s) { return s.GetInitialPinValueUsbcfg(); }},
};

TEST_F(SettingsChipTest, GetterFailuresAreTheResultNeverAField) {
    SetChipRecord(BusyChipRecord());
    for (const auto& [name, get] : kGetters) {
        Refuse(0xB0, 0x07);
        EXPECT_EQ(get(S()), 7) << name;
        Mismatch(0xB0);
        EXPECT_EQ(get(S()), Corvane::RESPONSE_MISMATCH) << name;
        device->DropResponses(0xB0);
        EXPECT_EQ(get(S()), Corvane::REPORT_READ_FAILED) << name;
    }
    host->Unplug(device);
    for (const auto& [name, get] : kGetters) {
        EXPECT_EQ(get(S()), std::int64_t{-4}) << name;
    }
    EXPECT_EQ(S().GetUsbVid(), -4);
    EXPECT_EQ(S().GetFlashProtectionState(), -4);
}

TEST_F(SettingsChipTest, ProtectionStateComesFromTheRunTimeSettings) {
    device->EditResponses(0x61, Put(4, {0x83}));
    EXPECT_EQ(S().GetFlashProtectionState(), 3);  // passed through as read
    EXPECT_EQ(Sent(), std::vector<Report>{Bytes({0x61})});
    Refuse(0x61, 0x09);
    EXPECT_EQ(S().GetFlashProtectionState(), 9);
    EXPECT_EQ(S().GetFlashProtectionState(), 0);
}

// ---- read-modify-write ----------------------------------------------------------

struct SetterRow {
    const char* name;
    std::function<std::int32_t(DevSettings_M&)> set;
    std::function<void(Record&)> change;  // what the setter must change in the record
};

const std::vector<SetterRow> kSetters = {
    {"SetUsbVidPid", [](DevSettings_M& s) { return s.SetUsbVidPid(0x98762222, 0x10003333); },
     [](Record& r) { r[4] = r[5] = 0x22, r[6] = r[7] = 0x33; }},
    {"SetUsbPowerSource", [](DevSettings_M& s) { return s.SetUsbPowerSource(1); },
     [](Record& r) { r[8] = 0x40; }},
    {"SetUsbRemoteWakeupEnable", [](DevSettings_M& s) { return s.SetUsbRemoteWakeupEnable(false); },
     [](Record& r) { r[8] = 0x80; }},
    {"SetUsbCurrentRequirement", [](DevSettings_M& s) { return s.SetUsbCurrentRequirement(500); },
     [](Record& r) { r[9] = 250; }},
    {"SetSerialNumberEnumerationEnable",
     [](DevSettings_M& s) { return s.SetSerialNumberEnumerationEnable(false); },
     [](Record& r) { r[0] &= 0x7F; }},
    {"SetInitialPinValueLedUartRx",
     [](DevSettings_M& s) { return s.SetInitialPinValueLedUartRx(1); },
     [](Record& r) { r[0] |= 0x40; }},
    {"SetInitialPinValueLedUartTx",
     [](DevSettings_M& s) { return s.SetInitialPinValueLedUartTx(0); },
     [](Record& r) { r[0] &= ~0x20 & 0xFF; }},
    {"SetInitialPinValueLedI2c", [](DevSettings_M& s) { return s.SetInitialPinValueLedI2c(1); },
     [](Record& r) { r[0] |= 0x10; }},
    {"SetInitialPinValueSspnd", [](DevSettings_M& s) { return s.SetInitialPinValueSspnd(0); },
     [](Record& r) { r[0] &= ~0x08 & 0xFF; }},
    {"SetInitialPinValueUsbcfg", [](DevSettings_M& s) { return s.SetInitialPinValueUsbcfg(1); },
     [](Record& r) { r[0] |= 0x04; }},
    {"SetInterruptPinMode",
     [](DevSettings_M& s) { return s.SetInterruptPinMode(DllConstants::PWRUP_DEFAULTS_ONLY, 3); },
     [](Record& r) { r[3] |= 0x60; }},
    {"SetClockPinConfiguration",
     [](DevSettings_M& s) {
         return s.SetClockPinConfiguration(DllConstants::PWRUP_DEFAULTS_ONLY, 7, 1);
     },
     [](Record& r) { r[1] = 0x0F; }},
    {"SetFlashProtectionOff", [](DevSettings_M& s) { return s.SetFlashProtectionOff(); },
     [](Record&) {}},
    {"SetFlashPermanentLock", [](DevSettings_M& s) { return s.SetFlashPermanentLock(); },
     [](Record& r) { r[0] |= 0x02; }},
    // Last: it changes the remembered password the rows before it carry.
    {"SetFlashPasswordProtection",
     [](DevSettings_M& s) { return s.SetFlashPasswordProtection("pass1234"); },
     [](Record& r) { r[0] |= 0x01; }},
};

TEST_F(SettingsChipTest, EverySetterChangesOnlyItsFieldAndCarriesTheRememberedPassword) {
    for (const SetterRow& row : kSetters) {
        SetChipRecord(BusyChipRecord());
        Record expected = BusyChipRecord();
        row.change(expected);
        host->ClearTrace();
        ASSERT_EQ(row.set(S()), 0) << row.name;
        EXPECT_EQ(device->Flash().chipSettings, expected) << row.name;
        const Report write = Sent().back();
        Report wanted = Bytes({0xB1, 0x00});
        std::copy(expected.begin(), expected.end(), wanted.begin() + 2);
        if (std::string(row.name) == "SetFlashPasswordProtection") {
            std::copy_n("pass1234", 8, wanted.begin() + 12);
        }
        EXPECT_EQ(write, wanted) << row.name;
        EXPECT_EQ(Sent()[Sent().size() - 2], Bytes({0xB0, 0x00})) << row.name;
    }
}

TEST_F(SettingsChipTest, ASetterWhoseReadFailsWritesNothing) {
    const std::function<void()> faults[] = {
        [&] { Refuse(0xB0, 0x05); },
        [&] { Mismatch(0xB0); },
        [&] { device->DropResponses(0xB0); },
    };
    const std::int32_t results[] = {5, -6, -5};
    for (const SetterRow& row : kSetters) {
        for (std::size_t f = 0; f < std::size(faults); ++f) {
            SetChipRecord(BusyChipRecord());
            host->ClearTrace();
            faults[f]();
            EXPECT_EQ(row.set(S()), results[f]) << row.name << " fault " << f;
            const std::vector<int> codes = Codes();
            EXPECT_EQ(std::count(codes.begin(), codes.end(), 0xB1), 0) << row.name;
            EXPECT_EQ(device->Flash().chipSettings, BusyChipRecord()) << row.name;
        }
    }
}

TEST_F(SettingsChipTest, ValuesLandInTheRecordAsEncoded) {
    struct Row {
        std::function<std::int32_t(DevSettings_M&)> set;
        std::size_t index;
        int before, after;
    };
    const Row rows[] = {
        {[](DevSettings_M& s) { return s.SetUsbCurrentRequirement(100); }, 11, 75, 50},
        {[](DevSettings_M& s) { return s.SetUsbCurrentRequirement(500); }, 11, 75, 250},
        {[](DevSettings_M& s) { return s.SetUsbPowerSource(1); }, 10, 0xA0, 0x40},  // wakeup lost
        {[](DevSettings_M& s) { return s.SetUsbPowerSource(0); }, 10, 0x60, 0x80},
        {[](DevSettings_M& s) { return s.SetUsbRemoteWakeupEnable(true); }, 10, 0x80, 0xA0},
        {[](DevSettings_M& s) { return s.SetUsbRemoteWakeupEnable(false); }, 10, 0xA0, 0x80},
    };
    for (const Row& row : rows) {
        Record record = BusyChipRecord();
        record[row.index - 2] = static_cast<std::uint8_t>(row.before);
        SetChipRecord(record);
        host->ClearTrace();
        ASSERT_EQ(row.set(S()), 0);
        EXPECT_EQ(Sent().back()[row.index], row.after) << row.index << " " << row.before;
    }
    ASSERT_EQ(S().SetUsbPowerSource(1), 0);
    EXPECT_EQ(S().GetUsbRemoteWakeupEnable(), 0);
    EXPECT_EQ(S().GetUsbPowerSource(), 1);
}

TEST_F(SettingsChipTest, OutOfRangeArgumentsSendNothing) {
    const std::function<std::int32_t(DevSettings_M&)> calls[] = {
        [](DevSettings_M& s) { return s.SetUsbCurrentRequirement(99); },
        [](DevSettings_M& s) { return s.SetUsbCurrentRequirement(101); },
        [](DevSettings_M& s) { return s.SetUsbCurrentRequirement(501); },
        [](DevSettings_M& s) { return s.SetUsbCurrentRequirement(502); },
        [](DevSettings_M& s) { return s.SetUsbCurrentRequirement(-100); },
        [](DevSettings_M& s) { return s.SetUsbPowerSource(2); },
        [](DevSettings_M& s) { return s.SetUsbPowerSource(-1); },
        [](DevSettings_M& s) { return s.SetInitialPinValueLedUartTx(2); },
        [](DevSettings_M& s) { return s.SetInitialPinValueLedUartRx(-1); },
        [](DevSettings_M& s) { return s.SetInitialPinValueLedI2c(256); },
        [](DevSettings_M& s) { return s.SetInitialPinValueSspnd(2); },
        [](DevSettings_M& s) { return s.SetInitialPinValueUsbcfg(2); },
        [](DevSettings_M& s) { return s.SetFlashPasswordProtection(nullptr); },
        [](DevSettings_M& s) { return s.SetFlashPasswordProtection(""); },
        [](DevSettings_M& s) { return s.SetFlashPasswordProtection("seven77"); },
    };
    for (const auto& call : calls) EXPECT_EQ(call(S()), Corvane::INVALID_ARG_1);
    EXPECT_TRUE(host->Trace().empty());
}

// ---- flash protection ---------------------------------------------------------

TEST_F(SettingsChipTest, PermanentLockRefusesEveryLaterChange) {
    ASSERT_EQ(S().SetFlashPermanentLock(), 0);
    EXPECT_EQ(S().GetFlashProtectionState(), 2);
    const Record locked = device->Flash().chipSettings;

    host->ClearTrace();
    EXPECT_EQ(S().SetFlashProtectionOff(), Corvane::FLASH_LOCKED);
    EXPECT_EQ(Sent(), std::vector<Report>{Bytes({0xB0, 0x00})});
    host->ClearTrace();
    EXPECT_EQ(S().SetFlashPasswordProtection("password"), Corvane::FLASH_LOCKED);
    EXPECT_EQ(Sent(), std::vector<Report>{Bytes({0xB0, 0x00})});
    // The device itself refuses the others, the lock included; the refused
    // password was not remembered.
    EXPECT_EQ(S().SetUsbVidPid(0x1111, 0x2222), 2);
    EXPECT_EQ(CarriedPassword(), Padded(""));
    EXPECT_EQ(S().SetUsbCurrentRequirement(300), 2);
    host->ClearTrace();
    EXPECT_EQ(S().SetFlashPermanentLock(), 2);
    EXPECT_EQ(Codes(), (std::vector<int>{0xB0, 0xB1}));
    EXPECT_EQ(device->Flash().chipSettings, locked);
}

TEST_F(SettingsChipTest, PasswordProtectionGuardsTheFlashWithTheNewPassword) {
    ASSERT_EQ(S().SetFlashPasswordProtection("longer than eight"), 0);
    EXPECT_EQ(CarriedPassword(), "longer t");
    EXPECT_EQ(S().GetFlashProtectionState(), 1);
    EXPECT_EQ(device->Flash().Protection(), 1);
    // Later writes carry it, and the device takes them.
    ASSERT_EQ(S().SetUsbCurrentRequirement(300), 0);
    EXPECT_EQ(CarriedPassword(), "longer t");
    ASSERT_EQ(S().SetFlashProtectionOff(), 0);
    EXPECT_EQ(S().GetFlashProtectionState(), 0);
    EXPECT_EQ(S().GetUsbCurrentRequirement(), 300);
}

TEST_F(SettingsChipTest, RefusedPasswordChangeKeepsTheOldPassword) {
    // The device holds "oldpass1" and it was not entered; a write carrying it
    // is taken and makes the library remember it.
    ProtectWith("oldpass1");
    ASSERT_EQ(S().SetFlashPasswordProtection("oldpass1"), 0);
    // The write carries the new password, which the device does not know.
    EXPECT_EQ(S().SetFlashPasswordProtection("newpass1"), 3);
    EXPECT_EQ(S().SetUsbCurrentRequirement(200), 0);
    EXPECT_EQ(CarriedPassword(), "oldpass1");
    EXPECT_EQ(device->Flash().password,
              (std::array<std::uint8_t, 8>{'o', 'l', 'd', 'p', 'a', 's', 's', '1'}));
}

TEST_F(SettingsChipTest, PasswordChangeWhoseReadFailsIsNotRemembered) {
    ASSERT_EQ(S().SetFlashPasswordProtection("oldpass1"), 0);
    device->DropResponses(0xB0);
    EXPECT_EQ(S().SetFlashPasswordProtection("newpass2"), -5);
    Refuse(0xB0);
    EXPECT_EQ(S().SetFlashPasswordProtection("newpass3"), 1);
    ASSERT_EQ(S().SetUsbCurrentRequirement(200), 0);
    EXPECT_EQ(CarriedPassword(), "oldpass1");
}

TEST_F(SettingsChipTest, UnknownOutcomeRemembersTheNewPassword) {
    // The device takes the write but its answer is lost or garbled: it now
    // holds the new password, so later writes must carry that one.
    const std::pair<std::function<void()>, std::int32_t> faults[] = {
        {[&] { device->DropResponses(0xB1); }, Corvane::REPORT_READ_FAILED},
        {[&] { Mismatch(0xB1); }, Corvane::RESPONSE_MISMATCH},
    };
    const char* passwords[] = {"newpass1", "newpass2"};
    for (std::size_t i = 0; i < std::size(faults); ++i) {
        SetChipRecord(BusyChipRecord());  // not protected
        faults[i].first();
        EXPECT_EQ(S().SetFlashPasswordProtection(passwords[i]), faults[i].second);
        EXPECT_EQ(device->Flash().Protection(), 1);
        ASSERT_EQ(S().SetUsbCurrentRequirement(200), 0);
        EXPECT_EQ(CarriedPassword(), passwords[i]);
    }
}

TEST_F(SettingsChipTest, UnsentWriteKeepsTheOldPassword) {
    ASSERT_EQ(S().SetFlashPasswordProtection("oldpass1"), 0);
    // Transfers: the record read's write and read, then the record write.
    host->InjectFault(host->TransferCount() + 2, Corvane::Sim::HostFault::FailWait);
    EXPECT_EQ(S().SetFlashPasswordProtection("newpass1"), Corvane::REPORT_WRITE_FAILED);
    EXPECT_EQ(Codes().back(), 0xB0);
    ASSERT_EQ(S().SetUsbCurrentRequirement(200), 0);
    EXPECT_EQ(CarriedPassword(), "oldpass1");
}

}  // namespace
}  // namespace CorvaneTest
