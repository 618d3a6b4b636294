// SPDX-License-Identifier: MIT
// USB strings, serial number and firmware version through VrelUsbI2c::Settings.
#include <functional>
#include <optional>
#include <string>

#include "common/SettingsTest.hpp"

namespace CorvaneTest {
namespace {

using Corvane::DevSettings_M;

struct StringRow {
    const char* name;
    int subCode;
    std::function<std::optional<std::u16string>(DevSettings_M&)> get;
    std::function<std::int32_t(DevSettings_M&, const char16_t*)> set;
};

const StringRow kStrings[] = {
    {"manufacturer", 2, [](DevSettings_M& s) { return s.GetUsbStringManufacturer(); },
     [](DevSettings_M& s, const char16_t* t) { return s.SetUsbStringManufacturer(t); }},
    {"descriptor", 3, [](DevSettings_M& s) { return s.GetUsbStringDescriptor(); },
     [](DevSettings_M& s, const char16_t* t) { return s.SetUsbStringDescriptor(t); }},
    {"serial number", 4, [](DevSettings_M& s) { return s.GetSerialNumber(); },
     [](DevSettings_M& s, const char16_t* t) { return s.SetSerialNumber(t); }},
};

class SettingsStringsTest : public SettingsTest {};

TEST_F(SettingsStringsTest, FactoryStringsReadBack) {
    EXPECT_EQ(S().GetUsbStringManufacturer(), u"Corvane Systems");
    EXPECT_EQ(S().GetUsbStringDescriptor(), u"Corvane USB-I2C Bridge");
    EXPECT_EQ(S().GetSerialNumber(), device->Flash().serialNumber);
    EXPECT_EQ(Sent(), (std::vector<Report>{Bytes({0xB0, 2}), Bytes({0xB0, 3}), Bytes({0xB0, 4})}));
}

TEST_F(SettingsStringsTest, EmptyTextIsWrittenAndReadAsEmptyNotNull) {
    for (const StringRow& row : kStrings) {
        host->ClearTrace();
        ASSERT_EQ(row.set(S(), u""), 0) << row.name;
        EXPECT_EQ(Sent(), std::vector<Report>{Bytes({0xB1, row.subCode, 0x02, 0x03})});
        const auto text = row.get(S());
        ASSERT_TRUE(text.has_value()) << row.name;
        EXPECT_EQ(*text, u"");
    }
}

TEST_F(SettingsStringsTest, ThirtyUnitsRoundTripAndThirtyOneAreRefused) {
    const std::u16string thirty = u"SN-0123456789-ABCDEFGHIJKLMNOP";
    ASSERT_EQ(thirty.size(), 30u);
    for (const StringRow& row : kStrings) {
        host->ClearTrace();
        ASSERT_EQ(row.set(S(), thirty.c_str()), 0) << row.name;
        const Report sent = Sent().back();
        EXPECT_EQ(sent[2], 62);
        EXPECT_EQ(sent[62], u'P');
        EXPECT_EQ(sent[63], 0);
        EXPECT_EQ(row.get(S()), thirty) << row.name;
        host->ClearTrace();
        EXPECT_EQ(row.set(S(), (thirty + u"Q").c_str()), Corvane::INVALID_ARG_1) << row.name;
        EXPECT_TRUE(host->Trace().empty());
        EXPECT_EQ(row.get(S()), thirty);
    }
}

TEST_F(SettingsStringsTest, CodeUnitsPassThroughUnchanged) {
    // Latin-1, CJK, an emoji as a surrogate pair, a lone surrogate and 0xFFFF.
    const std::u16string text = u"\u00e9\u4e2d\U0001F600\xD800\xFFFF";
    for (const StringRow& row : kStrings) {
        host->ClearTrace();
        ASSERT_EQ(row.set(S(), text.c_str()), 0);
        EXPECT_EQ(Sent().back(), Bytes({0xB1, row.subCode, 14, 0x03, 0xE9, 0x00, 0x2D, 0x4E, 0x3D,
                                        0xD8, 0x00, 0xDE, 0x00, 0xD8, 0xFF, 0xFF}));
        EXPECT_EQ(row.get(S()), text) << row.name;
    }
}

TEST_F(SettingsStringsTest, NullTextIsRefusedWithNothingSent) {
    for (const StringRow& row : kStrings) {
        EXPECT_EQ(row.set(S(), nullptr), Corvane::INVALID_ARG_1) << row.name;
    }
    EXPECT_TRUE(host->Trace().empty());
}

TEST_F(SettingsStringsTest, TextIsNullExactlyWhenTheResultIsNotZero) {
    for (const StringRow& row : kStrings) {
        // A refused read gives no text, even when its answer carries some.
        device->EditResponses(0xB0, Put(1, {0x01, 0x06, 0x03, 'O', 0, 'K', 0}));
        EXPECT_EQ(row.get(S()), std::nullopt) << row.name;
        device->EditResponses(0xB0, Put(1, {0x00, 0x06, 0x03, 'O', 0, 'K', 0}));
        EXPECT_EQ(row.get(S()), u"OK") << row.name;
        Mismatch(0xB0);
        EXPECT_EQ(row.get(S()), std::nullopt) << row.name;
        device->DropResponses(0xB0);
        EXPECT_EQ(row.get(S()), std::nullopt) << row.name;
    }
    host->Unplug(device);
    for (const StringRow& row : kStrings) EXPECT_EQ(row.get(S()), std::nullopt) << row.name;
}

TEST_F(SettingsStringsTest, RecordLengthDecidesHowManyUnitsAreTaken) {
    device->EditResponses(0xB0,
                          Put(2, {0x0C, 0x03, 'a', 0, 'b', 0, 'c', 0, 'd', 0, 'e', 0, 'f', 0}));
    EXPECT_EQ(S().GetUsbStringDescriptor(), u"abcde");
    // A length claiming more than the report holds stops at its last byte.
    device->EditResponses(0xB0, [](Report& answer) {
        answer[2] = 0xFF;
        for (std::size_t i = 4; i < 64; i += 2) answer[i] = 'x', answer[i + 1] = 0;
    });
    EXPECT_EQ(S().GetUsbStringManufacturer(), std::u16string(30, u'x'));
}

TEST_F(SettingsStringsTest, SetterResultsPassThrough) {
    for (const StringRow& row : kStrings) {
        Refuse(0xB1, 0x2A);
        EXPECT_EQ(row.set(S(), u"x"), 0x2A) << row.name;
        Mismatch(0xB1);
        EXPECT_EQ(row.set(S(), u"x"), Corvane::RESPONSE_MISMATCH) << row.name;
        device->DropResponses(0xB1);
        EXPECT_EQ(row.set(S(), u"x"), Corvane::REPORT_READ_FAILED) << row.name;
    }
    host->Unplug(device);
    EXPECT_EQ(S().SetSerialNumber(u"x"), Corvane::REPORT_WRITE_FAILED);
}

TEST_F(SettingsStringsTest, FirmwareVersionFromTheStatusAnswer) {
    device->EditResponses(0x10, Put(46, {0x41, 0x36, 0x31, 0x32}));
    EXPECT_EQ(S().GetFirmwareVersion(), "1.2");
    EXPECT_EQ(Sent(), std::vector<Report>{Bytes({0x10})});
    device->SetRevision({'3', '9'}, {'B', '1'});
    EXPECT_EQ(S().GetFirmwareVersion(), "3.9");
    Refuse(0x10);
    EXPECT_EQ(S().GetFirmwareVersion(), std::nullopt);
    Mismatch(0x10);
    EXPECT_EQ(S().GetFirmwareVersion(), std::nullopt);
    host->Unplug(device);
    EXPECT_EQ(S().GetFirmwareVersion(), std::nullopt);
}

}  // namespace
}  // namespace CorvaneTest
