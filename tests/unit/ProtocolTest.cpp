// SPDX-License-Identifier: MIT
// The command operations, byte for byte on the simulated host's trace, and
// their round trips through the virtual chip.
#include <gtest/gtest.h>

#include <cstring>

#include "common/SimTest.hpp"
#include "protocol/DevCom.hpp"

namespace CorvaneTest {
namespace {

using Corvane::DevCom;
using Corvane::SettingsImage;
using Corvane::StatusReply;

class ProtocolTest : public ConnectedTest {
  protected:
    Report LastSent() const { return Sent().back(); }
};

// ---- status / set-parameters ----------------------------------------------

TEST_F(ProtocolTest, StatusRequestBytes) {
    struct Row {
        std::uint8_t cancel, speed, divider;
        Report expected;
    };
    const Row rows[] = {
        {0, 0, 0x75, Bytes({0x10})},
        {1, 0, 0x75, Bytes({0x10, 0x00, 0x10, 0x00, 0x00})},
        {0, 1, 117, Bytes({0x10, 0x00, 0x00, 0x20, 0x75})},
        {1, 1, 9, Bytes({0x10, 0x00, 0x10, 0x20, 0x09})},
        {2, 2, 9, Bytes({0x10})},  // only 1 sets a flag
    };
    for (const Row& row : rows) {
        host->ClearTrace();
        StatusReply reply;
        EXPECT_EQ(DevCom::StatusSetParameters(row.cancel, row.speed, row.divider, reply, nullptr),
                  0);
        ASSERT_EQ(Sent().size(), 1u);
        EXPECT_EQ(LastSent(), row.expected);
    }
}

TEST_F(ProtocolTest, StatusReplyDecoding) {
    device->EditResponses(0x10, [](Report& a) {
        a[2] = 0x5A;
        a[46] = 'A';
        a[47] = '6';
        a[48] = '1';
        a[49] = '2';
        a[50] = 0xFF;
        a[51] = 0xFF;  // upper six bits dropped: 1023
        a[52] = 0x34;
        a[53] = 0x12;  // 0x1234 & 0x3FF
        a[54] = 0x00;
        a[55] = 0x04;  // 0x400 & 0x3FF = 0
    });
    StatusReply reply;
    std::uint16_t adc[3] = {7, 7, 7};
    ASSERT_EQ(DevCom::StatusSetParameters(1, 0, 0, reply, adc), 0);
    EXPECT_EQ(reply.cancelStatus, 0x5A);
    EXPECT_EQ(reply.revision, (std::array<std::uint8_t, 4>{'1', '2', 'A', '6'}));
    EXPECT_EQ(adc[0], 1023);
    EXPECT_EQ(adc[1], 0x234);
    EXPECT_EQ(adc[2], 0);
}

TEST_F(ProtocolTest, RefusedStatusLeavesOutputsUntouched) {
    device->EditResponses(0x10, Put(1, {0x01, 0x77}));
    StatusReply reply;
    reply.cancelStatus = 0xCC;
    std::uint16_t adc[3] = {9, 9, 9};
    EXPECT_EQ(DevCom::StatusSetParameters(1, 0, 0, reply, adc), 1);
    EXPECT_EQ(reply.cancelStatus, 0xCC);
    EXPECT_EQ(reply.revision, (std::array<std::uint8_t, 4>{}));
    EXPECT_EQ(adc[0], 9);
}

// ---- the common exchange's failures ---------------------------------------

TEST_F(ProtocolTest, ExchangeFailuresOfEveryCommandOperation) {
    struct Op {
        const char* name;
        std::uint8_t code;
        std::function<std::int32_t()> run;
    };
    SettingsImage image;
    std::uint8_t pins[3][4] = {};
    char16_t text[31] = {};
    StatusReply reply;
    const std::uint8_t zero[4] = {};
    const Op ops[] = {
        {"status", 0x10, [&] { return DevCom::StatusSetParameters(0, 0, 0, reply, nullptr); }},
        {"read chip", 0xB0, [&] { return DevCom::ReadFlashChipSettings(image); }},
        {"write chip", 0xB1, [&] { return DevCom::WriteFlashChipSettings(image, nullptr); }},
        {"read gp", 0xB0, [&] { return DevCom::ReadFlashGpSettings(pins[0], pins[1], pins[2]); }},
        {"write gp", 0xB1, [&] { return DevCom::WriteFlashGpSettings(zero, zero, zero); }},
        {"read string", 0xB0, [&] { return DevCom::ReadFlashString(2, text); }},
        {"write string", 0xB1, [&] { return DevCom::WriteFlashString(2, u"x"); }},
        {"read sram", 0x61, [&] { return DevCom::ReadSramSettings(image); }},
        {"write sram", 0x60, [&] { return DevCom::WriteSramSettings(image, 1, 0, 0, 0, 0, 0, 0); }},
        {"read gpio", 0x51, [&] { return DevCom::ReadGpioValues(pins[0], pins[1]); }},
        {"write gpio", 0x50, [&] { return DevCom::WriteGpioValues(zero, zero, zero, zero); }},
    };
    for (const Op& op : ops) {
        SCOPED_TRACE(op.name);
        device->TimeOutWrites();
        EXPECT_EQ(op.run(), Corvane::REPORT_WRITE_FAILED);
        device->DropResponses(op.code);
        EXPECT_EQ(op.run(), Corvane::REPORT_READ_FAILED);
        device->EditResponses(op.code, [](Report& a) { a[0] ^= 0x01; });
        EXPECT_EQ(op.run(), Corvane::RESPONSE_MISMATCH);
        device->EditResponses(op.code, Put(1, {0x07}));
        EXPECT_EQ(op.run(), 7);
        EXPECT_EQ(op.run(), 0);
    }
}

TEST_F(ProtocolTest, WrongEchoWritesNoOutput) {
    device->EditResponses(0xB0, [](Report& a) {
        a[0] = 0xB1;
        a[1] = 0x00;
        a[8] = 0x11;
    });
    SettingsImage image;
    image.usbVid = 0xBEEF;
    EXPECT_EQ(DevCom::ReadFlashChipSettings(image), Corvane::RESPONSE_MISMATCH);
    EXPECT_EQ(image.usbVid, 0xBEEF);
}

TEST_F(ProtocolTest, RecordReadFillsOutputsAlongWithANonZeroStatus) {
    device->EditResponses(0x61, Put(1, {0x02}));
    SettingsImage image;
    EXPECT_EQ(DevCom::ReadSramSettings(image), 2);
    EXPECT_EQ(image.usbVid, 0x3A7C);
    device->EditResponses(0x51, [](Report& a) {
        a[1] = 0x09;
        a[2] = 0x01;
    });
    std::uint8_t values[4] = {};
    EXPECT_EQ(DevCom::ReadGpioValues(nullptr, values), 9);
    EXPECT_EQ(values[0], 1);
}

// ---- flash records ----------------------------------------------------------

TEST_F(ProtocolTest, ChipSettingsDecodeAndWriteBack) {
    device->EditResponses(0xB0,
                          Put(4, {0xFD, 0x1A, 0x45, 0x6C, 0x7C, 0x3A, 0xD5, 0x01, 0x80, 0x32}));
    SettingsImage image;
    ASSERT_EQ(DevCom::ReadFlashChipSettings(image), 0);
    EXPECT_EQ(LastSent(), Bytes({0xB0, 0x00}));
    EXPECT_EQ(image.serialNumberEnumeration, 1);
    EXPECT_EQ(image.initLedUartRx, 1);
    EXPECT_EQ(image.initLedUartTx, 1);
    EXPECT_EQ(image.initLedI2c, 1);
    EXPECT_EQ(image.initSspnd, 1);
    EXPECT_EQ(image.initUsbcfg, 1);
    EXPECT_EQ(image.flashProtection, 1);
    EXPECT_EQ(image.clockOutDutyCycle, 3);
    EXPECT_EQ(image.clockOutDivider, 2);
    EXPECT_EQ(image.dacReference, 2);
    EXPECT_EQ(image.dacValue, 5);
    EXPECT_EQ(image.interruptMode, 3);
    EXPECT_EQ(image.adcReference, 3);
    EXPECT_EQ(image.usbVid, 0x3A7C);
    EXPECT_EQ(image.usbPid, 0x01D5);
    EXPECT_EQ(image.powerAttributes, 0x80);
    EXPECT_EQ(image.currentRequirementMa, 100);

    // The chip refuses it (protected, no password); the bytes are what counts.
    DevCom::WriteFlashChipSettings(image, nullptr);
    EXPECT_EQ(LastSent(), Bytes({0xB1, 0x00, 0xFD, 0x1A, 0x45, 0x6C, 0x7C, 0x3A, 0xD5, 0x01,
                                 0x80, 0x32, 0,    0,    0,    0,    0,    0,    0,    0}));
}

TEST_F(ProtocolTest, PasswordBytesOfAChipSettingsWrite) {
    SettingsImage image;
    ASSERT_EQ(DevCom::ReadFlashChipSettings(image), 0);
    struct Row {
        const char* given;
        const char* remembered;
        std::array<int, 8> sent;
    };
    const Row rows[] = {
        {"abcdefghij", nullptr, {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'}},
        {"abc", nullptr, {'a', 'b', 'c', 0, 0, 0, 0, 0}},  // short: zero-padded
        {nullptr, "secret12", {'s', 'e', 'c', 'r', 'e', 't', '1', '2'}},
        {nullptr, "pw", {'p', 'w', 0, 0, 0, 0, 0, 0}},
        {"", nullptr, {0, 0, 0, 0, 0, 0, 0, 0}},
    };
    for (const Row& row : rows) {
        if (row.remembered) DevCom::StoreAccessPassword(row.remembered);
        DevCom::WriteFlashChipSettings(image, row.given);
        const Report sent = LastSent();
        for (std::size_t i = 0; i < 8; ++i) EXPECT_EQ(sent[12 + i], row.sent[i]) << i;
        for (std::size_t i = 20; i < 64; ++i) EXPECT_EQ(sent[i], 0) << i;
    }
}

TEST_F(ProtocolTest, CurrentRequirementTravelsInUnitsOfTwoMilliamperes) {
    SettingsImage image;
    ASSERT_EQ(DevCom::ReadFlashChipSettings(image), 0);
    image.currentRequirementMa = 500;
    ASSERT_EQ(DevCom::WriteFlashChipSettings(image, nullptr), 0);
    EXPECT_EQ(LastSent()[11], 0xFA);
    SettingsImage back;
    ASSERT_EQ(DevCom::ReadFlashChipSettings(back), 0);
    EXPECT_EQ(back.currentRequirementMa, 500);
}

TEST_F(ProtocolTest, ChipSettingsRoundTrip) {
    SettingsImage image;
    ASSERT_EQ(DevCom::ReadFlashChipSettings(image), 0);
    image.usbVid = 0x1234;
    image.usbPid = 0xABCD;
    image.initLedI2c = 1;
    image.initSspnd = 1;
    image.clockOutDivider = 7;
    image.clockOutDutyCycle = 2;
    image.dacReference = 5;
    image.dacValue = 31;
    image.adcReference = 7;
    image.interruptMode = 2;
    image.powerAttributes = 0x60;
    image.currentRequirementMa = 320;
    image.serialNumberEnumeration = 0;
    ASSERT_EQ(DevCom::WriteFlashChipSettings(image, nullptr), 0);
    SettingsImage back;
    ASSERT_EQ(DevCom::ReadFlashChipSettings(back), 0);
    EXPECT_EQ(back, image);
}

TEST_F(ProtocolTest, GpSettingsBytesAndRoundTrip) {
    const std::uint8_t designation[4] = {0, 1, 2, 3};
    const std::uint8_t direction[4] = {1, 0, 1, 0};
    const std::uint8_t value[4] = {0, 1, 1, 0};
    ASSERT_EQ(DevCom::WriteFlashGpSettings(designation, direction, value), 0);
    EXPECT_EQ(LastSent(), Bytes({0xB1, 0x01, 0x08, 0x11, 0x1A, 0x03}));
    std::uint8_t d[4], r[4], v[4];
    ASSERT_EQ(DevCom::ReadFlashGpSettings(d, r, v), 0);
    EXPECT_EQ(LastSent(), Bytes({0xB0, 0x01}));
    EXPECT_TRUE(std::equal(d, d + 4, designation));
    EXPECT_TRUE(std::equal(r, r + 4, direction));
    EXPECT_TRUE(std::equal(v, v + 4, value));
}

TEST_F(ProtocolTest, GpSettingsAreReadFromBytesFourToSeven) {
    device->EditResponses(0xB0, Put(2, {0xFF, 0xFF, 0x1F, 0x00, 0x0C, 0x13}));
    std::uint8_t d[4], r[4], v[4];
    ASSERT_EQ(DevCom::ReadFlashGpSettings(d, r, v), 0);
    EXPECT_EQ((std::array<int, 4>{d[0], d[1], d[2], d[3]}), (std::array<int, 4>{7, 0, 4, 3}));
    EXPECT_EQ((std::array<int, 4>{r[0], r[1], r[2], r[3]}), (std::array<int, 4>{1, 0, 1, 0}));
    EXPECT_EQ((std::array<int, 4>{v[0], v[1], v[2], v[3]}), (std::array<int, 4>{1, 0, 0, 1}));
}

TEST_F(ProtocolTest, StringRecordBytes) {
    ASSERT_EQ(DevCom::WriteFlashString(Corvane::FLASH_USB_DESCRIPTOR, u""), 0);
    EXPECT_EQ(LastSent(), Bytes({0xB1, 0x03, 0x02, 0x03}));
    ASSERT_EQ(DevCom::WriteFlashString(Corvane::FLASH_USB_MANUFACTURER, u"AB"), 0);
    EXPECT_EQ(LastSent(), Bytes({0xB1, 0x02, 0x06, 0x03, 0x41, 0x00, 0x42, 0x00}));
}

TEST_F(ProtocolTest, StringRoundTripsKeepEveryCodeUnit) {
    const std::u16string texts[] = {u"", u"x", u"\u00e9t\u00e9 \u2603 \xd83d\xde00",
                                    std::u16string(30, u'\xffff'),
                                    u"123456789012345678901234567890"};
    for (std::uint8_t subCode : {std::uint8_t{2}, std::uint8_t{3}, std::uint8_t{4}}) {
        for (const auto& text : texts) {
            ASSERT_EQ(DevCom::WriteFlashString(subCode, text.c_str()), 0);
            char16_t back[31];
            std::fill(std::begin(back), std::end(back), u'#');
            ASSERT_EQ(DevCom::ReadFlashString(subCode, back), 0);
            EXPECT_EQ(std::u16string(back), text);
        }
    }
}

TEST_F(ProtocolTest, TooLongStringIsRefusedBeforeSending) {
    const std::u16string text(31, u'a');
    EXPECT_EQ(DevCom::WriteFlashString(4, text.c_str()), Corvane::INVALID_ARG_1);
    EXPECT_TRUE(Sent().empty());
}

TEST_F(ProtocolTest, StringAnswersAreDecodedSafely) {
    struct Row {
        int length;
        std::size_t units;
    };
    const Row rows[] = {
        {0x0C, 5}, {0x02, 0}, {0x00, 0},  {0x01, 0},  {0x07, 2},  // odd: half unit dropped
        {62, 30},  {63, 30},  {0xFE, 30}, {0xFF, 30},             // more than a report holds
    };
    for (const Row& row : rows) {
        device->EditResponses(0xB0, [&](Report& a) {
            a[2] = static_cast<std::uint8_t>(row.length);
            for (std::size_t i = 4; i < 64; ++i) a[i] = static_cast<std::uint8_t>(i);
        });
        char16_t text[32];
        std::fill(std::begin(text), std::end(text), u'#');
        ASSERT_EQ(DevCom::ReadFlashString(2, text), 0) << row.length;
        EXPECT_EQ(std::u16string(text).size(), row.units) << row.length;
        EXPECT_EQ(text[31], u'#');  // never past 31 units
        if (row.units > 0) {
            EXPECT_EQ(text[0], 0x0504);
        }
    }
}

// ---- run-time settings, GPIO, reset ----------------------------------------

TEST_F(ProtocolTest, SramAnswerLeavesTheLedValuesAlone) {
    device->EditResponses(0x61, Put(4, {0x7C}));
    SettingsImage image;
    image.initLedUartRx = 0;
    image.initLedUartTx = 1;
    image.initLedI2c = 0;
    ASSERT_EQ(DevCom::ReadSramSettings(image), 0);
    EXPECT_EQ(image.initLedUartRx, 0);
    EXPECT_EQ(image.initLedUartTx, 1);
    EXPECT_EQ(image.initLedI2c, 0);
    EXPECT_EQ(image.initSspnd, 1);
    EXPECT_EQ(image.initUsbcfg, 1);
    EXPECT_EQ(image.serialNumberEnumeration, 0);
    EXPECT_EQ(image.flashProtection, 0);
}

TEST_F(ProtocolTest, SramChangeBytes) {
    struct Row {
        const char* name;
        std::function<void(SettingsImage&)> fill;
        std::array<std::uint8_t, 7> flags;  // clock, dacRef, dacValue, adcRef, clear, mode, gp
        Report expected;
    };
    const Row rows[] = {
        {"clock",
         [](SettingsImage& i) {
             i.clockOutDivider = 4;
             i.clockOutDutyCycle = 2;
         },
         {1, 0, 0, 0, 0, 0, 0},
         Bytes({0x60, 0x00, 0x94})},
        {"mode 0",
         [](SettingsImage& i) { i.interruptMode = 0; },
         {0, 0, 0, 0, 0, 1, 0},
         Bytes({0x60})},
        {"mode 2",
         [](SettingsImage& i) { i.interruptMode = 2; },
         {0, 0, 0, 0, 0, 1, 0},
         Bytes({0x60, 0, 0, 0, 0, 0, 0x96})},
        {"mode 3 and clear",
         [](SettingsImage& i) { i.interruptMode = 3; },
         {0, 0, 0, 0, 1, 1, 0},
         Bytes({0x60, 0, 0, 0, 0, 0, 0x9F})},
        {"clear only",
         [](SettingsImage&) {},
         {0, 0, 0, 0, 1, 0, 0},
         Bytes({0x60, 0, 0, 0, 0, 0, 0x81})},
        {"gp",
         [](SettingsImage& i) {
             i.gpDesignation = {0, 0, 0, 0};
             i.gpDirection = {1, 1, 1, 1};
             i.gpOutputValue = {0, 0, 0, 0};
         },
         {0, 0, 0, 0, 0, 0, 1},
         Bytes({0x60, 0, 0, 0, 0, 0, 0, 0x80, 0x08, 0x08, 0x08, 0x08})},
        {"dac and adc",
         [](SettingsImage& i) {
             i.dacReference = 0x85;
             i.dacValue = 0x9F;
             i.adcReference = 0x87;
         },
         {0, 1, 1, 1, 0, 0, 0},
         Bytes({0x60, 0, 0, 0x85, 0x9F, 0x87})},
        {"flags of 2 are clear",
         [](SettingsImage& i) { i.clockOutDivider = 4; },
         {2, 2, 2, 2, 2, 2, 2},
         Bytes({0x60})},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        SettingsImage image;
        image.clockOutDivider = 1;  // not sent unless flagged
        image.dacReference = 0x83;
        image.gpDirection = {1, 1, 1, 1};
        row.fill(image);
        const auto& f = row.flags;
        ASSERT_EQ(DevCom::WriteSramSettings(image, f[0], f[1], f[2], f[3], f[4], f[5], f[6]), 0);
        EXPECT_EQ(LastSent(), row.expected);
    }
}

TEST_F(ProtocolTest, SramChangesReachTheChip) {
    SettingsImage image;
    image.clockOutDivider = 3;
    image.clockOutDutyCycle = 1;
    image.dacReference = 0x80 | 5;
    image.dacValue = 0x80 | 16;
    image.adcReference = 0x80 | 3;
    image.interruptMode = 1;
    image.gpDesignation = {0, 2, 3, 0};
    image.gpDirection = {0, 1, 0, 1};
    image.gpOutputValue = {1, 0, 0, 0};
    ASSERT_EQ(DevCom::WriteSramSettings(image, 1, 1, 1, 1, 0, 1, 1), 0);
    SettingsImage back;
    ASSERT_EQ(DevCom::ReadSramSettings(back), 0);
    EXPECT_EQ(back.clockOutDivider, 3);
    EXPECT_EQ(back.clockOutDutyCycle, 1);
    EXPECT_EQ(back.dacReference, 5);
    EXPECT_EQ(back.dacValue, 16);
    EXPECT_EQ(back.adcReference, 3);
    EXPECT_EQ(back.interruptMode, 1);
    EXPECT_EQ(back.gpDesignation, image.gpDesignation);
    EXPECT_EQ(back.gpDirection, image.gpDirection);
    EXPECT_EQ(back.gpOutputValue, image.gpOutputValue);
    EXPECT_EQ(device->DacOutputMillivolts(), 1024);  // 16/32 of 2048 mV
    EXPECT_EQ(device->ClockOutputHz(), 6'000'000u);
    EXPECT_EQ(device->PinLevel(0), 1);
    // The flash record is untouched by run-time changes.
    SettingsImage flash;
    ASSERT_EQ(DevCom::ReadFlashChipSettings(flash), 0);
    EXPECT_EQ(flash.dacValue, 0);
}

TEST_F(ProtocolTest, GpioBytesAndMarkers) {
    const std::uint8_t zero[4] = {};
    const std::uint8_t direction[4] = {0, 0, 1, 0};
    const std::uint8_t alterDirection[4] = {0, 0, 1, 0};
    ASSERT_EQ(DevCom::WriteGpioValues(direction, zero, alterDirection, zero), 0);
    EXPECT_EQ(LastSent(), Bytes({0x50, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 0, 0, 0, 0}));
    const std::uint8_t value[4] = {1, 1, 1, 1};
    const std::uint8_t alterValue[4] = {2, 1, 0, 0};  // only exactly 1 alters
    ASSERT_EQ(DevCom::WriteGpioValues(zero, value, zero, alterValue), 0);
    EXPECT_EQ(LastSent(), Bytes({0x50, 0x00, 0, 0, 0, 0, 1, 1, 0, 0}));

    device->EditResponses(0x51, Put(2, {0x01, 0x00, 0xEE, 0xEF, 0x00, 0x01, 0x01, 0x01}));
    std::uint8_t d[4], v[4];
    ASSERT_EQ(DevCom::ReadGpioValues(d, v), 0);
    EXPECT_EQ(LastSent(), Bytes({0x51}));
    EXPECT_EQ(d[1], 0xEF);
    EXPECT_EQ(v[1], 0xEE);
    EXPECT_EQ(v[0], 1);
    EXPECT_EQ(d[2], 1);
}

TEST_F(ProtocolTest, GpioOfTheVirtualChip) {
    const std::uint8_t zero[4] = {};
    const std::uint8_t outputs[4] = {0, 0, 0, 0};
    const std::uint8_t all[4] = {1, 1, 1, 1};
    const std::uint8_t high[4] = {1, 0, 1, 0};
    ASSERT_EQ(DevCom::WriteGpioValues(outputs, high, all, all), 0);
    std::uint8_t d[4], v[4];
    ASSERT_EQ(DevCom::ReadGpioValues(d, v), 0);
    EXPECT_EQ((std::array<int, 4>{v[0], v[1], v[2], v[3]}), (std::array<int, 4>{1, 0, 1, 0}));
    EXPECT_EQ((std::array<int, 4>{d[0], d[1], d[2], d[3]}), (std::array<int, 4>{0, 0, 0, 0}));
    // A pin given another function reports the markers.
    SettingsImage image;
    image.gpDesignation = {0, 2, 0, 0};
    image.gpDirection = {0, 1, 1, 1};
    ASSERT_EQ(DevCom::WriteSramSettings(image, 0, 0, 0, 0, 0, 0, 1), 0);
    device->SetPinInput(3, 1);
    ASSERT_EQ(DevCom::ReadGpioValues(d, v), 0);
    EXPECT_EQ(v[1], 0xEE);
    EXPECT_EQ(d[1], 0xEF);
    EXPECT_EQ(v[3], 1);
    EXPECT_EQ(d[3], 1);
    (void)zero;
}

TEST_F(ProtocolTest, ResetWritesOnlyAndTheNextExchangesReconnect) {
    ASSERT_EQ(DevCom::ResetChip(), 0);
    ASSERT_EQ(Sent().size(), 1u);
    EXPECT_EQ(host->Trace().size(), 1u);  // nothing read
    EXPECT_EQ(LastSent(), Bytes({0x70, 0xAB, 0xCD, 0xEF}));
    StatusReply reply;
    // The old channels are dead: one time-out, then a fresh discovery.
    EXPECT_EQ(DevCom::StatusSetParameters(0, 0, 0, reply, nullptr), Corvane::REPORT_WRITE_FAILED);
    EXPECT_EQ(DevCom::StatusSetParameters(0, 0, 0, reply, nullptr), 0);
}

TEST_F(ProtocolTest, ResetWithoutDeviceFails) {
    host->Unplug(device);
    EXPECT_FALSE(bridge->Settings->GetConnectionStatus());
    EXPECT_EQ(DevCom::ResetChip(), Corvane::REPORT_WRITE_FAILED);
}

TEST(ClearReportTail, ClearsFromTheFirstIndex) {
    for (std::size_t first : {0u, 1u, 5u, 63u, 64u, 200u}) {
        Report report;
        report.fill(0xAA);
        DevCom::ClearReportTail(report, first);
        for (std::size_t i = 0; i < 64; ++i) EXPECT_EQ(report[i], i < first ? 0xAA : 0) << first;
    }
}

}  // namespace
}  // namespace CorvaneTest
