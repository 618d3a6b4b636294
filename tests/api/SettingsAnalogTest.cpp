// SPDX-License-Identifier: MIT
// DAC and ADC references, DAC value, interrupt mode and clock output through
// VrelUsbI2c::Settings, and what the virtual chip does with them.
#include <functional>
#include <vector>

#include "common/SettingsTest.hpp"

namespace CorvaneTest {
namespace {

using Corvane::DevSettings_M;
using Corvane::DllConstants;

constexpr auto CURRENT = DllConstants::CURRENT_SETTINGS_ONLY;
constexpr auto PWRUP = DllConstants::PWRUP_DEFAULTS_ONLY;
constexpr auto BOTH = DllConstants::BOTH;

class SettingsAnalogTest : public SettingsTest {};

// ---- clock output -------------------------------------------------------------

TEST_F(SettingsAnalogTest, ClockArgumentsAreCheckedAfterTheStatusExchange) {
    EXPECT_EQ(S().SetClockPinConfiguration(CURRENT, 0, 0), -202);
    EXPECT_EQ(Sent(), std::vector<Report>{Bytes({0x10})});
    host->ClearTrace();
    EXPECT_EQ(S().SetClockPinConfiguration(BOTH, 8, 0), -202);
    EXPECT_EQ(S().SetClockPinConfiguration(PWRUP, 1, 4), -203);
    EXPECT_EQ(S().SetClockPinConfiguration(PWRUP, 1, -1), -203);
    EXPECT_EQ(Codes(), (std::vector<int>{0x10, 0x10, 0x10}));
    host->ClearTrace();
    EXPECT_EQ(S().SetClockPinConfiguration(3, 0, 9), -201);  // the selector alone comes first
    EXPECT_TRUE(host->Trace().empty());
    Refuse(0x10, 0x01);
    EXPECT_EQ(S().SetClockPinConfiguration(CURRENT, 0, 0), 1);
    host->Unplug(device);
    EXPECT_EQ(S().SetClockPinConfiguration(CURRENT, 0, 0), -4);
}

TEST_F(SettingsAnalogTest, ClockToTheRunTimeSettings) {
    ASSERT_EQ(S().SetClockPinConfiguration(CURRENT, 4, 2), 0);
    EXPECT_EQ(Sent(), (std::vector<Report>{Bytes({0x10}), Bytes({0x60, 0x00, 0x94})}));
    EXPECT_EQ(S().GetClockPinDividerValue(CURRENT), 4);
    EXPECT_EQ(S().GetClockPinDutyCycle(CURRENT), 2);
    EXPECT_EQ(device->ClockOutputHz(), 48'000'000u >> 4);
    EXPECT_EQ(S().GetClockPinDividerValue(PWRUP), 2);  // factory flash unchanged
    EXPECT_EQ(S().GetClockPinDutyCycle(PWRUP), 1);
}

TEST_F(SettingsAnalogTest, ClockToBothInOrder) {
    ASSERT_EQ(S().SetClockPinConfiguration(BOTH, 7, 3), 0);
    const auto sent = Sent();
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[0], Bytes({0x10}));
    EXPECT_EQ(sent[1], Bytes({0x60, 0x00, 0x9F}));
    EXPECT_EQ(sent[2], Bytes({0xB0, 0x00}));
    EXPECT_EQ(sent[3][0], 0xB1);
    EXPECT_EQ(sent[3][3], 0x1F);
    EXPECT_EQ(S().GetClockPinDividerValue(PWRUP), 7);
    EXPECT_EQ(S().GetClockPinDutyCycle(PWRUP), 3);
    EXPECT_EQ(S().GetClockPinDividerValue(CURRENT), 7);
}

TEST_F(SettingsAnalogTest, BothStopsWhenTheRunTimeChangeFails) {
    const std::function<std::int32_t(DevSettings_M&)> setters[] = {
        [](DevSettings_M& s) { return s.SetClockPinConfiguration(BOTH, 3, 0); },
        [](DevSettings_M& s) { return s.SetInterruptPinMode(BOTH, 1); },
    };
    for (const auto& set : setters) {
        host->ClearTrace();
        Refuse(0x60, 0x05);
        EXPECT_EQ(set(S()), 5);
        const std::vector<int> codes = Codes();
        EXPECT_EQ(std::count(codes.begin(), codes.end(), 0xB0), 0);
        EXPECT_EQ(std::count(codes.begin(), codes.end(), 0xB1), 0);
    }
    // A failure in the flash step leaves the run-time change in place.
    ASSERT_EQ(S().SetFlashPermanentLock(), 0);
    EXPECT_EQ(S().SetInterruptPinMode(BOTH, 2), 2);  // the locked device's status
    EXPECT_EQ(S().GetInterruptPinMode(CURRENT), 2);
    EXPECT_EQ(S().GetInterruptPinMode(PWRUP), 0);
}

// ---- interrupt mode -----------------------------------------------------------

TEST_F(SettingsAnalogTest, InterruptModeBytes) {
    EXPECT_EQ(S().SetInterruptPinMode(CURRENT, 0), -202);
    EXPECT_EQ(S().SetInterruptPinMode(CURRENT, 4), -202);
    EXPECT_EQ(S().SetInterruptPinMode(3, 1), -201);
    EXPECT_TRUE(host->Trace().empty());
    const std::pair<int, int> rows[] = {{1, 0x9C}, {2, 0x96}, {3, 0x9E}};
    for (auto [mode, byte] : rows) {
        host->ClearTrace();
        ASSERT_EQ(S().SetInterruptPinMode(CURRENT, mode), 0);
        EXPECT_EQ(Sent(), std::vector<Report>{Bytes({0x60, 0, 0, 0, 0, 0, byte})});
        EXPECT_EQ(S().GetInterruptPinMode(CURRENT), mode);
    }
}

TEST_F(SettingsAnalogTest, SelectorGettersReadTheNamedCopy) {
    using Getter = std::function<std::int32_t(DevSettings_M&, std::int32_t)>;
    const Getter getters[] = {
        [](DevSettings_M& s, std::int32_t w) { return s.GetInterruptPinMode(w); },
        [](DevSettings_M& s, std::int32_t w) { return s.GetClockPinDividerValue(w); },
        [](DevSettings_M& s, std::int32_t w) { return s.GetClockPinDutyCycle(w); },
    };
    // Run-time answer: clock byte 0x1D (duty 3, divider 5), interrupt byte 0x20 (mode 1).
    // Flash record: clock 0x15 (duty 2, divider 5), interrupt 0x4C (mode 2).
    SetChipRecord(BusyChipRecord());
    const int current[] = {1, 5, 3}, flash[] = {2, 5, 2};
    for (std::size_t i = 0; i < std::size(getters); ++i) {
        host->ClearTrace();
        EXPECT_EQ(getters[i](S(), BOTH), -201);
        EXPECT_EQ(getters[i](S(), -1), -201);
        EXPECT_TRUE(host->Trace().empty());
        device->EditResponses(0x61, Put(5, {0x1D, 0x00, 0x20}));
        EXPECT_EQ(getters[i](S(), CURRENT), current[i]);
        EXPECT_EQ(getters[i](S(), PWRUP), flash[i]);
        EXPECT_EQ(Codes(), (std::vector<int>{0x61, 0xB0}));
        Refuse(0x61, 0x04);
        EXPECT_EQ(getters[i](S(), CURRENT), 4);
        Mismatch(0xB0);
        EXPECT_EQ(getters[i](S(), PWRUP), -6);
    }
}

// ---- DAC and ADC --------------------------------------------------------------

TEST_F(SettingsAnalogTest, ReferenceAndValueBytes) {
    const int referenceBytes[] = {0x80, 0x83, 0x85, 0x87};
    for (int selector = 0; selector < 4; ++selector) {
        host->ClearTrace();
        ASSERT_EQ(S().SetDacVoltageReference(selector), 0);
        ASSERT_EQ(S().SetAdcVoltageReference(selector), 0);
        EXPECT_EQ(Sent(),
                  (std::vector<Report>{Bytes({0x60, 0, 0, referenceBytes[selector]}),
                                       Bytes({0x60, 0, 0, 0, 0, referenceBytes[selector]})}));
        EXPECT_EQ(S().GetDacVoltageReference(), selector);
        EXPECT_EQ(S().GetAdcVoltageReference(), selector);
    }
    host->ClearTrace();
    ASSERT_EQ(S().SetDacValue(31), 0);
    ASSERT_EQ(S().SetDacValue(0), 0);
    EXPECT_EQ(Sent(),
              (std::vector<Report>{Bytes({0x60, 0, 0, 0, 0x9F}), Bytes({0x60, 0, 0, 0, 0x80})}));
    host->ClearTrace();
    EXPECT_EQ(S().SetDacValue(32), -201);
    EXPECT_EQ(S().SetDacValue(-1), -201);
    EXPECT_EQ(S().SetDacVoltageReference(4), -201);
    EXPECT_EQ(S().SetAdcVoltageReference(-1), -201);
    EXPECT_TRUE(host->Trace().empty());
    Refuse(0x60, 0x02);
    EXPECT_EQ(S().SetDacValue(3), 2);
}

TEST_F(SettingsAnalogTest, ReferenceCodesMapToSelectors) {
    // code: 0..7 -> result
    const int expected[] = {0, Corvane::VREF_INVALID, 0, 1, 0, 2, 0, 3};
    for (int code = 0; code < 8; ++code) {
        device->EditResponses(0x61, Put(6, {(code << 5) | 0x05, code << 2}), 2);
        EXPECT_EQ(S().GetDacVoltageReference(), expected[code]) << code;
        EXPECT_EQ(S().GetAdcVoltageReference(), expected[code]) << code;
    }
}

TEST_F(SettingsAnalogTest, DacAndAdcGettersFailOnlyOnFailedExchanges) {
    device->EditResponses(0x61, Put(1, {0x01, 0, 0, 0, 0, 0x65, 0x0C}), 3);
    EXPECT_EQ(S().GetDacValue(), 5);
    EXPECT_EQ(S().GetDacVoltageReference(), 1);
    EXPECT_EQ(S().GetAdcVoltageReference(), 1);
    const std::function<std::int32_t(DevSettings_M&)> getters[] = {
        [](DevSettings_M& s) { return s.GetDacValue(); },
        [](DevSettings_M& s) { return s.GetDacVoltageReference(); },
        [](DevSettings_M& s) { return s.GetAdcVoltageReference(); },
    };
    for (const auto& get : getters) {
        device->DropResponses(0x61);
        EXPECT_EQ(get(S()), -5);
        Mismatch(0x61);
        EXPECT_EQ(get(S()), -6);
    }
}

// ---- what the virtual chip does with them -----------------------------------------

TEST_F(SettingsAnalogTest, DeviceOutputsFollowTheSettings) {
    ASSERT_EQ(S().SetDacVoltageReference(3), 0);  // 4.096 V
    ASSERT_EQ(S().SetDacValue(16), 0);
    EXPECT_EQ(device->DacOutputMillivolts(), 2048);
    ASSERT_EQ(S().SetDacVoltageReference(0), 0);  // supply
    EXPECT_EQ(device->DacOutputMillivolts(), 1650);

    device->SetAdcInput(0, 512);
    ASSERT_EQ(S().SetAdcVoltageReference(1), 0);  // 1.024 V
    EXPECT_EQ(device->AdcReading(0), 511);
    ASSERT_EQ(S().SetAdcVoltageReference(2), 0);  // 2.048 V
    EXPECT_EQ(device->AdcReading(0), 255);

    ASSERT_EQ(S().SetClockPinConfiguration(CURRENT, 1, 2), 0);
    EXPECT_EQ(device->ClockOutputHz(), 24'000'000u);

    ASSERT_EQ(S().SetInterruptPinMode(CURRENT, 2), 0);  // falling edges only
    device->InterruptEdge(true);
    EXPECT_FALSE(device->InterruptFlag());
    device->InterruptEdge(false);
    EXPECT_TRUE(device->InterruptFlag());
}

}  // namespace
}  // namespace CorvaneTest
