// SPDX-License-Identifier: MIT
// Pin, ADC, reset and password functions through VrelUsbI2c::Functions, and
// device management, against the virtual chip.
#include "common/SimTest.hpp"

#include <array>
#include <stdexcept>
#include <vector>

namespace CorvaneTest {
namespace {

using namespace std::chrono_literals;

class PinFunctionsTest : public ConnectedTest {
  protected:
    Corvane::DevFunctions_M& F() { return *bridge->Functions; }
};

TEST_F(PinFunctionsTest, ArgumentCodesSendNothing) {
    struct Row {
        const char* name;
        std::function<std::int32_t(Corvane::DevFunctions_M&)> call;
        std::int32_t expected;
    };
    const Row rows[] = {
        {"read pin 4", [](auto& f) { return f.ReadGpioPinValue(4); }, Corvane::INVALID_ARG_1},
        {"read pin 255", [](auto& f) { return f.ReadGpioPinValue(255); }, Corvane::INVALID_ARG_1},
        {"write pin 4", [](auto& f) { return f.WriteGpioPinValue(4, 0); }, Corvane::INVALID_ARG_1},
        {"write pin 4 value 2", [](auto& f) { return f.WriteGpioPinValue(4, 2); },
         Corvane::INVALID_ARG_1},
        {"write value 2", [](auto& f) { return f.WriteGpioPinValue(0, 2); },
         Corvane::INVALID_ARG_2},
        {"null password", [](auto& f) { return f.EnterAccessPassword(nullptr); },
         Corvane::INVALID_ARG_1},
        {"7 characters", [](auto& f) { return f.EnterAccessPassword("1234567"); },
         Corvane::INVALID_ARG_1},
        {"empty password", [](auto& f) { return f.EnterAccessPassword(""); },
         Corvane::INVALID_ARG_1},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(row.call(F()), row.expected) << row.name;
        EXPECT_TRUE(host->Trace().empty()) << row.name;
    }
}

TEST_F(PinFunctionsTest, WriteGpioPinValueBytes) {
    ASSERT_EQ(F().WriteGpioPinValue(2, 1), 0);
    EXPECT_EQ(Sent(), (std::vector<Report>{Bytes(
                          {0x50, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0x01, 0x01, 0, 0, 0, 0, 0, 0})}));
}

TEST_F(PinFunctionsTest, ClearInterruptPinStateBytesAndEffect) {
    ASSERT_EQ(F().ClearInterruptPinState(), 0);
    EXPECT_EQ(Sent(),
              (std::vector<Report>{Bytes({0x60, 0x00, 0x00, 0x00, 0x00, 0x00, 0x81, 0x00})}));
}

// The flag comes with the status answer (byte 24); reading it asks for no
// cancel, so a transfer in progress goes on.
TEST_F(PinFunctionsTest, InterruptFlagReadsTheChipsFlagWithoutCancelling) {
    ASSERT_EQ(bridge->Settings->SetInterruptPinMode(0, 1), 0);
    EXPECT_EQ(F().GetInterruptPinState(), 0);
    device->InterruptEdge(false);  // not an edge of mode 1
    EXPECT_EQ(F().GetInterruptPinState(), 0);
    device->InterruptEdge(true);
    host->ClearTrace();
    EXPECT_EQ(F().GetInterruptPinState(), 1);
    EXPECT_EQ(Sent(), (std::vector<Report>{Bytes({0x10, 0x00, 0x00, 0x00})}));
    ASSERT_EQ(F().ClearInterruptPinState(), 0);
    EXPECT_EQ(F().GetInterruptPinState(), 0);
}

TEST_F(PinFunctionsTest, GpioLevelsRoundTripThroughTheChip) {
    device->SetPinInput(2, 1);
    EXPECT_EQ(F().ReadGpioPinValue(2), 1);
    device->SetPinInput(2, 0);
    EXPECT_EQ(F().ReadGpioPinValue(2), 0);
    EXPECT_EQ(F().WriteGpioPinValue(3, 1), 0);  // an input: the chip keeps the latch
    EXPECT_EQ(F().ReadGpioPinValue(3), 0);
}

TEST_F(PinFunctionsTest, LevelByteMarkersAndStatus) {
    struct Row {
        std::array<int, 4> levels;
        int status;
        std::uint8_t pin;
        std::int32_t expected;
    };
    const Row rows[] = {
        {{0, 1, 0xEE, 1}, 0, 1, 1},       {{0, 1, 0xEE, 1}, 0, 2, Corvane::PIN_NOT_GPIO},
        {{0xEE, 0xEE, 0xEE, 0}, 0, 3, 0},  // markers of other pins do not matter
        {{0, 0, 0, 0}, 1, 0, 1},           // a status of 1 looks like a high pin
        {{0xEE, 0, 0, 0}, 0x20, 0, 0x20},  // status before the marker
    };
    for (const Row& row : rows) {
        device->EditResponses(0x51, [&](Report& a) {
            a[1] = static_cast<std::uint8_t>(row.status);
            for (std::size_t p = 0; p < 4; ++p)
                a[2 + 2 * p] = static_cast<std::uint8_t>(row.levels[p]);
        });
        EXPECT_EQ(F().ReadGpioPinValue(row.pin), row.expected);
    }
    host->ClearTrace();
    EXPECT_EQ(F().ReadGpioPinValue(0), 0);
    EXPECT_EQ(Sent(), (std::vector<Report>{Bytes({0x51})}));
}

TEST_F(PinFunctionsTest, AdcReadingsAreMaskedAndCopiedWithTwoZeros) {
    device->EditResponses(0x10, [](Report& a) {
        a[50] = 0xFF;
        a[51] = 0xFF;
        a[52] = 0x00;
        a[53] = 0xFC;
        a[54] = 0x2A;
        a[55] = 0x01;
    });
    std::array<std::uint16_t, 6> adc;
    adc.fill(0x7777);
    ASSERT_EQ(F().GetAdcData(adc), 0);
    EXPECT_EQ(adc, (std::array<std::uint16_t, 6>{1023, 0, 0x12A, 0, 0, 0x7777}));
    EXPECT_EQ(Sent(), (std::vector<Report>{Bytes({0x10, 0x00, 0x10})}));  // also cancels
}

TEST_F(PinFunctionsTest, AdcFailureLeavesTheArray) {
    std::array<std::uint16_t, 5> adc;
    adc.fill(0x7777);
    device->DropResponses(0x10);
    EXPECT_EQ(F().GetAdcData(adc), Corvane::REPORT_READ_FAILED);
    EXPECT_EQ(adc[0], 0x7777);
    device->EditResponses(0x10, [](Report& a) { a[1] = 0x05; });
    EXPECT_EQ(F().GetAdcData(adc), 5);
    EXPECT_EQ(adc[4], 0x7777);
    device->EditResponses(0x10, [](Report& a) { a[1] = 0x05; });
    EXPECT_EQ(F().GetAdcData({}), 5);  // a missing array is fine on failure
}

TEST_F(PinFunctionsTest, ShortAdcArrayRaisesAfterTheExchangeWithWhatFits) {
    device->SetAdcInput(0, 3300);
    device->SetAdcInput(1, 1650);
    std::array<std::uint16_t, 2> adc{9, 9};
    EXPECT_THROW(F().GetAdcData(adc), std::out_of_range);
    EXPECT_EQ(Sent().size(), 1u);
    EXPECT_EQ(adc[0], 1023);
    EXPECT_EQ(adc[1], 511);
    EXPECT_THROW(F().GetAdcData({}), std::invalid_argument);
}

TEST_F(PinFunctionsTest, PasswordEntry) {
    ASSERT_EQ(F().EnterAccessPassword("12345678ABCD"), 0);
    EXPECT_EQ(Sent().back(), Bytes({0xB2, 0x00, '1', '2', '3', '4', '5', '6', '7', '8'}));
    device->EditResponses(0xB2, [](Report& a) { a[1] = 0x03; });
    EXPECT_EQ(F().EnterAccessPassword("87654321"), Corvane::PASSWORD_REJECTED);
    device->EditResponses(0xB2, [](Report& a) { a[1] = 0x04; });
    EXPECT_EQ(F().EnterAccessPassword("87654321"), 4);
    device->EditResponses(0xB2, [](Report& a) { a[0] = 0x10; });
    EXPECT_EQ(F().EnterAccessPassword("87654321"), Corvane::RESPONSE_MISMATCH);
}

// The remembered access password travels with every later chip-settings write.
TEST_F(PinFunctionsTest, AcceptedPasswordIsRememberedRefusedOneIsNot) {
    const auto carried = [&] {
        EXPECT_EQ(bridge->Settings->SetUsbRemoteWakeupEnable(true), 0);
        const Report sent = Sent().back();  // the write of the chip-settings record
        EXPECT_EQ(sent[0], 0xB1);
        return std::vector<std::uint8_t>(sent.begin() + 12, sent.begin() + 20);
    };
    const std::vector<std::uint8_t> none(8, 0), first{'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'};
    EXPECT_EQ(carried(), none);
    ASSERT_EQ(F().EnterAccessPassword("abcdefghXYZW"), 0);
    EXPECT_EQ(carried(), first);
    device->EditResponses(0xB2, [](Report& a) { a[1] = 0x03; });
    EXPECT_EQ(F().EnterAccessPassword("zzzzzzzz"), Corvane::PASSWORD_REJECTED);
    EXPECT_EQ(carried(), first);
    device->DropResponses(0xB2);
    EXPECT_EQ(F().EnterAccessPassword("yyyyyyyy"), Corvane::REPORT_READ_FAILED);
    EXPECT_EQ(carried(), first);
    Corvane::VrelUsbI2c again;  // a new object forgets it
    ASSERT_TRUE(again.Settings->GetConnectionStatus());
    EXPECT_EQ(carried(), none);
}

TEST_F(PinFunctionsTest, ResetThenStaleChannelsThenReconnect) {
    ASSERT_EQ(F().ResetDevice(), 0);
    EXPECT_EQ(Sent(), (std::vector<Report>{Bytes({0x70, 0xAB, 0xCD, 0xEF})}));
    EXPECT_EQ(host->Trace().size(), 1u);
    const auto before = host->Now();
    EXPECT_EQ(F().ReadGpioPinValue(0), Corvane::REPORT_WRITE_FAILED);
    EXPECT_EQ(host->Now() - before, 1000ms);
    EXPECT_EQ(F().ReadGpioPinValue(0), 0);
}

TEST_F(PinFunctionsTest, WithoutDeviceEveryFunctionFailsAtOnce) {
    host->Unplug(device);
    EXPECT_FALSE(bridge->Settings->GetConnectionStatus());
    std::array<std::uint16_t, 5> adc{};
    EXPECT_EQ(F().ResetDevice(), Corvane::REPORT_WRITE_FAILED);
    EXPECT_EQ(F().GetAdcData(adc), Corvane::REPORT_WRITE_FAILED);
    EXPECT_EQ(F().ClearInterruptPinState(), Corvane::REPORT_WRITE_FAILED);
    EXPECT_EQ(F().ReadGpioPinValue(0), Corvane::REPORT_WRITE_FAILED);
    EXPECT_EQ(F().WriteGpioPinValue(0, 1), Corvane::REPORT_WRITE_FAILED);
    EXPECT_EQ(F().EnterAccessPassword("12345678"), Corvane::REPORT_WRITE_FAILED);
    EXPECT_TRUE(host->Trace().empty());
}

TEST_F(PinFunctionsTest, OperationsReachTheSelectedDeviceAfterTheNextConnectionQuery) {
    auto second = Plug();
    ASSERT_TRUE(bridge->Settings->GetConnectionStatus());
    ASSERT_EQ(bridge->Management->GetDevCount(), 2);
    ASSERT_EQ(bridge->Management->SelectDev(1), 0);
    EXPECT_EQ(F().ReadGpioPinValue(0), 0);
    EXPECT_EQ(device->CommandCount(0x51), 1u);
    EXPECT_EQ(second->CommandCount(0x51), 0u);
    ASSERT_TRUE(bridge->Settings->GetConnectionStatus());
    EXPECT_EQ(F().ReadGpioPinValue(0), 0);
    EXPECT_EQ(device->CommandCount(0x51), 1u);
    EXPECT_EQ(second->CommandCount(0x51), 1u);
}

}  // namespace
}  // namespace CorvaneTest
