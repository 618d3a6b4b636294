// SPDX-License-Identifier: MIT
// GP pin configuration and direction through VrelUsbI2c::Settings, in the
// run-time settings, the flash GP record and both.
#include <array>
#include <stdexcept>
#include <vector>

#include "common/SettingsTest.hpp"

namespace CorvaneTest {
namespace {

using Corvane::DllConstants;
using Pins = std::array<std::uint8_t, 4>;

constexpr auto CURRENT = DllConstants::CURRENT_SETTINGS_ONLY;
constexpr auto PWRUP = DllConstants::PWRUP_DEFAULTS_ONLY;
constexpr auto BOTH = DllConstants::BOTH;

class SettingsGpPinTest : public SettingsTest {
  protected:
    std::int32_t SetConfig(std::int32_t which, Pins d, Pins r, Pins v) {
        return S().SetGpPinConfiguration(which, d, r, v);
    }
    std::int32_t GetConfig(std::int32_t which, Pins& d, Pins& r, Pins& v) {
        return S().GetGpPinConfiguration(which, d, r, v);
    }
};

// ---- whole configuration -------------------------------------------------------

TEST_F(SettingsGpPinTest, ArgumentsAreCheckedPinByPinBeforeAnythingIsSent) {
    struct Row {
        std::int32_t which;
        Pins d, r, v;
        std::int32_t expected;
    };
    const Row rows[] = {
        {3, {0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}, -201},
        {-1, {0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}, -201},
        {BOTH, {0, 0, 5, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}, -202},
        {BOTH, {0, 7, 0, 0}, {0, 0, 0, 0}, {2, 0, 0, 0}, -204},  // GP0 is examined first
        {CURRENT, {0, 0, 0, 0}, {0, 0, 0, 2}, {0, 0, 0, 0}, -203},
        {PWRUP, {4, 4, 4, 4}, {1, 1, 1, 1}, {1, 1, 1, 9}, -204},
        {5, {9, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}, -201},  // the selector comes first
    };
    for (const Row& row : rows) {
        EXPECT_EQ(SetConfig(row.which, row.d, row.r, row.v), row.expected);
    }
    EXPECT_TRUE(host->Trace().empty());
}

TEST_F(SettingsGpPinTest, CurrentSettingsOnlySendsOneRunTimeChange) {
    ASSERT_EQ(SetConfig(CURRENT, {0, 0, 0, 0}, {1, 1, 1, 1}, {0, 0, 0, 0}), 0);
    EXPECT_EQ(Sent(), std::vector<Report>{Bytes({0x60, 0, 0, 0, 0, 0, 0, 0x80, 8, 8, 8, 8})});
    ASSERT_EQ(SetConfig(CURRENT, {0, 1, 2, 3}, {1, 0, 1, 0}, {0, 1, 1, 0}), 0);
    EXPECT_EQ(Sent().back(), Bytes({0x60, 0, 0, 0, 0, 0, 0, 0x80, 0x08, 0x11, 0x1A, 0x03}));
    Pins d{}, r{}, v{};
    ASSERT_EQ(GetConfig(CURRENT, d, r, v), 0);
    EXPECT_EQ(d, (Pins{0, 1, 2, 3}));
    EXPECT_EQ(r, (Pins{1, 0, 1, 0}));
    EXPECT_EQ(v, (Pins{0, 1, 1, 0}));
    EXPECT_EQ(device->Flash().gpSettings, (Pins{8, 8, 8, 8}));
}

TEST_F(SettingsGpPinTest, PowerUpDefaultsOnlyWritesTheFlashRecord) {
    ASSERT_EQ(SetConfig(PWRUP, {0, 1, 2, 3}, {1, 0, 1, 0}, {0, 1, 1, 0}), 0);
    EXPECT_EQ(Sent(), std::vector<Report>{Bytes({0xB1, 0x01, 0x08, 0x11, 0x1A, 0x03})});
    EXPECT_EQ(device->Flash().gpSettings, (Pins{0x08, 0x11, 0x1A, 0x03}));
    Pins d{}, r{}, v{};
    ASSERT_EQ(GetConfig(PWRUP, d, r, v), 0);
    EXPECT_EQ(d, (Pins{0, 1, 2, 3}));
    EXPECT_EQ(r, (Pins{1, 0, 1, 0}));
    EXPECT_EQ(v, (Pins{0, 1, 1, 0}));
    ASSERT_EQ(GetConfig(CURRENT, d, r, v), 0);  // the run-time copy is untouched
    EXPECT_EQ(d, (Pins{0, 0, 0, 0}));
    EXPECT_EQ(r, (Pins{1, 1, 1, 1}));
}

TEST_F(SettingsGpPinTest, BothChangesRunTimeFirstAndStopsWhenThatFails) {
    ASSERT_EQ(SetConfig(BOTH, {4, 3, 2, 0}, {0, 0, 0, 1}, {1, 0, 0, 0}), 0);
    EXPECT_EQ(Codes(), (std::vector<int>{0x60, 0xB1}));
    EXPECT_EQ(device->Flash().gpSettings, (Pins{0x14, 0x03, 0x02, 0x08}));

    const std::function<void()> faults[] = {[&] { Refuse(0x60, 0x02); }, [&] { Mismatch(0x60); },
                                            [&] { device->DropResponses(0x60); }};
    const std::int32_t results[] = {2, -6, -5};
    for (std::size_t f = 0; f < std::size(faults); ++f) {
        host->ClearTrace();
        faults[f]();
        EXPECT_EQ(SetConfig(BOTH, {0, 0, 0, 0}, {1, 1, 1, 1}, {0, 0, 0, 0}), results[f]);
        EXPECT_EQ(Codes(), std::vector<int>{0x60});
        EXPECT_EQ(device->Flash().gpSettings, (Pins{0x14, 0x03, 0x02, 0x08}));
    }
    Refuse(0xB1, 0x04);
    EXPECT_EQ(SetConfig(BOTH, {0, 0, 0, 0}, {1, 1, 1, 1}, {0, 0, 0, 0}), 4);
}

TEST_F(SettingsGpPinTest, GetRefusesBothAndPassesFailuresThrough) {
    Pins d{}, r{}, v{};
    EXPECT_EQ(GetConfig(BOTH, d, r, v), -201);
    EXPECT_EQ(GetConfig(7, d, r, v), -201);
    EXPECT_TRUE(host->Trace().empty());
    Refuse(0x61, 0x03);
    EXPECT_EQ(GetConfig(CURRENT, d, r, v), 3);
    Refuse(0xB0, 0x03);
    EXPECT_EQ(GetConfig(PWRUP, d, r, v), 3);
    Mismatch(0xB0);
    EXPECT_EQ(GetConfig(PWRUP, d, r, v), -6);
}

TEST_F(SettingsGpPinTest, GetTakesTheRecordFromAnswerBytesFourToSeven) {
    device->EditResponses(0xB0, Put(2, {0xFF, 0xFF, 0xE9, 0x12, 0x1C, 0x00}));
    Pins d{}, r{}, v{};
    ASSERT_EQ(GetConfig(PWRUP, d, r, v), 0);
    EXPECT_EQ(Sent(), std::vector<Report>{Bytes({0xB0, 0x01})});
    EXPECT_EQ(d, (Pins{1, 2, 4, 0}));
    EXPECT_EQ(r, (Pins{1, 0, 1, 0}));
    EXPECT_EQ(v, (Pins{0, 1, 1, 0}));
}

TEST_F(SettingsGpPinTest, FailedGetLeavesTheCallersArraysAlone) {
    Pins d, r, v;
    d.fill(0xAA), r.fill(0xBB), v.fill(0xCC);
    device->DropResponses(0x61);
    EXPECT_EQ(GetConfig(CURRENT, d, r, v), -5);
    Refuse(0xB0);
    EXPECT_EQ(GetConfig(PWRUP, d, r, v), 1);
    EXPECT_EQ(d, (Pins{0xAA, 0xAA, 0xAA, 0xAA}));
    EXPECT_EQ(r, (Pins{0xBB, 0xBB, 0xBB, 0xBB}));
    EXPECT_EQ(v, (Pins{0xCC, 0xCC, 0xCC, 0xCC}));
}

TEST_F(SettingsGpPinTest, ArraysLongerThanFourUseTheFirstFour) {
    const std::vector<std::uint8_t> d = {0, 0, 0, 0, 9}, r = {0, 1, 0, 1, 9}, v = {1, 1, 0, 0, 9};
    ASSERT_EQ(S().SetGpPinConfiguration(PWRUP, d, r, v), 0);
    EXPECT_EQ(device->Flash().gpSettings, (Pins{0x10, 0x18, 0x00, 0x08}));
    std::vector<std::uint8_t> outD(6, 7), outR(6, 7), outV(6, 7);
    ASSERT_EQ(S().GetGpPinConfiguration(PWRUP, outD, outR, outV), 0);
    EXPECT_EQ(outR, (std::vector<std::uint8_t>{0, 1, 0, 1, 7, 7}));
}

TEST_F(SettingsGpPinTest, ShortOrNullArraysRaiseBeforeSendingOnSet) {
    const std::vector<std::uint8_t> four = {0, 0, 0, 0}, three = {0, 0, 0};
    EXPECT_THROW(S().SetGpPinConfiguration(CURRENT, four, four, three), std::out_of_range);
    EXPECT_THROW(S().SetGpPinConfiguration(CURRENT, three, four, four), std::out_of_range);
    EXPECT_THROW(S().SetGpPinConfiguration(CURRENT, {}, four, four), std::invalid_argument);
    // Even an invalid selector: the arrays fail first, as the host copies them.
    EXPECT_THROW(S().SetGpPinConfiguration(9, four, three, four), std::out_of_range);
    EXPECT_TRUE(host->Trace().empty());
}

TEST_F(SettingsGpPinTest, ShortOrNullArraysRaiseOnGetOnlyAfterSuccess) {
    std::vector<std::uint8_t> four(4, 0xAA), three(3, 0xAA);
    EXPECT_THROW(S().GetGpPinConfiguration(CURRENT, four, four, three), std::out_of_range);
    EXPECT_EQ(Codes(), std::vector<int>{0x61});
    EXPECT_EQ(four, std::vector<std::uint8_t>(4, 0xAA));  // nothing half-copied
    EXPECT_THROW(S().GetGpPinConfiguration(PWRUP, {}, four, four), std::invalid_argument);
    // A failed exchange returns its result; the arrays are never looked at.
    device->DropResponses(0x61);
    EXPECT_EQ(S().GetGpPinConfiguration(CURRENT, three, {}, three), -5);
    EXPECT_EQ(S().GetGpPinConfiguration(BOTH, three, three, three), -201);
}

// ---- single pin direction ------------------------------------------------------

TEST_F(SettingsGpPinTest, GetDirectionChecksBeforeAnyExchange) {
    EXPECT_EQ(S().GetGpPinDirection(CURRENT, 4), -202);
    EXPECT_EQ(S().GetGpPinDirection(PWRUP, 255), -202);
    EXPECT_EQ(S().GetGpPinDirection(3, 0), -201);
    EXPECT_EQ(S().GetGpPinDirection(-1, 0), -201);
    EXPECT_EQ(S().GetGpPinDirection(BOTH, 0), -201);  // one result cannot stand for two copies
    EXPECT_TRUE(host->Trace().empty());
}

TEST_F(SettingsGpPinTest, GetDirectionOfTheLivePins) {
    ASSERT_EQ(SetConfig(CURRENT, {0, 0, 1, 0}, {1, 0, 1, 0}, {0, 0, 0, 0}), 0);
    host->ClearTrace();
    EXPECT_EQ(S().GetGpPinDirection(CURRENT, 0), 1);
    EXPECT_EQ(S().GetGpPinDirection(CURRENT, 1), 0);
    EXPECT_EQ(S().GetGpPinDirection(CURRENT, 2), Corvane::PIN_NOT_GPIO);
    EXPECT_EQ(Sent(), std::vector<Report>(3, Bytes({0x51})));
    Refuse(0x51, 0x08);
    EXPECT_EQ(S().GetGpPinDirection(CURRENT, 0), 8);
}

TEST_F(SettingsGpPinTest, GetDirectionOfThePowerUpRecord) {
    SetGpRecord({0x08, 0x10, 0x0A, 0x1B});  // directions 1, 0, 1, 1 whatever the designation
    for (std::uint8_t pin = 0; pin < 4; ++pin) {
        host->ClearTrace();
        EXPECT_EQ(S().GetGpPinDirection(PWRUP, pin), pin == 1 ? 0 : 1) << int{pin};
        EXPECT_EQ(Sent(), std::vector<Report>{Bytes({0xB0, 0x01})});
    }
    Refuse(0xB0, 0x06);
    EXPECT_EQ(S().GetGpPinDirection(PWRUP, 0), 6);
    device->DropResponses(0xB0);
    EXPECT_EQ(S().GetGpPinDirection(PWRUP, 0), -5);
}

TEST_F(SettingsGpPinTest, SetDirectionChecksBeforeAnyExchange) {
    EXPECT_EQ(S().SetGpPinDirection(3, 0, 0), -201);
    EXPECT_EQ(S().SetGpPinDirection(CURRENT, 4, 0), -202);
    EXPECT_EQ(S().SetGpPinDirection(BOTH, 0, 2), -203);
    EXPECT_TRUE(host->Trace().empty());
}

TEST_F(SettingsGpPinTest, SetDirectionOfALivePin) {
    ASSERT_EQ(S().SetGpPinDirection(CURRENT, 1, 1), 0);
    EXPECT_EQ(Sent(), std::vector<Report>{Bytes({0x50, 0, 0, 0, 0, 0, 0, 0, 1, 1})});
    ASSERT_EQ(S().SetGpPinDirection(CURRENT, 3, 0), 0);
    EXPECT_EQ(Sent().back(), Bytes({0x50, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0}));
    EXPECT_EQ(S().GetGpPinDirection(CURRENT, 3), 0);
    EXPECT_EQ(device->Flash().gpSettings, (Pins{8, 8, 8, 8}));
}

TEST_F(SettingsGpPinTest, SetDirectionOfThePowerUpRecordKeepsEverythingElse) {
    const Pins record = {0x1C, 0x09, 0x13, 0x02};
    struct Row {
        std::uint8_t pin, direction;
        Pins expected;
    };
    const Row rows[] = {{0, 0, {0x14, 0x09, 0x13, 0x02}},
                        {1, 0, {0x1C, 0x01, 0x13, 0x02}},
                        {2, 1, {0x1C, 0x09, 0x1B, 0x02}},
                        {3, 1, {0x1C, 0x09, 0x13, 0x0A}},
                        {3, 0, record}};  // already so: written back unchanged
    for (const Row& row : rows) {
        SetGpRecord(record);
        host->ClearTrace();
        ASSERT_EQ(S().SetGpPinDirection(PWRUP, row.pin, row.direction), 0);
        Report write = Bytes({0xB1, 0x01});
        std::copy(row.expected.begin(), row.expected.end(), write.begin() + 2);
        EXPECT_EQ(Sent(), (std::vector<Report>{Bytes({0xB0, 0x01}), write}));
        EXPECT_EQ(device->Flash().gpSettings, row.expected);
    }
    // A failed read writes nothing.
    SetGpRecord(record);
    host->ClearTrace();
    Refuse(0xB0, 0x02);
    EXPECT_EQ(S().SetGpPinDirection(PWRUP, 0, 0), 2);
    EXPECT_EQ(Codes(), std::vector<int>{0xB0});
    EXPECT_EQ(device->Flash().gpSettings, record);
}

TEST_F(SettingsGpPinTest, SetDirectionOfBothChangesTheLivePinFirst) {
    ASSERT_EQ(S().SetGpPinDirection(BOTH, 2, 0), 0);
    EXPECT_EQ(Codes(), (std::vector<int>{0x50, 0xB0, 0xB1}));
    EXPECT_EQ(S().GetGpPinDirection(CURRENT, 2), 0);
    EXPECT_EQ(S().GetGpPinDirection(PWRUP, 2), 0);
    EXPECT_EQ(device->Flash().gpSettings, (Pins{8, 8, 0, 8}));

    host->ClearTrace();
    Refuse(0x50, 0x01);
    EXPECT_EQ(S().SetGpPinDirection(BOTH, 2, 1), 1);
    EXPECT_EQ(Codes(), std::vector<int>{0x50});
    EXPECT_EQ(device->Flash().gpSettings, (Pins{8, 8, 0, 8}));
}

}  // namespace
}  // namespace CorvaneTest
